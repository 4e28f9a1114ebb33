// The native build's I2C master, next to the Windows build's: run by
// scripts/bench i2c after bench_i2c.exe, with that program's records in a
// file. It measures the native build on the virtual coupler the same way
// (tools/bench/i2c_jobs.h: in this process through the POSIX line port on
// COM3's pseudo-terminal, and build-host/coupler-i2c as whole processes, both
// with the virtual coupler's 64-bit preload library), the master alone on the
// bus model in this process (a port that costs nothing, on a simulated clock),
// and prints the three side by side with the goals: a native whole scan as a
// process under 50 ms, and every job within 1.1 x its floor. Then a 24C256 on
// the bus model at 1 ms a request: a full read and 256-byte page writes (from
// 0 and from a misaligned offset), each with its requests and time against
// the floor, the program's estimate against the time (within 10 %), and its
// requests a byte against the 24C02's.
//
//   bench_scan_native [--wine FILE] [runs]    runs: native whole-scan processes (11)
//   bench_scan_native --ftdi                  the FTDI path beside the serial one alone
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <spawn.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "i2c/eeprom.h"
#include "line/posix_lines.h"
#include "tools/virtual-coupler/bus_port.h"
#include "tools/bench/i2c_jobs.h"
#include "tools/virtual-coupler/coupler_state.h"

extern char** environ;

