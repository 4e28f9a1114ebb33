// The toolkit on real windows, for what the running tester cannot show:
// placement of other window sizes, table growth and its limits, release of
// windows, controls and fonts, control lists and a container the platform
// refuses, the editor's lines, focus moves from real keys, and the
// thread-modal message box across threads.
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/driver.h"
#include "toolkit/container.h"
#include "toolkit/controls.h"
#include "toolkit/fonts.h"
#include "toolkit/msgbox.h"
#include "toolkit/window.h"

namespace {

HWND AsWindow(int32_t handle) { return reinterpret_cast<HWND>(static_cast<intptr_t>(handle)); }
HFONT AsFont(int32_t handle) { return reinterpret_cast<HFONT>(static_cast<intptr_t>(handle)); }

// Every WaitEvent code for about ms (a thread timer keeps the wait coming
// back; its ticks are left out).
std::vector<int32_t> Events(DWORD ms)
{
    UINT_PTR timer = SetTimer(0, 0, 20, 0);
    std::vector<int32_t> events;
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms;)
        if (int32_t event = WaitEvent(); event != WM_TIMER)
            events.push_back(event);
    KillTimer(0, timer);
    return events;
}

void PressTab(bool shift)
{
    std::vector<INPUT> inputs;
    for (WORD key : {WORD(VK_SHIFT), WORD(VK_TAB), WORD(VK_TAB), WORD(VK_SHIFT)}) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = inputs.size() >= (shift ? 2u : 1u) ? KEYEVENTF_KEYUP : 0;
        if (key == VK_TAB || shift)
            inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Events(150);
}

// The toolkit started as the tester starts it; window 0 (630 x 499, centred)
// open as the parent of new controls.
class Toolkit : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetToolkitInstance(GetModuleHandleA(0));
        ASSERT_TRUE(RuntimeHeapCreate() && CreateListHeap() && FontTableInit() && InitWindowModule());
        InitControlModule();
        InitControlLists();
        ASSERT_NE(0, CreateNumberedWindow(0, 219, 58, 630, 499, 0xC80001, "Test"));
        window = StartControlList(GetNumberedWindowHandle(0));
        SetForegroundWindow(window);
        Events(50);
    }
    void TearDown() override
    {
        CloseAllWindows();
        FontTableShutdown();
        ShutdownWindowModule();
        ShutdownControlModule();
        DestroyListHeap();
        RuntimeHeapDestroy();
    }
    HWND window = 0;
};

TEST_F(Toolkit, WindowFlagsGiveStylePlacementAndExactClientArea)
{
    const DWORD bits = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX;
    RECT owner;
    GetWindowRect(window, &owner);
    struct Case {
        uint32_t flags;
        int width, height;
        DWORD style;
        int placement;   // 0 at (40, 50), 1 centred on the screen, 2 on the active window
    } cases[] = {
        {0xC80001, 631, 500, WS_VISIBLE | WS_CAPTION | WS_SYSMENU, 1}, {0xC80001, 300, 201, WS_VISIBLE | WS_CAPTION | WS_SYSMENU, 1},
        {0, 500, 400, WS_VISIBLE | WS_CAPTION, 0},                     {0x10000000, 200, 100, WS_CAPTION, 0},
        {3, 301, 161, WS_VISIBLE | WS_CAPTION, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags << std::dec << " " << c.width);
        SetActiveWindow(window);
        ASSERT_NE(0, CreateNumberedWindow(1, 40, 50, c.width, c.height, c.flags, "w"));
        HWND w = GetNumberedWindowHandle(1);
        RECT client, r;
        GetClientRect(w, &client);
        GetWindowRect(w, &r);
        EXPECT_EQ(GetWindowLongA(w, GWL_STYLE) & bits, c.style);
        EXPECT_EQ(client.right * 10000 + client.bottom, c.width * 10000 + c.height);
        // Halves taken apart: screen (or owner) half less the window's half.
        int w2 = (r.right - r.left) / 2, h2 = (r.bottom - r.top) / 2;
        POINT at = c.placement == 0   ? POINT{40, 50}
                   : c.placement == 1 ? POINT{GetSystemMetrics(SM_CXSCREEN) / 2 - w2, GetSystemMetrics(SM_CYSCREEN) / 2 - h2}
                                      : POINT{owner.left + (owner.right - owner.left) / 2 - w2,
                                              owner.top + (owner.bottom - owner.top) / 2 - h2};
        EXPECT_EQ(r.left * 10000 + r.top, at.x * 10000 + at.y);
    }
}

