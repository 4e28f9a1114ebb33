// The record of checks: a CSV file, one row per run, appended.
#pragma once

// Opens the file for appending (with a header when new or empty); false with
// the reason in reason, and nothing written.
bool LogOpen(const char* path, char* reason, int size);
// Appends one row: the local time, then the fields (already CSV); flushed.
// False when the row could not be written; true (and nothing done) when no
// log is open.
bool LogRow(const char* fields);
void LogClose();
