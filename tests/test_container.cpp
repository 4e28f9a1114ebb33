// Containers, the control lists they open, and the editor, on real windows
// with real input under the toolkit.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/screenshot.h"
#include "tests/support/toolkit_fixture.h"
#include "toolkit/container.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

#include <richedit.h>

namespace {

class Containers : public ToolkitWindowTest {};

HWND AsWindow(int32_t handle) { return reinterpret_cast<HWND>(static_cast<intptr_t>(handle)); }

DWORD StyleOf(HWND control) { return static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)); }
DWORD ExStyleOf(HWND control) { return static_cast<DWORD>(GetWindowLongA(control, GWL_EXSTYLE)); }

// The top-left corner of a child relative to the client area of its parent.
POINT PlaceInParent(HWND child)
{
    RECT rect = {};
    GetWindowRect(child, &rect);
    POINT corner = {rect.left, rect.top};
    ScreenToClient(GetParent(child), &corner);
    return corner;
}

// The colour a window shows in the middle of its client area once repainted.
COLORREF CentrePixel(HWND window)
{
    RedrawWindow(window, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT client = {};
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    COLORREF colour = GetPixel(dc, client.right / 2, client.bottom / 2);
    ReleaseDC(window, dc);
    return colour;
}

// Index of the first event equal to code, or -1.
int IndexOf(const std::vector<int32_t>& events, int32_t code)
{
    auto found = std::find(events.begin(), events.end(), code);
    return found == events.end() ? -1 : static_cast<int>(found - events.begin());
}

}  // namespace

// --- containers ----------------------------------------------------------------

TEST_F(Containers, FlagsChooseTheBorderAndOnlyTheFirstCounts)
{
    struct Case {
        uint32_t flags;
        DWORD style;
        DWORD exStyle;
    } cases[] = {
        {0, 0, 0},
        {1, WS_BORDER, 0},
        {2, WS_DLGFRAME, 0},
        {4, 0, WS_EX_STATICEDGE},
        {8, 0, WS_EX_CLIENTEDGE},
        {3, WS_BORDER, 0},
        {0xC, 0, WS_EX_STATICEDGE},
    };
    int32_t number = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        HWND container = AsWindow(CreateContainer(number, 10, 10, 50, 50, c.flags));
        CloseControlList();
        ASSERT_NE(nullptr, container);
        char name[32] = {};
        GetClassNameA(container, name, sizeof(name));
        EXPECT_STREQ("NoltContainer", name);
        EXPECT_EQ(c.style | WS_CHILD | WS_VISIBLE,
                  StyleOf(container) & (WS_BORDER | WS_DLGFRAME | WS_CHILD | WS_VISIBLE | WS_POPUP));
        EXPECT_EQ(c.exStyle, ExStyleOf(container) & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE));
        EXPECT_EQ(number, GetWindowLongA(container, GWL_ID));
        ++number;
    }
}

TEST_F(Containers, ControlsGoIntoTheOpenContainerUntilItsListIsClosed)
{
    HWND panel = AsWindow(CreateContainer(0, 30, 30, 570, 140, 1));
    ASSERT_NE(nullptr, panel);
    EXPECT_EQ(panel, CurrentControlParent());
    EXPECT_EQ(1, ControlListDepth());
    HWND inside = AsWindow(CreateTextControl(1, 15, 20, 100, 20, "innen"));
    HWND nested = AsWindow(CreateContainer(2, 200, 10, 300, 100, 8));
    HWND deeper = AsWindow(CreateButtonControl(3, 5, 6, 80, 25, "tief"));
    EXPECT_EQ(2, ControlListDepth());
    CloseControlList();
    EXPECT_EQ(panel, CurrentControlParent());
    CloseControlList();
    EXPECT_EQ(window, CurrentControlParent());
    HWND outside = AsWindow(CreateTextControl(4, 30, 200, 100, 20, "aussen"));

    EXPECT_EQ(panel, GetParent(inside));
    EXPECT_EQ(panel, GetParent(nested));
    EXPECT_EQ(nested, GetParent(deeper));
    EXPECT_EQ(window, GetParent(outside));
    POINT corner = PlaceInParent(inside);
    EXPECT_EQ(15, corner.x);
    EXPECT_EQ(20, corner.y);
    corner = PlaceInParent(deeper);
    EXPECT_EQ(5, corner.x);
    EXPECT_EQ(6, corner.y);
    // Containers get no font; the controls in them get the default one.
    EXPECT_EQ(0, SendMessageA(panel, WM_GETFONT, 0, 0));
    EXPECT_EQ(reinterpret_cast<LRESULT>(StockControlFont()), SendMessageA(deeper, WM_GETFONT, 0, 0));
}

