// The main window's content, as tables.
#include "app/layout.h"

#include "app/state.h"
#include "app/tester.h"
#include "toolkit/colours.h"
#include "toolkit/container.h"
#include "toolkit/controls.h"
#include "toolkit/fonts.h"

const char* const BAUD_RATES[9] = {"75", "150", "300", "600", "1200", "2400", "4800", "9600", "19200"};

const char* const HELP_LINES[7] = {
    "1. COM öffnen",
    "2. Die Signale SCL und SDA lassen sich einzeln schalten. Die LEDs am Koppler müssen dem Signal folgen",
    "3. Mit dem Knopf SDA ? kann der Signalzustand dann wieder zurückgelesen werden.",
    "4. SDA auf 1 stellen und an einem Slave nach Masse ziehen - SDA ? drücken - Signal muss 0 sein.",
    "5. INT-Signal auf Masse zeihen -  INT ? drücken - Signal muss 1 sein ansonsten 0.",
    "",
    "Viel Spass beim Testen",
};

namespace {

struct FontSpec {
    int32_t number;
    int32_t points;
    bool bold;
};

const FontSpec FONTS[] = {
    {1, 10, true}, {2, 12, true}, {3, 10, false}, {4, 8, true}, {5, 9, false}, {6, 8, false},
};

enum ControlKind { TEXT, COMBO, BUTTON };

struct ControlSpec {
    int32_t number;
    ControlKind kind;
    int32_t x, y, width, height;
    const char* text;
    uint32_t flags;
    int32_t font;
};

constexpr uint32_t INDICATOR = CONTROL_TEXT_CENTRED | CONTROL_TEXT_SUNKEN;

const ControlSpec PORT_PANEL_CONTROLS[] = {
    {PORT_HEADING, TEXT, 19, 9, 540, 20, "serielle Schnittestelle einstellen und öffnen", CONTROL_TEXT_CENTRED, 2},
    {BAUD_LIST, COMBO, 29, 79, 130, 100, nullptr, 0, 3},
    {BAUD_LABEL, TEXT, 29, 59, 130, 20, "Bautrate:", 0, 1},
    {PORT_LIST, COMBO, 199, 79, 120, 100, nullptr, 0, 3},
    {PORT_LABEL, TEXT, 199, 59, 120, 20, "COM-Port", 0, 1},
    {OPEN_BUTTON, BUTTON, 369, 69, 90, 40, "öffnen", CONTROL_BUTTON_DEFAULT, 2},
};

const ControlSpec SIGNAL_PANEL_CONTROLS[] = {
    {SIGNAL_HEADING, TEXT, 19, 9, 540, 20, "Steuern und Abfragen der I2C-Signale", CONTROL_TEXT_CENTRED, 2},
    {SDA_SWITCH_BUTTON, BUTTON, 19, 49, 110, 30, "SDA   on/off", 0, 1},
    {SDA_READ_BUTTON, BUTTON, 339, 49, 110, 30, "SDA  ?", 0, 1},
    {SCL_SWITCH_BUTTON, BUTTON, 19, 119, 110, 30, "SCL   on/off", 0, 1},
    {INT_READ_BUTTON, BUTTON, 339, 119, 110, 30, "INT  ?", 0, 1},
    {SDA_OUT_FIELD, TEXT, 159, 59, 20, 20, "0", INDICATOR, 1},
    {SDA_IN_FIELD, TEXT, 479, 59, 20, 20, "0", INDICATOR, 1},
    {SCL_OUT_FIELD, TEXT, 159, 129, 20, 20, "0", INDICATOR, 1},
    {INT_IN_FIELD, TEXT, 479, 129, 20, 20, "0", INDICATOR, 1},
};

// Background brushes set on the containers' shared class, one per panel as
// each panel is built; owned here, deleted at shutdown after the windows.
HBRUSH panelBrushes[2] = {};

void CreateFromSpec(const ControlSpec& spec)
{
    switch (spec.kind) {
    case TEXT:
        CreateTextControl(spec.number, spec.x, spec.y, spec.width, spec.height, spec.text, spec.flags);
        break;
    case COMBO:
        CreateComboBoxControl(spec.number, spec.x, spec.y, spec.width, spec.height);
        break;
    case BUTTON:
        CreateButtonControl(spec.number, spec.x, spec.y, spec.width, spec.height, spec.text, spec.flags);
        break;
    }
    SetControlFont(spec.number, Tester().fonts[spec.font]);
}

template <size_t N>
void CreatePanel(int32_t panel, int32_t x, int32_t y, int32_t width, int32_t height,
                 HBRUSH& brush, const ControlSpec (&controls)[N])
{
    CreateContainer(panel, x, y, width, height, CONTAINER_BORDER);
    // All containers share one class: this colours every panel.
    if (HWND handle = GetControlHandle(panel)) {
        if (brush)
            DeleteObject(brush);
        brush = CreateSolidBrush(PANEL_COLOUR);
        SetClassLongPtrA(handle, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush));
    }
    for (const ControlSpec& spec : controls)
        CreateFromSpec(spec);
}

}  // namespace

