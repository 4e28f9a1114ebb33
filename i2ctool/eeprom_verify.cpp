// eeprom verify: the bytes the file gives, compared with the chip's.
#include <vector>

#include "console/output.h"
#include "i2c/eeprom.h"
#include "i2ctool/job.h"

int EepromVerifyCommand(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    const EepromType& type = *options.type;
    const I2cImage& image = job->image;
    int count = image.end - image.first;
    std::vector<uint8_t> chip(static_cast<size_t>(type.size));
    Plan(job, "Byte", count, EepromReadWork(type, image.first, count), true);
    I2cStatus status =
        EepromReadRange(&job->master, type, options.address, image.first, chip.data() + image.first, count);
    if (status != I2C_OK)
        return Fail(job, status, options.address);
    Compare c = Compared(image, chip.data(), nullptr, image.first, image.end);
    JsonEeprom(out, options, image.first, count);
    JsonKey(out, "file"), JsonString(out, options.file);
    JsonCompare(out, c, image.first, image.end);
    if (c.differ) {
        // The verify's result: on standard output, as its success is.
        Say(SAY_FAILED, "Vergleich: %d %s %s ab (geprüft 0x%02x bis 0x%02x), das erste bei 0x%02x", c.differ,
            Bytes(c.differ), c.differ == 1 ? "weicht" : "weichen", image.first, image.end - 1, c.first);
        return EXIT_REFUSED;
    }
    Say(SAY_NORMAL, "%d %s ab 0x%02x in 0x%02x (%s) %s mit %s überein", count, Bytes(count), image.first,
        options.address, type.name, count == 1 ? "stimmt" : "stimmen", options.file);
    return EXIT_DONE;
}
