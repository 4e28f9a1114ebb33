#include "tests/support/soak_model.h"

#include <windows.h>

#include "app/layout.h"
#include "app/texts.h"

namespace {

const char* const ACTION_NAMES[] = {
    "select baud", "select port", "press open/close", "press SDA on/off", "press SDA ?",
    "press SCL on/off", "press INT ?", "hold SDA", "pull INT", "vanish", "busy",
};

SoakField Shown(bool one, COLORREF onColour)
{
    return one ? SoakField{"1", onColour} : SoakField{"0", WHITE};
}

int Pick(std::mt19937& random, int count)
{
    return static_cast<int>(random() % static_cast<uint32_t>(count));
}

bool Chance(std::mt19937& random, int percent)
{
    return Pick(random, 100) < percent;
}

// Where a coupler step lands: mostly the open or chosen port, else any port
// the program knows of.
int ChooseCom(const SoakModel& model, std::mt19937& random)
{
    if (model.portOpen && Chance(random, 70))
        return model.openCom;
    if (model.portIndex >= 0 && Chance(random, 60))
        return model.listedComs[model.portIndex];
    std::vector<int> present;
    for (int com = 1; com <= SOAK_MAX_COM; ++com)
        if (model.ports[com].present)
            present.push_back(com);
    return present.empty() ? 1 : present[Pick(random, static_cast<int>(present.size()))];
}

SoakBox NotOpenBox(const char* title)
{
    return SoakBox{title, texts::PORT_NOT_OPEN, texts::OPEN};
}

void OpenPort(SoakModel& model, SoakBox* box)
{
    int com = model.portIndex >= 0 ? model.listedComs[model.portIndex] : 0;
    SoakPort* port = com ? &model.ports[com] : nullptr;
    if (!port || !port->present || port->busy || port->vanished) {
        *box = SoakBox{texts::ERROR_TITLE, texts::OPEN_FAILED, texts::CLOSE};
        return;   // the button reads "öffnen" again, nothing else changes
    }
    model.portOpen = true;
    model.openCom = com;
    model.buttonText = texts::CLOSE;
    port->dtr = 1;
    port->rts = 1;
    model.fields[SOAK_FIELD_SDA_OUT] = {"1", GREEN};
    model.fields[SOAK_FIELD_SCL_OUT] = {"1", LIGHT_YELLOW};
    model.fields[SOAK_FIELD_SDA_IN] = {"1", GREEN};
    model.fields[SOAK_FIELD_INT_IN] = {"0", WHITE};
    model.sdaOn = true;
    model.sclOn = true;
}

// A switched output: the field and the flag follow the command; the line
// only while the adapter is there.
void ToggleOutput(SoakModel& model, bool& flag, int field, COLORREF onColour, int SoakPort::*line)
{
    flag = !flag;
    model.fields[field] = Shown(flag, onColour);
    SoakPort& port = model.ports[model.openCom];
    if (!port.vanished)
        port.*line = flag ? 1 : 0;
}

}  // namespace

std::string DescribeStep(const SoakStep& step)
{
    std::string text = ACTION_NAMES[static_cast<int>(step.action)];
    switch (step.action) {
    case SoakAction::SelectBaud:
    case SoakAction::SelectPort:
        return text + " " + std::to_string(step.arg);
    case SoakAction::HoldSda:
    case SoakAction::PullInt:
    case SoakAction::Vanish:
    case SoakAction::Busy:
        return text + " " + SoakComName(step.arg) + (step.on ? " on" : " off");
    default:
        return text;
    }
}

uint32_t SoakBaudRate(int index)
{
    return static_cast<uint32_t>(std::stoul(BAUD_RATES[index]));
}

std::string SoakComName(int com)
{
    return "com" + std::to_string(com);
}

void SoakStartRun(SoakModel& model, std::mt19937& random, bool* warning)
{
    model = SoakModel();
    // Now and then a start with every port missing or busy.
    bool none = Chance(random, 10);
    for (int com = 1; com <= SOAK_MAX_COM; ++com) {
        SoakPort& port = model.ports[com];
        port.present = Chance(random, com <= 9 ? 50 : 30);
        port.busy = port.present && (none || Chance(random, 15));
        if (port.present && !port.busy && com <= 9)
            model.listedComs.push_back(com);
    }
    model.portIndex = model.listedComs.empty() ? -1 : 0;
    model.buttonText = texts::OPEN;
    for (SoakField& field : model.fields)
        field = {"0", WHITE};
    *warning = model.listedComs.empty();
}

