// What coupler-i2c reads from its command line and files and writes for
// machines: Intel HEX images, xfer's message lists, and JSON. Expected values
// come from the formats' rules (Intel HEX: records ":LLAAAATT..CC", checksum
// the two's complement of the byte sum).
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/json.h"
#include "console/port.h"
#include "i2ctool/hexfile.h"
#include "i2ctool/xfer.h"

namespace {

TEST(HexFile, RecordsReadAndWrittenByTheFormatsRules)
{
    // Written: 16 bytes a record, an extended linear address where the 64 KiB
    // segment changes, the end record.
    std::vector<uint8_t> bytes(20);
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = static_cast<uint8_t>(i * 0x11);
    EXPECT_EQ(":08FFF800001122334455667725\r\n"
              ":020000040001F9\r\n"
              ":0C0000008899AABBCCDDEEFF1021324332\r\n"
              ":00000001FF\r\n",
              HexFormat(bytes.data(), 20, 0xFFF8));

    const struct {
        const char* text;
        int limit;
        bool ok;
        const char* error;         // part of the reason
        int size;                  // image size when read
        std::vector<int> given;    // offsets and their bytes, pairwise
    } cases[] = {
        {":0300300002337A1E\n:00000001FF\n", 256, true, "", 0x33, {0x30, 0x02, 0x31, 0x33, 0x32, 0x7A}},
        {":0300300002337A1E\r\n:00000001FF\r\n", 0x32, false, "Zeile 1: Daten bei 0x32 liegen außerhalb", 0, {}},
        // Segment 0x1000 (02) shifts by four bits: 0x10000 + 4.
        {":020000021000EC\n:01000400AB50\n:00000001FF\n", 0x20000, true, "", 0x10005, {0x10004, 0xAB}},
        {":020000040001F9\n:01000400AB50\n:00000001FF\n", 0x20000, true, "", 0x10005, {0x10004, 0xAB}},
        {":0300300002337A1F\n:00000001FF\n", 256, false, "Zeile 1: Prüfsumme falsch", 0, {}},
        {":0300300002337A1E\n", 256, false, "Zeile 1: das Ende (Satzart 01) fehlt", 0, {}},
        {":00000001FF\n:0100000000FF\n", 256, false, "Zeile 2: Datensatz nach dem Ende", 0, {}},
        {"0300300002337A1E\n:00000001FF\n", 256, false, "Zeile 1: kein Intel-HEX-Datensatz", 0, {}},
        {":0300300002337G1E\n:00000001FF\n", 256, false, "Zeile 1: keine Hexziffer", 0, {}},
        {":0400300002337A1E\n:00000001FF\n", 256, false, "Zeile 1: Länge passt nicht", 0, {}},
        {":0400000300003000C9\n:00000001FF\n", 256, true, "", 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        HexImage image;
        std::string error;
        EXPECT_EQ(c.ok, HexParse(c.text, c.limit, &image, &error));
        EXPECT_NE(std::string::npos, error.find(c.error)) << error;
        if (!c.ok)
            continue;
        EXPECT_EQ(static_cast<size_t>(c.size), image.data.size());
        EXPECT_EQ(static_cast<ptrdiff_t>(c.given.size() / 2), std::count(image.given.begin(), image.given.end(), true));
        for (size_t i = 0; i + 1 < c.given.size(); i += 2) {
            EXPECT_TRUE(image.given[static_cast<size_t>(c.given[i])]);
            EXPECT_EQ(c.given[i + 1], image.data[static_cast<size_t>(c.given[i])]);
        }
    }

    // A round trip across a segment's end keeps every byte and its place.
    std::vector<uint8_t> image(300);
    for (size_t i = 0; i < image.size(); i++)
        image[i] = static_cast<uint8_t>(i * 7 + 1);
    HexImage back;
    std::string error;
    ASSERT_TRUE(HexParse(HexFormat(image.data(), 300, 0xFF80), 0x10100, &back, &error)) << error;
    ASSERT_EQ(0xFF80u + 300, back.data.size());
    EXPECT_EQ(image, std::vector<uint8_t>(back.data.begin() + 0xFF80, back.data.end()));
    EXPECT_FALSE(back.given[0xFF7F]);
}

TEST(Xfer, MessageListsInTheKernelToolsGrammar)
{
    const struct {
        std::vector<const char*> words;
        const char* messages;  // "w50:00 10|r50*8", or the error's start
    } cases[] = {
        {{"w3@0x50", "0x00", "0x10", "0x20", "r8"}, "w50:00 10 20|r50*8"},
        {{"w4@20", "0xfe+"}, "w20:fe ff 00 01"},
        {{"w3@20", "2-"}, "w20:02 01 00"},
        {{"w3@20", "9="}, "w20:09 09 09"},
        {{"w0@50", "r1@51"}, "w50:|r51*1"},
        {{"R2@77"}, "r77*2"},
        {{"r1"}, "xfer: r1: die erste Nachricht braucht eine Adresse"},
        {{"w1@50", "1", "2"}, "xfer: 2: erwartet r oder w"},
        {{"r0@50"}, "xfer: r0@50: Länge 1 bis 65536"},
        {{"r65537@50"}, "xfer: r65537@50: Länge 1 bis 65536"},
        {{"w1@78", "1"}, "xfer: w1@78: Adresse 03 bis 77"},
        {{"w1@2", "1"}, "xfer: w1@2: Adresse 03 bis 77"},
        {{"w1@50", "256"}, "xfer: 256: Byte 0 bis 255"},
        {{"w1@50", "1=2"}, "xfer: 1=2: Byte 0 bis 255"},
        {{}, "xfer: : keine Nachricht"},
    };
    for (const auto& c : cases) {
        std::vector<XferMessage> messages;
        std::string error, text;
        bool ok = XferParse(c.words.data(), static_cast<int>(c.words.size()), &messages, &error);
        for (const XferMessage& m : messages) {
            char head[16];
            snprintf(head, sizeof head, "%s%c%02x%s", text.empty() ? "" : "|", m.read ? 'r' : 'w', m.address,
                     m.read ? "*" : ":");
            text += head;
            if (m.read)
                text += std::to_string(m.bytes.size());
            for (size_t i = 0; !m.read && i < m.bytes.size(); i++) {
                char byte[4];
                snprintf(byte, sizeof byte, "%s%02x", i ? " " : "", m.bytes[i]);
                text += byte;
            }
        }
        EXPECT_EQ(c.messages, ok ? text : error.substr(0, strlen(c.messages))) << (ok ? "" : error);
        EXPECT_EQ(ok && text.find('w') != std::string::npos, ok && XferWrites(messages)) << c.messages;
    }
}

TEST(Json, ValuesNestAndEscape)
{
    Json json;
    JsonObject(&json);
    JsonKey(&json, "gefunden");
    JsonArray(&json);
    JsonInt(&json, 0x20);
    JsonObject(&json);
    JsonKey(&json, "text");
    JsonString(&json, "a\"b\\c\n\x01");
    JsonKey(&json, "ok");
    JsonBool(&json, true);
    JsonEnd(&json);
    JsonNumber(&json, 0.125, 2);
    JsonNumber(&json, INFINITY, 1);
    JsonNull(&json);
    JsonEnd(&json);
    JsonEnd(&json);
    EXPECT_EQ("{\"gefunden\":[32,{\"text\":\"a\\\"b\\\\c\\u000a\\u0001\",\"ok\":true},0.12,null,null]}", json.text);
    EXPECT_TRUE(json.open.empty());
}

}  // namespace

TEST(PortWord, WordsShorterThanComAreReadNoFurtherThanTheirEnd)
{
    // Each on the heap at its own length: the sanitizer stops a read past its end. 1 a port, 0 none, -1 refused.
    for (const auto& c : {std::make_pair("", 0), {"c", 0}, {"co", 0}, {"com3:", -1}, {"/dev/ttyUSB0", 1}}) {
        std::vector<char> word(c.first, c.first + strlen(c.first) + 1);
        std::string port;
        char error[300] = "";
        EXPECT_EQ(c.second, PortArgument(word.data(), &port, error, sizeof error)) << c.first;
    }
}
