#include "console/files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

// The folder part of path ("." for a bare name) and the name in it.
std::string Folder(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}
std::string Name(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new empty file beside path, with the mode a new file gets; its
// descriptor (the name in *temporary), or -1 with errno set.
int Temporary(const std::string& path, std::string* temporary)
{
    std::string pattern = Folder(path) + "/." + Name(path) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int file = mkostemp(name.data(), O_CLOEXEC);
    if (file < 0)
        return -1;
    *temporary = name.data();
    mode_t mask = umask(0);
    umask(mask);
    fchmod(file, 0666 & ~mask);
    return file;
}

}  // namespace

bool FileExists(const char* path)
{
    struct stat info;
    return lstat(path, &info) == 0;
}

bool FileWritable(const char* path, bool fresh, std::string* why)
{
    struct stat info;
    bool exists = stat(path, &info) == 0;
    const char* words = nullptr;
    if (strlen(path) >= PATH_MAX)
        words = "der Pfad ist zu lang";
    else if (exists && S_ISDIR(info.st_mode))
        words = "ein Ordner, keine Datei";
    else if (exists && !S_ISREG(info.st_mode))
        words = "ein Gerät oder eine Pipe, keine Datei";
    else if (exists && fresh)
        words = "gibt es schon: sie wird nie überschrieben, einen neuen Namen angeben";
    else if (!exists && FileExists(path))
        words = "ein Verweis ins Leere";
    else if (stat(Folder(path).c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        words = "den Ordner gibt es nicht";
    else if (exists && access(path, W_OK) != 0)
        words = "keine Schreibrechte";
    if (words) {
        *why = words;
        return false;
    }
    std::string temporary;
    int file = Temporary(path, &temporary);
    if (file < 0) {
        *why = errno == EACCES || errno == EPERM || errno == EROFS ? "keine Schreibrechte im Ordner"
               : errno == ENAMETOOLONG                            ? "der Name ist zu lang"
                                                                  : "lässt sich nicht anlegen (Fehler " +
                                                                        std::to_string(errno) + ")";
        return false;
    }
    close(file);
    unlink(temporary.c_str());
    return true;
}

bool FileSame(const char* a, const char* b)
{
    struct stat first, second;
    bool hasFirst = stat(a, &first) == 0, hasSecond = stat(b, &second) == 0;
    if (hasFirst && hasSecond)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    if (hasFirst != hasSecond)
        return false;
    char folders[2][PATH_MAX];
    if (!realpath(Folder(a).c_str(), folders[0]) || !realpath(Folder(b).c_str(), folders[1]))
        return false;
    return std::string(folders[0]) == folders[1] && Name(a) == Name(b);
}

FileSaved FileSave(const char* path, const void* data, size_t size, bool fresh)
{
    std::string temporary;
    int file = Temporary(path, &temporary);
    if (file < 0)
        return FILE_NOT_SAVED;
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t count = write(file, bytes + done, size - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        done += static_cast<size_t>(count);
    }
    bool written = done == size && fsync(file) == 0;
    written = close(file) == 0 && written;
    FileSaved saved = written ? FILE_SAVED : FILE_NOT_SAVED;
    // A hard link is made only where no name is, in one step; a folder that
    // takes no links (FAT) takes a rename that refuses to replace.
    if (saved == FILE_SAVED && fresh && link(temporary.c_str(), path) != 0) {
        int error = errno;
        if (error != EEXIST && renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path, RENAME_NOREPLACE) == 0)
            return FILE_SAVED;
        saved = error == EEXIST || errno == EEXIST ? FILE_EXISTS : FILE_NOT_SAVED;
    } else if (saved == FILE_SAVED && !fresh && rename(temporary.c_str(), path) != 0) {
        saved = FILE_NOT_SAVED;
    } else if (saved == FILE_SAVED && !fresh) {
        return FILE_SAVED;
    }
    unlink(temporary.c_str());
    return saved;
}

bool FileReadInput(std::string* text, size_t limit)
{
    char buffer[4096];
    text->clear();
    while (text->size() <= limit) {
        size_t want = limit + 1 - text->size() < sizeof buffer ? limit + 1 - text->size() : sizeof buffer;
        ssize_t count = read(STDIN_FILENO, buffer, want);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count == 0;
        text->append(buffer, static_cast<size_t>(count));
    }
    return true;
}

bool FileWriteOutput(const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        ssize_t count = write(STDOUT_FILENO, bytes + done, size - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<size_t>(count);
    }
    return true;
}
