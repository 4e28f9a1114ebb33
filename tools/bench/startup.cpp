// Start-up time of the tester to its first idle moment with its window up,
// against the floor (a program that only opens one window), all under the
// same Wine in one run: with no port (the tester then waits in its warning
// box), with one and with nine virtual ports. Prints medians, ratios and the
// cost of each probed port.
//
// bench_startup [runs]   (default 15 per configuration, after one warm-up)
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "tools/virtual-coupler/coupler_client.h"
#include "tools/bench/bench_support.h"

namespace {

struct Configuration {
    const char* name;
    const char* path;
    int ports;               // virtual ports com1.. present at start
    const char* idleClass;   // the window that is up when the program first waits
    std::vector<double> samples;
};

bool PresentPorts(int count)
{
    if (!CouplerReset())
        return false;
    for (int com = 1; com <= count; ++com)
        if (!CouplerPortPresent(com, true))
            return false;
    return true;
}

double StartOnce(Configuration& c)
{
    if (!PresentPorts(c.ports))
        return -1;
    bench::Program program(c.path);
    LONGLONG started = bench::Now();
    if (!program.Start())
        return -1;
    double seconds = program.WaitIdleWindow(started, c.idleClass);
    program.Stop();
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? atoi(argv[1]) : 15;
    if (!CouplerAttach()) {
        fprintf(stderr, "bench_startup: no virtual coupler (run it through scripts/bench)\n");
        return 1;
    }
    const std::string floor = std::string(CT_BUILD_DIR) + "/bench_floor_window.exe";
    Configuration configurations[] = {
        {"floor (one window)", floor.c_str(), 0, "FloorWindow", {}},
        {"tester, 0 ports (warning box)", CT_TESTER_EXE, 0, "#32770", {}},
        {"tester, 1 port", CT_TESTER_EXE, 1, "WindowClass_0", {}},
        {"tester, 9 ports", CT_TESTER_EXE, 9, "WindowClass_0", {}},
    };
    for (Configuration& c : configurations)
        StartOnce(c);   // warm-up: file cache, the prefix's services
    // Interleaved, so that a slow spell of the machine hits every configuration.
    for (int run = 0; run < runs; ++run) {
        for (Configuration& c : configurations) {
            double seconds = StartOnce(c);
            if (seconds < 0) {
                fprintf(stderr, "bench_startup: %s did not come up\n", c.name);
                return 1;
            }
            c.samples.push_back(seconds * 1000);
        }
    }
    CouplerReset();

    printf("start-up to the first idle moment with the window up, %d runs each (ms)\n", runs);
    printf("%-32s %8s %8s %8s\n", "", "median", "min", "p90");
    for (Configuration& c : configurations)
        printf("%-32s %8.1f %8.1f %8.1f\n", c.name, bench::Percentile(c.samples, 0.5),
               bench::Percentile(c.samples, 0.0), bench::Percentile(c.samples, 0.9));
    double floorMs = bench::Percentile(configurations[0].samples, 0.5);
    double none = bench::Percentile(configurations[1].samples, 0.5);
    double one = bench::Percentile(configurations[2].samples, 0.5);
    double nine = bench::Percentile(configurations[3].samples, 0.5);
    printf("ratio tester 0 ports / floor: %.2f (target <= 1.5)\n", none / floorMs);
    printf("ratio tester 9 ports / floor: %.2f\n", nine / floorMs);
    printf("each probed port: %.1f ms ((9 ports - 1 port) / 8; target <= 20)\n", (nine - one) / 8);
    return 0;
}
