// What only the native programs show, on the virtual coupler's COM3 and COM4:
// device paths and their errors, --list, a stop by signal with the terminal
// put back, and the record's lock.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <vector>

#include "console/record.h"
#include "console/port.h"
#include "tests/support/console_run.h"
#include "tools/virtual-coupler/coupler_client.h"
#include "tests/support/sigrok.h"

extern int consoleTerminal;
extern pid_t consoleChild;

namespace {

class NativeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CouplerAttach() && CouplerReset() && CouplerPortPresent(3, true) && CouplerPortPresent(4, true) &&
                    CouplerPortPresent(5, true) && CouplerSetChips(3, 7));
    }
};

TEST_F(NativeTest, APortIsADevicePathAndEveryRefusalSaysWhy)
{
    // A port's state: 1 at 115200, 2 HUPCL on, 4 exclusive; slowed: set to 115200 without HUPCL first.
    auto State = [](int fd, bool slowed = false) {
        termios modes;
        int exclusive = 0;
        if (tcgetattr(fd, &modes) || (slowed && (cfsetspeed(&modes, B115200), modes.c_cflag &= ~HUPCL,
                                                 tcsetattr(fd, TCSANOW, &modes))) || ioctl(fd, TIOCGEXCL, &exclusive))
            return -1;
        return (cfgetospeed(&modes) == B115200) | (modes.c_cflag & HUPCL ? 2 : 0) | (exclusive ? 4 : 0);
    };
    // COM4 held as another serial program holds it; COM5's adapter gone at the first line request.
    int held = open(PortName(4).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC),
        pulled = open(PortName(5).c_str(), O_RDWR | O_NOCTTY);
    EXPECT_TRUE(held >= 0 && flock(held, LOCK_EX | LOCK_NB) == 0 && CouplerVanishAfter(5, 0) && State(pulled, true) == 1);
    std::string holder = "ist belegt: native_native (PID " + std::to_string(getpid()) + ") hält sie offen\n";
    const struct {
        const char* program;
        std::string arguments, line;  // the first line; exit code 2
    } cases[] = {
        {CT_CHECK_EXE, "COM30", "coupler-check: COM30 gibt es unter Linux nicht: den Gerätepfad angeben, z. B. /dev/ttyUSB0 (coupler-check --list zeigt die Schnittstellen)\n"},
        {CT_I2C_EXE, "com25: scan", "coupler-i2c: com25: gibt es unter Linux nicht: den Gerätepfad angeben, z. B. /dev/ttyUSB0 (coupler-check --list zeigt die Schnittstellen)\n"},
        {CT_CHECK_EXE, "/dev/ttyUSB99", "coupler-check: /dev/ttyUSB99 gibt es nicht\n"},
        {CT_CHECK_EXE, "/dev/null", "coupler-check: /dev/null ist keine serielle Schnittstelle\n"},
        {CT_I2C_EXE, "/dev/tty scan", "coupler-i2c: /dev/tty ist das Terminal dieses Programms, nicht der Adapter des Kopplers: den Gerätepfad des Adapters angeben (coupler-check --list zeigt die Schnittstellen)\n"},
        {CT_CHECK_EXE, "COM4", "coupler-check: COM4 " + holder},
        {CT_CHECK_EXE, "COM5", "coupler-check: COM5 lässt sich nicht öffnen (Fehler 5)\n"},
        // Nobody is in the pseudo-terminal's group (root here, tty elsewhere), which may only write: the mode says so.
        {"/usr/bin/setpriv", "--reuid=65534 --regid=65534 --clear-groups " + std::string(CT_CHECK_EXE) + " COM3",
         "coupler-check: COM3 darf nicht geöffnet werden: Modus 6"},
        // The port's place is the first word: a command there leaves it out, a device after it is a file.
        {CT_I2C_EXE, "scan", "coupler-i2c: keine Schnittstelle angegeben: sie steht vor dem Befehl\n"},
        {CT_I2C_EXE, "COM3 eeprom read /dev/stdout", "coupler-i2c: Datei /dev/stdout gibt es schon: sie wird nie überschrieben, einen neuen Namen angeben\n"},
    };
    for (const auto& c : cases) {
        ConsoleRun run = RunConsole(c.program, c.arguments);
        EXPECT_EQ(2u, run.code) << c.arguments;
        EXPECT_EQ(c.line, run.output.substr(0, c.line.back() == '\n' ? run.output.find('\n') + 1 : c.line.size()))
            << c.arguments;
    }
    // A bare name is one under /dev.
    EXPECT_EQ(0u, RunConsole(CT_I2C_EXE, PortName(3).substr(5) + " scan 50 50").code);
    // The pulled adapter's port refused before anything on it changed.
    EXPECT_EQ(1, State(pulled));
    close(pulled);
    // The own terminal (here standard input) is refused before the open: no line request reaches it.
    consoleTerminal = open(PortName(3).c_str(), O_RDWR | O_NOCTTY);
    int64_t requests = CouplerLineRequests(3);
    EXPECT_TRUE(Has(RunConsole(CT_I2C_EXE, "COM3 scan").output, "COM3 ist das Terminal dieses Programms") &&
                requests == CouplerLineRequests(3));
    // A job leaves its port's settings as found but for HUPCL (the drop at the close), not exclusive.
    int port = consoleTerminal;
    consoleTerminal = -1;
    EXPECT_TRUE(State(port, true) == 1 && RunConsole(CT_I2C_EXE, "COM3 scan").code == 0 && State(port) == 3);
    close(port);

    // --list opens nothing: sysfs says which are hardware (a ttyS with a UART), /proc who holds
    // them. COM4 held by a child (without the lock) at 115200 with DTR on, exclusive or not.
    std::string dev = TempPath("dev"), sys = TempPath("sys"), tty = sys + "/class/tty/";
    // ttyUSB0 is an FTDI chip's: its device a port of a USB interface whose device has vendor 0403.
    std::string usb = sys + "/devices/usb1/1-1";
    ASSERT_EQ(0, system(("mkdir -p " + usb + "/1-1:1.0/ttyUSB0/driver " + tty + "ttyUSB0 && echo 0403 >" + usb +
                         "/idVendor && echo A1B2C3 >" + usb + "/serial && ln -s " + usb + "/1-1:1.0/ttyUSB0 " + tty +
                         "ttyUSB0/device").c_str()));
    ASSERT_EQ(0, system(("mkdir -p " + dev + "/serial/by-id " + tty + "ttyUSB2/device " + tty + "ttyACM3 && for n in "
                         "ttyACM1 ttyS0 ttyS1 ttyUSB4 ttyUSBx; do mkdir -p " + tty + "$n/device/driver; done && echo 4 >" +
                         tty + "ttyS0/type && echo 0 >" + tty + "ttyS1/type && cd " + dev + " && ln -s " + PortName(3) +
                         " ttyUSB0 && ln -s " + PortName(4) + " ttyACM1 && touch ttyS0 ttyS1 ttyUSB2 ttyACM3 ttyUSBx && "
                         "ln -s ../../ttyUSB0 serial/by-id/usb-Koppler-if00").c_str()));
    int dtr = TIOCM_DTR;
    ASSERT_TRUE(flock(held, LOCK_UN) == 0 && State(held, true) == 1 && ioctl(held, TIOCMBIS, &dtr) == 0);
    for (int exclusive : {0, 4}) {
        pid_t child = fork();
        if (child == 0)
            _exit(pause());
        requests = CouplerLineRequests(4);
        EXPECT_TRUE(ioctl(held, exclusive ? TIOCEXCL : TIOCNXCL) == 0 &&
                    PortListLines(PortList(dev.c_str(), sys.c_str()), dev.c_str()) ==
                        std::vector<std::string>({dev + "/ttyACM1 (belegt: native_native (PID " + std::to_string(child) + "))",
                                                  dev + "/ttyS0", dev + "/ttyUSB0, auch " + dev + "/serial/by-id/usb-Koppler-if00, FTDI-Baustein (--ftdi A1B2C3)"}));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        EXPECT_TRUE(State(held) == (1 | exclusive) && CouplerDtr(4) == 1 && CouplerLineRequests(4) == requests) << exclusive;
    }
    close(held);
    system(("rm -r " + dev + " " + sys).c_str());
}

