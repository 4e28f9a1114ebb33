// A time as a technician reads it in an estimate or the time left.
#pragma once

#include <string>

// "1 h 49 min" from an hour on, "6 min 20 s" from a minute on, else "45 s";
// rounded to the last unit shown, a zero last unit left out ("2 h").
std::string DurationWords(double ms);