LRESULT CALLBACK MakeFarWindowOnCreate(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CREATE && !GetNumberedWindowHandle(400))
        CreateNumberedWindow(400, 0, 0, 50, 50, WF_HIDDEN, "inner");
    return CALLBACK_DEFAULT;
}

TEST_F(Toolkit, TablesGrowKeepingTheirObjectsAndRefuseNumbersTooLargeToHold)
{
    std::vector<HWND> controls;
    std::vector<HFONT> fonts;
    for (int32_t n = 0; n < 30; ++n)
        controls.push_back(AsWindow(CreateTextControl(n, 0, 0, 5, 5, "")));
    for (int32_t n = 0; n < 10; ++n)
        fonts.push_back(AsFont(FontCreate(n, "Arial", 8 + n)));
    EXPECT_EQ(ControlTableSize() * 100 + FontTableSize(), 30 * 100 + 10);
    EXPECT_FALSE(GetControlHandle(30) || FontLookup(10)) << "the first spare records name nothing";
    ASSERT_TRUE(CreateTextControl(30, 0, 0, 5, 5, "") && FontCreate(10, "Arial", 20));
    EXPECT_EQ(ControlTableSize() * 100 + FontTableSize(), 60 * 100 + 40);
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

    // Numbers whose table would pass 4 GiB (and wrap a 32-bit size) are refused.
    EXPECT_EQ(0, CreateTextControl(0x20000000, 0, 0, 5, 5, "") + FontCreate(0x40000000, "Arial", 10) +
                     CreateNumberedWindow(0x10000000, 0, 0, 50, 50, WF_HIDDEN, "far"));
    EXPECT_EQ(ControlTableSize() * 100 + FontTableSize(), 130 * 100 + 40);
    EXPECT_EQ(GetControlHandle(29), controls[29]);

    // Numbers the toolkit chooses lie outside the table and die with their object.
    int32_t any = CreateButtonControl(ANY_NUMBER, 0, 0, 5, 5, "b");
    HWND button = GetControlHandle(any);
    EXPECT_FALSE(any >= 0 && any <= ControlTableSize()) << any;
    FreeControl(any);
    EXPECT_FALSE(IsWindow(button) || GetControlHandle(any));
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

    HFONT font = AsFont(FontCreate(5, "Arial", 9));
    HFONT bold = AsFont(FontCreateStyled(5, "Arial", 12, FONT_STYLE_BOLD));
    EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_EQ(FontHandle(5), bold);
    FontFree(5);
    HFONT kept[2] = {AsFont(FontCreate(1, "Arial", 8)), FontHandle(FontCreate(ANY_NUMBER, "Arial", 8))};
    FontTableShutdown();
    EXPECT_EQ(GetObjectType(bold) | GetObjectType(kept[0]) | GetObjectType(kept[1]), 0u);
    ASSERT_TRUE(FontTableInit());
}

