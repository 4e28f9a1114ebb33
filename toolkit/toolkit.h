// The whole toolkit brought up and released in its fixed order.
#pragma once

#include <windows.h>

// Instance, runtime heap, list heap, font table, window module, control module
// (and the common controls), control lists, colour list. False when a table
// or heap could not be made; ToolkitStop still releases what was.
bool ToolkitStart(HINSTANCE instance);
// Colour brushes first, then every window (and with them every control), the
// fonts, the window and control modules, and the heaps last. Safe to call twice.
void ToolkitStop();
