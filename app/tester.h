// Start-up, main window, event loop and shutdown of the coupler tester.
#pragma once

#include <windows.h>
#include <stdint.h>

// The tester's one window.
constexpr int32_t MAIN_WINDOW = 0;
extern const char* const MAIN_WINDOW_TITLE;
constexpr int32_t MAIN_CLIENT_WIDTH = 630;
constexpr int32_t MAIN_CLIENT_HEIGHT = 499;
constexpr uint32_t MAIN_WINDOW_FLAGS = 0xC80001;   // caption, system menu, centred on screen

// The panel colour, behind the window, the panels, headings and labels.
constexpr COLORREF PANEL_COLOUR = RGB(168, 176, 200);

// Runs the whole program: start-up, main body, event loop, shutdown; ends the
// process (exit code 0, or 1 when the main window cannot be opened).
[[noreturn]] void TesterStart(HINSTANCE instance, const char* commandLine, HINSTANCE previous,
                              int showCommand);

// The three stages of TesterStart, for tests that run the tester inside their
// own process: start-up and main body (false, with everything released, when
// the main window cannot be opened), the event loop until the close request,
// and the shutdown (without ending the process).
bool TesterBegin(HINSTANCE instance);
void TesterRunLoop();
void TesterEnd();

// Opens the main window and builds its content; returns 0.
int32_t BuildMainWindow();

// The tester's window callback: hands every message to the colouring hook.
LRESULT CALLBACK MainWindowCallback(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The handler for a control number from the dispatch table, or none.
typedef int32_t (*ButtonHandler)();
ButtonHandler HandlerForControl(int32_t control);
