#include "tests/support/driver.h"

#include "tests/support/toolkit_fixture.h"

namespace {

struct FindByTitle {
    DWORD processId;
    const char* className;   // 0: any class
    std::string title;       // empty: any title
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param)
{
    FindByTitle* find = reinterpret_cast<FindByTitle*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != find->processId)
        return TRUE;
    if (find->visibleOnly && !IsWindowVisible(window))
        return TRUE;
    if (find->className) {
        char name[64] = "";
        GetClassNameA(window, name, sizeof name);
        if (lstrcmpA(name, find->className) != 0)
            return TRUE;
    }
    if (!find->title.empty() && WindowText(window) != find->title)
        return TRUE;
    find->found = window;
    return FALSE;
}

HWND FindTopLevel(DWORD pid, const char* className, const std::string& title)
{
    FindByTitle find = {pid, className, title, true, 0};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

struct FindById {
    int32_t number;
    HWND found;
};

BOOL CALLBACK MatchId(HWND window, LPARAM param)
{
    FindById* find = reinterpret_cast<FindById*>(param);
    if (static_cast<int32_t>(GetWindowLongA(window, GWL_ID)) == find->number) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::string WindowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

TesterProcess::~TesterProcess()
{
    if (info_.hProcess) {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 5000);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

bool TesterProcess::Start(const std::string& arguments)
{
    std::string exe = WindowsPath(CT_TESTER_EXE);
    std::string line = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info_) != 0;
}

HWND TesterProcess::WaitMainWindow(DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += 20) {
        HWND window = FindTopLevel(info_.dwProcessId, "WindowClass_0", "");
        if (window)
            return window;
        if (WaitForSingleObject(info_.hProcess, 20) == WAIT_OBJECT_0)
            return 0;
    }
    return 0;
}

HWND TesterProcess::WaitMessageBox(const std::string& title, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += 20) {
        HWND box = FindTopLevel(info_.dwProcessId, "#32770", title);
        if (box)
            return box;
        if (WaitForSingleObject(info_.hProcess, 20) == WAIT_OBJECT_0)
            return 0;
    }
    return 0;
}

HWND TesterProcess::CurrentMessageBox()
{
    return FindTopLevel(info_.dwProcessId, "#32770", "");
}

bool TesterProcess::WaitExit(DWORD* code, DWORD timeoutMs)
{
    if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    return GetExitCodeProcess(info_.hProcess, code) != 0;
}

HWND FindControl(HWND top, int32_t number)
{
    FindById find = {number, 0};
    EnumChildWindows(top, MatchId, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

std::string WindowText(HWND window)
{
    char text[1024] = "";
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        3000, nullptr);
    return text;
}

std::string MessageBoxText(HWND box)
{
    // The message is the box's static text (identifier 0xFFFF).
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? WindowText(text) : std::string();
}

bool PressOk(HWND box, DWORD timeoutMs)
{
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok)
        return false;
    PostMessageA(ok, BM_CLICK, 0, 0);
    for (DWORD waited = 0; waited <= timeoutMs; waited += 10) {
        if (!IsWindow(box) || !IsWindowVisible(box))
            return true;
        Sleep(10);
    }
    return false;
}

void Click(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    ClickClient(window, client.right / 2, client.bottom / 2);
}

void SelectItem(HWND combo, int index)
{
    SendMessageA(combo, CB_SETCURSEL, index, 0);
    // Tell the parent as the list itself would after a pick.
    HWND parent = GetParent(combo);
    PostMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

std::vector<std::string> ComboItems(HWND combo)
{
    std::vector<std::string> items;
    LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t wide[256] = L"";
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
        char narrow[256] = "";
        WideCharToMultiByte(1252, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
        items.push_back(narrow);
    }
    return items;
}

int ComboSelection(HWND combo)
{
    return static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
}

COLORREF ClientPixel(HWND window, int x, int y)
{
    POINT p = {x, y};
    ClientToScreen(window, &p);
    HDC screen = GetDC(nullptr);
    COLORREF colour = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return colour;
}

bool WaitClientPixel(HWND window, int x, int y, COLORREF colour, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += 20) {
        if (ClientPixel(window, x, y) == colour)
            return true;
        Pause(20);
    }
    return false;
}

bool WaitText(HWND window, const std::string& text, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += 10) {
        if (WindowText(window) == text)
            return true;
        Pause(10);
    }
    return false;
}

void Pause(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(5);
    }
}

void PressButton(HWND button)
{
    PostMessageA(button, BM_CLICK, 0, 0);
}

bool WaitPostedMessagesTaken(HWND editControl, DWORD timeoutMs)
{
    // Posted messages of one thread are taken in order. A first marker shows
    // that everything posted before it was taken; whatever that posted on is
    // queued by then, so a second marker follows it too.
    static WPARAM marker = 0;
    for (int round = 0; round < 2; ++round) {
        marker = marker % 50 + 1;
        if (!PostMessageA(editControl, EM_SETSEL, marker, marker))
            return false;
        DWORD start = GetTickCount();
        for (;;) {
            DWORD_PTR selection = 0;
            if (SendMessageTimeoutA(editControl, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &selection) &&
                LOWORD(selection) == marker)
                break;
            if (GetTickCount() - start >= timeoutMs)
                return false;
            Sleep(1);
        }
    }
    return true;
}

HWND WaitTesterTakingMessages(HWND mainWindow, DWORD timeoutMs)
{
    const int32_t helpEditor = 17;
    DWORD start = GetTickCount();
    HWND editor = 0;
    while (!(editor = FindControl(mainWindow, helpEditor))) {
        if (GetTickCount() - start > timeoutMs)
            return 0;
        Sleep(10);
    }
    // The text goes in before the port discovery; the program answers once
    // it first takes messages.
    DWORD_PTR length = 0;
    while (!SendMessageTimeoutA(editor, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &length) || length < 50) {
        if (GetTickCount() - start > timeoutMs)
            return 0;
        Sleep(10);
    }
    return WaitPostedMessagesTaken(editor, timeoutMs) ? editor : 0;
}
