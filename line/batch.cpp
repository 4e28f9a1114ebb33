#include "line/batch.h"

#include <stddef.h>

namespace {

// A measurement samples in runs of this many steps: two of the chip's
// receive buffers, so a round that follows at once costs one round trip or two.
constexpr int32_t MEASURE_RUN = 256;
constexpr double GIVE_UP_MS = 1000;
constexpr int ROUNDS = 3;

bool Usable(const LinePlan* plan) { return plan->lines && !LinesFailed(plan->lines); }

int32_t StepsFor(const LinePlan* plan, double ms)
{
    double step = plan->lines->port.stepMs > 0 ? plan->lines->port.stepMs : 0.005;
    return static_cast<int32_t>(ms / step) + 1;
}

// One more step with the levels as they are.
void Hold(LinePlan* plan)
{
    plan->steps.push_back({static_cast<uint8_t>(plan->level[LINE_SDA_OUT]), static_cast<uint8_t>(plan->level[LINE_SCL_OUT]), 0});
    plan->sinceMoved++;
}

// The step whose end is a fresh sample: settle steps after SDA last moved.
int32_t SampleStep(LinePlan* plan, int32_t settle)
{
    while (plan->sinceMoved < settle || plan->steps.empty())
        Hold(plan);
    plan->steps.back().sample = 1;
    return static_cast<int32_t>(plan->steps.size()) - 1;
}

// Runs the plan and gives the answer of one of its steps' SDA, or -1.
int RunFor(LinePlan* plan, int32_t step)
{
    if (!PlanRun(plan))
        return -1;
    return (plan->answers[static_cast<size_t>(step)] & LINE_SDA_IN) != 0;
}

}  // namespace

bool PlanPossible(const Lines* lines) { return lines->port.batch != nullptr; }

void PlanOpen(LinePlan* plan, Lines* lines)
{
    *plan = LinePlan{};
    plan->lines = lines;
    plan->level[LINE_SDA_OUT] = lines->kept[LINE_SDA_OUT];
    plan->level[LINE_SCL_OUT] = lines->kept[LINE_SCL_OUT];
    // Until measured, a sample waits the longest echo a working adapter has.
    plan->settle = StepsFor(plan, ECHO_LIMIT_MS);
    plan->sinceMoved = plan->settle;
}

bool PlanSwitch(LinePlan* plan, LineOutput line, int level)
{
    if (!Usable(plan))
        return false;
    if (plan->level[line] == level)
        return true;
    // A level not known yet: the other line keeps what the engine knows, or high.
    int other = plan->level[!line];
    plan->level[!line] = other < 0 ? 1 : other;
    plan->level[line] = level;
    plan->steps.push_back({static_cast<uint8_t>(plan->level[LINE_SDA_OUT]), static_cast<uint8_t>(plan->level[LINE_SCL_OUT]), 0});
    // A slave may change SDA once it is released, or once SCL has fallen.
    bool moves = (line == LINE_SDA_OUT && level) || (line == LINE_SCL_OUT && !level);
    plan->sinceMoved = moves ? 1 : plan->sinceMoved + 1;
    return true;
}

bool PlanSampleInto(LinePlan* plan, uint8_t* byte, uint8_t mask)
{
    if (!Usable(plan))
        return false;
    plan->into.push_back({byte, mask, SampleStep(plan, plan->settle)});
    return true;
}

int PlanSda(LinePlan* plan)
{
    if (!Usable(plan))
        return -1;
    return RunFor(plan, SampleStep(plan, plan->settle));
}

int PlanConfirm(LinePlan* plan, int level)
{
    if (!Usable(plan))
        return -1;
    int sda = RunFor(plan, SampleStep(plan, 2 * plan->settle));
    return sda < 0 ? -1 : sda == level;
}

