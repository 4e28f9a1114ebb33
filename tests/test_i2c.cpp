// coupler-i2c.exe end to end on the virtual bus behind COM3 (EEPROM 0x50,
// port expander 0x20, temperature sensor 0x48): what the scan finds, a
// blocked and a freed bus, EEPROM programming with backup and verify, nothing
// written without --write, INT, the same results behind a slow USB adapter,
// and a pulled adapter.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "tests/support/coupler_client.h"
#include "tests/support/driver.h"

namespace {

using Result = ConsoleRun;

Result RunI2c(const std::string& arguments, const char* program = CT_I2C_EXE)
{
    return RunConsole(program, "COM3 " + arguments);
}

// The addresses the scan's table shows as found, e.g. "20 48 50".
std::string Found(const std::string& output)
{
    std::string found;
    for (size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = output.substr(start, end - start);
        for (size_t at = 4; line.size() > 3 && line[1] == '0' && line[2] == ':' && at + 2 <= line.size();
             at += 3)
            if (line[at] != ' ' && line[at] != '-')
                found += (found.empty() ? "" : " ") + line.substr(at, 2);
    }
    return found;
}

void Save(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size()) << path;
    fclose(file);
}

std::string Eeprom()
{
    std::string bytes;
    EXPECT_TRUE(CouplerEeprom(3, &bytes));
    return bytes;
}

class I2cTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach() && CouplerReset() && CouplerPortPresent(3, true) &&
                    CouplerSetChips(3, CHIP_EEPROM | CHIP_EXPANDER | CHIP_SENSOR));
    }
};

TEST_F(I2cTest, ScanFindsTheChipsSwitchedOnAndFreesOrReportsAHeldBus)
{
    const struct {
        unsigned chips;
        CouplerFaultKind fault;
        CouplerBusFaultKind busFault;
        const char* arguments;
        DWORD code;
        const char* found;
        const char* text;  // a line of the output
    } cases[] = {
        {7, FAULT_NONE, BUS_OK, "scan", 0, "20 48 50", "0x50  EEPROM (24C02 und verwandte)\n"},
        {5, FAULT_NONE, BUS_OK, "scan --all", 0, "48 50", "\n2 Bausteine gefunden"},
        {0, FAULT_NONE, BUS_OK, "scan --quiet", 0, "", "\n70: -- -- -- -- -- -- -- --\n"},
        {7, FAULT_NONE, BUS_NO_ACK, "scan", 0, "", "0 Bausteine gefunden"},
        {7, FAULT_NONE, BUS_STUCK_SLAVE, "scan", 0, "20 48 50", "SDA lag auf Masse: Bus mit Takten und STOP"},
        // DSR never on from the start: the coupler's supply or wiring, not a chip.
        {7, FAULT_SDA_STUCK_LOW, BUS_OK, "scan", 2, "", "coupler-i2c: DSR war nie an: Versorgung des Kopplers"},
        {7, FAULT_NONE, BUS_NO_PULLUP, "scan", 2, "", "coupler-i2c: DSR war nie an: Versorgung des Kopplers"},
        {7, FAULT_SDA_STUCK_HIGH, BUS_OK, "scan", 2, "",
         "coupler-i2c: SDA folgt DTR nicht (DSR bleibt an)\n"},
        {7, FAULT_NONE, BUS_OK, "scan 0x50 0x48", 2, "", "coupler-i2c: scan: 0x50 liegt hinter 0x48\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments + std::string(" fault ") + std::to_string(c.fault) + "/" +
                     std::to_string(c.busFault));
        // One fault at a time: setting the bus's clears the coupler's.
        ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetChips(3, c.chips) &&
                    (c.busFault ? CouplerSetBusFault(3, c.busFault) : CouplerSetFault(3, c.fault)));
        Result result = RunI2c(c.arguments);
        EXPECT_EQ(c.code, result.code);
        EXPECT_EQ(c.found, Found(result.output));
        EXPECT_TRUE(Has(result.output, c.text)) << result.output;
    }
    // The probe at 0x30-0x37 and 0x50-0x5F reads; elsewhere it writes.
    ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetChips(3, 7));
    CouplerBusLog(3);
    EXPECT_EQ(0u, RunI2c("scan 0x2f 0x51").code);
    std::string log = CouplerBusLog(3);
    for (const char* line : {"S 2F W N P\n", "S 30 R N P\n", "S 37 R N P\n", "S 38 W N P\n", "S 48 W A P\n",
                             "S 50 R A ", "S 51 R N P\n"})
        EXPECT_TRUE(Has(log, line)) << line << log;
    for (int address : {0x30, 0x33, 0x37, 0x50, 0x51}) {
        char write[10];
        snprintf(write, sizeof write, "S %02X W", address);
        EXPECT_FALSE(Has(log, write)) << log;
    }
}

