// Numbered top-level windows, the toolkit window procedure and the event loop.
#include "toolkit/window.h"

#include <stdio.h>
#include <string.h>

namespace {

struct WindowRecord {
    uint32_t handle;            // native window handle; 0 = no window under the number
    int32_t acceleratorCount;   // entries in acceleratorBlock; 0 = no block
    ACCEL* acceleratorBlock;    // in the runtime heap, freed when the window closes
    HACCEL acceleratorTable;    // made from the block, destroyed when the window closes
};

// Window table and the numberless windows; created by InitWindowModule, its
// block lives in the runtime heap.
ObjectTable windowTable = {};

// Event raised by the toolkit window procedure during a dispatch; returned and
// cleared by WaitEvent, dropped by FlushMessages. 0 = none. Last writer wins.
int32_t pendingEvent = 0;

// Number of the control of the most recent EV_CONTROL (or command of EV_MENU);
// kept until the next such event.
int32_t eventControl = 0;

// The application's hook into the window procedure, or none.
WindowCallback windowCallback = 0;

// The window most recently opened; closing a window does not change it.
HWND currentWindow = 0;

// Template class description, registered under "TemplateClass" at start and
// then under each window's own class name.
WNDCLASSA templateClass = {};
bool templateRegistered = false;

// Per-window class names are built here, rebuilt before each use.
char classNameBuffer[32];

// Asks the registered procedure for default processing; never seen outside.
constexpr LRESULT PROC_UNHANDLED = static_cast<LRESULT>(0xD0D0D0D1u);

const char* BuildClassName(int32_t number)
{
    snprintf(classNameBuffer, sizeof classNameBuffer, "WindowClass_%ld", static_cast<long>(number));
    return classNameBuffer;
}

HWND RecordWindow(const WindowRecord* record)
{
    return static_cast<HWND>(NativeHandle(record->handle));
}

WindowRecord* LookupWindow(int32_t number)
{
    return static_cast<WindowRecord*>(RegistryLookup(&windowTable, number));
}

// Gives a window its Tab / Shift+Tab accelerators. Without memory the window
// simply has none.
void AttachAccelerators(WindowRecord* record)
{
    ACCEL* block = static_cast<ACCEL*>(HeapAlloc(RuntimeHeap(), HEAP_ZERO_MEMORY, 2 * sizeof(ACCEL)));
    if (!block)
        return;
    block[0].fVirt = FVIRTKEY | FNOINVERT;
    block[0].key = VK_TAB;
    block[0].cmd = CMD_FOCUS_NEXT;
    block[1].fVirt = FVIRTKEY | FNOINVERT | FSHIFT;
    block[1].key = VK_TAB;
    block[1].cmd = CMD_FOCUS_PREVIOUS;
    record->acceleratorBlock = block;
    record->acceleratorCount = 2;
    record->acceleratorTable = CreateAcceleratorTableA(block, 2);
}

void ReleaseAccelerators(WindowRecord* record)
{
    if (record->acceleratorCount != 0) {
        HeapFree(RuntimeHeap(), 0, record->acceleratorBlock);
        if (record->acceleratorTable)
            DestroyAcceleratorTable(record->acceleratorTable);
    }
    record->acceleratorBlock = 0;
    record->acceleratorTable = 0;
    record->acceleratorCount = 0;
}

// The accelerator table for the active window, or 0. A plain Tab in a rich
// edit control is left alone so that the editor receives it.
HACCEL AcceleratorsFor(HWND active)
{
    if (!active)
        return 0;
    bool tabDown = GetKeyState(VK_TAB) & 0x8000;
    bool modifierDown = (GetKeyState(VK_CONTROL) & 0x8000) || (GetKeyState(VK_SHIFT) & 0x8000) ||
                        (GetKeyState(VK_MENU) & 0x8000);
    if (tabDown && !modifierDown) {
        char className[5] = "";
        HWND focus = GetFocus();
        if (focus && GetClassNameA(focus, className, sizeof className) > 0 &&
            strncmp(className, "Rich", 4) == 0)
            return 0;
    }
    for (int32_t id = ListFirst(&windowTable.list); id; id = ListNext(id)) {
        WindowRecord* record = static_cast<WindowRecord*>(ListRecord(id));
        if (RecordWindow(record) == active)
            return record->acceleratorTable;
    }
    for (int32_t number = 0; number < windowTable.nominalSize; ++number) {
        WindowRecord* record = LookupWindow(number);
        if (record && RecordWindow(record) == active)
            return record->acceleratorTable;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Focus movement over the tab stops of the active window, in the order of
// EnumChildWindows (each child, then its descendants).

bool IsTabStop(HWND window)
{
    return IsWindowEnabled(window) && IsWindowVisible(window) &&
           (GetWindowLongA(window, GWL_STYLE) & WS_TABSTOP);
}

struct FocusWalk {
    HWND focused;      // the focused descendant, or 0
    bool forward;
    bool metFocused;
    HWND first;        // first tab stop seen
    HWND last;         // last tab stop seen (before the focused one, going back)
    HWND target;       // the window to focus, once found
};

BOOL CALLBACK VisitTabStop(HWND window, LPARAM param)
{
    FocusWalk* walk = reinterpret_cast<FocusWalk*>(param);
    if (!IsTabStop(window))
        return TRUE;
    if (!walk->first)
        walk->first = window;
    if (walk->forward) {
        if (walk->metFocused) {
            walk->target = window;
            return FALSE;
        }
        if (window == walk->focused)
            walk->metFocused = true;
    } else {
        if (window == walk->focused && walk->last) {
            walk->target = walk->last;
            return FALSE;
        }
        walk->last = window;
    }
    return TRUE;
}

void MoveFocus(bool forward)
{
    HWND active = GetActiveWindow();
    if (!active)
        return;
    HWND focus = GetFocus();
    FocusWalk walk = {};
    walk.focused = (focus && IsChild(active, focus)) ? focus : 0;
    walk.forward = forward;
    EnumChildWindows(active, VisitTabStop, reinterpret_cast<LPARAM>(&walk));
    HWND target = walk.target;
    if (!target) {
        if (forward)
            // No focus: the first tab stop; focus on the last one: wrap around.
            // A focused window that is not a tab stop changes nothing.
            target = (!walk.focused || walk.metFocused) ? walk.first : 0;
        else
            target = walk.last;   // wrap-around, or no focus: the last tab stop
    }
    if (target)
        SetFocus(target);
}

// Turns a message into an event. Returns the answer, or PROC_UNHANDLED for
// default processing.
LRESULT TranslateToEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (lParam != 0) {   // from a control: any notification counts
            pendingEvent = EV_CONTROL;
            eventControl = static_cast<int32_t>(GetWindowLongA(reinterpret_cast<HWND>(lParam), GWL_ID));
        } else if (HIWORD(wParam) != 0 && LOWORD(wParam) == CMD_FOCUS_NEXT) {
            FocusNextControl();
        } else if (HIWORD(wParam) != 0 && LOWORD(wParam) == CMD_FOCUS_PREVIOUS) {
            FocusPreviousControl();
        } else {
            pendingEvent = EV_MENU;
            eventControl = LOWORD(wParam);
        }
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
        pendingEvent = EV_CONTROL;
        eventControl = static_cast<int32_t>(GetWindowLongA(reinterpret_cast<HWND>(lParam), GWL_ID));
        return 0;
    case WM_CLOSE:         // closing is the application's decision
        pendingEvent = EV_CLOSE_REQUEST;
        return 0;
    case WM_MOVE:
        pendingEvent = EV_MOVED;
        return 0;
    case WM_SIZE:
        pendingEvent = EV_RESIZED;
        return 0;
    case WM_NOTIFY:        // none of the toolkit's controls reports through it
        return 0;
    default:
        (void)window;
        return PROC_UNHANDLED;
    }
}

}  // namespace

