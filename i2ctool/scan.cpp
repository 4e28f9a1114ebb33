// scan: which addresses answer, as a table, with the chip families that use them.
#include <stdio.h>
#include <string.h>

#include "console/output.h"
#include "i2ctool/job.h"

namespace {

// The chip families that use an address, as a guess for the scan.
const struct {
    int first, last;
    const char* families;
} FAMILIES[] = {
    {0x20, 0x27, "Portbaustein (PCF8574, MCP23008, MCP23017)"},
    {0x30, 0x37, "Schreibschutz von SPD-EEPROMs"},
    {0x38, 0x3F, "Portbaustein (PCF8574A)"},
    {0x3C, 0x3D, "Anzeige (SSD1306)"},
    {0x40, 0x40, "Strommesser oder PWM-Baustein (INA219, PCA9685)"},
    {0x48, 0x4F, "Temperaturfühler (LM75) oder A/D-Wandler (PCF8591, ADS1115)"},
    {0x50, 0x57, "EEPROM (24C01 bis 24C512)"},
    {0x51, 0x51, "Uhr (PCF8563)"},
    {0x68, 0x68, "Uhr (DS1307, DS3231) oder Lagesensor (MPU-6050)"},
    {0x76, 0x77, "Luftdrucksensor (BMP280, BME280)"},
};

}  // namespace

int ScanCommand(I2cJob* job, Json* out)
{
    const I2cOptions& options = job->options;
    int count = options.last - options.first + 1;
    Plan(job, "Adresse", count, {count, 0, 0, 0, 0}, false);
    bool found[128] = {};
    // Address by address, each counted before it is probed.
    for (int address = options.first; address <= options.last; address++) {
        ProgressStep(&job->progress);
        I2cStatus status = Scan(&job->master, address, address, found, nullptr);
        if (status != I2C_OK)
            return Fail(job, status, options.address);
    }
    Say(SAY_ALWAYS, "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f");
    for (int row = options.first & 0x70; row <= options.last; row += 16) {
        char line[60];
        int length = snprintf(line, sizeof line, "%02x:", row);
        for (int address = row; address < row + 16; address++)
            length += snprintf(line + length, sizeof line - length,
                               address < options.first || address > options.last ? "   "
                               : found[address]                                  ? " %02x"
                                                                                 : " --",
                               address);
        while (line[length - 1] == ' ')
            line[--length] = 0;
        Say(SAY_ALWAYS, "%s", line);
    }
    int chips = 0;
    JsonKey(out, "first"), JsonInt(out, options.first);
    JsonKey(out, "last"), JsonInt(out, options.last);
    JsonKey(out, "found"), JsonArray(out);
    for (int address = options.first; address <= options.last; address++) {
        if (!found[address])
            continue;
        char families[300] = "";
        for (const auto& f : FAMILIES)
            if (address >= f.first && address <= f.last)
                snprintf(families + strlen(families), sizeof families - strlen(families), "%s%s",
                         *families ? "; " : "", f.families);
        Say(SAY_NORMAL, "0x%02x  %s", address, *families ? families : "unbekannt");
        JsonObject(out);
        JsonKey(out, "address"), JsonInt(out, address);
        JsonKey(out, "guess"), *families ? JsonString(out, families) : JsonNull(out);
        JsonEnd(out);
        chips++;
    }
    JsonEnd(out);
    Say(SAY_NORMAL, "%d Baustein%s gefunden (Bezeichnungen vermutet)", chips, chips == 1 ? "" : "e");
    return EXIT_DONE;
}
