// coupler-i2c's commands on the bus, and what is decided before the port.
#pragma once

#include "console/json.h"
#include "i2c/bits.h"
#include "i2ctool/options.h"

// The part of a command that needs no port: loading the file to write or
// compare, and without --write saying what would be written. The exit code,
// or -1 when the command goes on to the bus.
int RunOffline(I2cOptions& options);
// The command on the bus the master has begun; the exit code. Its results
// are members of the open JSON object out too.
int RunOnBus(I2cMaster* master, const I2cOptions& options, Json* out);
// The one line for a status that ends the command; its exit code.
int Fail(const I2cMaster* master, I2cStatus status, const I2cOptions& options);
