// The I2C master on the bus model in this process (EEPROM 0x50, port 0x20,
// sensor 0x48), through a line port that costs nothing: its line requests per
// operation, as bench_i2c counts them under Wine (the job's echo measurement
// not among them), and the wall time of a whole scan of 0x08-0x77, which is
// the master's and the bus model's own, without an adapter or Wine.
// Run by scripts/bench i2c.
//
//   bench_scan_native [runs]
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "i2c/chips.h"
#include "i2c/messages.h"
#include "tests/host/bus_port.h"

namespace {

// A job on a fresh bus: the port, the engine and the master, the echo measured.
struct Rig {
    BusPort port{BUS_CHIPS_ALL};
    Lines lines{};
    I2cMaster master{};
    bool ready = (LinesOpen(&lines, port.Port()), BitsBegin(&master, &lines) == I2C_OK);
    ~Rig() { BitsEnd(&master); }
};

// The requests of one transfer, or -1 when it failed.
int64_t Requests(Rig& rig, const uint8_t* out, int outCount, int inCount)
{
    uint8_t in[256];
    int64_t before = rig.port.requests;
    bool ok = I2cTransfer(&rig.master, 0x50, out, outCount, in, inCount) == I2C_OK;
    // The next write finds the write cycle over.
    rig.port.Wait(rig.port.nowMs + 20);
    return ok ? rig.port.requests - before : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = std::max(argc > 1 ? atoi(argv[1]) : 200, 1);
    std::vector<double> ms;
    int64_t scan = 0;
    int found = 0;
    for (int run = 0; run < runs; run++) {
        Rig rig;
        bool seen[128] = {};
        int64_t before = rig.port.requests;
        auto start = std::chrono::steady_clock::now();
        if (!rig.ready || Scan(&rig.master, 0x08, 0x77, seen, nullptr) != I2C_OK) {
            printf("i2c native: the scan failed\n");
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        scan = rig.port.requests - before;
        found = static_cast<int>(std::count(seen, seen + 128, true));
    }
    std::sort(ms.begin(), ms.end());
    // The marginal byte, as under Wine: 256 bytes read against 1, a page of 8 written against 1.
    Rig rig;
    const uint8_t word = 0, page[9] = {0x10, 0x00, 0x55, 0xAA, 0xFF, 0x12, 0x34, 0x56, 0x78};
    int64_t read1 = Requests(rig, &word, 1, 1), read256 = Requests(rig, &word, 1, 256);
    int64_t write1 = Requests(rig, page, 2, 0), write8 = Requests(rig, page, 9, 0);
    if (!rig.ready || std::min({read1, read256, write1, write8}) < 0) {
        printf("i2c native: a transfer failed\n");
        return 1;
    }
    printf("i2c native: the master on the bus model in this process, a port that costs nothing\n"
           "  probe, average of 0x08-0x77 %9.1f requests\n"
           "  sequential-read byte        %9.1f requests (24C02, 256 against 1)\n"
           "  page-write byte             %9.1f requests (a page of 8 against 1)\n"
           "  whole scan 0x08-0x77        %9lld requests, %d found; %d runs: median %.3f ms, min %.3f ms, "
           "90th percentile %.3f ms\n",
           scan / 112.0, (read256 - read1) / 255.0, (write8 - write1) / 7.0, static_cast<long long>(scan), found,
           runs, ms[ms.size() / 2], ms.front(), ms[ms.size() * 9 / 10]);
    return 0;
}
