// The recorder's trace as a logic analyzer's user opens it: Debian's
// sigrok-cli decodes the value change dump of a job with its I2C decoder, and
// what it decodes must be exactly what the bus model logged (a register read
// with its repeated START: the native suite, through coupler-i2c --trace). The format's
// rules: integer, increasing time stamps, initial values in $dumpvars.
#include <stdio.h>

#include <gtest/gtest.h>

#include "i2c/eeprom.h"
#include "line/trace.h"
#include "tools/virtual-coupler/bus_port.h"
#include "tests/support/sigrok.h"

namespace {

TEST(Trace, ALogicAnalyzerDecodesWhatTheBusSaw)
{
    if (system("command -v sigrok-cli >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sigrok-cli is not installed (scripts/setup installs it)";
    // A page write, its polls refused during the write cycle and the random read back with its
    // repeated START: every kind of bit, acknowledge, refusal, START and STOP the recorder sees.
    BusPort port;
    TraceRecorder recorder;
    Lines lines{};
    I2cMaster master{};
    LinesOpen(&lines, TraceRecord(&recorder, port.Port()));
    ASSERT_EQ(I2C_OK, BitsBegin(&master, &lines));
    const uint8_t page[8] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    uint8_t back[8];
    int written = 0;
    const EepromType& type = *EepromTypeNamed("24C02");
    ASSERT_EQ(I2C_OK, EepromWriteRange(&master, type, 0x50, 8, page, 8, 8, &written));
    ASSERT_EQ(I2C_OK, EepromReadRange(&master, type, 0x50, 8, back, 8));
    BitsEnd(&master);
    std::string path = testing::TempDir() + "trace.vcd";
    ASSERT_TRUE(TraceSave(recorder, path.c_str()));
    std::vector<char> dump = TraceDump(recorder);
    EXPECT_GT(VcdStamps(std::string(dump.begin(), dump.end())), 30);
    // The bus's log carries what it decoded at the master's first switches too.
    EXPECT_NE(std::string::npos, port.log.find("S 50 R N P\n")) << "no poll refused: " << port.log;
    EXPECT_EQ(port.log, SigrokI2c(path));
    remove(path.c_str());
}

}  // namespace
