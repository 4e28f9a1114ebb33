// The toolkit on real windows, for what the running tester cannot show:
// table growth while a creation runs, release of windows, controls and
// fonts, control lists, panel commands posted to the top window, focus moves
// from real keys, and the thread-modal message box.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/driver.h"
#include "toolkit/container.h"
#include "toolkit/controls.h"
#include "toolkit/fonts.h"
#include "toolkit/msgbox.h"
#include "toolkit/toolkit.h"
#include "toolkit/window.h"

namespace {

HWND AsWindow(int32_t handle) { return reinterpret_cast<HWND>(static_cast<intptr_t>(handle)); }
HFONT AsFont(int32_t handle) { return reinterpret_cast<HFONT>(static_cast<intptr_t>(handle)); }

// Takes the thread's messages through the event loop for about ms (a thread
// timer keeps the wait coming back).
void TakeMessages(DWORD ms)
{
    UINT_PTR timer = SetTimer(0, 0, 20, 0);
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms;)
        WaitEvent();
    KillTimer(0, timer);
}

// The toolkit started as the tester starts it; window 0 (630 x 499, centred)
// open as the parent of new controls.
class Toolkit : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ToolkitStart(GetModuleHandleA(0)));
        ASSERT_NE(0, CreateNumberedWindow(0, 219, 58, 630, 499, 0xC80001, "Test"));
        window = StartControlList(GetNumberedWindowHandle(0));
        SetForegroundWindow(window);
        TakeMessages(50);
    }
    void TearDown() override { ToolkitStop(); }
    HWND window = 0;
};

LRESULT CALLBACK MakeFarWindowOnCreate(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CREATE && !GetNumberedWindowHandle(400))
        CreateNumberedWindow(400, 0, 0, 50, 50, WF_HIDDEN, "inner");
    return CALLBACK_DEFAULT;
}

TEST_F(Toolkit, TablesGrowKeepingTheirObjectsAlsoWhenACreationMovesThem)
{
    std::vector<HWND> controls;
    std::vector<HFONT> fonts;
    for (int32_t n = 0; n < 30; ++n)
        controls.push_back(AsWindow(CreateTextControl(n, 0, 0, 5, 5, "")));
    for (int32_t n = 0; n < 10; ++n)
        fonts.push_back(AsFont(FontCreate(n, "Arial", 8 + n)));
    EXPECT_EQ(Pair(ControlTableSize(), FontTableSize()), Pair(30, 10)) << "control and font tables";
    EXPECT_FALSE(GetControlHandle(30) || FontLookup(10)) << "the first spare records name nothing";
    ASSERT_TRUE(CreateTextControl(30, 0, 0, 5, 5, "") && FontCreate(10, "Arial", 20));
    EXPECT_EQ(Pair(ControlTableSize(), FontTableSize()), Pair(60, 40)) << "control and font tables";
    ASSERT_NE(0, CreateTextControl(100, 0, 0, 5, 5, ""));
    EXPECT_EQ(ControlTableSize(), 130);
    // A window whose creation makes a far window, which moves the table meanwhile.
    SetWindowCallback(MakeFarWindowOnCreate);
    HWND outer = AsWindow(CreateNumberedWindow(2, 0, 0, 50, 50, WF_HIDDEN, "outer"));
    SetWindowCallback(0);
    EXPECT_TRUE(IsWindow(outer) && GetNumberedWindowHandle(2) == outer && GetNumberedWindowHandle(400));
    EXPECT_EQ(GetNumberedWindowHandle(0), window);
    for (int32_t n = 0; n < 30; ++n)
        EXPECT_TRUE(GetControlHandle(n) == controls[n] && (n >= 10 || FontHandle(n) == fonts[n])) << n;
}

TEST_F(Toolkit, ClosingAndReusingNumbersReleasesWhatTheyHeld)
{
    HWND first = AsWindow(CreateTextControl(5, 0, 0, 5, 5, "alt"));
    HWND second = AsWindow(CreateButtonControl(5, 0, 0, 5, 5, "neu"));
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(GetControlHandle(5), second);
    CreateContainer(2, 20, 0, 100, 100, 1);
    CreateTextControl(3, 0, 0, 10, 10, "innen");
    ASSERT_NE(0, CreateNumberedWindow(1, 0, 0, 100, 100, 0, "eins"));
    HWND other = GetNumberedWindowHandle(1);
    // Window 0 again: the first one and every control number in it go.
    ASSERT_NE(0, CreateNumberedWindow(0, 0, 0, 100, 100, 0, "zwei"));
    EXPECT_FALSE(IsWindow(window) || GetControlHandle(5) || GetControlHandle(2) || GetControlHandle(3));
    HWND again = GetNumberedWindowHandle(0);
    CloseAllWindows();
    WNDCLASSA info;
    EXPECT_FALSE(IsWindow(again) || IsWindow(other));
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(0), "WindowClass_0", &info)) << "the window's class stays";

    // A font number reused: the old font goes (the shutdown's release is
    // proven on the running tester).
    HFONT font = AsFont(FontCreate(5, "Arial", 9));
    HFONT bold = AsFont(FontCreateStyled(5, "Arial", 12, FONT_STYLE_BOLD));
    EXPECT_EQ(Pair(GetObjectType(font), FontHandle(5) == bold), Pair(0, 1)) << "the old font's type, the new one kept";
}

