// The 24C EEPROM family: sizes, pages and how a byte is addressed, and reads
// and page writes of any range on any member. Facts from the makers' data
// sheets (24C01 to 24C512):
//
//   type    bytes  page  word address  device address
//   24C01     128     8  1 byte        1010 A2 A1 A0
//   24C02     256     8  1 byte        1010 A2 A1 A0
//   24C04     512    16  1 byte        1010 A2 A1 P0
//   24C08      1K    16  1 byte        1010 A2 P1 P0
//   24C16      2K    16  1 byte        1010 P2 P1 P0   (answers at 0x50-0x57)
//   24C32      4K    32  2 bytes       1010 A2 A1 A0
//   24C64      8K    32  2 bytes       1010 A2 A1 A0
//   24C128    16K    64  2 bytes       1010 A2 A1 A0
//   24C256    32K    64  2 bytes       1010 A2 A1 A0
//   24C512    64K   128  2 bytes       1010 A2 A1 A0
//
// P bits select a 256-byte block: they are the word address's high bits. A
// write past a page's end wraps to the page's start, so no write crosses a
// page. The write cycle (up to 5 ms, 10 on some parts) starts at the STOP;
// meanwhile the chip does not acknowledge its address, which is how its end
// is found (polling). The width of the word address is never found by
// writing: two bytes sent to a one-byte part are a word address and data.
#pragma once

#include <stdint.h>

#include <vector>

#include "i2c/bits.h"
#include "i2c/chips.h"

struct EepromType {
    const char* name;  // "24C02"
    int size;          // bytes
    int page;          // bytes a write may take at most, aligned
    int wordBytes;     // 1 or 2
    int blockBits;     // device-address bits taken for the block (24C04 1, 24C08 2, 24C16 3)
};

// EEPROMs answer at 0x50-0x57 (A2..A0, or block-select bits).
bool EepromAddress(int address);
// The family, smallest first, ended by an entry without name.
extern const EepromType EEPROM_TYPES[];
// The type named (case ignored) or marked on a chip: a maker's prefix (AT,
// M, CAT, BR, FM, S-, ...), the family's letters after 24 (C, LC, AA, FC, CS,
// ...), the number exactly, then letters of variant, package or temperature
// range, up to the end or a dash or slash ("AT24C256C-SSHL-T", "24LC02B-I/P");
// nullptr for anything else ("24C021" is no 24C02).
const EepromType* EepromTypeNamed(const char* name);
// Whether a chip of the type can be wired to answer at address (0x50-0x57):
// block-select types need the block bits at 0.
bool EepromAddressFits(const EepromType& type, int address);

// Reads count bytes from offset on: a random read per block (a block-select
// chip's blocks are separate addresses), sequential inside it. Waits for a
// write cycle still running.
I2cStatus EepromReadRange(I2cMaster* master, const EepromType& type, int address, int offset, uint8_t* data,
                          int count);
// Writes count bytes from offset on in writes of at most pageSize bytes (a
// power of two, at most the type's page), none across a page, each polled
// to the end of its write cycle. *written counts the bytes whose write cycle
// was seen to end.
I2cStatus EepromWriteRange(I2cMaster* master, const EepromType& type, int address, int offset,
                           const uint8_t* data, int count, int pageSize, int* written);
// What EepromReadRange and EepromWriteRange move, for an estimate.
I2cWork EepromReadWork(const EepromType& type, int offset, int count);
I2cWork EepromWriteWork(const EepromType& type, int offset, int count, int pageSize);

// A run of bytes on the chip.
struct EepromRange {
    int offset, count;
};
// The parts of a write of count bytes from offset, in pages of pageSize as
// EepromWriteRange takes them, whose bytes differ from what the chip holds:
// data and chip give the chip's whole address range. Neighbouring pages are
// joined into one range; *pages: the pages the write touches.
std::vector<EepromRange> EepromRangesDiffering(const EepromType& type, int offset, int count, int pageSize,
                                               const uint8_t* data, const uint8_t* chip, int* pages);
// Of the bytes a read of count from offset moves (word addresses and data,
// as the master tells them), moved told: how many are data.
int EepromDataMoved(const EepromType& type, int offset, int count, int moved);