TEST_F(NativeTest, ASignalEndsTheJobAsCtrlCDoesAndPutsTheTerminalBack)
{
    // Behind 1 ms a request, step 2 of 500 rounds takes seconds.
    ASSERT_TRUE(CouplerSetAdapter(3, 0, 1));
    std::string log = TempPath("sig");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        bool sent = false;  // once: the job restores the handlers at its end
        ConsoleRun run = RunConsole(CT_CHECK_EXE, "COM3 --repeat 500 --log " + log, "", [&](const std::string& out, HANDLE) {
            sent = sent || (Has(out, "\n1   SDA") && kill(consoleChild, signal) == 0);
        });
        EXPECT_EQ(3u, run.code) << signal;
        EXPECT_TRUE(Has(run.output, "\nABGEBROCHEN: in Schritt 2\n")) << run.output;
        EXPECT_EQ(3, CouplerLinesAtClose(3)) << "the lines left on for the close";
    }
    std::string rows = Slurp(log);
    EXPECT_EQ(3, std::count(rows.begin(), rows.end(), '\n') - 1) << rows;
    EXPECT_TRUE(Has(rows, ";ABGEBROCHEN;in Schritt 2;")) << rows;
    bool sent = false;
    ConsoleRun run = RunConsole(CT_I2C_EXE, "COM3 dump 50", "", [&](const std::string&, HANDLE) {
        sent = sent || (CouplerLineRequests(3) > 300 && kill(consoleChild, SIGTERM) == 0);
    });
    EXPECT_EQ(2u, run.code);
    EXPECT_TRUE(Has(run.output, "\ncoupler-i2c: abgebrochen\n")) << run.output;
    EXPECT_EQ(3, CouplerLinesAtClose(3));

    // Keys from a terminal: single keys while a step by hand asks, the
    // terminal's mode back after a stop.
    int master = posix_openpt(O_RDWR | O_NOCTTY), mode = 0;
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    consoleTerminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios before, asking = {}, after;
    ASSERT_EQ(0, tcgetattr(consoleTerminal, &before));
    run = RunConsole(CT_CHECK_EXE, "COM3 --repeat 1 --interactive", "", [&](const std::string& out, HANDLE) {
        if (Has(out, "5a LED SDA:") && mode++ == 20)
            tcgetattr(consoleTerminal, &asking), kill(consoleChild, SIGTERM);
    });
    tcgetattr(consoleTerminal, &after);
    EXPECT_EQ(3u, run.code) << run.output;
    EXPECT_TRUE(Has(run.output, "\nABGEBROCHEN: in Schritt 5a\n")) << run.output;
    EXPECT_EQ(0u, asking.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    close(consoleTerminal);
    close(master);
    consoleTerminal = -1;
    remove(log.c_str());
}

