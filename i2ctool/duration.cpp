#include "i2ctool/duration.h"

#include <stdint.h>
#include <stdio.h>

std::string DurationWords(double ms)
{
    int64_t seconds = ms > 0 ? static_cast<int64_t>(ms / 1000 + 0.5) : 0;
    char text[48];
    if (seconds < 60) {
        snprintf(text, sizeof text, "%d s", static_cast<int>(seconds));
    } else if (seconds < 3600) {
        int minutes = static_cast<int>(seconds / 60), rest = static_cast<int>(seconds % 60);
        snprintf(text, sizeof text, rest ? "%d min %d s" : "%d min", minutes, rest);
    } else {
        int64_t minutes = (seconds + 30) / 60;
        int hours = static_cast<int>(minutes / 60), rest = static_cast<int>(minutes % 60);
        snprintf(text, sizeof text, rest ? "%d h %d min" : "%d h", hours, rest);
    }
    return text;
}
