// One unit: the port opened, the coupler check's automatic steps, the scan,
// the plan's steps in order until the first that does not pass, the port
// closed; then the verdict from the steps. The port is opened anew for
// every unit, so that the lines are dropped while the next unit is plugged
// in and every unit's adapter and coupler are measured once.
#include <string.h>
#include <time.h>

#include "console/output.h"
#include "console/output_platform.h"
#include "console/port.h"
#include "console/record.h"
#include "station/station.h"

namespace {

// The coupler check's steps 1 to 4 with the plan's repeat: the step fails
// with the first sub-step that fails; SDA's slowest settle time is its measurement.
void CheckStep(Lines* lines, const Plan& plan, SettleTimes* settle, StepDone* done)
{
    done->kind = "check";
    StepResult result = {"1", "", STEP_OK, "", ""};
    StepOutcome worst = STEP_OK;
    bool up = LinesSwitch(lines, LINE_SDA_OUT, 1) && LinesSwitch(lines, LINE_SCL_OUT, 1);
    for (int step = 0; up && step < AUTOMATIC_STEPS && worst == STEP_OK; step++) {
        RunStep(lines, step, plan.repeat, settle, &result);
        if (LinesFailed(lines))
            break;
        Say(SAY_NORMAL, "  %s %s: %s", result.label, result.name, result.read.c_str());
        if (result.outcome != STEP_OK) {
            worst = result.outcome;
            done->detail = StepText("%s %s: %s", result.label, result.name, result.read.c_str());
        }
    }
    Measured m;
    m.name = "Einschwingzeit SDA", m.unit = "ms", m.decimals = 3;
    m.measured = settle->count > 0, m.value = settle->max;
    // The check's own limit for a line to follow its driver.
    m.limited = true, m.low = 0, m.high = 50;
    done->measurements = {m};
    if (LinesFailed(lines)) {
        done->outcome = OUTCOME_ABORTED;
        done->detail = LinesStopped(lines) ? "abgebrochen" : "Schnittstelle verloren";
    } else {
        done->outcome = worst == STEP_OK ? OUTCOME_OK : worst == STEP_DISTURBED ? OUTCOME_DISTURBED : OUTCOME_FAILED;
    }
}

// The steps the plan gives, in order, each with its name and kind; none run yet.
std::vector<StepDone> Listed(const Plan& plan)
{
    std::vector<StepDone> steps;
    StepDone step;
    if (plan.check)
        step.name = "Koppler prüfen", step.kind = "check", steps.push_back(step);
    if (plan.bus)
        step.name = "Bausteine am Bus", step.kind = "bus", steps.push_back(step);
    for (const PlanStep& planned : plan.steps)
        step.name = planned.name, step.kind = PLAN_KIND_NAMES[planned.kind], steps.push_back(step);
    return steps;
}

// The verdict from the first step that did not pass.
void Judge(const Lines* lines, UnitRun* unit)
{
    unit->verdict = VERDICT_PASSED;
    for (const StepDone& step : unit->steps) {
        if (step.outcome == OUTCOME_OK)
            continue;
        unit->detail = step.name + (step.detail.empty() ? "" : ": " + step.detail);
        if (step.outcome == OUTCOME_FAILED) {
            unit->verdict = VERDICT_FAILED;
            unit->firstFailed = step.name;
        } else if (step.outcome == OUTCOME_ABORTED && LinesStopped(lines)) {
            unit->verdict = VERDICT_ABORTED;
            unit->detail = "abgebrochen in " + step.name;
        } else {
            unit->verdict = VERDICT_IMPOSSIBLE;
        }
        return;
    }
}

}  // namespace

int VerdictCode(Verdict verdict)
{
    static const int CODES[] = {EXIT_PASSED, EXIT_FAILED, EXIT_INCOMPLETE, EXIT_CANNOT_RUN};
    return CODES[verdict];
}

UnitRun RunUnit(const Plan& plan, const StationOptions& options, Lines* lines, const std::string& serial)
{
    UnitRun unit;
    unit.serial = serial;
    unit.time = LogTime(time(nullptr));
    uint32_t start = OutputTicks();
    unit.steps = Listed(plan);
    PortError error;
    ConsolePort* port = PortOpen(options.port, options.baud, 1024, &error);
    int32_t mismatch = port ? PortMismatch(port) : 0;
    if (!port || mismatch != 0) {
        char words[120] = "Schnittstelle verloren";
        if (mismatch > 0)
            RefusedSettings(mismatch, words, sizeof words);
        unit.verdict = LinesStopped(lines) ? VERDICT_ABORTED : VERDICT_IMPOSSIBLE;
        unit.detail = options.port + " " + (port ? words : error.words);
        PortClose(&port);
        unit.ms = OutputTicks() - start;
        return unit;
    }
    Job job;
    LinesOpen(lines, JobStart(&job, options.job, port, "coupler-station"));
    Bench bench = {lines, {}, false, I2C_OK};
    SettleTimes settle = {0, 0, 0, 0};
    bool going = true;
    size_t at = 0;
    for (StepDone& step : unit.steps) {
        if (!going)
            break;
        uint32_t begun = OutputTicks();
        Say(SAY_NORMAL, "%s ...", step.name.c_str());
        if (!strcmp(step.kind, "check"))
            CheckStep(lines, plan, &settle, &step);
        else if (!strcmp(step.kind, "bus"))
            RunBusStep(&bench, plan, &step);
        else
            RunPlanStep(&bench, plan.steps[at++], &step);
        step.ms = OutputTicks() - begun;
        going = step.outcome == OUTCOME_OK;
        Say(SAY_NORMAL, "%s %s%s%s", Padded(step.name, 28).c_str(), going ? "ok" : "FEHLER",
            step.detail.empty() ? "" : ": ", step.detail.c_str());
    }
    // The adapter's figures: the master's echo where it measured one, else SDA's slowest settle time.
    unit.adapter = lines->switches || lines->samples;
    unit.echoMs = bench.begun && bench.begin == I2C_OK ? lines->longestEchoMs : settle.count ? settle.max : -1;
    unit.switchMs = LinesSwitchMs(lines), unit.sampleMs = LinesSampleMs(lines);
    if (!LinesFailed(lines))
        JobAdapter(options.job, port, lines, unit.echoMs);
    if (bench.begun)
        BitsEnd(&bench.master);
    else
        LinesRelease(lines, false);
    JobEnd(&job, options.job, "coupler-station");
    PortClose(&port);
    Judge(lines, &unit);
    unit.ms = OutputTicks() - start;
    return unit;
}
