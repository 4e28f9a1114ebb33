// The I2C bus behind the virtual coupler, driven through the real line
// interface: a scripted master switches DTR (SDA) and RTS (SCL) and reads
// DSR (SDA on the bus) and CTS (INT) on a virtual port. Expected values come
// from the chips' datasheets and the I2C-bus rules.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "serial/serial.h"
#include "tools/virtual-coupler/coupler_client.h"
#include "tests/support/sigrok.h"
#include "tests/support/driver.h"

namespace {

const int COM = 5;

class Bus : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach() && CouplerReset() && CouplerPortPresent(COM, true)) << "run through scripts/test";
        handle = SerialOpen("com5:9600,n,8,1", 0, 1024, 1024);
        ASSERT_GT(handle, 0);
        ASSERT_TRUE(SerialSetDtr(handle, 1) && SerialSetRts(handle, 1));
        ASSERT_TRUE(CouplerSetChips(COM, CHIP_EEPROM | CHIP_EXPANDER | CHIP_SENSOR));
        CouplerBusLog(COM);
    }
    void TearDown() override
    {
        if (handle > 0)
            SerialClose(handle);
        CouplerReset();
    }
    void Scl(int on) { ASSERT_NE(SerialSetRts(handle, on), 0); }
    void Sda(int on) { ASSERT_NE(SerialSetDtr(handle, on), 0); }
    int Status(int bit)
    {
        int32_t status = SerialModemStatus(handle);
        EXPECT_GE(status, 0) << "modem status failed";
        return (status & bit) != 0;
    }
    int BusSda() { return Status(MS_DSR_ON); }
    // The EEPROM's whole array, as the client reads it ("" when it cannot).
    std::string Array()
    {
        std::string bytes;
        EXPECT_TRUE(CouplerEeprom(COM, &bytes));
        return bytes;
    }
    int IntLow() { return Status(MS_CTS_ON); }
    // One clock with SDA at sda (SCL low on entry and exit); returns SDA as
    // sampled while SCL was high.
    int Clock(int sda)
    {
        Sda(sda);
        Scl(1);
        int level = BusSda();
        Scl(0);
        return level;
    }
    // A byte out (address or data) and whether it was acknowledged; or, for
    // out -1, a byte in, acknowledged when ack.
    int Byte(int out, bool ack = false)
    {
        int in = 0;
        for (int bit = 7; bit >= 0; --bit)
            in = in << 1 | Clock(out < 0 ? 1 : (out >> bit) & 1);
        int acked = !Clock(out < 0 ? !ack : 1);
        return out < 0 ? in : acked;
    }
    // Runs a script of the master: S start (repeated when in a transfer), P
    // stop, two hex digits a byte written, r / n a byte read and ACKed / NACKed,
    // bN N zero bits (a byte cut short), ~N N ms with SCL low. Returns what the
    // master saw, in the format of the bus log.
    std::string Run(const char* script)
    {
        std::istringstream in(script);
        std::string token, seen;
        bool first = false, open = false;
        char text[16];
        while (in >> token) {
            if (token == "S") {
                Sda(1), Scl(1), Sda(0), Scl(0);
                seen += open ? "Sr " : "S ";
                first = open = true;
            } else if (token == "P") {
                Sda(0), Scl(1), Sda(1);
                seen += "P\n";
                open = false;
            } else if (token == "r" || token == "n") {
                int got = Byte(-1, token == "r");
                snprintf(text, sizeof text, "%02X %s ", got, token == "r" ? "A" : "N");
                seen += text;
            } else if (token[0] == 'b') {
                for (int i = atoi(token.c_str() + 1); i > 0; --i)
                    Clock(0);
                seen += "? ";
            } else if (token[0] == '~') {
                Sleep(atoi(token.c_str() + 1));
            } else {
                int value = (int)strtol(token.c_str(), 0, 16);
                int acked = Byte(value);
                if (first)
                    snprintf(text, sizeof text, "%02X %s %s ", value >> 1, value & 1 ? "R" : "W", acked ? "A" : "N");
                else
                    snprintf(text, sizeof text, "%02X %s ", value, acked ? "A" : "N");
                seen += text;
                first = false;
            }
        }
        return seen;
    }
    int32_t handle = -1;
};

