// Rows are UTF-8 like the check's piped output (console/output.h).
#include "check/log.h"

#include <time.h>

#include "console/json.h"
#include "console/output.h"

const char LOG_HEADER[] = "\xEF\xBB\xBFzeit;port;baud;wiederholungen;handschritte;ergebnis;erster_fehler;"
                          "einschwingen_min_ms;einschwingen_median_ms;einschwingen_max_ms;schalten_ms;abfrage_ms\r\n";

std::string LogTime()
{
    time_t now = time(nullptr);
    char stamp[40] = "";
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", localtime(&now));
    return stamp;
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

bool LogAppend(const char* path, const std::vector<std::string>& fields, char* reason, int size)
{
    std::string row = LogTime();
    for (const std::string& field : fields)
        row += ";" + LogField(field);
    return LogAppendBytes(path, LOG_HEADER, ToUtf8((row + "\r\n").c_str()), reason, size);
}

bool RecordAppend(const char* path, const std::string& object, char* reason, int size)
{
    return LogAppendBytes(path, "", ToUtf8(object.c_str()) + "\n", reason, size);
}
