// Drives the real coupler-tester.exe from a test, as a person would: starts
// it, finds its window and controls, clicks, reads texts and screen pixels,
// answers message boxes, and reads the exit code.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>

// A path of this machine as the Windows side sees it (Wine's Z: drive).
std::string WindowsPath(const std::string& unixPath);

class TesterProcess {
public:
    TesterProcess() = default;
    ~TesterProcess();                       // kills the process if it still runs
    TesterProcess(const TesterProcess&) = delete;
    TesterProcess& operator=(const TesterProcess&) = delete;

    // Starts the program (optionally with a command line tail).
    bool Start(const std::string& arguments = "");
    // The main window, once visible; 0 after the time-out.
    HWND WaitMainWindow(DWORD timeoutMs = 15000);
    // A message box of the program with this title, once shown; 0 after the time-out.
    HWND WaitMessageBox(const std::string& title, DWORD timeoutMs = 10000);
    // Any message box of the program currently shown, or 0.
    HWND CurrentMessageBox();
    // Waits for the end of the process; false on time-out. Exit code in *code.
    bool WaitExit(DWORD* code, DWORD timeoutMs = 15000);
    DWORD ProcessId() const { return info_.dwProcessId; }
    HANDLE Process() const { return info_.hProcess; }

private:
    PROCESS_INFORMATION info_ = {};
};

// Descendant of a window whose control identifier is the number, or 0.
HWND FindControl(HWND top, int32_t number);
// Window text through the window system (works across processes).
std::string WindowText(HWND window);
// The static text of a message box.
std::string MessageBoxText(HWND box);
// Presses OK on a message box and waits until it is gone.
bool PressOk(HWND box, DWORD timeoutMs = 5000);
// A real mouse click in the middle of a window (moves the pointer there).
void Click(HWND window);
// Selects an item of a combo box by index, as if the user picked it.
void SelectItem(HWND combo, int index);
// Items of a combo box (read through the wide entry point: Wine passes only
// the first character of an ANSI item text between processes).
std::vector<std::string> ComboItems(HWND combo);
int ComboSelection(HWND combo);
// The colour on screen at a point of a window's client area.
COLORREF ClientPixel(HWND window, int x, int y);
// Waits until the screen at a point of a window's client area shows colour.
bool WaitClientPixel(HWND window, int x, int y, COLORREF colour, DWORD timeoutMs = 3000);
// Waits until a window's text reads text.
bool WaitText(HWND window, const std::string& text, DWORD timeoutMs = 3000);
// Sleeps while letting this thread's own messages through.
void Pause(DWORD ms);

// Presses a button by a posted BM_CLICK: the button acts when the program's
// thread next takes its messages, in order with every other posted message.
void PressButton(HWND button);
// Waits until the program's thread has taken every message posted to it
// before the call, and those that their handling posted in turn (such as a
// panel's forwarded button notification). It posts a caret position to an
// edit control of the program and waits for it to arrive, twice. The
// control's selection changes; it must hold at least 50 characters. False on
// time-out (the program hangs).
bool WaitPostedMessagesTaken(HWND editControl, DWORD timeoutMs = 5000);
// Waits until the tester behind its main window has finished its start-up
// and takes messages (or shows its start-up warning): its help editor exists
// and holds its text. Returns the editor, for WaitPostedMessagesTaken, or 0
// on time-out.
HWND WaitTesterTakingMessages(HWND mainWindow, DWORD timeoutMs = 15000);
