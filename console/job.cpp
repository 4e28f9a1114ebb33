#include "console/job.h"

#include <stdio.h>
#include <string.h>

#include "console/arguments.h"
#include "console/files.h"
#include "console/output.h"
#include "line/ftdi_load.h"

namespace {

// A status later than this is worth a hint: a UART answers in microseconds,
// an adapter that sends the status with its next packet in milliseconds.
constexpr double LATE_ECHO_MS = 4;

// The run's error code for its JSON object (a literal); the process's, set
// by JobErrorCode, read by JobJsonEnd.
const char* errorCode = nullptr;

}  // namespace

std::vector<std::string> JobUsage(int column)
{
    const char* const LINES[][2] = {
        {"--trace DATEI", "die Leitungen des Auftrags als Spur für einen Logikanalysator (VCD)"},
        {"--verbose", "dazu, wie schnell der Adapter schaltet und DSR meldet"},
        {"--low-latency", "den Latenz-Zeitgeber des USB-Adapters für den Auftrag auf 1 ms"},
        {"--json", "ein JSON-Objekt auf der Standardausgabe statt der Texte, auch bei Fehlern"},
        {"--ftdi NR", "den FTDI-Baustein (Seriennummer oder 0, 1, ...) im Bit-Bang-Modus: je USB-Paket viele Bits"}};
    std::vector<std::string> usage;
    for (const auto& line : LINES) {
        std::string option = std::string("  ") + line[0];
        usage.push_back(option + std::string(static_cast<size_t>(column) - option.size(), ' ') + line[1]);
    }
    return usage;
}

int JobOption(int argc, char** argv, int* i, JobOptions* options, char* error, int size)
{
    const char* name = argv[*i];
    if (!strcmp(name, "--verbose"))
        options->verbose = true;
    else if (!strcmp(name, "--low-latency"))
        options->lowLatency = true;
    else if (!strcmp(name, "--json"))
        options->json = true;
    else if (!strcmp(name, "--ftdi")) {
        if (!*(options->ftdi = OptionValue(argc, argv, i))) {
            Refuse(error, size, "--ftdi braucht einen Wert");
            return -1;
        }
    } else if (strcmp(name, "--trace") != 0)
        return 0;
    else if (!*(options->trace = OptionValue(argc, argv, i))) {
        Refuse(error, size, "--trace braucht einen Wert");
        return -1;
    }
    return 1;
}

bool JobJsonAsked(int argc, char** argv) { return JobOptionGiven(argc, argv, "--json"); }

bool JobOptionGiven(int argc, char** argv, const char* option)
{
    for (int i = 1; i < argc; i++)
        if (!strcmp(argv[i], option))
            return true;
    return false;
}

void JobJsonBegin(Json* json, const char* program, const char* command, const std::string& port)
{
    JsonObject(json);
    JsonKey(json, "program"), JsonString(json, program);
    JsonKey(json, "command"), command ? JsonString(json, command) : JsonNull(json);
    JsonKey(json, "port"), port.empty() ? JsonNull(json) : JsonString(json, port.c_str());
}

void JobJsonAdapter(Json* json, const Lines* lines, double echoMs)
{
    JsonKey(json, "adapter");
    if (!lines || (!lines->switches && !lines->samples))
        return JsonNull(json);
    JsonObject(json);
    JsonKey(json, "echo_ms"), echoMs >= 0 ? JsonNumber(json, echoMs, 3) : JsonNull(json);
    JsonKey(json, "switch_ms"), lines->switches ? JsonNumber(json, LinesSwitchMs(lines), 3) : JsonNull(json);
    JsonKey(json, "sample_ms"), lines->samples ? JsonNumber(json, LinesSampleMs(lines), 3) : JsonNull(json);
    JsonEnd(json);
}

void JobJsonEnd(Json* json, int code)
{
    std::string errors = OutputErrors();
    JsonKey(json, "exit_code"), JsonInt(json, code);
    JsonKey(json, "error"), errors.empty() ? JsonNull(json) : JsonString(json, errors.c_str());
    JsonKey(json, "error_code"), code == 0 ? JsonNull(json) : JsonString(json, errorCode ? errorCode : "failed");
    while (!json->open.empty())
        JsonEnd(json);
    OutputJson(json->text);
}

void JobErrorCode(const char* code) { errorCode = code; }

