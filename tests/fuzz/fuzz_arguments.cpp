// The console programs' number parsers on any word, against printf.
#include "console/arguments.h"
#include "tests/fuzz/fuzz.h"

#include <limits.h>
#include <string.h>
#include <strings.h>

namespace {

// Whether text is value as printf writes it (in the base the text's prefix
// names), leading zeros and the case of the digits aside.
bool Writes(const char* text, int value, bool hex)
{
    char written[16];
    snprintf(written, sizeof written, hex ? "%x" : "%d", value);
    text += (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ? 2 : 0;
    while (text[0] == '0' && text[1])
        text++;
    return !strcasecmp(text, written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int RANGES[][2] = {{0, 255}, {1, 10000}, {0x03, 0x77}, {0, INT_MAX}};
    const int* range = RANGES[size % 4];
    for (const std::string& word : FuzzWords(data, size)) {
        const char* text = word.c_str();
        bool prefixed = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        int number = ArgumentNumber(text, range[0], range[1]);
        FUZZ_CHECK(number == -1 || (number >= range[0] && number <= range[1] && Writes(text, number, prefixed)));
        int address = ArgumentAddress(text, range[0], range[1]);
        FUZZ_CHECK(address == -1 || (address >= range[0] && address <= range[1] && Writes(text, address, true)));
    }
    // A value the input's bytes make, as printf writes it, reads back; one
    // outside the range does not.
    uint32_t bits = 0;
    memcpy(&bits, data, size < 4 ? size : 4);
    // Eight digits at most: the programs' numbers are far smaller.
    int value = (static_cast<int>(bits & 0x7FFFFFFF) >> (bits % 31)) % 100000000;
    int expected = value >= range[0] && value <= range[1] ? value : -1;
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    FUZZ_CHECK(ArgumentNumber(text, range[0], range[1]) == expected);
    snprintf(text, sizeof text, "0x%X", value);
    FUZZ_CHECK(ArgumentNumber(text, range[0], range[1]) == expected);
    FUZZ_CHECK(ArgumentAddress(text + 2, range[0], range[1]) == expected);
    return 0;
}