namespace {

using i2cjobs::COM;
using i2cjobs::Figure;

// Standard mode keeps every two switches 4.7 us apart.
constexpr double GAP_MS = 0.0047;
constexpr double TARGET_RATIO = 1.1;
constexpr double NATIVE_SCAN_GOAL_MS = 50;
constexpr int PROCESS_LIMIT_MS = 120000;

double Clock()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// ---- The master alone on the bus model -----------------------------------

struct Rig {
    BusPort port{BUS_CHIPS_ALL};
    Lines lines{};
    I2cMaster master{};
    bool ready = (LinesOpen(&lines, port.Port()), BitsBegin(&master, &lines) == I2C_OK);
    ~Rig() { BitsEnd(&master); }
};

// The requests of one transfer, or -1 when it failed.
int64_t Requests(Rig& rig, const uint8_t* out, int outCount, int inCount)
{
    uint8_t in[256];
    int64_t before = rig.port.requests;
    bool ok = I2cTransfer(&rig.master, 0x50, out, outCount, in, inCount) == I2C_OK;
    rig.port.Wait(rig.port.nowMs + 20);  // the next write finds the write cycle over
    return ok ? rig.port.requests - before : -1;
}

// Requests and the wall time of the master and the model (200 scans, the
// median, each on a fresh bus); the switches' gaps are on the simulated clock.
bool BusModel(std::vector<Figure>* figures)
{
    std::vector<double> ms;
    int64_t scan = 0, switches = 0;
    for (int run = 0; run < 200; run++) {
        Rig rig;
        bool seen[128] = {};
        int64_t before = rig.port.requests, switched = rig.lines.switches;
        double start = Clock();
        if (!rig.ready || Scan(&rig.master, 0x08, 0x77, seen, nullptr) != I2C_OK)
            return false;
        ms.push_back(Clock() - start);
        scan = rig.port.requests - before;
        switches = rig.lines.switches - switched;
    }
    std::sort(ms.begin(), ms.end());
    Rig rig;
    const uint8_t word = 0;
    int64_t read1 = Requests(rig, &word, 1, 1), read256 = Requests(rig, &word, 1, 256);
    int64_t write1 = Requests(rig, i2cjobs::PAGE, 2, 0), write8 = Requests(rig, i2cjobs::PAGE, 9, 0);
    if (!rig.ready || std::min({read1, read256, write1, write8}) < 0)
        return false;
    double median = ms[ms.size() / 2];
    figures->push_back({"model", "probe", scan / 112.0, switches / 112.0, 0, median / 112});
    figures->push_back({"model", "readbyte", (read256 - read1) / 255.0, 0, 0, -1});
    figures->push_back({"model", "writebyte", (write8 - write1) / 7.0, 0, 0, -1});
    figures->push_back({"model", "scan", static_cast<double>(scan), static_cast<double>(switches), 0, median});
    return true;
}

// ---- A 24C256 on the bus model at 1 ms a request -------------------------
//
// A full read and page writes of the largest common part, run the way
// coupler-i2c runs them (EepromReadRange, EepromWriteRange right after the
// job's start), on a port that charges 1 ms a request to its simulated clock
// like a USB adapter: the jobs take minutes there and a fraction of a second
// here. Each is set against its floor and against the estimate the program
// announces (I2cWorkMs).

constexpr double ADAPTER_MS = 1;
// The bus model's write cycle (tools/virtual-coupler/bus.c): the chip refuses
// its address until it is over.
constexpr double CYCLE_MS = 5;
constexpr double ESTIMATE_GOAL = 0.10;
// Requests a byte print with two decimals; equal means equal there.
constexpr double EQUAL_PER_BYTE = 0.005;
constexpr int EEPROM_AT = 0x50;
constexpr int WRITE_COUNT = 256, WRITE_PAGE = 64;

// A byte the master sends, SDA at level before it, and the acknowledge it reads.
int SentFloor(int level, unsigned byte) { return 16 + i2cjobs::Changes(level, byte) + 3; }

// count bytes read after the address's acknowledge, SDA already released:
// three requests a bit; each but the last acknowledged (SDA low, SCL high, SCL
// low) and SDA released again before the next; the last without (SCL high,
// SCL low).
int ReadFloor(int count) { return count == 1 ? 26 : 28 * count - 2; }

// One transfer on a bus known to be idle: START (SDA low, SCL low), the
// address and the bytes written; to read, after bytes written a repeated START
// (SCL high, SDA low, SCL low), the address and the bytes; the STOP (SDA low,
// SCL high, SDA high) and the sample that sees the bus idle for the next START.
int TransferFloor(int address, const uint8_t* out, int outCount, int inCount)
{
    int floor = 2;
    if (outCount > 0 || inCount == 0) {
        floor += SentFloor(0, static_cast<unsigned>(address << 1));
        for (int i = 0; i < outCount; i++)
            floor += SentFloor(1, out[i]);
    }
    if (inCount > 0)
        floor += (outCount > 0 ? 3 : 0) + SentFloor(0, static_cast<unsigned>(address << 1 | 1)) + ReadFloor(inCount);
    return floor + 4;
}

// The requests from a write's STOP, where the cycle starts, to the sample of
// the next address's acknowledge: the STOP's read-back, START, the address's
// bits and SDA released, SCL high. Whatever of the cycle they do not cover the
// floor waits.
double CycleWaitMs(int nextAddressByte)
{
    double covered = (1 + 2 + 16 + i2cjobs::Changes(0, static_cast<unsigned>(nextAddressByte)) + 1) * ADAPTER_MS;
    return std::max(0.0, CYCLE_MS - covered);
}

struct EepromJob {
    std::string what;
    bool read = false, ok = false;
    int bytes = 0;
    int64_t requests = 0, floor = 0, refused = 0;
    double ms = 0, floorMs = 0, estimateMs = 0;
    // The bytes alone, counted as the 24C02's byte is: the requests between
    // the end of one data byte and the end of the next.
    int64_t byteRequests = 0;
    int bytesCounted = 0;
};

std::vector<EepromJob> eepromJobs;

// A fresh bus with the type's chip alone at 0x50, its job started at 1 ms a
// request; stamps: the port's requests after every data byte.
struct EepromRig {
    BusPort port{BUS_CHIP_EEPROM};
    Lines lines{};
    I2cMaster master{};
    std::vector<int64_t> stamps;
    bool ready = false;

    explicit EepromRig(const char* type)
    {
        port.costMs = ADAPTER_MS;
        int busType = BusEepromTypeNamed(type);
        ready = busType >= 0 && BusSetEepromType(&port.bus, static_cast<uint32_t>(busType)) == 1;
        LinesOpen(&lines, port.Port());
        ready = ready && BitsBegin(&master, &lines) == I2C_OK;
        master.onByte = [](void* rig) {
            EepromRig* self = static_cast<EepromRig*>(rig);
            self->stamps.push_back(self->port.requests);
        };
        master.context = this;
    }
    ~EepromRig() { BitsEnd(&master); }

