// eeprom read: the chip from --offset on, --count bytes or to its end, into a new file.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "console/output.h"
#include "i2c/eeprom.h"
#include "i2ctool/job.h"

namespace {

// A read that ended early keeps what it read whole in a file of its own
// beside the one asked for (not on standard output, whose reader takes the
// image as complete), and says so in the one line of the ending.
int FailReading(I2cJob* job, I2cStatus status, const uint8_t* data, int count)
{
    const I2cOptions& options = job->options;
    // The master tells of a byte also when its read failed: that one is not whole.
    int read = EepromDataMoved(*options.type, options.offset, count, job->progress.moved) - 1;
    if (read <= 0 || !strcmp(options.file, "-"))
        return Fail(job, status, options.address);
    std::string part = std::string(options.file) + ".teil";
    FileSaved saved = SaveFile(part.c_str(), options.hex, data, read, options.offset);
    char words[600];
    snprintf(words, sizeof words, saved == FILE_SAVED ? "; %d von %d Bytes ab 0x%02x in %s"
                                  : saved == FILE_EXISTS ? "; gelesen waren %d von %d Bytes ab 0x%02x, %s gibt es schon"
                                                         : "; gelesen waren %d von %d Bytes ab 0x%02x",
             read, count, options.offset, part.c_str());
    return Fail(job, status, options.address, words);
}

}  // namespace

int EepromReadCommand(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    const EepromType& type = *options.type;
    int count = options.count > 0 ? options.count : type.size - options.offset;
    std::vector<uint8_t> data(static_cast<size_t>(count));
    I2cWork work = EepromReadWork(type, options.offset, count);
    Plan(job, "Lesen", work.bytesRead + work.bytesWritten, work, true);
    I2cStatus status = EepromReadRange(&job->master, type, options.address, options.offset, data.data(), count);
    if (status != I2C_OK)
        return FailReading(job, status, data.data(), count);
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
