// coupler-i2c's commands on the bus, and what is decided before the port.
#pragma once

#include "i2c/bits.h"
#include "i2ctool/options.h"

// The part of a command that needs no port: loading the file to write, and
// without --write saying what would be written. The exit code, or -1 when
// the command goes on to the bus.
int RunOffline(I2cOptions& options);
// The command on the bus the master has begun; the exit code.
int RunOnBus(I2cMaster* master, const I2cOptions& options);
// The one line for a status that ends the command; its exit code.
int Fail(const I2cMaster* master, I2cStatus status, const I2cOptions& options);
