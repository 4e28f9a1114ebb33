// Text controls, combo boxes, buttons and the common control operations,
// on real windows under the toolkit.
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

class Controls : public ToolkitWindowTest {};

DWORD StyleOf(HWND control) { return static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)); }
DWORD ExStyleOf(HWND control) { return static_cast<DWORD>(GetWindowLongA(control, GWL_EXSTYLE)); }

HFONT FontOf(HWND control)
{
    return reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
}

HWND AsWindow(int32_t handle) { return reinterpret_cast<HWND>(static_cast<intptr_t>(handle)); }

// What the toolkit asked CreateWindowExA for, seen by a CBT hook: the combo box
// moves WS_BORDER, WS_VSCROLL and its client edge to its list, so the styles
// the finished window reports are not the ones requested.
struct Creation {
    std::string className;
    DWORD style;
    DWORD exStyle;
    HWND parent;
    intptr_t identifier;
};
std::vector<Creation> creations;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        // A class given as an atom is not one of the toolkit's names.
        std::string name = HIWORD(create->lpszClass) ? create->lpszClass : "#atom";
        creations.push_back(Creation{name, static_cast<DWORD>(create->style), create->dwExStyle,
                                     create->hwndParent,
                                     reinterpret_cast<intptr_t>(create->hMenu)});
    }
    return CallNextHookEx(0, code, wParam, lParam);
}

}  // namespace

// --- creation ----------------------------------------------------------------

