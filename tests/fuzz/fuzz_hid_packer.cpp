// The display report packer: the frame is the input's bytes, one a pixel
// (nonzero lit), repeated over the 160 x 43 pixels.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "frame.h"
#include "fuzz_check.h"
#include "hid_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    uint8_t *frame = (uint8_t *)malloc(LCD_FRAME_BYTES); // exact: ASan sees any read past it
    for (size_t at = 0; at < LCD_FRAME_BYTES; at += size)
        memcpy(frame + at, data, size < LCD_FRAME_BYTES - at ? size : LCD_FRAME_BYTES - at);
    static uint8_t report[HID_OUTPUT_REPORT_BYTES];
    hid_build_output_report(frame, report);
    FUZZ_CHECK(report[0] == HID_OUTPUT_REPORT_ID);
    for (int i = 1; i < HID_OUTPUT_HEADER_BYTES; i++)
        FUZZ_CHECK(report[i] == 0);
    for (int y = 0; y < 48; y++) // six bands of eight rows; rows 43..47 stay dark
        for (int x = 0; x < LCD_WIDTH; x++) {
            const bool bit = report[HID_OUTPUT_HEADER_BYTES + y / 8 * LCD_WIDTH + x] >> (y % 8) & 1;
            FUZZ_CHECK(bit == (y < LCD_HEIGHT && frame[y * LCD_WIDTH + x] != 0));
        }
    free(frame);
    return 0;
}
