// The latency timer of a USB serial adapter that has one (FTDI chips): the
// adapter sends the modem status with its next packet, so DSR comes up to
// this many milliseconds late (16 by default). Linux shows the timer in sysfs
// as the usb-serial device's latency_timer; it can be set to 1 ms for a job
// and put back afterwards.
#pragma once

#include <limits.h>

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

// One adapter's timer. saved is the value to put back, -1 when nothing was changed.
struct LatencyTimer {
    char path[PATH_MAX] = "";
    int saved = -1;
};

// Finds the timer of the adapter behind the device (a path such as
// /dev/ttyUSB0 or a /dev/serial/by-id/ link) below the sysfs folder (/sys);
// false when the adapter has none.
bool LatencyTimerFind(const char* sysfs, const char* device, LatencyTimer* timer);
// The timer in ms; -1 when it cannot be read.
int LatencyTimerRead(const LatencyTimer* timer);
// Sets it to ms, keeping the old value to put back; false when the file
// cannot be written (it usually needs root, or a udev rule).
bool LatencyTimerSet(LatencyTimer* timer, int ms);
// Puts the old value back; safe to call twice and when nothing was set.
bool LatencyTimerRestore(LatencyTimer* timer);
