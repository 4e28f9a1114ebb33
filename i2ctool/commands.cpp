#include "i2ctool/commands.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "console/output.h"
#include "i2c/chips.h"
#include "i2c/messages.h"

namespace {

enum ExitCode { EXIT_DONE = 0, EXIT_REFUSED = 1, EXIT_CANNOT_RUN = 2 };

// A job longer than this says its estimate first.
constexpr double ANNOUNCE_MS = 2000;
constexpr int EEPROM_SIZE = 256;
// Line requests and samples after a change, per probe and per byte read or
// written (docs/performance.md works them out).
constexpr int PROBE_REQUESTS = 30, PROBE_SAMPLES = 2;
constexpr int READ_REQUESTS = 28, READ_SAMPLES = 9;
constexpr int WRITE_REQUESTS = 24, WRITE_SAMPLES = 1;

// The file eeprom write takes, loaded by RunOffline for the process.
uint8_t fileData[EEPROM_SIZE];
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
    Say(SAY_PROGRESS, "%s %d von %d", progressWhat, progressDone, progressTotal);
}
void ScanProgress(int) { Progress(nullptr); }

// Says the estimate when the job takes long, and counts the progress in total
// steps (bytes moved, when perByte).
void Plan(I2cMaster* master, const char* what, int total, double requests, double samples, bool perByte)
{
    const Lines* lines = master->lines;
    double cost = (LinesSwitchMs(lines) + LinesSampleMs(lines)) / 2, wait = lines->echoMs - cost;
    double ms = requests * cost + samples * (wait > 0 ? wait : 0);
    if (ms > ANNOUNCE_MS)
        Say(SAY_NORMAL, "Das dauert etwa %.0f s (%.2f ms je Leitungsaufruf, DSR folgt nach %.1f ms)",
            ms / 1000, cost, lines->echoMs);
    progressWhat = what;
    progressDone = 0;
    progressTotal = total;
    master->onByte = perByte ? Progress : nullptr;
}

