// The drawing surface and text through GDI and the tiny font, under Wine.
#include <gtest/gtest.h>

#include <malloc.h>
#include <string.h>

#include <string>
#include <vector>

#include "lcd.h"

namespace {

const int GDI_FONTS[] = {0, TXT_LARGE};

class LcdSurface : public ::testing::Test {
protected:
    Lcd lcd{};

    void SetUp() override { ASSERT_EQ(lcd_create_surface(&lcd), 1); }
    void TearDown() override { lcd_destroy_surface(&lcd); }

    void fill(uint8_t value) { memset(lcd.frame, value, LCD_FRAME_BYTES); }
    std::vector<uint8_t> snapshot() { return std::vector<uint8_t>(lcd.frame, lcd.frame + LCD_FRAME_BYTES); }
    uint8_t at(int x, int y) { return lcd.frame[y * LCD_WIDTH + x]; }

    int count(uint8_t value)
    {
        int n = 0;
        for (int i = 0; i < LCD_FRAME_BYTES; i++)
            n += lcd.frame[i] == value;
        return n;
    }

    // Rightmost column holding the value, -1 if none.
    int rightmost(uint8_t value)
    {
        int right = -1;
        for (int y = 0; y < LCD_HEIGHT; y++)
            for (int x = 0; x < LCD_WIDTH; x++)
                if (at(x, y) == value && x > right)
                    right = x;
        return right;
    }

    int line_height(int flags)
    {
        HGDIOBJ old = SelectObject(lcd.dc, (flags & TXT_LARGE) ? lcd.large_font : lcd.small_font);
        TEXTMETRICW tm;
        GetTextMetricsW(lcd.dc, &tm);
        SelectObject(lcd.dc, old);
        return tm.tmHeight;
    }
};

TEST_F(LcdSurface, HeaderIsATopDownGreyRamp)
{
    ASSERT_NE(lcd.dc, nullptr);
    ASSERT_NE(lcd.dib, nullptr);
    ASSERT_NE(lcd.frame, nullptr);
    ASSERT_NE(lcd.bitmap_info, nullptr);
    EXPECT_NE(lcd.small_font, nullptr);
    EXPECT_NE(lcd.large_font, nullptr);
    EXPECT_EQ(_msize(lcd.bitmap_info), 1068u);

    const BITMAPINFOHEADER &h = lcd.bitmap_info->bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 160);
    EXPECT_EQ(h.biHeight, -43);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 6880u);
    EXPECT_EQ(h.biXPelsPerMeter, 3200);
    EXPECT_EQ(h.biYPelsPerMeter, 3200);
    EXPECT_EQ(h.biClrUsed, 256u);
    EXPECT_EQ(h.biClrImportant, 256u);
    for (int i = 0; i < 256; i++) {
        const RGBQUAD &q = lcd.bitmap_info->bmiColors[i];
        EXPECT_EQ(q.rgbBlue, i);
        EXPECT_EQ(q.rgbGreen, i);
        EXPECT_EQ(q.rgbRed, i);
        EXPECT_EQ(q.rgbReserved, 0);
    }
    const uint8_t *spare = (const uint8_t *)lcd.bitmap_info + 40 + 256 * 4;
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(spare[i], 0);

    DIBSECTION ds;
    ASSERT_EQ(GetObject(lcd.dib, sizeof ds, &ds), (int)sizeof ds);
    EXPECT_EQ(ds.dsBm.bmBits, lcd.frame);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, 160);
    EXPECT_EQ(count(0), LCD_FRAME_BYTES);
}

TEST_F(LcdSurface, StartFonts)
{
    LOGFONTA lf;
    ASSERT_EQ(GetObjectA(lcd.small_font, sizeof lf, &lf), (int)sizeof lf);
    EXPECT_STREQ(lf.lfFaceName, "Lucida Console");
    EXPECT_EQ(lf.lfHeight, -8);
    ASSERT_EQ(GetObjectA(lcd.large_font, sizeof lf, &lf), (int)sizeof lf);
    EXPECT_STREQ(lf.lfFaceName, "Microsoft Sans Serif");
    EXPECT_EQ(lf.lfHeight, -11);
}

TEST_F(LcdSurface, SetFontKeepsThirtyOneCharactersOfTheFace)
{
    lcd_set_small_font(&lcd, "Tahoma", 9);
    lcd_set_large_font(&lcd, "An Extremely Long Font Face Name That Goes On", -14);
    LOGFONTA lf;
    ASSERT_EQ(GetObjectA(lcd.small_font, sizeof lf, &lf), (int)sizeof lf);
    EXPECT_STREQ(lf.lfFaceName, "Tahoma");
    EXPECT_EQ(lf.lfHeight, 9);
    EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(lf.lfWeight, 0);
    EXPECT_EQ(lf.lfQuality, 0);
    ASSERT_EQ(GetObjectA(lcd.large_font, sizeof lf, &lf), (int)sizeof lf);
    EXPECT_STREQ(lf.lfFaceName, std::string("An Extremely Long Font Face Name That Goes On", 31).c_str());
    EXPECT_EQ(lf.lfHeight, -14);
}

