// The G13/G15 HID reports: the 992-byte display report, the five input
// report forms and the keystrokes derived from them.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
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

// "bit n of byte m -> entry k" for each form, written out from the device
// documentation: the oracle for the decoder.
struct BitRule {
    int byte, bit, entry;
};
struct Form {
    int length, id;
    std::vector<BitRule> rules;
};

// Bits first..last of a byte onto consecutive entries.
std::vector<BitRule> bits(int byte, int first, int last, int entry)
{
    std::vector<BitRule> out;
    for (int bit = first; bit <= last; bit++)
        out.push_back({byte, bit, entry + bit - first});
    return out;
}

std::vector<BitRule> join(std::initializer_list<std::vector<BitRule>> parts)
{
    std::vector<BitRule> out;
    for (const auto &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

const std::vector<Form> FORMS = {
    {4, 2, join({bits(1, 0, 7, 0), bits(2, 0, 3, 8), bits(2, 4, 7, 22), {{3, 0, 31}}})},
    {5, 2, join({bits(1, 0, 5, 0), bits(1, 6, 7, 22), bits(2, 5, 7, 24), bits(2, 1, 4, 27), {{2, 0, 31}}})},
    {5, 3, join({bits(1, 0, 7, 0), bits(2, 0, 7, 8), bits(3, 0, 1, 16), bits(3, 4, 7, 22), {{3, 3, 31}},
                 bits(4, 0, 4, 26)})},
    {8, 1, join({bits(3, 0, 7, 0), bits(4, 0, 7, 8), bits(5, 0, 5, 16), {{5, 7, 31}}, bits(6, 0, 4, 26),
                 bits(6, 5, 7, 22), {{7, 0, 25}}, bits(7, 1, 3, 32)})},
    {9, 2, {{1, 0, 0},  {2, 1, 1},  {3, 2, 2},  {4, 3, 3},  {5, 4, 4},  {6, 5, 5},  {2, 0, 6},
            {3, 1, 7},  {4, 2, 8},  {5, 3, 9},  {6, 4, 10}, {7, 5, 11}, {1, 2, 12}, {2, 3, 13},
            {3, 4, 14}, {4, 5, 15}, {5, 6, 16}, {8, 6, 17}, {6, 0, 22}, {7, 1, 23}, {8, 2, 24},
            {7, 6, 25}, {8, 7, 26}, {2, 7, 27}, {3, 7, 28}, {4, 7, 29}, {5, 7, 30}, {1, 7, 31}}},
};

KeyState expected_state(const Bytes &report)
{
    KeyState state = {};
    for (const Form &form : FORMS)
        if ((int)report.size() == form.length && report[0] == form.id)
            for (const BitRule &rule : form.rules)
                if ((report[rule.byte] >> rule.bit) & 1)
                    state.entry[rule.entry] = 255;
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

typedef std::vector<std::pair<unsigned, unsigned>> Events;

Events events_between(const KeyState &before, const KeyState &after)
{
    HidKeyEvent events[KEY_STATE_ENTRIES];
    Events out;
    for (int i = 0, n = hid_key_events(&before, &after, events); i < n; i++)
        out.push_back({events[i].scan_code, events[i].flags});
    return out;
}

TEST(HidKeys, KeystrokesSoftButtonsAndLogText)
{
    // in increasing index, presses 8 and releases 10; soft buttons, the
    // unforwarded 26 and 31 and the axes give none
    EXPECT_EQ(events_between(state_with({1, 25, 33}), state_with({0, 25, 34, 27})),
              (Events{{0xE020, 8}, {0xE0AE, 10}, {0xE0BE, 10}, {0xE040, 8}}));
    KeyState axes = parse({1, 0x10, 0x20, 0, 0, 0, 0, 0});
    EXPECT_TRUE(events_between(axes, parse({1, 0x90, 0, 0, 0, 0x80, 0x1F, 0})).empty());

    KeyState state = state_with({27, 29, 26, 31, 0, 34});
    EXPECT_EQ(hid_soft_buttons(&state), 5u);

    char text[] = "a\tb\r\n\x1f" "c \x7f\xc3\xa9";
    hid_log_clean(text);
    EXPECT_STREQ(text, "a b   c \x7f\xc3\xa9");
}

// Random reports of every length 0..64, read from buffers of exactly that
// size: the decoder stays within them and agrees with the documented rules,
// and the keystrokes derived from its states are well formed.
TEST(HidParseReport, RandomReportsOfEveryLength)
{
    std::mt19937 random(20240601u);
    KeyState previous = {};
    for (int length = 0; length <= 64; length++) {
        for (int round = 0; round < 3000; round++) {
            Bytes report(length);
            for (uint8_t &b : report)
                b = (uint8_t)random();
            if (length > 0 && (round & 1))
                report[0] = (uint8_t)(random() % 5); // hit the known ids often
            KeyState state = parse(report), expected = expected_state(report);
            ASSERT_EQ(memcmp(&expected, &state, sizeof state), 0) << "length " << length << " round " << round;
            ASSERT_LE(hid_soft_buttons(&state), 15u);
            HidKeyEvent events[KEY_STATE_ENTRIES];
            int n = hid_key_events(&previous, &state, events);
            ASSERT_TRUE(n >= 0 && n <= 29); // 0..25 and 32..34
            for (int i = 0; i < n; i++) {
                ASSERT_EQ(events[i].scan_code & 0xFF00, 0xE000);
                ASSERT_EQ(events[i].flags, (events[i].scan_code & 0x80) ? 10 : 8);
            }
            previous = state;
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
