// The record of checks: a CSV file, one row per run, appended.
#pragma once

// Opens the file for appending (creating it with a header when new or empty).
// false with the reason in reason; nothing is written then.
bool LogOpen(const char* path, char* reason, int size);
// Appends one row: local time, then the fields given (already CSV), flushed
// to the disk. Does nothing when no log is open.
void LogRow(const char* fields);
void LogClose();
