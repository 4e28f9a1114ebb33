// coupler-check.exe end to end, on the virtual coupler's COM3: verdicts and
// exit codes for a healthy and a faulty coupler, ports that cannot be used,
// bad arguments, the CSV record and the steps by hand.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/console_run.h"
#include "tools/virtual-coupler/coupler_client.h"

namespace {

// Runs the check with input waiting on its standard input; watch sees the
// output so far and may write more input.
ConsoleRun RunCheck(const std::string& arguments, const std::string& input = "",
                std::function<void(const std::string&, HANDLE)> watch = nullptr)
{
    int64_t requests = CouplerLineRequests(3), closes = CouplerCloseCount(3);
    ConsoleRun result = RunConsole(CT_CHECK_EXE, arguments, input, watch);
    // The coupler drops the lines of a closed port a moment later, which must
    // not land in the next run.
    for (int i = 0; i < 100 && CouplerLineRequests(3) != requests && CouplerCloseCount(3) == closes; i++)
        Sleep(10);
    return result;
}

bool EndsWith(const std::string& output, const std::string& text)
{
    return output.size() >= text.size() && output.compare(output.size() - text.size(), text.size(), text) == 0;
}

// A busy PC may keep a time from being measured for certain: the check then
// refuses to judge, which any run that times the coupler may end with.
bool Refused(const ConsoleRun& run) { return run.code == 2 && Has(run.output, u8"Messung gestört in Schritt "); }

// A run that times the coupler, made again while a busy PC keeps it from judging.
ConsoleRun RunJudged(const std::string& arguments, int* runs = nullptr)
{
    return RunAgainWhile([&] { return RunCheck(arguments); }, Refused, runs);
}

// What the person does at a question (or the coupler, once a text shows):
// after some time, type keys, or what act does to the coupler.
struct Answer {
    const char* question;
    DWORD afterMs;
    const char* keys;
    std::function<bool()> act = nullptr;
};

ConsoleRun RunAnswering(const std::string& arguments, const std::string& early, const std::vector<Answer>& answers)
{
    std::vector<DWORD> seen(answers.size(), 0);
    return RunCheck(arguments, early, [&](const std::string& output, HANDLE input) {
        for (size_t i = 0; i < answers.size(); i++) {
            const Answer& a = answers[i];
            if (!seen[i] && Has(output, a.question))
                seen[i] = GetTickCount();
            if (!seen[i] || seen[i] == 1 || GetTickCount() - seen[i] < a.afterMs)
                continue;
            seen[i] = 1;
            DWORD done;
            if (a.act)
                EXPECT_TRUE(a.act()) << a.question;
            else
                WriteFile(input, a.keys, static_cast<DWORD>(strlen(a.keys)), &done, nullptr);
        }
    });
}

// A line the person pulls for 50 ms (CouplerHoldSda, CouplerPullInt), or SDA held or let go.
std::function<bool()> Pull(bool (*line)(int, bool))
{
    return [line] { return line(3, true) && (Sleep(50), line(3, false)); };
}
std::function<bool()> HoldSda(bool held) { return [held] { return CouplerHoldSda(3, held); }; }

class CheckTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CouplerAttach() && CouplerReset() && CouplerPortPresent(3, true)); }
};

