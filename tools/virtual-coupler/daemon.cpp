// The virtual coupler daemon: makes pseudo-terminals look like serial ports
// with a coupler attached, for programs under Wine.
//
// It creates one pty per COM number, keeps the masters open, points the Wine
// prefix's dosdevices/comN links at the slaves (or at a directory while a
// port is absent), and serves the requests that clients place in the state
// file. With --interactive it also shows every port's lines, bytes and I2C
// transfers live and takes keys to pull SDA or INT to ground, switch faults
// and adapter models, change the chips' inputs and send text.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "model.h"

namespace {

// An adapter model: status delay, cost per line request, and a driver that
// keeps the RTS/CTS handshake on whatever the program sets.
struct Adapter {
    uint32_t delayMs, costMs, handshakeKept;
};

struct Options {
    std::string statePath;     // --state: the state file
    std::string prefix;        // --prefix: the Wine prefix whose links are set
    std::string absentDir;     // --absent: where an absent port points
    std::vector<int> ports;    // --ports: COM numbers to create
    bool present = false;      // --present: map the ports at start
    bool registry = false;     // --registry: also set the prefix's Ports values
    bool interactive = false;  // --interactive: live view and keys
    uint32_t fault = 0;        // --fault: every port starts with it, an index of FAULT_NAMES
    uint32_t slowSdaMs = 80;   // --fault slow-sda:MS, also for the live key
    uint32_t sclLeakMs = 0;    // --fault scl-leak:MS, also for the live key
    Adapter adapter = {0, 0, 0};      // --adapter DELAY[,COST][,rtscts]
    Adapter keyAdapter = {16, 1, 0};  // the adapter the live key switches on
    uint32_t chips = 0;        // --chips: BUS_CHIP_* switched on at start
    std::string eepromPath;    // --eeprom: the EEPROM's file, "%d" standing for the COM number
};

// Fault names on the command line and in the live view: the coupler's faults
// by CouplerFault, then the bus's by BusFault (without its "none").
constexpr uint32_t FAULT_NAME_COUNT = COUPLER_FAULT_COUNT + BUS_FAULT_COUNT - 1;
const char* const FAULT_NAMES[FAULT_NAME_COUNT] = {
    "none",       "sda-stuck-low", "sda-stuck-high", "sda-not-wired", "scl-leak", "int-stuck-low",
    "slow-sda",   "stuck-slave",   "no-ack",         "no-pullup",     "scl-timeout"};
const char* const CHIP_NAMES[] = {"eeprom", "expander", "sensor"};  // by BUS_CHIP_* bit

// Per-port things that do not belong in the state file. Owned by main's
// loop; the masters are closed by Shutdown.
struct Port {
    int com = 0;
    int master = -1;            // pty master, open for the daemon's life
    int watch = -1;             // inotify watch on the pty's slave device
    std::string fromProgram;    // bytes the program wrote, not yet fetched
    uint32_t shownChanges = 0;  // line change count last shown (interactive)
    int openCount = 0;          // opens of the slave not yet closed, as the daemon knows them
    int64_t closedAt = 0;       // time of a last close still waiting for its hang-up, 0 none
    bool hangUpUnsure = false;  // an open was refused (locked pty): the master shows no hang-up
                                // at the next close, until an open succeeds again
    uint32_t seenLines = 0;     // the lines word at the last look (before the latest close)
    bool locked = false;        // the pty is locked against new opens
    uint32_t viewLogRead = 0;   // bus log position of the live view
    uint32_t clientLogRead = 0; // bus log position of the client's requests
    std::string viewLogLine;    // a transfer the live view has not seen end yet
    std::string eepromPath;     // the EEPROM's file, empty when none
    uint8_t eepromSaved[256];   // the content the file holds
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
int closeWatch = -1;     // inotify descriptor watching every slave's opens and closes

constexpr size_t FROM_PROGRAM_LIMIT = 1 << 16;

void OnSignal(int) { stopRequested = 1; }

CouplerPort& Record(const Port& port) { return state->ports[port.com - 1]; }
CouplerBus& Bus(const Port& port) { return state->buses[port.com - 1]; }

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

// Changes the coupler model from now on: model flags set and cleared, and
// the bus's outputs taken anew (a request may have changed the bus).
void ChangeModel(Port& port, uint32_t set, uint32_t clear)
{
    ModelLock(&Record(port), &Bus(port));
    CouplerModel model = ModelCurrent(&Record(port));
    model.flags = (model.flags & ~clear) | set;
    ModelPush(&Record(port), &Bus(port), model, ModelNow());
    ModelUnlock(&Record(port));
}

// One fault by its index in FAULT_NAMES (delayMs for slow SDA and the SCL
// leak): the coupler's fault or the bus's, the other one none.
void SetFault(Port& port, uint32_t name, uint32_t delayMs)
{
    uint32_t busFault = name >= COUPLER_FAULT_COUNT ? name - COUPLER_FAULT_COUNT + 1 : 0;
    ModelLock(&Record(port), &Bus(port));
    int64_t now = ModelNow();
    BusLock(&Bus(port));
    BusSetFault(&Bus(port), busFault, now);
    BusUnlock(&Bus(port));
    CouplerModel model = ModelCurrent(&Record(port));
    model.fault = busFault ? 0 : name;
    model.faultDelayMs = delayMs;
    ModelPush(&Record(port), &Bus(port), model, now);
    ModelUnlock(&Record(port));
}

// The fault's index in FAULT_NAMES.
uint32_t FaultName(const Port& port)
{
    uint32_t busFault = Bus(port).fault;
    return busFault ? COUPLER_FAULT_COUNT + busFault - 1 : ModelCurrent(&Record(port)).fault;
}

// The EEPROM's content comes from its file at start and goes back whenever
// it changed (written aside, then renamed: a cut-off run leaves the old file).
void LoadEeprom(Port& port)
{
    uint8_t* memory = BusEepromMemory(&Bus(port));
    memset(memory, 0xFF, 256);
    if (!port.eepromPath.empty()) {
        FILE* file = fopen(port.eepromPath.c_str(), "rb");
        if (file) {
            if (fread(memory, 1, 256, file) != 256)
                fprintf(stderr, "vcoupler: %s is shorter than 256 bytes\n", port.eepromPath.c_str());
            fclose(file);
        }
    }
    memcpy(port.eepromSaved, memory, 256);
}

void SaveEeprom(Port& port)
{
    if (port.eepromPath.empty())
        return;
    uint8_t content[256];
    ModelLock(&Record(port), &Bus(port));
    BusLock(&Bus(port));
    memcpy(content, BusEepromMemory(&Bus(port)), sizeof content);
    BusUnlock(&Bus(port));
    ModelUnlock(&Record(port));
    if (memcmp(content, port.eepromSaved, sizeof content) == 0)
        return;
    std::string temporary = port.eepromPath + ".new";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (!file)
        return;
    bool written = fwrite(content, 1, sizeof content, file) == sizeof content;
    if (fclose(file) == 0 && written && rename(temporary.c_str(), port.eepromPath.c_str()) == 0)
        memcpy(port.eepromSaved, content, sizeof content);
}

void SetAdapter(CouplerPort& record, const Adapter& adapter)
{
    __atomic_store_n(&record.statusDelayMs, adapter.delayMs, __ATOMIC_RELEASE);
    __atomic_store_n(&record.requestCostMs, adapter.costMs, __ATOMIC_RELEASE);
    __atomic_store_n(&record.handshakeKept, adapter.handshakeKept, __ATOMIC_RELEASE);
}

// Power-up of the bus with the given chips (the EEPROM keeps its content).
void PowerUpBus(Port& port, uint32_t chips)
{
    ModelLock(&Record(port), &Bus(port));
    BusLock(&Bus(port));
    uint32_t lines = Record(port).lines;
    BusPowerUp(&Bus(port), chips, (lines & COUPLER_LINE_RTS) != 0, (lines & COUPLER_LINE_DTR) != 0);
    BusUnlock(&Bus(port));
    ModelPush(&Record(port), &Bus(port), ModelCurrent(&Record(port)), ModelNow());
    ModelUnlock(&Record(port));
}

void ResetPort(Port& port)
{
    CouplerPort& record = Record(port);
    // The count of requests left goes first: a request between the two would
    // otherwise pull the adapter again.
    __atomic_store_n(&record.vanishAfter, -1, __ATOMIC_RELEASE);
    record.busy = record.vanished = 0;
    SetLock(port);
    SetAdapter(record, {0, 0, 0});
    __atomic_store_n(&record.lineRequests, 0u, __ATOMIC_RELEASE);
    PowerUpBus(port, 0);
    if (port.eepromPath.empty())  // a fresh erased chip for every test
        memset(BusEepromMemory(&Bus(port)), 0xFF, 256);
    SetFault(port, 0, 0);
    ModelLock(&record, &Bus(port));
    ModelSetLines(&record, &Bus(port), record.lines, 0, 0, ModelNow());
    ModelUnlock(&record);
    ChangeModel(port, 0, ~(COUPLER_MODEL_DTR | COUPLER_MODEL_RTS));
    SetPresent(port, false);
    DrainMaster(port);
    port.fromProgram.clear();
}

// A bus setting made under both locks (the port's, then the bus's), then the model's view of the bus renewed.
template <typename Change>
bool ChangeBus(Port& port, Change change)
{
    ModelLock(&Record(port), &Bus(port));
    BusLock(&Bus(port));
    change(&Bus(port), ModelNow());
    BusUnlock(&Bus(port));
    ModelUnlock(&Record(port));
    ChangeModel(port, 0, 0);
    return true;
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
        // Plugged in again, it stays plugged in: no count of requests left.
        if (!arg[0])
            __atomic_store_n(&record.vanishAfter, -1, __ATOMIC_RELEASE);
        record.vanished = arg[0] != 0;
        SetLock(*port);
        return true;
    case COUPLER_OP_HOLD_SDA:
        ChangeModel(*port, arg[0] ? COUPLER_MODEL_SDA_HELD : 0, COUPLER_MODEL_SDA_HELD);
        return true;
    case COUPLER_OP_PULL_INT:
        ChangeModel(*port, arg[0] ? COUPLER_MODEL_INT_PULLED : 0, COUPLER_MODEL_INT_PULLED);
        return true;
    case COUPLER_OP_SET_INPUTS:
        ChangeModel(*port,
                    COUPLER_MODEL_OVERRIDE | (arg[0] ? COUPLER_MODEL_DSR : 0) |
                        (arg[1] ? COUPLER_MODEL_CTS : 0) | (arg[2] ? COUPLER_MODEL_DCD : 0),
                    COUPLER_MODEL_DSR | COUPLER_MODEL_CTS | COUPLER_MODEL_DCD);
        return true;
    case COUPLER_OP_CLEAR_INPUTS:
        ChangeModel(*port, 0, COUPLER_MODEL_OVERRIDE);
        return true;
    case COUPLER_OP_FAULT:
        if (arg[0] < 0 || arg[0] >= COUPLER_FAULT_COUNT || arg[1] < 0)
            return false;
        SetFault(*port, static_cast<uint32_t>(arg[0]), static_cast<uint32_t>(arg[1]));
        return true;
    case COUPLER_OP_ADAPTER:
        if (arg[0] < 0 || arg[1] < 0)
            return false;
        SetAdapter(record, {static_cast<uint32_t>(arg[0]), static_cast<uint32_t>(arg[1]), arg[2] != 0});
        return true;
    case COUPLER_OP_VANISH_AFTER:
        if (arg[0] < 0)
            return false;
        __atomic_store_n(&record.vanishAfter, arg[0], __ATOMIC_RELEASE);
        return true;
    case COUPLER_OP_CHIPS:
        if (arg[0] < 0 || arg[0] > static_cast<int32_t>(BUS_CHIPS_ALL))
            return false;
        PowerUpBus(*port, static_cast<uint32_t>(arg[0]));
        port->clientLogRead = port->viewLogRead = Bus(*port).logWrite;
        return true;
    case COUPLER_OP_BUS_FAULT:
        if (arg[0] < 0 || arg[0] >= BUS_FAULT_COUNT)
            return false;
        SetFault(*port, arg[0] ? COUPLER_FAULT_COUNT + arg[0] - 1 : 0, 0);
        return true;
    case COUPLER_OP_EEPROM:
        ModelLock(&Record(*port), &Bus(*port));
        BusLock(&Bus(*port));
        memcpy(state->data, BusEepromMemory(&Bus(*port)), 256);
        BusUnlock(&Bus(*port));
        ModelUnlock(&Record(*port));
        state->dataLength = 256;
        return true;
    case COUPLER_OP_SET_EEPROM:
        if (arg[0] != 256)  // the client sends the whole array or nothing
            return false;
        return ChangeBus(*port,
                         [](CouplerBus* bus, int64_t) { memcpy(BusEepromMemory(bus), state->data, 256); });
    case COUPLER_OP_WRITE_PROTECT:
        return ChangeBus(*port, [arg](CouplerBus* bus, int64_t) { BusSetWriteProtect(bus, arg[0] != 0); });
    case COUPLER_OP_EXPANDER:
        if (arg[0] < 0 || arg[0] > 255)
            return false;
        return ChangeBus(*port, [arg](CouplerBus* bus, int64_t now) {
            BusSetExpanderInputs(bus, static_cast<uint8_t>(arg[0]), now);
        });
    case COUPLER_OP_TEMPERATURE:
        return ChangeBus(*port, [arg](CouplerBus* bus, int64_t) { BusSetTemperature(bus, arg[0]); });
    case COUPLER_OP_SENSOR_INT:
        return ChangeBus(*port, [arg](CouplerBus* bus, int64_t) { BusSetSensorInterrupt(bus, arg[0] != 0); });
    case COUPLER_OP_BUS_LOG: {
        ModelLock(&Record(*port), &Bus(*port));
        BusLock(&Bus(*port));
        state->dataLength = BusTakeLog(&Bus(*port), &port->clientLogRead,
                                       reinterpret_cast<char*>(state->data), COUPLER_DATA_MAX);
        BusUnlock(&Bus(*port));
        ModelUnlock(&Record(*port));
        return true;
    }
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
    double seconds = (ModelNow() - startTicks) / 1e7;
    printf("%9.3f s  COM%-2d  ", seconds, port.com);
    printf(format, detail.c_str());
    printf("\r\n");
    fflush(stdout);
}

void ShowLines(Port& port)
{
    CouplerPort& record = Record(port);
    uint32_t lines = __atomic_load_n(&record.lines, __ATOMIC_ACQUIRE);
    if (lines >> COUPLER_LINE_COUNT_SHIFT == port.shownChanges)
        return;
    port.shownChanges = lines >> COUPLER_LINE_COUNT_SHIFT;
    ModelLock(&record, &Bus(port));
    int inputs = ModelInputs(&record, &Bus(port), ModelNow());
    ModelUnlock(&record);
    unsigned dtr = lines & COUPLER_LINE_DTR, rts = (lines & COUPLER_LINE_RTS) >> 1;
    char text[160];
    snprintf(text, sizeof text, "DTR %u  RTS %u    SDA %d  SCL %u  INT %s   (changed at %.3f s)", dtr, rts,
             (inputs & COUPLER_IN_DSR) != 0, rts, (inputs & COUPLER_IN_CTS) ? "low" : "high",
             (record.lastChange - startTicks) / 1e7);
    Show("%s", text, port);
}

// Each decoded transfer on one line, once it has ended.
void ShowBusLog(Port& port)
{
    char text[BUS_LOG_SIZE];
    ModelLock(&Record(port), &Bus(port));
    BusLock(&Bus(port));
    uint32_t length = BusTakeLog(&Bus(port), &port.viewLogRead, text, sizeof text);
    BusUnlock(&Bus(port));
    ModelUnlock(&Record(port));
    port.viewLogLine.append(text, length);
    size_t end;
    while ((end = port.viewLogLine.find('\n')) != std::string::npos) {
        Show("I2C  %s", port.viewLogLine.substr(0, end), port);
        port.viewLogLine.erase(0, end + 1);
    }
}

void ShowHelp()
{
    printf("keys: Tab next port, s hold/release SDA, i pull/release INT, f next fault, a adapter on/off,\r\n"
           "      b chips' state, 0-7 toggle an expander input, + - temperature, t send text, q quit\r\n");
    fflush(stdout);
}

std::string typed;  // text being entered after 't' (interactive)
bool typing = false;

void ShowBus(Port& port)
{
    char text[256];
    ModelLock(&Record(port), &Bus(port));
    BusLock(&Bus(port));
    BusDescribeAt(&Bus(port), ModelNow(), text, sizeof text);
    BusUnlock(&Bus(port));
    ModelUnlock(&Record(port));
    Show("bus: %s", text, port);
}

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
    uint32_t flags = ModelCurrent(&record).flags;
    uint32_t held = flags & COUPLER_MODEL_SDA_HELD, pulled = flags & COUPLER_MODEL_INT_PULLED;
    char text[80];
    switch (key) {
    case '\t':
        selected = (selected + 1) % ports.size();
        Show("%s", "selected", ports[selected]);
        break;
    case 's':
        ChangeModel(port, held ? 0 : COUPLER_MODEL_SDA_HELD, COUPLER_MODEL_SDA_HELD);
        Show("%s", held ? "SDA released" : "SDA held at ground by a slave", port);
        break;
    case 'i':
        ChangeModel(port, pulled ? 0 : COUPLER_MODEL_INT_PULLED, COUPLER_MODEL_INT_PULLED);
        Show("%s", pulled ? "INT released (CTS off)" : "INT pulled to ground (CTS on)", port);
        break;
    case 'f': {
        uint32_t name = (FaultName(port) + 1) % FAULT_NAME_COUNT;
        SetFault(port, name, name == COUPLER_FAULT_SLOW_SDA ? options.slowSdaMs : options.sclLeakMs);
        Show("fault: %s", FAULT_NAMES[name], port);
        break;
    }
    case 'a':
        SetAdapter(record, record.statusDelayMs || record.requestCostMs || record.handshakeKept
                               ? Adapter{0, 0, 0}
                               : options.keyAdapter);
        snprintf(text, sizeof text, "adapter: status %u ms late, %u ms per line request%s", record.statusDelayMs,
                 record.requestCostMs, record.handshakeKept ? ", RTS/CTS kept on" : "");
        Show("%s", text, port);
        break;
    case 'b':
        ShowBus(port);
        break;
    case '+':
    case '-':
        ChangeBus(port, [key](CouplerBus* bus, int64_t) {
            BusSetTemperature(bus, bus->temperature + (key == '+' ? 1 : -1));
        });
        ShowBus(port);
        break;
    case 't':
        typing = true;
        Show("%s", "type text, Enter sends it", port);
        break;
    case 'q':
        stopRequested = 1;
        break;
    default:
        if (key >= '0' && key <= '7') {
            ChangeBus(port, [key](CouplerBus* bus, int64_t now) {
                BusSetExpanderInputs(bus, static_cast<uint8_t>(bus->inputs ^ (1u << (key - '0'))), now);
            });
            ShowBus(port);
        } else {
            ShowHelp();
        }
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

// The last handle to the port closed: DTR and RTS drop, as a serial driver
// drops them. When the port was opened again before the daemon saw the
// close, a switch since the last look was the new opener's and stays.
void LastClose(Port& port, bool reopened)
{
    CouplerPort& record = Record(port);
    ModelLock(&record, &Bus(port));
    uint32_t lines = __atomic_load_n(&record.lines, __ATOMIC_ACQUIRE);
    bool drop = !reopened || lines == port.seenLines;
    uint32_t before = (drop ? lines : port.seenLines) & (COUPLER_LINE_DTR | COUPLER_LINE_RTS);
    record.linesAtClose = before;
    if (drop)
        ModelSetLines(&record, &Bus(port), lines, 0, 0, ModelNow());
    __atomic_add_fetch(&record.closes, 1, __ATOMIC_RELEASE);
    ModelUnlock(&record);
    if (stdinRaw) {
        port.shownChanges = __atomic_load_n(&record.lines, __ATOMIC_ACQUIRE) >> COUPLER_LINE_COUNT_SHIFT;
        char text[80];
        snprintf(text, sizeof text, "closed: DTR 0 RTS 0   (before: DTR %u RTS %u)", before & 1, before >> 1);
        Show("%s", text, port);
    }
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
            port.seenLines = __atomic_load_n(&Record(port).lines, __ATOMIC_ACQUIRE);
        if (port.locked != (Record(port).busy || Record(port).vanished))
            SetLock(port);
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

// A number of milliseconds, 0 to 60000, that is the whole text.
bool ParseMs(const char* text, uint32_t* ms)
{
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (end == text || *end || value < 0 || value > 60000)
        return false;
    *ms = static_cast<uint32_t>(value);
    return true;
}

// A name of FAULT_NAMES; "slow-sda:30" and "scl-leak:10" carry milliseconds.
bool ParseFault(const char* text)
{
    std::string name = text;
    size_t colon = name.find(':');
    if (colon != std::string::npos) {
        std::string kind = name.substr(0, colon);
        uint32_t* delay = kind == "slow-sda"   ? &options.slowSdaMs
                          : kind == "scl-leak" ? &options.sclLeakMs
                                               : nullptr;
        if (!delay || !ParseMs(name.c_str() + colon + 1, delay))
            return false;
        name.erase(colon);
    }
    for (uint32_t fault = 0; fault < FAULT_NAME_COUNT; fault++)
        if (name == FAULT_NAMES[fault]) {
            options.fault = fault;
            return true;
        }
    return false;
}

// "16", "16,1" or "16,1,rtscts": status delay and cost per request in
// milliseconds, and a driver that keeps the RTS/CTS handshake on.
bool ParseAdapter(const char* text)
{
    std::string value = text;
    size_t kept = value.rfind(",rtscts");
    Adapter adapter = {0, 0, kept != std::string::npos && kept + 7 == value.size()};
    value.resize(adapter.handshakeKept ? kept : value.size());
    size_t comma = value.find(',');
    if (comma != std::string::npos && !ParseMs(value.c_str() + comma + 1, &adapter.costMs))
        return false;
    if (!ParseMs(value.substr(0, comma).c_str(), &adapter.delayMs))
        return false;
    options.adapter = options.keyAdapter = adapter;
    return true;
}

// "eeprom,sensor", "all" or "none".
bool ParseChips(const char* text)
{
    std::string list = std::string(text) + ",";
    options.chips = 0;
    for (size_t start = 0, end; (end = list.find(',', start)) != std::string::npos; start = end + 1) {
        std::string name = list.substr(start, end - start);
        uint32_t bit = name == "all" ? BUS_CHIPS_ALL : name == "none" ? 0 : ~0u;
        for (uint32_t chip = 0; chip < 3; chip++)
            if (name == CHIP_NAMES[chip])
                bit = 1u << chip;
        if (bit == ~0u)
            return false;
        options.chips |= bit;
    }
    return true;
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
        } else if (name == "--adapter" && hasValue) {
            if (!ParseAdapter(argv[++i]))
                return false;
        } else if (name == "--chips" && hasValue) {
            if (!ParseChips(argv[++i]))
                return false;
        } else if (name == "--eeprom" && hasValue)
            options.eepromPath = argv[++i];
        else
            return false;
    }
    if (options.statePath.empty() || options.prefix.empty() || options.ports.empty())
        return false;
    // One file per port: several ports need the number in the name.
    if (options.ports.size() > 1 && !options.eepromPath.empty() &&
        options.eepromPath.find("%d") == std::string::npos)
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
    port.watch = inotify_add_watch(closeWatch, name, IN_OPEN | IN_CLOSE);
    if (port.watch < 0)
        return false;
    port.eepromPath = options.eepromPath;
    size_t number = port.eepromPath.find("%d");
    if (number != std::string::npos)
        port.eepromPath.replace(number, 2, std::to_string(com));
    CouplerPort& record = state->ports[com - 1];
    strcpy(record.pts, name);
    record.exists = 1;
    record.vanishAfter = -1;
    ports.push_back(port);
    // The bus idles with its chips at power-up (no chip: the plain coupler).
    LoadEeprom(ports.back());
    PowerUpBus(ports.back(), options.chips);
    SetFault(ports.back(), options.fault,
             options.fault == COUPLER_FAULT_SLOW_SDA ? options.slowSdaMs : options.sclLeakMs);
    SetAdapter(record, options.adapter);
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
        SaveEeprom(port);
        if (port.master >= 0)
            close(port.master);
        port.master = -1;
    }
    if (closeWatch >= 0)
        close(closeWatch);
    closeWatch = -1;
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
                "          [--adapter DELAY[,COST][,rtscts]] [--chips LIST] [--eeprom FILE]\n"
                "faults: sda-stuck-low sda-stuck-high sda-not-wired scl-leak[:MS] int-stuck-low\n"
                "        slow-sda[:MS] (DSR takes a DTR level held MS ms, default 80)\n"
                "        stuck-slave no-ack no-pullup scl-timeout (on the I2C bus)\n"
                "chips: eeprom,expander,sensor, all or none (default); --eeprom FILE keeps the\n"
                "        EEPROM's content (%%d in FILE stands for the COM number)\n",
                argv[0]);
        return 2;
    }
    mkdir(options.absentDir.c_str(), 0755);
    closeWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (closeWatch < 0 || !CreateState()) {
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
        Record(port).present = options.present;
        PointLink(port);
        if (options.registry)
            RunWineReg(port.com, LinkTarget(port));
    }
    startTicks = ModelNow();
    __atomic_store_n(&state->magic, COUPLER_MAGIC, __ATOMIC_RELEASE);
    WritePortList();

    if (options.interactive && isatty(0) && tcgetattr(0, &savedStdin) == 0) {
        struct termios raw = savedStdin;
        raw.c_lflag &= ~(ICANON | ECHO);
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        stdinRaw = tcsetattr(0, TCSANOW, &raw) == 0;
        for (Port& port : ports)
            printf("COM%d is %s, fault: %s\r\n", port.com, Record(port).pts, FAULT_NAMES[FaultName(port)]);
        ShowHelp();
    }

    int64_t lastLinkCheck = 0;
    while (!stopRequested) {
        struct pollfd input = {0, POLLIN, 0};
        // A 1 ms tick: requests are answered within about a millisecond.
        poll(&input, stdinRaw ? 1 : 0, 1);
        ServeRequests();
        WatchCloses();
        int64_t now = ModelNow();
        if (now - lastLinkCheck > 200000) {  // every 20 ms
            KeepLinks();
            for (Port& port : ports)
                SaveEeprom(port);
            lastLinkCheck = now;
        }
        if (stdinRaw) {
            char key;
            while (read(0, &key, 1) == 1)
                HandleKey(key);
            for (Port& port : ports) {
                ShowLines(port);
                ShowBusLog(port);
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
