// coupler-i2c's command line.
#pragma once

#include "console/job.h"
#include "i2c/eeprom.h"
#include "i2ctool/xfer.h"

#include <string>
#include <vector>

enum I2cCommand {
    COMMAND_NONE,
    COMMAND_SCAN,
    COMMAND_GET,
    COMMAND_SET,
    COMMAND_DUMP,
    COMMAND_EEPROM_READ,
    COMMAND_EEPROM_WRITE,
    COMMAND_EEPROM_VERIFY,
    COMMAND_INT,
    COMMAND_XFER
};

struct I2cOptions {
    std::string port;  // as written in texts: COM3, /dev/ttyUSB0; empty when none was given
    I2cCommand command = COMMAND_NONE;
    int first = 0x08, last = 0x77;  // scan range
    int address = 0x50;             // the chip (the EEPROM's by default)
    int reg = -1;                   // register; -1 for none
    int value = 0;                  // what set writes
    bool word = false;              // two bytes, the first the high one
    bool reg16 = false;             // registers of two bytes, the high one first (a 24C32 and larger)
    const char* file = nullptr;     // eeprom read / write / verify; "-": standard output / input
    bool hex = false;               // file is Intel HEX: by --format, else by its name (*.hex)
    const char* backup = nullptr;   // eeprom write's backup; nullptr: a name with the time
    const EepromType* type = &EEPROM_TYPES[1];  // the EEPROM (a 24C02 by default)
    int offset = 0;                 // eeprom commands: first byte
    int count = -1;                 // eeprom read: bytes; -1: to the chip's end
    int page = 0;                   // eeprom write: page size; 0: the type's
    bool write = false;             // writes are made only with --write
    bool quiet = false;
    bool help = false;
    JobOptions job;  // --trace, --verbose, --low-latency
    std::vector<XferMessage> messages;  // xfer's list
};

// Fills options from the arguments; false with a one-line reason in error.
bool ParseI2cOptions(int argc, char** argv, I2cOptions* options, char* error, int size);

// The command's name as the JSON object gives it ("eeprom read"); nullptr for none.
const char* I2cCommandName(I2cCommand command);
// The command the arguments name, also where they are refused: the first word
// that begins a command's name decides (COMMAND_NONE: none, or an eeprom
// without read, write or verify).
I2cCommand I2cCommandRead(int argc, char** argv);

// The usage text, one line per entry.
std::vector<std::string> I2cUsage();
