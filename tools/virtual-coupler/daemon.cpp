// The virtual coupler daemon: makes pseudo-terminals look like serial ports
// with a coupler attached, for programs under Wine.
//
// It creates one pty per COM number, keeps the masters open, points the Wine
// prefix's dosdevices/comN links at the slaves (or at a directory while a
// port is absent), and serves the requests that clients place in the state
// file. With --interactive it also shows every port's lines and bytes live and
// takes keys to pull SDA or INT to ground and to send text.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "coupler_state.h"

namespace {

struct Options {
    std::string statePath;     // --state: the state file
    std::string prefix;        // --prefix: the Wine prefix whose links are set
    std::string absentDir;     // --absent: where an absent port points
    std::vector<int> ports;    // --ports: COM numbers to create
    bool present = false;      // --present: map the ports at start
    bool registry = false;     // --registry: also set the prefix's Ports values
    bool interactive = false;  // --interactive: live view and keys
    uint32_t fault = COUPLER_FAULT_NONE;  // --fault: every port starts with it
    uint32_t faultDelayMs = 80;           // --fault slow-sda:MS, also for the live key
};

// Fault names on the command line and in the live view, by CouplerFault.
const char* const FAULT_NAMES[COUPLER_FAULT_COUNT] = {
    "none", "sda-stuck-low", "sda-stuck-high", "sda-not-wired", "scl-leak", "int-stuck-low", "slow-sda"};

// Per-port things that do not belong in the state file. Owned by main's
// loop; the masters are closed by Shutdown.
struct Port {
    int com = 0;
    int master = -1;            // pty master, open for the daemon's life
    std::string fromProgram;    // bytes the program wrote, not yet fetched
    uint32_t shownChanges = 0;  // line change count last shown (interactive)
    bool slaveOpen = false;     // someone had the pty's slave open at the last look
};

// The whole daemon's state, owned by main and alive until it returns.
Options options;
CouplerState* state = nullptr;  // the mapped state file
std::vector<Port> ports;
volatile sig_atomic_t stopRequested = 0;  // set by SIGTERM/SIGINT/SIGHUP
struct termios savedStdin;                // terminal mode to restore (interactive)
bool stdinRaw = false;
size_t selected = 0;     // port the keys act on (interactive)
int64_t startTicks = 0;  // daemon start, in state-file time units

constexpr size_t FROM_PROGRAM_LIMIT = 1 << 16;

int64_t NowTicks()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

void OnSignal(int) { stopRequested = 1; }

CouplerPort& Record(const Port& port) { return state->ports[port.com - 1]; }

Port* FindPort(uint32_t com)
{
    for (Port& port : ports)
        if (static_cast<uint32_t>(port.com) == com)
            return &port;
    return nullptr;
}

std::string LinkPath(int com) { return options.prefix + "/dosdevices/com" + std::to_string(com); }

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

void SetLock(const Port& port)
{
    int locked = Record(port).busy || Record(port).vanished ? 1 : 0;
    ioctl(port.master, TIOCSPTLCK, &locked);
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

void SetPresent(Port& port, bool present)
{
    Record(port).present = present;
    PointLink(port);
}

void SetFault(CouplerPort& record, uint32_t fault, uint32_t delayMs)
{
    record.faultDelayMs = delayMs;
    record.fault = fault < COUPLER_FAULT_COUNT ? fault : 0u;
}

void ResetPort(Port& port)
{
    CouplerPort& record = Record(port);
    SetFault(record, COUPLER_FAULT_NONE, 0);
    record.busy = record.vanished = 0;
    SetLock(port);
    record.sdaHeld = record.intPulled = 0;
    record.overrideOn = record.overrideDsr = record.overrideCts = record.overrideDcd = 0;
    record.dtr = record.rts = 0;
    SetPresent(port, false);
    DrainMaster(port);
    port.fromProgram.clear();
}

// Carries out one request; false when it names no port of ours or is unknown.
bool Serve(uint32_t op, uint32_t com, const int32_t* arg)
{
    if (op == COUPLER_OP_RESET) {
        for (Port& port : ports)
            ResetPort(port);
        return true;
    }
    Port* port = FindPort(com);
    if (!port)
        return false;
    CouplerPort& record = Record(*port);
    state->dataLength = 0;
    switch (op) {
    case COUPLER_OP_PRESENT:
        SetPresent(*port, arg[0] != 0);
        return true;
    case COUPLER_OP_BUSY:
        record.busy = arg[0] != 0;
        SetLock(*port);
        return true;
    case COUPLER_OP_VANISH:
        record.vanished = arg[0] != 0;
        SetLock(*port);
        return true;
    case COUPLER_OP_HOLD_SDA:
        record.sdaHeld = arg[0] != 0;
        return true;
    case COUPLER_OP_PULL_INT:
        record.intPulled = arg[0] != 0;
        return true;
    case COUPLER_OP_SET_INPUTS:
        record.overrideDsr = arg[0] != 0;
        record.overrideCts = arg[1] != 0;
        record.overrideDcd = arg[2] != 0;
        record.overrideOn = 1;
        return true;
    case COUPLER_OP_CLEAR_INPUTS:
        record.overrideOn = 0;
        return true;
    case COUPLER_OP_FAULT:
        if (arg[0] < 0 || arg[0] >= COUPLER_FAULT_COUNT || arg[1] < 0)
            return false;
        SetFault(record, static_cast<uint32_t>(arg[0]), static_cast<uint32_t>(arg[1]));
        return true;
    case COUPLER_OP_WRITE: {
        uint32_t length = arg[0] < 0 ? 0 : static_cast<uint32_t>(arg[0]);
        if (length > COUPLER_DATA_MAX)
            return false;
        return write(port->master, state->data, length) == static_cast<ssize_t>(length);
    }
    case COUPLER_OP_READ: {
        DrainMaster(*port);
        size_t length =
            port->fromProgram.size() < COUPLER_DATA_MAX ? port->fromProgram.size() : COUPLER_DATA_MAX;
        memcpy(state->data, port->fromProgram.data(), length);
        port->fromProgram.erase(0, length);
        state->dataLength = static_cast<uint32_t>(length);
        return true;
    }
    case COUPLER_OP_LINE_SETTINGS: {
        CouplerTermios settings;
        if (!ReadLineSettings(*port, &settings))
            return false;
        memcpy(state->data, &settings, sizeof settings);
        state->dataLength = sizeof settings;
        return true;
    }
    default:
        return false;
    }
}

void ServeRequests()
{
    uint32_t seq = __atomic_load_n(&state->requestSeq, __ATOMIC_ACQUIRE);
    if (seq == state->ackSeq)
        return;
    int32_t arg[4];
    memcpy(arg, state->arg, sizeof arg);
    state->result = Serve(state->op, state->com, arg) ? 1 : 0;
    __atomic_store_n(&state->ackSeq, seq, __ATOMIC_RELEASE);
}

// ---------------------------------------------------------------------------
// Interactive view

std::string Printable(const std::string& bytes)
{
    std::string text;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127) {
            text += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        }
    }
    return text;
}

