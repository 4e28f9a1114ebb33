#include "tools/support/tester_process.h"

#include <algorithm>

#include "app/layout.h"

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
    bool found = s->kind ? GetWindowThreadProcessId(window, &pid) && pid == s->number && IsWindowVisible(window) &&
                               GetClassNameA(window, kind, sizeof kind) && !lstrcmpA(kind, s->kind) &&
                               (!s->title || WindowText(window) == s->title)
                         : GetWindowLongA(window, GWL_ID) == static_cast<LONG>(s->number);
    s->found = found ? window : 0;
    return !found;
}

// Polls every few milliseconds until done() or the time is up.
template <typename Done>
bool Poll(DWORD timeoutMs, Done done, DWORD everyMs = 10)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(everyMs))
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
    Ask(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool wide)
{
    DWORD_PTR answer = 0;
    bool answered = (wide ? SendMessageTimeoutW : SendMessageTimeoutA)(window, message, wParam, lParam,
                                                                       SMTO_ABORTIFHUNG, 3000, &answer);
    return answered ? static_cast<LRESULT>(answer) : -1;
}

void Click(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
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
        if (!PostMessageA(editor, EM_SETSEL, marker, marker) ||
            !Poll(timeoutMs, [&] { return LOWORD(Ask(editor, EM_GETSEL)) == marker; }, 1))
            return false;
    }
    return true;
}

HWND WaitTesterTakingMessages(HWND mainWindow, DWORD timeoutMs)
{
    HWND editor = 0;
    bool filled = Poll(timeoutMs, [&] { return Ask(editor = FindControl(mainWindow, HELP_EDITOR), WM_GETTEXTLENGTH) > 49; });
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
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(exe.c_str(), &line[0], 0, 0, FALSE, 0, 0, 0, &startup, &info_);
}

// A visible top-level window of the program, of this class and title (0: any);
// 0 when none comes in time or the program ends.
HWND TesterProcess::WaitWindow(const char* kind, const char* title, DWORD timeoutMs)
{
    Search s = {info_.dwProcessId, kind, title, 0};
    Poll(timeoutMs, [&] {
        EnumWindows(Match, reinterpret_cast<LPARAM>(&s));
        return s.found || WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0;
    });
    return s.found;
}

bool TesterProcess::WaitExit(DWORD* code, DWORD timeoutMs)
{
    return WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0 && GetExitCodeProcess(info_.hProcess, code);
}
