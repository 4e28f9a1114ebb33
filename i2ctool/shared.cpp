// What coupler-i2c's commands share: the words for a status that ends a
// command, the estimate and progress, the files they write, and JSON parts.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "console/job.h"
#include "console/output.h"
#include "console/output_platform.h"
#include "i2ctool/duration.h"
#include "i2c/hexfile.h"
#include "i2ctool/job.h"

namespace {

// A job longer than this says its estimate first.
constexpr double ANNOUNCE_MS = 2000;

// A command's end that is no success: its words, and its exit code.
struct Ending {
    int code;
    char words[300];
    const char* errorCode;  // the same for scripts (JobErrorCode)
};

Ending Reason(const I2cJob* job, I2cStatus status, int address)
{
    const std::string& port = job->options.port;
    Ending ending = {EXIT_CANNOT_RUN, "", nullptr};
    const char* words = "";
    switch (status) {
    case I2C_OK:
        ending.code = EXIT_DONE;
        break;
    case I2C_NACK:
        ending.errorCode = "nack";
        ending.code = EXIT_REFUSED;
        snprintf(ending.words, sizeof ending.words, "Baustein 0x%02x antwortet nicht", address);
        break;
    case I2C_NACK_DATA:
        ending.errorCode = "nack_data";
        ending.code = EXIT_REFUSED;
        snprintf(ending.words, sizeof ending.words, "Baustein 0x%02x nimmt ein Byte nicht an", address);
        break;
    case I2C_BLOCKED:
        ending.errorCode = "bus_blocked";
        words = "Bus blockiert (SDA bleibt auf Masse)";
        break;
    case I2C_SDA_STUCK_HIGH:
        ending.errorCode = "sda_stuck_high";
        words = "SDA folgt DTR nicht (DSR bleibt an)";
        break;
    case I2C_DSR_NEVER_HIGH:
        ending.errorCode = "dsr_never_high";
        words = "DSR war nie an: Versorgung des Kopplers und DSR-Leitung prüfen"
                " (oder ein Baustein hält SDA auf Masse)";
        break;
    case I2C_ADAPTER_TOO_SLOW:
        ending.errorCode = "adapter_too_slow";
        snprintf(ending.words, sizeof ending.words,
                 "%s: der Adapter meldet DSR erst nach %.1f ms (höchstens %.0f ms):"
                 " seine Latenz verringern oder einen anderen Adapter nehmen",
                 port.c_str(), job->lines.longestEchoMs, ECHO_LIMIT_MS);
        break;
    case I2C_ADAPTER_UNSTEADY:
        ending.errorCode = "adapter_unsteady";
        snprintf(ending.words, sizeof ending.words,
                 "%s: der Adapter meldet DSR später als gemessen (Quittung zweimal gelesen, verschieden):"
                 " Ergebnis verworfen; seine Latenz verringern oder einen anderen Adapter nehmen",
                 port.c_str());
        break;
    case I2C_LINE_FAILED:
        ending.errorCode = LinesStopped(&job->lines) ? "stopped" : "adapter_gone";
        if (LinesStopped(&job->lines))
            words = "abgebrochen";
        else
            snprintf(ending.words, sizeof ending.words, "%s: Leitungsaufruf fehlgeschlagen (Adapter entfernt?)",
                     port.c_str());
        break;
    }
    if (*words)
        snprintf(ending.words, sizeof ending.words, "%s", words);
    // A long port name is cut between characters.
    ending.words[TextWhole(ending.words, strlen(ending.words))] = '\0';
    return ending;
}

// The master's byte count: word addresses count as bytes moved too, so the
// count stops at the total.
void ByteDone(void* context) { ProgressStep(static_cast<I2cProgress*>(context)); }

}  // namespace

int Fail(const I2cJob* job, I2cStatus status, int address, const char* after)
{
    Ending ending = Reason(job, status, address);
    if (ending.errorCode)
        JobErrorCode(ending.errorCode);
    // A chip that does not answer is said without the program's name; like
    // every word about the job, on standard error, apart from the results.
    if (ending.code == EXIT_REFUSED)
        Say(SAY_ERROR, "%s%s", ending.words, after);
    else if (ending.code != EXIT_DONE)
        Say(SAY_ERROR, "coupler-i2c: %s%s", ending.words, after);
    return ending.code;
}

int FailWriting(const I2cJob* job, I2cStatus status, int written, int pages, int toWrite, const char* backup,
                Json* out)
{
    int address = job->options.address;
    JsonKey(out, "written"), JsonInt(out, written);
    Ending ending = Reason(job, status, address);
    // A chip that took its address and the word address and refuses the data
    // is write-protected: some makers' parts answer WP so.
    if (status == I2C_NACK_DATA)
        snprintf(ending.words, sizeof ending.words, "Baustein 0x%02x: Schreibschutz: Daten nicht angenommen", address);
    JobErrorCode(status == I2C_NACK_DATA ? "write_protected" : ending.errorCode);
    JsonKey(out, "pages_written"), JsonInt(out, pages);
    Say(SAY_ERROR, "coupler-i2c: %s; %d von %d %s ab 0x%02x stehen auf dem Baustein (%d von %d abweichenden"
        " Seiten geschrieben), der alte Inhalt steht in %s", ending.words, written, job->image.end - job->image.first,
        Bytes(job->image.end - job->image.first), job->image.first, pages, toWrite, backup);
    return ending.code;
}

