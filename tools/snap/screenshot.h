// Saving what a window shows on the screen as a BMP file.
#pragma once

#include <windows.h>

// Copies the window's outer rectangle from the screen into a 24-bit
// bottom-up BMP at path. False when the copy or the file failed.
bool SaveWindowAsBmp(HWND window, const char* path);
