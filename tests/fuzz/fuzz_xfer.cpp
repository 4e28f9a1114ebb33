// The transfer grammar (coupler-i2c xfer) on any words.
#include "i2ctool/xfer.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words = FuzzWords(data, size);
    std::vector<const char*> list;
    for (const std::string& word : words)
        list.push_back(word.c_str());
    std::vector<XferMessage> messages;
    std::string error;
    if (!XferParse(list.data(), static_cast<int>(list.size()), &messages, &error)) {
        FUZZ_CHECK(error.compare(0, 6, "xfer: ") == 0);
        return 0;
    }
    // Every message a word of its own at an address the bus can carry, of
    // no more bytes than the largest EEPROM holds; a read reads something.
    FUZZ_CHECK(!messages.empty() && messages.size() <= words.size());
    bool writes = false;
    for (const XferMessage& message : messages) {
        FUZZ_CHECK(message.address >= 0x03 && message.address <= 0x77);
        FUZZ_CHECK(message.bytes.size() <= 65536 && (!message.read || !message.bytes.empty()));
        writes |= !message.read;
    }
    FUZZ_CHECK(XferWrites(messages) == writes);
    return 0;
}
