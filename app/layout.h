// The main window's content: fonts, the two panels and their controls, and
// the initial state the main body gives them.
#pragma once

#include <windows.h>
#include <stdint.h>

// Control numbers of the layout.
enum : int32_t {
    PORT_PANEL = 0,
    PORT_HEADING = 1,
    BAUD_LIST = 2,
    BAUD_LABEL = 3,
    PORT_LIST = 4,
    PORT_LABEL = 5,
    OPEN_BUTTON = 6,
    SIGNAL_PANEL = 7,
    SIGNAL_HEADING = 8,
    SDA_SWITCH_BUTTON = 9,
    SDA_READ_BUTTON = 10,
    SCL_SWITCH_BUTTON = 11,
    INT_READ_BUTTON = 12,
    SDA_OUT_FIELD = 13,
    SDA_IN_FIELD = 14,
    SCL_OUT_FIELD = 15,
    INT_IN_FIELD = 16,
    HELP_EDITOR = 17,
};

// Indicator colours.
constexpr COLORREF BLACK = RGB(0, 0, 0);
constexpr COLORREF WHITE = RGB(255, 255, 255);
constexpr COLORREF GREEN = RGB(0, 255, 0);
constexpr COLORREF LIGHT_YELLOW = RGB(255, 255, 128);
constexpr COLORREF RED = RGB(255, 0, 0);

// The baud rates of the baud-rate list, and the one selected at start.
extern const char* const BAUD_RATES[9];
constexpr int32_t DEFAULT_BAUD_INDEX = 7;   // "9600"
// The help text, line by line.
extern const char* const HELP_LINES[7];

// Loads fonts 1 to 6 and keeps their handles in the tester's state.
void LoadFonts();
// Builds both panels and their controls into the main window (the current
// window); nothing when the main window does not exist.
void BuildContent(HWND mainWindow);
// Baud-rate items and selection, initial colours, help text.
void ApplyInitialState();
// Inserts the lines as the help editor's first lines, each at its own line
// number (so an empty editor then holds exactly them, each ending in a line
// break), with one paint; then shows them from the first line, with the
// scroll bars the content needs.
void FillHelpText(const char* const lines[], int32_t count);
// Deletes the panel brushes; after the windows are gone. Safe to call twice.
void ReleaseLayoutBrushes();

// Sets an indicator field's text and colours (black on the background).
void SetIndicator(int32_t field, const char* text, COLORREF background);
