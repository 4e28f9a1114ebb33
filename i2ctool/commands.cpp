#include "i2ctool/commands.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/files.h"
#include "console/output.h"
#include "console/json.h"
#include "i2c/chips.h"
#include "i2c/eeprom.h"
#include "i2c/messages.h"
#include "i2ctool/hexfile.h"

namespace {

enum ExitCode { EXIT_DONE = 0, EXIT_REFUSED = 1, EXIT_CANNOT_RUN = 2 };

// A job longer than this says its estimate first.
constexpr double ANNOUNCE_MS = 2000;

// The file of eeprom write and verify, loaded by RunOffline for the process:
// its bytes at their offsets in the chip, which of them it gives, and the
// range from the first given to past the last.
std::vector<uint8_t> fileData;
std::vector<bool> fileGiven;
int fileFirst = 0, fileEnd = 0;
// eeprom write's backup file, named by RunOffline before the port opens (the
// given name, or a new one with the time) and taken by EepromProgram; with
// the default, its time and the number of names tried after the first.
std::string backupName, backupStamp;
int backupTried = 0;
// Progress of the running command: what is counted, how far, of how many.
const char* progressWhat = "";
int progressDone = 0, progressTotal = 0;

// The chip families that use an address, as a guess for the scan.
const struct {
    int first, last;
    const char* families;
} FAMILIES[] = {
    {0x20, 0x27, "Portbaustein (PCF8574, MCP23008, MCP23017)"},
    {0x30, 0x37, "Schreibschutz von SPD-EEPROMs"},
    {0x38, 0x3F, "Portbaustein (PCF8574A)"},
    {0x3C, 0x3D, "Anzeige (SSD1306)"},
    {0x40, 0x40, "Strommesser oder PWM-Baustein (INA219, PCA9685)"},
    {0x48, 0x4F, "Temperaturfühler (LM75) oder A/D-Wandler (PCF8591, ADS1115)"},
    {0x50, 0x57, "EEPROM (24C01 bis 24C512)"},
    {0x51, 0x51, "Uhr (PCF8563)"},
    {0x68, 0x68, "Uhr (DS1307, DS3231) oder Lagesensor (MPU-6050)"},
    {0x76, 0x77, "Luftdrucksensor (BMP280, BME280)"},
};

// Word addresses count as bytes moved too: the count stops at the total.
void Progress(void*)
{
    progressDone += progressDone < progressTotal;
    Say(SAY_NOTE_PROGRESS, "%s %d von %d", progressWhat, progressDone, progressTotal);
}
void ScanProgress(int) { Progress(nullptr); }

// Says the estimate when the job takes long, and counts the progress in total
// steps (bytes moved, when perByte).
void Plan(I2cMaster* master, const char* what, int total, const I2cWork& work, bool perByte)
{
    const Lines* lines = master->lines;
    double ms = I2cWorkMs(lines, work);
    if (ms > ANNOUNCE_MS)
        Say(SAY_NOTE, "Das dauert etwa %.0f s (%.2f ms je Schalten, %.2f ms je Abfrage, DSR folgt nach %.1f ms)",
            ms / 1000, LinesSwitchMs(lines), LinesSampleMs(lines), lines->echoMs);
    progressWhat = what;
    progressDone = 0;
    progressTotal = total;
    master->onByte = perByte ? Progress : nullptr;
}

I2cWork Sum(I2cWork a, const I2cWork& b)
{
    a.transfers += b.transfers, a.bytesRead += b.bytesRead, a.bytesWritten += b.bytesWritten, a.cycles += b.cycles;
    return a;
}

void JsonBytes(Json* out, const char* key, const uint8_t* data, int count)
{
    JsonKey(out, key), JsonArray(out);
    for (int i = 0; i < count; i++)
        JsonInt(out, data[i]);
    JsonEnd(out);
}

// The EEPROM a command works on, for the JSON object.
void JsonEeprom(Json* out, const I2cOptions& options, int offset, int count)
{
    JsonKey(out, "type"), JsonString(out, options.type->name);
    JsonKey(out, "address"), JsonInt(out, options.address);
    JsonKey(out, "offset"), JsonInt(out, offset);
    JsonKey(out, "count"), JsonInt(out, count);
}

void SayBackupExists(const char* path)
{
    Say(SAY_ERROR, "coupler-i2c: Sicherungsdatei %s gibt es schon: sie wird nie überschrieben,"
                   " einen neuen Namen angeben", path);
}

// An image file named *.hex is Intel HEX, any other raw bytes.
bool IsHex(const char* path)
{
    size_t length = strlen(path);
    std::string end = length >= 4 ? path + length - 4 : "";
    for (char& c : end)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return end == ".hex";
}

// The default backup's name: the chip and the time, and from the second try
// on a number, so that two runs in one second each get their own.
std::string DefaultBackup(int address, const char* stamp, int tried)
{
    char name[64];
    snprintf(name, sizeof name, tried ? "eeprom-%02x-%s-%d.bin" : "eeprom-%02x-%s.bin", address, stamp, tried + 1);
    return name;
}

// Writes a new file whole (an EEPROM image or a backup), never over one that
// exists; FILE_EXISTS unsaid, for the default backup to take the next name.
FileSaved SaveFile(const char* path, const uint8_t* data, int32_t size, int32_t offset)
{
    std::string hex = IsHex(path) ? HexFormat(data, size, offset) : "";
    FileSaved saved = IsHex(path) ? FileSave(path, hex.data(), hex.size(), true)
                                  : FileSave(path, data, static_cast<size_t>(size), true);
    if (saved == FILE_NOT_SAVED)
        Say(SAY_ERROR, "coupler-i2c: Datei %s lässt sich nicht schreiben", path);
    return saved;
}

// A command's end that is no success: its words, and its exit code.
struct Ending {
    int code;
    char words[300];
};

Ending Reason(const I2cMaster* master, I2cStatus status, const I2cOptions& options)
{
    Ending ending = {EXIT_CANNOT_RUN, ""};
    const char* words = "";
    switch (status) {
    case I2C_OK:
        ending.code = EXIT_DONE;
        break;
    case I2C_NACK:
        ending.code = EXIT_REFUSED;
        snprintf(ending.words, sizeof ending.words, "Baustein 0x%02x antwortet nicht", options.address);
        break;
    case I2C_NACK_DATA:
        ending.code = EXIT_REFUSED;
        snprintf(ending.words, sizeof ending.words, "Baustein 0x%02x nimmt ein Byte nicht an", options.address);
        break;
    case I2C_BLOCKED:
        words = "Bus blockiert (SDA bleibt auf Masse)";
        break;
    case I2C_SDA_STUCK_HIGH:
        words = "SDA folgt DTR nicht (DSR bleibt an)";
        break;
    case I2C_DSR_NEVER_HIGH:
        words = "DSR war nie an: Versorgung des Kopplers und DSR-Leitung prüfen"
                " (oder ein Baustein hält SDA auf Masse)";
        break;
    case I2C_ADAPTER_TOO_SLOW:
        snprintf(ending.words, sizeof ending.words,
                 "%s: der Adapter meldet DSR erst nach %.1f ms (höchstens %.0f ms):"
                 " seine Latenz verringern oder einen anderen Adapter nehmen",
                 options.port.c_str(), master->lines->longestEchoMs, ECHO_LIMIT_MS);
        break;
    case I2C_ADAPTER_UNSTEADY:
        snprintf(ending.words, sizeof ending.words,
                 "%s: der Adapter meldet DSR später als gemessen (Quittung zweimal gelesen, verschieden):"
                 " Ergebnis verworfen; seine Latenz verringern oder einen anderen Adapter nehmen",
                 options.port.c_str());
        break;
    case I2C_LINE_FAILED:
        if (LinesStopped(master->lines))
            words = "abgebrochen";
        else
            snprintf(ending.words, sizeof ending.words,
                     "%s: Leitungsaufruf fehlgeschlagen (Adapter entfernt?)", options.port.c_str());
        break;
    }
    if (*words)
        snprintf(ending.words, sizeof ending.words, "%s", words);
    // A long port name is cut between characters.
    ending.words[TextWhole(ending.words, strlen(ending.words))] = '\0';
    return ending;
}

// A write that began and did not end, in one line, also when quiet: why, how
// far it got, and which file holds the old content to write back.
int FailWriting(const I2cMaster* master, I2cStatus status, const I2cOptions& options, int written,
                const char* backup, Json* out)
{
    JsonKey(out, "written"), JsonInt(out, written);
    Ending ending = Reason(master, status, options);
    // A chip that took its address and the word address and refuses the data
    // is write-protected: some makers' parts answer WP so.
    if (status == I2C_NACK_DATA)
        snprintf(ending.words, sizeof ending.words, "Baustein 0x%02x: Schreibschutz: Daten nicht angenommen",
                 options.address);
    Say(SAY_ERROR, "coupler-i2c: %s; %d von %d Bytes ab 0x%02x geschrieben, der alte Inhalt steht in %s",
        ending.words, written, fileEnd - fileFirst, fileFirst, backup);
    return ending.code;
}

int ScanBus(I2cMaster* master, const I2cOptions& options, Json* out)
{
    int count = options.last - options.first + 1;
    Plan(master, "Adresse", count, {count, 0, 0, 0, 0}, false);
    bool found[128] = {};
    I2cStatus status = Scan(master, options.first, options.last, found, ScanProgress);
    if (status != I2C_OK)
        return Fail(master, status, options);
    Say(SAY_ALWAYS, "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f");
    for (int row = options.first & 0x70; row <= options.last; row += 16) {
        char line[60];
        int length = snprintf(line, sizeof line, "%02x:", row);
        for (int address = row; address < row + 16; address++)
            length += snprintf(line + length, sizeof line - length,
                               address < options.first || address > options.last ? "   "
                               : found[address]                                  ? " %02x"
                                                                                 : " --",
                               address);
        while (line[length - 1] == ' ')
            line[--length] = 0;
        Say(SAY_ALWAYS, "%s", line);
    }
    int chips = 0;
    JsonKey(out, "first"), JsonInt(out, options.first);
    JsonKey(out, "last"), JsonInt(out, options.last);
    JsonKey(out, "found"), JsonArray(out);
    for (int address = options.first; address <= options.last; address++) {
        if (!found[address])
            continue;
        char families[300] = "";
        for (const auto& f : FAMILIES)
            if (address >= f.first && address <= f.last)
                snprintf(families + strlen(families), sizeof families - strlen(families), "%s%s",
                         *families ? "; " : "", f.families);
        Say(SAY_NORMAL, "0x%02x  %s", address, *families ? families : "unbekannt");
        JsonObject(out);
        JsonKey(out, "address"), JsonInt(out, address);
        JsonKey(out, "guess"), *families ? JsonString(out, families) : JsonNull(out);
        JsonEnd(out);
        chips++;
    }
    JsonEnd(out);
    Say(SAY_NORMAL, "%d Baustein%s gefunden (Bezeichnungen vermutet)", chips, chips == 1 ? "" : "e");
    return EXIT_DONE;
}

int GetOrSet(I2cMaster* master, const I2cOptions& options, Json* out)
{
    uint8_t sent[4], in[2] = {};
    int count = 0;
    if (options.reg >= 0 && options.reg16)
        sent[count++] = static_cast<uint8_t>(options.reg >> 8);
    if (options.reg >= 0)
        sent[count++] = static_cast<uint8_t>(options.reg);
    bool set = options.command == COMMAND_SET;
    if (set && options.word)
        sent[count++] = static_cast<uint8_t>(options.value >> 8);
    if (set)
        sent[count++] = static_cast<uint8_t>(options.value);
    I2cStatus status = I2cTransfer(master, options.address, sent, count, in, set ? 0 : options.word ? 2 : 1);
    if (status != I2C_OK)
        return Fail(master, status, options);
    int value = set ? options.value : options.word ? in[0] << 8 | in[1] : in[0];
    JsonKey(out, "address"), JsonInt(out, options.address);
    JsonKey(out, "register"), options.reg >= 0 ? JsonInt(out, options.reg) : JsonNull(out);
    JsonKey(out, "bits"), JsonInt(out, options.word ? 16 : 8);
    JsonKey(out, "value"), JsonInt(out, value);
    if (set)
        Say(SAY_NORMAL, options.word ? "0x%04x an 0x%02x geschrieben" : "0x%02x an 0x%02x geschrieben",
            options.value, options.address);
    else
        Say(SAY_ALWAYS, options.word ? "0x%04x" : "0x%02x", value);
    return EXIT_DONE;
}

int Dump(I2cMaster* master, const I2cOptions& options, Json* out)
{
    constexpr int BYTES = 256;
    uint8_t data[BYTES];
    // A register is written only when given (or for an EEPROM, whose word
    // address is no data): on a port expander that byte would set the outputs.
    int start = options.reg < 0 && EepromAddress(options.address) ? 0 : options.reg;
    const uint8_t word[2] = {static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start)};
    int words = start < 0 ? 0 : options.reg16 ? 2 : 1;
    Plan(master, "Byte", BYTES, {1, BYTES, words, 0, 1}, true);
    I2cStatus status = Polled(master, options.address, word + 2 - words, words, data, BYTES);
    if (status != I2C_OK)
        return Fail(master, status, options);
    JsonKey(out, "address"), JsonInt(out, options.address);
    JsonKey(out, "register"), start >= 0 ? JsonInt(out, start) : JsonNull(out);
    JsonBytes(out, "bytes", data, BYTES);
    // Rows named by their register: four digits where registers have two bytes.
    int digits = options.reg16 ? 4 : 2;
    Say(SAY_ALWAYS, "%*s   0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef", digits, "");
    for (int row = 0; row < BYTES; row += 16) {
        char line[100], text[17] = "";
        int length = snprintf(line, sizeof line, "%0*x:", digits,
                              (row + (start > 0 ? start : 0)) & (options.reg16 ? 0xFFFF : 0xFF));
        for (int i = 0; i < 16; i++) {
            length += snprintf(line + length, sizeof line - length, " %02x", data[row + i]);
            text[i] = data[row + i] >= 0x20 && data[row + i] < 0x7F ? static_cast<char>(data[row + i]) : '.';
        }
        Say(SAY_ALWAYS, "%s    %s", line, text);
    }
    return EXIT_DONE;
}