TEST_F(Controls, EachKindIsCreatedWithItsClassStylesNumberParentAndFont)
{
    creations.clear();
    HHOOK hook = SetWindowsHookExA(WH_CBT, RecordCreation, 0, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    HWND text = AsWindow(CreateTextControl(1, 10, 10, 100, 20, "Kopf", CONTROL_TEXT_CENTRED));
    HWND field = AsWindow(CreateTextControl(2, 10, 40, 30, 20, "0",
                                            CONTROL_TEXT_CENTRED | CONTROL_TEXT_SUNKEN));
    HWND plain = AsWindow(CreateTextControl(3, 10, 70, 100, 20, "links"));
    HWND combo = AsWindow(CreateComboBoxControl(4, 120, 10, 100, 200));
    HWND button = AsWindow(CreateButtonControl(5, 120, 40, 100, 25, "öffnen",
                                               CONTROL_BUTTON_DEFAULT));
    HWND push = AsWindow(CreateButtonControl(6, 120, 70, 100, 25, "SDA   on/off"));
    UnhookWindowsHookEx(hook);

    struct Expected {
        HWND control;
        int32_t number;
        const char* className;
        DWORD style;
        DWORD exStyle;
    } expected[] = {
        {text, 1, "STATIC", 0x50020001, 0},
        {field, 2, "STATIC", 0x50020001, WS_EX_CLIENTEDGE},
        {plain, 3, "STATIC", 0x50020000, 0},
        {combo, 4, "COMBOBOX", 0x50A30203, WS_EX_CLIENTEDGE},
        {button, 5, "BUTTON", 0x50030001, 0},
        {push, 6, "BUTTON", 0x50030000, 0},
    };
    std::vector<Creation> ours;
    for (const Creation& c : creations) {
        if (c.parent == window)
            ours.push_back(c);
    }
    ASSERT_EQ(6u, ours.size());
    for (size_t i = 0; i < 6; ++i) {
        const Expected& e = expected[i];
        SCOPED_TRACE(e.number);
        ASSERT_NE(nullptr, e.control);
        EXPECT_EQ(e.control, GetControlHandle(e.number));
        EXPECT_EQ(e.className, ours[i].className);
        EXPECT_EQ(e.style, ours[i].style);
        EXPECT_EQ(e.exStyle, ours[i].exStyle);
        EXPECT_EQ(e.number, ours[i].identifier);
        EXPECT_EQ(e.number, GetWindowLongA(e.control, GWL_ID));
        EXPECT_EQ(window, GetParent(e.control));
        EXPECT_EQ(StockControlFont(), FontOf(e.control));
    }
    // The styles do what they are for.
    EXPECT_EQ(static_cast<DWORD>(SS_CENTER), StyleOf(text) & SS_TYPEMASK);
    EXPECT_EQ(static_cast<DWORD>(SS_LEFT), StyleOf(plain) & SS_TYPEMASK);
    EXPECT_EQ(static_cast<DWORD>(WS_EX_CLIENTEDGE), ExStyleOf(field) & WS_EX_CLIENTEDGE);
    EXPECT_EQ(static_cast<DWORD>(CBS_DROPDOWNLIST), StyleOf(combo) & 3u);
    EXPECT_EQ(static_cast<DWORD>(BS_DEFPUSHBUTTON), StyleOf(button) & BS_TYPEMASK);
    EXPECT_EQ(static_cast<DWORD>(BS_PUSHBUTTON), StyleOf(push) & BS_TYPEMASK);
    EXPECT_EQ("Kopf", GetControlText(1));
    EXPECT_EQ("öffnen", GetControlText(5));
}

TEST_F(Controls, ReusingANumberReplacesTheControlAndEventsCarryTheNumber)
{
    HWND first = AsWindow(CreateTextControl(5, 10, 10, 100, 20, "alt"));
    ASSERT_TRUE(IsWindow(first));
    HWND second = AsWindow(CreateButtonControl(5, 10, 40, 100, 30, "neu"));
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(second, GetControlHandle(5));
    EXPECT_EQ("neu", GetControlText(5));
    // Exactly one child is left under the number.
    int children = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children += GetWindowLongA(child, GWL_ID) == 5;
    EXPECT_EQ(1, children);

    ShowForInput(window);
    ClickClient(window, 60, 55);
    std::vector<int32_t> events = CollectEvents(400);
    EXPECT_EQ(1, std::count(events.begin(), events.end(), EV_CONTROL));
    EXPECT_EQ(5, GetEventControl());
}

TEST_F(Controls, NumbersBeyondTheTableGrowItAndKeepEarlierControls)
{
    HWND low = AsWindow(CreateTextControl(29, 0, 0, 10, 10, "a"));
    HWND high = AsWindow(CreateTextControl(100, 0, 20, 10, 10, "b"));
    EXPECT_EQ(130, ControlTableSize());
    EXPECT_EQ(low, GetControlHandle(29));
    EXPECT_EQ(high, GetControlHandle(100));
    EXPECT_EQ("a", GetControlText(29));
}

TEST_F(Controls, AnyNumberControlsLiveOutsideTheTableAndVanishWhenFreed)
{
    int32_t a = CreateButtonControl(ANY_NUMBER, 10, 10, 100, 25, "eins");
    int32_t b = CreateComboBoxControl(ANY_NUMBER, 10, 40, 100, 120);
    ASSERT_NE(0, a);
    ASSERT_NE(0, b);
    EXPECT_NE(a, b);
    for (int32_t number : {a, b}) {
        EXPECT_TRUE(number < 0 || number > ControlTableSize());
        HWND control = GetControlHandle(number);
        ASSERT_TRUE(IsWindow(control));
        EXPECT_EQ(number, GetWindowLongA(control, GWL_ID));
    }
    EXPECT_EQ(30, ControlTableSize());

    EXPECT_EQ("eins", GetControlText(a));
    SetControlText(a, "zwei");
    EXPECT_EQ("zwei", GetControlText(a));
    EXPECT_EQ(100, GetControlWidth(a));
    EXPECT_EQ(25, GetControlHeight(a));
    EXPECT_EQ(0, AddControlItem(b, -1, "com1"));
    EXPECT_EQ(1, SetControlState(b, 0) + 1);
    EXPECT_EQ("com1", GetControlText(b));

    HWND control = GetControlHandle(a);
    FreeControl(a);
    EXPECT_FALSE(IsWindow(control));
    EXPECT_EQ(nullptr, GetControlHandle(a));
    EXPECT_EQ("", GetControlText(a));
    EXPECT_NE(nullptr, GetControlHandle(b));
}

TEST_F(Controls, ClosingTheWindowFreesTheNumbersOfItsControls)
{
    CreateTextControl(1, 0, 0, 10, 10, "a");
    int32_t any = CreateButtonControl(ANY_NUMBER, 0, 20, 10, 10, "b");
    CreateContainer(2, 20, 0, 100, 100, 1);
    HWND inner = AsWindow(CreateTextControl(3, 0, 0, 10, 10, "c"));
    CloseControlList();
    ASSERT_EQ(GetControlHandle(2), GetParent(inner));

    CloseNumberedWindow(0);
    for (int32_t number : {1, 2, 3, any})
        EXPECT_EQ(nullptr, GetControlHandle(number)) << number;
    EXPECT_FALSE(IsWindow(inner));
}

TEST_F(Controls, FreeControlDestroysOnceAndEmptyNumbersAreHarmless)
{
    HWND text = AsWindow(CreateTextControl(4, 0, 0, 10, 10, "x"));
    FreeControl(4);
    EXPECT_FALSE(IsWindow(text));
    EXPECT_EQ(nullptr, GetControlHandle(4));
    FreeControl(4);

    // Numbers without a control: never used, freed, the first spare record,
    // the any-number request and an invalid negative number.
    for (int32_t number : {7, 4, 30, ANY_NUMBER, -5}) {
        SCOPED_TRACE(number);
        SetControlText(number, "x");
        EXPECT_EQ("", GetControlText(number));
        EXPECT_EQ(0, AddControlItem(number, -1, "x"));
        EXPECT_EQ(0, SetControlState(number, 1));
        EXPECT_EQ(0, GetControlState(number));
        EXPECT_EQ(0, CountControlItems(number));
        EXPECT_EQ("", GetControlItemText(number, 0));
        EXPECT_EQ(0, GetControlWidth(number));
        EXPECT_EQ(0, GetControlHeight(number));
        EXPECT_EQ(0, OpenControlList(number));
        EXPECT_EQ(nullptr, GetControlHandle(number));
        if (number != ANY_NUMBER)
            SetControlFont(number, StockFontRequest());
        FreeControl(number);
    }
    EXPECT_EQ(0, ControlListDepth());
    EXPECT_EQ(window, CurrentControlParent());
}

// --- fonts and sizes -----------------------------------------------------------

TEST_F(Controls, FontForAllLaterControlsAndStockFontRequest)
{
    HFONT big = CreateFontA(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial");
    ASSERT_NE(nullptr, big);
    HWND before = AsWindow(CreateTextControl(1, 0, 0, 50, 20, "a"));
    SetControlFont(ANY_NUMBER, big);
    HWND after = AsWindow(CreateButtonControl(2, 0, 30, 50, 20, "b"));
    EXPECT_EQ(StockControlFont(), FontOf(before));
    EXPECT_EQ(big, FontOf(after));
    EXPECT_EQ(big, DefaultControlFont());

    SetControlFont(1, big);
    EXPECT_EQ(big, FontOf(before));
    SetControlFont(1, StockFontRequest());
    EXPECT_EQ(StockControlFont(), FontOf(before));
    SetControlFont(ANY_NUMBER, StockFontRequest());
    EXPECT_EQ(StockControlFont(), DefaultControlFont());
    EXPECT_EQ(StockControlFont(), FontOf(AsWindow(CreateTextControl(3, 0, 60, 50, 20, "c"))));

    // The font outlives its users; delete it only after they are gone.
    CloseNumberedWindow(0);
    EXPECT_TRUE(DeleteObject(big));
    EXPECT_EQ(0u, GetObjectType(big));
}

TEST_F(Controls, WidthAndHeightAreTheOuterSize)
{
    CreateTextControl(1, 5, 5, 120, 22, "x", CONTROL_TEXT_SUNKEN);
    CreateButtonControl(2, 5, 40, 90, 31, "y");
    EXPECT_EQ(120, GetControlWidth(1));
    EXPECT_EQ(22, GetControlHeight(1));
    EXPECT_EQ(90, GetControlWidth(2));
    EXPECT_EQ(31, GetControlHeight(2));
}

// --- texts ------------------------------------------------------------------------

TEST_F(Controls, TextIsLimitedTo31999Characters)
{
    CreateTextControl(1, 0, 0, 100, 20, "");
    std::string exact(31999, 'a');
    exact.back() = 'z';
    SetControlText(1, exact.c_str());
    EXPECT_EQ(exact, GetControlText(1));

    std::string longer(40000, 'b');
    SetControlText(1, longer.c_str());
    std::string read = GetControlText(1);
    EXPECT_EQ(31999u, read.size());
    EXPECT_EQ(std::string(31999, 'b'), read);

    SetControlText(1, "");
    EXPECT_EQ("", GetControlText(1));
    // Windows-1252 characters pass unchanged.
    SetControlText(1, "schliessen äöüß");
    EXPECT_EQ("schliessen äöüß", GetControlText(1));
}

// --- combo box ----------------------------------------------------------------------

TEST_F(Controls, ComboBoxItemsAtTheEndAtTheStartAndEmpty)
{
    CreateComboBoxControl(1, 0, 0, 100, 200);
    EXPECT_EQ(0, AddControlItem(1, -1, "9600"));
    EXPECT_EQ(1, AddControlItem(1, -1, "19200"));
    EXPECT_EQ(0, AddControlItem(1, 0, "75"));
    EXPECT_EQ(3, AddControlItem(1, -1, nullptr));
    EXPECT_EQ(1, AddControlItem(1, 1, ""));
    EXPECT_EQ(5, CountControlItems(1));
    const char* expected[] = {"75", "", "9600", "19200", ""};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(expected[i], GetControlItemText(1, i, 7)) << i;
    EXPECT_EQ("", GetControlItemText(1, 5));
    EXPECT_EQ("", GetControlItemText(1, -1));

    EXPECT_EQ(2, SetControlItemText(1, 2, "4800"));
    EXPECT_EQ("4800", GetControlItemText(1, 2));
    EXPECT_EQ(1, SetControlItemText(1, 1, nullptr));
    EXPECT_EQ("", GetControlItemText(1, 1));
    EXPECT_EQ(5, CountControlItems(1));

    EXPECT_EQ(4, RemoveControlItem(1, 0));
    EXPECT_EQ("", GetControlItemText(1, 0));
    EXPECT_EQ("4800", GetControlItemText(1, 1));
    ClearControlItems(1);
    EXPECT_EQ(0, CountControlItems(1));
}

TEST_F(Controls, ComboBoxTextIsTheSelectedItem)
{
    CreateComboBoxControl(1, 0, 0, 100, 200);
    for (const char* rate : {"75", "150", "300", "600", "1200", "2400", "4800", "9600", "19200"})
        AddControlItem(1, -1, rate);
    EXPECT_EQ("", GetControlText(1));
    EXPECT_EQ(CB_ERR, GetControlState(1));

    EXPECT_EQ(7, SetControlState(1, 7));
    EXPECT_EQ("9600", GetControlText(1));
    EXPECT_EQ(7, GetControlState(1));

    // No item of that text (a prefix is not a match): the selection stays.
    SetControlText(1, "96");
    EXPECT_EQ("9600", GetControlText(1));
    SetControlText(1, "57600");
    EXPECT_EQ(7, GetControlState(1));

    SetControlText(1, "1200");
    EXPECT_EQ(4, GetControlState(1));

    SetControlText(1, "");
    EXPECT_EQ(CB_ERR, GetControlState(1));
    EXPECT_EQ("", GetControlText(1));
    SetControlState(1, 0);
    SetControlText(1, nullptr);
    EXPECT_EQ(CB_ERR, GetControlState(1));

    SetControlState(1, -1);
    EXPECT_EQ(CB_ERR, GetControlState(1));
}

TEST_F(Controls, ComboBoxTextMatchIgnoresCase)
{
    CreateComboBoxControl(1, 0, 0, 100, 200);
    AddControlItem(1, -1, "com1");
    AddControlItem(1, -1, "Com2");
    SetControlText(1, "COM2");
    EXPECT_EQ(1, GetControlState(1));
    EXPECT_EQ("Com2", GetControlText(1));
    SetControlText(1, "Com1");
    EXPECT_EQ("com1", GetControlText(1));
}

// --- kinds that lack an operation ---------------------------------------------------

TEST_F(Controls, OperationsAKindLacksReturn0AndChangeNothing)
{
    CreateTextControl(1, 0, 0, 100, 20, "Kopf");
    CreateButtonControl(2, 0, 30, 100, 25, "SCL  on/off");
    for (int32_t number : {1, 2}) {
        SCOPED_TRACE(number);
        std::string before = GetControlText(number);
        EXPECT_EQ(0, AddControlItem(number, -1, "neu"));
        EXPECT_EQ(0, AddControlItem(number, 0, nullptr));
        EXPECT_EQ(0, CountControlItems(number));
        EXPECT_EQ(0, RemoveControlItem(number, 0));
        EXPECT_EQ(0, ClearControlItems(number));
        EXPECT_EQ(0, SetControlItemText(number, 0, "x"));
        EXPECT_EQ("", GetControlItemText(number, 0));
        EXPECT_EQ(0, OpenControlList(number));
        EXPECT_EQ(before, GetControlText(number));
    }
    EXPECT_EQ(0, SetControlState(1, 1));
    EXPECT_EQ(0, GetControlState(1));
    EXPECT_EQ(0, ControlListDepth());
    EXPECT_EQ(window, CurrentControlParent());
}
