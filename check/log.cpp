// Rows are UTF-8 like the check's piped output (console/output.h).
#include "check/log.h"

#include <time.h>

#include "console/output.h"

const char LOG_HEADER[] = "\xEF\xBB\xBFzeit;port;baud;wiederholungen;handschritte;ergebnis;erster_fehler;"
                          "einschwingen_min_ms;einschwingen_median_ms;einschwingen_max_ms;schalten_ms;abfrage_ms\r\n";

std::string LogRow(const char* fields)
{
    time_t now = time(nullptr);
    char stamp[40] = "";
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S;", localtime(&now));
    return ToUtf8((stamp + std::string(fields) + "\r\n").c_str());
}
