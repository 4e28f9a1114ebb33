// Faults the real program survives: an adapter pulled out while its port is
// open, every port busy at start, and the chosen port taken by another
// program between the discovery and the open.
#include <gtest/gtest.h>

#include "app/layout.h"
#include "app/texts.h"
#include "tests/support/coupler_client.h"
#include "tests/support/driver.h"

namespace {

constexpr int COM = 6;

class Faults : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach()) << "no virtual coupler: run the suite through scripts/test";
        ASSERT_TRUE(CouplerReset());
    }
    void TearDown() override { CouplerReset(); }

    // Starts the program and waits until it takes messages (after the
    // discovery, or with its warning box up).
    void Start()
    {
        ASSERT_TRUE(tester.Start());
        window = tester.WaitMainWindow();
        ASSERT_TRUE(window);
        editor = WaitTesterTakingMessages(window);
        ASSERT_TRUE(editor);
    }

    HWND Control(int number) { return FindControl(window, number); }

    // Presses a button; true when the program has handled it (and shown no box).
    bool Press(int button)
    {
        PressButton(Control(button));
        return WaitPostedMessagesTaken(editor) && !tester.CurrentMessageBox();
    }

    // Presses a button that must answer with a box; checks it (and, if given,
    // what the open/close button reads meanwhile) and closes it.
    void PressExpectingBox(int button, const char* title, const char* text, const char* openButton = nullptr)
    {
        PressButton(Control(button));
        HWND box = tester.WaitMessageBox(title, 5000);
        ASSERT_TRUE(box) << "no box \"" << title << "\" after button " << button;
        EXPECT_EQ(MessageBoxText(box), text);
        if (openButton) {
            EXPECT_EQ(WindowText(Control(OPEN_BUTTON)), openButton);
        }
        ASSERT_TRUE(PressOk(box));
        ASSERT_TRUE(WaitPostedMessagesTaken(editor));
    }

    void ExpectField(int field, const char* text, COLORREF background)
    {
        EXPECT_TRUE(WaitText(Control(field), text)) << "field " << field << " reads " << WindowText(Control(field));
        EXPECT_TRUE(WaitClientPixel(Control(field), 3, 3, background)) << "field " << field;
    }

    void CloseWindowExpectingCodeZero()
    {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        DWORD code = 99;
        ASSERT_TRUE(tester.WaitExit(&code, 10000)) << "the program did not end";
        EXPECT_EQ(code, 0u);
    }

    TesterProcess tester;
    HWND window = 0;
    HWND editor = 0;
};

TEST_F(Faults, APulledAdapterLeavesEveryButtonAnsweringAndTheProgramEndsCleanly)
{
    ASSERT_TRUE(CouplerPortPresent(COM, true));
    Start();
    ASSERT_TRUE(Press(OPEN_BUTTON));
    ASSERT_EQ(WindowText(Control(OPEN_BUTTON)), texts::CLOSE);
    ASSERT_EQ(CouplerDtr(COM), 1);
    ASSERT_TRUE(CouplerPullInt(COM, true));   // would read 1 if anything answered
    ASSERT_TRUE(CouplerPortVanish(COM, true));
    int64_t changes = CouplerLineChangeCount(COM);

    // The outputs follow the command on screen; nothing reaches the line.
    ASSERT_TRUE(Press(SDA_SWITCH_BUTTON));
    ExpectField(SDA_OUT_FIELD, "0", WHITE);
    ASSERT_TRUE(Press(SCL_SWITCH_BUTTON));
    ExpectField(SCL_OUT_FIELD, "0", WHITE);
    EXPECT_EQ(CouplerLineChangeCount(COM), changes);
    EXPECT_EQ(CouplerDtr(COM), 1);
    // Nothing answers the reads: both show 0.
    ASSERT_TRUE(Press(SDA_READ_BUTTON));
    ExpectField(SDA_IN_FIELD, "0", WHITE);
    ASSERT_TRUE(Press(INT_READ_BUTTON));
    ExpectField(INT_IN_FIELD, "0", WHITE);
    ASSERT_TRUE(Press(SDA_SWITCH_BUTTON));
    ExpectField(SDA_OUT_FIELD, "1", GREEN);

    // Closing works; opening again fails while the adapter is out.
    ASSERT_TRUE(Press(OPEN_BUTTON));
    EXPECT_EQ(WindowText(Control(OPEN_BUTTON)), texts::OPEN);
    PressExpectingBox(OPEN_BUTTON, texts::ERROR_TITLE, texts::OPEN_FAILED);
    EXPECT_EQ(WindowText(Control(OPEN_BUTTON)), texts::OPEN);

    // Put back, the port opens and answers again.
    ASSERT_TRUE(CouplerPortVanish(COM, false));
    ASSERT_TRUE(Press(OPEN_BUTTON));
    ASSERT_TRUE(Press(INT_READ_BUTTON));
    ExpectField(INT_IN_FIELD, "1", RED);

    // Pulled again and left open: the window still closes with code 0.
    ASSERT_TRUE(CouplerPortVanish(COM, true));
    ASSERT_TRUE(Press(SCL_SWITCH_BUTTON));
    CloseWindowExpectingCodeZero();
}