// eeprom read: the chip from --offset on, --count bytes or to its end.
int EepromSave(I2cMaster* master, const I2cOptions& options, Json* out)
{
    const EepromType& type = *options.type;
    int count = options.count > 0 ? options.count : type.size - options.offset;
    std::vector<uint8_t> data(static_cast<size_t>(count));
    Plan(master, "Byte", count, EepromReadWork(type, options.offset, count), true);
    I2cStatus status = EepromReadRange(master, type, options.address, options.offset, data.data(), count);
    if (status != I2C_OK)
        return Fail(master, status, options);
    // Checked before the port; one made meanwhile is still not replaced.
    FileSaved saved = SaveFile(options.file, data.data(), count, options.offset);
    if (saved == FILE_EXISTS)
        Say(SAY_ERROR, "coupler-i2c: Datei %s ist inzwischen entstanden: sie wird nicht überschrieben", options.file);
    if (saved != FILE_SAVED)
        return EXIT_CANNOT_RUN;
    JsonEeprom(out, options, options.offset, count);
    JsonKey(out, "file"), JsonString(out, options.file);
    Say(SAY_NORMAL, "%d Bytes von 0x%02x (%s) ab 0x%02x in %s gelesen", count, options.address, type.name,
        options.offset, options.file);
    return EXIT_DONE;
}

