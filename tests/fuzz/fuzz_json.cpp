// The JSON string writer on any text: it writes a key and a value that a
// JSON reader takes and reads back as the text, its invalid bytes made valid
// (TextValid, proven in host-files).
#include "console/json.h"
#include "tests/fuzz/fuzz.h"

#include <string.h>

namespace {

// The JSON string at text[*at] as a reader reads it; false where no reader
// takes it (a raw control character, an unknown escape, no end).
bool ReadString(const std::string& text, size_t* at, std::string* value)
{
    static const char LETTERS[] = "\"\\/bfnrt", BYTES[] = "\"\\/\b\f\n\r\t";
    if (text[(*at)++] != '"')
        return false;
    while (*at < text.size()) {
        char c = text[(*at)++];
        const char* letter = c == '\\' && *at < text.size() && text[*at] ? strchr(LETTERS, text[*at]) : nullptr;
        std::string digits = c == '\\' && text[*at] == 'u' ? text.substr(*at + 1, 4) : "";
        unsigned code = 256;
        if (c == '"')
            return true;
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (c != '\\')
            *value += c;
        else if (letter)
            *value += BYTES[letter - LETTERS], *at += 1;
        else if (strspn(digits.c_str(), "0123456789abcdefABCDEF") == 4 && sscanf(digits.c_str(), "%x", &code) == 1 &&
                 code <= 0xFF)  // the writer's texts are single bytes
            *value += static_cast<char>(code), *at += 5;
        else
            return false;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size), key, value;
    const char* text = input.c_str();  // up to the first zero byte, as the programs' texts end
    Json json;
    JsonObject(&json);
    JsonKey(&json, text);
    JsonString(&json, text);
    JsonEnd(&json);
    size_t at = 1;
    FUZZ_CHECK(json.text[0] == '{' && ReadString(json.text, &at, &key) && json.text[at++] == ':');
    FUZZ_CHECK(ReadString(json.text, &at, &value) && json.text.substr(at) == "}" && json.open.empty());
    FUZZ_CHECK(key == TextValid(text) && value == TextValid(text));
    return 0;
}
