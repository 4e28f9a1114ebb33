// The real coupler-tester.exe on virtual couplers, used as a technician uses
// it and compared with the values written down by hand: its window, the
// lines it drives, its boxes, and the faults it must survive (adapter pulled
// out, ports busy, a port taken between the discovery and the open).
#include <stdlib.h>

#include "tests/support/coupler_client.h"
#include "tests/support/driver.h"

using namespace expected;

namespace {

class EndToEnd : public ::testing::Test {
protected:
    void SelectAndOpen(int portIndex, int baudIndex)
    {
        s.Select(BAUD_LIST, baudIndex);
        s.Select(PORT_LIST, portIndex);
        ASSERT_TRUE(s.Press(OPEN_BUTTON));
        ASSERT_EQ(s.Text(OPEN_BUTTON), CLOSE);
    }
    void ExpectLines(int com, int dtr, int rts)
    {
        EXPECT_EQ(CouplerDtr(com), dtr) << "DTR of com" << com;
        EXPECT_EQ(CouplerRts(com), rts) << "RTS of com" << com;
    }
    // Each signal button of a closed port shows its own box; nothing changes.
    void ExpectEveryButtonRefused(const char* fields)
    {
        for (const Signal& signal : SIGNALS)
            s.PressForBox(signal.button, signal.notOpen, OPEN);
        for (const Signal& signal : SIGNALS)
            EXPECT_TRUE(s.Field(signal.field, fields[signal.field - 13] == '1' ? "1" : "0",
                                fields[signal.field - 13] == '1' ? signal.on : WHITE));
    }
    Session s;
};

TEST_F(EndToEnd, StartsWithItsWindowListsAndColoursAndListsOnlyFreePortsUpToNine)
{
    ASSERT_TRUE(s.Launch({1, 3, 10, 12}, {2}));
    EXPECT_FALSE(s.process.CurrentMessageBox());
    EXPECT_EQ(s.Items(PORT_LIST), (std::vector<std::string>{"com1", "com3"}));
    EXPECT_EQ(s.Text(PORT_LIST), "com1");
    EXPECT_EQ(s.Items(BAUD_LIST), std::vector<std::string>(BAUDS, BAUDS + 9));
    EXPECT_EQ(s.Selection(BAUD_LIST), BAUD_PRESET);

    EXPECT_EQ(WindowText(s.window), TITLE);
    RECT client, outer;
    GetClientRect(s.window, &client);
    GetWindowRect(s.window, &outer);
    EXPECT_EQ(client.right, CLIENT_WIDTH);
    EXPECT_EQ(client.bottom, CLIENT_HEIGHT);
    // Centred: half the screen less half the outer size, each halved apart.
    EXPECT_EQ(outer.left, GetSystemMetrics(SM_CXSCREEN) / 2 - (outer.right - outer.left) / 2);
    EXPECT_EQ(outer.top, GetSystemMetrics(SM_CYSCREEN) / 2 - (outer.bottom - outer.top) / 2);
    LONG style = GetWindowLongA(s.window, GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX | WS_SYSMENU), WS_SYSMENU);
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
        EXPECT_EQ(r.left, c.x);
        EXPECT_EQ(r.top, c.y);
        EXPECT_EQ(r.right - r.left, c.width);
        if (c.height)
            EXPECT_EQ(r.bottom - r.top, c.height);
        if (c.text)
            EXPECT_EQ(s.Text(c.number), c.text);
        // Behind the text at the right end, where no glyph reaches.
        GetClientRect(control, &inside);
        if (c.background)
            EXPECT_TRUE(s.Colour(control, inside.right - 3, 2, c.background));
    }
    for (int panel : {0, 7})
        EXPECT_TRUE(GetWindowLongA(s.Control(panel), GWL_STYLE) & WS_BORDER);
    for (int field : {13, 14, 15, 16}) {
        EXPECT_TRUE(GetWindowLongA(s.Control(field), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
        EXPECT_EQ(GetWindowLongA(s.Control(field), GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
    }
    EXPECT_EQ(GetWindowLongA(s.Control(1), GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
    EXPECT_EQ(GetWindowLongA(s.Control(6), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(GetWindowLongA(s.Control(2), GWL_STYLE) & 3, CBS_DROPDOWNLIST);
    EXPECT_EQ(s.Text(EDITOR), HELP);
    EXPECT_EQ(CouplerLineChangeCount(10) + CouplerLineChangeCount(12), 0) << "com10 and above are never probed";
}

TEST_F(EndToEnd, OpensAtEveryBaudRateThenSwitchesReadsAndClosesOnACoupler)
{
    ASSERT_TRUE(s.Launch({1, 3}));
    const int64_t com1Changes = CouplerLineChangeCount(1);
    for (int baud = 0; baud < 9; ++baud) {
        SCOPED_TRACE(BAUDS[baud]);
        SelectAndOpen(1, baud);
        CouplerLine line = {};
        ASSERT_TRUE(CouplerLineSettings(3, &line));
        EXPECT_EQ(line.baud, static_cast<uint32_t>(atoi(BAUDS[baud])));
        EXPECT_EQ(line.parity, 'n');
        EXPECT_EQ(line.dataBits * 10 + line.stopBits, 81u);
        EXPECT_FALSE(line.rtsCts || line.xonOutput || line.xonInput) << "no handshake";
        ExpectLines(3, 1, 1);
        if (baud < 8)
            ASSERT_TRUE(s.Press(OPEN_BUTTON));
    }
    // Open at 19200: the presets, then each press with its field and lines.
    struct Step {
        int button;   // 0: only look
        int field;
        const char* text;
        COLORREF background;
        int dtr, rts;
    } steps[] = {
        {0, 13, "1", GREEN, 1, 1},  {0, 14, "1", GREEN, 1, 1}, {0, 15, "1", YELLOW, 1, 1},
        {0, 16, "0", WHITE, 1, 1},  {9, 13, "0", WHITE, 0, 1}, {10, 14, "0", WHITE, 0, 1},
        {9, 13, "1", GREEN, 1, 1},  {10, 14, "1", GREEN, 1, 1}, {11, 15, "0", WHITE, 1, 0},
        {12, 16, "0", WHITE, 1, 0}, {11, 15, "1", YELLOW, 1, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.button);
        if (step.button)
            s.Press(step.button);
        EXPECT_TRUE(s.Field(step.field, step.text, step.background));
        ExpectLines(3, step.dtr, step.rts);
    }
    ASSERT_TRUE(CouplerHoldSda(3, true));   // a slave pulls SDA to ground
    ASSERT_TRUE(CouplerPullInt(3, true));
    s.Press(10);
    EXPECT_TRUE(s.Field(14, "0", WHITE));
    ExpectLines(3, 1, 1);
    // The one real mouse click: INT ? through the pointer.
    Click(s.Control(12));
    for (int i = 0; i < 100 && s.Text(16) != "1"; ++i)
        Sleep(20);
    EXPECT_TRUE(s.Field(16, "1", RED));
    EXPECT_EQ(CouplerLineChangeCount(1), com1Changes) << "com1 must stay untouched";

    // Closed, the fields keep what they show and every button refuses.
    ASSERT_TRUE(s.Press(OPEN_BUTTON));
    EXPECT_EQ(s.Text(OPEN_BUTTON), OPEN);
    ExpectEveryButtonRefused("1011");
    // Reopened, the presets again; the first SDA press switches DTR off.
    ASSERT_TRUE(CouplerHoldSda(3, false));
    SelectAndOpen(1, BAUD_PRESET);
    EXPECT_TRUE(s.Field(14, "1", GREEN));
    EXPECT_TRUE(s.Field(16, "0", WHITE));
    s.Press(9);
    EXPECT_TRUE(s.Field(13, "0", WHITE));
    ExpectLines(3, 0, 1);
}

TEST_F(EndToEnd, WithEveryPortBusyItWarnsAndEveryButtonReportsIt)
{
    int64_t changes[10] = {};
    ASSERT_TRUE(s.Launch({10}, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
    for (int com = 1; com <= 9; ++com)
        changes[com] = CouplerLineChangeCount(com);
    ASSERT_TRUE(s.process.WaitBox(NO_PORT.title, 3000));
    EXPECT_FALSE(IsWindowEnabled(s.window)) << "the main window must wait for the box";
    ASSERT_TRUE(s.Answer(NO_PORT));
    EXPECT_TRUE(IsWindowEnabled(s.window));
    EXPECT_TRUE(s.Items(PORT_LIST).empty());
    EXPECT_EQ(s.Selection(PORT_LIST), -1);
    EXPECT_EQ(s.Text(BAUD_LIST), "9600");

    // The ports come free, but the list is made once: opening still fails.
    for (int com = 1; com <= 9; ++com)
        ASSERT_TRUE(CouplerPortBusy(com, false));
    s.PressForBox(OPEN_BUTTON, OPEN_FAILED, CLOSE);
    EXPECT_EQ(s.Text(OPEN_BUTTON), OPEN);
    ExpectEveryButtonRefused("0000");
    for (int com = 1; com <= 10; ++com)
        EXPECT_EQ(CouplerLineChangeCount(com), com < 10 ? changes[com] : 0) << "com" << com << " was touched";
    s.Close();
}

TEST_F(EndToEnd, APortTakenAfterTheDiscoveryOrPulledOutWhileOpenLeavesItWorking)
{
    const int com = 6;
    ASSERT_TRUE(s.Launch({com}));
    ASSERT_TRUE(CouplerPortBusy(com, true));   // another program takes it
    const int64_t changes = CouplerLineChangeCount(com);
    s.PressForBox(OPEN_BUTTON, OPEN_FAILED, CLOSE);
    EXPECT_EQ(s.Text(OPEN_BUTTON), OPEN);
    EXPECT_EQ(CouplerLineChangeCount(com), changes) << "the taken port's lines were touched";
    ExpectEveryButtonRefused("0000");

    ASSERT_TRUE(CouplerPortBusy(com, false));
    ASSERT_TRUE(s.Press(OPEN_BUTTON));
    ExpectLines(com, 1, 1);
    // Pulled out: the outputs follow the command on screen only, the reads
    // find nothing (0), the port closes, and cannot open until it is back.
    ASSERT_TRUE(CouplerPullInt(com, true));
    ASSERT_TRUE(CouplerPortVanish(com, true));
    const int64_t pulled = CouplerLineChangeCount(com);
    for (int button : {9, 11, 10, 12})
        ASSERT_TRUE(s.Press(button));
    EXPECT_TRUE(s.Field(13, "0", WHITE));
    EXPECT_TRUE(s.Field(15, "0", WHITE));
    EXPECT_TRUE(s.Field(14, "0", WHITE));
    EXPECT_TRUE(s.Field(16, "0", WHITE));
    EXPECT_EQ(CouplerLineChangeCount(com), pulled);
    ASSERT_TRUE(s.Press(OPEN_BUTTON));
    EXPECT_EQ(s.Text(OPEN_BUTTON), OPEN);
    s.PressForBox(OPEN_BUTTON, OPEN_FAILED, CLOSE);
    ASSERT_TRUE(CouplerPortVanish(com, false));
    ASSERT_TRUE(s.Press(OPEN_BUTTON));
    ASSERT_TRUE(s.Press(12));
    EXPECT_TRUE(s.Field(16, "1", RED));
    // Closing the window with the port open ends the program with code 0.
    s.Close();
}

}  // namespace
