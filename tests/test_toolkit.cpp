// The toolkit on real windows, for what the running tester cannot show:
// placement rules, table growth and its limits, release of windows, controls,
// brushes and fonts, control lists and failed creation, events and focus from
// real input, the editor, colours, fonts and the thread-modal message box.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/driver.h"
#include "toolkit/colours.h"
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

void PressKey(WORD key, bool shift)
{
    std::vector<INPUT> inputs;
    for (WORD vk : {WORD(VK_SHIFT), key, key, WORD(VK_SHIFT)}) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = inputs.size() >= 2 - (shift ? 0 : 1) ? KEYEVENTF_KEYUP : 0;
        if (vk != VK_SHIFT || shift)
            inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Events(150);
}

LOGFONTA Described(HFONT font)
{
    LOGFONTA f = {};
    GetObjectA(font, sizeof f, &f);
    return f;
}

COLORREF BrushColour(LRESULT brush)
{
    LOGBRUSH b = {};
    return GetObjectA(reinterpret_cast<HBRUSH>(brush), sizeof b, &b) ? b.lbColor : CLR_INVALID;
}

// The toolkit started as the tester starts it, window 0 (630 x 499, centred)
// open as the parent of new controls.
class Toolkit : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetToolkitInstance(GetModuleHandleA(0));
        ASSERT_TRUE(RuntimeHeapCreate() && CreateListHeap() && FontTableInit() && InitWindowModule());
        InitControlModule();
        InitControlLists();
        InitControlColours();
        ASSERT_NE(0, CreateNumberedWindow(0, 219, 58, 630, 499, 0xC80001, "Test"));
        window = GetNumberedWindowHandle(0);
        StartControlList(window);
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
        Events(50);
    }
    void TearDown() override
    {
        SetWindowCallback(0);
        FreeControlColours();
        CloseAllWindows();
        FontTableShutdown();
        ShutdownWindowModule();
        ShutdownControlModule();
        DestroyListHeap();
        RuntimeHeapDestroy();
        MSG m;
        while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) {
        }
    }
    // The control's rectangle in its parent's client area.
    static RECT Placement(HWND control)
    {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(0, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    HWND window = 0;
};

TEST_F(Toolkit, WindowFlagsGiveStylePlacementAndExactClientArea)
{
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    const DWORD bits = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MAXIMIZE | WS_THICKFRAME | WS_MAXIMIZEBOX;
    struct Case {
        uint32_t flags;
        int width, height;
        DWORD style;
        int placement;   // 0 at (40, 50), 1 centred on the screen, 2 on window 0
    } cases[] = {
        {0xC80001, 631, 500, WS_VISIBLE | WS_CAPTION | WS_SYSMENU, 1},
        {0xC80001, 300, 201, WS_VISIBLE | WS_CAPTION | WS_SYSMENU, 1},
        {0, 500, 400, WS_VISIBLE | WS_CAPTION, 0},
        {0x10000000, 200, 100, WS_CAPTION, 0},
        {3, 301, 161, WS_VISIBLE | WS_CAPTION, 2},
        {0x01000000, 200, 100, WS_VISIBLE | WS_MAXIMIZE | WS_CAPTION, -1},   // the platform adds the caption
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags << std::dec << " " << c.width);
        SetActiveWindow(window);
        ASSERT_NE(0, CreateNumberedWindow(1, 40, 50, c.width, c.height, c.flags, "w"));
        HWND w = GetNumberedWindowHandle(1);
        RECT client, outer, owner;
        GetClientRect(w, &client);
        GetWindowRect(w, &outer);
        GetWindowRect(window, &owner);
        EXPECT_EQ(GetWindowLongA(w, GWL_STYLE) & bits, c.style);
        if (c.placement < 0)
            continue;
        EXPECT_EQ(client.right * 10000 + client.bottom, c.width * 10000 + c.height);
        int outerW = outer.right - outer.left, outerH = outer.bottom - outer.top;
        POINT expected = {40, 50};
        if (c.placement == 1)
            expected = {screenW / 2 - outerW / 2, screenH / 2 - outerH / 2};
        if (c.placement == 2)
            expected = {owner.left - outerW / 2 + (owner.right - owner.left) / 2,
                        owner.top - outerH / 2 + (owner.bottom - owner.top) / 2};
        EXPECT_EQ(outer.left, expected.x);
        EXPECT_EQ(outer.top, expected.y);
    }
}

