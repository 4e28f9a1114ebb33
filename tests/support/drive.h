// Drives the real coupler-tester.exe from outside, as a person would: starts
// it, finds its window, controls and boxes, clicks and presses, and waits for
// the program to take what it was sent. Shared by snap, the benchmarks and the
// end-to-end suite. Every wait is bounded.
#pragma once

#include <windows.h>

#include <string>

std::string WindowsPath(const std::string& unixPath);   // as Wine's Z: drive shows it
HWND FindControl(HWND top, int number);                  // descendant with this identifier
std::string WindowText(HWND window);
void Click(HWND window);                                 // a real mouse click in its middle
void PressButton(HWND button);                           // a posted click
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
    HWND WaitMainWindow(DWORD timeoutMs = 15000);
    // A box of the program with this title (0: any), within the time.
    HWND WaitBox(const char* title, DWORD timeoutMs);
    HWND CurrentMessageBox() { return WaitBox(0, 0); }
    bool WaitExit(DWORD* code, DWORD timeoutMs = 10000);
    HANDLE Process() const { return info_.hProcess; }

private:
    PROCESS_INFORMATION info_ = {};
};
