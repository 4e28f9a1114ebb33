// Resource stability: after thousands of signal toggles and open/close
// cycles the tester holds no more GDI objects, windows, kernel handles or
// memory than after its first cycle, and every replaced indicator brush is
// really gone.
//
// Wine 8 has no GetGuiResources (it answers 0), so GDI objects and windows
// are counted inside the process, with the tester run in-process through its
// start-up, handlers and shutdown. Wine 8 also answers GetProcessHandleCount
// with 0 and leaves PrivateUsage 0: kernel handles are counted inside the
// process by probing, and memory is the committed private memory
// (PagefileUsage), which Wine does report.
//
// Counts (environment): RESOURCE_TOGGLES (default 10000), RESOURCE_CYCLES
// (default 1000).
#include <gtest/gtest.h>

#include <windows.h>
// Memory counters from kernel32 (K32GetProcessMemoryInfo): no extra library.
#define PSAPI_VERSION 2
#include <psapi.h>
#include <stdlib.h>

#include "app/handlers.h"
#include "app/layout.h"
#include "app/state.h"
#include "app/tester.h"
#include "toolkit/colours.h"
#include "toolkit/controls.h"
#include "toolkit/registry.h"
#include "toolkit/window.h"
#include "tests/support/coupler_client.h"

namespace {

constexpr int COM = 4;

int Setting(const char* name, int fallback)
{
    const char* value = getenv(name);
    return value && *value ? atoi(value) : fallback;
}

// Live GDI objects of this process. Wine accepts a handle's table index
// alone (upper word 0) for any live object, so probing every index counts
// them all, the program's and the platform's own.
int CountGdiObjects()
{
    int count = 0;
    for (uintptr_t index = 1; index < 0x10000; ++index)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0)
            ++count;
    return count;
}

BOOL CALLBACK CountWindow(HWND window, LPARAM param)
{
    int* count = reinterpret_cast<int*>(param);
    ++*count;
    EnumChildWindows(window, CountWindow, param);
    return TRUE;
}

// Windows of this thread, top-level and children (children are counted once
// per level of EnumChildWindows, which is the same every time).
int CountWindows()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Kernel handles of this process: every handle value that names one.
int CountKernelHandles()
{
    int count = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}

// Committed private memory of a process; 0 when not reported.
size_t PrivateBytes(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    return GetProcessMemoryInfo(process, &memory, sizeof memory) ? memory.PagefileUsage : 0;
}

size_t HeapBusyBytes(HANDLE heap)
{
    if (!heap)
        return 0;
    size_t busy = 0;
    PROCESS_HEAP_ENTRY entry = {};
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            busy += entry.cbData;
    HeapUnlock(heap);
    return busy;
}

struct Footprint {
    int gdi;
    int windows;
    int handles;
    size_t heapBytes;      // in use in the toolkit's two heaps and the process heap
    size_t privateBytes;   // the process's committed private memory
};

Footprint Measure()
{
    Footprint f = {};
    f.gdi = CountGdiObjects();
    f.windows = CountWindows();
    f.handles = CountKernelHandles();
    f.heapBytes = HeapBusyBytes(RuntimeHeap()) + HeapBusyBytes(ListHeap()) + HeapBusyBytes(GetProcessHeap());
    f.privateBytes = PrivateBytes(GetCurrentProcess());
    return f;
}

// A small fixed slack for the platform's own caches, never growth per cycle.
void ExpectNoGrowth(const Footprint& first, const Footprint& later)
{
    EXPECT_LE(later.gdi, first.gdi + 2);
    EXPECT_LE(later.windows, first.windows);
    EXPECT_LE(later.handles, first.handles + 4);
    EXPECT_LE(later.heapBytes, first.heapBytes + 16 * 1024);
    EXPECT_LE(later.privateBytes, first.privateBytes + 1024 * 1024);
}

