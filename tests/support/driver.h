// The end-to-end session on the real coupler-tester.exe: the program driven
// from outside (tools/support/tester_process.h), on virtual couplers, what it
// shows checked against the expected values; and the suites' small helpers.
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
#include "tools/support/tester_process.h"

// A number from the environment, or the fallback when it is unset or empty.
uint32_t Setting(const char* name, uint32_t fallback);
// Two figures compared at once, printed as (first, second) when they differ.
inline std::pair<long, long> Pair(long first, long second) { return {first, second}; }

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
