// The check's command line.
#pragma once

#include "console/job.h"

#include <string>
#include <vector>

struct CheckOptions {
    std::string port;          // as written in texts and the record: COM3, /dev/ttyUSB0; empty when none was given
    int baud = 9600;           // one of the tester's baud rates
    int repeat = 20;           // repetitions of the timed steps, 1 .. 10000
    bool interactive = false;  // adds the steps that need a hand on the coupler
    bool quiet = false;        // only the verdict line
    bool list = false;         // list the ports instead of checking
    bool help = false;
    JobOptions job;  // --trace, --verbose, --low-latency
    const char* log = nullptr;  // CSV file a row per run is appended to
    const char* record = nullptr;  // JSON Lines file an object per run is appended to
    const char* serial = nullptr;  // the coupler's serial number, the operator, the station: for the record
    const char* operatorName = nullptr;
    const char* station = nullptr;
    bool expecting = false;     // --expect: a scan must find exactly the addresses in expected
    bool expected[128] = {};
};

// Fills options from the arguments; false with a one-line reason in error.
bool ParseOptions(int argc, char** argv, CheckOptions* options, char* error, int size);

// The usage text, one line per entry.
std::vector<std::string> Usage();