// How the chip's bytes from..to differ from what the file gives there (and,
// for a write, from the old content): a compare's figures.
struct Compare {
    int differ = 0, first = -1;  // bytes unlike the file's, the first of them
    bool changed = false;        // any byte unlike the old content
    bool outside = false;        // a byte changed that the file does not give
};

Compare Compared(const uint8_t* chip, const uint8_t* old, int from, int to)
{
    Compare c;
    for (int i = to - 1; i >= from; i--) {
        bool given = fileGiven[static_cast<size_t>(i)];
        if (given && chip[i] != fileData[static_cast<size_t>(i)])
            c.differ++, c.first = i;
        if (old && chip[i] != old[i])
            c.changed = true, c.outside = c.outside || !given;
    }
    return c;
}

void JsonCompare(Json* out, const Compare& c, int from, int to)
{
    JsonKey(out, "checked_from"), JsonInt(out, from);
    JsonKey(out, "checked_to"), JsonInt(out, to - 1);
    JsonKey(out, "differ"), JsonInt(out, c.differ);
    JsonKey(out, "first_difference"), c.first >= 0 ? JsonInt(out, c.first) : JsonNull(out);
}

// eeprom verify: the bytes the file gives, compared with the chip's.
int EepromVerify(I2cMaster* master, const I2cOptions& options, Json* out)
{
    const EepromType& type = *options.type;
    int count = fileEnd - fileFirst;
    std::vector<uint8_t> chip(static_cast<size_t>(type.size));
    Plan(master, "Byte", count, EepromReadWork(type, fileFirst, count), true);
    I2cStatus status = EepromReadRange(master, type, options.address, fileFirst, chip.data() + fileFirst, count);
    if (status != I2C_OK)
        return Fail(master, status, options);
    Compare c = Compared(chip.data(), nullptr, fileFirst, fileEnd);
    JsonEeprom(out, options, fileFirst, count);
    JsonKey(out, "file"), JsonString(out, options.file);
    JsonCompare(out, c, fileFirst, fileEnd);
    if (c.differ) {
        Say(SAY_FAILED, "Vergleich: %d Bytes weichen ab (geprüft 0x%02x bis 0x%02x), das erste bei 0x%02x", c.differ,
            fileFirst, fileEnd - 1, c.first);
        return EXIT_REFUSED;
    }
    Say(SAY_NORMAL, "%d Bytes ab 0x%02x in 0x%02x (%s) stimmen mit %s überein", count, fileFirst, options.address,
        type.name, options.file);
    return EXIT_DONE;
}

