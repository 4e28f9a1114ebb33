// Containers, the control lists they open, and the editor, on real windows
// with real input under the toolkit.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/toolkit_fixture.h"
#include "toolkit/container.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace {

class Containers : public ToolkitWindowTest {};

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

// Notification codes of the commands that reach the top-level window.
std::vector<int> notifications;

LRESULT CALLBACK RecordNotification(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && lParam)
        notifications.push_back(HIWORD(wParam));
    return CALLBACK_DEFAULT;
}

}  // namespace

// --- containers and control lists ---------------------------------------------------

TEST_F(Containers, ControlsGoIntoTheOpenContainerUntilItsListIsClosed)
{
    HWND panel = AsWindow(CreateContainer(0, 30, 30, 570, 140, 1));
    HWND nested = AsWindow(CreateContainer(2, 200, 10, 300, 100, 0xC));
    HWND deeper = AsWindow(CreateButtonControl(3, 5, 6, 80, 25, "tief"));
    CloseControlList();
    HWND inside = AsWindow(CreateTextControl(1, 15, 20, 100, 20, "innen"));
    CloseControlList();
    HWND outside = AsWindow(CreateTextControl(4, 30, 200, 100, 20, "aussen"));
    EXPECT_EQ(window, GetParent(panel));
    EXPECT_EQ(panel, GetParent(nested));
    EXPECT_EQ(nested, GetParent(deeper));
    EXPECT_EQ(panel, GetParent(inside));
    EXPECT_EQ(window, GetParent(outside));

    // Positions are relative to the container's client area.
    RECT rect = {};
    GetWindowRect(deeper, &rect);
    POINT corner = {rect.left, rect.top};
    ScreenToClient(nested, &corner);
    EXPECT_EQ(5, corner.x);
    EXPECT_EQ(6, corner.y);
    char name[32] = {};
    GetClassNameA(panel, name, sizeof(name));
    EXPECT_STREQ("NoltContainer", name);
    // Of the border flags only the first one given counts.
    EXPECT_EQ(WS_BORDER, GetWindowLongA(panel, GWL_STYLE) & (WS_BORDER | WS_DLGFRAME));
    EXPECT_EQ(WS_EX_STATICEDGE, GetWindowLongA(nested, GWL_EXSTYLE) &
                                    (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE));
}

TEST_F(Containers, StartingAListKeepsTheStackAndClosingAnEmptyStackDoesNothing)
{
    CloseControlList();
    EXPECT_EQ(window, CurrentControlParent());
    EXPECT_EQ(nullptr, StartControlList(0));
    StartControlList(window);

    HWND panel = AsWindow(CreateContainer(0, 0, 0, 100, 100, 1));
    StartControlList(window);
    EXPECT_EQ(1, ControlListDepth());
    CloseControlList();
    EXPECT_EQ(window, CurrentControlParent());

    // Reopening the container's list sends later controls into it again.
    EXPECT_NE(0, OpenControlList(0));
    EXPECT_EQ(panel, GetParent(AsWindow(CreateTextControl(1, 0, 0, 10, 10, "x"))));
    CloseControlList();
    CloseControlList();
    EXPECT_EQ(window, CurrentControlParent());
}

TEST_F(Containers, AFullParentStackRejectsTheNextListWithoutMakingAnything)
{
    std::vector<HWND> chain;
    for (int32_t n = 0; n < CONTROL_LIST_DEPTH; ++n)
        chain.push_back(AsWindow(CreateContainer(n, 1, 1, 300 - n, 300 - n, 0)));
    ASSERT_EQ(CONTROL_LIST_DEPTH, ControlListDepth());
    ASSERT_EQ(chain.back(), CurrentControlParent());

    EXPECT_EQ(0, CreateContainer(100, 1, 1, 10, 10, 1));
    EXPECT_EQ(0, CreateContainer(ANY_NUMBER, 1, 1, 10, 10, 1));
    EXPECT_EQ(0, CreateContainer(3, 1, 1, 10, 10, 1));
    EXPECT_EQ(0, OpenControlList(0));
    EXPECT_EQ(nullptr, GetWindow(chain.back(), GW_CHILD));
    EXPECT_EQ(nullptr, GetControlHandle(100));
    EXPECT_EQ(chain[3], GetControlHandle(3));
    EXPECT_EQ(CONTROL_LIST_DEPTH, ControlListDepth());

    for (int32_t n = CONTROL_LIST_DEPTH - 1; n >= 0; --n) {
        CloseControlList();
        EXPECT_EQ(n == 0 ? window : chain[n - 1], CurrentControlParent()) << n;
    }
}

