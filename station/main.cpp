// coupler-station: a board's test plan, one unit after another. Reads and
// checks the plan and the record file before any port, then for each unit
// asks its serial number, runs the plan on the port, appends the unit's
// record and shows the verdict large, until an empty line, the input's end,
// Ctrl+C, or with --once after one unit.
#include <stdio.h>

#include "console/json.h"
#include "console/output.h"
#include "console/record.h"
#include "console/stop.h"
#include "station/station.h"

int main(int argc, char** argv)
{
    StationOptions options;
    char text[300];
    bool parsed = ParseStationOptions(argc, argv, &options, text, sizeof text);
    OutputStart(false);
    if (!parsed || options.help) {
        Json unused;
        return JobUsageShown(&unused, false, "coupler-station", parsed ? nullptr : text, StationUsage());
    }
    Plan plan;
    std::string why;
    if (!PlanRead(options.plan, &plan, &why)) {
        Say(SAY_ERROR, "coupler-station: %s", why.c_str());
        return EXIT_CANNOT_RUN;
    }
    if (!JobTraceWritable(options.job, &why)) {
        Say(SAY_ERROR, "coupler-station: %s", why.c_str());
        return EXIT_CANNOT_RUN;
    }
    // The station's engine for every unit; a stop from outside stops the unit
    // running, or the wait for the next one.
    Lines lines{};
    StopStart(&lines);
    Say(SAY_NORMAL, "Prüfplan %s: %s%s%s, %d Schritte", plan.file.c_str(), plan.name.c_str(),
        plan.version.empty() ? "" : " Version ", plan.version.c_str(),
        static_cast<int>(plan.steps.size()) + plan.check + plan.bus);
    int code = EXIT_PASSED;
    for (int units = 0; !options.once || units < 1; units++) {
        // A unit is never run whose record could not be kept.
        if (options.record && !LogCheck(options.record, text, sizeof text)) {
            Say(SAY_ERROR, "coupler-station: Protokolldatei %s: %s", options.record, text);
            code = EXIT_CANNOT_RUN;
            break;
        }
        std::string serial;
        if (units == 0 && options.serial) {
            serial = options.serial;
        } else {
            Say(SAY_ALWAYS, "Seriennummer:");
            if (!ReadLine(&serial) || serial.empty() || LinesStopped(&lines)) {
                code = units == 0 && LinesStopped(&lines) ? EXIT_INCOMPLETE : code;
                break;
            }
        }
        UnitRun unit = RunUnit(plan, options, &lines, serial);
        std::string record = UnitRecord(plan, options, unit);
        code = VerdictCode(unit.verdict);
        if (options.record && !RecordAppend(options.record, record, text, sizeof text)) {
            // Nothing is lost: the record goes to standard error, and no unit follows.
            Say(SAY_ERROR, "coupler-station: Protokolldatei %s: %s; die Zeile der Einheit %s folgt hier, keine "
                "weitere Einheit", options.record, text, serial.c_str());
            Say(SAY_ERROR, "%s", record.c_str());
            ShowVerdict(unit);
            code = EXIT_CANNOT_RUN;
            break;
        }
        ShowVerdict(unit);
        if (LinesStopped(&lines))
            break;
    }
    StopEnd();
    return code;
}
