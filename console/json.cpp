#include "console/json.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

namespace {

// A comma before every value but the first of its object or array; none
// after a key.
void Separate(Json* json)
{
    if (!json->text.empty() && json->text.back() == ':')
        return;
    if (!json->open.empty() && json->open.back().written)
        json->text += ',';
    if (!json->open.empty())
        json->open.back().written = true;
}

void Open(Json* json, char opening, char closing)
{
    Separate(json);
    json->text += opening;
    json->open.push_back({closing, false});
}

#ifndef _WIN32
// The bytes of the valid UTF-8 character at text (left bytes there), 0 if none.
// Only the POSIX build checks UTF-8: the Windows build's texts are
// Windows-1252, a character a byte.
size_t Utf8Character(const unsigned char* text, size_t left)
{
    unsigned char lead = text[0];
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                  : lead >= 0xF0 && lead <= 0xF4    ? 4
                                                                    : 0;
    if (!length || length > left)
        return 0;
    // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (length > 1 && (text[1] < low || text[1] > high))
        return 0;
    for (size_t i = 2; i < length; i++)
        if (text[i] < 0x80 || text[i] > 0xBF)
            return 0;
    return length;
}
#endif

}  // namespace

std::string TextValid(const char* text)
{
#ifdef _WIN32
    return text;
#else
    std::string valid;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t at = 0, left = strlen(text); at < left;) {
        size_t length = Utf8Character(bytes + at, left - at);
        valid += length ? std::string(text + at, length) : "\xEF\xBF\xBD";
        at += length ? length : 1;
    }
    return valid;
#endif
}

size_t TextWhole(const char* text, size_t length)
{
#ifdef _WIN32
    (void)text;
    return length;
#else
    // A lead byte among the last three whose character needs more bytes than are left.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t back = 1; back <= 3 && back <= length; back++) {
        unsigned char byte = bytes[length - back];
        if (byte < 0x80 || byte >= 0xC0) {
            size_t needs = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            return needs > back ? length - back : length;
        }
    }
    return length;
#endif
}

void JsonObject(Json* json) { Open(json, '{', '}'); }
void JsonArray(Json* json) { Open(json, '[', ']'); }

void JsonEnd(Json* json)
{
    if (json->open.empty())
        return;
    json->text += json->open.back().closing;
    json->open.pop_back();
}

void JsonKey(Json* json, const char* key)
{
    JsonString(json, key);
    json->text += ':';
}

void JsonString(Json* json, const char* text)
{
    Separate(json);
    json->text += '"';
    std::string valid = TextValid(text);
    for (const char* c = valid.c_str(); *c; c++) {
        unsigned char byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            json->text += '\\';
            json->text += *c;
        } else if (byte < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json->text += escaped;
        } else {
            json->text += *c;
        }
    }
    json->text += '"';
}

void JsonInt(Json* json, int64_t value)
{
    Separate(json);
    json->text += std::to_string(value);
}

void JsonNumber(Json* json, double value, int decimals)
{
    if (!isfinite(value))
        return JsonNull(json);
    Separate(json);
    char number[64];
    snprintf(number, sizeof number, "%.*f", decimals, value);
    json->text += number;
}

void JsonBool(Json* json, bool value)
{
    Separate(json);
    json->text += value ? "true" : "false";
}

void JsonNull(Json* json)
{
    Separate(json);
    json->text += "null";
}
