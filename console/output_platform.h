// What console/output.cpp asks of the platform: the standard streams, their
// kind, and a millisecond clock. console/output_win.cpp and
// console/output_posix.cpp each provide it, with the keys of output.h.
#pragma once

#include <stdint.h>

#include <string>

enum OutputStream { STREAM_OUT, STREAM_ERR };

// Whether the stream is a console (Windows) or a terminal (POSIX).
bool OutputIsConsole(OutputStream stream);
// Writes the program's text whole, as the receiver reads it; console says
// what OutputIsConsole said at the start.
void OutputWrite(OutputStream stream, const std::string& text, bool console);
// A monotonic clock in milliseconds, wrapping at 2^32.
uint32_t OutputTicks();
// How many characters the program's text shows (UTF-8 takes several bytes
// for one).
size_t OutputWidth(const std::string& text);
// Text after this in the colour (colour < 0: as before), on a console only.
void OutputColour(OutputStream stream, int colour);
