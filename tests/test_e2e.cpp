// The real coupler-tester.exe on virtual couplers, used as a technician uses
// it: every click is a real mouse click, texts are read through the window
// system, colours from the screen, message boxes by title and text.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/coupler_client.h"
#include "tests/support/driver.h"
#include "tests/support/tester_session.h"

namespace {

constexpr COLORREF WHITE = RGB(255, 255, 255);
constexpr COLORREF GREEN = RGB(0, 255, 0);
constexpr COLORREF YELLOW = RGB(255, 255, 128);
constexpr COLORREF RED = RGB(255, 0, 0);
constexpr COLORREF PANEL = RGB(168, 176, 200);

// Windows-1252 texts, written with escapes so the test reads the bytes the
// program must put on screen.
const std::string OPEN = "\xF6" "ffnen";
const std::string CLOSE = "schliessen";
const std::string NOT_OPEN = "COM-Port ist nicht ge\xF6" "ffnet";

class EndToEnd : public TesterSession {
protected:
    EndToEnd() { mouseClicks = true; }
    void OpenPort(int portIndex, int baudIndex)
    {
        SelectItem(Control(2), baudIndex);
        SelectItem(Control(4), portIndex);
        Pause(100);
        Press(6);
        ASSERT_TRUE(WaitText(Control(6), CLOSE));
    }
};

// True once the port has been closed again since `closes` was read, with
// both lines off and `before` (bit 0 DTR, bit 1 RTS) just before the close.
bool LinesDropped(int com, int64_t closes, int before)
{
    for (int i = 0; i < 100 && CouplerCloseCount(com) <= closes; ++i)
        Sleep(10);
    return CouplerCloseCount(com) > closes && CouplerLinesAtClose(com) == before && CouplerDtr(com) == 0 &&
           CouplerRts(com) == 0;
}

TEST_F(EndToEnd, WithoutAnyPortEveryActionReportsIt)
{
    // A file named as the port-less settings string's first characters must
    // not be taken for a port.
    HANDLE stray = CreateFileA(":960", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(stray, INVALID_HANDLE_VALUE);
    CloseHandle(stray);
    Launch({});
    HWND box = tester.WaitMessageBox("W A R N U N G");
    ASSERT_TRUE(box) << "no warning about the missing ports";
    EXPECT_EQ(MessageBoxText(box), "Es wurde keine RS232 gefunden");
    EXPECT_FALSE(IsWindowEnabled(window)) << "the main window must wait for the box";
    ASSERT_TRUE(PressOk(box));
    Pause(100);
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_TRUE(ComboItems(Control(4)).empty());
    EXPECT_EQ(ComboSelection(Control(4)), -1);

    PressExpectingBox(6, "F E H L E R", "COM-Port konnten nicht ge\xF6" "ffnet werden");
    EXPECT_TRUE(WaitText(Control(6), OPEN));

    PressExpectingBox(9, "F E H L E R   S D A", NOT_OPEN);
    PressExpectingBox(10, "F E H L E R    S D A", NOT_OPEN);
    PressExpectingBox(11, "F E H L E R   S C L ", NOT_OPEN);
    PressExpectingBox(12, "F E H L E R    I N T", NOT_OPEN);
    for (int field : {13, 14, 15, 16})
        EXPECT_TRUE(FieldShows(field, "0", WHITE));
    DeleteFileA(":960");
}

TEST_F(EndToEnd, StartsWithTheLayoutAndListsTheFreePorts)
{
    Launch({1, 3});
    EXPECT_EQ(tester.CurrentMessageBox(), nullptr) << "no box when ports exist";
    EXPECT_EQ(ComboItems(Control(4)), (std::vector<std::string>{"com1", "com3"}));
    EXPECT_EQ(ComboSelection(Control(4)), 0);
    EXPECT_EQ(Text(4), "com1");
    EXPECT_EQ(ComboItems(Control(2)),
              (std::vector<std::string>{"75", "150", "300", "600", "1200", "2400", "4800", "9600", "19200"}));
    EXPECT_EQ(Text(2), "9600");

    // Title, size and placement: see the spine and layout suites.
    const std::pair<int, std::string> labels[] = {
        {1, "serielle Schnittestelle einstellen und \xF6" "ffnen"}, {3, "Bautrate:"}, {5, "COM-Port"},
        {6, OPEN}, {8, "Steuern und Abfragen der I2C-Signale"}, {9, "SDA   on/off"}, {10, "SDA  ?"},
        {11, "SCL   on/off"}, {12, "INT  ?"}};
    for (const auto& label : labels)
        EXPECT_EQ(Text(label.first), label.second) << label.first;
    for (int field : {13, 14, 15, 16})
        EXPECT_TRUE(FieldShows(field, "0", WHITE));
    // Panels and labels share the panel colour with the window.
    EXPECT_TRUE(WaitClientPixel(Control(0), 5, 60, PANEL));
    EXPECT_TRUE(WaitClientPixel(Control(3), 125, 2, PANEL));

    EXPECT_EQ(Text(17),
              "1. COM \xF6" "ffnen\r\n"
              "2. Die Signale SCL und SDA lassen sich einzeln schalten. Die LEDs am Koppler m\xFC" "ssen dem "
              "Signal folgen\r\n"
              "3. Mit dem Knopf SDA ? kann der Signalzustand dann wieder zur\xFC" "ckgelesen werden.\r\n"
              "4. SDA auf 1 stellen und an einem Slave nach Masse ziehen - SDA ? dr\xFC" "cken - Signal muss 0 "
              "sein.\r\n"
              "5. INT-Signal auf Masse zeihen -  INT ? dr\xFC" "cken - Signal muss 1 sein ansonsten 0.\r\n"
              "\r\n"
              "Viel Spass beim Testen\r\n");
}

TEST_F(EndToEnd, OpenSwitchReadAndCloseOnACoupler)
{
    Launch({1, 3});
    const int64_t com1Changes = CouplerLineChangeCount(1);   // discovery probed it
    OpenPort(1, 8);   // com3 at 19200
    CouplerLine line = {};
    ASSERT_TRUE(CouplerLineSettings(3, &line));
    EXPECT_EQ(line.baud, 19200u);
    EXPECT_EQ(line.parity, 'n');
    EXPECT_EQ(line.stopBits, 1u);
    EXPECT_EQ(CouplerDtr(3), 1);
    EXPECT_EQ(CouplerRts(3), 1);
    // Presets after the open, then each button and what the line and fields show.
    struct Step {
        int button;   // 0: only look
        int field;
        const char* text;
        COLORREF background;
        int dtr, rts;
    } steps[] = {
        {0, 13, "1", GREEN, 1, 1},  {0, 14, "1", GREEN, 1, 1}, {0, 15, "1", YELLOW, 1, 1},
        {0, 16, "0", WHITE, 1, 1},  {9, 13, "0", WHITE, 0, 1}, {10, 14, "0", WHITE, 0, 1},
        {9, 13, "1", GREEN, 1, 1},  {10, 14, "1", GREEN, 1, 1},
        {11, 15, "0", WHITE, 1, 0}, {11, 15, "1", YELLOW, 1, 1},   // the first SCL press switches RTS off
    };
    for (const Step& step : steps) {
        if (step.button)
            Press(step.button);
        EXPECT_TRUE(FieldShows(step.field, step.text, step.background)) << "button " << step.button;
        EXPECT_EQ(CouplerDtr(3), step.dtr);
        EXPECT_EQ(CouplerRts(3), step.rts);
    }
    ASSERT_TRUE(CouplerHoldSda(3, true));   // a slave pulls SDA to ground
    Press(10);
    EXPECT_TRUE(FieldShows(14, "0", WHITE));
    EXPECT_EQ(CouplerDtr(3), 1) << "reading must not switch the line";
    ASSERT_TRUE(CouplerPullInt(3, true));
    Press(12);
    EXPECT_TRUE(FieldShows(16, "1", RED));
    EXPECT_EQ(CouplerLineChangeCount(1), com1Changes) << "com1 must stay untouched";

    // Close: the fields keep what they show, the buttons report the closed port,
    // and the driver drops both lines with the port's last handle.
    const int64_t closes = CouplerCloseCount(3);
    Press(6);
    ASSERT_TRUE(WaitText(Control(6), OPEN));
    EXPECT_TRUE(LinesDropped(3, closes, 3));
    PressExpectingBox(9, "F E H L E R   S D A", NOT_OPEN);
    EXPECT_TRUE(FieldShows(14, "0", WHITE));
    EXPECT_TRUE(FieldShows(16, "1", RED));

    // Reopen: the presets again, and the first SDA press switches DTR off.
    ASSERT_TRUE(CouplerHoldSda(3, false));
    OpenPort(1, 7);
    EXPECT_TRUE(FieldShows(14, "1", GREEN));
    Press(9);
    EXPECT_TRUE(FieldShows(13, "0", WHITE));
    EXPECT_EQ(CouplerDtr(3), 0);
}

TEST_F(EndToEnd, BusyPortsAreNotListedAndClosingWithAnOpenPortExitsCleanly)
{
    ASSERT_TRUE(CouplerPortPresent(1, true));
    ASSERT_TRUE(CouplerPortBusy(1, true));   // held open by another program
    Launch({3});
    EXPECT_EQ(ComboItems(Control(4)), (std::vector<std::string>{"com3"}));
    OpenPort(0, 7);
    EXPECT_EQ(CouplerDtr(3), 1);

    const int64_t closes = CouplerCloseCount(3);
    CloseExpectingCodeZero();   // the port still open
    EXPECT_TRUE(LinesDropped(3, closes, 3));
}

}  // namespace
