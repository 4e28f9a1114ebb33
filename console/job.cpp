#include "console/job.h"

#include <stdio.h>
#include <string.h>

#include "console/arguments.h"
#include "console/output.h"

namespace {

// A status later than this is worth a hint: a UART answers in microseconds,
// an adapter that sends the status with its next packet in milliseconds.
constexpr double LATE_ECHO_MS = 4;

}  // namespace

std::vector<std::string> JobUsage(int column)
{
    const char* const LINES[][2] = {
        {"--trace DATEI", "die Leitungen des Auftrags als Spur für einen Logikanalysator (VCD)"},
        {"--verbose", "dazu, wie schnell der Adapter schaltet und DSR meldet"},
        {"--low-latency", "den Latenz-Zeitgeber des USB-Adapters für den Auftrag auf 1 ms"}};
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
    else if (strcmp(name, "--trace") != 0)
        return 0;
    else if (!*(options->trace = OptionValue(argc, argv, i))) {
        Refuse(error, size, "--trace braucht einen Wert");
        return -1;
    }
    return 1;
}

bool JobTraceWritable(const JobOptions& options, std::string* why)
{
    if (!options.trace)
        return true;
    FILE* existing = fopen(options.trace, "rb");
    if (existing)
        fclose(existing);
    FILE* file = fopen(options.trace, "ab");
    if (!file) {
        *why = std::string("Spur ") + options.trace + " lässt sich nicht schreiben";
        return false;
    }
    fclose(file);
    if (!existing)
        remove(options.trace);
    return true;
}

LinePort JobStart(Job* job, const JobOptions& options, ConsolePort* port, const char* program)
{
    std::string why;
    if (options.lowLatency && !PortLowLatency(port, &why))
        Say(SAY_NOTE, "%s: --low-latency: %s", program, why.c_str());
    else if (options.lowLatency)
        Say(SAY_NOTE, "Latenz-Zeitgeber des Adapters für den Auftrag auf 1 ms");
    job->tracing = options.trace != nullptr;
    return job->tracing ? TraceRecord(&job->recorder, PortLines(port)) : PortLines(port);
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
    if (!job->tracing)
        return true;
    job->tracing = false;
    if (TraceSave(job->recorder, options.trace))
        return true;
    Say(SAY_ERROR, "%s: Spur %s lässt sich nicht schreiben", program, options.trace);
    return false;
}
