// The G13/G15 HID reports: the 992-byte display report, the five input
// report forms, the scan codes and keystrokes derived from them.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <random>
#include <vector>

#include "frame.h"
#include "hid_report.h"

namespace {

// ---- display report ------------------------------------------------------

std::vector<uint8_t> report_of(const std::vector<uint8_t> &frame)
{
    std::vector<uint8_t> report(HID_OUTPUT_REPORT_BYTES, 0xEE);
    hid_build_output_report(frame.data(), report.data());
    return report;
}

std::vector<uint8_t> frame_with_pixel(int x, int y)
{
    std::vector<uint8_t> frame(LCD_FRAME_BYTES, 0);
    frame[y * LCD_WIDTH + x] = 255;
    return frame;
}

TEST(HidOutputReport, DarkFrameIsIdAndZeros)
{
    std::vector<uint8_t> report = report_of(std::vector<uint8_t>(LCD_FRAME_BYTES, 0));
    EXPECT_EQ(report[0], 3);
    for (int i = 1; i < HID_OUTPUT_REPORT_BYTES; i++)
        ASSERT_EQ(report[i], 0) << "byte " << i;
}

TEST(HidOutputReport, NullFrameIsDark)
{
    std::vector<uint8_t> report(HID_OUTPUT_REPORT_BYTES, 0xEE);
    hid_build_output_report(nullptr, report.data());
    EXPECT_EQ(report[0], 3);
    for (int i = 1; i < HID_OUTPUT_REPORT_BYTES; i++)
        ASSERT_EQ(report[i], 0) << "byte " << i;
}

struct PixelCase {
    int x, y;
    int byte;
    uint8_t value;
};

// Worked out by hand: byte 32 + 160 * (y / 8) + x, bit y % 8.
const PixelCase pixel_cases[] = {
    {0, 0, 32, 0x01},    // top-left corner
    {159, 0, 191, 0x01}, // top-right corner
    {0, 42, 832, 0x04},  // bottom-left corner
    {159, 42, 991, 0x04}, // bottom-right corner
    {0, 7, 32, 0x80},    // last row of band 0
    {0, 8, 192, 0x01},   // first row of band 1
    {80, 23, 432, 0x80},
    {5, 40, 837, 0x01},  // the last band: rows 40..42
    {5, 41, 837, 0x02},
    {77, 42, 909, 0x04},
    {1, 42, 833, 0x04},
};

TEST(HidOutputReport, SinglePixels)
{
    for (const PixelCase &c : pixel_cases) {
        std::vector<uint8_t> report = report_of(frame_with_pixel(c.x, c.y));
        SCOPED_TRACE(testing::Message() << "pixel (" << c.x << ", " << c.y << ")");
        EXPECT_EQ(report[0], 3);
        for (int i = 1; i < HID_OUTPUT_REPORT_BYTES; i++)
            ASSERT_EQ(report[i], i == c.byte ? c.value : 0) << "byte " << i;
    }
}

TEST(HidOutputReport, WholeRow42SetsBitTwoOfTheLastBandOnly)
{
    std::vector<uint8_t> frame(LCD_FRAME_BYTES, 0);
    memset(&frame[42 * LCD_WIDTH], 255, LCD_WIDTH);
    std::vector<uint8_t> report = report_of(frame);
    for (int i = 1; i < 832; i++)
        ASSERT_EQ(report[i], 0) << "byte " << i;
    for (int i = 832; i < 992; i++)
        ASSERT_EQ(report[i], 0x04) << "byte " << i;
}

TEST(HidOutputReport, LitFrameLeavesHeaderAndUnusedBitsClear)
{
    std::vector<uint8_t> report = report_of(std::vector<uint8_t>(LCD_FRAME_BYTES, 255));
    EXPECT_EQ(report[0], 3);
    for (int i = 1; i < 32; i++)
        ASSERT_EQ(report[i], 0) << "byte " << i;
    for (int i = 32; i < 832; i++)
        ASSERT_EQ(report[i], 0xFF) << "byte " << i;
    for (int i = 832; i < 992; i++)
        ASSERT_EQ(report[i], 0x07) << "byte " << i; // rows 40..42 only
}

TEST(HidOutputReport, EveryPixelComesBackFromItsBit)
{
    std::mt19937 random(1234);
    std::vector<uint8_t> frame(LCD_FRAME_BYTES);
    for (uint8_t &pixel : frame)
        pixel = (random() & 1) ? 255 : 0;
    std::vector<uint8_t> report = report_of(frame);
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++) {
            int lit = (report[32 + 160 * (y / 8) + x] >> (y % 8)) & 1;
            ASSERT_EQ(lit, frame[y * LCD_WIDTH + x] ? 1 : 0) << x << ", " << y;
        }
}

