#include "i2c/lines.h"

#include <windows.h>

#include "serial/serial.h"

namespace {

// Standard mode: SCL low 4.7 us, SCL high 4.0 us, START set-up 4.7 us, START
// hold 4.0 us, STOP set-up 4.0 us, bus free 4.7 us. Keeping every two switches
// 4.7 us apart keeps them all.
constexpr double MIN_SWITCH_GAP_MS = 0.0047;
// DSR follows DTR within this time on any working coupler and adapter.
constexpr double ECHO_LIMIT_MS = 50;
// Rounds of the echo measurement (a fall and a rise each). A USB adapter that
// reports the status with its next packet echoes after a varying time: the
// longest of the rounds, with a margin, is taken.
constexpr int ECHO_ROUNDS = 3;
constexpr double ECHO_MARGIN = 1.25;
constexpr double ECHO_SLACK_MS = 0.02;

// The master's line state for one job, set up by LinesAttach; the port handle
// belongs to the caller.
int32_t port = -1;
int sdaSet = 1, sclSet = 1;     // levels last switched
bool failed = false;            // a line call failed: every later request fails
volatile LONG stopped = 0;      // set by LinesStop from the console's Ctrl+C thread
int64_t requests = 0;           // line requests since LinesAttach (for their cost)
double lastSwitchMs = 0;        // end of the last switch
double sdaMovedMs = 0;          // end of the last switch after which SDA may change
double echoMs = ECHO_LIMIT_MS;  // measured by LinesMeasure; the limit until then
double requestMs = 1;           // measured by LinesMeasure

bool Usable() { return !failed && !stopped && port > 0; }

// Busy-waits on the performance counter (Sleep's granularity is a
// millisecond or more); a long wait, as for a late status, sleeps its bulk.
void WaitUntil(double ms)
{
    for (double now = LinesNowMs(); now < ms; now = LinesNowMs())
        if (ms - now > 3)
            Sleep(1);
}

// One switch of DTR or RTS, counted and checked.
bool Switch(int32_t (*set)(int32_t, int32_t), int level)
{
    WaitUntil(lastSwitchMs + MIN_SWITCH_GAP_MS);
    requests++;
    if (!Usable() || !set(port, level))
        failed = true;
    lastSwitchMs = LinesNowMs();
    return !failed;
}

// One sample of the modem status, without waiting; -1 when it failed.
int32_t Status()
{
    requests++;
    int32_t status = Usable() ? SerialModemStatus(port) : -1;
    failed = failed || status < 0;
    return failed ? -1 : status;
}

// Switches SDA to level and polls DSR until it follows; the time from the end
// of the switch to the start of the sample that showed it, or -1 when it did
// not within the limit (-2 when a call failed).
double Echo(int level)
{
    if (!LinesSda(level))
        return -2;
    double switched = LinesNowMs();
    for (;;) {
        double start = LinesNowMs();
        int32_t status = Status();
        if (status < 0)
            return -2;
        if (((status & MS_DSR_ON) != 0) == (level != 0))
            return start - switched;
        if (start - switched > ECHO_LIMIT_MS)
            return -1;
    }
}

}  // namespace

double LinesNowMs()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool LinesAttach(int32_t handle)
{
    port = handle;
    failed = false;
    requests = 0;
    echoMs = ECHO_LIMIT_MS;
    lastSwitchMs = sdaMovedMs = LinesNowMs();
    // The open may have left either line anywhere: both are switched once.
    sdaSet = sclSet = -1;
    return LinesScl(1) && LinesSda(1);
}

EchoResult LinesMeasure()
{
    // A late status still shows the lines from before the job (the port was
    // closed, its lines off): they stay idle until DSR reads high, so that
    // each round sees only its own switch. A held bus lets the limit pass.
    double start = LinesNowMs(), longest = 0;
    int64_t first = requests;
    int32_t status = 0;
    while ((status = Status()) >= 0 && !(status & MS_DSR_ON) && LinesNowMs() - start < ECHO_LIMIT_MS) {
    }
    EchoResult result = status >= 0 && LinesScl(0) ? ECHO_OK : ECHO_LINE_FAILED;
    for (int round = 0; round < ECHO_ROUNDS && result == ECHO_OK; round++)
        for (int level = 0; level <= 1 && result == ECHO_OK; level++) {
            double echo = Echo(level);
            if (echo >= 0 && echo > longest)
                longest = echo;
            if (echo == -1)
                result = level ? ECHO_SDA_HELD_LOW : ECHO_SDA_STUCK_HIGH;
            else if (echo < 0)
                result = ECHO_LINE_FAILED;
        }
    requestMs = (LinesNowMs() - start) / static_cast<double>(requests - first);
    echoMs = result == ECHO_OK ? longest * ECHO_MARGIN + ECHO_SLACK_MS : ECHO_LIMIT_MS;
    // Idle again: SDA released before SCL rises, so the bus sees no condition.
    if (!LinesSda(1) || !LinesScl(1))
        result = ECHO_LINE_FAILED;
    return result;
}

double LinesEchoMs() { return echoMs; }
double LinesRequestMs() { return requestMs; }

bool LinesSda(int level)
{
    if (level == sdaSet)
        return Usable();
    sdaSet = level;
    bool done = Switch(SerialSetDtr, level);
    if (level)
        sdaMovedMs = lastSwitchMs;
    return done;
}

bool LinesScl(int level)
{
    if (level == sclSet)
        return Usable();
    sclSet = level;
    bool done = Switch(SerialSetRts, level);
    if (!level)
        sdaMovedMs = lastSwitchMs;
    return done;
}

bool LinesSample(int* sda, int* interrupt)
{
    WaitUntil(sdaMovedMs + echoMs);
    int32_t status = Status();
    if (status < 0)
        return false;
    *sda = (status & MS_DSR_ON) != 0;
    if (interrupt)
        *interrupt = (status & MS_CTS_ON) != 0;
    return true;
}

bool LinesFailed() { return !Usable(); }
void LinesStop() { InterlockedExchange(&stopped, 1); }
bool LinesStopped() { return stopped != 0; }

void LinesRelease()
{
    // After a failure the levels kept may not be the lines' own: both are
    // switched again.
    if (port <= 0 || (Usable() && sdaSet == 1 && sclSet == 1)) {
        port = -1;
        return;
    }
    // A STOP when a transfer may be open: SDA low while SCL is low, then SCL,
    // then SDA. A failed call no longer matters here.
    if (sclSet != 1) {
        SerialSetDtr(port, 0);
        SerialSetRts(port, 1);
    }
    SerialSetDtr(port, 1);
    SerialSetRts(port, 1);
    sdaSet = sclSet = 1;
    port = -1;
}
