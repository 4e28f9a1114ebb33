// The serial layer on virtual ports: what the tester and other users of the
// layer rely on, checked from both ends (the platform's view of the open port
// and the virtual coupler's view of the line).
#include <gtest/gtest.h>

#include <windows.h>
#include <string.h>

#include <string>

#include "serial/serial.h"
#include "tests/support/coupler_client.h"

namespace {

constexpr int COM = 3;
const char* const SETTINGS = "com3:9600,n,8,1";

// Waits until the coupler has seen the program's bytes, at most a second.
std::string ReadFromProgram(int com, size_t expected)
{
    std::string bytes;
    for (int i = 0; i < 100 && bytes.size() < expected; i++) {
        bytes += CouplerReadFromProgram(com);
        if (bytes.size() < expected)
            Sleep(10);
    }
    return bytes;
}

DCB PortState(int32_t handle)
{
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)), &dcb));
    return dcb;
}

class SerialTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(CouplerAttach()) << "no virtual coupler: run the suite through scripts/test";
    }
    void SetUp() override
    {
        ASSERT_TRUE(CouplerReset());
        ASSERT_TRUE(CouplerPortPresent(COM, true));
    }
    void TearDown() override
    {
        Close();
        CouplerReset();
    }
    // Opens com3 with the tester's own arguments.
    int32_t Open(const char* settings = SETTINGS, int32_t handshake = 0)
    {
        handle = SerialOpen(settings, handshake, 1024, 1024);
        return handle;
    }
    void Close()
    {
        if (handle > 0)
            SerialClose(handle);
        handle = -1;
    }
    int32_t handle = -1;
};

// ---------------------------------------------------------------------------
// Open and configuration

TEST_F(SerialTest, OpenAppliesTheLineParametersTimeoutsAndHandshake)
{
    // A pseudo-terminal always runs 8 data bits without parity (the kernel
    // forces them), so only speed and stop bits can differ on the line.
    struct Case {
        const char* settings;
        DWORD baud, parity, byteSize, stopBits;
    } cases[] = {{SETTINGS, 9600, NOPARITY, 8, ONESTOPBIT}, {"com3:4800,e,7,2", 4800, EVENPARITY, 7, TWOSTOPBITS}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        ASSERT_GT(Open(c.settings), 0);
        DCB dcb = PortState(handle);
        EXPECT_EQ(dcb.BaudRate, c.baud);
        EXPECT_EQ(dcb.StopBits, c.stopBits);
        EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE)) << "no handshake";
        EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
        CouplerLine line;
        ASSERT_TRUE(CouplerLineSettings(COM, &line));
        EXPECT_EQ(line.baud, c.baud);
        EXPECT_EQ(line.stopBits, c.stopBits == TWOSTOPBITS ? 2u : 1u);
        EXPECT_FALSE(line.rtsCts);
        if (c.parity == NOPARITY) {
            EXPECT_EQ(dcb.Parity, NOPARITY);
            EXPECT_EQ(dcb.ByteSize, 8);
            EXPECT_EQ(line.parity, 'n');
            EXPECT_EQ(line.dataBits, 8u);
        }
        Close();
    }

    ASSERT_GT(Open(SETTINGS, 2), 0);   // RTS/CTS handshake
    CouplerLine line;
    ASSERT_TRUE(CouplerLineSettings(COM, &line));
    EXPECT_TRUE(line.rtsCts);
    COMMTIMEOUTS timeouts;
    ASSERT_TRUE(GetCommTimeouts(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 100u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 100u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier | timeouts.WriteTotalTimeoutConstant, 0u);
}

TEST_F(SerialTest, RejectedSettingsKeepTheHandleAndThePreviousParameters)
{
    ASSERT_GT(Open("com3:4800,n,8,1"), 0);
    Close();
    ASSERT_GT(Open("com3:fast,n,8,1"), 0);
    EXPECT_EQ(PortState(handle).BaudRate, 4800u);
    CouplerLine line;
    ASSERT_TRUE(CouplerLineSettings(COM, &line));
    EXPECT_EQ(line.baud, 4800u);
    EXPECT_NE(SerialSetDtr(handle, 1), 0) << "the handle is open and usable";
}

