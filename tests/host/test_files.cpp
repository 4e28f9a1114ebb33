// What coupler-i2c reads from its command line and files and writes for
// machines: Intel HEX images, xfer's message lists, JSON, and how the job's
// files are checked and written. Expected values
// come from the formats' rules (Intel HEX: records ":LLAAAATT..CC", checksum
// the two's complement of the byte sum).
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "console/files.h"
#include "console/json.h"
#include "console/port.h"
#include "i2c/eeprom.h"
#include "i2ctool/duration.h"
#include "i2c/hexfile.h"
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
        // Records overlapping: the same value twice passes, another value is refused at its line.
        {":0300300002337A1E\n:01003100339B\n:020032007A1042\n:00000001FF\n", 256, true, "", 0x34,
         {0x30, 0x02, 0x31, 0x33, 0x32, 0x7A, 0x33, 0x10}},
        {":0300300002337A1E\n\n:01003100349A\n:00000001FF\n", 256, false,
         "Zeile 3: Byte bei 0x31 doppelt mit anderem Wert (0x34, vorher 0x33)", 0, {}},
        {":0300300002337A1F\n:00000001FF\n", 256, false, "Zeile 1: Prüfsumme falsch", 0, {}},
        {":0300300002337A1E\n", 256, false, "Zeile 1: das Ende (Satzart 01) fehlt", 0, {}},
        {":00000001FF\n:0100000000FF\n", 256, false, "Zeile 2: Datensatz nach dem Ende", 0, {}},
        {"0300300002337A1E\n:00000001FF\n", 256, false, "Zeile 1: kein Intel-HEX-Datensatz", 0, {}},
        {":0300300002337G1E\n:00000001FF\n", 256, false, "Zeile 1: keine Hexziffer", 0, {}},
        {":0400300002337A1E\n:00000001FF\n", 256, false, "Zeile 1: Länge passt nicht", 0, {}},
        {":0400000300003000C9\n:00000001FF\n", 256, true, "", 0, {}},
        // Extended addresses past any chip, whatever the width of the build's integers.
        {":02000004FFFFFC\n:10FFF0000000000000000000000000000000000001\n:00000001FF\n", 256, false,
         "Zeile 2: Daten bei 0xfffffff0 liegen außerhalb des EEPROMs (0x100 Bytes)", 0, {}},
        {":0200000480007A\n:01FFF000010F\n:00000001FF\n", 0x10000, false, "Zeile 2: Daten bei 0x8000fff0", 0, {}},
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

