// The coupler's port as the console programs name, open, list and close it:
// COMn through the serial layer on Windows, a device path through
// line/posix_lines.h elsewhere (console/port_win.cpp, console/port_posix.cpp).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "line/lines.h"

// How the port is written in the usage: "COMn", or "GERÄT" (a device path).
extern const char* const PORT_WORD;
// The usage's lines for it and for --list.
extern const char* const PORT_USAGE;
extern const char* const PORT_LIST_USAGE;

// A port word on the command line: 1 with *port set (Windows: "COM3" also for
// "com3:"), 0 when the word is no port word, -1 with the reason in error
// when it names no port or a second one, or, natively, is a COMn.
int PortArgument(const char* word, std::string* port, char* error, int size);

// An open port; owned by the caller from PortOpen to PortClose.
struct ConsolePort;
// Why a port did not open, in words after its name ("gibt es nicht", "ist
// belegt: ..."); certain when the platform told the cause, not a guess.
struct PortError {
    std::string words;
    bool certain;
};
// Opens the port at baud, 8N1, without handshake, as the tester does; its
// lines untouched. nullptr with the reason in error.
ConsolePort* PortOpen(const std::string& name, int baud, int queueSize, PortError* error);
// What of its settings the open port did not take (bits: 1 baud rate, 2 data
// format, 4 handshake; RefusedSettings words them); -1 when it cannot be asked.
int32_t PortMismatch(ConsolePort* port);
// The port's line access for the engine.
LinePort PortLines(ConsolePort* port);
// Closes the port and resets the pointer; puts back a latency timer that
// PortLowLatency set. Safe to call twice.
void PortClose(ConsolePort** port);

// A USB adapter that has a latency timer (FTDI chips) sends the modem status
// with its next packet: DSR comes up to the timer's period late.
// One line saying what to change and where, for a status echoMs late;
// *known tells whether the adapter is known to have such a timer.
std::string PortLatencyHint(ConsolePort* port, double echoMs, bool* known);
// Sets the adapter's timer to 1 ms until the port closes; false with why in
// words where that cannot be done here.
bool PortLowLatency(ConsolePort* port, std::string* why);

// The lines of --list: each port, a busy one marked "(belegt)" (natively with
// who holds it); one line saying so when there is none. Windows opens COM1 to
// COM20 briefly and ignores the folders; natively no port is opened: sysfs
// (/sys) tells which are hardware, /proc who holds them, and devices (/dev)
// where they are.
std::vector<std::string> PortList(const char* devices, const char* sysfs);
