// Numbered windows, placement, events and focus movement.
#include <gtest/gtest.h>

#include "tests/support/toolkit_fixture.h"
#include "toolkit/registry.h"
#include "toolkit/window.h"

namespace {

constexpr DWORD kStyleBits = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MAXIMIZE | WS_THICKFRAME |
                             WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

class Windows : public ToolkitTest {
protected:
    static HWND Window(int32_t number) { return GetNumberedWindowHandle(number); }
    static DWORD Style(HWND window) { return GetWindowLongA(window, GWL_STYLE) & kStyleBits; }
    // Waits until WaitEvent returns the wanted code; fails after a bound.
    static bool WaitFor(int32_t wanted)
    {
        for (int i = 0; i < 200; ++i) {
            if (WaitEvent() == wanted)
                return true;
        }
        return false;
    }
    static HWND Button(HWND parent, int id, DWORD extra = WS_TABSTOP)
    {
        return CreateWindowExA(0, "BUTTON", "b", WS_CHILD | WS_VISIBLE | extra, 10, 10 + 30 * id, 60, 25,
                               parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleA(nullptr), nullptr);
    }
};

TEST_F(Windows, TesterFlagsGiveAFixedCentredWindowWithExactClientArea)
{
    ASSERT_GT(CreateNumberedWindow(0, 219, 58, 630, 499, 0xC80001, "title"), 0);
    HWND window = Window(0);
    ASSERT_TRUE(window);
    EXPECT_EQ(GetCurrentWindowHandle(), window);
    EXPECT_EQ(Style(window), static_cast<DWORD>(WS_VISIBLE | WS_CAPTION | WS_SYSMENU));
    RECT client, outer;
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    EXPECT_EQ(client.right - client.left, 630);
    EXPECT_EQ(client.bottom - client.top, 499);
    int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(outer.left, CentreOnScreen(screenW, outer.right - outer.left));
    EXPECT_EQ(outer.top, CentreOnScreen(screenH, outer.bottom - outer.top));
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    EXPECT_STREQ(className, "WindowClass_0");
    WNDCLASSA info;
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_0", &info));

    CloseNumberedWindow(0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Window(0), nullptr);
    // The per-window class goes with its window.
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_0", &info));
}

TEST_F(Windows, FlagTableDecidesStyleVisibilityAndPlacement)
{
    ASSERT_GT(CreateNumberedWindow(1, 40, 50, 500, 400, 0, "plain"), 0);
    EXPECT_EQ(Style(Window(1)), static_cast<DWORD>(WS_VISIBLE | WS_CAPTION));
    RECT outer;
    GetWindowRect(Window(1), &outer);
    EXPECT_EQ(outer.left, 40);   // no placement mode: x and y are the outer corner
    EXPECT_EQ(outer.top, 50);

    ASSERT_GT(CreateNumberedWindow(2, 0, 0, 200, 100, WF_HIDDEN, "hidden"), 0);
    EXPECT_EQ(Style(Window(2)), static_cast<DWORD>(WS_CAPTION));
    EXPECT_FALSE(IsWindowVisible(Window(2)));

    ASSERT_GT(CreateNumberedWindow(3, 0, 0, 200, 100, WS_MAXIMIZE, "max"), 0);
    EXPECT_TRUE(IsWindowVisible(Window(3)));
    EXPECT_TRUE(IsZoomed(Window(3)));
    // A style bit of its own asks for no caption (the platform adds one to
    // every top-level window anyway, so only the request shows it).
    int placement = -1;
    EXPECT_EQ(WindowStyleFromFlags(WS_MAXIMIZE, &placement), static_cast<DWORD>(WS_VISIBLE | WS_MAXIMIZE));

    // Centred on the active window.
    HWND owner = Window(1);
    SetActiveWindow(owner);
    ASSERT_EQ(GetActiveWindow(), owner);
    ASSERT_GT(CreateNumberedWindow(4, 0, 0, 300, 160, 3, "centred"), 0);
    RECT r, o, c;
    GetWindowRect(owner, &o);
    GetWindowRect(Window(4), &r);
    GetClientRect(Window(4), &c);
    EXPECT_EQ(c.right, 300);
    EXPECT_EQ(c.bottom, 160);
    RECT asked = {0, 0, 300, 160};
    AdjustWindowRect(&asked, WS_CAPTION, FALSE);
    EXPECT_EQ(r.left, CentreOnWindow(o.left, o.right, asked.right - asked.left));
    EXPECT_EQ(r.top, CentreOnWindow(o.top, o.bottom, asked.bottom - asked.top));
}

TEST(Placement, CentringArithmetic)
{
    EXPECT_EQ(CentreOnScreen(1024, 636), 194);
    EXPECT_EQ(CentreOnScreen(1024, 1100), 0);   // wider than the screen: at the left edge
    EXPECT_EQ(CentreOnScreen(768, 525), 384 - 262);
    EXPECT_EQ(CentreOnWindow(100, 500, 200), 200);
    EXPECT_EQ(CentreOnWindow(0, 100, 400), 0);   // never negative
}

TEST_F(Windows, ReusingANumberClosesTheOldWindowFirst)
{
    ASSERT_GT(CreateNumberedWindow(0, 0, 0, 100, 100, 0, "first"), 0);
    HWND first = Window(0);
    HWND child = Button(first, 1);
    ASSERT_GT(CreateNumberedWindow(0, 0, 0, 100, 100, 0, "second"), 0);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_TRUE(IsWindow(Window(0)));
    EXPECT_NE(Window(0), first);
}

TEST_F(Windows, AnyNumberWindowsAndFailedCreation)
{
    int32_t number = CreateNumberedWindow(ANY_NUMBER, 0, 0, 100, 100, 0, "any");
    EXPECT_FALSE(number >= 0 && number <= 10) << number;
    HWND window = Window(number);
    ASSERT_TRUE(IsWindow(window));
    CloseNumberedWindow(number);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Window(number), nullptr);

