#include "line/serial_lines.h"

#include <windows.h>
#include <mmsystem.h>

#include "serial/serial.h"

namespace {

// A wait longer than this sleeps its bulk; the rest is spent on the
// performance counter, since even a 1 ms timer overshoots by up to a tick.
constexpr double SPIN_MS = 2;

bool Set(void* data, LineOutput line, int on)
{
    int32_t handle = static_cast<SerialLines*>(data)->handle;
    return (line == LINE_SDA_OUT ? SerialSetDtr : SerialSetRts)(handle, on) != 0;
}

int32_t Status(void* data) { return SerialModemStatus(static_cast<SerialLines*>(data)->handle); }

double Now(void*)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void WaitUntil(void* data, double ms)
{
    for (double now = Now(data); now < ms; now = Now(data))
        if (ms - now > SPIN_MS)
            Sleep(1);
}

}  // namespace

LinePort SerialLinesOpen(SerialLines* serial, int32_t handle)
{
    serial->handle = handle;
    // Since Windows 10 2004 a process sleeps at the 15.6 ms tick unless it
    // asks for a finer one itself.
    serial->fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    return {serial, Set, Status, Now, WaitUntil};
}

void SerialLinesClose(SerialLines* serial)
{
    if (serial->fineTimer)
        timeEndPeriod(1);
    serial->fineTimer = false;
}
