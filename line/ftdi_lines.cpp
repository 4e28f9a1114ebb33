#include "line/ftdi_lines.h"

#include <math.h>

namespace {

// The standard-mode minimum times (SCL low, START set-up, bus free: 4.7 us)
// are kept when no pin period is shorter.
constexpr double MIN_STEP_MS = 0.0047;

uint8_t Pin(int32_t line, bool output)
{
    for (const FtdiPin& pin : FTDI_PINS)
        if (pin.line == line && pin.output == output)
            return static_cast<uint8_t>(1u << pin.bit);
    return 0;
}

// Writes bytes and reads as many back, in pieces that the chip's receive
// buffer holds (it stops its clock while the buffer is full); readings go to
// back (may be nullptr).
bool Exchange(FtdiLines* ftdi, const uint8_t* bytes, int32_t count, uint8_t* back)
{
    uint8_t scratch[FTDI_RECEIVE_BUFFER];
    for (int32_t done = 0; done < count;) {
        int32_t piece = count - done < FTDI_RECEIVE_BUFFER ? count - done : FTDI_RECEIVE_BUFFER;
        uint8_t* into = back ? back + done : scratch;
        if (ftdi->api.write(ftdi->api.data, bytes + done, piece) != piece ||
            ftdi->api.read(ftdi->api.data, into, piece) != piece)
            return false;
        ftdi->roundTrips++;
        ftdi->bytes += piece;
        done += piece;
    }
    if (count > 0)
        ftdi->last = bytes[count - 1];
    return true;
}

uint8_t Output(const FtdiLines* ftdi, LineOutput line, int on)
{
    uint8_t bit = Pin(line, true);
    // Inverted: on is the pin low.
    return static_cast<uint8_t>(on ? ftdi->last & ~bit : ftdi->last | bit);
}

bool Set(void* data, LineOutput line, int on)
{
    FtdiLines* ftdi = static_cast<FtdiLines*>(data);
    uint8_t byte = Output(ftdi, line, on);
    return ftdi->open && Exchange(ftdi, &byte, 1, nullptr);
}

// The pins as they are: one byte of the same outputs, whose reading is the
// pins just before it.
int32_t Status(void* data)
{
    FtdiLines* ftdi = static_cast<FtdiLines*>(data);
    uint8_t byte = ftdi->last, pins = 0;
    return ftdi->open && Exchange(ftdi, &byte, 1, &pins) ? FtdiPinsStatus(pins) : -1;
}

double Now(void* data)
{
    FtdiLines* ftdi = static_cast<FtdiLines*>(data);
    return ftdi->api.now(ftdi->api.data);
}

void WaitUntil(void* data, double ms)
{
    FtdiLines* ftdi = static_cast<FtdiLines*>(data);
    ftdi->api.waitUntil(ftdi->api.data, ms);
}

// Step i's byte, then one more of the last levels: a reading is the pins
// before its byte, so step i's answer is the reading of byte i + 1.
bool Batch(void* data, const LineStep* steps, int32_t count, int32_t* answers)
{
    FtdiLines* ftdi = static_cast<FtdiLines*>(data);
    if (!ftdi->open)
        return false;
    int32_t total = count + 1;
    uint8_t out[FTDI_RECEIVE_BUFFER], in[FTDI_RECEIVE_BUFFER];
    for (int32_t done = 0; done < total;) {
        int32_t piece = total - done < FTDI_RECEIVE_BUFFER ? total - done : FTDI_RECEIVE_BUFFER;
        for (int32_t i = 0; i < piece; i++) {
            const LineStep& step = steps[done + i < count ? done + i : count - 1];
            out[i] = FtdiPinsOut(step.sda, step.scl);
        }
        if (!Exchange(ftdi, out, piece, in))
            return false;
        for (int32_t i = 0; i < piece; i++)
            if (done + i > 0)
                answers[done + i - 1] = FtdiPinsStatus(in[i]);
        done += piece;
    }
    return true;
}

}  // namespace

uint8_t FtdiPinsOut(int sda, int scl)
{
    uint8_t byte = 0;
    for (const FtdiPin& pin : FTDI_PINS) {
        int level = pin.line == LINE_SDA_OUT ? sda : pin.line == LINE_SCL_OUT ? scl : 1;
        if (pin.output && (level != 0) != pin.inverted)
            byte = static_cast<uint8_t>(byte | 1u << pin.bit);
    }
    return byte;
}

uint8_t FtdiPinMask()
{
    uint8_t mask = 0;
    for (const FtdiPin& pin : FTDI_PINS)
        mask = static_cast<uint8_t>(mask | (pin.output ? 1u << pin.bit : 0u));
    return mask;
}

int32_t FtdiPinsStatus(uint8_t pins)
{
    int32_t status = 0;
    for (const FtdiPin& pin : FTDI_PINS)
        if (!pin.output && (((pins >> pin.bit) & 1) != 0) != pin.inverted)
            status |= pin.line;
    return status;
}

int32_t FtdiBaudFor(double minMs)
{
    // A pin period is divisor / (16 x 3 MHz).
    double divisor = ceil(minMs / 1000 * FTDI_BASE_HZ * FTDI_PIN_CLOCK_PER_BAUD - 1e-9);
    return static_cast<int32_t>(FTDI_BASE_HZ / divisor);
}

FtdiOpen FtdiLinesOpen(FtdiLines* ftdi, const FtdiApi& api, const char* which)
{
    *ftdi = FtdiLines{};
    ftdi->api = api;
    if (!api.open(api.data, which))
        return FTDI_NOT_FOUND;
    ftdi->open = true;
    ftdi->baud = FtdiBaudFor(MIN_STEP_MS);
    ftdi->stepMs = 1000.0 / (FTDI_BASE_HZ / floor(FTDI_BASE_HZ / ftdi->baud + 0.5) * FTDI_PIN_CLOCK_PER_BAUD);
    // Both lines released, SCL first (the lines are off after a port's open:
    // SDA rising while SCL is high is a STOP, which ends whatever went before).
    const uint8_t idle[2] = {FtdiPinsOut(0, 1), FtdiPinsOut(1, 1)};
    if (!api.setBitMode(api.data, FtdiPinMask(), FTDI_SYNC_BITBANG) || !api.setBaudRate(api.data, ftdi->baud) ||
        !api.setLatency(api.data, 1) || !Exchange(ftdi, idle, 2, nullptr)) {
        FtdiLinesClose(ftdi);
        return FTDI_NO_BITBANG;
    }
    return FTDI_OPENED;
}

LinePort FtdiLinesPort(FtdiLines* ftdi)
{
    LinePort port = {ftdi, Set, Status, Now, WaitUntil};
    port.batch = Batch;
    port.stepMs = ftdi->stepMs;
    return port;
}

void FtdiLinesClose(FtdiLines* ftdi)
{
    if (!ftdi->open)
        return;
    ftdi->open = false;
    ftdi->api.setBitMode(ftdi->api.data, 0, 0);
    ftdi->api.close(ftdi->api.data);
}