TEST_F(Faults, AllNinePortsBusyAtStartWarnsAndNothingElseGoesWrong)
{
    int64_t changes[10] = {};
    for (int com = 1; com <= 9; ++com) {
        ASSERT_TRUE(CouplerPortPresent(com, true) && CouplerPortBusy(com, true));
        changes[com] = CouplerLineChangeCount(com);
    }
    Start();
    HWND box = tester.WaitMessageBox(texts::WARNING_TITLE, 5000);
    ASSERT_TRUE(box);
    EXPECT_EQ(MessageBoxText(box), texts::NO_PORT_FOUND);
    ASSERT_TRUE(PressOk(box));
    ASSERT_TRUE(WaitPostedMessagesTaken(editor));
    EXPECT_TRUE(ComboItems(Control(PORT_LIST)).empty());
    EXPECT_EQ(ComboSelection(Control(BAUD_LIST)), 7);

    // The ports come free, but the list is made once: opening still fails.
    // (What the other buttons answer without a port: the end-to-end suite.)
    for (int com = 1; com <= 9; ++com)
        ASSERT_TRUE(CouplerPortBusy(com, false));
    PressExpectingBox(OPEN_BUTTON, texts::ERROR_TITLE, texts::OPEN_FAILED);
    EXPECT_EQ(WindowText(Control(OPEN_BUTTON)), texts::OPEN);
    for (int com = 1; com <= 9; ++com)
        EXPECT_EQ(CouplerLineChangeCount(com), changes[com]) << "com" << com << "'s lines were touched";
    CloseWindowExpectingCodeZero();
}

TEST_F(Faults, APortTakenAfterTheDiscoveryFailsToOpenAndReturnsToOpen)
{
    ASSERT_TRUE(CouplerPortPresent(COM, true));
    Start();
    ASSERT_EQ(ComboItems(Control(PORT_LIST)), std::vector<std::string>{"com6"});
    ASSERT_TRUE(CouplerPortBusy(COM, true));   // another program takes it
    int64_t changes = CouplerLineChangeCount(COM);

    // While the box is up, the button already offers closing.
    PressExpectingBox(OPEN_BUTTON, texts::ERROR_TITLE, texts::OPEN_FAILED, texts::CLOSE);
    EXPECT_EQ(WindowText(Control(OPEN_BUTTON)), texts::OPEN);
    EXPECT_EQ(CouplerLineChangeCount(COM), changes) << "the taken port's lines were touched";
    for (int field = SDA_OUT_FIELD; field <= INT_IN_FIELD; ++field)
        ExpectField(field, "0", WHITE);
    PressExpectingBox(SDA_SWITCH_BUTTON, texts::SDA_SWITCH_ERROR_TITLE, texts::PORT_NOT_OPEN);

    // Once the other program lets go, the same button opens it.
    ASSERT_TRUE(CouplerPortBusy(COM, false));
    ASSERT_TRUE(Press(OPEN_BUTTON));
    EXPECT_EQ(WindowText(Control(OPEN_BUTTON)), texts::CLOSE);
    ExpectField(SDA_OUT_FIELD, "1", GREEN);
    EXPECT_EQ(CouplerDtr(COM), 1);
    EXPECT_EQ(CouplerRts(COM), 1);
    CloseWindowExpectingCodeZero();
}

}  // namespace
