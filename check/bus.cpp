#include "check/bus.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "check/lines.h"
#include "i2c/chips.h"

namespace {

// The step's name: what differs, for the step line and the verdict; written
// by CheckBus, kept for the process.
char difference[100];

// The addresses set in which, as "20 48 50", or "keine".
void List(const bool which[128], char (&text)[120])
{
    int length = 0;
    for (int address = 0x08; address <= 0x77; address++)
        if (which[address])
            length += snprintf(text + length, sizeof text - length, "%s%02x", length ? " " : "", address);
    if (!length)
        snprintf(text, sizeof text, "keine");
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

void CheckBus(int32_t port, const bool expected[128], StepResult* result)
{
    *result = {"Bus", "Bausteine", STEP_OK, "", ""};
    List(expected, result->expected);
    bool found[128] = {};
    I2cStatus status = BitsBegin(port);
    if (status == I2C_OK)
        status = Scan(0x08, 0x77, found, nullptr);
    BitsEnd();
    if (status == I2C_LINE_FAILED) {
        // The check's own lines then see the port lost (or the stop) too.
        Sample(SDA_IN);
        return;
    }
    if (status != I2C_OK) {
        result->outcome = STEP_FAILED;
        result->name = "blockiert";
        snprintf(result->read, sizeof result->read, "SDA bleibt auf Masse");
        return;
    }
    List(found, result->read);
    int length = 0;
    for (int address = 0x08; address <= 0x77; address++)
        if (found[address] != expected[address])
            length += snprintf(difference + length, sizeof difference - length, "%s%02x %s",
                               length ? ", " : "", address, found[address] ? "zu viel" : "fehlt");
    if (length) {
        result->outcome = STEP_FAILED;
        result->name = difference;
    }
}
