// Thread-modal message box: the disabled-window list and the box itself.
#include "toolkit/msgbox.h"

#include <windows.h>
#include <mutex>

#include "toolkit/registry.h"

namespace {

struct DisabledWindow {
    DWORD thread;   // thread whose box disabled the window; only it enables it again
    HWND window;
};

// Disabled-window list: windows disabled by boxes that are still up, newest
// first, tagged with the disabling thread. Nodes live in the list heap; every
// box removes its thread's entries when it closes.
ObjectList disabledWindows = {};

// Guards the list's links: boxes on different threads share the list. Never
// held while a box is up.
std::mutex disabledWindowsLock;

BOOL CALLBACK DisableThreadWindow(HWND window, LPARAM)
{
    DWORD thread = GetCurrentThreadId();
    if (GetWindowThreadProcessId(window, 0) != thread)
        return TRUE;
    if (!IsWindowVisible(window) || !IsWindowEnabled(window))
        return TRUE;
    // The foreground window stays enabled: it becomes the box's owner, and
    // the platform disables the owner itself.
    if (window == GetForegroundWindow())
        return TRUE;
    int32_t identity;
    {
        // The node is filled before the lock goes: another thread's box reads
        // the list and must never see a node without its thread and window.
        std::lock_guard<std::mutex> guard(disabledWindowsLock);
        identity = ListAdd(&disabledWindows, sizeof(DisabledWindow));
        if (identity) {
            DisabledWindow* entry = static_cast<DisabledWindow*>(ListRecord(identity));
            entry->thread = thread;
            entry->window = window;
        }
    }
    // A window that cannot be listed would never be enabled again: leave it.
    if (!identity)
        return TRUE;
    EnableWindow(window, FALSE);
    return TRUE;
}

// Takes the newest entry of the thread out of the list; 0 when none is left.
HWND TakeThreadWindow(DWORD thread)
{
    std::lock_guard<std::mutex> guard(disabledWindowsLock);
    for (int32_t identity = ListFirst(&disabledWindows); identity; identity = ListNext(identity)) {
        const DisabledWindow* entry = static_cast<const DisabledWindow*>(ListRecord(identity));
        if (entry->thread == thread) {
            HWND window = entry->window;
            ListRemove(&disabledWindows, identity);
            return window;
        }
    }
    return 0;
}

void EnableThreadWindows()
{
    // Enabling sends messages, so it happens outside the lock: a handler may
    // well show a box of its own.
    DWORD thread = GetCurrentThreadId();
    while (HWND window = TakeThreadWindow(thread))
        EnableWindow(window, TRUE);   // fails harmlessly for a window destroyed meanwhile
}

HWND ChooseOwner()
{
    HWND foreground = GetForegroundWindow();
    if (!foreground)
        return 0;
    DWORD process = 0;
    GetWindowThreadProcessId(foreground, &process);
    return process == GetCurrentProcessId() ? foreground : 0;
}

}  // namespace

int32_t ShowMessageBox(const char* title, const char* text, uint32_t flags)
{
    EnumWindows(DisableThreadWindow, 0);
    HWND owner = ChooseOwner();
    int32_t result = MessageBoxA(owner, text, title, flags);
    EnableThreadWindows();
    return result;
}

int32_t ShowMessageBoxOk(const char* title, const char* text)
{
    return ShowMessageBox(title, text, 0);
}

int32_t DisabledWindowCount()
{
    DWORD thread = GetCurrentThreadId();
    int32_t count = 0;
    std::lock_guard<std::mutex> guard(disabledWindowsLock);
    for (int32_t identity = ListFirst(&disabledWindows); identity; identity = ListNext(identity)) {
        if (static_cast<const DisabledWindow*>(ListRecord(identity))->thread == thread)
            ++count;
    }
    return count;
}
