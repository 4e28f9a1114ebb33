// Numbered controls: the text control, the combo box and the button, the
// control list (which window new controls go into) and the operations that
// every kind of control shares.
//
// A control is named by its number (its record lives in the control table of
// the registry); every operation looks the number up first. A number without a
// control behaves like a text control acting on the null window: empty text,
// results 0, no effect.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string>

#include "toolkit/registry.h"

// Flags of CreateTextControl and CreateButtonControl; the whole value is OR-ed
// into the window style, so any native style bit may be passed as well.
constexpr uint32_t CONTROL_TEXT_CENTRED = 0x1;       // SS_CENTER
constexpr uint32_t CONTROL_TEXT_SUNKEN = 0x20000;    // adds WS_EX_CLIENTEDGE
constexpr uint32_t CONTROL_BUTTON_DEFAULT = 0x1;     // BS_DEFPUSHBUTTON

// Depth of the parent stack: at most this many control lists open at once.
constexpr int32_t CONTROL_LIST_DEPTH = 45;

// The font handle -1 of SetControlFont: the stock GUI font.
inline HFONT StockFontRequest() { return reinterpret_cast<HFONT>(static_cast<intptr_t>(-1)); }

// Toolkit start-up step (after InitControlModule): no current parent, empty
// parent stack. This module owns the stack; containers push onto it.
void InitControlLists();

// ---------------------------------------------------------------------------
// Creation. Result: the native handle, or for ANY_NUMBER the new number;
// 0 when the number cannot be had (or the platform refused, for a table number).
// A control that exists under the number is destroyed first.

int32_t CreateTextControl(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const char* text, uint32_t flags = 0);
int32_t CreateComboBoxControl(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height);
int32_t CreateButtonControl(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                            const char* text, uint32_t flags = 0);

// ---------------------------------------------------------------------------
// Control lists.

// Makes window the current parent and returns it; the parent stack is kept.
HWND StartControlList(HWND window);
// Returns to the parent saved by the innermost open list; nothing when none is open.
void CloseControlList();
// Calls the kind's open-list operation (a container pushes itself); 0 when the
// kind has none or the parent stack is full.
LRESULT OpenControlList(int32_t number, int32_t item = -2);

// ---------------------------------------------------------------------------
// Operations shared by every kind.

// Number -1: font for controls created afterwards. Font -1: the stock GUI font.
void SetControlFont(int32_t number, HFONT font);
std::string GetControlText(int32_t number);                  // at most 31,999 characters
void SetControlText(int32_t number, const char* text);
LRESULT AddControlItem(int32_t number, int32_t position, const char* text);  // -1 appends
LRESULT SetControlState(int32_t number, LRESULT state);
LRESULT GetControlState(int32_t number);
LRESULT RemoveControlItem(int32_t number, int32_t index);
LRESULT ClearControlItems(int32_t number);
LRESULT CountControlItems(int32_t number);
std::string GetControlItemText(int32_t number, int32_t item, int32_t column = 0);
LRESULT SetControlItemText(int32_t number, int32_t item, const char* text);
HWND GetControlHandle(int32_t number);                       // 0 when no control
int32_t GetControlWidth(int32_t number);                     // outer size, borders included
int32_t GetControlHeight(int32_t number);
void FreeControl(int32_t number);

// ---------------------------------------------------------------------------
// For the container and editor kinds (toolkit/container.cpp) and for tests.

HWND CurrentControlParent();
int32_t ControlListDepth();
// Saves the current parent on the stack and makes parent the current one;
// false (nothing changed) when the stack is full.
bool PushControlParent(HWND parent);

// The creation steps every kind shares: obtains the record (a control under
// the number is destroyed first), creates the native child of the current
// parent with the number as its child identifier, fills the record, installs
// the control subclass and, when font is not 0, sends it. *numberOut receives
// the number in use (for ANY_NUMBER the new identity), 0 when the number could
// not be had. Returns the native handle, 0 when the platform refused.
HWND CreateKindControl(int32_t number, const KindOperations* kind, DWORD exStyle,
                       const char* className, const char* text, DWORD style,
                       int32_t x, int32_t y, int32_t width, int32_t height,
                       HFONT font, int32_t* numberOut);
// The value a creation returns: the handle, or for ANY_NUMBER the number.
int32_t CreationResult(int32_t requested, int32_t number, HWND control);
