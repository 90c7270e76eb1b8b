// Whatever text reaches the screen: UTF-16 text in the tiny font and a
// picture, both at any position, and the number texts of the panels. Bytes
// 0..7 are x and y (or the numbers), byte 8 the flags, byte 9 the picture's
// width; the rest is the text (up to a zero unit) and the picture's pixels.
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "format.h"
#include "frame.h"
#include "fuzz_check.h"

namespace {

int32_t i32_at(const uint8_t *p) { return (int32_t)(p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24); }

void check_inked(const uint8_t *frame)
{
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        FUZZ_CHECK(frame[i] == 0 || frame[i] == 255);
}

// Only pixels inside the text's box change.
void check_text(uint8_t *frame, int flags, int x, int y, const uint16_t *text, size_t units)
{
    std::vector<uint8_t> before(frame, frame + LCD_FRAME_BYTES);
    const int width = frame_text_tiny(frame, flags, x, y, text);
    FUZZ_CHECK(width == tiny_text_width(text));
    FUZZ_CHECK(width >= (int)units && (int64_t)width <= 8 * (int64_t)units);
    const int64_t left = text_align_x(flags, x, width);
    for (int64_t row = 0; row < LCD_HEIGHT; row++)
        for (int64_t col = 0; col < LCD_WIDTH; col++) {
            const bool inside = !(flags & TXT_MEASURE) && col >= left && col < left + width && row >= y &&
                                row < (int64_t)y + TINY_HEIGHT;
            FUZZ_CHECK(inside || frame[row * LCD_WIDTH + col] == before[row * LCD_WIDTH + col]);
        }
    check_inked(frame);
}

void check_numbers(const uint8_t *data)
{
    const uint32_t high = (uint32_t)i32_at(data), low = (uint32_t)i32_at(data + 4);
    char size[FORMAT_SIZE_BYTES], load[FORMAT_LOAD_BYTES], text[64];
    const size_t n = strlen(format_size(high, low, size));
    FUZZ_CHECK(n >= 2 && n < FORMAT_SIZE_BYTES && strchr("KMGTPE", size[n - 1]) && size[0] >= '0' && size[0] <= '9');
    FUZZ_CHECK(strlen(format_load((int)high, load)) < FORMAT_LOAD_BYTES);
    const size_t room = 1 + data[8] % sizeof text;
    FUZZ_CHECK(strlen(format_uptime((uint64_t)high << 32 | low, text, room)) < room);
    const uint32_t usage = cpu_usage_hundredths((uint64_t)low << 32 | high, high, (int8_t)data[9]);
    FUZZ_CHECK(strlen(format_cpu_usage(usage, text, room)) < room);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 10)
        return 0;
    check_numbers(data);
    const int x = i32_at(data), y = i32_at(data + 4), flags = data[8];
    const uint8_t *rest = data + 10;
    const size_t rest_size = size - 10;

    std::vector<uint16_t> text;
    for (size_t at = 0; at + 1 < rest_size && (rest[at] | rest[at + 1]); at += 2)
        text.push_back((uint16_t)(rest[at] | rest[at + 1] << 8));
    const size_t units = text.size();
    text.push_back(0);
    uint8_t *frame = (uint8_t *)calloc(1, LCD_FRAME_BYTES); // exact: ASan sees any write past it
    check_text(frame, flags, x, y, text.data(), units);

    const int width = 1 + data[9] % 64;
    frame_bitmap(frame, flags & 7, x, y, width, (int)(rest_size / (size_t)width), (const char *)rest);
    check_inked(frame);
    free(frame);
    return 0;
}