void Show(const char* format, const std::string& detail, const Port& port)
{
    double seconds = (NowTicks() - startTicks) / 1e7;
    printf("%9.3f s  COM%-2d  ", seconds, port.com);
    printf(format, detail.c_str());
    printf("\r\n");
    fflush(stdout);
}

void ShowLines(Port& port)
{
    CouplerPort& record = Record(port);
    uint32_t changes = __atomic_load_n(&record.lineChanges, __ATOMIC_ACQUIRE);
    if (changes == port.shownChanges)
        return;
    port.shownChanges = changes;
    int inputs = CouplerInputs(&record, NowTicks());
    int dsr = (inputs & COUPLER_IN_DSR) != 0, cts = (inputs & COUPLER_IN_CTS) != 0;
    char text[160];
    snprintf(text, sizeof text, "DTR %u  RTS %u    SDA %d  SCL %u  INT %s   (changed at %.3f s)", record.dtr,
             record.rts, dsr, record.rts, cts ? "low" : "high", (record.lastChange - startTicks) / 1e7);
    Show("%s", text, port);
}

void ShowHelp()
{
    printf("keys: Tab next port, s hold/release SDA, i pull/release INT, f next fault, t send text, "
           "q quit\r\n");
    fflush(stdout);
}

std::string typed;  // text being entered after 't' (interactive)
bool typing = false;

void HandleKey(char key)
{
    Port& port = ports[selected];
    CouplerPort& record = Record(port);
    if (typing) {
        if (key == '\r' || key == '\n') {
            typing = false;
            if (write(port.master, typed.data(), typed.size()) < 0)
                typed = "(not sent)";
            Show("sent to the program: %s", Printable(typed), port);
            typed.clear();
        } else if (key == 127 || key == 8) {
            if (!typed.empty())
                typed.pop_back();
        } else {
            typed += key;
        }
        return;
    }
    switch (key) {
    case '\t':
        selected = (selected + 1) % ports.size();
        Show("%s", "selected", ports[selected]);
        break;
    case 's':
        record.sdaHeld = !record.sdaHeld;
        Show("%s", record.sdaHeld ? "SDA held at ground by a slave" : "SDA released", port);
        break;
    case 'i':
        record.intPulled = !record.intPulled;
        Show("%s", record.intPulled ? "INT pulled to ground (CTS on)" : "INT released (CTS off)", port);
        break;
    case 'f':
        SetFault(record, (record.fault + 1) % COUPLER_FAULT_COUNT, options.faultDelayMs);
        Show("fault: %s", FAULT_NAMES[record.fault], port);
        break;
    case 't':
        typing = true;
        Show("%s", "type text, Enter sends it", port);
        break;
    case 'q':
        stopRequested = 1;
        break;
    default:
        ShowHelp();
        break;
    }
}

