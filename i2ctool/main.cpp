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
    I2cCommand command = parsed ? options.command : I2cCommandRead(argc, argv);
    JobJsonBegin(&out, "coupler-i2c", I2cCommandName(command), options.port);
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
