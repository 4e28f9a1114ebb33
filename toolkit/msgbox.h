// Message boxes that are modal for the whole calling thread.
#pragma once

#include <stdint.h>

// Shows the platform's message box (flags as its type) after disabling the
// calling thread's other visible, enabled top-level windows, and enables
// exactly those again once the box is closed. The owner is the foreground
// window if it belongs to this process, else none. Returns the button that
// closed the box (1 for OK), or 0 when the box could not be shown.
// Note the order: title first, then text.
int32_t ShowMessageBox(const char* title, const char* text, uint32_t flags);
// The same with a single OK button and no icon (flags 0).
int32_t ShowMessageBoxOk(const char* title, const char* text);

// Number of windows that boxes on the calling thread have disabled and not
// yet enabled again.
int32_t DisabledWindowCount();