bool SaveFile(const char* path, const uint8_t* data, int size)
{
    FILE* file = fopen(path, "wb");
    bool saved = file && fwrite(data, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
    if (file && fclose(file))
        saved = false;
    if (!saved)
        Say(SAY_ERROR, "coupler-i2c: Datei %s lässt sich nicht schreiben", path);
    return saved;
}

int ScanBus(I2cMaster* master, const I2cOptions& options)
{
    int count = options.last - options.first + 1;
    Plan(master, "Adresse", count, count * PROBE_REQUESTS, count * PROBE_SAMPLES, false);
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
    uint8_t out[3], in[2] = {};
    int count = 0;
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
    uint8_t data[EEPROM_SIZE];
    Plan(master, "Byte", EEPROM_SIZE, EEPROM_SIZE * READ_REQUESTS, EEPROM_SIZE * READ_SAMPLES, true);
    // A register is written only when given (or for an EEPROM, whose word
    // address is no data): on a port expander that byte would set the outputs.
    bool eeprom =
        options.command == COMMAND_EEPROM_READ || (options.address >= 0x50 && options.address <= 0x57);
    int start = options.reg < 0 && eeprom ? 0 : options.reg;
    I2cStatus status = start >= 0 ? EepromRead(master, options.address, start, data, EEPROM_SIZE)
                                  : I2cTransfer(master, options.address, nullptr, 0, data, EEPROM_SIZE);
    if (status != I2C_OK)
        return Fail(master, status, options);
    if (options.command == COMMAND_EEPROM_READ) {
        if (!SaveFile(options.file, data, EEPROM_SIZE))
            return EXIT_CANNOT_RUN;
        Say(SAY_NORMAL, "%d Bytes von 0x%02x in %s gelesen", EEPROM_SIZE, options.address, options.file);
        return EXIT_DONE;
    }
    Say(SAY_ALWAYS, "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef");
    for (int row = 0; row < EEPROM_SIZE; row += 16) {
        char line[100], text[17] = "";
        int length = snprintf(line, sizeof line, "%02x:", (row + (start > 0 ? start : 0)) & 0xFF);
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
    uint8_t old[EEPROM_SIZE], back[EEPROM_SIZE];
    Plan(master, "Byte", EEPROM_SIZE + 2 * fileSize,
         EEPROM_SIZE * READ_REQUESTS + fileSize * (READ_REQUESTS + WRITE_REQUESTS),
         EEPROM_SIZE * READ_SAMPLES + fileSize * (READ_SAMPLES + WRITE_SAMPLES), true);
    I2cStatus status = EepromRead(master, options.address, 0, old, EEPROM_SIZE);
    if (status != I2C_OK)
        return Fail(master, status, options);
    // Nothing is written unless the old content is safe in its file.
    if (!SaveFile(name, old, EEPROM_SIZE))
        return EXIT_CANNOT_RUN;
    Say(SAY_NORMAL, "Alter Inhalt von 0x%02x in %s gesichert", options.address, name);
    status = EepromWrite(master, options.address, options.offset, fileData, fileSize, options.page);
    if (status == I2C_OK)
        status = EepromRead(master, options.address, options.offset, back, fileSize);
    if (status != I2C_OK)
        return Fail(master, status, options);
    int differ = 0, first = -1;
    for (int i = fileSize - 1; i >= 0; i--)
        if (back[i] != fileData[i])
            differ++, first = options.offset + i;
    if (differ) {
        Say(SAY_ALWAYS, "Vergleich: %d von %d Bytes weichen ab, das erste bei 0x%02x (Schreibschutz?)",
            differ, fileSize, first);
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

int RunOffline(const I2cOptions& options)
{
    if (options.command == COMMAND_EEPROM_WRITE) {
        FILE* file = fopen(options.file, "rb");
        fileSize = file ? static_cast<int>(fread(fileData, 1, sizeof fileData, file)) : -1;
        bool longer = file && fgetc(file) != EOF;
        if (file)
            fclose(file);
        if (fileSize < 1 || longer || options.offset + fileSize > EEPROM_SIZE) {
            Say(SAY_ERROR,
                fileSize < 0 ? "coupler-i2c: Datei %s lässt sich nicht lesen"
                             : "coupler-i2c: Datei %s: 1 bis %d Bytes erwartet",
                options.file, EEPROM_SIZE - options.offset);
            return EXIT_CANNOT_RUN;
        }
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
    case COMMAND_NONE:
        break;
    }
    master->onByte = nullptr;
    return code < 0 ? Fail(master, I2C_LINE_FAILED, options) : code;
}

int Fail(const I2cMaster* master, I2cStatus status, const I2cOptions& options)
{
    switch (status) {
    case I2C_OK:
        return EXIT_DONE;
    case I2C_NACK:
        Say(SAY_ALWAYS, "Baustein 0x%02x antwortet nicht", options.address);
        return EXIT_REFUSED;
    case I2C_NACK_DATA:
        Say(SAY_ALWAYS, "Baustein 0x%02x nimmt ein Byte nicht an", options.address);
        return EXIT_REFUSED;
    case I2C_BLOCKED:
        Say(SAY_ERROR, "coupler-i2c: Bus blockiert (SDA bleibt auf Masse)");
        break;
    case I2C_SDA_STUCK_HIGH:
        Say(SAY_ERROR, "coupler-i2c: SDA folgt DTR nicht (DSR bleibt an)");
        break;
    case I2C_DSR_NEVER_HIGH:
        Say(SAY_ERROR, "coupler-i2c: DSR war nie an: Versorgung des Kopplers und DSR-Leitung prüfen"
                       " (oder ein Baustein hält SDA auf Masse)");
        break;
    case I2C_ADAPTER_TOO_SLOW:
        Say(SAY_ERROR, "coupler-i2c: COM%d: der Adapter meldet DSR erst nach %.0f ms (höchstens %.0f ms):"
            " seine Latenz verringern oder einen anderen Adapter nehmen",
            options.port, master->lines->longestEchoMs, ECHO_LIMIT_MS);
        break;
    case I2C_LINE_FAILED:
        if (LinesStopped(master->lines))
            Say(SAY_ERROR, "coupler-i2c: abgebrochen");
        else
            Say(SAY_ERROR, "coupler-i2c: COM%d: Leitungsaufruf fehlgeschlagen (Adapter entfernt?)",
                options.port);
        break;
    }
    return EXIT_CANNOT_RUN;
}
