// The few Windows calls the console suites and the virtual coupler's client
// make, over POSIX, so that the same files prove the native programs: a
// handle is a file descriptor, an OVERLAPPED offset a pread or pwrite, and
// Wine's Z: drive (the Linux root) the path after it; a file opened to share
// nothing is locked as another station locks the record.
#pragma once

#include <fcntl.h>
#include <stdint.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <string>

typedef uint32_t DWORD;
typedef int BOOL;
typedef intptr_t HANDLE;
struct OVERLAPPED {
    DWORD Offset;
};
#define INVALID_HANDLE_VALUE (static_cast<HANDLE>(-1))
enum { GENERIC_READ = 1, GENERIC_WRITE = 2, FILE_SHARE_READ = 1, FILE_SHARE_WRITE = 2 };
enum { CREATE_ALWAYS = 2, OPEN_EXISTING = 3 };

inline HANDLE CreateFileA(const char* name, DWORD, DWORD share, void*, DWORD creation, DWORD, void*)
{
    std::string path = name[0] == 'Z' && name[1] == ':' ? name + 2 : name;
    for (char& c : path)
        c = c == '\\' ? '/' : c;
    int file = open(path.c_str(), O_RDWR | O_CLOEXEC | (creation == CREATE_ALWAYS ? O_CREAT | O_TRUNC : 0), 0644);
    return file >= 0 && share == 0 && flock(file, LOCK_EX | LOCK_NB) != 0 ? (close(file), -1) : file;
}

inline BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* done, OVERLAPPED* at)
{
    ssize_t count = at ? pread(static_cast<int>(file), buffer, size, at->Offset) : read(static_cast<int>(file), buffer, size);
    *done = count > 0 ? static_cast<DWORD>(count) : 0;
    return count >= 0;
}

inline BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* done, OVERLAPPED* at)
{
    ssize_t count = at ? pwrite(static_cast<int>(file), buffer, size, at->Offset) : write(static_cast<int>(file), buffer, size);
    *done = count > 0 ? static_cast<DWORD>(count) : 0;
    return count >= 0;
}

inline BOOL CloseHandle(HANDLE file) { return close(static_cast<int>(file)) == 0; }
inline BOOL DeleteFileA(const char* path) { return unlink(path) == 0; }

inline DWORD GetTickCount()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

inline void Sleep(DWORD ms) { usleep(ms * 1000); }
