// Drives the real coupler-tester.exe from outside, as a person would: starts
// it, finds its window, controls and boxes, clicks and presses, and waits for
// the program to take what it was sent. Shared by snap, the benchmarks and the
// end-to-end suite (whose Session checks what it sees against the expected
// values). Every wait is bounded.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/console_run.h"
#include "tests/support/expected.h"

std::string WindowsPath(const std::string& unixPath);   // as Wine's Z: drive shows it
HWND FindControl(HWND top, int number);                  // descendant with this identifier
std::string WindowText(HWND window);
// A message sent to a window of another process, answered within 3 s (the
// platform's own SendMessage waits for ever on a hung program); -1 when not.
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, bool wide = false);
// A number from the environment, or the fallback when it is unset or empty.
uint32_t Setting(const char* name, uint32_t fallback);
// Two figures compared at once, printed as (first, second) when they differ.
inline std::pair<long, long> Pair(long first, long second) { return {first, second}; }
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

// The tester started on virtual couplers. Checks report gtest failures and
// say whether they passed; the destructor ends the program and resets the
// coupler.
class Session {
public:
    ~Session();
    // Makes the ports present (and those in busy held elsewhere), starts the
    // program and waits until it takes messages.
    bool Launch(const std::vector<int>& present, const std::vector<int>& busy = {});
    HWND Control(int number) { return controls[number]; }   // 0 to 17
    std::string Text(int number) { return WindowText(Control(number)); }
    // A posted click, handled, with no box up afterwards.
    bool Press(int button);
    void Select(int list, int index);
    std::vector<std::string> Items(int list);
    int Selection(int list) { return static_cast<int>(Ask(Control(list), CB_GETCURSEL)); }
    // Waits for the box, checks its text, its single OK button and no icon
    // (and what the open/close button reads meanwhile), and presses OK.
    bool Answer(const expected::Box& box, const char* openButtonMeanwhile = 0);
    bool PressForBox(int button, const expected::Box& box, const char* openButtonMeanwhile = 0)
    {
        return PressButton(Control(button)), Answer(box, openButtonMeanwhile);
    }
    // An indicator's text and its colour just inside its sunken edge.
    ::testing::AssertionResult Field(int field, const char* text, COLORREF background);
    // The colour at a point of a window's client area, on the screen.
    ::testing::AssertionResult Colour(HWND window, int x, int y, COLORREF colour);
    // Closes the window with its close box: the program must end with code 0.
    bool Close();

    TesterProcess process;
    HWND window = 0;
    HWND editor = 0;
    HWND controls[18] = {};   // found once, after the start
};
