// coupler-i2c.exe end to end on the virtual bus behind COM3 (EEPROM 0x50,
// port expander 0x20, temperature sensor 0x48): what the scan finds, a
// blocked and a freed bus, arguments refused before the port, EEPROM
// programming with backup and verify, nothing written without --write, INT,
// results apart from notes, the estimate and the same results behind a slow
// USB adapter, a write that fails half-way, and a pulled adapter.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "tests/support/console_run.h"
#include "tools/virtual-coupler/coupler_client.h"

namespace {

// Apart: standard output in output, standard error in errors.
ConsoleRun RunI2c(const std::string& arguments, bool apart = false,
              std::function<void(const std::string&, HANDLE)> watch = nullptr)
{
    return RunConsole(CT_I2C_EXE, "COM3 " + arguments, "", watch, apart);
}

// A job behind an adapter within the limit, made again (three times at most) while a busy PC
// stretched its echo measurement past the limit: such a job rightly refuses and proves nothing.
ConsoleRun RunI2cJudged(const std::string& arguments)
{
    return RunAgainWhile([&] { return RunI2c(arguments); },
                         [](const ConsoleRun& run) { return run.code == 2 && Has(run.output, "der Adapter meldet DSR"); });
}

// The addresses the scan's table shows as found, e.g. "20 48 50".
std::string Found(const std::string& output)
{
    std::string found;
    for (size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = output.substr(start, end - start);
        for (size_t at = 4; line.size() > 3 && line[1] == '0' && line[2] == ':' && at + 2 <= line.size();
             at += 3)
            if (line[at] != ' ' && line[at] != '-')
                found += (found.empty() ? "" : " ") + line.substr(at, 2);
    }
    return found;
}

void Save(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size()) << path;
    fclose(file);
}

std::string Eeprom()
{
    std::string bytes;
    EXPECT_TRUE(CouplerEeprom(3, &bytes));
    return bytes;
}

class I2cTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach() && CouplerReset() && CouplerPortPresent(3, true) &&
                    CouplerSetChips(3, CHIP_EEPROM | CHIP_EXPANDER | CHIP_SENSOR));
    }
};

TEST_F(I2cTest, ScanFindsTheChipsSwitchedOnAndFreesOrReportsAHeldBus)
{
    const struct {
        unsigned chips;
        CouplerFaultKind fault;
        CouplerBusFaultKind busFault;
        const char* arguments;
        DWORD code;
        const char* found;
        const char* text;  // a line of the output
    } cases[] = {
        {7, FAULT_NONE, BUS_OK, "scan", 0, "20 48 50", "0x50  EEPROM (24C01 bis 24C512)\n"},
        {5, FAULT_NONE, BUS_OK, "scan --all", 0, "48 50", "\n2 Bausteine gefunden"},
        {0, FAULT_NONE, BUS_OK, "scan --quiet", 0, "", "\n70: -- -- -- -- -- -- -- --\n"},
        {7, FAULT_NONE, BUS_NO_ACK, "scan", 0, "", "0 Bausteine gefunden"},
        {7, FAULT_NONE, BUS_STUCK_SLAVE, "scan", 0, "20 48 50", "SDA lag auf Masse: Bus mit Takten und STOP"},
        // DSR never on from the start: the coupler's supply or wiring, not a chip.
        {7, FAULT_SDA_STUCK_LOW, BUS_OK, "scan", 2, "", "coupler-i2c: DSR war nie an: Versorgung des Kopplers"},
        {7, FAULT_NONE, BUS_NO_PULLUP, "scan", 2, "", "coupler-i2c: DSR war nie an: Versorgung des Kopplers"},
        {7, FAULT_SDA_STUCK_HIGH, BUS_OK, "scan", 2, "", "coupler-i2c: SDA folgt DTR nicht (DSR bleibt an)\n"},
        {7, FAULT_NONE, BUS_OK, "scan 0x50 0x48", 2, "", "coupler-i2c: scan: 0x50 liegt hinter 0x48\n"},
        // Addresses are hexadecimal as the table prints them, 0x or not.
        {7, FAULT_NONE, BUS_OK, "scan 48 50", 0, "48 50", "\n2 Bausteine gefunden"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments + std::string(" fault ") + std::to_string(c.fault) + "/" + std::to_string(c.busFault));
        // One fault at a time: setting the bus's clears the coupler's.
        ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetChips(3, c.chips) &&
                    (c.busFault ? CouplerSetBusFault(3, c.busFault) : CouplerSetFault(3, c.fault)));
        ConsoleRun result = RunI2c(c.arguments);
        EXPECT_EQ(c.code, result.code);
        EXPECT_EQ(c.found, Found(result.output));
        EXPECT_TRUE(Has(result.output, c.text)) << result.output;
    }
    // The probe at 0x30-0x37 and 0x50-0x5F reads; elsewhere it writes.
    ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetChips(3, 7));
    CouplerBusLog(3);
    EXPECT_EQ(0u, RunI2c("scan 0x2f 0x51").code);
    std::string log = CouplerBusLog(3);
    for (const char* line : {"S 2F W N P\n", "S 30 R N P\n", "S 37 R N P\n", "S 38 W N P\n", "S 48 W A P\n",
                             "S 50 R A ", "S 51 R N P\n"})
        EXPECT_TRUE(Has(log, line)) << line << log;
    for (const char* write : {"S 30 W", "S 33 W", "S 37 W", "S 50 W", "S 51 W"})
        EXPECT_FALSE(Has(log, write)) << log;
}

