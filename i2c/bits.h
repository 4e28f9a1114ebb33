// The I2C master on the coupler's lines, and its lowest layer: START,
// repeated START, STOP, a byte written with the slave's acknowledge, a byte
// read with the master's, and freeing a bus that a slave holds. SDA changes
// only while SCL is low, except in START and STOP. No clock stretching can be
// seen (SCL is not read back): a slave that holds SCL low is not waited for.
//
// The master is an object: its bus state lives in an I2cMaster that every
// function of the layers above (messages.h, chips.h) takes, on a line engine
// (line/lines.h) that the caller owns. Nothing is kept between jobs.
#pragma once

#include <stdint.h>

#include "line/batch.h"
#include "line/lines.h"

// In rising weight: of two outcomes the heavier is told.
enum I2cStatus {
    I2C_OK = 0,
    I2C_NACK,              // the address was not acknowledged
    I2C_NACK_DATA,         // a byte after the address was not acknowledged
    I2C_BLOCKED,           // SDA stays low: low after a STOP, or nine clocks did not free it
    I2C_SDA_STUCK_HIGH,    // DSR does not follow DTR to low: the master cannot drive SDA
    I2C_DSR_NEVER_HIGH,    // DSR was never on: no supply, DSR not wired, or SDA held throughout
    I2C_ADAPTER_TOO_SLOW,  // the adapter reports DSR later than ECHO_LIMIT_MS
    I2C_ADAPTER_UNSTEADY,  // an acknowledge read twice disagreed: DSR came later than measured
    I2C_LINE_FAILED        // a line call failed or the job was stopped
};

constexpr double ECHO_REFRESH_MS = 60000;

struct I2cMaster {
    Lines* lines;               // the caller's engine, open on the port
    bool inTransfer;            // a START was made and no STOP since: SCL is low between bits
    bool idleSeen;              // SDA read high after the last STOP and nothing switched since
    int freed;                  // bus clears in this job
    void (*onByte)(void* context);  // told after every data byte; nullptr: nobody
    void* context;
    // Where the port runs batches: each transfer planned up to the answer
    // that decides what comes next (bytes read are filled in when it has run).
    LinePlan plan;
};

// Starts a job on the engine: lines idle, echo time measured, a held bus
// freed. The master is set up from scratch. A START from an idle bus
// measures the echo again once ECHO_REFRESH_MS have passed since the last
// measurement: an adapter's delay may grow during a long job.
I2cStatus BitsBegin(I2cMaster* master, Lines* lines);
// Ends the job: a STOP if a transfer may be open, SDA and SCL left high with
// the standard-mode gaps. Safe to call twice and after a failure.
void BitsEnd(I2cMaster* master);

// START from an idle bus (a held one is freed first), or a repeated START
// inside a transfer.
I2cStatus BitsStart(I2cMaster* master);
// STOP; SDA must read high after it.
I2cStatus BitsStop(I2cMaster* master);
// Eight bits, most significant first, and the acknowledge bit. An address
// byte's acknowledge (confirm) is read a second time, twice the echo after
// SDA was released: a chip holds it as long as SCL is high, so a second
// reading that differs means the first was older than the echo bound said.
I2cStatus BitsWrite(I2cMaster* master, uint8_t byte, bool confirm = false);
// Eight bits, then an acknowledge (ack) or none (the last byte of a read).
I2cStatus BitsRead(I2cMaster* master, uint8_t* byte, bool ack);
// With SDA released, clocks SCL up to nine times until SDA reads high, then
// a START and a STOP reset every slave; I2C_OK when SDA then reads high.
I2cStatus BitsClear(I2cMaster* master);
