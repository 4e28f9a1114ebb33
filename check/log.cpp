// Rows are UTF-8 like the check's piped output (output.cpp).
#include "check/log.h"

#include <windows.h>
#include <stdio.h>

#include "check/output.h"

namespace {

// The open log, or INVALID_HANDLE_VALUE; owned from LogOpen to LogClose.
HANDLE logFile = INVALID_HANDLE_VALUE;

bool Append(const char* text)
{
    char bytes[3072];
    DWORD size = static_cast<DWORD>(ToUtf8(text, bytes, sizeof bytes)), done = 0;
    return WriteFile(logFile, bytes, size, &done, nullptr) && done == size;
}

}  // namespace

bool LogOpen(const char* path, char* reason, int size)
{
    // Append-only access: earlier rows cannot be overwritten.
    logFile = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    LARGE_INTEGER length = {};
    if (logFile != INVALID_HANDLE_VALUE && GetFileSizeEx(logFile, &length) &&
        (length.QuadPart > 0 || Append("zeit,port,baud,ergebnis,erster_fehler,einschwingen_min_ms,"
                                       "einschwingen_median_ms,einschwingen_max_ms\n")))
        return true;
    DWORD error = GetLastError();
    LogClose();
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_ACCESS_DENIED)
        snprintf(reason, size, "%s", error == ERROR_ACCESS_DENIED ? "keine Schreibrechte" : "den Ordner gibt es nicht");
    else
        snprintf(reason, size, "Fehler %lu", error);
    return false;
}

bool LogRow(const char* fields)
{
    if (logFile == INVALID_HANDLE_VALUE)
        return true;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char row[600];
    snprintf(row, sizeof row, "%04u-%02u-%02uT%02u:%02u:%02u,%s\n", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, fields);
    return Append(row) && FlushFileBuffers(logFile);
}

void LogClose()
{
    if (logFile != INVALID_HANDLE_VALUE)
        CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
}
