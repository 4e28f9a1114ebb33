// The records the console programs keep: the check's CSV file, and JSON
// Lines (the check's and the station's), appended.
// The CSV file: one row per run. Columns are
// separated by ';' and decimals written with a comma, as a German
// spreadsheet reads them; a new file starts with a UTF-8 byte order mark and
// a header. The file is held only while a row is written, shared, so that
// another station or a spreadsheet may have it open meanwhile.
#pragma once

#include <time.h>

#include <string>
#include <vector>

// Whether a row can be appended to path; false with the reason in words.
// Leaves no file behind that was not there.
bool LogCheck(const char* path, char* reason, int size);
// Appends one row: the run's time (LogTime), then the fields (the program's
// texts), retrying a while when the file is in use; false with the reason in words.
bool LogAppend(const char* path, const std::string& time, const std::vector<std::string>& fields, char* reason,
               int size);
// A field as the row holds it: quoted where it holds ';', a quote or a line
// break (its quotes doubled), its bytes valid (console/json.h TextValid).
std::string LogField(const std::string& text);
// The same for the record as JSON Lines: one object (the program's text) a
// line, no header; checked before the port with LogCheck.
bool RecordAppend(const char* path, const std::string& object, char* reason, int size);
// The local time of when as the row and the record write it, in ISO 8601
// with its offset from UTC (2026-12-07T11:17:12+01:00): taken once a run.
std::string LogTime(time_t when);

// Shared by the platform parts (record_win.cpp, record_posix.cpp):
// A file held by another program is tried this often, this far apart.
constexpr int LOG_IN_USE_TRIES = 20, LOG_IN_USE_PAUSE_MS = 50;
// A new file's first bytes: the byte order mark and the header.
extern const char LOG_HEADER[];
// Appends row (UTF-8, its line end included) on a line of its own, a new
// file starting with header, in one write while no other station may.
bool LogAppendBytes(const char* path, const char* header, const std::string& row, char* reason, int size);