TEST_F(Toolkit, TablesGrowKeepingTheirObjectsAndRefuseNumbersTooLargeToHold)
{
    std::vector<HWND> controls;
    for (int32_t n = 0; n < 30; ++n)
        controls.push_back(AsWindow(CreateTextControl(n, 0, 0, 5, 5, "")));
    EXPECT_EQ(GetControlHandle(30), nullptr) << "the first spare record";
    ASSERT_NE(0, CreateTextControl(30, 0, 0, 5, 5, ""));
    EXPECT_EQ(ControlTableSize(), 60);
    ASSERT_NE(0, CreateTextControl(100, 0, 0, 5, 5, ""));
    EXPECT_EQ(ControlTableSize(), 130);
    for (int32_t n = 0; n < 30; ++n)
        EXPECT_EQ(GetControlHandle(n), controls[n]) << n;

    std::vector<HFONT> fonts;
    for (int32_t n = 0; n < 10; ++n)
        fonts.push_back(AsFont(FontCreate(n, "Arial", 8 + n)));
    EXPECT_EQ(FontTableSize(), 10);
    EXPECT_EQ(FontLookup(10), nullptr);
    ASSERT_NE(0, FontCreate(10, "Arial", 20));
    EXPECT_EQ(FontTableSize(), 40);
    for (int32_t n = 0; n < 10; ++n)
        EXPECT_EQ(FontHandle(n), fonts[n]) << n;

    ASSERT_NE(0, CreateNumberedWindow(40, 0, 0, 50, 50, 0x10000000, "far"));
    EXPECT_EQ(GetNumberedWindowHandle(0), window) << "window 0 after the growth";
    // A byte size beyond 32 bits is refused, and nothing changes.
    const int32_t huge = 0x10000000;
    EXPECT_EQ(0, CreateTextControl(huge, 0, 0, 5, 5, ""));
    EXPECT_EQ(0, FontCreate(huge, "Arial", 10));
    //TEMP EXPECT_EQ(0, CreateNumberedWindow(huge, 0, 0, 50, 50, 0x10000000, "huge"));
    EXPECT_EQ(ControlTableSize() * 100 + FontTableSize(), 130 * 100 + 40);
    EXPECT_EQ(GetControlHandle(29), controls[29]);

    // Numbers the toolkit chooses lie outside the table and die with their object.
    int32_t any = CreateButtonControl(ANY_NUMBER, 0, 0, 5, 5, "b");
    EXPECT_FALSE(any >= 0 && any <= ControlTableSize()) << any;
    HWND button = GetControlHandle(any);
    ASSERT_TRUE(IsWindow(button));
    FreeControl(any);
    EXPECT_FALSE(IsWindow(button));
    EXPECT_EQ(GetControlHandle(any), nullptr);
}