// ---------------------------------------------------------------------------

DWORD WindowStyleFromFlags(uint32_t flags, int* placement)
{
    // Placement bits leave the style; centring on the active window wins.
    *placement = 0;
    if (flags & WF_CENTER_SCREEN)
        *placement = 1;
    if (flags & WF_CENTER_ACTIVE)
        *placement = 2;
    DWORD style = flags & ~(WF_CENTER_SCREEN | WF_CENTER_ACTIVE);
    if ((style & ~WF_HIDDEN) == 0)
        style |= WS_CAPTION;
    // WF_HIDDEN is WS_VISIBLE with the meaning inverted.
    if (style & WF_HIDDEN)
        style &= ~WS_VISIBLE;
    else
        style |= WS_VISIBLE;
    return style;
}

int32_t CentreOnScreen(int32_t screenExtent, int32_t outerExtent)
{
    if (outerExtent > screenExtent)
        outerExtent = screenExtent;
    return (screenExtent >> 1) - (outerExtent >> 1);
}

int32_t CentreOnWindow(int32_t ownerStart, int32_t ownerEnd, int32_t outerExtent)
{
    int32_t position = ownerStart - (outerExtent >> 1) + ((ownerEnd - ownerStart) >> 1);
    return position < 0 ? 0 : position;
}

