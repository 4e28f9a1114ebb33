#include "line/posix_lines.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <inttypes.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

// A wait closer than this to its end spins: a sleep overshoots by about as much.
constexpr double SPIN_MS = 0.1;

int Fd(void* data) { return static_cast<PosixLines*>(data)->fd; }

bool Set(void* data, LineOutput line, int on)
{
    int bit = line == LINE_SDA_OUT ? TIOCM_DTR : TIOCM_RTS;
    return ioctl(Fd(data), on ? TIOCMBIS : TIOCMBIC, &bit) == 0;
}

int32_t Status(void* data)
{
    int bits = 0;
    if (ioctl(Fd(data), TIOCMGET, &bits) != 0)
        return -1;
    return ((bits & TIOCM_DSR) ? LINE_SDA_IN : 0) | ((bits & TIOCM_CTS) ? LINE_INT_IN : 0);
}

double Now(void*)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

void WaitUntil(void* data, double ms)
{
    double now = Now(data);
    if (ms - now > SPIN_MS) {
        double until = ms - SPIN_MS;
        timespec at;
        at.tv_sec = static_cast<time_t>(until / 1000);
        at.tv_nsec = static_cast<decltype(at.tv_nsec)>((until - static_cast<double>(at.tv_sec) * 1000) * 1e6);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
    }
    while (Now(data) < ms) {
    }
}

speed_t Speed(int baud)
{
    static const struct {
        int baud;
        speed_t speed;
    } SPEEDS[] = {{75, B75},     {150, B150},   {300, B300},   {600, B600},     {1200, B1200},
                  {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400}};
    for (const auto& s : SPEEDS)
        if (s.baud == baud)
            return s.speed;
    return B0;
}

PosixOpen FromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return POSIX_MISSING;
    case EBUSY:
    case EWOULDBLOCK:
        return POSIX_BUSY;
    case EACCES:
    case EPERM:
        return POSIX_DENIED;
    case ENOTTY:
        return POSIX_NOT_A_PORT;
    default:
        return POSIX_FAILED;
    }
}

// Whether the device is the program's own terminal: /dev/tty, the
// controlling terminal /proc names, or the one on standard input, output or
// error. Read without opening any of them.
bool OwnTerminal(dev_t device)
{
    struct stat info;
    if (stat("/dev/tty", &info) == 0 && info.st_rdev == device)
        return true;
    for (int fd = 0; fd <= 2; fd++)
        if (isatty(fd) && fstat(fd, &info) == 0 && info.st_rdev == device)
            return true;
    char line[512] = "";
    if (FILE* file = fopen("/proc/self/stat", "r")) {
        if (!fgets(line, sizeof line, file))
            line[0] = 0;
        fclose(file);
    }
    // After the name in parentheses: state, parent, group, session, terminal.
    const char* after = strrchr(line, ')');
    int terminal = 0;
    if (!after || sscanf(after + 1, " %*c %*d %*d %*d %d", &terminal) != 1 || terminal == 0)
        return false;
    unsigned int number = static_cast<unsigned int>(terminal);
    return makedev((number >> 8) & 0xfff, (number & 0xff) | ((number >> 12) & 0xfff00)) == device;
}

}  // namespace

