// The serial layer on virtual ports, checked from both ends: what the
// platform reports for the handle and what the coupler sees on the line.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "serial/serial.h"
#include "tools/virtual-coupler/coupler_client.h"
#include "tests/support/import_slot.h"

// What the layer asks CreateFileA for, seen through this suite's import of it
// (the layer is linked in): Wine does not enforce share modes on serial
// devices, so a shared open shows only here. access, share, disposition, flags.
DWORD asked[4];
HANDLE WINAPI RecordingCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE model)
{
    static auto platform = reinterpret_cast<decltype(&CreateFileA)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateFileA")));
    asked[0] = access, asked[1] = share, asked[2] = disposition, asked[3] = flags;
    return platform(name, access, share, security, disposition, flags, model);
}
decltype(&CreateFileA) createFileImport asm(CT_IMPORT_SLOT(CreateFileA, 28)) = RecordingCreateFile;

namespace {

class Serial : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach() && CouplerReset()) << "no virtual coupler: run the suite through scripts/test";
        for (int com : {1, 3, 12})
            ASSERT_TRUE(CouplerPortPresent(com, true));
    }
    void TearDown() override
    {
        Close();
        CouplerReset();
    }
    int32_t Open(const char* settings = "com3:9600,n,8,1", int32_t handshake = 0)
    {
        return handle = SerialOpen(settings, handshake, 1024, 1024);
    }
    // Closes com3 and waits until the coupler has seen the close (and dropped
    // the lines), so that the drop does not land after the next open.
    void Close(int com = 3)
    {
        int64_t closes = CouplerCloseCount(com);
        if (handle > 0 && SerialClose(handle))
            for (int i = 0; i < 100 && CouplerCloseCount(com) <= closes; ++i)
                Sleep(10);
        handle = -1;
    }
    int32_t handle = -1;
};

TEST_F(Serial, OpenSetsTheLineTheHandshakeAndTheTimeouts)
{
    // Flow control per mode, as the line shows it: RTS right after the open,
    // RTS/CTS, XON/XOFF out and in. Modes other than 0..3 keep what the
    // settings string built (no handshake, RTS on).
    struct Case {
        const char* settings;
        int32_t mode;
        uint32_t baud, stopBits;
        int rts;
        bool rtsCts, xonOut, xonIn;
    } cases[] = {
        {"com3:9600,n,8,1", 0, 9600, 1, 0, false, false, false},
        {"com3:4800,e,7,2", 1, 4800, 2, 1, false, false, false},
        {"com3:19200,n,8,1", 2, 19200, 1, -1, true, false, false},   // RTS is the driver's
        {"com3:1200,n,8,1", 3, 1200, 1, 1, false, true, true},
        {"com3:75,n,8,1", 4, 75, 1, 1, false, false, false},
        {"com3:300,n,8,1", -1, 300, 1, 1, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_GT(Open(c.settings, c.mode), 0);
        // Read and write, exclusive, an existing device, synchronous.
        EXPECT_TRUE(asked[0] == (GENERIC_READ | GENERIC_WRITE) && !asked[1] && asked[2] == OPEN_EXISTING && !asked[3]);
        CouplerLine line = {};
        ASSERT_TRUE(CouplerLineSettings(3, &line));
        EXPECT_EQ(std::make_tuple(line.baud, line.stopBits, c.rts < 0 ? -1 : CouplerRts(3), line.rtsCts,
                                  line.xonOutput, line.xonInput),
                  std::make_tuple(c.baud, c.stopBits, c.rts, c.rtsCts, c.xonOut, c.xonIn))
            << "baud, stop bits, RTS (-1: the driver's), RTS/CTS, XON out, XON in";
        COMMTIMEOUTS t = {};
        ASSERT_TRUE(GetCommTimeouts(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)), &t));
        EXPECT_EQ(std::make_tuple(t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                                  t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant),
                  std::make_tuple(100ul, 10ul, 100ul, 0ul, 0ul)) << "read interval, per byte, constant; write";
        Close();
    }
    // Settings the platform rejects: the handle is open, the line as before.
    ASSERT_GT(Open("com3:fast,n,8,1"), 0);
    CouplerLine line = {};
    ASSERT_TRUE(CouplerLineSettings(3, &line));
    EXPECT_EQ(line.baud, 300u);
    EXPECT_NE(SerialSetDtr(handle, 1), 0);
}

