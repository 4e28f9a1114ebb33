// coupler-check: the tester's test procedure as a command with a verdict.
// Opens the port as the tester does, runs the steps, prints one line per
// step, appends a row to the log, then prints the verdict, and leaves the
// lines released (DTR and RTS on) and the port closed.
#include <windows.h>
#include <stdio.h>

#include <string>

#include "check/bus.h"
#include "check/log.h"
#include "check/options.h"
#include "check/steps.h"
#include "console/output.h"
#include "line/serial_lines.h"
#include "serial/serial.h"

namespace {

enum ExitCode { EXIT_PASSED = 0, EXIT_FAILED = 1, EXIT_CANNOT_RUN = 2, EXIT_INCOMPLETE = 3 };

// Why a port did not open.
const char ABSENT[] = "gibt es nicht";
const char BUSY[] = "ist belegt";

const char* const OUTCOME_WORDS[] = {"ok", "übersprungen", "FEHLER"};

// Set by main once the run is over (row written, port closed); the console
// control handler waits for it, since the process ends when the handler
// returns from a closed console. Made at the start, kept for the process.
HANDLE runOver = nullptr;
// The run's line engine, for the process; the console control handler stops it.
Lines lines;

BOOL WINAPI OnConsoleControl(DWORD)
{
    // This runs on a thread of its own: the check's thread sees the request
    // at its next line call and cleans up.
    LinesStop(&lines);
    WaitForSingleObject(runOver, 4000);
    return TRUE;
}

// Opens COMn as the tester opens a port; -1 with the reason in reason.
int32_t OpenPort(const char* settings, int com, const char** reason)
{
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

// The settings string the tester opens a port with.
void Settings(int com, int baud, char (&settings)[40])
{
    snprintf(settings, sizeof settings, "com%d:%d,n,8,1", com, baud);
}

int ListPorts()
{
    int listed = 0;
    for (int com = 1; com <= 20; com++) {
        const char* reason = nullptr;
        char settings[40];
        Settings(com, 9600, settings);
        int32_t port = OpenPort(settings, com, &reason);
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

// How a run ended, for the row and the verdict line.
struct Verdict {
    ExitCode code;
    const char* word;    // the row's result
    std::string detail;  // the first failed or skipped step, or what stopped the run
};

// A step's line: what it checks, its outcome, what was expected and read.
void SayStep(const StepResult& result)
{
    Say(SAY_NORMAL, "%-3s %-23s %-12s erwartet %s; gelesen %s", result.label, result.name,
        OUTCOME_WORDS[result.outcome], result.expected.c_str(), result.read.c_str());
}

// Writes the row, then the verdict line (standard error for runs that could
// not start); returns the exit code, 2 when the row could not be written.
int Finish(const CheckOptions& options, const Verdict& verdict, bool started)
{
    char fields[80], figures[80], reason[200];
    SettleTimes settle = MeasuredSettleTimes();
    snprintf(fields, sizeof fields, "COM%d;%d;%d;%s;%s;", options.port, options.baud, options.repeat,
             options.interactive ? "ja" : "nein", verdict.word);
    // Decimal commas, as the separator leaves them free and a German spreadsheet reads them.
    snprintf(figures, sizeof figures, settle.count ? ";%.3f;%.3f;%.3f" : ";;;", settle.min, settle.median,
             settle.max);
    for (char* c = figures; *c; c++)
        *c = *c == '.' ? ',' : *c;
    // The detail is one field, whatever it says.
    std::string detail = verdict.detail;
    for (char& c : detail)
        c = c == ';' ? ',' : c;
    std::string row = fields + detail + figures;
    if (options.log && !LogAppend(options.log, row.c_str(), reason, sizeof reason)) {
        Say(SAY_ERROR, "coupler-check: Protokolldatei %s: %s", options.log, reason);
        return EXIT_CANNOT_RUN;
    }
    if (!started)
        Say(SAY_ERROR, "coupler-check: %s", verdict.detail.c_str());
    else if (verdict.code == EXIT_PASSED)
        Say(SAY_ALWAYS, "BESTANDEN");
    else if (verdict.code == EXIT_CANNOT_RUN)
        Say(SAY_ALWAYS, "%s", verdict.detail.c_str());
    else
        Say(SAY_ALWAYS, "%s: %s", verdict.word, verdict.detail.c_str());
    return verdict.code;
}

// Runs the check on the port as the options say; the exit code.
int Run(const CheckOptions& options)
{
    char settings[40];
    Settings(options.port, options.baud, settings);
    const char* reason = nullptr;
    Verdict verdict = {EXIT_CANNOT_RUN, "NICHT MÖGLICH", ""};
    int32_t port = OpenPort(settings, options.port, &reason);
    if (port < 0) {
        verdict.detail = StepText("COM%d %s", options.port, reason);
        return Finish(options, verdict, false);
    }
    SerialLines serial;
    LinesOpen(&lines, SerialLinesOpen(&serial, port));
    Say(SAY_NORMAL, "Kopplerprüfung an COM%d, %d Baud, %d Wiederholungen", options.port, options.baud,
        options.repeat);
    // The open succeeds even when the port refused part of its settings.
    int32_t mismatch = SerialSettingsMismatch(port, settings, 0);
    StepResult first = {"", "", STEP_OK, "", ""};    // the first failed step, else the first skipped
    StepResult result = {"1", "", STEP_OK, "", ""};  // the step running or last run
    if (mismatch == 0 && LinesSwitch(&lines, LINE_SDA_OUT, 1) && LinesSwitch(&lines, LINE_SCL_OUT, 1))
        for (int step = 0; step < (options.interactive ? ALL_STEPS : AUTOMATIC_STEPS); step++) {
            RunStep(&lines, step, options.repeat, &result);
            if (LinesFailed(&lines))
                break;
            SayStep(result);
            if (result.outcome > first.outcome)
                first = result;
        }
    // The chips behind a coupler whose wiring passed. A scan that ended with
    // the port is no step: the verdict tells.
    if (options.expecting && first.outcome == STEP_OK && !LinesFailed(&lines) && mismatch == 0) {
        CheckBus(&lines, options.expected, &result);
        if (!LinesFailed(&lines)) {
            SayStep(result);
            first = result;
        }
    }
    // Released and closed as far as the port still allows.
    LinesRelease(&lines, false);
    SerialLinesClose(&serial);
    SerialClose(port);

    if (mismatch > 0) {
        char words[120];
        RefusedSettings(mismatch, words, sizeof words);
        verdict.detail = words;
    } else if (mismatch < 0 || LinesLost(&lines)) {
        verdict.detail = "Schnittstelle verloren";
    } else if (LinesStopped(&lines)) {
        verdict = {EXIT_INCOMPLETE, "ABGEBROCHEN", StepText("in Schritt %s", result.label)};
    } else if (first.outcome == STEP_OK) {
        verdict = {EXIT_PASSED, "BESTANDEN", ""};
    } else {
        bool failed = first.outcome == STEP_FAILED;
        verdict = {failed ? EXIT_FAILED : EXIT_INCOMPLETE, failed ? "NICHT BESTANDEN" : "UNVOLLSTÄNDIG",
                   StepText("%s %s%s", first.label, first.name, failed ? "" : " übersprungen")};
    }
    return Finish(options, verdict, true);
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
    // Keys count from here: what comes before a question is dropped then.
    if (options.interactive)
        KeysStart();
    // A check whose record cannot be kept does not touch the port.
    if (options.log && !LogCheck(options.log, text, sizeof text)) {
        Say(SAY_ERROR, "coupler-check: Protokolldatei %s: %s", options.log, text);
        return EXIT_CANNOT_RUN;
    }
    runOver = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    int code = Run(options);
    SetEvent(runOver);
    return code;
}
