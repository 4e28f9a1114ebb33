// The virtual coupler's own fault and adapter models, through the serial layer on a virtual port:
// every verdict rests on them. Times are only ever bounded from below; waits are bounded.
#include <windows.h>

#include <gtest/gtest.h>

#include "serial/serial.h"
#include "tools/virtual-coupler/coupler_client.h"

namespace {

constexpr int32_t DSR = 0x20, CTS = 0x10;

double NowMs()
{
    LARGE_INTEGER count, frequency;
    return QueryPerformanceCounter(&count) && QueryPerformanceFrequency(&frequency)
               ? 1000.0 * count.QuadPart / frequency.QuadPart : 0;
}

class Coupler : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach() && CouplerReset() && CouplerPortPresent(3, true)) << "run scripts/test";
        ASSERT_GT(handle = SerialOpen("com3:9600,n,8,1", 0, 1024, 1024), 0);
    }
    void TearDown() override
    {
        int64_t closes = CouplerCloseCount(3);
        if (handle > 0 && SerialClose(handle)) {  // also the close of a vanished port
            EXPECT_EQ(closes + 1, AwaitCloses(closes + 1)) << "every close counts";
        }
        CouplerReset();
    }
    // The close count once it reached count (at most a second), or as it stands then.
    int64_t AwaitCloses(int64_t count)
    {
        for (int i = 0; i < 100 && CouplerCloseCount(3) < count; ++i)
            Sleep(10);
        return CouplerCloseCount(3);
    }
    // Milliseconds until the modem status shows (status & bit) == level, or -1 after limitMs.
    double Until(int32_t bit, int32_t level, double since, double limitMs = 3000)
    {
        for (int32_t status = 0; NowMs() - since < limitMs;)
            if ((status = SerialModemStatus(handle)) >= 0 && (status & bit) == level)
                return NowMs() - since;
        return -1;
    }
    int32_t handle = -1;
};

TEST_F(Coupler, EachFaultAnswersOnDsrAndCts)
{
    const struct { CouplerFaultKind fault; int dtr, dsr, cts; } rows[] = {
    {FAULT_NONE, 1, DSR, 0},          {FAULT_NONE, 0, 0, 0},          {FAULT_SDA_STUCK_LOW, 1, 0, 0},
    {FAULT_SDA_STUCK_HIGH, 0, DSR, 0}, {FAULT_SDA_NOT_WIRED, 1, 0, 0}, {FAULT_INT_STUCK_LOW, 1, DSR, CTS}};
    for (const auto& row : rows) {
        ASSERT_TRUE(CouplerSetFault(3, row.fault) && SerialSetDtr(handle, row.dtr));
        EXPECT_EQ(row.dsr | row.cts, SerialModemStatus(handle) & (DSR | CTS))
            << "fault " << row.fault << " with DTR " << row.dtr << " (DSR 0x20, CTS 0x10)";
    }
}

// A change shows no sooner than its delay (fault delay plus status delay), and then for sure.
TEST_F(Coupler, DelayedChangesShowAfterTheirDelay)
{
    enum Action { DTR_ON, RTS_EDGE, HOLD_SDA, PULL_INT };
    const struct { const char* name; CouplerFaultKind fault; int faultMs, statusDelayMs; Action action;
                   int32_t bit, level; double atLeastMs; } rows[] = {
                {"slow SDA", FAULT_SLOW_SDA, 120, 0, DTR_ON, DSR, DSR, 120},
                {"delayed SCL leak", FAULT_SCL_LEAK, 40, 0, RTS_EDGE, DSR, 0, 40},
                {"status delay, DTR", FAULT_NONE, 0, 80, DTR_ON, DSR, DSR, 80},
                {"status delay, SDA held", FAULT_NONE, 0, 80, HOLD_SDA, DSR, 0, 80},
                {"status delay, INT pulled", FAULT_NONE, 0, 80, PULL_INT, CTS, CTS, 80},
                {"status delay and leak", FAULT_SCL_LEAK, 10, 30, RTS_EDGE, DSR, 0, 40}};
    for (const auto& row : rows) {
        ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true));
        ASSERT_TRUE(SerialSetRts(handle, 0) && SerialSetDtr(handle, row.action != DTR_ON));
        ASSERT_TRUE(CouplerSetFault(3, row.fault, row.faultMs) && CouplerSetAdapter(3, row.statusDelayMs, 0));
        Sleep(200 + row.faultMs + row.statusDelayMs);  // the setting's own changes are old news
        // A 5 ms leak can fall between two samples of a busy machine: another edge then.
        double start = 0, seen = -1;
        for (int edge = 0; edge < 5 && seen < 0 && (edge == 0 || row.action == RTS_EDGE); ++edge) {
            start = NowMs();
            ASSERT_TRUE(row.action == DTR_ON     ? SerialSetDtr(handle, 1)
                        : row.action == RTS_EDGE ? SerialSetRts(handle, !(edge & 1))
                        : row.action == HOLD_SDA ? CouplerHoldSda(3, true)
                                                 : CouplerPullInt(3, true));
            seen = Until(row.bit, row.level, start, row.atLeastMs + 500);
        }
        EXPECT_GE(seen, row.atLeastMs) << row.name << ": the new level after at least so many ms (-1: never)";
        if (row.action == RTS_EDGE) {  // the leak ends
            EXPECT_GE(Until(DSR, DSR, start), row.atLeastMs + 5) << row.name << ": DSR back after the leak";
        }
    }
}

