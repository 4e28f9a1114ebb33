// The I2C master on the bus model in this process (24C02 EEPROM at 0x50,
// PCF8574 port at 0x20, LM75 sensor at 0x48), on a simulated clock, behind
// adapters of several kinds. Expected values are the I2C rules' and the
// datasheets'; the bus's decoded transfers show what went over the wire.
#include <gtest/gtest.h>

#include "i2c/chips.h"
#include "i2c/eeprom.h"
#include "i2c/messages.h"
#include "tools/virtual-coupler/bus_port.h"

namespace {

// Standard mode: SCL low, START set-up and bus free are 4.7 us at least.
constexpr double GAP_MS = 0.0047 - 1e-9;

// One job: a fresh bus behind the port, the engine and the master on it.
struct Job {
    BusPort port;
    Lines lines{};
    I2cMaster master{};
    explicit Job(uint32_t chips = BUS_CHIPS_ALL) : port(chips) {}
    I2cStatus Begin() { return LinesOpen(&lines, port.Port()), BitsBegin(&master, &lines); }
};

std::string Hex(const uint8_t* bytes, int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += std::string(i ? " " : "") + "0123456789ABCDEF"[bytes[i] >> 4] + "0123456789ABCDEF"[bytes[i] & 15];
    return text;
}

// What a step gave: the bytes read, or the status when it was not OK.
std::string Said(I2cStatus status, const std::string& read = "")
{
    const char* const names[] = {"", "NACK", "NACK_DATA", "BLOCKED", "SDA_STUCK_HIGH", "DSR_NEVER_HIGH",
                                 "ADAPTER_TOO_SLOW", "ADAPTER_UNSTEADY", "LINE_FAILED"};
    return status == I2C_OK ? read : names[status];
}

// Transfers in turn: address, bytes written, count read; what each read, joined.
std::string Transfers(Job& j, std::vector<std::tuple<int, std::vector<uint8_t>, int>> transfers)
{
    std::string said;
    for (auto& [address, out, count] : transfers) {
        uint8_t in[4] = {};
        I2cStatus status = I2cTransfer(&j.master, address, out.data(), static_cast<int>(out.size()), in, count);
        std::string one = Said(status, Hex(in, count));
        said += (said.empty() || one.empty() ? "" : " ") + one;
    }
    return said;
}


TEST(Master, TransfersReadRightBehindEveryAdapterThatWorks)
{
    const struct {
        void (*adapter)(BusPort* port);
        I2cStatus begin;
        double echoFrom, echoTo;  // the slowest round: its delay, up to a switch and two samples more (ms)
    } adapters[] = {
        {[](BusPort*) {}, I2C_OK, 0, 0.001},
        // Late by 2, 7 and 3 ms in the three rounds, 7 ms afterwards: only the slowest round reads right.
        {[](BusPort* p) { p->costMs = 0.25, p->lateMs = {2, 2, 7, 3, 7}; }, I2C_OK, 7, 7.75},
        // One sample in the slowest round shows DSR following at once.
        {[](BusPort* p) { p->costMs = 0.25, p->lateMs = {1, 1, 6, 1, 6}, p->glitchAfterFall = 2; }, I2C_OK, 6, 6.75},
        {[](BusPort* p) { p->costMs = 1, p->lateMs = {60}; }, I2C_ADAPTER_TOO_SLOW, 60, 63},
        // DSR never shows DTR's fall (nor anything after it): SDA cannot be driven.
        {[](BusPort* p) { p->costMs = 1, p->lateMs = {0, 1e9}; }, I2C_SDA_STUCK_HIGH, 0, 0},
        {[](BusPort* p) { BusSetFault(&p->bus, BUS_FAULT_NO_PULLUP, 0); }, I2C_DSR_NEVER_HIGH, 0, 0},
        // The EEPROM stuck sending 00 from before the job: the bus clear frees it.
        {[](BusPort* p) { BusSetFault(&p->bus, BUS_FAULT_STUCK_SLAVE, 0); }, I2C_OK, 0, 0.001},
        // The same behind an adapter 30 ms late: the clear's STOP is no echo of the measurement after it.
        {[](BusPort* p) { p->costMs = 0.25, p->lateMs = {30}, BusSetFault(&p->bus, BUS_FAULT_STUCK_SLAVE, 0); }, I2C_OK, 30, 30.75},
    };
    const struct {
        std::string (*run)(Job& job);
        const char *said, *log;  // the log without the polls of the write cycles
    } steps[] = {
        // The 24C02's address pointer is 0 after power-up; a random read joins with a repeated START.
        {[](Job& j) { return Transfers(j, {{0x50, {}, 3}}); }, "3C A5 0F", "S 50 R A 3C A A5 A 0F N P\n"},
        {[](Job& j) { return Transfers(j, {{0x50, {5}, 2}}); }, "81 7E", "S 50 W A 05 A Sr 50 R A 81 A 7E N P\n"},
        // LM75 T_OS -5.5 degC: 9-bit two's complement 1 1111 0101 in the top bits, MSB first.
        {[](Job& j) { return Transfers(j, {{0x48, {3, 0xFA, 0x80}, 0}, {0x48, {3}, 2}}); }, "FA 80",
         "S 48 W A 03 A FA A 80 A P\nS 48 W A 03 A Sr 48 R A FA A 80 N P\n"},
        // The sensor at 60.5 degC as the virtual coupler's --temperature takes it: 0x3C, the half in the top bit.
        {[](Job& j) {
             int32_t half = 0;
             if (!BusTemperatureFromText("60.5", &half))
                 return std::string("refused");
             BusSetTemperature(&j.port.bus, half);
             return Transfers(j, {{0x48, {0}, 2}});
         },
         "3C 80", "S 48 W A 00 A Sr 48 R A 3C A 80 N P\n"},
        // An image across a page boundary that ends at the chip's last byte, FF.
        {[](Job& j) {
             uint8_t image[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, back[13] = {};
             int written = 0;
             const EepromType& type = *EepromTypeNamed("24c02");
             I2cStatus status = EepromWriteRange(&j.master, type, 0x50, 0xF3, image, 13, 8, &written);
             status = status ? status : EepromReadRange(&j.master, type, 0x50, 0xF3, back, 13);
             return Said(status, Hex(back, 13));
         },
         "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D",
         "S 50 W A F3 A 01 A 02 A 03 A 04 A 05 A P\nS 50 W A F8 A 06 A 07 A 08 A 09 A 0A A 0B A 0C A 0D A P\n"
         "S 50 R A 06 N P\nS 50 W A F3 A Sr 50 R A 01 A 02 A 03 A 04 A 05 A 06 A 07 A 08 A 09 A 0A A 0B A 0C A 0D N P\n"},
        // A STOP while the EEPROM still sends (its byte acknowledged, the next starting with a 0) leaves
        // SDA low; the next START's clear clocks the byte out, then START and STOP.
        {[](Job& j) {
             uint8_t byte;
             BusEepromMemory(&j.port.bus)[1] = 0x00;
             BitsStart(&j.master), BitsWrite(&j.master, 0xA1), BitsRead(&j.master, &byte, true);
             std::string stop = Said(BitsStop(&j.master));
             return stop + " " + Transfers(j, {{0x50, {}, 1}});
         },
         "BLOCKED 0F", "S 50 R A 3C A 00 N ? Sr P\nS 50 R A 0F N P\n"},
        // SDA that nothing lets go of: low after the STOP; before the next START nine clocks, then given up.
        {[](Job& j) {
             BusSetFault(&j.port.bus, BUS_FAULT_NO_PULLUP, 0);
             std::string said = Transfers(j, {{0x20, {}, 0}}) + " ";
             int64_t rises = j.port.sclRises;
             said += Transfers(j, {{0x20, {}, 0}}) + " ";
             return said + std::to_string(j.port.sclRises - rises);
         },
         "BLOCKED BLOCKED 9", ""},
    };
    for (const auto& a : adapters)
        for (const auto& s : steps) {
            SCOPED_TRACE(std::to_string(&a - adapters) + ": " + s.log);
            Job job;
            a.adapter(&job.port);
            memcpy(BusEepromMemory(&job.port.bus), "\x3C\xA5\x0F\xFF\xFF\x81\x7E", 7);
            ASSERT_EQ(a.begin, job.Begin());
            EXPECT_TRUE(job.lines.longestEchoMs >= a.echoFrom && job.lines.longestEchoMs <= a.echoTo)
                << job.lines.longestEchoMs;
            size_t from = job.port.log.size();
            EXPECT_EQ(a.begin ? "" : s.said, a.begin ? "" : s.run(job));
            BitsEnd(&job.master);
            // The master keeps the levels it set: it never switches a line to the level it has.
            EXPECT_EQ(0, job.port.repeats);
            EXPECT_GE(job.port.minGapMs, GAP_MS);
            std::string log = job.port.log.substr(from);
            // Polls refused during a write cycle: as many as the adapter's speed makes.
            for (const char* poll : {"S 50 W N P\n", "S 50 R N P\n"})
                for (size_t at; (at = log.find(poll)) != std::string::npos;)
                    log.erase(at, 11);
            EXPECT_EQ(a.begin ? "" : s.log, log);
        }
}

TEST(Master, ScanProbesSafelyAndFindsExactlyWhatAnswers)
{
    // A one-byte read at 30-37 and 50-5F, where a write can change or lock an EEPROM; writes elsewhere.
    const struct {
        uint32_t chips;
        const char* eeprom;  // its type, when not the 24C02
        bool ackAll;         // every address answers: no held bus
        const char* found;   // or how many
    } scans[] = {{BUS_CHIPS_ALL, nullptr, false, "20 48 50"}, {BUS_CHIP_EEPROM, nullptr, false, "50"},
                 {BUS_CHIP_EEPROM | BUS_CHIP_SENSOR, "24C16", false, "48 50 51 52 53 54 55 56 57"},
                 {BUS_CHIP_EXPANDER | BUS_CHIP_SENSOR, nullptr, false, "20 48"}, {0, nullptr, false, ""}, {0, nullptr, true, "112"}};
    for (const auto& s : scans) {
        Job job(s.chips);
        if (s.eeprom) {
            ASSERT_EQ(1, BusSetEepromType(&job.port.bus, static_cast<uint32_t>(BusEepromTypeNamed(s.eeprom))));
        }
        job.port.ackAll = s.ackAll;
        ASSERT_EQ(I2C_OK, job.Begin());
        bool found[128] = {};
        EXPECT_EQ(I2C_OK, Scan(&job.master, 0x08, 0x77, found, nullptr));
        std::string list, seen, log = job.port.log;
        for (uint8_t address = 0x08; address <= 0x77; address++)
            list += found[address] ? (list.empty() ? "" : " ") + Hex(&address, 1) : "";
        for (size_t at = 0; (at = log.find("S ", at)) != std::string::npos; at += 2)
            seen += log[at + 5];
        EXPECT_EQ(s.found, s.ackAll ? std::to_string(std::count(found, found + 128, true)) : list);
        EXPECT_EQ(std::string(40, 'W') + std::string(8, 'R') + std::string(24, 'W') + std::string(16, 'R') +
                      std::string(24, 'W'), seen);
    }
}

TEST(Master, TheEstimateComesNearTheTimeAJobTakes)
{
    // Behind an adapter 8 ms late at 1 ms a request: a scan (three chips answer), a 24C02 read
    // whole, and 20 bytes written over three pages, each within a tenth of its time.
    Job job;
    job.port.costMs = 1, job.port.lateMs = {8};
    ASSERT_EQ(I2C_OK, job.Begin());
    const EepromType& type = *EepromTypeNamed("24c02");
    bool found[128];
    uint8_t data[256] = {};
    int written = 0;
    const I2cWork works[] = {{112, 0, 0, 0, 3}, EepromReadWork(type, 0, 256), EepromWriteWork(type, 6, 20, 8)};
    for (int i = 0; i < 3; i++) {
        double estimate = I2cWorkMs(&job.lines, works[i]), start = job.port.nowMs;
        ASSERT_EQ(I2C_OK, i == 0   ? Scan(&job.master, 0x08, 0x77, found, nullptr)
                          : i == 1 ? EepromReadRange(&job.master, type, 0x50, 0, data, 256)
                                   : EepromWriteRange(&job.master, type, 0x50, 6, data, 20, 8, &written));
        double took = job.port.nowMs - start;
        EXPECT_NEAR(1, estimate / took, 0.1) << i << ": " << estimate << " ms for " << took;
    }
}

TEST(Master, EveryEepromOfTheFamilyIsWrittenAndReadAcrossItsPagesAndBlocks)
{
    // 24C16: blocks of 256 at 0x50-0x57, pages of 16; 24C256: two address bytes, pages of 64.
    const struct {
        const char* type;
        int offset, count, pageSize;
    } cases[] = {{"24C02", 3, 250, 8}, {"24C16", 0x0F5, 0x220, 16}, {"24C16", 0x7F0, 16, 4}, {"24C256", 0x3FC7, 300, 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        Job job(BUS_CHIP_EEPROM);
        ASSERT_EQ(1, BusSetEepromType(&job.port.bus, static_cast<uint32_t>(BusEepromTypeNamed(c.type))));
        ASSERT_EQ(I2C_OK, job.Begin());
        std::vector<uint8_t> image(static_cast<size_t>(c.count)), back(image.size());
        for (size_t i = 0; i < image.size(); i++)
            image[i] = static_cast<uint8_t>(i * 37 + 11);
        int written = -1;
        const EepromType* type = EepromTypeNamed(c.type);
        EXPECT_EQ(I2C_OK, EepromWriteRange(&job.master, *type, 0x50, c.offset, image.data(), c.count, c.pageSize, &written));
        EXPECT_EQ(c.count, written);
        EXPECT_EQ(I2C_OK, EepromReadRange(&job.master, *type, 0x50, c.offset, back.data(), c.count));
        EXPECT_EQ(image, back);
        const uint8_t* memory = BusEepromMemory(&job.port.bus);
        EXPECT_EQ(image, std::vector<uint8_t>(memory + c.offset, memory + c.offset + c.count));
        EXPECT_EQ(0xFF, memory[c.offset - 1]);
        EXPECT_EQ(0xFF, memory[c.offset + c.count]);
    }
    // In its write cycle (5 ms from the STOP) the chip acknowledges nothing, after it again: on the
    // bus model's clock, which no busy machine stretches.
    Job job(BUS_CHIP_EEPROM);
    ASSERT_EQ(I2C_OK, job.Begin());
    EXPECT_EQ("NACK", Transfers(job, {{0x50, {0x10, 0x42}, 0}, {0x50, {}, 0}}));
    job.port.Wait(job.port.nowMs + 5);
    EXPECT_EQ("", Transfers(job, {{0x50, {}, 0}}));
}

TEST(Master, APulledAdapterFailsTheJobAndTheReleaseLeavesTheBusIdle)
{
    // The echo measurement, then a random read of 00, for which the chip holds SDA low: the adapter
    // pulled after every number of requests short of the whole job's (the first run).
    for (int64_t pulled = -1, whole = 0; pulled < whole; pulled++) {
        SCOPED_TRACE(pulled);
        Job job;
        job.port.pullAfter = pulled < 0 ? INT64_MAX : pulled;
        BusEepromMemory(&job.port.bus)[0] = 0x00;
        I2cStatus status = job.Begin();
        EXPECT_EQ(pulled < 0 ? "00" : "LINE_FAILED", status ? Said(status) : Transfers(job, {{0x50, {0}, 1}}));
        EXPECT_EQ(0, job.port.repeats);
        whole = pulled < 0 ? job.port.requests : whole;
        // Plugged in again: where a transfer may be open, or a switch was refused and its level is
        // not known, the release ends with a STOP; both lines are left high.
        job.port.pullAfter = INT64_MAX;
        BitsEnd(&job.master);
        EXPECT_EQ(1, job.port.line[LINE_SDA_OUT] & job.port.line[LINE_SCL_OUT]);
        const std::string& log = job.port.log;
        EXPECT_TRUE(log.empty() || log.compare(log.size() - 2, 2, "P\n") == 0) << log;
        EXPECT_GE(job.port.minGapMs, GAP_MS);
    }
}

TEST(Master, AnAdapterWhoseDelayVariesIsWaitedForToItsWorstNotToTheRoundsSeen)
{
    // Reports every 4..20 ms (a latency timer): echo rounds that each begin as soon as the last
    // was seen all meet the period at one point and may all come early in it. A sample waited
    // for only as long as they took shows a bit of the clock before; every byte must be the chip's.
    int wrong = 0;
    for (uint32_t seed = 1; seed <= 500; seed++) {
        Job job;
        std::mt19937 draw(seed);
        auto between = [&](double from, double to) { return std::uniform_real_distribution<double>(from, to)(draw); };
        job.port.random.seed(seed);
        job.port.costMs = between(0.01, 0.5);
        job.port.lateFromMs = between(0, 10);
        job.port.lateToMs = job.port.lateFromMs + between(4, 20);
        uint8_t* memory = BusEepromMemory(&job.port.bus);
        for (int i = 0; i < 256; i++)
            memory[i] = static_cast<uint8_t>(i * 37 + seed);
        uint8_t back[24] = {};
        I2cStatus status = job.Begin();
        if (!status)
            status = EepromReadRange(&job.master, *EepromTypeNamed("24c02"), 0x50, 0x20, back, 24);
        BitsEnd(&job.master);
        ASSERT_EQ(I2C_OK, status) << "seed " << seed;
        wrong += memcmp(back, memory + 0x20, 24) != 0;
    }
    EXPECT_EQ(0, wrong);
}

TEST(Master, TheLinesAnotherProgramLeftBeforeTheOpenAreNeverTakenForTheBus)
{
    // Another program closed the port with the bus idle, the driver dropping the lines a few ms
    // before this open; behind an adapter 16 ms late the first samples show that, not this job.
    for (double dropBeforeMs : {0.5, 3.0, 8.0, 15.0}) {
        Job job;
        job.port.costMs = 1, job.port.lateMs = {16};
        job.port.history = {{-100, LINE_SDA_IN}, {-dropBeforeMs, 0}};
        job.port.shownMs = -100;
        bool found[128] = {};
        I2cStatus status = job.Begin();
        EXPECT_EQ("", Said(status ? status : Scan(&job.master, 0x08, 0x77, found, nullptr))) << dropBeforeMs;
        EXPECT_TRUE(found[0x20] && found[0x48] && found[0x50] && std::count(found, found + 128, true) == 3);
        EXPECT_GE(job.lines.longestEchoMs, 16) << dropBeforeMs;
    }
}

TEST(Master, UnderLoadEveryResultIsTheBusModelsOrARefusal)
{
    // A busy machine behind adapters of every speed: requests reached and answered late, waits
    // that overrun, a status delay drawn per request. Every job gives what the bus holds, or
    // refuses the adapter; never a chip that is not there, a wrong byte, or a byte written
    // outside the range asked.
    int refused = 0, checked = 0;
    for (uint32_t seed = 1; seed <= 240; seed++) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Job job;
        std::mt19937 draw(seed);
        auto between = [&](double from, double to) { return std::uniform_real_distribution<double>(from, to)(draw); };
        BusPort& port = job.port;
        port.random.seed(seed);
        port.costMs = between(0.0001, 4);
        port.lateFromMs = seed % 4 ? between(0, 60) : 0;
        port.lateToMs = port.lateFromMs + between(0.001, seed % 3 ? 2 : 20);
        // At these odds the process loses up to `most` ms around a request or after a wait.
        double odds = between(0, 0.3), most = between(0, 30);
        port.preempt = [&port, odds, most](int, bool) { return port.Draw(0, 1) < odds ? port.Draw(0, most) : 0; };
        uint8_t* memory = BusEepromMemory(&port.bus);
        for (int i = 0; i < 256; i++)
            memory[i] = static_cast<uint8_t>(i * 7 + seed);
        std::vector<uint8_t> before(memory, memory + 256);
        const EepromType& type = *EepromTypeNamed("24c02");
        bool found[128] = {};
        uint8_t image[5] = {0xDE, 0xAD, 0x00, 0xBE, 0xEF}, back[8] = {};
        int written = 0;
        I2cStatus status = job.Begin();
        if (!status && !(status = Scan(&job.master, 0x08, 0x77, found, nullptr))) {
            EXPECT_TRUE(found[0x20] && found[0x48] && found[0x50] && std::count(found, found + 128, true) == 3);
        }
        if (!status && !(status = EepromReadRange(&job.master, type, 0x50, 0x10, back, 8))) {
            EXPECT_EQ(0, memcmp(back, memory + 0x10, 8));
        }
        if (!status)
            status = EepromWriteRange(&job.master, type, 0x50, 0x46, image, 5, 8, &written);
        // Outside the range nothing changed; inside it, a byte is old or new, and new where written.
        for (int i = 0; i < 256; i++) {
            bool inside = i >= 0x46 && i < 0x4B;
            EXPECT_TRUE(memory[i] == before[static_cast<size_t>(i)] || (inside && memory[i] == image[i - 0x46])) << i;
            EXPECT_TRUE(!inside || i - 0x46 >= written || memory[i] == image[i - 0x46]) << i;
        }
        if (!status && !(status = EepromReadRange(&job.master, type, 0x50, 0x46, back, 5))) {
            EXPECT_EQ(0, memcmp(back, image, 5));
        }
        BitsEnd(&job.master);
        EXPECT_TRUE(status == I2C_OK || status == I2C_ADAPTER_TOO_SLOW || status == I2C_ADAPTER_UNSTEADY)
            << Said(status) << " late " << port.lateFromMs << "-" << port.lateToMs << " echo " << job.lines.echoMs;
        refused += status != I2C_OK;
        checked += status == I2C_OK;
    }
    // Adapters up to 40 ms late are most of the draw: refusing them all would prove nothing.
    EXPECT_GE(checked, 120);
    // An adapter that grows slower after the measurement (4 ms, then 8): the first probe's
    // acknowledge is its own R/W bit seen late, which the second reading shows up.
    Job job;
    job.port.costMs = 0.25, job.port.lateMs = {4};
    ASSERT_EQ(I2C_OK, job.Begin());
    job.port.lateMs = {8};
    bool found[128] = {};
    EXPECT_EQ("ADAPTER_UNSTEADY", Said(Scan(&job.master, 0x08, 0x77, found, nullptr)));
    EXPECT_EQ(0, std::count(found, found + 128, true));
    // One 12 ms late at the start, 1 ms at the measurement a minute on, 12 ms again: the job keeps
    // waiting for the slowest it has seen, so the probes still read right.
    Job varying;
    varying.port.costMs = 0.25, varying.port.lateMs = {12};
    ASSERT_EQ(I2C_OK, varying.Begin());
    varying.port.lateMs = {1};
    varying.port.Wait(varying.port.nowMs + 61000);
    EXPECT_EQ(Hex(BusEepromMemory(&varying.port.bus), 1), Transfers(varying, {{0x50, {}, 1}}));
    varying.port.lateMs = {12};
    bool again[128] = {};
    EXPECT_EQ("", Said(Scan(&varying.master, 0x08, 0x77, again, nullptr)));
    EXPECT_TRUE(again[0x20] && again[0x48] && again[0x50] && std::count(again, again + 128, true) == 3);
    printf("under load: %d jobs checked, %d refused\n", checked, refused);
}

}  // namespace
