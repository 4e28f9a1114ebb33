// Faults the real program survives: an adapter pulled out while its port is
// open, every port busy at start, and the chosen port taken by another
// program between the discovery and the open.
#include <gtest/gtest.h>

#include "app/layout.h"
#include "app/texts.h"
#include "tests/support/coupler_client.h"
#include "tests/support/driver.h"
#include "tests/support/tester_session.h"

namespace {

constexpr int COM = 6;

using Faults = TesterSession;

TEST_F(Faults, APulledAdapterLeavesEveryButtonAnsweringAndTheProgramEndsCleanly)
{
    Launch({COM});
    ASSERT_TRUE(Press(OPEN_BUTTON));
    ASSERT_EQ(Text(OPEN_BUTTON), texts::CLOSE);
    ASSERT_EQ(CouplerDtr(COM), 1);
    ASSERT_TRUE(CouplerPullInt(COM, true));   // would read 1 if anything answered
    ASSERT_TRUE(CouplerPortVanish(COM, true));
    int64_t changes = CouplerLineChangeCount(COM);

    // The outputs follow the command on screen; nothing reaches the line.
    ASSERT_TRUE(Press(SDA_SWITCH_BUTTON));
    EXPECT_TRUE(FieldShows(SDA_OUT_FIELD, "0", WHITE));
    ASSERT_TRUE(Press(SCL_SWITCH_BUTTON));
    EXPECT_TRUE(FieldShows(SCL_OUT_FIELD, "0", WHITE));
    EXPECT_EQ(CouplerLineChangeCount(COM), changes);
    EXPECT_EQ(CouplerDtr(COM), 1);
    // Nothing answers the reads: both show 0.
    ASSERT_TRUE(Press(SDA_READ_BUTTON));
    EXPECT_TRUE(FieldShows(SDA_IN_FIELD, "0", WHITE));
    ASSERT_TRUE(Press(INT_READ_BUTTON));
    EXPECT_TRUE(FieldShows(INT_IN_FIELD, "0", WHITE));
    ASSERT_TRUE(Press(SDA_SWITCH_BUTTON));
    EXPECT_TRUE(FieldShows(SDA_OUT_FIELD, "1", GREEN));

    // Closing works; opening again fails while the adapter is out.
    ASSERT_TRUE(Press(OPEN_BUTTON));
    EXPECT_EQ(Text(OPEN_BUTTON), texts::OPEN);
    PressExpectingBox(OPEN_BUTTON, texts::ERROR_TITLE, texts::OPEN_FAILED);
    EXPECT_EQ(Text(OPEN_BUTTON), texts::OPEN);

    // Put back, the port opens and answers again.
    ASSERT_TRUE(CouplerPortVanish(COM, false));
    ASSERT_TRUE(Press(OPEN_BUTTON));
    ASSERT_TRUE(Press(INT_READ_BUTTON));
    EXPECT_TRUE(FieldShows(INT_IN_FIELD, "1", RED));

    // Pulled again and left open: the window still closes with code 0.
    ASSERT_TRUE(CouplerPortVanish(COM, true));
    ASSERT_TRUE(Press(SCL_SWITCH_BUTTON));
    CloseExpectingCodeZero();
}

TEST_F(Faults, AllNinePortsBusyAtStartWarnsAndNothingElseGoesWrong)
{
    int64_t changes[10] = {};
    for (int com = 1; com <= 9; ++com) {
        ASSERT_TRUE(CouplerPortPresent(com, true) && CouplerPortBusy(com, true));
        changes[com] = CouplerLineChangeCount(com);
    }
    Launch({});
    AnswerBox(texts::WARNING_TITLE, texts::NO_PORT_FOUND);
    EXPECT_TRUE(ComboItems(Control(PORT_LIST)).empty());
    EXPECT_EQ(ComboSelection(Control(BAUD_LIST)), 7);

    // The ports come free, but the list is made once: opening still fails.
    // (What the other buttons answer without a port: the end-to-end suite.)
    for (int com = 1; com <= 9; ++com)
        ASSERT_TRUE(CouplerPortBusy(com, false));
    PressExpectingBox(OPEN_BUTTON, texts::ERROR_TITLE, texts::OPEN_FAILED);
    EXPECT_EQ(Text(OPEN_BUTTON), texts::OPEN);
    for (int com = 1; com <= 9; ++com)
        EXPECT_EQ(CouplerLineChangeCount(com), changes[com]) << "com" << com << "'s lines were touched";
    CloseExpectingCodeZero();
}

TEST_F(Faults, APortTakenAfterTheDiscoveryFailsToOpenAndReturnsToOpen)
{
    Launch({COM});
    ASSERT_EQ(ComboItems(Control(PORT_LIST)), std::vector<std::string>{"com6"});
    ASSERT_TRUE(CouplerPortBusy(COM, true));   // another program takes it
    int64_t changes = CouplerLineChangeCount(COM);

    // While the box is up, the button already offers closing.
    PressExpectingBox(OPEN_BUTTON, texts::ERROR_TITLE, texts::OPEN_FAILED, texts::CLOSE);
    EXPECT_EQ(Text(OPEN_BUTTON), texts::OPEN);
    EXPECT_EQ(CouplerLineChangeCount(COM), changes) << "the taken port's lines were touched";
    for (int field = SDA_OUT_FIELD; field <= INT_IN_FIELD; ++field)
        EXPECT_TRUE(FieldShows(field, "0", WHITE));
    PressExpectingBox(SDA_SWITCH_BUTTON, texts::SDA_SWITCH_ERROR_TITLE, texts::PORT_NOT_OPEN);

    // Once the other program lets go, the same button opens it.
    ASSERT_TRUE(CouplerPortBusy(COM, false));
    ASSERT_TRUE(Press(OPEN_BUTTON));
    EXPECT_EQ(Text(OPEN_BUTTON), texts::CLOSE);
    EXPECT_TRUE(FieldShows(SDA_OUT_FIELD, "1", GREEN));
    EXPECT_EQ(CouplerDtr(COM), 1);
    EXPECT_EQ(CouplerRts(COM), 1);
    CloseExpectingCodeZero();
}

}  // namespace
