// The container (a plain child window that groups controls and passes their
// commands on to the top-level window) and the editor (a multi-line rich edit
// control filled line by line). Both are numbered controls: the common control
// operations of toolkit/controls.h reach them.
#pragma once

#include <windows.h>
#include <stdint.h>

// Window class shared by every container; registered on the first creation.
constexpr const char* CONTAINER_CLASS_NAME = "NoltContainer";

// Container flags: only the first of these found, in this order, counts.
constexpr uint32_t CONTAINER_BORDER = 0x1;        // WS_BORDER
constexpr uint32_t CONTAINER_DLGFRAME = 0x2;      // WS_DLGFRAME
constexpr uint32_t CONTAINER_STATICEDGE = 0x4;    // WS_EX_STATICEDGE
constexpr uint32_t CONTAINER_CLIENTEDGE = 0x8;    // WS_EX_CLIENTEDGE

// The editor's window property: non-zero when it holds a line although its
// text may be empty.
constexpr const char* EDITOR_FILLED_PROPERTY = "nl_filled";

// Creates a container in the current parent and makes it the current parent
// until CloseControlList. Result: the native handle, or for ANY_NUMBER the
// number; 0 when the platform refused or 45 control lists are already open
// (then nothing changes).
int32_t CreateContainer(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        uint32_t flags = 0);

// Creates an editor in the current parent, then drains the message queue and
// drops any pending event. Result as for CreateContainer; 0 on failure.
int32_t CreateEditor(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height);
