// Ending a job from outside, as the person at the console does: on Windows
// Ctrl+C, Ctrl+Break and a closed console, natively SIGINT, SIGTERM and SIGHUP.
// Each only asks the job's line engine to stop; the job sees it at its next
// line call, leaves the bus idle, closes the port and ends with its own exit
// code (console/stop_win.cpp, console/stop_posix.cpp).
#pragma once

#include "line/lines.h"

// From here on a stop from outside stops lines, which must live until the
// process ends.
void StopStart(Lines* lines);
// The job is over (bus idle, port closed); safe to call twice.
void StopEnd();
