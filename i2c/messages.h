// Messages on the I2C bus: START, the address with the direction bit, the
// bytes, STOP. The master acknowledges every byte it reads except the last.
#pragma once

#include <stdint.h>

#include "i2c/bits.h"

// Writes outCount bytes to the 7-bit address, then, after a repeated START
// (no STOP between), reads inCount bytes; either part may be empty. With both
// empty it is an address-only write. Ends with a STOP unless a line call
// failed; the master's onByte is told after every data byte.
I2cStatus I2cTransfer(I2cMaster* master, int address, const uint8_t* out, int outCount, uint8_t* in,
                      int inCount);
