// Numbered screen fonts.
//
// The application asks for a font by face, size in points and style flags and
// keeps it under a number of its own choosing; the toolkit converts the size to
// pixels for the display and owns the native font until the number is reused
// or the toolkit shuts down.
#pragma once

#include <windows.h>
#include <stdint.h>

// Style flags of FontCreateStyled; they may be combined, other bits are ignored.
constexpr uint32_t FONT_STYLE_BOLD = 0x100;
constexpr uint32_t FONT_STYLE_ITALIC = 0x200;
constexpr uint32_t FONT_STYLE_UNDERLINE = 0x4;
constexpr uint32_t FONT_STYLE_STRIKEOUT = 0x8;
constexpr uint32_t FONT_STYLE_HIGH_QUALITY = 0x10;

// A font record: nothing but the native font handle; 0 = no font.
struct FontRecord {
    uint32_t handle;
};

// Start-up: creates the font table (numbers 0 to 9, grown on demand). Needs
// the runtime heap. Returns false when the table cannot be made.
bool FontTableInit();
// Shutdown: deletes every font, numbered and numberless, and forgets the
// table so that FontTableInit can run again. Safe to call twice.
void FontTableShutdown();

// Creates a font of the given face and point size under the number, deleting
// first any font the number held. Returns the native handle (0 when the
// platform refused), or for ANY_NUMBER the new font number.
int32_t FontCreateStyled(int32_t number, const char* face, int32_t points, uint32_t flags);
// The same without style flags.
int32_t FontCreate(int32_t number, const char* face, int32_t points);
// Deletes the font under the number and empties the number; no font, no effect.
void FontFree(int32_t number);
// The record of the font under the number, or 0 when the number holds none.
FontRecord* FontLookup(int32_t number);
// The native font under the number, or 0.
HFONT FontHandle(int32_t number);
// The font table's nominal size (numbers 0 .. size - 1 address the table).
int32_t FontTableSize();
