#include "i2ctool/options.h"

#include "console/arguments.h"
#include "console/output.h"
#include "console/port.h"
#include "i2c/chips.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <ctype.h>

#include <algorithm>

std::vector<std::string> I2cUsage()
{
    std::vector<std::string> usage = {
    "Aufruf: coupler-i2c " + std::string(PORT_WORD) + " BEFEHL [--write] [--quiet] [--json]",
    "  scan [ERSTE LETZTE] [--all]  Adressen 08 bis 77 absuchen (--all: ab 03)",
    "  get ADR [REG] [w]            ein Byte lesen (w: ein Wort, das erste Byte höherwertig)",
    "  set ADR [REG] WERT [w]       ein Byte oder Wort schreiben (an EEPROMs: eeprom write)",
    "  dump ADR [REG]               256 Bytes als Hex und Text, ab Register REG (EEPROM 50 bis",
    "                               57: ab 0); ohne REG liest er nur, ab dem Registerzeiger (+00)",
    "  eeprom read DATEI            das EEPROM in die Datei: ganz, oder ab --offset (--count Bytes)",
    "  eeprom write DATEI           die Datei ins EEPROM schreiben, zurücklesen und vergleichen",
    "  eeprom verify DATEI          das EEPROM mit der Datei vergleichen, so weit sie reicht",
    "                               (DATEI.hex: Intel HEX, die Datensätze tragen ihre Adressen;",
    "                               -: Standardausgabe bei read, Standardeingabe bei write, verify)",
    "  int                          zeigt, ob INT auf Masse liegt (CTS)",
    "  xfer NACHRICHT...            Nachrichten mit wiederholtem START dazwischen, z. B. w1@48 0 r2:",
    "                               rN liest N Bytes, wN schreibt die N folgenden, @ADR ab da an ADR;",
    "                               ohne --write nur Registerlesen: w1 vor einem r an dieselbe ADR",
    "  --write          erst damit wird geschrieben; sonst sagt der Befehl nur, was er täte",
    "  --type TYP       das EEPROM: 24C01, 24C02 (Vorgabe), 24C04, 24C08, 24C16, 24C32, 24C64,",
    "                   24C128, 24C256 oder 24C512; auch wie auf dem Baustein: AT24C256, 24LC02B-I/P;",
    "                   bei get, set und dump ab 24C32 Register aus zwei Bytes (wie --reg16)",
    "  --format F       hex (Intel HEX) oder raw (die Bytes) für DATEI; Vorgabe nach dem Namen",
    "  --address ADR    Adresse des EEPROMs, 50 bis 57 (Vorgabe 50); bei 24C04 bis 24C16 ohne",
    "                   die Bits, mit denen der Baustein seine Blöcke wählt",
    "  --offset N       eeprom-Befehle ab diesem Byte (Vorgabe 0)",
    "  --count N        eeprom read: so viele Bytes (Vorgabe: bis zum Ende)",
    "  --page N         Seitengröße beim Schreiben, eine Zweierpotenz bis zur Seite des Typs",
    "                   (Vorgabe: die Seite des Typs, beim 24C02 8)",
    "  --backup DATEI   der alte Inhalt vor dem Schreiben, in eine neue Datei (Vorgabe",
    "                   eeprom-ADR-ZEIT.bin); eine vorhandene wird nie überschrieben",
    "  --reg16          Register mit zwei Bytes, das höherwertige zuerst (get, set, dump)",
    "  --quiet          nur Ergebnisse und Fehler",
    "  -h, --help       dieser Text (-y wird angenommen und übergangen: gefragt wird nie)",
    "Adressen hexadezimal wie in der Tabelle von scan, 0x davor erlaubt (50 ist 0x50);",
    "Register, Werte und Zahlen dezimal oder mit 0x hexadezimal.",
    "Ergebnisse auf der Standardausgabe; Meldungen (antwortet nicht, Schreibschutz), Hinweise,",
    "Schätzung und Fortschritt auf der Fehlerausgabe.",
    "Ergebnis: 0 erledigt, 1 ein Baustein antwortete nicht oder der Vergleich wich ab,",
    "          2 nicht ausführbar (Argumente, Schnittstelle, Bus blockiert, Adapter weg, ohne --write)"};
    std::vector<std::string> job = JobUsage(19);
    // The job's options after the program's own, before the notes.
    auto notes = std::find_if(usage.begin(), usage.end(), [](const std::string& line) { return line[0] != ' ' && line.compare(0, 7, "Aufruf:"); });
    usage.insert(notes, job.begin(), job.end());
    return usage;
}

