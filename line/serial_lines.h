// A Windows serial port as the coupler's line port: DTR and RTS switched with
// EscapeCommFunction, DSR and CTS read with GetCommModemStatus, through the
// serial layer, one platform call per request.
#pragma once

#include <stdint.h>

#include "line/lines.h"

// The port's line access. Owned by whoever opened it; the handle stays the
// caller's and is closed by it after SerialLinesClose.
struct SerialLines {
    int32_t handle;
    bool fineTimer;  // the system timer is held at 1 ms for this port's jobs
};

// Makes port the line access of the open handle. While it is open, waits keep
// their length: Windows otherwise sleeps to its 15.6 ms tick, which would
// stretch every sample behind a late adapter.
LinePort SerialLinesOpen(SerialLines* serial, int32_t handle);
// Gives the timer back; safe to call twice.
void SerialLinesClose(SerialLines* serial);
