// Reference model of the tester and of the virtual couplers behind it, for
// the randomised soak test: what the window should show, which message box
// should appear, and where the coupler's lines should stand after every user
// action. Pure bookkeeping: it touches neither the program nor the coupler.
#pragma once

#include <stdint.h>

#include <random>
#include <string>
#include <vector>

// What the user (or the coupler's bench) does in one step.
enum class SoakAction {
    SelectBaud,      // arg: baud-rate list index
    SelectPort,      // arg: port list index
    PressOpenClose,  // "öffnen" / "schliessen"
    PressSdaSwitch,  // "SDA   on/off"
    PressSdaRead,    // "SDA  ?"
    PressSclSwitch,  // "SCL   on/off"
    PressIntRead,    // "INT  ?"
    HoldSda,         // com, on: a slave holds SDA at ground / lets go
    PullInt,         // com, on: INT pulled to ground / released
    Vanish,          // com, on: adapter pulled out / put back
    Busy,            // com, on: another program holds the port / lets it go
};

struct SoakStep {
    SoakAction action;
    int arg;    // list index for the selections, COM number for the coupler
    bool on;
};
std::string DescribeStep(const SoakStep& step);

// One indicator field as the user sees it.
struct SoakField {
    std::string text;
    uint32_t background;   // COLORREF
};

// A message box the program should show during a step (empty title: none).
struct SoakBox {
    std::string title;
    std::string text;
    std::string buttonTextMeanwhile;   // the open/close button while the box is up
};

// One virtual coupler port.
struct SoakPort {
    bool present = false;
    bool busy = false;
    bool vanished = false;
    bool sdaHeld = false;
    bool intPulled = false;
    int dtr = -1;   // line as last switched by the program; -1 not known yet
    int rts = -1;
};

constexpr int SOAK_MAX_COM = 12;   // ports 10 and above may exist; never listed

// Indicator fields in the order 13 (SDA out), 14 (SDA in), 15 (SCL out), 16 (INT in).
constexpr int SOAK_FIELD_SDA_OUT = 0;
constexpr int SOAK_FIELD_SDA_IN = 1;
constexpr int SOAK_FIELD_SCL_OUT = 2;
constexpr int SOAK_FIELD_INT_IN = 3;

struct SoakModel {
    SoakPort ports[SOAK_MAX_COM + 1];      // index = COM number; 0 unused
    std::vector<int> listedComs;           // port list items, as COM numbers
    int portIndex = -1;                    // selected port list item
    int baudIndex = 7;                     // "9600"
    bool portOpen = false;
    int openCom = 0;                       // COM number of the open port
    bool sdaOn = false;
    bool sclOn = false;
    std::string buttonText;
    SoakField fields[4];
};

// A random set of present and busy ports for one run of the program, and the
// state right after its start-up (with the port discovery's result). warning
// tells whether the start-up warns that no port was found.
void SoakStartRun(SoakModel& model, std::mt19937& random, bool* warning);
// Picks the next step; the mix favours the buttons and the open port.
SoakStep SoakChooseStep(const SoakModel& model, std::mt19937& random);
// Applies a step to the model; returns the message box it should show.
SoakBox SoakApply(SoakModel& model, const SoakStep& step);

// The baud rate of a list index, as a number.
uint32_t SoakBaudRate(int index);
std::string SoakComName(int com);   // "com3"