// ---- input reports -------------------------------------------------------

// "bit n of byte m -> entry k", written out one bit at a time from the
// device documentation; the oracle for the decoder.
struct BitRule {
    int byte, bit, entry;
};

struct FormRules {
    int length;
    int id;
    std::vector<BitRule> rules;
};

std::vector<BitRule> bits(int byte, int first_bit, int last_bit, int first_entry)
{
    std::vector<BitRule> out;
    for (int bit = first_bit; bit <= last_bit; bit++)
        out.push_back({byte, bit, first_entry + bit - first_bit});
    return out;
}

std::vector<BitRule> join(std::initializer_list<std::vector<BitRule>> parts)
{
    std::vector<BitRule> out;
    for (const std::vector<BitRule> &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

const std::vector<FormRules> &all_forms()
{
    static const std::vector<FormRules> forms = {
        {4, 2, join({bits(1, 0, 7, 0), bits(2, 0, 3, 8), bits(2, 4, 7, 22), {{3, 0, 31}}})},
        {5, 2, join({bits(1, 0, 5, 0),
                     {{1, 6, 22}, {1, 7, 23}, {2, 5, 24}, {2, 6, 25}, {2, 7, 26}},
                     bits(2, 1, 4, 27),
                     {{2, 0, 31}}})},
        {5, 3, join({bits(1, 0, 7, 0), bits(2, 0, 7, 8),
                     {{3, 0, 16}, {3, 1, 17}},
                     bits(3, 4, 7, 22),
                     {{3, 3, 31}},
                     bits(4, 0, 4, 26)})},
        {8, 1, join({bits(3, 0, 7, 0), bits(4, 0, 7, 8), bits(5, 0, 5, 16), {{5, 7, 31}},
                     bits(6, 0, 4, 26), bits(6, 5, 7, 22), {{7, 0, 25}}, bits(7, 1, 3, 32)})},
        {9, 2, {{1, 0, 0},  {2, 1, 1},  {3, 2, 2},  {4, 3, 3},  {5, 4, 4},  {6, 5, 5},
                {2, 0, 6},  {3, 1, 7},  {4, 2, 8},  {5, 3, 9},  {6, 4, 10}, {7, 5, 11},
                {1, 2, 12}, {2, 3, 13}, {3, 4, 14}, {4, 5, 15}, {5, 6, 16}, {8, 6, 17},
                {6, 0, 22}, {7, 1, 23}, {8, 2, 24}, {7, 6, 25}, {8, 7, 26},
                {2, 7, 27}, {3, 7, 28}, {4, 7, 29}, {5, 7, 30}, {1, 7, 31}}},
    };
    return forms;
}

const FormRules *form_for(int length, int id)
{
    for (const FormRules &form : all_forms())
        if (form.length == length && form.id == id)
            return &form;
    return nullptr;
}

KeyState expected_state(const uint8_t *report, int length)
{
    KeyState state;
    memset(&state, 0, sizeof state);
    if (!report || length <= 0)
        return state;
    const FormRules *form = form_for(length, report[0]);
    if (!form)
        return state;
    for (const BitRule &rule : form->rules)
        if ((report[rule.byte] >> rule.bit) & 1)
            state.entry[rule.entry] = 255;
    if (length == 8 && report[0] == 1) {
        state.entry[35] = report[1];
        state.entry[36] = report[2];
    }
    return state;
}

// Heap copy of exactly `length` bytes, so that ASan sees any read past it.
struct ExactReport {
    uint8_t *bytes;
    explicit ExactReport(const std::vector<uint8_t> &from) : bytes(new uint8_t[from.size()])
    {
        if (!from.empty())
            memcpy(bytes, from.data(), from.size());
    }
    ~ExactReport() { delete[] bytes; }
    ExactReport(const ExactReport &) = delete;
    ExactReport &operator=(const ExactReport &) = delete;
};

KeyState parse(const std::vector<uint8_t> &report)
{
    ExactReport exact(report);
    KeyState state;
    memset(&state, 0x77, sizeof state);
    hid_parse_report(exact.bytes, (int)report.size(), &state);
    return state;
}

std::vector<int> set_entries(const KeyState &state)
{
    std::vector<int> out;
    for (int k = 0; k < KEY_STATE_ENTRIES; k++)
        if (state.entry[k])
            out.push_back(k);
    return out;
}

struct ReportCase {
    const char *what;
    std::vector<uint8_t> report;
    std::vector<int> pressed; // entries expected at 255, all others 0
};

// Worked out by hand, one report per line.
const ReportCase report_cases[] = {
    {"4/2 byte 1 bit 0", {2, 0x01, 0, 0}, {0}},
    {"4/2 byte 1 bit 7", {2, 0x80, 0, 0}, {7}},
    {"4/2 byte 2 low nibble", {2, 0, 0x0F, 0}, {8, 9, 10, 11}},
    {"4/2 byte 2 high nibble", {2, 0, 0xF0, 0}, {22, 23, 24, 25}},
    {"4/2 byte 3 bit 0", {2, 0, 0, 0x01}, {31}},
    {"4/2 byte 3 other bits", {2, 0, 0, 0xFE}, {}},
    {"5/2 byte 1", {2, 0xFF, 0, 0, 0}, {0, 1, 2, 3, 4, 5, 22, 23}},
    {"5/2 soft buttons", {2, 0, 0x1E, 0, 0}, {27, 28, 29, 30}},
    {"5/2 byte 2 rest", {2, 0, 0xE1, 0, 0}, {24, 25, 26, 31}},
    {"5/2 bytes 3 and 4 unused", {2, 0, 0, 0xFF, 0xFF}, {}},
    {"5/3 bytes 1 and 2", {3, 0x81, 0x81, 0, 0}, {0, 7, 8, 15}},
    {"5/3 byte 3", {3, 0, 0, 0xFF, 0}, {16, 17, 22, 23, 24, 25, 31}},
    {"5/3 byte 3 bit 2 unused", {3, 0, 0, 0x04, 0}, {}},
    {"5/3 byte 4", {3, 0, 0, 0, 0xFF}, {26, 27, 28, 29, 30}},
    {"8/1 byte 3 and 4", {1, 0, 0, 0x01, 0x80, 0, 0, 0}, {0, 15}},
    {"8/1 byte 5", {1, 0, 0, 0, 0, 0xFF, 0, 0}, {16, 17, 18, 19, 20, 21, 31}},
    {"8/1 byte 6", {1, 0, 0, 0, 0, 0, 0xFF, 0}, {22, 23, 24, 26, 27, 28, 29, 30}},
    {"8/1 byte 7", {1, 0, 0, 0, 0, 0, 0, 0xFF}, {25, 32, 33, 34}},
    {"9/2 byte 1", {2, 0xFF, 0, 0, 0, 0, 0, 0, 0}, {0, 12, 31}},
    {"9/2 byte 2", {2, 0, 0xFF, 0, 0, 0, 0, 0, 0}, {1, 6, 13, 27}},
    {"9/2 byte 5", {2, 0, 0, 0, 0, 0xFF, 0, 0, 0}, {4, 9, 16, 30}},
    {"9/2 byte 6", {2, 0, 0, 0, 0, 0, 0xFF, 0, 0}, {5, 10, 22}},
    {"9/2 byte 7", {2, 0, 0, 0, 0, 0, 0, 0xFF, 0}, {11, 23, 25}},
    {"9/2 byte 8", {2, 0, 0, 0, 0, 0, 0, 0, 0xFF}, {17, 24, 26}},
    // lengths and ids that are no form: nothing held
    {"4 bytes, id 1", {1, 0xFF, 0xFF, 0xFF}, {}},
    {"5 bytes, id 1", {1, 0xFF, 0xFF, 0xFF, 0xFF}, {}},
    {"6 bytes, id 2", {2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {}},
    {"8 bytes, id 2", {2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {}},
    {"9 bytes, id 3", {3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {}},
    {"3 bytes, id 2", {2, 0xFF, 0xFF}, {}},
    {"1 byte", {2}, {}},
    {"empty", {}, {}},
};

TEST(HidParseReport, HandWorkedReports)
{
    for (const ReportCase &c : report_cases) {
        KeyState state = parse(c.report);
        EXPECT_EQ(set_entries(state), c.pressed) << c.what;
        for (int k = 0; k < 35; k++)
            EXPECT_TRUE(state.entry[k] == 0 || state.entry[k] == 255) << c.what << " entry " << k;
    }
}

TEST(HidParseReport, AxesAreCopiedRawFromTheEightByteReport)
{
    KeyState state = parse({1, 0x12, 0xEF, 0, 0, 0, 0, 0});
    EXPECT_EQ(state.entry[KEY_AXIS_X], 0x12);
    EXPECT_EQ(state.entry[KEY_AXIS_Y], 0xEF);
    EXPECT_EQ(set_entries(state), (std::vector<int>{35, 36}));
}

// Each single bit of each form lands on exactly the documented entry.
TEST(HidParseReport, EverySingleBitOfEveryForm)
{
    for (const FormRules &form : all_forms()) {
        for (int byte = 1; byte < form.length; byte++) {
            if (form.length == 8 && form.id == 1 && byte <= 2)
                continue; // axis bytes
            for (int bit = 0; bit < 8; bit++) {
                std::vector<uint8_t> report(form.length, 0);
                report[0] = (uint8_t)form.id;
                report[byte] = (uint8_t)(1 << bit);
                std::vector<int> expected;
                for (const BitRule &rule : form.rules)
                    if (rule.byte == byte && rule.bit == bit)
                        expected.push_back(rule.entry);
                EXPECT_EQ(set_entries(parse(report)), expected)
                    << "form " << form.length << "/" << form.id << " byte " << byte << " bit "
                    << bit;
            }
        }
    }
}

TEST(HidParseReport, NullOrNegativeLengthClearsEverything)
{
    KeyState state;
    memset(&state, 0xFF, sizeof state);
    hid_parse_report(nullptr, 5, &state);
    EXPECT_TRUE(set_entries(state).empty());

    uint8_t report[5] = {3, 0xFF, 0xFF, 0xFF, 0xFF};
    memset(&state, 0xFF, sizeof state);
    hid_parse_report(report, -5, &state);
    EXPECT_TRUE(set_entries(state).empty());
}

// ---- scan codes and keystrokes -------------------------------------------

const unsigned scan_codes[35] = {
    0x20, 0x2E, 0x30, 0x22, 0x24, 0x10, 0x19, 0x6A, 0x69, 0x68,
    0x67, 0x65, 0x66, 0x32, 0x6C, 0x6D, 0x6B, 0x21, 0x5F, 0x3C,
    0x05, 0x16, 0x3B, 0x08, 0x07, 0x42, 0, 0, 0, 0, 0, 0, 0x3D, 0x3E, 0x40,
};

TEST(HidKeyScancode, PressAndReleaseOfEveryIndex)
{
    for (int k = 0; k < 35; k++) {
        if (k >= 26 && k <= 31) {
            EXPECT_EQ(hid_key_scancode(k, 255), 0u) << k;
            EXPECT_EQ(hid_key_scancode(k, 0), 0u) << k;
            continue;
        }
        EXPECT_EQ(hid_key_scancode(k, 255), 0xE000u | scan_codes[k]) << k;
        EXPECT_EQ(hid_key_scancode(k, 1), 0xE000u | scan_codes[k]) << k;
        EXPECT_EQ(hid_key_scancode(k, 0), 0xE080u | scan_codes[k]) << k;
    }
}

TEST(HidKeyScancode, OutsideTheForwardedKeys)
{
    for (int k : {-1000, -1, 35, 36, 37, 255, 1 << 30})
        EXPECT_EQ(hid_key_scancode(k, 255), 0u) << k;
}

KeyState state_with(std::initializer_list<int> pressed)
{
    KeyState state;
    memset(&state, 0, sizeof state);
    for (int k : pressed)
        state.entry[k] = 255;
    return state;
}

std::vector<std::pair<unsigned, unsigned>> events_between(const KeyState &before,
                                                          const KeyState &after)
{
    HidKeyEvent events[KEY_STATE_ENTRIES];
    int n = hid_key_events(&before, &after, events);
    std::vector<std::pair<unsigned, unsigned>> out;
    for (int i = 0; i < n; i++)
        out.push_back({events[i].scan_code, events[i].flags});
    return out;
}

typedef std::vector<std::pair<unsigned, unsigned>> Events;

TEST(HidKeyEvents, GKeyOfTheEightByteReportPressedThenReleased)
{
    KeyState idle = state_with({});
    KeyState held = parse({1, 0, 0, 0, 0, 0, 0, 2});
    EXPECT_EQ(held.entry[32], 255);
    EXPECT_EQ(events_between(idle, held), (Events{{0xE03D, 8}}));

    KeyState released = parse({1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(events_between(held, released), (Events{{0xE0BD, 10}}));
}

TEST(HidKeyEvents, UnexpectedLengthReleasesEveryHeldForwardedKey)
{
    // keys 0 and 16, key 31 (not forwarded) and soft button 27 held
    KeyState held = parse({3, 0x01, 0, 0x09, 0x02});
    EXPECT_EQ(set_entries(held), (std::vector<int>{0, 16, 27, 31}));
    KeyState after = parse({3, 0x01, 0, 0x09, 0x02, 0});
    EXPECT_TRUE(set_entries(after).empty());
    EXPECT_EQ(events_between(held, after), (Events{{0xE0A0, 10}, {0xE0EB, 10}}));
}

TEST(HidKeyEvents, InIncreasingIndexWithPressesAndReleasesMixed)
{
    KeyState before = state_with({1, 25, 33});
    KeyState after = state_with({0, 25, 34, 27});
    EXPECT_EQ(events_between(before, after),
              (Events{{0xE020, 8}, {0xE0AE, 10}, {0xE0BE, 10}, {0xE040, 8}}));
}

TEST(HidKeyEvents, AxesAndUnforwardedEntriesGiveNoKeystrokes)
{
    KeyState before = parse({1, 0x10, 0x20, 0, 0, 0, 0, 0});
    KeyState after = parse({1, 0x90, 0x00, 0, 0, 0x80, 0x1F, 0});
    EXPECT_TRUE(events_between(before, after).empty());
}

TEST(HidKeyEvents, KeysHeldWhenTheDeviceOpensArePressedWithTheFirstReport)
{
    KeyState first = parse({2, 0, 0x01, 0, 0}); // 5/2: byte 2 bit 0 is 31, not forwarded
    EXPECT_TRUE(events_between(state_with({}), first).empty());
    first = parse({2, 0x01, 0, 0, 0});
    EXPECT_EQ(events_between(state_with({}), first), (Events{{0xE020, 8}}));
}

unsigned buttons_of(const KeyState &state)
{
    return hid_soft_buttons(&state);
}

TEST(HidSoftButtons, BitsFromEntries27To30)
{
    EXPECT_EQ(buttons_of(state_with({})), 0u);
    EXPECT_EQ(buttons_of(state_with({27})), 1u);
    EXPECT_EQ(buttons_of(state_with({28})), 2u);
    EXPECT_EQ(buttons_of(state_with({29})), 4u);
    EXPECT_EQ(buttons_of(state_with({30})), 8u);
    EXPECT_EQ(buttons_of(state_with({26, 31, 0, 34})), 0u);
    // all four at once, from each form that carries them
    EXPECT_EQ(buttons_of(parse({2, 0, 0x1E, 0, 0})), 15u);
    EXPECT_EQ(buttons_of(parse({3, 0, 0, 0, 0x1E})), 15u);
    EXPECT_EQ(buttons_of(parse({1, 0, 0, 0, 0, 0, 0x1E, 0})), 15u);
    EXPECT_EQ(buttons_of(parse({2, 0, 0x80, 0x80, 0x80, 0x80, 0, 0, 0})), 15u);
}

// ---- devices --------------------------------------------------------------

TEST(HidDevices, SupportedIds)
{
    for (unsigned product : {0x0A07u, 0xC222u, 0xC227u, 0xC21Cu, 0xC22Du, 0xC22Eu}) {
        EXPECT_EQ(hid_device_supported(0x046D, product), 1) << std::hex << product;
        EXPECT_EQ(hid_device_supported(0x046E, product), 0) << std::hex << product;
    }
    for (unsigned product : {0u, 0xC221u, 0xC226u, 0xC22Fu, 0xC52Bu, 0x1C22Eu})
        EXPECT_EQ(hid_device_supported(0x046D, product), 0) << std::hex << product;
    EXPECT_EQ(hid_device_supported(0x1046D, 0xC222), 0);
}

TEST(HidDevices, OnlyVendorDefinedOrUnknownCollectionsCount)
{
    EXPECT_EQ(hid_device_eligible(0x046D, 0xC21C, 0), 1);
    EXPECT_EQ(hid_device_eligible(0x046D, 0xC21C, 0xFF00), 1);
    EXPECT_EQ(hid_device_eligible(0x046D, 0xC21C, 0xFFA0), 1);
    EXPECT_EQ(hid_device_eligible(0x046D, 0xC21C, 0x0001), 0); // keyboard collection
    EXPECT_EQ(hid_device_eligible(0x046D, 0xC21C, 0x000C), 0); // media keys
    EXPECT_EQ(hid_device_eligible(0x046D, 0xC52B, 0xFF00), 0);
}

TEST(HidLogClean, ControlCharactersBecomeBlanks)
{
    char text[] = "a\tb\r\n\x1f" "c \x7f\xc3\xa9";
    hid_log_clean(text);
    EXPECT_STREQ(text, "a b   c \x7f\xc3\xa9");
}

// ---- random input reports -----------------------------------------------

struct GuardedState {
    uint8_t before[16];
    KeyState state;
    uint8_t after[16];
};

// Random reports of every length 0..64, read from buffers of exactly that
// size. The decoder must stay within them, give 0 or 255 for keys, and agree
// with the documented bit rules.
TEST(HidParseReport, RandomReportsOfEveryLength)
{
    std::mt19937 random(20240601u);
    KeyState previous;
    memset(&previous, 0, sizeof previous);
    for (int length = 0; length <= 64; length++) {
        for (int round = 0; round < 3000; round++) {
            std::vector<uint8_t> bytes(length);
            for (uint8_t &b : bytes)
                b = (uint8_t)random();
            if (length > 0 && (round & 1))
                bytes[0] = (uint8_t)(random() % 5); // hit the known ids often
            ExactReport exact(bytes);

            GuardedState guarded;
            memset(&guarded, 0xA5, sizeof guarded);
            hid_parse_report(exact.bytes, length, &guarded.state);
            for (int i = 0; i < 16; i++) {
                ASSERT_EQ(guarded.before[i], 0xA5);
                ASSERT_EQ(guarded.after[i], 0xA5);
            }

            KeyState expected = expected_state(bytes.data(), length);
            ASSERT_EQ(memcmp(&expected, &guarded.state, sizeof expected), 0)
                << "length " << length << " round " << round;
            for (int k = 0; k < 35; k++)
                ASSERT_TRUE(guarded.state.entry[k] == 0 || guarded.state.entry[k] == 255);
            if (!(length == 8 && bytes[0] == 1)) {
                ASSERT_EQ(guarded.state.entry[35], 0);
                ASSERT_EQ(guarded.state.entry[36], 0);
            }
            ASSERT_LE(hid_soft_buttons(&guarded.state), 15u);

            HidKeyEvent events[KEY_STATE_ENTRIES];
            int n = hid_key_events(&previous, &guarded.state, events);
            ASSERT_GE(n, 0);
            ASSERT_LE(n, 29); // 0..25 and 32..34
            for (int i = 0; i < n; i++) {
                ASSERT_EQ(events[i].scan_code & 0xFF00, 0xE000);
                ASSERT_TRUE(events[i].flags == 8 || events[i].flags == 10);
                ASSERT_EQ((events[i].scan_code & 0x80) != 0, events[i].flags == 10);
            }
            previous = guarded.state;
        }
    }
}

} // namespace
