// The 160 x 43 frame and everything that draws into it byte by byte.
// No Windows header here: this builds natively too (sanitizer tests).
#pragma once
#include <stdint.h>

enum {
    LCD_WIDTH = 160,
    LCD_HEIGHT = 43,
    LCD_FRAME_BYTES = LCD_WIDTH * LCD_HEIGHT, // 6880
};

// lcd_bitmap flags
enum {
    BMP_NEGATE = 1,
    BMP_NEGATE_OUT = 2,
    BMP_TRANSPARENT = 4,
};

// text flags (lcd_text, lcd_text_utf8, lcd_text_wide)
enum {
    TXT_LARGE = 1,
    TXT_INVERT = 2,
    TXT_OPAQUE = 4,
    TXT_MEASURE = 16,
    TXT_TINY = 32,
    TXT_RIGHT = 64,
    TXT_CENTER = 128,
};

// Sets one pixel; pixels off the frame (a column outside 0..159 or a row
// outside 0..42) are dropped, never wrapped onto another row.
static inline void frame_put(uint8_t *frame, int x, int y, uint8_t value)
{
    if ((unsigned)x < LCD_WIDTH && (unsigned)y < LCD_HEIGHT)
        frame[y * LCD_WIDTH + x] = value;
}

// Draws a picture given as width x height characters, rows top first, no
// separators: a character is lit when, read as a signed byte, it is above 32
// and not '_'. Clipped to the frame on all four edges. flags: BMP_*. A null
// pixels draws nothing. Returns 0.
int frame_bitmap(uint8_t *frame, int flags, int x, int y, int width, int height,
                 const char *pixels);

// The tiny font: 128 glyphs of TINY_GLYPH_BYTES bytes each, the advance width
// (1..8, spacing column included) and then one byte per row, top row first,
// bit 0 being the rightmost column of the cell.
enum {
    TINY_GLYPHS = 128,
    TINY_HEIGHT = 5,
    TINY_GLYPH_BYTES = 1 + TINY_HEIGHT,
};
extern const uint8_t tiny_font[TINY_GLYPHS][TINY_GLYPH_BYTES];

// Glyph code (0..127) for a UTF-16 code unit: 128..255 fold to a glyph below
// 128, and so do the characters code page 1252 puts at 128..159 (the euro
// sign, curly quotes, dashes, Š and the like); anything else is drawn as '?'.
int tiny_map_unit(uint32_t unit);

// Width in pixels of a zero-terminated UTF-16 text in the tiny font; 0 for
// null.
int tiny_text_width(const uint16_t *text);

// Draws a zero-terminated UTF-16 text in the tiny font with its top-left
// corner at (x, y), without alignment. TXT_INVERT and TXT_OPAQUE apply as in
// lcd_text; other flags are ignored.
void tiny_text_draw(uint8_t *frame, int flags, int x, int y, const uint16_t *text);

// Left column of a text of the given width drawn at x with TXT_RIGHT (x is
// its rightmost column) or TXT_CENTER (x is its centre column).
int text_align_x(int flags, int x, int width);

// The whole tiny-font text call: measure, and unless TXT_MEASURE is set align
// and draw. Returns the width in pixels, 0 for a null or empty text.
int frame_text_tiny(uint8_t *frame, int flags, int x, int y, const uint16_t *text);