SoakStep SoakChooseStep(const SoakModel& model, std::mt19937& random)
{
    // Weights: buttons most, then the coupler's faults and inputs, then the lists.
    static const struct {
        SoakAction action;
        int weight;
    } mix[] = {
        {SoakAction::SelectBaud, 4},     {SoakAction::SelectPort, 4},     {SoakAction::PressOpenClose, 12},
        {SoakAction::PressSdaSwitch, 14}, {SoakAction::PressSdaRead, 12},  {SoakAction::PressSclSwitch, 14},
        {SoakAction::PressIntRead, 12},  {SoakAction::HoldSda, 8},       {SoakAction::PullInt, 8},
        {SoakAction::Vanish, 6},         {SoakAction::Busy, 6},
    };
    int total = 0;
    for (const auto& entry : mix)
        total += entry.weight;
    int roll = Pick(random, total);
    SoakAction action = mix[0].action;
    for (const auto& entry : mix) {
        if (roll < entry.weight) {
            action = entry.action;
            break;
        }
        roll -= entry.weight;
    }
    if (action == SoakAction::SelectPort && model.listedComs.empty())
        action = SoakAction::SelectBaud;

    SoakStep step = {action, 0, false};
    switch (action) {
    case SoakAction::SelectBaud:
        step.arg = Pick(random, 9);
        break;
    case SoakAction::SelectPort:
        step.arg = Pick(random, static_cast<int>(model.listedComs.size()));
        break;
    case SoakAction::HoldSda:
    case SoakAction::PullInt:
    case SoakAction::Vanish:
    case SoakAction::Busy: {
        step.arg = ChooseCom(model, random);
        const SoakPort& port = model.ports[step.arg];
        bool current = action == SoakAction::HoldSda   ? port.sdaHeld
                       : action == SoakAction::PullInt ? port.intPulled
                       : action == SoakAction::Vanish  ? port.vanished
                                                       : port.busy;
        // Mostly a change; sometimes the same again, which must change nothing.
        step.on = Chance(random, 85) ? !current : current;
        break;
    }
    default:
        break;
    }
    return step;
}

SoakBox SoakApply(SoakModel& model, const SoakStep& step)
{
    SoakBox box;
    switch (step.action) {
    case SoakAction::SelectBaud:
        model.baudIndex = step.arg;
        break;
    case SoakAction::SelectPort:
        model.portIndex = step.arg;
        break;
    case SoakAction::PressOpenClose:
        if (model.portOpen) {
            // Fields and flags stay as they were; the driver drops the lines
            // with the port's last handle.
            model.ports[model.openCom].dtr = 0;
            model.ports[model.openCom].rts = 0;
            model.portOpen = false;
            model.openCom = 0;
            model.buttonText = texts::OPEN;
        } else {
            OpenPort(model, &box);
        }
        break;
    case SoakAction::PressSdaSwitch:
        if (!model.portOpen)
            return NotOpenBox(texts::SDA_SWITCH_ERROR_TITLE);
        ToggleOutput(model, model.sdaOn, SOAK_FIELD_SDA_OUT, GREEN, &SoakPort::dtr);
        break;
    case SoakAction::PressSclSwitch:
        if (!model.portOpen)
            return NotOpenBox(texts::SCL_SWITCH_ERROR_TITLE);
        ToggleOutput(model, model.sclOn, SOAK_FIELD_SCL_OUT, LIGHT_YELLOW, &SoakPort::rts);
        break;
    case SoakAction::PressSdaRead: {
        if (!model.portOpen)
            return NotOpenBox(texts::SDA_READ_ERROR_TITLE);
        // DSR follows the line DTR really carries, not the flag; a pulled
        // adapter answers nothing, which reads as 0.
        const SoakPort& port = model.ports[model.openCom];
        model.fields[SOAK_FIELD_SDA_IN] = Shown(!port.vanished && port.dtr == 1 && !port.sdaHeld, GREEN);
        break;
    }
    case SoakAction::PressIntRead: {
        if (!model.portOpen)
            return NotOpenBox(texts::INT_READ_ERROR_TITLE);
        const SoakPort& port = model.ports[model.openCom];
        model.fields[SOAK_FIELD_INT_IN] = Shown(!port.vanished && port.intPulled, RED);
        break;
    }
    case SoakAction::HoldSda:
        model.ports[step.arg].sdaHeld = step.on;
        break;
    case SoakAction::PullInt:
        model.ports[step.arg].intPulled = step.on;
        break;
    case SoakAction::Vanish:
        model.ports[step.arg].vanished = step.on;
        break;
    case SoakAction::Busy:
        model.ports[step.arg].busy = step.on;
        break;
    }
    return box;
}
