// Drives the real coupler-tester.exe from outside, as a person would: starts
// it, finds its window and controls, clicks and presses, and waits for the
// program to take what it was sent. Shared by snap, the benchmarks and the
// suites (whose end-to-end session is built on it). Every
// wait is bounded.
#pragma once

#include <windows.h>

#include <string>

std::string WindowsPath(const std::string& unixPath);   // as Wine's Z: drive shows it
HWND FindControl(HWND top, int number);                  // descendant with this identifier
std::string WindowText(HWND window);
// A message sent to a window of another process, answered within 3 s (the
// platform's own SendMessage waits for ever on a hung program); -1 when not.
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, bool wide = false);
void Click(HWND window);                                 // a real mouse click in its middle
inline void PressButton(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }   // a posted click
bool PressOk(HWND box);                                  // and waits until the box is gone
// Waits until the program's thread has taken every message posted before the
// call and what their handling posted in turn: posts caret moves to the help
// editor and waits for them, twice. False when the program hangs.
bool WaitPostedMessagesTaken(HWND editor, DWORD timeoutMs = 5000);
// Waits until the tester's start-up is over (its help editor filled and its
// messages taken, or its warning up); the editor, or 0.
HWND WaitTesterTakingMessages(HWND mainWindow, DWORD timeoutMs = 15000);

class TesterProcess {
public:
    TesterProcess() = default;
    ~TesterProcess();   // kills the program if it still runs
    TesterProcess(const TesterProcess&) = delete;
    TesterProcess& operator=(const TesterProcess&) = delete;

    bool Start(const std::string& arguments = "");
    HWND WaitMainWindow(DWORD timeoutMs = 15000) { return WaitWindow("WindowClass_0", 0, timeoutMs); }
    // A box of the program with this title (0: any), within the time.
    HWND WaitBox(const char* title, DWORD timeoutMs) { return WaitWindow("#32770", title, timeoutMs); }
    HWND CurrentMessageBox() { return WaitBox(0, 0); }
    bool WaitExit(DWORD* code, DWORD timeoutMs = 10000);
    HANDLE Process() const { return info_.hProcess; }

private:
    HWND WaitWindow(const char* kind, const char* title, DWORD timeoutMs);
    PROCESS_INFORMATION info_ = {};
};