TEST_F(I2cTest, ArgumentsAgainstTheChipsAndWritesWithoutWriteAreRefusedBeforeThePort)
{
    std::string image = TempPath("i2i"), old(256, '\x3c'), folder = "i2-kein-ordner/" + std::string(270, 'b');
    Save(image, std::string(16, '\x11'));
    // A backup's name past Windows' 259 characters: refused whole, never cut.
    std::string longBackup = "eeprom write %s --write --backup " + folder, longRefusal = "coupler-i2c: Sicherungsdatei " +
        folder + (WINDOWS_PROGRAMS ? u8": der Pfad ist länger als Windows hier erlaubt (259 Zeichen)\n" : ": den Ordner gibt es nicht\n");
    ASSERT_TRUE(CouplerSetEeprom(3, old));
    const struct {
        const char* arguments;  // %s: the image
        const char* line;       // the first line (%s: the image); exit code 2
    } cases[] = {
        // A page beyond the 24C02's 8 bytes wraps onto the page's start.
        {"eeprom write %s --offset 4 --page 16 --write",
         "coupler-i2c: --page 16: erlaubt sind 1, 2, 4 oder 8 (Seite des 24C02)\n"},
        // A word address sent to a port expander sets its outputs.
        {"eeprom read %s --address 0x20", "coupler-i2c: --address 0x20: EEPROMs liegen bei 50 bis 57\n"},
        {"get 48 --address 50", u8"coupler-i2c: --address gilt nur für eeprom read, write und verify\n"},
        {"eeprom write %s --count 4 --write", u8"coupler-i2c: --count gilt nur für eeprom read\n"},
        // The type sets size, page and the address bits a chip takes for its blocks.
        {"eeprom read %s --type 24c03", "coupler-i2c: --type 24c03: bekannt sind 24C01, 24C02, 24C04, 24C08, 24C16, "
                                        "24C32, 24C64, 24C128, 24C256 oder 24C512 (auch wie auf dem Baustein, z. B. AT24C256)\n"},
        // A chip's marking names the type it is taken for.
        {"eeprom read %s --type at24c02n-sh", "--type at24c02n-sh: als 24C02 genommen\n"},
        {"eeprom verify %s --type 24c08 --address 0x56",
         u8"coupler-i2c: --address 56: der 24C08 wählt mit den Bits der Adresse seine Blöcke (erlaubt 50, 54)\n"},
        {"eeprom read %s --type 24c01 --offset 120 --count 9",
         "coupler-i2c: --count 9: ab 120 hat der 24C01 noch 8 Bytes\n"},
        {"eeprom write %s --type 24c01 --offset 120 --write", "coupler-i2c: Datei %s: 1 bis 8 Bytes erwartet (24C01 ab 0x78)\n"},
        // A single write to an EEPROM has no page, write-cycle wait or verify.
        {"set 0x50 0x07 0x1234 w --write", u8"coupler-i2c: set: 0x50 ist ein EEPROM: dafür eeprom write DATEI --address 50\n"},
        {"get 78", "coupler-i2c: get: 78 passt nicht (Adresse 03 bis 77, hexadezimal)\n"},
        {"get 48 0 c", "coupler-i2c: get: c: unbekannte Breite (b: Byte, w: Wort)\n"},
        {"get 48 0 --type 24c256", "coupler-i2c: --type: 0x48 ist kein EEPROM (50 bis 57)\n"},
        {"dump 50 --type 24c02 --reg16", "coupler-i2c: --reg16: der 24C02 nimmt eine Wortadresse aus einem Byte\n"},
        // 0x51 may be a 24C16's block, which --address 51 would refuse.
        {"set 51 1", u8"coupler-i2c: set: 0x51 ist ein EEPROM: dafür eeprom write DATEI mit --type und --address (ein "
                     "24C04 bis 24C16 antwortet hier für einen Block: --offset wählt ihn)\n"},
        {"scan 08 7g", "coupler-i2c: scan: 7g passt nicht (Adresse 03 bis 77, hexadezimal)\n"},
        // A backup is never replaced, whatever it holds (here the image).
        {"eeprom write %s --backup %s --write",
         u8"coupler-i2c: Sicherungsdatei %s gibt es schon: sie wird nie überschrieben, einen neuen Namen angeben\n"},
        // Without --write nothing is written, and the port is not even touched.
        {"eeprom write %s --offset 5", "Ohne --write wird nichts geschrieben: 16 Bytes aus %s ab 0x05 in 0x50, Seiten "
                                       "zu 8 Bytes, vorher der alte Inhalt in eine Sicherungsdatei\n"},
        {"set 20 0x00", "Ohne --write wird nichts geschrieben: 0x00 an 0x20\n"},
        // Every file the job writes is checked before the chip is read: new
        // where it must be, in a folder that is there, named whole, its own.
        {"eeprom read %s", u8"coupler-i2c: Datei %s gibt es schon: sie wird nie überschrieben, einen neuen Namen angeben\n"},
        {"eeprom read i2-kein-ordner/neu.bin", "coupler-i2c: Datei i2-kein-ordner/neu.bin: den Ordner gibt es nicht\n"},
        {"eeprom read i2-neu.bin --trace ./i2-neu.bin",
         "coupler-i2c: --trace ./i2-neu.bin ist dieselbe Datei wie i2-neu.bin: die Spur braucht eine eigene\n"},
        {"eeprom write %s --trace %s --write", "coupler-i2c: --trace %s ist dieselbe Datei wie %s: die Spur braucht eine eigene\n"},
        {longBackup.c_str(), longRefusal.c_str()},
        {"xfer r65536@50 r1", u8"coupler-i2c: xfer: r1: eine Übertragung bewegt höchstens 65536 Bytes\n"},
    };
    int64_t requests = CouplerLineRequests(3);
    for (const auto& c : cases) {
        char arguments[700], line[700];
        snprintf(arguments, sizeof arguments, c.arguments, image.c_str(), image.c_str());
        snprintf(line, sizeof line, c.line, image.c_str(), image.c_str());
        SCOPED_TRACE(arguments);
        ConsoleRun result = RunI2c(arguments);
        EXPECT_EQ(2u, result.code);
        EXPECT_EQ(line, result.output.substr(0, result.output.find('\n') + 1));
    }
    EXPECT_EQ(requests, CouplerLineRequests(3));
    EXPECT_EQ(old, Eeprom());
    EXPECT_EQ(std::string(16, '\x11'), Slurp(image));
    DeleteFileA(image.c_str());
}

