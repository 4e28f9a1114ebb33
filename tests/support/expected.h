// What the tester must show and do, written down once, by hand, from its
// description: every suite compares with these values and never with the
// program's own constants. Texts are the Windows-1252 bytes on screen.
#pragma once

#include <windows.h>

namespace expected {

const char* const TITLE = "RS232   I2C  Koppler    (Testprogramm)";
constexpr int CLIENT_WIDTH = 630, CLIENT_HEIGHT = 499;

constexpr COLORREF BLACK = RGB(0, 0, 0), WHITE = RGB(255, 255, 255), GREEN = RGB(0, 255, 0),
                   YELLOW = RGB(255, 255, 128), RED = RGB(255, 0, 0), PANEL = RGB(168, 176, 200);

const char* const OPEN = "\xF6" "ffnen";
const char* const CLOSE = "schliessen";
const char* const BAUDS[9] = {"75", "150", "300", "600", "1200", "2400", "4800", "9600", "19200"};
constexpr int BAUD_PRESET = 7;

struct Box {
    const char* title;
    const char* text;
};
const Box NO_PORT = {"W A R N U N G", "Es wurde keine RS232 gefunden"};
const Box OPEN_FAILED = {"F E H L E R", "COM-Port konnten nicht ge\xF6" "ffnet werden"};

// The signal buttons: the field each drives, its colour for "1", and the box
// it shows without an open port.
struct Signal {
    int button, field;
    COLORREF on;
    Box notOpen;
};
const char* const NOT_OPEN = "COM-Port ist nicht ge\xF6" "ffnet";
const Signal SIGNALS[4] = {
    {9, 13, GREEN, {"F E H L E R   S D A", NOT_OPEN}},
    {10, 14, GREEN, {"F E H L E R    S D A", NOT_OPEN}},
    {11, 15, YELLOW, {"F E H L E R   S C L ", NOT_OPEN}},
    {12, 16, RED, {"F E H L E R    I N T", NOT_OPEN}},
};
enum { SDA_SWITCH, SDA_READ, SCL_SWITCH, INT_READ };
constexpr int OPEN_BUTTON = 6, BAUD_LIST = 2, PORT_LIST = 4, EDITOR = 17;

// Every control: panel (-1: the main window), place and size in the
// parent's client area (height 0: a closed list, as high as its font), text
// (0: none to compare), background (0: the system's), Arial points and bold
// (0: the default font).
struct Control {
    int number, parent, x, y, width, height;
    const char* text;
    COLORREF background;
    int points;
    bool bold;
};
const Control CONTROLS[18] = {
    {0, -1, 30, 30, 570, 140, 0, PANEL, 0, false},
    {1, 0, 19, 9, 540, 20, "serielle Schnittestelle einstellen und \xF6" "ffnen", PANEL, 12, true},
    {2, 0, 29, 79, 130, 0, "9600", 0, 10, false},
    {3, 0, 29, 59, 130, 20, "Bautrate:", PANEL, 10, true},
    {4, 0, 199, 79, 120, 0, 0, 0, 10, false},
    {5, 0, 199, 59, 120, 20, "COM-Port", PANEL, 10, true},
    {6, 0, 369, 69, 90, 40, "\xF6" "ffnen", 0, 12, true},
    {7, -1, 30, 170, 570, 290, 0, PANEL, 0, false},
    {8, 7, 19, 9, 540, 20, "Steuern und Abfragen der I2C-Signale", PANEL, 12, true},
    {9, 7, 19, 49, 110, 30, "SDA   on/off", 0, 10, true},
    {10, 7, 339, 49, 110, 30, "SDA  ?", 0, 10, true},
    {11, 7, 19, 119, 110, 30, "SCL   on/off", 0, 10, true},
    {12, 7, 339, 119, 110, 30, "INT  ?", 0, 10, true},
    {13, 7, 159, 59, 20, 20, "0", WHITE, 10, true},
    {14, 7, 479, 59, 20, 20, "0", WHITE, 10, true},
    {15, 7, 159, 129, 20, 20, "0", WHITE, 10, true},
    {16, 7, 479, 129, 20, 20, "0", WHITE, 10, true},
    {17, 7, 19, 169, 530, 110, 0, 0, 0, false},
};

// The help text as the editor returns it.
const char* const HELP =
    "1. COM \xF6" "ffnen\r\n"
    "2. Die Signale SCL und SDA lassen sich einzeln schalten. Die LEDs am Koppler m\xFC" "ssen dem Signal folgen\r\n"
    "3. Mit dem Knopf SDA ? kann der Signalzustand dann wieder zur\xFC" "ckgelesen werden.\r\n"
    "4. SDA auf 1 stellen und an einem Slave nach Masse ziehen - SDA ? dr\xFC" "cken - Signal muss 0 sein.\r\n"
    "5. INT-Signal auf Masse zeihen -  INT ? dr\xFC" "cken - Signal muss 1 sein ansonsten 0.\r\n"
    "\r\n"
    "Viel Spass beim Testen\r\n";

}  // namespace expected