TEST_F(I2cTest, CheckPassesOnlyWithExactlyTheExpectedChips)
{
    const struct {
        unsigned chips;
        const char* arguments;
        DWORD code;
        const char* output;
    } cases[] = {
        {7, "--quiet --expect 50,20,48", 0, "BESTANDEN\n"},
        {7, "--quiet --expect 0x50,0x48", 1, "NICHT BESTANDEN: Bus 20 zu viel\n"},
        {5, "--quiet --expect 50,20,48", 1, "NICHT BESTANDEN: Bus 20 fehlt\n"},
        {7, "--quiet --expect 50,7", 2,
         "coupler-check: --expect 50,7: Adressen 08 bis 77, mit Kommas getrennt\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        ASSERT_TRUE(CouplerSetChips(3, c.chips));
        Result result = RunI2c(c.arguments, CT_CHECK_EXE);
        EXPECT_EQ(c.code, result.code);
        EXPECT_EQ(c.output, result.output.substr(0, strlen(c.output)));
    }
}

TEST_F(I2cTest, EepromWriteAcrossPagesKeepsTheOldContentAndVerifies)
{
    std::string old(256, 0), image = "ABCDEFGHIJKL", backup = TempPath("i2b"),
                             file = TempPath("i2i"), readBack = TempPath("i2r");
    for (int i = 0; i < 256; i++)
        old[i] = static_cast<char>(i * 7 + 3);
    Save(file, image);
    DeleteFileA(backup.c_str());
    ASSERT_TRUE(CouplerSetEeprom(3, old));

    // Without --write nothing is written, and the port is not even touched.
    int64_t requests = CouplerLineRequests(3);
    for (const char* arguments : {"eeprom write %s --offset 5", "set 0x50 5 0x00", "set 0x20 0x00"}) {
        char line[300];
        snprintf(line, sizeof line, arguments, file.c_str());
        Result result = RunI2c(line);
        EXPECT_EQ(2u, result.code) << line;
        EXPECT_TRUE(Has(result.output, "Ohne --write wird nichts geschrieben: ")) << result.output;
    }
    EXPECT_EQ(requests, CouplerLineRequests(3));
    EXPECT_EQ(old, Eeprom());

    // Bytes 5 to 16 cross the page boundary at 8 and at 16.
    Result result = RunI2c("eeprom write \"" + file + "\" --offset 5 --write --backup \"" + backup + "\"");
    EXPECT_EQ(0u, result.code) << result.output;
    EXPECT_EQ(old.substr(0, 5) + image + old.substr(17), Eeprom());
    EXPECT_EQ(old, Slurp(backup));
    EXPECT_EQ(0u, RunI2c("eeprom read \"" + readBack + "\"").code);
    EXPECT_EQ(Eeprom(), Slurp(readBack));

    // A write-protected chip takes the bytes but keeps its content.
    std::string now = Eeprom();
    ASSERT_TRUE(CouplerSetWriteProtect(3, true));
    result = RunI2c("eeprom write \"" + file + "\" --write --backup \"" + backup + "\"");
    EXPECT_EQ(1u, result.code);
    EXPECT_TRUE(Has(result.output, "Vergleich: 12 von 12 Bytes weichen ab, das erste bei 0x00"))
        << result.output;
    EXPECT_EQ(now, Eeprom());
    for (const std::string& path : {backup, file, readBack})
        DeleteFileA(path.c_str());
}

TEST_F(I2cTest, ResultsHoldBehindASlowUsbAdapter)
{
    // A request that costs a quarter of the delay makes a sample timed from
    // SCL's fall instead of SDA's release come before the release shows.
    const struct {
        int delayMs, costMs, inputs;
        const char* port;  // what a read of the expander gives
    } adapters[] = {{0, 0, 0xF0, "0xf0\n"}, {16, 1, 0x3C, "0x3c\n"}, {16, 4, 0x0F, "0x0f\n"}};
    for (const auto& a : adapters) {
        SCOPED_TRACE("status delay " + std::to_string(a.delayMs) + " ms, " + std::to_string(a.costMs) +
                     " ms a request");
        ASSERT_TRUE(CouplerSetAdapter(3, a.delayMs, a.costMs) &&
                    CouplerSetEeprom(3, std::string(256, '\xff')));
        // 21.5 and -5.5 degrees: nine bits of half degrees, MSB first.
        ASSERT_TRUE(CouplerSetTemperature(3, 43));
        EXPECT_EQ("0x1580\n", RunI2c("get 0x48 0 w --quiet").output);
        ASSERT_TRUE(CouplerSetTemperature(3, -11));
        EXPECT_EQ("0xfa80\n", RunI2c("get 0x48 0 w --quiet").output);
        // The expander's inputs pull INT until the port is read.
        ASSERT_TRUE(CouplerSetExpanderInputs(3, a.inputs));
        EXPECT_EQ("INT aktiv (auf Masse, CTS an)\n", RunI2c("int").output);
        EXPECT_EQ(a.port, RunI2c("get 0x20").output);
        EXPECT_EQ("INT in Ruhe (CTS aus)\n", RunI2c("int").output);
        // A byte written with its word address, then read at random.
        Result result = RunI2c("set 0x50 0x07 0x5a --write");
        EXPECT_EQ("0x5a an 0x50 geschrieben\n", result.output);
        EXPECT_EQ("0x5a\n", RunI2c("get 0x50 7").output);
        EXPECT_EQ("48 50", Found(RunI2c("scan 0x48 0x50").output));
        EXPECT_EQ("\x5a", Eeprom().substr(7, 1));
    }
}

TEST_F(I2cTest, APulledOrRefusingAdapterEndsTheJobWithOneLine)
{
    ASSERT_TRUE(CouplerSetEeprom(3, std::string(256, '\xff')));
    Result result = RunI2c("dump 0x50");
    EXPECT_EQ(0u, result.code);
    EXPECT_TRUE(
        Has(result.output, "\nf0: ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff    ................\n"))
        << result.output;
    ASSERT_TRUE(CouplerVanishAfter(3, 3000));
    result = RunI2c("dump 0x50");
    EXPECT_EQ(2u, result.code);
    EXPECT_EQ("coupler-i2c: COM3: Leitungsaufruf fehlgeschlagen (Adapter entfernt?)\n", result.output);
    // A driver that keeps the handshake on would leave SCL where it is.
    ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetAdapter(3, 0, 0, true));
    result = RunI2c("scan");
    EXPECT_EQ(2u, result.code);
    EXPECT_EQ(u8"coupler-i2c: COM3: Einstellung Handshake nicht übernommen\n", result.output);
}

}  // namespace
