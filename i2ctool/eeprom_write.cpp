// eeprom write: the whole chip into a new backup file; from that content the
// pages where the file differs, written in page writes and read back and
// compared; pages that already hold the file's bytes are left alone.
#include <algorithm>
#include <vector>

#include "console/job.h"
#include "console/output.h"
#include "i2c/eeprom.h"
#include "i2ctool/duration.h"
#include "i2ctool/job.h"

namespace {

// The pages of pageSize a range touches.
int PagesOf(const EepromRange& range, int pageSize)
{
    return range.count > 0 ? (range.offset + range.count - 1) / pageSize - range.offset / pageSize + 1 : 0;
}

// What the verify reads of a range written: every page it touches, whole: a
// page write wraps within the chip's page, so bytes outside the file's range
// can change too.
EepromRange Verified(const EepromRange& range, int pageSize)
{
    int from = range.offset / pageSize * pageSize;
    return {from, PagesOf(range, pageSize) * pageSize};
}

}  // namespace

int EepromWriteCommand(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    const EepromType& type = *options.type;
    const I2cImage& image = job->image;
    I2cBackup& backup = job->backup;
    const char* name = backup.name.c_str();
    int count = image.end - image.first;
    // The page the write takes: as asked where the type allows it.
    int page = options.page >= 1 && options.page <= type.page && !(options.page & (options.page - 1)) ? options.page
                                                                                                     : type.page;
    I2cWork read = EepromReadWork(type, 0, type.size);
    EepromRange whole = {image.first, count};
    I2cWork worst = Sum(EepromWriteWork(type, image.first, count, page), EepromReadWork(type, Verified(whole, page).offset,
                                                                                        Verified(whole, page).count));
    Plan(job, "Sicherung", read.bytesRead + read.bytesWritten, read, true, worst);
    std::vector<uint8_t> old(static_cast<size_t>(type.size)), back(static_cast<size_t>(type.size));
    JsonEeprom(out, options, image.first, count);
    JsonKey(out, "page"), JsonInt(out, options.page);
    I2cStatus status = EepromReadRange(&job->master, type, options.address, 0, old.data(), type.size);
    if (status != I2C_OK)
        return Fail(job, status, options.address, "; beim Sichern, noch nichts geschrieben");
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

    // The backup's read is the base: only pages that differ from it are written.
    int pages = 0, toWrite = 0, pagesWritten = 0, written = 0;
    std::vector<EepromRange> ranges =
        EepromRangesDiffering(type, image.first, count, page, image.data.data(), old.data(), &pages);
    I2cWork writing = {0, 0, 0, 0, 0}, verifying = {0, 0, 0, 0, 0};
    for (const EepromRange& range : ranges) {
        toWrite += PagesOf(range, page);
        writing = Sum(writing, EepromWriteWork(type, range.offset, range.count, page));
        verifying = Sum(verifying, EepromReadWork(type, Verified(range, page).offset, Verified(range, page).count));
    }
    JsonKey(out, "pages_skipped"), JsonInt(out, pages - toWrite);
    if (ranges.empty()) {
        JsonKey(out, "written"), JsonInt(out, 0);
        JsonKey(out, "pages_written"), JsonInt(out, 0);
        Say(SAY_NORMAL, "%d %s ab 0x%02x in 0x%02x (%s) stimmen schon mit %s überein: nichts geschrieben (%d %s)",
            count, Bytes(count), image.first, options.address, type.name, options.file, pages,
            pages == 1 ? "Seite" : "Seiten");
        return EXIT_DONE;
    }
    double ms = I2cWorkMs(&job->lines, Sum(writing, verifying));
    if (ms > 2000)
        Say(SAY_NOTE, "%d von %d Seiten weichen ab: Schreiben und Prüfen dauern etwa %s", toWrite, pages,
            DurationWords(ms).c_str());
    Phase(job, "Schreiben", writing.bytesRead + writing.bytesWritten, writing, verifying);
    // written: how far from the file's start it stands on the chip, equal
    // pages skipped included.
    for (const EepromRange& range : ranges) {
        int done = 0;
        status = EepromWriteRange(&job->master, type, options.address, range.offset,
                                  image.data.data() + range.offset, range.count, page, &done);
        written = range.offset - image.first + done;
        pagesWritten += PagesOf({range.offset, done}, page);
        if (status != I2C_OK)
            return FailWriting(job, status, written, pagesWritten, toWrite, name, out);
    }
    written = count;
    Phase(job, "Prüfen", verifying.bytesRead + verifying.bytesWritten, verifying);
    Compare c;
    int from = type.size, to = 0;
    for (const EepromRange& range : ranges) {
        EepromRange checked = Verified(range, page);
        status = EepromReadRange(&job->master, type, options.address, checked.offset, back.data() + checked.offset,
                                 checked.count);
        if (status != I2C_OK)
            return FailWriting(job, status, written, pagesWritten, toWrite, name, out);
        Compare part = Compared(image, back.data(), old.data(), checked.offset, checked.offset + checked.count);
        c.first = c.differ ? c.first : part.first;
        c.differ += part.differ, c.changed = c.changed || part.changed, c.outside = c.outside || part.outside;
        from = std::min(from, checked.offset), to = std::max(to, checked.offset + checked.count);
    }
    // Bytes that a write-protected chip acknowledged and kept none of are not written.
    JsonKey(out, "written"), JsonInt(out, c.differ && !c.changed ? 0 : count);
    JsonKey(out, "pages_written"), JsonInt(out, pagesWritten);
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
    Say(SAY_NORMAL, "%d %s ab 0x%02x in 0x%02x (%s) stehen richtig: %d von %d Seiten geschrieben und geprüft,"
        " %d %s schon", count, Bytes(count), image.first, options.address, type.name, toWrite, pages, pages - toWrite,
        pages - toWrite == 1 ? "stimmte" : "stimmten");
    return EXIT_DONE;
}
