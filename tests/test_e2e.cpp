// The real coupler-tester.exe on virtual couplers, used as a technician uses
// it. One case compares its window with the expected layout; the others are
// walks of steps (scripted, and seeded random for the soak) checked after
// every step against a model built from the expected values: button text,
// indicator texts and colours, selections, boxes, the line format of every
// open, the lines of every port, and ports the program must leave alone.
// The first divergence ends a walk with its seed and steps, for a replay.
//
// Steps: baud<i>, port<i> (list picks), open (the open/close button), sda,
// sda?, scl, int? (the signal buttons; a final ! clicks with the mouse), and
// hold, pull, gone, busy followed by + or - and a port: a slave holding SDA
// low, INT pulled, the adapter pulled out, the port taken by another program.
// Soak settings: SOAK_ACTIONS (default 200), SOAK_SEED (default 1),
// SOAK_RUN_LENGTH (steps per start, default 150), SOAK_SEED_RUN (replays the
// one run of that seed). scripts/soak runs long walks.
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <sstream>

#include "tools/virtual-coupler/coupler_client.h"
#include "tests/support/driver.h"

using namespace expected;

namespace {

constexpr int MAX_COM = 12;   // ports 10 and above may be there; never listed or probed

struct Port {
    bool present = false, busy = false, gone = false, held = false, pulled = false;
    int dtr = -1, rts = -1;   // as the program last left them; -1 never opened
    int64_t changes = 0;      // line changes after the start, while never opened
};

class Walk {
public:
    explicit Walk(uint32_t seed = 1) : random_(seed) {}
    std::vector<std::string> history;
    std::string Trail() const   // the steps so far, one a line
    {
        std::string trail;
        for (size_t i = 0; i < history.size(); ++i)
            trail += "  " + std::to_string(i) + ": " + history[i] + "\n";
        return trail;
    }
    bool Start(const std::vector<int>& present, const std::vector<int>& busy)
    {
        std::string line = "start with";
        for (int com : present)
            ports_[com].present = true, line += " com" + std::to_string(com);
        for (int com : busy)
            ports_[com].present = ports_[com].busy = true, line += " com" + std::to_string(com) + "(busy)";
        history.push_back(line);
        std::vector<std::string> items;
        for (int com = 1; com <= 9; ++com)
            if (ports_[com].present && !ports_[com].busy)
                listed_.push_back(com), items.push_back("com" + std::to_string(com));
        portIndex_ = listed_.empty() ? -1 : 0;
        if (!s_.Launch(present, busy))
            return false;
        if (listed_.empty()) {
            EXPECT_TRUE(s_.process.WaitBox(NO_PORT.title, 3000) && !IsWindowEnabled(s_.window)) << "the window waits";
            s_.Answer(NO_PORT);
        }
        EXPECT_EQ(s_.Items(PORT_LIST), items);
        for (int com = 1; com <= MAX_COM; ++com)
            ports_[com].changes = CouplerLineChangeCount(com);
        Compare();
        return !::testing::Test::HasFailure();
    }

    bool StartRandom()
    {
        std::vector<int> present, busy;
        bool none = Pick(10) == 0;   // now and then every port missing or busy
        for (int com = 1; com <= MAX_COM; ++com)
            if (Pick(100) < (com <= 9 ? 50 : 30))
                (none || Pick(100) < 15 ? busy : present).push_back(com);
        return Start(present, busy);
    }

