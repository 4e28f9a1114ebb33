// A line port on an FTDI chip's UART pins in synchronous bit-bang mode: every
// byte written sets the output pins for one pin period, and for every byte
// the chip returns the pins as they were just before it (one byte behind). A
// whole planned run of steps (line/batch.h) is then one write and one read
// per receive buffer's worth, instead of one USB round trip per request.
//
// The chip is reached through FtdiApi, a few calls in the library's terms:
// libftdi1 on Linux, FTDI's D2XX DLL on Windows (line/ftdi_load.h), or the
// chip's model in the suites and the bench.
#pragma once

#include <stdint.h>

#include "line/lines.h"

// The coupler's lines on the chip's pins, in one place. The UART's pins are
// active low on the chip (RTS#, DTR#, ...), and the RS232 transceiver between
// chip and connector inverts again: a line on (SDA or SCL high, DSR on) is
// the pin low. TXD is driven at its idle level so the transceiver's output
// rests as it does between characters.
struct FtdiPin {
    uint8_t bit;      // D0..D7
    int32_t line;     // LineOutput for outputs, LineInput bits for inputs; -1 TXD
    bool output;
    bool inverted;    // the line's level is the pin's inverse
};
constexpr FtdiPin FTDI_PINS[] = {
    {0, -1, true, false},            // TXD, held high (the UART's idle level)
    {2, LINE_SCL_OUT, true, true},   // RTS#: SCL
    {3, LINE_INT_IN, false, true},   // CTS#: INT (on while INT is at ground)
    {4, LINE_SDA_OUT, true, true},   // DTR#: SDA out
    {5, LINE_SDA_IN, false, true},   // DSR#: SDA on the wire
};

// The output byte for SDA and SCL at these levels; the direction mask; the
// status word (LineInput bits) from a byte of pins read.
uint8_t FtdiPinsOut(int sda, int scl);
uint8_t FtdiPinMask();
int32_t FtdiPinsStatus(uint8_t pins);

// The library's calls the port uses, on its own data.
struct FtdiApi {
    void* data;
    // Opens the chip named by serial number, or by index ("0", "1", ...).
    bool (*open)(void* data, const char* which);
    // mode 0 resets to the UART, 4 is synchronous bit-bang; mask: outputs 1.
    bool (*setBitMode)(void* data, uint8_t mask, uint8_t mode);
    bool (*setBaudRate)(void* data, int32_t baud);
    bool (*setLatency)(void* data, uint8_t ms);
    // Bytes taken or read, -1 on failure; a read waits for count bytes.
    int32_t (*write)(void* data, const uint8_t* bytes, int32_t count);
    int32_t (*read)(void* data, uint8_t* bytes, int32_t count);
    void (*close)(void* data);
    // The clock the port's time is told on, and a wait on it.
    double (*now)(void* data);
    void (*waitUntil)(void* data, double ms);
};

// The chip's figures the port relies on (FT232R): its receive buffer, which
// the readings fill, and the baud rate generator's pin clock.
constexpr int32_t FTDI_RECEIVE_BUFFER = 128;
constexpr double FTDI_BASE_HZ = 3000000;    // the generator: 3 MHz / divisor
constexpr int32_t FTDI_PIN_CLOCK_PER_BAUD = 16;  // pin steps per second = 16 x baud in bit-bang mode
constexpr uint8_t FTDI_SYNC_BITBANG = 0x04;

enum FtdiOpen {
    FTDI_OPENED,
    FTDI_NOT_FOUND,   // no such chip, or the library would not open it
    FTDI_NO_BITBANG,  // the chip opened, but its mode could not be set
};

struct FtdiLines {
    FtdiApi api{};
    bool open = false;
    uint8_t last = 0;      // the pins last written
    double stepMs = 0;     // one pin period
    int32_t baud = 0;
    int64_t roundTrips = 0, bytes = 0;
};

// The baud rate whose pin period is the shortest at or above minMs.
int32_t FtdiBaudFor(double minMs);
// Opens the chip, sets synchronous bit-bang with SDA and SCL released and the
// pin rate that keeps the standard-mode times, the latency timer at 1 ms.
FtdiOpen FtdiLinesOpen(FtdiLines* ftdi, const FtdiApi& api, const char* which);
LinePort FtdiLinesPort(FtdiLines* ftdi);
// Back to the UART, lines released, the chip closed; safe to call twice.
void FtdiLinesClose(FtdiLines* ftdi);
