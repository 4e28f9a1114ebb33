// coupler-i2c's command line on any words: refused with a reason, or taken
// with every number inside what its command allows.
#include "i2ctool/options.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words = FuzzWords(data, size);
    I2cOptions options;
    if (!FuzzParse(&words, "coupler-i2c", ParseI2cOptions, &options) || options.help)
        return 0;
    FUZZ_CHECK(!options.port.empty() && options.command != COMMAND_NONE);
    FUZZ_CHECK(options.first >= 0x03 && options.first <= options.last && options.last <= 0x77);
    FUZZ_CHECK(options.address >= 0x03 && options.address <= 0x77);
    FUZZ_CHECK(options.reg >= -1 && options.reg <= (options.reg16 ? 0xFFFF : 0xFF));
    FUZZ_CHECK(options.value >= 0 && options.value <= (options.word ? 0xFFFF : 0xFF));
    if (options.command >= COMMAND_EEPROM_READ && options.command <= COMMAND_EEPROM_VERIFY) {
        // Inside the chip, a page that divides the chip's own.
        const EepromType& type = *options.type;
        FUZZ_CHECK(options.file && options.address >= 0x50 && options.address <= 0x57);
        FUZZ_CHECK(options.offset >= 0 && options.offset < type.size);
        FUZZ_CHECK(options.count == -1 || (options.count >= 1 && options.offset + options.count <= type.size));
        FUZZ_CHECK(options.page >= 1 && options.page <= type.page && type.page % options.page == 0);
    }
    FUZZ_CHECK(options.command == COMMAND_XFER || options.messages.empty());
    return 0;
}
