#include "console/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool FileExists(const char* path)
{
    struct stat info;
    return lstat(path, &info) == 0;
}

FileSaved FileSave(const char* path, const void* data, int size, bool fresh)
{
    // O_EXCL makes the test and the creation one step, also over a dangling link.
    int file = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | (fresh ? O_EXCL : O_TRUNC), 0644);
    if (file < 0)
        return fresh && errno == EEXIST ? FILE_EXISTS : FILE_NOT_SAVED;
    const char* bytes = static_cast<const char*>(data);
    ssize_t done = 0;
    for (ssize_t count = 1; done < size && count > 0;) {
        count = write(file, bytes + done, static_cast<size_t>(size - done));
        done += count > 0 ? count : 0;
        if (count < 0 && errno == EINTR)
            count = 1;
    }
    bool saved = close(file) == 0 && done == size;
    if (!saved && fresh)
        unlink(path);
    return saved ? FILE_SAVED : FILE_NOT_SAVED;
}
