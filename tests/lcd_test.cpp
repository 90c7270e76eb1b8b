// The drawing surface and text through GDI and the tiny font, under Wine.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "golden.h"
#include "lcd.h"

namespace {

const int O = TXT_OPAQUE, I = TXT_INVERT, L = TXT_LARGE;

class LcdSurface : public ::testing::Test {
protected:
    Lcd lcd{};
    void SetUp() override { ASSERT_EQ(lcd_create_surface(&lcd), 1); }
    void TearDown() override { lcd_destroy_surface(&lcd); }
    int count(uint8_t value) { return (int)std::count(lcd.frame, lcd.frame + LCD_FRAME_BYTES, value); }
};

TEST_F(LcdSurface, FaceNameIsCutTo31Characters)
{
    const char *long_face = "An Extremely Long Font Face Name That Goes On";
    lcd_set_large_font(&lcd, long_face, -14);
    LOGFONTA lf;
    ASSERT_EQ(GetObjectA(lcd.large_font, sizeof lf, &lf), (int)sizeof lf);
    EXPECT_EQ(lf.lfFaceName, std::string(long_face, 31));
    EXPECT_TRUE(lf.lfHeight == -14 && lf.lfCharSet == DEFAULT_CHARSET);
}

// No smoothing: only 0 and 255; transparent text changes only its own pixels.
TEST_F(LcdSurface, GdiTextWritesOnlyDarkAndLit)
{
    for (int flags = 0; flags <= (L | I | O); flags++)
        for (uint8_t ground : {0, 255}) {
            memset(lcd.frame, ground, LCD_FRAME_BYTES);
            lcd_text(&lcd, flags, 20, 20, "Pixwick MMMM iiii");
            lcd_text_utf8(&lcd, flags, 3, 1, u8"Wgjy 12:45 \u00c4\u00f6\u00df \u20ac@%&&");
            EXPECT_EQ(count(0) + count(255), LCD_FRAME_BYTES) << flags;
            const bool invisible = ((flags & I) ? 0 : 255) == ground && !(flags & O);
            EXPECT_EQ(count(ground) == LCD_FRAME_BYTES, invisible) << flags << " on " << (int)ground;
        }
}

struct Text { int flags, x, y; const char *text; };

// Draws the texts on a dark frame, each measured first: measuring draws
// nothing and gives the width that drawing returns.
void draw(Lcd *lcd, std::initializer_list<Text> texts)
{
    memset(lcd->frame, 0, LCD_FRAME_BYTES);
    for (const Text &t : texts) {
        const std::vector<uint8_t> before(lcd->frame, lcd->frame + LCD_FRAME_BYTES);
        const int width = lcd_text(lcd, t.flags | TXT_MEASURE, t.x, t.y, t.text);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), lcd->frame)) << "measuring " << t.text;
        EXPECT_EQ(lcd_text(lcd, t.flags, t.x, t.y, t.text), width) << t.text;
    }
}

// Both GDI fonts. Aligned: plain; dark on a lit band right-aligned on column
// 159; a band centred on column 80. Clipped: nothing left of x or above y, cut
// at column 159 without wrapping, the whole width returned, and bytes written
// after GDI output stay (the dots). An ampersand is drawn as it stands (a
// title like "Simon & Garfunkel"), measured as drawn; a line feed starts a new
// line one text height lower.
TEST_F(LcdSurface, GdiText)
{
    draw(&lcd, {{0, 0, 0, "Pixwick 12:45"}, {O | I | TXT_RIGHT, 159, 0, "CPU 100%"}, {O | I | TXT_CENTER, 80, 10, "Band"},
                {L, 0, 19, "Pixwick 12:45"}, {L | O | I | TXT_RIGHT, 159, 19, "CPU 100%"},
                {L | O | I | TXT_CENTER, 80, 30, "Band"}});
    EXPECT_GOLDEN("text_gdi_aligned", lcd.frame);

    const char *text = "This notice is far too long for the display and has to scroll";
    draw(&lcd, {{O | I, 50, 2, text}, {L | O | I, 20, 20, text}});
    EXPECT_GT(lcd_text(&lcd, TXT_MEASURE, 0, 0, text), 300);
    lcd_bitmap(&lcd, 0, 60, 2, 9, 1, "X X X X X");
    EXPECT_GOLDEN("text_gdi_clipped", lcd.frame);

    draw(&lcd, {{TXT_RIGHT, 159, 0, "a&b"}, {TXT_RIGHT, 159, 10, "a&&b"}, {L | TXT_RIGHT, 159, 17, "a&b"},
                {L | TXT_RIGHT, 159, 30, "a&&b"}, {0, 0, 0, "B\nx"}, {L, 40, 17, "B\nx"}});
    EXPECT_GOLDEN("text_gdi_ampersand_line_feed", lcd.frame);
}

// Null and empty texts measure 0 and draw nothing. Destroying sets every
// field to null and is safe again, also on a surface never created; without a
// surface nothing is drawn, and the tiny font can still be measured.
TEST_F(LcdSurface, NothingToDraw)
{
    for (int flags : {0, L, (int)TXT_TINY, (int)TXT_MEASURE}) {
        EXPECT_EQ(lcd_text(&lcd, flags, 0, 0, nullptr) + lcd_text(&lcd, flags, 0, 0, ""), 0);
        EXPECT_EQ(lcd_text_utf8(&lcd, flags, 0, 0, nullptr) + lcd_text_utf8(&lcd, flags, 0, 0, ""), 0);
        EXPECT_EQ(lcd_text_wide(&lcd, flags, 0, 0, nullptr) + lcd_text_wide(&lcd, flags, 0, 0, L""), 0);
    }
    EXPECT_EQ(count(0), LCD_FRAME_BYTES);
    lcd_destroy_surface(&lcd);
    EXPECT_TRUE(!lcd.dc && !lcd.bitmap_info && !lcd.dib && !lcd.frame && !lcd.small_font && !lcd.large_font);
    lcd_destroy_surface(&lcd);
    Lcd never_created{};
    lcd_destroy_surface(&never_created);
    EXPECT_EQ(lcd_bitmap(&lcd, 0, 0, 0, 2, 1, "XX") + lcd_text(&lcd, 0, 0, 0, "text"), 0);
    EXPECT_EQ(lcd_text(&lcd, TXT_TINY, 0, 0, "AB"), 10);
}

// 8-bit text is in the system code page: in 1252, A-umlaut and the euro sign,
// which the tiny font draws as its A-umlaut and the euro's fold, '$'.
TEST_F(LcdSurface, EightBitTextIsInTheSystemCodePage)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "the text is written for code page 1252";
    EXPECT_EQ(lcd_text(&lcd, TXT_TINY, 10, 3, "\xC4\x80"), 11);
    EXPECT_GOLDEN("text_tiny_code_page_1252", lcd.frame);
}

} // namespace