    // Transfers the bus saw refused at their address (polls in a write cycle).
    int64_t Refused() const
    {
        int64_t refused = 0;
        for (size_t at = 0; (at = port.log.find(" N", at)) != std::string::npos; at += 2)
            refused += at >= 6 && port.log.compare(at - 6, 2, "S ") == 0;
        return refused;
    }
};

// The whole chip from 0: one random read, both word-address bytes.
bool EepromFullRead(const EepromType& type)
{
    EepromRig rig(type.name);
    EepromJob job;
    job.what = "full read, " + std::to_string(type.size) + " bytes from 0";
    job.read = true;
    job.bytes = type.size;
    std::vector<uint8_t> data(static_cast<size_t>(type.size));
    const uint8_t word[2] = {0, 0};
    // As the program does: the estimate from what the job's start measured.
    job.estimateMs = I2cWorkMs(&rig.lines, EepromReadWork(type, 0, type.size));
    // The job's first START sees the bus idle with a sample of its own.
    job.floor = 1 + TransferFloor(EEPROM_AT, word, 2, type.size);
    job.floorMs = static_cast<double>(job.floor) * ADAPTER_MS;
    int64_t before = rig.port.requests;
    double start = rig.port.nowMs;
    job.ok = rig.ready && EepromReadRange(&rig.master, type, EEPROM_AT, 0, data.data(), type.size) == I2C_OK;
    job.requests = rig.port.requests - before;
    job.ms = rig.port.nowMs - start;
    job.refused = rig.Refused();
    // An erased chip reads FF throughout; stamps: the word address, then every byte read.
    job.ok = job.ok && std::count(data.begin(), data.end(), 0xFF) == type.size &&
             rig.stamps.size() == static_cast<size_t>(2 + type.size);
    if (job.ok) {
        job.byteRequests = rig.stamps.back() - rig.stamps[2];
        job.bytesCounted = type.size - 1;
    }
    eepromJobs.push_back(job);
    return job.ok;
}

// WRITE_COUNT bytes from offset in pages of WRITE_PAGE: the bytes of the
// 24C02's page figure (55 AA FF 12 34 56 78) over and over, so that a byte
// costs what it costs there.
bool EepromPageWrite(const EepromType& type, int offset)
{
    EepromRig rig(type.name);
    char what[80];
    snprintf(what, sizeof what, "write, %d bytes from 0x%04X, pages of %d", WRITE_COUNT, offset, WRITE_PAGE);
    EepromJob job;
    job.what = what;
    job.bytes = WRITE_COUNT;
    std::vector<uint8_t> data(WRITE_COUNT);
    for (int i = 0; i < WRITE_COUNT; i++)
        data[static_cast<size_t>(i)] = i2cjobs::PAGE[2 + i % 7];
    job.estimateMs = I2cWorkMs(&rig.lines, EepromWriteWork(type, offset, WRITE_COUNT, WRITE_PAGE));
    // A page frame per page the bytes touch, with its word address, then the
    // one-byte read that finds the last cycle over; each cycle runs while the
    // next frame goes out, as far as that covers it.
    job.floor = 1;
    job.floorMs = 0;
    for (int done = 0; done < WRITE_COUNT;) {
        int at = offset + done, size = std::min(WRITE_PAGE - at % WRITE_PAGE, WRITE_COUNT - done);
        std::vector<uint8_t> frame = {static_cast<uint8_t>(at >> 8), static_cast<uint8_t>(at)};
        frame.insert(frame.end(), data.begin() + done, data.begin() + done + size);
        job.floor += TransferFloor(EEPROM_AT, frame.data(), static_cast<int>(frame.size()), 0);
        done += size;
        job.floorMs += CycleWaitMs(EEPROM_AT << 1 | (done == WRITE_COUNT ? 1 : 0));
    }
    job.floor += TransferFloor(EEPROM_AT, nullptr, 0, 1);
    job.floorMs += static_cast<double>(job.floor) * ADAPTER_MS;
    int64_t before = rig.port.requests;
    double start = rig.port.nowMs;
    int written = 0;
    job.ok = rig.ready && EepromWriteRange(&rig.master, type, EEPROM_AT, offset, data.data(), WRITE_COUNT,
                                           WRITE_PAGE, &written) == I2C_OK;
    job.requests = rig.port.requests - before;
    job.ms = rig.port.nowMs - start;
    job.refused = rig.Refused();
    const uint8_t* memory = BusEepromMemory(&rig.port.bus);
    job.ok = job.ok && written == WRITE_COUNT && std::equal(data.begin(), data.end(), memory + offset);
    // Stamps: each page's two word-address bytes and its bytes, then the byte read.
    size_t stamp = 0;
    job.byteRequests = 0;
    for (int done = 0; job.ok && done < WRITE_COUNT;) {
        int size = std::min(WRITE_PAGE - (offset + done) % WRITE_PAGE, WRITE_COUNT - done);
        stamp += 2 + static_cast<size_t>(size);
        job.ok = stamp < rig.stamps.size();
        if (job.ok)
            job.byteRequests += rig.stamps[stamp - 1] - rig.stamps[stamp - 1 - static_cast<size_t>(size)];
        done += size;
    }
    job.ok = job.ok && stamp + 1 == rig.stamps.size();
    job.bytesCounted = WRITE_COUNT;
    eepromJobs.push_back(job);
    return job.ok;
}

// A restore as eeprom write runs it: the whole chip read for the backup,
// then an image that differs from the erased chip in 3 bytes on 2 pages
// written and read back, once only where it differs (as the program does)
// and once whole, page by page (as it did before).
struct Restore {
    std::string what;
    bool ok = false;
    int pages = 0;
    int64_t requests = 0;
    double ms = 0;
};

std::vector<Restore> restores;  // the restores run, for PrintEeprom

bool EepromRestore(const EepromType& type, bool onlyDiffering)
{
    EepromRig rig(type.name);
    Restore job;
    job.what = onlyDiffering ? "pages that differ" : "whole image";
    std::vector<uint8_t> old(static_cast<size_t>(type.size)), image(static_cast<size_t>(type.size), 0xFF),
        back(static_cast<size_t>(type.size));
    image[0x1234] = 0x5A, image[0x1235] = 0xA5, image[0x7FC0] = 0x00;
    int64_t before = rig.port.requests;
    double start = rig.port.nowMs;
    bool ok = rig.ready && EepromReadRange(&rig.master, type, EEPROM_AT, 0, old.data(), type.size) == I2C_OK;
    int pages = 0;
    std::vector<EepromRange> ranges = onlyDiffering
                                          ? EepromRangesDiffering(type, 0, type.size, type.page, image.data(), old.data(), &pages)
                                          : std::vector<EepromRange>{{0, type.size}};
    for (const EepromRange& range : ranges) {
        int written = 0;
        job.pages += range.count / type.page;
        ok = ok && EepromWriteRange(&rig.master, type, EEPROM_AT, range.offset, image.data() + range.offset, range.count,
                                    type.page, &written) == I2C_OK;
        ok = ok && EepromReadRange(&rig.master, type, EEPROM_AT, range.offset, back.data() + range.offset, range.count) ==
                       I2C_OK;
    }
    job.requests = rig.port.requests - before;
    job.ms = rig.port.nowMs - start;
    job.ok = ok && std::equal(image.begin(), image.end(), BusEepromMemory(&rig.port.bus));
    restores.push_back(job);
    return job.ok;
}

bool EepromJobs()
{
    const EepromType* type = EepromTypeNamed("24C256");
    return type && EepromFullRead(*type) && EepromPageWrite(*type, 0) && EepromPageWrite(*type, 0x25) &&
           EepromRestore(*type, true) && EepromRestore(*type, false);
}

// ---- The native build on the virtual coupler -----------------------------

// The pseudo-terminal the virtual coupler serves as COMn; "" when none.
std::string Device(int com)
{
    CouplerPort port = {};
    const char* state = getenv("COUPLER_STATE");
    int file = state ? open(state, O_RDONLY | O_CLOEXEC) : -1;
    bool read = file >= 0 && pread(file, &port, offsetof(CouplerPort, history),
                                   offsetof(CouplerState, ports) + (com - 1) * sizeof port) > 0;
    if (file >= 0)
        close(file);
    return read && port.exists && port.present ? std::string(port.pts) : "";
}

// Runs the native program with the port word replaced by the device, its
// output on /dev/null, the preload library given; the time from the spawn to
// the end in ms. Waits at most PROCESS_LIMIT_MS, then kills it.
double RunNative(const std::string& device, const char* arguments, bool* ok)
{
    std::vector<std::string> words = {CT_I2C_EXE};
    std::istringstream split(arguments);
    for (std::string word; split >> word;)
        words.push_back(word == "COM3" ? device : word);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::string state = getenv("COUPLER_STATE");
    std::string preload = "LD_PRELOAD=" + state.substr(0, state.rfind('/')) + "/lib/x86_64-linux-gnu/libvcoupler.so";
    std::vector<char*> env = {&preload[0]};
    for (char** variable = environ; *variable; variable++)
        if (strncmp(*variable, "LD_PRELOAD=", 11))
            env.push_back(*variable);
    env.push_back(nullptr);

    // The end is awaited as SIGCHLD, blocked here and not in the child.
    sigset_t child, none;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    sigemptyset(&none);
    sigprocmask(SIG_BLOCK, &child, nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    double start = Clock();
    bool started = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), env.data()) == 0;
    int status = -1;
    if (started) {
        double limit = start + PROCESS_LIMIT_MS;
        while (waitpid(pid, &status, WNOHANG) != pid) {
            double left = limit - Clock();
            if (left <= 0) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                status = -1;
                break;
            }
            timespec wait = {static_cast<time_t>(left / 1000), static_cast<long>(fmod(left, 1000) * 1e6)};
            sigtimedwait(&child, nullptr, &wait);
        }
    }
    double ms = Clock() - start;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    sigprocmask(SIG_UNBLOCK, &child, nullptr);
    *ok = *ok && started && status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return ms;
}

