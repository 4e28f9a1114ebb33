// The tester run inside this process, for what only the process can see:
// the fonts its controls use, the settings string it opens with and the order
// in which the open raises the lines, the help editor's first view, and its
// resources, which thousands of signal toggles and open/close cycles must not
// grow and its shutdown must give back.
//
// Wine 8 has no GetGuiResources or GetProcessHandleCount: GDI objects,
// windows and kernel handles are counted by probing, memory is the busy bytes
// of the heaps. Counts: RESOURCE_TOGGLES (default 5000), RESOURCE_CYCLES
// (default 1000).
#include <windows.h>

#include <gtest/gtest.h>

#include "app/handlers.h"
#include "app/layout.h"
#include "app/state.h"
#include "app/tester.h"
#include "tools/virtual-coupler/coupler_client.h"
#include "tests/support/driver.h"
#include "tests/support/import_slot.h"
#include "toolkit/colours.h"
#include "toolkit/controls.h"
#include "toolkit/registry.h"
#include "toolkit/window.h"

// The serial layer's first line switches, in order (at most four, so that
// the toggles do not grow the heap): its import of the platform's
// EscapeCommFunction is this slot, which records and passes on. Lives with
// the process; the test clears it before the open it looks at.
std::vector<DWORD> lineSwitches;
BOOL WINAPI RecordLineSwitch(HANDLE port, DWORD function)
{
    static auto platform = reinterpret_cast<BOOL(WINAPI*)(HANDLE, DWORD)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "EscapeCommFunction")));
    if (lineSwitches.size() < 4)
        lineSwitches.push_back(function);
    return platform(port, function);
}
BOOL(WINAPI* escapeCommFunctionImport)(HANDLE, DWORD) asm(CT_IMPORT_SLOT(EscapeCommFunction, 8)) = RecordLineSwitch;

namespace {

struct Footprint {
    int gdi = 0, windows = 0, handles = 0;
    size_t heapBytes = 0;
};

BOOL CALLBACK CountWindow(HWND window, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, CountWindow, count);
    return TRUE;
}

size_t HeapBusyBytes(HANDLE heap)
{
    size_t busy = 0;
    PROCESS_HEAP_ENTRY entry = {};
    while (heap && HeapWalk(heap, &entry))
        busy += entry.wFlags & PROCESS_HEAP_ENTRY_BUSY ? entry.cbData : 0;
    return busy;
}

Footprint Measure()
{
    Footprint f;
    // Wine takes a GDI handle's table index alone (upper word 0) for any live object.
    // Kernel handles are probed below 0x4000: a leak of one per cycle stays below it.
    for (uintptr_t index = 1; index < 0x10000; ++index) {
        DWORD flags;
        f.gdi += GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0;
        f.handles += index % 4 == 0 && index < 0x4000 && GetHandleInformation(reinterpret_cast<HANDLE>(index), &flags);
    }
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&f.windows));
    f.heapBytes = HeapBusyBytes(RuntimeHeap()) + HeapBusyBytes(ListHeap()) + HeapBusyBytes(GetProcessHeap());
    return f;
}

// A small fixed slack for the platform's own caches, never growth per cycle.
void ExpectNoGrowth(const Footprint& first, const Footprint& later)
{
    EXPECT_LE(later.gdi, first.gdi + 2);
    EXPECT_LE(later.windows, first.windows);
    EXPECT_LE(later.handles, first.handles + 4);
    EXPECT_LE(later.heapBytes, first.heapBytes + 16 * 1024);
}

// The brush a field paints with: what the window callback answers for it.
HGDIOBJ FieldBrush(int32_t field)
{
    HWND control = GetControlHandle(field);
    HDC dc = GetDC(control);
    LRESULT brush = MainWindowCallback(GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(control));
    ReleaseDC(control, dc);
    return reinterpret_cast<HGDIOBJ>(brush);
}

void Cycle()
{
    TogglePort();
    ToggleSda();
    ToggleScl();
    ReadSda();
    ReadInt();
    TogglePort();
    FlushMessages();
}

