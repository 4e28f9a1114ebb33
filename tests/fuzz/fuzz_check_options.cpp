// coupler-check's command line on any words: refused with a reason, or taken
// with a baud rate the tester has and a repeat count it allows.
#include "check/options.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words = FuzzWords(data, size);
    CheckOptions options;
    if (!FuzzParse(&words, "coupler-check", ParseOptions, &options))
        return 0;
    FUZZ_CHECK(!options.port.empty() || options.list || options.help);
    FUZZ_CHECK(options.repeat >= 1 && options.repeat <= 10000);
    FUZZ_CHECK(options.baud >= 75 && options.baud <= 19200 && 19200 % options.baud == 0 && options.baud % 75 == 0);
    int expected = 0;
    for (int address = 0; address < 128; address++)
        if (options.expected[address])
            FUZZ_CHECK(address >= 0x08 && address <= 0x77 && ++expected);
    FUZZ_CHECK(options.expecting == (expected > 0));
    return 0;
}
