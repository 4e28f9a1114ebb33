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

// The word in the port's place (the first word that is no option): true
// with *port set. Windows: COM1 to COM255, "COM3" also for "com3:".
// Natively: a path as written, a bare name under /dev ("ttyUSB0" is
// "/dev/ttyUSB0"). False with the reason in error when it names no port.
bool PortArgument(const char* word, std::string* port, char* error, int size);
// Whether a word elsewhere is written as a port (COMn; natively a path under
// /dev/): a second port where the program takes no other word.
bool PortLike(const char* word);

#ifndef _WIN32
// What the device node and the user's groups say about an open refused for
// want of permission.
struct PortAccess {
    uint32_t mode;      // the node's permission bits (0620)
    const char* group;  // the node's group's name
    bool rootGroup;     // that group is root's (number 0): no user belongs in it
    bool owner;         // the user owns the node
    bool member;        // the user's process is in the group now
    bool listed;        // the group lists the user (from the next login on)
};
// The words after "darf nicht geöffnet werden: ": what to do, and by whom.
std::string PortDeniedAdvice(const PortAccess& access, const std::string& path);
#endif

// An open port; owned by the caller from PortOpen to PortClose.
struct ConsolePort;
// Why a port did not open, in words after its name ("gibt es nicht", "ist
// belegt: ..."); certain when the platform told the cause, not a guess;
// code the same as a word for scripts (JobErrorCode).
struct PortError {
    std::string words;
    bool certain;
    const char* code;
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

// Where the open port is an FTDI chip's (natively: its USB device in sysfs),
// a line offering --ftdi with the chip's serial number; "" elsewhere.
std::string PortFtdiOffer(ConsolePort* port);

// A USB adapter that has a latency timer (FTDI chips) sends the modem status
// with its next packet: DSR comes up to the timer's period late.
// One line saying what to change and where, for a status echoMs late;
// *known tells whether the adapter is known to have such a timer.
std::string PortLatencyHint(ConsolePort* port, double echoMs, bool* known);
// Sets the adapter's timer to 1 ms until the port closes; false with why in
// words where that cannot be done here.
bool PortLowLatency(ConsolePort* port, std::string* why);

// A port --list found: its path, its other names (natively the links in
// /dev/serial/by-id), whether another program holds it and, where the
// platform tells, which (pid 0 and no program: not known).
struct PortFound {
    std::string path;
    std::vector<std::string> names;
    bool busy = false;
    int64_t holderPid = 0;
    std::string holderProgram;
    bool ftdi = false;       // an FTDI chip's port (natively: its USB device's vendor 0403)
    std::string ftdiSerial;  // that chip's serial number, for --ftdi ("" not known)
};
// The ports for --list. Windows opens COM1 to COM20 briefly and ignores the
// folders; natively no port is opened: sysfs (/sys) tells which are
// hardware, /proc who holds them, and devices (/dev) where they are.
std::vector<PortFound> PortList(const char* devices, const char* sysfs);
// The lines of --list: each port, a busy one marked "(belegt)" (with who
// holds it where known); one line saying so when there is none.
std::vector<std::string> PortListLines(const std::vector<PortFound>& ports, const char* devices);