TEST_F(I2cTest, EepromWriteAcrossPagesKeepsTheOldContentAndVerifies)
{
    std::string old(256, 0), image = "ABCDEFGHIJKL", backup = TempPath("i2b"), backup2 = TempPath("i2c"),
                             file = TempPath("i2i");
    for (int i = 0; i < 256; i++)
        old[i] = static_cast<char>(i * 7 + 3);
    Save(file, image);
    DeleteFileA(backup.c_str());
    ASSERT_TRUE(CouplerSetEeprom(3, old));

    // Bytes 5 to 16 cross the page boundary at 8 and at 16; the verify reads
    // the three pages they touch, 0x00 to 0x17, where a wrap would show.
    CouplerBusLog(3);
    ConsoleRun result = RunI2c("eeprom write \"" + file + "\" --offset 5 --write --backup \"" + backup + "\"");
    EXPECT_EQ(0u, result.code) << result.output;
    std::string written = old.substr(0, 5) + image + old.substr(17);
    EXPECT_EQ(written, Eeprom());
    EXPECT_EQ(old, Slurp(backup));
    std::string log = CouplerBusLog(3);
    EXPECT_TRUE(Has(log, "S 50 W A 00 A Sr 50 R A 03 A 0A A 11 A 18 A 1F A 41 A 42 A 43 A 44 A 45 A 46 A 47 A 48 A "
                         "49 A 4A A 4B A 4C A 7A A 81 A 88 A 8F A 96 A 9D A A4 N P\n")) << log;

    // A write-protected chip takes the bytes but keeps its content.
    std::string now = Eeprom();
    ASSERT_TRUE(CouplerSetWriteProtect(3, true));
    result = RunI2c("eeprom write \"" + file + "\" --write --quiet --backup \"" + backup2 + "\"");
    EXPECT_EQ(1u, result.code);
    EXPECT_EQ(u8"Baustein 0x50: Schreibschutz: Daten angenommen, Inhalt unverändert (12 Bytes weichen ab, geprüft 0x00"
              " bis 0x0f); der alte Inhalt steht in " + backup2 + "\n", result.output);
    EXPECT_EQ(now, Eeprom());
    for (const std::string& path : {backup, backup2, file})
        DeleteFileA(path.c_str());
}

