// The I2C master's cost in line requests (each one a USB transfer of about a
// millisecond on common adapters) against the fewest the protocol needs, on
// the virtual bus with all three chips on COM3. The virtual coupler counts the
// requests. Per operation in-process through the master library; the whole
// scan and the full 24C02 read as whole coupler-i2c.exe processes.
//
//   bench_i2c.exe
#include <stdio.h>

#include <string>

#include "i2c/bits.h"
#include "i2c/chips.h"
#include "i2c/messages.h"
#include "line/serial_lines.h"
#include "serial/serial.h"
#include "tests/support/coupler_client.h"
#include "tools/bench/bench_support.h"

namespace {

constexpr int COM = 3;
constexpr double TARGET_RATIO = 1.1;

// SDA switches for bits sent with SDA at level before them and released after.
int Changes(int level, unsigned byte)
{
    int changes = 0;
    for (int bit = 7; bit >= -1; bit--) {
        int next = bit >= 0 ? (byte >> bit) & 1 : 1;
        changes += next != level;
        level = next;
    }
    return changes;
}

// The fewest requests of a probe: START (SDA, SCL), eight bits (two SCL
// switches each, SDA where it changes, from low after the START), the
// acknowledge (SDA released, SCL, sample, SCL), STOP (SDA, SCL, SDA) and its
// read-back, which is the next START's idle check; a read probe answered
// reads a byte (three requests a bit) and does not acknowledge it (two).
int ProbeFloor(int address, bool answered)
{
    bool read = ProbeReads(address);
    return 2 + 16 + Changes(0, static_cast<unsigned>(address << 1 | read)) + 3 + 4 +
           (read && answered ? 26 : 0);
}

// A byte written in a page: eight bits and the acknowledge, SDA released
// before and after.
int WriteByteFloor(unsigned byte) { return 16 + 3 + Changes(1, byte); }

// A byte read in a sequential read: SDA released, three requests a bit, the
// acknowledge (SDA low, SCL, SCL).
constexpr int READ_BYTE_FLOOR = 28;

void Row(const char* what, double requests, double floor, double ms)
{
    printf("  %-44s %9.1f %9.1f %6.3f %10.1f ms%s\n", what, requests, floor, requests / floor, ms,
           requests / floor <= TARGET_RATIO ? "" : "  (over 1.1)");
}

// The in-process figures: the master library on the port.
bool Operations(int* scanFloor, double* requestMs)
{
    int32_t port = SerialOpen("com3:9600,n,8,1", 0, 0, 0);
    if (port < 0)
        return false;
    SerialLines serial;
    static Lines lines;
    LinesOpen(&lines, SerialLinesOpen(&serial, port));
    I2cMaster master;
    if (BitsBegin(&master, &lines) != I2C_OK) {
        BitsEnd(&master);
        SerialLinesClose(&serial);
        SerialClose(port);
        return false;
    }
    bool found[128] = {};
    int64_t before = CouplerLineRequests(COM);
    LONGLONG start = bench::Now();
    bool ok = Scan(&master, 0x08, 0x77, found, nullptr) == I2C_OK;
    double ms = bench::Seconds(bench::Now() - start) * 1000;
    int64_t scan = CouplerLineRequests(COM) - before;
    *scanFloor = 0;
    for (int address = 0x08; address <= 0x77; address++)
        *scanFloor += ProbeFloor(address, found[address]);
    Row("probe, average of 0x08-0x77", scan / 112.0, *scanFloor / 112.0, ms / 112);
    // The same scan at 1 ms per request, without the process around it, and
    // what one bare request takes then (the model's sleep and the way there).
    ok = ok && CouplerSetAdapter(COM, 0, 1);
    start = bench::Now();
    for (int i = 0; i < 500; i++)
        SerialModemStatus(port);
    *requestMs = bench::Seconds(bench::Now() - start) * 1000 / 500;
    before = CouplerLineRequests(COM);
    start = bench::Now();
    ok = ok && Scan(&master, 0x08, 0x77, found, nullptr) == I2C_OK;
    ms = bench::Seconds(bench::Now() - start) * 1000;
    scan = CouplerLineRequests(COM) - before;
    ok = ok && CouplerSetAdapter(COM, 0, 0);
    Row("whole scan, in-process, 1 ms per request", scan, *scanFloor, ms);
    printf("  %-44s %.3f (time / (requests x 1 ms)); one bare request takes %.3f ms: %.3f\n", "", ms / scan,
           *requestMs, ms / (scan * *requestMs));

    // The marginal byte: 256 bytes against one, and 8 written against one.
    uint8_t data[256], word = 0;
    int64_t counts[2];
    double times[2];
    for (int i = 0; i < 2; i++) {
        before = CouplerLineRequests(COM);
        start = bench::Now();
        ok = ok && I2cTransfer(&master, 0x50, &word, 1, data, i ? 256 : 1) == I2C_OK;
        times[i] = bench::Seconds(bench::Now() - start) * 1000;
        counts[i] = CouplerLineRequests(COM) - before;
    }
    Row("sequential-read byte (24C02, 256 against 1)", (counts[1] - counts[0]) / 255.0, READ_BYTE_FLOOR,
        (times[1] - times[0]) / 255);
    const uint8_t page[9] = {0x10, 0x00, 0x55, 0xAA, 0xFF, 0x12, 0x34, 0x56, 0x78};
    int floor = 0;
    for (int i = 2; i < 9; i++)
        floor += WriteByteFloor(page[i]);
    for (int i = 0; i < 2; i++) {
        Sleep(20);  // the previous write cycle is over
        before = CouplerLineRequests(COM);
        start = bench::Now();
        ok = ok && I2cTransfer(&master, 0x50, page, i ? 9 : 2, nullptr, 0) == I2C_OK;
        times[i] = bench::Seconds(bench::Now() - start) * 1000;
        counts[i] = CouplerLineRequests(COM) - before;
    }
    Row("page-write byte (a page of 8 against 1)", (counts[1] - counts[0]) / 7.0, floor / 7.0,
        (times[1] - times[0]) / 7);
    BitsEnd(&master);
    SerialLinesClose(&serial);
    SerialClose(port);
    return ok;
}

// A whole process: requests against the floor, time.
bool Process(const char* what, const std::string& arguments, int costMs, double requestMs, double floor,
             double limitMs)
{
    if (!CouplerSetAdapter(COM, 0, costMs))
        return false;
    int64_t before = CouplerLineRequests(COM);
    DWORD code;
    double ms = bench::RunQuiet(CT_I2C_EXE, arguments, &code);
    double requests = static_cast<double>(CouplerLineRequests(COM) - before);
    Row(what, requests, floor, ms);
    if (costMs)
        printf("  %-44s %.3f (time / (requests x %d ms)); against a bare request: %.3f\n", "",
               ms / (requests * costMs), costMs, ms / (requests * requestMs));
    if (code != 0 || ms > limitMs)
        printf("  ^ exit code %lu, limit %.0f ms\n", code, limitMs);
    return code == 0;
}

}  // namespace

