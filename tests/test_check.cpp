// coupler-check.exe end to end, on the virtual coupler's COM3: verdicts and
// exit codes for a healthy and a faulty coupler, ports that cannot be used,
// bad arguments, the CSV record and the steps by hand.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>

#include <functional>
#include <string>

#include "tests/support/coupler_client.h"
#include "tests/support/driver.h"

namespace {

struct Result {
    DWORD code = 99;
    std::string output;  // standard output and error, as the bytes came
};

// Runs the check with input waiting on its standard input; watch sees the
// output so far and may write more input.
Result RunCheck(const std::string& arguments, const std::string& input = "",
                std::function<void(const std::string&, HANDLE)> watch = nullptr)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, inRead, inWrite;
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    CreatePipe(&inRead, &inWrite, &inherit, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = startup.hStdError = outWrite;
    PROCESS_INFORMATION process = {};
    std::string exe = WindowsPath(CT_CHECK_EXE), line = "\"" + exe + "\" " + arguments;
    Result result;
    DWORD done = 0;
    if (CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &done, nullptr);
        bool ended = false;
        for (DWORD start = GetTickCount(); !ended && GetTickCount() - start < 60000;) {
            ended = WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0;
            char buffer[4096];
            while (PeekNamedPipe(outRead, nullptr, 0, nullptr, &done, nullptr) && done > 0 &&
                   ReadFile(outRead, buffer, sizeof buffer, &done, nullptr))
                result.output.append(buffer, done);
            if (watch && !ended)
                watch(result.output, inWrite);
        }
        TerminateProcess(process.hProcess, 98);
        GetExitCodeProcess(process.hProcess, &result.code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    for (HANDLE handle : {outRead, outWrite, inRead, inWrite})
        CloseHandle(handle);
    return result;
}

bool Has(const std::string& output, const std::string& text) { return output.find(text) != std::string::npos; }
bool EndsWith(const std::string& output, const std::string& text)
{
    return output.size() >= text.size() && output.compare(output.size() - text.size(), text.size(), text) == 0;
}

class CheckTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CouplerAttach() && CouplerReset() && CouplerPortPresent(3, true)); }
};

TEST_F(CheckTest, VerdictAndExitCodeFollowTheCoupler)
{
    const std::string usage = "\nAufruf: coupler-check COMn [--baud B]";
    const struct {
        const char* arguments;
        CouplerFaultKind fault;
        int delayMs;
        int busyPort;  // 0: none
        bool absent;   // COM3 not there
        DWORD code;
        std::string output;  // what the output begins with
    } cases[] = {
        {"COM3 --quiet", FAULT_NONE, 0, 0, false, 0, "BESTANDEN\n"},
        {"com3 --quiet --baud 19200 --repeat 50", FAULT_NONE, 0, 0, false, 0, "BESTANDEN\n"},
        {"COM3 --quiet", FAULT_SLOW_SDA, 10, 0, false, 0, "BESTANDEN\n"},
        {"COM3 --quiet", FAULT_SDA_STUCK_LOW, 0, 0, false, 1, "NICHT BESTANDEN: 1 SDA losgelassen\n"},
        {"COM3 --quiet", FAULT_SDA_NOT_WIRED, 0, 0, false, 1, "NICHT BESTANDEN: 1 SDA losgelassen\n"},
        {"COM3 --quiet", FAULT_SDA_STUCK_HIGH, 0, 0, false, 1, "NICHT BESTANDEN: 2 SDA auf Masse\n"},
        {"COM3 --quiet", FAULT_SLOW_SDA, 80, 0, false, 1, "NICHT BESTANDEN: 2 SDA auf Masse\n"},
        {"COM3 --quiet", FAULT_SCL_LEAK, 0, 0, false, 1, u8"NICHT BESTANDEN: 3 SCL stört SDA nicht\n"},
        {"COM3 --quiet", FAULT_INT_STUCK_LOW, 0, 0, false, 1, "NICHT BESTANDEN: 4 INT in Ruhe\n"},
        {"--list", FAULT_NONE, 0, 5, false, 0, "COM3\nCOM5 (belegt)\n"},
        {"COM3", FAULT_NONE, 0, 0, true, 2, "coupler-check: COM3 gibt es nicht\n"},
        {"COM5", FAULT_NONE, 0, 5, false, 2, "coupler-check: COM5 ist belegt\n"},
        {"COM3 --baud 1000", FAULT_NONE, 0, 0, false, 2, "coupler-check: Baudrate 1000 gibt es nicht" + usage},
        {"--quiet", FAULT_NONE, 0, 0, false, 2, "coupler-check: keine Schnittstelle angegeben" + usage},
        {"COM3 --frob", FAULT_NONE, 0, 0, false, 2, "coupler-check: unbekanntes Argument: --frob" + usage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, !c.absent) && CouplerSetFault(3, c.fault, c.delayMs));
        if (c.busyPort) {
            ASSERT_TRUE(CouplerPortPresent(c.busyPort, true) && CouplerPortBusy(c.busyPort, true));
        }
        Result result = RunCheck(c.arguments);
        EXPECT_EQ(c.code, result.code);
        EXPECT_EQ(c.output, result.output.substr(0, c.output.size()));
    }
}