TEST_F(NativeTest, RowsAppendedAtOnceFromManyProcessesStayWholeAndALockedRecordIsRefused)
{
    std::string log = TempPath("rows"), fields = "COM3;9600;20;nein;BESTANDEN;;" + std::string(300, 'x');
    const std::vector<std::string> cells = {"COM3", "9600", "20", "nein", "BESTANDEN", "", std::string(300, 'x')};
    // The children start at once, when the barrier's write end closes: the
    // first rows race for the new file's header.
    std::vector<pid_t> children;
    int barrier[2];
    ASSERT_EQ(0, pipe(barrier));
    for (int child = 0; child < 8; child++)
        if (pid_t pid = fork(); pid == 0) {
            char reason[200];
            close(barrier[1]);
            if (read(barrier[0], reason, 1) != 0)
                _exit(2);
            for (int row = 0; row < 10; row++)
                if (!LogAppend(log.c_str(), "2026-12-07T20:11:40+01:00", cells, reason, sizeof reason))
                    _exit(1);
            _exit(0);
        } else {
            children.push_back(pid);
        }
    close(barrier[0]);
    close(barrier[1]);
    for (pid_t pid : children) {
        int status = 1;
        waitpid(pid, &status, 0);
        EXPECT_EQ(0, status);
    }
    std::string rows = Slurp(log), header = "\xEF\xBB\xBFzeit;port;baud;";
    remove(log.c_str());
    EXPECT_EQ(header, rows.substr(0, header.size()));
    size_t whole = 0;
    for (size_t at = rows.find("\r\n") + 2, end; (end = rows.find("\r\n", at)) != std::string::npos; at = end + 2)
        whole += end - at == 26 + fields.size() && rows.compare(at + 26, fields.size(), fields) == 0;
    EXPECT_EQ(80u, whole);

    // A record another station holds locked is waited for, then refused (the
    // check's refusals before the port: test_check.cpp).
    int held = open(log.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_TRUE(held >= 0 && flock(held, LOCK_EX) == 0);
    char reason[200] = "";
    EXPECT_FALSE(LogAppend(log.c_str(), "2026-12-07T20:11:40+01:00", cells, reason, sizeof reason));
    close(held);
    EXPECT_EQ("", Slurp(log));
    remove(log.c_str());
}

TEST_F(NativeTest, FilesAndRecordsHoldWhateverTheNamesAndNoneIsLost)
{
    std::string pipe = TempPath("fifo"), kept = TempPath("kept"), log = TempPath("csv"), record = TempPath("jsonl");
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0644));
    // An old trace the job cannot read stays as it was when the port fails.
    FILE* file = fopen(kept.c_str(), "wb");
    ASSERT_TRUE(file && fputs("alt", file) >= 0 && fclose(file) == 0 && chmod(kept.c_str(), 0200) == 0);
    const struct {
        const char* program;
        std::string arguments, line;  // the first line; exit code 2
    } cases[] = {
        {CT_I2C_EXE, "COM3 get 48 0 --trace " + pipe,
         "coupler-i2c: Spur " + pipe + u8" lässt sich nicht schreiben: ein Gerät oder eine Pipe, keine Datei\n"},
        {CT_I2C_EXE, "/dev/ttyUSB99 scan --trace " + kept, "coupler-i2c: /dev/ttyUSB99 gibt es nicht\n"},
        {CT_CHECK_EXE, "COM3 --log " + log + " --record " + log,
         "coupler-check: --log und --record nennen dieselbe Datei " + log + ": jede braucht eine eigene\n"},
        // A reason cut at its buffer ends between characters: 145 umlauts, not 145 and a half.
        {CT_I2C_EXE, "COM3 eeprom read x --type x" + std::string(149 * 2, 'a'), ""},
        {CT_CHECK_EXE, "\"/dev/nicht;x\ny\" --serial \xff --log " + log + " --record " + record,
         "coupler-check: /dev/nicht;x\ny gibt es nicht\n"},
    };
    for (const auto& c : cases) {
        std::string arguments = c.arguments, line = c.line, umlauts;
        for (int i = 0; line.empty() && i < 149; i++)
            umlauts += u8"ä";
        if (line.empty())
            arguments.replace(arguments.find("aa"), 298, umlauts), line = "coupler-i2c: --type x" + umlauts.substr(0, 290) + "\n";
        ConsoleRun run = RunConsole(c.program, arguments);
        EXPECT_EQ(2u, run.code) << arguments;
        EXPECT_EQ(line, run.output.substr(0, line.size())) << arguments;
    }
    EXPECT_EQ("alt", Slurp(kept));
    // The row's fields quoted where they hold ';' or a line break; the
    // record's texts valid UTF-8.
    EXPECT_TRUE(Has(Slurp(log), ";\"/dev/nicht;x\ny\";9600;20;nein;NICHT MÖGLICH;\"/dev/nicht;x\ny gibt es nicht\";;;;;\r\n"))
        << Slurp(log);
    EXPECT_TRUE(Has(Slurp(record), "\"port\":\"/dev/nicht;x\\u000ay\",") && Has(Slurp(record), "\"serial\":\"\xef\xbf\xbd\","))
        << Slurp(record);
    for (const std::string& path : {pipe, kept, log, record})
        remove(path.c_str());

    // Two backups by the default name in one second: the second takes the next.
    std::string image = TempPath("img"), names;
    file = fopen(image.c_str(), "wb");
    ASSERT_TRUE(file && fputs("neu", file) >= 0 && fclose(file) == 0);
    for (time_t now = time(nullptr), t = now; t < now + 20; t++) {
        char name[40];
        strftime(name, sizeof name, "eeprom-50-%Y%m%d-%H%M%S.bin", localtime(&t));
        names += std::string(" ") + name;
        fclose(fopen(name, "wb"));
    }
    ConsoleRun run = RunConsole(CT_I2C_EXE, "COM3 eeprom write " + image + " --write");
    EXPECT_EQ(0u, run.code) << run.output;
    EXPECT_TRUE(Has(run.output, "-2.bin gesichert\n")) << run.output;
    system(("rm -f " + image + names + " eeprom-50-*-2.bin").c_str());
}

TEST_F(NativeTest, TheProgramsTraceDecodesToWhatTheBusSaw)
{
    if (system("command -v sigrok-cli >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sigrok-cli is not installed (scripts/setup installs it)";
    // The LM75's temperature register, 21.5 degrees: 0x15 0x80.
    std::string trace = TempPath("vcd");
    CouplerBusLog(3);
    ConsoleRun run = RunConsole(CT_I2C_EXE, "COM3 --trace " + trace + " get 0x48 0 w");
    EXPECT_EQ(0u, run.code) << run.output;
    // The close drops both lines in one request ("~", logged when the daemon
    // has seen the close): after the job, not in its trace.
    std::string log = CouplerBusLog(3);
    if (log.size() > 2 && log.compare(log.size() - 2, 2, "~\n") == 0)
        log.resize(log.size() - 2);
    EXPECT_EQ("S 48 W A 00 A Sr 48 R A 15 A 80 N P\n", log);
    EXPECT_EQ(log, SigrokI2c(trace));
    remove(trace.c_str());
}

}  // namespace
