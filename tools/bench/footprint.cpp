// Size of the tester's program file and the peak memory of the running
// tester (nine virtual ports, a port opened, a few hundred presses), beside
// the floor program's for scale.
#include <windows.h>
#define PSAPI_VERSION 2   // the counters from kernel32: no extra library
#include <psapi.h>
#include <stdio.h>

#include "app/layout.h"
#include "tools/virtual-coupler/coupler_client.h"
#include "tools/support/tester_process.h"
#include "tools/bench/bench_support.h"

namespace {

long long FileSize(const std::string& unixPath)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(WindowsPath(unixPath).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Memory(HANDLE process, PROCESS_MEMORY_COUNTERS_EX* counters)
{
    *counters = PROCESS_MEMORY_COUNTERS_EX{};
    counters->cb = sizeof *counters;
    return GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(counters), sizeof *counters);
}

void PrintMemory(const char* name, const PROCESS_MEMORY_COUNTERS_EX& m)
{
    // Wine leaves PrivateUsage at 0; the committed private memory is PagefileUsage.
    printf("%-24s peak working set %6lu KB   peak committed private %6lu KB\n", name,
           static_cast<unsigned long>(m.PeakWorkingSetSize / 1024),
           static_cast<unsigned long>(m.PeakPagefileUsage / 1024));
}

}  // namespace

int main()
{
    if (!CouplerAttach() || !CouplerReset()) {
        fprintf(stderr, "bench_footprint: no virtual coupler (run it through scripts/bench)\n");
        return 1;
    }
    for (int com = 1; com <= 9; ++com)
        CouplerPortPresent(com, true);
    const std::string floor = std::string(CT_BUILD_DIR) + "/bench_floor_window.exe";
    printf("program file: coupler-tester.exe %lld bytes, floor %lld bytes\n", FileSize(CT_TESTER_EXE),
           FileSize(floor));

    TesterProcess tester;
    HWND window = 0, editor = 0;
    if (!bench::StartTesterAndOpen(tester, "bench_footprint", &window, &editor))
        return 1;
    for (int i = 0; i < 300; ++i)
        PressButton(FindControl(window, SDA_SWITCH_BUTTON + 2 * (i % 2)));
    WaitPostedMessagesTaken(editor);
    PROCESS_MEMORY_COUNTERS_EX testerMemory;
    bool haveTester = Memory(tester.Process(), &testerMemory);

    bench::Program floorProgram(floor);
    LONGLONG started = bench::Now();
    PROCESS_MEMORY_COUNTERS_EX floorMemory;
    bool haveFloor = floorProgram.Start() && floorProgram.WaitIdleWindow(started, "FloorWindow") >= 0 &&
                     Memory(floorProgram.Process(), &floorMemory);
    if (!haveTester || !haveFloor) {
        fprintf(stderr, "bench_footprint: no memory counters\n");
        return 1;
    }
    PrintMemory("tester (9 ports, open)", testerMemory);
    PrintMemory("floor (one window)", floorMemory);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 0;
    tester.WaitExit(&code);
    CouplerReset();
    return 0;
}
