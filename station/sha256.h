// The SHA-256 of a plan file's bytes, as 64 lower-case hex digits: the
// record names the plan by it, so that a report keeps versions apart.
#pragma once

#include <stdint.h>

#include <string>

std::string Sha256Hex(const uint8_t* data, size_t size);