TEST_F(I2cTest, AWriteSkipsThePagesThatHoldTheFileAndAVerifyListsTheDifferences)
{
    // The chip's content with 3 bytes changed on 2 pages of 8: the backup's
    // read, then 2 page writes and the 2 pages read back; then nothing left
    // to write. The verify of a file unlike the chip in 20 bytes lists 16.
    std::string old(256, 0), file = TempPath("i2i"), backup = TempPath("i2b");
    for (int i = 0; i < 256; i++)
        old[i] = static_cast<char>(i * 7 + 3);
    std::string image = old;
    image[0x11] = 'a', image[0x12] = 'b', image[0xF0] = 'c';
    ASSERT_TRUE(CouplerSetEeprom(3, old));
    Save(file, image);
    const struct {
        std::string arguments;
        DWORD code;
        size_t pageWrites;  // on the bus
        std::string verified;  // the pages read back, the last ones on the bus
        std::string output;
    } cases[] = {
        {"eeprom write %s --write --backup %s", 0, 2,
         "S 50 W A 10 A Sr 50 R A 73 A 61 A 62 A 88 A 8F A 96 A 9D A A4 N P\n"
         "S 50 W A F0 A Sr 50 R A 63 A 9A A A1 A A8 A AF A B6 A BD A C4 N P\n",
         u8"256 Bytes ab 0x00 in 0x50 (24C02) stehen richtig: 2 von 32 Seiten geschrieben und geprüft, 30 stimmten schon\n"},
        {"eeprom write %s --write --backup %s", 0, 0, "",
         u8"256 Bytes ab 0x00 in 0x50 (24C02) stimmen schon mit %s überein: nichts geschrieben (32 Seiten)\n"},
        {"eeprom verify %s", 1, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        DeleteFileA(backup.c_str());
        if (c.code)
            Save(file, std::string(20, '\x3c') + image.substr(20));
        char arguments[600], output[600];
        snprintf(arguments, sizeof arguments, c.arguments.c_str(), file.c_str(), backup.c_str());
        snprintf(output, sizeof output, c.output.c_str(), file.c_str());
        CouplerBusLog(3);
        ConsoleRun result = RunI2c(arguments, true);
        EXPECT_EQ(c.code, result.code) << result.errors;
        std::string log = CouplerBusLog(3), expected = output;
        if (c.code) {
            const char* chip = "\x03\x0a\x11\x18\x1f\x26\x2d\x34\x3b\x42\x49\x50\x57\x5e\x65\x6c";
            for (int i = 0; i < 16; i++) {
                snprintf(output, sizeof output, "0x%02x: Datei 3c, Baustein %02x\n", i, chip[i] & 0xff);
                expected += output;
            }
            expected += u8"und 4 weitere\nVergleich: 20 Bytes weichen ab (geprüft 0x00 bis 0xff), das erste bei 0x00\n";
        }
        EXPECT_EQ(expected, result.output);
        EXPECT_EQ(c.pageWrites, Count(log, " A P\n")) << log;
        EXPECT_TRUE(Has(log, c.verified)) << log;
        EXPECT_EQ(c.code ? "" : c.pageWrites ? old : image, Slurp(backup));
    }
    for (const std::string& path : {backup, file})
        DeleteFileA(path.c_str());
}

TEST_F(I2cTest, XferSendsItsMessagesJoinedByRepeatedStarts)
{
    // The LM75's temperature (21.5 degrees: 15 80) and over-temperature
    // limit (80 degrees: 50 00), then the PCF8574's pins: one START, one STOP.
    const struct {
        std::string arguments;
        DWORD code;
        std::string output, log;  // the bus log: what went over the wire
    } cases[] = {
        // A one-byte write before a read of the same chip is a register read: no --write needed.
        {"xfer w1@48 0 r2", 0, "0x15 0x80\n", "S 48 W A 00 A Sr 48 R A 15 A 80 N P\n"},
        {"xfer w1@48 3 r2@20", 2, "Ohne --write wird nichts geschrieben: 1 Byte in 2 Nachrichten\n", ""},
        {"xfer r2@48", 0, "0x15 0x80\n", "S 48 R A 15 A 80 N P\n"},
        {"xfer w1@0x48 3 r2 r1@20", 0, "0x50 0x00\n0xff\n", "S 48 W A 03 A Sr 48 R A 50 A 00 N Sr 20 R A FF N P\n"},
        {"xfer w1@20 0x0f", 2, "Ohne --write wird nichts geschrieben: 1 Byte in 1 Nachricht\n", ""},
        {"xfer w1@20 0x0f --write r1", 0, "0x0f\n", "S 20 W A 0F A Sr 20 R A 0F N P\n"},
        // The pointer stays where the case before left it: 3, the limit.
        {"xfer r1@48 w2@33 1 2 --write -y", 1, "Baustein 0x33 antwortet nicht\n", "S 48 R A 50 N Sr 33 W N P\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        CouplerBusLog(3);
        ConsoleRun result = RunI2c(c.arguments);
        EXPECT_EQ(c.code, result.code);
        // A refused list is followed by the usage.
        EXPECT_EQ(c.output, result.output.substr(0, c.code == 2 ? result.output.find('\n') + 1 : std::string::npos));
        // The open and the close switch both lines in one request ("~").
        std::string log = CouplerBusLog(3);
        for (size_t at; (at = log.find("~\n")) != std::string::npos;)
            log.erase(at, 2);
        EXPECT_EQ(c.log, log);
    }
}

TEST_F(I2cTest, IntelHexFilesCarryTheirAddresses)
{
    // DE AD BE EF at 0x10 (checksum B4); a record at 0x8000 lies past a 24C256's 32 KiB.
    std::string image = TempPath("i2x") + ".hex", outside = TempPath("i2o") + ".hex", backup = TempPath("i2b");
    Save(image, ":04001000DEADBEEFB4\r\n:00000001FF\r\n");
    Save(outside, ":01800000AAD5\n:00000001FF\n");
    ASSERT_TRUE(CouplerSetEeprom(3, std::string(256, '\xff')));
    ConsoleRun result = RunI2c("eeprom write \"" + image + "\" --write --backup \"" + backup + "\" --quiet");
    EXPECT_EQ(0u, result.code) << result.output;
    EXPECT_EQ(std::string(16, '\xff') + "\xde\xad\xbe\xef" + std::string(236, '\xff'), Eeprom());
    int64_t before = CouplerLineRequests(3);
    result = RunI2c("eeprom write \"" + outside + "\" --type 24c256 --write");
    EXPECT_EQ(2u, result.code);
    EXPECT_TRUE(Has(result.output, u8": Zeile 1: Daten bei 0x8000 liegen außerhalb des EEPROMs (0x8000 Bytes)\n"))
        << result.output;
    EXPECT_EQ(before, CouplerLineRequests(3));
    for (const std::string& path : {image, outside, backup})
        DeleteFileA(path.c_str());
}

TEST_F(I2cTest, EveryTypeIsWrittenAcrossItsPagesAndBlocksAndReadBackEqual)
{
    // A range across page boundaries (a 24C16's across its blocks 0 and 1,
    // which answer at 0x50 and 0x51), saved by eeprom read from a chip that
    // holds it, written into the old content, compared, and seen on the bus.
    const struct {
        const char* type;
        int size, offset, count;
        const char* file;  // the image's file name's end: .hex carries the offsets
        const char* log;   // a page write's start as the bus saw it
    } cases[] = {
        {"24c01", 128, 0x76, 10, ".bin", "S 50 W A 78 A 82 A"},
        {"24C16", 2048, 0x0F8, 32, ".bin", "S 51 W A 00 A 88 A"},
        {"24c32", 4096, 0xFB0, 80, ".hex", "S 50 W A 0F A C0 A 90 A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        std::string old(static_cast<size_t>(c.size), 0), target, file = TempPath("i2f") + c.file,
                                                          backup = TempPath("i2b"), range = std::string(" --type ") + c.type;
        for (int i = 0; i < c.size; i++)
            old[static_cast<size_t>(i)] = static_cast<char>(i * 7 + 3);
        target = old;
        for (int i = 0; i < c.count; i++)
            target[static_cast<size_t>(c.offset + i)] = static_cast<char>(0x80 + i);
        // The records carry their offsets; raw bytes take --offset.
        std::string offset = " --offset " + std::to_string(c.offset), where = Has(c.file, "hex") ? "" : offset;
        ASSERT_TRUE(CouplerSetEepromType(3, c.type) && CouplerSetEeprom(3, target));
        ASSERT_EQ(0u, RunI2c("eeprom read \"" + file + "\"" + range + offset + " --count " + std::to_string(c.count)).code);
        ASSERT_TRUE(CouplerSetEeprom(3, old));
        CouplerBusLog(3);
        EXPECT_EQ(0u, RunI2c("eeprom write \"" + file + "\"" + range + where + " --write --backup \"" + backup + "\"").code);
        EXPECT_TRUE(Has(CouplerBusLog(3), c.log));
        EXPECT_TRUE(Eeprom() == target);
        EXPECT_TRUE(Slurp(backup) == old) << "the backup is the whole chip";
        EXPECT_EQ(0u, RunI2c("eeprom verify \"" + file + "\"" + range + where).code);
        for (const std::string& path : {file, backup})
            DeleteFileA(path.c_str());
    }
    // The chip answers at 0x50 only.
    EXPECT_EQ("Baustein 0x51 antwortet nicht\n", RunI2c("eeprom read x --type 24c32 --address 51 --quiet", true).errors);
}

TEST_F(I2cTest, JsonGivesOneObjectThatAJsonReaderTakes)
{
    std::string image = TempPath("i2j");
    Save(image, "\x3c\x3d");
    ASSERT_TRUE(CouplerSetEeprom(3, std::string(256, '\x3c')));
    const struct {
        std::string arguments;
        DWORD code;
        const char* expression;  // over the object d, and what it prints
        const char* says;        // natively, where a reader is at hand
    } cases[] = {
        {"scan --json", 0, "[c[\"address\"] for c in d[\"found\"]], d[\"error\"], d[\"adapter\"][\"echo_ms\"] >= 0",
         "[32, 72, 80] None True\n"},
        {"get 48 0 w --json", 0, "d[\"command\"], d[\"value\"], d[\"bits\"], d[\"exit_code\"], d[\"error_code\"]",
         "get 5504 16 0 None\n"},
        {"xfer w1@48 0 r2 --write --json", 0, "d[\"messages\"]", "[{'address': 72, 'read': False, 'bytes': [0]}, "
                                                                 "{'address': 72, 'read': True, 'bytes': [21, 128]}]\n"},
        {"eeprom verify " + image + " --json", 1, "d[\"command\"], d[\"differ\"], d[\"first_difference\"], d[\"error\"]",
         "eeprom verify 1 1 Vergleich: 1 Byte weicht ab (geprüft 0x00 bis 0x01), das erste bei 0x01\n"},
        // A failed job keeps its keys, null where not known.
        {"get 33 7 --json", 1, "d[\"exit_code\"], d[\"error\"], d[\"address\"], d[\"register\"], d[\"value\"], d[\"error_code\"]",
         "1 Baustein 0x33 antwortet nicht 51 7 None nack\n"},
        {"scan 50 48 --json", 2, "d[\"command\"], d[\"exit_code\"], d[\"error\"], d[\"adapter\"], d[\"error_code\"]",
         "scan 2 scan: 0x50 liegt hinter 0x48 None usage\n"},
        {"get 48 0 c --json", 2, "d[\"command\"], d[\"address\"], d[\"value\"], d[\"error_code\"]", "get None None usage\n"},
        {"eeprom write --json", 2, "d[\"command\"], d[\"error\"], d[\"error_code\"]",
         "eeprom write eeprom: falsche Zahl von Angaben usage\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        ConsoleRun result = RunI2c(c.arguments, true);
        EXPECT_EQ(c.code, result.code);
        // One line, one object; the people's words on standard error still.
        EXPECT_EQ(0u, result.output.find("{\"program\":\"coupler-i2c\",")) << result.output;
        EXPECT_EQ(1u, Count(result.output, "\n")) << result.output;
        EXPECT_EQ(WINDOWS_PROGRAMS ? "" : c.says, JsonSays(result.output, c.expression));
    }
    // A port that is not there: the object all the same.
    ASSERT_TRUE(CouplerPortPresent(3, false));
    ConsoleRun result = RunI2c("scan --json", true);
    EXPECT_EQ(2u, result.code);
    EXPECT_EQ(WINDOWS_PROGRAMS ? "" : "2 None True port_missing\n",
              JsonSays(result.output, "d[\"exit_code\"], d[\"adapter\"], len(d[\"error\"]) > 0, d[\"error_code\"]"));
    DeleteFileA(image.c_str());
}

TEST_F(I2cTest, SixteenBitRegistersAddressTheLargeEeproms)
{
    // A 24C256 takes its word address in two bytes, the high one first.
    std::string content(32768, '\xff');
    content[0x1234] = '\x5a', content[0x1235] = '\xa5';
    ASSERT_TRUE(CouplerSetEepromType(3, "24c256") && CouplerSetEeprom(3, content));
    CouplerBusLog(3);
    // --type says the width: get sends both bytes, dump starts at 0000.
    EXPECT_EQ("0x5a\n", RunI2c("get 50 0x1234 --type 24C256").output);
    EXPECT_TRUE(Has(CouplerBusLog(3), "S 50 W A 12 A 34 A Sr 50 R A 5A N P\n"));
    // Standard output alone: a busy machine may add the estimate on standard error.
    std::string dump = RunI2c("dump 50 --type 24c256", true).output;
    EXPECT_EQ("0000: ff", dump.substr(dump.find('\n') + 1, 8)) << dump;
    ConsoleRun result = RunI2c("dump 50 0x1230 --reg16", true);
    EXPECT_EQ("1230: ff ff ff ff 5a a5 ff ff ff ff ff ff ff ff ff ff    ....Z...........\n",
              result.output.substr(result.output.find('\n') + 1, 74));
    EXPECT_EQ(u8"coupler-i2c: --reg16 gilt nur für get, set und dump\n", RunI2c("scan --reg16").output.substr(0, 53));
}

TEST_F(I2cTest, ResultsHoldBehindASlowUsbAdapter)
{
    // A request that costs a quarter of the delay makes a sample timed from
    // SCL's fall instead of SDA's release come before the release shows.
    const struct {
        int delayMs, costMs, inputs;
        const char* port;  // what a read of the expander gives
    } adapters[] = {{0, 0, 0xF0, "0xf0\n"}, {16, 1, 0x3C, "0x3c\n"}, {16, 4, 0x0F, "0x0f\n"}};
    for (const auto& a : adapters) {
        SCOPED_TRACE("status delay " + std::to_string(a.delayMs) + " ms, " + std::to_string(a.costMs) + " ms a request");
        ASSERT_TRUE(CouplerSetAdapter(3, a.delayMs, a.costMs) && CouplerSetChips(3, 7));
        // 21.5 and -5.5 degrees: nine bits of half degrees, MSB first.
        // Addresses hexadecimal, 0x or not (48 is no 0x30); registers decimal or 0x.
        ASSERT_TRUE(CouplerSetTemperature(3, 43));
        EXPECT_EQ("0x1580\n", RunI2cJudged("get 48 0 w --quiet").output);
        ASSERT_TRUE(CouplerSetTemperature(3, -11));
        EXPECT_EQ("0xfa80\n", RunI2cJudged("get 0x48 0x00 w --quiet").output);
        // The expander's inputs pull INT until the port is read.
        ASSERT_TRUE(CouplerSetExpanderInputs(3, a.inputs));
        EXPECT_EQ("INT aktiv (auf Masse, CTS an)\n", RunI2cJudged("int").output);
        EXPECT_EQ(a.port, RunI2cJudged("get 0x20").output);
        EXPECT_EQ("INT in Ruhe (CTS aus)\n", RunI2cJudged("int").output);
        // A word written to a register (the over-temperature limit, 80 degC at
        // power-up, now 90 degC), and a byte read at random from the EEPROM.
        EXPECT_EQ("0x5000\n", RunI2cJudged("get 48 3 w").output);
        EXPECT_EQ("0x5a00 in Register 0x03 von 0x48 geschrieben\n", RunI2cJudged("set 48 3 0x5a00 w --write").output);
        EXPECT_EQ("0x5a00\n", RunI2cJudged("get 0x48 0x03 w").output);
        ASSERT_TRUE(CouplerSetEeprom(3, std::string(7, '\xff') + "\x5a" + std::string(248, '\xff')));
        EXPECT_EQ("0x5a\n", RunI2cJudged("get 50 7").output);
        EXPECT_EQ("48 50", Found(RunI2cJudged("scan 0x48 0x50").output));
    }
}

TEST_F(I2cTest, ResultsAloneOnStandardOutputAndTheEstimateHolds)
{
    // A freed bus is a note; the dump is the result (its rows: EveryDocumentedExample...).
    ASSERT_TRUE(CouplerSetBusFault(3, BUS_STUCK_SLAVE) && CouplerSetEeprom(3, std::string(256, '\xff')));
    ConsoleRun result = RunI2c("dump 50", true);
    EXPECT_TRUE(Has(result.output, "\nf0: ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff    ................\n"));
    // First on standard error; a busy PC, whose requests take longer, may announce the dump's time after it.
    EXPECT_EQ(0u, result.errors.find("SDA lag auf Masse: Bus mit Takten und STOP freigemacht\n")) << result.errors;

    // Behind an adapter whose status comes 8 ms late, at 1 ms a request, the
    // scan is announced, on standard error (its figures are proven on the
    // bus model's clock).
    ASSERT_TRUE(CouplerSetBusFault(3, BUS_OK) && CouplerSetAdapter(3, 8, 1));
    result = RunI2c("scan", true);
    EXPECT_EQ(0u, result.code);
    EXPECT_EQ("20 48 50", Found(result.output));
    EXPECT_FALSE(Has(result.output, "Das dauert")) << result.output;
    EXPECT_TRUE(Has(result.errors, "Das dauert etwa ")) << result.errors;
}

TEST_F(I2cTest, AWriteThatFailsHalfWaySaysHowFarAndWhereTheOldContentIs)
{
    std::string old(256, '\x77'), image, file = TempPath("i2i"), backup = TempPath("i2b"), readBack = TempPath("i2r");
    for (int i = 0; i < 200; i++)
        image += static_cast<char>(i);
    Save(file, image);
    // How many requests the backup's read takes, so that the adapter is
    // pulled some pages into the write that follows it.
    ASSERT_TRUE(CouplerSetEeprom(3, old));
    int64_t before = CouplerLineRequests(3);
    ASSERT_EQ(0u, RunI2c("eeprom read \"" + readBack + "\"").code);
    int64_t backupRequests = CouplerLineRequests(3) - before;
    const struct {
        char how;  // the adapter 'p'ulled, the EEPROM 'l'eaves the bus once it holds four new bytes, or 'r'efuses data
        const char* arguments;
        DWORD code;
        const char* why[2];  // either, as the chip leaves in a transfer or between
    } cases[] = {
        {'p', " --page 4 --quiet", 2, {"coupler-i2c: COM3: Leitungsaufruf fehlgeschlagen (Adapter entfernt?)", ""}},
        {'l', " --page 1", 1,
         {"coupler-i2c: Baustein 0x50 antwortet nicht", "coupler-i2c: Baustein 0x50: Schreibschutz: Daten nicht angenommen"}},
        // Write-protected as some makers do it: not a byte taken.
        {'r', " --quiet", 1, {"coupler-i2c: Baustein 0x50: Schreibschutz: Daten nicht angenommen", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetChips(3, 7) &&
                    CouplerSetEeprom(3, old) && (c.how != 'p' || CouplerVanishAfter(3, backupRequests + 800)) &&
                    (c.how != 'r' || CouplerSetWriteProtectMode(3, WP_REFUSE)));
        DeleteFileA(backup.c_str());
        int64_t closes = CouplerCloseCount(3);
        bool gone = false;
        ConsoleRun result = RunI2c("eeprom write \"" + file + "\" --write --backup \"" + backup + "\"" + c.arguments,
                                   true, [&](const std::string&, HANDLE) {
                                       gone = gone || c.how != 'l' || (Eeprom()[3] == 3 && CouplerSetChips(3, 6));
                                   });
        EXPECT_EQ(c.code, result.code);
        EXPECT_EQ("", result.output);
        // After the note (not when quiet) one line: why, how far, and the file
        // with the old content.
        // The estimates and, on a slow machine, progress lines in the pipe are not part of it.
        for (size_t at = 0, end; (end = result.errors.find('\n', at)) != std::string::npos;) {
            std::string line = result.errors.substr(at, end - at);
            if (Has(line, "dauer") || Has(line, "noch etwa"))
                result.errors.erase(at, end + 1 - at);
            else
                at = end + 1;
        }
        std::string note = Has(c.arguments, "quiet") ? "" : "Alter Inhalt von 0x50 in " + backup + " gesichert\n";
        ASSERT_EQ(note, result.errors.substr(0, note.size()));
        result.errors.erase(0, note.size());
        std::string why = result.errors.substr(0, result.errors.find("; ")),
                    tail = " von 200 Bytes ab 0x00 stehen auf dem Baustein (";
        EXPECT_TRUE(why == c.why[0] || why == c.why[1]) << result.errors;
        int written = atoi(result.errors.c_str() + why.size() + 2);
        EXPECT_EQ(std::to_string(written) + tail, result.errors.substr(why.size() + 2, std::to_string(written).size() + tail.size()))
            << result.errors;
        // Pages of 4 and 1 (--page), else of 8; each differs but byte 0x77's alone.
        int page = c.how == 'p' ? 4 : c.how == 'l' ? 1 : 8;
        EXPECT_TRUE(Has(result.errors, "(" + std::to_string(written / page) + " von " + std::to_string(200 / page - (page == 1)) +
                                           " abweichenden Seiten geschrieben), der alte Inhalt steht in " + backup + "\n"))
            << result.errors;
        EXPECT_TRUE(c.how == 'r' ? written == 0 : written > 0 && written < 200) << written;
        EXPECT_EQ(old, Slurp(backup));
        // What it says was written is, and past the page in flight nothing is.
        std::string now = Eeprom();
        EXPECT_EQ(image.substr(0, written), now.substr(0, written));
        EXPECT_EQ(old.substr(written + 8), now.substr(written + 8));
        // Where the port still answers, the bus is left idle: DTR and RTS on.
        EXPECT_TRUE(c.how == 'p' || (CouplerCloseCount(3) == closes + 1 && CouplerLinesAtClose(3) == 3))
            << CouplerCloseCount(3) - closes << " closes, lines " << CouplerLinesAtClose(3);
    }
    // A read that ends early keeps the bytes it read whole in a file of its own.
    std::string content = image + old.substr(200), part = readBack + ".teil";
    ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetChips(3, 7) &&
                CouplerSetEeprom(3, content) && CouplerVanishAfter(3, backupRequests / 2));
    for (const std::string& path : {readBack, part})
        DeleteFileA(path.c_str());
    ConsoleRun result = RunI2c("eeprom read \"" + readBack + "\"", true);
    EXPECT_EQ(2u, result.code);
    std::string line = result.errors.substr(result.errors.rfind("; ") + 2);
    int kept = atoi(line.c_str());
    EXPECT_EQ(std::to_string(kept) + " von 256 Bytes ab 0x00 in " + part + "\n", line) << result.errors;
    EXPECT_TRUE(kept > 32 && kept < 224) << kept;
    EXPECT_EQ(content.substr(0, static_cast<size_t>(kept)), Slurp(part));
    DeleteFileA(part.c_str());
    for (const std::string& path : {file, backup, readBack})
        DeleteFileA(path.c_str());
}

TEST_F(I2cTest, APulledOrRefusingAdapterEndsTheJobWithOneLine)
{
    ASSERT_TRUE(CouplerVanishAfter(3, 3000));
    ConsoleRun result = RunI2c("dump 0x50");
    EXPECT_EQ(2u, result.code);
    // One line for the end (a busy machine may have announced the job's time before it).
    std::string end = "coupler-i2c: COM3: Leitungsaufruf fehlgeschlagen (Adapter entfernt?)\n";
    EXPECT_EQ(end, result.output.substr(result.output.size() - std::min(end.size(), result.output.size())));
    // A driver that keeps the handshake on would leave SCL where it is.
    ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetAdapter(3, 0, 0, true));
    result = RunI2c("scan");
    EXPECT_EQ(2u, result.code);
    EXPECT_EQ(u8"coupler-i2c: COM3: Einstellung Handshake nicht übernommen\n", result.output);
    // A status 64 ms late is the adapter's, never a blocked bus.
    ASSERT_TRUE(CouplerSetAdapter(3, 64, 0));
    result = RunI2c("scan");
    EXPECT_EQ(2u, result.code);
    EXPECT_EQ("coupler-i2c: COM3: der Adapter meldet DSR erst nach ", result.output.substr(0, 52)) << result.output;
    EXPECT_TRUE(Has(result.output, u8" ms (höchstens 50 ms): seine Latenz verringern oder einen anderen Adapter nehmen\n"))
        << result.output;
}

TEST_F(I2cTest, TheAdapterSaysWhatItIsAndTheJobLeavesItsTrace)
{
    // Behind an adapter whose status comes 16 ms late, as an FTDI chip's does
    // at its default latency: the figures, a hint where to change that, and
    // the trace of the job.
    std::string trace = TempPath("i2t");
    ASSERT_TRUE(CouplerSetAdapter(3, 16, 0));
    ConsoleRun result = RunI2c("get 48 0 w --verbose --low-latency --trace \"" + trace + "\"", true);
    EXPECT_EQ(0u, result.code) << result.errors;
    EXPECT_EQ("0x1580\n", result.output);
    std::string hint = WINDOWS_PROGRAMS ? u8": hat der USB-Adapter einen Latenz-Zeitgeber (FTDI), ihn im Geräte-Manager"
                                          u8" unter Anschlusseinstellungen, Erweitert, auf 1 ms stellen\n"
                                        : u8": der Adapter meldet den Leitungszustand spät (ein Latenz-Zeitgeber ist in"
                                          u8" /sys nicht zu sehen)\n";
    std::string lowLatency = WINDOWS_PROGRAMS ? u8"coupler-i2c: --low-latency: unter Windows im Geräte-Manager"
                                              : "coupler-i2c: --low-latency: der Adapter hat keinen Latenz-Zeitgeber";
    EXPECT_EQ(lowLatency, result.errors.substr(0, lowLatency.size())) << result.errors;
    size_t at = result.errors.find("Hinweis: DSR kommt ");
    ASSERT_NE(std::string::npos, at) << result.errors;
    EXPECT_EQ(hint, result.errors.substr(result.errors.find(':', at + 9), hint.size())) << result.errors;
    // The echo is a bound: the adapter's 16 ms at least, more on a busy machine.
    size_t echo = result.errors.find(" ms, DSR folgt DTR nach ");
    ASSERT_TRUE(Has(result.errors, "Adapter: Schalten ") && echo != std::string::npos) << result.errors;
    EXPECT_GE(atof(result.errors.c_str() + echo + 24), 16.0) << result.errors;
    std::string dump = Slurp(trace);
    EXPECT_TRUE(Has(dump, "$timescale 1 us $end\n") && Has(dump, "$var wire 1 ! SCL $end\n$var wire 1 \" SDA $end\n"))
        << dump.substr(0, 300);
    // SCL (!) clocks the address twice, the register and two bytes: 45 rises at least.
    EXPECT_GE(Count(dump, "\n1!\n"), 45u) << dump.size();
    DeleteFileA(trace.c_str());

    // No hint for an adapter that answers at once; a trace that cannot be
    // written stops the job before the port.
    ASSERT_TRUE(CouplerSetAdapter(3, 0, 0));
    result = RunI2c("get 48 0 w --verbose", true);
    EXPECT_EQ(0u, result.code);
    EXPECT_FALSE(Has(result.errors, "Hinweis")) << result.errors;
    // --ftdi where no chip can be driven (no library, or no such chip): one line says why, and the
    // job runs through the serial port as without it.
    result = RunI2c("get 48 0 w --ftdi 7", true);
    EXPECT_EQ(0u, result.code) << result.errors;
    EXPECT_EQ("0x1580\n", result.output);
    EXPECT_EQ("coupler-i2c: --ftdi: ", result.errors.substr(0, 21)) << result.errors;
    EXPECT_TRUE(Has(result.errors, u8"; der Auftrag läuft über die serielle Schnittstelle\n")) << result.errors;
    EXPECT_EQ(1u, Count(result.errors, "\n")) << result.errors;
    int64_t before = CouplerLineRequests(3);
    result = RunI2c("get 48 0 --trace " + TempPath("i2n") + "/t.vcd");
    EXPECT_EQ(2u, result.code);
    EXPECT_EQ("coupler-i2c: Spur ", result.output.substr(0, 18)) << result.output;
    EXPECT_TRUE(Has(result.output, u8"/t.vcd lässt sich nicht schreiben: den Ordner gibt es nicht\n")) << result.output;
    EXPECT_EQ(before, CouplerLineRequests(3));
}

TEST_F(I2cTest, EveryDocumentedExampleGivesWhatItShows)
{
    // The examples of the usage (u), the manual page (m) and the read-me (r)
    // as written there, each run on the virtual bus (files: new names).
    std::string image = TempPath("i2e"), old = TempPath("i2a"), read = TempPath("i2n"), files = image + " " + old;
    Save(image, "neu");
    ASSERT_TRUE(CouplerSetEeprom(3, std::string(16, '\x42') + std::string(240, '\xff')));
    const struct {
        char where;
        const char* text;
        std::string arguments;
        std::string output;  // the start of standard output; exit code 0
    } cases[] = {
        {'u', "z. B. w1@48 0 r2", "COM3 xfer w1@48 0 r2", "0x15 0x80\n"},
        {'m', "coupler-i2c /dev/ttyUSB0 scan", "COM3 scan", "     0  1  2"},
        {'m', "coupler-i2c /dev/ttyUSB0 get 0x48 0 w", "COM3 get 0x48 0 w", "0x1580\n"},
        {'m', "coupler-i2c /dev/ttyUSB0 eeprom read inhalt.bin", "COM3 eeprom read " + read, "256 Bytes von 0x50"},
        {'m', "coupler-i2c /dev/ttyUSB0 eeprom write neu.bin --offset 6 --write --backup alt.bin",
         "COM3 eeprom write " + image + " --offset 6 --write --backup " + old, "3 Bytes ab 0x06 in 0x50 (24C02) "},
        {'m', "coupler-i2c /dev/ttyUSB0 dump 50 > inhalt.txt", "COM3 dump 50", "     0  1  2"},
        {'m', "z.~B.\n.BR \"xfer w1@48 0 r2\"", "COM3 xfer w1@48 0 r2", "0x15 0x80\n"},
        {'r', "coupler-i2c --help", "--help", "Aufruf: coupler-i2c "},
        {'r', "coupler-i2c COM3 xfer w1@48 0 r2 ", "COM3 xfer w1@48 0 r2", "0x15 0x80\n"},
        {'r', "`xfer w1@48 3 r2 r1@20` prints `0x50 0x00` and `0xff`", "COM3 xfer w1@48 3 r2 r1@20", "0x50 0x00\n0xff\n"},
        {'r', "`get 50` and `get 0x50` both read", "COM3 get 0x50", "0x42\n"},
        {'r', "coupler-i2c COM3 dump 50 > d.txt", "COM3 dump 50", "     0  1  2"},
        {'r', "coupler-i2c COM3 scan --json | python3", "COM3 scan --json", "{\"program\":\"coupler-i2c\",\"command\":\"scan\","},
        {'r', "`get 50 0x1234 --reg16`", "COM3 get 50 0x1234 --reg16", "0x5a\n"},
    };
    // Natively the texts are at hand: each example is in its text, and every
    // example of the manual page is in the table.
    std::string here = __FILE__, root = here.substr(0, here.rfind("tests")), manual = Slurp(root + "docs/man/coupler-i2c.1"),
                readMe = Slurp(root + "README.md"), usage = RunConsole(CT_I2C_EXE, "--help").output;
    for (size_t at; (at = manual.find('\\')) != std::string::npos;)
        manual.erase(at, 1);
    for (size_t at = 0; !WINDOWS_PROGRAMS && (at = manual.find("\ncoupler-i2c /dev/", at)) != std::string::npos;) {
        std::string line = manual.substr(at + 1, manual.find('\n', at + 1) - at - 1);
        at++;
        EXPECT_TRUE(std::any_of(std::begin(cases), std::end(cases), [&](const auto& c) { return line == c.text; }))
            << line;
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_TRUE(WINDOWS_PROGRAMS || Has(c.where == 'u' ? usage : c.where == 'm' ? manual : readMe, c.text));
        if (Has(c.text, "reg16")) {
            ASSERT_TRUE(CouplerSetEepromType(3, "24c256") &&
                        CouplerSetEeprom(3, std::string(0x1234, '\xff') + "\x5a" + std::string(0x8000 - 0x1235, '\xff')));
        }
        ConsoleRun run = RunConsole(CT_I2C_EXE, c.arguments, "", nullptr, true);
        EXPECT_EQ(0u, run.code) << run.errors;
        EXPECT_EQ(c.output, run.output.substr(0, c.output.size())) << run.output;
        // The result alone on standard output: the dump whole.
        EXPECT_TRUE(!Has(c.text, "dump") || Count(run.output, "\n") == 17) << run.output;
        EXPECT_TRUE(!Has(c.text, "neu.bin") || Eeprom().substr(6, 3) == "neu");
    }
    for (const std::string& path : {image, old, read})
        DeleteFileA(path.c_str());
}

TEST_F(I2cTest, AJobsMessagesGoToStandardErrorAndADumpSaysWhereItBegan)
{
    // The sensor's pointer left at 3 (the limit, 50 00) by the read before.
    EXPECT_EQ("0x5000\n", RunI2c("get 48 3 w").output);
    ConsoleRun run = RunI2c("dump 48", true);
    EXPECT_EQ("+00: 50 00 50 00", run.output.substr(run.output.find('\n') + 1, 16)) << run.output;
    EXPECT_TRUE(Has(run.errors, "ab dem Registerzeiger von 0x48 gelesen")) << run.errors;
    const struct {
        const char* arguments;
        DWORD code;
        const char* errors;  // the start of standard error; standard output empty
    } cases[] = {
        {"get 49 0", 1, "Baustein 0x49 antwortet nicht\n"},
        {"set 48 2 0x00", 2, "Ohne --write wird nichts geschrieben: 0x00 in Register 0x02 von 0x48\n"},
        {"get -y 48 0 -h", 0, ""},
    };
    for (const auto& c : cases) {
        run = RunI2c(c.arguments, true);
        EXPECT_EQ(c.code, run.code) << c.arguments;
        EXPECT_EQ(c.errors, run.errors.substr(0, strlen(c.errors))) << c.arguments;
        EXPECT_EQ(*c.errors ? "" : "Aufruf: coupler-i2c", run.output.substr(0, *c.errors ? 0 : 19)) << c.arguments;
    }
}

}  // namespace