TEST(Duration, EstimatesInTheUnitsATechnicianReads)
{
    const struct {
        double ms;
        const char* words;
    } cases[] = {{0, "0 s"},           {44600, "45 s"},           {59500, "1 min"},    {380000, "6 min 20 s"},
                 {3599499, "59 min 59 s"}, {3599500, "1 h"}, {6540000, "1 h 49 min"}, {7170000, "2 h"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.words, DurationWords(c.ms)) << c.ms;
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
        {{"r65536@50", "w1", "0"}, "xfer: w1: eine Übertragung bewegt höchstens 65536 Bytes"},
        {{"w40000@50", "0=", "r30000"}, "xfer: r30000: eine Übertragung bewegt höchstens 65536 Bytes"},
        {std::vector<const char*>(4097, "r1@50"), "xfer: r1@50: höchstens 4096 Nachrichten"},
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

TEST(Json, TextsValidWhateverTheirBytesAndCutBetweenCharacters)
{
    const struct {
        const char* text;
        const char* valid;  // "?" stands for U+FFFD
        size_t whole;       // the length without a cut character at the end
    } cases[] = {
        {u8"Prüfplatz ä€", u8"Prüfplatz ä€", 16},
        {"a\xff\xfe", "a??", 2},
        {"\xc3", "?", 0},              // an umlaut's first byte alone
        {"x\xe2\x82", "x??", 1},        // a cut euro sign
        {"\xc0\xaf\xed\xa0\x80", "?????", 5},  // overlong slash, a surrogate
        {"\xf4\x90\x80\x80", "????", 4},       // past U+10FFFF
    };
    for (const auto& c : cases) {
        std::string expected;
        for (const char* v = c.valid; *v; v++)
            expected += *v == '?' ? std::string("\xef\xbf\xbd") : std::string(1, *v);
        EXPECT_EQ(expected, TextValid(c.text)) << c.text;
        EXPECT_EQ(c.whole, TextWhole(c.text, strlen(c.text))) << c.text;
        Json json;
        JsonString(&json, c.text);
        EXPECT_EQ("\"" + expected + "\"", json.text);
    }
}

// A folder of the test's own, removed at its end.
struct Folder {
    char path[20] = "/tmp/filesXXXXXX";
    bool made = mkdtemp(path) != nullptr;
    std::string operator+(const char* name) const { return std::string(path) + "/" + name; }
    ~Folder() { system(("rm -rf " + std::string(path)).c_str()); }
};
std::string Read(const std::string& path)
{
    std::string bytes(1 << 17, '\0');
    FILE* file = fopen(path.c_str(), "rb");
    bytes.resize(file ? fread(&bytes[0], 1, bytes.size(), file) : 0);
    return file && !fclose(file) ? bytes : "";
}

TEST(Files, EveryFileCheckedBeforeAndWrittenWholeWithoutReplacingAnother)
{
    Folder folder;
    ASSERT_TRUE(folder.made);
    ASSERT_EQ(0, mkfifo((folder + "pipe").c_str(), 0644));
    ASSERT_EQ(0, mkdir((folder + "dir").c_str(), 0755));
    ASSERT_EQ(FILE_SAVED, FileSave((folder + "old").c_str(), "alt", 3, true));
    const struct {
        std::string path;
        bool fresh, ok;
        const char* why;
    } cases[] = {
        {folder + "pipe", false, false, "ein Gerät oder eine Pipe, keine Datei"},
        {folder + "dir", false, false, "ein Ordner, keine Datei"},
        {folder + "none/x.bin", true, false, "den Ordner gibt es nicht"},
        {folder + "old", true, false, "gibt es schon: sie wird nie überschrieben"},
        {folder + "old", false, true, ""},
        {folder + "new", true, true, ""},
        {folder + std::string(300, 'n').c_str(), true, false, "der Name ist zu lang"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(c.ok, FileWritable(c.path.c_str(), c.fresh, &why)) << c.path;
        EXPECT_EQ(c.why, why.substr(0, strlen(c.why))) << c.path;
    }
    // A new file never replaces one; a replacing one does, whole.
    EXPECT_EQ(FILE_EXISTS, FileSave((folder + "old").c_str(), "neu", 3, true));
    EXPECT_EQ("alt", Read(folder + "old"));
    EXPECT_EQ(FILE_SAVED, FileSave((folder + "old").c_str(), "neuer", 5, false));
    EXPECT_EQ("neuer", Read(folder + "old"));
    EXPECT_EQ(FILE_NOT_SAVED, FileSave((folder + "none/x").c_str(), "x", 1, true));
    // Nothing left behind by the checks and saves: old, pipe and dir alone.
    EXPECT_EQ(0, system(("test $(ls -A " + std::string(folder.path) + " | wc -l) = 3").c_str()));

    // One file by any name; two names of no file are one when they resolve alike.
    ASSERT_EQ(0, link((folder + "old").c_str(), (folder + "dir/link").c_str()));
    EXPECT_TRUE(FileSame((folder + "old").c_str(), (folder + "dir/../dir/link").c_str()));
    EXPECT_TRUE(FileSame((folder + "a.vcd").c_str(), (folder + "dir/../a.vcd").c_str()));
    EXPECT_FALSE(FileSame((folder + "a.vcd").c_str(), (folder + "b.vcd").c_str()));
    EXPECT_FALSE(FileSame((folder + "old").c_str(), (folder + "dir/old").c_str()));
}

TEST(Files, StandardInputAndOutputCarryAnImageWhole)
{
    Folder folder;
    std::string image(70000, '\0'), text, out = folder + "out";
    for (size_t i = 0; i < image.size(); i++)
        image[i] = static_cast<char>(i * 7 + i / 256);
    // The file as fd 0 or 1 while run runs.
    auto As = [&](int stream, int flags, const std::function<bool()>& run) {
        int file = open(out.c_str(), flags, 0644), kept = dup(stream);
        bool done = file >= 0 && dup2(file, stream) == stream && run();
        return dup2(kept, stream), close(kept), close(file), done;
    };
    EXPECT_TRUE(As(1, O_CREAT | O_WRONLY, [&] { return FileWriteOutput(image.data(), image.size()); }) && Read(out) == image);
    EXPECT_FALSE(As(1, O_RDONLY, [&] { return FileWriteOutput("x", 1); }));
    // Whole within the limit, one byte past it where longer.
    for (const auto& c : {std::make_pair(70000, 70000), {69999, 70000}, {100, 101}})
        EXPECT_TRUE(As(0, O_RDONLY, [&] { return FileReadInput(&text, c.first); }) && text == image.substr(0, c.second)) << c.first;
    EXPECT_FALSE(As(0, O_WRONLY, [&] { return FileReadInput(&text, 10); }));
}

}  // namespace

TEST(EepromType, MarkingsOnChipsNameTheirTypeAndNoOther)
{
    const struct { const char* marking, *type; } cases[] = {  // type nullptr: none
        {"24c02", "24C02"},          {"AT24C256C-SSHL-T", "24C256"}, {"24LC256-I/P", "24C256"},
        {"24lc02b-i/sn", "24C02"},   {"M24C64-WMN6TP", "24C64"},     {"M24512-R", "24C512"},
        {"CAT24C16WI-GT3", "24C16"}, {"BR24G128FJ-3", "24C128"},     {"S-24C08DI", "24C08"},
        {"24AA01", "24C01"},         {"24FC512", "24C512"},          {"AT24CS32", "24C32"},
        {"24C021", nullptr},         {"24256", nullptr},             {"24AA02E48", nullptr},
        {"AT24C1024", nullptr},      {"24C02 ", nullptr},            {"QQ24C02", nullptr},
        {"24C02ABCDE", nullptr},     {"24C", nullptr},               {"AT24CM01", nullptr},
    };
    for (const auto& c : cases) {
        const EepromType* type = EepromTypeNamed(c.marking);
        EXPECT_STREQ(c.type, type ? type->name : nullptr) << c.marking;
    }
}

TEST(PortWord, ThePortsPlaceTakesAPathOrANameUnderDev)
{
    // Each word on the heap at its own length: the sanitizer stops a read past its end. Port "": refused.
    for (const auto& c : {std::make_pair("", ""), {"c", "/dev/c"}, {"com3:", ""}, {"COM12", ""}, {"-", ""}, {"./pty", "./pty"},
                          {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"ttyUSB0", "/dev/ttyUSB0"}, {"serial/by-id/x", "/dev/serial/by-id/x"}}) {
        std::vector<char> word(c.first, c.first + strlen(c.first) + 1);
        std::string port;
        char error[300] = "";
        EXPECT_EQ(*c.second != 0, PortArgument(word.data(), &port, error, sizeof error)) << c.first;
        EXPECT_EQ(c.second, port) << c.first;
    }
}

TEST(PortWord, ARefusedOpenIsAdvisedByTheNodesGroupAndModeNeverIntoRoot)
{
    // Access: mode, group, root's, owner, member, listed.
    const struct { PortAccess access; const char* advice; } cases[] = {
        {{0620, "root", true, false, false, false}, "Modus 620, Gruppe root: in die Gruppe root gehört kein Benutzer"},
        {{0000, "root", true, false, true, false}, "Modus 000: die Gruppe root, in der der Benutzer ist, darf nicht"},
        {{0000, "dialout", false, false, true, true}, "Modus 000: die Gruppe dialout, in der der Benutzer ist, darf nicht"},
        {{0460, "dialout", false, true, true, true}, "Modus 460: der Besitzer darf nicht"},
        {{0600, "dialout", false, false, false, false}, "Modus 600: auch die Gruppe dialout darf nicht"},
        {{0660, "dialout", false, false, false, true}, "der Benutzer ist in der Gruppe dialout eingetragen, diese Anmeldung aber"},
        {{0660, "uucp", false, false, false, false}, "den Benutzer in die Gruppe uucp aufnehmen (sudo adduser $USER uucp,"},
        {{0660, "dialout", false, false, true, false}, "Modus 660 erlaubt Lesen und Schreiben"},
    };
    for (const auto& c : cases) {
        std::string advice = PortDeniedAdvice(c.access, "/dev/ttyUSB0");
        EXPECT_EQ(c.advice, advice.substr(0, strlen(c.advice))) << advice;
        EXPECT_TRUE(advice.find("$USER root") == advice.npos && advice.find("GROUP=\"root") == advice.npos) << advice;
    }
}