int JobUsageShown(Json* json, bool jsonRun, const char* program, const char* reason,
                  const std::vector<std::string>& usage)
{
    if (reason)
        Say(SAY_ERROR, "%s: %s", program, reason), JobErrorCode("usage");
    JsonKey(json, "usage"), JsonArray(json);
    for (const std::string& line : usage) {
        JsonString(json, line.c_str());
        // In a JSON run the usage is the object's, not an error of its own.
        if (!jsonRun || !reason)
            Say(reason ? SAY_ERROR : SAY_ALWAYS, "%s", line.c_str());
    }
    JsonEnd(json);
    return reason ? 2 : 0;
}

bool JobTraceWritable(const JobOptions& options, std::string* why)
{
    // Tested without opening it: a pipe would hold the job before its port,
    // and a file that is there stays untouched until the trace replaces it.
    std::string words;
    if (!options.trace || FileWritable(options.trace, false, &words))
        return true;
    *why = std::string("Spur ") + options.trace + " lässt sich nicht schreiben: " + words;
    JobErrorCode("file");
    return false;
}

LinePort JobStart(Job* job, const JobOptions& options, ConsolePort* port, const char* program)
{
    std::string why;
    if (options.lowLatency && !PortLowLatency(port, &why))
        Say(SAY_NOTE, "%s: --low-latency: %s", program, why.c_str());
    else if (options.lowLatency)
        Say(SAY_NOTE, "Latenz-Zeitgeber des Adapters für den Auftrag auf 1 ms");
    job->tracing = options.trace != nullptr;
    LinePort lines = PortLines(port);
    std::string offer = options.ftdi ? "" : PortFtdiOffer(port);
    if (!offer.empty())
        Say(SAY_NOTE, "%s", offer.c_str());
    if (options.ftdi) {
        job->library = FtdiLibraryLoad(&why);
        FtdiOpen opened = job->library ? FtdiLinesOpen(&job->ftdi, FtdiLibraryApi(job->library), options.ftdi)
                                       : FTDI_NOT_FOUND;
        if (opened == FTDI_OPENED) {
            lines = FtdiLinesPort(&job->ftdi);
            if (options.verbose)
                Say(SAY_NOTE, "FTDI %s im Bit-Bang-Modus, ein Schritt %.2f µs", options.ftdi, job->ftdi.stepMs * 1000);
        } else {
            if (job->library)
                why = opened == FTDI_NOT_FOUND ? "kein FTDI-Baustein " + std::string(options.ftdi) + " zu öffnen"
                                               : "der Baustein lässt sich nicht in den Bit-Bang-Modus schalten";
            Say(SAY_NOTE, "%s: --ftdi: %s; der Auftrag läuft über die serielle Schnittstelle", program, why.c_str());
            FtdiLibraryUnload(&job->library);
        }
    }
    return job->tracing ? TraceRecord(&job->recorder, lines) : lines;
}

void JobAdapter(const JobOptions& options, ConsolePort* port, const Lines* lines, double echoMs)
{
    if (options.verbose)
        Say(SAY_NOTE, echoMs >= 0 ? "Adapter: Schalten %.3f ms, Abfrage %.3f ms, DSR folgt DTR nach %.2f ms"
                                  : "Adapter: Schalten %.3f ms, Abfrage %.3f ms",
            LinesSwitchMs(lines), LinesSampleMs(lines), echoMs);
    // Said unasked only where the adapter is known to have the setting.
    bool known = false;
    std::string hint = echoMs > LATE_ECHO_MS ? PortLatencyHint(port, echoMs, &known) : "";
    if (!hint.empty() && (known || options.verbose))
        Say(SAY_NOTE, "%s", hint.c_str());
}

bool JobEnd(Job* job, const JobOptions& options, const char* program)
{
    FtdiLinesClose(&job->ftdi);
    FtdiLibraryUnload(&job->library);
    if (!job->tracing)
        return true;
    job->tracing = false;
    // Through a temporary file: a trace not written whole leaves the old one.
    std::vector<char> dump = TraceDump(job->recorder);
    if (FileSave(options.trace, dump.data(), dump.size(), false) == FILE_SAVED)
        return true;
    Say(SAY_ERROR, "%s: Spur %s lässt sich nicht schreiben", program, options.trace);
    JobErrorCode("file");
    return false;
}