TEST_F(CheckTest, HealthyRunReportsEveryStepAndLeavesTheLinesReleased)
{
    int64_t closes = CouplerCloseCount(3);
    Result result = RunCheck("COM3");
    EXPECT_EQ(0u, result.code);
    for (const char* line : {u8"Kopplerprüfung an COM3, 9600 Baud, 20 Wiederholungen\n",
                             "1   SDA losgelassen         ok           erwartet DSR 1; gelesen DSR 1\n",
                             "2   SDA auf Masse           ok           erwartet DSR folgt DTR binnen 50 ms, 20 mal",
                             u8"3   SCL stört SDA nicht     ok           erwartet DSR bleibt 1 und 0 bei je 20",
                             "4   INT in Ruhe             ok           erwartet CTS 0; gelesen CTS 0\nBESTANDEN\n"})
        EXPECT_TRUE(Has(result.output, line)) << line << result.output;
    // The check left DTR and RTS on; closing the port then dropped them.
    for (int waited = 0; waited < 100 && CouplerCloseCount(3) == closes; waited++)
        Sleep(10);
    EXPECT_EQ(closes + 1, CouplerCloseCount(3));
    EXPECT_EQ(3, CouplerLinesAtClose(3));
    EXPECT_EQ(0, CouplerDtr(3));
}

TEST_F(CheckTest, LogKeepsAHeaderAndOneRowPerRunAndAnUnwritableOneStopsTheCheck)
{
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "chk", 0, path);
    DeleteFileA(path);
    EXPECT_EQ(0u, RunCheck(std::string("COM3 --quiet --log \"") + path + "\"").code);
    ASSERT_TRUE(CouplerSetFault(3, FAULT_SCL_LEAK));
    EXPECT_EQ(1u, RunCheck(std::string("COM3 --quiet --log \"") + path + "\"").code);
    char text[2000];
    FILE* file = fopen(path, "rb");
    ASSERT_TRUE(file);
    std::string log(text, fread(text, 1, sizeof text, file)), header = "zeit,port,baud,ergebnis,erster_fehler,einschwingen_min_ms,"
                                          "einschwingen_median_ms,einschwingen_max_ms\n";
    fclose(file);
    DeleteFileA(path);
    ASSERT_EQ(header, log.substr(0, header.size()));
    size_t second = log.find('\n', header.size()) + 1;
    EXPECT_TRUE(log[header.size() + 4] == '-' && log[header.size() + 10] == 'T') << log;
    EXPECT_EQ(",COM3,9600,BESTANDEN,,", log.substr(header.size() + 19, 22));
    EXPECT_EQ(u8",COM3,9600,NICHT BESTANDEN,3 SCL stört SDA nicht,", log.substr(second + 19, 50));
    EXPECT_EQ(log.size() - 1, log.find('\n', second)) << "exactly two rows";

    int64_t changes = CouplerLineChangeCount(3);
    Result result = RunCheck("COM3 --log Z:\\no-such-folder\\checks.csv");
    EXPECT_EQ(2u, result.code);
    EXPECT_EQ("coupler-check: Protokolldatei Z:\\no-such-folder\\checks.csv: den Ordner gibt es nicht\n",
              result.output);
    EXPECT_EQ(changes, CouplerLineChangeCount(3));
}

TEST_F(CheckTest, StepsByHandPassOnLinesPulledAndReportSkips)
{
    int64_t blinks = -1;
    Result result = RunCheck("COM3 --interactive", "", [&](const std::string& output, HANDLE input) {
        if (Has(output, "5a LED SDA") && blinks < 0) {
            // The LED blinks at about 2 Hz while the question waits.
            int64_t before = CouplerLineChangeCount(3);
            Sleep(1100);
            blinks = CouplerLineChangeCount(3) - before;
            DWORD done;
            WriteFile(input, "jj", 2, &done, nullptr);
        }
        bool sda = Has(output, "5c SDA"), intLine = Has(output, "5d INT");
        if (sda || intLine) {
            (intLine ? CouplerPullInt : CouplerHoldSda)(3, true);
            Sleep(50);
            (intLine ? CouplerPullInt : CouplerHoldSda)(3, false);
        }
    });
    EXPECT_EQ(0u, result.code);
    EXPECT_TRUE(blinks >= 3 && blinks <= 6) << blinks;
    for (const char* line : {"5a  LED SDA                 ok", "5b  LED SCL                 ok",
                             "5c  SDA am Slave auf Masse  ok", "5d  INT auf Masse           ok"})
        EXPECT_TRUE(Has(result.output, line)) << line << result.output;
    EXPECT_TRUE(EndsWith(result.output, "\nBESTANDEN\n")) << result.output;

    result = RunCheck("COM3 --interactive", "ssss");
    EXPECT_EQ(1u, result.code);
    EXPECT_TRUE(Has(result.output, u8"5c  SDA am Slave auf Masse  übersprungen erwartet DSR 0, dann wieder 1"));
    EXPECT_TRUE(EndsWith(result.output, u8"\nNICHT BESTANDEN: 5a LED SDA übersprungen\n")) << result.output;
}

}  // namespace
