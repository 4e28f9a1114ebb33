#include "i2ctool/xfer.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

// A message may move at most this many bytes: the largest EEPROM's size; so
// may the whole transfer, whose messages are held in memory at once, and its
// messages are this many at most.
constexpr int32_t LONGEST = 65536, MOST_MESSAGES = 4096;

bool Fail(std::string* error, const char* word, const char* why)
{
    *error = std::string("xfer: ") + word + ": " + why;
    return false;
}

// A number from low to high in the base, the whole text; -1 if not.
int32_t Number(const char* text, size_t length, int base, int32_t low, int32_t high)
{
    std::string digits(text, length);
    const char* start = digits.c_str();
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        start += 2;
        base = 16;
    }
    char* end = nullptr;
    int64_t value = isxdigit(static_cast<unsigned char>(*start)) ? strtoll(start, &end, base) : -1;
    return end && !*end && value >= low && value <= high ? static_cast<int32_t>(value) : -1;
}

}  // namespace

bool XferParse(const char* const* words, int count, std::vector<XferMessage>* messages, std::string* error)
{
    messages->clear();
    int address = -1;
    int32_t total = 0;
    for (int i = 0; i < count;) {
        const char* word = words[i++];
        char kind = static_cast<char>(tolower(static_cast<unsigned char>(word[0])));
        if (kind != 'r' && kind != 'w')
            return Fail(error, word, "erwartet r oder w mit Länge, z. B. w2@50 oder r8");
        const char* at = word + 1;
        while (*at && *at != '@')
            at++;
        int32_t length = Number(word + 1, static_cast<size_t>(at - word - 1), 10, kind == 'r' ? 1 : 0, LONGEST);
        if (length < 0)
            return Fail(error, word, kind == 'r' ? "Länge 1 bis 65536" : "Länge 0 bis 65536");
        if (*at == '@') {
            std::string text(at + 1);
            address = static_cast<int>(Number(text.c_str(), text.size(), 16, 0x03, 0x77));
            if (address < 0)
                return Fail(error, word, "Adresse 03 bis 77 (hexadezimal)");
        } else if (address < 0) {
            return Fail(error, word, "die erste Nachricht braucht eine Adresse (@ADR)");
        }
        // Bounded before anything is held for it.
        if (total > LONGEST - length)
            return Fail(error, word, "eine Übertragung bewegt höchstens 65536 Bytes");
        if (messages->size() >= static_cast<size_t>(MOST_MESSAGES))
            return Fail(error, word, "höchstens 4096 Nachrichten in einer Übertragung");
        total += length;
        XferMessage message = {address, kind == 'r', std::vector<uint8_t>(static_cast<size_t>(length), 0)};
        for (int32_t byte = 0; kind == 'w' && byte < length;) {
            if (i >= count)
                return Fail(error, word, "zu wenige Bytes");
            const char* value = words[i++];
            size_t digits = 0;
            while (value[digits] && value[digits] != '=' && value[digits] != '+' && value[digits] != '-')
                digits++;
            int32_t number = Number(value, digits, 10, 0, 255);
            char fill = value[digits];
            if (number < 0 || (fill && value[digits + 1]))
                return Fail(error, value, "Byte 0 bis 255 (oder 0x00 bis 0xff), danach =, + oder -");
            // A byte with a suffix stands for the rest of the message.
            int step = fill == '+' ? 1 : fill == '-' ? -1 : 0;
            do {
                message.bytes[static_cast<size_t>(byte++)] = static_cast<uint8_t>(number);
                number += step;
            } while (fill && byte < length);
        }
        messages->push_back(message);
    }
    if (messages->empty())
        return Fail(error, "", "keine Nachricht angegeben");
    return true;
}

bool XferWrites(const std::vector<XferMessage>& messages)
{
    for (size_t i = 0; i < messages.size(); i++) {
        const XferMessage& message = messages[i];
        // One byte to the chip the next message reads sets its register
        // pointer: the register read that get makes without --write.
        bool pointer = message.bytes.size() == 1 && i + 1 < messages.size() && messages[i + 1].read &&
                       messages[i + 1].address == message.address;
        if (!message.read && !pointer)
            return true;
    }
    return false;
}