void ShowTraffic(Port& port)
{
    DrainMaster(port);
    if (port.fromProgram.empty())
        return;
    Show("program wrote: %s", Printable(port.fromProgram), port);
    port.fromProgram.clear();
}

// A serial driver drops DTR and RTS when the last handle to the port closes.
// The pty's master reports a hang-up while no one has the slave open (Wine's
// server and the program both close theirs when the last handle goes), so
// the lines drop as soon as the daemon sees it. The compare-and-swap on the
// change count leaves a switch that a new opener made meanwhile alone.
void WatchClose(Port& port)
{
    CouplerPort& record = Record(port);
    uint32_t changes = __atomic_load_n(&record.lineChanges, __ATOMIC_ACQUIRE);
    struct pollfd master = {port.master, 0, 0};
    if (poll(&master, 1, 0) != 1 || !(master.revents & POLLHUP)) {
        port.slaveOpen = true;
        return;
    }
    uint32_t lines = (record.dtr ? 1 : 0) | (record.rts ? 2 : 0);
    if (!port.slaveOpen && !lines)
        return;
    if (!__atomic_compare_exchange_n(&record.lineChanges, &changes, changes + 1, false, __ATOMIC_ACQ_REL,
                                     __ATOMIC_ACQUIRE))
        return;  // the program switched a line just now: look again on the next tick
    port.slaveOpen = false;
    int64_t now = NowTicks();
    if (record.dtr)
        record.dtrChanged = now;
    if (record.rts)
        record.rtsChanged = now;
    record.dtr = record.rts = 0;
    record.lastChange = now;
    record.linesAtClose = lines;
    __atomic_add_fetch(&record.closes, 1, __ATOMIC_RELEASE);
    if (stdinRaw) {
        port.shownChanges = changes + 1;
        char text[80];
        snprintf(text, sizeof text, "closed: DTR 0 RTS 0   (before: DTR %u RTS %u)", lines & 1, lines >> 1);
        Show("%s", text, port);
    }
}

// ---------------------------------------------------------------------------
// Start and stop

bool ParsePorts(const char* list)
{
    // "3", "3,4", "1-20"
    std::string text(list);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        std::string item = text.substr(start, end - start);
        int first = 0, last = 0;
        if (sscanf(item.c_str(), "%d-%d", &first, &last) == 2) {
        } else if (sscanf(item.c_str(), "%d", &first) == 1) {
            last = first;
        } else {
            return false;
        }
        if (first < 1 || last > COUPLER_MAX_PORTS || first > last)
            return false;
        for (int com = first; com <= last; com++)
            options.ports.push_back(com);
        start = end + 1;
    }
    return !options.ports.empty();
}

// "scl-leak", "slow-sda" or "slow-sda:30" (milliseconds).
bool ParseFault(const char* text)
{
    std::string name = text;
    size_t colon = name.find(':');
    if (colon != std::string::npos) {
        char* end = nullptr;
        long delay = strtol(name.c_str() + colon + 1, &end, 10);
        if (*end || delay < 0 || delay > 60000 || name.compare(0, colon, "slow-sda") != 0)
            return false;
        options.faultDelayMs = static_cast<uint32_t>(delay);
        name.erase(colon);
    }
    for (uint32_t fault = 0; fault < COUPLER_FAULT_COUNT; fault++)
        if (name == FAULT_NAMES[fault]) {
            options.fault = fault;
            return true;
        }
    return false;
}

bool ParseOptions(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        std::string name = argv[i];
        bool hasValue = i + 1 < argc;
        if (name == "--state" && hasValue)
            options.statePath = argv[++i];
        else if (name == "--prefix" && hasValue)
            options.prefix = argv[++i];
        else if (name == "--absent" && hasValue)
            options.absentDir = argv[++i];
        else if (name == "--ports" && hasValue) {
            if (!ParsePorts(argv[++i]))
                return false;
        } else if (name == "--present")
            options.present = true;
        else if (name == "--registry")
            options.registry = true;
        else if (name == "--interactive")
            options.interactive = true;
        else if (name == "--fault" && hasValue) {
            if (!ParseFault(argv[++i]))
                return false;
        }
        else
            return false;
    }
    if (options.statePath.empty() || options.prefix.empty() || options.ports.empty())
        return false;
    if (options.absentDir.empty())
        options.absentDir = options.statePath + ".absent";
    return true;
}

