#include "tests/support/driver.h"

#include "tests/support/coupler_client.h"

COLORREF ClientPixel(HWND window, int x, int y)
{
    POINT p = {x, y};
    ClientToScreen(window, &p);
    HDC screen = GetDC(0);
    COLORREF colour = GetPixel(screen, p.x, p.y);
    ReleaseDC(0, screen);
    return colour;
}

Session::~Session()
{
    if (HWND box = window ? process.CurrentMessageBox() : 0)
        PressOk(box);
    if (window)
        Close();
    CouplerReset();
}

bool Session::Launch(const std::vector<int>& present, const std::vector<int>& busy)
{
    bool coupler = CouplerAttach() && CouplerReset();
    for (int com : present)
        coupler = coupler && CouplerPortPresent(com, true);
    for (int com : busy)
        coupler = coupler && CouplerPortPresent(com, true) && CouplerPortBusy(com, true);
    EXPECT_TRUE(coupler) << "no virtual coupler: run the suites through scripts/test";
    window = coupler && process.Start() ? process.WaitMainWindow() : 0;
    editor = window ? WaitTesterTakingMessages(window) : 0;
    for (int number = 0; number < 18; ++number)
        controls[number] = FindControl(window, number);
    EXPECT_TRUE(editor) << "the tester did not come up";
    return editor != 0;
}

bool Session::Press(int button)
{
    PressButton(Control(button));
    bool taken = WaitPostedMessagesTaken(editor);
    HWND box = process.CurrentMessageBox();
    EXPECT_TRUE(taken && !box) << "button " << button << ": " << (taken ? "box " + WindowText(box) : "hangs");
    return taken && !box;
}

void Session::Select(int list, int index)
{
    // As a pick does: the selection, then the list's word to its parent.
    Ask(Control(list), CB_SETCURSEL, index);
    PostMessageA(GetParent(Control(list)), WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Control(list)));
    WaitPostedMessagesTaken(editor);
}

std::vector<std::string> Session::Items(int list)
{
    // Wide: between processes Wine passes only an ANSI item's first character.
    std::vector<std::string> items;
    for (LRESULT i = 0, n = Ask(Control(list), CB_GETCOUNT); i < n; ++i) {
        wchar_t wide[64] = L"";
        char narrow[64] = "";
        Ask(Control(list), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide), true);
        WideCharToMultiByte(1252, 0, wide, -1, narrow, sizeof narrow, 0, 0);
        items.push_back(narrow);
    }
    return items;
}

bool Session::Answer(const expected::Box& box, const char* openButtonMeanwhile)
{
    HWND shown = process.WaitBox(box.title, 3000), other = shown ? 0 : process.CurrentMessageBox();
    std::string text = WindowText(GetDlgItem(shown, 0xFFFF)), button = Text(expected::OPEN_BUTTON);
    EXPECT_TRUE(shown) << "no box \"" << box.title << "\"; " << (other ? WindowText(other) : "none") << " is up";
    EXPECT_EQ(text, shown ? box.text : "") << box.title;
    EXPECT_EQ(button, shown && openButtonMeanwhile ? openButtonMeanwhile : button) << "while " << box.title << " is up";
    // Every box of the tester has a single OK button and no icon.
    std::vector<int> buttons;
    for (int id = IDOK; shown && id <= IDCONTINUE; ++id)
        if (IsWindowVisible(GetDlgItem(shown, id)))
            buttons.push_back(id);
    EXPECT_EQ(buttons, std::vector<int>(shown ? 1 : 0, IDOK)) << box.title << ": the buttons shown, not just OK (1)";
    EXPECT_EQ(shown ? Ask(GetDlgItem(shown, 0x440), STM_GETICON) : 0, 0) << box.title << ": an icon";
    bool closed = shown && PressOk(shown) && WaitPostedMessagesTaken(editor);
    return closed && text == box.text && (!openButtonMeanwhile || button == openButtonMeanwhile);
}

::testing::AssertionResult Session::Colour(HWND target, int x, int y, COLORREF colour)
{
    // The colour comes with the next paint, a little after the text.
    for (int i = 0; i < 75; ++i, Sleep(20))
        if (ClientPixel(target, x, y) == colour)
            return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "control " << GetWindowLongA(target, GWL_ID) << " shows 0x" << std::hex
                                         << ClientPixel(target, x, y) << ", not 0x" << colour;
}

::testing::AssertionResult Session::Field(int field, const char* text, COLORREF background)
{
    if (Text(field) != text)
        return ::testing::AssertionFailure() << "field " << field << " reads \"" << Text(field) << "\", not " << text;
    return Colour(Control(field), 3, 3, background);
}

bool Session::Close()
{
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 99;
    bool ended = process.WaitExit(&code, 10000) && code == 0;
    EXPECT_TRUE(ended) << "the close box did not end the program with code 0";
    window = 0;
    return ended;
}
