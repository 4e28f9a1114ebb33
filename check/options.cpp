#include "check/options.h"

#include "check/bus.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

const char* const USAGE[] = {
    "Aufruf: coupler-check COMn [--baud B] [--repeat N] [--interactive] [--log DATEI] [--quiet]",
    "                          [--expect A,B]",
    "        coupler-check --list | --help",
    "  COMn           die Schnittstelle mit dem Koppler, COM1 bis COM255, z. B. COM3 oder com3:",
    "  --baud B       75, 150, 300, 600, 1200, 2400, 4800, 9600 (Vorgabe) oder 19200",
    "  --repeat N     Wiederholungen der gemessenen Schritte, 1 bis 10000 (Vorgabe 20)",
    "  --interactive  auch die Schritte mit der Hand am Koppler (LEDs, SDA und INT auf Masse)",
    "  --log DATEI    eine Zeile pro Prüfung an die CSV-Datei anhängen (Trennzeichen ';')",
    "  --expect A,B   danach am Bus genau diese Adressen (hexadezimal), z. B. --expect 50,20,48",
    "  --quiet        nur die Zeile mit dem Ergebnis",
    "  --list         die Schnittstellen COM1 bis COM20, die sich öffnen lassen",
    "Ergebnis: 0 bestanden, 1 ein Schritt nicht bestanden, 2 Prüfung nicht möglich (Argumente, "
    "Schnittstelle,",
    "          Protokolldatei, Schnittstelle verloren), 3 unvollständig (Schritt übersprungen, abgebrochen)",
    nullptr};

namespace {

// A whole decimal number from low to high, or -1.
int Number(const char* text, int low, int high)
{
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    return *text >= '0' && *text <= '9' && !*end && value >= low && value <= high ? static_cast<int>(value)
                                                                                  : -1;
}

bool Refuse(char* error, int size, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(error, size, format, arguments);
    va_end(arguments);
    return false;
}

}  // namespace

bool ParseOptions(int argc, char** argv, CheckOptions* options, char* error, int size)
{
    static const int BAUD_RATES[] = {75, 150, 300, 600, 1200, 2400, 4800, 9600, 19200};
    for (int i = 1; i < argc; i++) {
        const char* name = argv[i];
        bool valued = !strcmp(name, "--baud") || !strcmp(name, "--repeat") || !strcmp(name, "--log") ||
                      !strcmp(name, "--expect");
        // An option is never the value of the one before it.
        const char* value = valued && i + 1 < argc && strncmp(argv[i + 1], "--", 2) ? argv[++i] : "";
        if (valued && !*value)
            return Refuse(error, size, "%s braucht einen Wert", name);
        // The tester's notation: "COM3", "com3", "COM3:".
        size_t digits = strspn(name + 3, "0123456789");
        bool port =
            !_strnicmp(name, "com", 3) && digits && (!name[3 + digits] || !strcmp(name + 3 + digits, ":"));
        if (!strcmp(name, "--baud")) {
            options->baud = Number(value, 75, 19200);
            if (std::find(BAUD_RATES, BAUD_RATES + 9, options->baud) == BAUD_RATES + 9)
                return Refuse(error, size, "Baudrate %s gibt es nicht", value);
        } else if (!strcmp(name, "--repeat")) {
            if ((options->repeat = Number(value, 1, 10000)) < 0)
                return Refuse(error, size, "--repeat %s: erlaubt sind 1 bis 10000", value);
        } else if (!strcmp(name, "--log")) {
            options->log = value;
        } else if (!strcmp(name, "--expect")) {
            if (!(options->expecting = ParseAddresses(value, options->expected)))
                return Refuse(error, size, "--expect %s: Adressen 08 bis 77, mit Kommas getrennt", value);
        } else if (!strcmp(name, "--interactive")) {
            options->interactive = true;
        } else if (!strcmp(name, "--quiet")) {
            options->quiet = true;
        } else if (!strcmp(name, "--list")) {
            options->list = true;
        } else if (!strcmp(name, "--help")) {
            options->help = true;
        } else if (port && (name[3] == '0' || digits > 3 || atoi(name + 3) > 255)) {
            return Refuse(error, size, "Schnittstelle %s gibt es nicht: COM1 bis COM255", name);
        } else if (port && options->port) {
            return Refuse(error, size, "zwei Schnittstellen: COM%d und %s", options->port, name);
        } else if (port) {
            options->port = atoi(name + 3);
        } else {
            return Refuse(error, size, "unbekanntes Argument: %s", name);
        }
    }
    if (!options->port && !options->list && !options->help)
        return Refuse(error, size, "keine Schnittstelle angegeben");
    return true;
}