// eeprom write: the whole chip into a new backup file, the file's bytes in
// page writes, and every page they touch read back and compared.
int EepromProgram(I2cMaster* master, const I2cOptions& options, Json* out)
{
    const EepromType& type = *options.type;
    const char* name = backupName.c_str();
    // The verify reads every page the write touches: a page write wraps within
    // the chip's page, so bytes outside the file's range can change too.
    int count = fileEnd - fileFirst;
    int from = fileFirst / type.page * type.page, to = (fileEnd - 1) / type.page * type.page + type.page;
    I2cWork work = Sum(Sum(EepromReadWork(type, 0, type.size), EepromWriteWork(type, fileFirst, count, options.page)),
                       EepromReadWork(type, from, to - from));
    Plan(master, "Byte", work.bytesRead + work.bytesWritten, work, true);
    std::vector<uint8_t> old(static_cast<size_t>(type.size)), back(static_cast<size_t>(type.size));
    JsonEeprom(out, options, fileFirst, count);
    JsonKey(out, "page"), JsonInt(out, options.page);
    I2cStatus status = EepromReadRange(master, type, options.address, 0, old.data(), type.size);
    if (status != I2C_OK)
        return Fail(master, status, options);
    // Nothing is written unless the old content is safe in its file; the
    // default name moves on past one another run took meanwhile.
    FileSaved saved = SaveFile(name, old.data(), type.size, 0);
    while (saved == FILE_EXISTS && !options.backup && backupTried < 99) {
        backupName = DefaultBackup(options.address, backupStamp.c_str(), ++backupTried);
        name = backupName.c_str();
        saved = SaveFile(name, old.data(), type.size, 0);
    }
    if (saved == FILE_EXISTS)
        SayBackupExists(name);
    if (saved != FILE_SAVED)
        return EXIT_CANNOT_RUN;
    JsonKey(out, "backup"), JsonString(out, name);
    Say(SAY_NOTE, "Alter Inhalt von 0x%02x in %s gesichert", options.address, name);
    int written = 0;
    status = EepromWriteRange(master, type, options.address, fileFirst, fileData.data() + fileFirst, count,
                              options.page, &written);
    if (status == I2C_OK)
        status = EepromReadRange(master, type, options.address, from, back.data() + from, to - from);
    if (status != I2C_OK)
        return FailWriting(master, status, options, written, name, out);
    JsonKey(out, "written"), JsonInt(out, count);
    Compare c = Compared(back.data(), old.data(), from, to);
    JsonCompare(out, c, from, to);
    if (c.differ && !c.changed) {
        // Every byte acknowledged and none changed: how other makers' parts
        // answer a write with WP tied high.
        Say(SAY_FAILED, "Baustein 0x%02x: Schreibschutz: Daten angenommen, Inhalt unverändert (%d Bytes weichen ab,"
            " geprüft 0x%02x bis 0x%02x); der alte Inhalt steht in %s", options.address, c.differ, from, to - 1, name);
        return EXIT_REFUSED;
    }
    if (c.differ) {
        Say(SAY_FAILED, "Vergleich: %d Bytes weichen ab (geprüft 0x%02x bis 0x%02x), das erste bei 0x%02x%s;"
            " der alte Inhalt steht in %s", c.differ, from, to - 1, c.first,
            c.outside ? " (außerhalb der Datei geändert: Seite des Bausteins kleiner?)" : "", name);
        return EXIT_REFUSED;
    }
    Say(SAY_NORMAL, "%d Bytes ab 0x%02x in 0x%02x (%s) geschrieben und verglichen", count, fileFirst,
        options.address, type.name);
    return EXIT_DONE;
}

