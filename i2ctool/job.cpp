// The job's course: what is decided before the port (the image loaded, the
// files checked, nothing written without --write), then the port opened, the
// engine and master begun, the command run, and all released.
#include "i2ctool/job.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>

#include "console/output.h"
#include "console/port.h"
#include "console/stop.h"
#include "i2c/eeprom.h"
#include "i2c/hexfile.h"

namespace {

// Loads the image of eeprom write or verify: raw bytes from --offset on, or
// Intel HEX whose records carry their offsets (a write takes one run of
// bytes without gaps, a verify any). EXIT_DONE, else the exit code after
// saying why.
int LoadImage(const I2cOptions& options, I2cImage* loaded)
{
    const EepromType& type = *options.type;
    int room = type.size - options.offset;
    loaded->data.assign(static_cast<size_t>(type.size), 0);
    loaded->given.assign(static_cast<size_t>(type.size), false);
    std::string text, why;
    // One byte past the room (raw) or past a megabyte (HEX) tells a file too long.
    size_t limit = options.hex ? (1u << 20) : static_cast<size_t>(room) + 1;
    bool read = false;
    if (!strcmp(options.file, "-")) {
        read = FileReadInput(&text, limit);
    } else if (FILE* file = fopen(options.file, "rb")) {
        for (int c; text.size() < limit && (c = fgetc(file)) != EOF;)
            text += static_cast<char>(c);
        read = !ferror(file);
        fclose(file);
    }
    if (!read) {
        Say(SAY_ERROR, "coupler-i2c: Datei %s lässt sich nicht lesen", options.file);
        return EXIT_CANNOT_RUN;
    }
    if (!options.hex) {
        if (text.empty() || static_cast<int>(text.size()) > room) {
            Say(SAY_ERROR, "coupler-i2c: Datei %s: 1 bis %d Bytes erwartet (%s ab 0x%02x)", options.file, room,
                type.name, options.offset);
            return EXIT_CANNOT_RUN;
        }
        memcpy(loaded->data.data() + options.offset, text.data(), text.size());
        loaded->first = options.offset;
        loaded->end = options.offset + static_cast<int>(text.size());
        std::fill(loaded->given.begin() + loaded->first, loaded->given.begin() + loaded->end, true);
        return EXIT_DONE;
    }
    HexImage image;
    if (!HexParse(text, type.size, &image, &why)) {
        Say(SAY_ERROR, "coupler-i2c: Datei %s: %s", options.file, why.c_str());
        return EXIT_CANNOT_RUN;
    }
    auto first = std::find(image.given.begin(), image.given.end(), true);
    bool whole = first != image.given.end() && std::find(first, image.given.end(), false) == image.given.end();
    const char* refused = first == image.given.end() ? "die Datei gibt keine Daten"
                          : options.offset           ? "die Datensätze tragen ihre Adressen, --offset passt nicht dazu"
                          : !whole && options.command == COMMAND_EEPROM_WRITE
                              ? "die Datensätze müssen einen Bereich ohne Lücke füllen"
                              : nullptr;
    if (refused) {
        Say(SAY_ERROR, "coupler-i2c: Datei %s: %s", options.file, refused);
        return EXIT_CANNOT_RUN;
    }
    loaded->first = static_cast<int>(first - image.given.begin());
    loaded->end = static_cast<int>(image.given.size());
    std::copy(image.data.begin(), image.data.end(), loaded->data.begin());
    std::copy(image.given.begin(), image.given.end(), loaded->given.begin());
    return EXIT_DONE;
}

// Every file the job writes, checked before the port opens, so that a chip
// is never read for a file that cannot take it: the destination of eeprom
// read and the backup are new files in a folder that takes them, and the
// trace is none of the job's other files. Names the default backup.
// EXIT_DONE, else the exit code after saying why.
int CheckFiles(const I2cOptions& options, I2cBackup* backup)
{
    std::string why;
    const char* made = nullptr;  // the new file the job writes
    if (options.command == COMMAND_EEPROM_READ && strcmp(options.file, "-")) {
        made = options.file;
    } else if (options.command == COMMAND_EEPROM_WRITE && options.backup) {
        backup->name = options.backup;
        made = options.backup;
    } else if (options.command == COMMAND_EEPROM_WRITE) {
        time_t now = time(nullptr);
        char stamp[20];
        strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", localtime(&now));
        backup->stamp = stamp;
        backup->name = DefaultBackup(options.address, stamp, backup->tried = 0);
        while (FileExists(backup->name.c_str()) && backup->tried < 99)
            backup->name = DefaultBackup(options.address, stamp, ++backup->tried);
        made = backup->name.c_str();
    }
    // Refused before the port: a run after a failed write would otherwise
    // replace the good backup with what that write left.
    if (made && made == options.backup && FileExists(made)) {
        SayBackupExists(made);
        return EXIT_CANNOT_RUN;
    }
    if (made && made == options.file && FileExists(made)) {
        Say(SAY_ERROR, "coupler-i2c: Datei %s gibt es schon: sie wird nie überschrieben, einen neuen Namen angeben", made);
        return EXIT_CANNOT_RUN;
    }
    if (made && !FileWritable(made, true, &why)) {
        Say(SAY_ERROR, "coupler-i2c: %s %s: %s", made == options.file ? "Datei" : "Sicherungsdatei", made, why.c_str());
        return EXIT_CANNOT_RUN;
    }
    const char* trace = options.job.trace;
    const char* other = !trace ? nullptr
                        : made && FileSame(trace, made) ? made
                        : options.file && FileSame(trace, options.file) ? options.file
                                                                        : nullptr;
    if (other) {
        Say(SAY_ERROR, "coupler-i2c: --trace %s ist dieselbe Datei wie %s: die Spur braucht eine eigene", trace, other);
        return EXIT_CANNOT_RUN;
    }
    return EXIT_DONE;
}

// The command on the begun master; the exit code.
int RunOnBus(I2cJob* job, Json* out)
{
    int code = EXIT_CANNOT_RUN;
    switch (job->options.command) {
    case COMMAND_SCAN:
        code = ScanCommand(job, out);
        break;
    case COMMAND_GET:
    case COMMAND_SET:
        code = GetSetCommand(job, out);
        break;
    case COMMAND_DUMP:
        code = DumpCommand(job, out);
        break;
    case COMMAND_EEPROM_READ:
        code = EepromReadCommand(job, out);
        break;
    case COMMAND_EEPROM_WRITE:
        code = EepromWriteCommand(job, out);
        break;
    case COMMAND_EEPROM_VERIFY:
        code = EepromVerifyCommand(job, out);
        break;
    case COMMAND_INT:
        code = IntCommand(job, out);
        break;
    case COMMAND_XFER:
        code = XferCommand(job, out);
        break;
    case COMMAND_NONE:
        break;
    }
    job->master.onByte = nullptr;
    return code < 0 ? Fail(job, I2C_LINE_FAILED, job->options.address) : code;
}

}  // namespace

