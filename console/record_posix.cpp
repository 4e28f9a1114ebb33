// Several stations may append to one file (a shared folder): each row goes
// with O_APPEND in one write while an advisory lock (flock) is held, so that
// the header of a new file, the test of its last byte and the row are one
// step and no row is torn. Programs that do not lock, such as a spreadsheet,
// may keep the file open meanwhile.
#include "console/record.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// Opens the file for reading and appending; the descriptor, locked, or -1
// with the reason. created: this call made the file.
int Open(const char* path, int tries, bool* created, char* reason, int size)
{
    struct stat info;
    const char* why = nullptr;
    if (stat(path, &info) == 0 && S_ISDIR(info.st_mode))
        why = "ein Ordner, keine Datei";
    else if (stat(path, &info) == 0 && !S_ISREG(info.st_mode))
        why = "ein Gerät, keine Datei";
    int file = -1;
    if (!why) {
        file = open(path, O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0644);
        *created = file >= 0;
        if (file < 0 && errno == EEXIST)
            file = open(path, O_RDWR | O_APPEND | O_NOCTTY | O_CLOEXEC);
        if (file < 0)
            why = errno == ENOENT || errno == ENOTDIR ? "den Ordner gibt es nicht"
                  : errno == EACCES || errno == EPERM || errno == EROFS ? "keine Schreibrechte"
                                                                         : nullptr;
        if (file < 0 && !why) {
            snprintf(reason, size, "Fehler %d", errno);
            return -1;
        }
    }
    for (int i = 0; !why && flock(file, LOCK_EX | LOCK_NB) != 0; i++) {
        if (i + 1 >= tries)
            why = "in Benutzung (von einem anderen Programm geöffnet)";
        timespec pause = {0, LOG_IN_USE_PAUSE_MS * 1000000L};
        nanosleep(&pause, nullptr);
    }
    if (!why)
        return file;
    if (file >= 0)
        close(file);
    snprintf(reason, size, "%s", why);
    return -1;
}

}  // namespace

bool LogCheck(const char* path, char* reason, int size)
{
    bool created = false;
    int file = Open(path, 1, &created, reason, size);
    if (file < 0)
        return false;
    if (created)
        unlink(path);
    close(file);
    return true;
}

bool LogAppendBytes(const char* path, const char* header, const std::string& row, char* reason, int size)
{
    bool created = false;
    int file = Open(path, LOG_IN_USE_TRIES, &created, reason, size);
    if (file < 0)
        return false;
    // A row begins on a line of its own, also after a file edited by hand.
    struct stat info = {};
    char last = '\n';
    bool read = fstat(file, &info) == 0 && (info.st_size == 0 || pread(file, &last, 1, info.st_size - 1) == 1);
    std::string bytes = info.st_size == 0 ? header : last == '\n' ? "" : "\r\n";
    bytes += row;
    ssize_t done = read && !row.empty() ? write(file, bytes.data(), bytes.size()) : -1;
    bool written = done == static_cast<ssize_t>(bytes.size()) && fsync(file) == 0;
    if (!written)
        snprintf(reason, size, "Zeile nicht geschrieben (Fehler %d)", done < 0 ? errno : 0);
    close(file);
    return written;
}
