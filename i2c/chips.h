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

// The 24C02: 256 bytes in pages of 8; a page write wraps within its page. It
// and its relatives answer at 0x50-0x57 (A2..A0, or the 24C16's block bits).
constexpr int EEPROM_BYTES = 256, EEPROM_PAGE = 8;
constexpr int EEPROM_FIRST = 0x50, EEPROM_LAST = 0x57;
bool EepromAddress(int address);

// A transfer repeated while the chip does not acknowledge its address (an
// EEPROM in its write cycle), at least three times and 50 ms.
I2cStatus Polled(I2cMaster* master, int address, const uint8_t* out, int outCount, uint8_t* in, int inCount);

// Random read of count bytes from offset on, then sequentially.
I2cStatus EepromRead(I2cMaster* master, int address, int offset, uint8_t* data, int count);
// Page writes of data from offset on, none across a page boundary. Each page
// waits for the previous write cycle (the chip does not acknowledge its
// address until it ends) up to a time-out; so does the next EepromRead.
I2cStatus EepromWrite(I2cMaster* master, int address, int offset, const uint8_t* data, int count, int pageSize);
// The same; *written counts the bytes of the pages the chip took whole (every
// byte acknowledged and the STOP made), so after a failure it says how far the
// write got. The page in flight may be written in part all the same: the STOP
// that leaves the bus idle makes the chip write the bytes it has.
I2cStatus EepromWriteCounted(I2cMaster* master, int address, int offset, const uint8_t* data, int count,
                             int pageSize, int* written);
