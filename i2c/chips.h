// What the programs do with any chip: the safe probe, the scan, and a
// transfer that waits out an EEPROM's write cycle.
#pragma once

#include <stdint.h>

#include "i2c/bits.h"

// A write-type probe can change or write-protect EEPROMs at these addresses
// (0x30-0x37, 0x50-0x5F): there the probe reads one byte instead.
bool ProbeReads(int address);
// I2C_OK when the address is acknowledged, I2C_NACK when not.
I2cStatus Probe(I2cMaster* master, int address);
// Probes first..last and sets found[address]; progress (may be nullptr) is
// told each address first. The first failure that ends the scan (a bus held
// after a STOP, a line call), or I2C_OK; any number of addresses may answer.
I2cStatus Scan(I2cMaster* master, int first, int last, bool found[128], void (*progress)(int address));

// A transfer repeated while the chip does not acknowledge its address (an
// EEPROM in its write cycle), at least three times and 50 ms.
I2cStatus Polled(I2cMaster* master, int address, const uint8_t* out, int outCount, uint8_t* in, int inCount);

// What a job moves, for its estimate: transfers (each a START, an address and
// a STOP), the bytes read and written after their address (word addresses
// are bytes written), the write cycles it waits for, and the transfers whose
// address a chip acknowledges (its acknowledge is read twice).
struct I2cWork {
    int transfers, bytesRead, bytesWritten, cycles, answered;
};
// The time the work takes on these lines, in ms: switches and samples at the
// costs measured, each sample after the wait for the echo.
double I2cWorkMs(const Lines* lines, const I2cWork& work);