TEST_F(CheckTest, VerdictAndExitCodeFollowTheCouplerAlsoBehindASlowAdapter)
{
    const std::string usage = "\nAufruf: coupler-check " + std::string(USAGE_PORT) + " [--baud B]";
    // A quiet pass (also that of ALogThat...); a DSR that follows late fails step 2 as one that never
    // follows (host-steps: where the step's bound lies).
    const struct {
        const char* arguments;
        CouplerFaultKind fault;
        // The fault's delay, the adapter's status delay and cost per line request; busyPort 0: none.
        int delayMs, adapterMs, costMs, busyPort;
        DWORD code;
        std::string output;  // what the output begins with
        // handshakeKept: the adapter's driver keeps RTS/CTS on, the port refuses its settings; windowsOnly: COMn
        // words and a port locked under Wine (the native ones: native/test_native.cpp).
        bool handshakeKept = false, windowsOnly = false;
    } cases[] = {
        {"com3: --quiet --baud 19200 --repeat 50", FAULT_NONE, 0, 0, 0, 0, 0, "BESTANDEN\n"},
        {"COM3 --quiet", FAULT_SDA_STUCK_LOW, 0, 16, 1, 0, 1, "NICHT BESTANDEN: 1 SDA losgelassen\n"},
        {"COM3 --quiet", FAULT_SDA_STUCK_HIGH, 0, 16, 1, 0, 1, "NICHT BESTANDEN: 2 SDA auf Masse\n"},
        // Samples 30 ms long: the last one without DSR following began before 50 ms, the one with it ended after.
        {"COM3 --quiet --repeat 1", FAULT_SLOW_SDA, 80, 0, 30, 0, 2, u8"Messung gestört in Schritt 2 SDA auf Masse: "},
        {"COM3 --quiet", FAULT_SCL_LEAK, 3, 16, 1, 0, 1, u8"NICHT BESTANDEN: 3 SCL stört SDA nicht\n"},
        {"--list", FAULT_NONE, 0, 0, 0, 5, 0, "COM3\nCOM5 (belegt)\n", false, true},
        {"COM5", FAULT_NONE, 0, 0, 0, 5, 2, "coupler-check: COM5 ist belegt\n", false, true},
        {"COM3 --baud 1000", FAULT_NONE, 0, 0, 0, 0, 2, "coupler-check: Baudrate 1000 gibt es nicht" + usage},
        {"--quiet", FAULT_NONE, 0, 0, 0, 0, 2, "coupler-check: keine Schnittstelle angegeben" + usage},
        {"COM3 --frob", FAULT_NONE, 0, 0, 0, 0, 2, "coupler-check: unbekanntes Argument: --frob" + usage},
        {"--log --quiet COM3", FAULT_NONE, 0, 0, 0, 0, 2, "coupler-check: --log braucht einen Wert" + usage},
        {"com0", FAULT_NONE, 0, 0, 0, 0, 2, "coupler-check: Schnittstelle com0 gibt es nicht: COM1 bis COM255\n", false, true},
        {"COM3 com4:", FAULT_NONE, 0, 0, 0, 0, 2, "coupler-check: zwei Schnittstellen: COM3 und com4:\n", false, true},
        {"COM3 --repeat 0", FAULT_NONE, 0, 0, 0, 0, 2, "coupler-check: --repeat 0: erlaubt sind 1 bis 10000\n"},
        // Who ran the check goes into the record or the JSON object only: without them it would be lost.
        {"COM3 --log probe.csv --station P3", FAULT_NONE, 0, 0, 0, 0, 2,
         u8"coupler-check: --station gilt nur mit --record oder --json: ohne sie käme die Angabe nirgends hin" + usage},
        {"COM3 --expect 50,7", FAULT_NONE, 0, 0, 0, 0, 2,
         "coupler-check: --expect 50,7: Adressen 08 bis 77, mit Kommas getrennt\n"},
    };
    for (const auto& c : cases) {
        if (c.windowsOnly && !WINDOWS_PROGRAMS)
            continue;
        SCOPED_TRACE(std::string(c.arguments) + ", fault " + std::to_string(c.fault) + ", " + std::to_string(c.adapterMs));
        ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetFault(3, c.fault, c.delayMs));
        ASSERT_TRUE(!(c.adapterMs || c.costMs || c.handshakeKept) ||
                    CouplerSetAdapter(3, c.adapterMs, c.costMs, c.handshakeKept));
        ASSERT_TRUE(!c.busyPort || (CouplerPortPresent(c.busyPort, true) && CouplerPortBusy(c.busyPort, true)));
        ConsoleRun result = RunCheck(c.arguments);
        if (c.code < 2 && (c.fault == FAULT_NONE || c.fault == FAULT_SLOW_SDA || c.fault == FAULT_SCL_LEAK) && Refused(result))
            continue;
        EXPECT_EQ(c.code, result.code);
        EXPECT_EQ(c.output, result.output.substr(0, c.output.size())) << result.output;
    }
}

