// A seeded random walk of user actions against the real program on virtual
// couplers, checked against a reference model after every step: the window's
// texts, the indicator colours on screen, the message boxes, and the lines
// the coupler sees. On a divergence the seed and the steps so far are printed
// for a replay.
//
// Settings (environment): SOAK_ACTIONS (default 300), SOAK_SEED (default 1),
// SOAK_RUN_LENGTH (steps per start of the program, default 150), SOAK_SEED_RUN
// (replays the one run of that seed). scripts/soak runs long walks.
#include <gtest/gtest.h>

#include <stdio.h>
#include <algorithm>
#include <stdlib.h>

#include <sstream>

#include "app/layout.h"
#include "app/texts.h"
#include "tests/support/coupler_client.h"
#include "tests/support/driver.h"
#include "tests/support/soak_model.h"

namespace {

uint32_t Setting(const char* name, uint32_t fallback)
{
    const char* value = getenv(name);
    return value && *value ? static_cast<uint32_t>(strtoul(value, nullptr, 10)) : fallback;
}

// One start of the program, walked until its step budget is spent or the
// program and the model part ways.
class SoakRun {
public:
    SoakRun(uint32_t seed, int steps) : seed_(seed), steps_(steps), random_(seed) {}

    // Number of steps taken; the divergence (empty when none) in *failure.
    int Walk(std::string* failure);
    const std::vector<std::string>& History() const { return history_; }

private:
    HWND Control(int number) { return FindControl(window_, number); }
    bool Settle() { return WaitPostedMessagesTaken(editor_); }
    bool Perform(const SoakStep& step);
    void Compare(const char* when);
    void CheckBox(const SoakBox& box);
    void Diverge(const std::string& what)
    {
        if (failure_.empty())
            failure_ = what;
    }

