// coupler-station on the virtual coupler's COM3: a good unit and its record,
// the faults a plan catches (a missing chip, a sensor out of its limits, a
// write-protected EEPROM), a stop inside a unit, and a record file that
// cannot take a unit's line.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/console_run.h"
#include "tools/virtual-coupler/coupler_client.h"

extern pid_t consoleChild;

namespace {

// The board's plan: its six steps after the check and the bus, limits as given.
std::string PlanText(const char* temperatureLimits)
{
    return std::string("[board]\nname = \"KP-3\"\nversion = \"B\"\n[check]\nrepeat = 2\n"
                       "[bus]\nchips = [0x50, 0x20, 0x48]\n"
                       "[[step]]\nname = \"EEPROM programmieren\"\nkind = \"eeprom\"\ntype = \"24c02\"\nfile = \"image.bin\"\n"
                       "[[step]]\nname = \"Expander konfigurieren\"\nkind = \"register-write\"\naddress = 0x20\nvalue = 0x0F\n"
                       "[[step]]\nname = \"Konfiguration lesen\"\nkind = \"register-read\"\naddress = 0x48\nregister = 0x01\n"
                       "measurement = { name = \"Konfiguration\", low = 0, high = 0 }\n"
                       "[[step]]\nname = \"Temperatur\"\nkind = \"temperature\"\naddress = 0x48\n"
                       "measurement = { name = \"Temperatur\", unit = \"°C\", ") +
           temperatureLimits + " }\n[[step]]\nname = \"Expander-Pins\"\nkind = \"expander\"\naddress = 0x20\npattern = 0x5A\n";
}

class StationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach() && CouplerReset() && CouplerPortPresent(3, true) && CouplerSetChips(3, 7));
        folder = TempPath("station");
        ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
        // 100 bytes the erased chip does not hold: 13 pages of 8 to write.
        for (int i = 0; i < 100; i++)
            image += static_cast<char>(i * 7 + 1);
        Write("image.bin", image);
        Write("plan.toml", PlanText("low = 15.0, high = 35.0"));
        record = folder + "/units.jsonl";
    }
    void TearDown() override { system(("rm -rf " + folder).c_str()); }
    void Write(const char* name, const std::string& bytes)
    {
        FILE* file = fopen((folder + "/" + name).c_str(), "wb");
        ASSERT_TRUE(file);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
    // One unit with --serial and --once, its record appended.
    ConsoleRun Unit(const char* serial, const std::string& more = "")
    {
        return RunConsole(CT_STATION_EXE, folder + "/plan.toml COM3 --once --serial " + serial + " --record " + record +
                                              " --operator Meier --station P2 " + more);
    }
    // The record's line of unit n (from 0).
    std::string Line(int n)
    {
        std::string all = Slurp(record);
        size_t at = 0;
        for (int i = 0; i < n && at != std::string::npos; i++)
            at = all.find('\n', at) + 1;
        return all.substr(at, all.find('\n', at) - at);
    }
    std::string folder, image, record;
};