void ProgressStep(I2cProgress* progress)
{
    progress->moved++;
    progress->done += progress->done < progress->total;
    int percent = progress->total > 0 ? static_cast<int>(int64_t{progress->done} * 100 / progress->total) : 100;
    uint32_t now = OutputTicks();
    // In place on a terminal (output.cpp keeps it to every 100 ms); as lines
    // in a pipe or file, where each stays.
    bool due = progress->plain ? percent / 5 != progress->said / 5 || now - progress->saidTicks >= 10000
                               : percent != progress->said || progress->moved % 64 == 0;
    if (!due)
        return;
    double left = progress->total > 0 ? progress->ms * (progress->total - progress->done) / progress->total : 0;
    Say(progress->plain ? SAY_NOTE : SAY_NOTE_PROGRESS, "%s: %d %%, noch etwa %s", progress->what, percent,
        DurationWords(left + progress->laterMs).c_str());
    progress->said = percent;
    progress->saidTicks = now;
}

void Plan(I2cJob* job, const char* what, int total, const I2cWork& work, bool perByte, const I2cWork& later)
{
    const Lines* lines = &job->lines;
    double ms = I2cWorkMs(lines, work), laterMs = later.transfers ? I2cWorkMs(lines, later) : 0;
    bool announced = ms + laterMs > ANNOUNCE_MS;
    if (announced && laterMs > 0)
        // eeprom write: how many pages differ is known after the backup.
        Say(SAY_NOTE, "Das dauert etwa %s für die Sicherung, dazu höchstens %s, wenn jede Seite abweicht"
            " (%.2f ms je Schalten, %.2f ms je Abfrage, DSR folgt nach %.1f ms)", DurationWords(ms).c_str(),
            DurationWords(laterMs).c_str(), LinesSwitchMs(lines), LinesSampleMs(lines), lines->echoMs);
    else if (announced)
        Say(SAY_NOTE, "Das dauert etwa %s (%.2f ms je Schalten, %.2f ms je Abfrage, DSR folgt nach %.1f ms)",
            DurationWords(ms).c_str(), LinesSwitchMs(lines), LinesSampleMs(lines), lines->echoMs);
    job->progress = I2cProgress();
    job->progress.plain = announced && !OutputIsConsole(STREAM_ERR);
    Phase(job, what, total, work, later);
    job->master.onByte = perByte ? ByteDone : nullptr;
    job->master.context = &job->progress;
}

void Phase(I2cJob* job, const char* what, int total, const I2cWork& work, const I2cWork& later)
{
    I2cProgress& progress = job->progress;
    progress.what = what;
    progress.done = progress.moved = 0;
    progress.total = total;
    progress.ms = I2cWorkMs(&job->lines, work);
    progress.laterMs = later.transfers ? I2cWorkMs(&job->lines, later) : 0;
    progress.said = -100;
}

I2cWork Sum(I2cWork a, const I2cWork& b)
{
    a.transfers += b.transfers, a.bytesRead += b.bytesRead, a.bytesWritten += b.bytesWritten, a.cycles += b.cycles;
    return a;
}

void JsonBytes(Json* out, const char* key, const uint8_t* data, int count)
{
    JsonKey(out, key), JsonArray(out);
    for (int i = 0; i < count; i++)
        JsonInt(out, data[i]);
    JsonEnd(out);
}

void JsonEeprom(Json* out, const I2cOptions& options, int offset, int count)
{
    JsonKey(out, "type"), JsonString(out, options.type->name);
    JsonKey(out, "address"), JsonInt(out, options.address);
    JsonKey(out, "offset"), JsonInt(out, offset);
    JsonKey(out, "count"), JsonInt(out, count);
}

bool IsHex(const char* path)
{
    size_t length = strlen(path);
    std::string end = length >= 4 ? path + length - 4 : "";
    for (char& c : end)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return end == ".hex";
}

std::string DefaultBackup(int address, const char* stamp, int tried)
{
    char name[64];
    snprintf(name, sizeof name, tried ? "eeprom-%02x-%s-%d.bin" : "eeprom-%02x-%s.bin", address, stamp, tried + 1);
    return name;
}

const char* Bytes(int count) { return count == 1 ? "Byte" : "Bytes"; }

void SayBackupExists(const char* path)
{
    JobErrorCode("file");
    Say(SAY_ERROR, "coupler-i2c: Sicherungsdatei %s gibt es schon: sie wird nie überschrieben,"
                   " einen neuen Namen angeben", path);
}

FileSaved SaveFile(const char* path, bool hex, const uint8_t* data, int32_t size, int32_t offset)
{
    std::string text = hex ? HexFormat(data, size, offset) : std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    FileSaved saved = !strcmp(path, "-") ? FileWriteOutput(text.data(), text.size()) ? FILE_SAVED : FILE_NOT_SAVED
                                         : FileSave(path, text.data(), text.size(), true);
    if (saved == FILE_NOT_SAVED)
        Say(SAY_ERROR, "coupler-i2c: Datei %s lässt sich nicht schreiben", path), JobErrorCode("file");
    return saved;
}

Compare Compared(const I2cImage& image, const uint8_t* chip, const uint8_t* old, int from, int to)
{
    Compare c;
    for (int i = to - 1; i >= from; i--) {
        bool given = image.given[static_cast<size_t>(i)];
        if (given && chip[i] != image.data[static_cast<size_t>(i)])
            c.differ++, c.first = i;
        if (old && chip[i] != old[i])
            c.changed = true, c.outside = c.outside || !given;
    }
    return c;
}

void JsonCompare(Json* out, const Compare& c, int from, int to)
{
    JsonKey(out, "checked_from"), JsonInt(out, from);
    JsonKey(out, "checked_to"), JsonInt(out, to - 1);
    JsonKey(out, "differ"), JsonInt(out, c.differ);
    JsonKey(out, "first_difference"), c.first >= 0 ? JsonInt(out, c.first) : JsonNull(out);
    // A write whose bytes changed nothing says write_protected after this.
    if (c.differ)
        JobErrorCode("verify_differs");
}
