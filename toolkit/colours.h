// Control colouring: text and background colours per control number.
//
// A coloured control keeps a colour record with its own solid background
// brush; HandleColourMessage answers the colour questions the window system
// asks the control's parent while the control paints.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// A colour of -1 stands for the system colour the control would use anyway.
constexpr COLORREF COLOUR_SYSTEM_DEFAULT = 0xFFFFFFFFu;

// What ResolveColour is asked for.
enum ColourRole {
    COLOUR_ROLE_TEXT,         // the text colour
    COLOUR_ROLE_BACKGROUND,   // the background colour
    COLOUR_ROLE_BRUSH         // a new solid brush of the background colour
};

// Start-up: the colour list starts empty.
void InitControlColours();
// Program end: deletes every record's brush and empties the list. Safe to
// call twice.
void FreeControlColours();

// Gives the control under the number the two colours (each may be -1) and
// invalidates it so that it repaints in them. Does nothing when the number
// holds no control. Always returns 0.
int32_t SetControlColours(int32_t number, COLORREF text, COLORREF background);

// The colouring hook for a window callback: the answer to a colour message
// (or custom-draw notification) about a coloured control, otherwise passOn
// unchanged. Allocates nothing.
LRESULT HandleColourMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            LRESULT passOn);

// The colour for a role: the colour itself, or for -1 the system default of
// the control's class ("Edit", "ListBox", "ComboBox" and "SysListView32" take
// window colours, every other class button-face colours). For the brush role
// the result is a new brush (an HBRUSH) that the caller owns.
uintptr_t ResolveColour(COLORREF colour, ColourRole role, const char* className);

// Number of colour records (one per control number ever coloured).
size_t ControlColourCount();
