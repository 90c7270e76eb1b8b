// The frame's byte-level drawing: pictures (frame_bitmap) and the tiny font.
// Frames are heap vectors of exactly 6880 bytes, so that ASan sees any write
// outside them.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame.h"

namespace {

const uint8_t UNTOUCHED = 0x5A; // neither 0 nor 255: shows "left unchanged"

struct Frame {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(LCD_FRAME_BYTES, UNTOUCHED);
    uint8_t *data() { return bytes.data(); }
    uint8_t at(int x, int y) const { return bytes[y * LCD_WIDTH + x]; } // x past 159: the next row
    int changed() const { return LCD_FRAME_BYTES - (int)std::count(bytes.begin(), bytes.end(), UNTOUCHED); }
};

const uint16_t *units(const std::u16string &s) { return (const uint16_t *)s.c_str(); }

// Checks the glyph cell at (x, y) as drawn with the given TXT_INVERT/TXT_OPAQUE.
void expect_glyph_at(const Frame &f, int code, int x, int y, int flags)
{
    const uint8_t *g = tiny_font[code];
    const uint8_t ink = (flags & TXT_INVERT) ? 0 : 255;
    const uint8_t ground = (flags & TXT_OPAQUE) ? (uint8_t)~ink : UNTOUCHED;
    for (int row = 0; row < TINY_HEIGHT; row++)
        for (int col = 0; col < g[0]; col++)
            EXPECT_EQ(f.at(x + col, y + row), ((g[1 + row] >> (g[0] - 1 - col)) & 1) ? ink : ground)
                << "glyph " << code << " column " << col << " row " << row;
}

TEST(FrameBitmap, FlagsTable)
{
    const struct {
        int flags, lit, dark; // stored for a lit / dark character, -1 unchanged
    } cases[] = {
        {0, 255, 0},           {BMP_NEGATE, 0, 255},                   {BMP_NEGATE_OUT, 0, 255},
        {BMP_TRANSPARENT, 255, -1}, {BMP_NEGATE | BMP_NEGATE_OUT, 255, 0}, {BMP_NEGATE | BMP_TRANSPARENT, -1, 255},
        {BMP_NEGATE_OUT | BMP_TRANSPARENT, 0, -1}, {BMP_NEGATE | BMP_NEGATE_OUT | BMP_TRANSPARENT, -1, 0},
    };
    for (const auto &c : cases)
        for (uint8_t beneath : {0, 255}) {
            Frame f;
            f.bytes.assign(LCD_FRAME_BYTES, beneath);
            EXPECT_EQ(frame_bitmap(f.data(), c.flags, 20, 10, 2, 1, "X "), 0);
            EXPECT_EQ(f.at(20, 10), c.lit < 0 ? beneath : c.lit) << "flags " << c.flags;
            EXPECT_EQ(f.at(21, 10), c.dark < 0 ? beneath : c.dark) << "flags " << c.flags;
        }
}

TEST(FrameBitmap, WhichCharactersAreLit)
{
    std::string all;
    for (int c = 1; c < 256; c++)
        all += (char)c;
    Frame f;
    frame_bitmap(f.data(), 0, 0, 0, (int)all.size(), 1, all.data());
    for (int c = 1; c < 256; c++) // '.', '#', digits lit like 'X'; '_' and 0x80 up dark
        EXPECT_EQ(f.at(c - 1, 0), c > 32 && c < 128 && c != '_' ? 255 : 0) << "byte " << c;
}

// No clipping left and right, only indices outside the frame are dropped.
TEST(FrameBitmap, Placement)
{
    const std::string xs(35, 'X');
    const struct {
        const char *what;
        int x, y, width, height;
        const char *pixels;
        int changed;
        std::vector<std::pair<int, int>> lit;
    } cases[] = {
        {"null pixels", 0, 0, 5, 5, nullptr, 0, {}},
        {"no width", 5, 5, 0, 3, "XXX", 0, {}},
        {"negative width", 5, 5, -3, 3, "XXX", 0, {}},
        {"rows without separators", 4, 2, 3, 2, "X X X", 6, {{4, 2}, {6, 2}, {5, 3}}},
        {"7x5 at x 157 wraps", 157, 0, 7, 5, xs.c_str(), 35, {{159, 0}, {0, 1}, {3, 1}, {3, 5}}},
        {"rows below 42 dropped", 10, 40, 2, 5, "XXXXXXXXXX", 6, {{10, 40}, {11, 42}}},
        {"row at y -1 dropped", 0, -1, 3, 2, "XXXXXX", 3, {{0, 0}, {2, 0}}},
        {"negative x: end of the row above", -2, 1, 4, 1, "XXXX", 4, {{158, 0}, {159, 0}, {0, 1}, {1, 1}}},
    };
    for (const auto &c : cases) {
        Frame f;
        EXPECT_EQ(frame_bitmap(f.data(), 0, c.x, c.y, c.width, c.height, c.pixels), 0);
        EXPECT_EQ(f.changed(), c.changed) << c.what;
        for (auto p : c.lit)
            EXPECT_EQ(f.at(p.first, p.second), 255) << c.what << " at " << p.first << "," << p.second;
        EXPECT_EQ(f.at(4, 1), UNTOUCHED) << c.what;
    }
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

TEST(TinyFont, GlyphTable)
{
    for (int code = 0; code < TINY_GLYPHS; code++) {
        const int w = tiny_font[code][0];
        ASSERT_TRUE(w >= 1 && w <= 8) << code;
        const bool blank = code == 0 || (code >= 21 && code <= 32); // one column, nothing lit
        for (int row = 0; row < TINY_HEIGHT; row++)
            EXPECT_EQ(tiny_font[code][1 + row] >> (blank ? 0 : w), 0) << "code " << code << " row " << row;
        EXPECT_TRUE(!blank || w == 1) << code;
    }
    const uint8_t samples[][7] = {
        {'A', 5, 0x0C, 0x12, 0x1E, 0x12, 0x12}, {127, 8, 0xFE, 0xC6, 0xAA, 0x92, 0xFE},
        {'y', 5, 0x00, 0x12, 0x0E, 0x02, 0x0C},
    };
    for (const auto &s : samples)
        EXPECT_EQ(memcmp(tiny_font[s[0]], s + 1, 6), 0) << "code " << (int)s[0];
}

TEST(TinyFont, FoldTable)
{
    const int cases[][2] = {
        {'A', 'A'}, {10, 10},  {128, '$'}, {129, 0},  {145, '\''}, {159, 0},   {161, 'I'}, {176, 4},
        {196, 9},   {215, '*'}, {223, 18}, {228, 13}, {255, 'Y'},  {256, '?'}, {0x20AC, '?'}, {0xFFFF, '?'},
    };
    for (const auto &c : cases)
        EXPECT_EQ(tiny_map_unit(c[0]), c[1]) << "unit " << c[0];
    for (uint32_t unit = 0; unit < 0x10000; unit++)
        ASSERT_LT((unsigned)tiny_map_unit(unit), (unsigned)TINY_GLYPHS) << unit;
}

// Each case: the glyphs expected at their columns, and how many pixels change.
TEST(TinyText, Drawing)
{
    const int T = TXT_TINY, O = TXT_OPAQUE;
    const struct {
        int flags, x, y;
        std::u16string text;
        int width, changed;
        std::vector<std::pair<int, int>> glyphs; // code, left column
    } cases[] = {
        {T, 10, 3, u"AB", 10, 25, {{'A', 10}, {'B', 15}}}, // columns 14 and 19 unchanged
        {T | TXT_RIGHT | O, 159, 0, u"AB", 10, 50, {{'A', 150}, {'B', 155}}},
        {T | TXT_CENTER, 80, 0, u"AB", 10, 25, {{'A', 76}, {'B', 81}}},
        {T | TXT_CENTER, 80, 0, u"A", 5, 12, {{'A', 78}}},
        {T | TXT_CENTER | TXT_RIGHT, 80, 0, u"AB", 10, 25, {{'A', 71}, {'B', 76}}}, // right wins
        {T | O | TXT_INVERT, 3, 30, u"Hi 7", 12, 60, {{'H', 3}, {'i', 8}, {' ', 10}, {'7', 11}}},
        {T, 157, 0, u"AB", 10, 25, {{'A', 157}, {'B', 162}}}, // no clipping at the right edge
        {T | O, 0, 10, u"\u00B0C", 9, 45, {{4, 0}, {'C', 4}}},
        {T | O, 0, 10, u"\u00E4\u00E0\u0101", 15, 75, {{13, 0}, {'A', 5}, {'?', 10}}},
        {T | O, 0, 10, u"\u20AC5", 9, 45, {{'?', 0}, {'5', 5}}},
        {T | O, 0, 10, u"a\nb", 16, 80, {{'a', 0}, {10, 5}, {'b', 11}}}, // a line feed is the AE glyph
        {T | TXT_MEASURE | O, 0, 0, u"12:45", 18, 0, {}},
        {T | O, 0, 0, u"", 0, 0, {}},
    };
    for (const auto &c : cases) {
        Frame f;
        EXPECT_EQ(frame_text_tiny(f.data(), c.flags, c.x, c.y, units(c.text)), c.width);
        EXPECT_EQ(tiny_text_width(units(c.text)), c.width);
        for (auto g : c.glyphs)
            expect_glyph_at(f, g.first, g.second, c.y, c.flags);
        EXPECT_EQ(f.changed(), c.changed) << c.flags << " at " << c.x;
    }
    Frame f;
    EXPECT_EQ(frame_text_tiny(f.data(), TXT_TINY | TXT_OPAQUE, 0, 0, nullptr) + tiny_text_width(nullptr), 0);
}

} // namespace
