// What both console programs do around a job on the coupler's port: the
// trace of the lines (--trace), the adapter's figures (--verbose) and a hint
// where its status comes late, and its latency timer at 1 ms for the job
// (--low-latency).
#pragma once

#include <string>
#include <vector>

#include "console/json.h"
#include "console/port.h"
#include "line/ftdi_lines.h"
#include "line/lines.h"
#include "line/trace.h"

struct JobOptions {
    const char* trace = nullptr;  // the value change dump to write; nullptr: none
    bool verbose = false;         // the adapter's figures
    bool lowLatency = false;      // the adapter's latency timer at 1 ms for the job
    bool json = false;            // one JSON object on standard output instead of the texts
    const char* ftdi = nullptr;   // the FTDI chip (serial number or index) to drive in bit-bang mode; nullptr: none
};

// The usage's lines for the options, their texts from column on.
std::vector<std::string> JobUsage(int column);
// Takes the option at argv[*i] when it is one of these (a value moves *i on):
// 1 taken, 0 not one of these, -1 refused with the reason in error.
int JobOption(int argc, char** argv, int* i, JobOptions* options, char* error, int size);

// Whether the arguments ask for JSON, for a run whose arguments are refused.
bool JobJsonAsked(int argc, char** argv);
// Whether an option is among the arguments, for a run whose arguments are refused.
bool JobOptionGiven(int argc, char** argv, const char* option);
// A JSON run's object begun: its program, command (nullptr: none) and port.
void JobJsonBegin(Json* json, const char* program, const char* command, const std::string& port);
// The adapter's figures as a member of the object: the echo (echoMs < 0:
// none measured), a switch's and a sample's cost; null without lines.
void JobJsonAdapter(Json* json, const Lines* lines, double echoMs);
// Ends the object with the exit code, the errors said (null when none) and
// the error code, and writes it to standard output.
void JobJsonEnd(Json* json, int code);
// Why the run fails, as a stable English word beside the German text
// ("port_busy", "nack"; the manual pages list them), said where the reason
// is found; the last one said counts. A run that fails without one says
// "failed"; a run that succeeds says null.
void JobErrorCode(const char* code);

// A run that shows its usage (--help) or refuses its arguments (reason not
// nullptr: said first, the usage then on standard error): the usage as lines,
// and as the member "usage" of the JSON object; the exit code, 0 or 2.
int JobUsageShown(Json* json, bool jsonRun, const char* program, const char* reason,
                  const std::vector<std::string>& usage);

// A job's own state: the recorder while tracing. The program's main owns it.
struct FtdiLibrary;
struct Job {
    TraceRecorder recorder;
    bool tracing = false;
    FtdiLibrary* library = nullptr;  // with --ftdi: the chip's library, loaded for the job
    FtdiLines ftdi;                  // the chip, open in bit-bang mode for the job
};

// Before the port opens: whether the trace can be written (no file is left
// behind that was not there); false with the reason in words.
bool JobTraceWritable(const JobOptions& options, std::string* why);
// The port's line access for the engine, recorded when tracing; sets the
// latency timer when asked, saying so (or why not) as a note. With --ftdi
// the chip in synchronous bit-bang mode instead, where its library is there
// and the chip takes the mode; else a note says why, and the job runs
// through the serial port.
LinePort JobStart(Job* job, const JobOptions& options, ConsolePort* port, const char* program);
// After the echo is known: the adapter's figures (with --verbose) and, where
// DSR comes late, what to change and where (unasked where the adapter is
// known to have a latency timer, else with --verbose). echoMs < 0: none measured.
void JobAdapter(const JobOptions& options, ConsolePort* port, const Lines* lines, double echoMs);
// Gives the FTDI chip back (its UART, the kernel's driver) and writes the
// trace; false with a line saying why.
bool JobEnd(Job* job, const JobOptions& options, const char* program);
