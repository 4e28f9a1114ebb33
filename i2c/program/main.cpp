// coupler-i2c: an I2C master on the coupler's lines as a console program.
// Scans the bus, reads and writes registers, dumps chips, reads and programs
// EEPROMs. Leaves the bus idle (DTR and RTS on) and the port closed, also
// when a line call fails or Ctrl+C stops it.
#include <windows.h>
#include <stdio.h>

#include "check/output.h"
#include "i2c/bits.h"
#include "i2c/lines.h"
#include "i2c/program/commands.h"
#include "i2c/program/options.h"
#include "serial/serial.h"

namespace {

// Ctrl+C and Ctrl+Break come on a thread of their own: the job ends at its
// next line request and the main thread leaves the bus idle.
BOOL WINAPI OnBreak(DWORD kind)
{
    if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT)
        return FALSE;
    LinesStop();
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
    SetConsoleCtrlHandler(OnBreak, TRUE);
    I2cStatus status = BitsBegin(port);
    if (BitsFreed() && status == I2C_OK)
        Say(SAY_NORMAL, "SDA lag auf Masse: Bus mit Takten und STOP freigemacht");
    code = status == I2C_OK ? RunOnBus(options) : Fail(status, options);
    BitsEnd();
    SerialClose(port);
    SetConsoleCtrlHandler(OnBreak, FALSE);
    return code;
}
