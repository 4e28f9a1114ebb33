#include "line/latency.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

int ReadNumber(const char* path)
{
    FILE* file = fopen(path, "r");
    int value = -1;
    if (file && fscanf(file, "%d", &value) != 1)
        value = -1;
    if (file)
        fclose(file);
    return value;
}

bool WriteNumber(const char* path, int value)
{
    FILE* file = fopen(path, "w");
    bool written = file && fprintf(file, "%d\n", value) > 0;
    if (file && fclose(file) != 0)
        written = false;
    return written;
}

}  // namespace

bool LatencyTimerFind(const char* sysfs, const char* device, LatencyTimer* timer)
{
    timer->path[0] = 0;
    timer->saved = -1;
    // A by-id name is a link to the tty: its own name is what sysfs knows.
    char real[PATH_MAX];
    if (!realpath(device, real))
        return false;
    const char* name = strrchr(real, '/');
    name = name ? name + 1 : real;
    int length = snprintf(timer->path, sizeof timer->path, "%s/bus/usb-serial/devices/%s/latency_timer", sysfs, name);
    if (length < 0 || length >= static_cast<int>(sizeof timer->path) || access(timer->path, R_OK) != 0) {
        timer->path[0] = 0;
        return false;
    }
    return true;
}

int LatencyTimerRead(const LatencyTimer* timer) { return timer->path[0] ? ReadNumber(timer->path) : -1; }

bool LatencyTimerSet(LatencyTimer* timer, int ms)
{
    int old = LatencyTimerRead(timer);
    if (old < 0 || !WriteNumber(timer->path, ms))
        return false;
    if (timer->saved < 0)
        timer->saved = old;
    return true;
}

bool LatencyTimerRestore(LatencyTimer* timer)
{
    if (timer->saved < 0)
        return true;
    bool restored = WriteNumber(timer->path, timer->saved);
    timer->saved = -1;
    return restored;
}
