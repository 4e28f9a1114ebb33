// Messages on the I2C bus: START, the address with the direction bit, the
// bytes, STOP. The master acknowledges every byte it reads except the last.
#pragma once

#include <stdint.h>

#include "i2c/bits.h"

// Writes outCount bytes to the 7-bit address, then, after a repeated START,
// reads inCount bytes; either part may be empty. With both empty it is an
// address-only write. Ends with a STOP unless a line call failed.
I2cStatus I2cTransfer(int address, const uint8_t* out, int outCount, uint8_t* in, int inCount);

// Called after every data byte written or read (progress); nullptr: none.
void I2cOnByte(void (*callback)());