    // False once the program and the model part.
    bool Step(const std::string& step)
    {
        history.push_back(step);
        size_t split = step.find_first_of("+-0123456789");
        std::string verb = step.substr(0, split);
        int number = split == std::string::npos ? 0 : abs(atoi(step.c_str() + split));
        if (verb == "baud" || verb == "port") {
            (verb == "baud" ? baudIndex_ : portIndex_) = number;
            s_.Select(verb == "baud" ? BAUD_LIST : PORT_LIST, number);
        } else if (verb == "hold" || verb == "pull" || verb == "gone" || verb == "busy") {
            Port& p = ports_[number];
            bool on = step[split] == '+';
            (verb == "hold" ? p.held : verb == "pull" ? p.pulled : verb == "gone" ? p.gone : p.busy) = on;
            bool done = verb == "hold"   ? CouplerHoldSda(number, on)
                        : verb == "pull" ? CouplerPullInt(number, on)
                        : verb == "gone" ? CouplerPortVanish(number, on)
                                         : CouplerPortBusy(number, on);
            EXPECT_TRUE(done || !p.present) << "the coupler refused " << step;
        } else if (verb == "open" && openCom_) {
            // Closed: fields and flags stay; the driver drops the lines with the
            // last handle, which the coupler sees a moment later.
            int64_t closes = CouplerCloseCount(openCom_);
            s_.Press(OPEN_BUTTON);
            ExpectClosed(closes);
            closing_ = false;
        } else if (verb == "open") {
            int com = portIndex_ >= 0 ? listed_[portIndex_] : 0;
            Port& p = ports_[com];
            if (!com || !p.present || p.busy || p.gone)
                return s_.PressForBox(OPEN_BUTTON, OPEN_FAILED, CLOSE);
            openCom_ = lastCom_ = com;
            closing_ = out_[0] = out_[1] = shown_[0] = shown_[1] = shown_[2] = true;
            shown_[3] = false;
            p.dtr = p.rts = 1;
            s_.Press(OPEN_BUTTON);
            CouplerLine line = {};
            EXPECT_TRUE(CouplerLineSettings(com, &line));
            // (A pseudo-terminal carries 8 data bits without parity whatever was
            // asked: the settings string is checked in-process.)
            EXPECT_EQ(Pair(line.baud, line.stopBits), Pair(atoi(BAUDS[baudIndex_]), 1)) << "baud rate, stop bits";
            EXPECT_FALSE(line.rtsCts || line.xonOutput || line.xonInput) << "a handshake at the open";
        } else {
            int which = verb == "sda" ? SDA_SWITCH : verb == "sda?" ? SDA_READ : verb == "scl" ? SCL_SWITCH : INT_READ;
            const Signal& signal = SIGNALS[which];
            if (!openCom_)
                return s_.PressForBox(signal.button, signal.notOpen, OPEN);
            Port& p = ports_[openCom_];
            if (which == SDA_SWITCH || which == SCL_SWITCH) {
                bool& out = out_[which == SCL_SWITCH];
                shown_[which] = out = !out;
                if (!p.gone)
                    (which == SDA_SWITCH ? p.dtr : p.rts) = out;
            } else {
                // DSR follows the line DTR really carries; a pulled adapter answers 0.
                shown_[which] = !p.gone && (which == SDA_READ ? p.dtr == 1 && !p.held : p.pulled);
            }
            if (step.back() != '!')
                s_.Press(signal.button);
            for (int i = 0; step.back() == '!' && i < 100 && s_.Text(signal.field) != (shown_[which] ? "1" : "0"); ++i)
                i ? Sleep(20) : Click(s_.Control(signal.button));   // a real click, and its effect
            WaitPostedMessagesTaken(s_.editor);
        }
        if (!::testing::Test::HasFailure())
            Compare();
        return !::testing::Test::HasFailure();
    }

    std::string RandomStep()
    {
        static const char* const verbs[] = {"baud", "port", "open", "sda", "sda?", "scl", "int?", "hold", "pull",
                                            "gone", "busy"};
        static const int weights[] = {4, 4, 12, 14, 12, 14, 12, 8, 8, 6, 6};
        int roll = Pick(100), verb = 0;
        while (roll >= weights[verb])
            roll -= weights[verb++];
        if (verb == 0 || (verb == 1 && !listed_.empty()))
            return verbs[verb] + std::to_string(Pick(verb ? static_cast<int>(listed_.size()) : 9));
        if (verb < 7)
            return verb == 1 ? "baud7" : verbs[verb];
        // Mostly the open or chosen port; mostly a change, sometimes the same again.
        int com = openCom_ && Pick(10) < 7 ? openCom_
                  : portIndex_ >= 0 && Pick(10) < 6 ? listed_[portIndex_] : 1 + Pick(MAX_COM);
        const Port& p = ports_[com];
        bool now = verb == 7 ? p.held : verb == 8 ? p.pulled : verb == 9 ? p.gone : p.busy;
        return verbs[verb] + std::string(now == (Pick(100) < 85) ? "-" : "+") + std::to_string(com);
    }