TEST_F(Toolkit, ClosingAndReusingNumbersReleasesWhatTheyHeld)
{
    HWND first = AsWindow(CreateTextControl(5, 0, 0, 5, 5, "alt"));
    HWND second = AsWindow(CreateButtonControl(5, 0, 0, 5, 5, "neu"));
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(GetControlHandle(5), second);
    CreateContainer(2, 20, 0, 100, 100, 1);
    CreateTextControl(3, 0, 0, 10, 10, "innen");
    CloseControlList();
    ASSERT_NE(0, CreateNumberedWindow(1, 0, 0, 100, 100, 0, "eins"));
    HWND other = GetNumberedWindowHandle(1);
    // Window 0 again: the first one and every control number in it go.
    ASSERT_NE(0, CreateNumberedWindow(0, 0, 0, 100, 100, 0, "zwei"));
    EXPECT_FALSE(IsWindow(window));
    for (int32_t number : {5, 2, 3})
        EXPECT_EQ(GetControlHandle(number), nullptr) << number;
    WNDCLASSA info;
    HWND again = GetNumberedWindowHandle(0);
    CloseAllWindows();
    EXPECT_FALSE(IsWindow(again) || IsWindow(other));
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(0), "WindowClass_0", &info)) << "the window's class stays";

    HFONT font = AsFont(FontCreate(5, "Arial", 9));
    HFONT bold = AsFont(FontCreateStyled(5, "Arial", 12, FONT_STYLE_BOLD));
    EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_EQ(FontHandle(5), bold);
    FontFree(5);
    EXPECT_EQ(GetObjectType(bold), 0u);
    HFONT kept[2] = {AsFont(FontCreate(1, "Arial", 8)), FontHandle(FontCreate(ANY_NUMBER, "Arial", 8))};
    FontTableShutdown();
    EXPECT_EQ(GetObjectType(kept[0]) | GetObjectType(kept[1]), 0u);
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
    HWND top = AsWindow(CreateTextControl(6, 30, 200, 100, 20, "aussen"));
    CloseControlList();   // no list open: the parent stays
    EXPECT_EQ(CurrentControlParent(), window);
    EXPECT_EQ(GetParent(outer), window);
    EXPECT_EQ(GetParent(inner), outer);
    EXPECT_EQ(GetParent(deep), inner);
    EXPECT_EQ(GetParent(middle), outer);
    EXPECT_EQ(GetParent(top), window);
    RECT r = Placement(deep);
    EXPECT_EQ(r.left * 1000 + r.top, 5 * 1000 + 6);
    EXPECT_TRUE(GetWindowLongA(outer, GWL_STYLE) & WS_BORDER);
    EXPECT_EQ(GetWindowLongA(inner, GWL_EXSTYLE) & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE), WS_EX_STATICEDGE)
        << "only the first edge flag counts";
    EXPECT_NE(0, OpenControlList(0));
    EXPECT_EQ(GetParent(AsWindow(CreateTextControl(7, 0, 0, 5, 5, "x"))), outer);
    CloseControlList();

    // A parent that is no window: the platform refuses, nothing is pushed.
    StartControlList(reinterpret_cast<HWND>(0x7FFF1234));
    EXPECT_EQ(0, CreateContainer(8, 0, 0, 10, 10, 1));
    EXPECT_EQ(ControlListDepth(), 0);
    EXPECT_EQ(GetControlHandle(8), nullptr);
    StartControlList(window);
    // The stack holds 45 lists; the 46th container is not made.
    std::vector<HWND> chain;
    for (int32_t n = 10; n < 55; ++n)
        chain.push_back(AsWindow(CreateContainer(n, 1, 1, 300, 300, 0)));
    EXPECT_EQ(0, CreateContainer(100, 1, 1, 10, 10, 1));
    EXPECT_EQ(GetControlHandle(100), nullptr);
    EXPECT_EQ(GetWindow(chain.back(), GW_CHILD), nullptr);
    for (int32_t n = 44; n >= 0; --n) {
        CloseControlList();
        ASSERT_EQ(CurrentControlParent(), n ? chain[n - 1] : window) << n;
    }
}

