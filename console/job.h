// What both console programs do around a job on the coupler's port: the
// trace of the lines (--trace), the adapter's figures (--verbose) and a hint
// where its status comes late, and its latency timer at 1 ms for the job
// (--low-latency).
#pragma once

#include <string>
#include <vector>

#include "console/port.h"
#include "line/lines.h"
#include "line/trace.h"

struct JobOptions {
    const char* trace = nullptr;  // the value change dump to write; nullptr: none
    bool verbose = false;         // the adapter's figures
    bool lowLatency = false;      // the adapter's latency timer at 1 ms for the job
};

// The usage's lines for the options, their texts from column on.
std::vector<std::string> JobUsage(int column);
// Takes the option at argv[*i] when it is one of these (a value moves *i on):
// 1 taken, 0 not one of these, -1 refused with the reason in error.
int JobOption(int argc, char** argv, int* i, JobOptions* options, char* error, int size);

// A job's own state: the recorder while tracing. The program's main owns it.
struct Job {
    TraceRecorder recorder;
    bool tracing = false;
};

// Before the port opens: whether the trace can be written (no file is left
// behind that was not there); false with the reason in words.
bool JobTraceWritable(const JobOptions& options, std::string* why);
// The port's line access for the engine, recorded when tracing; sets the
// latency timer when asked, saying so (or why not) as a note.
LinePort JobStart(Job* job, const JobOptions& options, ConsolePort* port, const char* program);
// After the echo is known: the adapter's figures (with --verbose) and, where
// DSR comes late, what to change and where (unasked where the adapter is
// known to have a latency timer, else with --verbose). echoMs < 0: none measured.
void JobAdapter(const JobOptions& options, ConsolePort* port, const Lines* lines, double echoMs);
// Writes the trace; false with a line saying why.
bool JobEnd(Job* job, const JobOptions& options, const char* program);