TEST_F(Containers, ParentStackSurvivesStartAndCloseOfAnEmptyStack)
{
    // Nothing open: closing changes nothing.
    CloseControlList();
    EXPECT_EQ(window, CurrentControlParent());
    EXPECT_EQ(0, ControlListDepth());
    EXPECT_EQ(nullptr, StartControlList(0));
    EXPECT_EQ(nullptr, CurrentControlParent());
    StartControlList(window);

    HWND panel = AsWindow(CreateContainer(0, 0, 0, 100, 100, 1));
    ASSERT_NE(nullptr, panel);
    // Starting a list on another window keeps the saved parent.
    StartControlList(window);
    EXPECT_EQ(window, CurrentControlParent());
    EXPECT_EQ(1, ControlListDepth());
    CloseControlList();
    EXPECT_EQ(window, CurrentControlParent());
    EXPECT_EQ(0, ControlListDepth());

    // Reopening the container's list: later controls go into it again.
    EXPECT_NE(0, OpenControlList(0));
    EXPECT_EQ(panel, CurrentControlParent());
    HWND late = AsWindow(CreateTextControl(1, 0, 0, 10, 10, "x"));
    EXPECT_EQ(panel, GetParent(late));
    CloseControlList();
    EXPECT_EQ(window, CurrentControlParent());
}

TEST_F(Containers, AFullParentStackRejectsTheNextListWithoutMakingAnything)
{
    std::vector<HWND> chain;
    for (int32_t n = 0; n < CONTROL_LIST_DEPTH; ++n) {
        HWND container = AsWindow(CreateContainer(n, 1, 1, 300 - n, 300 - n, 0));
        ASSERT_NE(nullptr, container) << n;
        chain.push_back(container);
    }
    EXPECT_EQ(CONTROL_LIST_DEPTH, ControlListDepth());
    HWND innermost = chain.back();
    EXPECT_EQ(innermost, CurrentControlParent());

    EXPECT_EQ(0, CreateContainer(100, 1, 1, 10, 10, 1));
    EXPECT_EQ(nullptr, GetControlHandle(100));
    EXPECT_EQ(nullptr, GetWindow(innermost, GW_CHILD));
    int32_t any = CreateContainer(ANY_NUMBER, 1, 1, 10, 10, 1);
    EXPECT_EQ(0, any);
    EXPECT_EQ(0, OpenControlList(0));
    EXPECT_EQ(CONTROL_LIST_DEPTH, ControlListDepth());
    EXPECT_EQ(innermost, CurrentControlParent());
    // A control under a number already in use is not touched by the refusal.
    EXPECT_EQ(0, CreateContainer(3, 1, 1, 10, 10, 1));
    EXPECT_EQ(chain[3], GetControlHandle(3));

    for (int32_t n = CONTROL_LIST_DEPTH - 1; n >= 0; --n) {
        CloseControlList();
        EXPECT_EQ(n == 0 ? window : chain[n - 1], CurrentControlParent()) << n;
    }
    EXPECT_EQ(0, ControlListDepth());
}

TEST_F(Containers, AnyNumberContainerWorksWithTheListOperationsAndIsFreed)
{
    int32_t number = CreateContainer(ANY_NUMBER, 10, 10, 200, 100, 1);
    ASSERT_NE(0, number);
    EXPECT_TRUE(number < 0 || number > ControlTableSize());
    HWND container = GetControlHandle(number);
    ASSERT_NE(nullptr, container);
    EXPECT_EQ(container, CurrentControlParent());
    int32_t button = CreateButtonControl(ANY_NUMBER, 5, 5, 60, 25, "in");
    CloseControlList();
    EXPECT_EQ(container, GetParent(GetControlHandle(button)));
    EXPECT_EQ(200, GetControlWidth(number));

    EXPECT_NE(0, OpenControlList(number));
    EXPECT_EQ(container, CurrentControlParent());
    CloseControlList();

    HWND child = GetControlHandle(button);
    FreeControl(number);
    EXPECT_FALSE(IsWindow(container));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(nullptr, GetControlHandle(number));
    EXPECT_EQ(nullptr, GetControlHandle(button));
}

