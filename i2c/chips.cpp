#include "i2c/chips.h"

#include "i2c/messages.h"

namespace {

// A write cycle takes up to 5 ms; a chip busy for longer is taken as absent.
// The chip is asked at least this often, however slow the adapter.
constexpr double POLL_LIMIT_MS = 50;
constexpr int POLL_TRIES = 3;
// Between two polls the chip gets a moment for its write cycle.
constexpr double POLL_PAUSE_MS = 1;

// The line requests of a transfer's frame (a probe), a byte read and a byte
// written, as switches and samples (docs/performance.md works them out: 30
// with 2 samples, 28 with 9, 24 with 1), and the second reading of an
// acknowledge.
struct Requests {
    int switches, samples;
};
constexpr Requests FRAME = {28, 2}, BYTE_READ = {19, 9}, BYTE_WRITTEN = {23, 1}, ANSWERED = {0, 1};
// A write cycle takes up to 5 ms; what of it the next transfer's frame does
// not cover is spent polling.
constexpr double WRITE_CYCLE_MS = 5;

}  // namespace

I2cStatus Polled(I2cMaster* master, int address, const uint8_t* out, int outCount, uint8_t* in, int inCount)
{
    Lines* lines = master->lines;
    double start = LinesNow(lines);
    for (int tries = 1;; tries++) {
        I2cStatus status = I2cTransfer(master, address, out, outCount, in, inCount);
        if (status != I2C_NACK || (tries >= POLL_TRIES && LinesNow(lines) - start > POLL_LIMIT_MS))
            return status;
        lines->port.waitUntil(lines->port.data, LinesNow(lines) + POLL_PAUSE_MS);
    }
}

bool ProbeReads(int address)
{
    return (address >= 0x30 && address <= 0x37) || (address >= 0x50 && address <= 0x5F);
}

I2cStatus Probe(I2cMaster* master, int address)
{
    uint8_t byte;
    return ProbeReads(address) ? I2cTransfer(master, address, nullptr, 0, &byte, 1)
                               : I2cTransfer(master, address, nullptr, 0, nullptr, 0);
}

I2cStatus Scan(I2cMaster* master, int first, int last, bool found[128], void (*progress)(int address))
{
    // A held bus shows itself on the lines (SDA low after a STOP, or before a
    // START that nine clocks do not free), never in the number of answers: a
    // 24C16 answers at all of 0x50-0x57.
    for (int address = first; address <= last; address++) {
        if (progress)
            progress(address);
        I2cStatus status = Probe(master, address);
        if (status != I2C_OK && status != I2C_NACK)
            return status;
        found[address] = status == I2C_OK;
    }
    return I2C_OK;
}

double I2cWorkMs(const Lines* lines, const I2cWork& work)
{
    double switches = work.transfers * FRAME.switches + work.bytesRead * BYTE_READ.switches +
                      work.bytesWritten * BYTE_WRITTEN.switches;
    double samples = work.transfers * FRAME.samples + work.bytesRead * BYTE_READ.samples +
                     work.bytesWritten * BYTE_WRITTEN.samples + work.answered * ANSWERED.samples;
    // A sample comes after the switch of SCL to high, which is part of its echo wait.
    double switchMs = LinesSwitchMs(lines), sampleMs = LinesSampleMs(lines), wait = lines->echoMs - switchMs;
    double sampleTotalMs = sampleMs + (wait > 0 ? wait : 0);
    double frameMs = FRAME.switches * switchMs + FRAME.samples * sampleTotalMs;
    double pollingMs = WRITE_CYCLE_MS > frameMs ? WRITE_CYCLE_MS - frameMs : 0;
    return switches * switchMs + samples * sampleTotalMs + work.cycles * pollingMs;
}
