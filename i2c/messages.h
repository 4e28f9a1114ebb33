// Messages on the I2C bus: START, the address with the direction bit, the
// bytes, STOP. The master acknowledges every byte it reads except the last
// of a message.
#pragma once

#include <stdint.h>

#include "i2c/bits.h"

// One message of a transfer: count bytes written to or read from a 7-bit
// address. A write of no bytes is an address-only write.
struct I2cMessage {
    int address;
    bool read;
    uint8_t* data;  // read into, or written from
    int count;
};

// The messages in order, joined by repeated STARTs (no STOP between), one STOP
// at the end unless a line call failed. A message refused (its address, or a
// byte written) ends the transfer there. The master's onByte is told after
// every data byte; *done (may be nullptr) counts the messages completed.
I2cStatus I2cMessages(I2cMaster* master, const I2cMessage* messages, int count, int* done);

// Writes outCount bytes to the address, then, after a repeated START, reads
// inCount bytes; either part may be empty. With both empty it is an
// address-only write.
I2cStatus I2cTransfer(I2cMaster* master, int address, const uint8_t* out, int outCount, uint8_t* in,
                      int inCount);
