// The frame's byte-level drawing: pictures (frame_bitmap) and the tiny font.
// Frames are heap vectors of exactly 6880 bytes, so that ASan sees any write
// outside them.
#include <gtest/gtest.h>

#include <limits.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame.h"
#include "golden.h"

namespace {

const uint8_t UNTOUCHED = 0x5A; // neither 0 nor 255: shows "left unchanged"

struct Frame {
    std::vector<uint8_t> bytes;
    explicit Frame(uint8_t ground = UNTOUCHED) : bytes(LCD_FRAME_BYTES, ground) {}
    uint8_t *data() { return bytes.data(); }
    int changed() const { return LCD_FRAME_BYTES - (int)std::count(bytes.begin(), bytes.end(), UNTOUCHED); }
};

const uint16_t *units(const std::u16string &s) { return (const uint16_t *)s.c_str(); }

// A 7 x 5 picture, its rows given without separators.
const char *const P = "XXXXXX " "X     X" "XXXXXX " "X      " "X      ";

// Upright at (10, 10); clipped on every edge: at x = 157 and x = -3 it loses
// the columns off the frame (nothing wraps onto another row), at y = 40 the
// rows below 42, at y = -1 its first row. A null picture and widths 0 and -3
// draw nothing.
TEST(FrameBitmap, Placement)
{
    Frame f(0);
    const int places[][2] = {{10, 10}, {157, 10}, {-3, 20}, {40, 40}, {0, -1}};
    for (const auto &at : places)
        EXPECT_EQ(frame_bitmap(f.data(), 0, at[0], at[1], 7, 5, P), 0);
    frame_bitmap(f.data(), 0, 60, 10, 7, 5, nullptr);
    frame_bitmap(f.data(), 0, 60, 10, 0, 5, P);
    frame_bitmap(f.data(), 0, 60, 10, -3, 5, P);
    EXPECT_GOLDEN("frame_bitmap_placement", f.data());
}

// The picture with the flag sets 0 to 7 at x = 20 * flags + 2, on a dark ground
// (rows 0 to 20) and on a lit one (rows 21 to 42); and every byte from 1 to
// 255 as one row of a picture from (0, 14), going on in row 15: lit above 32
// and below 128, but for '_'.
TEST(FrameBitmap, FlagsAndLitCharacters)
{
    Frame f(0);
    std::fill(f.bytes.begin() + 21 * LCD_WIDTH, f.bytes.end(), 255);
    for (int flags = 0; flags < 8; flags++)
        for (int y : {4, 28})
            frame_bitmap(f.data(), flags, 20 * flags + 2, y, 7, 5, P);
    std::string all;
    for (int c = 1; c < 256; c++)
        all += (char)c;
    frame_bitmap(f.data(), 0, 0, 14, (int)all.size(), 1, all.data());
    EXPECT_GOLDEN("frame_bitmap_flags", f.data());
}

// Huge coordinates: 32-bit index arithmetic would wrap into the frame
// (26843546 * 160 is 64 modulo 2^32). Nothing is drawn, and nothing outside.
TEST(FrameDrawing, FarOffPlacementsDrawNothing)
{
    const int places[][2] = {{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MAX, 0}, {0, INT_MAX}, {INT_MIN, 0},
                             {0, INT_MIN},       {0, 26843546},      {-5000, -5000}, {-6896, 0}, {7000, 0}};
    const std::string pixels(400, 'X');
    for (const auto &p : places) {
        Frame f;
        frame_bitmap(f.data(), 0, p[0], p[1], 20, 20, pixels.c_str());
        frame_bitmap(f.data(), 0, p[0], p[1], 16, 1, pixels.c_str());
        for (int flags : {TXT_TINY | TXT_OPAQUE, TXT_TINY | TXT_RIGHT, TXT_TINY | TXT_CENTER | TXT_OPAQUE})
            frame_text_tiny(f.data(), flags, p[0], p[1], units(u"\u007F\u007F\u007FMW"));
        frame_put(f.data(), p[0], p[1], 255);
        EXPECT_EQ(f.changed(), 0) << p[0] << "," << p[1];
    }
    Frame f; // reaching past the bottom right corner (ASan guards the end)
    frame_bitmap(f.data(), 0, 159, 42, 300, 2, std::string(600, 'X').c_str());
    EXPECT_EQ(f.changed(), 1);
    frame_text_tiny(f.data(), TXT_TINY | TXT_OPAQUE, 150, 40, units(u"\u007F\u007F\u007F"));
}

// 128 code units from first, 16 a line: the first 64 at the left, the other
// 64 from column 80. 0x81 stands in for 0, which would end the text (both
// draw glyph 0).
void draw_sheet(Frame *f, int first)
{
    for (int line = 0; line < 8; line++) {
        std::u16string text;
        for (int unit = first + 16 * line; unit < first + 16 * line + 16; unit++)
            text += (char16_t)(unit ? unit : 0x81);
        frame_text_tiny(f->data(), 0, 80 * (line / 4), 8 * (line % 4), units(text));
    }
}

// Units 0 to 127 draw their own glyphs (a line feed is the AE glyph, not a
// line break), units 128 to 255 the folded ones.
TEST(TinyFont, EveryGlyphAndEveryFold)
{
    Frame glyphs(0), folds(0);
    draw_sheet(&glyphs, 0);
    draw_sheet(&folds, 128);
    EXPECT_GOLDEN("text_tiny_font", glyphs.data());
    EXPECT_GOLDEN("text_tiny_latin1", folds.data());
    for (uint32_t unit = 0; unit < 0x10000; unit++)
        ASSERT_LT((unsigned)tiny_map_unit(unit), (unsigned)TINY_GLYPHS) << unit;
}

// Each case is drawn alone on an untouched frame (width, pixels changed) and,
// at its own place, into one picture.
TEST(TinyText, Drawing)
{
    const int T = TXT_TINY, O = TXT_OPAQUE;
    const struct { int flags, x, y; std::u16string text; int width, changed; } cases[] = {
        {T, 10, 3, u"AB", 10, 25}, // columns 14 and 19 unchanged
        {T | TXT_RIGHT | O, 159, 0, u"AB", 10, 50},
        {T | TXT_CENTER, 80, 9, u"AB", 10, 25},
        {T | TXT_CENTER, 80, 15, u"A", 5, 12},
        {T | TXT_CENTER | TXT_RIGHT, 80, 21, u"AB", 10, 25}, // right wins
        {T | O | TXT_INVERT, 3, 30, u"Hi 7", 12, 60},
        {T, 157, 36, u"AB", 10, 8}, // clipped at the right edge
        {T | O, 0, 22, u"\u4E2D5", 9, 45}, // not in code page 1252: '?'
        {T | O, 40, 22, u"\u20AC\u0160\u201C", 12, 60}, // euro, S caron, quote: folded as in code page 1252
        {T | TXT_MEASURE | O, 0, 0, u"12:45", 18, 0},
        {T | O, 0, 0, u"", 0, 0},
    };
    Frame sheet(0);
    for (const auto &c : cases) {
        Frame alone;
        EXPECT_EQ(frame_text_tiny(alone.data(), c.flags, c.x, c.y, units(c.text)), c.width);
        EXPECT_EQ(alone.changed(), c.changed) << c.flags << " at " << c.x << "," << c.y;
        frame_text_tiny(sheet.data(), c.flags, c.x, c.y, units(c.text));
    }
    EXPECT_GOLDEN("text_tiny_cases", sheet.data());
    Frame f;
    EXPECT_EQ(frame_text_tiny(f.data(), TXT_TINY | TXT_OPAQUE, 0, 0, nullptr) + tiny_text_width(nullptr), 0);
}

} // namespace
