// The virtual coupler itself, as far as other suites rely on it: its line
// change record and its reset between tests.
#include <gtest/gtest.h>

#include <windows.h>

#include "serial/serial.h"
#include "tests/support/coupler_client.h"

namespace {

constexpr int COM = 5;
const char* const SETTINGS = "com5:9600,n,8,1";

class CouplerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(CouplerAttach()) << "no virtual coupler: run the suite through scripts/test";
    }
    void SetUp() override { ASSERT_TRUE(CouplerReset()); }
    void TearDown() override
    {
        if (handle > 0)
            SerialClose(handle);
        CouplerReset();
    }
    int32_t handle = -1;
};

int64_t Now()
{
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return ticks.QuadPart;
}

TEST_F(CouplerTest, LineChangesAreCountedAndStampedOnThePerformanceClock)
{
    ASSERT_TRUE(CouplerPortPresent(COM, true));
    handle = SerialOpen(SETTINGS, 0, 1024, 1024);
    ASSERT_GT(handle, 0);
    ASSERT_NE(SerialSetDtr(handle, 0), 0);
    int64_t count = CouplerLineChangeCount(COM);

    int64_t before = Now();
    ASSERT_NE(SerialSetDtr(handle, 1), 0);
    int64_t after = Now();
    int64_t stamp = CouplerLastLineChange(COM);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(CouplerLineChangeCount(COM), count + 1);

    ASSERT_NE(SerialSetDtr(handle, 1), 0);
    EXPECT_EQ(CouplerLineChangeCount(COM), count + 1) << "setting a line that is on changes nothing";
    EXPECT_EQ(CouplerLastLineChange(COM), stamp);
    ASSERT_NE(SerialSetRts(handle, 1), 0);
    EXPECT_EQ(CouplerLineChangeCount(COM), count + 2);
}

TEST_F(CouplerTest, ResetMakesPortsAbsentAndClearsEveryFault)
{
    ASSERT_TRUE(CouplerPortPresent(COM, true));
    ASSERT_TRUE(CouplerPortBusy(COM, true));
    ASSERT_TRUE(CouplerHoldSda(COM, true));
    ASSERT_TRUE(CouplerPullInt(COM, true));
    ASSERT_TRUE(CouplerReset());
    EXPECT_EQ(SerialOpen(SETTINGS, 0, 1024, 1024), -1) << "absent after a reset";

    ASSERT_TRUE(CouplerPortPresent(COM, true));
    handle = SerialOpen(SETTINGS, 0, 1024, 1024);
    ASSERT_GT(handle, 0) << "no longer busy";
    ASSERT_NE(SerialSetDtr(handle, 1), 0);
    EXPECT_EQ(SerialGetDsr(handle), 1) << "SDA released";
    EXPECT_EQ(SerialGetCts(handle), 0) << "INT released";
}

TEST_F(CouplerTest, RequestsForPortsItDoesNotHaveAreRefused)
{
    EXPECT_FALSE(CouplerPortPresent(21, true));
    EXPECT_FALSE(CouplerHoldSda(0, true));
    EXPECT_EQ(CouplerDtr(33), -1);
}

}  // namespace
