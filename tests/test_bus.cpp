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
#include "tests/support/coupler_client.h"

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

// An erased 24C02 with the given bytes at the given addresses.
std::string Memory(std::initializer_list<std::pair<int, int>> bytes)
{
    std::string memory(256, '\xFF');
    for (const auto& b : bytes)
        memory[b.first] = (char)b.second;
    return memory;
}

struct Case {
    const char* name;
    void (*setup)();  // settings through the client before the script
    const char* script;
    const char* seen; // what the master sees
    const char* log = nullptr;  // the decoded transfers, when they differ from what it sees
};

void Nothing() {}

TEST_F(Bus, ChipsAnswerAsTheirDatasheetsSay)
{
    const Case cases[] = {
        // 24C02: random read, repeated START, sequential read wrapping over the array.
        {"random read", [] { CouplerSetEeprom(COM, Memory({{0, 0xCD}, {1, 0x01}})); }, "S A0 00 S A1 r n P",
         "S 50 W A 00 A Sr 50 R A CD A 01 N P\n"},
        {"wrap at FF", [] { CouplerSetEeprom(COM, Memory({{0, 0xCD}, {255, 0xAB}})); },
         "S A0 FF S A1 r r n P S A1 n P", "S 50 W A FF A Sr 50 R A AB A CD A FF N P\nS 50 R A FF N P\n"},
        // Page write from 06: ten bytes wrap within 00..07; the write cycle NACKs, then reads show the page.
        {"page write", Nothing, "S A0 06 10 11 12 13 14 15 16 17 18 19 P S A0 P ~8 S A0 00 S A1 r r r r r r r r n P",
         "S 50 W A 06 A 10 A 11 A 12 A 13 A 14 A 15 A 16 A 17 A 18 A 19 A P\nS 50 W N P\n"
         "S 50 W A 00 A Sr 50 R A 12 A 13 A 14 A 15 A 16 A 17 A 18 A 19 A FF N P\n"},
        // No write and no write cycle: quick write, word address alone, a STOP inside a data byte, a
        // repeated START (the data byte has moved the pointer on); write protect acknowledges all.
        {"no write", [] { CouplerSetEeprom(COM, Memory({{0, 0x5A}, {1, 0x5B}})); },
         "S A0 P S A0 01 P S A0 P S A0 00 33 b3 P S A0 P S A0 00 33 S A1 r n P",
         "S 50 W A P\nS 50 W A 01 A P\nS 50 W A P\nS 50 W A 00 A 33 A ? P\nS 50 W A P\n"
         "S 50 W A 00 A 33 A Sr 50 R A 5B A FF N P\n"},
        {"write protect", [] { CouplerSetWriteProtect(COM, true); }, "S A0 00 77 P S A0 00 S A1 n P",
         "S 50 W A 00 A 77 A P\nS 50 W A 00 A Sr 50 R A FF N P\n"},
        {"start mid-byte", [] { CouplerSetEeprom(COM, Memory({{2, 0x2A}})); }, "S A0 02 b5 S A1 n P",
         "S 50 W A 02 A ? Sr 50 R A 2A N P\n"},
        // The port: latch 0xFF at power-up, reads the latch AND the inputs.
        {"port", [] { CouplerSetExpanderInputs(COM, 0x3C); }, "S 41 n P S 40 F0 P S 41 r n P S 40 P S 41 n P",
         "S 20 R A 3C N P\nS 20 W A F0 A P\nS 20 R A 30 A 30 N P\nS 20 W A P\nS 20 R A 30 N P\n"},
        // The sensor: 21.5 degC, then -5.5; the pointer persists; limits 75 and 80 degC; a limit written.
        {"sensor", Nothing, "S 91 r n P S 90 03 P S 91 r n P S 91 r n P S 90 02 S 91 r n P S 90 01 P S 91 n P",
         "S 48 R A 15 A 80 N P\nS 48 W A 03 A P\nS 48 R A 50 A 00 N P\nS 48 R A 50 A 00 N P\n"
         "S 48 W A 02 A Sr 48 R A 4B A 00 N P\nS 48 W A 01 A P\nS 48 R A 00 N P\n"},
        {"sensor below zero", [] { CouplerSetTemperature(COM, -11); }, "S 90 02 E7 80 S 91 r n P S 90 00 S 91 r n S 91 r n P",
         "S 48 W A 02 A E7 A 80 A Sr 48 R A E7 A 80 N P\n"
         "S 48 W A 00 A Sr 48 R A FA A 80 N Sr 48 R A FA A 80 N P\n"},
        // Faults: no acknowledge anywhere; no pull-up (SDA never rises, nothing decoded); the time-out
        // drops the chip after 40 ms of SCL low, not after 10 ms.
        {"no ack", [] { CouplerSetBusFault(COM, BUS_NO_ACK); }, "S A0 P S 41 P S 91 P",
         "S 50 W N P\nS 20 R N P\nS 48 R N P\n"},
        {"no pull-up", [] { CouplerSetBusFault(COM, BUS_NO_PULLUP); }, "S 41 n P", "S 20 R A 00 N P\n", ""},
        {"time-out", [] { CouplerSetBusFault(COM, BUS_SCL_TIMEOUT); }, "S 40 ~10 0F P S 40 ~40 0F P",
         "S 20 W A 0F A P\nS 20 W A 0F N P\n", "S 20 W A 0F A P\nS 20 W A T 0F N P\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(CouplerSetChips(COM, CHIP_EEPROM | CHIP_EXPANDER | CHIP_SENSOR) &&
                    CouplerSetBusFault(COM, BUS_OK) && CouplerSetEeprom(COM, Memory({})));
        c.setup();
        CouplerBusLog(COM);
        EXPECT_EQ(Run(c.script), c.seen);
        EXPECT_EQ(CouplerBusLog(COM), c.log ? c.log : c.seen);
    }
}

