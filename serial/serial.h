// Serial line access: opening and configuring a port from a port settings
// string, modem-control lines, queue counts and byte transfer.
//
// Stateless: every operation works on the handle it is given and reports only
// through its result (no message, no log, no kept error code). Port handles are
// the platform's file handles, compared as signed 32-bit values: -1 means the
// port did not open, every open port's handle is greater than zero.
#pragma once

#include <stdint.h>

// Opens the port named in settings ("com3:9600,n,8,1": the name is what stands
// before ':'), sets the driver queue sizes when both are greater than zero,
// applies the line parameters of the string, the handshake mode (0 none, 1 RTS
// held on, 2 RTS/CTS, 3 XON/XOFF, other: unchanged) and the read time-outs.
// Returns the handle, also when a configuration step failed, or -1.
int32_t SerialOpen(const char* settings, int32_t handshake, int32_t inputQueueSize,
                   int32_t outputQueueSize);
// Closes the handle; non-zero on success.
int32_t SerialClose(int32_t handle);

// Line state 0 clears the line, every other value sets it. Non-zero on success.
int32_t SerialSetDtr(int32_t handle, int32_t state);
int32_t SerialSetRts(int32_t handle, int32_t state);

// 1 when the input line is on, 0 when it is off or the port cannot be asked.
// The tester takes such a 0 as the line being off; a caller that must tell a
// failed sample from a line that is off asks SerialModemStatus instead.
int32_t SerialGetCts(int32_t handle);
int32_t SerialGetDsr(int32_t handle);
int32_t SerialGetDcd(int32_t handle);

// The modem-status word (MS_CTS_ON 0x10, MS_DSR_ON 0x20, MS_RING_ON 0x40,
// MS_RLSD_ON 0x80), or -1 when the port cannot be asked (adapter pulled,
// handle closed).
int32_t SerialModemStatus(int32_t handle);

// What of the settings string and handshake mode the open port does not hold:
// 0 when it holds them all, else SETTINGS_* bits; -1 when the port cannot be
// asked. SerialOpen returns the handle even when the port refused part of its
// configuration (a baud rate the adapter cannot do); this is how to find out.
enum SettingsMismatch {
    SETTINGS_BAUD = 1,       // baud rate
    SETTINGS_FRAME = 2,      // data bits, parity or stop bits
    SETTINGS_HANDSHAKE = 4,  // flow control on a line the caller switches
};
int32_t SerialSettingsMismatch(int32_t handle, const char* settings, int32_t handshake);

// Bytes waiting in the driver's input / output queue; 0 when the port cannot be
// asked. Asking also clears the port's pending line error.
uint32_t SerialInputCount(int32_t handle);
uint32_t SerialOutputCount(int32_t handle);

// Synchronous transfers; the result is the platform's success flag. A read that
// ends by time-out succeeds too and writes the buffer only as far as bytes came.
int32_t SerialWriteString(int32_t handle, const char* text);
int32_t SerialWriteBlock(int32_t handle, const void* buffer, uint32_t count);
int32_t SerialReadByte(int32_t handle, void* buffer);
int32_t SerialReadBytes(int32_t handle, void* buffer, uint32_t count);
int32_t SerialReadBlock(int32_t handle, void* buffer, uint32_t count);
