#include "check/lines.h"

#include <windows.h>

#include "serial/serial.h"

namespace {

// The port the check runs on, set by LinesUse; owned and closed by main.
int32_t linePort = -1;
// A line call failed on linePort; set by the failing call, kept until LinesUse.
bool lost = false;
// A stop was requested; set by the console control handler's thread, read by
// the check's thread, kept for the process.
volatile LONG stopRequested = 0;

bool Usable() { return !lost && !LinesStopRequested(); }

}  // namespace

void LinesUse(int32_t port)
{
    linePort = port;
    lost = false;
}

bool Switch(Output line, int on)
{
    if (Usable() && !(line == SDA_OUT ? SerialSetDtr : SerialSetRts)(linePort, on))
        lost = true;
    return Usable();
}

int Sample(Input line)
{
    int32_t status = Usable() ? SerialModemStatus(linePort) : -1;
    if (status < 0) {
        lost = lost || !LinesStopRequested();
        return -1;
    }
    return (status & line) ? 1 : 0;
}

double WaitLevel(Input line, int want, double limit)
{
    double start = Milliseconds();
    for (;;) {
        // The counter can step back a little when the thread moves to
        // another processor (Wine reads the processor's own counter).
        double taken = Milliseconds() - start;
        taken = taken < 0 ? 0 : taken;
        int level = Sample(line);
        if (level < 0)
            return -2;
        if (level == want)
            return taken;
        if (taken >= limit)
            return -1;
    }
}

bool LinesLost() { return lost; }

void LinesRequestStop() { InterlockedExchange(&stopRequested, 1); }
bool LinesStopRequested() { return InterlockedCompareExchange(&stopRequested, 0, 0) != 0; }

double Milliseconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}
