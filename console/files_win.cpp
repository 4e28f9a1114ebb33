#include "console/files.h"

#include <windows.h>

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

FileSaved FileSave(const char* path, const void* data, int size, bool fresh)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, fresh ? CREATE_NEW : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fresh && GetLastError() == ERROR_FILE_EXISTS ? FILE_EXISTS : FILE_NOT_SAVED;
    DWORD done = 0;
    bool saved = WriteFile(file, data, static_cast<DWORD>(size), &done, nullptr) && done == static_cast<DWORD>(size);
    saved = CloseHandle(file) && saved;
    if (!saved && fresh)
        DeleteFileA(path);
    return saved ? FILE_SAVED : FILE_NOT_SAVED;
}
