// The check's bus step (--expect): after the wiring steps, the chips behind
// the coupler, found by a scan of 0x08 to 0x77 with the I2C master.
#pragma once

#include <stdint.h>

#include "console/check_steps.h"
#include "i2c/bits.h"

// Reads addresses such as "50,20,48" (hexadecimal, 0x optional, 0x08 to
// 0x77) into expected; false when one is not such an address.
bool ParseAddresses(const char* text, bool expected[128]);
// Scans the bus with the I2C master on the check's engine; the step passes
// when exactly the expected addresses answer. Leaves the bus idle, DTR and RTS
// on. A failed line call leaves the result unfinished: LinesLost tells.
void CheckBus(Lines* lines, const bool expected[128], StepResult* result);
// A bus that could not be used (held, SDA not following DTR, DSR never on,
// the adapter too slow or unsteady): the outcome failed, the name for the
// verdict and what the lines showed with what to look at.
void BusStatusWords(I2cStatus status, const Lines* lines, StepResult* result);