int Interrupt(I2cMaster* master, Json* out)
{
    int active = LinesSample(master->lines, LINE_INT_IN);
    if (active < 0)
        return -1;
    JsonKey(out, "int_active"), JsonBool(out, active != 0);
    Say(SAY_ALWAYS, active ? "INT aktiv (auf Masse, CTS an)" : "INT in Ruhe (CTS aus)");
    return EXIT_DONE;
}

// xfer: the messages in one transfer; the bytes each read, a line each.
int Xfer(I2cMaster* master, const I2cOptions& options, Json* out)
{
    std::vector<XferMessage> messages = options.messages;
    std::vector<I2cMessage> list;
    int32_t total = 0;  // at most 65536: xfer's list is bounded
    I2cWork work = {1, 0, 0, 0, 0};
    for (XferMessage& message : messages) {
        int count = static_cast<int>(message.bytes.size());
        list.push_back({message.address, message.read, message.bytes.data(), count});
        total += count;
        (message.read ? work.bytesRead : work.bytesWritten) += count;
        work.bytesWritten++, work.answered++;  // its address
    }
    Plan(master, "Byte", total, work, true);
    int done = 0;
    I2cStatus status = I2cMessages(master, list.data(), static_cast<int>(list.size()), &done);
    if (status != I2C_OK) {
        // The refusal names the chip of the message it ended.
        I2cOptions failed = options;
        failed.address = messages[static_cast<size_t>(done < static_cast<int>(list.size()) ? done : 0)].address;
        return Fail(master, status, failed);
    }
    JsonKey(out, "messages"), JsonArray(out);
    for (const XferMessage& message : messages) {
        std::string line;
        for (uint8_t byte : message.bytes) {
            char text[8];
            snprintf(text, sizeof text, "%s0x%02x", line.empty() ? "" : " ", byte);
            line += text;
        }
        if (message.read)
            Say(SAY_ALWAYS, "%s", line.c_str());
        JsonObject(out);
        JsonKey(out, "address"), JsonInt(out, message.address);
        JsonKey(out, "read"), JsonBool(out, message.read);
        JsonBytes(out, "bytes", message.bytes.data(), static_cast<int>(message.bytes.size()));
        JsonEnd(out);
    }
    JsonEnd(out);
    return EXIT_DONE;
}