bool Native(int runs, std::vector<Figure>* figures, std::string* why)
{
    if (!CouplerAttach() || !CouplerReset() || !CouplerPortPresent(COM, true) ||
        !CouplerSetChips(COM, CHIP_EEPROM | CHIP_EXPANDER | CHIP_SENSOR)) {
        *why = "no virtual coupler (COUPLER_STATE)";
        return false;
    }
    std::string device = Device(COM);
    PosixLines posix;
    int32_t mismatch = 0;
    if (device.empty() || PosixLinesOpen(&posix, device.c_str(), 9600, &mismatch) != POSIX_OPENED) {
        *why = "COM3's pseudo-terminal did not open";
        return false;
    }
    i2cjobs::Meter meter("native", PosixLinesPort(&posix), false);
    bool ok = meter.InProcess();
    PosixLinesClose(&posix);
    ok = ok && meter.Processes([&](const char* arguments, bool* ok) { return RunNative(device, arguments, ok); },
                               runs);
    CouplerSetAdapter(COM, 0, 0);
    figures->insert(figures->end(), meter.figures.begin(), meter.figures.end());
    if (!ok)
        *why = "a job or a process did not end well";
    return ok;
}

// ---- The table -----------------------------------------------------------

std::map<std::string, Figure> table;

const Figure* Find(const std::string& build, const std::string& key)
{
    auto at = table.find(build + " " + key);
    return at == table.end() ? nullptr : &at->second;
}

