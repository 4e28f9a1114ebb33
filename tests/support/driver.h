// The real coupler-tester.exe on virtual couplers, for the end-to-end walks:
// started on chosen ports, its buttons pressed and lists picked, its texts read
// through the window system and its colours from the screen, its boxes
// answered and checked against the expected values. Every wait is bounded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/expected.h"
#include "tests/support/drive.h"

COLORREF ClientPixel(HWND window, int x, int y);   // on the screen

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
    // Waits for the box, checks its text (and what the open/close button
    // reads meanwhile) and presses OK.
    bool Answer(const expected::Box& box, const char* openButtonMeanwhile = 0);
    bool PressForBox(int button, const expected::Box& box, const char* openButtonMeanwhile = 0)
    {
        return PressButton(Control(button)), Answer(box, openButtonMeanwhile);
    }
    // An indicator's text and its colour just inside its sunken edge.
    ::testing::AssertionResult Field(int field, const char* text, COLORREF background);
    ::testing::AssertionResult Colour(HWND window, int x, int y, COLORREF colour);
    // Closes the window with its close box: the program must end with code 0.
    bool Close();

    TesterProcess process;
    HWND window = 0;
    HWND editor = 0;
    HWND controls[18] = {};   // found once, after the start
};
