// get and set: a byte or word of a chip, at a register or without one.
#include "console/output.h"
#include "i2c/messages.h"
#include "i2ctool/job.h"

int GetSetCommand(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    uint8_t sent[4], in[2] = {};
    int count = 0;
    if (options.reg >= 0 && options.reg16)
        sent[count++] = static_cast<uint8_t>(options.reg >> 8);
    if (options.reg >= 0)
        sent[count++] = static_cast<uint8_t>(options.reg);
    bool set = options.command == COMMAND_SET;
    if (set && options.word)
        sent[count++] = static_cast<uint8_t>(options.value >> 8);
    if (set)
        sent[count++] = static_cast<uint8_t>(options.value);
    I2cStatus status = I2cTransfer(&job->master, options.address, sent, count, in, set ? 0 : options.word ? 2 : 1);
    int value = set ? options.value : options.word ? in[0] << 8 | in[1] : in[0];
    // The same keys when the chip did not answer: the value then null.
    JsonGetSet(out, &options, status == I2C_OK ? value : -1);
    if (status != I2C_OK)
        return Fail(job, status, options.address);
    int digits = options.word ? 4 : 2;
    if (set && options.reg >= 0)
        Say(SAY_NORMAL, "0x%0*x in Register 0x%02x von 0x%02x geschrieben", digits, options.value, options.reg,
            options.address);
    else if (set)
        Say(SAY_NORMAL, "0x%0*x an 0x%02x geschrieben", digits, options.value, options.address);
    else
        Say(SAY_ALWAYS, options.word ? "0x%04x" : "0x%02x", value);
    return EXIT_DONE;
}

void JsonGetSet(Json* out, const I2cOptions* options, int value)
{
    JsonKey(out, "address"), options ? JsonInt(out, options->address) : JsonNull(out);
    JsonKey(out, "register"), options && options->reg >= 0 ? JsonInt(out, options->reg) : JsonNull(out);
    JsonKey(out, "bits"), options ? JsonInt(out, options->word ? 16 : 8) : JsonNull(out);
    JsonKey(out, "value"), value >= 0 ? JsonInt(out, value) : JsonNull(out);
}