// Requests cost their time and are counted; the adapter pulled after so many fails every later
// one and new opens.
TEST_F(Coupler, RequestsAreCountedCostTheirTimeAndPullTheAdapter)
{
    ASSERT_TRUE(CouplerSetAdapter(3, 0, 15) && CouplerVanishAfter(3, 7));
    int64_t before = CouplerLineRequests(3);
    double start = NowMs();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(SerialSetDtr(handle, i & 1) && SerialModemStatus(handle) >= 0);
    EXPECT_GE(NowMs() - start, 90) << "6 requests of 15 ms each";
    EXPECT_EQ(6, CouplerLineRequests(3) - before) << "3 switches and 3 samples";
    EXPECT_EQ(1, SerialSetRts(handle, 0)) << "request 7 of 7";
    EXPECT_EQ(-1, SerialModemStatus(handle)) << "request 8: the adapter is gone";
    EXPECT_EQ(0, SerialSetDtr(handle, 0)) << "every later request fails";
    Sleep(20);  // the daemon locks the port on its next tick
    int32_t again = SerialOpen("com3:9600,n,8,1", 0, 1024, 1024);
    EXPECT_EQ(-1, again) << "a new open fails";
    if (again > 0)
        SerialClose(again);
}

// Closes are counted with the lines left at them; a close with a reopen right after it is counted
// too, and its drop of DTR and RTS never lands on the lines the new opener switched (the drop after
// a plain close: every close of the end-to-end walks).
TEST_F(Coupler, EveryCloseCountsAndDropsOnlyTheOldLines)
{
    int64_t closes = CouplerCloseCount(3);
    ASSERT_TRUE(SerialSetDtr(handle, 1) && SerialSetRts(handle, 0) && SerialClose(handle));
    EXPECT_EQ(closes + 1, AwaitCloses(closes + 1));
    EXPECT_EQ(1, CouplerLinesAtClose(3)) << "DTR on, RTS off before the close (bit 0 DTR, bit 1 RTS)";
    ASSERT_GT(handle = SerialOpen("com3:9600,n,8,1", 0, 1024, 1024), 0);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(SerialSetDtr(handle, 1) && SerialSetRts(handle, 0) && SerialClose(handle));
        ASSERT_GT(handle = SerialOpen("com3:9600,n,8,1", 0, 1024, 1024), 0);
        ASSERT_TRUE(SerialSetDtr(handle, 0) && SerialSetRts(handle, 1));
    }
    Sleep(30);  // a close too many would show by now
    EXPECT_EQ(closes + 6, AwaitCloses(closes + 6)) << "five quick closes more";
    EXPECT_EQ(0, CouplerDtr(3)) << "DTR as the new opener set it";
    EXPECT_EQ(1, CouplerRts(3)) << "RTS as the new opener set it";
}

// The port's lock is the kernel's: a holder killed while it holds it is
// overtaken at once (its PID still answers while it is a zombie); a live
// holder makes every request, the program's and the client's, give up
// within the wait of half a second instead of spinning.
TEST_F(Coupler, ALockHolderKilledIsOvertakenAndALiveOneBoundsTheWait)
{
    struct Holder {  // the holder is killed however the test ends
        ~Holder() { CouplerHoldPortLock(3, false); }
    } holder;
    ASSERT_TRUE(CouplerHoldPortLock(3, true));
    double start = NowMs();
    EXPECT_EQ(0, SerialSetDtr(handle, 1)) << "the switch fails while the lock is kept";
    double waited = NowMs() - start;
    EXPECT_GE(waited, 400) << "it waited for the holder";
    EXPECT_LT(waited, 3000) << "and gave up";
    EXPECT_FALSE(CouplerHoldSda(3, true)) << "the daemon gives up too";
    ASSERT_TRUE(CouplerHoldPortLock(3, false));
    start = NowMs();
    EXPECT_EQ(1, SerialSetDtr(handle, 1));
    EXPECT_LT(NowMs() - start, 100) << "the killed holder's lock is free at once";
    EXPECT_EQ(1, CouplerDtr(3));
    EXPECT_EQ(DSR, SerialModemStatus(handle) & DSR);
}

}  // namespace
