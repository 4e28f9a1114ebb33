#include "console/check_steps.h"

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "console/output.h"
#include "line/lines.h"

namespace {

// A line follows its driver within this time, or the coupler is faulty.
constexpr double SETTLE_LIMIT_MS = 50;
// A DSR later than that is watched this long more, to tell a slow chain (the
// coupler, or an adapter that reports the status late) from one that is cut.
constexpr double LATE_WATCH_MS = 1000;
// After the open a coupler fed from the lines may need this long to come up.
constexpr double POWER_UP_MS = 250;
// A step by hand gives up after this time.
constexpr double PERSON_LIMIT_MS = 30000;
// The LEDs blink at about 2 Hz: the line changes every 250 ms.
constexpr double BLINK_HALF_PERIOD_MS = 250;
// Step 3 watches DSR after each RTS edge for twice step 2's slowest settle
// time plus this: a leak reaches DSR as late as a DTR change does (USB
// adapters report the modem status late), and never less than this.
constexpr double WATCH_MIN_MS = 5;
// A watch counts only where no two of its samples can have read DSR farther
// apart than this (from one sample's start to the next one's end, the first
// from the start of the RTS switch): a leak lasts some 5 ms and cannot fall
// between them. Two samples on a USB adapter (about 1 ms a request) span 2 ms,
// on one of 2 ms a request 4 ms; an adapter slower than that cannot show a
// leak of 5 ms, and the step says so rather than pass it.
constexpr double WATCH_GAP_MS = 5;
// A measurement that a busy PC made ambiguous is repeated; this many in a row
// end the step as disturbed, never with a verdict on a guess. A loaded PC
// stops a process for some milliseconds now and then: a watch of 100 ms has a
// gap about every other time there, and with both cores busy elsewhere most
// short watches have one.
constexpr int MEASURE_ATTEMPTS = 40;

std::string StepTextList(const char* format, va_list arguments)
{
    va_list measure;
    va_copy(measure, arguments);
    int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return std::string();
    std::vector<char> text(static_cast<size_t>(length) + 1);
    vsnprintf(text.data(), text.size(), format, arguments);
    return std::string(text.data(), static_cast<size_t>(length));
}

void Fail(StepResult* result, const char* format, ...)
{
    result->outcome = STEP_FAILED;
    va_list arguments;
    va_start(arguments, format);
    result->read = StepTextList(format, arguments);
    va_end(arguments);
}

void Disturbed(StepResult* result, const char* what)
{
    result->outcome = STEP_DISTURBED;
    result->read = StepText("%d %s in Folge nicht eindeutig messbar", MEASURE_ATTEMPTS, what);
}

// ", N wiederholt" where a busy PC made measurements ambiguous, else nothing.
std::string Repeats(int repeated, const char* what)
{
    return repeated ? StepText(", %d %s wiederholt", repeated, what) : std::string();
}

void SdaReleased(Lines* lines, int, SettleTimes*, StepResult* result)
{
    *result = {"1", "SDA losgelassen", STEP_OK, "DSR 1", "DSR 1"};
    // A late status shows the lines as they were before the open (another
    // program's, or the driver's drop at its close) for up to the adapter's
    // delay: the first sample comes once the lines have held the limit.
    lines->port.waitUntil(lines->port.data, lines->lastSwitchMs + SETTLE_LIMIT_MS);
    if (LinesWaitLevel(lines, LINE_SDA_IN, 1, POWER_UP_MS) == -1)
        Fail(result, "DSR 0 nach %.0f ms", POWER_UP_MS);
}

// A round (DTR off, then on) counts when both settle times are within the
// limit by their upper bounds; it fails when DSR still showed the old level
// after the limit; anything between (a preemption stretched a bound) is
// measured again.
void SdaDriven(Lines* lines, int repeat, SettleTimes* settle, StepResult* result)
{
    *result = {"2", "SDA auf Masse", STEP_OK, "", ""};
    result->expected = StepText("DSR folgt DTR binnen %.0f ms, %d mal aus und an", SETTLE_LIMIT_MS, repeat);
    *settle = {0, 0, 0, 0};  // a step that does not pass measured nothing worth keeping
    std::vector<double> times;
    int repeated = 0;
    for (int i = 1, disturbed = 0; i <= repeat && result->outcome == STEP_OK;) {
        Say(SAY_PROGRESS, "Schritt 2: %d von %d", i, repeat);
        double round[2] = {0, 0};
        for (int dtr = 0; dtr <= 1 && result->outcome == STEP_OK; dtr++) {
            LevelSeen seen = {0, 0};
            double taken =
                LinesSwitch(lines, LINE_SDA_OUT, dtr) ? LinesWaitLevel(lines, LINE_SDA_IN, dtr, SETTLE_LIMIT_MS, &seen) : -2;
            if (taken == -2)
                return;
            if (taken == -1 || seen.early > SETTLE_LIMIT_MS) {
                // The coupler and the adapter are one chain here: which of them is slow, no line tells.
                double late = seen.early > SETTLE_LIMIT_MS ? 0 : LinesWaitLevel(lines, LINE_SDA_IN, dtr, LATE_WATCH_MS, &seen);
                if (late == -2)
                    return;
                if (late < 0)
                    Fail(result, "DSR %d %.0f ms nach DTR %s (Durchgang %d)", !dtr, SETTLE_LIMIT_MS, dtr ? "an" : "aus", i);
                else  // between the last sample that missed it (50 ms at least) and the end of the one that saw it
                    Fail(result, "DSR folgt DTR %s erst nach %.0f bis %.0f ms (Durchgang %d)", dtr ? "an" : "aus",
                         std::max(seen.early, SETTLE_LIMIT_MS), seen.late, i),
                        result->cause = "Koppler oder Adapter zu langsam";
            }
            round[dtr] = seen.late;
        }
        if (result->outcome != STEP_OK)
            return;
        if (round[0] <= SETTLE_LIMIT_MS && round[1] <= SETTLE_LIMIT_MS) {
            times.insert(times.end(), round, round + 2);
            i++, disturbed = 0;
        } else if (repeated++, ++disturbed == MEASURE_ATTEMPTS) {
            Disturbed(result, "Durchgänge");
            return;
        }
    }
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    *settle = {times[0], n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2, times[n - 1],
               static_cast<int>(n)};
    result->read = StepText("Einschwingzeit min %.2f, Median %.2f, max %.2f ms", settle->min, settle->median,
                            settle->max) + Repeats(repeated, "Durchgänge");
}

// Switches RTS to rts and watches DSR for window ms for a level other than
// dtr, which fails the result. True when the watch was whole (no two samples
// farther apart than WATCH_GAP_MS) or saw the leak; false on a gap or a
// failed call (LinesFailed tells).
bool Watch(Lines* lines, int rts, int dtr, double window, int edge, StepResult* result)
{
    // A leak comes after the switch began: that is where the watch begins.
    double previous = LinesNow(lines);
    if (!LinesSwitch(lines, LINE_SCL_OUT, rts))
        return false;
    double start = LinesNow(lines);
    bool whole = true;
    for (double begun = start; begun - start < window;) {
        begun = LinesNow(lines);
        int level = LinesSample(lines, LINE_SDA_IN);
        if (level < 0)
            return false;
        if (level != dtr) {
            Fail(result, "DSR %d %.1f ms nach RTS-Wechsel %d", level, begun - start, edge);
            return true;
        }
        whole = whole && LinesNow(lines) - previous <= WATCH_GAP_MS;
        previous = begun;
    }
    return whole;
}

void SclQuiet(Lines* lines, int repeat, SettleTimes* settle, StepResult* result)
{
    // An odd count would leave RTS off: the edge back on is watched too.
    int edges = repeat + repeat % 2, rts = 1, repeated = 0;
    double window = settle->count ? 2 * settle->max + WATCH_MIN_MS : SETTLE_LIMIT_MS;
    *result = {"3", "SCL stört SDA nicht", STEP_OK, "", "DSR unverändert"};
    result->expected = StepText("DSR bleibt 1 und 0 bei je %d RTS-Wechseln, je %.0f ms lang", edges, window);
    for (int dtr = 1; dtr >= 0 && result->outcome == STEP_OK; dtr--) {
        double taken = LinesSwitch(lines, LINE_SDA_OUT, dtr) ? LinesWaitLevel(lines, LINE_SDA_IN, dtr, SETTLE_LIMIT_MS) : -2;
        if (taken == -2)
            return;
        if (taken == -1)
            Fail(result, "DSR %d schon vor dem ersten RTS-Wechsel", !dtr);
        // A watch with a gap is made again on another edge; RTS ends on.
        for (int watched = 0, disturbed = 0; (watched < edges || !rts) && result->outcome == STEP_OK;) {
            Say(SAY_PROGRESS, "Schritt 3: %d von %d", (1 - dtr) * edges + std::min(watched + 1, edges), 2 * edges);
            bool whole = Watch(lines, rts = !rts, dtr, window, watched + 1, result);
            if (LinesFailed(lines))
                return;
            if (whole)
                watched++, disturbed = 0;
            else if (repeated++, ++disturbed == MEASURE_ATTEMPTS)
                Disturbed(result, "RTS-Wechsel");
        }
    }
    if (result->outcome == STEP_OK)
        result->read += Repeats(repeated, "RTS-Wechsel");
    if (LinesSwitch(lines, LINE_SCL_OUT, 1) && LinesSwitch(lines, LINE_SDA_OUT, 1))
        LinesWaitLevel(lines, LINE_SDA_IN, 1, SETTLE_LIMIT_MS);
}

void IntIdle(Lines* lines, int repeat, SettleTimes*, StepResult* result)
{
    *result = {"4", "INT in Ruhe", STEP_OK, "CTS 0", "CTS 0"};
    for (int i = 0; i < repeat && result->outcome == STEP_OK; i++) {
        int level = LinesSample(lines, LINE_INT_IN);
        if (level < 0)
            return;
        if (level)
            Fail(result, "CTS 1");
    }
}

// A step by hand: either an LED that blinks (its line switched every half
// period) while the person answers j or n, or a line the person pulls and
// lets go, which must read idle, active, then idle again.
struct HandStep {
    const char* label;
    const char* name;
    const char* request;
    const char* expected;
    bool blinks;
    LineOutput blink;
    LineInput sample;
    int active;
};

const HandStep HAND_STEPS[] = {
    {"5a", "LED SDA", "Blinkt die LED am Koppler? j = ja, n = nein", "blinkt", true, LINE_SDA_OUT, LINE_SDA_IN, 0},
    {"5b", "LED SCL", "Blinkt die LED am Koppler? j = ja, n = nein", "blinkt", true, LINE_SCL_OUT, LINE_SDA_IN, 0},
    {"5c", "SDA am Slave auf Masse", "SDA an einem Slave auf Masse halten und wieder loslassen",
     "DSR 0, dann wieder 1", false, LINE_SDA_OUT, LINE_SDA_IN, 0},
    {"5d", "INT auf Masse", "INT auf Masse ziehen und wieder loslassen", "CTS 1, dann wieder 0", false,
     LINE_SDA_OUT, LINE_INT_IN, 1}};

void ByHand(Lines* lines, const HandStep& step, StepResult* result)
{
    *result = {step.label, step.name, STEP_SKIPPED, step.expected, ""};
    Say(SAY_ALWAYS, "%s %s: %s (s = überspringen)", step.label, step.name, step.request);
    // Keys typed before the question answer nothing; a line is read only
    // after a settle time, from its idle level on, so that a level left over
    // from an earlier step (a late adapter, a slow line) is not taken as the
    // person's doing.
    KeysDiscard();
    double start = LinesNow(lines), switched = start;
    int phase = 0, lineState = 1, switches = 0;
    while (result->read.empty()) {
        int key = KeyWithin(step.blinks ? 10 : 1);
        double now = LinesNow(lines);
        if (!step.blinks && now - start >= SETTLE_LIMIT_MS) {
            int level = LinesSample(lines, step.sample);
            if (level < 0)
                return;
            if (level == (phase == 1 ? step.active : !step.active) && ++phase == 3) {
                result->outcome = STEP_OK;
                result->read = step.expected;
            }
        }
        // An answer counts once the LED has been off and on again.
        if (step.blinks && switches >= 2 && (key == 'j' || key == 'n')) {
            result->outcome = key == 'j' ? STEP_OK : STEP_FAILED;
            result->read = key == 'j' ? "blinkt" : "blinkt nicht";
        } else if (key == 's') {
            result->read = "nichts (Taste s)";
        } else if (key < 0 && step.blinks) {
            result->read = "nichts (keine Eingabe mehr)";
        } else if (now - start > PERSON_LIMIT_MS) {
            result->read = StepText("nichts in %.0f s", PERSON_LIMIT_MS / 1000);
        } else if (LinesStopped(lines)) {
            return;
        }
        if (step.blinks && now - switched >= BLINK_HALF_PERIOD_MS) {
            if (!LinesSwitch(lines, step.blink, lineState = !lineState))
                return;
            switched = now;
            switches++;
        }
    }
    if (step.blinks)
        LinesSwitch(lines, step.blink, 1);
}

}  // namespace

void RunStep(Lines* lines, int step, int repeat, SettleTimes* settle, StepResult* result)
{
    static void (*const AUTOMATIC[AUTOMATIC_STEPS])(Lines*, int, SettleTimes*, StepResult*) = {
        SdaReleased, SdaDriven, SclQuiet, IntIdle};
    if (step < AUTOMATIC_STEPS)
        AUTOMATIC[step](lines, repeat, settle, result);
    else
        ByHand(lines, HAND_STEPS[step - AUTOMATIC_STEPS], result);
}

std::string StepText(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = StepTextList(format, arguments);
    va_end(arguments);
    return text;
}
