// Control colouring: records and brushes, system defaults, the answers to
// colour messages, and what a coloured control really paints.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "tests/support/toolkit_fixture.h"
#include "toolkit/colours.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace {

const char PARENT_CLASS[] = "ColourTestParent";
const COLORREF BLACK = RGB(0, 0, 0);
const COLORREF WHITE = RGB(255, 255, 255);
const COLORREF GREEN = RGB(0, 255, 0);
const COLORREF RED = RGB(255, 0, 0);

// The parent answers colour questions the way the tester's window callback does.
LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT answer = HandleColourMessage(window, message, wParam, lParam, CALLBACK_DEFAULT);
    return answer != CALLBACK_DEFAULT ? answer : DefWindowProcA(window, message, wParam, lParam);
}

COLORREF BrushColour(HBRUSH brush)
{
    LOGBRUSH described = {};
    EXPECT_EQ(static_cast<int>(sizeof described), GetObjectA(brush, sizeof described, &described));
    return described.lbColor;
}

class ColoursTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        InitControlColours();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ParentProc;
        windowClass.hInstance = GetModuleHandleA(0);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
        windowClass.lpszClassName = PARENT_CLASS;
        ASSERT_TRUE(RegisterClassA(&windowClass));
        parent = CreateWindowExA(WS_EX_TOPMOST, PARENT_CLASS, "Farben", WS_POPUP | WS_VISIBLE,
                                 100, 100, 320, 200, 0, 0, GetModuleHandleA(0), 0);
        ASSERT_NE(HWND(0), parent);
        StartControlList(parent);
        dc = CreateCompatibleDC(0);
    }
    void TearDown() override
    {
        FreeControlColours();
        DeleteDC(dc);
        DestroyWindow(parent);
        CloseControlList();
        UnregisterClassA(PARENT_CLASS, GetModuleHandleA(0));
        ToolkitTest::TearDown();
    }

    // What the parent answers when the control asks for its colours.
    LRESULT Ask(int32_t number, UINT message = WM_CTLCOLORSTATIC, LRESULT passOn = CALLBACK_DEFAULT)
    {
        return HandleColourMessage(parent, message, reinterpret_cast<WPARAM>(dc),
                                   reinterpret_cast<LPARAM>(GetControlHandle(number)), passOn);
    }
    HBRUSH BrushOf(int32_t number) { return reinterpret_cast<HBRUSH>(Ask(number)); }

    // The screen pixel in the middle of a control once it has repainted. The
    // window's image reaches the screen a little after the paint, so the pixel
    // is sampled until it shows the expected colour or time runs out.
    COLORREF PaintedColour(int32_t number, COLORREF expected)
    {
        RECT area;
        GetWindowRect(GetControlHandle(number), &area);
        COLORREF seen = CLR_INVALID;
        for (int attempt = 0; attempt < 40 && seen != expected; ++attempt) {
            MSG message;
            while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            Sleep(25);
            HDC screen = GetDC(0);
            seen = GetPixel(screen, (area.left + area.right) / 2, (area.top + area.bottom) / 2);
            ReleaseDC(0, screen);
        }
        return seen;
    }

    HWND parent = 0;   // top-level window holding the test's controls
    HDC dc = 0;        // memory context handed over in the colour messages
};

TEST_F(ColoursTest, OneRecordPerControlAndTheOldBrushIsDeleted)
{
    EXPECT_EQ(0, SetControlColours(7, BLACK, WHITE));   // no control: no record
    EXPECT_EQ(0u, ControlColourCount());

    ASSERT_NE(0, CreateTextControl(13, 10, 10, 40, 20, "0"));
    ASSERT_NE(0, CreateTextControl(14, 60, 10, 40, 20, "0"));
    SetControlColours(13, BLACK, WHITE);
    SetControlColours(14, RED, WHITE);
    HBRUSH white = BrushOf(13);
    EXPECT_EQ(WHITE, BrushColour(white));
    EXPECT_EQ(0, SetControlColours(13, BLACK, GREEN));
    EXPECT_EQ(2u, ControlColourCount());
    EXPECT_EQ(0u, GetObjectType(white));
    EXPECT_EQ(GREEN, BrushColour(BrushOf(13)));
    EXPECT_EQ(WHITE, BrushColour(BrushOf(14)));

    // A new control under the number has system colours until coloured again.
    HBRUSH green = BrushOf(13);
    ASSERT_NE(0, CreateTextControl(13, 10, 10, 40, 20, ""));
    EXPECT_EQ(CALLBACK_DEFAULT, Ask(13));
    SetControlColours(13, BLACK, RED);
    EXPECT_EQ(2u, ControlColourCount());
    EXPECT_EQ(0u, GetObjectType(green));
    EXPECT_EQ(RED, BrushColour(BrushOf(13)));
}

