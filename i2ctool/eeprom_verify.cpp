// eeprom verify: the bytes the file gives, compared with the chip's.
#include <vector>

#include "console/output.h"
#include "i2c/eeprom.h"
#include "i2ctool/job.h"

namespace {

// Differences listed one a line; the rest are counted.
constexpr int LISTED = 16;

}  // namespace

int EepromVerifyCommand(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    const EepromType& type = *options.type;
    const I2cImage& image = job->image;
    int count = image.end - image.first;
    std::vector<uint8_t> chip(static_cast<size_t>(type.size));
    I2cWork work = EepromReadWork(type, image.first, count);
    Plan(job, "Lesen", work.bytesRead + work.bytesWritten, work, true);
    I2cStatus status =
        EepromReadRange(&job->master, type, options.address, image.first, chip.data() + image.first, count);
    if (status != I2C_OK)
        return Fail(job, status, options.address);
    Compare c = Compared(image, chip.data(), nullptr, image.first, image.end);
    JsonEeprom(out, options, image.first, count);
    JsonKey(out, "file"), JsonString(out, options.file);
    JsonCompare(out, c, image.first, image.end);
    if (c.differ) {
        // The verify's result: on standard output, as its success is; the
        // first differences as a technician compares dumps, in the chip's
        // address width.
        int digits = type.size > 256 ? 4 : 2, listed = 0;
        JsonKey(out, "differences"), JsonArray(out);
        for (int i = image.first; i < image.end && listed < LISTED; i++) {
            uint8_t wanted = image.data[static_cast<size_t>(i)];
            if (!image.given[static_cast<size_t>(i)] || chip[static_cast<size_t>(i)] == wanted)
                continue;
            // In a JSON run the object lists them, apart from its error.
            if (!options.job.json)
                Say(SAY_FAILED, "0x%0*x: Datei %02x, Baustein %02x", digits, i, wanted, chip[static_cast<size_t>(i)]);
            JsonObject(out), JsonKey(out, "address"), JsonInt(out, i), JsonKey(out, "file"), JsonInt(out, wanted);
            JsonKey(out, "chip"), JsonInt(out, chip[static_cast<size_t>(i)]), JsonEnd(out);
            listed++;
        }
        JsonEnd(out);
        if (c.differ > listed && !options.job.json)
            Say(SAY_FAILED, "und %d weitere", c.differ - listed);
        Say(SAY_FAILED, "Vergleich: %d %s %s ab (geprüft 0x%02x bis 0x%02x), das erste bei 0x%02x", c.differ,
            Bytes(c.differ), c.differ == 1 ? "weicht" : "weichen", image.first, image.end - 1, c.first);
        return EXIT_REFUSED;
    }
    Say(SAY_NORMAL, "%d %s ab 0x%02x in 0x%02x (%s) %s mit %s überein", count, Bytes(count), image.first,
        options.address, type.name, count == 1 ? "stimmt" : "stimmen", options.file);
    return EXIT_DONE;
}