    // Checks every port (those never opened untouched) and closes the window.
    bool End()
    {
        Compare(true);
        int64_t closes = openCom_ ? CouplerCloseCount(openCom_) : 0;
        bool closed = s_.Close();
        // Ended with the port open: the driver closes it all the same.
        if (openCom_)
            ExpectClosed(closes);
        return closed;
    }

private:
    int Pick(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
    // The open port closed: its lines as the program left them, then both off.
    void ExpectClosed(int64_t closesBefore)
    {
        const int com = openCom_;
        Port& p = ports_[com];
        for (int i = 0; i < 100 && (CouplerCloseCount(com) <= closesBefore || CouplerDtr(com) || CouplerRts(com)); ++i)
            Sleep(10);
        EXPECT_EQ(CouplerCloseCount(com), closesBefore + 1) << "com" << com << ": closes";
        EXPECT_EQ(CouplerLinesAtClose(com), p.dtr | p.rts << 1) << "com" << com << ": DTR (1) + RTS (2) at the close";
        EXPECT_EQ(Pair(CouplerDtr(com), CouplerRts(com)), Pair(0, 0)) << "com" << com << ": DTR, RTS after the close";
        p.dtr = p.rts = 0;
        openCom_ = 0;
    }

    void Compare(bool everyPort = false)
    {
        EXPECT_EQ(s_.Text(OPEN_BUTTON), closing_ ? CLOSE : OPEN);
        for (const Signal& signal : SIGNALS) {
            bool one = shown_[signal.field - 13];
            EXPECT_TRUE(s_.Field(signal.field, one ? "1" : "0", one ? signal.on : WHITE));
        }
        EXPECT_EQ(s_.Selection(BAUD_LIST), baudIndex_) << "baud rate list";
        EXPECT_EQ(s_.Selection(PORT_LIST), portIndex_) << "port list";
        // The lines of the port last opened; at the end of a walk those of every
        // port, and ports never opened must show no change at all.
        for (int com = 1; com <= MAX_COM; ++com) {
            const Port& p = ports_[com];
            if (!everyPort && com != lastCom_)
                continue;
            if (p.dtr < 0)
                EXPECT_EQ(CouplerLineChangeCount(com), p.changes) << "com" << com << ": line changes, never opened";
            else
                EXPECT_EQ(Pair(CouplerDtr(com), CouplerRts(com)), Pair(p.dtr, p.rts)) << "com" << com << ": DTR, RTS";
        }
    }

    std::mt19937 random_;
    Session s_;
    Port ports_[MAX_COM + 1];
    std::vector<int> listed_;
    int portIndex_ = -1, baudIndex_ = BAUD_PRESET, openCom_ = 0, lastCom_ = 0;
    bool out_[2] = {};     // SDA, SCL as last commanded
    bool shown_[4] = {};   // fields 13..16 show "1"
    bool closing_ = false;   // the button reads "schliessen"
};

TEST(EndToEnd, StartsWithItsWindowListsTextsAndColours)
{
    Session s;
    ASSERT_TRUE(s.Launch({1, 3}));
    EXPECT_EQ(s.Items(BAUD_LIST), std::vector<std::string>(BAUDS, BAUDS + 9));
    EXPECT_EQ(WindowText(s.window), TITLE);
    RECT client, outer;
    GetClientRect(s.window, &client);
    GetWindowRect(s.window, &outer);
    EXPECT_EQ(Pair(client.right, client.bottom), Pair(CLIENT_WIDTH, CLIENT_HEIGHT)) << "client area";
    // Centred: half the screen less half the window, each halved apart.
    EXPECT_EQ(outer.left, GetSystemMetrics(SM_CXSCREEN) / 2 - (outer.right - outer.left) / 2);
    EXPECT_EQ(outer.top, GetSystemMetrics(SM_CYSCREEN) / 2 - (outer.bottom - outer.top) / 2);
    EXPECT_EQ(GetWindowLongA(s.window, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX | WS_SYSMENU),
              WS_SYSMENU);
    EXPECT_TRUE(s.Colour(s.window, 5, 5, PANEL));
    EXPECT_TRUE(s.Colour(s.window, 620, 490, PANEL));
    for (const Control& c : CONTROLS) {
        SCOPED_TRACE(c.number);
        HWND control = s.Control(c.number);
        ASSERT_TRUE(control);
        EXPECT_EQ(GetParent(control), c.parent < 0 ? s.window : s.Control(c.parent));
        RECT r, inside;
        GetWindowRect(control, &r);
        MapWindowPoints(0, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(Pair(r.left, r.top), Pair(c.x, c.y)) << "place";
        EXPECT_EQ(Pair(r.right - r.left, c.height ? r.bottom - r.top : 0), Pair(c.width, c.height)) << "size";
        EXPECT_EQ(c.text ? s.Text(c.number) : "", c.text ? c.text : "");
        GetClientRect(control, &inside);   // sampled right of the text, where no glyph reaches
        if (c.background) {
            EXPECT_TRUE(s.Colour(control, inside.right - 3, 2, c.background));
        }
    }
    auto style = [&](int number, int index) { return GetWindowLongA(s.Control(number), index); };
    for (int field : {13, 14, 15, 16})
        EXPECT_EQ((style(field, GWL_STYLE) & SS_TYPEMASK) | (style(field, GWL_EXSTYLE) & WS_EX_CLIENTEDGE),
                  SS_CENTER | WS_EX_CLIENTEDGE);
    EXPECT_EQ(s.Text(EDITOR), HELP);
}

// A scripted walk: its ports, then its steps; every step checked by the model.
void Script(const std::vector<int>& present, const std::vector<int>& busy, const std::string& steps)
{
    Walk walk;
    std::istringstream in(steps);
    bool on = walk.Start(present, busy);
    for (std::string step; on && in >> step;)
        on = walk.Step(step);
    if (on)
        walk.End();
    EXPECT_FALSE(::testing::Test::HasFailure()) << "after the steps\n" << walk.Trail();
}

TEST(EndToEnd, OpensAtEveryRateThenSwitchesReadsClosesAndReopens)
{
    std::string steps = "port1";
    for (int baud = 0; baud < 9; ++baud)
        steps += " baud" + std::to_string(baud) + " open open";
    Script({1, 3, 9, 10, 12}, {2}, steps + " open sda sda? sda sda? scl int? scl hold+3 pull+3 sda? int?! open "
                                      "sda sda? scl int? hold-3 baud7 open sda? int? sda scl port0 open open");
}

TEST(EndToEnd, WithEveryPortBusyItWarnsAndNothingOpensUntilTheNextStart)
{
    // A file named as a port-less settings string begins is no port.
    CloseHandle(CreateFileA(":960", GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0));
    Script({10}, {1, 2, 3, 4, 5, 6, 7, 8, 9},
         "open sda sda? scl int? busy-1 busy-2 busy-3 busy-4 busy-5 busy-6 busy-7 busy-8 busy-9 open baud0 open");
    DeleteFileA(":960");
}

TEST(EndToEnd, APortTakenAfterTheStartOrPulledOutWhileOpenLeavesItWorking)
{
    Script({6}, {}, "busy+6 open sda int? busy-6 open pull+6 gone+6 sda scl sda? int? open open gone-6 open int? "
                  "gone+6 scl");   // and the window closed with the port open
}

TEST(Soak, RandomWalkMatchesTheModel)
{
    const uint32_t seed = Setting("SOAK_SEED", 1), replay = Setting("SOAK_SEED_RUN", 0);
    const int actions = static_cast<int>(Setting("SOAK_ACTIONS", 200));
    const int runLength = replay ? actions : static_cast<int>(std::max<uint32_t>(1, Setting("SOAK_RUN_LENGTH", 150)));
    DWORD start = GetTickCount();
    std::mt19937 seeds(seed);   // every run has its own seed, so that it replays alone
    int taken = 0, runs = 0;
    while (taken < actions && !::testing::Test::HasFailure()) {
        uint32_t runSeed = replay ? replay : seeds();
        Walk walk(runSeed);
        bool on = walk.StartRandom();
        for (int steps = std::min(runLength, actions - taken); on && steps > 0; --steps, ++taken)
            on = walk.Step(walk.RandomStep());
        if (on)
            walk.End();
        ++runs;
        EXPECT_FALSE(::testing::Test::HasFailure())
            << "divergence in the run of seed " << runSeed << " (walk seed " << seed << "); replay: scripts/soak "
            << "--run-seed " << runSeed << " --actions " << walk.history.size() - 1 << "\n" << walk.Trail();
    }
    printf("soak: %d actions in %d runs, %.1f s, seed %u\n", taken, runs, (GetTickCount() - start) / 1000.0, seed);
}

}  // namespace
