// Start-up, main window, event loop and shutdown of the coupler tester.
#include "app/tester.h"

#include "app/handlers.h"
#include "app/layout.h"
#include "app/state.h"
#include "toolkit/colours.h"
#include "toolkit/controls.h"
#include "toolkit/toolkit.h"
#include "toolkit/window.h"

const char* const MAIN_WINDOW_TITLE = "RS232   I2C  Koppler    (Testprogramm)";

namespace {

// Background brush of the main window's class; created by BuildMainWindow,
// deleted at shutdown after the window is gone.
HBRUSH mainWindowBrush = 0;

void ReleaseBrush(HBRUSH& brush)
{
    if (brush)
        DeleteObject(brush);
    brush = 0;
}

// Releases everything: the toolkit (every window with it), then the brushes
// the windows painted with.
void StopToolkit()
{
    ToolkitStop();
    ReleaseBrush(mainWindowBrush);
    ReleaseLayoutBrushes();
}

void RunEventLoop()
{
    TesterState& state = Tester();
    for (;;) {
        state.lastEvent = WaitEvent();
        if (state.lastEvent == EV_CONTROL) {
            ButtonHandler handler = HandlerForControl(GetEventControl());
            if (handler)
                handler();
        }
        if (state.lastEvent == EV_CLOSE_REQUEST)
            break;
    }
}

}  // namespace

ButtonHandler HandlerForControl(int32_t control)
{
    // Any notification of these controls calls their handler once.
    static const struct {
        int32_t control;
        ButtonHandler handler;
    } dispatch[] = {
        {OPEN_BUTTON, TogglePort},       // "öffnen" / "schliessen"
        {SDA_SWITCH_BUTTON, ToggleSda},  // "SDA   on/off"
        {SDA_READ_BUTTON, ReadSda},      // "SDA  ?"
        {SCL_SWITCH_BUTTON, ToggleScl},  // "SCL   on/off"
        {INT_READ_BUTTON, ReadInt},      // "INT  ?"
    };
    for (const auto& entry : dispatch) {
        if (entry.control == control)
            return entry.handler;
    }
    return 0;
}

int32_t BuildMainWindow()
{
    int32_t result = CreateNumberedWindow(MAIN_WINDOW, 219, 58, MAIN_CLIENT_WIDTH, MAIN_CLIENT_HEIGHT,
                                          MAIN_WINDOW_FLAGS, MAIN_WINDOW_TITLE);
    HWND window = GetNumberedWindowHandle(MAIN_WINDOW);
    if (result <= 0 || !window)
        return 0;
    // Every toolkit window has a class of its own: this colours the main window only.
    ReleaseBrush(mainWindowBrush);
    mainWindowBrush = CreateSolidBrush(PANEL_COLOUR);
    SetClassLongPtrA(window, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(mainWindowBrush));
    InvalidateRect(window, 0, TRUE);
    BuildContent(GetCurrentWindowHandle());
    return 0;
}

LRESULT CALLBACK MainWindowCallback(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HandleColourMessage(window, message, wParam, lParam, CALLBACK_DEFAULT);
}

bool TesterBegin(HINSTANCE instance)
{
    ResetTesterState();
    // A toolkit without its tables cannot make the window either: that is
    // what the check below finds.
    ToolkitStart(instance);
    LoadFonts();

    TesterState& state = Tester();
    state.portOpen = 0;
    state.sdaOn = 0;
    state.sclOn = 0;
    BuildMainWindow();
    if (!GetNumberedWindowHandle(MAIN_WINDOW)) {
        StopToolkit();
        return false;
    }
    // Installed after the controls exist: their creation messages do not reach it.
    SetWindowCallback(MainWindowCallback);
    ApplyInitialState();
    DiscoverPorts();
    return true;
}

void TesterRunLoop()
{
    RunEventLoop();
}

void TesterEnd()
{
    StopToolkit();
}

void TesterStart(HINSTANCE instance, const char*, HINSTANCE, int)
{
    // Without its window the program could never be closed: end at once.
    if (!TesterBegin(instance))
        ExitProcess(1);
    TesterRunLoop();
    TesterEnd();
    ExitProcess(0);
}