std::string Time(double ms)
{
    char text[32];
    if (ms < 0)
        return "";
    if (ms < 1)
        snprintf(text, sizeof text, "%.1f us", ms * 1000);
    else if (ms < 100)
        snprintf(text, sizeof text, "%.2f ms", ms);
    else
        snprintf(text, sizeof text, "%.0f ms", ms);
    return text;
}

// A job's floor: the larger of its requests at their measured cost and the
// standard-mode gaps between its switches.
struct Floor {
    double cost, gaps, ms;
};

bool JobFloor(const std::string& build, const Figure& job, bool atOneMs, Floor* floor)
{
    const Figure* flip = Find(build, atOneMs ? "switch@1" : "switch");
    const Figure* sample = Find(build, atOneMs ? "sample@1" : "sample");
    if (!flip || !sample || job.switches <= 0 || job.floor <= 0)
        return false;
    floor->cost = job.switches * flip->ms + (job.requests - job.switches) * sample->ms;
    floor->gaps = job.switches * GAP_MS;
    floor->ms = std::max(floor->cost, floor->gaps);
    return true;
}

struct Row {
    const char* key;
    const char* label;
};

const Row ROWS[] = {
    {"switch", "one switch, no adapter delay"},
    {"sample", "one sample, no adapter delay"},
    {"switch@1", "one switch, 1 ms a request"},
    {"sample@1", "one sample, 1 ms a request"},
    {"start", "process start (coupler-i2c --help)"},
    {"begin", "job start, in-process (echo measured)"},
    {"probe", "probe, average of 0x08-0x77"},
    {"readbyte", "byte read (sequential, 256 against 1)"},
    {"writebyte", "byte written (page of 8 against 1)"},
    {"scan", "whole scan, in-process, no delay"},
    {"scan@1", "whole scan, in-process, 1 ms a request"},
    {"scanproc", "whole scan, process, no delay"},
    {"scanproc@1", "whole scan, process, 1 ms a request"},
};