TEST_F(CheckTest, AnAdapterPulledAtAnyLineRequestEndsTheRunWithExitCode2AndARowThatSaysSo)
{
    // The wiring steps at 1 ms a request, so that every run's requests come
    // alike; the scan at full speed. The requests of the wiring steps and of
    // the whole run spread the pulls over steps 1 to 3 and over the scan; two
    // more land in step 4 and while a step by hand asks.
    auto run = [](const std::string& arguments, int64_t* requests, const char* when = nullptr) {
        int64_t before = CouplerLineRequests(3);
        EXPECT_TRUE(CouplerSetChips(3, 7) && CouplerSetAdapter(3, 0, 1));
        ConsoleRun result = RunCheck(arguments, "", [when](const std::string& out, HANDLE) {
            Has(out, "\n4   INT") && CouplerSetAdapter(3, 0, 0);
            when && Has(out, when) && CouplerPortVanish(3, true);
        });
        *requests = CouplerLineRequests(3) - before;
        return result;
    };
    int64_t wiring = 0, whole = 0, made = 0;
    std::string log = TempPath("chk"), arguments = "COM3 --repeat 5 --expect 50,20,48 --log " + log;
    ConsoleRun counted[] = {run("COM3 --repeat 5", &wiring), run("COM3 --repeat 5 --expect 50,20,48", &whole)};
    for (const ConsoleRun& result : counted)
        ASSERT_TRUE(result.code == 0 || Refused(result)) << result.output;
    // Natively the open reads the lines first: a pull at once is its refusal (native/test_native.cpp).
    std::vector<int> pulls = {WINDOWS_PROGRAMS ? 0 : 3, 1, 2, -1, -2};
    for (int part = 1; part <= 8; part++)
        pulls.push_back(static_cast<int>(wiring * part / 10));
    for (int part = 1; part <= 6; part++)
        pulls.push_back(static_cast<int>(wiring + (whole - wiring) * part / 7));
    size_t pulled = 0, inScan = 0;
    for (int pull : pulls) {
        SCOPED_TRACE(std::to_string(pull) + " of " + std::to_string(whole) + ", wiring " + std::to_string(wiring));
        size_t rowAt = 0;
        ConsoleRun result = RunAgainWhile([&] {
            EXPECT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && (pull < 0 || CouplerVanishAfter(3, pull)));
            rowAt = Slurp(log).size();
            return pull >= 0    ? run(arguments, &made)
                   : pull == -1 ? run(arguments + " --repeat 200", &made, "\n3   SCL")
                                : run(arguments + " --interactive", &made, "5a LED SDA:");
        }, Refused);
        // A run may take fewer requests than the counted one (a busy machine made the counted
        // one's measurements repeat): where it ended before the pull, there was nothing to see.
        if (Refused(result) || (pull >= 0 && made <= pull && result.code == 0))
            continue;
        pulled++;
        EXPECT_EQ(2u, result.code);
        // A scan that ended with the port has no line; the wiring before it passed, and the row
        // has its figures. A pull meant for the scan lands in the wiring where a busy machine
        // made its measurements repeat (more requests than the counted run's).
        EXPECT_TRUE(EndsWith(result.output, "\nSchnittstelle verloren\n") && !Has(result.output, "BESTANDEN") &&
                    !Has(result.output, "\nBus ")) << result.output;
        bool scanning = Has(result.output, "\n4   INT in Ruhe             ok");
        inScan += pull > wiring && scanning;
        std::string row = Slurp(log).substr(rowAt);
        EXPECT_EQ(1u, Count(row, u8";NICHT MÖGLICH;Schnittstelle verloren;")) << row;
        EXPECT_TRUE(!scanning || isdigit(static_cast<unsigned char>(row[row.find("verloren;") + 9]))) << row;
    }
    EXPECT_GE(pulled, pulls.size() / 2);
    EXPECT_GE(inScan, 2u) << "of the 6 pulls meant for the scan";
    DeleteFileA(log.c_str());
}

