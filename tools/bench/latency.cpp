// Click-to-line latency: from a posted click on "SDA   on/off" to the DTR
// change the virtual coupler sees, over many presses. The coupler stamps
// each change on the performance counter's clock, so the figure is the time
// the program took, not the time this bench took to notice.
//
// bench_latency [presses]   (default 1000)
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "app/layout.h"
#include "tools/virtual-coupler/coupler_client.h"
#include "tools/support/tester_process.h"
#include "tools/bench/bench_support.h"

namespace {

constexpr int COM = 1;

// Waits until the coupler has counted more line changes than before.
bool WaitLineChange(int64_t before, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (CouplerLineChangeCount(COM) <= before) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(0);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    int presses = argc > 1 ? atoi(argv[1]) : 1000;
    if (!CouplerAttach() || !CouplerReset() || !CouplerPortPresent(COM, true)) {
        fprintf(stderr, "bench_latency: no virtual coupler (run it through scripts/bench)\n");
        return 1;
    }
    TesterProcess tester;
    HWND window = 0, editor = 0;
    if (!bench::StartTesterAndOpen(tester, "bench_latency", &window, &editor))
        return 1;
    if (!WaitPostedMessagesTaken(editor) || CouplerDtr(COM) != 1) {
        fprintf(stderr, "bench_latency: the port did not open\n");
        return 1;
    }
    HWND sda = FindControl(window, SDA_SWITCH_BUTTON);

    std::vector<double> samples;
    for (int i = 0; i < presses; ++i) {
        int64_t before = CouplerLineChangeCount(COM);
        LONGLONG posted = bench::Now();
        PressButton(sda);
        if (!WaitLineChange(before, 5000)) {
            fprintf(stderr, "bench_latency: press %d changed no line\n", i + 1);
            return 1;
        }
        samples.push_back(bench::Seconds(CouplerLastLineChange(COM) - posted) * 1000);
        // The next press starts from an idle program, as a person's would.
        WaitPostedMessagesTaken(editor);
    }
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 0;
    tester.WaitExit(&code);
    CouplerReset();

    printf("click-to-line latency, %d presses of \"SDA   on/off\" (ms)\n", presses);
    printf("median %.2f (target <= 5)   p99 %.2f (target <= 20)   min %.2f   max %.2f\n",
           bench::Percentile(samples, 0.5), bench::Percentile(samples, 0.99), bench::Percentile(samples, 0.0),
           bench::Percentile(samples, 1.0));
    return 0;
}