std::string Cell(const std::string& build, const Row& row)
{
    const Figure* figure = Find(build, row.key);
    char text[64];
    if (!figure)
        return std::string(30, ' ');
    std::string key = row.key;
    if (key == "start") {
        snprintf(text, sizeof text, "%8s %10s %9s", "", Time(figure->ms).c_str(), "");
        return text;
    }
    Floor floor;
    if (build == "model" || !JobFloor(build, *figure, key.find("@1") != std::string::npos, &floor)) {
        snprintf(text, sizeof text, "%8.1f %10s %9s", figure->requests, Time(figure->ms).c_str(), "");
        return text;
    }
    double ratio = figure->ms / floor.ms;
    snprintf(text, sizeof text, "%8.1f %10s %7.2fx%s", figure->requests, Time(figure->ms).c_str(), ratio,
             ratio <= TARGET_RATIO ? " " : "!");
    return text;
}

// Seconds for the long jobs on the simulated clock.
std::string Seconds(double ms)
{
    char text[32];
    snprintf(text, sizeof text, ms < 100000 ? "%.2f s" : "%.1f s", ms / 1000);
    return text;
}

std::string Met(bool met) { return met ? "met" : "missed"; }

void PrintEeprom()
{
    printf("\n24C256 on the bus model at %.0f ms a request: coupler-i2c's EepromReadRange and EepromWriteRange\n"
           "right after the job's start (not counted); the estimate is I2cWorkMs from what the start measured,\n"
           "as the program announces it.\n\n",
           ADAPTER_MS);
    printf("%-42s %8s %8s %7s | %10s %10s %7s | %10s %7s | %8s %8s\n", "", "requests", "floor", "x floor", "time",
           "floor", "x floor", "estimate", "x time", "a byte", "job/byte");
    for (const EepromJob& job : eepromJobs) {
        if (!job.ok) {
            printf("%-42s failed (a transfer, the data or the count of bytes)\n", job.what.c_str());
            continue;
        }
        printf("%-42s %8lld %8lld %6.3fx | %10s %10s %6.3fx | %10s %6.3fx | %8.2f %8.2f\n", job.what.c_str(),
               static_cast<long long>(job.requests), static_cast<long long>(job.floor),
               static_cast<double>(job.requests) / static_cast<double>(job.floor), Seconds(job.ms).c_str(),
               Seconds(job.floorMs).c_str(), job.ms / job.floorMs, Seconds(job.estimateMs).c_str(),
               job.estimateMs / job.ms, static_cast<double>(job.byteRequests) / job.bytesCounted,
               static_cast<double>(job.requests) / job.bytes);
        if (job.refused)
            printf("  %lld transfers refused at their address (polls during a write cycle)\n",
                   static_cast<long long>(job.refused));
    }
    printf("  a byte: requests between the end of one data byte and the end of the next (as the 24C02's\n"
           "  figures above); job/byte: all the job's requests over its bytes\n");

    printf("\n24C256 restore (eeprom write) of an image that differs from the chip in 3 bytes on 2 pages:\n"
           "the backup's full read, then page writes and their read-back\n\n");
    printf("%-42s %8s %10s %6s\n", "", "requests", "time", "pages");
    for (const Restore& job : restores)
        if (job.ok)
            printf("%-42s %8lld %10s %6d\n", job.what.c_str(), static_cast<long long>(job.requests),
                   Seconds(job.ms).c_str(), job.pages);
        else
            printf("%-42s failed (a transfer or the chip's content)\n", job.what.c_str());

    printf("\ngoals for the 24C256 (figures only):\n");
    const Figure *readByte = Find("model", "readbyte"), *writeByte = Find("model", "writebyte");
    for (const EepromJob& job : eepromJobs) {
        if (!job.ok)
            continue;
        double ratio = job.ms / job.floorMs, off = job.estimateMs / job.ms - 1;
        double perByte = static_cast<double>(job.byteRequests) / job.bytesCounted;
        double perJob = static_cast<double>(job.requests) / job.bytes;
        const Figure* small = job.read ? readByte : writeByte;
        printf("  %s:\n", job.what.c_str());
        printf("    requests within %.1f x the floor: %s (%.3fx)\n", TARGET_RATIO,
               Met(static_cast<double>(job.requests) <= TARGET_RATIO * static_cast<double>(job.floor)).c_str(),
               static_cast<double>(job.requests) / static_cast<double>(job.floor));
        printf("    time within %.1f x the floor time: %s (%s against %s, %.3fx)\n", TARGET_RATIO,
               Met(ratio <= TARGET_RATIO).c_str(), Seconds(job.ms).c_str(), Seconds(job.floorMs).c_str(), ratio);
        printf("    estimate within %.0f %% of the time: %s (%s against %s, %+.1f %%)\n", ESTIMATE_GOAL * 100,
               Met(fabs(off) <= ESTIMATE_GOAL).c_str(), Seconds(job.estimateMs).c_str(), Seconds(job.ms).c_str(),
               off * 100);
        if (small)
            printf("    requests a byte %s equal to the 24C02's %.2f: %s (%.2f); the whole job's per byte %.2f\n",
                   job.read ? "read" : "written", small->requests,
                   Met(fabs(perByte - small->requests) < EQUAL_PER_BYTE).c_str(), perByte, perJob);
        else
            printf("    requests a byte: %.2f (the 24C02's not measured)\n", perByte);
    }
}