TEST_F(Containers, ChangingTheClassBackgroundChangesEveryContainer)
{
    HWND first = AsWindow(CreateContainer(0, 10, 10, 100, 100, 1));
    CloseControlList();
    ShowForInput(window);
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(face, CentrePixel(first));

    HBRUSH yellow = CreateSolidBrush(RGB(255, 255, 160));
    ULONG_PTR previous = SetClassLongPtrA(first, GCLP_HBRBACKGROUND,
                                          reinterpret_cast<LONG_PTR>(yellow));
    HWND later = AsWindow(CreateContainer(1, 240, 10, 100, 100, 1));
    CloseControlList();
    EXPECT_EQ(RGB(255, 255, 160), CentrePixel(first));
    EXPECT_EQ(RGB(255, 255, 160), CentrePixel(later));
    EXPECT_EQ(face, CentrePixel(window));

    // The class outlives this test: give it its brush back before deleting ours.
    SetClassLongPtrA(first, GCLP_HBRBACKGROUND, static_cast<LONG_PTR>(previous));
    CloseNumberedWindow(0);
    DeleteObject(yellow);
}

// --- events from inside containers --------------------------------------------------

TEST_F(Containers, AClickInANestedContainerArrivesOnceAfterTheMouseUp)
{
    CreateContainer(0, 30, 30, 570, 290, 1);
    CreateContainer(1, 20, 20, 300, 200, 1);
    HWND button = AsWindow(CreateButtonControl(9, 40, 50, 120, 30, "SDA   on/off"));
    CloseControlList();
    CloseControlList();
    ShowForInput(window);

    POINT centre = {60, 15};
    MapWindowPoints(button, window, &centre, 1);
    ClickClient(window, centre.x, centre.y);
    std::vector<int32_t> events = CollectEvents(500);
    auto up = std::find(events.begin(), events.end(), WM_LBUTTONUP);
    ASSERT_TRUE(up != events.end() && up + 1 != events.end());
    EXPECT_EQ(EV_CONTROL, *(up + 1));
    EXPECT_EQ(1, std::count(events.begin(), events.end(), EV_CONTROL));
    EXPECT_EQ(9, GetEventControl());
}

TEST_F(Containers, OpeningAComboBoxListInAContainerIsAnEvent)
{
    CreateContainer(0, 30, 30, 570, 140, 1);
    HWND combo = AsWindow(CreateComboBoxControl(3, 20, 20, 120, 200));
    CloseControlList();
    AddControlItem(3, -1, "com1");
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
    PressKey(VK_ESCAPE);
    CollectEvents(200);
    SetWindowCallback(0);
    EXPECT_EQ("", GetControlText(3));
}

// --- editor ----------------------------------------------------------------------

TEST_F(Containers, EditorBuildsLinesFromInsertionsAtPositions)
{
    CreateEditor(17, 10, 10, 530, 150);
    const char* help[] = {"1. Port wählen", "2. öffnen", "3. SDA", "4. SCL", "5. INT", "", "7."};
    std::string expected;
    for (int32_t line = 0; line < 7; ++line) {
        AddControlItem(17, line, help[line]);
        expected += std::string(help[line]) + "\r\n";
    }
    EXPECT_EQ(expected, GetControlText(17));
    for (int32_t line = 0; line < 7; ++line)
        EXPECT_EQ(help[line], GetControlItemText(17, line)) << line;
    EXPECT_EQ("", GetControlItemText(17, 50));

    // Inserting before a line moves it and those after it down.
    AddControlItem(17, 1, "neu");
    EXPECT_EQ("neu", GetControlItemText(17, 1));
    EXPECT_EQ("2. öffnen", GetControlItemText(17, 2));

    // Appending puts a break before the text, also for a line beyond the
    // last; that last line has no paragraph mark and keeps all its characters.
    SetControlText(17, "eins");
    AddControlItem(17, -1, "zwei");
    AddControlItem(17, 9, "drei");
    EXPECT_EQ("eins\r\nzwei\r\ndrei", GetControlText(17));
    EXPECT_EQ("drei", GetControlItemText(17, 2));
}

TEST_F(Containers, EditorRemembersAnEmptyFirstLine)
{
    HWND editor = AsWindow(CreateEditor(1, 10, 10, 300, 150));
    AddControlItem(1, -1, "");
    EXPECT_EQ("", GetControlText(1));
    EXPECT_NE(nullptr, GetPropA(editor, EDITOR_FILLED_PROPERTY));
    // The second empty line needs a break before it.
    AddControlItem(1, -1, "");
    EXPECT_EQ("\r\n", GetControlText(1));

    SetControlText(1, "");
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
    // Outside the editor Tab moves the focus on (the window's accelerator).
    PressKey(VK_TAB);
    CollectEvents(300);
    EXPECT_EQ(editor, GetFocus());
}