TEST_F(Toolkit, TextsListsAndTheEditorKeepWhatTheyAreGiven)
{
    CreateTextControl(1, 0, 0, 100, 20, "");
    SetControlText(1, std::string(40000, 'b').c_str());
    EXPECT_EQ(GetControlText(1), std::string(31999, 'b'));
    EXPECT_EQ(0, AddControlItem(1, -1, "x") | SetControlState(1, 1));

    CreateComboBoxControl(2, 0, 30, 100, 200);
    EXPECT_EQ(GetControlText(2), "");
    for (const char* item : {"150", "9600", "Com2"})
        AddControlItem(2, -1, item);
    EXPECT_EQ(0, AddControlItem(2, 0, "75"));
    EXPECT_EQ(4, AddControlItem(2, -1, nullptr));
    EXPECT_EQ(GetControlItemText(2, 0) + "|" + GetControlItemText(2, 4), "75|");
    SetControlState(2, 2);
    EXPECT_EQ(GetControlText(2), "9600");
    SetControlText(2, "96");   // no item of that whole text: the selection stays
    EXPECT_EQ(GetControlState(2), 2);
    SetControlText(2, "COM2");
    EXPECT_EQ(GetControlText(2), "Com2");
    SetControlText(2, "");
    EXPECT_EQ(GetControlState(2), CB_ERR);

    HWND editor = AsWindow(CreateEditor(3, 10, 60, 300, 150));
    AddControlItem(3, -1, "");
    EXPECT_NE(GetPropA(editor, EDITOR_FILLED_PROPERTY), nullptr);
    AddControlItem(3, -1, "");
    EXPECT_EQ(GetControlText(3), "\r\n");
    SetControlText(3, "");
    EXPECT_EQ(GetPropA(editor, EDITOR_FILLED_PROPERTY), nullptr);
    for (int32_t line : {0, 1, 1})
        AddControlItem(3, line, line ? "zwei" : "eins");
    EXPECT_EQ(GetControlText(3), "eins\r\nzwei\r\nzwei\r\n");
    SetControlText(3, "eins");
    AddControlItem(3, -1, "zwei");
    AddControlItem(3, 9, "drei");   // beyond the last line: appended
    EXPECT_EQ(GetControlText(3), "eins\r\nzwei\r\ndrei");
    EXPECT_EQ(GetControlItemText(3, 2), "drei");
}

LRESULT CALLBACK SwallowClose(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_CLOSE ? 0 : CALLBACK_DEFAULT;
}

TEST_F(Toolkit, ClicksInContainersTabsAndTheCloseBoxBecomeEvents)
{
    CreateContainer(0, 30, 30, 570, 290, 1);
    CreateContainer(1, 20, 20, 300, 200, 1);
    HWND button = AsWindow(CreateButtonControl(9, 40, 50, 120, 30, "SDA   on/off"));
    HWND last = AsWindow(CreateButtonControl(10, 40, 100, 120, 30, "zwei"));
    CloseControlList();
    HWND editor = AsWindow(CreateEditor(17, 330, 20, 200, 100));
    CloseControlList();
    HWND combo = AsWindow(CreateComboBoxControl(4, 30, 350, 120, 200));
    AddControlItem(4, -1, "com1");
    HWND first = AsWindow(CreateButtonControl(5, 30, 400, 100, 25, "vorher"));
    SetWindowLongA(editor, GWL_STYLE, GetWindowLongA(editor, GWL_STYLE) | WS_TABSTOP);
    UpdateWindow(window);
    Events(100);

    Click(button);
    std::vector<int32_t> events = Events(400);
    auto up = std::find(events.begin(), events.end(), WM_LBUTTONUP);
    ASSERT_TRUE(up != events.end() && up + 1 != events.end());
    EXPECT_EQ(*(up + 1), EV_CONTROL) << "the event right after the release";
    EXPECT_EQ(std::count(events.begin(), events.end(), EV_CONTROL), 1);
    EXPECT_EQ(GetEventControl(), 9);
    SetFocus(combo);
    Events(100);
    Click(combo);   // opening the list is an event of its own
    events = Events(300);
    EXPECT_TRUE(SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0));
    EXPECT_NE(std::count(events.begin(), events.end(), EV_CONTROL), 0);
    EXPECT_EQ(GetEventControl(), 4);
    PressKey(VK_ESCAPE, false);

    // Tab and Shift+Tab through the window's accelerators; in the editor a
    // plain Tab is typed, Shift+Tab leaves it.
    struct Move {
        HWND from;
        bool shift;
        HWND to;
    } moves[] = {{button, false, last}, {first, false, button}, {button, true, first},
                 {last, true, button},  {editor, false, editor}, {editor, true, last}};
    for (const Move& m : moves) {
        SetFocus(m.from);
        PressKey(VK_TAB, m.shift);
        EXPECT_EQ(GetFocus(), m.to) << GetWindowLongA(m.from, GWL_ID) << (m.shift ? " back" : " on");
    }
    EXPECT_EQ(GetControlText(17), "\t");

    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    events = Events(200);
    EXPECT_NE(std::find(events.begin(), events.end(), EV_CLOSE_REQUEST), events.end());
    EXPECT_TRUE(IsWindow(window));
    SetWindowCallback(SwallowClose);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    events = Events(200);
    EXPECT_EQ(std::find(events.begin(), events.end(), EV_CLOSE_REQUEST), events.end()) << "the callback answered";
}

