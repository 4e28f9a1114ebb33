// Starts the tester, waits until its window is built and idle, saves what the
// window shows as a BMP file, and closes the tester through its close box.
// Exit code: the tester's own, or 2 when something went wrong on the way.
//
//   snap.exe OUTPUT.bmp
#include <stdio.h>

#include "tools/support/tester_process.h"
#include "tools/snap/screenshot.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: snap OUTPUT.bmp\n");
        return 2;
    }
    TesterProcess tester;
    if (!tester.Start()) {
        fprintf(stderr, "snap: the tester did not start\n");
        return 2;
    }
    HWND window = tester.WaitMainWindow();
    if (!window) {
        fprintf(stderr, "snap: the tester's window did not appear\n");
        return 2;
    }
    WaitForInputIdle(tester.Process(), 5000);
    Sleep(1500);   // the first paint of every panel and field
    int result = 0;
    if (HWND box = tester.CurrentMessageBox()) {
        // A box over the window is part of what the user sees: keep it in the
        // picture, then answer it so the program can end.
        SaveWindowAsBmp(window, argv[1]);
        PressOk(box);
    } else if (!SaveWindowAsBmp(window, argv[1])) {
        fprintf(stderr, "snap: could not save %s\n", argv[1]);
        result = 2;
    }
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 0;
    if (!tester.WaitExit(&code)) {
        fprintf(stderr, "snap: the tester did not end\n");
        return 2;
    }
    return result ? result : static_cast<int>(code);
}