TEST(InProcessTester, ShowsItsFontsAndHelpAndHoldsNoMoreAfterThousandsOfTogglesAndCycles)
{
    ASSERT_TRUE(CouplerAttach() && CouplerReset() && CouplerPortPresent(4, true)) << "run through scripts/test";
    // The platform keeps objects of its own from the first start, open and
    // paint on: measure from a second start.
    ASSERT_TRUE(TesterBegin(GetModuleHandleA(0)));
    FlushMessages();
    Cycle();
    TesterEnd();
    const Footprint before = Measure();
    ASSERT_TRUE(TesterBegin(GetModuleHandleA(0)));

    HWND editor = GetControlHandle(expected::EDITOR);
    DWORD caret = 1;
    SendMessageA(editor, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
    EXPECT_EQ(Pair(SendMessageA(editor, EM_GETFIRSTVISIBLELINE, 0, 0), caret), Pair(0, 0)) << "first line shown, caret";
    // In Arial's metrics (or a face made with them) the seven lines fit.
    int scrollBars = 0;
    for (LONG bar : {OBJID_HSCROLL, OBJID_VSCROLL}) {
        SCROLLBARINFO info = {};
        info.cbSize = sizeof info;
        scrollBars += GetScrollBarInfo(editor, bar, &info) && !(info.rgstate[0] & STATE_SYSTEM_INVISIBLE);
    }
    EXPECT_EQ(scrollBars, 0) << "scroll bars shown on the help";
    for (const expected::Control& c : expected::CONTROLS) {
        LOGFONTA font = {};
        HGDIOBJ used = reinterpret_cast<HGDIOBJ>(SendMessageA(GetControlHandle(c.number), WM_GETFONT, 0, 0));
        if (!c.points || !GetObjectA(used, sizeof font, &font))
            continue;
        EXPECT_STREQ(font.lfFaceName, "Arial") << c.number;
        EXPECT_EQ(font.lfHeight, -MulDiv(c.points, 96, 72)) << c.number;   // points at 96 dots per inch
        EXPECT_EQ(font.lfWeight, c.bold ? 700 : 400) << c.number;
    }
    HFONT fonts[6];
    std::copy(Tester().fonts + 1, Tester().fonts + 7, fonts);

    lineSwitches.clear();
    TogglePort();
    ASSERT_GT(Tester().portHandle, 0);
    EXPECT_EQ(Tester().portSettings, "com4:9600,n,8,1");
    EXPECT_EQ(lineSwitches, (std::vector<DWORD>{SETDTR, SETRTS})) << "the open raises DTR (5), then RTS (3)";
    FlushMessages();
    const Footprint first = Measure();
    // Every recolouring replaces the field's brush: the old one is deleted.
    HGDIOBJ earlier = FieldBrush(13);
    ToggleSda();
    EXPECT_EQ(GetObjectType(earlier), 0u) << "the field kept its old brush";
    for (int i = 0, toggles = Setting("RESOURCE_TOGGLES", 5000); i < toggles; ++i) {
        (i % 2 ? ToggleScl : ToggleSda)();
        if (i % 100 == 99) {
            ReadSda();
            ReadInt();
            FlushMessages();   // the fields repaint with their current brushes
        }
    }
    // A brush kept per recolouring would grow the GDI count by thousands.
    FlushMessages();
    ExpectNoGrowth(first, Measure());
    TogglePort();
    for (int i = 0, cycles = Setting("RESOURCE_CYCLES", 1000); i < cycles; ++i)
        Cycle();
    TogglePort();
    ASSERT_GT(Tester().portHandle, 0) << "the port still opens after the cycles";
    FlushMessages();
    ExpectNoGrowth(first, Measure());
    EXPECT_EQ(ControlColourCount(), 8u) << "four fields and four labels, one record each";

    // The shutdown gives back every window, font, brush and heap.
    HWND window = GetParent(GetControlHandle(0));
    HGDIOBJ brushes[] = {reinterpret_cast<HGDIOBJ>(GetClassLongPtrA(window, GCLP_HBRBACKGROUND)),
                         reinterpret_cast<HGDIOBJ>(GetClassLongPtrA(GetControlHandle(0), GCLP_HBRBACKGROUND)),
                         FieldBrush(13), FieldBrush(16), FieldBrush(1), FieldBrush(5)};
    TesterEnd();
    const Footprint after = Measure();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_LE(after.gdi, before.gdi + 2);
    for (HGDIOBJ object : brushes)
        EXPECT_EQ(GetObjectType(object), 0u);
    for (HFONT font : fonts)
        EXPECT_EQ(GetObjectType(font), 0u);
    EXPECT_EQ(RuntimeHeap(), nullptr);
    EXPECT_EQ(ListHeap(), nullptr);
    CouplerReset();
}

}  // namespace
