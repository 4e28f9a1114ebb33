// The unit's record: one JSON object, the same keys as coupler-check's
// record where they mean the same.
#include <math.h>

#include "console/json.h"
#include "station/station.h"

namespace {

// A limit with the decimals of its measurement, more where the plan gives
// more (up to six).
void Limit(Json* json, double value, int decimals)
{
    while (decimals < 6 && fabs(value * pow(10, decimals) - round(value * pow(10, decimals))) > 1e-9)
        decimals++;
    JsonNumber(json, value, decimals);
}

void Text(Json* json, const char* key, const char* text)
{
    JsonKey(json, key);
    text && *text ? JsonString(json, text) : JsonNull(json);
}

}  // namespace

std::string UnitRecord(const Plan& plan, const StationOptions& options, const UnitRun& unit)
{
    static const char* const VERDICTS[] = {"passed", "failed", "aborted", "impossible"};
    static const char* const OUTCOMES[] = {"ok", "failed", "skipped", "aborted", "disturbed"};
    Json json;
    JsonObject(&json);
    Text(&json, "program", "coupler-station");
    Text(&json, "version", CT_STATION_VERSION);
    JsonKey(&json, "plan"), JsonObject(&json);
    Text(&json, "name", plan.name.c_str());
    Text(&json, "version", plan.version.c_str());
    Text(&json, "file", plan.file.c_str());
    Text(&json, "sha256", plan.sha256.c_str());
    JsonEnd(&json);
    Text(&json, "serial", unit.serial.c_str());
    Text(&json, "operator", options.operatorName);
    Text(&json, "station", options.station);
    Text(&json, "time", unit.time.c_str());
    Text(&json, "port", options.port.c_str());
    JsonKey(&json, "baud"), JsonInt(&json, options.baud);
    JsonKey(&json, "adapter");
    if (unit.adapter) {
        JsonObject(&json);
        JsonKey(&json, "echo_ms"), unit.echoMs >= 0 ? JsonNumber(&json, unit.echoMs, 3) : JsonNull(&json);
        JsonKey(&json, "switch_ms"), JsonNumber(&json, unit.switchMs, 3);
        JsonKey(&json, "sample_ms"), JsonNumber(&json, unit.sampleMs, 3);
        JsonEnd(&json);
    } else {
        JsonNull(&json);
    }
    JsonKey(&json, "duration_ms"), JsonInt(&json, static_cast<int64_t>(unit.ms));
    Text(&json, "verdict", VERDICTS[unit.verdict]);
    Text(&json, "detail", unit.detail.c_str());
    Text(&json, "first_failed", unit.firstFailed.c_str());
    JsonKey(&json, "steps"), JsonArray(&json);
    for (const StepDone& step : unit.steps) {
        JsonObject(&json);
        JsonKey(&json, "step"), JsonInt(&json, &step - unit.steps.data() + 1);
        Text(&json, "name", step.name.c_str());
        Text(&json, "kind", step.kind);
        Text(&json, "outcome", OUTCOMES[step.outcome]);
        JsonKey(&json, "duration_ms"), JsonInt(&json, static_cast<int64_t>(step.ms));
        Text(&json, "detail", step.detail.c_str());
        JsonKey(&json, "measurements"), JsonArray(&json);
        for (const Measured& m : step.measurements) {
            JsonObject(&json);
            JsonKey(&json, "name"), JsonString(&json, m.name.c_str());
            JsonKey(&json, "unit"), JsonString(&json, m.unit.c_str());
            JsonKey(&json, "value"), m.measured ? JsonNumber(&json, m.value, m.decimals) : JsonNull(&json);
            JsonKey(&json, "low"), m.limited ? Limit(&json, m.low, m.decimals) : JsonNull(&json);
            JsonKey(&json, "high"), m.limited ? Limit(&json, m.high, m.decimals) : JsonNull(&json);
            Text(&json, "outcome", !m.measured ? "not_measured" : MeasuredOutside(m) ? "failed" : "ok");
            JsonEnd(&json);
        }
        JsonEnd(&json);
        JsonEnd(&json);
    }
    JsonEnd(&json);
    JsonEnd(&json);
    return json.text;
}
