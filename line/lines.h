// The coupler's lines, for every program that drives them: SDA out on DTR,
// SCL on RTS, SDA in on DSR (the wire's level), INT on CTS (on while INT is at
// ground). Levels: 1 high (released, line on), 0 low.
//
// Two layers. A LinePort is the line access itself, a small table of functions
// on their own data: a Windows serial port (line/serial_lines.h), a POSIX one,
// a bus in the same process or a recorder all fit behind it. Lines is the one
// engine on top that the check's steps and the I2C master share: every call
// checked and counted, the first failure sticky, one stop flag, the levels last
// switched kept so that no request changes nothing (on USB adapters each is a
// transfer of about a millisecond), the standard-mode gaps between switches,
// the settle waits of the check and the echo waits of the master.
#pragma once

#include <stdint.h>

#include <atomic>

enum LineOutput { LINE_SDA_OUT, LINE_SCL_OUT };  // DTR, RTS
// Bits of the modem-status word a port reports.
enum LineInput { LINE_INT_IN = 0x10, LINE_SDA_IN = 0x20 };  // CTS, DSR

// One step of a batch: the levels of DTR (SDA) and RTS (SCL) for one pin
// period; sample: the master reads its answer (a recorder shows those).
struct LineStep {
    uint8_t sda, scl, sample;
};

struct LinePort {
    void* data;
    // Switches DTR or RTS; false when the port refused or is gone.
    bool (*set)(void* data, LineOutput line, int on);
    // The modem-status word (LineInput bits); -1 when the port cannot be asked.
    int32_t (*status)(void* data);
    // A monotonic clock in milliseconds, and a wait that returns at or after
    // a time on it (the port's clock may be simulated).
    double (*now)(void* data);
    void (*waitUntil)(void* data, double ms);
    // Where the port can run a planned run of steps at once (line/batch.h):
    // each step sets both outputs and holds them one pin period (stepMs);
    // answers[i] is the status word at the end of step i. False when the port
    // failed. nullptr: the port takes one request at a time.
    bool (*batch)(void* data, const LineStep* steps, int32_t count, int32_t* answers) = nullptr;
    double stepMs = 0;
};

// How the master's echo measurement ended.
enum EchoResult {
    ECHO_OK,
    ECHO_SDA_HELD_LOW,    // DSR fell with DTR and does not rise again: the bus is held
    ECHO_SDA_STUCK_HIGH,  // DSR does not follow DTR to low: the master cannot drive SDA
    ECHO_NEVER_HIGH,      // DSR was never on: no supply, DSR not wired, or SDA held from the start
    ECHO_TOO_SLOW,        // DSR follows, but later than ECHO_LIMIT_MS
    ECHO_LINE_FAILED
};

// DSR follows DTR within this time on any adapter the master works with; a
// slower one is named as such, never taken for a blocked bus.
constexpr double ECHO_LIMIT_MS = 50;

// The engine's state for one port and one job. Every field belongs to the
// thread that runs the job, except `stopped`, which any thread may set.
struct Lines {
    LinePort port;
    int kept[2];               // levels last switched (LineOutput index); -1 unknown
    bool failed;               // a line call failed: every later request fails
    std::atomic<bool> stopped; // the job was asked to stop (Ctrl+C, a signal)
    int64_t switches, samples; // requests made, for their cost
    double switchTotalMs, sampleTotalMs;
    double lastSwitchMs;       // end of the last switch
    double lastSwitchStartMs;  // start of the last switch (before its request)
    double sdaMovedMs;         // end of the last switch after which SDA may change
    double echoMs;             // a sample waits this long after sdaMovedMs
    double boundMs;            // the largest echo bound measured in this job: echoMs never drops below it
    double longestEchoMs;      // the slowest round of the last measurement
    double measuredAtMs;       // when the echo was last measured; -1 never
    bool sdaSeenHigh;          // DSR read high at least once since LinesOpen
};

// Takes the port (its owner keeps it and closes it); nothing is switched, the
// levels are unknown until first set. Clears an earlier failure, not a stop.
void LinesOpen(Lines* lines, const LinePort& port);

// Switches the line unless it already holds level; waits first so that two
// switches are never closer than the standard-mode minimum times. False once
// a call has failed or a stop was asked for.
bool LinesSwitch(Lines* lines, LineOutput line, int level);
// The modem-status word, after waiting until the echo time has passed since
// SDA last may have changed (SDA released, or SCL fallen, when a slave changes
// its bit); -1 once a call has failed or a stop was asked for.
int32_t LinesStatus(Lines* lines);
// One input's level, 1 or 0, as LinesStatus; -1 on failure.
int LinesSample(Lines* lines, LineInput input);
// When an input took a level, in ms from the last switch: not before early
// (the start of the last sample that did not show it yet, or the switch's
// end) and by late (the end of the sample that showed it, from the switch's
// start). A preemption of the process can only widen the span, never move
// the level outside it.
struct LevelSeen {
    double early, late;
};
// Polls the input until it reads want: the time in ms from the call to the
// end of the sample that saw it (an upper bound, whatever the scheduler did).
// The first sample taken at or after limit decides, so a time above limit
// comes back when that one saw it. -1 when it did not, -2 on a failed call or
// a stop. seen, where given: the span from the last switch.
double LinesWaitLevel(Lines* lines, LineInput input, int want, double limit, LevelSeen* seen = nullptr);
// Samples the input once more after twice the echo time since SDA last may
// have changed: 1 when it still reads level, 0 when it does not (the first
// sample was older than the echo bound said), -1 on failure.
int LinesConfirm(Lines* lines, LineInput input, int level);

// Measures how long DSR takes to follow DTR (the echo time) with SCL held low,
// so that the bus sees no condition, and what a switch and a sample cost; the
// lines are idle (both high) before and after. Each round is timed from
// before its switch to the end of the sample that saw DSR follow, so that a
// preemption of this process can only lengthen it; a round the scheduler
// made ambiguous is repeated. The wait after SDA changes is then the slowest
// round with a margin for the rounds' spread, and never less than an earlier
// measurement of the same job found. ECHO_TOO_SLOW where the slowest round's
// late bound is beyond the limit: the delay cannot be bounded below it. afterActivity: the wire carried
// something of the job's own before (a bus clear) while no bound is known:
// the lines idle twice the limit before the rounds.
EchoResult LinesMeasureEcho(Lines* lines, bool afterActivity = false);
// Milliseconds since the echo was last measured (a large number if never).
double LinesSinceMeasured(const Lines* lines);
// The wait after SDA may have changed; ECHO_LIMIT_MS until measured.
void LinesUseEcho(Lines* lines, double ms);

// What a switch and a sample have cost on average so far (ms).
double LinesSwitchMs(const Lines* lines);
double LinesSampleMs(const Lines* lines);

// True once a call failed or a stop was asked for; LinesLost only the first.
bool LinesFailed(const Lines* lines);
bool LinesLost(const Lines* lines);
// From any thread: the job stops at its next line call.
void LinesStop(Lines* lines);
bool LinesStopped(const Lines* lines);

// Leaves SDA and SCL high whatever failed before, with the standard-mode
// gaps: where a transfer may be open (transferOpen) or a level is not known,
// a STOP (SCL low, SDA low, SCL high, SDA high), which ends any slave's
// transfer; in an open transfer SCL first clocks, SDA released, until a slave
// lets go of SDA (nine clocks at most). Calls the port even after a failure or
// a stop; safe to call twice.
void LinesRelease(Lines* lines, bool transferOpen);

// The port's clock.
double LinesNow(const Lines* lines);
