// A seeded random walk of user actions and coupler events against the real
// program, checked after every step against a model built from the expected
// values: button text, indicator texts and colours, list selections, boxes,
// the baud rate of every open and the lines of every port. The first
// divergence ends the walk with its seed and steps, for a replay.
//
// Environment: SOAK_ACTIONS (default 300), SOAK_SEED (default 1),
// SOAK_RUN_LENGTH (steps per start of the program, default 150), SOAK_SEED_RUN
// (replays one run of that seed). scripts/soak runs long walks.
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <sstream>

#include "tests/support/coupler_client.h"
#include "tests/support/driver.h"

using namespace expected;

namespace {

constexpr int MAX_COM = 12;   // ports 10 and above may be there; never listed

enum Action { BAUD, PORT, OPEN_CLOSE, SDA_SWITCH_, SDA_READ_, SCL_SWITCH_, INT_READ_, HOLD, PULL, VANISH, BUSY };
const char* const NAMES[] = {"select baud", "select port", "press open/close", "press SDA on/off", "press SDA ?",
                             "press SCL on/off", "press INT ?", "hold SDA on com", "pull INT on com",
                             "pull out com", "busy com"};
const int WEIGHTS[] = {4, 4, 12, 14, 12, 14, 12, 8, 8, 6, 6};

struct Port {
    bool present = false, busy = false, vanished = false, held = false, pulled = false;
    int dtr = -1, rts = -1;   // as the program last switched them; -1 not yet
};

struct Model {
    Port ports[MAX_COM + 1];
    std::vector<int> listed;
    int portIndex = -1, baudIndex = BAUD_PRESET, openCom = 0;
    bool out[2] = {};      // SDA and SCL as last commanded
    bool shown[4] = {};    // fields 13..16 show "1"
    bool closing = false;  // the button reads "schliessen"
};

class Walk {
public:
    Walk(uint32_t seed, int steps) : random_(seed), steps_(steps) {}
    int Run(std::vector<std::string>* history);

private:
    int Pick(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
    bool Chance(int percent) { return Pick(100) < percent; }
    void Start(std::vector<std::string>* history);
    std::string Step();
    void Compare();

    std::mt19937 random_;
    int steps_;
    Model m_;
    Session s_;
};

void Walk::Start(std::vector<std::string>* history)
{
    std::vector<int> present, busy;
    bool none = Chance(10);   // now and then every port missing or busy
    std::string line = "start with";
    for (int com = 1; com <= MAX_COM; ++com) {
        Port& p = m_.ports[com];
        p.present = Chance(com <= 9 ? 50 : 30);
        p.busy = p.present && (none || Chance(15));
        if (p.present)
            (p.busy ? busy : present).push_back(com), line += " com" + std::to_string(com) + (p.busy ? "(busy)" : "");
        if (p.present && !p.busy && com <= 9)
            m_.listed.push_back(com);
    }
    history->push_back(line);
    m_.portIndex = m_.listed.empty() ? -1 : 0;
    if (!s_.Launch(present, busy) || (m_.listed.empty() && !s_.Answer(NO_PORT)))
        return;
    std::vector<std::string> items;
    for (int com : m_.listed)
        items.push_back("com" + std::to_string(com));
    EXPECT_EQ(s_.Items(PORT_LIST), items);
}

// Chooses a step, applies it to the model and to the program; its name.
std::string Walk::Step()
{
    int roll = Pick(100), action = 0;
    while (roll >= WEIGHTS[action])
        roll -= WEIGHTS[action++];
    if (action == PORT && m_.listed.empty())
        action = BAUD;
    std::string name = NAMES[action];
    if (action == BAUD || action == PORT) {
        int index = action == BAUD ? (m_.baudIndex = Pick(9)) : (m_.portIndex = Pick(static_cast<int>(m_.listed.size())));
        s_.Select(action == BAUD ? BAUD_LIST : PORT_LIST, index);
        return name + " " + std::to_string(index);
    }
    if (action >= HOLD) {
        // Mostly the open or chosen port; mostly a change, sometimes the same again.
        int com = m_.openCom && Chance(70) ? m_.openCom : m_.portIndex >= 0 && Chance(60) ? m_.listed[m_.portIndex] : 1 + Pick(MAX_COM);
        Port& p = m_.ports[com];
        bool& flag = action == HOLD ? p.held : action == PULL ? p.pulled : action == VANISH ? p.vanished : p.busy;
        flag = Chance(85) ? !flag : flag;
        bool done = action == HOLD     ? CouplerHoldSda(com, flag)
                    : action == PULL   ? CouplerPullInt(com, flag)
                    : action == VANISH ? CouplerPortVanish(com, flag)
                                       : CouplerPortBusy(com, flag);
        EXPECT_TRUE(done || !p.present) << "the coupler refused the step";
        return name + std::to_string(com) + (flag ? " on" : " off");
    }
    if (action == OPEN_CLOSE && m_.openCom) {
        m_.openCom = 0;   // fields, flags and lines stay
        m_.closing = false;
        s_.Press(OPEN_BUTTON);
    } else if (action == OPEN_CLOSE) {
        int com = m_.portIndex >= 0 ? m_.listed[m_.portIndex] : 0;
        Port* p = com ? &m_.ports[com] : nullptr;
        if (!p || !p->present || p->busy || p->vanished) {
            s_.PressForBox(OPEN_BUTTON, OPEN_FAILED, CLOSE);
            return name;
        }
        m_.openCom = com;
        m_.closing = true;
        p->dtr = p->rts = 1;
        m_.out[0] = m_.out[1] = true;
        bool presets[4] = {true, true, true, false};
        std::copy(presets, presets + 4, m_.shown);
        s_.Press(OPEN_BUTTON);
        CouplerLine line = {};
        EXPECT_TRUE(CouplerLineSettings(com, &line) && line.baud == static_cast<uint32_t>(atoi(BAUDS[m_.baudIndex])))
            << "opened at " << line.baud << " baud";
    } else {
        const Signal& signal = SIGNALS[action - SDA_SWITCH_];
        if (!m_.openCom) {
            s_.PressForBox(signal.button, signal.notOpen, OPEN);
            return name;
        }
        Port& p = m_.ports[m_.openCom];
        int field = signal.field - 13;
        if (action == SDA_SWITCH_ || action == SCL_SWITCH_) {
            bool& out = m_.out[action == SCL_SWITCH_];
            out = !out;
            m_.shown[field] = out;
            if (!p.vanished)
                (action == SDA_SWITCH_ ? p.dtr : p.rts) = out;
        } else {
            // DSR follows the line DTR really carries; a pulled adapter answers 0.
            m_.shown[field] = !p.vanished && (action == SDA_READ_ ? p.dtr == 1 && !p.held : p.pulled);
        }
        s_.Press(signal.button);
    }
    return name;
}

void Walk::Compare()
{
    EXPECT_EQ(s_.Text(OPEN_BUTTON), m_.closing ? CLOSE : OPEN);
    for (const Signal& signal : SIGNALS) {
        bool one = m_.shown[signal.field - 13];
        EXPECT_TRUE(s_.Field(signal.field, one ? "1" : "0", one ? signal.on : WHITE));
    }
    EXPECT_EQ(s_.Selection(BAUD_LIST), m_.baudIndex);
    EXPECT_EQ(s_.Selection(PORT_LIST), m_.portIndex);
    for (int com = 1; com <= MAX_COM; ++com) {
        const Port& p = m_.ports[com];
        if (p.dtr >= 0)
            EXPECT_EQ(CouplerDtr(com) * 10 + CouplerRts(com), p.dtr * 10 + p.rts) << "DTR, RTS of com" << com;
    }
}

int Walk::Run(std::vector<std::string>* history)
{
    Start(history);
    int taken = 0;
    for (; taken < steps_ && !::testing::Test::HasFailure(); ++taken) {
        history->push_back(Step());
        if (!::testing::Test::HasFailure())
            Compare();
    }
    if (!::testing::Test::HasFailure())
        s_.Close();
    return taken;
}

uint32_t Setting(const char* name, uint32_t fallback)
{
    const char* value = getenv(name);
    return value && *value ? static_cast<uint32_t>(strtoul(value, nullptr, 10)) : fallback;
}

TEST(Soak, RandomWalkMatchesTheModel)
{
    const uint32_t seed = Setting("SOAK_SEED", 1), replay = Setting("SOAK_SEED_RUN", 0);
    const int actions = static_cast<int>(Setting("SOAK_ACTIONS", 300));
    const int runLength = replay ? actions : static_cast<int>(std::max<uint32_t>(1, Setting("SOAK_RUN_LENGTH", 150)));
    DWORD start = GetTickCount();
    std::mt19937 seeds(seed);   // every run has its own seed, so that it replays alone
    int taken = 0, runs = 0;
    while (taken < actions && !::testing::Test::HasFailure()) {
        uint32_t runSeed = replay ? replay : seeds();
        std::vector<std::string> history;
        taken += Walk(runSeed, std::min(runLength, actions - taken)).Run(&history);
        ++runs;
        if (::testing::Test::HasFailure()) {
            std::ostringstream report;
            report << "divergence in the run of seed " << runSeed << " (walk seed " << seed
                   << "); replay: scripts/soak --run-seed " << runSeed << " --actions " << history.size() - 1 << "\n";
            for (size_t i = 0; i < history.size(); ++i)
                report << "  " << i << ": " << history[i] << "\n";
            ADD_FAILURE() << report.str();
        }
    }
    printf("soak: %d actions in %d runs, %.1f s, seed %u\n", taken, runs, (GetTickCount() - start) / 1000.0, seed);
}

}  // namespace