bool InitWindowModule()
{
    pendingEvent = 0;
    eventControl = 0;
    windowCallback = 0;
    currentWindow = 0;
    if (!TableCreate(&windowTable, 10, sizeof(WindowRecord)))
        return false;

    templateClass = WNDCLASSA{};
    templateClass.style = CS_DBLCLKS;
    templateClass.lpfnWndProc = ToolkitWindowProc;
    templateClass.hInstance = ToolkitInstance();
    templateClass.hIcon = LoadIconA(ToolkitInstance(), MAKEINTRESOURCEA(1));
    templateClass.hCursor = LoadCursorA(0, IDC_ARROW);
    templateClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    templateClass.lpszClassName = "TemplateClass";
    templateRegistered = RegisterClassA(&templateClass) != 0;
    templateClass.lpszClassName = classNameBuffer;
    return true;
}

void ShutdownWindowModule()
{
    CloseAllWindows();
    if (templateRegistered)
        UnregisterClassA("TemplateClass", ToolkitInstance());
    templateRegistered = false;
    TableForget(&windowTable);
    windowCallback = 0;
    pendingEvent = 0;
    currentWindow = 0;
}

int32_t CreateNumberedWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                             uint32_t flags, const char* title)
{
    return CreateNumberedWindowEx(number, x, y, width, height, flags, title, 0);
}

int32_t CreateNumberedWindowEx(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                               uint32_t flags, const char* title, HWND owner)
{
    // Reuse: whatever is open under the number goes first.
    if (number != ANY_NUMBER)
        CloseNumberedWindow(number);
    int32_t used = 0;
    WindowRecord* record = static_cast<WindowRecord*>(RegistryObtain(&windowTable, number, &used));
    if (!record)
        return 0;

    // Every window has a class of its own, so that a class-wide change (the
    // background brush) affects that window only. A failed registration is
    // harmless: an identical class of that name already exists.
    BuildClassName(used);
    RegisterClassA(&templateClass);

    int placement = 0;
    DWORD style = WindowStyleFromFlags(flags, &placement);
    bool visible = (style & WS_VISIBLE) != 0;

    RECT outer = {x, y, x + width, y + height};
    AdjustWindowRect(&outer, style, FALSE);
    int32_t outerWidth = outer.right - outer.left;
    int32_t outerHeight = outer.bottom - outer.top;

    HWND active = placement == 2 ? GetActiveWindow() : 0;
    if (placement == 2 && !active)
        placement = 1;
    if (placement == 1) {
        x = CentreOnScreen(GetSystemMetrics(SM_CXSCREEN), outerWidth);
        y = CentreOnScreen(GetSystemMetrics(SM_CYSCREEN), outerHeight);
    } else if (placement == 2) {
        RECT r;
        GetWindowRect(active, &r);
        x = CentreOnWindow(r.left, r.right, outerWidth);
        y = CentreOnWindow(r.top, r.bottom, outerHeight);
    }

    HWND window = CreateWindowExA(0, classNameBuffer, title, style, x, y, outerWidth, outerHeight,
                                  owner, 0, ToolkitInstance(), 0);
    // The window callback runs during the creation and may create windows of
    // its own: the table can have grown and moved. A numberless record never
    // moves; a numbered one is taken again (the number is already in range).
    if (number != ANY_NUMBER)
        record = static_cast<WindowRecord*>(RegistryObtain(&windowTable, used, 0));
    record->handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    if (!window) {
        // The number stays empty; a numberless record is not kept.
        RegistryRelease(&windowTable, used);
        return 0;
    }
    currentWindow = window;
    AttachAccelerators(record);
    // Last: showing sends messages, after which the record may have moved.
    if (visible && (style & WS_MAXIMIZE))
        ShowWindow(window, SW_MAXIMIZE);
    return number == ANY_NUMBER ? used : static_cast<int32_t>(reinterpret_cast<intptr_t>(window));
}

