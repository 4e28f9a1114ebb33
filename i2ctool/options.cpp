#include "i2ctool/options.h"

#include "console/arguments.h"
#include "console/port.h"
#include "i2c/chips.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

std::vector<std::string> I2cUsage()
{
    std::vector<std::string> usage = {
    "Aufruf: coupler-i2c " + std::string(PORT_WORD) + " BEFEHL [--write] [--quiet]",
    "  scan [ERSTE LETZTE] [--all]  Adressen 08 bis 77 absuchen (--all: ab 03)",
    "  get ADR [REG] [w]            ein Byte lesen (w: ein Wort, das erste Byte höherwertig)",
    "  set ADR [REG] WERT [w]       ein Byte oder Wort schreiben (an EEPROMs: eeprom write)",
    "  dump ADR [REG]               256 Bytes als Hex und Text, ab Register REG (EEPROM 50 bis",
    "                               57: ab 0); ohne REG liest er nur, ohne etwas zu schreiben",
    "  eeprom read DATEI            den Inhalt des EEPROMs (256 Bytes) in die Datei",
    "  eeprom write DATEI           die Datei ins EEPROM schreiben, zurücklesen und vergleichen",
    "                               (DATEI.hex: Intel HEX, die Datensätze tragen ihre Adressen)",
    "  int                          zeigt, ob INT auf Masse liegt (CTS)",
    "  xfer NACHRICHT...            Nachrichten mit wiederholtem START dazwischen, z. B. w1@48 0 r2:",
    "                               rN liest N Bytes, wN schreibt die N folgenden, @ADR ab da an ADR",
    "  --write          erst damit wird geschrieben; sonst sagt der Befehl nur, was er täte",
    "  --address ADR    Adresse des EEPROMs, 50 bis 57 (Vorgabe 50)",
    "  --offset N       eeprom write ab diesem Byte (Vorgabe 0)",
    "  --page N         Seitengröße beim Schreiben: 1, 2, 4 oder 8 (Vorgabe 8)",
    "  --backup DATEI   der alte Inhalt vor dem Schreiben, in eine neue Datei (Vorgabe",
    "                   eeprom-ADR-ZEIT.bin); eine vorhandene wird nie überschrieben",
    "  --reg16          Register mit zwei Bytes, das höherwertige zuerst (get, set, dump)",
    "  --quiet          nur Ergebnisse und Fehler",
    "Adressen hexadezimal wie in der Tabelle von scan, 0x davor erlaubt (50 ist 0x50);",
    "Register, Werte und Zahlen dezimal oder mit 0x hexadezimal.",
    "Ergebnisse auf der Standardausgabe, Schätzung, Hinweise und Fortschritt auf der Fehlerausgabe.",
    "Ergebnis: 0 erledigt, 1 ein Baustein antwortete nicht oder der Vergleich wich ab,",
    "          2 nicht ausführbar (Argumente, Schnittstelle, Bus blockiert, Adapter weg, ohne --write)"};
    std::vector<std::string> job = JobUsage(19);
    usage.insert(usage.begin() + 20, job.begin(), job.end());
    return usage;
}

namespace {

// The command and its words (after the port, options left out).
bool ParseCommand(const char* const* words, int count, I2cOptions* options, char* error, int size)
{
    static const struct {
        const char* name;
        const char* second;
        I2cCommand command;
        int fewest, most;  // words after the name
    } COMMANDS[] = {{"scan", nullptr, COMMAND_SCAN, 0, 2},
                    {"get", nullptr, COMMAND_GET, 1, 2},
                    {"set", nullptr, COMMAND_SET, 2, 3},
                    {"dump", nullptr, COMMAND_DUMP, 1, 2},
                    {"eeprom", "read", COMMAND_EEPROM_READ, 1, 1},
                    {"eeprom", "write", COMMAND_EEPROM_WRITE, 1, 1},
                    {"int", nullptr, COMMAND_INT, 0, 0}};
    if (!count)
        return Refuse(error, size, "kein Befehl angegeben");
    if (!strcmp(words[0], "xfer")) {
        std::string why;
        options->command = COMMAND_XFER;
        return XferParse(words + 1, count - 1, &options->messages, &why) || Refuse(error, size, "%s", why.c_str());
    }
    for (const auto& c : COMMANDS) {
        int skip = c.second ? 2 : 1;
        if (strcmp(words[0], c.name) || (c.second && (count < 2 || strcmp(words[1], c.second))))
            continue;
        words += skip;
        count -= skip;
        // A mode word at the end: b (byte, the default) or w (word).
        if ((c.command == COMMAND_GET || c.command == COMMAND_SET) && count > 0 &&
            (!strcmp(words[count - 1], "w") || !strcmp(words[count - 1], "b")))
            options->word = !strcmp(words[--count], "w");
        if (count < c.fewest || count > c.most || (c.command == COMMAND_SCAN && count == 1))
            return Refuse(error, size, "%s: falsche Zahl von Angaben", c.name);
        options->command = c.command;
        int numbers[4];
        bool file = c.command == COMMAND_EEPROM_READ || c.command == COMMAND_EEPROM_WRITE;
        for (int i = 0; i < count && !file; i++) {
            bool value = c.command == COMMAND_SET && i == count - 1;
            bool address = i == 0 || c.command == COMMAND_SCAN;
            bool wide = value ? options->word : options->reg16;
            numbers[i] = address ? ArgumentAddress(words[i], 0x03, 0x77) : ArgumentNumber(words[i], 0, wide ? 0xFFFF : 0xFF);
            if (numbers[i] < 0)
                return Refuse(error, size, "%s: %s passt nicht (%s)", c.name, words[i],
                              address ? "Adresse 03 bis 77, hexadezimal"
                              : value ? "Wert"
                              : wide  ? "Register 0 bis 0xffff"
                                      : "Register 0 bis 0xff");
        }
        if (file)
            options->file = words[0];
        else if (c.command == COMMAND_SCAN && count == 2)
            options->first = numbers[0], options->last = numbers[1];
        else if (count > 0 && c.command != COMMAND_SCAN)
            options->address = numbers[0];
        if (c.command == COMMAND_SET)
            options->value = numbers[count - 1];
        if (((c.command == COMMAND_GET || c.command == COMMAND_DUMP) && count == 2) ||
            (c.command == COMMAND_SET && count == 3))
            options->reg = numbers[1];
        // A single byte or word to an EEPROM would skip what its writes need:
        // the page (the address wraps within it), the write cycle, the verify.
        if (c.command == COMMAND_SET && EepromAddress(options->address))
            return Refuse(error, size, "set: 0x%02x ist ein EEPROM: dafür eeprom write DATEI --address %02x",
                          options->address, options->address);
        return options->first <= options->last ||
               Refuse(error, size, "scan: 0x%02x liegt hinter 0x%02x", options->first, options->last);
    }
    return Refuse(error, size, "unbekannter Befehl: %s", words[0]);
}

}  // namespace

