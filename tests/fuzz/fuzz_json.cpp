// The JSON string writer on any text: what it writes is one JSON string, as
// a reader takes it, that reads back as the text.
#include "console/json.h"
#include "tests/fuzz/fuzz.h"

#include <string.h>

namespace {

// The JSON string at text[*at] read as a reader does; false where no reader
// would take it (a raw control character, an unknown escape, no end).
bool ReadString(const std::string& text, size_t* at, std::string* value)
{
    if (text[(*at)++] != '"')
        return false;
    while (*at < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[(*at)++]);
        if (c == '"')
            return true;
        if (c < 0x20)
            return false;
        if (c != '\\') {
            *value += static_cast<char>(c);
            continue;
        }
        if (*at >= text.size())
            return false;
        char escape = text[(*at)++];
        // Pairs: the letter after the backslash, the byte it stands for.
        static const char SIMPLE[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
        size_t pair = 0;
        while (SIMPLE[pair] && SIMPLE[pair] != escape)
            pair += 2;
        if (SIMPLE[pair]) {
            *value += SIMPLE[pair + 1];
        } else if (escape == 'u' && *at + 4 <= text.size()) {
            std::string digits = text.substr(*at, 4);
            unsigned code = 0;
            if (strspn(digits.c_str(), "0123456789abcdefABCDEF") != 4 || sscanf(digits.c_str(), "%x", &code) != 1 ||
                code > 0xFF)
                return false;  // the writer escapes single bytes only
            *value += static_cast<char>(code);
            *at += 4;
        } else {
            return false;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    const char* text = input.c_str();  // up to the first zero byte, as the programs' texts
    Json json;
    JsonObject(&json);
    JsonKey(&json, text);
    JsonString(&json, text);
    JsonEnd(&json);
    std::string key, value;
    size_t at = 1;
    FUZZ_CHECK(json.text[0] == '{' && ReadString(json.text, &at, &key) && json.text[at++] == ':');
    FUZZ_CHECK(ReadString(json.text, &at, &value) && json.text.substr(at) == "}");
    FUZZ_CHECK(key == text && value == text && json.open.empty());
    return 0;
}
