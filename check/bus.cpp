#include "check/bus.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "i2c/chips.h"

namespace {

// The step's name: what differs, for the step line and the verdict; written
// by CheckBus, kept for the process (the result points into it).
std::string difference;

// The addresses set in which, as "20 48 50", or "keine".
void List(const bool which[128], char (&text)[120])
{
    std::string list;
    for (int address = 0x08; address <= 0x77; address++)
        if (which[address]) {
            char name[4];
            snprintf(name, sizeof name, "%02x", address);
            list += (list.empty() ? "" : " ") + std::string(name);
        }
    snprintf(text, sizeof text, "%s", list.empty() ? "keine" : list.c_str());
}

// What the lines showed when the bus could not be scanned.
const char* Words(I2cStatus status)
{
    switch (status) {
    case I2C_SDA_STUCK_HIGH:
        return "SDA folgt DTR nicht (DSR bleibt an)";
    case I2C_DSR_NEVER_HIGH:
        return "DSR nie an (Versorgung, DSR-Leitung)";
    case I2C_ADAPTER_TOO_SLOW:
        return "Adapter meldet DSR zu spät";
    default:
        return "SDA bleibt auf Masse";
    }
}

}  // namespace

bool ParseAddresses(const char* text, bool expected[128])
{
    memset(expected, 0, 128);
    for (const char* at = text;; at++) {
        char* end = nullptr;
        long address = strtol(at, &end, 16);
        if (end == at || address < 0x08 || address > 0x77 || (*end && *end != ','))
            return false;
        expected[address] = true;
        if (!*(at = end))
            return true;
    }
}

void CheckBus(Lines* lines, const bool expected[128], StepResult* result)
{
    *result = {"Bus", "Bausteine", STEP_OK, "", ""};
    List(expected, result->expected);
    bool found[128] = {};
    I2cMaster master;
    I2cStatus status = BitsBegin(&master, lines);
    if (status == I2C_OK)
        status = Scan(&master, 0x08, 0x77, found, nullptr);
    BitsEnd(&master);
    // A failed line call is sticky: the check sees the port lost (or the stop).
    if (status == I2C_LINE_FAILED)
        return;
    if (status != I2C_OK) {
        result->outcome = STEP_FAILED;
        result->name = status == I2C_BLOCKED ? "blockiert" : "Leitungen";
        snprintf(result->read, sizeof result->read, "%s", Words(status));
        return;
    }
    List(found, result->read);
    difference.clear();
    for (int address = 0x08; address <= 0x77; address++)
        if (found[address] != expected[address]) {
            char item[20];
            snprintf(item, sizeof item, "%02x %s", address, found[address] ? "zu viel" : "fehlt");
            difference += (difference.empty() ? "" : ", ") + std::string(item);
        }
    if (!difference.empty()) {
        result->outcome = STEP_FAILED;
        result->name = difference.c_str();
    }
}