bool ParseI2cOptions(int argc, char** argv, I2cOptions* options, char* error, int size)
{
    // The command's words: xfer's list may be long.
    std::vector<const char*> words;
    bool all = false, eepromAddress = false;
    for (int i = 1; i < argc; i++) {
        const char* name = argv[i];
        bool valued = !strcmp(name, "--address") || !strcmp(name, "--offset") || !strcmp(name, "--page") ||
                      !strcmp(name, "--backup");
        const char* value = valued ? OptionValue(argc, argv, &i) : "";
        if (valued && !*value)
            return Refuse(error, size, "%s braucht einen Wert", name);
        if (!strcmp(name, "--address")) {
            // A word address sent to anything but an EEPROM is data: a port
            // expander would set its outputs to it.
            if ((options->address = ArgumentAddress(value, EEPROM_FIRST, EEPROM_LAST)) < 0)
                return Refuse(error, size, "--address %s: EEPROMs liegen bei 50 bis 57", value);
            eepromAddress = true;
        } else if (!strcmp(name, "--offset")) {
            if ((options->offset = ArgumentNumber(value, 0, 255)) < 0)
                return Refuse(error, size, "--offset %s: erlaubt sind 0 bis 255", value);
        } else if (!strcmp(name, "--page")) {
            // A page larger than the chip's wraps onto its start; one that is
            // no power of two would cross the chip's page boundaries.
            options->page = ArgumentNumber(value, 1, EEPROM_PAGE);
            if (options->page < 0 || (options->page & (options->page - 1)))
                return Refuse(error, size, "--page %s: erlaubt sind 1, 2, 4 oder 8 (Seite des 24C02)", value);
        } else if (!strcmp(name, "--backup")) {
            options->backup = value;
        } else if (!strcmp(name, "--write")) {
            options->write = true;
        } else if (!strcmp(name, "--quiet")) {
            options->quiet = true;
        } else if (!strcmp(name, "--reg16")) {
            options->reg16 = true;
        } else if (!strcmp(name, "--all")) {
            all = true;
        } else if (!strcmp(name, "--help")) {
            options->help = true;
        } else if (int taken = JobOption(argc, argv, &i, &options->job, error, size)) {
            if (taken < 0)
                return false;
        } else if (int port = PortArgument(name, &options->port, error, size)) {
            if (port < 0)
                return false;
        } else if (name[0] == '-' && name[1] == '-') {
            return Refuse(error, size, "unbekanntes Argument: %s", name);
        } else {
            words.push_back(name);
        }
    }
    if (options->help)
        return true;
    if (options->port.empty())
        return Refuse(error, size, "keine Schnittstelle angegeben");
    if (all)
        options->first = 0x03;
    if (!ParseCommand(words.data(), static_cast<int>(words.size()), options, error, size))
        return false;
    bool eeprom = options->command == COMMAND_EEPROM_READ || options->command == COMMAND_EEPROM_WRITE;
    bool registers = options->command == COMMAND_GET || options->command == COMMAND_SET || options->command == COMMAND_DUMP;
    if (options->reg16 && !registers)
        return Refuse(error, size, "--reg16 gilt nur für get, set und dump");
    return !eepromAddress || eeprom || Refuse(error, size, "--address gilt nur für eeprom read und eeprom write");
}
