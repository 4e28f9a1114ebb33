#include "console/record.h"
#include "console/files.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>

namespace {

// Opens the file for reading and appending, shared; the handle or
// INVALID_HANDLE_VALUE with the reason.
HANDLE Open(const char* path, int tries, bool* created, char* reason, int size)
{
    DWORD attributes = GetFileAttributesA(path);
    const char* why = nullptr;
    if (FileDeviceName(path))
        why = "ein Gerät, keine Datei";
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        why = "ein Ordner, keine Datei";
    for (int i = 0; !why && i < tries; i++) {
        HANDLE file = CreateFileA(path, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD error = GetLastError();
        if (file != INVALID_HANDLE_VALUE) {
            *created = error != ERROR_ALREADY_EXISTS;
            return file;
        }
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            why = i + 1 < tries ? nullptr : "in Benutzung (von einem anderen Programm geöffnet)";
            Sleep(LOG_IN_USE_PAUSE_MS);
        } else if (error == ERROR_ACCESS_DENIED) {
            why = "keine Schreibrechte";
        } else if (error == ERROR_PATH_NOT_FOUND) {
            why = "den Ordner gibt es nicht";
        } else {
            snprintf(reason, size, "Fehler %u", static_cast<unsigned>(error));
            return INVALID_HANDLE_VALUE;
        }
    }
    snprintf(reason, size, "%s", why);
    return INVALID_HANDLE_VALUE;
}

bool Write(HANDLE file, const char* bytes, DWORD size)
{
    DWORD done = 0;
    return WriteFile(file, bytes, size, &done, nullptr) && done == size;
}

}  // namespace

bool LogCheck(const char* path, char* reason, int size)
{
    bool created = false;
    HANDLE file = Open(path, 1, &created, reason, size);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    if (created)
        DeleteFileA(path);
    return true;
}

bool LogAppendBytes(const char* path, const char* header, const std::string& row, char* reason, int size)
{
    bool created = false;
    HANDLE file = Open(path, LOG_IN_USE_TRIES, &created, reason, size);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // A row begins on a line of its own, also after a file edited by hand.
    LARGE_INTEGER length = {};
    char last = '\n';
    DWORD done = 0;
    bool written = GetFileSizeEx(file, &length);
    if (written && length.QuadPart > 0) {
        LARGE_INTEGER end = length;
        end.QuadPart -= 1;
        written =
            SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ReadFile(file, &last, 1, &done, nullptr);
    }
    // A row the conversion could not take is not written as an empty one.
    written = written && !row.empty() && (length.QuadPart > 0 || Write(file, header, strlen(header))) &&
              (last == '\n' || Write(file, "\r\n", 2)) &&
              Write(file, row.data(), static_cast<DWORD>(row.size())) && FlushFileBuffers(file);
    if (!written)
        snprintf(reason, size, "Zeile nicht geschrieben (Fehler %u)", static_cast<unsigned>(GetLastError()));
    CloseHandle(file);
    return written;
}
