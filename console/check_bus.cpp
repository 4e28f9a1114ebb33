#include "console/check_bus.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "i2c/chips.h"

namespace {

// Differences named one by one; the rest are counted, so that the step line
// and the verdict stay within a console line of the output (1000 characters).
constexpr int NAMED_DIFFERENCES = 20;

// The step's name: what differs, for the step line and the verdict; written
// by CheckBus, kept for the process (the result points into it).
std::string difference;

// The addresses set in which, as "20 48 50", or "keine".
std::string List(const bool which[128])
{
    std::string list;
    for (int address = 0x08; address <= 0x77; address++)
        if (which[address]) {
            char name[4];
            snprintf(name, sizeof name, "%02x", address);
            list += (list.empty() ? "" : " ") + std::string(name);
        }
    return list.empty() ? "keine" : list;
}

}  // namespace

// A bus that could not be scanned: the step's name for the verdict, and what
// the lines showed with what to look at, for the step line.
void BusStatusWords(I2cStatus status, const Lines* lines, StepResult* result)
{
    result->outcome = STEP_FAILED;
    switch (status) {
    case I2C_BLOCKED:
        result->name = "blockiert";
        result->read = "SDA bleibt auf Masse: Pull-up und Bausteine prüfen";
        return;
    case I2C_SDA_STUCK_HIGH:
        result->name = "SDA folgt DTR nicht";
        result->read = "DSR bleibt an: SDA-Treiber des Kopplers prüfen";
        return;
    case I2C_DSR_NEVER_HIGH:
        result->name = "DSR nie an";
        result->read = "DSR nie an: Versorgung des Kopplers und DSR-Leitung prüfen";
        return;
    case I2C_ADAPTER_TOO_SLOW:
        result->name = "Adapter zu langsam";
        result->read = StepText("DSR erst nach %.0f ms (höchstens %.0f ms): anderen Adapter nehmen",
                                lines->longestEchoMs, ECHO_LIMIT_MS);
        return;
    case I2C_ADAPTER_UNSTEADY:
        result->name = "Adapter unzuverlässig";
        result->read = "DSR später als gemessen (Quittung zweimal gelesen, verschieden): anderen Adapter nehmen";
        return;
    case I2C_OK:
    case I2C_NACK:
    case I2C_NACK_DATA:
    case I2C_LINE_FAILED:
        break;
    }
    // A scan ends with none of these; should one come, it is told as it is.
    result->name = "nicht abgefragt";
    result->read = StepText("Abfrage endete mit Zustand %d", static_cast<int>(status));
}

bool ParseAddresses(const char* text, bool expected[128])
{
    memset(expected, 0, 128);
    for (const char* at = text;; at++) {
        char* end = nullptr;
        int64_t address = strtoll(at, &end, 16);
        if (end == at || address < 0x08 || address > 0x77 || (*end && *end != ','))
            return false;
        expected[address] = true;
        if (!*(at = end))
            return true;
    }
}

void CheckBus(Lines* lines, const bool expected[128], StepResult* result)
{
    *result = {"Bus", "Bausteine", STEP_OK, List(expected), ""};
    bool found[128] = {};
    I2cMaster master;
    I2cStatus status = BitsBegin(&master, lines);
    if (status == I2C_OK)
        status = Scan(&master, 0x08, 0x77, found, nullptr);
    BitsEnd(&master);
    // A failed line call is sticky: the check sees the port lost (or the
    // stop), and what the scan found until then counts for nothing.
    if (status == I2C_LINE_FAILED || LinesFailed(lines))
        return;
    if (status != I2C_OK) {
        BusStatusWords(status, lines, result);
        return;
    }
    result->read = List(found);
    difference.clear();
    int differing = 0;
    for (int address = 0x08; address <= 0x77; address++)
        if (found[address] != expected[address] && ++differing <= NAMED_DIFFERENCES) {
            char item[20];
            snprintf(item, sizeof item, "%02x %s", address, found[address] ? "zu viel" : "fehlt");
            difference += (difference.empty() ? "" : ", ") + std::string(item);
        }
    if (differing > NAMED_DIFFERENCES)
        difference += StepText(" und %d weitere", differing - NAMED_DIFFERENCES);
    if (differing) {
        result->outcome = STEP_FAILED;
        result->name = difference.c_str();
    }
}
