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
// reports the status with its next packet echoes after a time that varies
// with where in its period a switch falls.
constexpr int ECHO_ROUNDS = 3;
// A round the scheduler made ambiguous (its level seen in a span much wider
// than a few requests) is measured again, this many times at most; the last
// one counts as it is, since its late end is still a true bound.
constexpr int ECHO_RETRIES = 3;
constexpr double ECHO_AGREE_MS = 0.5;
// The bound used: the slowest round with a quarter on top, plus the rounds'
// spread (an adapter whose delay varies may be slower still than its slowest
// round), plus a little for the clock's own grain.
constexpr double ECHO_MARGIN = 1.25;
constexpr double ECHO_SLACK_MS = 0.02;
// A late status shows the lines as they were up to its delay ago. After the
// open DSR shows high only once the status is newer than the open (the lines
// were off before it); after the job's own activity of unknown age (a bus
// clear's STOP) the lines idle this long before the rounds, so that no older
// level of the wire can be taken for a round's echo by any adapter up to
// twice the limit. Each round then starts once the one before was seen, so
// the wire held its level for the whole delay before every switch.
constexpr double ECHO_HOLD_MS = 2 * ECHO_LIMIT_MS;

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
    double start = LinesNow(lines);
    lines->lastSwitchStartMs = start;
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
// row (one stray reading is no echo): *seen spans the first of them (from
// before the switch to that sample's end, late) and the last sample that did
// not follow (early). 1 when seen, 0 when not within the give-up time, -1 on
// a failed call.
int Echo(Lines* lines, int level, LevelSeen* seen)
{
    if (!LinesSwitch(lines, LINE_SDA_OUT, level))
        return -1;
    double before = lines->lastSwitchStartMs, switched = LinesNow(lines), missed = switched, first = -1,
           firstMissed = switched;
    for (;;) {
        double start = LinesNow(lines);
        int32_t status = Status(lines);
        if (status < 0)
            return -1;
        double end = LinesNow(lines);
        if (((status & LINE_SDA_IN) != 0) != (level != 0)) {
            first = -1, missed = start;
            if (start - switched > ECHO_GIVE_UP_MS)
                return 0;
        } else if (first < 0) {
            first = end, firstMissed = missed;
        } else {
            *seen = {firstMissed - switched, first - before};
            return 1;
        }
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
    lines->lastSwitchMs = lines->lastSwitchStartMs = lines->sdaMovedMs = LinesNow(lines);
    lines->echoMs = lines->boundMs = 0;
    lines->longestEchoMs = 0;
    lines->measuredAtMs = -1;
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
        double asked = LinesNow(lines), taken = asked - start;
        taken = taken < 0 ? 0 : taken;
        int level = LinesSample(lines, input);
        if (level < 0)
            return -2;
        if (level == want) {
            double end = LinesNow(lines);
            if (seen)
                *seen = {missed - lines->lastSwitchMs, end - lines->lastSwitchStartMs};
            return end - start;
        }
        missed = asked;
        if (taken >= limit)
            return -1;
    }
}

int LinesConfirm(Lines* lines, LineInput input, int level)
{
    lines->port.waitUntil(lines->port.data, lines->sdaMovedMs + 2 * lines->echoMs);
    int32_t status = Status(lines);
    return status < 0 ? -1 : ((status & input) != 0) == (level != 0);
}