LRESULT CALLBACK Colouring(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandleColourMessage(window, message, wParam, lParam, CALLBACK_DEFAULT);
}

TEST_F(Toolkit, ColouredControlsGetOneBrushEachAndRepaintInIt)
{
    SetWindowCallback(Colouring);   // as the tester's callback does
    HDC dc = CreateCompatibleDC(0);
    auto ask = [&](int32_t number, UINT message, LRESULT passOn) {
        return HandleColourMessage(window, message, reinterpret_cast<WPARAM>(dc),
                                   reinterpret_cast<LPARAM>(GetControlHandle(number)), passOn);
    };
    EXPECT_EQ(0, SetControlColours(7, 0, 0));   // no control: no record
    CreateTextControl(13, 20, 20, 80, 40, "");
    CreateTextControl(14, 120, 20, 80, 40, "");
    CreateComboBoxControl(2, 220, 20, 80, 100);
    EXPECT_EQ(ask(13, WM_CTLCOLORSTATIC, 0x5A), 0x5A) << "empty list";
    SetControlColours(13, RGB(0, 0, 0), RGB(255, 255, 255));
    LRESULT white = ask(13, WM_CTLCOLORSTATIC, 0x5A);
    SetControlColours(13, RGB(255, 0, 0), RGB(0, 255, 0));
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(white)), 0u) << "the old brush stays";
    EXPECT_EQ(ControlColourCount(), 1u);
    COLORREF painted = 0;
    for (int i = 0; i < 40 && painted != RGB(0, 255, 0); ++i, Events(25))
        painted = ClientPixel(GetControlHandle(13), 40, 20);
    EXPECT_EQ(painted, RGB(0, 255, 0)) << "repainted without another call";
    for (UINT message = WM_CTLCOLOREDIT; message <= WM_CTLCOLORSTATIC; ++message) {
        SetBkMode(dc, OPAQUE);
        EXPECT_EQ(BrushColour(ask(13, message, 0x5A)), RGB(0, 255, 0)) << message;
        EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
        EXPECT_EQ(GetTextColor(dc), RGB(255, 0, 0));
        EXPECT_EQ(ask(14, message, 0x5A), 0x5A) << "uncoloured";
    }
    EXPECT_EQ(ask(13, WM_CTLCOLORMSGBOX, 0x5A), 0x5A);
    EXPECT_EQ(ask(13, WM_CTLCOLORSTATIC + 1, 0x5A), 0x5A);

    // -1: the class's system colours (button face for text, window for lists).
    SetControlColours(14, COLOUR_SYSTEM_DEFAULT, COLOUR_SYSTEM_DEFAULT);
    SetControlColours(2, COLOUR_SYSTEM_DEFAULT, COLOUR_SYSTEM_DEFAULT);
    EXPECT_EQ(BrushColour(ask(14, WM_CTLCOLORSTATIC, 0)), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_BTNTEXT));
    EXPECT_EQ(BrushColour(ask(2, WM_CTLCOLORSTATIC, 0)), GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
    // Custom draw of a coloured control: sub-items get its colours.
    NMLVCUSTOMDRAW draw = {};
    draw.nmcd.hdr.hwndFrom = GetControlHandle(13);
    draw.nmcd.hdr.code = NM_CUSTOMDRAW;
    LRESULT answers[3];
    int i = 0;
    for (DWORD stage : {DWORD(CDDS_PREPAINT), DWORD(CDDS_ITEMPREPAINT), DWORD(CDDS_ITEMPREPAINT | CDDS_SUBITEM)}) {
        draw.nmcd.dwDrawStage = stage;
        answers[i++] = HandleColourMessage(window, WM_NOTIFY, 13, reinterpret_cast<LPARAM>(&draw), 0x77);
    }
    EXPECT_EQ(answers[0] * 100 + answers[1] * 10 + answers[2],
              CDRF_NOTIFYITEMDRAW * 100 + CDRF_NOTIFYSUBITEMDRAW * 10 + CDRF_NEWFONT);
    EXPECT_EQ(draw.clrText * 1000 + draw.clrTextBk, RGB(255, 0, 0) * 1000 + RGB(0, 255, 0));

    LRESULT brushes[3] = {ask(13, WM_CTLCOLORSTATIC, 0), ask(14, WM_CTLCOLORSTATIC, 0), ask(2, WM_CTLCOLORSTATIC, 0)};
    FreeControlColours();
    for (LRESULT brush : brushes)
        EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(brush)), 0u);
    EXPECT_EQ(ControlColourCount(), 0u);
    DeleteDC(dc);
}