TEST_F(CheckTest, RepeatsSettleFiguresAndTheRecordFollowWhatTheLinesDid)
{
    // Line changes of a run: the open switches DTR on, the check RTS; step 2
    // switches DTR 2N times; step 3 makes N RTS edges rounded up to even with
    // SDA released, then with SDA driven, and DTR off and on around them; the
    // close drops both lines at once.
    std::string log = TempPath("chk");
    // Behind 1 ms a request the settle times spread over about a millisecond.
    ASSERT_TRUE(CouplerSetFault(3, FAULT_SLOW_SDA, 10) && CouplerSetAdapter(3, 0, 1));
    int64_t closes = CouplerCloseCount(3), changes = CouplerLineChangeCount(3);
    ConsoleRun five = RunCheck("COM3 --repeat 5 --log " + log);
    changes = CouplerLineChangeCount(3) - changes;
    // A round or an edge measured again after a preemption adds its changes;
    // a run the PC kept from judging shows nothing to compare.
    if (Refused(five))
        GTEST_SKIP() << five.output;
    EXPECT_TRUE(Has(five.output, "wiederholt") ? changes > 25 : changes == 1 + 1 + 10 + 6 + 6 + 2 + 1) << changes;
    // Every step reported; the lines left on for the one close.
    for (const char* line : {u8"Kopplerprüfung an COM3, 9600 Baud, 5 Wiederholungen\n",
                             "1   SDA losgelassen         ok           erwartet DSR 1; gelesen DSR 1\n",
                             "2   SDA auf Masse           ok           erwartet DSR folgt DTR binnen 50 ms, 5 mal",
                             u8"3   SCL stört SDA nicht     ok           erwartet DSR bleibt 1 und 0 bei je 6",
                             "4   INT in Ruhe             ok           erwartet CTS 0; gelesen CTS 0\nBESTANDEN\n"})
        EXPECT_TRUE(Has(five.output, line)) << line << five.output;
    EXPECT_EQ(closes + 1, CouplerCloseCount(3));
    EXPECT_EQ(3, CouplerLinesAtClose(3));
    // Step 2 saw DSR follow 10 ms late; step 3 watched twice that and more.
    double min = 0, median = 0, max = 0, csv[3] = {};
    int window = 0;
    size_t at = five.output.find("Einschwingzeit min ");
    ASSERT_TRUE(at != std::string::npos &&
                sscanf(five.output.c_str() + at, "Einschwingzeit min %lf, Median %lf, max %lf", &min, &median, &max) == 3)
        << five.output;
    // A figure is an upper bound: a preemption lengthens it, and a round
    // beyond the limit is measured again.
    EXPECT_TRUE(median > 5 && min <= median && median <= max && min < max && max < 50)
        << min << " " << median << " " << max;
    at = five.output.find("je 6 RTS-Wechseln, je ");
    EXPECT_TRUE(at != std::string::npos && sscanf(five.output.c_str() + at + 22, "%d", &window) == 1 && window >= 20)
        << "5 edges rounded up to end with RTS on, watched 20 ms or more\n" << five.output;

    std::string rows = Slurp(log);
    DeleteFileA(log.c_str());
    const std::string header = "\xEF\xBB\xBFzeit;port;baud;wiederholungen;handschritte;ergebnis;erster_fehler;"
                               "einschwingen_min_ms;einschwingen_median_ms;einschwingen_max_ms;schalten_ms;abfrage_ms\r\n";
    ASSERT_EQ(header, rows.substr(0, header.size()));
    EXPECT_TRUE(rows[header.size() + 4] == '-' && rows[header.size() + 10] == 'T') << rows;
    // After the time: the port as the program names it, then the fields.
    const std::string passed = ";" + PortName(3) + ";9600;5;nein;BESTANDEN;;";
    EXPECT_EQ(passed, rows.substr(header.size() + 25, passed.size()));
    size_t from = header.size() + 25 + passed.size();
    std::string figures = rows.substr(from, rows.find("\r\n", header.size()) - from);
    for (char& c : figures)
        c = c == ',' ? '.' : c == ';' ? ' ' : c;
    // Then what a switch and a sample cost the adapter.
    double cost[2] = {};
    ASSERT_EQ(5, sscanf(figures.c_str(), "%lf %lf %lf %lf %lf", &csv[0], &csv[1], &csv[2], &cost[0], &cost[1]))
        << figures;
    EXPECT_TRUE(fabs(csv[0] - min) < 0.006 && fabs(csv[1] - median) < 0.006 && fabs(csv[2] - max) < 0.006) << figures;
    EXPECT_TRUE(cost[0] > 0 && cost[1] > 0) << figures;
}