void Print(int wineRuns, int nativeRuns)
{
    printf("i2c: the I2C master on the virtual coupler (COM3; 0x20, 0x48 and 0x50 answer): the Windows build\n"
           "under Wine, the native build (both through the virtual coupler's preload library), and the master\n"
           "alone on the bus model in one process. x: time / the job's floor, ! over 1.1.\n\n");
    printf("%-40s %6s | %-30s | %-30s | %-19s\n", "", "floor", "Wine", "native", "bus model");
    printf("%-40s %6s | %8s %10s %9s | %8s %10s %9s | %8s %10s\n", "", "reqs", "requests", "time", "x floor",
           "requests", "time", "x floor", "requests", "time");
    for (const Row& row : ROWS) {
        const Figure* any = Find("wine", row.key) ? Find("wine", row.key) : Find("native", row.key);
        char floor[16] = "";
        if (any && any->floor > 0)
            snprintf(floor, sizeof floor, "%6.1f", any->floor);
        std::string label = row.label;
        if (label == "whole scan, process, no delay")
            label += " (median)";
        std::string model = Cell("model", row);
        printf("%-40s %6s | %s | %s | %s\n", label.c_str(), floor, Cell("wine", row).c_str(),
               Cell("native", row).c_str(), model.substr(0, 19).c_str());
    }
    for (const char* build : {"wine", "native"}) {
        const Figure *low = Find(build, "scanproc-min"), *high = Find(build, "scanproc-max");
        if (low && high)
            printf("  %s whole-scan processes, no delay: %d runs, min %s, max %s\n", build,
                   std::string(build) == "wine" ? wineRuns : nativeRuns, Time(low->ms).c_str(),
                   Time(high->ms).c_str());
    }

    printf("\ngoals (figures only; a benchmark fails nothing):\n");
    const Figure* scan = Find("native", "scanproc");
    if (scan)
        printf("  native whole scan as a process, no delay, under %.0f ms: %s (median): %s\n", NATIVE_SCAN_GOAL_MS,
               Time(scan->ms).c_str(),
               scan->ms < NATIVE_SCAN_GOAL_MS ? "met" : ("missed by " + Time(scan->ms - NATIVE_SCAN_GOAL_MS)).c_str());
    else
        printf("  native whole scan as a process: not measured\n");
    std::string over;
    for (const char* build : {"wine", "native", "model"})
        for (const char* key : {"probe", "readbyte", "writebyte"}) {
            const Figure* figure = Find(build, key);
            const Figure* floor = Find("wine", key) ? Find("wine", key) : Find("native", key);
            if (figure && floor && figure->requests > TARGET_RATIO * floor->floor)
                over += std::string(" ") + build + " " + key;
        }
    std::string counts;
    for (const char* build : {"wine", "native", "model"}) {
        const Figure *probe = Find(build, "probe"), *read = Find(build, "readbyte"), *write = Find(build, "writebyte");
        if (probe && read && write) {
            char text[96];
            snprintf(text, sizeof text, "%s%s %.1f / %.1f / %.1f", counts.empty() ? "" : ", ", build,
                     probe->requests, read->requests, write->requests);
            counts += text;
        }
    }
    printf("  requests per probe / byte read / byte written within 1.1 x the protocol's floor: %s (%s)\n",
           over.empty() ? "met" : ("missed:" + over).c_str(), counts.c_str());
    printf("  time within 1.1 x the floor (the larger of requests x their measured cost and the gaps,\n"
           "  4.7 us between switches):\n");
    for (const char* build : {"wine", "native"})
        for (const Row& row : ROWS) {
            const Figure* job = Find(build, row.key);
            Floor floor;
            std::string key = row.key;
            if (!job || !JobFloor(build, *job, key.find("@1") != std::string::npos, &floor))
                continue;
            double ratio = job->ms / floor.ms;
            printf("    %-6s %-40s %s against %s: %s\n", build, row.label, Time(job->ms).c_str(),
                   Time(floor.ms).c_str(),
                   ratio <= TARGET_RATIO ? "met" : ("missed, " + std::to_string(static_cast<int>((ratio - 1) * 100 + 0.5)) + "% over").c_str());
            if (ratio <= TARGET_RATIO)
                continue;
            // What the time is made of, as far as the figures tell.
            const Figure *start = Find(build, "start"), *begin = Find(build, "begin");
            bool process = key.rfind("scanproc", 0) == 0 && start && begin;
            double accounted = floor.cost + floor.gaps + (process ? start->ms + begin->ms : 0);
            printf("           requests x cost %s + gaps %s%s = %s; the rest %s\n", Time(floor.cost).c_str(),
                   Time(floor.gaps).c_str(),
                   process ? (" + process start " + Time(start->ms) + " + job start " + Time(begin->ms)).c_str() : "",
                   Time(accounted).c_str(),
                   job->ms >= accounted ? Time(job->ms - accounted).c_str() : ("-" + Time(accounted - job->ms)).c_str());
        }
    PrintEeprom();
}

