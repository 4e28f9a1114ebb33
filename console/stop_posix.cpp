#include "console/stop.h"

#include <signal.h>
#include <string.h>

namespace {

// The job's engine, set by StopStart; the signal handler stops it. For the process.
Lines* job = nullptr;
// The signals that end a job, and what they did before StopStart: put back by
// StopEnd (installed says whether they are to be).
const int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction before[3];
bool installed = false;

// Only the stop flag, an atomic store: safe in a handler. The job cleans up.
void OnSignal(int) { LinesStop(job); }

}  // namespace

void StopStart(Lines* lines)
{
    job = lines;
    struct sigaction stop;
    memset(&stop, 0, sizeof stop);
    stop.sa_handler = OnSignal;
    sigemptyset(&stop.sa_mask);
    // No SA_RESTART: a wait for a key returns at once and the job sees the stop.
    for (int i = 0; i < 3; i++)
        sigaction(SIGNALS[i], &stop, &before[i]);
    installed = true;
}

void StopEnd()
{
    if (!installed)
        return;
    for (int i = 0; i < 3; i++)
        sigaction(SIGNALS[i], &before[i], nullptr);
    installed = false;
}