int main()
{
    if (!CouplerAttach() || !CouplerReset() || !CouplerPortPresent(COM, true) ||
        !CouplerSetChips(COM, CHIP_EEPROM | CHIP_EXPANDER | CHIP_SENSOR)) {
        printf("i2c: needs the virtual coupler (scripts/bench i2c)\n");
        return 2;
    }
    printf("i2c: line requests against the protocol's floor, virtual bus on COM3 with 0x20, 0x48 and 0x50\n"
           "  %-44s %9s %9s %6s %13s\n",
           "", "requests", "floor", "ratio", "time");
    int scanFloor = 0;
    double requestMs = 1;
    bool ok = Operations(&scanFloor, &requestMs);
    // The full read's floor: the random read's set-up (START, 0x50 write,
    // word address 0, repeated START, 0x50 read), 256 bytes (the first with
    // SDA already released, the last not acknowledged) and the STOP.
    int readFloor = 2 + 16 + Changes(0, 0xA0) + 3 + WriteByteFloor(0) + 3 + 16 + Changes(0, 0xA1) + 3 +
                    256 * READ_BYTE_FLOOR - 2 + 4;
    ok = ok && Process("whole scan, process, no adapter delay", "COM3 scan --quiet", 0, 0, scanFloor, 500);
    ok = ok &&
         Process("whole scan, process, 1 ms per request", "COM3 scan --quiet", 1, requestMs, scanFloor, 1e9);
    ok = ok && Process("full 24C02 read, process, 1 ms per request", "COM3 eeprom read NUL --quiet", 1,
                       requestMs, readFloor, 10000);
    CouplerSetAdapter(COM, 0, 0);
    return ok ? 0 : 1;
}
