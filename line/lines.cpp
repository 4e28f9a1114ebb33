#include "line/lines.h"

namespace {

// Standard mode: SCL low 4.7 us, SCL high 4.0 us, START set-up 4.7 us, START
// hold 4.0 us, STOP set-up 4.0 us, bus free 4.7 us. Keeping every two switches
// 4.7 us apart keeps them all.
constexpr double MIN_SWITCH_GAP_MS = 0.0047;
// How long the measurement waits for DSR before it says what it saw: long
// enough to tell an adapter slower than the limit from a line that never moves.
constexpr double ECHO_GIVE_UP_MS = 1000;
// Rounds of the echo measurement (a fall and a rise each). A USB adapter that
// reports the status with its next packet echoes after a varying time: the
// slowest of the rounds, with a margin, is taken.
constexpr int ECHO_ROUNDS = 3;
constexpr double ECHO_MARGIN = 1.25;
// Rounds whose echoes differ by less than this agree, however small they are.
constexpr double ECHO_AGREE_MS = 0.5;
constexpr double ECHO_SLACK_MS = 0.02;

bool Usable(const Lines* lines) { return !lines->failed && !lines->stopped.load(); }

// The modem status, counted and timed, without waiting; -1 on failure.
int32_t Status(Lines* lines)
{
    if (!Usable(lines))
        return -1;
    double start = LinesNow(lines);
    int32_t status = lines->port.status(lines->port.data);
    lines->samples++;
    lines->sampleTotalMs += LinesNow(lines) - start;
    lines->failed = lines->failed || status < 0;
    if (status >= 0 && (status & LINE_SDA_IN))
        lines->sdaSeenHigh = true;
    return lines->failed ? -1 : status;
}

// One switch straight to the port, with the gap before it; the kept level is
// the line's only once the port took it.
bool Send(Lines* lines, LineOutput line, int level)
{
    lines->port.waitUntil(lines->port.data, lines->lastSwitchMs + MIN_SWITCH_GAP_MS);
    double start = lines->lastSwitchStartMs = LinesNow(lines);
    bool done = lines->port.set(lines->port.data, line, level);
    lines->switches++;
    lines->lastSwitchMs = LinesNow(lines);
    lines->switchTotalMs += lines->lastSwitchMs - start;
    lines->kept[line] = done ? level : -1;
    // A slave may change SDA once it is released, or once SCL has fallen.
    if ((line == LINE_SDA_OUT && level) || (line == LINE_SCL_OUT && !level))
        lines->sdaMovedMs = lines->lastSwitchMs;
    return done;
}

// Switches SDA to level and polls DSR until it follows for two samples in a
// row (one stray reading is no echo): the time from the end of the switch to
// the start of the first of them. -1 when it did not within the give-up time,
// -2 on a failed call.
double Echo(Lines* lines, int level)
{
    if (!LinesSwitch(lines, LINE_SDA_OUT, level))
        return -2;
    double switched = LinesNow(lines), seen = -1;
    for (;;) {
        double start = LinesNow(lines);
        int32_t status = Status(lines);
        if (status < 0)
            return -2;
        bool follows = ((status & LINE_SDA_IN) != 0) == (level != 0);
        if (follows && seen >= 0)
            return seen;
        seen = follows ? (start - switched < 0 ? 0 : start - switched) : -1;
        if (seen < 0 && start - switched > ECHO_GIVE_UP_MS)
            return -1;
    }
}

// SDA on the wire with the master's SDA released, sampled after the echo
// time even after a failure or a stop; -1 when the port cannot say.
int ReleasedSda(Lines* lines)
{
    if (lines->kept[LINE_SDA_OUT] != 1)
        Send(lines, LINE_SDA_OUT, 1);
    lines->port.waitUntil(lines->port.data, lines->sdaMovedMs + lines->echoMs);
    int32_t status = lines->port.status(lines->port.data);
    return status < 0 ? -1 : (status & LINE_SDA_IN) != 0;
}

}  // namespace

void LinesOpen(Lines* lines, const LinePort& port)
{
    lines->port = port;
    lines->kept[LINE_SDA_OUT] = lines->kept[LINE_SCL_OUT] = -1;
    lines->failed = false;
    lines->switches = lines->samples = 0;
    lines->switchTotalMs = lines->sampleTotalMs = 0;
    lines->lastSwitchStartMs = lines->lastSwitchMs = lines->sdaMovedMs = LinesNow(lines);
    lines->echoMs = 0;
    lines->longestEchoMs = 0;
    lines->sdaSeenHigh = false;
}

bool LinesSwitch(Lines* lines, LineOutput line, int level)
{
    if (!Usable(lines))
        return false;
    if (lines->kept[line] == level)
        return true;
    if (!Send(lines, line, level))
        lines->failed = true;
    return Usable(lines);
}

int32_t LinesStatus(Lines* lines)
{
    lines->port.waitUntil(lines->port.data, lines->sdaMovedMs + lines->echoMs);
    return Status(lines);
}

int LinesSample(Lines* lines, LineInput input)
{
    int32_t status = LinesStatus(lines);
    return status < 0 ? -1 : (status & input) != 0;
}

