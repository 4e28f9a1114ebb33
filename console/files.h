// Files the console programs write whole (coupler-i2c's EEPROM images and
// backups, both programs' traces): console/files_win.cpp,
// console/files_posix.cpp. Each is named once and checked before the port
// opens; its bytes go to a temporary file in the same folder that is then
// renamed into place, so that a failed job leaves every file as it was.
#pragma once

#include <stddef.h>

#include <string>

enum FileSaved { FILE_SAVED, FILE_EXISTS, FILE_NOT_SAVED };

// Whether anything (a file, a folder, a device) has this name.
bool FileExists(const char* path);
// Before the port: whether the job can write path as FileSave will. Its
// folder exists and takes a new file (one is made and removed again), the
// name is no folder, pipe or device and fits the platform's paths whole;
// fresh: nothing has the name yet. False with the reason in German words.
bool FileWritable(const char* path, bool fresh, std::string* why);
// Whether two names are one file: by device and file number where both
// exist, else by their resolved folders and names.
bool FileSame(const char* a, const char* b);
// Writes size bytes as the file's whole content through a temporary file in
// its folder. fresh: renamed into place only where nothing has the name, in
// one step with that test (FILE_EXISTS otherwise); else an existing file is
// replaced in one step. The temporary file goes again when anything fails;
// no other file is ever removed.
FileSaved FileSave(const char* path, const void* data, size_t size, bool fresh);
// "-" as coupler-i2c's EEPROM file: the image read from standard input or
// written to standard output, bytes as they are (never as text).
// All of standard input into text, ending one byte past limit (so that a
// longer input shows as longer); false when it cannot be read.
bool FileReadInput(std::string* text, size_t limit);
// The bytes on standard output, all of them; false where they did not all go.
bool FileWriteOutput(const void* data, size_t size);
#ifdef _WIN32
// Whether Windows takes the name as a device (nul.csv, COM3, \\.\...).
bool FileDeviceName(const char* path);
#endif
