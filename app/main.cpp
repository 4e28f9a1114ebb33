// Process entry of the coupler tester.
#include <windows.h>

#include "app/tester.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The command line and the show command have no effect; only the module
    // handle is used. TesterStart ends the process itself.
    TesterStart(GetModuleHandleA(0), GetCommandLineA(), 0, 10);
    return 0;
}
