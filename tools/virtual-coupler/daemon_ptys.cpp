// Pseudo-terminals as COM ports: one pty per COM number, its link in the
// Wine prefix, its lock against new opens, the bytes the program writes, and
// the closes, at which DTR and RTS drop as a serial driver drops them.
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "daemon.h"

std::vector<Port> ports;

namespace {

// The inotify descriptor watching every slave's opens and closes: made by
// StartCloseWatch, closed by StopCloseWatch.
int closeWatch = -1;

constexpr size_t FROM_PROGRAM_LIMIT = 1 << 16;

std::string LinkPath(int com) { return options.prefix + "/dosdevices/com" + std::to_string(com); }

uint32_t SpeedNumber(speed_t speed)
{
    static const struct {
        speed_t code;
        uint32_t number;
    } speeds[] = {{B50, 50},       {B75, 75},         {B110, 110},      {B134, 134},     {B150, 150},
                  {B200, 200},     {B300, 300},       {B600, 600},      {B1200, 1200},   {B1800, 1800},
                  {B2400, 2400},   {B4800, 4800},     {B9600, 9600},    {B19200, 19200}, {B38400, 38400},
                  {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    for (const auto& entry : speeds)
        if (entry.code == speed)
            return entry.number;
    return 0;
}

// The last handle to the port closed: DTR and RTS drop, as a serial driver
// drops them. When the port was opened again before the daemon saw the
// close, the lines belong to the new opener as soon as it made a request:
// its first switch may have set them to what they were (no change to see),
// and a drop after it would cut the lines under a running job.
void LastClose(Port& port, bool reopened)
{
    uint32_t before;
    {
        PortGuard guard(port);
        if (!guard.held) {
            fprintf(stderr, "vcoupler: COM%d: a close not taken, the port's lock was kept\n", port.com);
            return;
        }
        uint32_t lines = __atomic_load_n(&guard.record.lines, __ATOMIC_ACQUIRE);
        bool drop = !reopened || (lines == port.seenLines &&
                                  __atomic_load_n(&guard.record.lineRequests, __ATOMIC_ACQUIRE) == port.seenRequests);
        before = (drop ? lines : port.seenLines) & (COUPLER_LINE_DTR | COUPLER_LINE_RTS);
        guard.record.linesAtClose = before;
        if (drop)
            ModelSetLines(&guard.record, &guard.bus, lines, 0, 0, ModelNow());
        __atomic_add_fetch(&guard.record.closes, 1, __ATOMIC_RELEASE);
    }
    if (ViewRunning()) {
        port.shownChanges = __atomic_load_n(&Record(port).lines, __ATOMIC_ACQUIRE) >> COUPLER_LINE_COUNT_SHIFT;
        char text[80];
        snprintf(text, sizeof text, "closed: DTR 0 RTS 0   (before: DTR %u RTS %u)", before & 1, before >> 1);
        Show("%s", text, port);
    }
}

}  // namespace

Port* FindPort(uint32_t com)
{
    for (Port& port : ports)
        if (static_cast<uint32_t>(port.com) == com)
            return &port;
    return nullptr;
}

std::string PortPath(const std::string& pattern, int com)
{
    std::string path = pattern;
    size_t number = path.find("%d");
    if (number != std::string::npos)
        path.replace(number, 2, std::to_string(com));
    return path;
}

std::string LinkTarget(const Port& port)
{
    return Record(port).present ? std::string(Record(port).pts) : options.absentDir;
}

// Replaces the link in one step, so that an open never sees it missing.
void PointLink(const Port& port)
{
    std::string link = LinkPath(port.com), target = LinkTarget(port);
    char current[256];
    ssize_t length = readlink(link.c_str(), current, sizeof current - 1);
    if (length >= 0) {
        current[length] = 0;
        if (target == current)
            return;
    }
    std::string temporary = link + ".vcoupler";
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) == 0)
        rename(temporary.c_str(), link.c_str());
}

// Wine rewrites the links from its registry whenever its device manager
// starts (with each new wineserver session), so the daemon puts its own
// targets back.
void KeepLinks()
{
    for (const Port& port : ports)
        PointLink(port);
}

void RunWineReg(int com, const std::string& target)
{
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        std::string name = "COM" + std::to_string(com);
        execlp("wine", "wine", "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", name.c_str(), "/d",
               target.c_str(), "/f", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child > 0)
        waitpid(child, nullptr, 0);
}

void SetPresent(Port& port, bool present)
{
    Record(port).present = present;
    PointLink(port);
}

// A busy or vanished port refuses new opens. The preload library pulls the
// adapter by itself after a set number of requests: the daemon's loop locks
// the pty then.
void SetLock(Port& port)
{
    int locked = Record(port).busy || Record(port).vanished ? 1 : 0;
    ioctl(port.master, TIOCSPTLCK, &locked);
    port.locked = locked;
    port.hangUpUnsure = port.hangUpUnsure || locked;
}

void DrainMaster(Port& port)
{
    char buffer[4096];
    for (;;) {
        ssize_t count = read(port.master, buffer, sizeof buffer);
        if (count <= 0)
            return;  // EAGAIN, or EIO while no one has the slave open
        if (port.fromProgram.size() < FROM_PROGRAM_LIMIT)
            port.fromProgram.append(buffer, count);
    }
}

