// Numbered screen fonts: the font table and the fonts' object list.
#include "toolkit/fonts.h"

#include "toolkit/registry.h"

namespace {

// Font table: one FontRecord per font number, plus the numberless fonts in
// its object list. Created by FontTableInit, forgotten by FontTableShutdown;
// the block itself lives in the runtime heap and goes with it.
ObjectTable fontTable = {};

// Style state: what the flags of the creation in progress ask for. Reset at
// the start of every creation so that no style carries over to the next one.
struct FontStyle {
    int weight;
    DWORD italic;
    DWORD underline;
    DWORD strikeOut;
    DWORD quality;
};
FontStyle fontStyle = {FW_NORMAL, 0, 0, 0, DEFAULT_QUALITY};

void ApplyStyleFlags(uint32_t flags)
{
    fontStyle = FontStyle{FW_NORMAL, 0, 0, 0, DEFAULT_QUALITY};
    if (flags & FONT_STYLE_BOLD)
        fontStyle.weight = FW_BOLD;
    if (flags & FONT_STYLE_ITALIC)
        fontStyle.italic = TRUE;
    if (flags & FONT_STYLE_UNDERLINE)
        fontStyle.underline = TRUE;
    if (flags & FONT_STYLE_STRIKEOUT)
        fontStyle.strikeOut = TRUE;
    if (flags & FONT_STYLE_HIGH_QUALITY)
        fontStyle.quality = PROOF_QUALITY;
}

// Character height in pixels for a point size on the display. Negative, so
// that the font mapper matches the character height rather than the cell.
int PixelHeight(int32_t points)
{
    int dotsPerInch = 96;   // the usual display, should the display refuse a context
    HDC display = CreateDCA("DISPLAY", 0, 0, 0);
    if (display) {
        dotsPerInch = GetDeviceCaps(display, LOGPIXELSY);
        DeleteDC(display);
    }
    return -MulDiv(points, dotsPerInch, 72);
}

void DeleteRecordFont(FontRecord* record)
{
    if (record->handle)
        DeleteObject(static_cast<HGDIOBJ>(NativeHandle(record->handle)));
    record->handle = 0;
}

}  // namespace

bool FontTableInit()
{
    return TableCreate(&fontTable, 10, sizeof(FontRecord));
}

void FontTableShutdown()
{
    if (!fontTable.block)
        return;
    // Numberless fonts first; the successor is taken before a record goes.
    // A record whose creation failed holds no font but still goes.
    for (int32_t identity = ListFirst(&fontTable.list); identity;) {
        int32_t next = ListNext(identity);
        DeleteRecordFont(static_cast<FontRecord*>(ListRecord(identity)));
        RegistryRelease(&fontTable, identity);
        identity = next;
    }
    for (int32_t number = fontTable.nominalSize - 1; number >= 0; --number)
        FontFree(number);
    TableForget(&fontTable);
}

int32_t FontCreateStyled(int32_t number, const char* face, int32_t points, uint32_t flags)
{
    ApplyStyleFlags(flags);
    int32_t used = 0;
    FontRecord* record = static_cast<FontRecord*>(RegistryObtain(&fontTable, number, &used));
    if (!record)
        return 0;
    // A reused number gives up its old font before the new one is made.
    if (number != ANY_NUMBER)
        DeleteRecordFont(record);
    HFONT font = CreateFontA(PixelHeight(points), 0, 0, 0, fontStyle.weight, fontStyle.italic,
                             fontStyle.underline, fontStyle.strikeOut, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, fontStyle.quality,
                             DEFAULT_PITCH | FF_DONTCARE, face);
    record->handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(font));
    if (number == ANY_NUMBER)
        return used;
    return static_cast<int32_t>(record->handle);
}

int32_t FontCreate(int32_t number, const char* face, int32_t points)
{
    return FontCreateStyled(number, face, points, 0);
}

void FontFree(int32_t number)
{
    FontRecord* record = FontLookup(number);
    if (!record)
        return;
    DeleteRecordFont(record);
    RegistryRelease(&fontTable, number);
}

FontRecord* FontLookup(int32_t number)
{
    return static_cast<FontRecord*>(RegistryLookup(&fontTable, number));
}

HFONT FontHandle(int32_t number)
{
    FontRecord* record = FontLookup(number);
    return record ? static_cast<HFONT>(NativeHandle(record->handle)) : 0;
}

int32_t FontTableSize() { return fontTable.nominalSize; }
