#include "console/files.h"

#include <windows.h>
#include <ctype.h>
#include <string.h>

namespace {

// The full path of a name, or "" where it does not fit MAX_PATH whole: the
// ANSI calls take no longer one, and a cut path would name another file.
std::string FullPath(const char* path)
{
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : "";
}

std::string Folder(const std::string& full)
{
    size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? "." : full.substr(0, slash + 1);
}

// A new empty file in the folder of full (GetTempFileName makes it); its
// name, or "".
std::string Temporary(const std::string& full)
{
    char name[MAX_PATH];
    return GetTempFileNameA(Folder(full).c_str(), "cpl", 0, name) ? name : "";
}

}  // namespace

bool FileDeviceName(const char* path)
{
    const char* name = path;
    for (const char* c = path; *c; c++)
        if (*c == '\\' || *c == '/' || *c == ':')
            name = c + 1;
    size_t length = strcspn(name, ". ");
    static const char* const DEVICES[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : DEVICES)
        if (length == strlen(device) && !_strnicmp(name, device, length))
            return true;
    bool numbered = length >= 4 && (!_strnicmp(name, "com", 3) || !_strnicmp(name, "lpt", 3));
    for (size_t i = 3; numbered && i < length; i++)
        numbered = isdigit(static_cast<unsigned char>(name[i])) != 0;
    return numbered || !strncmp(path, "\\\\.\\", 4) || !strncmp(path, "\\\\?\\", 4);
}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool FileWritable(const char* path, bool fresh, std::string* why)
{
    std::string full = FullPath(path);
    DWORD attributes = GetFileAttributesA(path);
    DWORD folder = full.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(Folder(full).c_str());
    const char* words = nullptr;
    // The temporary name beside it takes 14 characters more.
    if (full.empty() || Folder(full).size() + 14 >= MAX_PATH)
        words = "der Pfad ist länger als Windows hier erlaubt (259 Zeichen)";
    else if (FileDeviceName(path))
        words = "ein Gerät, keine Datei";
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        words = "ein Ordner, keine Datei";
    else if (attributes != INVALID_FILE_ATTRIBUTES && fresh)
        words = "gibt es schon: sie wird nie überschrieben, einen neuen Namen angeben";
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        words = "keine Schreibrechte";
    else if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY))
        words = "den Ordner gibt es nicht";
    if (words) {
        *why = words;
        return false;
    }
    std::string temporary = Temporary(full);
    if (temporary.empty()) {
        *why = GetLastError() == ERROR_ACCESS_DENIED ? "keine Schreibrechte im Ordner"
                                                     : "lässt sich nicht anlegen (Fehler " +
                                                           std::to_string(GetLastError()) + ")";
        return false;
    }
    DeleteFileA(temporary.c_str());
    return true;
}

bool FileSame(const char* a, const char* b)
{
    // Both there: the volume and the file's number, whatever names lead to it.
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    bool known[2] = {};
    const char* paths[2] = {a, b};
    for (int i = 0; i < 2; i++) {
        HANDLE file = CreateFileA(paths[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            known[i] = GetFileInformationByHandle(file, &info[i]) != 0;
            CloseHandle(file);
        }
    }
    if (known[0] && known[1])
        return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
               info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
    std::string first = FullPath(a), second = FullPath(b);
    return !first.empty() && first.size() == second.size() && !_stricmp(first.c_str(), second.c_str());
}

FileSaved FileSave(const char* path, const void* data, size_t size, bool fresh)
{
    std::string full = FullPath(path);
    std::string temporary = full.empty() ? "" : Temporary(full);
    if (temporary.empty() || size > 0xFFFFFFFFu)
        return FILE_NOT_SAVED;
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    bool saved = file != INVALID_HANDLE_VALUE &&
                 WriteFile(file, data, static_cast<DWORD>(size), &done, nullptr) && done == size &&
                 FlushFileBuffers(file);
    saved = file != INVALID_HANDLE_VALUE && CloseHandle(file) && saved;
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a name that is taken.
    DWORD flags = MOVEFILE_WRITE_THROUGH | (fresh ? 0 : MOVEFILE_REPLACE_EXISTING);
    if (saved && MoveFileExA(temporary.c_str(), full.c_str(), flags))
        return FILE_SAVED;
    DWORD error = GetLastError();
    DeleteFileA(temporary.c_str());
    return saved && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) ? FILE_EXISTS : FILE_NOT_SAVED;
}

bool FileReadInput(std::string* text, size_t limit)
{
    char buffer[4096];
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    text->clear();
    while (text->size() <= limit) {
        size_t want = limit + 1 - text->size() < sizeof buffer ? limit + 1 - text->size() : sizeof buffer;
        DWORD count = 0;
        // A pipe whose writer closed it ends with a broken pipe: the input's end.
        if (!ReadFile(input, buffer, static_cast<DWORD>(want), &count, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE;
        if (!count)
            return true;
        text->append(buffer, count);
    }
    return true;
}

bool FileWriteOutput(const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    for (size_t done = 0; done < size;) {
        DWORD count = 0, want = size - done < 65536 ? static_cast<DWORD>(size - done) : 65536;
        if (!WriteFile(output, bytes + done, want, &count, nullptr) || !count)
            return false;
        done += count;
    }
    return true;
}