TEST_F(Toolkit, FontStylesReachThePlatformAndNeverCarryOver)
{
    struct Case {
        int points;
        uint32_t flags;
        LONG height, weight;
        BYTE italic, underline, strike, quality;
    } cases[] = {
        {10, 0x100, -13, 700, 0, 0, 0, DEFAULT_QUALITY},         {12, 0, -16, 400, 0, 0, 0, DEFAULT_QUALITY},
        {10, 0x310, -13, 700, 1, 0, 0, PROOF_QUALITY},           {8, 0xC, -11, 400, 0, 1, 1, DEFAULT_QUALITY},
        {9, 0xFFFFF8E3u, -12, 400, 0, 0, 0, DEFAULT_QUALITY},    // every bit but the styles
    };
    ASSERT_EQ(GetDeviceCaps(GetDC(0), LOGPIXELSY), 96);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags);
        HFONT font = AsFont(FontCreateStyled(1, "Arial", c.points, c.flags));
        ASSERT_EQ(font, FontHandle(1));
        LOGFONTA f = Described(font);
        EXPECT_STREQ(f.lfFaceName, "Arial");
        EXPECT_EQ(f.lfHeight, c.height);
        EXPECT_EQ(f.lfWeight, c.weight);
        EXPECT_EQ(f.lfItalic * 100 + f.lfUnderline * 10 + f.lfStrikeOut, c.italic * 100 + c.underline * 10 + c.strike);
        EXPECT_EQ(f.lfQuality, c.quality);
        EXPECT_EQ(f.lfCharSet, DEFAULT_CHARSET);
    }
    HFONT big = AsFont(FontCreateStyled(2, "Arial", 20, 0x100));
    HWND before = AsWindow(CreateTextControl(1, 0, 0, 50, 20, "a"));
    SetControlFont(ANY_NUMBER, big);
    HWND after = AsWindow(CreateButtonControl(2, 0, 30, 50, 20, "b"));
    EXPECT_EQ(SendMessageA(before, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT)));
    EXPECT_EQ(SendMessageA(after, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(big));
    SetControlFont(2, StockFontRequest());
    EXPECT_EQ(SendMessageA(after, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT)));
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

