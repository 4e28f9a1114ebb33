// An FT232R in synchronous bit-bang mode in front of the bus model, at the
// library's calls (FtdiApi in line/ftdi_lines.h), so that the FTDI line port
// runs on it unchanged. Test support for the suites and the native bench, on
// the bus port's simulated clock (tools/virtual-coupler/bus_port.h).
//
// The model's assumptions, the chip's as documented for the FT232R:
// - Every byte written sets the output pins and holds them one pin period;
//   for every byte the chip first reads all eight pins: the readings are one
//   byte behind the output.
// - The pin period is 1 / (16 x baud), the baud rate being 3 MHz / divisor
//   (whole divisors only here).
// - Buffers: 256 bytes transmit (host to pins), 128 bytes receive (readings
//   to the host). A write that would leave more than 128 readings unread is
//   refused here (a real chip would stop its clock; the port never asks it).
// - A write and the read of its readings take one USB round trip
//   (roundTripMs, 1 ms: the host's frame) plus the pins' time; a last packet
//   shorter than 62 readings (64 bytes less the two status bytes) waits for
//   the latency timer, which costs more than the round trip only when the
//   timer is set above it (16 ms out of the box).
// - The coupler passes DSR and CTS to the pins couplerDelayMs after the bus
//   (its optocouplers and the transceiver).
#pragma once

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "line/ftdi_lines.h"
#include "tools/virtual-coupler/bus_port.h"

struct Ft232rModel {
    static constexpr int32_t TRANSMIT_BUFFER = 256, RECEIVE_BUFFER = 128, PACKET_READINGS = 62;
    BusPort bus;
    double roundTripMs = 1, couplerDelayMs = 0.002;
    bool present = true, bitModeWorks = true;  // false: the chip is not there; its mode cannot be set
    bool opened = false;
    uint8_t mode = 0, mask = 0, latencyMs = 16, pins = 0;
    int32_t divisor = 312;  // 9600 baud
    std::vector<uint8_t> unread;
    int64_t writes = 0, reads = 0, bytes = 0, refused = 0;
    double pinMs = 0;  // time the pins ran, of all the time
    std::string opener;

    explicit Ft232rModel(uint32_t chips = BUS_CHIPS_ALL) : bus(chips) { bus.costMs = 0; }

    double StepMs() const { return 1000.0 * divisor / (3000000.0 * 16); }
    // The input pins as the chip reads them at ms: the bus couplerDelayMs before, the outputs as written.
    uint8_t Read(double ms) const
    {
        double at = ms - couplerDelayMs;
        auto after = std::upper_bound(bus.history.begin() + 1, bus.history.end(), at,
                                      [](double t, const auto& seen) { return t < seen.first; });
        int32_t status = (after - 1)->second;
        uint8_t read = static_cast<uint8_t>(pins & mask);
        for (const FtdiPin& pin : FTDI_PINS)
            if (!pin.output && ((status & pin.line) != 0) != pin.inverted)
                read = static_cast<uint8_t>(read | 1u << pin.bit);
        return read;
    }
    // The pins take a byte: DTR and RTS on the bus where their pins are outputs.
    void Apply(uint8_t byte)
    {
        pins = byte;
        for (const FtdiPin& pin : FTDI_PINS)
            if (pin.output && pin.line >= 0 && (mask >> pin.bit & 1)) {
                int on = ((byte >> pin.bit) & 1) != pin.inverted;
                if (bus.line[pin.line] != on)
                    BusPort::Set(&bus, static_cast<LineOutput>(pin.line), on);
            }
    }

    FtdiApi Api() { return {this, Open, SetBitMode, SetBaudRate, SetLatency, Write, ReadBack, Close, Now, WaitUntil}; }

    static Ft232rModel* Of(void* data) { return static_cast<Ft232rModel*>(data); }
    static bool Open(void* data, const char* which)
    {
        Ft232rModel* chip = Of(data);
        chip->opener = which ? which : "";
        chip->opened = chip->present && !chip->opened;
        return chip->opened;
    }
    static bool SetBitMode(void* data, uint8_t mask, uint8_t mode)
    {
        Ft232rModel* chip = Of(data);
        if (!chip->opened || !chip->bitModeWorks)
            return false;
        chip->mode = mode, chip->mask = mask;
        chip->unread.clear();
        return true;
    }
    static bool SetBaudRate(void* data, int32_t baud)
    {
        Ft232rModel* chip = Of(data);
        if (!chip->opened || baud <= 0)
            return false;
        chip->divisor = std::max<int32_t>(1, static_cast<int32_t>(3000000.0 / baud + 0.5));
        return true;
    }
    static bool SetLatency(void* data, uint8_t ms)
    {
        Ft232rModel* chip = Of(data);
        chip->latencyMs = ms;
        return chip->opened && ms >= 1;
    }
    static int32_t Write(void* data, const uint8_t* bytes, int32_t count)
    {
        Ft232rModel* chip = Of(data);
        if (!chip->opened || chip->mode != FTDI_SYNC_BITBANG || count > TRANSMIT_BUFFER ||
            static_cast<int32_t>(chip->unread.size()) + count > RECEIVE_BUFFER) {
            chip->refused++;
            return -1;
        }
        chip->writes++;
        chip->bytes += count;
        for (int32_t i = 0; i < count; i++) {
            chip->unread.push_back(chip->Read(chip->bus.nowMs));
            chip->Apply(bytes[i]);
            chip->bus.nowMs += chip->StepMs();
            chip->pinMs += chip->StepMs();
        }
        return count;
    }
    static int32_t ReadBack(void* data, uint8_t* bytes, int32_t count)
    {
        Ft232rModel* chip = Of(data);
        if (!chip->opened || count > static_cast<int32_t>(chip->unread.size()))
            return -1;
        chip->reads++;
        bool shortPacket = count % PACKET_READINGS != 0;
        chip->bus.nowMs += chip->roundTripMs + (shortPacket ? std::max(0.0, chip->latencyMs - chip->roundTripMs) : 0);
        std::copy(chip->unread.begin(), chip->unread.begin() + count, bytes);
        chip->unread.erase(chip->unread.begin(), chip->unread.begin() + count);
        return count;
    }
    static void Close(void* data) { Of(data)->opened = false; }
    static double Now(void* data) { return Of(data)->bus.nowMs; }
    static void WaitUntil(void* data, double ms) { Of(data)->bus.Wait(ms); }
};