// ---------------------------------------------------------------------------
// Ports that cannot be opened, and which port a string names

TEST_F(SerialTest, AbsentBusyAndVanishedPortsDoNotOpen)
{
    EXPECT_EQ(SerialOpen("com4:9600,n,8,1", 0, 1024, 1024), -1) << "absent";

    ASSERT_GT(Open(), 0);
    ASSERT_TRUE(CouplerPortBusy(COM, true));
    EXPECT_EQ(SerialOpen(SETTINGS, 0, 1024, 1024), -1) << "busy while the first handle is open";
    EXPECT_NE(SerialSetRts(handle, 1), 0) << "the first handle keeps working";
    ASSERT_TRUE(CouplerPortBusy(COM, false));
    Close();

    ASSERT_TRUE(CouplerPortVanish(COM, true));
    EXPECT_EQ(SerialOpen(SETTINGS, 0, 1024, 1024), -1) << "vanished";
    ASSERT_TRUE(CouplerPortVanish(COM, false));
    EXPECT_GT(Open(), 0) << "back again";
}

TEST_F(SerialTest, TheDeviceIsComAndItsDigitsAndNothingElseOpens)
{
    // A stray file whose name the string would give if it were taken as a path.
    HANDLE stray = CreateFileA(":960", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(stray, INVALID_HANDLE_VALUE);
    CloseHandle(stray);
    ASSERT_TRUE(CouplerPortPresent(12, true));
    ASSERT_TRUE(CouplerPortPresent(1, true));
    const struct {
        const char* settings;
        int com;   // the port whose RTS must follow, 0: the open must fail
    } cases[] = {
        {"com12:9600,n,8,1", 12}, {"COM3:9600,n,8,1", 3}, {"com3 baud=9600 parity=N data=8 stop=1", 3},
        {"Com3", 3},              {":9600,n,8,1", 0},     {"comx:9600,n,8,1", 0},
        {"com:9600,n,8,1", 0},    {"com3x:9600", 0},      {"com13:9600,n,8,1", 0},
    };
    for (const auto& c : cases) {
        handle = SerialOpen(c.settings, 0, 1024, 1024);
        if (c.com == 0) {
            EXPECT_EQ(handle, -1) << c.settings;
        } else {
            ASSERT_GT(handle, 0) << c.settings;
            EXPECT_NE(SerialSetRts(handle, 1), 0) << c.settings;
            EXPECT_EQ(CouplerRts(c.com), 1) << c.settings;
            EXPECT_EQ(CouplerRts(1), 0) << c.settings << ": never com1";
            SerialSetRts(handle, 0);
        }
        Close();
    }
    DeleteFileA(":960");
}

// ---------------------------------------------------------------------------
// Modem lines

TEST_F(SerialTest, OnlyZeroClearsDtrAndRts)
{
    ASSERT_GT(Open(), 0);
    for (int32_t on : {1, 2, -1}) {
        ASSERT_TRUE(SerialSetDtr(handle, 0) && SerialSetRts(handle, 0));
        EXPECT_EQ(CouplerDtr(COM) | CouplerRts(COM), 0);
        ASSERT_NE(SerialSetDtr(handle, on), 0);
        EXPECT_EQ(CouplerDtr(COM), 1) << "state " << on;
        EXPECT_EQ(CouplerRts(COM), 0) << "DTR alone";
        ASSERT_NE(SerialSetRts(handle, on), 0);
        EXPECT_EQ(CouplerRts(COM), 1) << "state " << on;
        EXPECT_EQ(CouplerDtr(COM), 1);
    }
}

// The three samplers on an open port (each line apart), then on a vanished
// port and a closed handle, where every one answers 0.
TEST_F(SerialTest, SamplersReadTheInputLinesApartAndAnswerZeroWithoutAPort)
{
    ASSERT_GT(Open(), 0);
    auto sampled = [](int32_t h) { return SerialGetDsr(h) * 100 + SerialGetCts(h) * 10 + SerialGetDcd(h); };
    ASSERT_TRUE(CouplerSetInputs(COM, true, false, false));
    EXPECT_EQ(sampled(handle), 100);
    ASSERT_TRUE(CouplerSetInputs(COM, false, true, true));
    EXPECT_EQ(sampled(handle), 11);
    ASSERT_TRUE(CouplerSetInputs(COM, true, true, true));
    ASSERT_EQ(sampled(handle), 111);

    ASSERT_TRUE(CouplerPortVanish(COM, true));
    EXPECT_EQ(sampled(handle), 0) << "vanished";
    EXPECT_EQ(SerialSetDtr(handle, 1), 0);
    ASSERT_TRUE(CouplerPortVanish(COM, false));

    int32_t closed = handle;
    ASSERT_NE(SerialClose(handle), 0);
    handle = -1;
    EXPECT_EQ(sampled(closed), 0) << "closed";
    EXPECT_EQ(SerialSetRts(closed, 1), 0);
    EXPECT_EQ(SerialInputCount(closed) + SerialOutputCount(closed), 0u);
    EXPECT_EQ(SerialClose(closed), 0);
}

// ---------------------------------------------------------------------------
// Bytes

TEST_F(SerialTest, ReadWithoutDataEndsByTimeOut)
{
    ASSERT_GT(Open(), 0);
    unsigned char buffer = 0xA5;
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    int32_t ok = SerialReadByte(handle, &buffer);
    QueryPerformanceCounter(&after);
    double ms = (after.QuadPart - before.QuadPart) * 1000.0 / frequency.QuadPart;
    EXPECT_NE(ok, 0);
    EXPECT_EQ(buffer, 0xA5);
    EXPECT_GE(ms, 80.0);
    EXPECT_LE(ms, 600.0);
}

TEST_F(SerialTest, TextsArriveWholeAndEmptyTextsSendNothing)
{
    ASSERT_GT(Open(), 0);
    EXPECT_NE(SerialWriteString(handle, ""), 0);
    const std::string text = "SDA=1 SCL=0 \xe4\xf6\xfc\r\n";
    EXPECT_NE(SerialWriteString(handle, text.c_str()), 0);
    EXPECT_EQ(ReadFromProgram(COM, text.size()), text) << "nothing before it, nothing lost";

    const char block[4] = {'a', '\0', 'b', '\xff'};
    EXPECT_NE(SerialWriteBlock(handle, block, sizeof block), 0);
    EXPECT_EQ(ReadFromProgram(COM, sizeof block), std::string(block, sizeof block));
    EXPECT_EQ(SerialOutputCount(handle), 0u) << "writes are complete on return";
}

TEST_F(SerialTest, ArrivedBytesAreCountedAndRead)
{
    ASSERT_GT(Open(), 0);
    ASSERT_TRUE(CouplerWriteToProgram(COM, "xyz"));
    uint32_t count = 0;
    for (int i = 0; i < 100 && count < 3; i++, Sleep(10))
        count = SerialInputCount(handle);
    EXPECT_EQ(count, 3u);

    char bytes[8];
    memset(bytes, 0, sizeof bytes);
    EXPECT_NE(SerialReadBytes(handle, bytes, 2), 0);
    EXPECT_STREQ(bytes, "xy");
    EXPECT_EQ(SerialInputCount(handle), 1u);
    EXPECT_NE(SerialReadBlock(handle, bytes + 2, 5), 0);
    EXPECT_STREQ(bytes, "xyz") << "a short read ends after the last byte";
}

}  // namespace
