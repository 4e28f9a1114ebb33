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
    // No write needs no --write; a write of more than a register pointer (one
    // byte), or one no read of its chip follows, always needs it.
    bool writes = false, content = false;
    for (size_t i = 0; i < messages.size(); i++) {
        const XferMessage& message = messages[i];
        FUZZ_CHECK(message.address >= 0x03 && message.address <= 0x77);
        FUZZ_CHECK(message.bytes.size() <= 65536 && (!message.read || !message.bytes.empty()));
        writes |= !message.read;
        content |= !message.read && (message.bytes.size() != 1 || i + 1 == messages.size() || !messages[i + 1].read);
    }
    FUZZ_CHECK(writes || !XferWrites(messages));
    FUZZ_CHECK(!content || XferWrites(messages));
    return 0;
}
