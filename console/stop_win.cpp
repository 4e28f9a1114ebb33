#include "console/stop.h"

#include <windows.h>

namespace {

// The job's engine, set by StopStart; the handler stops it. For the process.
Lines* job = nullptr;
// Set by StopEnd once the job is over; the handler waits for it, since the
// process ends when the handler returns from a closed console. Made by
// StopStart, kept for the process.
HANDLE jobOver = nullptr;

// This runs on a thread of its own: the job's thread sees the request at its
// next line call and cleans up.
BOOL WINAPI OnConsoleControl(DWORD)
{
    LinesStop(job);
    WaitForSingleObject(jobOver, 4000);
    return TRUE;
}

}  // namespace

void StopStart(Lines* lines)
{
    job = lines;
    jobOver = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void StopEnd()
{
    if (jobOver)
        SetEvent(jobOver);
}
