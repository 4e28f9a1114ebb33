// JSON for the console programs' --json output and the check's JSON Lines
// record: one value built in memory, written in one piece. Texts are the
// program's own (Windows-1252 on Windows); the output channel turns them into
// UTF-8 as every other line, so only quotes, backslashes and control
// characters are escaped here, and in the native build (UTF-8) bytes that
// make no character are replaced: a name from the command line may hold any.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The value so far, and per open object or array its closing bracket and
// whether a member was written (the next one needs a comma).
struct JsonLevel {
    char closing;
    bool written;
};
struct Json {
    std::string text;
    std::vector<JsonLevel> open;
};

// Objects and arrays; a key before every member of an object.
void JsonObject(Json* json);
void JsonArray(Json* json);
void JsonEnd(Json* json);
void JsonKey(Json* json, const char* key);
// Values.
void JsonString(Json* json, const char* text);
void JsonInt(Json* json, int64_t value);
void JsonNumber(Json* json, double value, int decimals);
void JsonBool(Json* json, bool value);
void JsonNull(Json* json);

// Texts whatever their bytes, for JSON and the CSV record: in the native
// build (UTF-8) every byte that begins no valid character becomes U+FFFD;
// in the Windows build (Windows-1252, every byte a character) nothing changes.
std::string TextValid(const char* text);
// The length of text without a character cut off at its end (a cut of
// snprintf's), so that a shortened text ends between characters.
size_t TextWhole(const char* text, size_t length);