bool Load(const char* path)
{
    std::ifstream file(path);
    std::string line;
    bool any = false;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        Figure figure;
        if (fields >> figure.build >> figure.key >> figure.requests >> figure.switches >> figure.floor >> figure.ms) {
            table[figure.build + " " + figure.key] = figure;
            any = true;
        }
    }
    return any;
}

}  // namespace

// The FTDI path beside the serial one (tools/bench/native/ftdi.cpp).
bool FtdiBench();

int main(int argc, char** argv)
{
    const char* wine = nullptr;
    int runs = 11;
    for (int i = 1; i < argc; i++)
        if (!strcmp(argv[i], "--ftdi"))
            return FtdiBench() ? 0 : 1;
        else if (!strcmp(argv[i], "--wine") && i + 1 < argc)
            wine = argv[++i];
        else
            runs = std::max(atoi(argv[i]), 1);
    if (wine && !Load(wine))
        printf("i2c native: no Wine figures in %s\n", wine);
    std::vector<Figure> figures;
    if (!BusModel(&figures))
        printf("i2c native: the scan on the bus model failed\n");
    if (!EepromJobs())
        printf("i2c native: a 24C256 job on the bus model failed\n");
    std::string why;
    bool ok = Native(runs, &figures, &why);
    if (!ok)
        printf("i2c native: %s\n", why.c_str());
    for (const Figure& figure : figures)
        table[figure.build + " " + figure.key] = figure;
    const Figure* wineRuns = Find("wine", "runs");
    Print(wineRuns ? static_cast<int>(wineRuns->requests) : 0, runs);
    ok = FtdiBench() && ok;
    return ok ? 0 : 1;
}
