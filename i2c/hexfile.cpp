#include "i2c/hexfile.h"

#include <stdio.h>

namespace {

constexpr int RECORD_BYTES = 16;

int Digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool Fail(std::string* error, int line, const char* what)
{
    char text[160];
    snprintf(text, sizeof text, "Zeile %d: %s", line, what);
    *error = text;
    return false;
}

void Record(std::string* text, int type, int address, const uint8_t* bytes, int count)
{
    char line[64];
    int length = snprintf(line, sizeof line, ":%02X%04X%02X", count, address & 0xFFFF, type);
    unsigned sum = static_cast<unsigned>(count + (address >> 8 & 0xFF) + (address & 0xFF) + type);
    for (int i = 0; i < count; i++) {
        length += snprintf(line + length, sizeof line - length, "%02X", bytes[i]);
        sum += bytes[i];
    }
    snprintf(line + length, sizeof line - length, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    *text += line;
}

}  // namespace

bool HexParse(const std::string& text, int32_t limit, HexImage* image, std::string* error)
{
    image->data.clear();
    image->given.clear();
    // Offsets as the format gives them, up to 4 GiB: never negative, in every build.
    int64_t base = 0;
    bool ended = false;
    int number = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        number++;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty())
            continue;
        if (ended)
            return Fail(error, number, "Datensatz nach dem Ende (01)");
        if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0)
            return Fail(error, number, "kein Intel-HEX-Datensatz");
        std::vector<uint8_t> bytes;
        for (size_t i = 1; i < line.size(); i += 2) {
            int high = Digit(line[i]), low = Digit(line[i + 1]);
            if (high < 0 || low < 0)
                return Fail(error, number, "keine Hexziffer");
            bytes.push_back(static_cast<uint8_t>(high << 4 | low));
        }
        unsigned sum = 0;
        for (uint8_t byte : bytes)
            sum += byte;
        int count = bytes[0], type = bytes[3];
        int64_t address = bytes[1] << 8 | bytes[2];
        if (static_cast<int>(bytes.size()) != count + 5)
            return Fail(error, number, "Länge passt nicht zur Angabe");
        if (sum & 0xFF)
            return Fail(error, number, "Prüfsumme falsch");
        const uint8_t* payload = bytes.data() + 4;
        if (type == 0) {
            int64_t first = base + address;
            if (first + count > limit) {
                char what[100];
                snprintf(what, sizeof what, "Daten bei 0x%llx liegen außerhalb des EEPROMs (0x%x Bytes)",
                         static_cast<unsigned long long>(first < limit ? limit : first), static_cast<unsigned>(limit));
                return Fail(error, number, what);
            }
            if (image->data.size() < static_cast<size_t>(first + count)) {
                image->data.resize(static_cast<size_t>(first + count), 0xFF);
                image->given.resize(static_cast<size_t>(first + count), false);
            }
            for (int i = 0; i < count; i++) {
                size_t to = static_cast<size_t>(first + i);
                // Two records giving one byte two values: which one the
                // chip should get is the file's fault, not ours to guess.
                if (image->given[to] && image->data[to] != payload[i]) {
                    char what[100];
                    snprintf(what, sizeof what, "Byte bei 0x%llx doppelt mit anderem Wert (0x%02X, vorher 0x%02X)",
                             static_cast<unsigned long long>(to), payload[i], image->data[to]);
                    return Fail(error, number, what);
                }
                image->data[to] = payload[i];
                image->given[to] = true;
            }
        } else if (type == 1) {
            ended = true;
        } else if ((type == 2 || type == 4) && count == 2) {
            base = static_cast<int64_t>(payload[0] << 8 | payload[1]) << (type == 2 ? 4 : 16);
        } else if ((type == 3 || type == 5) && count == 4) {
            // A start address means nothing to an EEPROM.
        } else {
            return Fail(error, number, "unbekannte Satzart");
        }
    }
    if (!ended)
        return Fail(error, number, "das Ende (Satzart 01) fehlt");
    return true;
}

std::string HexFormat(const uint8_t* data, int32_t count, int32_t offset)
{
    std::string text;
    int64_t segment = -1;
    for (int32_t done = 0; done < count;) {
        int64_t at = static_cast<int64_t>(offset) + done;
        if (at >> 16 != segment) {
            segment = at >> 16;
            uint8_t upper[2] = {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)};
            if (segment || done)
                Record(&text, 4, 0, upper, 2);
        }
        // A record stays inside its 64 KiB segment.
        int32_t size = count - done < RECORD_BYTES ? count - done : RECORD_BYTES;
        int64_t room = 0x10000 - (at & 0xFFFF);
        size = size < room ? size : static_cast<int>(room);
        Record(&text, 0, static_cast<int>(at & 0xFFFF), data + done, size);
        done += size;
    }
    Record(&text, 1, 0, nullptr, 0);
    return text;
}
