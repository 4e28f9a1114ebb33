// coupler-i2c: an I2C master on the coupler's lines as a console program.
// Scans the bus, reads and writes registers, dumps chips, reads and programs
// EEPROMs. Leaves the bus idle (DTR and RTS on) and the port closed, also
// when a line call fails or Ctrl+C stops it.
#include <windows.h>
#include <stdio.h>

#include "console/output.h"
#include "i2c/bits.h"
#include "i2ctool/commands.h"
#include "i2ctool/options.h"
#include "line/serial_lines.h"
#include "serial/serial.h"

namespace {

// Set by main once the bus is left idle and the port closed; made at the
// start, kept for the process.
HANDLE jobOver = nullptr;
// The job's line engine: main's, for the process; the break handler stops it.
Lines lines;

// Ctrl+C, Ctrl+Break and a closed console come on a thread of their own: the
// job ends at its next line request and the main thread leaves the bus idle.
// The handler waits for that, since the process ends when it returns from a
// closed console.
BOOL WINAPI OnBreak(DWORD)
{
    LinesStop(&lines);
    WaitForSingleObject(jobOver, 4000);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv)
{
    I2cOptions options;
    char text[300];
    bool parsed = ParseI2cOptions(argc, argv, &options, text, sizeof text);
    OutputStart(parsed && options.quiet);
    if (!parsed || options.help) {
        if (!parsed)
            Say(SAY_ERROR, "coupler-i2c: %s", text);
        for (int i = 0; I2C_USAGE[i]; i++)
            Say(parsed ? SAY_ALWAYS : SAY_ERROR, "%s", I2C_USAGE[i]);
        return parsed ? 0 : 2;
    }
    int code = RunOffline(options);
    if (code >= 0)
        return code;
    // The master owns both lines: no handshake.
    snprintf(text, sizeof text, "com%d:9600,n,8,1", options.port);
    int32_t port = SerialOpen(text, 0, 0, 0);
    if (port < 0) {
        Say(SAY_ERROR, "coupler-i2c: COM%d lässt sich nicht öffnen", options.port);
        return 2;
    }
    // The open succeeds even when the port refused part of its settings; a
    // handshake left on would keep SCL from following RTS without a word.
    int32_t mismatch = SerialSettingsMismatch(port, text, 0);
    if (mismatch != 0) {
        if (mismatch > 0)
            RefusedSettings(mismatch, text, sizeof text);
        Say(SAY_ERROR, "coupler-i2c: COM%d: %s", options.port, mismatch > 0 ? text : "Schnittstelle verloren");
        SerialClose(port);
        return 2;
    }
    jobOver = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnBreak, TRUE);
    SerialLines serial;
    LinesOpen(&lines, SerialLinesOpen(&serial, port));
    I2cMaster master;
    I2cStatus status = BitsBegin(&master, &lines);
    if (master.freed && status == I2C_OK)
        Say(SAY_NOTE, "SDA lag auf Masse: Bus mit Takten und STOP freigemacht");
    code = status == I2C_OK ? RunOnBus(&master, options) : Fail(&master, status, options);
    BitsEnd(&master);
    SerialLinesClose(&serial);
    SerialClose(port);
    SetEvent(jobOver);
    return code;
}
