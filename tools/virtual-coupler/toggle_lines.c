/* A small Windows program for trying the virtual coupler by hand: opens a
 * port, switches DTR (SDA) and RTS (SCL) in turn and prints what DSR (SDA
 * read back) and CTS (INT) say after each step.
 *   wine toggle-lines.exe [comN] [steps] [milliseconds between steps] */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    const char* name = argc > 1 ? argv[1] : "com3";
    int steps = argc > 2 ? atoi(argv[2]) : 8;
    int pause = argc > 3 ? atoi(argv[3]) : 1000;
    char device[32];
    snprintf(device, sizeof device, "\\\\.\\%s", name);
    HANDLE port = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        printf("%s does not open (error %lu)\n", name, GetLastError());
        return 1;
    }
    for (int step = 0; step < steps; step++) {
        int dtr = step & 1, rts = (step >> 1) & 1;
        EscapeCommFunction(port, dtr ? SETDTR : CLRDTR);
        EscapeCommFunction(port, rts ? SETRTS : CLRRTS);
        DWORD status = 0;
        GetCommModemStatus(port, &status);
        printf("DTR %d RTS %d   ->  DSR %d CTS %d\n", dtr, rts, (status & MS_DSR_ON) != 0,
               (status & MS_CTS_ON) != 0);
        fflush(stdout);
        Sleep(pause);
    }
    CloseHandle(port);
    return 0;
}
