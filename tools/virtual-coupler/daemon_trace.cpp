// The bus's trace (--trace, the client's CouplerTrace): every change of the
// lines as the chips saw them, written as a value change dump that logic
// analyzer software reads: SCL, the SDA wire, the master's DTR and, per chip,
// whether it pulls SDA low. Times in whole microseconds from the trace's
// start.
//
// The library records the changes in the bus's trace ring as the master
// makes them; each tick (1 ms) the daemon moves them into the file. A change
// overwritten before the daemon read it (more than BUS_TRACE_CHANGES within
// one of the daemon's pauses) is not made up: the dump gets a $comment that
// says how many were lost at that point, and stderr a line.
#include <inttypes.h>
#include <stdio.h>

#include "daemon.h"

namespace {

// One dumped signal: its bit of BUS_TRACE_*, its identifier in the dump and
// its name (SCL and SDA as I2C decoders look for them).
struct Signal {
    uint32_t bit;
    char id;
    const char* name;
};
const Signal SIGNALS[] = {
    {BUS_TRACE_SCL, '!', "SCL"},
    {BUS_TRACE_SDA, '"', "SDA"},
    {BUS_TRACE_DTR, '#', "DTR"},
    {BUS_CHIP_EEPROM << BUS_TRACE_CHIP_SHIFT, '%', "eeprom_pulls_SDA"},
    {BUS_CHIP_EXPANDER << BUS_TRACE_CHIP_SHIFT, '&', "expander_pulls_SDA"},
    {BUS_CHIP_SENSOR << BUS_TRACE_CHIP_SHIFT, '\'', "sensor_pulls_SDA"},
};

// The changes taken from a ring in one go; module-wide so that a tick needs
// no 128 KB on the stack. Used only inside Drain, for the daemon's life.
BusTraceChange taken[BUS_TRACE_CHANGES];

void Drain(Port& port)
{
    uint32_t count, lost;
    {
        PortGuard guard(port);
        if (!guard.held)
            return;
        count = BusTakeTrace(&guard.bus, &port.traceRead, taken, BUS_TRACE_CHANGES, &lost);
    }
    if (lost) {
        fprintf(port.trace, "$comment %u line changes lost here $end\n", lost);
        fprintf(stderr, "vcoupler: COM%d: the trace lost %u line changes (the daemon read too late)\n", port.com,
                lost);
    }
    for (uint32_t i = 0; i < count; ++i) {
        // Two changes within one microsecond stay two, in their order.
        int64_t us = (taken[i].time - port.traceStart) / 10;
        port.traceLastUs = us > port.traceLastUs ? us : port.traceLastUs + 1;
        fprintf(port.trace, "#%" PRId64 "\n", port.traceLastUs);
        for (const Signal& signal : SIGNALS)
            if ((taken[i].signals ^ port.traceSignals) & signal.bit)
                fprintf(port.trace, "%c%c\n", (taken[i].signals & signal.bit) ? '1' : '0', signal.id);
        port.traceSignals = taken[i].signals;
    }
    if (count || lost)
        fflush(port.trace);
}

}  // namespace

bool StartTrace(Port& port, const std::string& path)
{
    StopTrace(port);
    FILE* file = fopen(path.c_str(), "w");
    if (!file) {
        fprintf(stderr, "vcoupler: COM%d: cannot write the trace %s\n", port.com, path.c_str());
        return false;
    }
    {
        PortGuard guard(port);
        if (!guard.held) {
            fclose(file);
            return false;
        }
        port.traceRead = guard.bus.traceWrite;
        port.traceSignals = guard.bus.traceSignals;
    }
    port.trace = file;
    port.tracePath = path;
    port.traceStart = ModelNow();
    port.traceLastUs = 0;
    fprintf(file, "$comment I2C bus of COM%d $end\n$timescale 1 us $end\n$scope module COM%d $end\n", port.com,
            port.com);
    for (const Signal& signal : SIGNALS)
        fprintf(file, "$var wire 1 %c %s $end\n", signal.id, signal.name);
    fprintf(file, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    for (const Signal& signal : SIGNALS)
        fprintf(file, "%c%c\n", (port.traceSignals & signal.bit) ? '1' : '0', signal.id);
    fprintf(file, "$end\n");
    fflush(file);
    return true;
}

void StopTrace(Port& port)
{
    if (port.trace) {
        Drain(port);
        // A last time after the last change: a reader sees it last a while.
        fprintf(port.trace, "#%" PRId64 "\n", port.traceLastUs + 1000);
        fclose(port.trace);
    }
    port.trace = nullptr;
    port.tracePath.clear();
    port.traceRead = port.traceSignals = 0;
    port.traceStart = port.traceLastUs = 0;
}

void TraceTick()
{
    for (Port& port : ports)
        if (port.trace)
            Drain(port);
}
