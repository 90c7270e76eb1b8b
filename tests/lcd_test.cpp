// The drawing surface and text through GDI and the tiny font, under Wine.
#include <gtest/gtest.h>

#include <malloc.h>
#include <string.h>

#include <algorithm>
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

    std::vector<uint8_t> drawn(int flags, const char *text, uint8_t ground = 0, int x = 0, int y = 0)
    {
        memset(lcd.frame, ground, LCD_FRAME_BYTES);
        lcd_text(&lcd, flags, x, y, text);
        return std::vector<uint8_t>(lcd.frame, lcd.frame + LCD_FRAME_BYTES);
    }
    uint8_t at(int x, int y) { return lcd.frame[y * LCD_WIDTH + x]; }
    int count(uint8_t value) { return (int)std::count(lcd.frame, lcd.frame + LCD_FRAME_BYTES, value); }
    int line_height(int flags)
    {
        HGDIOBJ old = SelectObject(lcd.dc, (flags & TXT_LARGE) ? lcd.large_font : lcd.small_font);
        TEXTMETRICW tm;
        GetTextMetricsW(lcd.dc, &tm);
        SelectObject(lcd.dc, old);
        return tm.tmHeight;
    }
};

void expect_font(HFONT font, const std::string &face, int height)
{
    LOGFONTA lf;
    ASSERT_EQ(GetObjectA(font, sizeof lf, &lf), (int)sizeof lf);
    EXPECT_EQ(lf.lfFaceName, face);
    EXPECT_TRUE(lf.lfHeight == height && lf.lfCharSet == DEFAULT_CHARSET) << face;
}

TEST_F(LcdSurface, HeaderIsATopDownGreyRampOverADarkFrame)
{
    ASSERT_NE(lcd.bitmap_info, nullptr);
    EXPECT_EQ(_msize(lcd.bitmap_info), 1068u);
    const BITMAPINFOHEADER &h = lcd.bitmap_info->bmiHeader;
    EXPECT_EQ((std::vector<LONG>{(LONG)h.biSize, h.biWidth, h.biHeight, h.biPlanes, h.biBitCount,
                                 (LONG)h.biCompression, (LONG)h.biSizeImage, h.biXPelsPerMeter, h.biYPelsPerMeter,
                                 (LONG)h.biClrUsed, (LONG)h.biClrImportant}),
              (std::vector<LONG>{40, 160, -43, 1, 8, 0, 6880, 3200, 3200, 256, 256}));
    for (int i = 0; i < 257; i++) { // 256 grey entries and a zero spare
        const RGBQUAD &q = lcd.bitmap_info->bmiColors[i];
        const int grey = i < 256 ? i : 0;
        EXPECT_TRUE(q.rgbBlue == grey && q.rgbGreen == grey && q.rgbRed == grey && q.rgbReserved == 0) << i;
    }
    DIBSECTION ds;
    ASSERT_EQ(GetObject(lcd.dib, sizeof ds, &ds), (int)sizeof ds);
    EXPECT_EQ(ds.dsBm.bmBits, lcd.frame);
    EXPECT_EQ(count(0), LCD_FRAME_BYTES);
}

TEST_F(LcdSurface, FontsStartFixedAndKeep31CharactersOfAFace)
{
    expect_font(lcd.small_font, "Lucida Console", -8);
    expect_font(lcd.large_font, "Microsoft Sans Serif", -11);
    const char *long_face = "An Extremely Long Font Face Name That Goes On";
    lcd_set_small_font(&lcd, "Tahoma", 9);
    lcd_set_large_font(&lcd, long_face, -14);
    expect_font(lcd.small_font, "Tahoma", 9);
    expect_font(lcd.large_font, std::string(long_face, 31), -14);
}

