#include "i2c/chips.h"

#include <string.h>

#include "i2c/messages.h"

namespace {

// A write cycle takes up to 5 ms; a chip busy for longer is taken as absent.
// The chip is asked at least this often, however slow the adapter.
constexpr double POLL_LIMIT_MS = 50;
constexpr int POLL_TRIES = 3;
constexpr int MAX_PAGE = 256;
// Between two polls the chip gets a moment for its write cycle.
constexpr double POLL_PAUSE_MS = 1;

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

I2cStatus EepromRead(I2cMaster* master, int address, int offset, uint8_t* data, int count)
{
    uint8_t word = static_cast<uint8_t>(offset);
    return Polled(master, address, &word, 1, data, count);
}

bool EepromAddress(int address) { return address >= EEPROM_FIRST && address <= EEPROM_LAST; }

I2cStatus EepromWrite(I2cMaster* master, int address, int offset, const uint8_t* data, int count, int pageSize)
{
    int written;
    return EepromWriteCounted(master, address, offset, data, count, pageSize, &written);
}

I2cStatus EepromWriteCounted(I2cMaster* master, int address, int offset, const uint8_t* data, int count,
                             int pageSize, int* written)
{
    uint8_t message[1 + MAX_PAGE];
    *written = 0;
    for (int done = 0; done < count;) {
        int at = offset + done, size = pageSize - at % pageSize;
        size = size < count - done ? size : count - done;
        message[0] = static_cast<uint8_t>(at);
        memcpy(message + 1, data + done, static_cast<size_t>(size));
        I2cStatus status = Polled(master, address, message, 1 + size, nullptr, 0);
        if (status != I2C_OK)
            return status;
        done += size;
        *written = done;
    }
    return I2C_OK;
}
