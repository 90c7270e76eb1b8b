#include "lcdmon_image.h"

#include <string.h>

#define W LCDMON_IMAGE_WIDTH
#define H LCDMON_IMAGE_HEIGHT

uint32_t lcdmon_crc32(const uint8_t *data, size_t length, uint32_t crc)
{
    crc = ~crc;
    for (size_t i = 0; i < length; i++) {
        crc ^= data[i];
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

static void put32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

// Appends one chunk (length, type, data, CRC over type and data).
static size_t put_chunk(uint8_t *out, const char *type, const uint8_t *data, uint32_t length)
{
    put32(out, length);
    memcpy(out + 4, type, 4);
    if (length)
        memcpy(out + 8, data, length);
    put32(out + 8 + length, lcdmon_crc32(out + 4, 4 + length, 0));
    return 12 + length;
}

size_t lcdmon_png(const uint8_t *frame, uint8_t *out, size_t size)
{
    enum { ROW = W + 1, RAW = ROW * H, ZLIB = 2 + 5 + RAW + 4 };
    if (size < 8 + (12 + 13) + (12 + ZLIB) + 12)
        return 0;
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    size_t n = 0;
    memcpy(out, signature, 8);
    n += 8;

    uint8_t header[13];
    put32(header, W);
    put32(header + 4, H);
    header[8] = 8;  // bit depth
    header[9] = 0;  // greyscale
    header[10] = 0; // deflate
    header[11] = 0; // adaptive filtering
    header[12] = 0; // no interlace
    n += put_chunk(out + n, "IHDR", header, sizeof header);

    uint8_t zlib[ZLIB];
    zlib[0] = 0x78; // deflate, 32K window
    zlib[1] = 0x01; // check bits: 0x7801 is a multiple of 31
    zlib[2] = 0x01; // final block, stored
    zlib[3] = (uint8_t)(RAW & 0xFF);
    zlib[4] = (uint8_t)(RAW >> 8);
    zlib[5] = (uint8_t)~zlib[3];
    zlib[6] = (uint8_t)~zlib[4];
    uint8_t *raw = zlib + 7;
    for (int y = 0; y < H; y++) {
        raw[y * ROW] = 0; // filter: none
        for (int x = 0; x < W; x++)
            raw[y * ROW + 1 + x] = frame[y * W + x] ? 255 : 0;
    }
    uint32_t a = 1, b = 0;
    for (int i = 0; i < RAW; i++) {
        a = (a + raw[i]) % 65521;
        b = (b + a) % 65521;
    }
    put32(zlib + 7 + RAW, (b << 16) | a);
    n += put_chunk(out + n, "IDAT", zlib, ZLIB);
    n += put_chunk(out + n, "IEND", 0, 0);
    return n;
}

size_t lcdmon_pbm(const uint8_t *frame, uint8_t *out, size_t size)
{
    static const char header[] = "P4\n160 43\n";
    const size_t header_length = sizeof header - 1;
    const size_t row_bytes = W / 8;
    if (size < header_length + row_bytes * H)
        return 0;
    memcpy(out, header, header_length);
    uint8_t *bits = out + header_length;
    memset(bits, 0, row_bytes * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            if (frame[y * W + x])
                bits[y * row_bytes + x / 8] |= (uint8_t)(0x80 >> (x % 8));
    return header_length + row_bytes * H;
}

size_t lcdmon_half_blocks(const uint8_t *frame, char *out, size_t size)
{
    static const char *const cells[4] = {" ", "\xE2\x96\x80", "\xE2\x96\x84", "\xE2\x96\x88"};
    size_t n = 0;
    for (int row = 0; row < H; row += 2) {
        for (int x = 0; x < W; x++) {
            int top = frame[row * W + x] != 0;
            int bottom = row + 1 < H && frame[(row + 1) * W + x] != 0;
            const char *cell = cells[top | bottom << 1];
            size_t length = strlen(cell);
            if (n + length + 2 > size)
                return 0;
            memcpy(out + n, cell, length);
            n += length;
        }
        out[n++] = '\n';
    }
    out[n] = 0;
    return n;
}
