#include "i2c/eeprom.h"

#include <ctype.h>
#include <string.h>

#include <string>


namespace {

constexpr int LARGEST_PAGE = 128;

// The device address and the word-address bytes of a byte; the bytes' count.
int Addressing(const EepromType& type, int address, int offset, int* device, uint8_t word[2])
{
    *device = address | ((offset >> 8) & ((1 << type.blockBits) - 1));
    if (type.wordBytes == 2) {
        word[0] = static_cast<uint8_t>(offset >> 8);
        word[1] = static_cast<uint8_t>(offset);
        return 2;
    }
    word[0] = static_cast<uint8_t>(offset);
    return 1;
}

// The bytes one device address reaches from offset on: a block on
// block-select types, the whole chip on the others.
int Reach(const EepromType& type, int offset)
{
    int span = type.wordBytes == 2 ? type.size : 256;
    return span - offset % span;
}

// The page a write takes: as asked where that is a power of two up to the
// type's page, else the type's page.
int PageOf(const EepromType& type, int pageSize)
{
    return pageSize < 1 || pageSize > type.page || (pageSize & (pageSize - 1)) ? type.page : pageSize;
}

}  // namespace

const EepromType EEPROM_TYPES[] = {
    {"24C01", 128, 8, 1, 0},      {"24C02", 256, 8, 1, 0},      {"24C04", 512, 16, 1, 1},
    {"24C08", 1024, 16, 1, 2},    {"24C16", 2048, 16, 1, 3},    {"24C32", 4096, 32, 2, 0},
    {"24C64", 8192, 32, 2, 0},    {"24C128", 16384, 64, 2, 0},  {"24C256", 32768, 64, 2, 0},
    {"24C512", 65536, 128, 2, 0}, {nullptr, 0, 0, 0, 0}};

const EepromType* EepromTypeNamed(const char* name)
{
    // Makers' prefixes before the 24 and the families' letters after it; ""
    // stands for none, a bare number after 24 only with a maker's prefix
    // (M24256).
    static const char* const MAKERS[] = {"", "AT", "M", "ST", "CAT", "BR", "FM", "S-", "GT", "HT", "IS", "NM", "X", "BL", "P"};
    static const char* const FAMILIES[] = {"C", "LC", "AA", "FC", "CS", "CW", "WC", "L", "G", "T", "S", ""};
    std::string marking;
    for (const char* c = name; *c; c++)
        marking += static_cast<char>(toupper(static_cast<unsigned char>(*c)));
    for (const char* maker : MAKERS)
        for (const char* family : FAMILIES) {
            std::string start = std::string(maker) + "24" + family;
            if (marking.compare(0, start.size(), start) != 0 || (!*maker && !*family))
                continue;
            size_t digits = strspn(marking.c_str() + start.size(), "0123456789"), end = start.size() + digits;
            // Letters only up to the end or a dash or slash: a digit would make another number.
            size_t letters = strspn(marking.c_str() + end, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
            char after = marking[end + letters];
            if (!digits || letters > 4 || (after && after != '-' && after != '/'))
                continue;
            for (const EepromType* type = EEPROM_TYPES; type->name; type++)
                if (marking.compare(start.size(), digits, type->name + 3) == 0)
                    return type;
        }
    return nullptr;
}

bool EepromAddress(int address) { return address >= 0x50 && address <= 0x57; }

bool EepromAddressFits(const EepromType& type, int address)
{
    return EepromAddress(address) && (address & ((1 << type.blockBits) - 1)) == 0;
}

I2cStatus EepromReadRange(I2cMaster* master, const EepromType& type, int address, int offset, uint8_t* data,
                          int count)
{
    for (int done = 0; done < count;) {
        int at = offset + done, device = 0, size = Reach(type, at);
        size = size < count - done ? size : count - done;
        uint8_t word[2];
        int wordBytes = Addressing(type, address, at, &device, word);
        I2cStatus status = Polled(master, device, word, wordBytes, data + done, size);
        if (status != I2C_OK)
            return status;
        done += size;
    }
    return I2C_OK;
}

I2cStatus EepromWriteRange(I2cMaster* master, const EepromType& type, int address, int offset,
                           const uint8_t* data, int count, int pageSize, int* written)
{
    uint8_t message[2 + LARGEST_PAGE];
    *written = 0;
    pageSize = PageOf(type, pageSize);
    for (int done = 0; done < count;) {
        int at = offset + done, device = 0, size = pageSize - at % pageSize;
        size = size < count - done ? size : count - done;
        int wordBytes = Addressing(type, address, at, &device, message);
        memcpy(message + wordBytes, data + done, static_cast<size_t>(size));
        I2cStatus status = Polled(master, device, message, wordBytes + size, nullptr, 0);
        if (status != I2C_OK)
            return status;
        done += size;
        // A page's cycle is seen to end when the next page is taken; the last
        // one's is waited for with a one-byte read (an address-only write can
        // start a write on some parts), so that written is the truth.
        uint8_t byte;
        if (done == count && (status = Polled(master, device, nullptr, 0, &byte, 1)) != I2C_OK)
            return status;
        *written = done - (done < count ? size : 0);
    }
    return I2C_OK;
}

I2cWork EepromReadWork(const EepromType& type, int offset, int count)
{
    I2cWork work = {0, count, 0, 0, 0};
    // A random read per block: its word address, then the address to read.
    for (int done = 0; done < count; done += Reach(type, offset + done))
        work.transfers++, work.answered += 2, work.bytesWritten += type.wordBytes + 1;
    return work;
}

I2cWork EepromWriteWork(const EepromType& type, int offset, int count, int pageSize)
{
    pageSize = PageOf(type, pageSize);
    int pages = count > 0 ? (offset + count - 1) / pageSize - offset / pageSize + 1 : 0;
    // Each page with its word address; the last cycle waited for with a byte read.
    return {pages + 1, 1, count + pages * type.wordBytes, pages, pages + 1};
}

std::vector<EepromRange> EepromRangesDiffering(const EepromType& type, int offset, int count, int pageSize,
                                               const uint8_t* data, const uint8_t* chip, int* pages)
{
    std::vector<EepromRange> ranges;
    pageSize = PageOf(type, pageSize);
    *pages = 0;
    for (int at = offset, end = offset + count; at < end; (*pages)++) {
        int size = pageSize - at % pageSize;
        size = size < end - at ? size : end - at;
        if (memcmp(data + at, chip + at, static_cast<size_t>(size)) != 0) {
            if (!ranges.empty() && ranges.back().offset + ranges.back().count == at)
                ranges.back().count += size;
            else
                ranges.push_back({at, size});
        }
        at += size;
    }
    return ranges;
}

int EepromDataMoved(const EepromType& type, int offset, int count, int moved)
{
    int data = 0;
    for (int done = 0; done < count && moved > type.wordBytes;) {
        int size = Reach(type, offset + done);
        size = size < count - done ? size : count - done;
        moved -= type.wordBytes;
        int taken = moved < size ? moved : size;
        data += taken, moved -= taken, done += size;
    }
    return data;
}
