#include "line/trace.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <string>

namespace {

// The dump's signals, in the order of their declaration: the bus first, as
// a decoder's user looks for it.
enum Signal { SCL, SDA, DTR, RTS, DSR, CTS, SIGNALS };
const char* const NAMES[SIGNALS] = {"SCL", "SDA", "DTR", "RTS", "DSR", "CTS"};

struct Change {
    int64_t us;
    int signal;
    int value;
};

bool Set(void* data, LineOutput line, int on)
{
    auto* recorder = static_cast<TraceRecorder*>(data);
    bool done = recorder->inner.set(recorder->inner.data, line, on);
    double ms = recorder->inner.now(recorder->inner.data);
    recorder->events.push_back(
        {ms, static_cast<int8_t>(line == LINE_SDA_OUT ? TRACE_DTR : TRACE_RTS), done, on ? 1 : 0});
    return done;
}

int32_t Status(void* data)
{
    auto* recorder = static_cast<TraceRecorder*>(data);
    // The time before the request: what it read was on the lines by then.
    double ms = recorder->inner.now(recorder->inner.data);
    int32_t status = recorder->inner.status(recorder->inner.data);
    recorder->events.push_back({ms, TRACE_STATUS, status >= 0, status});
    return status;
}

// A planned run: its switches and the samples the master reads spread evenly
// over the run's time (the port tells no moment within it), each sample after
// its step's switch.
bool Batch(void* data, const LineStep* steps, int32_t count, int32_t* answers)
{
    auto* recorder = static_cast<TraceRecorder*>(data);
    double start = recorder->inner.now(recorder->inner.data);
    bool done = recorder->inner.batch(recorder->inner.data, steps, count, answers);
    double each = (recorder->inner.now(recorder->inner.data) - start) / (count > 0 ? count : 1);
    // The levels before the run, so that only changes are recorded.
    int sda = -1, scl = -1;
    for (size_t at = recorder->events.size(); at-- > 0 && (sda < 0 || scl < 0);) {
        const TraceEvent& event = recorder->events[at];
        if (event.done && event.kind == TRACE_DTR && sda < 0)
            sda = event.value;
        if (event.done && event.kind == TRACE_RTS && scl < 0)
            scl = event.value;
    }
    for (int32_t i = 0; done && i < count; i++) {
        double ms = start + each * i;
        if (steps[i].scl != scl)
            recorder->events.push_back({ms, TRACE_RTS, 1, scl = steps[i].scl});
        if (steps[i].sda != sda)
            recorder->events.push_back({ms, TRACE_DTR, 1, sda = steps[i].sda});
        if (steps[i].sample)
            recorder->events.push_back({ms + each / 2, TRACE_STATUS, 1, answers[i]});
    }
    return done;
}

double Now(void* data)
{
    auto* recorder = static_cast<TraceRecorder*>(data);
    return recorder->inner.now(recorder->inner.data);
}

void WaitUntil(void* data, double ms)
{
    auto* recorder = static_cast<TraceRecorder*>(data);
    recorder->inner.waitUntil(recorder->inner.data, ms);
}

// The record as changes of the six signals, in time order.
std::vector<Change> Changes(const std::vector<TraceEvent>& events)
{
    std::vector<Change> changes, sda;
    if (events.empty())
        return changes;
    double start = events.front().ms;
    int dtr = -1;
    int64_t released = 0, sclFell = -1;
    for (const TraceEvent& event : events) {
        int64_t us = std::max<int64_t>(0, llround((event.ms - start) * 1000));
        if (!event.done)
            continue;  // a refused switch changed nothing known, a failed sample read nothing
        if (event.kind == TRACE_DTR) {
            dtr = event.value;
            changes.push_back({us, DTR, dtr});
            // Released, SDA is the pull-up's until a sample says otherwise.
            sda.push_back({us, SDA, dtr});
            released = us;
        } else if (event.kind == TRACE_RTS) {
            changes.push_back({us, RTS, event.value});
            changes.push_back({us, SCL, event.value});
            if (!event.value)
                sclFell = us;
            // Released at SCL's fall, SDA goes back to the pull-up (a slave
            // lets go of its acknowledge) unless a sample says otherwise.
            if (!event.value && dtr == 1)
                sda.push_back({us + 1, SDA, 1});
        } else {
            int dsr = (event.value & LINE_SDA_IN) != 0;
            changes.push_back({us, DSR, dsr});
            changes.push_back({us, CTS, (event.value & LINE_INT_IN) != 0});
            if (dtr != 1)
                continue;
            // A slave changes SDA only while SCL is low: from just after SCL's
            // fall, or from the release when SCL fell before it.
            int64_t from = sclFell >= released ? sclFell + 1 : released;
            from = std::min(from, us);
            while (!sda.empty() && sda.back().us >= from)
                sda.pop_back();
            sda.push_back({from, SDA, dsr});
        }
    }
    changes.insert(changes.end(), sda.begin(), sda.end());
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& a, const Change& b) { return a.us < b.us; });
    return changes;
}

}  // namespace

LinePort TraceRecord(TraceRecorder* recorder, const LinePort& inner)
{
    recorder->inner = inner;
    recorder->events.clear();
    LinePort port = {recorder, Set, Status, Now, WaitUntil};
    if (inner.batch) {
        port.batch = Batch;
        port.stepMs = inner.stepMs;
    }
    return port;
}

std::vector<char> TraceDump(const TraceRecorder& recorder)
{
    std::vector<Change> changes = Changes(recorder.events);
    // Each signal starts at its first known level (idle high where none is).
    int value[SIGNALS];
    for (int signal = 0; signal < SIGNALS; signal++) {
        auto first = std::find_if(changes.begin(), changes.end(),
                                  [signal](const Change& c) { return c.signal == signal; });
        value[signal] = first != changes.end() ? first->value : signal == DSR || signal == CTS ? 0 : 1;
    }
    std::string text = "$version coupler line trace $end\n$timescale 1 us $end\n$scope module coupler $end\n";
    for (int signal = 0; signal < SIGNALS; signal++)
        text += "$var wire 1 " + std::string(1, static_cast<char>('!' + signal)) + " " + NAMES[signal] + " $end\n";
    text += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (int signal = 0; signal < SIGNALS; signal++)
        text += std::to_string(value[signal]) + static_cast<char>('!' + signal) + "\n";
    text += "$end\n";
    // One time stamp for all changes at a microsecond; of two changes of one
    // signal there, the later counts.
    int64_t last = 0;
    for (size_t i = 0; i < changes.size();) {
        int64_t us = changes[i].us;
        int next[SIGNALS];
        std::copy(value, value + SIGNALS, next);
        for (; i < changes.size() && changes[i].us == us; i++)
            next[changes[i].signal] = changes[i].value;
        // Changes at 0 follow the initial values under the stamp already written.
        std::string stamp = us ? "#" + std::to_string(us) + "\n" : "";
        for (int signal = 0; signal < SIGNALS; signal++)
            if (next[signal] != value[signal]) {
                text += stamp + std::to_string(next[signal]) + static_cast<char>('!' + signal) + "\n";
                stamp.clear();
                value[signal] = next[signal];
            }
        last = us;
    }
    // A last stamp, so that a viewer shows the final levels for a moment.
    text += "#" + std::to_string(last + 10) + "\n";
    return std::vector<char>(text.begin(), text.end());
}

bool TraceSave(const TraceRecorder& recorder, const char* path)
{
    std::vector<char> dump = TraceDump(recorder);
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    bool written = fwrite(dump.data(), 1, dump.size(), file) == dump.size();
    return fclose(file) == 0 && written;
}