TEST_F(Toolkit, ControlListsNestAndAContainerThatCannotBeMadePushesNothing)
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
    EXPECT_EQ(r.left * 1000 + r.top, 5 * 1000 + 6) << "placed in the container's client area";
    EXPECT_TRUE(GetWindowLongA(outer, GWL_STYLE) & WS_BORDER);
    // A click in a panel reaches the top window posted, after the click is over.
    SendMessageA(deep, BM_CLICK, 0, 0);
    MSG posted = {};
    EXPECT_TRUE(PeekMessageA(&posted, window, WM_COMMAND, WM_COMMAND, PM_NOREMOVE)) << "no command queued for the window";
    const int32_t event = WaitEvent();
    EXPECT_EQ(Pair(event, GetEventControl()), Pair(0x332C, 3)) << "the event (a control acted) and its control";
    EXPECT_EQ(GetWindowLongA(inner, GWL_EXSTYLE) & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE), WS_EX_STATICEDGE);

    // A parent that is no window: the platform refuses, nothing is pushed.
    StartControlList(reinterpret_cast<HWND>(0x7FFF1234));
    EXPECT_EQ(0, CreateContainer(8, 0, 0, 10, 10, 1));
    EXPECT_EQ(ControlListDepth(), 0);
    EXPECT_EQ(GetControlHandle(8), nullptr);
    // The stack holds 45 lists; the 46th container is not made.
    StartControlList(window);
    std::vector<HWND> chain = {window};
    for (int32_t n = 10; n < 55; ++n)
        chain.push_back(AsWindow(CreateContainer(n, 1, 1, 300, 300, 0)));
    EXPECT_EQ(0, CreateContainer(100, 1, 1, 10, 10, 1));
    EXPECT_FALSE(GetControlHandle(100) || GetWindow(chain.back(), GW_CHILD));
    for (int32_t n = 44; n >= 0; --n) {
        CloseControlList();
        ASSERT_EQ(CurrentControlParent(), chain[n]) << n;
    }
}

TEST_F(Toolkit, TextsStopAtTheLimitAndTheEditorBuildsLinesFromInsertions)
{
    CreateTextControl(1, 0, 0, 100, 20, "");
    SetControlText(1, std::string(40000, 'b').c_str());
    EXPECT_EQ(GetControlText(1), std::string(31999, 'b'));
    // An empty first line is a line: the second one follows a break.
    CreateEditor(3, 10, 60, 300, 150);
    AddControlItem(3, -1, "");
    AddControlItem(3, -1, "");
    EXPECT_EQ(GetControlText(3), "\r\n");
    SetControlText(3, "");
    for (int32_t line : {0, 1, 1})
        AddControlItem(3, line, line ? "zwei" : "eins");
    EXPECT_EQ(GetControlText(3), "eins\r\nzwei\r\nzwei\r\n");
    SetControlText(3, "eins");
    AddControlItem(3, -1, "zwei");
    AddControlItem(3, 9, "drei");   // beyond the last line: appended
    EXPECT_EQ(GetControlText(3), "eins\r\nzwei\r\ndrei");
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
        PressTab(m.shift);
        EXPECT_EQ(GetFocus(), m.to) << GetWindowLongA(m.from, GWL_ID) << (m.shift ? " back" : " on");
    }
    EXPECT_EQ(GetControlText(17), "\t");
}

// A box found by its title and closed by a timer of the thread showing it
// (the box's own loop runs the timer); whileUp looks at the windows meanwhile.
struct DrivenBox {
    const char* title;
    void (*whileUp)(void*);
    void* context;
    UINT_PTR timer;
    int ticks;
};
thread_local std::vector<DrivenBox*> boxes;

void CALLBACK DriveBox(HWND, UINT, UINT_PTR timer, DWORD)
{
    auto found = std::find_if(boxes.begin(), boxes.end(), [timer](DrivenBox* b) { return b->timer == timer; });
    DrivenBox* box = found == boxes.end() ? 0 : *found;
    HWND shown = box ? FindWindowA("#32770", box->title) : 0;
    // At most 3 s for the box to show; once shown, it is handled once.
    if (!box || box->ticks >= 150 || (!shown && ++box->ticks < 150))
        return;
    box->ticks = 150;
    if (shown && box->whileUp)
        box->whileUp(box->context);
    PostMessageA(shown, WM_COMMAND, IDOK, 0);
}

