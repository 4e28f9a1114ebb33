// Window screenshots as BMP files.
#include "tools/snap/screenshot.h"

#include <stdio.h>
#include <vector>

namespace {

// Copies the screen area into rows of 24-bit pixels (bottom row first, each
// row padded to 4 bytes), as a BMP stores them.
bool CopyScreenArea(const RECT& area, BITMAPINFOHEADER* header, std::vector<BYTE>* pixels)
{
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(0);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    bool copied = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != 0;
    SelectObject(memory, previous);

    *header = BITMAPINFOHEADER{};
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    header->biSizeImage = stride * static_cast<DWORD>(height);
    pixels->assign(header->biSizeImage, 0);
    if (copied) {
        copied = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels->data(),
                           reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS) == height;
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(0, screen);
    return copied;
}

}  // namespace

bool SaveWindowAsBmp(HWND window, const char* path)
{
    RECT area = {};
    if (!GetWindowRect(window, &area))
        return false;
    BITMAPINFOHEADER header;
    std::vector<BYTE> pixels;
    if (!CopyScreenArea(area, &header, &pixels))
        return false;

    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;   // "BM"
    fileHeader.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fileHeader.bfSize = fileHeader.bfOffBits + header.biSizeImage;

    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    bool written = fwrite(&fileHeader, sizeof(fileHeader), 1, file) == 1 &&
                   fwrite(&header, sizeof(header), 1, file) == 1 &&
                   fwrite(pixels.data(), 1, pixels.size(), file) == pixels.size();
    return fclose(file) == 0 && written;
}
