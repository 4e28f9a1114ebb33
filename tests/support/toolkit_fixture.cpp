// Toolkit start and stop for tests, event collection and real input.
#include "tests/support/toolkit_fixture.h"

#include "toolkit/controls.h"
#include "toolkit/registry.h"
#include "toolkit/window.h"

bool StartToolkit()
{
    SetToolkitInstance(GetModuleHandleA(0));
    if (!RuntimeHeapCreate() || !CreateListHeap())
        return false;
    if (!InitWindowModule())
        return false;
    InitControlModule();
    InitControlLists();
    return true;
}

void StopToolkit()
{
    CloseAllWindows();
    ShutdownWindowModule();
    ShutdownControlModule();
    InitControlLists();
    DestroyListHeap();
    RuntimeHeapDestroy();
    // Nothing of this start may reach the next one.
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
    }
}

void ToolkitTest::SetUp()
{
    ASSERT_TRUE(StartToolkit());
}

void ToolkitTest::TearDown()
{
    StopToolkit();
}

void ToolkitWindowTest::SetUp()
{
    ToolkitTest::SetUp();
    ASSERT_NE(0, CreateNumberedWindow(0, 0, 0, 630, 499, 0xC80001, "Test"));
    window = GetCurrentWindowHandle();
    ASSERT_EQ(window, StartControlList(window));
}

std::vector<int32_t> CollectEvents(DWORD durationMs)
{
    // A thread timer (no window) guarantees a message now and then, so the
    // blocking wait always comes back.
    UINT_PTR timer = SetTimer(0, 0, 20, 0);
    std::vector<int32_t> events;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < durationMs) {
        int32_t event = WaitEvent();
        if (event != WM_TIMER)
            events.push_back(event);
    }
    KillTimer(0, timer);
    return events;
}

void ShowForInput(HWND window)
{
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    UpdateWindow(window);
    CollectEvents(100);
}

void ClickClient(HWND window, int x, int y)
{
    POINT point = {x, y};
    ClientToScreen(window, &point);
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = (point.x * 65535 + width / 2) / (width - 1);
        input.mi.dy = (point.y * 65535 + height / 2) / (height - 1);
        input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    }
    inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(3, inputs, sizeof(INPUT));
}

void PressKey(WORD virtualKey, bool withShift)
{
    std::vector<INPUT> inputs;
    auto key = [&inputs](WORD vk, bool up) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, 0));
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (withShift)
        key(VK_SHIFT, false);
    key(virtualKey, false);
    key(virtualKey, true);
    if (withShift)
        key(VK_SHIFT, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}