int32_t ShowDriven(const char* title, void (*whileUp)(void*) = 0, void* context = 0)
{
    DrivenBox box = {title, whileUp, context, SetTimer(0, 0, 20, DriveBox), 0};
    boxes.push_back(&box);
    int32_t result = ShowMessageBoxOk(title, "Nachricht");
    KillTimer(0, box.timer);
    boxes.erase(std::find(boxes.begin(), boxes.end(), &box));
    return result;
}

HWND MakeWindow(bool visible, bool enabled = true)
{
    HWND w = CreateWindowExA(0, "STATIC", "w", WS_OVERLAPPED | (visible ? WS_VISIBLE : 0), 0, 0, 99, 50, 0, 0, 0, 0);
    EnableWindow(w, enabled);
    return w;
}

TEST_F(Toolkit, ABoxDisablesExactlyItsThreadsOtherWindowsAndEnablesThemAgain)
{
    // The foreground window owns the box; hidden and disabled ones are left alone.
    HWND w[5] = {window, MakeWindow(true), MakeWindow(false), MakeWindow(true, false), MakeWindow(true)};
    SetForegroundWindow(window);
    EXPECT_EQ(1, ShowDriven("H I N W E I S", [](void* context) {
        HWND* w = static_cast<HWND*>(context);
        EXPECT_EQ(GetWindow(FindWindowA("#32770", "H I N W E I S"), GW_OWNER), w[0]);
        EXPECT_FALSE(IsWindowEnabled(w[1]) || IsWindowEnabled(w[3]) || IsWindowEnabled(w[4]));
        EXPECT_TRUE(IsWindowEnabled(w[2]));
        EXPECT_EQ(DisabledWindowCount(), 2);
        // A second box of the thread enables, when it closes, every listed window.
        ShowDriven("I N N E N");
        EXPECT_TRUE(IsWindowEnabled(w[1]) && IsWindowEnabled(w[4]) && !DisabledWindowCount());
    }, w));
    EXPECT_TRUE(IsWindowEnabled(w[0]) && IsWindowEnabled(w[1]) && IsWindowEnabled(w[4]));
    EXPECT_FALSE(IsWindowEnabled(w[3]) || IsWindowVisible(w[2]));

    // A box on another thread: each thread enables only what its own box disabled.
    HANDLE close = CreateEventA(0, TRUE, FALSE, 0);
    HWND foreign = 0;
    BOOL enabledAfter = FALSE;   // the worker's windows go with the worker
    volatile bool done = false;
    std::thread worker([&] {
        foreign = MakeWindow(true);
        SetForegroundWindow(MakeWindow(true));   // the worker's own owner for its box
        std::thread closer([&] {
            WaitForSingleObject(close, 10000);
            for (int i = 0; i < 250 && FindWindowA("#32770", "A N D E R E"); ++i, Sleep(20))
                PostMessageA(FindWindowA("#32770", "A N D E R E"), WM_COMMAND, IDOK, 0);
        });
        EXPECT_EQ(ShowMessageBoxOk("A N D E R E", "Nachricht"), 1);
        enabledAfter = IsWindowEnabled(foreign);
        closer.join();
        done = true;
    });
    for (int i = 0; i < 150 && !FindWindowA("#32770", "A N D E R E"); ++i)
        Sleep(20);
    EXPECT_FALSE(IsWindowEnabled(foreign)) << "the worker's box disabled its window";
    SetForegroundWindow(window);
    ShowDriven("E I G E N");
    EXPECT_TRUE(IsWindowEnabled(w[1]));
    EXPECT_FALSE(IsWindowEnabled(foreign)) << "the worker's window is the worker's to enable";
    SetEvent(close);
    // Waiting with the messages taken: enabling a window of this thread
    // from the worker waits for this thread.
    for (int i = 0; i < 100 && !done; ++i)
        Events(50);
    EXPECT_TRUE(done && enabledAfter) << "the worker's box did not end";
    done ? worker.join() : worker.detach();
    CloseHandle(close);
    for (int i = 1; i < 5; ++i)
        DestroyWindow(w[i]);
}

}  // namespace
