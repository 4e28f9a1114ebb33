// eeprom write: the whole chip into a new backup file, the file's bytes in
// page writes, and every page they touch read back and compared.
#include <vector>

#include "console/job.h"
#include "console/output.h"
#include "i2c/eeprom.h"
#include "i2ctool/job.h"

int EepromWriteCommand(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    const EepromType& type = *options.type;
    const I2cImage& image = job->image;
    I2cBackup& backup = job->backup;
    const char* name = backup.name.c_str();
    // The verify reads every page the write touches: a page write wraps within
    // the chip's page, so bytes outside the file's range can change too.
    int count = image.end - image.first;
    int from = image.first / type.page * type.page, to = (image.end - 1) / type.page * type.page + type.page;
    I2cWork work = Sum(Sum(EepromReadWork(type, 0, type.size), EepromWriteWork(type, image.first, count, options.page)),
                       EepromReadWork(type, from, to - from));
    Plan(job, "Byte", work.bytesRead + work.bytesWritten, work, true);
    std::vector<uint8_t> old(static_cast<size_t>(type.size)), back(static_cast<size_t>(type.size));
    JsonEeprom(out, options, image.first, count);
    JsonKey(out, "page"), JsonInt(out, options.page);
    I2cStatus status = EepromReadRange(&job->master, type, options.address, 0, old.data(), type.size);
    if (status != I2C_OK)
        return Fail(job, status, options.address);
    // Nothing is written unless the old content is safe in its file; the
    // default name moves on past one another run took meanwhile.
    FileSaved saved = SaveFile(name, IsHex(name), old.data(), type.size, 0);
    while (saved == FILE_EXISTS && !options.backup && backup.tried < 99) {
        backup.name = DefaultBackup(options.address, backup.stamp.c_str(), ++backup.tried);
        name = backup.name.c_str();
        saved = SaveFile(name, IsHex(name), old.data(), type.size, 0);
    }
    if (saved == FILE_EXISTS)
        SayBackupExists(name);
    if (saved != FILE_SAVED)
        return EXIT_CANNOT_RUN;
    JsonKey(out, "backup"), JsonString(out, name);
    Say(SAY_NOTE, "Alter Inhalt von 0x%02x in %s gesichert", options.address, name);
    int written = 0;
    status = EepromWriteRange(&job->master, type, options.address, image.first, image.data.data() + image.first, count,
                              options.page, &written);
    if (status == I2C_OK)
        status = EepromReadRange(&job->master, type, options.address, from, back.data() + from, to - from);
    if (status != I2C_OK)
        return FailWriting(job, status, written, name, out);
    Compare c = Compared(image, back.data(), old.data(), from, to);
    // Bytes that a write-protected chip acknowledged and kept none of are not written.
    JsonKey(out, "written"), JsonInt(out, c.differ && !c.changed ? 0 : count);
    JsonCompare(out, c, from, to);
    if (c.differ && !c.changed) {
        // Every byte acknowledged and none changed: how other makers' parts
        // answer a write with WP tied high.
        JobErrorCode("write_protected");
        Say(SAY_ERROR, "Baustein 0x%02x: Schreibschutz: Daten angenommen, Inhalt unverändert (%d %s %s ab,"
            " geprüft 0x%02x bis 0x%02x); der alte Inhalt steht in %s", options.address, c.differ, Bytes(c.differ),
            c.differ == 1 ? "weicht" : "weichen", from, to - 1, name);
        return EXIT_REFUSED;
    }
    if (c.differ) {
        Say(SAY_ERROR, "Vergleich: %d %s %s ab (geprüft 0x%02x bis 0x%02x), das erste bei 0x%02x%s;"
            " der alte Inhalt steht in %s", c.differ, Bytes(c.differ), c.differ == 1 ? "weicht" : "weichen", from,
            to - 1, c.first,
            c.outside ? " (außerhalb der Datei geändert: Seite des Bausteins kleiner?)" : "", name);
        return EXIT_REFUSED;
    }
    Say(SAY_NORMAL, "%d %s ab 0x%02x in 0x%02x (%s) geschrieben und verglichen", count, Bytes(count), image.first,
        options.address, type.name);
    return EXIT_DONE;
}