namespace {

// Every command once: the words that name it (eeprom's with a second word)
// are also its name in the JSON object.
const struct CommandEntry {
    const char* name;
    I2cCommand command;
    int fewest, most;  // words after the name (xfer's list is its own)
} COMMANDS[] = {{"scan", COMMAND_SCAN, 0, 2},
                {"get", COMMAND_GET, 1, 2},
                {"set", COMMAND_SET, 2, 3},
                {"dump", COMMAND_DUMP, 1, 2},
                {"eeprom read", COMMAND_EEPROM_READ, 1, 1},
                {"eeprom write", COMMAND_EEPROM_WRITE, 1, 1},
                {"eeprom verify", COMMAND_EEPROM_VERIFY, 1, 1},
                {"int", COMMAND_INT, 0, 0},
                {"xfer", COMMAND_XFER, 0, 0}};

// Whether two words are the same but for case.
bool SameLetters(const char* a, const char* b)
{
    for (; *a && toupper(static_cast<unsigned char>(*a)) == toupper(static_cast<unsigned char>(*b)); a++, b++) {
    }
    return !*a && !*b;
}

// The letters of the command's first word.
int FirstWordLength(const CommandEntry& c)
{
    return static_cast<int>(strcspn(c.name, " "));
}

// Whether a word begins a command's name: in the port's place, the port was left out.
bool CommandWord(const char* word)
{
    for (const auto& c : COMMANDS)
        if (!strncmp(word, c.name, FirstWordLength(c)) && !word[FirstWordLength(c)])
            return true;
    return false;
}

// The command the words begin with (both of a name of two); nullptr for none.
const CommandEntry* CommandNamed(const char* const* words, int count)
{
    for (const auto& c : COMMANDS) {
        int first = FirstWordLength(c);
        if (count < 1 || strncmp(words[0], c.name, first) || words[0][first])
            continue;
        if (!c.name[first] || (count >= 2 && !strcmp(words[1], c.name + first + 1)))
            return &c;
    }
    return nullptr;
}

// The command and its words (after the port, options left out).
bool ParseCommand(const char* const* words, int count, I2cOptions* options, char* error, int size)
{
    if (!count)
        return Refuse(error, size, "kein Befehl angegeben");
    if (const CommandEntry* named = CommandNamed(words, count)) {
        const CommandEntry& c = *named;
        if (c.command == COMMAND_XFER) {
            std::string why;
            options->command = COMMAND_XFER;
            return XferParse(words + 1, count - 1, &options->messages, &why) || Refuse(error, size, "%s", why.c_str());
        }
        // The eeprom commands, named by two words, take a file; texts name the first word.
        int length = FirstWordLength(c);
        bool file = c.name[length] != 0;
        int skip = file ? 2 : 1;
        words += skip;
        count -= skip;
        // A mode word at the end: b (byte, the default) or w (word).
        if ((c.command == COMMAND_GET || c.command == COMMAND_SET) && count > 0 &&
            (!strcmp(words[count - 1], "w") || !strcmp(words[count - 1], "b")))
            options->word = !strcmp(words[--count], "w");
        // One word too many at the end that is no number: a mode letter mistyped.
        bool mode = c.command == COMMAND_GET || c.command == COMMAND_SET;
        if (mode && count == c.most + 1 && ArgumentNumber(words[count - 1], 0, 0xFFFF) < 0)
            return Refuse(error, size, "%.*s: %s: unbekannte Breite (b: Byte, w: Wort)", length, c.name,
                          words[count - 1]);
        if (count < c.fewest || count > c.most || (c.command == COMMAND_SCAN && count == 1))
            return Refuse(error, size, "%.*s: falsche Zahl von Angaben", length, c.name);
        options->command = c.command;
        int numbers[4] = {};
        for (int i = 0; i < count && !file; i++) {
            bool value = c.command == COMMAND_SET && i == count - 1;
            bool address = i == 0 || c.command == COMMAND_SCAN;
            bool wide = value ? options->word : options->reg16;
            numbers[i] = address ? ArgumentAddress(words[i], 0x03, 0x77) : ArgumentNumber(words[i], 0, wide ? 0xFFFF : 0xFF);
            if (numbers[i] < 0)
                return Refuse(error, size, "%.*s: %s passt nicht (%s)", length, c.name, words[i],
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
        // Above 0x50 the address may be a block of a 24C04 to 24C16, which
        // --address refuses for that type: no address is advised there.
        if (c.command == COMMAND_SET && options->address == 0x50)
            return Refuse(error, size, "set: 0x50 ist ein EEPROM: dafür eeprom write DATEI --address 50");
        if (c.command == COMMAND_SET && EepromAddress(options->address))
            return Refuse(error, size, "set: 0x%02x ist ein EEPROM: dafür eeprom write DATEI mit --type und --address"
                          " (ein 24C04 bis 24C16 antwortet hier für einen Block: --offset wählt ihn)", options->address);
        return options->first <= options->last ||
               Refuse(error, size, "scan: 0x%02x liegt hinter 0x%02x", options->first, options->last);
    }
    return Refuse(error, size, "unbekannter Befehl: %s", words[0]);
}

}  // namespace

const char* I2cCommandName(I2cCommand command)
{
    for (const auto& c : COMMANDS)
        if (c.command == command)
            return c.name;
    return nullptr;
}

I2cCommand I2cCommandRead(int argc, char** argv)
{
    for (int i = 1; i < argc; i++)
        if (CommandWord(argv[i])) {
            const CommandEntry* named = CommandNamed(argv + i, argc - i);
            return named ? named->command : COMMAND_NONE;
        }
    return COMMAND_NONE;
}

namespace {

// The EEPROM options against the type: offset, count and page inside the
// chip, the address free of the block-select bits.
bool CheckEeprom(I2cOptions* options, char* error, int size)
{
    const EepromType& type = *options->type;
    if (!EepromAddressFits(type, options->address)) {
        std::string allowed;
        for (int address = 0x50; address <= 0x57; address++)
            if (EepromAddressFits(type, address))
                allowed += (allowed.empty() ? "" : ", ") + std::to_string(address - 0x50 + 50);
        return Refuse(error, size, "--address %02x: der %s wählt mit den Bits der Adresse seine Blöcke (erlaubt %s)",
                      options->address, type.name, allowed.c_str());
    }
    if (options->offset >= type.size)
        return Refuse(error, size, "--offset %d: der %s hat %d Bytes (0 bis %d)", options->offset, type.name,
                      type.size, type.size - 1);
    if (options->count > type.size - options->offset)
        return Refuse(error, size, "--count %d: ab %d hat der %s noch %d Bytes", options->count, options->offset,
                      type.name, type.size - options->offset);
    // A page larger than the chip's wraps onto its start; one that is no
    // power of two would cross the chip's page boundaries.
    if (options->page > type.page || (options->page & (options->page - 1))) {
        std::string allowed;
        for (int page = 1; page <= type.page; page *= 2)
            allowed += (page == 1 ? "" : page == type.page ? " oder " : ", ") + std::to_string(page);
        return Refuse(error, size, "--page %d: erlaubt sind %s (Seite des %s)", options->page, allowed.c_str(),
                      type.name);
    }
    if (!options->page)
        options->page = type.page;
    return true;
}

}  // namespace

bool ParseI2cOptions(int argc, char** argv, I2cOptions* options, char* error, int size)
{
    // The command's words: xfer's list may be long.
    std::vector<const char*> words;
    bool all = false;
    // The EEPROM options: where their numbers go, and the commands they are for.
    const char* const ALL = "eeprom read, write und verify";
    static const struct {
        const char* name;
        int I2cOptions::*number;  // nullptr: the value is no number
        int low, high;
        I2cCommand first, last;
        const char* commands;  // first..last in words
    } EEPROM_OPTIONS[] = {
        {"--type", nullptr, 0, 0, COMMAND_GET, COMMAND_EEPROM_VERIFY, "get, set, dump und eeprom read, write und verify"},
        {"--address", nullptr, 0, 0, COMMAND_EEPROM_READ, COMMAND_EEPROM_VERIFY, ALL},
        {"--offset", &I2cOptions::offset, 0, 65535, COMMAND_EEPROM_READ, COMMAND_EEPROM_VERIFY, ALL},
        {"--count", &I2cOptions::count, 1, 65536, COMMAND_EEPROM_READ, COMMAND_EEPROM_READ, "eeprom read"},
        {"--page", &I2cOptions::page, 1, 128, COMMAND_EEPROM_WRITE, COMMAND_EEPROM_WRITE, "eeprom write"},
        {"--backup", nullptr, 0, 0, COMMAND_EEPROM_WRITE, COMMAND_EEPROM_WRITE, "eeprom write"},
        {"--format", nullptr, 0, 0, COMMAND_EEPROM_READ, COMMAND_EEPROM_VERIFY, ALL}};
    const int OPTIONS = sizeof EEPROM_OPTIONS / sizeof EEPROM_OPTIONS[0];
    bool given[OPTIONS] = {};
    const char* marking = nullptr;  // --type as written
    const char* format = nullptr;   // --format: "hex" or "raw"
    bool placed = false;            // a word stood in the port's place
    // -h or --help anywhere gives the usage, whatever else the line holds.
    for (int i = 1; i < argc; i++)
        options->help = options->help || !strcmp(argv[i], "-h") || !strcmp(argv[i], "--help");
    if (options->help)
        return true;
    for (int i = 1; i < argc; i++) {
        const char* name = argv[i];
        int option = -1;
        for (int o = 0; o < OPTIONS; o++)
            option = !strcmp(name, EEPROM_OPTIONS[o].name) ? o : option;
        const char* value = option >= 0 ? OptionValue(argc, argv, &i) : "";
        if (option >= 0 && !*value)
            return Refuse(error, size, "%s braucht einen Wert", name);
        const auto* o = option >= 0 ? &EEPROM_OPTIONS[option] : nullptr;
        if (o)
            given[option] = true;
        if (o && o->number && (options->*o->number = ArgumentNumber(value, o->low, o->high)) < 0)
            return Refuse(error, size, "%s %s: keine Zahl im erlaubten Bereich", name, value);
        if (o && o->number)
            continue;
        if (!strcmp(name, "--type")) {
            if (!(options->type = EepromTypeNamed(value))) {
                std::string known;
                for (const EepromType* type = EEPROM_TYPES; type->name; type++)
                    known += std::string(known.empty() ? "" : type[1].name ? ", " : " oder ") + type->name;
                return Refuse(error, size, "--type %s: bekannt sind %s (auch wie auf dem Baustein, z. B. AT24C256)",
                              value, known.c_str());
            }
            marking = value;
        } else if (!strcmp(name, "--format")) {
            if (strcmp(value, "hex") && strcmp(value, "raw"))
                return Refuse(error, size, "--format %s: hex oder raw", value);
            format = value;
        } else if (!strcmp(name, "--address")) {
            // A word address sent to anything but an EEPROM is data: a port
            // expander would set its outputs to it.
            if ((options->address = ArgumentAddress(value, 0x50, 0x57)) < 0)
                return Refuse(error, size, "--address %s: EEPROMs liegen bei 50 bis 57", value);
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
        } else if (!strcmp(name, "-y")) {
            // The Linux tools' "no questions": coupler-i2c asks none, --write decides.
        } else if (int taken = JobOption(argc, argv, &i, &options->job, error, size)) {
            if (taken < 0)
                return false;
        } else if (name[0] == '-' && name[1] == '-') {
            return Refuse(error, size, "unbekanntes Argument: %s", name);
        } else if (!placed && !CommandWord(name)) {
            // The first word is the port, and no other: eeprom read /dev/stdout names a file.
            placed = true;
            if (!PortArgument(name, &options->port, error, size))
                return false;
        } else {
            placed = true;
            words.push_back(name);
        }
    }
    if (options->port.empty())
        return Refuse(error, size, "keine Schnittstelle angegeben%s", placed ? ": sie steht vor dem Befehl" : "");
    if (all)
        options->first = 0x03;
    // A register of an EEPROM whose word address has two bytes is sent so.
    bool reg16 = options->reg16;
    if (given[0] && options->type->wordBytes == 2)
        options->reg16 = true;
    if (!ParseCommand(words.data(), static_cast<int>(words.size()), options, error, size))
        return false;
    bool eeprom = options->command >= COMMAND_EEPROM_READ && options->command <= COMMAND_EEPROM_VERIFY;
    bool registers = options->command == COMMAND_GET || options->command == COMMAND_SET || options->command == COMMAND_DUMP;
    // The EEPROM commands address by the type anyway: no register width to take.
    if (!registers)
        options->reg16 = reg16;
    if (options->reg16 && !registers)
        return Refuse(error, size, "--reg16 gilt nur für get, set und dump");
    if (given[0] && registers && !EepromAddress(options->address))
        return Refuse(error, size, "--type: 0x%02x ist kein EEPROM (50 bis 57)", options->address);
    if (given[0] && registers && reg16 && options->type->wordBytes == 1)
        return Refuse(error, size, "--reg16: der %s nimmt eine Wortadresse aus einem Byte", options->type->name);
    for (int o = 0; o < OPTIONS; o++)
        if (given[o] && (options->command < EEPROM_OPTIONS[o].first || options->command > EEPROM_OPTIONS[o].last))
            return Refuse(error, size, "%s gilt nur für %s", EEPROM_OPTIONS[o].name, EEPROM_OPTIONS[o].commands);
    if (!eeprom || !CheckEeprom(options, error, size))
        return !eeprom;
    // Standard output carries the image alone; a backup must outlast the job.
    bool standard = !strcmp(options->file, "-");
    if (standard && options->command == COMMAND_EEPROM_READ && options->job.json)
        return Refuse(error, size, "eeprom read -: die Standardausgabe trägt das Abbild, kein JSON");
    if (options->backup && !strcmp(options->backup, "-"))
        return Refuse(error, size, "--backup -: die Sicherung braucht eine Datei");
    size_t length = strlen(options->file);
    options->hex = format ? !strcmp(format, "hex") : length >= 4 && SameLetters(options->file + length - 4, ".hex");
    // The chip taken for a marking, named where it is more than the type's name.
    if (marking && !SameLetters(marking, options->type->name) && !options->quiet)
        Say(SAY_NOTE, "--type %s: als %s genommen", marking, options->type->name);
    return true;
}
