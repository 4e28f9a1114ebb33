// The I2C master of the Windows build on the virtual coupler (COM3, all three
// chips), under Wine: the cost of a line request, requests and time per probe
// and per byte against the protocol's floor, whole scans in the process and
// as coupler-i2c.exe processes. It prints its figures as records
// (tools/bench/i2c_jobs.h); scripts/bench i2c hands them to bench_scan_native,
// which prints them next to the native build's.
//
//   bench_i2c.exe [runs]     runs: whole-scan processes with no adapter delay (11)
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>

#include "line/serial_lines.h"
#include "serial/serial.h"
#include "tools/bench/bench_support.h"
#include "tools/bench/i2c_jobs.h"

int main(int argc, char** argv)
{
    using i2cjobs::COM;
    int runs = std::max(argc > 1 ? atoi(argv[1]) : 11, 1);
    if (!CouplerAttach() || !CouplerReset() || !CouplerPortPresent(COM, true) ||
        !CouplerSetChips(COM, CHIP_EEPROM | CHIP_EXPANDER | CHIP_SENSOR)) {
        printf("i2c: needs the virtual coupler (scripts/bench i2c)\n");
        return 2;
    }
    int32_t port = SerialOpen("com3:9600,n,8,1", 0, 0, 0);
    if (port < 0) {
        printf("i2c: COM3 did not open\n");
        return 2;
    }
    SerialLines serial;
    i2cjobs::Meter meter("wine", SerialLinesOpen(&serial, port), true);
    meter.Record("runs", runs, 0, 0, 0);
    bool ok = meter.InProcess();
    SerialLinesClose(&serial);
    SerialClose(port);
    ok = ok && meter.Processes(
                   [](const char* arguments, bool* ok) {
                       DWORD code;
                       double ms = bench::RunQuiet(CT_I2C_EXE, arguments, &code);
                       *ok = *ok && code == 0;
                       return ms;
                   },
                   runs);
    CouplerSetAdapter(COM, 0, 0);
    if (!ok)
        printf("wine failed: a job or a process did not end well\n");
    return ok ? 0 : 1;
}