TEST_F(LcdSurface, DestroyClearsEverythingAndIsSafeTwice)
{
    lcd_destroy_surface(&lcd);
    EXPECT_EQ(lcd.dc, nullptr);
    EXPECT_EQ(lcd.bitmap_info, nullptr);
    EXPECT_EQ(lcd.dib, nullptr);
    EXPECT_EQ(lcd.frame, nullptr);
    EXPECT_EQ(lcd.small_font, nullptr);
    EXPECT_EQ(lcd.large_font, nullptr);
    lcd_destroy_surface(&lcd);
    Lcd never_created{};
    lcd_destroy_surface(&never_created);
    EXPECT_EQ(never_created.dc, nullptr);
}

TEST_F(LcdSurface, CreatingAgainReplacesTheSurface)
{
    ASSERT_EQ(lcd_create_surface(&lcd), 1);
    EXPECT_NE(lcd.frame, nullptr);
    EXPECT_GT(lcd_text(&lcd, 0, 0, 0, "ok"), 0);
}

struct TextMode {
    int flags;
    const char *name;
};

const TextMode TEXT_MODES[] = {
    {0, "small"},
    {TXT_LARGE, "large"},
    {TXT_INVERT, "small inverted"},
    {TXT_LARGE | TXT_INVERT, "large inverted"},
    {TXT_OPAQUE, "small opaque"},
    {TXT_LARGE | TXT_OPAQUE, "large opaque"},
    {TXT_OPAQUE | TXT_INVERT, "small opaque inverted"},
    {TXT_LARGE | TXT_OPAQUE | TXT_INVERT, "large opaque inverted"},
};

TEST_F(LcdSurface, GdiTextWritesOnlyDarkAndLit)
{
    for (const TextMode &m : TEXT_MODES) {
        for (uint8_t background : {(uint8_t)0, (uint8_t)255}) {
            fill(background);
            lcd_text_utf8(&lcd, m.flags, 3, 1, u8"Wgjy 12:45 \u00c4\u00f6\u00df \u20ac@%&&");
            lcd_text(&lcd, m.flags, 20, 20, "Pixwick MMMM iiii");
            int dark = count(0), lit = count(255);
            EXPECT_EQ(dark + lit, LCD_FRAME_BYTES) << m.name;
            const uint8_t ink = (m.flags & TXT_INVERT) ? 0 : 255;
            if (ink != background || (m.flags & TXT_OPAQUE)) {
                EXPECT_LT(count(background), LCD_FRAME_BYTES) << m.name << ": nothing drawn";
            }
        }
    }
}

TEST_F(LcdSurface, TransparentTextChangesOnlyItsOwnPixels)
{
    fill(0);
    lcd_text(&lcd, TXT_INVERT, 0, 0, "dark on dark");
    EXPECT_EQ(count(0), LCD_FRAME_BYTES);
    fill(255);
    lcd_text(&lcd, 0, 0, 0, "lit on lit");
    EXPECT_EQ(count(255), LCD_FRAME_BYTES);
}

TEST_F(LcdSurface, OpaqueInvertedTextPaintsALitBand)
{
    for (int flags : GDI_FONTS) {
        fill(0);
        int width = lcd_text(&lcd, flags | TXT_OPAQUE | TXT_INVERT, 10, 5, "Band");
        int height = line_height(flags);
        ASSERT_GT(width, 0);
        // the band's bottom row lies under the letters (no descenders): all lit
        for (int x = 10; x < 10 + width; x++)
            EXPECT_EQ(at(x, 5 + height - 1), 255) << x;
        EXPECT_EQ(at(10, 5), 255);
        // outside the band nothing changed
        EXPECT_EQ(at(9, 5), 0);
        EXPECT_EQ(at(10 + width, 5), 0);
        EXPECT_EQ(at(10, 4), 0);
        EXPECT_EQ(at(10, 5 + height), 0);
        EXPECT_GT(count(0), LCD_FRAME_BYTES - width * height + 5) << "dark letters inside the band";
    }
}

