// What the program does with chips: the safe probe and the scan, and the
// EEPROM's reads and page writes (24C02 and the like: one word-address byte).
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

// Random read of count bytes from offset on, then sequentially.
I2cStatus EepromRead(I2cMaster* master, int address, int offset, uint8_t* data, int count);
// Page writes of data from offset on, none across a page boundary. Each page
// waits for the previous write cycle (the chip does not acknowledge its
// address until it ends) up to a time-out; so does the next EepromRead.
I2cStatus EepromWrite(I2cMaster* master, int address, int offset, const uint8_t* data, int count, int pageSize);