void LoadFonts()
{
    TesterState& state = Tester();
    for (const FontSpec& font : FONTS) {
        int32_t handle = font.bold ? FontCreateStyled(font.number, "Arial", font.points, FONT_STYLE_BOLD)
                                   : FontCreate(font.number, "Arial", font.points);
        state.fonts[font.number] = reinterpret_cast<HFONT>(static_cast<intptr_t>(handle));
    }
}

void BuildContent(HWND mainWindow)
{
    if (!StartControlList(mainWindow))
        return;
    CreatePanel(PORT_PANEL, 30, 30, 570, 140, panelBrushes[0], PORT_PANEL_CONTROLS);
    CloseControlList();
    CreatePanel(SIGNAL_PANEL, 30, 170, 570, 290, panelBrushes[1], SIGNAL_PANEL_CONTROLS);
    CreateEditor(HELP_EDITOR, 19, 169, 530, 110);   // keeps the default control font
    CloseControlList();
}

void ApplyInitialState()
{
    for (const char* rate : BAUD_RATES)
        AddControlItem(BAUD_LIST, -1, rate);
    SetControlState(BAUD_LIST, DEFAULT_BAUD_INDEX);

    for (int32_t field : {SDA_OUT_FIELD, INT_IN_FIELD, SCL_OUT_FIELD, SDA_IN_FIELD})
        SetControlColours(field, BLACK, WHITE);
    for (int32_t label : {PORT_HEADING, SIGNAL_HEADING, BAUD_LABEL, PORT_LABEL})
        SetControlColours(label, BLACK, PANEL_COLOUR);

    FillHelpText(HELP_LINES, 7);
}

void FillHelpText(const char* const lines[], int32_t count)
{
    // The rich edit control repaints itself on every inserted line; held
    // back, the lines cost one paint instead of one each.
    HWND editor = GetControlHandle(HELP_EDITOR);
    if (editor)
        SendMessageA(editor, WM_SETREDRAW, FALSE, 0);
    for (int32_t line = 0; line < count; ++line)
        AddControlItem(HELP_EDITOR, line, lines[line]);
    if (!editor)
        return;
    // The insertions leave caret and view at the end; the reader starts at line 1.
    SendMessageA(editor, EM_SETSEL, 0, 0);
    SendMessageA(editor, WM_VSCROLL, SB_TOP, 0);
    SendMessageA(editor, WM_HSCROLL, SB_LEFT, 0);
    SendMessageA(editor, WM_SETREDRAW, TRUE, 0);
    // While its redraw was held the control switched its scroll bars on or
    // off without drawing them: its frame is painted with the text, once.
    RedrawWindow(editor, 0, 0, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
}

void ReleaseLayoutBrushes()
{
    for (HBRUSH& brush : panelBrushes) {
        if (brush)
            DeleteObject(brush);
        brush = 0;
    }
}

void SetIndicator(int32_t field, const char* text, COLORREF background)
{
    SetControlText(field, text);
    SetControlColours(field, BLACK, background);
}
