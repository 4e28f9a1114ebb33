// A POSIX serial port as the coupler's line port: DTR and RTS switched with
// one TIOCMBIS or TIOCMBIC each, DSR and CTS read with one TIOCMGET, on a
// device path (/dev/ttyUSB0, /dev/ttyACM0, /dev/ttyS0, /dev/serial/by-id/...).
//
// The port is opened non-blocking (a port without carrier would otherwise
// hold the open), without becoming the controlling terminal, exclusively
// (TIOCEXCL, and an advisory lock that other serial programs honour), raw at
// the baud rate, 8N1, local, without hardware handshake (the master owns RTS).
// The program's own terminal is refused before it is opened, a port whose
// lines cannot be read before anything on it changes.
// Close policy: the settings found at the open are put back and the
// exclusive mode cleared, except HUPCL, which stays on, so DTR and RTS drop
// when the port closes, as a Windows port's do; a coupler fed from the lines
// then sees the port closed.
#pragma once

#include <stdint.h>
#include <termios.h>

#include "line/lines.h"

enum PosixOpen {
    POSIX_OPENED,
    POSIX_MISSING,       // no such device (or it went away)
    POSIX_BUSY,          // another program holds it
    POSIX_DENIED,        // no permission: the user is not in the device's group
    POSIX_NOT_A_PORT,    // the path is no serial device
    POSIX_OWN_TERMINAL,  // the program's own terminal (controlling, or on standard input, output or error)
    POSIX_NO_LINES,      // a terminal without modem lines to read
    POSIX_FAILED         // anything else; errno tells
};

// The open port. Its owner closes it with PosixLinesClose.
struct PosixLines {
    int fd;
    termios found;   // the settings before the open, put back by the close
    bool restore;    // found is to be put back: the open changed the settings
    bool exclusive;  // the open set TIOCEXCL, the close clears it
};

// Opens and sets up the port; on POSIX_OPENED *mismatch holds what of the
// settings the port did not take (the serial layer's SETTINGS_* bits: 1 baud
// rate, 2 frame, 4 handshake), read back after setting them.
PosixOpen PosixLinesOpen(PosixLines* posix, const char* path, int baud, int32_t* mismatch);
// The port's line access.
LinePort PosixLinesPort(PosixLines* posix);
// Closes the port; safe to call twice.
void PosixLinesClose(PosixLines* posix);

// Which process holds the device, as "name (PID n)", where /proc tells;
// false when nothing that can be seen holds it.
bool PosixPortHolder(const char* path, char* text, int size);
