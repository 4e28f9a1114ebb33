// The virtual coupler daemon: makes pseudo-terminals look like serial ports
// with a coupler attached, for programs under Wine (daemon.h names the
// modules). This one reads the options, makes the state file, runs the loop
// and stops.
//
// It creates one pty per COM number, keeps the masters open, points the Wine
// prefix's dosdevices/comN links at the slaves (or at a directory while a
// port is absent), and serves the requests that clients place in the state
// file. With --interactive it also shows every port's lines, bytes and I2C
// transfers live and takes keys to pull SDA or INT to ground, switch faults
// and adapter models, change the chips' inputs and send text.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "daemon.h"

Options options;
CouplerState* state = nullptr;
int stateFd = -1;
volatile sig_atomic_t stopRequested = 0;

PortGuard::PortGuard(const Port& port)
    : record(Record(port)), bus(Bus(port)), slot(port.com - 1), held(ModelLock(stateFd, port.com - 1) != 0)
{
}

PortGuard::~PortGuard()
{
    if (held)
        ModelUnlock(stateFd, slot);
}

namespace {

const char* const CHIP_NAMES[] = {"eeprom", "expander", "sensor"};  // by BUS_CHIP_* bit
const char* const WRITE_PROTECT_OPTIONS[] = {"off", "ack", "refuse"};  // by BusWriteProtect

void OnSignal(int) { stopRequested = 1; }

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

// "N" line changes or "Nms" milliseconds before the mid-job short.
bool ParseLater(const std::string& text)
{
    bool ms = text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0;
    uint32_t value = 0;
    if (!ParseMs(text.substr(0, ms ? text.size() - 2 : text.size()).c_str(), &value) || (ms && value == 0))
        return false;
    options.laterChanges = ms ? -1 : static_cast<int32_t>(value);
    options.laterMs = ms ? value : 0;
    return true;
}

// A name of FAULT_NAMES, with what its argument allows after a colon: the
// slow SDA's and the SCL leak's milliseconds ("slow-sda:30"), the mid-job
// short's line changes or milliseconds ("sda-low-later:40", ":25ms").
bool ParseFault(const char* text)
{
    std::string name = text, argument;
    size_t colon = name.find(':');
    if (colon != std::string::npos)
        argument = name.substr(colon + 1), name.erase(colon);
    for (uint32_t fault = 0; fault < FAULT_NAME_COUNT; fault++) {
        const NamedFault& entry = FAULT_NAMES[fault];
        if (name != entry.name)
            continue;
        bool parsed = colon == std::string::npos;
        if (!parsed && entry.argument == FAULT_ARGUMENT_LATER)
            parsed = ParseLater(argument);
        else if (!parsed && entry.argument == FAULT_ARGUMENT_MS)
            parsed = ParseMs(argument.c_str(),
                             entry.coupler == COUPLER_FAULT_SLOW_SDA ? &options.slowSdaMs : &options.sclLeakMs);
        options.fault = fault;
        return parsed;
    }
    return false;
}

// The faults as the usage lists them, wrapped, each with its argument.
void PrintFaults(FILE* out)
{
    static const char* const ARGUMENTS[] = {"", "[:MS]", "[:N|:Nms]"};
    std::string line = "faults:";
    for (uint32_t fault = 1; fault < FAULT_NAME_COUNT; fault++) {
        std::string word = std::string(" ") + FAULT_NAMES[fault].name + ARGUMENTS[FAULT_NAMES[fault].argument];
        if (line.size() + word.size() > 80)
            fprintf(out, "%s\n", line.c_str()), line = "       ";
        line += word;
    }
    fprintf(out, "%s\n", line.c_str());
}

// --faults: every fault, one a line, with its kind (coupler or bus), for scripts.
void ListFaults()
{
    for (uint32_t fault = 1; fault < FAULT_NAME_COUNT; fault++)
        printf("%s %s\n", FAULT_NAMES[fault].name, FAULT_NAMES[fault].bus ? "bus" : "coupler");
}

// "MS" or "MS-MS": milliseconds, or a range whose upper end is not below its lower.
bool ParseRange(const std::string& text, uint32_t* low, uint32_t* high)
{
    size_t dash = text.find('-');
    *high = 0;
    if (dash == std::string::npos)
        return ParseMs(text.c_str(), low);
    return ParseMs(text.substr(0, dash).c_str(), low) && ParseMs(text.c_str() + dash + 1, high) && *high >= *low;
}

// "16", "16,1", "16,1,rtscts" or "16-24,1-3": status delay and cost per
// request in milliseconds (a range: drawn per request), and a driver that
// keeps the RTS/CTS handshake on.
bool ParseAdapter(const char* text)
{
    std::string value = text;
    size_t kept = value.rfind(",rtscts");
    Adapter adapter = {0, 0, kept != std::string::npos && kept + 7 == value.size(), 0, 0};
    value.resize(adapter.handshakeKept ? kept : value.size());
    size_t comma = value.find(',');
    if (comma != std::string::npos && !ParseRange(value.substr(comma + 1), &adapter.costMs, &adapter.costMaxMs))
        return false;
    if (!ParseRange(value.substr(0, comma), &adapter.delayMs, &adapter.delayMaxMs))
        return false;
    options.adapter = options.keyAdapter = adapter;
    return true;
}

// "eeprom,sensor", "all" or "none"; "eeprom=24c256" chooses the EEPROM's type.
bool ParseChips(const char* text)
{
    std::string list = std::string(text) + ",";
    options.chips = 0;
    for (size_t start = 0, end; (end = list.find(',', start)) != std::string::npos; start = end + 1) {
        std::string name = list.substr(start, end - start);
        if (name.compare(0, 7, "eeprom=") == 0) {
            int type = BusEepromTypeNamed(name.c_str() + 7);
            if (type < 0)
                return false;
            options.eepromType = static_cast<uint32_t>(type);
            name = "eeprom";
        }
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
        else if (name == "--trace" && hasValue)
            options.tracePath = argv[++i];
        else if (name == "--inputs" && hasValue) {
            char* end = nullptr;
            long inputs = strtol(argv[++i], &end, 16);
            if (!*argv[i] || *end || inputs < 0 || inputs > 255)
                return false;
            options.inputs = static_cast<uint32_t>(inputs);
        } else if (name == "--write-protect" && hasValue) {
            std::string mode = argv[++i];
            options.writeProtect = 3;
            for (uint32_t wp = 0; wp < 3; wp++)
                if (mode == WRITE_PROTECT_OPTIONS[wp])
                    options.writeProtect = wp;
            if (options.writeProtect == 3)
                return false;
        } else if (name == "--temperature" && hasValue) {
            if (!BusTemperatureFromText(argv[++i], &options.temperature))
                return false;
        }
        else
            return false;
    }
    if (options.statePath.empty() || options.prefix.empty() || options.ports.empty())
        return false;
    // One file per port: several ports need the number in the name.
    for (const std::string* path : {&options.eepromPath, &options.tracePath})
        if (options.ports.size() > 1 && !path->empty() && path->find("%d") == std::string::npos)
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
    stateFd = fd;  // kept: the daemon's kernel locks are taken through it
    bool sized = ftruncate(fd, sizeof(CouplerState)) == 0;
    void* map =
        sized ? mmap(nullptr, sizeof(CouplerState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (map == MAP_FAILED)
        return false;
    state = static_cast<CouplerState*>(map);
    state->version = COUPLER_VERSION;
    state->daemonPid = static_cast<uint32_t>(getpid());
    state->portCount = COUPLER_MAX_PORTS;
    return true;
}

void Shutdown()
{
    StopView();
    StopLockHolder();
    for (Port& port : ports) {
        if (state) {
            Record(port).present = 0;
            PointLink(port);
            if (options.registry)
                RunWineReg(port.com, options.absentDir);
            SaveEeprom(port);
            StopTrace(port);
        }
        if (port.master >= 0)
            close(port.master);
        port.master = -1;
    }
    StopCloseWatch();
    if (state) {
        state->magic = 0;
        munmap(state, sizeof(CouplerState));
        state = nullptr;
    }
    if (stateFd >= 0)
        close(stateFd);
    stateFd = -1;
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
    if (argc == 2 && std::string(argv[1]) == "--faults") {
        ListFaults();
        return 0;
    }
    if (!ParseOptions(argc, argv)) {
        fprintf(stderr,
                "usage: %s --state FILE --prefix WINEPREFIX --ports 1-20|3,4 [--absent DIR]\n"
                "          [--present] [--registry] [--interactive] [--fault NAME[:MS]]\n"
                "          [--adapter DELAY[-MAX][,COST[-MAX]][,rtscts]] [--chips LIST] [--eeprom FILE]\n"
                "          [--inputs HEX] [--write-protect off|ack|refuse] [--temperature C]\n"
                "          [--trace FILE.vcd]\n"
                "       %s --faults   (the faults' names, one a line, with their kind)\n",
                argv[0], argv[0]);
        PrintFaults(stderr);
        fprintf(stderr,
                "        :MS the slow SDA's time a DTR level must hold (default 80) or the SCL\n"
                "        leak's delay; :N|:Nms SDA to ground after N line changes or N ms\n"
                "chips: eeprom,expander,sensor, all or none (default); eeprom=24c256 (24c01 to\n"
                "        24c512) chooses the EEPROM's type, 24c02 by default; --eeprom FILE keeps\n"
                "        its content (%%d in FILE stands for the COM number); --trace FILE.vcd\n"
                "        writes each bus's lines as a value change dump (%%d as for --eeprom);\n"
                "        --temperature C the sensor's from the start, -128 to 127.5 in 0.5 steps\n"
                "        (default 21.5)\n");
        return 2;
    }
    mkdir(options.absentDir.c_str(), 0755);
    if (!StartCloseWatch() || !CreateState()) {
        perror("vcoupler: state file");
        Shutdown();
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
        if (!options.tracePath.empty() && !StartTrace(port, PortPath(options.tracePath, port.com))) {
            Shutdown();
            return 1;
        }
    }
    __atomic_store_n(&state->magic, COUPLER_MAGIC, __ATOMIC_RELEASE);
    WritePortList();
    StartView();

    int64_t lastLinkCheck = 0;
    while (!stopRequested) {
        struct pollfd input = {0, POLLIN, 0};
        // A 1 ms tick: requests are answered within about a millisecond.
        poll(&input, ViewRunning() ? 1 : 0, 1);
        ServeRequests();
        WatchCloses();
        TraceTick();
        int64_t now = ModelNow();
        if (now - lastLinkCheck > 200000) {  // every 20 ms
            KeepLinks();
            for (Port& port : ports)
                SaveEeprom(port);
            lastLinkCheck = now;
        }
        if (ViewRunning()) {
            ViewTick();
        } else {
            for (Port& port : ports)
                DrainMaster(port);
        }
    }
    Shutdown();
    return 0;
}
