// Rows are UTF-8 like the check's piped output (console/output.h).
#include "check/log.h"

#include <time.h>

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

bool LogAppend(const char* path, const char* fields, char* reason, int size)
{
    return LogAppendBytes(path, LOG_HEADER, ToUtf8((LogTime() + ";" + fields + "\r\n").c_str()), reason, size);
}

bool RecordAppend(const char* path, const std::string& object, char* reason, int size)
{
    return LogAppendBytes(path, "", ToUtf8(object.c_str()) + "\n", reason, size);
}
