// eeprom read: the chip from --offset on, --count bytes or to its end, into a new file.
#include <string.h>

#include <vector>

#include "console/output.h"
#include "i2c/eeprom.h"
#include "i2ctool/job.h"

int EepromReadCommand(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    const EepromType& type = *options.type;
    int count = options.count > 0 ? options.count : type.size - options.offset;
    std::vector<uint8_t> data(static_cast<size_t>(count));
    Plan(job, "Byte", count, EepromReadWork(type, options.offset, count), true);
    I2cStatus status = EepromReadRange(&job->master, type, options.address, options.offset, data.data(), count);
    if (status != I2C_OK)
        return Fail(job, status, options.address);
    // Checked before the port; one made meanwhile is still not replaced.
    FileSaved saved = SaveFile(options.file, options.hex, data.data(), count, options.offset);
    if (saved == FILE_EXISTS)
        Say(SAY_ERROR, "coupler-i2c: Datei %s ist inzwischen entstanden: sie wird nicht überschrieben", options.file);
    if (saved != FILE_SAVED)
        return EXIT_CANNOT_RUN;
    JsonEeprom(out, options, options.offset, count);
    JsonKey(out, "file"), JsonString(out, options.file);
    // Standard output holds the image itself: the line goes with the notes.
    Say(strcmp(options.file, "-") ? SAY_NORMAL : SAY_NOTE, "%d %s von 0x%02x (%s) ab 0x%02x in %s gelesen", count,
        Bytes(count), options.address, type.name, options.offset, options.file);
    return EXIT_DONE;
}
