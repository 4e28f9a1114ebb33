// A recorder behind the line interface: it passes every request on to the
// port it wraps and keeps what was switched and sampled, with the time, so
// that the job can be written afterwards as a value change dump, the format a
// logic analyzer's software opens.
//
// Besides DTR, RTS, DSR and CTS as switched and sampled, the dump carries SCL
// and SDA as the bus is known to the master, named so that an I2C decoder
// finds its channels without being told: SCL is RTS; SDA is low while the
// master drives it low, and while it is released shows what the next sample
// read, from the moment the slaves could have changed it (the release, or
// SCL's fall after it: slaves change SDA only while SCL is low). A decoder that
// samples SDA at SCL's rise then sees the acknowledges and the bytes read.
#pragma once

#include <stdint.h>

#include <vector>

#include "line/lines.h"

struct TraceEvent {
    double ms;      // on the wrapped port's clock
    int8_t kind;    // TRACE_DTR, TRACE_RTS or TRACE_STATUS
    int8_t done;    // the port took the switch or answered the sample
    int32_t value;  // the level switched, or the status word read
};
enum { TRACE_DTR, TRACE_RTS, TRACE_STATUS };

// The recorder's state: the port it passes requests to, and the record. The
// caller owns it for the job; the wrapped port stays its opener's.
struct TraceRecorder {
    LinePort inner;
    std::vector<TraceEvent> events;
};

// A port that records every request and passes it on to inner.
LinePort TraceRecord(TraceRecorder* recorder, const LinePort& inner);

// The record as a value change dump (microseconds, ASCII, a newline at the
// end); what is written to a file.
std::vector<char> TraceDump(const TraceRecorder& recorder);
// Writes it to path; false when the file cannot be written whole.
bool TraceSave(const TraceRecorder& recorder, const char* path);