struct Windows {
    HWND main, other, hidden, disabled, third;
};

TEST_F(Toolkit, ABoxDisablesExactlyItsThreadsOtherWindowsAndEnablesThemAgain)
{
    auto make = [](bool visible) {
        return CreateWindowExA(0, "STATIC", "w", WS_OVERLAPPED | (visible ? WS_VISIBLE : 0), 0, 0, 100, 50, 0, 0, 0, 0);
    };
    Windows w = {window, make(true), make(false), make(true), make(true)};
    EnableWindow(w.disabled, FALSE);
    SetForegroundWindow(w.main);
    ASSERT_EQ(GetForegroundWindow(), w.main);
    EXPECT_EQ(1, ShowDriven("H I N W E I S", [](void* c) {
        Windows& w = *static_cast<Windows*>(c);
        EXPECT_EQ(GetWindow(FindWindowA("#32770", "H I N W E I S"), GW_OWNER), w.main);
        EXPECT_FALSE(IsWindowEnabled(w.other) || IsWindowEnabled(w.third) || IsWindowEnabled(w.disabled));
        EXPECT_TRUE(IsWindowEnabled(w.hidden));
        EXPECT_EQ(DisabledWindowCount(), 2) << "the two visible, enabled others";
        // A second box on the thread enables, when it closes, all listed windows.
        ShowDriven("I N N E N");
        EXPECT_TRUE(IsWindowEnabled(w.other) && IsWindowEnabled(w.third));
        EXPECT_EQ(DisabledWindowCount(), 0);
    }, &w));
    EXPECT_TRUE(IsWindowEnabled(w.main) && IsWindowEnabled(w.other) && IsWindowEnabled(w.third));
    EXPECT_FALSE(IsWindowEnabled(w.disabled) || IsWindowVisible(w.hidden));

    // A box on another thread: each thread enables only what its own box disabled.
    SetForegroundWindow(w.main);
    HANDLE shown = CreateEventA(0, TRUE, FALSE, 0), close = CreateEventA(0, TRUE, FALSE, 0);
    HWND foreign = 0;
    int32_t foreignResult = 0;
    BOOL enabledAfter = FALSE;   // the worker's windows go with the worker
    std::thread worker([&] {
        foreign = make(true);
        HWND keep = make(true);   // the worker's foreground, left enabled by its box
        SetForegroundWindow(keep);
        SetEvent(shown);
        // The worker's box, closed once the test thread's box is over (at most 10 s).
        std::thread closer([&] {
            WaitForSingleObject(close, 10000);
            for (int i = 0; i < 100 && !FindWindowA("#32770", "A N D E R E"); ++i)
                Sleep(20);
            PostMessageA(FindWindowA("#32770", "A N D E R E"), WM_COMMAND, IDOK, 0);
        });
        foreignResult = ShowMessageBoxOk("A N D E R E", "Nachricht");
        enabledAfter = IsWindowEnabled(foreign);
        closer.join();
        DestroyWindow(keep);
    });
    WaitForSingleObject(shown, 5000);
    for (int i = 0; i < 100 && !FindWindowA("#32770", "A N D E R E"); ++i)
        Sleep(20);
    EXPECT_FALSE(IsWindowEnabled(foreign)) << "the worker's box disabled its window";
    SetForegroundWindow(w.main);
    ShowDriven("E I G E N");
    EXPECT_TRUE(IsWindowEnabled(w.other));
    EXPECT_FALSE(IsWindowEnabled(foreign)) << "the worker's window is the worker's to enable";
    SetEvent(close);
    worker.join();
    EXPECT_EQ(foreignResult, 1);
    EXPECT_TRUE(enabledAfter);
    CloseHandle(shown);
    CloseHandle(close);
    for (HWND h : {w.other, w.hidden, w.disabled, w.third})
        DestroyWindow(h);
}

}  // namespace
