// Intel HEX files for EEPROM images: data records (00), the end (01), and
// extended segment (02) and linear (04) addresses; start addresses (03, 05)
// are read and ignored. Every record's checksum is checked.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// An image read from a file: the bytes the records give, by offset.
struct HexImage {
    std::vector<uint8_t> data;  // size: the highest offset given, plus one
    std::vector<bool> given;    // which offsets a record gave
};

// Reads the file's text into image; a record reaching at or past limit (the
// chip's size) is refused, and so is a byte two records give different values
// (the same value twice is fine). False with the reason in error (German, naming
// the line).
bool HexParse(const std::string& text, int32_t limit, HexImage* image, std::string* error);
// count bytes as records of 16 at offset on, with the addresses the records
// need and the end record; CR LF line ends, as the format's tools expect.
std::string HexFormat(const uint8_t* data, int32_t count, int32_t offset);
