// The station's command line.
#include <string.h>

#include <algorithm>

#include "console/arguments.h"
#include "console/files.h"
#include "console/port.h"
#include "station/station.h"

std::vector<std::string> StationUsage()
{
    return {
        "Aufruf: coupler-station PLAN.toml " + std::string(PORT_WORD) +
            " [--serial S] [--once] [--record DATEI] [--operator NAME]",
        "                        [--station NAME] [--baud B] [--verbose] [--trace DATEI]",
        "  PLAN.toml      der Prüfplan der Platine (TOML)",
        PORT_USAGE,
        "  --serial S     die Seriennummer der ersten Einheit, ohne Frage",
        "  --once         nur eine Einheit prüfen, dann Ende",
        "  --record DATEI ein JSON-Objekt pro Einheit als Zeile anhängen (JSON Lines)",
        "  --operator N   wer prüft, für --record",
        "  --station N    der Prüfplatz, für --record",
        "  --baud B       75 bis 19200 (Vorgabe 9600)",
        "  --trace DATEI  die Leitungen der letzten Einheit als Spur für einen Logikanalysator (VCD)",
        "  --verbose      dazu, wie schnell der Adapter schaltet und DSR meldet",
        "Fragt nach der Seriennummer (eintippen oder Barcode-Scanner); eine leere Zeile beendet.",
        "Ergebnis (der letzten Einheit): 0 bestanden, 1 nicht bestanden, 2 Prüfung nicht möglich",
        "          (Plan, Argumente, Schnittstelle, Protokolldatei), 3 abgebrochen"};
}

bool ParseStationOptions(int argc, char** argv, StationOptions* options, char* error, int size)
{
    static const int BAUD_RATES[] = {75, 150, 300, 600, 1200, 2400, 4800, 9600, 19200};
    static const char* const TEXT_OPTIONS[] = {"--serial", "--record", "--operator", "--station"};
    const char** texts[] = {&options->serial, &options->record, &options->operatorName, &options->station};
    for (int i = 1; i < argc; i++) {
        const char* name = argv[i];
        const char* const* text = std::find_if(TEXT_OPTIONS, TEXT_OPTIONS + 4, [&](const char* o) { return !strcmp(o, name); });
        bool valued = text != TEXT_OPTIONS + 4 || !strcmp(name, "--baud");
        const char* value = valued ? OptionValue(argc, argv, &i) : "";
        if (valued && !*value)
            return Refuse(error, size, "%s braucht einen Wert", name);
        if (text != TEXT_OPTIONS + 4) {
            *texts[text - TEXT_OPTIONS] = value;
        } else if (!strcmp(name, "--baud")) {
            options->baud = ArgumentNumber(value, 75, 19200);
            if (std::find(BAUD_RATES, BAUD_RATES + 9, options->baud) == BAUD_RATES + 9)
                return Refuse(error, size, "Baudrate %s gibt es nicht", value);
        } else if (!strcmp(name, "--once")) {
            options->once = true;
        } else if (!strcmp(name, "--help")) {
            options->help = true;
        } else if (!strcmp(name, "--verbose") || !strcmp(name, "--trace")) {
            if (JobOption(argc, argv, &i, &options->job, error, size) < 0)
                return false;
        } else if (name[0] != '-' && !options->plan) {
            options->plan = name;
        } else if (name[0] != '-' && options->port.empty()) {
            if (!PortArgument(name, &options->port, error, size))
                return false;
        } else {
            return Refuse(error, size, "unbekanntes Argument: %s", name);
        }
    }
    if (options->help)
        return true;
    if (!options->plan)
        return Refuse(error, size, "kein Prüfplan angegeben");
    if (options->port.empty())
        return Refuse(error, size, "keine Schnittstelle angegeben");
    if (options->serial && !*options->serial)
        return Refuse(error, size, "--serial braucht eine Seriennummer");
    if (options->record && options->job.trace && FileSame(options->record, options->job.trace))
        return Refuse(error, size, "--record und --trace nennen dieselbe Datei %s: jede braucht eine eigene",
                      options->record);
    return true;
}
