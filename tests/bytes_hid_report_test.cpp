// The G13/G15 HID reports: the 992-byte display report, the five input
// report forms and the keystrokes derived from them.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <vector>

#include "frame.h"
#include "hid_report.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes report_of(const uint8_t *frame)
{
    Bytes report(HID_OUTPUT_REPORT_BYTES, 0xEE);
    hid_build_output_report(frame, report.data());
    return report;
}

// Byte 32 + 160 * (y / 8) + x, bit y % 8, worked out by hand.
TEST(HidOutputReport, SinglePixelsAndALitFrame)
{
    const struct {
        int x, y, byte, value;
    } cases[] = {
        {0, 0, 32, 0x01}, {159, 0, 191, 0x01}, {0, 42, 832, 0x04}, {159, 42, 991, 0x04},
        {0, 7, 32, 0x80}, {0, 8, 192, 0x01},   {77, 42, 909, 0x04},
    };
    Bytes expected(HID_OUTPUT_REPORT_BYTES, 0);
    expected[0] = 3;
    EXPECT_EQ(report_of(nullptr), expected) << "null frame: dark";
    for (const auto &c : cases) {
        Bytes frame(LCD_FRAME_BYTES, 0), with_pixel = expected;
        frame[c.y * LCD_WIDTH + c.x] = 255;
        with_pixel[c.byte] = (uint8_t)c.value;
        EXPECT_EQ(report_of(frame.data()), with_pixel) << "pixel " << c.x << "," << c.y;
    }
    // every pixel lit: the header stays clear, the last band has rows 40 to 42 only
    std::fill(expected.begin() + 32, expected.end(), 0xFF);
    std::fill(expected.begin() + 832, expected.end(), 0x07);
    EXPECT_EQ(report_of(Bytes(LCD_FRAME_BYTES, 255).data()), expected);
}

// The five input report forms as written in the device documentation, the
// oracle for the decoder: for each byte from byte 1 on, the KeyState entry of
// bits 0 to 7 (_: none). Bytes 1 and 2 of the 8-byte form are the raw axes.
const int _ = -1;
struct Form {
    int length, id;
    std::vector<std::array<int, 8>> bytes;
};
const Form FORMS[] = {
    {4, 2, {{0, 1, 2, 3, 4, 5, 6, 7}, {8, 9, 10, 11, 22, 23, 24, 25}, {31, _, _, _, _, _, _, _}}},
    {5, 2, {{0, 1, 2, 3, 4, 5, 22, 23}, {31, 27, 28, 29, 30, 24, 25, 26}}},
    {5, 3, {{0, 1, 2, 3, 4, 5, 6, 7}, {8, 9, 10, 11, 12, 13, 14, 15}, {16, 17, _, 31, 22, 23, 24, 25},
            {26, 27, 28, 29, 30, _, _, _}}},
    {8, 1, {{_, _, _, _, _, _, _, _}, {_, _, _, _, _, _, _, _}, {0, 1, 2, 3, 4, 5, 6, 7},
            {8, 9, 10, 11, 12, 13, 14, 15}, {16, 17, 18, 19, 20, 21, _, 31}, {26, 27, 28, 29, 30, 22, 23, 24},
            {25, 32, 33, 34, _, _, _, _}}},
    {9, 2, {{0, _, 12, _, _, _, _, 31},  // the keys run diagonally over the bytes
            {6, 1, _, 13, _, _, _, 27},
            {_, 7, 2, _, 14, _, _, 28},
            {_, _, 8, 3, _, 15, _, 29},
            {_, _, _, 9, 4, _, 16, 30},
            {22, _, _, _, 10, 5, _, _},
            {_, 23, _, _, _, 11, 25, _},
            {_, _, 24, _, _, _, 17, 26}}},
};

KeyState expected_state(const Bytes &report)
{
    KeyState state = {};
    for (const Form &form : FORMS)
        if ((int)report.size() == form.length && report[0] == form.id)
            for (size_t byte = 1; byte <= form.bytes.size(); byte++)
                for (int bit = 0; bit < 8; bit++)
                    if (form.bytes[byte - 1][bit] != _ && ((report[byte] >> bit) & 1))
                        state.entry[form.bytes[byte - 1][bit]] = 255;
    if (report.size() == 8 && report[0] == 1) {
        state.entry[KEY_AXIS_X] = report[1];
        state.entry[KEY_AXIS_Y] = report[2];
    }
    return state;
}

// Decodes from a heap copy of exactly the report's length, so that ASan sees
// any read past it.
KeyState parse(const Bytes &report)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[report.size()]);
    std::copy(report.begin(), report.end(), exact.get());
    KeyState state;
    memset(&state, 0x77, sizeof state);
    hid_parse_report(exact.get(), (int)report.size(), &state);
    return state;
}

KeyState state_with(std::initializer_list<int> pressed)
{
    KeyState state = {};
    for (int k : pressed)
        state.entry[k] = 255;
    return state;
}

TEST(HidKeys, KeystrokesSoftButtonsAndLogText)
{
    // in increasing index, presses 8 and releases 10; soft buttons, the
    // unforwarded 26 and 31 and the axes give none
    KeyState before = state_with({1, 25, 26, 33}), after = state_with({0, 25, 27, 29, 31, 34});
    after.entry[KEY_AXIS_X] = 0x90;
    HidKeyEvent events[KEY_STATE_ENTRIES];
    ASSERT_EQ(hid_key_events(&before, &after, events), 4);
    const unsigned expected[4][2] = {{0xE020, 8}, {0xE0AE, 10}, {0xE0BE, 10}, {0xE040, 8}};
    for (int i = 0; i < 4; i++)
        EXPECT_TRUE(events[i].scan_code == expected[i][0] && events[i].flags == expected[i][1]) << i;
    EXPECT_EQ(hid_soft_buttons(&after), 5u);

    char text[] = "a\tb\r\n\x1f" "c \x7f\xc3\xa9";
    hid_log_clean(text);
    EXPECT_STREQ(text, "a b   c \x7f\xc3\xa9");
}

// Random reports of every length 0..64, read from buffers of exactly that
// size: the decoder stays within them and agrees with the documented forms.
TEST(HidParseReport, RandomReportsOfEveryLength)
{
    std::mt19937 random(20240601u);
    for (int length = 0; length <= 64; length++) {
        for (int round = 0; round < 3000; round++) {
            Bytes report(length);
            for (uint8_t &b : report)
                b = (uint8_t)random();
            if (length > 0 && (round & 1))
                report[0] = (uint8_t)(random() % 5); // hit the known ids often
            KeyState state = parse(report), expected = expected_state(report);
            ASSERT_EQ(memcmp(&expected, &state, sizeof state), 0) << "length " << length << " round " << round;
        }
    }
    const KeyState released = {};
    for (int length : {5, -5}) { // a null report or a negative length
        KeyState state = state_with({0, 27, 34});
        hid_parse_report(length < 0 ? Bytes(5, 3).data() : nullptr, length, &state);
        EXPECT_EQ(memcmp(&state, &released, sizeof state), 0) << length;
    }
}

} // namespace
