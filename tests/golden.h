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

#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "frame.h"

namespace golden {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> lit; // width x height, 1 lit, rows top first
    bool at(int x, int y) const { return lit[(size_t)(y * width + x)] != 0; }
};

inline std::string path_of(const std::string &name, const char *suffix)
{
    return std::string(PIXWICK_GOLDEN_DIR) + "/" + name + suffix;
}

inline Picture cut(const uint8_t *frame, int x, int y, int width, int height)
{
    Picture p;
    p.width = width, p.height = height;
    for (int r = y; r < y + height; r++)
        for (int c = x; c < x + width; c++)
            p.lit.push_back(c >= 0 && c < LCD_WIDTH && r >= 0 && r < LCD_HEIGHT && frame[r * LCD_WIDTH + c] ? 1 : 0);
    return p;
}

inline bool write_pbm(const std::string &path, const Picture &p)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    fprintf(file, "P1\n%d %d\n", p.width, p.height);
    for (int y = 0; y < p.height; y++) {
        for (int x = 0; x < p.width; x++)
            fputc(p.at(x, y) ? '1' : '0', file);
        fputc('\n', file);
    }
    return fclose(file) == 0;
}

// Reads P1 with comments; false for anything else.
inline bool read_pbm(const std::string &path, Picture *p)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    std::string text;
    for (int c; (c = fgetc(file)) != EOF;)
        text += (char)c;
    fclose(file);
    size_t at = 0;
    auto skip_blanks = [&] {
        while (at < text.size() && (isspace((unsigned char)text[at]) || text[at] == '#'))
            if (text[at] == '#')
                at = text.find('\n', at) == std::string::npos ? text.size() : text.find('\n', at);
            else
                at++;
    };
    auto number = [&](int *value) {
        skip_blanks();
        char *end = 0;
        long v = strtol(text.c_str() + at, &end, 10);
        at = (size_t)(end - text.c_str());
        *value = (int)v;
        return v > 0 && v <= 4096;
    };
    if (text.compare(0, 2, "P1") != 0)
        return false;
    at = 2;
    if (!number(&p->width) || !number(&p->height))
        return false;
    p->lit.clear();
    for (; at < text.size() && p->lit.size() < (size_t)(p->width * p->height); at++)
        if (text[at] == '0' || text[at] == '1')
            p->lit.push_back(text[at] == '1');
    return p->lit.size() == (size_t)(p->width * p->height);
}

// Where two pictures of one size differ: count, bounding box and a drawing of
// that box ('#' lit in both, '+' lit only in the drawn one, '-' lit only in
// the golden one).
inline std::string describe_difference(const Picture &want, const Picture &got)
{
    int count = 0, x0 = got.width, y0 = got.height, x1 = -1, y1 = -1;
    for (int y = 0; y < got.height; y++)
        for (int x = 0; x < got.width; x++)
            if (want.at(x, y) != got.at(x, y)) {
                count++;
                x0 = x < x0 ? x : x0, y0 = y < y0 ? y : y0;
                x1 = x > x1 ? x : x1, y1 = y > y1 ? y : y1;
            }
    std::string text = std::to_string(count) + " pixels differ in columns " + std::to_string(x0) + ".." +
                       std::to_string(x1) + ", rows " + std::to_string(y0) + ".." + std::to_string(y1) + ":\n";
    for (int y = y0; y <= y1; y++) {
        for (int x = x0; x <= x1 && x < x0 + 100; x++)
            text += want.at(x, y) && got.at(x, y) ? '#' : got.at(x, y) ? '+' : want.at(x, y) ? '-' : '.';
        text += '\n';
    }
    return text;
}

inline ::testing::AssertionResult matches(const char *name, const uint8_t *frame, int x, int y, int width,
                                          int height)
{
    const Picture got = cut(frame, x, y, width, height);
    const std::string golden_path = path_of(name, ".pbm"), actual_path = path_of(name, ".actual.pbm");
    const char *update = getenv("PIXWICK_UPDATE_GOLDEN");
    if (update && update[0] == '1') {
        remove(actual_path.c_str());
        if (!write_pbm(golden_path, got))
            return ::testing::AssertionFailure() << "cannot write " << golden_path;
        return ::testing::AssertionSuccess();
    }
    Picture want;
    if (!read_pbm(golden_path, &want)) {
        write_pbm(actual_path, got);
        return ::testing::AssertionFailure() << "no golden picture " << golden_path << " (drawn: " << actual_path
                                             << "; PIXWICK_UPDATE_GOLDEN=1 writes it)";
    }
    if (want.width != width || want.height != height) {
        write_pbm(actual_path, got);
        return ::testing::AssertionFailure() << golden_path << " is " << want.width << " x " << want.height
                                             << ", the test compares " << width << " x " << height;
    }
    if (want.lit == got.lit) {
        remove(actual_path.c_str());
        return ::testing::AssertionSuccess();
    }
    write_pbm(actual_path, got);
    return ::testing::AssertionFailure() << name << ": " << describe_difference(want, got) << "drawn: "
                                         << actual_path;
}

} // namespace golden

#define EXPECT_GOLDEN(name, frame) EXPECT_TRUE(::golden::matches(name, frame, 0, 0, LCD_WIDTH, LCD_HEIGHT))
#define EXPECT_GOLDEN_AREA(name, frame, x, y, width, height)                                               \
    EXPECT_TRUE(::golden::matches(name, frame, x, y, width, height))
