// The line engine's planned runs, for ports that take a whole run of steps at
// once (LinePort::batch, e.g. an FTDI chip in synchronous bit-bang mode): the
// master plans a transfer's switches and samples, and the plan runs when an
// answer decides what comes next (a slave's acknowledge, the idle check after
// a STOP). Bytes read are filled in when their plan has run.
//
// Time is counted in pin steps here: every step holds both outputs for one
// pin period, which the port keeps at or above the standard-mode minimum
// times; a sample is the level at the end of a step, and a sample is taken
// only once `settle` steps have passed since SDA may last have moved (SDA
// released, or SCL fallen), the coupler's own delay measured at the job's
// start as the echo is on the serial path.
#pragma once

#include <stdint.h>

#include <vector>

#include "line/lines.h"

struct LinePlan {
    Lines* lines = nullptr;      // nullptr: the master works request by request
    int32_t settle = 0;          // steps from a move of SDA to a sample
    int32_t boundSettle = 0;     // the largest settle measured in this job
    int level[2] = {-1, -1};     // the outputs at the end of the plan
    int32_t sinceMoved = 0;      // steps since SDA may last have moved, at the end of the plan
    std::vector<LineStep> steps;
    std::vector<int32_t> answers;
    struct Into {
        uint8_t* byte;
        uint8_t mask;
        int32_t step;
    };
    std::vector<Into> into;      // bits of bytes read, filled from the answers of their steps
    int64_t runs = 0, stepsRun = 0;
};

// True where the port runs batches.
bool PlanPossible(const Lines* lines);
// Starts planning on the engine (open on a port with batches); the levels
// are taken from the engine. Nothing is sent yet.
void PlanOpen(LinePlan* plan, Lines* lines);
// Plans a switch (none where the line already has the level).
bool PlanSwitch(LinePlan* plan, LineOutput line, int level);
// Plans a sample of SDA into one bit of a byte, set or cleared when the plan
// has run.
bool PlanSampleInto(LinePlan* plan, uint8_t* byte, uint8_t mask);
// Runs the plan with a sample of SDA at its end: 1 or 0, -1 on failure.
int PlanSda(LinePlan* plan);
// The same sample once more, after twice the settle time since SDA moved:
// 1 when it still reads level, 0 when not, -1 on failure.
int PlanConfirm(LinePlan* plan, int level);
// Runs what is planned; false once the engine failed or was stopped.
bool PlanRun(LinePlan* plan);

// Measures the settle time in steps, with SCL held low (the bus sees no
// condition): rounds of SDA low and high, each sampled at every step until
// DSR follows twice in a row. The settle used is the slowest round with a
// quarter on top plus the rounds' spread, never below an earlier measurement
// of the job. The lines are idle before and after. afterActivity: the wire
// is left alone for twice the echo limit before the rounds.
EchoResult PlanMeasure(LinePlan* plan, bool afterActivity = false);
