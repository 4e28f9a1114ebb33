// The I2C master's jobs on the virtual coupler, measured the same way by the
// Windows build under Wine (bench_i2c.exe) and by the native build
// (bench_scan_native): the cost of one line request, requests and time per
// probe, per byte read and per byte written, a whole scan in the process, and
// a whole scan as a coupler-i2c process, process start included. The virtual
// coupler counts the requests (all of them) and the switches (DTR and RTS
// changes); the time is the line port's own clock.
//
// Each figure is printed as one record line, which scripts/bench i2c hands to
// bench_scan_native to print both builds side by side with their goals:
//
//   BUILD KEY REQUESTS SWITCHES FLOOR_REQUESTS MS
//
// KEY is switch, sample (one bare request), begin (the job's start: lines
// idle, the echo measured), probe, readbyte, writebyte (one
// unit), scan (in-process), start (the program's --help as a process),
// scanproc (a whole scan as a process, the median of its runs); with "@1" the
// same at 1 ms a request. FLOOR_REQUESTS is the protocol's fewest (0 where it
// has none).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "i2c/bits.h"
#include "i2c/chips.h"
#include "i2c/messages.h"
#include "line/lines.h"
#include "tools/virtual-coupler/coupler_client.h"

namespace i2cjobs {

constexpr int COM = 3;

// SDA switches for bits sent with SDA at level before them and released after.
inline int Changes(int level, unsigned byte)
{
    int changes = 0;
    for (int bit = 7; bit >= -1; bit--) {
        int next = bit >= 0 ? (byte >> bit) & 1 : 1;
        changes += next != level;
        level = next;
    }
    return changes;
}

// The fewest requests of a probe: START (SDA, SCL), eight bits (two SCL
// switches each, SDA where it changes, from low after the START), the
// acknowledge (SDA released, SCL, sample, SCL), STOP (SDA, SCL, SDA) and its
// read-back, which is the next START's idle check; a read probe answered
// reads a byte (three requests a bit) and does not acknowledge it (two).
inline int ProbeFloor(int address, bool answered)
{
    bool read = ProbeReads(address);
    return 2 + 16 + Changes(0, static_cast<unsigned>(address << 1 | read)) + 3 + 4 + (read && answered ? 26 : 0);
}

// A byte written in a page: eight bits and the acknowledge, SDA released
// before and after.
inline int WriteByteFloor(unsigned byte) { return 16 + 3 + Changes(1, byte); }

// A byte read in a sequential read: SDA released, three requests a bit, the
// acknowledge (SDA low, SCL, SCL).
constexpr int READ_BYTE_FLOOR = 28;

// The bench's page: word address 0x10, then 00 55 AA FF 12 34 56 78.
constexpr uint8_t PAGE[9] = {0x10, 0x00, 0x55, 0xAA, 0xFF, 0x12, 0x34, 0x56, 0x78};

// One record.
struct Figure {
    std::string build, key;
    double requests, switches, floor, ms;
};

struct Counts {
    int64_t requests, switches;
    double ms;
};

class Meter {
public:
    // print: each record on standard output as it is taken; figures keeps them all.
    Meter(const char* build, LinePort port, bool print) : build_(build), port_(port), print_(print) {}

    std::vector<Figure> figures;

    void Record(const char* key, double requests, double switches, double floor, double ms)
    {
        figures.push_back({build_, key, requests, switches, floor, ms});
        if (print_) {
            printf("%s %s %.4f %.4f %.4f %.6f\n", build_, key, requests, switches, floor, ms);
            fflush(stdout);
        }
    }

    Counts Mark() const { return {CouplerLineRequests(COM), CouplerLineChangeCount(COM), port_.now(port_.data)}; }
    Counts Since(const Counts& before) const
    {
        Counts now = Mark();
        return {now.requests - before.requests, now.switches - before.switches, now.ms - before.ms};
    }

    // One bare request straight to the port, without the engine: RTS (SCL)
    // switched back and forth with DTR (SDA) high, which no slave takes for
    // anything; then the modem status read.
    bool Bare(const char* suffix, int count)
    {
        bool ok = port_.set(port_.data, LINE_SDA_OUT, 1) && port_.set(port_.data, LINE_SCL_OUT, 1);
        Counts before = Mark();
        for (int i = 0; ok && i < count; i++)
            ok = port_.set(port_.data, LINE_SCL_OUT, i % 2 == 0 ? 0 : 1);
        Counts took = Since(before);
        Record(Key("switch", suffix), took.requests / static_cast<double>(count),
               took.switches / static_cast<double>(count), 0, took.ms / count);
        before = Mark();
        for (int i = 0; ok && i < count; i++)
            ok = port_.status(port_.data) >= 0;
        took = Since(before);
        Record(Key("sample", suffix), took.requests / static_cast<double>(count),
               took.switches / static_cast<double>(count), 0, took.ms / count);
        return ok;
    }