void Pump()
{
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// The brush a field paints its background with: the colouring hook's answer
// to the field's colour question.
HBRUSH FieldBrush(int32_t field)
{
    HWND control = GetControlHandle(field);
    HDC dc = GetDC(control);
    LRESULT answer = HandleColourMessage(GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                         reinterpret_cast<LPARAM>(control), CALLBACK_DEFAULT);
    ReleaseDC(control, dc);
    return answer == CALLBACK_DEFAULT ? 0 : reinterpret_cast<HBRUSH>(answer);
}

COLORREF BrushColour(HBRUSH brush)
{
    LOGBRUSH logical = {};
    return GetObjectA(brush, sizeof logical, &logical) ? logical.lbColor : 0xFFFFFFFF;
}

// The tester run inside the test's process on one virtual coupler port.
class InProcessTester : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach()) << "no virtual coupler: run the suite through scripts/test";
        ASSERT_TRUE(CouplerReset());
        ASSERT_TRUE(CouplerPortPresent(COM, true));
        // The platform keeps objects of its own from the first start, open
        // and paint on (rich edit, font and paint caches): measure from a
        // second run.
        ASSERT_TRUE(TesterBegin(GetModuleHandleA(0)));
        Pump();
        Cycle();
        TesterEnd();
        before_ = Measure();
        ASSERT_TRUE(TesterBegin(GetModuleHandleA(0)));
        started_ = true;
        Pump();
    }
    void TearDown() override
    {
        if (started_)
            TesterEnd();
        CouplerReset();
    }

    // One open/close cycle with a toggle of each output and both reads.
    void Cycle()
    {
        TogglePort();
        ToggleSda();
        ToggleScl();
        ReadSda();
        ReadInt();
        TogglePort();
        Pump();
    }

    Footprint before_ = {};
    bool started_ = false;
};

TEST_F(InProcessTester, ThousandsOfTogglesAndCyclesHoldNoMoreThanTheFirstCycle)
{
    const int toggles = Setting("RESOURCE_TOGGLES", 10000);
    const int cycles = Setting("RESOURCE_CYCLES", 1000);

    Cycle();
    TogglePort();
    ASSERT_GT(Tester().portHandle, 0);
    Pump();
    Footprint first = Measure();

    // Each recolouring replaces the field's brush: the old one is deleted.
    HBRUSH earlier = FieldBrush(SDA_OUT_FIELD);
    ASSERT_EQ(GetObjectType(earlier), static_cast<DWORD>(OBJ_BRUSH));
    ToggleSda();
    Pump();
    EXPECT_EQ(GetObjectType(earlier), 0u) << "the field kept its old brush";
    EXPECT_EQ(BrushColour(FieldBrush(SDA_OUT_FIELD)), WHITE);
    earlier = FieldBrush(SCL_OUT_FIELD);
    for (int i = 0; i < toggles; ++i) {
        if (i % 2 == 0)
            ToggleSda();
        else
            ToggleScl();
        if (i % 100 == 99) {
            ReadSda();
            ReadInt();
            Pump();   // the fields repaint with their current brushes
        }
    }
    Pump();
    EXPECT_EQ(GetObjectType(earlier), 0u);
    Footprint afterToggles = Measure();
    ExpectNoGrowth(first, afterToggles);

    TogglePort();   // close; the cycles start from a closed port
    for (int i = 0; i < cycles; ++i) {
        Cycle();
        ASSERT_EQ(Tester().portHandle, -1);
    }
    TogglePort();
    ASSERT_GT(Tester().portHandle, 0) << "the port still opens after the cycles";
    Pump();
    Footprint afterCycles = Measure();
    ExpectNoGrowth(first, afterCycles);
    EXPECT_EQ(ControlColourCount(), 8u) << "four fields and four labels, one record each";

    // The shutdown gives back every object the tester made.
    TesterEnd();
    started_ = false;
    Footprint after = Measure();
    EXPECT_LE(after.gdi, before_.gdi + 2);
    EXPECT_EQ(after.windows, before_.windows);
}

}  // namespace