TEST_F(LcdSurface, MeasureMatchesDrawnWidthAndDrawsNothing)
{
    const char *texts[] = {"W", "Hello", "CPU 100% 3.2GHz", "a&b", "1 2 3"};
    for (int font : GDI_FONTS) {
        for (const char *text : texts) {
            fill(0);
            int measured = lcd_text(&lcd, font | TXT_MEASURE | TXT_OPAQUE | TXT_INVERT, 0, 0, text);
            EXPECT_EQ(count(0), LCD_FRAME_BYTES) << text;
            int drawn = lcd_text(&lcd, font | TXT_OPAQUE | TXT_INVERT, 0, 0, text);
            EXPECT_EQ(measured, drawn) << text;
            EXPECT_EQ(rightmost(255), drawn - 1) << text; // the opaque band ends at the width
        }
    }
}

TEST_F(LcdSurface, LongTextMeasuresItsFullWidthAndIsClippedAt159)
{
    const char *text = "This notice is far too long for the display and has to scroll";
    for (int font : GDI_FONTS) {
        int width = lcd_text(&lcd, font | TXT_MEASURE, 0, 0, text);
        EXPECT_GT(width, 160);
        fill(0);
        EXPECT_EQ(lcd_text(&lcd, font | TXT_OPAQUE | TXT_INVERT, 0, 2, text), width);
        EXPECT_EQ(at(159, 2), 255);
        EXPECT_EQ(at(0, 1), 0);
        // nothing of the clipped part wraps onto later rows
        int height = line_height(font);
        for (int x = 0; x < LCD_WIDTH; x++)
            EXPECT_EQ(at(x, 2 + height), 0);
    }
}

TEST_F(LcdSurface, NothingLeftOfOrAboveTheStartPoint)
{
    fill(0);
    lcd_text(&lcd, TXT_LARGE | TXT_OPAQUE | TXT_INVERT, 50, 30, "Wjgy|Q");
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++)
            if (x < 50 || y < 30) {
                ASSERT_EQ(at(x, y), 0) << x << "," << y;
            }
    EXPECT_EQ(at(50, 42), 255); // clipped at the bottom row, not before
}

TEST_F(LcdSurface, RightAndCentreAlignment)
{
    for (int font : GDI_FONTS) {
        fill(0);
        int width = lcd_text(&lcd, font | TXT_RIGHT | TXT_OPAQUE | TXT_INVERT, 159, 0, "right");
        EXPECT_EQ(rightmost(255), 159);
        EXPECT_EQ(at(159 - width, 0), 0);
        EXPECT_EQ(at(159 - width + 1, 0), 255);
        fill(0);
        width = lcd_text(&lcd, font | TXT_CENTER | TXT_OPAQUE | TXT_INVERT, 80, 0, "mid");
        int left = 80 - (width - 1) / 2;
        EXPECT_EQ(at(left, 0), 255);
        EXPECT_EQ(at(left - 1, 0), 0);
        EXPECT_EQ(rightmost(255), left + width - 1);
    }
}

TEST_F(LcdSurface, AmpersandIsTheMnemonicPrefix)
{
    for (int font : GDI_FONTS) {
        int plain = lcd_text(&lcd, font | TXT_MEASURE, 0, 0, "ab");
        EXPECT_EQ(lcd_text(&lcd, font | TXT_MEASURE, 0, 0, "a&b"), plain);
        EXPECT_GT(lcd_text(&lcd, font | TXT_MEASURE, 0, 0, "a&&b"), plain);

        fill(0);
        lcd_text(&lcd, font, 0, 0, "ab");
        std::vector<uint8_t> ab = snapshot();
        fill(0);
        lcd_text(&lcd, font, 0, 0, "a&b");
        std::vector<uint8_t> underlined = snapshot();
        fill(0);
        lcd_text(&lcd, font, 0, 0, "a&&b");
        std::vector<uint8_t> ampersand = snapshot();
        EXPECT_NE(ab, underlined);
        EXPECT_NE(ab, ampersand);
        EXPECT_NE(underlined, ampersand);
        // the underline only adds lit pixels to "ab"
        for (int i = 0; i < LCD_FRAME_BYTES; i++)
            if (ab[i]) {
                ASSERT_EQ(underlined[i], 255) << i;
            }
    }
}

TEST_F(LcdSurface, LineFeedStartsANewLineInGdiFonts)
{
    for (int font : GDI_FONTS) {
        int height = line_height(font);
        fill(0);
        lcd_text(&lcd, font, 0, 0, "B");
        lcd_text(&lcd, font, 0, height, "x");
        std::vector<uint8_t> separate = snapshot();
        fill(0);
        lcd_text(&lcd, font, 0, 0, "B\nx");
        EXPECT_EQ(snapshot(), separate) << "font flags " << font;
    }
}

