// Byte-level drawing into the frame: the picture primitive and tiny-font text.
// Every pixel is clipped to the 160 x 43 frame by its column and its row, in
// 64 bits: nothing past an edge wraps onto another row, and far-off
// coordinates never reach the frame.
#include "frame.h"

#include <limits.h>

static int pixel_is_lit(char c)
{
    return (signed char)c > 32 && c != '_';
}

static int in_frame(int64_t x, int64_t y)
{
    return (uint64_t)x < LCD_WIDTH && (uint64_t)y < LCD_HEIGHT;
}

int frame_bitmap(uint8_t *frame, int flags, int x, int y, int width, int height,
                 const char *pixels)
{
    if (!frame || !pixels || width <= 0 || height <= 0)
        return 0;
    for (int row = 0; row < height; row++) {
        for (int col = 0; col < width; col++, pixels++) {
            const int64_t px = (int64_t)x + col, py = (int64_t)y + row;
            if (!in_frame(px, py))
                continue;
            uint8_t v = pixel_is_lit(*pixels) ? 255 : 0;
            if (flags & BMP_NEGATE)
                v = (uint8_t)~v;
            if (v == 0 && (flags & BMP_TRANSPARENT))
                continue;
            if (flags & BMP_NEGATE_OUT)
                v = (uint8_t)~v;
            frame[py * LCD_WIDTH + px] = v;
        }
    }
    return 0;
}

int tiny_text_width(const uint16_t *text)
{
    if (!text)
        return 0;
    int64_t width = 0;
    for (; *text; text++) {
        width += tiny_font[tiny_map_unit(*text)][0];
        if (width > INT_MAX)
            return INT_MAX;
    }
    return (int)width;
}

static void tiny_glyph_draw(uint8_t *frame, int flags, int64_t x, int64_t y,
                            const uint8_t *glyph)
{
    const int w = glyph[0];
    const uint8_t ink = (flags & TXT_INVERT) ? 0 : 255;
    const int opaque = (flags & TXT_OPAQUE) != 0;
    for (int r = 0; r < TINY_HEIGHT; r++) {
        unsigned bits = glyph[1 + r];
        for (int col = w - 1; col >= 0; col--, bits >>= 1) {
            if (!in_frame(x + col, y + r))
                continue;
            uint8_t *pixel = &frame[(y + r) * LCD_WIDTH + x + col];
            if (bits & 1)
                *pixel = ink;
            else if (opaque)
                *pixel = (uint8_t)~ink;
        }
    }
}

void tiny_text_draw(uint8_t *frame, int flags, int x, int y, const uint16_t *text)
{
    if (!frame || !text)
        return;
    int64_t cursor = x;
    for (; *text; text++) {
        const uint8_t *glyph = tiny_font[tiny_map_unit(*text)];
        tiny_glyph_draw(frame, flags, cursor, y, glyph);
        cursor += glyph[0];
    }
}

static int clamp_to_int(int64_t v)
{
    if (v < INT_MIN)
        return INT_MIN;
    if (v > INT_MAX)
        return INT_MAX;
    return (int)v;
}

int text_align_x(int flags, int x, int width)
{
    if (flags & TXT_RIGHT)
        return clamp_to_int((int64_t)x - width + 1);
    if (flags & TXT_CENTER)
        return clamp_to_int((int64_t)x - ((int64_t)width - 1) / 2);
    return x;
}

int frame_text_tiny(uint8_t *frame, int flags, int x, int y, const uint16_t *text)
{
    if (!text || !*text)
        return 0;
    int width = tiny_text_width(text);
    if (!(flags & TXT_MEASURE))
        tiny_text_draw(frame, flags, text_align_x(flags, x, width), y, text);
    return width;
}
