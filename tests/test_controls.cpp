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

HFONT FontOf(HWND control)
{
    return reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
}

}  // namespace

TEST_F(Controls, ReusingANumberReplacesTheControlAndEventsCarryTheNumber)
{
    HWND first = AsWindow(CreateTextControl(5, 10, 10, 100, 20, "alt"));
    HWND second = AsWindow(CreateButtonControl(5, 10, 40, 100, 30, "neu"));
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(second, GetControlHandle(5));
    EXPECT_EQ(second, GetWindow(window, GW_CHILD));
    EXPECT_EQ(nullptr, GetWindow(second, GW_HWNDNEXT));

    ShowForInput(window);
    ClickClient(window, 60, 55);
    std::vector<int32_t> events = CollectEvents(400);
    EXPECT_EQ(1, std::count(events.begin(), events.end(), EV_CONTROL));
    EXPECT_EQ(5, GetEventControl());
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
}

TEST_F(Controls, AnyNumberControlsLiveOutsideTheTableAndVanishWhenFreed)
{
    int32_t a = CreateButtonControl(ANY_NUMBER, 10, 10, 100, 25, "eins");
    int32_t b = CreateComboBoxControl(ANY_NUMBER, 10, 40, 100, 120);
    EXPECT_NE(a, b);
    for (int32_t number : {a, b}) {
        EXPECT_TRUE(number < 0 || number > ControlTableSize());
        EXPECT_EQ(number, GetWindowLongA(GetControlHandle(number), GWL_ID));
    }
    SetControlText(a, "zwei");
    EXPECT_EQ("zwei", GetControlText(a));
    AddControlItem(b, -1, "com1");
    SetControlState(b, 0);
    EXPECT_EQ("com1", GetControlText(b));

    HWND control = GetControlHandle(a);
    FreeControl(a);
    EXPECT_FALSE(IsWindow(control));
    EXPECT_EQ(nullptr, GetControlHandle(a));
    EXPECT_NE(nullptr, GetControlHandle(b));
}

TEST_F(Controls, EmptyNumbersAndMissingKindEntriesGive0AndDoNothing)
{
    CreateTextControl(1, 0, 0, 100, 20, "Kopf");
    CreateButtonControl(2, 0, 30, 100, 25, "SCL  on/off");
    for (int32_t number : {1, 2}) {
        EXPECT_EQ(0, AddControlItem(number, -1, "neu"));
        EXPECT_EQ(0, CountControlItems(number));
        EXPECT_EQ("", GetControlItemText(number, 0));
        EXPECT_EQ(0, OpenControlList(number));
        EXPECT_EQ(0, SetControlState(number, 1));
    }
    EXPECT_EQ("Kopf", GetControlText(1));
    EXPECT_EQ("SCL  on/off", GetControlText(2));

    CreateTextControl(3, 0, 60, 10, 10, "x");
    FreeControl(3);
    FreeControl(3);
    // Never used, freed, the first spare record, the any-number request and
    // an invalid negative number: each acts like a text control on no window.
    for (int32_t number : {7, 3, 30, ANY_NUMBER, -5}) {
        SCOPED_TRACE(number);
        SetControlText(number, "x");
        EXPECT_EQ("", GetControlText(number));
        EXPECT_EQ(0, AddControlItem(number, -1, "x") | SetControlState(number, 1) | GetControlWidth(number) |
                         OpenControlList(number));
        EXPECT_EQ(nullptr, GetControlHandle(number));
        FreeControl(number);
    }
    EXPECT_EQ(window, CurrentControlParent());
}

TEST_F(Controls, FontForLaterControlsAndTheStockFontRequest)
{
    HFONT big = CreateFontA(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial");
    HWND before = AsWindow(CreateTextControl(1, 0, 0, 50, 20, "a"));
    SetControlFont(ANY_NUMBER, big);
    HWND after = AsWindow(CreateButtonControl(2, 0, 30, 50, 20, "b"));
    EXPECT_EQ(StockControlFont(), FontOf(before));
    EXPECT_EQ(big, FontOf(after));

    SetControlFont(1, big);
    EXPECT_EQ(big, FontOf(before));
    SetControlFont(1, StockFontRequest());
    EXPECT_EQ(StockControlFont(), FontOf(before));
    SetControlFont(ANY_NUMBER, StockFontRequest());
    EXPECT_EQ(StockControlFont(), FontOf(AsWindow(CreateTextControl(3, 0, 60, 50, 20, "c"))));

    // The font outlives its users; delete it only after they are gone.
    CloseNumberedWindow(0);
    DeleteObject(big);
}

TEST_F(Controls, TextIsLimitedTo31999Characters)
{
    CreateTextControl(1, 0, 0, 100, 20, "");
    std::string exact(31998, 'a');
    exact += "z";
    SetControlText(1, exact.c_str());
    EXPECT_EQ(exact, GetControlText(1));
    SetControlText(1, std::string(40000, 'b').c_str());
    EXPECT_EQ(std::string(31999, 'b'), GetControlText(1));
}

TEST_F(Controls, ComboBoxItemsAtTheEndAtTheStartAndEmpty)
{
    CreateComboBoxControl(1, 0, 0, 100, 200);
    EXPECT_EQ(0, AddControlItem(1, -1, "9600"));
    EXPECT_EQ(1, AddControlItem(1, -1, "19200"));
    EXPECT_EQ(0, AddControlItem(1, 0, "75"));
    EXPECT_EQ(3, AddControlItem(1, -1, nullptr));
    EXPECT_EQ(2, SetControlItemText(1, 2, "4800"));
    EXPECT_EQ(1, SetControlItemText(1, 1, nullptr));
    const char* expected[] = {"75", "", "4800", ""};
    EXPECT_EQ(4, CountControlItems(1));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(expected[i], GetControlItemText(1, i, 7)) << i;
    EXPECT_EQ("", GetControlItemText(1, 4));
    EXPECT_EQ("", GetControlItemText(1, -1));

    EXPECT_EQ(3, RemoveControlItem(1, 0));
    EXPECT_EQ("", GetControlItemText(1, 0));
    ClearControlItems(1);
    EXPECT_EQ(0, CountControlItems(1));
}

TEST_F(Controls, ComboBoxTextSelectsTheItemOfThatWholeTextIgnoringCase)
{
    CreateComboBoxControl(1, 0, 0, 100, 200);
    for (const char* rate : {"75", "150", "300", "600", "1200", "2400", "4800", "9600", "Com2"})
        AddControlItem(1, -1, rate);
    EXPECT_EQ("", GetControlText(1));
    EXPECT_EQ(7, SetControlState(1, 7));
    EXPECT_EQ("9600", GetControlText(1));

    // No item of that whole text (a prefix is not one): the selection stays.
    SetControlText(1, "96");
    SetControlText(1, "57600");
    EXPECT_EQ(7, GetControlState(1));
    SetControlText(1, "COM2");
    EXPECT_EQ("Com2", GetControlText(1));

    SetControlText(1, "");
    EXPECT_EQ(CB_ERR, GetControlState(1));
    EXPECT_EQ("", GetControlText(1));
    SetControlState(1, 0);
    SetControlText(1, nullptr);
    EXPECT_EQ(CB_ERR, GetControlState(1));
}
