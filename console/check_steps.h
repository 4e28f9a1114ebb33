// The steps of the coupler check, on the line engine of a port opened as the
// tester opens it (DTR and RTS on). Each fills in its result and leaves DTR
// and RTS on. A step that ends because the port was lost or a stop was
// requested leaves its result unfinished: LinesLost and LinesStopped tell.
#pragma once

#include <string>

#include "line/lines.h"

// In rising weight: the verdict names the first step of the heaviest outcome.
// Disturbed: a time could not be told apart from what a busy PC did to the
// measurement, even after repeats; the step makes no verdict of it, while a
// fault seen for certain outweighs it.
enum StepOutcome { STEP_OK, STEP_SKIPPED, STEP_DISTURBED, STEP_FAILED };

struct StepResult {
    const char* label;  // "1" .. "4", "5a" .. "5d"
    const char* name;   // what the step checks
    StepOutcome outcome;
    std::string expected;
    std::string read;
    const char* cause = nullptr;  // where the step knows it, why it failed, for the verdict
};

// printf into a string of the text's own length: no text a step builds is cut.
std::string StepText(const char* format, ...);

// SDA's settle times from step 2: each DTR change to DSR following, in ms, as
// their upper bounds (from the switch's start to the end of the sample that
// saw DSR follow); count 0 when step 2 did not pass.
struct SettleTimes {
    double min, median, max;
    int count;
};

// Steps 0 to 3 (shown as 1 to 4) are automatic; the four after them need a
// hand on the coupler. settle: the run's, written by step 2 and read by step 3
// for how long it watches.
constexpr int AUTOMATIC_STEPS = 4, ALL_STEPS = 8;
void RunStep(Lines* lines, int step, int repeat, SettleTimes* settle, StepResult* result);
