// One run of coupler-i2c: what it was asked, the line engine and master it
// makes on the port, the file it loaded, its progress. main makes the job and
// hands it to every step; the commands, a file each, return their exit code
// and add their results to the open JSON object.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "console/files.h"
#include "console/json.h"
#include "i2c/bits.h"
#include "i2c/chips.h"
#include "i2ctool/options.h"

enum ExitCode { EXIT_DONE = 0, EXIT_REFUSED = 1, EXIT_CANNOT_RUN = 2 };

// The file of eeprom write and verify: its bytes at their offsets in the
// chip, which of them it gives, and the range from the first given to past
// the last.
struct I2cImage {
    std::vector<uint8_t> data;
    std::vector<bool> given;
    int first = 0, end = 0;
};

// eeprom write's backup file, named before the port opens (the given name,
// or a new one with the time) and taken by the write; with the default, its
// time and the number of names tried after the first.
struct I2cBackup {
    std::string name, stamp;
    int tried = 0;
};

// Progress of the running command's phase: its name, how far, of how many
// steps, the bytes the master told of in it (for what a stopped read keeps),
// its estimate and the estimate of the phases after it (for the time left).
// plain: standard error is no terminal, so progress goes there as lines of
// their own, at most every 5 % or 10 s, and only in a job that was announced.
struct I2cProgress {
    const char* what = "";
    int done = 0, total = 0, moved = 0;
    double ms = 0, laterMs = 0;
    int said = -100;           // the percent said last
    uint32_t saidTicks = 0;    // when a plain line was said last
    bool plain = false;
};

struct I2cJob {
    I2cOptions options;
    Lines lines{};       // the engine on the port; a stop from outside stops it
    I2cMaster master{};  // on lines, begun once the port is open
    I2cImage image;      // eeprom write and verify
    I2cBackup backup;    // eeprom write
    I2cProgress progress;
};

// The part of a command that needs no port: loading the file to write or
// compare, checking the files the job writes, and without --write saying
// what would be written. The exit code, or -1 when the command goes on to
// the bus.
int RunOffline(I2cJob* job);
// The job on the port: opened, the engine and master begun, the command run,
// all released; the exit code.
int RunOnPort(I2cJob* job, Json* out);

// The commands on the begun master; the exit code, or -1 when a line call
// failed outside a transfer.
int ScanCommand(I2cJob* job, Json* out);
int GetSetCommand(I2cJob* job, Json* out);
int DumpCommand(I2cJob* job, Json* out);
int EepromReadCommand(I2cJob* job, Json* out);
int EepromWriteCommand(I2cJob* job, Json* out);
int EepromVerifyCommand(I2cJob* job, Json* out);
int IntCommand(I2cJob* job, Json* out);
int XferCommand(I2cJob* job, Json* out);

// get's and set's members: the chip, register, width and value (value < 0:
// not known, null); options nullptr where the arguments were refused.
void JsonGetSet(Json* out, const I2cOptions* options, int value);
// A command's members, null where not known, for a run that ended before
// its command ran (refused, offline, the port not begun): the object keeps
// its shape. options nullptr where the arguments were refused.
void JsonNotRun(Json* out, I2cCommand command, const I2cOptions* options);

// What the commands share (shared.cpp).

// The one line for a status that ends the command; its exit code. address:
// the chip a refusal names.
// after: words added to the line ("; noch nichts geschrieben").
int Fail(const I2cJob* job, I2cStatus status, int address, const char* after = "");
// A write that began and did not end, in one line, also when quiet: why, how
// far the file stands on the chip from its start (written bytes), the pages
// written of those to write, and which file holds the old content to write back.
int FailWriting(const I2cJob* job, I2cStatus status, int written, int pages, int toWrite, const char* backup,
                Json* out);
// Says the estimate when the job (work, then later) takes long, and counts
// the progress of its first phase, what, in total steps (bytes moved, when
// perByte).
void Plan(I2cJob* job, const char* what, int total, const I2cWork& work, bool perByte, const I2cWork& later = {});
// The next phase of a job: what, counted anew in total steps; work and later
// give the time left.
void Phase(I2cJob* job, const char* what, int total, const I2cWork& work, const I2cWork& later = {});
// One step more of the progress, said on its line.
void ProgressStep(I2cProgress* progress);
I2cWork Sum(I2cWork a, const I2cWork& b);
void JsonBytes(Json* out, const char* key, const uint8_t* data, int count);
// The EEPROM a command works on, for the JSON object.
void JsonEeprom(Json* out, const I2cOptions& options, int offset, int count);

// An image file named *.hex is Intel HEX, any other raw bytes.
bool IsHex(const char* path);
// The default backup's name: the chip and the time, and from the second try
// on a number, so that two runs in one second each get their own.
std::string DefaultBackup(int address, const char* stamp, int tried);
void SayBackupExists(const char* path);
// "Byte" for one, else "Bytes": a count's noun.
const char* Bytes(int count);
// Writes a new file whole (an EEPROM image or a backup; hex: as Intel HEX),
// never over one that exists, or "-" to standard output; FILE_EXISTS unsaid,
// for the default backup to take the next name.
FileSaved SaveFile(const char* path, bool hex, const uint8_t* data, int32_t size, int32_t offset);

// How the chip's bytes from..to differ from what the image gives there (and,
// for a write, from the old content): a compare's figures.
struct Compare {
    int differ = 0, first = -1;  // bytes unlike the file's, the first of them
    bool changed = false;        // any byte unlike the old content
    bool outside = false;        // a byte changed that the file does not give
};
Compare Compared(const I2cImage& image, const uint8_t* chip, const uint8_t* old, int from, int to);
void JsonCompare(Json* out, const Compare& c, int from, int to);
