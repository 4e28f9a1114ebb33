// Numbered fonts: what is asked of the platform, replacement, growth, shutdown.
#include <gtest/gtest.h>

#include <windows.h>
#include <string.h>

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

HFONT AsFont(int32_t handle)
{
    return reinterpret_cast<HFONT>(static_cast<uintptr_t>(static_cast<uint32_t>(handle)));
}

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

bool FontAlive(HFONT font) { return GetObjectType(font) == OBJ_FONT; }

TEST_F(FontsTest, StyleFlagsReachThePlatform)
{
    struct Case {
        uint32_t flags;
        LONG weight;
        BYTE italic, underline, strikeOut, quality;
    };
    const Case cases[] = {
        {0, FW_NORMAL, 0, 0, 0, DEFAULT_QUALITY},
        {FONT_STYLE_BOLD, FW_BOLD, 0, 0, 0, DEFAULT_QUALITY},
        {FONT_STYLE_ITALIC, FW_NORMAL, 1, 0, 0, DEFAULT_QUALITY},
        {FONT_STYLE_UNDERLINE, FW_NORMAL, 0, 1, 0, DEFAULT_QUALITY},
        {FONT_STYLE_STRIKEOUT, FW_NORMAL, 0, 0, 1, DEFAULT_QUALITY},
        {FONT_STYLE_HIGH_QUALITY, FW_NORMAL, 0, 0, 0, PROOF_QUALITY},
        {FONT_STYLE_BOLD | FONT_STYLE_ITALIC | FONT_STYLE_HIGH_QUALITY, FW_BOLD, 1, 0, 0, PROOF_QUALITY},
        {FONT_STYLE_UNDERLINE | FONT_STYLE_STRIKEOUT, FW_NORMAL, 0, 1, 1, DEFAULT_QUALITY},
        {0x1, FW_NORMAL, 0, 0, 0, DEFAULT_QUALITY},   // not a style bit
        {0xFFFFF8E3u, FW_NORMAL, 0, 0, 0, DEFAULT_QUALITY},   // every bit but the styles
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
        int32_t handle = FontCreateStyled(1, "Arial", 10, c.flags);
        ASSERT_NE(0, handle);
        EXPECT_EQ(AsFont(handle), FontHandle(1));
        LOGFONTA font = Described(AsFont(handle));
        EXPECT_STREQ("Arial", font.lfFaceName);
        EXPECT_EQ(-MulDiv(10, DisplayDotsPerInch(), 72), font.lfHeight);
        EXPECT_EQ(0, font.lfWidth);
        EXPECT_EQ(0, font.lfEscapement);
        EXPECT_EQ(0, font.lfOrientation);
        EXPECT_EQ(c.weight, font.lfWeight);
        EXPECT_EQ(c.italic, font.lfItalic);
        EXPECT_EQ(c.underline, font.lfUnderline);
        EXPECT_EQ(c.strikeOut, font.lfStrikeOut);
        EXPECT_EQ(DEFAULT_CHARSET, font.lfCharSet);
        EXPECT_EQ(OUT_DEFAULT_PRECIS, font.lfOutPrecision);
        EXPECT_EQ(CLIP_DEFAULT_PRECIS, font.lfClipPrecision);
        EXPECT_EQ(c.quality, font.lfQuality);
        EXPECT_EQ(DEFAULT_PITCH | FF_DONTCARE, font.lfPitchAndFamily);
    }
}

TEST_F(FontsTest, PointSizesBecomeCharacterHeightsOfTheDisplay)
{
    int dpi = DisplayDotsPerInch();
    struct Row {
        int dpi;
        int32_t points[4];
        LONG heights[4];
    };
    const Row rows[] = {
        {96, {8, 9, 10, 12}, {-11, -12, -13, -16}},
        {120, {8, 9, 10, 12}, {-13, -15, -17, -20}},
    };
    const Row* row = 0;
    for (const Row& r : rows) {
        if (r.dpi == dpi)
            row = &r;
    }
    if (!row)
        GTEST_SKIP() << "no known heights for " << dpi << " dots per inch";
    for (int i = 0; i < 4; ++i) {
        int32_t handle = FontCreate(i + 1, "Arial", row->points[i]);
        ASSERT_NE(0, handle);
        EXPECT_EQ(row->heights[i], Described(AsFont(handle)).lfHeight) << row->points[i] << " points";
    }
}