TEST_F(StationTest, AGoodUnitPassesAndItsRecordHoldsEveryStep)
{
    ConsoleRun run = Unit("KP3-0001");
    EXPECT_EQ(0u, run.code) << run.output;
    EXPECT_TRUE(Has(run.output, "BESTANDEN: KP3-0001\n")) << run.output;
    EXPECT_FALSE(Has(run.output, "\033[")) << "no colour into a pipe";
    std::string bytes;
    ASSERT_TRUE(CouplerEeprom(3, &bytes));
    EXPECT_EQ(image, bytes.substr(0, 100));
    std::string line = Line(0);
    EXPECT_EQ("['adapter', 'baud', 'detail', 'duration_ms', 'first_failed', 'operator', 'plan', 'port', 'program', "
              "'serial', 'station', 'steps', 'time', 'verdict', 'version']\n",
              JsonSays(line, "sorted(d.keys())"));
    EXPECT_EQ("coupler-station passed KP3-0001 Meier P2 KP-3 B plan.toml None None\n",
              JsonSays(line, "d[\"program\"], d[\"verdict\"], d[\"serial\"], d[\"operator\"], d[\"station\"], "
                             "d[\"plan\"][\"name\"], d[\"plan\"][\"version\"], d[\"plan\"][\"file\"], d[\"detail\"], "
                             "d[\"first_failed\"]"));
    // The plan's hash as sha256sum gives it.
    FILE* sum = popen(("sha256sum " + folder + "/plan.toml").c_str(), "r");
    char digest[65] = "";
    ASSERT_TRUE(sum && fread(digest, 1, 64, sum) == 64);
    pclose(sum);
    EXPECT_EQ(std::string(digest) + "\n", JsonSays(line, "d[\"plan\"][\"sha256\"]"));
    EXPECT_EQ("1 2 3 4 5 6 7 | check bus eeprom register-write register-read temperature expander | ok ok ok ok ok ok ok\n",
              JsonSays(line, "*[s[\"step\"] for s in d[\"steps\"]], \"|\", *[s[\"kind\"] for s in d[\"steps\"]], \"|\", "
                             "*[s[\"outcome\"] for s in d[\"steps\"]]"));
    // Every measurement with its limits: the bus's chips, the EEPROM's bytes, the values read.
    EXPECT_EQ("Baustein 0x20 1 1 1 ok|Baustein 0x48 1 1 1 ok|Baustein 0x50 1 1 1 ok|unerwartete Bausteine 0 0 0 ok|"
              "abweichende Bytes 0 0 0 ok|geschriebene Bytes 100 None None ok|Rücklesewert 15 15 15 ok|"
              "Konfiguration 0 0 0 ok|Temperatur 21.5 15.0 35.0 ok|Pins 90 90 90 ok\n",
              JsonSays(line, "\"|\".join(\"%s %s %s %s %s\" % (m[\"name\"], m[\"value\"], m[\"low\"], m[\"high\"], "
                             "m[\"outcome\"]) for s in d[\"steps\"][1:] for m in s[\"measurements\"])"));
    EXPECT_EQ("Einschwingzeit SDA ms True 0.0 50.0 ok True True\n",
              JsonSays(line, "*[d[\"steps\"][0][\"measurements\"][0][k] for k in (\"name\", \"unit\")], "
                             "d[\"steps\"][0][\"measurements\"][0][\"value\"] < 50, *[d[\"steps\"][0][\"measurements\"][0][k] "
                             "for k in (\"low\", \"high\", \"outcome\")], d[\"adapter\"][\"echo_ms\"] >= 0, "
                             "d[\"time\"][19] in \"+-\""));
    // A unit whose EEPROM holds the image already writes nothing.
    EXPECT_EQ(0u, Unit("KP3-0002").code);
    EXPECT_EQ("KP3-0002 passed 0\n", JsonSays(Line(1), "d[\"serial\"], d[\"verdict\"], d[\"steps\"][2][\"measurements\"][1][\"value\"]"));
}

