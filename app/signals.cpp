// The four signal buttons: SDA and SCL switched on DTR and RTS, SDA read back
// on DSR and INT on CTS, each result shown in the field beside its button.
#include "app/handlers.h"
#include "app/layout.h"
#include "app/state.h"
#include "app/texts.h"
#include "serial/serial.h"
#include "toolkit/msgbox.h"

namespace {

// Every handler needs an open port; otherwise it says so under its own title.
bool PortIsOpen(const char* errorTitle)
{
    if (Tester().portHandle > 0)
        return true;
    ShowMessageBox(errorTitle, texts::PORT_NOT_OPEN, 0);
    return false;
}

// Switches an output: the field shows the new state before the line is
// switched; the flag records what was commanded.
void ToggleOutput(uint8_t& on, int32_t field, COLORREF onColour, int32_t (*setLine)(int32_t, int32_t))
{
    int32_t handle = Tester().portHandle;
    if (on == 0) {
        SetIndicator(field, "1", onColour);
        setLine(handle, 1);
        on = 1;
    } else {
        SetIndicator(field, "0", WHITE);
        setLine(handle, 0);
        on = 0;
    }
}

void ShowInput(int32_t value, int32_t field, COLORREF onColour)
{
    if (value != 0)
        SetIndicator(field, "1", onColour);
    else
        SetIndicator(field, "0", WHITE);
}

}  // namespace

int32_t ToggleSda()
{
    if (PortIsOpen(texts::SDA_SWITCH_ERROR_TITLE))
        ToggleOutput(Tester().sdaOn, SDA_OUT_FIELD, GREEN, SerialSetDtr);
    return 0;
}

int32_t ReadSda()
{
    if (PortIsOpen(texts::SDA_READ_ERROR_TITLE))
        ShowInput(SerialGetDsr(Tester().portHandle), SDA_IN_FIELD, GREEN);
    return 0;
}

int32_t ToggleScl()
{
    if (PortIsOpen(texts::SCL_SWITCH_ERROR_TITLE))
        ToggleOutput(Tester().sclOn, SCL_OUT_FIELD, LIGHT_YELLOW, SerialSetRts);
    return 0;
}

int32_t ReadInt()
{
    if (PortIsOpen(texts::INT_READ_ERROR_TITLE))
        ShowInput(SerialGetCts(Tester().portHandle), INT_IN_FIELD, RED);
    return 0;
}
