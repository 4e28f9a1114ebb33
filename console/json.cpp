#include "console/json.h"

#include <math.h>
#include <stdio.h>

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

}  // namespace

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
    for (const char* c = text; *c; c++) {
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
