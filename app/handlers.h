// The tester's handlers: port discovery and open/close, signal switching and
// read-back. Each takes no arguments and returns 0, which nobody reads.
#pragma once

#include <stdint.h>

int32_t DiscoverPorts();
int32_t TogglePort();

int32_t ToggleSda();
int32_t ReadSda();
int32_t ToggleScl();
int32_t ReadInt();