    // A whole scan of 0x08-0x77 through the master, and its floor.
    bool WholeScan(I2cMaster* master, const char* suffix, bool perProbe)
    {
        bool found[128] = {};
        Counts before = Mark();
        bool ok = Scan(master, 0x08, 0x77, found, nullptr) == I2C_OK;
        Counts took = Since(before);
        scanFloor_ = 0;
        for (int address = 0x08; address <= 0x77; address++)
            scanFloor_ += ProbeFloor(address, found[address]);
        if (perProbe)
            Record("probe", took.requests / 112.0, took.switches / 112.0, scanFloor_ / 112.0, took.ms / 112);
        Record(Key("scan", suffix), static_cast<double>(took.requests), static_cast<double>(took.switches),
               scanFloor_, took.ms);
        return ok;
    }

    // The marginal byte: 256 bytes read against one, a page of 8 written
    // against one (each write after the previous write cycle is over).
    bool Bytes(I2cMaster* master)
    {
        uint8_t data[256], word = 0;
        Counts took[2];
        bool ok = true;
        for (int i = 0; i < 2; i++) {
            Counts before = Mark();
            ok = ok && I2cTransfer(master, 0x50, &word, 1, data, i ? 256 : 1) == I2C_OK;
            took[i] = Since(before);
        }
        Record("readbyte", (took[1].requests - took[0].requests) / 255.0,
               (took[1].switches - took[0].switches) / 255.0, READ_BYTE_FLOOR, (took[1].ms - took[0].ms) / 255);
        int floor = 0;
        for (int i = 2; i < 9; i++)
            floor += WriteByteFloor(PAGE[i]);
        for (int i = 0; i < 2; i++) {
            port_.waitUntil(port_.data, port_.now(port_.data) + 20);
            Counts before = Mark();
            ok = ok && I2cTransfer(master, 0x50, PAGE, i ? 9 : 2, nullptr, 0) == I2C_OK;
            took[i] = Since(before);
        }
        Record("writebyte", (took[1].requests - took[0].requests) / 7.0, (took[1].switches - took[0].switches) / 7.0,
               floor / 7.0, (took[1].ms - took[0].ms) / 7);
        return ok;
    }

    // Everything in this process, on the open port: bare requests, the jobs
    // with no adapter delay, then bare requests and a whole scan at 1 ms a
    // request. The adapter is left without delay.
    bool InProcess()
    {
        bool ok = Bare("", 2000);
        Lines lines;
        LinesOpen(&lines, port_);
        I2cMaster master;
        Counts before = Mark();
        ok = ok && BitsBegin(&master, &lines) == I2C_OK;
        Counts took = Since(before);
        Record("begin", static_cast<double>(took.requests), static_cast<double>(took.switches), 0, took.ms);
        ok = ok && WholeScan(&master, "", true) && Bytes(&master);
        ok = ok && CouplerSetAdapter(COM, 0, 1);
        ok = ok && Bare("@1", 200) && WholeScan(&master, "@1", false);
        BitsEnd(&master);
        return CouplerSetAdapter(COM, 0, 0) && ok;
    }

    // The program as whole processes: its start (--help, which opens no port)
    // and whole scans, the median of `runs`, then one at 1 ms a request.
    // run(arguments, &ok) starts the program with the port word replaced and
    // gives the time from its start to its end in ms.
    template <typename Run>
    bool Processes(Run run, int runs)
    {
        bool ok = true;
        std::vector<double> start, scan;
        for (int i = 0; i < runs && ok; i++) {
            start.push_back(run("--help", &ok));
            Counts before = Mark();
            double ms = run("COM3 scan --quiet", &ok);
            Counts took = Since(before);
            scan.push_back(ms);
            if (i == runs - 1) {
                std::sort(start.begin(), start.end());
                std::sort(scan.begin(), scan.end());
                Record("start", 0, 0, 0, start[start.size() / 2]);
                Record("scanproc", static_cast<double>(took.requests), static_cast<double>(took.switches),
                       scanFloor_, scan[scan.size() / 2]);
                Record("scanproc-min", 0, 0, 0, scan.front());
                Record("scanproc-max", 0, 0, 0, scan.back());
            }
        }
        ok = ok && CouplerSetAdapter(COM, 0, 1);
        Counts before = Mark();
        double ms = ok ? run("COM3 scan --quiet", &ok) : 0;
        Counts took = Since(before);
        Record("scanproc@1", static_cast<double>(took.requests), static_cast<double>(took.switches), scanFloor_, ms);
        return CouplerSetAdapter(COM, 0, 0) && ok;
    }

private:
    const char* Key(const char* key, const char* suffix)
    {
        snprintf(key_, sizeof key_, "%s%s", key, suffix);
        return key_;
    }

    const char* build_;
    LinePort port_;
    bool print_;
    int scanFloor_ = 0;
    char key_[32] = {};
};

}  // namespace i2cjobs
