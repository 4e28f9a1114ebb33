#include "tests/support/tester_session.h"

#include "app/layout.h"
#include "tests/support/coupler_client.h"

void TesterSession::SetUp()
{
    ASSERT_TRUE(CouplerAttach()) << "no virtual coupler: run the suite through scripts/test";
    ASSERT_TRUE(CouplerReset());
}

void TesterSession::TearDown()
{
    if (window && IsWindow(window)) {
        if (HWND box = tester.CurrentMessageBox())
            PressOk(box);
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        DWORD code = 0;
        tester.WaitExit(&code, 5000);
    }
    CouplerReset();
}

void TesterSession::Launch(const std::vector<int>& ports)
{
    for (int com : ports)
        ASSERT_TRUE(CouplerPortPresent(com, true));
    ASSERT_TRUE(tester.Start());
    window = tester.WaitMainWindow();
    ASSERT_TRUE(window) << "the main window did not appear";
    editor = WaitTesterTakingMessages(window);
    ASSERT_TRUE(editor) << "the start-up did not end";
    SetForegroundWindow(window);
}

void TesterSession::Push(int button)
{
    if (mouseClicks)
        Click(Control(button));
    else
        PressButton(Control(button));
}

bool TesterSession::Press(int button)
{
    Push(button);
    return (mouseClicks || WaitPostedMessagesTaken(editor)) && !tester.CurrentMessageBox();
}

void TesterSession::PressExpectingBox(int button, const std::string& title, const std::string& text,
                                      const char* openButtonMeanwhile)
{
    Push(button);
    AnswerBox(title, text, openButtonMeanwhile);
}

void TesterSession::AnswerBox(const std::string& title, const std::string& text, const char* openButtonMeanwhile)
{
    HWND box = tester.WaitMessageBox(title, 5000);
    ASSERT_TRUE(box) << "no box \"" << title << "\"";
    EXPECT_EQ(MessageBoxText(box), text);
    if (openButtonMeanwhile) {
        EXPECT_EQ(Text(OPEN_BUTTON), openButtonMeanwhile);
    }
    ASSERT_TRUE(PressOk(box));
    ASSERT_TRUE(WaitPostedMessagesTaken(editor));
}

::testing::AssertionResult TesterSession::FieldShows(int field, const std::string& text, COLORREF background)
{
    HWND control = Control(field);
    if (!WaitText(control, text))
        return ::testing::AssertionFailure() << "field " << field << " reads \"" << WindowText(control) << "\"";
    if (!WaitClientPixel(control, 3, 3, background))
        return ::testing::AssertionFailure() << "field " << field << " shows colour 0x" << std::hex
                                             << ClientPixel(control, 3, 3);
    return ::testing::AssertionSuccess();
}

void TesterSession::CloseExpectingCodeZero()
{
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 99;
    ASSERT_TRUE(tester.WaitExit(&code, 10000)) << "the program did not end";
    EXPECT_EQ(code, 0u);
    window = 0;
}