TEST_F(CheckTest, ALogThatCannotTakeARowStopsTheCheckBeforeThePortASharedOneDoesNot)
{
    // Held without sharing: natively (posix/windows.h) locked as another station locks it.
    std::string held = TempPath("chk");
    HANDLE file = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const bool windows = WINDOWS_PROGRAMS;
    const struct {
        std::string log;
        const char* reason;
    } cases[] = {
        {windows ? "NUL" : "/dev/null", u8"ein Gerät, keine Datei"},
        {windows ? "C:\\com4.csv" : "/dev/zero", u8"ein Gerät, keine Datei"},
        {windows ? "C:\\windows" : "/tmp", "ein Ordner, keine Datei"},
        {windows ? "Z:\\no-such-folder\\checks.csv" : "/no-such-folder/checks.csv", "den Ordner gibt es nicht"},
        {held, "in Benutzung (von einem anderen Programm "},
    };
    for (const auto& c : cases) {
        int64_t changes = CouplerLineChangeCount(3);
        ConsoleRun result = RunCheck("COM3 --log " + c.log);
        EXPECT_EQ(2u, result.code);
        EXPECT_EQ("coupler-check: Protokolldatei " + c.log + ": " + c.reason, result.output.substr(0, 32 + c.log.size() + strlen(c.reason)));
        EXPECT_EQ(changes, CouplerLineChangeCount(3)) << c.log;
    }
    CloseHandle(file);
    // A spreadsheet holding the file for reading and writing blocks nothing.
    file = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ConsoleRun shared = RunCheck("COM3 --quiet --log " + held);
    CloseHandle(file);
    EXPECT_TRUE(shared.code == 0 || Refused(shared)) << shared.output;
    EXPECT_TRUE(Has(Slurp(held), ";" + PortName(3) + (shared.code ? u8";9600;20;nein;NICHT MÖGLICH;Messung gestört" : ";9600;20;nein;BESTANDEN;;")));
    DeleteFileA(held.c_str());
}