void JsonNotRun(Json* out, I2cCommand command, const I2cOptions* options)
{
    if (command == COMMAND_GET || command == COMMAND_SET)
        JsonGetSet(out, options, -1);
}

int RunOffline(I2cJob* job)
{
    const I2cOptions& options = job->options;
    const I2cImage& image = job->image;
    bool loads = options.command == COMMAND_EEPROM_WRITE || options.command == COMMAND_EEPROM_VERIFY;
    // Every refusal before the port is about a file.
    if (int code = loads ? LoadImage(options, &job->image) : 0)
        return JobErrorCode("file"), code;
    if (int code = CheckFiles(options, &job->backup))
        return JobErrorCode("file"), code;
    if (options.command == COMMAND_XFER && !options.write && XferWrites(options.messages)) {
        int bytes = 0;
        for (const XferMessage& message : options.messages)
            bytes += message.read ? 0 : static_cast<int>(message.bytes.size());
        int count = static_cast<int>(options.messages.size());
        Say(SAY_ERROR, "Ohne --write wird nichts geschrieben: %d %s in %d %s", bytes, Bytes(bytes), count,
            count == 1 ? "Nachricht" : "Nachrichten");
        JobErrorCode("needs_write");
        return EXIT_CANNOT_RUN;
    }
    if (options.write || (options.command != COMMAND_SET && options.command != COMMAND_EEPROM_WRITE))
        return -1;
    int digits = options.word ? 4 : 2;
    if (options.command == COMMAND_SET && options.reg >= 0)
        Say(SAY_ERROR, "Ohne --write wird nichts geschrieben: 0x%0*x in Register 0x%02x von 0x%02x", digits,
            options.value, options.reg, options.address);
    else if (options.command == COMMAND_SET)
        Say(SAY_ERROR, "Ohne --write wird nichts geschrieben: 0x%0*x an 0x%02x", digits, options.value,
            options.address);
    else
        Say(SAY_ERROR,
            "Ohne --write wird nichts geschrieben: %d %s aus %s ab 0x%02x in 0x%02x, Seiten zu %d Bytes,"
            " vorher der alte Inhalt in eine Sicherungsdatei",
            image.end - image.first, Bytes(image.end - image.first), options.file, image.first, options.address, options.page);
    JobErrorCode("needs_write");
    return EXIT_CANNOT_RUN;
}

