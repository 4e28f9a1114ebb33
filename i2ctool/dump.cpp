// dump: 256 bytes of a chip as hex and text, rows named by their register.
#include <stdio.h>

#include "console/output.h"
#include "i2c/eeprom.h"
#include "i2ctool/job.h"

int DumpCommand(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    constexpr int BYTES = 256;
    uint8_t data[BYTES];
    // A register is written only when given (or for an EEPROM, whose word
    // address is no data): on a port expander that byte would set the outputs.
    int start = options.reg < 0 && EepromAddress(options.address) ? 0 : options.reg;
    const uint8_t word[2] = {static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start)};
    int words = start < 0 ? 0 : options.reg16 ? 2 : 1;
    Plan(job, "Byte", BYTES, {1, BYTES, words, 0, 1}, true);
    I2cStatus status = Polled(&job->master, options.address, word + 2 - words, words, data, BYTES);
    if (status != I2C_OK)
        return Fail(job, status, options.address);
    JsonKey(out, "address"), JsonInt(out, options.address);
    JsonKey(out, "register"), start >= 0 ? JsonInt(out, start) : JsonNull(out);
    JsonBytes(out, "bytes", data, BYTES);
    // Rows named by their register: four digits where registers have two
    // bytes. Without one the read began where the chip's pointer stood, which
    // no one knows: the rows count from there (+00) and a note says so.
    int digits = options.reg16 ? 4 : 2;
    bool fromPointer = start < 0;
    if (fromPointer)
        Say(SAY_NOTE, "dump: ab dem Registerzeiger von 0x%02x gelesen, wo ihn der letzte Zugriff ließ (Zeilen +00"
            " bis +f0); dump %02x 0 liest ab Register 0", options.address, options.address);
    Say(SAY_ALWAYS, "%*s   0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef", digits + fromPointer, "");
    for (int row = 0; row < BYTES; row += 16) {
        char line[100], text[17] = "";
        int length = snprintf(line, sizeof line, fromPointer ? "+%0*x:" : "%0*x:", digits,
                              (row + (start > 0 ? start : 0)) & (options.reg16 ? 0xFFFF : 0xFF));
        for (int i = 0; i < 16; i++) {
            length += snprintf(line + length, sizeof line - length, " %02x", data[row + i]);
            text[i] = data[row + i] >= 0x20 && data[row + i] < 0x7F ? static_cast<char>(data[row + i]) : '.';
        }
        Say(SAY_ALWAYS, "%s    %s", line, text);
    }
    return EXIT_DONE;
}
