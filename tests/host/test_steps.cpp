// The check's automatic steps on the bus model in this process, on a clock
// that preemptions jump forward at random requests: a coupler whose SCL leaks
// into SDA, or whose SDA follows too late, is never passed, a good one never
// failed; a busy PC may only make the check refuse.
#include <gtest/gtest.h>

#include <random>

#include "console/check_steps.h"
#include "tools/virtual-coupler/bus_port.h"

namespace {

TEST(Steps, APreemptionMakesTheCheckRepeatOrRefuseNeverJudgeWrong)
{
    const struct {
        const char* coupler;
        double lateMs, costMs, leakAfterMs;
        int leakSda, faultStep;  // the first step that may fail (a slow SDA fails step 3 too); 0: a good coupler
    } cases[] = {
        {"good, fast port", 0, 0.05, -1, -1, 0},
        {"good, USB adapter late by 16 ms", 16, 1, -1, -1, 0},
        {"good, DSR follows after 45 ms", 45, 1, -1, -1, 0},
        {"leak at once, fast port", 0, 0.05, 0, -1, 3},
        {"leak after 3 ms only with SDA driven, fast port", 0, 0.05, 3, 0, 3},
        {"leak after 3 ms, USB adapter late by 16 ms", 16, 1, 3, -1, 3},
        {"DSR follows after 55 ms", 55, 1, -1, -1, 2},
    };
    for (const auto& c : cases) {
        int verdicts = 0, refused = 0;
        for (uint32_t seed = 0; seed < 120; seed++) {
            SCOPED_TRACE(std::string(c.coupler) + ", seed " + std::to_string(seed));
            // A quarter of the runs preempted after every switch, the rest after some or none; any
            // request now and then, inside or after it.
            std::mt19937 random(seed);
            auto chance = [&](double p) { return std::uniform_real_distribution<>(0, 1)(random) < p; };
            double afterSwitch = (seed % 4) / 3.0, any = seed % 3 * 0.002;
            BusPort port;
            port.costMs = c.costMs, port.leakAfterMs = c.leakAfterMs, port.leakSda = c.leakSda, port.lateMs = {c.lateMs};
            port.preempt = [&](int what, bool ends) {
                bool hit = (ends && what >= 0 && chance(afterSwitch)) || chance(any);
                return hit ? std::uniform_real_distribution<>(0, 40)(random) : 0.0;
            };
            Lines lines{};
            LinesOpen(&lines, port.Port());
            ASSERT_TRUE(LinesSwitch(&lines, LINE_SDA_OUT, 1) && LinesSwitch(&lines, LINE_SCL_OUT, 1));
            SettleTimes settle = {0, 0, 0, 0};
            StepOutcome heaviest = STEP_OK;
            for (int step = 0; step < AUTOMATIC_STEPS; step++) {
                StepResult result;
                RunStep(&lines, step, 1, &settle, &result);
                heaviest = std::max(heaviest, result.outcome);
                EXPECT_TRUE(result.outcome != STEP_FAILED || (c.faultStep && step + 1 >= c.faultStep)) << result.read;
                // A late DSR is told from a cut one: it still follows, and the chain is named slow.
                if (step == 1 && result.outcome == STEP_FAILED) {
                    EXPECT_TRUE(result.read.find("erst nach 5") != std::string::npos && result.cause) << result.read;
                }
            }
            EXPECT_TRUE(c.faultStep == 0 || heaviest != STEP_OK);
            verdicts += heaviest != STEP_DISTURBED, refused += heaviest == STEP_DISTURBED;
        }
        // Runs left alone judge; of a good coupler, the ones preempted after every switch refuse.
        EXPECT_TRUE(verdicts >= 20 && (c.faultStep || refused >= 3)) << c.coupler << ": " << verdicts << " judged";
    }
}

TEST(Steps, TheLinesAnotherProgramLeftBeforeTheOpenAreNeverTakenForTheCouplers)
{
    // The port was closed by another program with SDA released, the driver dropping the lines
    // a few ms before this open; behind an adapter 16 ms late the first samples show that.
    for (double dropBeforeMs : {0.5, 3.0, 8.0, 15.0}) {
        BusPort port;
        port.costMs = 1, port.lateMs = {16};
        port.history = {{-100, LINE_SDA_IN}, {-dropBeforeMs, 0}};
        port.shownMs = -100;
        Lines lines{};
        LinesOpen(&lines, port.Port());
        ASSERT_TRUE(LinesSwitch(&lines, LINE_SDA_OUT, 1) && LinesSwitch(&lines, LINE_SCL_OUT, 1));
        SettleTimes settle = {0, 0, 0, 0};
        for (int step = 0; step < AUTOMATIC_STEPS; step++) {
            StepResult result;
            RunStep(&lines, step, 2, &settle, &result);
            EXPECT_EQ(STEP_OK, result.outcome) << dropBeforeMs << " ms: " << result.label << " " << result.read;
        }
        EXPECT_GE(settle.min, 16) << dropBeforeMs;
    }
}

}  // namespace