int RunOnPort(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    Lines* lines = &job->lines;
    char text[300];
    // The master owns both lines: no handshake.
    PortError error;
    ConsolePort* port = PortOpen(options.port, 9600, 0, &error);
    if (!port) {
        // Where the platform does not tell the cause for sure, none is guessed.
        Say(SAY_ERROR, "coupler-i2c: %s %s", options.port.c_str(),
            error.certain ? error.words.c_str() : "lässt sich nicht öffnen");
        JobErrorCode(error.certain ? error.code : "port_failed");
        JsonNotRun(out, options.command, &options);
        JobJsonAdapter(out, nullptr, -1);
        return EXIT_CANNOT_RUN;
    }
    // The open succeeds even when the port refused part of its settings; a
    // handshake left on would keep SCL from following RTS without a word.
    int32_t mismatch = PortMismatch(port);
    if (mismatch != 0) {
        if (mismatch > 0)
            RefusedSettings(mismatch, text, sizeof text);
        Say(SAY_ERROR, "coupler-i2c: %s: %s", options.port.c_str(), mismatch > 0 ? text : "Schnittstelle verloren");
        JobErrorCode(mismatch > 0 ? "port_settings" : "adapter_gone");
        JsonNotRun(out, options.command, &options);
        JobJsonAdapter(out, nullptr, -1);
        PortClose(&port);
        return EXIT_CANNOT_RUN;
    }
    StopStart(lines);
    Job run;
    LinesOpen(lines, JobStart(&run, options.job, port, "coupler-i2c"));
    I2cStatus status = BitsBegin(&job->master, lines);
    // The adapter as the echo measurement saw it, also when it was too slow.
    bool measured = status == I2C_OK || status == I2C_ADAPTER_TOO_SLOW;
    if (measured)
        JobAdapter(options.job, port, lines, lines->longestEchoMs);
    if (job->master.freed && status == I2C_OK)
        Say(SAY_NOTE, "SDA lag auf Masse: Bus mit Takten und STOP freigemacht");
    if (status != I2C_OK)
        JsonNotRun(out, options.command, &options);
    int code = status == I2C_OK ? RunOnBus(job, out) : Fail(job, status, options.address);
    JobJsonAdapter(out, lines, measured ? lines->longestEchoMs : -1);
    BitsEnd(&job->master);
    if (!JobEnd(&run, options.job, "coupler-i2c") && code == 0)
        code = EXIT_CANNOT_RUN;
    PortClose(&port);
    StopEnd();
    return code;
}
