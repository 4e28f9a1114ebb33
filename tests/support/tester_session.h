// The real tester started on virtual couplers, for the suites that drive it
// from outside: its controls, presses, boxes and fields, and a clean end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/driver.h"

class TesterSession : public ::testing::Test {
protected:
    // Attaches to the virtual coupler and resets it.
    void SetUp() override;
    // Answers a box left up, closes the window if it is still there, resets the coupler.
    void TearDown() override;

    // Makes the ports present, starts the program and waits until it takes
    // messages (after the discovery, or with its warning box up).
    void Launch(const std::vector<int>& ports);
    HWND Control(int number) { return FindControl(window, number); }
    std::string Text(int number) { return WindowText(Control(number)); }
    // Presses a button: a posted click, then true once the program has
    // handled it and shows no box; with mouseClicks a real mouse click, whose
    // effect the caller waits for (it arrives after every posted message).
    bool Press(int button);
    // Presses a button that must answer with this box; checks it (and, if
    // given, what the open/close button reads meanwhile) and closes it.
    void PressExpectingBox(int button, const std::string& title, const std::string& text,
                           const char* openButtonMeanwhile = nullptr);
    // Waits for the box with this title, checks it like PressExpectingBox and closes it.
    void AnswerBox(const std::string& title, const std::string& text, const char* openButtonMeanwhile = nullptr);
    // An indicator field's text and its background just inside its sunken edge.
    ::testing::AssertionResult FieldShows(int field, const std::string& text, COLORREF background);
    // Closes the window with its close box; the program must end with code 0.
    void CloseExpectingCodeZero();

    bool mouseClicks = false;   // set by suites that press buttons as a person does
    TesterProcess tester;
    HWND window = 0;
    HWND editor = 0;   // the help editor, for WaitPostedMessagesTaken

private:
    void Push(int button);   // a click as mouseClicks says, without waiting
};