TEST_F(FontsTest, StyleNeverCarriesOver)
{
    FontCreateStyled(1, "Arial", 10,
                     FONT_STYLE_BOLD | FONT_STYLE_ITALIC | FONT_STYLE_UNDERLINE |
                         FONT_STYLE_STRIKEOUT | FONT_STYLE_HIGH_QUALITY);
    LOGFONTA plain = Described(AsFont(FontCreate(2, "Arial", 10)));
    EXPECT_EQ(FW_NORMAL, plain.lfWeight);
    EXPECT_EQ(0, plain.lfItalic);
    EXPECT_EQ(0, plain.lfUnderline);
    EXPECT_EQ(0, plain.lfStrikeOut);
    EXPECT_EQ(DEFAULT_QUALITY, plain.lfQuality);

    FontCreateStyled(3, "Arial", 10, FONT_STYLE_ITALIC);
    LOGFONTA bold = Described(AsFont(FontCreateStyled(4, "Arial", 10, FONT_STYLE_BOLD)));
    EXPECT_EQ(FW_BOLD, bold.lfWeight);
    EXPECT_EQ(0, bold.lfItalic);
}

TEST_F(FontsTest, ReusedNumberDeletesItsOldFont)
{
    HFONT first = AsFont(FontCreate(5, "Arial", 9));
    ASSERT_TRUE(FontAlive(first));
    HFONT second = AsFont(FontCreateStyled(5, "Arial", 12, FONT_STYLE_BOLD));
    ASSERT_NE(HFONT(0), second);
    EXPECT_EQ(0u, GetObjectType(first));
    EXPECT_TRUE(FontAlive(second));
    EXPECT_EQ(second, FontHandle(5));
    EXPECT_EQ(FW_BOLD, Described(FontHandle(5)).lfWeight);

    FontFree(5);
    EXPECT_EQ(0u, GetObjectType(second));
    EXPECT_EQ(nullptr, FontLookup(5));
    FontFree(5);   // an empty number is left alone
    EXPECT_EQ(nullptr, FontLookup(5));
}

TEST_F(FontsTest, GrowingTheTableKeepsEarlierFonts)
{
    EXPECT_EQ(10, FontTableSize());
    for (int32_t number = 0; number <= 10; ++number)
        EXPECT_EQ(nullptr, FontLookup(number)) << number;   // 10 is the first spare record

    HFONT fonts[10];
    for (int32_t number = 0; number < 10; ++number)
        fonts[number] = AsFont(FontCreate(number, "Arial", 8 + number));
    HFONT tenth = AsFont(FontCreate(10, "Arial", 20));
    ASSERT_NE(HFONT(0), tenth);
    EXPECT_EQ(40, FontTableSize());
    for (int32_t number = 0; number < 10; ++number) {
        EXPECT_EQ(fonts[number], FontHandle(number)) << number;
        EXPECT_TRUE(FontAlive(fonts[number])) << number;
    }
    EXPECT_EQ(tenth, FontHandle(10));
    EXPECT_EQ(nullptr, FontLookup(11));
    EXPECT_EQ(nullptr, FontLookup(40));
}

TEST_F(FontsTest, AnyNumberGivesANumberlessFont)
{
    int32_t number = FontCreateStyled(ANY_NUMBER, "Arial", 10, FONT_STYLE_ITALIC);
    ASSERT_NE(0, number);
    EXPECT_TRUE(number < 0 || number > FontTableSize());
    ASSERT_NE(nullptr, FontLookup(number));
    HFONT font = FontHandle(number);
    EXPECT_TRUE(FontAlive(font));
    EXPECT_EQ(1, Described(font).lfItalic);

    int32_t other = FontCreate(ANY_NUMBER, "Arial", 10);
    EXPECT_NE(number, other);
    EXPECT_NE(font, FontHandle(other));

    FontFree(number);
    EXPECT_EQ(0u, GetObjectType(font));
    EXPECT_EQ(nullptr, FontLookup(number));
    EXPECT_NE(nullptr, FontLookup(other));
}

TEST_F(FontsTest, ShutdownDeletesEveryFontAndCanRestart)
{
    const uint32_t styles[] = {FONT_STYLE_BOLD, FONT_STYLE_BOLD, 0, FONT_STYLE_BOLD, 0, 0};
    const int32_t points[] = {10, 12, 10, 8, 9, 8};
    HFONT fonts[8];
    for (int i = 0; i < 6; ++i)
        fonts[i] = AsFont(FontCreateStyled(i + 1, "Arial", points[i], styles[i]));
    fonts[6] = FontHandle(FontCreate(ANY_NUMBER, "Arial", 10));
    fonts[7] = AsFont(FontCreate(33, "Arial", 10));   // in the grown part of the table
    for (HFONT font : fonts)
        ASSERT_TRUE(FontAlive(font));

    FontTableShutdown();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(0u, GetObjectType(fonts[i])) << i;
    EXPECT_EQ(nullptr, FontLookup(1));
    FontTableShutdown();   // twice is harmless

    ASSERT_TRUE(FontTableInit());
    EXPECT_EQ(10, FontTableSize());
    EXPECT_EQ(nullptr, FontLookup(1));
    EXPECT_NE(0, FontCreate(1, "Arial", 10));
}

}  // namespace