TEST_F(Containers, ChangingTheClassBackgroundChangesEveryContainer)
{
    HWND first = AsWindow(CreateContainer(0, 10, 10, 100, 100, 1));
    CloseControlList();
    HWND second = AsWindow(CreateContainer(1, 120, 10, 100, 100, 0));
    CloseControlList();
    ShowForInput(window);
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(face, CentrePixel(first));

    HBRUSH yellow = CreateSolidBrush(RGB(255, 255, 160));
    ULONG_PTR previous = SetClassLongPtrA(first, GCLP_HBRBACKGROUND,
                                          reinterpret_cast<LONG_PTR>(yellow));
    HWND later = AsWindow(CreateContainer(2, 240, 10, 100, 100, 1));
    CloseControlList();
    EXPECT_EQ(RGB(255, 255, 160), CentrePixel(first));
    EXPECT_EQ(RGB(255, 255, 160), CentrePixel(second));
    EXPECT_EQ(RGB(255, 255, 160), CentrePixel(later));
    // The top-level window has a class of its own.
    EXPECT_EQ(face, CentrePixel(window));

    // The class outlives this test: give it its brush back before deleting ours.
    SetClassLongPtrA(first, GCLP_HBRBACKGROUND, static_cast<LONG_PTR>(previous));
    EXPECT_EQ(face, CentrePixel(second));
    CloseNumberedWindow(0);
    EXPECT_TRUE(DeleteObject(yellow));
    EXPECT_EQ(0u, GetObjectType(yellow));
}

TEST_F(Containers, AClickInANestedContainerArrivesOnceAfterTheMouseUp)
{
    CreateContainer(0, 30, 30, 570, 290, 1);
    CreateContainer(1, 20, 20, 300, 200, 1);
    HWND button = AsWindow(CreateButtonControl(9, 40, 50, 120, 30, "SDA   on/off"));
    CloseControlList();
    CloseControlList();
    ShowForInput(window);

    POINT centre = {100, 65};
    MapWindowPoints(GetParent(button), window, &centre, 1);
    ClickClient(window, centre.x, centre.y);
    std::vector<int32_t> events = CollectEvents(500);

    int up = IndexOf(events, WM_LBUTTONUP);
    ASSERT_NE(-1, up);
    EXPECT_LT(IndexOf(events, WM_LBUTTONDOWN), up);
    ASSERT_LT(up + 1, static_cast<int>(events.size()));
    EXPECT_EQ(EV_CONTROL, events[up + 1]);
    EXPECT_EQ(1, std::count(events.begin(), events.end(), EV_CONTROL));
    EXPECT_EQ(9, GetEventControl());

    // A later wait that gives another code keeps the control number.
    PostMessageA(window, WM_APP, 0, 0);
    EXPECT_EQ(WM_APP, WaitEvent());
    EXPECT_EQ(9, GetEventControl());
}

// Notification codes of the commands that reach the top-level window.
std::vector<int> notifications;

LRESULT CALLBACK RecordNotification(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && lParam)
        notifications.push_back(HIWORD(wParam));
    return CALLBACK_DEFAULT;
}

TEST_F(Containers, OpeningAComboBoxListInAContainerIsAnEvent)
{
    CreateContainer(0, 30, 30, 570, 140, 1);
    HWND combo = AsWindow(CreateComboBoxControl(3, 20, 20, 120, 200));
    CloseControlList();
    for (const char* port : {"com1", "com2"})
        AddControlItem(3, -1, port);
    ShowForInput(window);
    // Focus first, so that what follows the click is the list opening.
    SetFocus(combo);
    CollectEvents(100);
    notifications.clear();
    SetWindowCallback(RecordNotification);

    POINT point = {60, 10};
    MapWindowPoints(combo, window, &point, 1);
    ClickClient(window, point.x, point.y);
    std::vector<int32_t> events = CollectEvents(400);
    EXPECT_TRUE(SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0));
    EXPECT_NE(notifications.end(),
              std::find(notifications.begin(), notifications.end(), CBN_DROPDOWN));
    EXPECT_EQ(static_cast<long>(notifications.size()),
              std::count(events.begin(), events.end(), EV_CONTROL));
    EXPECT_EQ(3, GetEventControl());
    // The list closes again without a choice.
    PressKey(VK_ESCAPE);
    CollectEvents(200);
    SetWindowCallback(0);
    EXPECT_FALSE(SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0));
    EXPECT_EQ("", GetControlText(3));
}

// --- editor ----------------------------------------------------------------------

