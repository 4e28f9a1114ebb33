#include "i2ctool/commands.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include "console/files.h"
#include "console/output.h"
#include "i2c/chips.h"
#include "i2c/messages.h"
#include "i2ctool/hexfile.h"

namespace {

enum ExitCode { EXIT_DONE = 0, EXIT_REFUSED = 1, EXIT_CANNOT_RUN = 2 };

// A job longer than this says its estimate first.
constexpr double ANNOUNCE_MS = 2000;
// The line requests of a probe, a byte read and a byte written, as switches
// and samples (docs/performance.md works them out: 30 with 2 samples, 28 with
// 9, 24 with 1). Each costs its own time, and a sample waits for the echo too.
struct Requests {
    int switches, samples;
};
constexpr Requests PROBE = {28, 2}, BYTE_READ = {19, 9}, BYTE_WRITTEN = {23, 1};
// A page's write cycle: the 24C02 takes up to 5 ms, and the next transfer's
// address is refused meanwhile (one probe's requests) before it is taken.
constexpr double WRITE_CYCLE_MS = 5;

// What a job moves, for its estimate.
struct Work {
    int probes, bytesRead, bytesWritten, pages;
};

// The file eeprom write takes, loaded by RunOffline for the process.
uint8_t fileData[EEPROM_BYTES];
int fileSize = 0;
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
    {0x50, 0x57, "EEPROM (24C02 und verwandte)"},
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
void Plan(I2cMaster* master, const char* what, int total, const Work& work, bool perByte)
{
    const Lines* lines = master->lines;
    int refused = work.pages;  // addresses refused during write cycles
    double switches = (work.probes + refused) * PROBE.switches + work.bytesRead * BYTE_READ.switches +
                      work.bytesWritten * BYTE_WRITTEN.switches;
    double samples = (work.probes + refused) * PROBE.samples + work.bytesRead * BYTE_READ.samples +
                     work.bytesWritten * BYTE_WRITTEN.samples;
    // A sample comes after the switch of SCL to high, which is part of its echo wait.
    double switchMs = LinesSwitchMs(lines), sampleMs = LinesSampleMs(lines), wait = lines->echoMs - switchMs;
    double ms = switches * switchMs + samples * (sampleMs + (wait > 0 ? wait : 0)) + work.pages * WRITE_CYCLE_MS;
    if (ms > ANNOUNCE_MS)
        Say(SAY_NOTE, "Das dauert etwa %.0f s (%.2f ms je Schalten, %.2f ms je Abfrage, DSR folgt nach %.1f ms)",
            ms / 1000, switchMs, sampleMs, lines->echoMs);
    progressWhat = what;
    progressDone = 0;
    progressTotal = total;
    master->onByte = perByte ? Progress : nullptr;
}

void SayBackupExists(const char* path)
{
    Say(SAY_ERROR, "coupler-i2c: Sicherungsdatei %s gibt es schon: sie wird nie überschrieben,"
                   " einen neuen Namen angeben", path);
}

// Writes the file whole; a new one (fresh) only where none exists, so that a
// backup is never replaced; a new file that could not be written whole goes.
// An image file named *.hex is Intel HEX, any other raw bytes.
bool IsHex(const char* path)
{
    size_t length = strlen(path);
    std::string end = length >= 4 ? path + length - 4 : "";
    for (char& c : end)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return end == ".hex";
}

bool SaveFile(const char* path, const uint8_t* data, int size, bool fresh)
{
    std::string hex = IsHex(path) ? HexFormat(data, size, 0) : "";
    FileSaved saved = IsHex(path) ? FileSave(path, hex.data(), static_cast<int>(hex.size()), fresh)
                                  : FileSave(path, data, size, fresh);
    if (saved == FILE_EXISTS)
        SayBackupExists(path);
    else if (saved == FILE_NOT_SAVED)
        Say(SAY_ERROR, "coupler-i2c: Datei %s lässt sich nicht schreiben", path);
    return saved == FILE_SAVED;
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
    return ending;
}

// A write that began and did not end, in one line, also when quiet: why, how
// far it got, and which file holds the old content to write back.
int FailWriting(const I2cMaster* master, I2cStatus status, const I2cOptions& options, int written,
                const char* backup)
{
    Ending ending = Reason(master, status, options);
    // A chip that took its address and the word address and refuses the data
    // is write-protected: some makers' parts answer WP so.
    if (status == I2C_NACK_DATA)
        snprintf(ending.words, sizeof ending.words, "Baustein 0x%02x: Schreibschutz: Daten nicht angenommen",
                 options.address);
    Say(SAY_ERROR, "coupler-i2c: %s; %d von %d Bytes ab 0x%02x geschrieben, der alte Inhalt steht in %s",
        ending.words, written, fileSize, options.offset, backup);
    return ending.code;
}

int ScanBus(I2cMaster* master, const I2cOptions& options)
{
    int count = options.last - options.first + 1;
    Plan(master, "Adresse", count, {count, 0, 0, 0}, false);
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
    for (int address = options.first; address <= options.last; address++) {
        if (!found[address])
            continue;
        char families[300] = "";
        for (const auto& f : FAMILIES)
            if (address >= f.first && address <= f.last)
                snprintf(families + strlen(families), sizeof families - strlen(families), "%s%s",
                         *families ? "; " : "", f.families);
        Say(SAY_NORMAL, "0x%02x  %s", address, *families ? families : "unbekannt");
        chips++;
    }
    Say(SAY_NORMAL, "%d Baustein%s gefunden (Bezeichnungen vermutet)", chips, chips == 1 ? "" : "e");
    return EXIT_DONE;
}

int GetOrSet(I2cMaster* master, const I2cOptions& options)
{
    uint8_t out[4], in[2] = {};
    int count = 0;
    if (options.reg >= 0 && options.reg16)
        out[count++] = static_cast<uint8_t>(options.reg >> 8);
    if (options.reg >= 0)
        out[count++] = static_cast<uint8_t>(options.reg);
    bool set = options.command == COMMAND_SET;
    if (set && options.word)
        out[count++] = static_cast<uint8_t>(options.value >> 8);
    if (set)
        out[count++] = static_cast<uint8_t>(options.value);
    I2cStatus status = I2cTransfer(master, options.address, out, count, in, set ? 0 : options.word ? 2 : 1);
    if (status != I2C_OK)
        return Fail(master, status, options);
    if (set)
        Say(SAY_NORMAL, options.word ? "0x%04x an 0x%02x geschrieben" : "0x%02x an 0x%02x geschrieben",
            options.value, options.address);
    else
        Say(SAY_ALWAYS, options.word ? "0x%02x%02x" : "0x%02x", in[0], in[1]);
    return EXIT_DONE;
}

int Dump(I2cMaster* master, const I2cOptions& options)
{
    uint8_t data[EEPROM_BYTES];
    Plan(master, "Byte", EEPROM_BYTES, {0, EEPROM_BYTES, 0, 0}, true);
    // A register is written only when given (or for an EEPROM, whose word
    // address is no data): on a port expander that byte would set the outputs.
    bool eeprom = options.command == COMMAND_EEPROM_READ || EepromAddress(options.address);
    int start = options.reg < 0 && eeprom ? 0 : options.reg;
    const uint8_t wide[2] = {static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start)};
    I2cStatus status = start < 0        ? I2cTransfer(master, options.address, nullptr, 0, data, EEPROM_BYTES)
                       : options.reg16 ? Polled(master, options.address, wide, 2, data, EEPROM_BYTES)
                                       : EepromRead(master, options.address, start, data, EEPROM_BYTES);
    if (status != I2C_OK)
        return Fail(master, status, options);
    if (options.command == COMMAND_EEPROM_READ) {
        if (!SaveFile(options.file, data, EEPROM_BYTES, false))
            return EXIT_CANNOT_RUN;
        Say(SAY_NORMAL, "%d Bytes von 0x%02x in %s gelesen", EEPROM_BYTES, options.address, options.file);
        return EXIT_DONE;
    }
    // Rows named by their register: four digits where registers have two bytes.
    int digits = options.reg16 ? 4 : 2;
    Say(SAY_ALWAYS, "%*s   0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef", digits, "");
    for (int row = 0; row < EEPROM_BYTES; row += 16) {
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

int EepromProgram(I2cMaster* master, const I2cOptions& options)
{
    char name[260];
    if (options.backup) {
        snprintf(name, sizeof name, "%s", options.backup);
    } else {
        time_t now = time(nullptr);
        char stamp[20];
        strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", localtime(&now));
        snprintf(name, sizeof name, "eeprom-%02x-%s.bin", options.address, stamp);
    }
    // The verify reads every page the write touches: a page write wraps within
    // the chip's page, so bytes outside the file's range can change too.
    int end = options.offset + fileSize;
    int from = options.offset / EEPROM_PAGE * EEPROM_PAGE, to = (end - 1) / EEPROM_PAGE * EEPROM_PAGE + EEPROM_PAGE;
    int pages = (end - 1) / options.page - options.offset / options.page + 1;
    uint8_t old[EEPROM_BYTES], back[EEPROM_BYTES], want[EEPROM_BYTES];
    Plan(master, "Byte", EEPROM_BYTES + fileSize + (to - from), {0, EEPROM_BYTES + (to - from), fileSize, pages},
         true);
    I2cStatus status = EepromRead(master, options.address, 0, old, EEPROM_BYTES);
    if (status != I2C_OK)
        return Fail(master, status, options);
    // Nothing is written unless the old content is safe in its file.
    if (!SaveFile(name, old, EEPROM_BYTES, true))
        return EXIT_CANNOT_RUN;
    Say(SAY_NOTE, "Alter Inhalt von 0x%02x in %s gesichert", options.address, name);
    int written = 0;
    status = EepromWriteCounted(master, options.address, options.offset, fileData, fileSize, options.page, &written);
    if (status == I2C_OK)
        status = EepromRead(master, options.address, from, back + from, to - from);
    if (status != I2C_OK)
        return FailWriting(master, status, options, written, name);
    memcpy(want, old, sizeof want);
    memcpy(want + options.offset, fileData, static_cast<size_t>(fileSize));
    int differ = 0, first = -1;
    bool changed = false, outside = false;
    for (int i = to - 1; i >= from; i--) {
        if (back[i] != want[i])
            differ++, first = i;
        if (back[i] != old[i])
            changed = true, outside = outside || i < options.offset || i >= end;
    }
    if (differ) {
        Say(SAY_ALWAYS, "Vergleich: %d Bytes weichen ab (geprüft 0x%02x bis 0x%02x), das erste bei 0x%02x%s;"
            " der alte Inhalt steht in %s", differ, from, to - 1, first,
            outside    ? " (außerhalb der Datei geändert: Seite des Bausteins kleiner?)"
            : !changed ? " (Schreibschutz?)"
                       : "",
            name);
        return EXIT_REFUSED;
    }
    Say(SAY_NORMAL, "%d Bytes ab 0x%02x in 0x%02x geschrieben und verglichen", fileSize, options.offset,
        options.address);
    return EXIT_DONE;
}

int Interrupt(I2cMaster* master)
{
    int active = LinesSample(master->lines, LINE_INT_IN);
    if (active < 0)
        return -1;
    Say(SAY_ALWAYS, active ? "INT aktiv (auf Masse, CTS an)" : "INT in Ruhe (CTS aus)");
    return EXIT_DONE;
}

}  // namespace

namespace {

// Loads an Intel HEX file to write: one run of bytes, which carries its own
// offset; EXIT_DONE, else the exit code after saying why.
int LoadHex(I2cOptions& options)
{
    std::string text, why;
    FILE* file = fopen(options.file, "rb");
    for (int c; file && (c = fgetc(file)) != EOF && text.size() < (1u << 20);)
        text += static_cast<char>(c);
    if (file)
        fclose(file);
    HexImage image;
    if (!file || !HexParse(text, EEPROM_BYTES, &image, &why)) {
        Say(SAY_ERROR, file ? "coupler-i2c: Datei %s: %s" : "coupler-i2c: Datei %s lässt sich nicht lesen",
            options.file, why.c_str());
        return EXIT_CANNOT_RUN;
    }
    size_t first = std::find(image.given.begin(), image.given.end(), true) - image.given.begin();
    size_t last = image.given.size();
    bool whole = first < last && std::find(image.given.begin() + first, image.given.end(), false) == image.given.end();
    if (!whole || options.offset) {
        Say(SAY_ERROR, whole ? "coupler-i2c: Datei %s: die Datensätze tragen ihre Adressen, --offset passt nicht dazu"
                             : "coupler-i2c: Datei %s: die Datensätze müssen einen Bereich ohne Lücke füllen",
            options.file);
        return EXIT_CANNOT_RUN;
    }
    options.offset = static_cast<int>(first);
    fileSize = static_cast<int>(last - first);
    memcpy(fileData, image.data.data() + first, static_cast<size_t>(fileSize));
    return EXIT_DONE;
}

}  // namespace

int RunOffline(I2cOptions& options)
{
    if (options.command == COMMAND_EEPROM_WRITE && IsHex(options.file)) {
        if (int code = LoadHex(options))
            return code;
    } else if (options.command == COMMAND_EEPROM_WRITE) {
        FILE* file = fopen(options.file, "rb");
        fileSize = file ? static_cast<int>(fread(fileData, 1, sizeof fileData, file)) : -1;
        bool longer = file && fgetc(file) != EOF;
        if (file)
            fclose(file);
        if (fileSize < 1 || longer || options.offset + fileSize > EEPROM_BYTES) {
            Say(SAY_ERROR,
                fileSize < 0 ? "coupler-i2c: Datei %s lässt sich nicht lesen"
                             : "coupler-i2c: Datei %s: 1 bis %d Bytes erwartet",
                options.file, EEPROM_BYTES - options.offset);
            return EXIT_CANNOT_RUN;
        }
    }
    if (options.command == COMMAND_EEPROM_WRITE) {
        // Refused before the port: a run after a failed write would otherwise
        // replace the good backup with what that write left.
        if (options.backup && FileExists(options.backup)) {
            SayBackupExists(options.backup);
            return EXIT_CANNOT_RUN;
        }
    }
    if (options.command == COMMAND_XFER && !options.write && XferWrites(options.messages)) {
        int bytes = 0;
        for (const XferMessage& message : options.messages)
            bytes += message.read ? 0 : static_cast<int>(message.bytes.size());
        Say(SAY_ALWAYS, "Ohne --write wird nichts geschrieben: %d Bytes in %d Nachrichten", bytes,
            static_cast<int>(options.messages.size()));
        return EXIT_CANNOT_RUN;
    }
    if (options.write || (options.command != COMMAND_SET && options.command != COMMAND_EEPROM_WRITE))
        return -1;
    int digits = options.word ? 4 : 2;
    if (options.command == COMMAND_SET && options.reg >= 0)
        Say(SAY_ALWAYS, "Ohne --write wird nichts geschrieben: 0x%0*x in Register 0x%02x von 0x%02x", digits,
            options.value, options.reg, options.address);
    else if (options.command == COMMAND_SET)
        Say(SAY_ALWAYS, "Ohne --write wird nichts geschrieben: 0x%0*x an 0x%02x", digits, options.value,
            options.address);
    else
        Say(SAY_ALWAYS,
            "Ohne --write wird nichts geschrieben: %d Bytes aus %s ab 0x%02x in 0x%02x, Seiten zu %d Bytes,"
            " vorher der alte Inhalt in eine Sicherungsdatei",
            fileSize, options.file, options.offset, options.address, options.page);
    return EXIT_CANNOT_RUN;
}

namespace {

// xfer: the messages in one transfer; the bytes each read, a line each.
int Xfer(I2cMaster* master, const I2cOptions& options)
{
    std::vector<XferMessage> messages = options.messages;
    std::vector<I2cMessage> list;
    int total = 0;
    for (XferMessage& message : messages) {
        list.push_back({message.address, message.read, message.bytes.data(), static_cast<int>(message.bytes.size())});
        total += static_cast<int>(message.bytes.size());
    }
    Plan(master, "Byte", total, {0, total, 0, 0}, true);
    int done = 0;
    I2cStatus status = I2cMessages(master, list.data(), static_cast<int>(list.size()), &done);
    if (status != I2C_OK) {
        // The refusal names the chip of the message it ended.
        I2cOptions failed = options;
        failed.address = messages[static_cast<size_t>(done < static_cast<int>(list.size()) ? done : 0)].address;
        return Fail(master, status, failed);
    }
    for (const XferMessage& message : messages) {
        std::string line;
        for (uint8_t byte : message.bytes) {
            char text[8];
            snprintf(text, sizeof text, "%s0x%02x", line.empty() ? "" : " ", byte);
            line += text;
        }
        if (message.read)
            Say(SAY_ALWAYS, "%s", line.c_str());
    }
    return EXIT_DONE;
}

}  // namespace

int RunOnBus(I2cMaster* master, const I2cOptions& options)
{
    int code = EXIT_CANNOT_RUN;
    switch (options.command) {
    case COMMAND_SCAN:
        code = ScanBus(master, options);
        break;
    case COMMAND_GET:
    case COMMAND_SET:
        code = GetOrSet(master, options);
        break;
    case COMMAND_DUMP:
    case COMMAND_EEPROM_READ:
        code = Dump(master, options);
        break;
    case COMMAND_EEPROM_WRITE:
        code = EepromProgram(master, options);
        break;
    case COMMAND_INT:
        code = Interrupt(master);
        break;
    case COMMAND_XFER:
        code = Xfer(master, options);
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
        Say(SAY_ALWAYS, "%s", ending.words);
    else if (ending.code != EXIT_DONE)
        Say(SAY_ERROR, "coupler-i2c: %s", ending.words);
    return ending.code;
}
