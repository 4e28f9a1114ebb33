// What the station's files share: its command line, and one unit's run as
// the steps fill it in, the record keeps it and the verdict shows it.
#pragma once

#include <string>
#include <vector>

#include "console/check_steps.h"
#include "console/job.h"
#include "i2c/bits.h"
#include "station/plan.h"

// As coupler-check's: 0 passed, 1 failed, 2 could not run, 3 aborted.
enum ExitCode { EXIT_PASSED = 0, EXIT_FAILED = 1, EXIT_CANNOT_RUN = 2, EXIT_INCOMPLETE = 3 };

struct StationOptions {
    const char* plan = nullptr;
    std::string port;
    const char* serial = nullptr;  // --serial: the first unit's, without asking
    bool once = false;             // one unit, then the end
    const char* record = nullptr;  // JSON Lines file, an object per unit
    const char* operatorName = nullptr;
    const char* station = nullptr;
    int baud = 9600;
    bool help = false;
    JobOptions job;  // --trace, --verbose
};

bool ParseStationOptions(int argc, char** argv, StationOptions* options, char* error, int size);
std::vector<std::string> StationUsage();

enum Outcome { OUTCOME_OK, OUTCOME_FAILED, OUTCOME_SKIPPED, OUTCOME_ABORTED, OUTCOME_DISTURBED };
enum Verdict { VERDICT_PASSED, VERDICT_FAILED, VERDICT_ABORTED, VERDICT_IMPOSSIBLE };

// A measurement: its value (when one was taken) judged against both limits
// (when it has them); decimals for the record and the text.
struct Measured {
    std::string name, unit;
    bool measured = false;
    double value = 0;
    bool limited = false;
    double low = 0, high = 0;
    int decimals = 0;
};
// Whether a measurement failed: taken, limited and outside its limits.
bool MeasuredOutside(const Measured& m);
// "Temperatur 21,5 °C, erlaubt 30 bis 35 °C": a measurement in words, decimal commas.
std::string MeasuredWords(const Measured& m);

struct StepDone {
    std::string name;
    const char* kind = "";
    Outcome outcome = OUTCOME_SKIPPED;
    double ms = 0;
    std::string detail;  // German, empty: none
    std::vector<Measured> measurements;
};

struct UnitRun {
    std::string serial, time;
    bool adapter = false;  // the figures below were taken
    double echoMs = -1, switchMs = 0, sampleMs = 0;
    double ms = 0;
    Verdict verdict = VERDICT_IMPOSSIBLE;
    std::string detail, firstFailed;
    std::vector<StepDone> steps;
};

// The engine and the master of one unit: the master begun at the first step
// on the bus, once.
struct Bench {
    Lines* lines;
    I2cMaster master;
    bool begun;
    I2cStatus begin;
};

// The steps on the bus (steps.cpp): the scan of [bus], and a step of the plan.
void RunBusStep(Bench* bench, const Plan& plan, StepDone* done);
void RunPlanStep(Bench* bench, const PlanStep& step, StepDone* done);
// A line of input (the serial number, an answer), without its line end and
// blanks around it; false at the input's end or when a stop cut it short.
bool ReadLine(std::string* line);

// One unit on the port (unit.cpp): opened, the plan run, closed.
UnitRun RunUnit(const Plan& plan, const StationOptions& options, Lines* lines, const std::string& serial);
// The exit code of a unit's verdict.
int VerdictCode(Verdict verdict);

// The unit's record, one JSON object (record.cpp).
std::string UnitRecord(const Plan& plan, const StationOptions& options, const UnitRun& unit);

// The verdict, large and in colour on a terminal (verdict.cpp).
void ShowVerdict(const UnitRun& unit);
