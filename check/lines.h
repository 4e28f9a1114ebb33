// The coupler's lines through checked calls. The first call that fails marks
// the port lost, and a stop request (Ctrl+C, the console closed) counts the
// same way: from then on every call fails at once, so that a step ends
// without trusting a reading it did not get.
#pragma once

#include <stdint.h>

enum Output { SDA_OUT, SCL_OUT };             // DTR, RTS
enum Input { SDA_IN = 0x20, INT_IN = 0x10 };  // DSR, CTS in the modem-status word

// The open port the calls work on; clears a loss from an earlier port.
void LinesUse(int32_t port);
// Switches the line; false when the port is lost or a stop was requested.
bool Switch(Output line, int on);
// The input's level, 1 or 0; -1 when the port is lost or a stop was requested.
int Sample(Input line);
// Polls the input until it reads want. The time, taken before the sample that
// saw it, in ms from the call; the first sample taken at or after limit
// decides, so a time above limit comes back when that one saw it. -1 when it
// did not, -2 when the port is lost or a stop was requested.
double WaitLevel(Input line, int want, double limit);
// True once a line call failed on the port.
bool LinesLost();

// From any thread: the run stops at its next line call.
void LinesRequestStop();
bool LinesStopRequested();

// A monotonic clock in milliseconds.
double Milliseconds();
