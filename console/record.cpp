// Rows are UTF-8 like the check's piped output (console/output.h).
#include "console/record.h"

#include <stdio.h>
#include <time.h>

#include "console/json.h"
#include "console/output.h"

const char LOG_HEADER[] = "\xEF\xBB\xBFzeit;port;baud;wiederholungen;handschritte;ergebnis;erster_fehler;"
                          "einschwingen_min_ms;einschwingen_median_ms;einschwingen_max_ms;schalten_ms;abfrage_ms\r\n";

std::string LogTime(time_t when)
{
    tm local = *localtime(&when), utc = *gmtime(&when);
    // The offset from the fields: %z is a zone's name in the Windows runtime.
    int days = local.tm_year != utc.tm_year ? local.tm_year - utc.tm_year : local.tm_yday - utc.tm_yday;
    int minutes = days * 1440 + (local.tm_hour - utc.tm_hour) * 60 + local.tm_min - utc.tm_min;
    char stamp[40] = "", offset[8];
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    int away = minutes < 0 ? -minutes : minutes;
    snprintf(offset, sizeof offset, "%c%02d:%02d", minutes < 0 ? '-' : '+', away / 60 % 100, away % 60);
    return std::string(stamp) + offset;
}

std::string LogField(const std::string& text)
{
    std::string valid = TextValid(text.c_str());
    if (valid.find_first_of(";\"\r\n") == std::string::npos)
        return valid;
    std::string quoted = "\"";
    for (char c : valid)
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    return quoted + "\"";
}

bool LogAppend(const char* path, const std::string& time, const std::vector<std::string>& fields, char* reason,
               int size)
{
    std::string row = time;
    for (const std::string& field : fields)
        row += ";" + LogField(field);
    return LogAppendBytes(path, LOG_HEADER, ToUtf8((row + "\r\n").c_str()), reason, size);
}

bool RecordAppend(const char* path, const std::string& object, char* reason, int size)
{
    return LogAppendBytes(path, "", ToUtf8(object.c_str()) + "\n", reason, size);
}
