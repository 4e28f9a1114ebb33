#include "console/arguments.h"

#include "console/json.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Digits in base 16 (hex) or 10 and nothing else (strtoll alone would take a
// sign, blanks, and a second 0x), from low to high; -1 if not.
int Whole(const char* digits, bool hex, int low, int high)
{
    size_t length = strspn(digits, hex ? "0123456789abcdefABCDEF" : "0123456789");
    if (!length || digits[length] || length > 8)
        return -1;
    int64_t value = strtoll(digits, nullptr, hex ? 16 : 10);
    return value >= low && value <= high ? static_cast<int>(value) : -1;
}

bool HexPrefix(const char* text) { return text[0] == '0' && (text[1] == 'x' || text[1] == 'X'); }

}  // namespace

int ArgumentNumber(const char* text, int low, int high)
{
    bool hex = HexPrefix(text);
    return Whole(hex ? text + 2 : text, hex, low, high);
}

int ArgumentAddress(const char* text, int low, int high)
{
    return Whole(HexPrefix(text) ? text + 2 : text, true, low, high);
}

const char* OptionValue(int argc, char** argv, int* i)
{
    // An option is never the value of the one before it.
    if (*i + 1 < argc && strncmp(argv[*i + 1], "--", 2) != 0)
        return argv[++*i];
    return "";
}

bool Refuse(char* error, int size, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(error, size, format, arguments);
    va_end(arguments);
    // A reason longer than error ends before the character the cut split.
    if (size > 0 && length >= size)
        error[TextWhole(error, static_cast<size_t>(size - 1))] = '\0';
    return false;
}
