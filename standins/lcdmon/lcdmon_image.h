// Pictures of one 160 x 43 frame (one byte per pixel, nonzero lit): PNG and
// PBM files, and the text mirror for a terminal. No Windows header.
#pragma once
#include <stddef.h>
#include <stdint.h>

#define LCDMON_IMAGE_WIDTH 160
#define LCDMON_IMAGE_HEIGHT 43

// Each writes into out (at most size bytes) and returns the length, or 0
// when it does not fit.
// 8-bit greyscale PNG, lit pixels white, stored (uncompressed) deflate.
size_t lcdmon_png(const uint8_t *frame, uint8_t *out, size_t size);
// Binary PBM (P4), lit pixels black as the format counts 1 as black.
size_t lcdmon_pbm(const uint8_t *frame, uint8_t *out, size_t size);
// 22 lines of 160 cells, UTF-8 half blocks (upper, lower, full, blank), each
// line ending in "\n". No terminal control sequences.
size_t lcdmon_half_blocks(const uint8_t *frame, char *out, size_t size);

#define LCDMON_PNG_MAX 8192
#define LCDMON_PBM_MAX 1024
#define LCDMON_TEXT_MAX (22 * (160 * 3 + 1) + 1)

uint32_t lcdmon_crc32(const uint8_t *data, size_t length, uint32_t crc);
