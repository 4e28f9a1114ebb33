// Cost of the colouring hook per message: a message it passes on at once, and
// a colour message about the last of 8 and of 100 coloured controls (the
// longest walk of the colour list). Prints nanoseconds per call.
#include <windows.h>
#include <stdio.h>

#include "toolkit/colours.h"
#include "toolkit/controls.h"
#include "toolkit/registry.h"
#include "toolkit/window.h"

namespace {

const char PARENT_CLASS[] = "ColourBenchParent";
const int ITERATIONS = 1000000;

// Calls the hook ITERATIONS times with the same message; nanoseconds per call.
double Measure(HWND parent, UINT message, WPARAM wParam, LPARAM lParam)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    volatile LRESULT sink = 0;   // keeps the calls from being optimised away
    QueryPerformanceCounter(&start);
    for (int i = 0; i < ITERATIONS; ++i)
        sink = sink + HandleColourMessage(parent, message, wParam, lParam, CALLBACK_DEFAULT);
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1e9 /
           static_cast<double>(frequency.QuadPart) / ITERATIONS;
}

// Colours text controls 0 .. count - 1 (making those that are missing) and
// returns the handle of the last one.
HWND ColourControls(int32_t count)
{
    for (int32_t number = 0; number < count; ++number) {
        if (!GetControlHandle(number))
            CreateTextControl(number, 4 * (number % 50), 4 * (number / 50), 4, 4, "");
        SetControlColours(number, RGB(0, 0, 0), RGB(255, 255, 255));
    }
    return GetControlHandle(count - 1);
}

}  // namespace

int main()
{
    SetToolkitInstance(GetModuleHandleA(0));
    RuntimeHeapCreate();
    CreateListHeap();
    InitControlModule();
    InitControlLists();
    InitControlColours();

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(0);
    windowClass.lpszClassName = PARENT_CLASS;
    RegisterClassA(&windowClass);
    HWND parent = CreateWindowExA(0, PARENT_CLASS, "", WS_POPUP, 0, 0, 200, 200, 0, 0,
                                  GetModuleHandleA(0), 0);
    StartControlList(parent);
    HDC dc = CreateCompatibleDC(0);
    WPARAM dcParam = reinterpret_cast<WPARAM>(dc);

    HWND last8 = ColourControls(8);
    printf("non-colour message (WM_MOUSEMOVE), 8 coloured: %8.1f ns per call\n",
           Measure(parent, WM_MOUSEMOVE, 0, 0));
    printf("WM_CTLCOLORSTATIC, 8 coloured, last one:        %8.1f ns per call\n",
           Measure(parent, WM_CTLCOLORSTATIC, dcParam, reinterpret_cast<LPARAM>(last8)));
    printf("WM_CTLCOLORSTATIC, 8 coloured, uncoloured:      %8.1f ns per call\n",
           Measure(parent, WM_CTLCOLORSTATIC, dcParam, reinterpret_cast<LPARAM>(parent)));
    HWND last100 = ColourControls(100);
    printf("WM_CTLCOLORSTATIC, 100 coloured, last one:      %8.1f ns per call\n",
           Measure(parent, WM_CTLCOLORSTATIC, dcParam, reinterpret_cast<LPARAM>(last100)));
    printf("WM_CTLCOLORSTATIC, 100 coloured, uncoloured:    %8.1f ns per call\n",
           Measure(parent, WM_CTLCOLORSTATIC, dcParam, reinterpret_cast<LPARAM>(parent)));

    FreeControlColours();
    DeleteDC(dc);
    DestroyWindow(parent);
    CloseControlList();
    UnregisterClassA(PARENT_CLASS, GetModuleHandleA(0));
    ShutdownControlModule();
    DestroyListHeap();
    RuntimeHeapDestroy();
    return 0;
}
