// Bits and conditions on the I2C bus: START, repeated START, STOP, a byte
// written with the slave's acknowledge, a byte read with the master's, and
// freeing a bus that a slave holds. SDA changes only while SCL is low, except
// in START and STOP. No clock stretching can be seen (SCL is not read back):
// a slave that holds SCL low is not waited for.
#pragma once

#include <stdint.h>

enum I2cStatus {
    I2C_OK = 0,
    I2C_NACK,            // the address was not acknowledged
    I2C_NACK_DATA,       // a byte after the address was not acknowledged
    I2C_BLOCKED,         // SDA stays low: nine clocks did not free it, or it is low after a STOP
    I2C_SDA_STUCK_HIGH,  // DSR does not follow DTR to low: the master cannot drive SDA
    I2C_LINE_FAILED      // a line call failed or the job was stopped
};

// Starts a job on the open port: lines idle, echo time measured, a held bus
// freed. The caller keeps the port.
I2cStatus BitsBegin(int32_t port);
// Ends the job: a STOP if a transfer is open, SDA and SCL left high. Safe to
// call twice and after a failure.
void BitsEnd();
// Times the bus had to be freed in this job.
int BitsFreed();

// START from an idle bus (a held one is freed first), or a repeated START
// inside a transfer.
I2cStatus BitsStart();
// STOP; SDA must read high after it.
I2cStatus BitsStop();
// Eight bits, most significant first, and the acknowledge bit.
I2cStatus BitsWrite(uint8_t byte);
// Eight bits, then an acknowledge (ack) or none (the last byte of a read).
I2cStatus BitsRead(uint8_t* byte, bool ack);
// With SDA released, clocks SCL up to nine times until SDA reads high, then
// a START and a STOP reset every slave; I2C_OK when SDA then reads high.
I2cStatus BitsClear();