// -1 takes the system colour of the control's class, read at colouring time.
// The system colours are made distinct for the test, so that a mix-up of
// button-face and window colours cannot hide behind equal defaults.
TEST_F(ColoursTest, DefaultColoursFollowTheControlClass)
{
    const INT elements[] = {COLOR_BTNTEXT, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_WINDOW};
    COLORREF saved[4];
    for (int i = 0; i < 4; ++i)
        saved[i] = GetSysColor(elements[i]);
    const COLORREF distinct[] = {RGB(1, 2, 3), RGB(4, 5, 6), RGB(200, 100, 50), RGB(50, 100, 200)};
    ASSERT_TRUE(SetSysColors(4, elements, distinct));

    ASSERT_NE(0, CreateTextControl(1, 10, 10, 60, 20, "Text"));
    ASSERT_NE(0, CreateComboBoxControl(2, 10, 40, 80, 100));
    SetControlColours(1, COLOUR_SYSTEM_DEFAULT, COLOUR_SYSTEM_DEFAULT);
    SetControlColours(2, COLOUR_SYSTEM_DEFAULT, COLOUR_SYSTEM_DEFAULT);
    const COLORREF later[] = {RGB(9, 9, 9), RGB(8, 8, 8), RGB(7, 7, 7), RGB(6, 6, 6)};
    SetSysColors(4, elements, later);   // records keep what they were given

    EXPECT_EQ(distinct[2], BrushColour(BrushOf(1)));
    EXPECT_EQ(distinct[0], GetTextColor(dc));
    EXPECT_EQ(distinct[2], GetBkColor(dc));
    EXPECT_EQ(distinct[3], BrushColour(BrushOf(2)));
    EXPECT_EQ(distinct[1], GetTextColor(dc));
    EXPECT_EQ(distinct[3], GetBkColor(dc));
    SetSysColors(4, elements, saved);
}

TEST_F(ColoursTest, OnlyColourMessagesOfColouredControlsAreAnswered)
{
    ASSERT_NE(0, CreateTextControl(13, 10, 10, 40, 20, "0"));
    ASSERT_NE(0, CreateTextControl(14, 60, 10, 40, 20, "0"));
    const LRESULT passOn = 0x5A5A;
    EXPECT_EQ(passOn, Ask(13, WM_CTLCOLORSTATIC, passOn)) << "empty list";

    SetControlColours(13, RED, GREEN);
    LRESULT brush = reinterpret_cast<LRESULT>(BrushOf(13));
    for (UINT message = WM_CTLCOLOREDIT; message <= WM_CTLCOLORSTATIC; ++message) {
        SetBkMode(dc, OPAQUE);
        EXPECT_EQ(brush, Ask(13, message, passOn)) << message;
        EXPECT_EQ(TRANSPARENT, GetBkMode(dc));   // text over the brush, not on a box
        EXPECT_EQ(RED, GetTextColor(dc));
        EXPECT_EQ(GREEN, GetBkColor(dc));
        EXPECT_EQ(passOn, Ask(14, message, passOn)) << "uncoloured, message " << message;
    }
    for (UINT message : {UINT(WM_CTLCOLORMSGBOX), UINT(WM_PAINT), UINT(WM_CTLCOLORSTATIC + 1)})
        EXPECT_EQ(passOn, Ask(13, message, passOn)) << message;
}

TEST_F(ColoursTest, CustomDrawColoursTheSubItems)
{
    ASSERT_NE(0, CreateComboBoxControl(4, 10, 10, 80, 100));
    SetControlColours(4, RED, GREEN);
    const LRESULT passOn = 0x77;
    NMLVCUSTOMDRAW draw = {};
    draw.nmcd.hdr.hwndFrom = GetControlHandle(4);
    draw.nmcd.hdr.code = NM_CUSTOMDRAW;
    auto notify = [&](DWORD stage) {
        draw.nmcd.dwDrawStage = stage;
        return HandleColourMessage(parent, WM_NOTIFY, 4, reinterpret_cast<LPARAM>(&draw), passOn);
    };
    EXPECT_EQ(CDRF_NOTIFYITEMDRAW, notify(CDDS_PREPAINT));
    EXPECT_EQ(CDRF_NOTIFYSUBITEMDRAW, notify(CDDS_ITEMPREPAINT));
    EXPECT_EQ(0u, draw.clrText);
    EXPECT_EQ(CDRF_NEWFONT, notify(CDDS_ITEMPREPAINT | CDDS_SUBITEM));
    EXPECT_EQ(RED, draw.clrText);
    EXPECT_EQ(GREEN, draw.clrTextBk);
    EXPECT_EQ(passOn, notify(CDDS_POSTPAINT));
    draw.nmcd.hdr.hwndFrom = parent;   // not coloured
    EXPECT_EQ(passOn, notify(CDDS_PREPAINT));
}

TEST_F(ColoursTest, ColouredTextControlRepaintsInItsBackgroundColour)
{
    ASSERT_NE(0, CreateTextControl(13, 20, 20, 80, 40, ""));
    SetControlColours(13, BLACK, WHITE);
    EXPECT_EQ(WHITE, PaintedColour(13, WHITE));
    SetControlColours(13, BLACK, GREEN);   // no further call: the next paint shows it
    EXPECT_EQ(GREEN, PaintedColour(13, GREEN));
}

TEST_F(ColoursTest, EndStepDeletesEveryBrush)
{
    HBRUSH brushes[3];
    for (int32_t number = 0; number < 3; ++number) {
        ASSERT_NE(0, CreateTextControl(number, 10, 10 + 30 * number, 40, 20, ""));
        SetControlColours(number, BLACK, RGB(10 * number, 0, 0));
        brushes[number] = BrushOf(number);
    }
    FreeControlColours();
    for (HBRUSH brush : brushes)
        EXPECT_EQ(0u, GetObjectType(brush));
    EXPECT_EQ(0u, ControlColourCount());
    FreeControlColours();   // twice is harmless
}

}  // namespace