TEST_F(Toolkit, ControlListsNestAndPanelCommandsArePostedToTheTopWindow)
{
    HWND outer = AsWindow(CreateContainer(0, 30, 30, 570, 140, CONTAINER_BORDER));
    HWND inner = AsWindow(CreateContainer(1, 200, 10, 300, 100, CONTAINER_STATICEDGE | CONTAINER_CLIENTEDGE));
    HWND deep = AsWindow(CreateButtonControl(3, 5, 6, 80, 25, "tief"));
    CloseControlList();
    HWND middle = AsWindow(CreateTextControl(4, 15, 20, 100, 20, "innen"));
    CloseControlList();
    CloseControlList();   // no list open: the parent stays
    HWND top = AsWindow(CreateTextControl(6, 30, 200, 100, 20, "aussen"));
    EXPECT_TRUE(GetParent(outer) == window && GetParent(inner) == outer && GetParent(deep) == inner &&
                GetParent(middle) == outer && GetParent(top) == window);
    RECT r;
    GetWindowRect(deep, &r);
    MapWindowPoints(0, inner, reinterpret_cast<POINT*>(&r), 1);
    EXPECT_EQ(Pair(r.left, r.top), Pair(5, 6)) << "placed in the container's client area";
    EXPECT_TRUE(GetWindowLongA(outer, GWL_STYLE) & WS_BORDER);
    // A click in a panel reaches the top window posted, after the click is over.
    SendMessageA(deep, BM_CLICK, 0, 0);
    MSG posted = {};
    ASSERT_TRUE(PeekMessageA(&posted, window, WM_COMMAND, WM_COMMAND, PM_NOREMOVE)) << "no command queued";
    const int32_t event = WaitEvent();
    EXPECT_EQ(Pair(event, GetEventControl()), Pair(0x332C, 3)) << "the event (a control acted) and its control";
    EXPECT_EQ(GetWindowLongA(inner, GWL_EXSTYLE) & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE), WS_EX_STATICEDGE);
}

TEST_F(Toolkit, TabAndShiftTabMoveAroundTheTabStopsButATabInTheEditorIsTyped)
{
    HWND first = AsWindow(CreateButtonControl(5, 30, 400, 100, 25, "vorher"));
    CreateContainer(0, 30, 30, 570, 290, 1);
    HWND button = AsWindow(CreateButtonControl(9, 40, 50, 120, 30, "SDA   on/off"));
    HWND editor = AsWindow(CreateEditor(17, 330, 20, 200, 100));
    HWND last = AsWindow(CreateButtonControl(10, 40, 100, 120, 30, "zwei"));
    SetWindowLongA(editor, GWL_STYLE, GetWindowLongA(editor, GWL_STYLE) | WS_TABSTOP);
    struct Move {
        HWND from;
        bool shift;
        HWND to;
    } moves[] = {{first, false, button}, {last, false, first}, {first, true, last},
                 {last, true, editor},   {editor, false, editor}, {editor, true, button}};
    for (const Move& m : moves) {
        SetFocus(m.from);
        if (m.shift)
            keybd_event(VK_SHIFT, 0, 0, 0);
        keybd_event(VK_TAB, 0, 0, 0);
        keybd_event(VK_TAB, 0, KEYEVENTF_KEYUP, 0);
        if (m.shift)
            keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
        TakeMessages(150);
        EXPECT_EQ(GetFocus(), m.to) << GetWindowLongA(m.from, GWL_ID) << (m.shift ? " back" : " on");
    }
    EXPECT_EQ(GetControlText(17), "\t");
}

HWND MakeWindow(bool visible, bool enabled = true)
{
    HWND w = CreateWindowExA(0, "STATIC", "w", WS_OVERLAPPED | (visible ? WS_VISIBLE : 0), 0, 0, 99, 50, 0, 0, 0, 0);
    EnableWindow(w, enabled);
    return w;
}

// Which windows are enabled, one digit each.
std::string Enabled(std::initializer_list<HWND> windows)
{
    std::string digits;
    for (HWND w : windows)
        digits += IsWindowEnabled(w) ? '1' : '0';
    return digits;
}

TEST_F(Toolkit, ABoxDisablesExactlyItsThreadsOtherWindowsAndEnablesThemAgain)
{
    // The foreground window owns the box; hidden and disabled ones are left
    // alone. A helper thread looks while the boxes are up and answers them.
    HWND w1 = MakeWindow(true), hidden = MakeWindow(false), disabled = MakeWindow(true, false), w4 = MakeWindow(true);
    SetForegroundWindow(window);
    std::thread helper([&] {
        HWND box = 0;   // waited for at most 3 s; any other box is answered all the same
        for (int i = 0; i < 150 && !(box = FindWindowA("#32770", "H I N W E I S")); ++i)
            Sleep(20);
        EXPECT_TRUE(box) << "no box";
        box = box ? box : FindWindowA("#32770", 0);
        EXPECT_EQ(GetWindow(box, GW_OWNER), window);
        EXPECT_EQ(Enabled({w1, hidden, disabled, w4}), "0100") << "while the box is up";
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(ShowMessageBoxOk("H I N W E I S", "Nachricht"), 1);
    helper.join();
    EXPECT_EQ(DisabledWindowCount(), 0) << "windows still listed for the thread";
    EXPECT_EQ(Enabled({window, w1, hidden, disabled, w4}), "11101") << "after the box";
    EXPECT_FALSE(IsWindowVisible(hidden));
    for (HWND w : {w1, hidden, disabled, w4})
        DestroyWindow(w);
}

}  // namespace