TEST_F(Containers, EditorIsARichEditChildWithItsStyleAndFont)
{
    CreateContainer(7, 30, 170, 570, 290, 1);
    HWND editor = AsWindow(CreateEditor(17, 19, 169, 530, 110));
    CloseControlList();
    ASSERT_NE(nullptr, editor);
    char name[32] = {};
    GetClassNameA(editor, name, sizeof(name));
    EXPECT_STREQ("RichEdit20A", name);
    // The rich edit control shows its scroll bars (and their style bits)
    // only while the text needs them.
    const DWORD scrollBars = WS_VSCROLL | WS_HSCROLL;
    EXPECT_EQ(0x503111C4u & ~scrollBars, StyleOf(editor) & (0x503111C4u & ~scrollBars));
    EXPECT_EQ(static_cast<DWORD>(WS_EX_CLIENTEDGE), ExStyleOf(editor) & WS_EX_CLIENTEDGE);
    EXPECT_EQ(GetControlHandle(7), GetParent(editor));
    EXPECT_EQ(17, GetWindowLongA(editor, GWL_ID));
    // The rich edit control does not answer WM_GETFONT; the font it was sent
    // shows in its character format.
    LOGFONTA stock = {};
    GetObjectA(StockControlFont(), sizeof(stock), &stock);
    CHARFORMATA format = {};
    format.cbSize = sizeof(format);
    SendMessageA(editor, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    EXPECT_STREQ(stock.lfFaceName, format.szFaceName);
    EXPECT_EQ(530, GetControlWidth(17));
    EXPECT_EQ(110, GetControlHeight(17));
    // Not read-only: the user can type into it.
    EXPECT_EQ(0u, StyleOf(editor) & ES_READONLY);
    // Operations the editor lacks.
    EXPECT_EQ(0, SetControlState(17, 1));
    EXPECT_EQ(0, CountControlItems(17));
}

TEST_F(Containers, EditorCreationDrainsTheQueueAndDropsThePendingEvent)
{
    // The container's creation leaves its size and move events pending, and
    // a message waits in the queue.
    CreateContainer(0, 0, 0, 300, 200, 1);
    PostMessageA(window, WM_APP + 1, 0, 0);
    CreateEditor(1, 5, 5, 200, 100);
    CloseControlList();
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, 0, WM_APP + 1, WM_APP + 1, PM_NOREMOVE));
    PostMessageA(window, WM_APP + 2, 0, 0);
    EXPECT_EQ(WM_APP + 2, WaitEvent());
}

TEST_F(Containers, EditorBuildsLinesFromInsertionsAtPositions)
{
    CreateEditor(17, 10, 10, 530, 150);
    const char* help[] = {"1. Port wählen", "2. öffnen", "3. SDA", "4. SCL", "5. INT",
                          "", "7. Ende"};
    for (int32_t line = 0; line < 7; ++line)
        EXPECT_EQ(0, AddControlItem(17, line, help[line]));
    std::string expected;
    for (const char* text : help)
        expected += std::string(text) + "\r\n";
    EXPECT_EQ(expected, GetControlText(17));
    for (int32_t line = 0; line < 7; ++line)
        EXPECT_EQ(help[line], GetControlItemText(17, line)) << line;
    EXPECT_EQ("", GetControlItemText(17, 7));
    EXPECT_EQ("", GetControlItemText(17, 50));

    // Inserting before an existing line moves it and those after it down.
    AddControlItem(17, 1, "neu");
    EXPECT_EQ("1. Port wählen", GetControlItemText(17, 0));
    EXPECT_EQ("neu", GetControlItemText(17, 1));
    EXPECT_EQ("2. öffnen", GetControlItemText(17, 2));
}

TEST_F(Containers, EditorAppendsWithALineBreakAndBeyondTheLastLine)
{
    CreateEditor(1, 10, 10, 300, 150);
    AddControlItem(1, -1, "eins");
    EXPECT_EQ("eins", GetControlText(1));
    AddControlItem(1, -1, "zwei");
    EXPECT_EQ("eins\r\nzwei", GetControlText(1));
    AddControlItem(1, 9, "drei");
    EXPECT_EQ("eins\r\nzwei\r\ndrei", GetControlText(1));
    // A last line without a paragraph mark keeps all its characters.
    EXPECT_EQ("drei", GetControlItemText(1, 2));
    EXPECT_EQ("zwei", GetControlItemText(1, 1));

    SetControlText(1, "ganz neu");
    EXPECT_EQ("ganz neu", GetControlText(1));
    EXPECT_EQ("ganz neu", GetControlItemText(1, 0));
}

