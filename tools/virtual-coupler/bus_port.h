// A line port over the I2C bus model in this process, on a simulated clock:
// DTR and RTS step the bus, DSR reads DTR AND no slave holding SDA low, CTS
// reads INT pulled low. Adapter models: a cost per request, a status reported
// as it was some time ago (per round of DTR), one early DSR sample, an adapter
// pulled after some requests, something that acknowledges every address, one
// that reports at varying moments (a latency timer). A coupler whose SCL
// leaks into SDA; preemptions that jump the clock around requests and waits.
// It logs nothing itself: the bus's decoded transfers are its record. Test
// support for the master's suites and the native bench.
#pragma once

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "line/lines.h"
#include "tools/virtual-coupler/bus.h"

struct BusPort {
    CouplerBus bus{};            // powered up with the lines off, the EEPROM erased
    double nowMs = 0, costMs = 1e-4;  // the simulated clock; what each request moves it on by (never nothing)
    std::vector<double> lateMs;  // the status is as it was this long ago: element n after the n-th
                                 // fall of DTR, the last element from then on; empty: never late
    bool ackAll = false;         // something acknowledges every address (SDA low at the 9th clock)
    int64_t pullAfter = 10000000;  // requests the adapter takes; every later call fails (a bound)

    // glitchAfterFall: the first sample after this fall of DTR shows DSR inverted (glitchDue).
    int glitchAfterFall = -1, glitchDue = 0;

    // SCL leaks into SDA: DSR reads inverted for 5 ms this long after each RTS edge, -1: never;
    // leakSda 0 or 1: only while DTR has that level.
    double leakAfterMs = -1;
    int leakSda = -1;
    std::vector<double> rtsEdges;
    // The process preempted as each request begins and ends (what: -1 a sample, else the line
    // switched) and after each wait (-2): how far the clock jumps there.
    std::function<double(int what, bool ends)> preempt;
    // A status that varies per request (lateToMs > lateFromMs, lateMs empty): the adapter reports
    // every lateToMs - lateFromMs (its latency timer, from a drawn phase), each report the lines as
    // they were lateFromMs before it, so that a sample shows them between lateFromMs and lateToMs ago.
    std::mt19937 random{1};
    double lateFromMs = 0, lateToMs = 0, reportMs = 0, nextReportMs = 0;

    // What reached the port. line: DTR, RTS as switched, off at the start as on a port just
    // opened; falls: of DTR; clocks: SCL rises since the last START, -1 before one.
    int line[2] = {0, 0}, falls = 0, clocks = -1;
    int64_t requests = 0, repeats = 0, sclRises = 0;  // repeats: a switch to the level the line has
    // The closest two switches (end to start); the time whose status a late sample showed, which
    // never goes back.
    double minGapMs = 1e9, lastSwitchEndMs = -1, shownMs = 0;
    std::vector<std::pair<double, int32_t>> history;  // the status word from each time on
    uint32_t logRead = 0;
    std::string log;  // the bus's decoded transfers up to the last switch ("S 50 W A 00 A Sr 50 R A FF N P\n")

    explicit BusPort(uint32_t chips = BUS_CHIPS_ALL)
    {
        BusPowerUp(&bus, chips, 0, 0);
        memset(BusEepromMemory(&bus), 0xFF, 256);
        history.emplace_back(0, Live());
    }
    LinePort Port() { return {this, Set, Status, Now, WaitUntil}; }

    int64_t Ticks() const { return static_cast<int64_t>(nowMs * 10000 + 0.5); }  // the bus's 100 ns
    int32_t Live()
    {
        bool sda = line[LINE_SDA_OUT] && !BusHoldsSdaLow(&bus, Ticks()) &&
                   !(ackAll && clocks == 9 && line[LINE_SCL_OUT]);
        return (sda ? LINE_SDA_IN : 0) | (BusPullsIntLow(&bus, Ticks()) ? LINE_INT_IN : 0);
    }
    // A request reaches the adapter, and costs its time, unless it was pulled.
    bool Taken() { return (nowMs += costMs), ++requests <= pullAfter; }
    void Preempt(int what, bool ends) { nowMs += preempt ? preempt(what, ends) : 0; }
    double Draw(double from, double to) { return std::uniform_real_distribution<double>(from, to)(random); }

    static bool Set(void* data, LineOutput out, int on)
    {
        BusPort* port = static_cast<BusPort*>(data);
        port->Preempt(out, false);
        double start = port->nowMs;
        if (!port->Taken())
            return false;
        int& level = port->line[out];
        port->repeats += level == on;
        port->minGapMs = std::min(port->minGapMs, port->lastSwitchEndMs < 0 ? 1e9 : start - port->lastSwitchEndMs);
        port->lastSwitchEndMs = port->nowMs;
        // SDA falling while SCL is high is a START: the acknowledge of the address is the 9th clock.
        if (out == LINE_SDA_OUT && level && !on) {
            port->clocks = port->line[LINE_SCL_OUT] ? 0 : port->clocks;
            port->glitchDue = ++port->falls == port->glitchAfterFall;
        }
        if (out == LINE_SCL_OUT && !level && on)
            port->sclRises++, port->clocks += port->clocks >= 0;
        if (out == LINE_SCL_OUT && level != on && port->leakAfterMs >= 0)
            port->rtsEdges.push_back(port->nowMs);
        level = on;
        BusLines(&port->bus, port->line[LINE_SCL_OUT], port->line[LINE_SDA_OUT], port->Ticks());
        port->history.emplace_back(port->nowMs, port->Live());
        char text[256];
        while (uint32_t count = BusTakeLog(&port->bus, &port->logRead, text, sizeof text))
            port->log.append(text, count);
        port->Preempt(out, true);
        return true;
    }
    static int32_t Status(void* data)
    {
        BusPort* port = static_cast<BusPort*>(data);
        port->Preempt(-1, false);
        double asked = port->nowMs;
        if (!port->Taken())
            return -1;
        int32_t status = port->Live();
        double late = -1;
        if (port->lateToMs > 0) {
            double period = port->lateToMs - port->lateFromMs;
            if (port->nextReportMs == 0)
                port->nextReportMs = port->Draw(0.001, period);
            while (port->nextReportMs <= asked)
                port->reportMs = std::exchange(port->nextReportMs, port->nextReportMs + period);
            late = asked - port->reportMs + port->lateFromMs;
        }
        if (!port->lateMs.empty())
            late = port->lateMs[std::min(static_cast<size_t>(port->falls), port->lateMs.size() - 1)];
        if (late >= 0) {
            port->shownMs = std::max(port->shownMs, asked - late);
            auto after = std::upper_bound(port->history.begin() + 1, port->history.end(), port->shownMs,
                                          [](double ms, const auto& seen) { return ms < seen.first; });
            status = (after - 1)->second;
        }
        double at = (late < 0 ? port->nowMs : port->shownMs) - port->leakAfterMs;
        for (double edge : port->rtsEdges)
            status ^= port->leakAfterMs >= 0 && port->leakSda != !port->line[LINE_SDA_OUT] && at >= edge && at < edge + 5 ? LINE_SDA_IN : 0;
        port->Preempt(-1, true);
        return status ^ (std::exchange(port->glitchDue, 0) ? LINE_SDA_IN : 0);
    }
    static double Now(void* data) { return static_cast<BusPort*>(data)->nowMs; }
    static void WaitUntil(void* data, double ms) { static_cast<BusPort*>(data)->Wait(ms); }
    void Wait(double ms)
    {
        nowMs = std::max(nowMs, ms);
        Preempt(-2, true);
    }
};