TEST_F(LcdSurface, NullAndEmptyTextReturnZero)
{
    for (int flags : {0, (int)TXT_LARGE, (int)TXT_TINY, (int)TXT_MEASURE}) {
        EXPECT_EQ(lcd_text(&lcd, flags, 0, 0, nullptr), 0);
        EXPECT_EQ(lcd_text(&lcd, flags, 0, 0, ""), 0);
        EXPECT_EQ(lcd_text_utf8(&lcd, flags, 0, 0, nullptr), 0);
        EXPECT_EQ(lcd_text_utf8(&lcd, flags, 0, 0, ""), 0);
        EXPECT_EQ(lcd_text_wide(&lcd, flags, 0, 0, nullptr), 0);
        EXPECT_EQ(lcd_text_wide(&lcd, flags, 0, 0, L""), 0);
    }
    EXPECT_EQ(count(0), LCD_FRAME_BYTES);
}

TEST_F(LcdSurface, PercentIsDrawnLiterally)
{
    for (int font : {0, (int)TXT_LARGE, (int)TXT_TINY}) {
        int with = lcd_text(&lcd, font | TXT_MEASURE, 0, 0, "100%");
        int without = lcd_text(&lcd, font | TXT_MEASURE, 0, 0, "100");
        EXPECT_GT(with, without);
        fill(0);
        EXPECT_EQ(lcd_text(&lcd, font, 0, 0, "%s%n%d%%"), lcd_text_wide(&lcd, font | TXT_MEASURE, 0, 0, L"%s%n%d%%"));
        EXPECT_GT(count(255), 0);
    }
}

TEST_F(LcdSurface, DeviceContextIsLeftAsFound)
{
    HDC dc = lcd.dc;
    HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
    HGDIOBJ font = GetCurrentObject(dc, OBJ_FONT);
    int map_mode = GetMapMode(dc), bk_mode = GetBkMode(dc);
    COLORREF text_color = GetTextColor(dc), bk_color = GetBkColor(dc);
    EXPECT_NE(bitmap, (HGDIOBJ)lcd.dib);

    for (int flags : {0, TXT_LARGE | TXT_OPAQUE | TXT_INVERT, TXT_TINY | TXT_INVERT, (int)TXT_MEASURE}) {
        lcd_text(&lcd, flags, 4, 4, "state");
        EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), bitmap);
        EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);
        EXPECT_EQ(GetMapMode(dc), map_mode);
        EXPECT_EQ(GetBkMode(dc), bk_mode);
        EXPECT_EQ(GetTextColor(dc), text_color);
        EXPECT_EQ(GetBkColor(dc), bk_color);
    }
}

TEST_F(LcdSurface, TinyFontThroughTheTextCall)
{
    fill(0);
    EXPECT_EQ(lcd_text(&lcd, TXT_TINY, 10, 3, "AB"), 10);
    EXPECT_EQ(at(10, 4), 255); // A, row 1: #..#.
    EXPECT_EQ(at(13, 4), 255);
    EXPECT_EQ(at(11, 4), 0);
    EXPECT_EQ(at(15, 3), 255); // B, row 0: ###..
    EXPECT_EQ(count(255), 12 + 13);
    // UTF-8 and UTF-16 reach the fold table alike: a-umlaut is glyph 13
    EXPECT_EQ(lcd_text_utf8(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, u8"\u00e4"), tiny_font[13][0]);
    EXPECT_EQ(lcd_text_utf8(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, u8"\u0394"), tiny_font[(int)'?'][0]);
    EXPECT_EQ(lcd_text_wide(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, L"\u00c6"), tiny_font[10][0]);
}

TEST_F(LcdSurface, AnsiTextUsesTheSystemCodePage)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "code page " << GetACP();
    EXPECT_EQ(lcd_text(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, "\xC4"), tiny_font[9][0]);
    EXPECT_EQ(lcd_text(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, "\x80"), tiny_font[(int)'?'][0]); // the euro sign
}

TEST_F(LcdSurface, BitmapAfterText)
{
    fill(0);
    lcd_text(&lcd, TXT_OPAQUE | TXT_INVERT, 0, 0, "text");
    EXPECT_EQ(lcd_bitmap(&lcd, 0, 0, 0, 3, 1, "X X"), 0);
    EXPECT_EQ(at(0, 0), 255);
    EXPECT_EQ(at(1, 0), 0);
    EXPECT_EQ(at(2, 0), 255);
    EXPECT_EQ(lcd_bitmap(&lcd, 0, 0, 0, 3, 1, nullptr), 0);
}

TEST(LcdWithoutSurface, DrawsNothingAndDoesNotCrash)
{
    Lcd lcd{};
    EXPECT_EQ(lcd_bitmap(&lcd, 0, 0, 0, 2, 1, "XX"), 0);
    EXPECT_EQ(lcd_text(&lcd, 0, 0, 0, "text"), 0);
    EXPECT_EQ(lcd_text(&lcd, TXT_TINY, 0, 0, "AB"), 10);
}

} // namespace
