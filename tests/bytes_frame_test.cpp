// The frame's byte-level drawing: pictures (frame_bitmap) and the tiny font.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <string>
#include <vector>

#include "frame.h"

namespace {

const uint8_t UNTOUCHED = 0x5A; // neither 0 nor 255: shows "left unchanged"

// A frame inside a larger buffer whose guard bytes must never change.
struct GuardedFrame {
    enum { GUARD = 4096 };
    std::vector<uint8_t> buffer;
    GuardedFrame(uint8_t fill = UNTOUCHED) : buffer(GUARD + LCD_FRAME_BYTES + GUARD, 0xC3)
    {
        memset(frame(), fill, LCD_FRAME_BYTES);
    }
    uint8_t *frame() { return &buffer[GUARD]; }
    uint8_t at(int x, int y) { return frame()[y * LCD_WIDTH + x]; }
    bool guards_intact() const
    {
        for (size_t i = 0; i < GUARD; i++)
            if (buffer[i] != 0xC3 || buffer[GUARD + LCD_FRAME_BYTES + i] != 0xC3)
                return false;
        return true;
    }
    int changed_pixels()
    {
        int n = 0;
        for (int i = 0; i < LCD_FRAME_BYTES; i++)
            n += frame()[i] != UNTOUCHED;
        return n;
    }
};

const uint16_t *units(const std::u16string &s) { return (const uint16_t *)s.c_str(); }

// Pixel of a glyph's cell: column 0 is the leftmost.
bool glyph_ink(int code, int col, int row)
{
    const uint8_t *g = tiny_font[code];
    return (g[1 + row] >> (g[0] - 1 - col)) & 1;
}

// Checks one glyph cell at (x, y) as drawn with TXT_INVERT/TXT_OPAQUE.
void expect_glyph_at(GuardedFrame &f, int code, int x, int y, int flags)
{
    const uint8_t ink = (flags & TXT_INVERT) ? 0 : 255;
    const uint8_t background = (flags & TXT_OPAQUE) ? (uint8_t)~ink : UNTOUCHED;
    for (int row = 0; row < TINY_HEIGHT; row++)
        for (int col = 0; col < tiny_font[code][0]; col++)
            EXPECT_EQ(f.at(x + col, y + row), glyph_ink(code, col, row) ? ink : background)
                << "glyph " << code << " column " << col << " row " << row;
}

// ---- pictures ----

struct FlagCase {
    int flags;
    int lit;  // stored for a lit character, -1 unchanged
    int dark; // stored for a dark character, -1 unchanged
};

const FlagCase FLAG_CASES[] = {
    {0, 255, 0},
    {BMP_NEGATE, 0, 255},
    {BMP_NEGATE_OUT, 0, 255},
    {BMP_NEGATE | BMP_NEGATE_OUT, 255, 0},
    {BMP_TRANSPARENT, 255, -1},
    {BMP_NEGATE | BMP_TRANSPARENT, -1, 255},
    {BMP_NEGATE_OUT | BMP_TRANSPARENT, 0, -1},
    {BMP_NEGATE | BMP_NEGATE_OUT | BMP_TRANSPARENT, -1, 0},
};

TEST(FrameBitmap, FlagsTable)
{
    for (const FlagCase &c : FLAG_CASES) {
        for (uint8_t beneath : {(uint8_t)0, (uint8_t)255}) {
            GuardedFrame f(beneath);
            EXPECT_EQ(frame_bitmap(f.frame(), c.flags, 20, 10, 2, 1, "X "), 0);
            EXPECT_EQ(f.at(20, 10), c.lit < 0 ? beneath : c.lit) << "flags " << c.flags;
            EXPECT_EQ(f.at(21, 10), c.dark < 0 ? beneath : c.dark) << "flags " << c.flags;
            EXPECT_EQ(f.at(22, 10), beneath);
            EXPECT_EQ(f.at(19, 10), beneath);
        }
    }
}

TEST(FrameBitmap, NullPixelsDrawNothing)
{
    GuardedFrame f;
    EXPECT_EQ(frame_bitmap(f.frame(), 0, 0, 0, 5, 5, nullptr), 0);
    EXPECT_EQ(f.changed_pixels(), 0);
}

TEST(FrameBitmap, WhichCharactersAreLit)
{
    std::string all;
    for (int c = 1; c < 256; c++)
        all += (char)c;
    GuardedFrame f;
    frame_bitmap(f.frame(), 0, 0, 0, (int)all.size(), 1, all.data());
    for (int c = 1; c < 256; c++) {
        int index = c - 1;
        bool lit = c > 32 && c < 128 && c != '_';
        EXPECT_EQ(f.frame()[index], lit ? 255 : 0) << "byte " << c;
    }
    EXPECT_EQ(f.frame()[(int)'.' - 1], 255);
    EXPECT_EQ(f.frame()[(int)'#' - 1], 255);
    EXPECT_EQ(f.frame()[(int)'7' - 1], 255);
}

TEST(FrameBitmap, RowsFollowEachOtherWithoutSeparators)
{
    GuardedFrame f;
    frame_bitmap(f.frame(), 0, 4, 2, 3, 2, "X X X");
    EXPECT_EQ(f.at(4, 2), 255);
    EXPECT_EQ(f.at(5, 2), 0);
    EXPECT_EQ(f.at(6, 2), 255);
    EXPECT_EQ(f.at(4, 3), 0);
    EXPECT_EQ(f.at(5, 3), 255);
    EXPECT_EQ(f.at(6, 3), 0); // string too short: only width x height are read
    EXPECT_EQ(f.changed_pixels(), 6);
}

TEST(FrameBitmap, PastTheRightEdgeWrapsToTheNextRow)
{
    GuardedFrame f;
    frame_bitmap(f.frame(), 0, 157, 0, 7, 5, std::string(35, 'X').c_str());
    for (int row = 0; row < 5; row++) {
        for (int x = 157; x < 160; x++)
            EXPECT_EQ(f.at(x, row), 255);
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(f.at(x, row + 1), 255) << "x " << x << " row " << row + 1;
        EXPECT_EQ(f.at(4, row + 1), UNTOUCHED);
    }
    EXPECT_EQ(f.changed_pixels(), 35);
}

TEST(FrameBitmap, RowsBelowTheScreenAreDropped)
{
    GuardedFrame f;
    frame_bitmap(f.frame(), 0, 10, 40, 2, 5, "XXXXXXXXXX");
    EXPECT_EQ(f.at(10, 40), 255);
    EXPECT_EQ(f.at(11, 42), 255);
    EXPECT_EQ(f.changed_pixels(), 6);
    EXPECT_TRUE(f.guards_intact());
}

TEST(FrameBitmap, RowAboveTheScreenIsDropped)
{
    GuardedFrame f;
    frame_bitmap(f.frame(), 0, 0, -1, 3, 2, "XXXXXX");
    EXPECT_EQ(f.at(0, 0), 255);
    EXPECT_EQ(f.at(2, 0), 255);
    EXPECT_EQ(f.changed_pixels(), 3);
    EXPECT_TRUE(f.guards_intact());
}

TEST(FrameBitmap, NegativeXStartsAtTheEndOfTheRowAbove)
{
    GuardedFrame f;
    frame_bitmap(f.frame(), 0, -2, 1, 4, 1, "XXXX");
    EXPECT_EQ(f.at(158, 0), 255);
    EXPECT_EQ(f.at(159, 0), 255);
    EXPECT_EQ(f.at(0, 1), 255);
    EXPECT_EQ(f.at(1, 1), 255);
    EXPECT_EQ(f.changed_pixels(), 4);
}

struct Placement {
    int x, y, width, height;
};

const Placement FAR_OFF[] = {
    {INT_MIN, INT_MIN, 4, 4},      {INT_MAX, INT_MAX, 4, 4},  {INT_MAX, 0, 4, 4},
    {0, INT_MAX, 4, 4},            {INT_MIN, 0, 4, 4},        {0, INT_MIN, 4, 4},
    {0, 26843546, 4, 4},           // y * 160 wraps to 64 in 32 bits
    {-6880 - 16, 0, 16, 1},        {6880, 0, 16, 1},          {-5000, -5000, 20, 20},
    {0, 43, 160, 10},              {0, -10, 160, 10},         {159, 42, 300, 2},
};

// Placements that must draw nothing at all, whatever 32-bit arithmetic would give.
bool far_off(const Placement &p)
{
    return p.y > 100 || p.y < -100 || p.x > 100000 || p.x < -100000;
}

TEST(FrameBitmap, FarOffPlacementsNeverWriteOutsideTheFrame)
{
    const std::string pixels(6000, 'X');
    for (const Placement &p : FAR_OFF) {
        GuardedFrame f;
        frame_bitmap(f.frame(), 0, p.x, p.y, p.width, p.height, pixels.c_str());
        EXPECT_TRUE(f.guards_intact()) << p.x << "," << p.y;
        if (far_off(p)) {
            EXPECT_EQ(f.changed_pixels(), 0) << p.x << "," << p.y;
        }
    }
}

TEST(FrameBitmap, NonPositiveSizesDrawNothing)
{
    GuardedFrame f;
    frame_bitmap(f.frame(), 0, 5, 5, 0, 3, "XXX");
    frame_bitmap(f.frame(), 0, 5, 5, -3, 3, "XXX");
    frame_bitmap(f.frame(), 0, 5, 5, 3, -1, "XXX");
    EXPECT_EQ(f.changed_pixels(), 0);
}

TEST(FramePut, DropsEverythingOutsideTheFrame)
{
    GuardedFrame f;
    frame_put(f.frame(), -1, 0, 255);
    frame_put(f.frame(), 0, 43, 255);
    frame_put(f.frame(), 0, 26843546, 255);
    frame_put(f.frame(), INT_MAX, INT_MAX, 255);
    frame_put(f.frame(), INT_MIN, INT_MIN, 255);
    EXPECT_EQ(f.changed_pixels(), 0);
    EXPECT_TRUE(f.guards_intact());
    frame_put(f.frame(), 159, 42, 255);
    EXPECT_EQ(f.at(159, 42), 255);
}

// ---- tiny font ----

TEST(TinyFont, EveryGlyphFitsItsWidth)
{
    for (int code = 0; code < TINY_GLYPHS; code++) {
        int w = tiny_font[code][0];
        EXPECT_GE(w, 1) << code;
        EXPECT_LE(w, 8) << code;
        for (int row = 0; row < TINY_HEIGHT; row++)
            EXPECT_EQ(tiny_font[code][1 + row] >> w, 0) << "code " << code << " row " << row;
    }
}

TEST(TinyFont, BlankCodesAreOneColumnWide)
{
    for (int code = 0; code <= 32; code++) {
        if (code >= 1 && code <= 20)
            continue;
        EXPECT_EQ(tiny_font[code][0], 1) << code;
        for (int row = 0; row < TINY_HEIGHT; row++)
            EXPECT_EQ(tiny_font[code][1 + row], 0) << code;
    }
}

TEST(TinyFont, SampleGlyphs)
{
    const uint8_t a[] = {5, 0x0C, 0x12, 0x1E, 0x12, 0x12};
    const uint8_t m[] = {6, 0x22, 0x36, 0x2A, 0x22, 0x22};
    const uint8_t ae[] = {6, 0x1E, 0x28, 0x3C, 0x28, 0x2E};
    const uint8_t cross[] = {8, 0xFE, 0xC6, 0xAA, 0x92, 0xFE};
    EXPECT_EQ(memcmp(tiny_font[(int)'A'], a, 6), 0);
    EXPECT_EQ(memcmp(tiny_font[(int)'M'], m, 6), 0);
    EXPECT_EQ(memcmp(tiny_font[10], ae, 6), 0);
    EXPECT_EQ(memcmp(tiny_font[127], cross, 6), 0);
}

struct FoldCase {
    uint32_t unit;
    int glyph;
};

const FoldCase FOLD_CASES[] = {
    {'A', 'A'}, {0, 0},      {10, 10},    {127, 127},  {128, '$'},  {129, 0},     {138, 'S'},
    {145, '\''}, {146, '\''}, {159, 0},    {160, 0},    {161, 'I'},  {166, 2},     {169, 1},
    {175, 3},   {176, 4},    {177, 5},    {181, 6},    {182, 0},    {184, ','},   {191, 7},
    {192, 'A'}, {196, 9},    {197, 8},    {198, 10},   {214, 11},   {215, '*'},   {216, 12},
    {220, 19},  {223, 18},   {224, 'A'},  {228, 13},   {229, 14},   {230, 15},    {231, 'C'},
    {246, 16},  {247, '*'},  {248, 17},   {252, 20},   {254, 'D'},  {255, 'Y'},   {256, '?'},
    {0x20AC, '?'}, {0xFFFF, '?'}, {0xD83D, '?'},
};

TEST(TinyFont, FoldTable)
{
    for (const FoldCase &c : FOLD_CASES)
        EXPECT_EQ(tiny_map_unit(c.unit), c.glyph) << "unit " << c.unit;
    for (uint32_t unit = 0; unit < 0x10000; unit++) {
        int glyph = tiny_map_unit(unit);
        ASSERT_GE(glyph, 0);
        ASSERT_LT(glyph, TINY_GLYPHS);
    }
}

TEST(TinyText, TwoLettersTransparent)
{
    GuardedFrame f;
    std::u16string text = u"AB";
    EXPECT_EQ(frame_text_tiny(f.frame(), TXT_TINY, 10, 3, units(text)), 10);
    expect_glyph_at(f, 'A', 10, 3, 0);
    expect_glyph_at(f, 'B', 15, 3, 0);
    for (int row = 3; row < 8; row++) {
        EXPECT_EQ(f.at(14, row), UNTOUCHED);
        EXPECT_EQ(f.at(19, row), UNTOUCHED);
        EXPECT_EQ(f.at(9, row), UNTOUCHED);
        EXPECT_EQ(f.at(20, row), UNTOUCHED);
    }
    EXPECT_EQ(f.at(10, 2), UNTOUCHED);
    EXPECT_EQ(f.at(10, 8), UNTOUCHED);
}

TEST(TinyText, RightAlignedAtTheLastColumn)
{
    GuardedFrame f;
    std::u16string text = u"AB";
    EXPECT_EQ(frame_text_tiny(f.frame(), TXT_TINY | TXT_RIGHT | TXT_OPAQUE, 159, 0, units(text)), 10);
    expect_glyph_at(f, 'A', 150, 0, TXT_OPAQUE);
    expect_glyph_at(f, 'B', 155, 0, TXT_OPAQUE);
    EXPECT_EQ(f.at(159, 0), 0); // B's spacing column is the last one
    EXPECT_EQ(f.at(149, 0), UNTOUCHED);
    EXPECT_EQ(f.at(0, 1), UNTOUCHED); // nothing spills onto the next row
}

TEST(TinyText, Centred)
{
    GuardedFrame f;
    std::u16string text = u"AB"; // width 10: x - 4
    frame_text_tiny(f.frame(), TXT_TINY | TXT_CENTER, 80, 0, units(text));
    expect_glyph_at(f, 'A', 76, 0, 0);
    // TXT_RIGHT wins over TXT_CENTER
    GuardedFrame g;
    frame_text_tiny(g.frame(), TXT_TINY | TXT_CENTER | TXT_RIGHT, 80, 0, units(text));
    expect_glyph_at(g, 'A', 71, 0, 0);
}

TEST(TinyText, AlignmentArithmetic)
{
    EXPECT_EQ(text_align_x(0, 7, 10), 7);
    EXPECT_EQ(text_align_x(TXT_RIGHT, 159, 10), 150);
    EXPECT_EQ(text_align_x(TXT_CENTER, 80, 10), 76);
    EXPECT_EQ(text_align_x(TXT_CENTER, 80, 9), 76);
    EXPECT_EQ(text_align_x(TXT_CENTER, 80, 0), 80); // (0 - 1) / 2 truncates to 0
    EXPECT_EQ(text_align_x(TXT_RIGHT, INT_MIN, INT_MAX), INT_MIN);
    EXPECT_EQ(text_align_x(TXT_CENTER, INT_MIN, INT_MAX), INT_MIN);
}

TEST(TinyText, InvertedOpaqueBand)
{
    GuardedFrame f;
    std::u16string text = u"Hi 7";
    const int flags = TXT_TINY | TXT_OPAQUE | TXT_INVERT;
    int width = frame_text_tiny(f.frame(), flags, 3, 30, units(text));
    EXPECT_EQ(width, 5 + 2 + 1 + 4);
    int x = 3;
    for (char16_t c : text) {
        expect_glyph_at(f, c, x, 30, flags);
        x += tiny_font[c][0];
    }
    for (int row = 30; row < 35; row++) {
        EXPECT_EQ(f.at(2, row), UNTOUCHED);
        EXPECT_EQ(f.at(3 + width, row), UNTOUCHED);
        EXPECT_EQ(f.at(3 + width - 1, row), 255); // spacing column: lit band
    }
    EXPECT_EQ(f.changed_pixels(), width * 5);
}

TEST(TinyText, LatinOneAndBeyond)
{
    struct Case {
        std::u16string text;
        std::vector<int> glyphs;
    } cases[] = {
        {u"\u00B0C", {4, 'C'}},
        {u"\u00E4", {13}},
        {u"\u00E0", {'A'}},
        {u"\u0101", {'?'}},
        {u"\u20AC5", {'?', '5'}},
        {u"a\nb", {'a', 10, 'b'}}, // a line feed is no line break here: it is the AE glyph
    };
    for (const Case &c : cases) {
        GuardedFrame f;
        int width = frame_text_tiny(f.frame(), TXT_TINY | TXT_OPAQUE, 0, 10, units(c.text));
        int x = 0;
        for (int g : c.glyphs) {
            expect_glyph_at(f, g, x, 10, TXT_OPAQUE);
            x += tiny_font[g][0];
        }
        EXPECT_EQ(width, x);
        EXPECT_EQ(tiny_text_width(units(c.text)), x);
    }
}

TEST(TinyText, MeasureOnlyLeavesTheFrame)
{
    GuardedFrame f;
    std::u16string text = u"12:45";
    EXPECT_EQ(frame_text_tiny(f.frame(), TXT_TINY | TXT_MEASURE | TXT_OPAQUE, 0, 0, units(text)),
              4 + 4 + 2 + 4 + 4);
    EXPECT_EQ(f.changed_pixels(), 0);
}

TEST(TinyText, NullAndEmptyText)
{
    GuardedFrame f;
    std::u16string empty;
    EXPECT_EQ(frame_text_tiny(f.frame(), TXT_TINY | TXT_OPAQUE, 0, 0, nullptr), 0);
    EXPECT_EQ(frame_text_tiny(f.frame(), TXT_TINY | TXT_OPAQUE, 0, 0, units(empty)), 0);
    EXPECT_EQ(tiny_text_width(nullptr), 0);
    EXPECT_EQ(f.changed_pixels(), 0);
}

TEST(TinyText, FarOffPlacementsNeverWriteOutsideTheFrame)
{
    std::u16string text = u"\u007F\u007F\u007FMW";
    for (const Placement &p : FAR_OFF) {
        for (int flags : {TXT_TINY | TXT_OPAQUE, TXT_TINY | TXT_RIGHT, TXT_TINY | TXT_CENTER | TXT_OPAQUE}) {
            GuardedFrame f;
            frame_text_tiny(f.frame(), flags, p.x, p.y, units(text));
            EXPECT_TRUE(f.guards_intact()) << p.x << "," << p.y;
            if (far_off(p)) {
                EXPECT_EQ(f.changed_pixels(), 0) << p.x << "," << p.y;
            }
        }
    }
}

TEST(TinyText, NoClippingAtTheRightEdge)
{
    GuardedFrame f;
    std::u16string text = u"AB";
    frame_text_tiny(f.frame(), TXT_TINY, 157, 0, units(text));
    // 'A' spans columns 157..161: its last two columns land at 0..1 of the next row
    EXPECT_EQ(f.at(157, 1), 255); // A row 1 = 10010: leftmost lit
    EXPECT_EQ(f.at(0, 2), 255);   // A row 1, column 3 -> next row, column 0
}

} // namespace