namespace {

// Holds both lines as they are until the wire has kept its SDA level for ms.
void Hold(Lines* lines, double ms)
{
    double since = lines->sdaMovedMs > lines->lastSwitchMs ? lines->sdaMovedMs : lines->lastSwitchMs;
    lines->port.waitUntil(lines->port.data, since + ms);
}

// A round: SDA to level and its echo, measured again while the scheduler
// leaves its span wider than a few requests.
EchoResult Round(Lines* lines, int level, LevelSeen* seen)
{
    for (int tries = 0;; tries++) {
        int result = Echo(lines, level, seen);
        if (result < 0)
            return ECHO_LINE_FAILED;
        if (!result)
            return level ? ECHO_SDA_HELD_LOW : ECHO_SDA_STUCK_HIGH;
        double tolerance = ECHO_AGREE_MS + 3 * (LinesSwitchMs(lines) + LinesSampleMs(lines));
        if (seen->late - seen->early <= tolerance || tries == ECHO_RETRIES)
            return ECHO_OK;
        // Back to the level before, for another try.
        int back = Echo(lines, !level, seen);
        if (back <= 0)
            return back < 0 ? ECHO_LINE_FAILED : level ? ECHO_SDA_STUCK_HIGH : ECHO_SDA_HELD_LOW;
    }
}

// One measurement: the lines idle, DSR seen high and the wire left alone for
// the hold, then the rounds. *longest and *shortest: their late bounds.
EchoResult Measure(Lines* lines, double hold, double* longest, double* shortest)
{
    if (!LinesSwitch(lines, LINE_SCL_OUT, 1) || !LinesSwitch(lines, LINE_SDA_OUT, 1))
        return ECHO_LINE_FAILED;
    // A bus held low is freed by the caller and measured again. DSR may come
    // late after the open. Before the job's first measurement a late status
    // may show the lines as they were before the open (off, or as another
    // program left them, the driver's drop at its close still to come): the
    // first sample waits until the lines have held for the limit.
    LinesUseEcho(lines, 0);
    if (lines->measuredAtMs < 0)
        lines->port.waitUntil(lines->port.data, lines->lastSwitchMs + ECHO_LIMIT_MS);
    double waited = LinesWaitLevel(lines, LINE_SDA_IN, 1, ECHO_HOLD_MS);
    if (waited == -2)
        return ECHO_LINE_FAILED;
    if (waited < 0)
        return lines->sdaSeenHigh ? ECHO_SDA_HELD_LOW : ECHO_NEVER_HIGH;
    // Measured again in a job: the bound found before covers the adapter.
    hold = hold > 2 * lines->boundMs ? hold : 2 * lines->boundMs;
    Hold(lines, hold);
    EchoResult result = LinesSwitch(lines, LINE_SCL_OUT, 0) ? ECHO_OK : ECHO_LINE_FAILED;
    *longest = 0;
    *shortest = ECHO_GIVE_UP_MS;
    for (int round = 0; round < ECHO_ROUNDS && result == ECHO_OK; round++)
        for (int level = 0; level <= 1 && result == ECHO_OK; level++) {
            // A switch made as soon as the last echo was seen meets an
            // adapter that reports on a period at the same point of it every
            // time: the switches wait a part of up to twice the slowest echo
            // first (the golden ratio's multiples spread them evenly).
            double part = (2 * round + level) * 0.6180339887;
            lines->port.waitUntil(lines->port.data, LinesNow(lines) + 2 * *longest * (part - static_cast<int>(part)));
            LevelSeen seen = {0, 0};
            result = Round(lines, level, &seen);
            *longest = seen.late > *longest ? seen.late : *longest;
            *shortest = seen.late < *shortest ? seen.late : *shortest;
        }
    return result;
}

}  // namespace

EchoResult LinesMeasureEcho(Lines* lines, bool afterActivity)
{
    double longest = 0, shortest = 0, before = lines->echoMs;
    EchoResult result = Measure(lines, afterActivity && !lines->boundMs ? ECHO_HOLD_MS : 0, &longest, &shortest);
    lines->longestEchoMs = longest;
    lines->measuredAtMs = LinesNow(lines);
    // Too slow where the delay cannot be bounded below the limit: the late
    // bounds carry a request or two more, and a busy machine more still, so
    // an adapter near the limit may be refused; the early bounds cannot tell,
    // since a status is read at some moment within its request.
    if (result == ECHO_OK && longest > ECHO_LIMIT_MS)
        result = ECHO_TOO_SLOW;
    if (result == ECHO_OK) {
        double bound = longest * ECHO_MARGIN + (longest - shortest) + ECHO_SLACK_MS;
        lines->boundMs = bound > lines->boundMs ? bound : lines->boundMs;
        LinesUseEcho(lines, lines->boundMs);
    } else {
        LinesUseEcho(lines, before > ECHO_LIMIT_MS ? before : ECHO_LIMIT_MS);
    }
    // Idle again: SDA released before SCL rises, so the bus sees no condition.
    if (!LinesSwitch(lines, LINE_SDA_OUT, 1) || !LinesSwitch(lines, LINE_SCL_OUT, 1))
        result = ECHO_LINE_FAILED;
    return result;
}

double LinesSinceMeasured(const Lines* lines)
{
    return lines->measuredAtMs < 0 ? 1e12 : LinesNow(lines) - lines->measuredAtMs;
}

void LinesUseEcho(Lines* lines, double ms) { lines->echoMs = ms > lines->boundMs ? ms : lines->boundMs; }

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