TEST_F(StationTest, EachFaultFailsItsStepAndSkipsTheRest)
{
    // Limits that leave out the sensor's 21.5 °C.
    Write("cold.toml", PlanText("low = 30.0, high = 35.0"));
    const struct {
        const char* what;
        std::function<bool()> fault;
        const char* plan;
        const char* expected;  // first_failed, the step's outcomes, detail
    } cases[] = {
        {"no expander", [] { return CouplerSetChips(3, CHIP_EEPROM | CHIP_SENSOR); }, "plan.toml",
         "Bausteine am Bus | ok failed skipped skipped skipped skipped skipped | Bausteine am Bus: fehlt: 20 | "
         "Baustein 0x20 0 failed\n"},
        {"sensor out of its limits", [] { return true; }, "cold.toml",
         "Temperatur | ok ok ok ok ok failed skipped | Temperatur: Temperatur 21,5 °C, erlaubt 30,0 bis 35,0 °C | "
         "Temperatur 21.5 failed\n"},
        {"EEPROM write-protected", [] { return CouplerSetWriteProtect(3, true); }, "plan.toml",
         "EEPROM programmieren | ok ok failed skipped skipped skipped skipped | EEPROM programmieren: 100 Bytes weichen "
         "ab, das erste bei 0x00: Schreibschutz? Daten angenommen, Inhalt unverändert | abweichende Bytes 100 failed\n"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(CouplerReset() && CouplerPortPresent(3, true) && CouplerSetChips(3, 7) && c.fault()) << c.what;
        unlink(record.c_str());
        ConsoleRun run = RunConsole(CT_STATION_EXE, folder + "/" + c.plan + " COM3 --once --serial F1 --record " + record);
        EXPECT_EQ(1u, run.code) << c.what << run.output;
        EXPECT_TRUE(Has(run.output, "NICHT BESTANDEN: F1: ")) << c.what << run.output;
        EXPECT_EQ(c.expected,
                  JsonSays(Line(0), "d[\"first_failed\"], \"|\", *[s[\"outcome\"] for s in d[\"steps\"]], \"|\", "
                                    "d[\"detail\"], \"|\", *[(m[\"name\"], m[\"value\"], m[\"outcome\"]) for s in d[\"steps\"] "
                                    "for m in s[\"measurements\"] if m[\"outcome\"] == \"failed\"][0]"))
            << c.what;
        EXPECT_EQ("failed []\n", JsonSays(Line(0), "d[\"verdict\"], d[\"steps\"][-1][\"measurements\"]")) << c.what;
    }
}

TEST_F(StationTest, StepsByHandPassOnINTAndOnTheAnswer)
{
    Write("hand.toml", "[board]\nname = \"KP-3\"\n[[step]]\nname = \"INT-Taste\"\nkind = \"int\"\ntimeout_s = 0.5\n"
                       "[[step]]\nname = \"LEDs\"\nkind = \"question\"\nquestion = \"Leuchten beide LEDs?\"\n");
    const struct {
        bool pulled;
        const char* answers;
        unsigned code;
        const char* expected;  // outcomes and detail
    } cases[] = {
        {true, "x\nj\n", 0, "ok ok None\n"},
        {true, "n\n", 1, "ok failed LEDs: Antwort: nein\n"},
        {false, "j\n", 1, "failed skipped INT-Taste: INT nicht in 0,5 s gedrückt (CTS blieb aus)\n"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(CouplerPullInt(3, c.pulled));
        unlink(record.c_str());
        ConsoleRun run = RunConsole(CT_STATION_EXE, folder + "/hand.toml COM3 --once --serial H1 --record " + record, c.answers);
        EXPECT_EQ(c.code, run.code) << c.answers << run.output;
        EXPECT_EQ(c.pulled ? 1 + (c.answers[0] == 'x') : 0, Count(run.output, "Leuchten beide LEDs? (j/n):")) << run.output;
        EXPECT_EQ(c.expected, JsonSays(Line(0), "*[s[\"outcome\"] for s in d[\"steps\"]], d[\"detail\"]")) << c.answers;
    }
}

TEST_F(StationTest, AStopInsideAUnitRecordsItAborted)
{
    // Behind 1 ms a request, the check's 500 rounds take seconds.
    ASSERT_TRUE(CouplerSetAdapter(3, 0, 1));
    Write("slow.toml", "[board]\nname = \"KP-3\"\n[check]\nrepeat = 500\n[bus]\nchips = [0x50]\n");
    bool sent = false;
    ConsoleRun run = RunConsole(CT_STATION_EXE, folder + "/slow.toml COM3 --record " + record, "S1\nS2\n",
                                [&](const std::string& out, HANDLE) {
                                    sent = sent || (Has(out, "1 SDA losgelassen") && kill(consoleChild, SIGINT) == 0);
                                });
    EXPECT_EQ(3u, run.code) << run.output;
    EXPECT_TRUE(Has(run.output, "ABGEBROCHEN: S1: abgebrochen in Koppler prüfen")) << run.output;
    EXPECT_EQ(1, Count(run.output, "Seriennummer:")) << "no unit after the stop";
    EXPECT_EQ("S1 aborted aborted skipped\n",
              JsonSays(Slurp(record), "d[\"serial\"], d[\"verdict\"], *[s[\"outcome\"] for s in d[\"steps\"]]"));
    EXPECT_EQ(3, CouplerLinesAtClose(3)) << "the lines left on for the close";
}

TEST_F(StationTest, ARecordThatCannotBeKeptStopsTheStation)
{
    Write("bus.toml", "[board]\nname = \"KP-3\"\n[bus]\nchips = [0x50, 0x20, 0x48]\n");
    // A full disk: the file may grow no more, so the first unit's line is refused (the
    // signal for it ignored, as a disk that is full sends none).
    Write("units.jsonl", "{}\n");
    rlimit before;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &before));
    rlimit full = {3, before.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &full));
    ConsoleRun run = RunConsole(CT_STATION_EXE, folder + "/bus.toml COM3 --record " + record, "U1\nU2\n", nullptr, true);
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(2u, run.code) << run.output << run.errors;
    EXPECT_EQ(1, Count(run.output, "Seriennummer:")) << "no unit after the lost line: " << run.output;
    EXPECT_TRUE(Has(run.errors, "Protokolldatei " + record + ": Zeile nicht geschrieben")) << run.errors;
    // The line goes to standard error whole.
    size_t at = run.errors.find("{\"program\"");
    ASSERT_NE(std::string::npos, at) << run.errors;
    EXPECT_EQ("U1 passed\n", JsonSays(run.errors.substr(at, run.errors.find('\n', at) - at), "d[\"serial\"], d[\"verdict\"]"));
    EXPECT_EQ("{}\n", Slurp(record));

    // A folder without rights: refused before the first unit. Root writes anyway, so it is
    // tried as nobody, whose refusal comes before the port (which nobody may not open).
    std::string locked = folder + "/locked";
    ASSERT_EQ(0, mkdir(locked.c_str(), 0555));
    std::string nobody = geteuid() == 0 ? "--reuid=65534 --regid=65534 --clear-groups " : "";
    run = RunConsole(nobody.empty() ? CT_STATION_EXE : "/usr/bin/setpriv",
                     nobody + (nobody.empty() ? "" : CT_STATION_EXE " ") + folder + "/bus.toml COM3 --record " + locked +
                         "/units.jsonl",
                     "U1\n");
    EXPECT_EQ(2u, run.code);
    EXPECT_TRUE(Has(run.output, "coupler-station: Protokolldatei " + locked + "/units.jsonl: keine Schreibrechte\n"))
        << run.output;
    EXPECT_FALSE(Has(run.output, "Seriennummer:")) << run.output;
}

}  // namespace