TEST_F(Containers, EditorRemembersAnEmptyFirstLine)
{
    HWND editor = AsWindow(CreateEditor(1, 10, 10, 300, 150));
    EXPECT_EQ(nullptr, GetPropA(editor, EDITOR_FILLED_PROPERTY));
    AddControlItem(1, -1, "");
    EXPECT_EQ("", GetControlText(1));
    EXPECT_NE(nullptr, GetPropA(editor, EDITOR_FILLED_PROPERTY));
    // The second empty line needs a break before it.
    AddControlItem(1, -1, "");
    EXPECT_EQ("\r\n", GetControlText(1));
    AddControlItem(1, -1, "x");
    EXPECT_EQ("\r\n\r\nx", GetControlText(1));

    SetControlText(1, "");
    EXPECT_EQ("", GetControlText(1));
    EXPECT_EQ(nullptr, GetPropA(editor, EDITOR_FILLED_PROPERTY));
    AddControlItem(1, -1, "");
    EXPECT_EQ("", GetControlText(1));

    // A text other than the empty one leaves the mark alone.
    SetControlText(1, "a");
    EXPECT_NE(nullptr, GetPropA(editor, EDITOR_FILLED_PROPERTY));
}

TEST_F(Containers, TabStaysInTheEditorAndShiftTabLeavesIt)
{
    HWND button = AsWindow(CreateButtonControl(1, 10, 10, 100, 25, "vorher"));
    CreateContainer(2, 10, 50, 400, 200, 1);
    HWND editor = AsWindow(CreateEditor(3, 10, 10, 300, 120));
    CloseControlList();
    AddControlItem(3, -1, "ab");
    ShowForInput(window);
    SetFocus(editor);
    SendMessageA(editor, EM_SETSEL, 1, 1);

    PressKey(VK_TAB);
    CollectEvents(300);
    EXPECT_EQ(editor, GetFocus());
    EXPECT_EQ("a\tb", GetControlText(3));

    PressKey(VK_TAB, true);
    CollectEvents(300);
    EXPECT_EQ(button, GetFocus());
    EXPECT_EQ("a\tb", GetControlText(3));
}

// --- demo ---------------------------------------------------------------------------

TEST_F(Containers, DemoWindowScreenshot)
{
    CloseNumberedWindow(0);
    ASSERT_NE(0, CreateNumberedWindow(0, 0, 0, 630, 499, 0xC80001, "Demo: Container und Editor"));
    window = GetCurrentWindowHandle();
    StartControlList(window);

    CreateContainer(0, 30, 30, 570, 140, 1);
    CreateTextControl(1, 20, 10, 530, 20, "Schnittstelle", CONTROL_TEXT_CENTRED);
    CreateComboBoxControl(2, 20, 50, 150, 200);
    CreateButtonControl(3, 200, 48, 120, 28, "öffnen", CONTROL_BUTTON_DEFAULT);
    CreateTextControl(4, 350, 50, 30, 22, "1", CONTROL_TEXT_CENTRED | CONTROL_TEXT_SUNKEN);
    CloseControlList();
    CreateContainer(7, 30, 170, 570, 290, 1);
    CreateTextControl(8, 20, 10, 530, 20, "Signale", CONTROL_TEXT_CENTRED);
    CreateButtonControl(9, 20, 50, 120, 28, "SDA   on/off");
    CreateEditor(17, 19, 169, 530, 110);
    CloseControlList();

    for (const char* port : {"com1", "com2", "com3"})
        AddControlItem(2, -1, port);
    SetControlText(2, "COM2");
    const char* lines[] = {"1. Port wählen und öffnen", "2. SDA schalten", "3. SCL schalten",
                           "4. SDA lesen", "5. INT lesen"};
    for (int32_t line = 0; line < 5; ++line)
        AddControlItem(17, line, lines[line]);
    ShowForInput(window);
    CollectEvents(300);

    std::string path = std::string(CT_BUILD_DIR) + "/demo-controls.bmp";
    ASSERT_TRUE(SaveWindowAsBmp(window, path.c_str()));
    EXPECT_EQ("com2", GetControlText(2));

    // The picture shows the window: the editor's inside is white, the panel
    // beside it has the face colour.
    HBITMAP picture = static_cast<HBITMAP>(
        LoadImageA(0, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    ASSERT_NE(nullptr, picture);
    RECT outer = {};
    GetWindowRect(window, &outer);
    auto pictureAt = [&](HWND control, int x, int y) {
        POINT point = {x, y};
        MapWindowPoints(control, 0, &point, 1);
        HDC dc = CreateCompatibleDC(0);
        HGDIOBJ previous = SelectObject(dc, picture);
        COLORREF colour = GetPixel(dc, point.x - outer.left, point.y - outer.top);
        SelectObject(dc, previous);
        DeleteDC(dc);
        return colour;
    };
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), pictureAt(GetControlHandle(17), 400, 90));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), pictureAt(GetControlHandle(7), 400, 80));
    EXPECT_TRUE(DeleteObject(picture));
    EXPECT_EQ(0u, GetObjectType(picture));
}