    // An owner that is no window makes the platform refuse: 0, number empty.
    HWND bogus = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFF1234));
    EXPECT_EQ(CreateNumberedWindowEx(5, 0, 0, 100, 100, WS_CHILD, "x", bogus), 0);
    EXPECT_EQ(Window(5), nullptr);
}

bool farWindowMade = false;

LRESULT CALLBACK CreateFarWindowOnCreate(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CREATE && !farWindowMade) {
        farWindowMade = true;
        CreateNumberedWindow(400, 0, 0, 50, 50, 0, "inner");
    }
    return CALLBACK_DEFAULT;
}

TEST_F(Windows, CreationOutlivesATableMovedByTheCallbackAndFarNumbersAreRefused)
{
    // The callback sees the new window's creation and creates a far window,
    // which grows (and moves) the window table meanwhile.
    SetWindowCallback(CreateFarWindowOnCreate);
    HWND outer = reinterpret_cast<HWND>(static_cast<intptr_t>(CreateNumberedWindow(2, 0, 0, 100, 100, 0, "o")));
    SetWindowCallback(nullptr);
    ASSERT_TRUE(IsWindow(outer));
    EXPECT_EQ(Window(2), outer);
    EXPECT_TRUE(IsWindow(Window(400)));
    // 0x10000000 + 32 records of the window table's size would wrap a 32-bit size.
    EXPECT_EQ(CreateNumberedWindow(0x10000000, 0, 0, 50, 50, 0, "far"), 0);
    EXPECT_EQ(Window(2), outer);
}

TEST_F(Windows, WaitEventTranslatesMessages)
{
    ASSERT_GT(CreateNumberedWindow(0, 0, 0, 200, 200, 0xC80001, "events"), 0);
    HWND window = Window(0);
    HWND button = Button(window, 42);
    FlushMessages();

    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);   // the close box
    EXPECT_TRUE(WaitFor(EV_CLOSE_REQUEST));
    EXPECT_TRUE(IsWindow(window));   // closing is the application's decision

    PostMessageA(window, WM_COMMAND, MAKEWPARAM(42, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(WaitEvent(), EV_CONTROL);
    EXPECT_EQ(GetEventControl(), 42);

    PostMessageA(window, WM_COMMAND, MAKEWPARAM(77, 0), 0);   // a menu command
    EXPECT_EQ(WaitEvent(), EV_MENU);
    EXPECT_EQ(GetEventControl(), 77);

    PostMessageA(window, WM_USER + 5, 0, 0);   // no event: the message number
    EXPECT_EQ(WaitEvent(), WM_USER + 5);

    // An event raised outside a wait comes with the next wait.
    SendMessageA(window, WM_SIZE, 0, MAKELPARAM(10, 10));
    PostMessageA(window, WM_USER + 6, 0, 0);
    EXPECT_EQ(WaitEvent(), EV_RESIZED);
    PostMessageA(window, WM_USER + 7, 0, 0);
    EXPECT_EQ(WaitEvent(), WM_USER + 7);
    // ... unless FlushMessages drops it.
    SendMessageA(window, WM_MOVE, 0, 0);
    FlushMessages();
    PostMessageA(window, WM_USER + 8, 0, 0);
    EXPECT_EQ(WaitEvent(), WM_USER + 8);
}

LRESULT CALLBACK SwallowClose(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_CLOSE ? 0 : CALLBACK_DEFAULT;
}

int callbackCalls = 0;
LRESULT CALLBACK CountingCallback(HWND, UINT, WPARAM, LPARAM)
{
    ++callbackCalls;
    return CALLBACK_DEFAULT;
}

TEST_F(Windows, ACallbackThatAnswersSuppressesTheEvent)
{
    ASSERT_GT(CreateNumberedWindow(0, 0, 0, 200, 200, 0xC80001, "callback"), 0);
    HWND window = Window(0);
    FlushMessages();
    SetWindowCallback(SwallowClose);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(WaitEvent(), WM_SYSCOMMAND);   // WM_CLOSE was answered: no event
    SetWindowCallback(CountingCallback);
    callbackCalls = 0;
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(WaitEvent(), EV_CLOSE_REQUEST);
    EXPECT_GT(callbackCalls, 0);
    SetWindowCallback(nullptr);
}

class Focus : public Windows {
protected:
    void SetUp() override
    {
        Windows::SetUp();
        ASSERT_GT(CreateNumberedWindow(0, 0, 0, 300, 300, 0xC80001, "focus"), 0);
        window = Window(0);
        SetForegroundWindow(window);
        SetActiveWindow(window);
        first = Button(window, 1);
        plain = Button(window, 2, 0);   // not a tab stop
        second = Button(window, 3);
        third = Button(window, 4);
        FlushMessages();
    }
    HWND window = nullptr, first = nullptr, plain = nullptr, second = nullptr, third = nullptr;
};

TEST_F(Focus, TabAndShiftTabWrapAroundAndStartWithoutAFocusedTabStop)
{
    // From, the move, and where the focus lands; "plain" is no tab stop.
    struct Move {
        HWND from;
        bool next;
        HWND to;
    } moves[] = {
        {first, true, second},  {third, true, first},   {first, false, third}, {third, false, second},
        {window, true, first},  {window, false, third}, {plain, true, plain},  {plain, false, third},
    };
    for (const Move& m : moves) {
        SetFocus(m.from);
        if (m.next)
            FocusNextControl();
        else
            FocusPreviousControl();
        EXPECT_EQ(GetFocus(), m.to) << "from " << m.from << (m.next ? " forward" : " back");
    }
}

}  // namespace