TEST_F(LcdSurface, DestroyClearsEverythingAndIsSafeTwice)
{
    lcd_destroy_surface(&lcd);
    EXPECT_TRUE(!lcd.dc && !lcd.bitmap_info && !lcd.dib && !lcd.frame && !lcd.small_font && !lcd.large_font);
    lcd_destroy_surface(&lcd);
    Lcd never_created{};
    lcd_destroy_surface(&never_created);
    // Without a surface nothing is drawn; the tiny font can still be measured.
    EXPECT_EQ(lcd_bitmap(&lcd, 0, 0, 0, 2, 1, "XX") + lcd_text(&lcd, 0, 0, 0, "text"), 0);
    EXPECT_EQ(lcd_text(&lcd, TXT_TINY, 0, 0, "AB"), 10);
}

// No smoothing: only 0 and 255; transparent text changes only its own pixels.
TEST_F(LcdSurface, GdiTextWritesOnlyDarkAndLit)
{
    for (int flags = 0; flags <= (TXT_LARGE | TXT_INVERT | TXT_OPAQUE); flags++)
        for (uint8_t ground : {0, 255}) {
            drawn(flags, "Pixwick MMMM iiii", ground, 20, 20);
            lcd_text_utf8(&lcd, flags, 3, 1, u8"Wgjy 12:45 \u00c4\u00f6\u00df \u20ac@%&&");
            EXPECT_EQ(count(0) + count(255), LCD_FRAME_BYTES) << flags;
            const bool invisible = ((flags & TXT_INVERT) ? 0 : 255) == ground && !(flags & TXT_OPAQUE);
            EXPECT_EQ(count(ground) == LCD_FRAME_BYTES, invisible) << flags << " on " << (int)ground;
        }
}

// Measuring draws nothing and gives the drawn width; an opaque inverted text
// is a lit band of that width and one line high, with dark letters.
TEST_F(LcdSurface, MeasuredWidthIsTheDrawnBand)
{
    for (int font : GDI_FONTS)
        for (const char *text : {"W", "CPU 100% 3.2GHz", "Band"}) {
            const int width = lcd_text(&lcd, font | TXT_MEASURE, 0, 0, text), height = line_height(font);
            EXPECT_EQ(drawn(font | TXT_MEASURE | TXT_OPAQUE | TXT_INVERT, text), std::vector<uint8_t>(6880, 0));
            for (int x : {10, 159}) { // left at 10, right-aligned at 159
                drawn(font | TXT_OPAQUE | TXT_INVERT | (x == 159 ? TXT_RIGHT : 0), text, 0, x, 5);
                const int left = x == 159 ? 160 - width : x;
                for (int i = 0; i < width; i++)
                    EXPECT_EQ(at(left + i, 5 + height - 1), 255) << text << " " << i; // below the letters
                EXPECT_TRUE(at(left - 1, 5) == 0 && at(left + width, 5) == 0) << text;
                EXPECT_TRUE(at(left, 4) == 0 && at(left, 5 + height) == 0) << text;
                EXPECT_GT(count(0), LCD_FRAME_BYTES - width * height + 5) << "dark letters in " << text;
            }
        }
}

// Nothing left of or above the start point, no wrapping onto later rows, and
// the full width returned.
TEST_F(LcdSurface, LongTextIsClippedButMeasuredWhole)
{
    const char *text = "This notice is far too long for the display and has to scroll";
    for (int font : GDI_FONTS) {
        const int width = lcd_text(&lcd, font | TXT_MEASURE, 0, 0, text);
        EXPECT_GT(width, 160);
        memset(lcd.frame, 0, LCD_FRAME_BYTES);
        EXPECT_EQ(lcd_text(&lcd, font | TXT_OPAQUE | TXT_INVERT, 50, 20, text), width);
        EXPECT_EQ(at(159, 20), 255);
        const int below = 20 + line_height(font);
        for (int i = 0; i < LCD_FRAME_BYTES; i++)
            if (i % LCD_WIDTH < 50 || i / LCD_WIDTH < 20 || i / LCD_WIDTH >= below) {
                ASSERT_EQ(lcd.frame[i], 0) << "pixel " << i;
            }
    }
}

