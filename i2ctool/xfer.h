// The message list of `xfer`, in the grammar the kernel's I2C tools use:
//
//   w3@50 0x00 0x10 0x20 r8      write 3 bytes to 0x50, then read 8 from it
//
// A message is r (read) or w (write), its length, and @ADDRESS where the
// address changes (the first message must name one; hexadecimal, 0x
// optional, as the scan table prints it). A write's bytes follow it, decimal
// or 0x; a byte may end in = (the rest of the message repeats it), + or -
// (the rest counts up or down from it, wrapping at 0xFF), and then stands
// for all the bytes still missing.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct XferMessage {
    int address;
    bool read;
    std::vector<uint8_t> bytes;  // the bytes to write, or room for the bytes read
};

// Parses the words after `xfer`; false with the reason in error (German).
bool XferParse(const char* const* words, int count, std::vector<XferMessage>* messages, std::string* error);
// Whether any message writes data (and so needs --write): a write of one
// byte followed by a read of the same chip only sets its register pointer.
bool XferWrites(const std::vector<XferMessage>& messages);
