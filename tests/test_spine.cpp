// The real program as a user meets it: it starts, opens its window, and ends
// with exit code 0 when the window's close box is used.
#include <gtest/gtest.h>

#include "app/tester.h"
#include "tests/support/driver.h"

namespace {

TEST(Spine, StartsCentredWithTitleAndPanelColourAndClosesWithCodeZero)
{
    TesterProcess tester;
    ASSERT_TRUE(tester.Start("--ignored argument"));
    HWND window = tester.WaitMainWindow();
    ASSERT_TRUE(window) << "the main window did not appear";
    // A start without any serial port warns first; that box is not this test's subject.
    if (HWND box = tester.WaitMessageBox("W A R N U N G", 1500))
        PressOk(box);

    EXPECT_EQ(WindowText(window), "RS232   I2C  Koppler    (Testprogramm)");
    RECT client, outer;
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    EXPECT_EQ(client.right, 630);
    EXPECT_EQ(client.bottom, 499);
    int w = outer.right - outer.left, h = outer.bottom - outer.top;
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) >> 1) - (w >> 1));
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) >> 1) - (h >> 1));
    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX));   // fixed size
    EXPECT_TRUE(style & WS_SYSMENU);
    // The background between and around the panels has the panel colour.
    EXPECT_TRUE(WaitClientPixel(window, 5, 5, RGB(168, 176, 200)));
    EXPECT_TRUE(WaitClientPixel(window, 620, 490, RGB(168, 176, 200)));

    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);   // the close box
    DWORD code = 12345;
    ASSERT_TRUE(tester.WaitExit(&code));
    EXPECT_EQ(code, 0u);
}

}  // namespace
