#include "check/steps.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "check/output.h"
#include "serial/serial.h"

namespace {

// A line follows its driver within this time, or the coupler is faulty.
constexpr double SETTLE_LIMIT_MS = 50;
// After the open a coupler fed from the lines may need this long to come up.
constexpr double POWER_UP_MS = 250;
// An interactive step gives up after this time.
constexpr double PERSON_LIMIT_MS = 30000;
// The LEDs blink at about 2 Hz: the line changes every 250 ms.
constexpr double BLINK_HALF_PERIOD_MS = 250;

// Settle times of step 2, in ms; filled by it, read by MeasuredSettleTimes.
std::vector<double> settleTimes;

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
    double start = Milliseconds(), now = start;
    do {
        if (sample(port) == want)
            return Milliseconds() - start;
        now = Milliseconds();
    } while (now - start < limit);
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
    settleTimes.clear();
    for (int i = 1; i <= repeat && result->outcome == STEP_OK; i++) {
        ShowProgress("Schritt 2: %d von %d", i, repeat);
        for (int dtr = 0; dtr <= 1; dtr++) {
            SerialSetDtr(port, dtr);
            double settle = WaitLine(SerialGetDsr, port, dtr, SETTLE_LIMIT_MS);
            if (settle < 0) {
                Fail(result, "DSR %d 50 ms nach DTR %s (Durchgang %d)", !dtr, dtr ? "an" : "aus", i);
                break;
            }
            settleTimes.push_back(settle);
        }
    }
    SerialSetDtr(port, 1);
    SettleTimes times = MeasuredSettleTimes();
    if (result->outcome == STEP_OK)
        snprintf(result->read, sizeof result->read, "Einschwingzeit min %.2f, Median %.2f, max %.2f ms", times.min,
                 times.median, times.max);
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
            ShowProgress("Schritt 3: %d von %d", (1 - dtr) * repeat + i, 2 * repeat);
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

// Waits for a key among the given ones, switching line every half period
// when line is given (the LED blinks); the key, or 0 after the time limit.
int WaitKey(const char* keys, int32_t (*line)(int32_t, int32_t), int32_t port)
{
    double start = Milliseconds(), switched = start;
    int state = 1;
    for (;;) {
        int key = KeyWithin(10);
        if (key && strchr(keys, key))
            return key;
        double now = Milliseconds();
        if (now - start > PERSON_LIMIT_MS)
            return 0;
        if (line && now - switched >= BLINK_HALF_PERIOD_MS) {
            state = !state;
            line(port, state);
            switched = now;
        }
    }
}

void Skip(StepResult* result, int key)
{
    result->outcome = STEP_SKIPPED;
    snprintf(result->read, sizeof result->read, key ? "nichts (Taste s)" : "nichts in 30 s");
}

void Led(int32_t port, StepResult* result, int32_t (*line)(int32_t, int32_t))
{
    SayAlways("%s %s: Blinkt die LED am Koppler? j = ja, n = nein, s = überspringen", result->label, result->name);
    int key = WaitKey("jns", line, port);
    line(port, 1);
    if (key == 'j' || key == 'n')
        snprintf(result->read, sizeof result->read, "%s", key == 'j' ? "blinkt" : "blinkt nicht");
    if (key == 'n')
        result->outcome = STEP_FAILED;
    else if (key != 'j')
        Skip(result, key);
}

void LedSda(int32_t port, int, StepResult* result)
{
    *result = {"5a", "LED SDA", STEP_OK, "blinkt", ""};
    Led(port, result, SerialSetDtr);
}

void LedScl(int32_t port, int, StepResult* result)
{
    *result = {"5b", "LED SCL", STEP_OK, "blinkt", ""};
    Led(port, result, SerialSetRts);
}

// A person pulls a line and lets go: it must read active, then idle again.
void PulledByHand(int32_t port, StepResult* result, const char* request, int32_t (*sample)(int32_t), int active)
{
    SayAlways("%s %s: %s und wieder loslassen (s = überspringen)", result->label, result->name, request);
    double start = Milliseconds();
    for (int want : {active, active ? 0 : 1}) {
        for (;;) {
            if (sample(port) == want)
                break;
            int key = KeyWithin(1);
            if (key == 's' || Milliseconds() - start > PERSON_LIMIT_MS) {
                Skip(result, key);
                return;
            }
        }
    }
}

void SdaByHand(int32_t port, int, StepResult* result)
{
    *result = {"5c", "SDA am Slave auf Masse", STEP_OK, "DSR 0, dann wieder 1", "DSR 0, dann wieder 1"};
    PulledByHand(port, result, "SDA an einem Slave auf Masse halten", SerialGetDsr, 0);
}

void IntByHand(int32_t port, int, StepResult* result)
{
    *result = {"5d", "INT auf Masse", STEP_OK, "CTS 1, dann wieder 0", "CTS 1, dann wieder 0"};
    PulledByHand(port, result, "INT auf Masse ziehen", SerialGetCts, 1);
}

}  // namespace

const Step AUTOMATIC_STEPS[] = {SdaReleased, SdaDriven, SclQuiet, IntIdle, nullptr};
const Step INTERACTIVE_STEPS[] = {LedSda, LedScl, SdaByHand, IntByHand, nullptr};

SettleTimes MeasuredSettleTimes()
{
    SettleTimes times;
    std::vector<double> sorted = settleTimes;
    std::sort(sorted.begin(), sorted.end());
    times.count = static_cast<int>(sorted.size());
    if (times.count > 0) {
        times.min = sorted.front();
        times.max = sorted.back();
        times.median = times.count % 2 ? sorted[times.count / 2]
                                       : (sorted[times.count / 2 - 1] + sorted[times.count / 2]) / 2;
    }
    return times;
}
