// The record of checks: a CSV file, one row per run, appended.
#pragma once

// Opens the file for appending (with a header when new or empty); false with
// the reason in reason, and nothing written.
bool LogOpen(const char* path, char* reason, int size);
// Appends one row: the local time, then the fields (already CSV); flushed.
// Does nothing when no log is open.
void LogRow(const char* fields);
void LogClose();
