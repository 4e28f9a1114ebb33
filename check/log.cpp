// Rows are UTF-8 like the check's piped output (output.cpp).
#include "check/log.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

namespace {

// The open log, or INVALID_HANDLE_VALUE; owned from LogOpen to LogClose.
HANDLE logFile = INVALID_HANDLE_VALUE;

const char HEADER[] = "zeit,port,baud,ergebnis,erster_fehler,einschwingen_min_ms,einschwingen_median_ms,"
                      "einschwingen_max_ms\n";

bool Append(const char* text)
{
    WCHAR wide[1024];
    char bytes[3072];
    int length = MultiByteToWideChar(1252, 0, text, -1, wide, 1024);
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, length - 1, bytes, sizeof bytes, nullptr, nullptr);
    DWORD done = 0;
    return length > 0 && WriteFile(logFile, bytes, static_cast<DWORD>(size), &done, nullptr) &&
           done == static_cast<DWORD>(size);
}

}  // namespace

bool LogOpen(const char* path, char* reason, int size)
{
    // Append-only access: earlier rows cannot be overwritten.
    logFile = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    DWORD error = GetLastError();
    LARGE_INTEGER length = {};
    if (logFile != INVALID_HANDLE_VALUE && GetFileSizeEx(logFile, &length) &&
        (length.QuadPart > 0 || Append(HEADER)))
        return true;
    if (logFile != INVALID_HANDLE_VALUE)
        error = GetLastError();
    LogClose();
    const char* text = error == ERROR_PATH_NOT_FOUND ? "den Ordner gibt es nicht"
                       : error == ERROR_ACCESS_DENIED ? "keine Schreibrechte"
                       : error == ERROR_SHARING_VIOLATION ? "von einem anderen Programm geöffnet"
                                                          : nullptr;
    if (text)
        snprintf(reason, size, "%s", text);
    else
        snprintf(reason, size, "Fehler %lu", error);
    return false;
}

void LogRow(const char* fields)
{
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char row[600];
    snprintf(row, sizeof row, "%04u-%02u-%02uT%02u:%02u:%02u,%s\n", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, fields);
    Append(row);
    FlushFileBuffers(logFile);
}

void LogClose()
{
    if (logFile != INVALID_HANDLE_VALUE)
        CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
}
