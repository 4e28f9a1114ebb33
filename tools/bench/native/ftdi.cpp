// The FTDI path beside the serial one, on the same bus model (part of
// bench_scan_native): a whole scan, a 24C02 and a 24C256 read whole, each
// through a serial port at 1 ms a request and through an FT232R's model in
// synchronous bit-bang mode (tools/virtual-coupler/ft232r_model.h: a USB round
// trip of 1 ms, the latency timer at 1 ms, the pin period the port chose), in
// modelled time, with the bus's decoded transfers of both compared.
#include <stdio.h>

#include <string>
#include <vector>

#include "i2c/chips.h"
#include "i2c/eeprom.h"
#include "line/ftdi_lines.h"
#include "tools/virtual-coupler/ft232r_model.h"

namespace {

constexpr double REQUEST_MS = 1;
constexpr double GOAL_24C256_MS = 30000, GOAL_24C02_MS = 1000;

struct Outcome {
    bool ok = false;
    double ms = 0;
    int64_t requests = 0, roundTrips = 0, bytes = 0;
    double pinMs = 0;
    std::string log;
};

// job: 0 the scan, else the EEPROM type read whole.
bool Job(I2cMaster* master, const EepromType* type)
{
    if (!type) {
        bool found[128] = {};
        return Scan(master, 0x08, 0x77, found, nullptr) == I2C_OK && found[0x20] && found[0x48] && found[0x50];
    }
    std::vector<uint8_t> data(static_cast<size_t>(type->size));
    if (EepromReadRange(master, *type, 0x50, 0, data.data(), type->size) != I2C_OK)
        return false;
    for (int i = 0; i < type->size; i++)
        if (data[static_cast<size_t>(i)] != static_cast<uint8_t>(i * 13 + 7))
            return false;
    return true;
}

void Fill(CouplerBus* bus, const EepromType* type)
{
    if (!type)
        return;
    BusSetEepromType(bus, static_cast<uint32_t>(BusEepromTypeNamed(type->name)));
    uint8_t* memory = BusEepromMemory(bus);
    for (int i = 0; i < type->size; i++)
        memory[i] = static_cast<uint8_t>(i * 13 + 7);
}

Outcome Serial(const EepromType* type)
{
    Outcome out;
    BusPort port(type ? BUS_CHIP_EEPROM : BUS_CHIPS_ALL);
    port.costMs = REQUEST_MS;
    Fill(&port.bus, type);
    Lines lines{};
    I2cMaster master{};
    LinesOpen(&lines, port.Port());
    bool begun = BitsBegin(&master, &lines) == I2C_OK;
    double start = port.nowMs;
    int64_t before = port.requests;
    out.ok = begun && Job(&master, type);
    out.ms = port.nowMs - start;
    out.requests = port.requests - before;
    BitsEnd(&master);
    out.log = port.log;
    return out;
}

Outcome Ftdi(const EepromType* type)
{
    Outcome out;
    Ft232rModel chip(type ? BUS_CHIP_EEPROM : BUS_CHIPS_ALL);
    chip.roundTripMs = REQUEST_MS;
    Fill(&chip.bus.bus, type);
    FtdiLines ftdi;
    if (FtdiLinesOpen(&ftdi, chip.Api(), "0") != FTDI_OPENED)
        return out;
    Lines lines{};
    I2cMaster master{};
    LinesOpen(&lines, FtdiLinesPort(&ftdi));
    bool begun = BitsBegin(&master, &lines) == I2C_OK;
    double start = chip.bus.nowMs, pins = chip.pinMs;
    int64_t trips = ftdi.roundTrips, bytes = ftdi.bytes;
    out.ok = begun && Job(&master, type);
    out.ms = chip.bus.nowMs - start;
    out.roundTrips = ftdi.roundTrips - trips;
    out.bytes = ftdi.bytes - bytes;
    out.pinMs = chip.pinMs - pins;
    BitsEnd(&master);
    FtdiLinesClose(&ftdi);
    out.log = chip.bus.log;
    out.ok = out.ok && chip.refused == 0;
    return out;
}

std::string Seconds(double ms)
{
    char text[32];
    snprintf(text, sizeof text, ms < 10000 ? "%.3f s" : "%.1f s", ms / 1000);
    return text;
}

}  // namespace

bool FtdiBench()
{
    Ft232rModel probe;
    FtdiLines ftdi;
    bool opened = FtdiLinesOpen(&ftdi, probe.Api(), "0") == FTDI_OPENED;
    printf("\nFTDI synchronous bit-bang beside the serial port, on the bus model (modelled time):\n"
           "  serial: %.0f ms a request; FTDI (FT232R model): a USB round trip of %.0f ms per write and read of\n"
           "  at most 128 bytes, latency timer 1 ms, pin period %.2f us (%d baud x 16), coupler %.0f us\n",
           REQUEST_MS, REQUEST_MS, ftdi.stepMs * 1000, ftdi.baud, probe.couplerDelayMs * 1000);
    FtdiLinesClose(&ftdi);
    printf("%-28s | %10s %12s | %10s %8s %10s %10s | %6s | %s\n", "", "serial", "requests", "FTDI", "trips", "pin bytes",
           "pin time", "faster", "bus logs");
    const struct {
        const char* what;
        const char* type;
        double goalMs;
    } jobs[] = {{"whole scan 0x08-0x77", nullptr, 0}, {"24C02 read whole", "24C02", GOAL_24C02_MS},
                {"24C256 read whole", "24C256", GOAL_24C256_MS}};
    bool ok = opened;
    std::vector<std::string> goals;
    for (const auto& job : jobs) {
        const EepromType* type = job.type ? EepromTypeNamed(job.type) : nullptr;
        Outcome serial = Serial(type), fast = Ftdi(type);
        bool same = serial.log == fast.log;
        ok = ok && serial.ok && fast.ok && same;
        if (!serial.ok || !fast.ok) {
            printf("%-28s | failed (serial %s, FTDI %s)\n", job.what, serial.ok ? "ok" : "failed", fast.ok ? "ok" : "failed");
            continue;
        }
        printf("%-28s | %10s %12lld | %10s %8lld %10lld %10s | %5.0fx | %s\n", job.what, Seconds(serial.ms).c_str(),
               static_cast<long long>(serial.requests), Seconds(fast.ms).c_str(), static_cast<long long>(fast.roundTrips),
               static_cast<long long>(fast.bytes), Seconds(fast.pinMs).c_str(), serial.ms / fast.ms,
               same ? "identical" : "DIFFER");
        if (job.goalMs > 0)
            goals.push_back(std::string("  ") + job.what + " through FTDI under " + Seconds(job.goalMs) + ": " +
                            (fast.ms < job.goalMs ? "met" : "missed") + " (" + Seconds(fast.ms) + ")");
    }
    printf("goals (figures only):\n");
    for (const std::string& goal : goals)
        printf("%s\n", goal.c_str());
    printf("  bus logs of both paths identical (STARTs, bytes, acknowledges, STOPs): %s\n", ok ? "met" : "missed");
    return ok;
}
