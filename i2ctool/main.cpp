// coupler-i2c: an I2C master on the coupler's lines as a console program.
// Scans the bus, reads and writes registers, dumps chips, reads and programs
// EEPROMs. Leaves the bus idle (DTR and RTS on) and the port closed, also
// when a line call fails or a stop comes from outside (Ctrl+C, a signal).
#include <stdio.h>
#include <string.h>

#include "console/json.h"
#include "console/output.h"
#include "i2ctool/job.h"
#include "i2ctool/options.h"

namespace {

// The command's name, for the JSON object.
const char* CommandName(I2cCommand command)
{
    static const char* const NAMES[] = {nullptr,        "scan",         "get",           "set", "dump",
                                        "eeprom read", "eeprom write", "eeprom verify", "int", "xfer"};
    return NAMES[command];
}

// The command as the arguments name it, also where they are refused: the
// first word that names one (nullptr: none).
I2cCommand CommandRead(int argc, char** argv)
{
    static const char* const WORDS[] = {"scan", "get", "set", "dump", "eeprom", "int", "xfer"};
    static const I2cCommand COMMANDS[] = {COMMAND_SCAN, COMMAND_GET, COMMAND_SET, COMMAND_DUMP,
                                          COMMAND_EEPROM_READ, COMMAND_INT, COMMAND_XFER};
    for (int i = 1; i < argc; i++)
        for (int w = 0; w < 7; w++) {
            if (strcmp(argv[i], WORDS[w]) != 0)
                continue;
            const char* second = i + 1 < argc ? argv[i + 1] : "";
            return w != 4 || !strcmp(second, "read") ? COMMANDS[w]
                   : !strcmp(second, "write")        ? COMMAND_EEPROM_WRITE
                   : !strcmp(second, "verify")       ? COMMAND_EEPROM_VERIFY
                                                     : COMMAND_NONE;
        }
    return COMMAND_NONE;
}

}  // namespace

int main(int argc, char** argv)
{
    // The job: made here, handed to every step, released at the end.
    I2cJob job;
    I2cOptions& options = job.options;
    char text[300];
    bool parsed = ParseI2cOptions(argc, argv, &options, text, sizeof text);
    bool json = parsed ? options.job.json : JobJsonAsked(argc, argv);
    OutputStart(parsed && options.quiet, json);
    Json out;
    I2cCommand command = parsed ? options.command : CommandRead(argc, argv);
    JobJsonBegin(&out, "coupler-i2c", CommandName(command), options.port);
    int code = -1;
    if (!parsed || options.help)
        code = JobUsageShown(&out, json, "coupler-i2c", parsed ? nullptr : text, I2cUsage());
    if (code < 0)
        code = RunOffline(&job);
    std::string why;
    if (code < 0 && !JobTraceWritable(options.job, &why)) {
        Say(SAY_ERROR, "coupler-i2c: %s", why.c_str());
        code = 2;
    }
    if (code < 0)
        code = RunOnPort(&job, &out);
    else
        JsonNotRun(&out, command, parsed ? &options : nullptr), JobJsonAdapter(&out, nullptr, -1);
    if (json)
        JobJsonEnd(&out, code);
    return code;
}