TEST_F(CheckTest, EveryRowHasTheHeadersFieldsAndTheVerdictItsWholeText)
{
    // Faults that land once step 3 has passed, while step 4 reads CTS 100
    // times at 1 ms a request (at 10 ms step 3's samples lie too far apart to
    // judge): the bus step finds the coupler's wiring gone bad.
    auto late = [](std::function<bool()> act) { return std::vector<Answer>{{"\n3   SCL", 0, "", act}}; };
    const std::string many = "08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,50";
    const struct {
        std::string arguments;
        std::function<bool()> setUp;
        std::vector<Answer> answers;
        DWORD code;
        std::string verdict;             // the output's last line
        std::vector<std::string> shown;  // step lines' words
        std::string row;                 // the row's result and first failure
        std::string early = "";          // keys typed before the run asks anything
    } cases[] = {
        {"", [] { return true; }, {}, 0, "BESTANDEN", {"4   INT in Ruhe             ok"}, ";nein;BESTANDEN;;"},
        {"", [] { return CouplerSetFault(3, FAULT_INT_STUCK_LOW); }, {}, 1, "NICHT BESTANDEN: 4 INT in Ruhe", {"gelesen CTS 1"}, ";NICHT BESTANDEN;4 INT in Ruhe;"},
        // The steps by hand wait for the person: a key, SDA pulled at a slave, INT pulled.
        {" --interactive", [] { return true; }, {{"5a LED SDA:", 700, "j"}, {"5b LED SCL:", 700, "n"},
         {"5c SDA am Slave", 200, "", Pull(CouplerHoldSda)}, {"5d INT auf", 200, "", Pull(CouplerPullInt)}}, 1, "NICHT BESTANDEN: 5b LED SCL",
         {"5a  LED SDA                 ok", "5b  LED SCL                 FEHLER       erwartet blinkt; gelesen blinkt nicht",
          "5c  SDA am Slave auf Masse  ok", "5d  INT auf Masse           ok"}, ";ja;NICHT BESTANDEN;5b LED SCL;"},
        // Keys typed before the question and within the LED's first period count for nothing; SDA
        // left low by the blinking (40 ms) or by a slave before the question is not the person.
        {" --interactive", [] { return CouplerSetFault(3, FAULT_SLOW_SDA, 40); }, {{"5a LED SDA:", 0, "n"}, {"5a LED SDA:", 700, "j"},
         {"5b LED SCL:", 0, "", HoldSda(true)}, {"5b LED SCL:", 700, "s"}, {"5c SDA am Slave", 200, "", HoldSda(false)},
         {"5c SDA am Slave", 400, "s"}, {"5d INT auf", 400, "s"}}, 3, u8"UNVOLLSTÄNDIG: 5b LED SCL übersprungen",
         {u8"5a  LED SDA                 ok", u8"5b  LED SCL                 übersprungen",
          u8"5c  SDA am Slave auf Masse  übersprungen erwartet DSR 0, dann wieder 1", u8"5d  INT auf Masse           übersprungen"},
         u8";ja;UNVOLLSTÄNDIG;5b LED SCL übersprungen;", "ns"},
        {"", [] { return CouplerVanishAfter(3, 3); }, {}, 2, "Schnittstelle verloren", {}, u8";NICHT MÖGLICH;Schnittstelle verloren;;;;"},
        {"", [] { return CouplerSetAdapter(3, 0, 0, true); }, {}, 2, u8"Einstellung Handshake nicht übernommen", {},
         u8";NICHT MÖGLICH;Einstellung Handshake nicht übernommen;;;;;\r\n"},
        {"", [] { return CouplerPortPresent(3, false); }, {}, 2, "coupler-check: COM3 gibt es nicht", {}, u8";NICHT MÖGLICH;"},
        {" --expect 20,0x21,3d", [] { return CouplerSetChips(3, 7); }, {}, 1,
         "NICHT BESTANDEN: Bus 21 fehlt, 3d fehlt, 48 zu viel, 50 zu viel", {"erwartet 20 21 3d; gelesen 20 48 50"},
         ";NICHT BESTANDEN;Bus 21 fehlt, 3d fehlt, 48 zu viel, 50 zu viel;"},
        {" --expect " + many, [] { return CouplerSetChips(3, 7); }, {}, 1,
         "NICHT BESTANDEN: Bus 08 fehlt, 09 fehlt, 0a fehlt, 0b fehlt, 0c fehlt, 0d fehlt, 0e fehlt, 0f fehlt, 10 fehlt, 11 fehlt, "
         "12 fehlt, 13 fehlt, 14 fehlt, 15 fehlt, 16 fehlt, 17 fehlt, 18 fehlt, 19 fehlt, 1a fehlt, 1b fehlt und 6 weitere",
         {"erwartet 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f 50; gelesen 20 48 50"},
         ";NICHT BESTANDEN;Bus 08 fehlt, 09 fehlt, 0a fehlt, "},
        {" --repeat 100 --expect 50", [] { return CouplerSetChips(3, 1) && CouplerSetAdapter(3, 0, 1); },
         late([] { return CouplerSetBusFault(3, BUS_NO_PULLUP); }), 1, "NICHT BESTANDEN: Bus blockiert",
         {u8"gelesen SDA bleibt auf Masse: Pull-up und Bausteine prüfen"}, ";NICHT BESTANDEN;Bus blockiert;"},
        {" --repeat 100 --expect 50", [] { return CouplerSetChips(3, 1) && CouplerSetAdapter(3, 0, 1); },
         late([] { return CouplerSetFault(3, FAULT_SDA_STUCK_HIGH); }), 1, "NICHT BESTANDEN: Bus SDA folgt DTR nicht",
         {u8"gelesen DSR bleibt an: SDA-Treiber des Kopplers prüfen"}, ";NICHT BESTANDEN;Bus SDA folgt DTR nicht;"},
        {" --repeat 100 --expect 50", [] { return CouplerSetChips(3, 1) && CouplerSetAdapter(3, 0, 1); },
         late([] { return CouplerSetAdapter(3, 60, 10); }), 1, "NICHT BESTANDEN: Bus Adapter zu langsam",
         {u8" ms (höchstens 50 ms): anderen Adapter nehmen"}, ";NICHT BESTANDEN;Bus Adapter zu langsam;"},
    };
    // The record begins with a row written by hand without its line break.
    std::string log = TempPath("chk");
    FILE* file = fopen(log.c_str(), "wb");
    ASSERT_TRUE(file && fputs("von Hand", file) >= 0 && fclose(file) == 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.verdict);
        ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && c.setUp());
        size_t rowAt = Slurp(log).size();
        ConsoleRun result = RunAnswering("COM3 --repeat 2 --log " + log + c.arguments, c.early, c.answers);
        if (Refused(result))
            continue;
        EXPECT_EQ(c.code, result.code);
        EXPECT_TRUE(EndsWith(result.output, "\n" + c.verdict + "\n") || result.output == c.verdict + "\n") << result.output;
        for (const std::string& line : c.shown)
            EXPECT_TRUE(Has(result.output, line)) << line << result.output;
        std::string row = Slurp(log).substr(rowAt);
        EXPECT_TRUE(Has(row, ";" + PortName(3) + ";") && Has(row, c.row)) << row;
        // Whatever stopped the run, the lines were left on for the close.
        EXPECT_TRUE(Has(c.row, "verloren") || Has(c.row, "gibt es nicht") || CouplerLinesAtClose(3) == 3)
            << CouplerLinesAtClose(3);
    }
    std::string rows = Slurp(log);
    DeleteFileA(log.c_str());
    EXPECT_EQ(0u, rows.find("von Hand\r\n")) << rows;
    size_t count = 0;
    for (size_t at = rows.find("\r\n") + 2, end; (end = rows.find("\r\n", at)) != std::string::npos; at = end + 2, count++)
        EXPECT_EQ(11, std::count(rows.begin() + at, rows.begin() + end, ';')) << rows.substr(at, end - at);
    EXPECT_EQ(sizeof cases / sizeof cases[0], count) << rows;
}

