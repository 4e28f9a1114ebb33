// The records are parsed without exceptions (JSON_NOEXCEPTION): a value is
// read only after its kind was checked, since a wrong kind would end the process.
#include "report/records.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

const json* Member(const json& object, const char* key)
{
    if (!object.is_object())
        return nullptr;
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

// A text member: false where it is missing or no text; null gives "" where allowed.
bool Text(const json& object, const char* key, std::string* text, bool nullAllowed)
{
    const json* value = Member(object, key);
    if (value && value->is_string()) {
        *text = value->get_ref<const std::string&>();
        return true;
    }
    text->clear();
    return nullAllowed && (!value || value->is_null());
}

// A number member; false (and nothing stored) where it is missing, null or no number.
bool Number(const json& object, const char* key, double* number)
{
    const json* value = Member(object, key);
    if (!value || !value->is_number())
        return false;
    *number = value->get<double>();
    return true;
}

bool Digits(const std::string& text, size_t at, size_t count, int* value)
{
    *value = 0;
    for (size_t i = at; i < at + count; i++) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

// Days since 1970-01-01 of a date of the Gregorian calendar.
int64_t DaysOf(int year, int month, int day)
{
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t ofEra = year - era * 400;
    int64_t ofYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t ofEras = ofEra * 365 + ofEra / 4 - ofEra / 100 + ofYear;
    return era * 146097 + ofEras - 719468;
}

}  // namespace

bool RecordInstant(const std::string& time, int64_t* seconds)
{
    int year, month, day, hour, minute, second, offsetHours, offsetMinutes;
    if (time.size() != 25 || time[4] != '-' || time[7] != '-' || time[10] != 'T' || time[13] != ':' ||
        time[16] != ':' || (time[19] != '+' && time[19] != '-') || time[22] != ':' ||
        !Digits(time, 0, 4, &year) || !Digits(time, 5, 2, &month) || !Digits(time, 8, 2, &day) ||
        !Digits(time, 11, 2, &hour) || !Digits(time, 14, 2, &minute) || !Digits(time, 17, 2, &second) ||
        !Digits(time, 20, 2, &offsetHours) || !Digits(time, 23, 2, &offsetMinutes))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    int64_t offset = (offsetHours * 60 + offsetMinutes) * 60 * (time[19] == '-' ? -1 : 1);
    *seconds = DaysOf(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
    return true;
}

bool RecordParse(const std::string& line, UnitRecord* record)
{
    json object = json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object())
        return false;
    const json* plan = Member(object, "plan");
    const json* steps = Member(object, "steps");
    UnitRecord unit;
    if (!plan || !Text(*plan, "name", &unit.planName, false) ||
        !Text(*plan, "version", &unit.planVersion, true) || !Text(*plan, "sha256", &unit.planSha256, false) ||
        unit.planSha256.empty() || !Text(object, "serial", &unit.serial, false) ||
        !Text(object, "operator", &unit.operatorName, true) ||
        !Text(object, "station", &unit.station, true) || !Text(object, "time", &unit.time, false) ||
        !RecordInstant(unit.time, &unit.instant) || !Text(object, "verdict", &unit.verdict, false) ||
        !Text(object, "detail", &unit.detail, true) ||
        !Text(object, "first_failed", &unit.firstFailed, true) || !steps || !steps->is_array())
        return false;
    for (const json& step : *steps) {
        StepRecord kept;
        if (!Text(step, "name", &kept.name, false))
            return false;
        const json* measurements = Member(step, "measurements");
        if (measurements && measurements->is_array()) {
            for (const json& measurement : *measurements) {
                Measured value;
                if (!Text(measurement, "name", &value.name, false))
                    return false;
                Text(measurement, "unit", &value.unit, true);
                value.hasValue = Number(measurement, "value", &value.value);
                value.hasLow = Number(measurement, "low", &value.low);
                value.hasHigh = Number(measurement, "high", &value.high);
                kept.measurements.push_back(value);
            }
        }
        unit.steps.push_back(kept);
    }
    *record = unit;
    return true;
}

void RecordsFromText(const std::string& text, RecordSet* set)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        UnitRecord record;
        if (RecordParse(line, &record)) {
            record.sequence = static_cast<int64_t>(set->records.size());
            set->records.push_back(record);
        } else {
            set->skipped++;
        }
    }
}

namespace {

bool FileContent(const std::string& path, std::string* text)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char buffer[65536];
    size_t count;
    text->clear();
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0)
        text->append(buffer, count);
    bool read = !ferror(file);
    fclose(file);
    return read;
}

bool EndsWith(const std::string& text, const char* end)
{
    size_t length = strlen(end);
    return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
}

}  // namespace

bool RecordsRead(const std::vector<std::string>& paths, RecordSet* set, std::string* why)
{
    for (const std::string& path : paths) {
        struct stat status;
        if (stat(path.c_str(), &status) != 0) {
            *why = path + ": nicht gefunden";
            return false;
        }
        std::vector<std::string> files;
        if (S_ISDIR(status.st_mode)) {
            DIR* folder = opendir(path.c_str());
            if (!folder) {
                *why = path + ": Ordner nicht lesbar";
                return false;
            }
            std::string prefix = EndsWith(path, "/") || EndsWith(path, "\\") ? path : path + "/";
            while (dirent* entry = readdir(folder)) {
                std::string name = entry->d_name;
                struct stat inner;
                if (EndsWith(name, ".jsonl") && stat((prefix + name).c_str(), &inner) == 0 &&
                    !S_ISDIR(inner.st_mode))
                    files.push_back(prefix + name);
            }
            closedir(folder);
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(path);
        }
        for (const std::string& file : files) {
            std::string text;
            if (!FileContent(file, &text)) {
                *why = file + ": nicht lesbar";
                return false;
            }
            RecordsFromText(text, set);
            set->files++;
        }
    }
    return true;
}