HWND GetCurrentWindowHandle() { return currentWindow; }

HWND GetNumberedWindowHandle(int32_t number)
{
    WindowRecord* record = LookupWindow(number);
    return record ? RecordWindow(record) : 0;
}

void SetWindowCallback(WindowCallback callback) { windowCallback = callback; }

int32_t GetEventControl() { return eventControl; }

int32_t WaitEvent()
{
    MSG message;
    BOOL got = GetMessageA(&message, 0, 0, 0);
    if (got == -1) {
        // The queue could not be read: report nothing and do not dispatch the
        // untouched record. The short pause keeps a failing queue from
        // turning the caller's loop into a busy spin.
        Sleep(10);
        int32_t event = pendingEvent;
        pendingEvent = 0;
        return event ? event : 0;
    }
    HWND active = GetActiveWindow();
    HACCEL table = AcceleratorsFor(active);
    if (!(table && TranslateAcceleratorA(active, table, &message))) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    int32_t event = pendingEvent ? pendingEvent : static_cast<int32_t>(message.message);
    pendingEvent = 0;
    return event;
}

void FlushMessages()
{
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    pendingEvent = 0;
}

void CloseNumberedWindow(int32_t number)
{
    WindowRecord* record = LookupWindow(number);
    if (!record)
        return;
    HWND window = RecordWindow(record);
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner)
        SetActiveWindow(owner);
    DestroyWindow(window);
    // Destroying the window may have grown no table, but re-read the record:
    // messages sent during destruction can create objects.
    record = static_cast<WindowRecord*>(RegistryLookup(&windowTable, number));
    UnregisterClassA(BuildClassName(number), ToolkitInstance());
    if (record) {
        ReleaseAccelerators(record);
        RegistryRelease(&windowTable, number);
    }
}

void CloseAllWindows()
{
    if (!windowTable.block)
        return;
    for (int32_t id = ListFirst(&windowTable.list); id;) {
        int32_t next = ListNext(id);
        CloseNumberedWindow(id);
        id = next;
    }
    for (int32_t number = windowTable.nominalSize - 1; number >= 0; --number)
        CloseNumberedWindow(number);
}

void FocusNextControl() { MoveFocus(true); }
void FocusPreviousControl() { MoveFocus(false); }

LRESULT CALLBACK ToolkitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (windowCallback) {
        LRESULT answer = windowCallback(window, message, wParam, lParam);
        if (answer != CALLBACK_DEFAULT)
            return answer;
    }
    LRESULT answer = TranslateToEvent(window, message, wParam, lParam);
    if (answer == PROC_UNHANDLED)
        return DefWindowProcA(window, message, wParam, lParam);
    return answer;
}
