#include "check/options.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char* const USAGE[] = {
    "Aufruf: coupler-check COMn [--baud B] [--repeat N] [--interactive] [--log DATEI] [--quiet]",
    "        coupler-check --list | --help",
    "  COMn           die Schnittstelle mit dem Koppler, z. B. COM3",
    "  --baud B       75, 150, 300, 600, 1200, 2400, 4800, 9600 (Vorgabe) oder 19200",
    "  --repeat N     Wiederholungen der gemessenen Schritte, 1 bis 10000 (Vorgabe 20)",
    "  --interactive  auch die Schritte mit der Hand am Koppler (LEDs, SDA und INT auf Masse)",
    "  --log DATEI    eine Zeile pro Prüfung an die CSV-Datei anhängen",
    "  --quiet        nur die Zeile mit dem Ergebnis",
    "  --list         die Schnittstellen COM1 bis COM20, die sich öffnen lassen",
    "Ergebnis: 0 bestanden, 1 nicht bestanden, 2 Prüfung nicht möglich",
    nullptr};

namespace {

// Baud rates of the tester's list.
const int BAUD_RATES[] = {75, 150, 300, 600, 1200, 2400, 4800, 9600, 19200};

// A whole decimal number from low to high, or -1.
int Number(const char* text, int low, int high)
{
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    return (*text >= '0' && *text <= '9' && !*end && value >= low && value <= high) ? static_cast<int>(value)
                                                                                    : -1;
}

// The switch an argument names, or null.
bool CheckOptions::*Flag(const char* name)
{
    static const struct {
        const char* name;
        bool CheckOptions::*flag;
    } FLAGS[] = {{"--interactive", &CheckOptions::interactive},
                 {"--quiet", &CheckOptions::quiet},
                 {"--list", &CheckOptions::list},
                 {"--help", &CheckOptions::help}};
    for (const auto& entry : FLAGS)
        if (!strcmp(name, entry.name))
            return entry.flag;
    return nullptr;
}

}  // namespace

bool ParseOptions(int argc, char** argv, CheckOptions* options, char* error, int size)
{
    for (int i = 1; i < argc; i++) {
        const char* name = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool takesValue = !strcmp(name, "--baud") || !strcmp(name, "--repeat") || !strcmp(name, "--log");
        if (takesValue && !value) {
            snprintf(error, size, "%s braucht einen Wert", name);
            return false;
        }
        if (!strcmp(name, "--baud")) {
            options->baud = 0;
            for (int rate : BAUD_RATES)
                if (Number(value, rate, rate) == rate)
                    options->baud = rate;
            if (!options->baud) {
                snprintf(error, size, "Baudrate %s gibt es nicht", value);
                return false;
            }
        } else if (!strcmp(name, "--repeat")) {
            options->repeat = Number(value, 1, 10000);
            if (options->repeat < 0) {
                snprintf(error, size, "--repeat %s: erlaubt sind 1 bis 10000", value);
                return false;
            }
        } else if (!strcmp(name, "--log")) {
            options->log = value;
        } else if (Flag(name)) {
            options->*Flag(name) = true;
            continue;
        } else if (!_strnicmp(name, "com", 3) && Number(name + 3, 1, 256) > 0 && !options->port) {
            options->port = Number(name + 3, 1, 256);
            continue;
        } else {
            snprintf(error, size, "unbekanntes Argument: %s", name);
            return false;
        }
        i++;
    }
    if (!options->port && !options->list && !options->help) {
        snprintf(error, size, "keine Schnittstelle angegeben");
        return false;
    }
    return true;
}