TEST_F(Serial, TheDeviceIsComAndItsDigitsAheadOfColonBlankOrEnd)
{
    struct Case {
        const char* settings;
        int com;   // 0: nothing opens
    } cases[] = {
        {"com3:9600,n,8,1", 3}, {"COM1:9600,n,8,1", 1},  {"cOm12:9600,n,8,1", 12},
        {"com3", 3},            {"com3 baud=9600 parity=N data=8 stop=1", 3},
        {":9600,n,8,1", 0},     {"comx:9600,n,8,1", 0}, {"com:9600", 0}, {"com3x:9600", 0}, {"com4:9600,n,8,1", 0},
        {"com0:9600,n,8,1", 0}, {"com01:9600,n,8,1", 0}, {"com03", 0},
    };
    // Files named as these strings begin, were they taken for paths.
    for (const char* name : {":960", "com0", "com01", "com03"})
        CloseHandle(CreateFileA(name, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        EXPECT_EQ(Open(c.settings) > 0, c.com != 0);
        SerialSetRts(handle, 1);
        for (int com : {1, 3, 12})
            EXPECT_EQ(CouplerRts(com) == 1, com == c.com) << "com" << com;
        Close(c.com);
    }
    for (const char* name : {":960", "com0", "com01", "com03"})
        DeleteFileA(name);
}

TEST_F(Serial, LinesSwitchApartAndAreSampledApartUntilThePortIsGone)
{
    ASSERT_GT(Open(), 0);
    for (int32_t on : {1, 2, -1}) {
        ASSERT_TRUE(SerialSetDtr(handle, 0) && SerialSetRts(handle, 0));
        EXPECT_EQ(std::make_pair(CouplerDtr(3), CouplerRts(3)), std::make_pair(0, 0)) << "DTR, RTS";
        SerialSetDtr(handle, on);
        EXPECT_EQ(std::make_pair(CouplerDtr(3), CouplerRts(3)), std::make_pair(1, 0)) << "DTR, RTS; DTR " << on;
        SerialSetRts(handle, on);
        EXPECT_EQ(std::make_pair(CouplerDtr(3), CouplerRts(3)), std::make_pair(1, 1)) << "DTR, RTS; RTS " << on;
    }
    auto sampled = [](int32_t h) { return std::make_tuple(SerialGetDsr(h), SerialGetCts(h), SerialGetDcd(h)); };
    for (auto [dsr, cts, dcd, word] :
         {std::make_tuple(1, 0, 0, 0x20), {0, 1, 1, 0x90}, {0, 1, 0, 0x10}, {0, 0, 1, 0x80}, {1, 1, 1, 0xb0}}) {
        ASSERT_TRUE(CouplerSetInputs(3, dsr, cts, dcd));
        EXPECT_EQ(sampled(handle), std::make_tuple(dsr, cts, dcd)) << "DSR, CTS, DCD";
        EXPECT_EQ(SerialModemStatus(handle), word);
    }
    ASSERT_TRUE(CouplerPortVanish(3, true));
    EXPECT_EQ(sampled(handle), std::make_tuple(0, 0, 0)) << "pulled out";
    EXPECT_EQ(SerialModemStatus(handle), -1) << "pulled out: a failure, not 0";
    // (Switches and new opens refused meanwhile: the coupler suite's pulled adapter.)
    ASSERT_TRUE(CouplerPortVanish(3, false));
    EXPECT_EQ(sampled(handle), std::make_tuple(1, 1, 1)) << "back, the handle works again";

    int32_t closed = handle;
    ASSERT_NE(SerialClose(std::exchange(handle, -1)), 0);
    EXPECT_EQ(std::make_tuple(sampled(closed), SerialModemStatus(closed), SerialSetRts(closed, 1), SerialClose(closed),
                              SerialSettingsMismatch(closed, "com3:9600,n,8,1", 0), SerialInputCount(closed),
                              SerialOutputCount(closed)),
              std::make_tuple(std::make_tuple(0, 0, 0), -1, 0, 0, -1, 0u, 0u))
        << "closed: DSR CTS DCD, status, RTS switch, close, settings, bytes in, bytes out";
}

TEST_F(Serial, TheSettingsAPortDoesNotHoldAreNamed)
{
    // What is asked for, against a port opened at 9600,n,8,1 without
    // handshake: baud 1, data format 2, handshake 4.
    const struct {
        const char* settings;
        int32_t handshake, mismatch;
    } cases[] = {
        {"com3:9600,n,8,1", 0, 0}, {"com3:9600,n,8,1", 1, 0}, {"com3:19200,n,8,1", 0, 1}, {"com3:9600,e,8,1", 0, 2},
        {"com3:9600,n,7,1", 0, 2}, {"com3:9600,n,8,2", 0, 2}, {"com3:9600,n,8,1", 2, 4}, {"com3:9600,n,8,1", 3, 4},
        {"com3:4800,o,8,1", 2, 7},
    };
    ASSERT_GT(Open(), 0);
    for (const auto& c : cases)
        EXPECT_EQ(SerialSettingsMismatch(handle, c.settings, c.handshake), c.mismatch) << c.settings << " " << c.handshake;
    Close();
    ASSERT_GT(Open("com3:9600,n,8,1", 2), 0);
    EXPECT_EQ(SerialSettingsMismatch(handle, "com3:9600,n,8,1", 0), 4) << "RTS/CTS left on";
}

TEST_F(Serial, BytesGoOutWholeAndComeInCounted)
{
    ASSERT_GT(Open(), 0);
    EXPECT_NE(SerialWriteString(handle, ""), 0);
    const std::string text = "SDA=1 \xe4\xf6\xfc\r\n";
    EXPECT_NE(SerialWriteString(handle, text.c_str()), 0);
    EXPECT_NE(SerialWriteBlock(handle, "a\0b\xff", 4), 0);
    EXPECT_EQ(SerialOutputCount(handle), 0u) << "writes are complete on return";
    std::string arrived;
    for (int i = 0; i < 100 && arrived.size() < text.size() + 4; ++i, Sleep(10))
        arrived += CouplerReadFromProgram(3);
    EXPECT_EQ(arrived, text + std::string("a\0b\xff", 4)) << "nothing before, nothing lost";

    ASSERT_TRUE(CouplerWriteToProgram(3, "xyz"));
    uint32_t count = 0;
    for (int i = 0; i < 100 && count < 3; ++i, Sleep(10))
        count = SerialInputCount(handle);
    EXPECT_EQ(count, 3u);
    char bytes[8] = {};
    EXPECT_NE(SerialReadBytes(handle, bytes, 2), 0);
    EXPECT_EQ(SerialInputCount(handle), 1u);
    EXPECT_NE(SerialReadBlock(handle, bytes + 2, 5), 0);
    EXPECT_STREQ(bytes, "xyz") << "a short read ends after the last byte";
}

}  // namespace
