// Starting and stopping the toolkit around a test, and real input for it.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <vector>

#include <gtest/gtest.h>

// The toolkit's start-up steps in program order (instance, runtime heap, list
// heap, window module, control module, control lists); false when one failed.
bool StartToolkit();
// Closes every window and undoes StartToolkit; safe to call twice.
void StopToolkit();

// A test that runs with the toolkit started.
class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// A test with the toolkit started and window 0 open (630 x 499 client area,
// caption and close box, centred) as the current parent for new controls.
class ToolkitWindowTest : public ToolkitTest {
protected:
    void SetUp() override;

    HWND window = 0;
};

// The window behind a control handle as the toolkit returns it.
inline HWND AsWindow(int32_t handle) { return reinterpret_cast<HWND>(static_cast<intptr_t>(handle)); }

// Calls WaitEvent for about durationMs and returns every code it gave except
// the ticks of the helper's own timer (which keep WaitEvent from blocking).
std::vector<int32_t> CollectEvents(DWORD durationMs);

// Brings a top-level window to the front, active, and lets it paint.
void ShowForInput(HWND window);

// Real input through SendInput: a left click at a point of a window's client
// area, and a key press with Shift held or not.
void ClickClient(HWND window, int x, int y);
void PressKey(WORD virtualKey, bool withShift = false);
