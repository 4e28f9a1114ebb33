// Thread-modal message box: which windows are disabled while a box is up,
// the owner, nested boxes. Each box is found by its title and closed by a
// timer of the test thread, which the box's own message loop runs.
#include <gtest/gtest.h>

#include <windows.h>
#include <functional>
#include <vector>

#include "tests/support/toolkit_fixture.h"
#include "toolkit/msgbox.h"
#include "toolkit/registry.h"

namespace {

const char WINDOW_CLASS[] = "MsgboxTestWindow";
const char BOX_CLASS[] = "#32770";
const int MESSAGE_TEXT_ID = 0xFFFF;   // the static control that shows a box's text

// A box to be driven: found by title, inspected by whileUp, closed with OK.
struct BoxDriver {
    const char* title;
    std::function<void(HWND box)> whileUp;
    UINT_PTR timer;
    int ticks;
    bool seen;
};

// Boxes being driven, innermost last.
std::vector<BoxDriver*> drivers;

HWND FindBox(const char* title)
{
    HWND box = FindWindowA(BOX_CLASS, title);
    if (box && GetWindowThreadProcessId(box, 0) != GetCurrentThreadId())
        return 0;
    return box;
}

void CALLBACK DriveBox(HWND, UINT, UINT_PTR timer, DWORD)
{
    for (BoxDriver* driver : drivers) {
        if (driver->timer != timer)
            continue;
        HWND box = FindBox(driver->title);
        if (!box) {
            // A box that never shows must not hang the suite.
            if (++driver->ticks > 250)
                KillTimer(0, timer);
            return;
        }
        KillTimer(0, timer);
        driver->timer = 0;
        driver->seen = true;
        if (driver->whileUp)
            driver->whileUp(box);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        return;
    }
}

int32_t ShowDriven(const char* title, std::function<void(HWND)> whileUp)
{
    BoxDriver driver = {title, whileUp, 0, 0, false};
    driver.timer = SetTimer(0, 0, 20, DriveBox);
    drivers.push_back(&driver);
    int32_t result = ShowMessageBoxOk(title, "Nachricht");
    drivers.pop_back();
    if (driver.timer)
        KillTimer(0, driver.timer);
    EXPECT_TRUE(driver.seen) << "no box titled " << title;
    return result;
}

class MsgboxTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(0);
        windowClass.lpszClassName = WINDOW_CLASS;
        ASSERT_TRUE(RegisterClassA(&windowClass));
    }
    void TearDown() override
    {
        for (HWND window : windows)
            DestroyWindow(window);
        UnregisterClassA(WINDOW_CLASS, GetModuleHandleA(0));
        ToolkitTest::TearDown();
    }

    HWND MakeWindow(const char* title, bool visible = true, bool enabled = true)
    {
        HWND window = CreateWindowExA(0, WINDOW_CLASS, title,
                                      WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0),
                                      50 + 30 * static_cast<int>(windows.size()), 50, 200, 120,
                                      0, 0, GetModuleHandleA(0), 0);
        EXPECT_NE(HWND(0), window);
        if (!enabled)
            EnableWindow(window, FALSE);
        windows.push_back(window);
        return window;
    }

    std::vector<HWND> windows;   // top-level windows of the test, destroyed at its end
};

TEST_F(MsgboxTest, ForegroundWindowOwnsTheBoxAndTheOthersWait)
{
    HWND main = MakeWindow("Haupt");
    HWND other = MakeWindow("Andere");
    HWND hidden = MakeWindow("Versteckt", false);
    HWND disabled = MakeWindow("Gesperrt", true, false);
    SetForegroundWindow(main);
    ASSERT_EQ(main, GetForegroundWindow());

    int32_t result = ShowDriven("H I N W E I S", [&](HWND box) {
        EXPECT_EQ(main, GetWindow(box, GW_OWNER));
        EXPECT_FALSE(IsWindowEnabled(main));   // the platform disables the owner itself
        EXPECT_FALSE(IsWindowEnabled(other));
        EXPECT_TRUE(IsWindowEnabled(hidden));
        EXPECT_FALSE(IsWindowEnabled(disabled));
        EXPECT_EQ(1, DisabledWindowCount());   // the other window only
        char text[64] = "";
        GetDlgItemTextA(box, MESSAGE_TEXT_ID, text, sizeof text);
        EXPECT_STREQ("Nachricht", text);
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_TRUE(IsWindowEnabled(main) && IsWindowEnabled(other) && IsWindowEnabled(hidden));
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_FALSE(IsWindowEnabled(disabled));
    EXPECT_EQ(0, DisabledWindowCount());
}

// Another program with a window of its own, ended with the test.
struct ForeignProgram {
    PROCESS_INFORMATION process = {};
    HWND window = 0;

    bool Start()
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        char command[] = "notepad.exe";
        if (!CreateProcessA(0, command, 0, 0, FALSE, 0, 0, 0, &startup, &process))
            return false;
        WaitForInputIdle(process.hProcess, 10000);
        for (int attempt = 0; attempt < 100 && !window; ++attempt, Sleep(50))
            window = FindWindowA("Notepad", 0);
        return window != 0;
    }
    ~ForeignProgram()
    {
        if (!process.hProcess)
            return;
        TerminateProcess(process.hProcess, 0);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
};

TEST_F(MsgboxTest, ForeignForegroundLeavesTheBoxWithoutOwner)
{
    HWND main = MakeWindow("Haupt");
    HWND other = MakeWindow("Andere");
    SetForegroundWindow(main);
    ForeignProgram program;
    if (!program.Start())
        GTEST_SKIP() << "no other program could be started";
    SetForegroundWindow(program.window);
    if (GetForegroundWindow() != program.window)
        GTEST_SKIP() << "the other program's window did not come to the front";
    // Every visible, enabled window of the thread waits, the main one included.
    int32_t result = ShowDriven("F E H L E R", [&](HWND box) {
        EXPECT_EQ(HWND(0), GetWindow(box, GW_OWNER));
        EXPECT_FALSE(IsWindowEnabled(main));
        EXPECT_FALSE(IsWindowEnabled(other));
        EXPECT_EQ(2, DisabledWindowCount());
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_TRUE(IsWindowEnabled(main) && IsWindowEnabled(other));
    EXPECT_EQ(0, DisabledWindowCount());
}

TEST_F(MsgboxTest, InnerBoxEnablesEveryWindowOfTheThread)
{
    HWND main = MakeWindow("Haupt");
    HWND other = MakeWindow("Andere");
    SetForegroundWindow(main);
    ASSERT_EQ(main, GetForegroundWindow());

    int32_t inner = 0;
    int32_t outer = ShowDriven("A U S S E N", [&](HWND outerBox) {
        EXPECT_FALSE(IsWindowEnabled(other));
        inner = ShowDriven("I N N E N", [&](HWND) {
            EXPECT_FALSE(IsWindowEnabled(other));
            EXPECT_GE(DisabledWindowCount(), 1);
        });
        // The inner box gave back everything listed for the thread, the
        // outer box's windows included, while the outer box is still up.
        EXPECT_TRUE(IsWindow(outerBox));
        EXPECT_TRUE(IsWindowEnabled(other));
        EXPECT_EQ(0, DisabledWindowCount());
    });
    EXPECT_EQ(IDOK, inner);
    EXPECT_EQ(IDOK, outer);
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_TRUE(IsWindowEnabled(other));
}

}  // namespace