// Loads the image of eeprom write or verify: raw bytes from --offset on, or
// Intel HEX whose records carry their offsets (a write takes one run of
// bytes without gaps, a verify any). EXIT_DONE, else the exit code after
// saying why.
int LoadImage(const I2cOptions& options)
{
    const EepromType& type = *options.type;
    int room = type.size - options.offset;
    fileData.assign(static_cast<size_t>(type.size), 0);
    fileGiven.assign(static_cast<size_t>(type.size), false);
    std::string text, why;
    FILE* file = fopen(options.file, "rb");
    // One byte past the room (raw) or past a megabyte (HEX) tells a file too long.
    size_t limit = IsHex(options.file) ? (1u << 20) : static_cast<size_t>(room) + 1;
    for (int c; file && text.size() < limit && (c = fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    if (file)
        fclose(file);
    if (!file) {
        Say(SAY_ERROR, "coupler-i2c: Datei %s lässt sich nicht lesen", options.file);
        return EXIT_CANNOT_RUN;
    }
    if (!IsHex(options.file)) {
        if (text.empty() || static_cast<int>(text.size()) > room) {
            Say(SAY_ERROR, "coupler-i2c: Datei %s: 1 bis %d Bytes erwartet (%s ab 0x%02x)", options.file, room,
                type.name, options.offset);
            return EXIT_CANNOT_RUN;
        }
        memcpy(fileData.data() + options.offset, text.data(), text.size());
        fileFirst = options.offset;
        fileEnd = options.offset + static_cast<int>(text.size());
        std::fill(fileGiven.begin() + fileFirst, fileGiven.begin() + fileEnd, true);
        return EXIT_DONE;
    }
    HexImage image;
    if (!HexParse(text, type.size, &image, &why)) {
        Say(SAY_ERROR, "coupler-i2c: Datei %s: %s", options.file, why.c_str());
        return EXIT_CANNOT_RUN;
    }
    auto first = std::find(image.given.begin(), image.given.end(), true);
    bool whole = first != image.given.end() && std::find(first, image.given.end(), false) == image.given.end();
    const char* refused = first == image.given.end() ? "die Datei gibt keine Daten"
                          : options.offset           ? "die Datensätze tragen ihre Adressen, --offset passt nicht dazu"
                          : !whole && options.command == COMMAND_EEPROM_WRITE
                              ? "die Datensätze müssen einen Bereich ohne Lücke füllen"
                              : nullptr;
    if (refused) {
        Say(SAY_ERROR, "coupler-i2c: Datei %s: %s", options.file, refused);
        return EXIT_CANNOT_RUN;
    }
    fileFirst = static_cast<int>(first - image.given.begin());
    fileEnd = static_cast<int>(image.given.size());
    std::copy(image.data.begin(), image.data.end(), fileData.begin());
    std::copy(image.given.begin(), image.given.end(), fileGiven.begin());
    return EXIT_DONE;
}

// Every file the job writes, checked before the port opens, so that a chip
// is never read for a file that cannot take it: the destination of eeprom
// read and the backup are new files in a folder that takes them, and the
// trace is none of the job's other files. EXIT_DONE, else the exit code
// after saying why.
int CheckFiles(const I2cOptions& options)
{
    std::string why;
    const char* made = nullptr;  // the new file the job writes
    if (options.command == COMMAND_EEPROM_READ) {
        made = options.file;
    } else if (options.command == COMMAND_EEPROM_WRITE && options.backup) {
        backupName = options.backup;
        made = options.backup;
    } else if (options.command == COMMAND_EEPROM_WRITE) {
        time_t now = time(nullptr);
        char stamp[20];
        strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", localtime(&now));
        backupStamp = stamp;
        backupName = DefaultBackup(options.address, stamp, backupTried = 0);
        while (FileExists(backupName.c_str()) && backupTried < 99)
            backupName = DefaultBackup(options.address, stamp, ++backupTried);
        made = backupName.c_str();
    }
    // Refused before the port: a run after a failed write would otherwise
    // replace the good backup with what that write left.
    if (made && made == options.backup && FileExists(made)) {
        SayBackupExists(made);
        return EXIT_CANNOT_RUN;
    }
    if (made && made == options.file && FileExists(made)) {
        Say(SAY_ERROR, "coupler-i2c: Datei %s gibt es schon: sie wird nie überschrieben, einen neuen Namen angeben", made);
        return EXIT_CANNOT_RUN;
    }
    if (made && !FileWritable(made, true, &why)) {
        Say(SAY_ERROR, "coupler-i2c: %s %s: %s", made == options.file ? "Datei" : "Sicherungsdatei", made, why.c_str());
        return EXIT_CANNOT_RUN;
    }
    const char* trace = options.job.trace;
    const char* other = !trace ? nullptr
                        : made && FileSame(trace, made) ? made
                        : options.file && FileSame(trace, options.file) ? options.file
                                                                        : nullptr;
    if (other) {
        Say(SAY_ERROR, "coupler-i2c: --trace %s ist dieselbe Datei wie %s: die Spur braucht eine eigene", trace, other);
        return EXIT_CANNOT_RUN;
    }
    return EXIT_DONE;
}

}  // namespace

int RunOffline(I2cOptions& options)
{
    bool image = options.command == COMMAND_EEPROM_WRITE || options.command == COMMAND_EEPROM_VERIFY;
    if (image) {
        if (int code = LoadImage(options))
            return code;
    }
    if (int code = CheckFiles(options))
        return code;
    if (options.command == COMMAND_XFER && !options.write && XferWrites(options.messages)) {
        int bytes = 0;
        for (const XferMessage& message : options.messages)
            bytes += message.read ? 0 : static_cast<int>(message.bytes.size());
        Say(SAY_FAILED, "Ohne --write wird nichts geschrieben: %d Bytes in %d Nachrichten", bytes,
            static_cast<int>(options.messages.size()));
        return EXIT_CANNOT_RUN;
    }
    if (options.write || (options.command != COMMAND_SET && options.command != COMMAND_EEPROM_WRITE))
        return -1;
    int digits = options.word ? 4 : 2;
    if (options.command == COMMAND_SET && options.reg >= 0)
        Say(SAY_FAILED, "Ohne --write wird nichts geschrieben: 0x%0*x in Register 0x%02x von 0x%02x", digits,
            options.value, options.reg, options.address);
    else if (options.command == COMMAND_SET)
        Say(SAY_FAILED, "Ohne --write wird nichts geschrieben: 0x%0*x an 0x%02x", digits, options.value,
            options.address);
    else
        Say(SAY_FAILED,
            "Ohne --write wird nichts geschrieben: %d Bytes aus %s ab 0x%02x in 0x%02x, Seiten zu %d Bytes,"
            " vorher der alte Inhalt in eine Sicherungsdatei",
            fileEnd - fileFirst, options.file, fileFirst, options.address, options.page);
    return EXIT_CANNOT_RUN;
}

int RunOnBus(I2cMaster* master, const I2cOptions& options, Json* out)
{
    int code = EXIT_CANNOT_RUN;
    switch (options.command) {
    case COMMAND_SCAN:
        code = ScanBus(master, options, out);
        break;
    case COMMAND_GET:
    case COMMAND_SET:
        code = GetOrSet(master, options, out);
        break;
    case COMMAND_DUMP:
        code = Dump(master, options, out);
        break;
    case COMMAND_EEPROM_READ:
        code = EepromSave(master, options, out);
        break;
    case COMMAND_EEPROM_WRITE:
        code = EepromProgram(master, options, out);
        break;
    case COMMAND_EEPROM_VERIFY:
        code = EepromVerify(master, options, out);
        break;
    case COMMAND_INT:
        code = Interrupt(master, out);
        break;
    case COMMAND_XFER:
        code = Xfer(master, options, out);
        break;
    case COMMAND_NONE:
        break;
    }
    master->onByte = nullptr;
    return code < 0 ? Fail(master, I2C_LINE_FAILED, options) : code;
}

int Fail(const I2cMaster* master, I2cStatus status, const I2cOptions& options)
{
    Ending ending = Reason(master, status, options);
    // A chip that does not answer is the command's result; the rest is an error.
    if (ending.code == EXIT_REFUSED)
        Say(SAY_FAILED, "%s", ending.words);
    else if (ending.code != EXIT_DONE)
        Say(SAY_ERROR, "coupler-i2c: %s", ending.words);
    return ending.code;
}
