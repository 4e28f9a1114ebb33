#include "check/options.h"

#include "console/arguments.h"
#include "console/files.h"
#include "console/check_bus.h"
#include "console/port.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

std::vector<std::string> Usage()
{
    std::vector<std::string> usage = {
    "Aufruf: coupler-check " + std::string(PORT_WORD) + " [--baud B] [--repeat N] [--interactive] [--log DATEI] [--quiet]",
    "                          [--expect A,B] [--record DATEI] [--trace DATEI] [--verbose] [--low-latency]",
    "        coupler-check --list | --help",
    PORT_USAGE,
    "  --baud B       75, 150, 300, 600, 1200, 2400, 4800, 9600 (Vorgabe) oder 19200",
    "  --repeat N     Wiederholungen der gemessenen Schritte, 1 bis 10000 (Vorgabe 20)",
    "  --interactive  auch die Schritte mit der Hand am Koppler (LEDs, SDA und INT auf Masse)",
    "  --log DATEI    eine Zeile pro Prüfung an die CSV-Datei anhängen (Trennzeichen ';')",
    "  --record DATEI ein JSON-Objekt pro Prüfung als Zeile anhängen (JSON Lines), mit jedem Schritt",
    "  --serial S     die Seriennummer des Kopplers, für --record und --json",
    "  --operator N   wer prüft, für --record und --json",
    "  --station N    der Prüfplatz, für --record und --json",
    "  --expect A,B   danach am Bus genau diese Adressen (hexadezimal), z. B. --expect 50,20,48",
    "  --quiet        nur die Zeile mit dem Ergebnis",
    PORT_LIST_USAGE,
    "Ergebnis: 0 bestanden, 1 ein Schritt nicht bestanden, 2 Prüfung nicht möglich (Argumente, "
    "Schnittstelle,",
    "          Protokolldatei, Schnittstelle verloren), 3 unvollständig (Schritt übersprungen, abgebrochen)"};
    std::vector<std::string> job = JobUsage(17);
    usage.insert(usage.begin() + 14, job.begin(), job.end());
    return usage;
}


bool ParseOptions(int argc, char** argv, CheckOptions* options, char* error, int size)
{
    static const int BAUD_RATES[] = {75, 150, 300, 600, 1200, 2400, 4800, 9600, 19200};
    for (int i = 1; i < argc; i++) {
        const char* name = argv[i];
        const char* const* recordOption = nullptr;
        static const char* const RECORD_OPTIONS[] = {"--record", "--serial", "--operator", "--station"};
        for (const char* const& option : RECORD_OPTIONS)
            recordOption = !strcmp(name, option) ? &option : recordOption;
        bool valued = !strcmp(name, "--baud") || !strcmp(name, "--repeat") || !strcmp(name, "--log") ||
                      !strcmp(name, "--expect") || recordOption;
        const char* value = valued ? OptionValue(argc, argv, &i) : "";
        if (valued && !*value)
            return Refuse(error, size, "%s braucht einen Wert", name);
        if (!strcmp(name, "--baud")) {
            options->baud = ArgumentNumber(value, 75, 19200);
            if (std::find(BAUD_RATES, BAUD_RATES + 9, options->baud) == BAUD_RATES + 9)
                return Refuse(error, size, "Baudrate %s gibt es nicht", value);
        } else if (!strcmp(name, "--repeat")) {
            if ((options->repeat = ArgumentNumber(value, 1, 10000)) < 0)
                return Refuse(error, size, "--repeat %s: erlaubt sind 1 bis 10000", value);
        } else if (!strcmp(name, "--log")) {
            options->log = value;
        } else if (recordOption) {
            const char** fields[] = {&options->record, &options->serial, &options->operatorName, &options->station};
            *fields[recordOption - RECORD_OPTIONS] = value;
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
        } else if (int taken = JobOption(argc, argv, &i, &options->job, error, size)) {
            if (taken < 0)
                return false;
        } else if (name[0] != '-' && options->port.empty()) {
            // The only word that is no option: the port.
            if (!PortArgument(name, &options->port, error, size))
                return false;
        } else if (name[0] != '-' && PortLike(name)) {
            return Refuse(error, size, "zwei Schnittstellen: %s und %s", options->port.c_str(), name);
        } else {
            return Refuse(error, size, "unbekanntes Argument: %s", name);
        }
    }
    if (options->port.empty() && !options->list && !options->help)
        return Refuse(error, size, "keine Schnittstelle angegeben");
    // Who checked which coupler where is kept only in the record and the JSON
    // object; without either, the words would be lost without a trace.
    const char* const people[][2] = {{"--serial", options->serial}, {"--operator", options->operatorName},
                                     {"--station", options->station}};
    for (const auto& person : people)
        if (person[1] && !options->record && !options->job.json && !options->help)
            return Refuse(error, size, "%s gilt nur mit --record oder --json: ohne sie käme die Angabe nirgends hin",
                          person[0]);
    // Each file its own: a row and an object in one file make neither format,
    // and the trace would replace the record.
    const char* const files[][2] = {{"--log", options->log}, {"--record", options->record},
                                    {"--trace", options->job.trace}};
    for (int a = 0; a < 3; a++)
        for (int b = a + 1; b < 3; b++)
            if (files[a][1] && files[b][1] && FileSame(files[a][1], files[b][1]))
                return Refuse(error, size, "%s und %s nennen dieselbe Datei %s: jede braucht eine eigene", files[a][0],
                              files[b][0], files[b][1]);
    return true;
}
