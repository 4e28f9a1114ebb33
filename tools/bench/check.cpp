// The automatic check's time: coupler-check COM3 (20 repetitions, the
// default) on a healthy virtual coupler, each run a whole process under Wine
// from start to exit code. Fails when a run does not pass or takes a second.
//
//   bench_check.exe [runs]     (default 20)
#include <stdio.h>
#include <stdlib.h>

#include "tools/virtual-coupler/coupler_client.h"
#include "tools/bench/bench_support.h"

int main(int argc, char** argv)
{
    int runs = argc > 1 ? atoi(argv[1]) : 20;
    if (runs < 1 || !CouplerAttach() || !CouplerReset() || !CouplerPortPresent(3, true)) {
        printf("check: needs the virtual coupler (scripts/bench check) and a run count of 1 or more\n");
        return 2;
    }
    std::vector<double> times;
    for (int i = 0; i < runs; i++) {
        DWORD code = 99;
        times.push_back(bench::RunQuiet(CT_CHECK_EXE, "COM3", &code));
        if (code != 0) {
            printf("check: run %d ended with exit code %lu, not 0\n", i + 1, code);
            return 1;
        }
    }
    double worst = bench::Percentile(times, 1.0);
    printf("check: full automatic check (COM3, 9600 baud, 20 repetitions), whole process, %d runs:\n"
           "       median %.0f ms, 90th percentile %.0f ms, max %.0f ms (limit 1000 ms)\n",
           runs, bench::Percentile(times, 0.5), bench::Percentile(times, 0.9), worst);
    return worst < 1000 ? 0 : 1;
}
