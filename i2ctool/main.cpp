// coupler-i2c: an I2C master on the coupler's lines as a console program.
// Scans the bus, reads and writes registers, dumps chips, reads and programs
// EEPROMs. Leaves the bus idle (DTR and RTS on) and the port closed, also
// when a line call fails or a stop comes from outside (Ctrl+C, a signal).
#include <stdio.h>

#include "console/json.h"
#include "console/output.h"
#include "console/port.h"
#include "console/stop.h"
#include "i2c/bits.h"
#include "i2ctool/commands.h"
#include "i2ctool/options.h"

namespace {

// The job's line engine: main's, for the process; a stop from outside stops it.
Lines lines;

// The command's name, for the JSON object.
const char* CommandName(I2cCommand command)
{
    static const char* const NAMES[] = {nullptr,        "scan",         "get",           "set", "dump",
                                        "eeprom read", "eeprom write", "eeprom verify", "int", "xfer"};
    return NAMES[command];
}

// The job on the port: opened, the master begun, the command run, all
// released; the exit code.
int RunOnPort(const I2cOptions& options, Json* out)
{
    char text[300];
    // The master owns both lines: no handshake.
    PortError error;
    ConsolePort* port = PortOpen(options.port, 9600, 0, &error);
    if (!port) {
        // Where the platform does not tell the cause for sure, none is guessed.
        Say(SAY_ERROR, "coupler-i2c: %s %s", options.port.c_str(),
            error.certain ? error.words.c_str() : "lässt sich nicht öffnen");
        JobJsonAdapter(out, nullptr, -1);
        return 2;
    }
    // The open succeeds even when the port refused part of its settings; a
    // handshake left on would keep SCL from following RTS without a word.
    int32_t mismatch = PortMismatch(port);
    if (mismatch != 0) {
        if (mismatch > 0)
            RefusedSettings(mismatch, text, sizeof text);
        Say(SAY_ERROR, "coupler-i2c: %s: %s", options.port.c_str(), mismatch > 0 ? text : "Schnittstelle verloren");
        JobJsonAdapter(out, nullptr, -1);
        PortClose(&port);
        return 2;
    }
    StopStart(&lines);
    Job job;
    LinesOpen(&lines, JobStart(&job, options.job, port, "coupler-i2c"));
    I2cMaster master;
    I2cStatus status = BitsBegin(&master, &lines);
    // The adapter as the echo measurement saw it, also when it was too slow.
    bool measured = status == I2C_OK || status == I2C_ADAPTER_TOO_SLOW;
    if (measured)
        JobAdapter(options.job, port, &lines, lines.longestEchoMs);
    if (master.freed && status == I2C_OK)
        Say(SAY_NOTE, "SDA lag auf Masse: Bus mit Takten und STOP freigemacht");
    int code = status == I2C_OK ? RunOnBus(&master, options, out) : Fail(&master, status, options);
    JobJsonAdapter(out, &lines, measured ? lines.longestEchoMs : -1);
    BitsEnd(&master);
    if (!JobEnd(&job, options.job, "coupler-i2c") && code == 0)
        code = 2;
    PortClose(&port);
    StopEnd();
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    I2cOptions options;
    char text[300];
    bool parsed = ParseI2cOptions(argc, argv, &options, text, sizeof text);
    bool json = parsed ? options.job.json : JobJsonAsked(argc, argv);
    OutputStart(parsed && options.quiet, json);
    Json out;
    JobJsonBegin(&out, "coupler-i2c", parsed ? CommandName(options.command) : nullptr, options.port);
    int code = -1;
    if (!parsed || options.help)
        code = JobUsageShown(&out, json, "coupler-i2c", parsed ? nullptr : text, I2cUsage());
    if (code < 0)
        code = RunOffline(options);
    std::string why;
    if (code < 0 && !JobTraceWritable(options.job, &why)) {
        Say(SAY_ERROR, "coupler-i2c: %s", why.c_str());
        code = 2;
    }
    if (code < 0)
        code = RunOnPort(options, &out);
    else
        JobJsonAdapter(&out, nullptr, -1);
    if (json)
        JobJsonEnd(&out, code);
    return code;
}