bool ReadLineSettings(const Port& port, CouplerTermios* settings)
{
    struct termios modes;
    if (tcgetattr(port.master, &modes) != 0)
        return false;
    memset(settings, 0, sizeof *settings);
    settings->baud = SpeedNumber(cfgetospeed(&modes));
    switch (modes.c_cflag & CSIZE) {
    case CS5:
        settings->dataBits = 5;
        break;
    case CS6:
        settings->dataBits = 6;
        break;
    case CS7:
        settings->dataBits = 7;
        break;
    default:
        settings->dataBits = 8;
        break;
    }
    settings->parity = !(modes.c_cflag & PARENB) ? 'n' : (modes.c_cflag & PARODD) ? 'o' : 'e';
    settings->stopBits = (modes.c_cflag & CSTOPB) ? 2 : 1;
    settings->rtsCts = (modes.c_cflag & CRTSCTS) ? 1 : 0;
    settings->xonOutput = (modes.c_iflag & IXON) ? 1 : 0;
    settings->xonInput = (modes.c_iflag & IXOFF) ? 1 : 0;
    settings->cflag = modes.c_cflag;
    settings->iflag = modes.c_iflag;
    settings->lflag = modes.c_lflag;
    settings->oflag = modes.c_oflag;
    return true;
}

bool StartCloseWatch()
{
    closeWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return closeWatch >= 0;
}

void StopCloseWatch()
{
    if (closeWatch >= 0)
        close(closeWatch);
    closeWatch = -1;
}

bool CreatePort(int com)
{
    Port port;
    port.com = com;
    port.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.master < 0)
        return false;
    ports.push_back(port);  // from here on Shutdown closes the master
    Port& made = ports.back();
    if (grantpt(made.master) != 0 || unlockpt(made.master) != 0)
        return false;
    const char* name = ptsname(made.master);
    if (!name || strlen(name) >= COUPLER_PTS_MAX)
        return false;
    // Raw line discipline: a serial port passes bytes as they are.
    struct termios modes;
    if (tcgetattr(made.master, &modes) == 0) {
        cfmakeraw(&modes);
        tcsetattr(made.master, TCSANOW, &modes);
    }
    made.watch = inotify_add_watch(closeWatch, name, IN_OPEN | IN_CLOSE);
    if (made.watch < 0)
        return false;
    made.eepromPath = PortPath(options.eepromPath, com);
    CouplerPort& record = Record(made);
    strcpy(record.pts, name);
    record.exists = 1;
    record.vanishAfter = -1;
    SetupBus(made);
    return true;
}

// Every open and close of a slave comes from inotify in order, also a close
// and a reopen within one tick (Wine's server and the program share one open
// description per Windows handle: one open, one close). inotify folds two
// equal events in a row into one (two opens, then two closes); the master's
// hang-up (no one has the slave open; a master whose slave was never opened
// shows none) puts the count right. The close event comes before the tty is
// released, so a close is taken once the hang-up or a new open follows it;
// after a refused open the kernel shows no hang-up, and the event decides.
void WatchCloses()
{
    std::vector<std::pair<Port*, uint32_t>> events;
    alignas(struct inotify_event) char buffer[4096];
    ssize_t length;
    while ((length = read(closeWatch, buffer, sizeof buffer)) > 0) {
        for (char* at = buffer; at < buffer + length;) {
            const struct inotify_event* event = reinterpret_cast<const struct inotify_event*>(at);
            for (Port& port : ports)
                if (port.watch == event->wd)
                    events.emplace_back(&port, event->mask);
            at += sizeof *event + event->len;
        }
    }
    for (size_t i = 0; i < events.size(); i++) {
        Port& port = *events[i].first;
        if ((events[i].second & IN_OPEN) && port.closedAt) {
            port.closedAt = 0;
            LastClose(port, true);
        }
        if (events[i].second & IN_OPEN) {
            port.openCount++;
            port.hangUpUnsure = false;
        }
        if (!(events[i].second & IN_CLOSE) || port.openCount == 0 || --port.openCount > 0)
            continue;
        bool reopened = false;
        for (size_t j = i + 1; j < events.size(); j++)
            reopened = reopened || (events[j].first == &port && (events[j].second & IN_OPEN));
        if (reopened || port.hangUpUnsure)
            LastClose(port, reopened);
        else
            port.closedAt = ModelNow();
    }
    int64_t now = ModelNow();
    for (Port& port : ports) {
        struct pollfd master = {port.master, 0, 0};
        bool hangUp = poll(&master, 1, 0) == 1 && (master.revents & POLLHUP);
        if (hangUp && (port.openCount > 0 || port.closedAt)) {
            port.openCount = 0;
            port.closedAt = 0;
            LastClose(port, false);
        } else if (port.closedAt && now - port.closedAt > 200000) {
            port.closedAt = 0;  // still no hang-up after 20 ms: two opens had been folded into one
            port.openCount = 1;
        }
        if (!port.closedAt)  // the lines before a close stay known until it is taken
            port.seenLines = __atomic_load_n(&Record(port).lines, __ATOMIC_ACQUIRE),
            port.seenRequests = __atomic_load_n(&Record(port).lineRequests, __ATOMIC_ACQUIRE);
        if (port.locked != (Record(port).busy || Record(port).vanished))
            SetLock(port);
    }
}
