#include "check/steps.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "check/output.h"
#include "serial/serial.h"

namespace {

// A line follows its driver within this time, or the coupler is faulty.
constexpr double SETTLE_LIMIT_MS = 50;
// After the open a coupler fed from the lines may need this long to come up.
constexpr double POWER_UP_MS = 250;
// A step by hand gives up after this time.
constexpr double PERSON_LIMIT_MS = 30000;
// The LEDs blink at about 2 Hz: the line changes every 250 ms.
constexpr double BLINK_HALF_PERIOD_MS = 250;

// What step 2 measured; written by it, read through MeasuredSettleTimes.
SettleTimes settle = {0, 0, 0, 0};

double Milliseconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Polls a line until it reads want; the time that took in ms, or -1 when it
// did not within limit.
double WaitLine(int32_t (*sample)(int32_t), int32_t port, int want, double limit)
{
    double start = Milliseconds();
    do {
        if (sample(port) == want)
            return Milliseconds() - start;
    } while (Milliseconds() - start < limit);
    return -1;
}

void Fail(StepResult* result, const char* format, ...)
{
    result->outcome = STEP_FAILED;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(result->read, sizeof result->read, format, arguments);
    va_end(arguments);
}

void SdaReleased(int32_t port, int, StepResult* result)
{
    *result = {"1", "SDA losgelassen", STEP_OK, "DSR 1", "DSR 1"};
    if (WaitLine(SerialGetDsr, port, 1, POWER_UP_MS) < 0)
        Fail(result, "DSR 0 nach %.0f ms", POWER_UP_MS);
}

void SdaDriven(int32_t port, int repeat, StepResult* result)
{
    *result = {"2", "SDA auf Masse", STEP_OK, "", ""};
    snprintf(result->expected, sizeof result->expected, "DSR folgt DTR binnen 50 ms, %d mal aus und an", repeat);
    std::vector<double> times;
    for (int i = 1; i <= repeat && result->outcome == STEP_OK; i++) {
        Say(SAY_PROGRESS, "Schritt 2: %d von %d", i, repeat);
        for (int dtr = 0; dtr <= 1 && result->outcome == STEP_OK; dtr++) {
            SerialSetDtr(port, dtr);
            times.push_back(WaitLine(SerialGetDsr, port, dtr, SETTLE_LIMIT_MS));
            if (times.back() < 0)
                Fail(result, "DSR %d 50 ms nach DTR %s (Durchgang %d)", !dtr, dtr ? "an" : "aus", i);
        }
    }
    SerialSetDtr(port, 1);
    std::sort(times.begin(), times.end());
    size_t n = times.size();
    settle = {times[0], n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2, times[n - 1], static_cast<int>(n)};
    if (result->outcome == STEP_OK)
        snprintf(result->read, sizeof result->read, "Einschwingzeit min %.2f, Median %.2f, max %.2f ms", settle.min,
                 settle.median, settle.max);
    else
        settle.count = 0;  // a failed step measured nothing worth keeping
}

void SclQuiet(int32_t port, int repeat, StepResult* result)
{
    *result = {"3", "SCL stört SDA nicht", STEP_OK, "", "DSR unverändert"};
    snprintf(result->expected, sizeof result->expected, "DSR bleibt 1 und 0 bei je %d RTS-Wechseln", repeat);
    for (int dtr = 1; dtr >= 0 && result->outcome == STEP_OK; dtr--) {
        SerialSetDtr(port, dtr);
        if (WaitLine(SerialGetDsr, port, dtr, SETTLE_LIMIT_MS) < 0)
            Fail(result, "DSR %d schon vor dem ersten RTS-Wechsel", !dtr);
        for (int i = 1; i <= repeat && result->outcome == STEP_OK; i++) {
            Say(SAY_PROGRESS, "Schritt 3: %d von %d", (1 - dtr) * repeat + i, 2 * repeat);
            SerialSetRts(port, i % 2 == 0);
            if (SerialGetDsr(port) != dtr)
                Fail(result, "DSR %d nach RTS-Wechsel %d", !dtr, i);
        }
        SerialSetRts(port, 1);
    }
    SerialSetDtr(port, 1);
    WaitLine(SerialGetDsr, port, 1, SETTLE_LIMIT_MS);
}

void IntIdle(int32_t port, int repeat, StepResult* result)
{
    *result = {"4", "INT in Ruhe", STEP_OK, "CTS 0", "CTS 0"};
    for (int i = 0; i < repeat && result->outcome == STEP_OK; i++)
        if (SerialGetCts(port))
            Fail(result, "CTS 1");
}

// A step by hand: either an LED that blinks (its line switched every half
// period) while the person answers j or n, or a line the person pulls and
// lets go, which must read active, then idle again.
struct HandStep {
    const char* label;
    const char* name;
    const char* request;
    const char* expected;
    int32_t (*blink)(int32_t, int32_t);
    int32_t (*sample)(int32_t);
    int active;
};

const HandStep HAND_STEPS[] = {
    {"5a", "LED SDA", "Blinkt die LED am Koppler? j = ja, n = nein", "blinkt", SerialSetDtr, nullptr, 0},
    {"5b", "LED SCL", "Blinkt die LED am Koppler? j = ja, n = nein", "blinkt", SerialSetRts, nullptr, 0},
    {"5c", "SDA am Slave auf Masse", "SDA an einem Slave auf Masse halten und wieder loslassen",
     "DSR 0, dann wieder 1", nullptr, SerialGetDsr, 0},
    {"5d", "INT auf Masse", "INT auf Masse ziehen und wieder loslassen", "CTS 1, dann wieder 0", nullptr,
     SerialGetCts, 1}};

void ByHand(const HandStep& step, int32_t port, StepResult* result)
{
    *result = {step.label, step.name, STEP_OK, "", ""};
    snprintf(result->expected, sizeof result->expected, "%s", step.expected);
    Say(SAY_ALWAYS, "%s %s: %s (s = überspringen)", step.label, step.name, step.request);
    double start = Milliseconds(), switched = start;
    int phase = 0, lineState = 1;
    for (;;) {
        int key = KeyWithin(step.blink ? 10 : 1);
        if (step.sample && step.sample(port) == (phase == 0 ? step.active : !step.active) && ++phase == 2) {
            snprintf(result->read, sizeof result->read, "%s", step.expected);
            break;
        }
        if (step.blink && (key == 'j' || key == 'n')) {
            snprintf(result->read, sizeof result->read, "%s", key == 'j' ? "blinkt" : "blinkt nicht");
            result->outcome = key == 'j' ? STEP_OK : STEP_FAILED;
            break;
        }
        double now = Milliseconds();
        if (key == 's' || now - start > PERSON_LIMIT_MS) {
            result->outcome = STEP_SKIPPED;
            snprintf(result->read, sizeof result->read, key == 's' ? "nichts (Taste s)" : "nichts in 30 s");
            break;
        }
        if (step.blink && now - switched >= BLINK_HALF_PERIOD_MS) {
            step.blink(port, lineState = !lineState);
            switched = now;
        }
    }
    if (step.blink)
        step.blink(port, 1);
}

}  // namespace

void RunStep(int step, int32_t port, int repeat, StepResult* result)
{
    static void (*const AUTOMATIC[AUTOMATIC_STEPS])(int32_t, int, StepResult*) = {SdaReleased, SdaDriven, SclQuiet,
                                                                                    IntIdle};
    if (step < AUTOMATIC_STEPS)
        AUTOMATIC[step](port, repeat, result);
    else
        ByHand(HAND_STEPS[step - AUTOMATIC_STEPS], port, result);
}

SettleTimes MeasuredSettleTimes() { return settle; }
