// The tester's window built inside this process: what only the process
// itself can see (fonts, styles, native objects), and their release.
#include <gtest/gtest.h>
#include <string.h>

#include "app/layout.h"
#include "app/state.h"
#include "app/tester.h"
#include "tests/support/coupler_client.h"
#include "toolkit/controls.h"
#include "toolkit/window.h"

namespace {

class Layout : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach()) << "no virtual coupler: run the suite through scripts/test";
        ASSERT_TRUE(CouplerReset());
        // Two ports, so that the discovery shows no box.
        ASSERT_TRUE(CouplerPortPresent(1, true));
        ASSERT_TRUE(CouplerPortPresent(3, true));
        ASSERT_TRUE(TesterBegin(GetModuleHandleA(nullptr)));
        window = GetNumberedWindowHandle(MAIN_WINDOW);
        ASSERT_TRUE(window);
    }
    void TearDown() override
    {
        if (window)
            TesterEnd();
        CouplerReset();
    }
    static HWND Control(int32_t number) { return GetControlHandle(number); }
    // The control's rectangle in its parent's client area.
    static RECT Placement(int32_t number)
    {
        RECT r;
        GetWindowRect(Control(number), &r);
        MapWindowPoints(nullptr, GetParent(Control(number)), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    static LOGFONTA FontOf(int32_t number)
    {
        LOGFONTA font = {};
        HFONT handle = reinterpret_cast<HFONT>(SendMessageA(Control(number), WM_GETFONT, 0, 0));
        GetObjectA(handle, sizeof font, &font);
        return font;
    }
    HWND window = nullptr;
};

TEST_F(Layout, PanelsAndControlsStandWhereTheyBelong)
{
    struct Expected {
        int32_t number, parent, x, y, width, height;
    } table[] = {
        {0, -1, 30, 30, 570, 140}, {7, -1, 30, 170, 570, 290},
        {1, 0, 19, 9, 540, 20},    {2, 0, 29, 79, 130, 0},     {3, 0, 29, 59, 130, 20},
        {4, 0, 199, 79, 120, 0},   {5, 0, 199, 59, 120, 20},   {6, 0, 369, 69, 90, 40},
        {8, 7, 19, 9, 540, 20},    {9, 7, 19, 49, 110, 30},    {10, 7, 339, 49, 110, 30},
        {11, 7, 19, 119, 110, 30}, {12, 7, 339, 119, 110, 30}, {13, 7, 159, 59, 20, 20},
        {14, 7, 479, 59, 20, 20},  {15, 7, 159, 129, 20, 20},  {16, 7, 479, 129, 20, 20},
        {17, 7, 19, 169, 530, 110},
    };
    for (const Expected& e : table) {
        HWND control = Control(e.number);
        ASSERT_TRUE(control) << e.number;
        HWND parent = e.parent < 0 ? window : Control(e.parent);
        EXPECT_EQ(GetParent(control), parent) << e.number;
        RECT r = Placement(e.number);
        EXPECT_EQ(r.left, e.x) << e.number;
        EXPECT_EQ(r.top, e.y) << e.number;
        EXPECT_EQ(r.right - r.left, e.width) << e.number;
        if (e.height) {   // a closed combo box is as high as its font makes it
            EXPECT_EQ(r.bottom - r.top, e.height) << e.number;
        }
    }
    // Panels: thin border; indicators: centred and sunken; the open button is the default.
    EXPECT_TRUE(GetWindowLongA(Control(0), GWL_STYLE) & WS_BORDER);
    EXPECT_TRUE(GetWindowLongA(Control(7), GWL_STYLE) & WS_BORDER);
    for (int32_t field : {13, 14, 15, 16}) {
        EXPECT_TRUE(GetWindowLongA(Control(field), GWL_EXSTYLE) & WS_EX_CLIENTEDGE) << field;
        EXPECT_EQ(GetWindowLongA(Control(field), GWL_STYLE) & SS_TYPEMASK, SS_CENTER) << field;
    }
    EXPECT_EQ(GetWindowLongA(Control(1), GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
    EXPECT_EQ(GetWindowLongA(Control(3), GWL_STYLE) & SS_TYPEMASK, SS_LEFT);
    EXPECT_EQ(GetWindowLongA(Control(6), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(GetWindowLongA(Control(9), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_EQ(GetWindowLongA(Control(2), GWL_STYLE) & 3, CBS_DROPDOWNLIST);
}

TEST_F(Layout, FontsFollowTheTable)
{
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    auto height = [dpi](int points) { return -MulDiv(points, dpi, 72); };
    struct Expected {
        int32_t number, points, weight;
    } table[] = {
        {1, 12, FW_BOLD}, {8, 12, FW_BOLD}, {6, 12, FW_BOLD},   // headings, open button
        {3, 10, FW_BOLD}, {5, 10, FW_BOLD}, {9, 10, FW_BOLD},  {12, 10, FW_BOLD},
        {13, 10, FW_BOLD}, {16, 10, FW_BOLD},                     // labels, buttons, fields
        {2, 10, FW_NORMAL}, {4, 10, FW_NORMAL},                   // the two lists
    };
    for (const Expected& e : table) {
        LOGFONTA font = FontOf(e.number);
        EXPECT_STREQ(font.lfFaceName, "Arial") << e.number;
        EXPECT_EQ(font.lfHeight, height(e.points)) << e.number;
        EXPECT_EQ(font.lfWeight, e.weight) << e.number;
    }
    // (The editor's font cannot be read back: Wine's rich edit does not
    // answer WM_GETFONT.)
}

TEST_F(Layout, HelpTextShowsFromLineOneWithTheScrollBarsItNeeds)
{
    HWND editor = Control(17);
    auto visible = [editor](LONG bar) {
        SCROLLBARINFO info = {sizeof info};
        return GetScrollBarInfo(editor, bar, &info) && !(info.rgstate[0] & STATE_SYSTEM_INVISIBLE);
    };
    DWORD start = 1, end = 1;
    SendMessageA(editor, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(SendMessageA(editor, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    // In Arial's metrics the seven lines fit the editor.
    EXPECT_FALSE(visible(OBJID_HSCROLL));
    EXPECT_FALSE(visible(OBJID_VSCROLL));

    const char* wide[12];
    for (const char*& line : wide)
        line = "Eine Zeile, die breiter ist als das Feld, in dem sie steht, und darum rollen muss.";
    ClearControlItems(17);
    FillHelpText(wide, 12);
    EXPECT_TRUE(visible(OBJID_HSCROLL));
    EXPECT_TRUE(visible(OBJID_VSCROLL));
    EXPECT_EQ(SendMessageA(editor, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}

TEST_F(Layout, ArialHasItsOwnMetrics)
{
    // On a machine without Arial the font mapper must pick a face with
    // Arial's metrics, or the texts outgrow their controls.
    HDC dc = GetDC(Control(6));
    HGDIOBJ old = SelectObject(dc, Tester().fonts[2]);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, sizeof face, face);
    SIZE extent = {};
    GetTextExtentPoint32A(dc, "schliessen", 10, &extent);
    SelectObject(dc, old);
    ReleaseDC(Control(6), dc);
    EXPECT_TRUE(strcmp(face, "Arial") == 0 || strcmp(face, "Liberation Sans") == 0) << face;
    EXPECT_EQ(extent.cx, 82) << "Arial 12 bold at 96 dpi";
}

TEST_F(Layout, ShutdownReleasesFontsAndBrushes)
{
    HFONT fonts[6];
    for (int i = 0; i < 6; ++i) {
        fonts[i] = Tester().fonts[i + 1];
        ASSERT_EQ(GetObjectType(fonts[i]), static_cast<DWORD>(OBJ_FONT)) << i + 1;
    }
    HBRUSH windowBrush = reinterpret_cast<HBRUSH>(GetClassLongA(window, GCL_HBRBACKGROUND));
    HBRUSH panelBrush = reinterpret_cast<HBRUSH>(GetClassLongA(Control(0), GCL_HBRBACKGROUND));
    ASSERT_EQ(GetObjectType(windowBrush), static_cast<DWORD>(OBJ_BRUSH));
    ASSERT_EQ(GetObjectType(panelBrush), static_cast<DWORD>(OBJ_BRUSH));
    LOGBRUSH colour = {};
    GetObjectA(panelBrush, sizeof colour, &colour);
    EXPECT_EQ(colour.lbColor, PANEL_COLOUR);

    TesterEnd();
    window = nullptr;
    for (HFONT font : fonts)
        EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_EQ(GetObjectType(windowBrush), 0u);
    EXPECT_EQ(GetObjectType(panelBrush), 0u);
    EXPECT_EQ(GetNumberedWindowHandle(MAIN_WINDOW), nullptr);
    TesterEnd();   // a second shutdown finds nothing to release
}

}  // namespace