    uint32_t seed_;
    int steps_;
    std::mt19937 random_;
    SoakModel model_;
    TesterProcess tester_;
    HWND window_ = 0;
    HWND editor_ = 0;
    std::vector<std::string> history_;
    std::string failure_;
};

bool SoakRun::Perform(const SoakStep& step)
{
    static const int buttons[] = {OPEN_BUTTON, SDA_SWITCH_BUTTON, SDA_READ_BUTTON, SCL_SWITCH_BUTTON,
                                  INT_READ_BUTTON};
    switch (step.action) {
    case SoakAction::SelectBaud:
        SelectItem(Control(BAUD_LIST), step.arg);
        return true;
    case SoakAction::SelectPort:
        SelectItem(Control(PORT_LIST), step.arg);
        return true;
    case SoakAction::PressOpenClose:
    case SoakAction::PressSdaSwitch:
    case SoakAction::PressSdaRead:
    case SoakAction::PressSclSwitch:
    case SoakAction::PressIntRead:
        PressButton(Control(buttons[static_cast<int>(step.action) - static_cast<int>(SoakAction::PressOpenClose)]));
        return true;
    case SoakAction::HoldSda:
        return CouplerHoldSda(step.arg, step.on);
    case SoakAction::PullInt:
        return CouplerPullInt(step.arg, step.on);
    case SoakAction::Vanish:
        return CouplerPortVanish(step.arg, step.on);
    case SoakAction::Busy:
        return CouplerPortBusy(step.arg, step.on);
    }
    return false;
}

void SoakRun::CheckBox(const SoakBox& box)
{
    if (box.title.empty())
        return;
    HWND shown = tester_.WaitMessageBox(box.title, 3000);
    if (!shown) {
        HWND other = tester_.CurrentMessageBox();
        Diverge("expected the box \"" + box.title + "\", saw " +
                (other ? "\"" + WindowText(other) + "\"" : std::string("none")));
        return;
    }
    if (MessageBoxText(shown) != box.text)
        Diverge("box \"" + box.title + "\" says \"" + MessageBoxText(shown) + "\"");
    std::string button = WindowText(Control(OPEN_BUTTON));
    if (button != box.buttonTextMeanwhile)
        Diverge("the open/close button reads \"" + button + "\" while the box is up");
    if (!PressOk(shown))
        Diverge("the box \"" + box.title + "\" does not close");
    if (!Settle())
        Diverge("the program does not take its messages after the box");
}

void SoakRun::Compare(const char* when)
{
    std::ostringstream out;
    if (HWND box = tester_.CurrentMessageBox())
        out << " unexpected box \"" << WindowText(box) << "\": \"" << MessageBoxText(box) << "\";";
    std::string button = WindowText(Control(OPEN_BUTTON));
    if (button != model_.buttonText)
        out << " button \"" << button << "\" (model \"" << model_.buttonText << "\");";
    for (int i = 0; i < 4; ++i) {
        HWND field = Control(SDA_OUT_FIELD + i);
        const SoakField& expected = model_.fields[i];
        std::string text = WindowText(field);
        if (text != expected.text)
            out << " field " << SDA_OUT_FIELD + i << " \"" << text << "\" (model \"" << expected.text << "\");";
        // The text is only invalidated; the colour arrives with the next paint.
        if (!WaitClientPixel(field, 3, 3, expected.background, 1500))
            out << " field " << SDA_OUT_FIELD + i << " colour 0x" << std::hex << ClientPixel(field, 3, 3)
                << " (model 0x" << expected.background << std::dec << ");";
    }
    if (ComboSelection(Control(BAUD_LIST)) != model_.baudIndex)
        out << " baud selection " << ComboSelection(Control(BAUD_LIST)) << ";";
    if (ComboSelection(Control(PORT_LIST)) != model_.portIndex)
        out << " port selection " << ComboSelection(Control(PORT_LIST)) << ";";
    for (int com = 1; com <= SOAK_MAX_COM; ++com) {
        const SoakPort& port = model_.ports[com];
        if (port.dtr >= 0 && CouplerDtr(com) != port.dtr)
            out << " " << SoakComName(com) << " DTR " << CouplerDtr(com) << " (model " << port.dtr << ");";
        if (port.rts >= 0 && CouplerRts(com) != port.rts)
            out << " " << SoakComName(com) << " RTS " << CouplerRts(com) << " (model " << port.rts << ");";
    }
    if (!out.str().empty())
        Diverge(std::string(when) + ":" + out.str());
}

int SoakRun::Walk(std::string* failure)
{
    bool warning = false;
    SoakStartRun(model_, random_, &warning);
    std::ostringstream setup;
    setup << "start with ports";
    bool ok = CouplerReset();
    for (int com = 1; com <= SOAK_MAX_COM; ++com) {
        const SoakPort& port = model_.ports[com];
        if (port.present) {
            setup << " " << SoakComName(com) << (port.busy ? "(busy)" : "");
            ok = ok && CouplerPortPresent(com, true) && (!port.busy || CouplerPortBusy(com, true));
        }
    }
    history_.push_back(setup.str());
    if (!ok || !tester_.Start() || !(window_ = tester_.WaitMainWindow())) {
        *failure = "the virtual coupler or the program did not start";
        return 0;
    }
    if (!(editor_ = WaitTesterTakingMessages(window_))) {
        *failure = "the program does not take its messages after the start";
        return 0;
    }
    if (warning)
        CheckBox(SoakBox{texts::WARNING_TITLE, texts::NO_PORT_FOUND, texts::OPEN});
    std::vector<std::string> items;
    for (int com : model_.listedComs)
        items.push_back(SoakComName(com));
    if (ComboItems(Control(PORT_LIST)) != items)
        Diverge("the port list does not hold the free ports com1 to com9");
    Compare("after the start");

    int taken = 0;
    for (; taken < steps_ && failure_.empty(); ++taken) {
        SoakStep step = SoakChooseStep(model_, random_);
        history_.push_back(DescribeStep(step));
        bool openedBefore = model_.portOpen;
        SoakBox box = SoakApply(model_, step);
        if (!Perform(step)) {
            Diverge("the virtual coupler refused the step");
            break;
        }
        if (!Settle()) {
            Diverge("the program stopped taking its messages");
            break;
        }
        CheckBox(box);
        if (!openedBefore && model_.portOpen) {
            CouplerLine line = {};
            if (!CouplerLineSettings(model_.openCom, &line) || line.baud != SoakBaudRate(model_.baudIndex))
                Diverge("the port was opened at " + std::to_string(line.baud) + " baud");
        }
        Compare("after the step");
    }
    if (failure_.empty()) {
        history_.push_back("close the window");
        PostMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
        DWORD code = 99;
        if (!tester_.WaitExit(&code, 10000) || code != 0)
            Diverge("closing the window did not end the program with code 0");
    }
    *failure = failure_;
    return taken;
}

TEST(Soak, RandomWalkMatchesTheModel)
{
    ASSERT_TRUE(CouplerAttach()) << "no virtual coupler: run the suite through scripts/test or scripts/soak";
    const uint32_t seed = Setting("SOAK_SEED", 1);
    const int actions = static_cast<int>(Setting("SOAK_ACTIONS", 300));
    // A replay of one run: its own seed, all steps in that one run.
    const uint32_t replaySeed = Setting("SOAK_SEED_RUN", 0);
    const int runLength = replaySeed ? actions
                                     : static_cast<int>(std::max<uint32_t>(1, Setting("SOAK_RUN_LENGTH", 150)));

    DWORD start = GetTickCount();
    int taken = 0, runs = 0, divergences = 0;
    // Every run of the program has a seed of its own, drawn from the walk's,
    // so that a divergent run replays alone.
    std::mt19937 seeds(seed);
    while (taken < actions) {
        uint32_t runSeed = replaySeed ? replaySeed : seeds();
        int budget = std::min(runLength, actions - taken);
        SoakRun run(runSeed, budget);
        std::string failure;
        int steps = run.Walk(&failure);
        taken += steps;
        ++runs;
        if (!failure.empty()) {
            ++divergences;
            std::ostringstream report;
            report << "divergence in the run with seed " << runSeed << " (walk seed " << seed
                   << "): " << failure << "\nreplay: scripts/soak --run-seed " << runSeed << " --actions "
                   << budget << "\nsteps:\n";
            for (size_t i = 0; i < run.History().size(); ++i)
                report << "  " << i << ": " << run.History()[i] << "\n";
            ADD_FAILURE() << report.str();
            if (steps == 0)
                break;   // the program does not even start: no point in going on
        }
    }
    double seconds = (GetTickCount() - start) / 1000.0;
    printf("soak: %d actions in %d runs of the program, %d divergences, %.1f s, seed %u\n", taken, runs,
           divergences, seconds, seed);
    fflush(stdout);
    EXPECT_EQ(divergences, 0);
}

}  // namespace
