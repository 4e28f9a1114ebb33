// coupler-check: the tester's test procedure as a command with a verdict.
// Opens the port as the tester does, runs the steps, prints one line per
// step, appends a row to the log, then prints the verdict, and leaves the
// lines released (DTR and RTS on) and the port closed.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "console/check_bus.h"
#include "console/record.h"
#include "check/options.h"
#include "console/check_steps.h"
#include "console/json.h"
#include "console/output.h"
#include "console/port.h"
#include "console/stop.h"

namespace {

enum ExitCode { EXIT_PASSED = 0, EXIT_FAILED = 1, EXIT_CANNOT_RUN = 2, EXIT_INCOMPLETE = 3 };

const char* const OUTCOME_WORDS[] = {"ok", "übersprungen", "gestört", "FEHLER"};

int ListPorts(const CheckOptions& options)
{
    Json json;
    JobJsonBegin(&json, "coupler-check", "list", "");
    std::vector<PortFound> ports = PortList("/dev", "/sys");
    for (const std::string& line : PortListLines(ports, "/dev"))
        Say(SAY_ALWAYS, "%s", line.c_str());
    // Each port an object of the same keys; no port, no element.
    JsonKey(&json, "ports"), JsonArray(&json);
    for (const PortFound& port : ports) {
        JsonObject(&json);
        JsonKey(&json, "path"), JsonString(&json, port.path.c_str());
        JsonKey(&json, "names"), JsonArray(&json);
        for (const std::string& name : port.names)
            JsonString(&json, name.c_str());
        JsonEnd(&json);
        JsonKey(&json, "busy"), JsonBool(&json, port.busy);
        JsonKey(&json, "holder");
        if (port.holderPid > 0) {
            JsonObject(&json);
            JsonKey(&json, "pid"), JsonInt(&json, port.holderPid);
            JsonKey(&json, "program"), JsonString(&json, port.holderProgram.c_str());
            JsonEnd(&json);
        } else {
            JsonNull(&json);
        }
        JsonEnd(&json);
    }
    JsonEnd(&json);
    if (options.job.json)
        JobJsonEnd(&json, EXIT_PASSED);
    return EXIT_PASSED;
}

// How a run ended, for the row and the verdict line.
struct Verdict {
    ExitCode code;
    const char* word;    // the row's result
    std::string detail;  // the first failed or skipped step, or what stopped the run
};

// What a run gathers for its verdict, row and record; main makes it.
struct CheckRun {
    // SDA's settle times: step 2 writes them, step 3 and the record read them.
    SettleTimes settle = {0, 0, 0, 0};
    std::vector<StepResult> shown;  // the steps shown, for the record
    bool reported = false;          // with --json: whether the run's object is out (else main writes one bare)
};

// A step's line: what it checks, its outcome, what was expected and read.
void SayStep(CheckRun* run, const StepResult& result)
{
    run->shown.push_back(result);
    Say(SAY_NORMAL, "%-3s %s %s erwartet %s; gelesen %s", result.label, Padded(result.name, 23).c_str(),
        Padded(OUTCOME_WORDS[result.outcome], 12).c_str(), result.expected.c_str(), result.read.c_str());
}

// The run's members of its JSON object (the record's line, or with --json
// the object on standard output): keys for programs, German only in the
// texts meant for people.
void RunMembers(Json* json, const std::string& time, const CheckOptions& options, const Verdict& verdict,
                const Lines& lines, const CheckRun& run)
{
    const SettleTimes& settle = run.settle;
    static const char* const OUTCOMES[] = {"ok", "skipped", "disturbed", "failed"};
    static const char* const VERDICTS[] = {"passed", "failed", "impossible", "incomplete"};
    const char* const texts[][2] = {{"time", time.c_str()}, {"port", options.port.c_str()}};
    for (const auto& text : texts)
        JsonKey(json, text[0]), JsonString(json, text[1]);
    JsonKey(json, "baud"), JsonInt(json, options.baud);
    JsonKey(json, "repeat"), JsonInt(json, options.repeat);
    JsonKey(json, "by_hand"), JsonBool(json, options.interactive);
    JsonKey(json, "verdict");
    JsonString(json, !strcmp(verdict.word, "ABGEBROCHEN") ? "aborted" : VERDICTS[verdict.code]);
    JsonKey(json, "detail"), verdict.detail.empty() ? JsonNull(json) : JsonString(json, verdict.detail.c_str());
    JsonKey(json, "steps"), JsonArray(json);
    for (const StepResult& step : run.shown) {
        JsonObject(json);
        // The step's place in the run as a number, its name on the tester as a label ("5a", "Bus").
        JsonKey(json, "step"), JsonInt(json, &step - run.shown.data() + 1);
        const char* const fields[][2] = {{"label", step.label}, {"name", step.name},
                                         {"outcome", OUTCOMES[step.outcome]}, {"expected", step.expected.c_str()},
                                         {"read", step.read.c_str()}};
        for (const auto& field : fields)
            JsonKey(json, field[0]), JsonString(json, field[1]);
        JsonEnd(json);
    }
    JsonEnd(json);
    const char* const settles[] = {"settle_min_ms", "settle_median_ms", "settle_max_ms"};
    const double figures[] = {settle.min, settle.median, settle.max, LinesSwitchMs(&lines), LinesSampleMs(&lines)};
    for (int i = 0; i < 3; i++)
        JsonKey(json, settles[i]), settle.count ? JsonNumber(json, figures[i], 3) : JsonNull(json);
    JsonKey(json, "switch_ms"), lines.switches ? JsonNumber(json, figures[3], 3) : JsonNull(json);
    JsonKey(json, "sample_ms"), lines.samples ? JsonNumber(json, figures[4], 3) : JsonNull(json);
    const char* const people[][2] = {{"serial", options.serial}, {"operator", options.operatorName},
                                     {"station", options.station}};
    for (const auto& person : people)
        JsonKey(json, person[0]), person[1] ? JsonString(json, person[1]) : JsonNull(json);
}

// Writes the row and the record, then the verdict line (standard error for
// runs that could not start) or with --json the run's object; returns the
// exit code, 2 when the row could not be written.
int Finish(const CheckOptions& options, const Verdict& verdict, bool started, const Lines& lines, CheckRun* run)
{
    const SettleTimes& settle = run->settle;
    char figures[5][40] = {}, reason[200];
    // One time for the row and the record alike.
    const std::string time = LogTime(::time(nullptr));
    // Decimal commas, as a German spreadsheet reads them.
    const double values[5] = {settle.min, settle.median, settle.max, LinesSwitchMs(&lines), LinesSampleMs(&lines)};
    for (int i = 0; i < 5; i++) {
        // What the adapter took for a switch and a sample, where it was asked.
        if (i < 3 ? settle.count > 0 : lines.switches && lines.samples)
            snprintf(figures[i], sizeof figures[i], "%.3f", values[i]);
        for (char* c = figures[i]; *c; c++)
            *c = *c == '.' ? ',' : *c;
    }
    // Each field one field, whatever it holds (LogField quotes it).
    std::vector<std::string> row = {options.port, std::to_string(options.baud), std::to_string(options.repeat),
                                    options.interactive ? "ja" : "nein", verdict.word, verdict.detail};
    row.insert(row.end(), figures, figures + 5);
    if (options.log && !LogAppend(options.log, time, row, reason, sizeof reason)) {
        Say(SAY_ERROR, "coupler-check: Protokolldatei %s: %s", options.log, reason);
        JobErrorCode("file");
        return EXIT_CANNOT_RUN;
    }
    if (options.record) {
        Json record;
        JsonObject(&record);
        RunMembers(&record, time, options, verdict, lines, *run);
        JsonEnd(&record);
        if (!RecordAppend(options.record, record.text, reason, sizeof reason)) {
            Say(SAY_ERROR, "coupler-check: Protokolldatei %s: %s", options.record, reason);
            JobErrorCode("file");
            return EXIT_CANNOT_RUN;
        }
    }
    if (options.job.json) {
        Json json;
        JsonObject(&json);
        JsonKey(&json, "program"), JsonString(&json, "coupler-check");
        JsonKey(&json, "command"), JsonString(&json, "check");
        RunMembers(&json, time, options, verdict, lines, *run);
        JobJsonAdapter(&json, &lines, settle.count ? settle.max : -1);
        // A run that could not be made is the object's error too.
        if (verdict.code == EXIT_CANNOT_RUN)
            Say(SAY_ERROR, "coupler-check: %s", verdict.detail.c_str());
        JobJsonEnd(&json, verdict.code);
        run->reported = true;
    } else if (!started)
        Say(SAY_ERROR, "coupler-check: %s", verdict.detail.c_str());
    else if (verdict.code == EXIT_PASSED)
        Say(SAY_ALWAYS, "BESTANDEN");
    else if (verdict.code == EXIT_CANNOT_RUN)
        Say(SAY_ALWAYS, "%s", verdict.detail.c_str());
    else
        Say(SAY_ALWAYS, "%s: %s", verdict.word, verdict.detail.c_str());
    return verdict.code;
}

// Runs the check on the port as the options say, on main's engine and run; the exit code.
int Run(const CheckOptions& options, Lines& lines, CheckRun* run)
{
    PortError error;
    Verdict verdict = {EXIT_CANNOT_RUN, "NICHT MÖGLICH", ""};
    ConsolePort* port = PortOpen(options.port, options.baud, 1024, &error);
    if (!port) {
        verdict.detail = options.port + " " + error.words;
        JobErrorCode(error.code);
        return Finish(options, verdict, false, lines, run);
    }
    Job job;
    LinesOpen(&lines, JobStart(&job, options.job, port, "coupler-check"));
    Say(SAY_NORMAL, "Kopplerprüfung an %s, %d Baud, %d Wiederholungen", options.port.c_str(), options.baud,
        options.repeat);
    // The open succeeds even when the port refused part of its settings.
    int32_t mismatch = PortMismatch(port);
    StepResult first = {"", "", STEP_OK, "", ""};    // the first failed step, else the first skipped
    StepResult result = {"1", "", STEP_OK, "", ""};  // the step running or last run
    if (mismatch == 0 && LinesSwitch(&lines, LINE_SDA_OUT, 1) && LinesSwitch(&lines, LINE_SCL_OUT, 1))
        for (int step = 0; step < (options.interactive ? ALL_STEPS : AUTOMATIC_STEPS); step++) {
            RunStep(&lines, step, options.repeat, &run->settle, &result);
            if (LinesFailed(&lines))
                break;
            SayStep(run, result);
            if (result.outcome > first.outcome)
                first = result;
        }
    // The chips behind a coupler whose wiring passed. A scan that ended with
    // the port is no step: the verdict tells.
    if (options.expecting && first.outcome == STEP_OK && !LinesFailed(&lines) && mismatch == 0) {
        CheckBus(&lines, options.expected, &result);
        if (!LinesFailed(&lines)) {
            SayStep(run, result);
            first = result;
        }
    }
    // The adapter as the steps saw it: DSR's slowest settle time is its echo.
    if (!LinesFailed(&lines))
        JobAdapter(options.job, port, &lines, run->settle.count ? run->settle.max : -1);
    // Released and closed as far as the port still allows.
    LinesRelease(&lines, false);
    bool traced = JobEnd(&job, options.job, "coupler-check");
    PortClose(&port);

    if (mismatch > 0) {
        char words[120];
        RefusedSettings(mismatch, words, sizeof words);
        verdict.detail = words;
        JobErrorCode("port_settings");
    } else if (mismatch < 0 || LinesLost(&lines)) {
        verdict.detail = "Schnittstelle verloren";
        JobErrorCode("adapter_gone");
    } else if (LinesStopped(&lines)) {
        JobErrorCode("stopped");
        verdict = {EXIT_INCOMPLETE, "ABGEBROCHEN", StepText("in Schritt %s", result.label)};
    } else if (first.outcome == STEP_DISTURBED) {
        JobErrorCode("disturbed");
        // No verdict on a guess: the coupler may be good or not.
        verdict.detail = StepText("Messung gestört in Schritt %s %s: die Zeiten ließen sich nicht sicher messen, "
                                  "der PC war zu beschäftigt oder der Adapter ist zu langsam. Bitte wiederholen.",
                                  first.label, first.name);
    } else if (first.outcome == STEP_OK) {
        verdict = {EXIT_PASSED, "BESTANDEN", ""};
    } else {
        bool failed = first.outcome == STEP_FAILED;
        JobErrorCode(failed ? "step_failed" : "step_skipped");
        verdict = {failed ? EXIT_FAILED : EXIT_INCOMPLETE, failed ? "NICHT BESTANDEN" : "UNVOLLSTÄNDIG",
                   StepText("%s %s%s%s%s", first.label, first.name, failed ? "" : " übersprungen",
                            first.cause ? ": " : "", first.cause ? first.cause : "")};
    }
    int code = Finish(options, verdict, true, lines, run);
    return code == EXIT_PASSED && !traced ? EXIT_CANNOT_RUN : code;
}

// With --json, a run that ended before its verdict still writes its object.
// Its keys are a run's, as in Finish.
int Unreported(const CheckOptions& options, int code, const Lines& lines, const CheckRun& run)
{
    if (options.job.json && !run.reported) {
        Json json;
        JsonObject(&json);
        JsonKey(&json, "program"), JsonString(&json, "coupler-check");
        JsonKey(&json, "command"), JsonString(&json, "check");
        RunMembers(&json, LogTime(time(nullptr)), options, {EXIT_CANNOT_RUN, "NICHT MÖGLICH", ""}, lines, run);
        JobJsonAdapter(&json, nullptr, -1);
        JobJsonEnd(&json, code);
    }
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    CheckOptions options;
    char text[300];
    bool parsed = ParseOptions(argc, argv, &options, text, sizeof text);
    bool json = parsed ? options.job.json : JobJsonAsked(argc, argv);
    OutputStart(parsed && options.quiet, json);
    if (!parsed || options.help) {
        Json object;
        // The command as read: the list where asked for, else the check.
        bool list = parsed ? options.list : JobOptionGiven(argc, argv, "--list");
        JobJsonBegin(&object, "coupler-check", list ? "list" : "check", options.port);
        int code = JobUsageShown(&object, json, "coupler-check", parsed ? nullptr : text, Usage());
        if (json)
            JobJsonEnd(&object, code);
        return code;
    }
    if (options.list)
        return ListPorts(options);
    // The run's line engine; a stop from outside (console/stop.h) stops it.
    Lines lines{};
    CheckRun run;
    // A stop from outside ends the run as a stopped step, row and all; it is
    // taken before the keys, so that no signal can leave a terminal in their mode.
    StopStart(&lines);
    // Keys count from here: what comes before a question is dropped then.
    if (options.interactive)
        KeysStart();
    // A check whose record or trace cannot be kept does not touch the port.
    std::string why;
    const char* refused = options.log && !LogCheck(options.log, text, sizeof text)          ? options.log
                          : options.record && !LogCheck(options.record, text, sizeof text) ? options.record
                                                                                           : nullptr;
    if (refused || !JobTraceWritable(options.job, &why)) {
        JobErrorCode("file");
        if (refused)
            Say(SAY_ERROR, "coupler-check: Protokolldatei %s: %s", refused, text);
        else
            Say(SAY_ERROR, "coupler-check: %s", why.c_str());
        KeysStop();
        StopEnd();
        return Unreported(options, EXIT_CANNOT_RUN, lines, run);
    }
    int code = Run(options, lines, &run);
    KeysStop();
    StopEnd();
    return Unreported(options, code, lines, run);
}