bool PlanRun(LinePlan* plan)
{
    Lines* lines = plan->lines;
    if (!Usable(plan))
        return false;
    int32_t count = static_cast<int32_t>(plan->steps.size());
    plan->answers.assign(plan->steps.size(), 0);
    bool done = count == 0 || lines->port.batch(lines->port.data, plan->steps.data(), count, plan->answers.data());
    plan->runs++;
    plan->stepsRun += count;
    lines->failed = lines->failed || !done;
    for (const LinePlan::Into& bit : plan->into)
        if (done && (plan->answers[static_cast<size_t>(bit.step)] & LINE_SDA_IN))
            *bit.byte = static_cast<uint8_t>(*bit.byte | bit.mask);
        else
            *bit.byte = static_cast<uint8_t>(*bit.byte & ~bit.mask);
    for (int32_t i = 0; done && i < count; i++)
        lines->sdaSeenHigh = lines->sdaSeenHigh || (plan->answers[static_cast<size_t>(i)] & LINE_SDA_IN);
    plan->into.clear();
    plan->steps.clear();
    // The engine's own requests (the release at the end) start from the
    // levels the plan left; a failed run leaves them unknown.
    lines->kept[LINE_SDA_OUT] = done ? plan->level[LINE_SDA_OUT] : -1;
    lines->kept[LINE_SCL_OUT] = done ? plan->level[LINE_SCL_OUT] : -1;
    if (!done)
        plan->level[LINE_SDA_OUT] = plan->level[LINE_SCL_OUT] = -1;
    // A round trip passes before anything else is sent: the pins have held
    // their levels far longer than any settle time.
    plan->sinceMoved = plan->settle > plan->sinceMoved ? plan->settle : plan->sinceMoved;
    return Usable(plan);
}

namespace {

// Samples every step from the switch on until SDA reads want twice in a row:
// the steps from the switch to the first of them (1: at the end of the
// switch's own step). 0 when not within the give-up time, -1 on failure.
int32_t Follow(LinePlan* plan, int want, int32_t limit)
{
    int32_t taken = 0, first = 0;
    // The switch is the plan's last step: its own end is the first answer.
    size_t start = plan->steps.empty() ? 0 : plan->steps.size() - 1;
    while (taken < limit) {
        while (plan->steps.size() < start + MEASURE_RUN)
            Hold(plan);
        size_t count = plan->steps.size();
        if (!PlanRun(plan))
            return -1;
        for (size_t i = start; i < count; i++) {
            taken++;
            if (((plan->answers[i] & LINE_SDA_IN) != 0) != (want != 0))
                first = 0;
            else if (!first)
                first = taken;
            else
                return first;
        }
        start = 0;
    }
    return 0;
}

}  // namespace

EchoResult PlanMeasure(LinePlan* plan, bool afterActivity)
{
    Lines* lines = plan->lines;
    int32_t limit = StepsFor(plan, GIVE_UP_MS);
    if (!PlanSwitch(plan, LINE_SCL_OUT, 1) || !PlanSwitch(plan, LINE_SDA_OUT, 1))
        return ECHO_LINE_FAILED;
    // DSR high first (it may come late after the open), then the wire left
    // alone where the job's own activity went before.
    int32_t idle = Follow(plan, 1, StepsFor(plan, 2 * ECHO_LIMIT_MS));
    if (idle < 0)
        return ECHO_LINE_FAILED;
    if (!idle)
        return lines->sdaSeenHigh ? ECHO_SDA_HELD_LOW : ECHO_NEVER_HIGH;
    int32_t hold = afterActivity ? StepsFor(plan, 2 * ECHO_LIMIT_MS) : 2 * plan->boundSettle;
    for (int32_t i = 0; i < hold; i++)
        Hold(plan);
    if (!PlanSwitch(plan, LINE_SCL_OUT, 0))
        return ECHO_LINE_FAILED;
    int32_t longest = 0, shortest = limit;
    EchoResult result = ECHO_OK;
    for (int round = 0; round < ROUNDS && result == ECHO_OK; round++)
        for (int level = 0; level <= 1 && result == ECHO_OK; level++) {
            if (!PlanSwitch(plan, LINE_SDA_OUT, level))
                return ECHO_LINE_FAILED;
            int32_t steps = Follow(plan, level, limit);
            if (steps < 0)
                return ECHO_LINE_FAILED;
            if (!steps)
                result = level ? ECHO_SDA_HELD_LOW : ECHO_SDA_STUCK_HIGH;
            longest = steps > longest ? steps : longest;
            shortest = steps < shortest ? steps : shortest;
        }
    lines->measuredAtMs = LinesNow(lines);
    if (result == ECHO_OK && longest > StepsFor(plan, ECHO_LIMIT_MS))
        result = ECHO_TOO_SLOW;
    if (result == ECHO_OK) {
        int32_t bound = longest + (longest + 3) / 4 + (longest - shortest);
        plan->boundSettle = bound > plan->boundSettle ? bound : plan->boundSettle;
        plan->settle = plan->boundSettle;
    }
    // Idle again: SDA released before SCL rises, so the bus sees no condition.
    if (!PlanSwitch(plan, LINE_SDA_OUT, 1) || !PlanSwitch(plan, LINE_SCL_OUT, 1) || !PlanRun(plan))
        return ECHO_LINE_FAILED;
    return result;
}
