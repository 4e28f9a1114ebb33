// Port discovery at start-up and the open/close button.
#include <string>

#include "app/handlers.h"
#include "app/layout.h"
#include "app/state.h"
#include "app/texts.h"
#include "serial/serial.h"
#include "toolkit/controls.h"
#include "toolkit/msgbox.h"

namespace {

// "com3:9600,n,8,1": the port, then the chosen baud rate, no parity, 8 data
// bits, 1 stop bit.
std::string BuildSettings(const std::string& port)
{
    return port + ":" + GetControlText(BAUD_LIST) + ",n,8,1";
}

int32_t OpenWithSettings(TesterState& state)
{
    state.handshakeMode = 0;
    state.queueSize = 1024;
    return SerialOpen(state.portSettings.c_str(), state.handshakeMode, state.queueSize, state.queueSize);
}

}  // namespace

int32_t DiscoverPorts()
{
    TesterState& state = Tester();
    int found = 0;
    state.handshakeMode = 0;
    state.queueSize = 1024;
    for (int n = 1; n <= 9; ++n) {
        std::string name = "com" + std::to_string(n);
        state.portSettings = BuildSettings(name);
        state.portHandle = OpenWithSettings(state);
        if (state.portHandle > 0) {
            AddControlItem(PORT_LIST, -1, name.c_str());
            SerialClose(state.portHandle);
            state.portHandle = -1;
            ++found;
        }
    }
    SetControlState(PORT_LIST, 0);
    if (found == 0)
        ShowMessageBox(texts::WARNING_TITLE, texts::NO_PORT_FOUND, 0);
    return 0;
}

int32_t TogglePort()
{
    TesterState& state = Tester();
    if (state.portOpen == 0) {
        SetControlText(OPEN_BUTTON, texts::CLOSE);
        state.portOpen = 1;
        // The port list's current text names the port, as discovery put it there.
        // With no port listed the string names no device, and the serial
        // layer refuses it like a port that does not open.
        state.portSettings = BuildSettings(GetControlText(PORT_LIST));
        state.portHandle = OpenWithSettings(state);
        if (state.portHandle > 0) {
            SerialSetDtr(state.portHandle, 1);
            SerialSetRts(state.portHandle, 1);
            SetIndicator(SDA_OUT_FIELD, "1", GREEN);
            SetIndicator(SCL_OUT_FIELD, "1", LIGHT_YELLOW);
            SetIndicator(SDA_IN_FIELD, "1", GREEN);
            SetIndicator(INT_IN_FIELD, "0", WHITE);
            state.sdaOn = 1;
            state.sclOn = 1;
        } else {
            ShowMessageBox(texts::ERROR_TITLE, texts::OPEN_FAILED, 0);
            SetControlText(OPEN_BUTTON, texts::OPEN);
            state.portOpen = 0;
        }
    } else {
        SetControlText(OPEN_BUTTON, texts::OPEN);
        SerialClose(state.portHandle);
        state.portHandle = -1;
        state.portOpen = 0;
    }
    return 0;
}
