// Numbered top-level windows, the toolkit window procedure and the event loop.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "toolkit/registry.h"

// Event codes returned by WaitEvent; any other value is the number of the
// platform message that was retrieved.
constexpr int32_t EV_CONTROL = 0x332C;        // a control acted; see GetEventControl
constexpr int32_t EV_MENU = 0x332D;           // a command without a control
constexpr int32_t EV_CLOSE_REQUEST = 0x10;    // the close box; the window stays open
constexpr int32_t EV_MOVED = 3;
constexpr int32_t EV_RESIZED = 5;

// A window callback's answer that lets the toolkit carry on with the message.
constexpr LRESULT CALLBACK_DEFAULT = static_cast<LRESULT>(0xE0E0E0E1u);

// Window flags of CreateNumberedWindow; all other bits are window styles.
constexpr uint32_t WF_CENTER_SCREEN = 0x00000001;
constexpr uint32_t WF_CENTER_ACTIVE = 0x00000002;
constexpr uint32_t WF_HIDDEN = 0x10000000;

// Commands of the two accelerators every window gets (Tab, Shift+Tab).
constexpr WORD CMD_FOCUS_NEXT = 1212;
constexpr WORD CMD_FOCUS_PREVIOUS = 1213;

typedef LRESULT (CALLBACK* WindowCallback)(HWND, UINT, WPARAM, LPARAM);

// Start-up: creates the window table (nominal size 10) and registers the
// template class. Returns false when the table cannot be made.
bool InitWindowModule();
// Forgets the module's state after CloseAllWindows; the template class is
// unregistered so that the module can be started again (tests do).
void ShutdownWindowModule();

// Opens a top-level window whose client area is width x height. Returns the
// native handle, or for ANY_NUMBER the new window number; 0 on failure.
int32_t CreateNumberedWindow(int32_t number, int32_t x, int32_t y, int32_t width,
                             int32_t height, uint32_t flags, const char* title);
int32_t CreateNumberedWindowEx(int32_t number, int32_t x, int32_t y, int32_t width,
                               int32_t height, uint32_t flags, const char* title,
                               HWND owner);
HWND GetCurrentWindowHandle();
HWND GetNumberedWindowHandle(int32_t number);   // 0 when nothing is open under it
void SetWindowCallback(WindowCallback callback);

int32_t WaitEvent();
int32_t GetEventControl();
void FlushMessages();

void CloseNumberedWindow(int32_t number);
void CloseAllWindows();

void FocusNextControl();
void FocusPreviousControl();

// The window procedure shared by every toolkit window; containers hand it the
// messages they do not handle themselves.
LRESULT CALLBACK ToolkitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The style asked of the platform for the flags, and the placement mode
// (0 as given, 1 centre on the screen, 2 centre on the active window).
DWORD WindowStyleFromFlags(uint32_t flags, int* placement);

// Pure placement arithmetic, exposed for tests: the outer left (or top) edge
// that centres an outer extent on a screen extent.
int32_t CentreOnScreen(int32_t screenExtent, int32_t outerExtent);
int32_t CentreOnWindow(int32_t ownerStart, int32_t ownerEnd, int32_t outerExtent);