using Bytes = std::initializer_list<std::pair<int, int>>;

// An erased EEPROM of size bytes (a 24C02 unless told) with the given bytes at the given addresses.
std::string Memory(Bytes bytes, int size = 256)
{
    std::string memory(size, '\xFF');
    for (const auto& b : bytes)
        memory[b.first] = (char)b.second;
    return memory;
}

// The chips as their datasheets give them, and the bus's faults. The EEPROMs: which addresses they
// answer, how many word-address bytes, the page that a write wraps in, where sequential reads roll
// over, the write cycle after a page write (the poll NACKed), both kinds of write protect, and no
// write without a clean STOP. `content` is there before the script, `written` the bytes that differ
// once the write cycle has ended; `log` the decoded transfers, when they differ from what the master sees.
TEST_F(Bus, ChipsAnswerAsTheirDatasheetsSay)
{
    const struct {
        const char* type;
        int size;
        Bytes content;
        CouplerWriteProtectKind protect;
        const char* script;
        const char* seen;
        Bytes written;
        void (*setup)() = nullptr;  // settings through the client before the script
        const char* log = nullptr;
    } cases[] = {
        // 24C02: random read, repeated START, sequential read wrapping over the array.
        {"24c02", 256, {{0, 0xCD}, {1, 0x01}}, WP_OFF, "S A0 00 S A1 r n P", "S 50 W A 00 A Sr 50 R A CD A 01 N P\n", {}},
        {"24c02", 256, {{0, 0xCD}, {255, 0xAB}}, WP_OFF, "S A0 FF S A1 r r n P S A1 n P",
         "S 50 W A FF A Sr 50 R A AB A CD A FF N P\nS 50 R A FF N P\n", {}},
        // Page write from 06: ten bytes wrap within 00..07; after the write cycle reads show the page (the
        // NACK within the cycle is proven on the bus model's own clock: host-master).
        {"24c02", 256, {}, WP_OFF, "S A0 06 10 11 12 13 14 15 16 17 18 19 P ~8 S A0 00 S A1 r r r r r r r r n P",
         "S 50 W A 06 A 10 A 11 A 12 A 13 A 14 A 15 A 16 A 17 A 18 A 19 A P\n"
         "S 50 W A 00 A Sr 50 R A 12 A 13 A 14 A 15 A 16 A 17 A 18 A 19 A FF N P\n",
         {{0, 0x12}, {1, 0x13}, {2, 0x14}, {3, 0x15}, {4, 0x16}, {5, 0x17}, {6, 0x18}, {7, 0x19}}},
        // No write and no write cycle: quick write, word address alone, a STOP inside a data byte, a
        // repeated START (the data byte has moved the pointer on); write protect acknowledges all.
        {"24c02", 256, {{0, 0x5A}, {1, 0x5B}}, WP_OFF,
         "S A0 P S A0 01 P S A0 P S A0 00 33 b3 P S A0 P S A0 00 33 S A1 r n P",
         "S 50 W A P\nS 50 W A 01 A P\nS 50 W A P\nS 50 W A 00 A 33 A ? P\nS 50 W A P\n"
         "S 50 W A 00 A 33 A Sr 50 R A 5B A FF N P\n", {}},
        {"24c02", 256, {}, WP_ACK, "S A0 00 77 P S A0 00 S A1 n P",
         "S 50 W A 00 A 77 A P\nS 50 W A 00 A Sr 50 R A FF N P\n", {}},
        // The other makers' WP: the word address is taken, the data bytes are not acknowledged.
        {"24c02", 256, {}, WP_REFUSE, "S A0 03 77 P S A1 n P", "S 50 W A 03 A 77 N P\nS 50 R A FF N P\n", {}},
        {"24c02", 256, {{2, 0x2A}}, WP_OFF, "S A0 02 b5 S A1 n P", "S 50 W A 02 A ? Sr 50 R A 2A N P\n", {}},
        // The port: latch 0xFF at power-up, reads the latch AND the inputs.
        {"24c02", 256, {}, WP_OFF, "S 41 n P S 40 F0 P S 41 r n P S 40 P S 41 n P",
         "S 20 R A 3C N P\nS 20 W A F0 A P\nS 20 R A 30 A 30 N P\nS 20 W A P\nS 20 R A 30 N P\n", {},
         [] { CouplerSetExpanderInputs(COM, 0x3C); }},
        // The sensor: 21.5 degC, then -5.5; the pointer persists; limits 75 and 80 degC; a limit written.
        {"24c02", 256, {}, WP_OFF, "S 91 r n P S 90 03 P S 91 r n P S 91 r n P S 90 02 S 91 r n P S 90 01 P S 91 n P",
         "S 48 R A 15 A 80 N P\nS 48 W A 03 A P\nS 48 R A 50 A 00 N P\nS 48 R A 50 A 00 N P\n"
         "S 48 W A 02 A Sr 48 R A 4B A 00 N P\nS 48 W A 01 A P\nS 48 R A 00 N P\n", {}},
        // Configuration bits 5-7 are reserved and read 0.
        {"24c02", 256, {}, WP_OFF, "S 90 01 FF P S 91 n P", "S 48 W A 01 A FF A P\nS 48 R A 1F N P\n", {}},
        {"24c02", 256, {}, WP_OFF, "S 90 02 E7 80 S 91 r n P S 90 00 S 91 r n S 91 r n P",
         "S 48 W A 02 A E7 A 80 A Sr 48 R A E7 A 80 N P\nS 48 W A 00 A Sr 48 R A FA A 80 N Sr 48 R A FA A 80 N P\n", {},
         [] { CouplerSetTemperature(COM, -11); }},
        // Faults: no acknowledge anywhere; no pull-up (SDA never rises, nothing decoded); the time-out
        // drops the chip after 40 ms of SCL low, not after 10 ms.
        {"24c02", 256, {}, WP_OFF, "S A0 P S 41 P S 91 P", "S 50 W N P\nS 20 R N P\nS 48 R N P\n", {},
         [] { CouplerSetBusFault(COM, BUS_NO_ACK); }},
        {"24c02", 256, {}, WP_OFF, "S 41 n P", "S 20 R A 00 N P\n", {},
         [] { CouplerSetBusFault(COM, BUS_NO_PULLUP); }, ""},
        {"24c02", 256, {}, WP_OFF, "S 40 ~10 0F P S 40 ~40 0F P", "S 20 W A 0F A P\nS 20 W A 0F N P\n", {},
         [] { CouplerSetBusFault(COM, BUS_SCL_TIMEOUT); }, "S 20 W A 0F A P\nS 20 W A T 0F N P\n"},

        // 24C16: P2..P0 select one of eight 256-byte blocks, so it answers at 0x50-0x57.
        {"24c16", 2048, {}, WP_OFF, "S A0 P S AE P S B0 P S 9E P", "S 50 W A P\nS 57 W A P\nS 58 W N P\nS 4F W N P\n",
         {}},
        {"24c16", 2048, {{0x3A5, 0x5A}, {0x3A6, 0x5B}, {0x1A8, 0x18}}, WP_OFF, "S A6 A5 S A7 r r n P S A3 n P",
         "S 53 W A A5 A Sr 53 R A 5A A 5B A FF N P\nS 51 R A 18 N P\n", {}},
        {"24c16", 2048, {{0x7FF, 0xEE}, {0x000, 0xCD}}, WP_OFF, "S AE FF S AF r r n P",
         "S 57 W A FF A Sr 57 R A EE A CD A FF N P\n", {}},
        {"24c16", 2048, {}, WP_OFF, "S A4 0E 10 11 12 P", "S 52 W A 0E A 10 A 11 A 12 A P\n",
         {{0x20E, 0x10}, {0x20F, 0x11}, {0x200, 0x12}}},
        {"24c16", 2048, {}, WP_ACK, "S A4 0E 10 P S A4 P", "S 52 W A 0E A 10 A P\nS 52 W A P\n", {}},
        {"24c16", 2048, {}, WP_REFUSE, "S A4 0E 10 P S A4 P", "S 52 W A 0E A 10 N P\nS 52 W A P\n", {}},
        // 24C256: A2..A0 at 0, two word-address bytes high first (bit 15 not used), 64-byte pages.
        {"24c256", 32768, {{0x1234, 0x42}}, WP_OFF, "S A0 P S A2 P S A0 12 34 S A1 r n P S A0 92 34 S A1 n P",
         "S 50 W A P\nS 51 W N P\nS 50 W A 12 A 34 A Sr 50 R A 42 A FF N P\nS 50 W A 92 A 34 A Sr 50 R A 42 N P\n", {}},
        {"24c256", 32768, {{0x7FFF, 0xEE}, {0x0000, 0xCD}}, WP_OFF, "S A0 7F FF S A1 r r n P",
         "S 50 W A 7F A FF A Sr 50 R A EE A CD A FF N P\n", {}},
        {"24c256", 32768, {}, WP_OFF, "S A0 01 3E 10 11 12 P", "S 50 W A 01 A 3E A 10 A 11 A 12 A P\n",
         {{0x13E, 0x10}, {0x13F, 0x11}, {0x100, 0x12}}},
        // Word address alone, or half of it, writes nothing and starts no write cycle.
        {"24c256", 32768, {}, WP_OFF, "S A0 01 P S A0 01 3E P S A0 P",
         "S 50 W A 01 A P\nS 50 W A 01 A 3E A P\nS 50 W A P\n", {}},
        {"24c256", 32768, {}, WP_ACK, "S A0 00 00 77 P S A0 P", "S 50 W A 00 A 00 A 77 A P\nS 50 W A P\n", {}},
        {"24c256", 32768, {}, WP_REFUSE, "S A0 00 00 77 P S A0 P", "S 50 W A 00 A 00 A 77 N P\nS 50 W A P\n", {}},
        // The rest of the table: P0 alone on the 24C04, 7 address bits on the 24C01, 128-byte pages on the 24C512.
        {"24c04", 512, {{0x1FF, 0x44}}, WP_OFF, "S A2 FF S A3 r n P S A4 P",
         "S 51 W A FF A Sr 51 R A 44 A FF N P\nS 52 W N P\n", {}},
        {"24c01", 128, {}, WP_OFF, "S A0 85 66 P", "S 50 W A 85 A 66 A P\n", {{0x05, 0x66}}},
        {"24c512", 65536, {}, WP_OFF, "S A0 FF FE 01 02 03 P", "S 50 W A FF A FE A 01 A 02 A 03 A P\n",
         {{0xFFFE, 0x01}, {0xFFFF, 0x02}, {0xFF80, 0x03}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + ": " + c.script);
        ASSERT_TRUE(CouplerSetEepromType(COM, c.type) &&
                    CouplerSetChips(COM, CHIP_EEPROM | CHIP_EXPANDER | CHIP_SENSOR) && CouplerSetBusFault(COM, BUS_OK) &&
                    CouplerSetEeprom(COM, Memory(c.content, c.size)) && CouplerSetWriteProtectMode(COM, c.protect));
        if (c.setup)
            c.setup();
        CouplerBusLog(COM);
        EXPECT_EQ(Run(c.script), c.seen);
        EXPECT_EQ(CouplerBusLog(COM), c.log ? c.log : c.seen);
        Sleep(8);
        std::string after = Memory(c.content, c.size);
        for (const auto& b : c.written)
            after[b.first] = (char)b.second;
        EXPECT_EQ(Array(), after);
    }
    EXPECT_FALSE(CouplerSetEepromType(COM, "24c03"));
    EXPECT_FALSE(CouplerSetEeprom(COM, Memory({}))) << "256 bytes for a 24C512";
}

// INT on CTS, step by step. The PCF8574 port: eNN drives its inputs (hex), uNN powers it up with them
// driven so from before (its interrupt compares the pins with the power-up latch 0xFF), pNN reads it
// expecting NN, wNN writes it. The LM75's O.S. (active low unless configuration bit 2; Tos 80 degC,
// Thyst 75 degC): cNN writes the configuration, tN converts at N half degrees, r reads a register,
// qXXXX expects the temperature register's two bytes, o0 unwires O.S. from INT. iN expects INT low
// (1) or not (0).
TEST_F(Bus, InterruptsPullCtsAsTheChipsSay)
{
    const struct {
        const char* name;
        const char* steps;
    } cases[] = {
        {"the port: an input change pulls INT, a read or a write releases it", "i0 eFE i1 pFE i0 eFF i1 wFF i0"},
        {"the port: a pin low since the power-up pulls INT until a read", "uFF i0 pFF i0 uFE i1 pFE i0 u00 i1 p00 i0"},
        {"comparator", "t159 i0 t161 i1 t155 i1 t150 i1 t149 i0 t200 i1 o0 i0"},

        {"interrupt mode: active until a read, then at the fall below Thyst",
         "c02 i0 t161 i1 t170 i1 r i0 t165 i0 t149 i1 r i0 t140 i0 t161 i1"},
        {"fault queue of 4", "c10 t161 i0 t161 i0 t161 i0 t161 i1 t149 i1 t149 i1 t149 i1 t149 i0"},
        {"fault queue of 2 counts faults in a row", "c08 t161 i0 t100 i0 t161 i0 t161 i1"},
        {"fault queue of 6", "c18 t161 t161 t161 t161 t161 i0 t161 i1"},
        {"shutdown freezes the temperature", "c01 t161 i0 q1580 c00 i1 q5080"},
        {"shutdown resets O.S. in interrupt mode", "c02 t161 i1 c03 i0 t170 i0"},
        {"active high", "c04 i1 t161 i0 t149 i1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(CouplerSetChips(COM, CHIP_EXPANDER | CHIP_SENSOR) && CouplerSetSensorInterrupt(COM, true));
        std::istringstream steps(c.steps);
        char script[40];
        for (std::string step; steps >> step;) {
            SCOPED_TRACE(step);
            const char verb = step[0];
            long value = strtol(step.c_str() + 1, nullptr, verb == 't' ? 10 : 16);
            if (verb == 'c' || verb == 'w') {
                snprintf(script, sizeof script, verb == 'c' ? "S 90 01 %02lX P" : "S 40 %02lX P", value);
                Run(script);
            } else if (verb == 't' || verb == 'e' || verb == 'u' || verb == 'o') {
                ASSERT_TRUE(verb == 't'   ? CouplerSetTemperature(COM, static_cast<int>(value))
                            : verb == 'e' ? CouplerSetExpanderInputs(COM, static_cast<int>(value))
                            : verb == 'u' ? CouplerPowerUpChips(COM, CHIP_EXPANDER, static_cast<int>(value))
                                          : CouplerSetSensorInterrupt(COM, value != 0));
            } else if (verb == 'r') {
                Run("S 91 n P");
            } else if (verb == 'i') {
                EXPECT_EQ(IntLow(), value);
            } else if (verb == 'p') {
                snprintf(script, sizeof script, "S 20 R A %02lX N P\n", value);
                EXPECT_EQ(Run("S 41 n P"), script);
            } else {
                snprintf(script, sizeof script, "S 48 R A %02lX A %02lX N P\n", value >> 8, value & 0xFF);
                EXPECT_EQ(Run("S 90 00 P S 91 r n P").substr(16), script);
            }
        }
    }
}


// The bus clear: clock until SDA is high, then a STOP. A slave left
// acknowledging its read address with 0x00 to follow holds SDA through nine
// clocks, so a master that clears with eight has not freed the bus.
TEST_F(Bus, StuckSlavesAreFreedByUpToNineClocksAndAStop)
{
    const struct {
        CouplerBusFaultKind fault;
        int lowClocks;
        const char* log;
    } slaves[] = {{BUS_STUCK_SLAVE, 8, "00 N P\n"}, {BUS_STUCK_SLAVE_9, 9, "A 00 N P\n"}};
    for (const auto& slave : slaves) {
        SCOPED_TRACE(slave.fault);
        ASSERT_TRUE(CouplerSetEeprom(COM, Memory({})) && CouplerSetBusFault(COM, slave.fault));
        CouplerBusLog(COM);
        EXPECT_EQ(BusSda(), 0) << "SDA held low with DTR on";
        Scl(0);
        int clocks = 0;
        while (clocks < 12 && !Clock(1))
            ++clocks;
        EXPECT_EQ(clocks, slave.lowClocks) << "clocks that saw SDA low before the one that saw it high";
        Sda(0), Scl(1), Sda(1);
        EXPECT_EQ(BusSda(), 1) << "after the STOP";
        EXPECT_EQ(CouplerBusLog(COM), slave.log);
        EXPECT_EQ(Run("S A1 n P"), "S 50 R A FF N P\n");
    }
    ASSERT_TRUE(CouplerSetBusFault(COM, BUS_STUCK_SLAVE_9));
    Scl(0);
    for (int clock = 0; clock < 8; ++clock)
        Clock(1);
    Sda(0), Scl(1), Sda(1);
    EXPECT_EQ(BusSda(), 0) << "eight clocks and a STOP leave SDA low";
}

// SDA is the wired AND of DTR as the coupler passes it, the coupler's hold
// and the chips: a blocked SDA lets no START and no page write through. (The
// block comes while SCL is low: SDA falling while SCL is high would itself be
// a START to every chip.)
TEST_F(Bus, ABlockedSdaLetsNoTransferThrough)
{
    const struct {
        const char* name;
        bool (*block)();
    } blocks[] = {
        {"SDA held", [] { return CouplerHoldSda(COM, true); }},
        {"SDA stuck low", [] { return CouplerSetFault(COM, FAULT_SDA_STUCK_LOW); }},
        {"slow SDA", [] { return CouplerSetFault(COM, FAULT_SLOW_SDA, 300); }},
    };
    for (const auto& b : blocks) {
        SCOPED_TRACE(b.name);
        ASSERT_TRUE(CouplerSetFault(COM, FAULT_NONE) && CouplerHoldSda(COM, false) &&
                    CouplerSetEeprom(COM, Memory({})));
        Scl(0);
        CouplerBusLog(COM);
        ASSERT_TRUE(b.block());
        Run("S A0 00 11 P");
        Sleep(8);
        EXPECT_EQ(CouplerBusLog(COM), "") << "no START reached the chips";
        EXPECT_EQ(Array(), Memory({}));
    }
    // Held before the STOP: no STOP, no write; released while SCL is high, SDA rises: that is the STOP.
    ASSERT_TRUE(CouplerSetFault(COM, FAULT_NONE) && CouplerHoldSda(COM, false) && CouplerSetEeprom(COM, Memory({})));
    CouplerBusLog(COM);
    Run("S A0 00 11");
    ASSERT_TRUE(CouplerHoldSda(COM, true));
    Run("P");
    Sleep(8);
    EXPECT_EQ(Array(), Memory({})) << "no page write while SDA is held";
    EXPECT_EQ(CouplerBusLog(COM), "S 50 W A 00 A 11 A");
    ASSERT_TRUE(CouplerHoldSda(COM, false));
    Sleep(8);
    EXPECT_EQ(Array(), Memory({{0, 0x11}}));
    EXPECT_EQ(CouplerBusLog(COM), " P\n");
}

// A short to ground in the middle of a job: after a number of line changes
// (here the last one of a transfer's STOP) or at a time.
TEST_F(Bus, SdaShortedMidJobIsLowAfterTheStop)
{
    int64_t before = CouplerLineChangeCount(COM);
    EXPECT_EQ(Run("S 41 n P"), "S 20 R A FF N P\n");
    int changes = static_cast<int>(CouplerLineChangeCount(COM) - before);
    ASSERT_TRUE(CouplerSetSdaLowLater(COM, changes, 0));
    CouplerBusLog(COM);
    EXPECT_EQ(BusSda(), 1) << "armed, not yet low";
    Run("S 41 n P");
    EXPECT_EQ(BusSda(), 0) << "SDA low after the STOP";
    // SDA falling while SCL is high is a START to every chip.
    EXPECT_EQ(CouplerBusLog(COM), "S 20 R A FF N P\nS");
    ASSERT_TRUE(CouplerSetSdaLowLater(COM, -1, 60));
    EXPECT_EQ(BusSda(), 1) << "timed, not yet low";
    Sleep(90);
    EXPECT_EQ(BusSda(), 0) << "low once its time came";
}

// Closing the port drops DTR and RTS in one request: no order is promised,
// so the bus logs "~" and sees neither a START nor a STOP.
TEST_F(Bus, BothLinesInOneRequestAreLoggedAsSuch)
{
    int64_t closes = CouplerCloseCount(COM);
    ASSERT_TRUE(SerialClose(handle));
    handle = -1;
    for (int i = 0; i < 100 && CouplerCloseCount(COM) == closes; ++i)
        Sleep(10);
    ASSERT_EQ(CouplerCloseCount(COM), closes + 1);
    EXPECT_EQ(CouplerBusLog(COM), "~\n");
    ASSERT_GT(handle = SerialOpen("com5:9600,n,8,1", 0, 1024, 1024), 0);
    Sda(1), Scl(1);
    CouplerBusLog(COM);
    EXPECT_EQ(Run("S 41 n P"), "S 20 R A FF N P\n");
    EXPECT_EQ(CouplerBusLog(COM), "S 20 R A FF N P\n");
}

// The folder of the daemon's state file, where it writes its log (a Linux path).
std::string CouplerFolder()
{
    std::string state = getenv("COUPLER_STATE") ? getenv("COUPLER_STATE") : "";
    return state.substr(0, state.rfind('/'));
}

bool WriteFileBytes(const std::string& linuxPath, const std::string& bytes)
{
    FILE* file = fopen(WindowsPath(linuxPath).c_str(), "wb");
    bool written = file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return file && fclose(file) == 0 && written;
}

// A content file belongs to one chip: one of another size is refused (said on
// the daemon's stderr) and never overwritten; one of the chip's size is its
// content, and a page write reaches it.
TEST_F(Bus, TheContentFileMustFitTheChip)
{
    std::string file = CouplerFolder() + "/test-eeprom-com5.bin", small = Memory({{0, 0x11}});
    std::string large = Memory({{0x7FFF, 0x22}}, 32768), log = CouplerFolder() + "/daemon.log";
    ASSERT_TRUE(WriteFileBytes(file, small) && CouplerSetEepromType(COM, "24c256"));
    size_t logged = Slurp(WindowsPath(log)).size();
    ASSERT_TRUE(CouplerSetEepromFile(COM, file));
    EXPECT_TRUE(Has(Slurp(WindowsPath(log)).substr(logged), "holds 256 bytes, a 24C256 32768: not loaded"));
    EXPECT_EQ(Array(), Memory({}, 32768)) << "erased, not the file";
    Run("S A0 00 00 33 P");
    Sleep(60);
    EXPECT_EQ(Slurp(WindowsPath(file)), small) << "the refused file is left alone";

    ASSERT_TRUE(WriteFileBytes(file, large) && CouplerSetEepromFile(COM, file));
    EXPECT_EQ(Array(), large);
    Run("S A0 40 00 44 P");
    std::string saved;
    for (int i = 0; i < 50 && (saved = Slurp(WindowsPath(file))) == large; ++i)
        Sleep(10);
    EXPECT_EQ(saved, Memory({{0x7FFF, 0x22}, {0x4000, 0x44}}, 32768));
    ASSERT_TRUE(CouplerSetEepromFile(COM, ""));
    DeleteFileA(WindowsPath(file).c_str());
}

// Runs a Linux command line through /bin/sh and waits for it (bounded by the
// command itself); false when it could not be started. Wine's ntdll starts
// Linux programs with __wine_unix_spawnvp; CreateProcess does not.
bool RunLinux(const std::string& command)
{
    typedef LONG(WINAPI * Spawn)(char* const* argv, int wait);
    Spawn spawn = reinterpret_cast<Spawn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp")));
    std::string shell = "/bin/sh", option = "-c", line = command;
    char* const argv[] = {&shell[0], &option[0], &line[0], nullptr};
    return spawn && spawn(argv, 1) == 0;
}

// The daemon's trace of a scan, a register read and an EEPROM page write,
// decoded by a logic analyzer's I2C decoder, holds the transfers of the bus
// log: the dump keeps every line change in its order, with increasing times.
TEST_F(Bus, TheTraceDecodesToTheBusLog)
{
    if (GetFileAttributesA(WindowsPath("/usr/bin/sigrok-cli").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "sigrok-cli is not installed (scripts/setup installs it)";
    std::string trace = CouplerFolder() + "/test-trace-com5.vcd";
    ASSERT_TRUE(CouplerSetEepromType(COM, "24c16"));
    CouplerBusLog(COM);
    ASSERT_TRUE(CouplerTrace(COM, trace));
    std::string log, seen;
    char script[32];
    for (int address = 0x08; address <= 0x77; ++address) {
        // Safe probing: a read where EEPROMs may sit, a quick write elsewhere.
        bool read = (address >= 0x30 && address <= 0x37) || (address >= 0x50 && address <= 0x5F);
        snprintf(script, sizeof script, read ? "S %02X n P" : "S %02X P", address << 1 | read);
        seen += Run(script);
        if (address % 32 == 0)
            log += CouplerBusLog(COM);  // the log ring keeps 512 events
    }
    seen += Run("S 90 00 S 91 r n P S A0 20 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 P ~8 S A0 P");
    log += CouplerBusLog(COM);
    ASSERT_TRUE(CouplerTrace(COM, ""));
    EXPECT_EQ(log, seen);
    EXPECT_TRUE(Has(seen, "S 20 W A P\nS 21 W N P\n") && Has(seen, "S 57 R A FF N P\nS 58 R N") &&
                Has(seen, "S 48 W A 00 A Sr 48 R A 15 A 80 N P\n"))
        << seen;

    EXPECT_GT(VcdStamps(Slurp(WindowsPath(trace))), 112 * 20) << "a probe moves the lines at least twenty times";
    std::string decoded = trace + ".txt";
    ASSERT_TRUE(RunLinux("env -u LD_PRELOAD timeout 60 sigrok-cli -i '" + trace +
                         "' -I vcd -P i2c:scl=SCL:sda=SDA >'" + decoded + "' 2>&1"));
    std::string output = Slurp(WindowsPath(decoded));
    EXPECT_EQ(SigrokAsLog(output), log) << output.substr(0, 2000);
    DeleteFileA(WindowsPath(trace).c_str());
    DeleteFileA(WindowsPath(decoded).c_str());
}

}  // namespace