TEST_F(CheckTest, TheJsonLinesRecordHoldsEachRunWithItsStepsAndWhoRanIt)
{
    std::string record = TempPath("rec");
    ConsoleRun passed = RunCheck("COM3 --repeat 2 --quiet --record " + record + " --serial K-0042 --operator \"Eva Muster\" --station P3");
    // A busy PC may keep the run from judging: no passed run to read then.
    if (Refused(passed))
        GTEST_SKIP() << passed.output;
    EXPECT_EQ(0u, passed.code);
    ASSERT_TRUE(CouplerSetFault(3, FAULT_INT_STUCK_LOW));
    std::string log = TempPath("csv");
    int runs = 0;
    EXPECT_EQ(1u, RunJudged("COM3 --repeat 2 --quiet --record " + record + " --log " + log, &runs).code);
    // The failed run is the last line; a run the PC kept from judging has a line of its own before it.
    std::string rows = Slurp(record), second = rows.substr(rows.rfind('\n', rows.size() - 2) + 1);
    // One time a run, with its offset from UTC, in the record and the row alike.
    std::string time = second.substr(9, 25);
    EXPECT_TRUE(Has("+-", time.substr(19, 1)) && time[22] == ':' && Has(Slurp(log), "\r\n" + time + ";")) << time;
    DeleteFileA(log.c_str());
    // A JSON reader takes every line (natively, where one is at hand), and
    // --json gives the run as one object on standard output.
    ConsoleRun json = RunJudged("COM3 --repeat 2 --json --serial K-0043");
    EXPECT_EQ(1u, json.code);
    EXPECT_EQ(0u, json.output.find("{\"program\":\"coupler-check\",\"command\":\"check\",\"time\":")) << json.output;
    if (!WINDOWS_PROGRAMS) {
        EXPECT_EQ(0, system(("python3 -c 'import json,sys; [json.loads(l) for l in open(sys.argv[1])]' " + record).c_str()));
        EXPECT_EQ("failed K-0043 1 4 failed None step_failed\n",
                  JsonSays(json.output, "d[\"verdict\"], d[\"serial\"], d[\"exit_code\"], d[\"steps\"][3][\"step\"],"
                                        " d[\"steps\"][3][\"outcome\"], d[\"error\"], d[\"error_code\"]"))
            << json.output;
        // Each port an object of these keys, whatever ports the machine has.
        EXPECT_EQ("0 list True None\n",
                  JsonSays(RunConsole(CT_CHECK_EXE, "--list --json", "", nullptr, true).output,
                           "d[\"exit_code\"], d[\"command\"], all(sorted(p) == [\"busy\", \"holder\", \"names\", \"path\"]"
                           " and (p[\"holder\"] is None or sorted(p[\"holder\"]) == [\"pid\", \"program\"]) for p in d[\"ports\"]),"
                           " d[\"error_code\"]"));
        EXPECT_EQ("2 None check usage\n", JsonSays(RunConsole(CT_CHECK_EXE, "--json --baud 7", "", nullptr, true).output,
                                                  "d[\"exit_code\"], d[\"port\"], d[\"command\"], d[\"error_code\"]"));
    }
    DeleteFileA(record.c_str());
    // One object a line, the keys for programs, the texts for people.
    EXPECT_EQ(1u + runs, Count(rows, "\n"));
    EXPECT_EQ(0u, rows.find("{\"time\":\"")) << rows;
    EXPECT_TRUE(Has(rows, ",\"port\":\"" + PortName(3) + "\",\"baud\":9600,\"repeat\":2,\"by_hand\":false,\"verdict\":"
                          "\"passed\",\"detail\":null,\"steps\":[{\"step\":1,\"label\":\"1\",\"name\":\"SDA losgelassen\",\"outcome\":"
                          "\"ok\",\"expected\":\"DSR 1\",\"read\":\"DSR 1\"}") &&
                Has(rows, ",\"serial\":\"K-0042\",\"operator\":\"Eva Muster\",\"station\":\"P3\"}\n{\"time\""))
        << rows;
    EXPECT_TRUE(Has(second, u8"\"verdict\":\"failed\",\"detail\":\"4 INT in Ruhe\"") &&
                Has(second, "\"serial\":null,\"operator\":null,\"station\":null}\n"))
        << second;
}

}  // namespace
