// Golden pictures: what the display must show, kept in tests/golden/ as
// plain PBM files (P1, one display row per text line, 1 = lit, which the
// keyboard shows dark) that any image viewer opens.
//
//   EXPECT_GOLDEN("cpu_meter", frame);                  the whole 160 x 43 frame
//   EXPECT_GOLDEN_AREA("clk_page", frame, x, y, w, h);  a rectangle of it
//
// On a mismatch the picture drawn is written next to the golden one as
// <name>.actual.pbm and the failure shows where the two differ. With
// PIXWICK_UPDATE_GOLDEN=1 in the environment the golden files are written
// from what the tests draw instead (a deliberate change of a picture).
// No Windows header: the native tests use it too.
#pragma once
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>

#include "frame.h"

namespace golden {

// Width, height and the rows as '0'/'1' text.
struct Picture {
    int width = 0, height = 0;
    std::string bits;
    bool at(int x, int y) const { return bits[(size_t)(y * width + x)] == '1'; }
};

inline Picture cut(const uint8_t *frame, int x, int y, int width, int height)
{
    Picture p{width, height, ""};
    for (int r = y; r < y + height; r++)
        for (int c = x; c < x + width; c++)
            p.bits += c >= 0 && c < LCD_WIDTH && r >= 0 && r < LCD_HEIGHT && frame[r * LCD_WIDTH + c] ? '1' : '0';
    return p;
}

inline bool write_pbm(const std::string &path, const Picture &p)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    fprintf(file, "P1\n%d %d\n", p.width, p.height);
    for (int y = 0; y < p.height; y++)
        fprintf(file, "%s\n", p.bits.substr((size_t)(y * p.width), (size_t)p.width).c_str());
    return fclose(file) == 0;
}

// Reads the P1 files write_pbm writes (and digits separated by blanks).
inline bool read_pbm(const std::string &path, Picture *p)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    bool ok = fscanf(file, "P1 %d %d", &p->width, &p->height) == 2 && p->width > 0 && p->height > 0;
    for (int c; ok && (c = fgetc(file)) != EOF;)
        if (c == '0' || c == '1')
            p->bits += (char)c;
    fclose(file);
    return ok && p->bits.size() == (size_t)(p->width * p->height);
}

// Count and bounding box of the differences, and a drawing of that box:
// '#' lit in both, '+' lit only in the drawn one, '-' only in the golden one.
inline std::string difference(const Picture &want, const Picture &got)
{
    int count = 0, x0 = got.width, y0 = got.height, x1 = -1, y1 = -1;
    for (int y = 0; y < got.height; y++)
        for (int x = 0; x < got.width; x++)
            if (want.at(x, y) != got.at(x, y))
                count++, x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    std::string text = std::to_string(count) + " pixels differ in columns " + std::to_string(x0) + ".." +
                       std::to_string(x1) + ", rows " + std::to_string(y0) + ".." + std::to_string(y1) + ":\n";
    for (int y = y0; y <= y1; y++, text += '\n')
        for (int x = x0; x <= x1; x++)
            text += want.at(x, y) && got.at(x, y) ? '#' : got.at(x, y) ? '+' : want.at(x, y) ? '-' : '.';
    return text;
}

inline ::testing::AssertionResult matches(const char *name, const uint8_t *frame, int x, int y, int width,
                                          int height)
{
    const Picture got = cut(frame, x, y, width, height);
    const std::string path = std::string(PIXWICK_GOLDEN_DIR) + "/" + name, golden_path = path + ".pbm",
                      actual_path = path + ".actual.pbm";
    const char *update = getenv("PIXWICK_UPDATE_GOLDEN");
    remove(actual_path.c_str());
    if (update && update[0] == '1')
        return write_pbm(golden_path, got) ? ::testing::AssertionSuccess()
                                           : ::testing::AssertionFailure() << "cannot write " << golden_path;
    Picture want;
    if (read_pbm(golden_path, &want) && want.width == width && want.height == height && want.bits == got.bits)
        return ::testing::AssertionSuccess();
    write_pbm(actual_path, got);
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    if (want.width != width || want.height != height)
        failure << golden_path << " is missing or not " << width << " x " << height << "; ";
    else
        failure << name << ": " << difference(want, got);
    return failure << "drawn: " << actual_path << " (PIXWICK_UPDATE_GOLDEN=1 makes it the golden one)";
}

} // namespace golden

#define EXPECT_GOLDEN(name, frame) EXPECT_TRUE(::golden::matches(name, frame, 0, 0, LCD_WIDTH, LCD_HEIGHT))
#define EXPECT_GOLDEN_AREA(name, frame, x, y, width, height)                                               \
    EXPECT_TRUE(::golden::matches(name, frame, x, y, width, height))
