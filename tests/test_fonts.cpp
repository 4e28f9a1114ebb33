// Numbered fonts: what is asked of the platform, replacement, growth, shutdown.
#include <gtest/gtest.h>

#include <windows.h>

#include "tests/support/toolkit_fixture.h"
#include "toolkit/fonts.h"
#include "toolkit/registry.h"

namespace {

class FontsTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        ASSERT_TRUE(FontTableInit());
    }
    void TearDown() override
    {
        FontTableShutdown();
        ToolkitTest::TearDown();
    }
};

HFONT AsFont(int32_t handle) { return reinterpret_cast<HFONT>(static_cast<uintptr_t>(static_cast<uint32_t>(handle))); }

// The font the platform was asked for, read back from the handle.
LOGFONTA Described(HFONT font)
{
    LOGFONTA described = {};
    EXPECT_EQ(static_cast<int>(sizeof described), GetObjectA(font, sizeof described, &described));
    return described;
}

int DisplayDotsPerInch()
{
    HDC screen = GetDC(0);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(0, screen);
    return dpi;
}

// Every case is created under the same number, one after the other, so a
// style that carried over from the case before would show as well.
TEST_F(FontsTest, StyleFlagsReachThePlatformAndNeverCarryOver)
{
    struct Case {
        int32_t points;
        uint32_t flags;
        LONG weight;
        BYTE italic, underline, strikeOut, quality;
    };
    const Case cases[] = {
        {10, FONT_STYLE_BOLD | FONT_STYLE_ITALIC | FONT_STYLE_HIGH_QUALITY, FW_BOLD, 1, 0, 0, PROOF_QUALITY},
        {12, 0, FW_NORMAL, 0, 0, 0, DEFAULT_QUALITY},
        {8, FONT_STYLE_UNDERLINE | FONT_STYLE_STRIKEOUT, FW_NORMAL, 0, 1, 1, DEFAULT_QUALITY},
        {9, FONT_STYLE_BOLD, FW_BOLD, 0, 0, 0, DEFAULT_QUALITY},
        {10, FONT_STYLE_ITALIC, FW_NORMAL, 1, 0, 0, DEFAULT_QUALITY},
        {10, FONT_STYLE_HIGH_QUALITY, FW_NORMAL, 0, 0, 0, PROOF_QUALITY},
        {10, 0xFFFFF8E3u, FW_NORMAL, 0, 0, 0, DEFAULT_QUALITY},   // every bit but the styles
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
        HFONT font = AsFont(FontCreateStyled(1, "Arial", c.points, c.flags));
        ASSERT_NE(HFONT(0), font);
        EXPECT_EQ(font, FontHandle(1));
        LOGFONTA f = Described(font);
        EXPECT_STREQ("Arial", f.lfFaceName);
        EXPECT_EQ(-MulDiv(c.points, DisplayDotsPerInch(), 72), f.lfHeight);
        EXPECT_EQ(0, f.lfWidth | f.lfEscapement | f.lfOrientation);
        EXPECT_EQ(c.weight, f.lfWeight);
        EXPECT_EQ(c.italic, f.lfItalic);
        EXPECT_EQ(c.underline, f.lfUnderline);
        EXPECT_EQ(c.strikeOut, f.lfStrikeOut);
        EXPECT_EQ(c.quality, f.lfQuality);
        EXPECT_EQ(DEFAULT_CHARSET, f.lfCharSet);
        EXPECT_EQ(OUT_DEFAULT_PRECIS | CLIP_DEFAULT_PRECIS | DEFAULT_PITCH | FF_DONTCARE,
                  f.lfOutPrecision | f.lfClipPrecision | f.lfPitchAndFamily);
    }
}

TEST_F(FontsTest, ReusedNumberDeletesItsOldFont)
{
    HFONT first = AsFont(FontCreate(5, "Arial", 9));
    ASSERT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(first));
    HFONT second = AsFont(FontCreateStyled(5, "Arial", 12, FONT_STYLE_BOLD));
    EXPECT_EQ(0u, GetObjectType(first));
    EXPECT_EQ(second, FontHandle(5));
    EXPECT_EQ(FW_BOLD, Described(second).lfWeight);

    FontFree(5);
    EXPECT_EQ(0u, GetObjectType(second));
    EXPECT_EQ(nullptr, FontLookup(5));
    FontFree(5);   // an empty number is left alone
}

TEST_F(FontsTest, GrowingTheTableKeepsEarlierFonts)
{
    for (int32_t number = 0; number <= 10; ++number)
        EXPECT_EQ(nullptr, FontLookup(number)) << number;   // 10: the first spare record
    HFONT fonts[10];
    for (int32_t number = 0; number < 10; ++number)
        fonts[number] = AsFont(FontCreate(number, "Arial", 8 + number));
    HFONT tenth = AsFont(FontCreate(10, "Arial", 20));
    EXPECT_EQ(40, FontTableSize());
    for (int32_t number = 0; number < 10; ++number)
        EXPECT_EQ(fonts[number], FontHandle(number)) << number;
    EXPECT_EQ(tenth, FontHandle(10));
    EXPECT_EQ(nullptr, FontLookup(40));
}

TEST_F(FontsTest, ShutdownDeletesEveryFontAndCanRestart)
{
    HFONT fonts[8];
    for (int i = 0; i < 6; ++i)
        fonts[i] = AsFont(FontCreateStyled(i + 1, "Arial", 8 + i, i % 2 ? FONT_STYLE_BOLD : 0));
    fonts[6] = FontHandle(FontCreate(ANY_NUMBER, "Arial", 10));
    fonts[7] = AsFont(FontCreate(33, "Arial", 10));   // in the grown part of the table
    for (HFONT font : fonts)
        ASSERT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(font));

    FontTableShutdown();
    for (HFONT font : fonts)
        EXPECT_EQ(0u, GetObjectType(font));
    FontTableShutdown();   // twice is harmless
    ASSERT_TRUE(FontTableInit());
    EXPECT_EQ(10, FontTableSize());
    EXPECT_EQ(nullptr, FontLookup(1));
}

}  // namespace
