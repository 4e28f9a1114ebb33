#include "check/steps.h"

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "console/output.h"
#include "line/lines.h"

namespace {

// A line follows its driver within this time, or the coupler is faulty.
constexpr double SETTLE_LIMIT_MS = 50;
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

// What step 2 measured; written by it, read through MeasuredSettleTimes.
SettleTimes settle = {0, 0, 0, 0};

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

void SdaReleased(Lines* lines, int, StepResult* result)
{
    *result = {"1", "SDA losgelassen", STEP_OK, "DSR 1", "DSR 1"};
    if (LinesWaitLevel(lines, LINE_SDA_IN, 1, POWER_UP_MS) == -1)
        Fail(result, "DSR 0 nach %.0f ms", POWER_UP_MS);
}

void SdaDriven(Lines* lines, int repeat, StepResult* result)
{
    *result = {"2", "SDA auf Masse", STEP_OK, "", ""};
    result->expected = StepText("DSR folgt DTR binnen %.0f ms, %d mal aus und an", SETTLE_LIMIT_MS, repeat);
    std::vector<double> times;
    for (int i = 1; i <= repeat && result->outcome == STEP_OK; i++) {
        Say(SAY_PROGRESS, "Schritt 2: %d von %d", i, repeat);
        for (int dtr = 0; dtr <= 1 && result->outcome == STEP_OK; dtr++) {
            double taken = LinesSwitch(lines, LINE_SDA_OUT, dtr) ? LinesWaitLevel(lines, LINE_SDA_IN, dtr, SETTLE_LIMIT_MS) : -2;
            if (taken == -2)
                return;
            times.push_back(taken);
            if (taken < 0)
                Fail(result, "DSR %d %.0f ms nach DTR %s (Durchgang %d)", !dtr, SETTLE_LIMIT_MS,
                     dtr ? "an" : "aus", i);
            else if (taken > SETTLE_LIMIT_MS)
                Fail(result, "DSR folgte DTR %s erst nach %.2f ms (Durchgang %d)", dtr ? "an" : "aus", taken,
                     i);
        }
    }
    settle.count = 0;  // a failed step measured nothing worth keeping
    if (result->outcome != STEP_OK)
        return;
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    settle = {times[0], n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2, times[n - 1],
              static_cast<int>(n)};
    result->read = StepText("Einschwingzeit min %.2f, Median %.2f, max %.2f ms", settle.min, settle.median,
                            settle.max);
}

void SclQuiet(Lines* lines, int repeat, StepResult* result)
{
    // An odd count would leave RTS off: the edge back on is watched too.
    int edges = repeat + repeat % 2;
    double window = settle.count ? 2 * settle.max + WATCH_MIN_MS : SETTLE_LIMIT_MS;
    *result = {"3", "SCL stört SDA nicht", STEP_OK, "", "DSR unverändert"};
    result->expected = StepText("DSR bleibt 1 und 0 bei je %d RTS-Wechseln, je %.0f ms lang", edges, window);
    for (int dtr = 1; dtr >= 0 && result->outcome == STEP_OK; dtr--) {
        double taken = LinesSwitch(lines, LINE_SDA_OUT, dtr) ? LinesWaitLevel(lines, LINE_SDA_IN, dtr, SETTLE_LIMIT_MS) : -2;
        if (taken == -1 || taken > SETTLE_LIMIT_MS)
            Fail(result, "DSR %d schon vor dem ersten RTS-Wechsel", !dtr);
        for (int i = 1; i <= edges && result->outcome == STEP_OK; i++) {
            Say(SAY_PROGRESS, "Schritt 3: %d von %d", (1 - dtr) * edges + i, 2 * edges);
            if (!LinesSwitch(lines, LINE_SCL_OUT, i % 2 == 0))
                return;
            double start = LinesNow(lines), taken = 0;
            for (int level = dtr; level == dtr && taken < window;) {
                taken = LinesNow(lines) - start;
                if ((level = LinesSample(lines, LINE_SDA_IN)) < 0)
                    return;
                if (level != dtr)
                    Fail(result, "DSR %d %.1f ms nach RTS-Wechsel %d", level, taken, i);
            }
        }
    }
    if (LinesSwitch(lines, LINE_SDA_OUT, 1))
        LinesWaitLevel(lines, LINE_SDA_IN, 1, SETTLE_LIMIT_MS);
}

void IntIdle(Lines* lines, int repeat, StepResult* result)
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

void RunStep(Lines* lines, int step, int repeat, StepResult* result)
{
    static void (*const AUTOMATIC[AUTOMATIC_STEPS])(Lines*, int, StepResult*) = {SdaReleased, SdaDriven,
                                                                                 SclQuiet, IntIdle};
    if (step < AUTOMATIC_STEPS)
        AUTOMATIC[step](lines, repeat, result);
    else
        ByHand(lines, HAND_STEPS[step - AUTOMATIC_STEPS], result);
}

SettleTimes MeasuredSettleTimes() { return settle; }

std::string StepText(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = StepTextList(format, arguments);
    va_end(arguments);
    return text;
}
