#include "tests/support/driver.h"

#include <algorithm>

#include "tests/support/coupler_client.h"

namespace {

struct Search {
    DWORD number;        // process, or control identifier
    const char* kind;    // window class of a top-level window
    const char* title;   // 0: any
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM param)
{
    Search* s = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    char kind[64] = "";
    GetWindowThreadProcessId(window, &pid);
    GetClassNameA(window, kind, sizeof kind);
    bool found = s->kind ? pid == s->number && IsWindowVisible(window) && !lstrcmpA(kind, s->kind) &&
                               (!s->title || WindowText(window) == s->title)
                         : GetWindowLongA(window, GWL_ID) == static_cast<LONG>(s->number);
    s->found = found ? window : 0;
    return !found;
}

// Polls every 10 ms until done() or the time is up.
template <typename Done>
bool Poll(DWORD timeoutMs, Done done)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(10))
        if (GetTickCount() - start >= timeoutMs)
            return false;
    return true;
}

}  // namespace

std::string WindowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

HWND FindControl(HWND top, int number)
{
    Search s = {static_cast<DWORD>(number), 0, 0, 0};
    EnumChildWindows(top, Match, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string WindowText(HWND window)
{
    char text[1024] = "";
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 3000, 0);
    return text;
}

COLORREF ClientPixel(HWND window, int x, int y)
{
    POINT p = {x, y};
    ClientToScreen(window, &p);
    HDC screen = GetDC(0);
    COLORREF colour = GetPixel(screen, p.x, p.y);
    ReleaseDC(0, screen);
    return colour;
}

void Click(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = (r.left + r.right) / 2 * 65536 / GetSystemMetrics(SM_CXSCREEN) + 1;
        input.mi.dy = (r.top + r.bottom) / 2 * 65536 / GetSystemMetrics(SM_CYSCREEN) + 1;
        input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    }
    inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(3, inputs, sizeof(INPUT));
}

void PressButton(HWND button)
{
    PostMessageA(button, BM_CLICK, 0, 0);
}

bool PressOk(HWND box)
{
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    return Poll(5000, [box] { return !IsWindowVisible(box); });
}

bool WaitPostedMessagesTaken(HWND editor, DWORD timeoutMs)
{
    // Posted messages of a thread are taken in order: once a first marker
    // arrived, what the earlier ones posted is queued, and a second follows it.
    static WPARAM marker = 0;
    for (int round = 0; round < 2; ++round) {
        marker = marker % 50 + 1;
        DWORD_PTR selection = 0;
        if (!PostMessageA(editor, EM_SETSEL, marker, marker) || !Poll(timeoutMs, [&] {
                return SendMessageTimeoutA(editor, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 1000, &selection) &&
                       LOWORD(selection) == marker;
            }))
            return false;
    }
    return true;
}

HWND WaitTesterTakingMessages(HWND mainWindow, DWORD timeoutMs)
{
    HWND editor = 0;
    DWORD_PTR length = 0;
    bool filled = Poll(timeoutMs, [&] {
        editor = FindControl(mainWindow, expected::EDITOR);
        return SendMessageTimeoutA(editor, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &length) && length >= 50;
    });
    return filled && WaitPostedMessagesTaken(editor, timeoutMs) ? editor : 0;
}

TesterProcess::~TesterProcess()
{
    if (info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
}

bool TesterProcess::Start(const std::string& arguments)
{
    std::string exe = WindowsPath(CT_TESTER_EXE), line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {sizeof startup};
    return CreateProcessA(exe.c_str(), &line[0], 0, 0, FALSE, 0, 0, 0, &startup, &info_);
}

HWND TesterProcess::WaitMainWindow(DWORD timeoutMs)
{
    Search s = {info_.dwProcessId, "WindowClass_0", 0, 0};
    Poll(timeoutMs, [&] {
        EnumWindows(Match, reinterpret_cast<LPARAM>(&s));
        return s.found || WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0;
    });
    return s.found;
}

HWND TesterProcess::WaitBox(const char* title, DWORD timeoutMs)
{
    Search s = {info_.dwProcessId, "#32770", title, 0};
    Poll(timeoutMs, [&] {
        EnumWindows(Match, reinterpret_cast<LPARAM>(&s));
        return s.found != 0;
    });
    return s.found;
}

bool TesterProcess::WaitExit(DWORD* code, DWORD timeoutMs)
{
    return WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0 && GetExitCodeProcess(info_.hProcess, code);
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
    SendMessageA(Control(list), CB_SETCURSEL, index, 0);
    PostMessageA(GetParent(Control(list)), WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Control(list)));
    WaitPostedMessagesTaken(editor);
}

std::vector<std::string> Session::Items(int list)
{
    // Wide: between processes Wine passes only an ANSI item's first character.
    std::vector<std::string> items;
    for (LRESULT i = 0, n = SendMessageA(Control(list), CB_GETCOUNT, 0, 0); i < n; ++i) {
        wchar_t wide[64] = L"";
        char narrow[64] = "";
        SendMessageW(Control(list), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
        WideCharToMultiByte(1252, 0, wide, -1, narrow, sizeof narrow, 0, 0);
        items.push_back(narrow);
    }
    return items;
}

int Session::Selection(int list)
{
    return static_cast<int>(SendMessageA(Control(list), CB_GETCURSEL, 0, 0));
}

bool Session::Answer(const expected::Box& box, const char* openButtonMeanwhile)
{
    HWND shown = process.WaitBox(box.title, 3000), other = shown ? 0 : process.CurrentMessageBox();
    std::string text = WindowText(GetDlgItem(shown, 0xFFFF)), button = Text(expected::OPEN_BUTTON);
    EXPECT_TRUE(shown) << "no box \"" << box.title << "\"; " << (other ? WindowText(other) : "none") << " is up";
    EXPECT_EQ(text, shown ? box.text : "") << box.title;
    if (openButtonMeanwhile)
        EXPECT_EQ(button, shown ? openButtonMeanwhile : button) << "while \"" << box.title << "\" is up";
    bool closed = shown && PressOk(shown) && WaitPostedMessagesTaken(editor);
    return closed && text == box.text && (!openButtonMeanwhile || button == openButtonMeanwhile);
}

bool Session::PressForBox(int button, const expected::Box& box, const char* openButtonMeanwhile)
{
    PressButton(Control(button));
    return Answer(box, openButtonMeanwhile);
}

::testing::AssertionResult Session::Colour(HWND target, int x, int y, COLORREF colour)
{
    // The colour comes with the next paint, a little after the text.
    if (Poll(1500, [&] { return ClientPixel(target, x, y) == colour; }))
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
