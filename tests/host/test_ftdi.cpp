// The I2C master through an FTDI chip in synchronous bit-bang mode (the
// FT232R's model in front of the bus model), against the serial path on the
// same bus: the bus sees the same transfers, the times of standard mode hold,
// samples wait for the coupler, and a chip whose mode cannot be set is said.
#include <gtest/gtest.h>

#include "i2c/chips.h"
#include "i2c/eeprom.h"
#include "i2c/messages.h"
#include "line/ftdi_lines.h"
#include "line/trace.h"
#include "tools/virtual-coupler/ft232r_model.h"
#include "tests/support/sigrok.h"

namespace {

// Standard mode: SCL low, START set-up and bus free are 4.7 us at least.
constexpr double GAP_MS = 0.0047 - 1e-9;

struct Serial {
    BusPort port;
    Lines lines{};
    I2cMaster master{};
    explicit Serial(uint32_t chips) : port(chips) { port.costMs = 1; }
    I2cStatus Begin() { return LinesOpen(&lines, port.Port()), BitsBegin(&master, &lines); }
    BusPort& Bus() { return port; }
};

struct Ftdi {
    Ft232rModel chip;
    FtdiLines ftdi;
    Lines lines{};
    I2cMaster master{};
    explicit Ftdi(uint32_t chips) : chip(chips) {}
    ~Ftdi() { BitsEnd(&master), FtdiLinesClose(&ftdi); }
    I2cStatus Begin()
    {
        if (FtdiLinesOpen(&ftdi, chip.Api(), "0") != FTDI_OPENED)
            return I2C_LINE_FAILED;
        LinesOpen(&lines, FtdiLinesPort(&ftdi));
        return BitsBegin(&master, &lines);
    }
    BusPort& Bus() { return chip.bus; }
};

// A job: what it said and read, as text.
using Job = std::string (*)(I2cMaster* master);

std::string Hex(const uint8_t* bytes, int count)
{
    std::string text;
    char two[4];
    for (int i = 0; i < count; i++)
        snprintf(two, sizeof two, "%02X", bytes[i]), text += two;
    return text;
}

// The log without the refused polls of the EEPROM at 0x50 in its write cycle.
std::string WithoutPolls(std::string log)
{
    for (size_t at; (at = log.find("S 50 R N P\n")) != std::string::npos;)
        log.erase(at, 11);
    return log;
}

const EepromType& Type(const char* name) { return *EepromTypeNamed(name); }

// The bus log from the first START on: the job's transfers (the start's echo
// measurement shows none).
template <typename Path>
std::string RunJob(uint32_t chips, const char* eeprom, bool protect, Job job, std::string* said)
{
    Path path(chips);
    if (eeprom)
        BusSetEepromType(&path.Bus().bus, static_cast<uint32_t>(BusEepromTypeNamed(eeprom)));
    BusSetWriteProtect(&path.Bus().bus, protect ? BUS_WP_REFUSE : 0);
    uint8_t* memory = BusEepromMemory(&path.Bus().bus);
    for (int i = 0; i < 256; i++)
        memory[i] = static_cast<uint8_t>(i * 7 + 3);
    EXPECT_EQ(path.Begin(), I2C_OK);
    *said = job(&path.master);
    BitsEnd(&path.master);
    return path.Bus().log;
}

TEST(Ftdi, TheBusSeesTheSameTransfersAsOnTheSerialPath)
{
    const struct {
        const char* what;
        uint32_t chips;
        const char* eeprom;
        Job job;
        const char* said;  // literal: what the bus holds
        bool polls = false;  // a write cycle is polled: the FTDI path asks sooner, and more often
        bool protect = false;  // the EEPROM's WP high, refusing data bytes
    } cases[] = {
        {"scan", BUS_CHIPS_ALL, nullptr,
         [](I2cMaster* m) {
             bool found[128] = {};
             std::string text = std::to_string(Scan(m, 0x08, 0x77, found, nullptr));
             for (int a = 0; a < 128; a++)
                 text += found[a] ? " " + std::to_string(a) : "";
             return text;
         },
         "0 32 72 80"},
        {"get the expander, the sensor's pointer and temperature", BUS_CHIPS_ALL, nullptr,
         [](I2cMaster* m) {
             uint8_t in[2] = {}, pointer = 0;
             std::string text = std::to_string(I2cTransfer(m, 0x20, nullptr, 0, in, 1));
             text += " " + Hex(in, 1) + " " + std::to_string(I2cTransfer(m, 0x48, &pointer, 1, in, 2));
             return text + " " + Hex(in, 2);
         },
         nullptr},
        {"24C02 read from 0xFE: the wrap to 0", BUS_CHIP_EEPROM, "24C02",
         [](I2cMaster* m) {
             uint8_t in[4] = {};
             std::string text = std::to_string(EepromReadRange(m, Type("24C02"), 0x50, 0xFE, in, 3));
             return text + " " + Hex(in, 3);
         },
         "0 F5FC03"},
        {"24C32 write a page, read it back", BUS_CHIP_EEPROM, "24C32",
         [](I2cMaster* m) {
             const uint8_t page[5] = {0x00, 0x55, 0xAA, 0x0F, 0xF0};
             uint8_t in[6] = {};
             int written = 0;
             std::string text = std::to_string(EepromWriteRange(m, Type("24C32"), 0x50, 0x40, page, 5, 32, &written));
             // The write cycle over on both paths: no poll is refused on either.
             m->lines->port.waitUntil(m->lines->port.data, LinesNow(m->lines) + 10);
             text += " " + std::to_string(EepromReadRange(m, Type("24C32"), 0x50, 0x3F, in, 6));
             return text + " " + Hex(in, 6);
         },
         "0 0 BC0055AA0FF0", true},
        {"nobody at 0x51: the address's NACK ends it with a STOP", BUS_CHIP_EEPROM, "24C02",
         [](I2cMaster* m) {
             const uint8_t out[2] = {0x10, 0x20};
             uint8_t in[1];
             return std::to_string(I2cTransfer(m, 0x51, out, 2, nullptr, 0)) + " " +
                    std::to_string(I2cTransfer(m, 0x51, nullptr, 0, in, 1));
         },
         "1 1"},
        {"write protect refuses the data bytes: their NACK ends it with a STOP", BUS_CHIP_EEPROM, "24C02",
         [](I2cMaster* m) {
             const uint8_t out[3] = {0x10, 0xAB, 0xCD};
             return std::to_string(I2cTransfer(m, 0x50, out, 3, nullptr, 0));
         },
         "2", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string serialSaid, ftdiSaid;
        std::string serialLog = RunJob<Serial>(c.chips, c.eeprom, c.protect, c.job, &serialSaid);
        std::string ftdiLog = RunJob<Ftdi>(c.chips, c.eeprom, c.protect, c.job, &ftdiSaid);
        if (c.said) {
            EXPECT_EQ(serialSaid, c.said);
        }
        EXPECT_EQ(ftdiSaid, serialSaid);
        EXPECT_EQ(c.polls ? WithoutPolls(ftdiLog) : ftdiLog, c.polls ? WithoutPolls(serialLog) : serialLog);
        EXPECT_NE(ftdiLog.find("P\n"), std::string::npos);
        if (c.protect) {
            EXPECT_EQ(ftdiLog, "S 50 W A 10 A AB N P\n");
        }
    }
}

TEST(Ftdi, PinsCarryTheLinesInvertedAsTheTableSays)
{
    // D2 RTS#, D3 CTS#, D4 DTR#, D5 DSR#: a line on is its pin low; TXD (D0) high.
    const struct {
        int sda, scl;
        uint8_t out;
    } outputs[] = {{1, 1, 0x01}, {0, 1, 0x11}, {1, 0, 0x05}, {0, 0, 0x15}};
    for (const auto& o : outputs)
        EXPECT_EQ(FtdiPinsOut(o.sda, o.scl), o.out) << o.sda << o.scl;
    EXPECT_EQ(FtdiPinMask(), 0x15);
    const struct {
        uint8_t pins;
        int32_t status;
    } inputs[] = {{0x00, LINE_SDA_IN | LINE_INT_IN}, {0x20, LINE_INT_IN}, {0x08, LINE_SDA_IN}, {0xFF, 0}};
    for (const auto& i : inputs)
        EXPECT_EQ(FtdiPinsStatus(i.pins), i.status) << int(i.pins);
}

TEST(Ftdi, ReadingsAreOneByteBehindAndTheBuffersBound)
{
    Ft232rModel chip(BUS_CHIPS_ALL);
    FtdiApi api = chip.Api();
    ASSERT_TRUE(api.open(api.data, "0"));
    ASSERT_TRUE(api.setBitMode(api.data, 0x15, 4));
    // DTR on (SDA released): the next reading shows DSR on, the one before not yet.
    const uint8_t out[3] = {0x11, 0x01, 0x01};
    uint8_t in[3] = {};
    ASSERT_EQ(api.write(api.data, out, 3), 3);
    ASSERT_EQ(api.read(api.data, in, 3), 3);
    EXPECT_EQ(in[1] & 0x20, 0x20);  // DSR# high: DSR off while DTR was off
    EXPECT_EQ(in[2] & 0x20, 0x00);  // the byte before it released SDA
    // 128 readings are the most the chip keeps.
    std::vector<uint8_t> many(129, 0x01);
    EXPECT_EQ(api.write(api.data, many.data(), 129), -1);
    EXPECT_EQ(api.write(api.data, many.data(), 128), 128);
    EXPECT_EQ(api.write(api.data, many.data(), 1), -1);
}

TEST(Ftdi, StandardModeTimesHoldAndSamplesWaitForASlowCoupler)
{
    // The coupler passes DSR on this long after the bus; the settle: the step (4.71 us each) whose
    // end first shows it, a quarter on top rounded up. 12 us: the end of the third step, 3 + 1.
    const struct {
        double delayMs;
        int32_t settle;
    } couplers[] = {{0.0, 2}, {0.002, 2}, {0.012, 4}, {0.040, 12}};
    for (const auto& [delayMs, settle] : couplers) {
        SCOPED_TRACE(delayMs);
        Ftdi path(BUS_CHIP_EEPROM);
        path.chip.couplerDelayMs = delayMs;
        for (int i = 0; i < 256; i++)
            BusEepromMemory(&path.chip.bus.bus)[i] = static_cast<uint8_t>(255 - i);
        ASSERT_EQ(path.Begin(), I2C_OK);
        EXPECT_EQ(path.master.plan.settle, settle);
        uint8_t in[256];
        ASSERT_EQ(EepromReadRange(&path.master, Type("24C02"), 0x50, 0, in, 256), I2C_OK);
        for (int i = 0; i < 256; i++)
            ASSERT_EQ(in[i], 255 - i) << i;
        EXPECT_GE(path.chip.bus.minGapMs, GAP_MS);
        EXPECT_EQ(path.chip.refused, 0);
    }
}

TEST(Ftdi, AChipWhoseModeCannotBeSetIsSaid)
{
    const struct {
        bool present, bitMode;
        FtdiOpen open;
    } cases[] = {{true, true, FTDI_OPENED}, {false, true, FTDI_NOT_FOUND}, {true, false, FTDI_NO_BITBANG}};
    for (const auto& c : cases) {
        Ft232rModel chip(BUS_CHIPS_ALL);
        chip.present = c.present, chip.bitModeWorks = c.bitMode;
        FtdiLines ftdi;
        EXPECT_EQ(FtdiLinesOpen(&ftdi, chip.Api(), "A1B2C3"), c.open);
        FtdiLinesClose(&ftdi);
        FtdiLinesClose(&ftdi);
        EXPECT_FALSE(chip.opened);
    }
}

TEST(Ftdi, ALogicAnalyzerDecodesTheTraceOfAnFtdiJobAsTheBusLog)
{
    if (system("command -v sigrok-cli >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sigrok-cli is not installed (scripts/setup installs it)";
    // A page write, the polls of its write cycle, the read back with its repeated START, an
    // address nobody answers: through the recorder in front of the FTDI port.
    Ft232rModel chip(BUS_CHIP_EEPROM);
    chip.couplerDelayMs = 0.012;
    FtdiLines ftdi;
    ASSERT_EQ(FtdiLinesOpen(&ftdi, chip.Api(), "0"), FTDI_OPENED);
    TraceRecorder recorder;
    Lines lines{};
    I2cMaster master{};
    LinesOpen(&lines, TraceRecord(&recorder, FtdiLinesPort(&ftdi)));
    ASSERT_EQ(I2C_OK, BitsBegin(&master, &lines));
    const uint8_t page[8] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    uint8_t back[8];
    int written = 0;
    const EepromType& type = Type("24C02");
    ASSERT_EQ(I2C_OK, EepromWriteRange(&master, type, 0x50, 8, page, 8, 8, &written));
    ASSERT_EQ(I2C_OK, EepromReadRange(&master, type, 0x50, 8, back, 8));
    ASSERT_EQ(I2C_NACK, I2cTransfer(&master, 0x53, page, 1, nullptr, 0));
    BitsEnd(&master);
    FtdiLinesClose(&ftdi);
    EXPECT_EQ(Hex(back, 8), "1032547698BADCFE");
    std::string path = testing::TempDir() + "ftdi-trace.vcd";
    ASSERT_TRUE(TraceSave(recorder, path.c_str()));
    std::vector<char> dump = TraceDump(recorder);
    EXPECT_GT(VcdStamps(std::string(dump.begin(), dump.end())), 300);
    EXPECT_NE(std::string::npos, chip.bus.log.find("S 50 R N P\n")) << "no poll refused: " << chip.bus.log;
    EXPECT_NE(std::string::npos, chip.bus.log.find("S 53 W N P\n"));
    EXPECT_EQ(chip.bus.log, SigrokI2c(path));
    remove(path.c_str());
}

TEST(Ftdi, TheJobsStartFreesAHeldBusAndTellsAMissingPullUpAsOnTheSerialPath)
{
    const struct {
        uint32_t fault;
        I2cStatus begin;
        int freed;
    } starts[] = {{0, I2C_OK, 0}, {BUS_FAULT_STUCK_SLAVE, I2C_OK, 1}, {BUS_FAULT_NO_PULLUP, I2C_DSR_NEVER_HIGH, 1}};
    for (const auto& start : starts) {
        SCOPED_TRACE(start.fault);
        Serial serial(BUS_CHIPS_ALL);
        Ftdi ftdi(BUS_CHIPS_ALL);
        BusSetFault(&serial.port.bus, start.fault, 0);
        BusSetFault(&ftdi.chip.bus.bus, start.fault, 0);
        EXPECT_EQ(serial.Begin(), start.begin);
        EXPECT_EQ(ftdi.Begin(), start.begin);
        EXPECT_EQ(ftdi.master.freed, start.freed);
        EXPECT_EQ(serial.master.freed, start.freed);
        if (start.begin != I2C_OK)
            continue;
        uint8_t in[2] = {};
        EXPECT_EQ(I2cTransfer(&ftdi.master, 0x50, nullptr, 0, in, 2), I2C_OK);
        EXPECT_EQ(I2cTransfer(&serial.master, 0x50, nullptr, 0, in, 2), I2C_OK);
        EXPECT_EQ(ftdi.chip.bus.log, serial.port.log);
    }
}

TEST(Ftdi, AStartAMinuteAfterTheMeasurementMeasuresTheSettleAgain)
{
    Ftdi path(BUS_CHIPS_ALL);
    ASSERT_EQ(path.Begin(), I2C_OK);
    uint8_t in = 0;
    for (double pauseMs : {59000.0, 2000.0}) {
        double measured = path.lines.measuredAtMs;
        // The coupler grows slower after the first 59 s: only a new measurement keeps the samples fresh.
        path.chip.couplerDelayMs = pauseMs < 59000 ? 0.012 : 0.002;
        path.chip.bus.Wait(path.chip.bus.nowMs + pauseMs);
        EXPECT_EQ(I2cTransfer(&path.master, 0x20, nullptr, 0, &in, 1), I2C_OK);
        // Not yet after 59 s (the settle of 2 steps kept); after 61 s measured anew: 4 steps.
        EXPECT_EQ(path.lines.measuredAtMs > measured, pauseMs < 59000) << pauseMs;
        EXPECT_EQ(path.master.plan.settle, pauseMs < 59000 ? 4 : 2) << pauseMs;
    }
}

}  // namespace