// a&b shows ab with the b underlined, a&&b shows a&b; a line feed starts a
// new line one text height lower.
TEST_F(LcdSurface, AmpersandAndLineFeedInGdiFonts)
{
    for (int font : GDI_FONTS) {
        const std::vector<uint8_t> ab = drawn(font, "ab"), underlined = drawn(font, "a&b");
        EXPECT_EQ(lcd_text(&lcd, font | TXT_MEASURE, 0, 0, "a&b"), lcd_text(&lcd, font | TXT_MEASURE, 0, 0, "ab"));
        EXPECT_NE(ab, underlined);
        EXPECT_NE(drawn(font, "a&&b"), ab);
        EXPECT_NE(drawn(font, "a&&b"), underlined);
        for (int i = 0; i < LCD_FRAME_BYTES; i++)
            if (ab[i]) {
                ASSERT_EQ(underlined[i], 255) << i; // the underline only adds pixels
            }
        drawn(font, "x", 0, 0, line_height(font));
        lcd_text(&lcd, font, 0, 0, "B");
        const std::vector<uint8_t> two_calls(lcd.frame, lcd.frame + LCD_FRAME_BYTES);
        EXPECT_EQ(drawn(font, "B\nx"), two_calls) << font;
    }
}

TEST_F(LcdSurface, NullEmptyAndPercentTexts)
{
    for (int flags : {0, (int)TXT_LARGE, (int)TXT_TINY, (int)TXT_MEASURE}) {
        EXPECT_EQ(lcd_text(&lcd, flags, 0, 0, nullptr) + lcd_text(&lcd, flags, 0, 0, ""), 0);
        EXPECT_EQ(lcd_text_utf8(&lcd, flags, 0, 0, nullptr) + lcd_text_utf8(&lcd, flags, 0, 0, ""), 0);
        EXPECT_EQ(lcd_text_wide(&lcd, flags, 0, 0, nullptr) + lcd_text_wide(&lcd, flags, 0, 0, L""), 0);
    }
    EXPECT_EQ(count(0), LCD_FRAME_BYTES);
    for (int font : {0, (int)TXT_LARGE, (int)TXT_TINY}) { // '%' is a character, never a format
        EXPECT_GT(lcd_text(&lcd, font | TXT_MEASURE, 0, 0, "100%"), lcd_text(&lcd, font | TXT_MEASURE, 0, 0, "100"));
        EXPECT_EQ(lcd_text(&lcd, font, 0, 0, "%s%n%d%%"), lcd_text_wide(&lcd, font | TXT_MEASURE, 0, 0, L"%s%n%d%%"));
    }
}

TEST_F(LcdSurface, TinyFontThroughTheTextCalls)
{
    EXPECT_EQ(lcd_text(&lcd, TXT_TINY, 10, 3, "AB"), 10);
    EXPECT_EQ(count(255), 12 + 13); // the glyphs themselves: see the frame tests
    lcd_text(&lcd, TXT_LARGE | TXT_OPAQUE | TXT_INVERT, 0, 0, "GDI");
    EXPECT_EQ(lcd_bitmap(&lcd, 0, 0, 0, 3, 1, "X X"), 0); // bytes written after GDI output stay
    EXPECT_TRUE(at(0, 0) == 255 && at(1, 0) == 0 && at(2, 0) == 255);
    // UTF-8 and UTF-16 reach the fold table alike: a-umlaut is glyph 13
    EXPECT_EQ(lcd_text_utf8(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, u8"\u00e4"), tiny_font[13][0]);
    EXPECT_EQ(lcd_text_utf8(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, u8"\u0394"), tiny_font[(int)'?'][0]);
    EXPECT_EQ(lcd_text_wide(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, L"\u00c6"), tiny_font[10][0]);
    if (GetACP() == 1252) { // 8-bit text is in the system code page
        EXPECT_EQ(lcd_text(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, "\xC4"), tiny_font[9][0]);
        EXPECT_EQ(lcd_text(&lcd, TXT_TINY | TXT_MEASURE, 0, 0, "\x80"), tiny_font[(int)'?'][0]); // euro
    }
}

} // namespace