PosixOpen PosixLinesOpen(PosixLines* posix, const char* path, int baud, int32_t* mismatch)
{
    posix->fd = -1;
    posix->restore = posix->exclusive = false;
    // Before the open: opening a serial port already raises its lines, and
    // the own terminal would be left raw.
    struct stat info;
    if (stat(path, &info) == 0 && S_ISCHR(info.st_mode) && OwnTerminal(info.st_rdev))
        return POSIX_OWN_TERMINAL;
    posix->fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (posix->fd < 0)
        return FromErrno(errno);
    PosixOpen result = POSIX_OPENED;
    int exclusive = 0, lines = 0;
    char holder[300];
    if (tcgetattr(posix->fd, &posix->found) != 0)
        result = FromErrno(errno == EINVAL ? ENOTTY : errno);
    // Made exclusive by a program that holds it: busy for root too, whose
    // open gets past the flag.
    else if (ioctl(posix->fd, TIOCGEXCL, &exclusive) == 0 && exclusive &&
             PosixPortHolder(path, holder, sizeof holder))
        result = POSIX_BUSY;
    // The lock is what other serial programs look for, and tells a port already held.
    else if (flock(posix->fd, LOCK_EX | LOCK_NB) != 0)
        result = FromErrno(errno);
    // Lines that cannot be read refuse the port before anything on it changes.
    else if (ioctl(posix->fd, TIOCMGET, &lines) != 0)
        result = errno == ENOTTY || errno == EINVAL ? POSIX_NO_LINES : FromErrno(errno);
    // TIOCEXCL keeps out later opens by others (not root's).
    else if (ioctl(posix->fd, TIOCEXCL) != 0)
        result = FromErrno(errno);
    if (result != POSIX_OPENED) {
        int error = errno;
        PosixLinesClose(posix);
        errno = error;
        return result;
    }
    posix->exclusive = posix->restore = true;
    termios settings = posix->found;
    cfmakeraw(&settings);
    settings.c_cflag = (settings.c_cflag & ~(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS8 | CLOCAL | CREAD | HUPCL;
    cfsetispeed(&settings, Speed(baud));
    cfsetospeed(&settings, Speed(baud));
    termios held;
    bool set = tcsetattr(posix->fd, TCSANOW, &settings) == 0 && tcgetattr(posix->fd, &held) == 0;
    // A driver may take the call and keep part of it: what it holds decides.
    *mismatch = !set ? 7
                     : (cfgetospeed(&held) != Speed(baud) ? 1 : 0) |
                           ((held.c_cflag & (CSIZE | PARENB | CSTOPB)) != CS8 ? 2 : 0) |
                           ((held.c_cflag & CRTSCTS) ? 4 : 0);
    return POSIX_OPENED;
}

LinePort PosixLinesPort(PosixLines* posix) { return {posix, Set, Status, Now, WaitUntil}; }

void PosixLinesClose(PosixLines* posix)
{
    if (posix->fd < 0)
        return;
    if (posix->restore) {
        // As found, but with HUPCL: the close drops DTR and RTS as documented.
        termios found = posix->found;
        found.c_cflag |= HUPCL;
        tcsetattr(posix->fd, TCSANOW, &found);
    }
    if (posix->exclusive)
        ioctl(posix->fd, TIOCNXCL);
    close(posix->fd);
    posix->fd = -1;
    posix->restore = posix->exclusive = false;
}

bool PosixPortHolder(const char* path, char* text, int size)
{
    char device[PATH_MAX];
    if (!realpath(path, device))
        return false;
    DIR* processes = opendir("/proc");
    if (!processes)
        return false;
    bool found = false;
    pid_t self = getpid();
    for (dirent* entry; !found && (entry = readdir(processes));) {
        char* end = nullptr;
        int64_t pid = strtoll(entry->d_name, &end, 10);
        if (*end || pid <= 0 || pid == self)
            continue;
        char folder[64];
        snprintf(folder, sizeof folder, "/proc/%" PRId64 "/fd", pid);
        DIR* fds = opendir(folder);
        for (dirent* fd; fds && !found && (fd = readdir(fds));) {
            char link[PATH_MAX], target[PATH_MAX];
            snprintf(link, sizeof link, "%s/%s", folder, fd->d_name);
            ssize_t length = readlink(link, target, sizeof target - 1);
            if (length <= 0)
                continue;
            target[length] = 0;
            if (strcmp(target, device) != 0)
                continue;
            char name[64] = "?", commPath[64];
            snprintf(commPath, sizeof commPath, "/proc/%" PRId64 "/comm", pid);
            if (FILE* comm = fopen(commPath, "r")) {
                if (fgets(name, sizeof name, comm))
                    name[strcspn(name, "\n")] = 0;
                fclose(comm);
            }
            snprintf(text, static_cast<size_t>(size), "%s (PID %" PRId64 ")", name, pid);
            found = true;
        }
        if (fds)
            closedir(fds);
    }
    closedir(processes);
    return found;
}
