// Files the console programs write whole (coupler-i2c's EEPROM images and
// backups): console/files_win.cpp, console/files_posix.cpp.
#pragma once

enum FileSaved { FILE_SAVED, FILE_EXISTS, FILE_NOT_SAVED };

// Whether anything (a file, a folder, a device) has this name.
bool FileExists(const char* path);
// Writes size bytes as the file's whole content. fresh: the file is created
// new, in one step with the test that none is there, and never replaces one
// (FILE_EXISTS); a fresh file not written whole is removed again.
FileSaved FileSave(const char* path, const void* data, int size, bool fresh);
