// The steps of the coupler check, on a port opened as the tester opens it
// (DTR and RTS on). Each fills in its result and leaves DTR and RTS on.
#pragma once

#include <stdint.h>

// In rising weight: the verdict names the first step of the heaviest outcome.
enum StepOutcome { STEP_OK, STEP_SKIPPED, STEP_FAILED };

struct StepResult {
    const char* label = "";  // "1" .. "4", "5a" .. "5d"
    const char* name = "";   // what the step checks
    StepOutcome outcome = STEP_OK;
    char expected[120] = "";
    char read[120] = "";
};

// Settle times of SDA: from each DTR change to DSR following, in ms.
struct SettleTimes {
    double min = 0, median = 0, max = 0;
    int count = 0;
};

typedef void (*Step)(int32_t port, int repeat, StepResult* result);

// The automatic steps 1 to 4 and the interactive steps 5a to 5d, in order,
// each list ended by a null entry.
extern const Step AUTOMATIC_STEPS[];
extern const Step INTERACTIVE_STEPS[];

// The settle times step 2 measured.
SettleTimes MeasuredSettleTimes();