bool CreateState()
{
    int fd = open(options.statePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool sized = ftruncate(fd, sizeof(CouplerState)) == 0;
    void* map =
        sized ? mmap(nullptr, sizeof(CouplerState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    close(fd);
    if (map == MAP_FAILED)
        return false;
    state = static_cast<CouplerState*>(map);
    state->version = COUPLER_VERSION;
    state->daemonPid = static_cast<uint32_t>(getpid());
    state->portCount = COUPLER_MAX_PORTS;
    return true;
}

bool CreatePort(int com)
{
    Port port;
    port.com = com;
    port.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.master < 0 || grantpt(port.master) != 0 || unlockpt(port.master) != 0)
        return false;
    const char* name = ptsname(port.master);
    if (!name || strlen(name) >= COUPLER_PTS_MAX)
        return false;
    // Raw line discipline: a serial port passes bytes as they are.
    struct termios modes;
    if (tcgetattr(port.master, &modes) == 0) {
        cfmakeraw(&modes);
        tcsetattr(port.master, TCSANOW, &modes);
    }
    CouplerPort& record = state->ports[com - 1];
    strcpy(record.pts, name);
    record.exists = 1;
    ports.push_back(port);
    return true;
}

void Shutdown()
{
    if (stdinRaw)
        tcsetattr(0, TCSANOW, &savedStdin);
    stdinRaw = false;
    for (Port& port : ports) {
        if (!state)
            break;
        Record(port).present = 0;
        PointLink(port);
        if (options.registry)
            RunWineReg(port.com, options.absentDir);
        if (port.master >= 0)
            close(port.master);
        port.master = -1;
    }
    if (state) {
        state->magic = 0;
        munmap(state, sizeof(CouplerState));
        state = nullptr;
    }
}

void WritePortList()
{
    std::string path = options.statePath + ".ports", temporary = path + ".new";
    FILE* file = fopen(temporary.c_str(), "w");
    if (!file)
        return;
    for (const Port& port : ports)
        fprintf(file, "COM%d %s\n", port.com, Record(port).pts);
    fclose(file);
    rename(temporary.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (!ParseOptions(argc, argv)) {
        fprintf(stderr,
                "usage: %s --state FILE --prefix WINEPREFIX --ports 1-20|3,4 [--absent DIR]\n"
                "          [--present] [--registry] [--interactive] [--fault NAME[:MS]]\n"
                "faults: sda-stuck-low sda-stuck-high sda-not-wired scl-leak int-stuck-low\n"
                "        slow-sda[:MS] (DSR follows DTR after MS ms, default 80)\n",
                argv[0]);
        return 2;
    }
    mkdir(options.absentDir.c_str(), 0755);
    if (!CreateState()) {
        perror("vcoupler: state file");
        return 1;
    }
    for (int com : options.ports) {
        if (!CreatePort(com)) {
            fprintf(stderr, "vcoupler: cannot create a pseudo-terminal for COM%d\n", com);
            Shutdown();
            return 1;
        }
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    for (Port& port : ports) {
        SetFault(Record(port), options.fault, options.faultDelayMs);
        Record(port).present = options.present;
        PointLink(port);
        if (options.registry)
            RunWineReg(port.com, LinkTarget(port));
    }
    startTicks = NowTicks();
    __atomic_store_n(&state->magic, COUPLER_MAGIC, __ATOMIC_RELEASE);
    WritePortList();

    if (options.interactive && isatty(0) && tcgetattr(0, &savedStdin) == 0) {
        struct termios raw = savedStdin;
        raw.c_lflag &= ~(ICANON | ECHO);
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        stdinRaw = tcsetattr(0, TCSANOW, &raw) == 0;
        for (Port& port : ports)
            printf("COM%d is %s, fault: %s\r\n", port.com, Record(port).pts, FAULT_NAMES[Record(port).fault]);
        ShowHelp();
    }

    int64_t lastLinkCheck = 0;
    while (!stopRequested) {
        struct pollfd input = {0, POLLIN, 0};
        // A 1 ms tick: requests are answered within about a millisecond.
        poll(&input, stdinRaw ? 1 : 0, 1);
        ServeRequests();
        for (Port& port : ports)
            WatchClose(port);
        int64_t now = NowTicks();
        if (now - lastLinkCheck > 200000) {  // every 20 ms
            KeepLinks();
            lastLinkCheck = now;
        }
        if (stdinRaw) {
            char key;
            while (read(0, &key, 1) == 1)
                HandleKey(key);
            for (Port& port : ports) {
                ShowLines(port);
                ShowTraffic(port);
            }
        } else {
            for (Port& port : ports)
                DrainMaster(port);
        }
    }
    Shutdown();
    return 0;
}
