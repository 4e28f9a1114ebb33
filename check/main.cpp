// coupler-check: the tester's test procedure as a command with a verdict.
// Opens the port as the tester does, runs the steps, prints one line per
// step and the verdict, appends a row to the log, and leaves the lines
// released (DTR and RTS on) and the port closed.
#include <windows.h>
#include <stdio.h>

#include "check/log.h"
#include "check/options.h"
#include "check/output.h"
#include "check/steps.h"
#include "serial/serial.h"

namespace {

enum ExitCode { EXIT_PASSED = 0, EXIT_FAILED = 1, EXIT_CANNOT_RUN = 2 };

// Why a port did not open.
const char ABSENT[] = "gibt es nicht";
const char BUSY[] = "ist belegt";

const char* const OUTCOME_WORDS[] = {"ok", "übersprungen", "FEHLER"};

// Opens COMn as the tester opens a port; -1 with the reason in reason.
int32_t OpenPort(int com, int baud, const char** reason)
{
    char settings[40];
    snprintf(settings, sizeof settings, "com%d:%d,n,8,1", com, baud);
    int32_t port = SerialOpen(settings, 0, 1024, 1024);
    if (port > 0)
        return port;
    // Windows calls a missing port "not found" and one held by another
    // program "access denied". Wine refuses a held port with other errors
    // (998), and a port mapped to a folder, its way of having none, with
    // "access denied": the folder tells these apart.
    DWORD error = GetLastError();
    char device[20];
    snprintf(device, sizeof device, "\\\\.\\COM%d", com);
    DWORD attributes = GetFileAttributesA(device);
    bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                  (error == ERROR_ACCESS_DENIED && folder);
    *reason = absent ? ABSENT : BUSY;
    return -1;
}

int ListPorts()
{
    int listed = 0;
    for (int com = 1; com <= 20; com++) {
        const char* reason = nullptr;
        int32_t port = OpenPort(com, 9600, &reason);
        if (port > 0)
            SerialClose(port);
        if (port > 0 || reason == BUSY) {
            Say(SAY_ALWAYS, "COM%d%s", com, port > 0 ? "" : " (belegt)");
            listed++;
        }
    }
    if (!listed)
        Say(SAY_ALWAYS, "Keine Schnittstelle COM1 bis COM20 gefunden");
    return EXIT_PASSED;
}

}  // namespace

int main(int argc, char** argv)
{
    CheckOptions options;
    char text[300];
    bool parsed = ParseOptions(argc, argv, &options, text, sizeof text);
    OutputStart(parsed && options.quiet);
    if (!parsed || options.help) {
        if (!parsed)
            Say(SAY_ERROR, "coupler-check: %s", text);
        for (int i = 0; USAGE[i]; i++)
            Say(parsed ? SAY_ALWAYS : SAY_ERROR, "%s", USAGE[i]);
        return parsed ? EXIT_PASSED : EXIT_CANNOT_RUN;
    }
    if (options.list)
        return ListPorts();
    // The log first: a check whose record cannot be kept does not touch the port.
    if (options.log && !LogOpen(options.log, text, sizeof text)) {
        Say(SAY_ERROR, "coupler-check: Protokolldatei %s: %s", options.log, text);
        return EXIT_CANNOT_RUN;
    }
    const char* reason = nullptr;
    int32_t port = OpenPort(options.port, options.baud, &reason);
    if (port < 0) {
        Say(SAY_ERROR, "coupler-check: COM%d %s", options.port, reason);
        LogClose();
        return EXIT_CANNOT_RUN;
    }
    SerialSetDtr(port, 1);
    SerialSetRts(port, 1);
    Say(SAY_NORMAL, "Kopplerprüfung an COM%d, %d Baud, %d Wiederholungen", options.port, options.baud, options.repeat);
    StepResult first = {"", "", STEP_OK, "", ""};  // the first failed step, else the first skipped
    for (int step = 0; step < (options.interactive ? ALL_STEPS : AUTOMATIC_STEPS); step++) {
        StepResult result;
        RunStep(step, port, options.repeat, &result);
        Say(SAY_NORMAL, "%-3s %-23s %-12s erwartet %s; gelesen %s", result.label, result.name,
            OUTCOME_WORDS[result.outcome], result.expected, result.read);
        if (result.outcome > first.outcome)
            first = result;
    }
    SerialSetDtr(port, 1);
    SerialSetRts(port, 1);
    SerialClose(port);

    char failed[80] = "";
    if (first.outcome != STEP_OK)
        snprintf(failed, sizeof failed, "%s %s%s", first.label, first.name,
                 first.outcome == STEP_SKIPPED ? " übersprungen" : "");
    Say(SAY_ALWAYS, "%s%s", *failed ? "NICHT BESTANDEN: " : "BESTANDEN", failed);
    SettleTimes settle = MeasuredSettleTimes();
    int length = snprintf(text, sizeof text, "COM%d,%d,%s,%s", options.port, options.baud,
                          *failed ? "NICHT BESTANDEN" : "BESTANDEN", failed);
    snprintf(text + length, sizeof text - length, settle.count ? ",%.3f,%.3f,%.3f" : ",,,", settle.min,
             settle.median, settle.max);
    // A run whose record was lost is no success, whatever the coupler did.
    bool logged = LogRow(text);
    LogClose();
    if (!logged) {
        Say(SAY_ERROR, "coupler-check: Protokolldatei %s: Zeile nicht geschrieben", options.log);
        return EXIT_CANNOT_RUN;
    }
    return *failed ? EXIT_FAILED : EXIT_PASSED;
}