TEST_F(Bus, WritesReachTheArrayOnlyAfterACleanStop)
{
    struct Write {
        const char* script;
        bool protect;
        std::string expected;
    } writes[] = {
        {"S A0 0E 10 11 12 P", false, Memory({{14, 0x10}, {15, 0x11}, {8, 0x12}})},
        {"S A0 00 10 b4 P", false, Memory({})},
        {"S A0 00 10 S A1 n P", false, Memory({})},
        {"S A0 00 10 P", true, Memory({})},
    };
    for (const Write& w : writes) {
        SCOPED_TRACE(w.script);
        ASSERT_TRUE(CouplerSetEeprom(COM, Memory({})) && CouplerSetWriteProtect(COM, w.protect));
        Run(w.script);
        Sleep(8);
        std::string bytes;
        ASSERT_TRUE(CouplerEeprom(COM, &bytes));
        EXPECT_EQ(bytes, w.expected);
    }
}

TEST_F(Bus, InterruptsPullCts)
{
    // The port: an input change pulls INT low; a read or a write of the port releases it.
    EXPECT_EQ(IntLow(), 0);
    ASSERT_TRUE(CouplerSetExpanderInputs(COM, 0xFE));
    EXPECT_EQ(IntLow(), 1) << "input changed";
    Run("S 41 n P");
    EXPECT_EQ(IntLow(), 0) << "after a read";
    ASSERT_TRUE(CouplerSetExpanderInputs(COM, 0xFF));
    EXPECT_EQ(IntLow(), 1) << "input changed back after the read";
    Run("S 40 FF P");
    EXPECT_EQ(IntLow(), 0) << "after a write";
    // The sensor's O.S. on INT: above 80 degC on, until below 75 degC.
    ASSERT_TRUE(CouplerSetSensorInterrupt(COM, true));
    const int steps[][2] = {{159, 0}, {161, 1}, {150, 1}, {149, 0}, {200, 1}};
    for (const auto& step : steps) {
        ASSERT_TRUE(CouplerSetTemperature(COM, step[0]));
        EXPECT_EQ(IntLow(), step[1]) << "at " << step[0] / 2.0 << " degC";
    }
    ASSERT_TRUE(CouplerSetSensorInterrupt(COM, false));
    EXPECT_EQ(IntLow(), 0) << "O.S. not wired";
}

TEST_F(Bus, AStuckSlaveIsFreedByNineClocksAndAStop)
{
    ASSERT_TRUE(CouplerSetEeprom(COM, Memory({})) && CouplerSetBusFault(COM, BUS_STUCK_SLAVE));
    EXPECT_EQ(BusSda(), 0) << "SDA held low with DTR on";
    Scl(0);
    int clocks = 0;
    while (clocks < 12 && !Clock(1))
        ++clocks;
    EXPECT_EQ(clocks, 8) << "clocks that saw SDA low before the one that saw it high";
    Sda(0), Scl(1), Sda(1);
    EXPECT_EQ(BusSda(), 1) << "after the STOP";
    EXPECT_EQ(CouplerBusLog(COM), "00 N P\n");
    EXPECT_EQ(Run("S A1 n P"), "S 50 R A FF N P\n");
}

}  // namespace