double LinesWaitLevel(Lines* lines, LineInput input, int want, double limit, LevelSeen* seen)
{
    double start = LinesNow(lines), missed = lines->lastSwitchMs;
    for (;;) {
        // A performance counter can step back a little when the thread moves
        // to another processor (Wine reads the processor's own).
        double before = LinesNow(lines), taken = before - start;
        int level = LinesSample(lines, input);
        if (level < 0)
            return -2;
        if (level == want) {
            double after = LinesNow(lines);
            if (seen)
                *seen = {missed > lines->lastSwitchMs ? missed - lines->lastSwitchMs : 0,
                         after - lines->lastSwitchStartMs};
            return after > start ? after - start : 0;
        }
        if (taken >= limit)
            return -1;
        missed = before;
    }
}

namespace {

// One measurement: the lines idle until DSR reads high, its first sample
// after hold ms, then the rounds. *longest and *shortest: their echoes.
EchoResult Measure(Lines* lines, double hold, double* longest, double* shortest)
{
    if (!LinesSwitch(lines, LINE_SCL_OUT, 1) || !LinesSwitch(lines, LINE_SDA_OUT, 1))
        return ECHO_LINE_FAILED;
    // A bus held low is freed by the caller and measured again.
    LinesUseEcho(lines, hold);
    double waited = LinesWaitLevel(lines, LINE_SDA_IN, 1, ECHO_LIMIT_MS);
    LinesUseEcho(lines, 0);
    if (waited == -2)
        return ECHO_LINE_FAILED;
    if (waited < 0)
        return lines->sdaSeenHigh ? ECHO_SDA_HELD_LOW : ECHO_NEVER_HIGH;
    EchoResult result = LinesSwitch(lines, LINE_SCL_OUT, 0) ? ECHO_OK : ECHO_LINE_FAILED;
    *longest = 0;
    *shortest = ECHO_GIVE_UP_MS;
    for (int round = 0; round < ECHO_ROUNDS && result == ECHO_OK; round++)
        for (int level = 0; level <= 1 && result == ECHO_OK; level++) {
            double echo = Echo(lines, level);
            *longest = echo > *longest ? echo : *longest;
            *shortest = echo >= 0 && echo < *shortest ? echo : *shortest;
            if (echo == -1)
                result = level ? ECHO_SDA_HELD_LOW : ECHO_SDA_STUCK_HIGH;
            else if (echo < 0)
                result = ECHO_LINE_FAILED;
        }
    return result;
}

}  // namespace

EchoResult LinesMeasureEcho(Lines* lines)
{
    // A late status still shows the lines from before the measurement (a port
    // just opened, or closed with its lines off), and a round is measured
    // right only when the wire was idle for the adapter's whole delay before
    // its switch: else an older level looks like its echo, always too early,
    // and the rounds disagree. First without a wait, which is right at once
    // where the status comes at once (a UART); where the rounds disagree,
    // again after the lines were idle for the longest echo allowed.
    double longest = 0, shortest = 0;
    EchoResult result = Measure(lines, 0, &longest, &shortest);
    if (result == ECHO_OK && longest - shortest > ECHO_AGREE_MS && shortest < longest / 2)
        result = Measure(lines, ECHO_LIMIT_MS, &longest, &shortest);
    lines->longestEchoMs = longest;
    if (result == ECHO_OK && longest > ECHO_LIMIT_MS)
        result = ECHO_TOO_SLOW;
    LinesUseEcho(lines, result == ECHO_OK ? longest * ECHO_MARGIN + ECHO_SLACK_MS : ECHO_LIMIT_MS);
    // Idle again: SDA released before SCL rises, so the bus sees no condition.
    if (!LinesSwitch(lines, LINE_SDA_OUT, 1) || !LinesSwitch(lines, LINE_SCL_OUT, 1))
        result = ECHO_LINE_FAILED;
    return result;
}

void LinesUseEcho(Lines* lines, double ms) { lines->echoMs = ms; }

double LinesSwitchMs(const Lines* lines)
{
    return lines->switches ? lines->switchTotalMs / static_cast<double>(lines->switches) : 0;
}

double LinesSampleMs(const Lines* lines)
{
    return lines->samples ? lines->sampleTotalMs / static_cast<double>(lines->samples) : 0;
}

bool LinesFailed(const Lines* lines) { return !Usable(lines); }
bool LinesLost(const Lines* lines) { return lines->failed; }
void LinesStop(Lines* lines) { lines->stopped.store(true); }
bool LinesStopped(const Lines* lines) { return lines->stopped.load(); }

void LinesRelease(Lines* lines, bool transferOpen)
{
    if (!lines->port.set)
        return;
    bool known = !lines->failed && lines->kept[LINE_SDA_OUT] == 1 && lines->kept[LINE_SCL_OUT] == 1;
    if (known && !transferOpen)
        return;
    // A STOP ends whatever a slave was doing: SDA goes low only while SCL is
    // low, then rises while SCL is high. A failed call no longer matters here.
    Send(lines, LINE_SCL_OUT, 0);
    // Inside a transfer a slave may hold SDA low until SCL falls (its
    // acknowledge, or a 0 bit it sends), and SDA could not rise for the STOP:
    // as in the bus clear, SCL clocks with SDA released until SDA reads high,
    // nine times at most.
    for (int clocks = 0; transferOpen && clocks < 9 && ReleasedSda(lines) == 0; clocks++) {
        Send(lines, LINE_SCL_OUT, 1);
        Send(lines, LINE_SCL_OUT, 0);
    }
    Send(lines, LINE_SDA_OUT, 0);
    Send(lines, LINE_SCL_OUT, 1);
    Send(lines, LINE_SDA_OUT, 1);
}

double LinesNow(const Lines* lines) { return lines->port.now(lines->port.data); }
