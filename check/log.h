// The record of checks: a CSV file, one row per run, appended. Columns are
// separated by ';' and decimals written with a comma, as a German
// spreadsheet reads them; a new file starts with a UTF-8 byte order mark and
// a header. The file is held only while a row is written, shared, so that
// another station or a spreadsheet may have it open meanwhile.
#pragma once

// Whether a row can be appended to path; false with the reason in words.
// Leaves no file behind that was not there.
bool LogCheck(const char* path, char* reason, int size);
// Appends one row: the local time, then the fields (';'-separated, Windows-1252),
// retrying a while when the file is in use; false with the reason in words.
bool LogAppend(const char* path, const char* fields, char* reason, int size);
