// Slots, the page dispatcher, the slide-in, the test window's hit test and
// titles, and single ticks of the main loop without a display.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "main.h"
#include "mod_stw.h"
#include "popup.h"
#include "topline.h"

namespace {

const int COLUMNS[SLOT_COUNT] = {0, 40, 81, 121};

// ---- slot_parse_value ------------------------------------------------------

struct ParseCase {
    const char *value;
    int count;
    const char *codes[SLOT_MAX_CODES];
    int variants[SLOT_MAX_CODES];
    int pending;
};

const ParseCase PARSE_CASES[] = {
    {"CPU", 1, {"CPU"}, {0}, 0},
    {"CPU++", 1, {"CPU"}, {2}, 0},
    {"NET*", 1, {"NET"}, {0}, 2},
    {"stw", 1, {"stw"}, {0}, 0},
    {"TS3+*", 1, {"TS3"}, {1}, 2},
    {"C*P+U", 1, {"C"}, {1}, 2},
    {"+CPU", 1, {""}, {1}, 0},
    {"CPUNETAMP", 1, {"CPU"}, {0}, 0},
    {"  CPU\t\tNET+  ", 2, {"CPU", "NET"}, {0, 1}, 0},
    {"A B C D E F G H I", 8, {"A", "B", "C", "D", "E", "F", "G", "H"}, {0}, 0},
    {"A B C D E F G H I*", 8, {"A", "B", "C", "D", "E", "F", "G", "H"}, {0}, 0},
    // 32 characters: the '*' is the last one scanned
    {"NET++++++++++++++++++++++++++++*", 1, {"NET"}, {28}, 2},
    // 33 characters: the '*' is cut off
    {"NET+++++++++++++++++++++++++++++*", 1, {"NET"}, {29}, 0},
    {"", 0, {}, {}, 0},
    {" \t ", 0, {}, {}, 0},
    {"xyzzy CLK", 2, {"xyz", "CLK"}, {0, 0}, 0},
};

TEST(SlotParse, TokensTable)
{
    for (const ParseCase &c : PARSE_CASES) {
        SCOPED_TRACE(c.value);
        Slot slot{};
        slot_parse_value(&slot, c.value);
        ASSERT_EQ(slot.count, c.count);
        for (int k = 0; k < c.count; k++) {
            EXPECT_STREQ(slot.codes[k], c.codes[k]) << "entry " << k;
            EXPECT_EQ(slot.variants[k], c.variants[k]) << "entry " << k;
        }
        EXPECT_EQ(slot.pending_action, c.pending);
    }
}

TEST(SlotParse, NullValueGivesEmptyList)
{
    Slot slot{};
    slot_parse_value(&slot, "CPU NET");
    slot_parse_value(&slot, nullptr);
    EXPECT_EQ(slot.count, 0);
    EXPECT_STREQ(slot.codes[0], "");
}

TEST(SlotParse, ReparseResetsTheWalkButKeepsPlaceAndPress)
{
    Slot slot{};
    slot.number = 2;
    slot.x = 81;
    slot.y = 48;
    slot.pending_action = 1;
    slot.start_index = 3;
    slot.shown_index = 4;
    slot_parse_value(&slot, "CPU NET AMP STW CLK");
    EXPECT_EQ(slot.count, 5);
    EXPECT_EQ(slot.start_index, 0);
    EXPECT_EQ(slot.shown_index, 0);
    EXPECT_EQ(slot.number, 2);
    EXPECT_EQ(slot.x, 81);
    EXPECT_EQ(slot.y, 48);
    EXPECT_EQ(slot.pending_action, 1);

    slot_parse_value(&slot, "CPU");
    EXPECT_EQ(slot.count, 1);
    EXPECT_STREQ(slot.codes[1], ""); // nothing of the longer list is left
}

class ConfiguredSlots : public ::testing::Test {
protected:
    void TearDown() override { config_free_entries(&g_config.entries); }
};

TEST_F(ConfiguredSlots, InitReadsItsOwnKey)
{
    config_put(&g_config.entries, "SLOT_2", "clk* NET+");
    config_put(&g_config.entries, "slot_1", "TS2 TS3 CLK");
    const int columns[SLOT_COUNT] = {0, 40, 81, 121};
    for (int i = 0; i < SLOT_COUNT; i++) {
        g_slots[i] = Slot{};
        slot_init(&g_slots[i], i);
        EXPECT_EQ(g_slots[i].number, i);
        EXPECT_EQ(g_slots[i].x, columns[i]);
        EXPECT_EQ(g_slots[i].y, 22);
    }
    EXPECT_EQ(g_slots[0].count, 0); // missing key: empty
    EXPECT_EQ(g_slots[3].count, 0);
    EXPECT_EQ(g_slots[1].count, 3);
    EXPECT_EQ(g_slots[1].pending_action, 0);
    ASSERT_EQ(g_slots[2].count, 2);
    EXPECT_STREQ(g_slots[2].codes[0], "clk");
    EXPECT_EQ(g_slots[2].pending_action, 2);
    EXPECT_EQ(slot_variant(&g_slots[2], "NET"), 1);
}

TEST_F(ConfiguredSlots, StarPressComesBackOnEveryReparse)
{
    config_put(&g_config.entries, "slot_0", "CLK*");
    slot_init(&g_slots[0], 0);
    EXPECT_EQ(g_slots[0].pending_action, 2);
    g_slots[0].pending_action = 0; // the module consumed it
    slot_parse(&g_slots[0]);
    EXPECT_EQ(g_slots[0].pending_action, 2);
}

TEST(SlotVariant, PerSlotAndCaseBlind)
{
    Slot a{}, b{};
    slot_parse_value(&a, "net CPU+ CPU+++");
    slot_parse_value(&b, "CPU");
    EXPECT_EQ(slot_variant(&a, "CPU"), 1); // the first entry with the code
    EXPECT_EQ(slot_variant(&a, "cpu"), 1);
    EXPECT_EQ(slot_variant(&b, "CPU"), 0);
    EXPECT_EQ(slot_variant(&a, "AMP"), 0);
    EXPECT_EQ(slot_variant(&a, "NET"), 0);
}

// ---- Dispatcher --------------------------------------------------------------

std::set<std::string> g_drawing;                // codes whose render draws
std::vector<std::pair<std::string, int>> g_calls; // (code, slot) per render call

int scripted_render(const char *code, int slot)
{
    g_calls.emplace_back(code, slot);
    return g_drawing.count(code) ? 1 : 0;
}

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_drawing.clear();
        g_calls.clear();
        slot_render_module = scripted_render;
        for (int i = 0; i < SLOT_COUNT; i++) {
            g_slots[i] = Slot{};
            g_slots[i].number = i;
        }
    }
    void TearDown() override { slot_render_module = module_render_by_code; }

    std::vector<std::string> called_codes()
    {
        std::vector<std::string> codes;
        for (auto &c : g_calls)
            codes.push_back(c.first);
        return codes;
    }
};

TEST_F(Dispatcher, NextPageCyclesThroughModulesThatDraw)
{
    Slot &s = g_slots[0];
    slot_parse_value(&s, "CPU NET");
    g_drawing = {"CPU", "NET"};
    const int expected[] = {0, 1, 0, 1};
    for (int shown : expected) {
        EXPECT_EQ(slot_walk(&s, 0), shown);
        EXPECT_EQ(s.shown_index, shown);
        slot_next_page(&s);
    }
}

TEST_F(Dispatcher, SkipsModulesWithNothingToShow)
{
    Slot &s = g_slots[1];
    slot_parse_value(&s, "TS2 TS3 CLK");
    g_drawing = {"CLK"};
    EXPECT_EQ(slot_walk(&s, 1), 2);
    EXPECT_EQ(called_codes(), (std::vector<std::string>{"TS2", "TS3", "CLK"}));

    g_drawing.insert("TS2"); // TeamSpeak 2 starts: shown at once
    g_calls.clear();
    EXPECT_EQ(slot_walk(&s, 1), 0);
    EXPECT_EQ(called_codes(), (std::vector<std::string>{"TS2"}));
}

TEST_F(Dispatcher, NothingDrawsLeavesShownAtStart)
{
    Slot &s = g_slots[2];
    slot_parse_value(&s, "AMP TUN FPS");
    s.start_index = 2;
    EXPECT_EQ(slot_walk(&s, 2), 2);
    EXPECT_EQ(s.shown_index, 2);
    // from position 2 around the eight places, each listed code once
    EXPECT_EQ(called_codes(), (std::vector<std::string>{"FPS", "AMP", "TUN"}));
}

TEST_F(Dispatcher, StartBeyondCountWrapsToTheFirstThatDraws)
{
    Slot &s = g_slots[0];
    slot_parse_value(&s, "CPU NET");
    g_drawing = {"CPU", "NET"};
    s.shown_index = 1;
    slot_next_page(&s); // start 2: an empty place
    EXPECT_EQ(s.start_index, 2);
    EXPECT_EQ(slot_walk(&s, 0), 0);
}

TEST_F(Dispatcher, EmptyListCallsNothing)
{
    EXPECT_EQ(slot_walk(&g_slots[3], 3), 0);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(Dispatcher, StartIndexOutOfRangeDoesNotHang)
{
    Slot &s = g_slots[0];
    slot_parse_value(&s, "CPU");
    s.start_index = 9;
    EXPECT_EQ(slot_walk(&s, 0), 0);
    s.start_index = -3;
    EXPECT_EQ(slot_walk(&s, 0), 0);
}

TEST_F(Dispatcher, NextPageWrapsAfterThePlaceSeven)
{
    Slot s{};
    const int shown[] = {0, 5, 6, 7};
    const int start[] = {1, 6, 7, 0};
    for (int k = 0; k < 4; k++) {
        s.shown_index = shown[k];
        slot_next_page(&s);
        EXPECT_EQ(s.start_index, start[k]);
    }
}

TEST_F(Dispatcher, EachSlotRendersWithItsOwnNumber)
{
    slot_parse_value(&g_slots[0], "CPU");
    slot_parse_value(&g_slots[1], "NET");
    slot_parse_value(&g_slots[3], "CLK STW");
    g_drawing = {"CPU", "NET", "STW"};
    slots_render();
    EXPECT_EQ(g_calls, (std::vector<std::pair<std::string, int>>{
                           {"CPU", 0}, {"NET", 1}, {"CLK", 3}, {"STW", 3}}));
    EXPECT_EQ(g_slots[3].shown_index, 1);
}

TEST(ModuleTable, UnknownCodesNeverDraw)
{
    const char *codes[] = {"", "XYZ", "cpux", "???", "ST"};
    for (const char *code : codes)
        EXPECT_EQ(module_render_by_code(code, 0), 0) << code;
}

TEST(ModuleTable, CodesMatchWithoutRegardToCase)
{
    ASSERT_EQ(lcd_create_surface(&g_lcd), 1);
    g_slots[2] = Slot{};
    g_slots[2].x = 81;
    g_slots[2].y = 22;
    stw_start(&g_stw); // the stopwatch always has something to show
    const char *spellings[] = {"STW", "stw", "Stw"};
    for (const char *code : spellings) {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        EXPECT_NE(module_render_by_code(code, 2), 0) << code;
        EXPECT_EQ(g_lcd.frame[22 * LCD_WIDTH + 82], 255) << code << ": panel frame of slot 2";
    }
    lcd_destroy_surface(&g_lcd);
}

// ---- Panel drawing -------------------------------------------------------------

class Panel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(lcd_create_surface(&g_lcd), 1);
        for (int i = 0; i < SLOT_COUNT; i++) {
            g_slots[i] = Slot{};
            g_slots[i].number = i;
            g_slots[i].x = COLUMNS[i];
            g_slots[i].y = 22;
        }
    }
    void TearDown() override { lcd_destroy_surface(&g_lcd); }

    uint8_t at(int x, int y) { return g_lcd.frame[y * LCD_WIDTH + x]; }
    void clear() { memset(g_lcd.frame, 0, LCD_FRAME_BYTES); }
    std::vector<uint8_t> snapshot() { return std::vector<uint8_t>(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES); }
};

TEST_F(Panel, FrameEdgesLabelBarAndNoBottomEdge)
{
    Slot &s = g_slots[1]; // columns 40..78
    clear();
    int w = lcd_text(&g_lcd, TXT_TINY | TXT_MEASURE, 0, 0, "CPU");
    ASSERT_GT(w, 0);
    slot_draw_frame(&s, "CPU");

    for (int c = 41; c <= 77; c++)
        EXPECT_EQ(at(c, 22), 255) << "top edge at column " << c;
    EXPECT_EQ(at(40, 22), 0);
    EXPECT_EQ(at(78, 22), 0);
    for (int r = 23; r <= 42; r++) {
        EXPECT_EQ(at(40, r), 255) << "left edge at row " << r;
        EXPECT_EQ(at(78, r), 255) << "right edge at row " << r;
    }
    for (int c = 41; c <= 40 + w; c++)
        EXPECT_EQ(at(c, 28), 255) << "underline at column " << c;
    EXPECT_EQ(at(41 + w, 28), 0);
    for (int c = 41; c <= 77; c++)
        EXPECT_EQ(at(c, 42), 0) << "no bottom edge, column " << c;

    // inverted label: lit ground with dark glyph pixels inside the bar
    int dark = 0;
    for (int r = 23; r <= 27; r++)
        for (int c = 41; c <= 40 + w; c++)
            dark += at(c, r) == 0;
    EXPECT_GT(dark, 0);
    EXPECT_LT(dark, 5 * w);

    // nothing outside the panel
    for (int y = 0; y < LCD_HEIGHT; y++) {
        for (int x = 0; x < LCD_WIDTH; x++) {
            if (x < 40 || x > 78 || y < 22) {
                ASSERT_EQ(at(x, y), 0) << x << "," << y;
            }
        }
    }
}

TEST_F(Panel, FrameBelowTheDisplayDrawsOnlyWhatIsVisible)
{
    Slot &s = g_slots[3];
    s.y = 42; // slide-in: only the top edge is on the display
    clear();
    slot_draw_frame(&s, "CLK");
    int lit = 0;
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        lit += g_lcd.frame[i] != 0;
    for (int c = 122; c <= 158; c++)
        EXPECT_EQ(at(c, 42), 255);
    EXPECT_EQ(lit, 37);

    s.y = 60;
    clear();
    slot_draw_frame(&s, "CLK");
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        ASSERT_EQ(g_lcd.frame[i], 0);
}

TEST_F(Panel, SlotTextCountsNegativeOffsetsFromTheOtherSide)
{
    struct Case {
        int slot, dx, dy, x, y;
    } cases[] = {
        {0, 0, 0, 1, 23},      {1, 3, 7, 44, 30},     {2, -1, -1, 81 + 37, 22 + 20},
        {3, -10, 0, 149, 23},  {0, 0, -8, 1, 35},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "slot " << c.slot << " dx " << c.dx << " dy " << c.dy);
        clear();
        int expected_width = lcd_text(&g_lcd, TXT_TINY | TXT_RIGHT, c.x, c.y, "42");
        std::vector<uint8_t> expected = snapshot();
        clear();
        int width = slot_text(&g_slots[c.slot], TXT_TINY | TXT_RIGHT, c.dx, c.dy, "42");
        EXPECT_EQ(width, expected_width);
        EXPECT_TRUE(snapshot() == expected);
    }
}

// ---- Slide-in ------------------------------------------------------------------

int expected_row(int v, int i)
{
    int y = 44 - v + 6 * i;
    return y < 22 ? 22 : y;
}

TEST(SlideIn, RowsForEveryStep)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        g_slots[i].y = 22;
    int rows[SLOT_COUNT] = {22, 22, 22, 22};
    int counter = 1;
    for (int v = 1; v <= 46; v++) {
        SCOPED_TRACE(testing::Message() << "v = " << v);
        ASSERT_EQ(counter, v);
        animate_start(&counter);
        EXPECT_EQ(counter, v < 46 ? v + 1 : 0);
        if (v % 2 == 0)
            for (int i = 0; i < SLOT_COUNT; i++)
                rows[i] = v == 46 ? 22 : expected_row(v, i);
        for (int i = 0; i < SLOT_COUNT; i++)
            EXPECT_EQ(g_slots[i].y, rows[i]) << "slot " << i;
    }
}

TEST(SlideIn, KeyPositions)
{
    struct Case {
        int v;
        int rows[SLOT_COUNT];
    } cases[] = {
        {2, {42, 48, 54, 60}}, {22, {22, 28, 34, 40}}, {28, {22, 22, 28, 34}},
        {34, {22, 22, 22, 28}}, {40, {22, 22, 22, 22}}, {44, {22, 22, 22, 22}},
    };
    for (const Case &c : cases) {
        int counter = c.v;
        animate_start(&counter);
        EXPECT_EQ(counter, c.v + 1);
        for (int i = 0; i < SLOT_COUNT; i++)
            EXPECT_EQ(g_slots[i].y, c.rows[i]) << "v " << c.v << " slot " << i;
    }
}

TEST(SlideIn, LikeTheMainLoopRunsExactly46Steps)
{
    int counter = 1, steps = 0;
    for (int tick = 0; tick < 200; tick++)
        if (counter) {
            animate_start(&counter);
            steps++;
        }
    EXPECT_EQ(steps, 46);
    for (int i = 0; i < SLOT_COUNT; i++)
        EXPECT_EQ(g_slots[i].y, 22);
}

TEST(SlideIn, OddLargeAndBelowOneValues)
{
    const int starts[] = {-5, 0, 46, 100, 2147483647};
    const int steps_expected[] = {1, 1, 1, 1, 2};
    for (int k = 0; k < 5; k++) {
        for (int i = 0; i < SLOT_COUNT; i++)
            g_slots[i].y = 60;
        int counter = starts[k], steps = 0;
        do {
            animate_start(&counter);
            steps++;
        } while (counter && steps < 10);
        EXPECT_EQ(steps, steps_expected[k]) << starts[k];
        for (int i = 0; i < SLOT_COUNT; i++)
            EXPECT_EQ(g_slots[i].y, 22) << starts[k];
    }
}

// ---- Test window pieces ----------------------------------------------------------

TEST(HitTest, ClientPixelsToSlots)
{
    for (int i = 0; i < SLOT_COUNT; i++) {
        g_slots[i].x = COLUMNS[i];
        g_slots[i].y = 22;
    }
    struct Case {
        int x, y, slot;
    } cases[] = {
        {0, 50, -1},  {1, 50, -1},  {2, 50, 0},   {2, 1, -1},   {2, 43, -1}, {2, 44, 0},
        {2, 85, 0},   {2, 86, -1},  {77, 50, 0},  {78, 50, -1}, {79, 50, -1}, {80, 50, 1},
        {157, 50, 1}, {158, 50, -1}, {161, 50, -1}, {162, 50, 2}, {240, 50, -1}, {242, 50, 3},
        {319, 85, 3}, {320, 50, -1}, {323, 89, -1}, {60, 20, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(window_hit_test(c.x, c.y), c.slot) << c.x << "," << c.y;
}

TEST(HitTest, FollowsTheSlideIn)
{
    for (int i = 0; i < SLOT_COUNT; i++) {
        g_slots[i].x = COLUMNS[i];
        g_slots[i].y = 42 + 6 * i;
    }
    EXPECT_EQ(window_hit_test(2, 50), -1);
    EXPECT_EQ(window_hit_test(2, 84), 0);
    EXPECT_EQ(window_hit_test(82, 85), -1); // slot 1 still below the display
}

TEST(Title, NineSecondCycle)
{
    struct Case {
        int tick;
        const char *title;
    } cases[] = {
        {0, "Pixwick 2.8.5"},
        {29, "Pixwick 2.8.5"},
        {30, "Your G15 is unresponsive!"},
        {59, "Your G15 is unresponsive!"},
        {60, "Try updating Logitech drivers."},
        {89, "Try updating Logitech drivers."},
        {90, "Pixwick 2.8.5"},
        {1230, "Try updating Logitech drivers."},
        {1200, "Your G15 is unresponsive!"},
    };
    for (const Case &c : cases)
        EXPECT_STREQ(unresponsive_title(c.tick), c.title) << c.tick;
}

// ---- Ticks without a display --------------------------------------------------------

uint32_t frozen_ms = 1000;
uint32_t frozen_clock(void) { return frozen_ms; }

class Ticks : public ::testing::Test {
protected:
    MainLoop loop{};
    AppClock saved_clock = app_clock;

    void SetUp() override
    {
        app_clock = frozen_clock;
        config_clear(&g_config);
        ASSERT_EQ(lcd_create_surface(&g_lcd), 1); // a surface but no link: every submit fails
        tick_count = 0;
        blink = 0;
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i);
        topline_start(&g_topline);
    }
    void TearDown() override
    {
        topline_stop(&g_topline);
        popup_clear(&g_popups);
        lcd_destroy_surface(&g_lcd);
        config_clear(&g_config);
        app_clock = saved_clock;
    }

    bool popup_queued(const char *text)
    {
        for (PopupMessage *m = g_popups.head; m; m = m->next)
            if (strcmp(m->text, text) == 0)
                return true;
        return false;
    }
};

TEST_F(Ticks, SecondTickBlinkAndCount)
{
    g_general.config_refresh = 0;
    for (int k = 0; k < 25; k++) {
        int blink_before = blink;
        main_tick(&loop);
        EXPECT_EQ(second_tick, k % 10 == 0) << k;
        EXPECT_EQ(blink, k % 10 == 0 ? 1 - blink_before : blink_before) << k;
        EXPECT_EQ(tick_count, k + 1);
        EXPECT_EQ(loop.submit_failures, k + 1);
    }
}

TEST_F(Ticks, SlideInRunsFromTheTick)
{
    g_general.animate_start = 1;
    g_general.config_refresh = 0;
    main_tick(&loop);
    EXPECT_EQ(g_slots[0].y, 22);
    main_tick(&loop);
    EXPECT_EQ(g_slots[0].y, 42);
    EXPECT_EQ(g_slots[3].y, 60);
    for (int k = 0; k < 44; k++)
        main_tick(&loop);
    EXPECT_EQ(g_general.animate_start, 0);
    for (int i = 0; i < SLOT_COUNT; i++)
        EXPECT_EQ(g_slots[i].y, 22);
}

TEST_F(Ticks, HidIsSwitchedOnOnceAtTheThirdFailingSecond)
{
    g_general.use_hid = 3;
    g_general.config_refresh = 0;
    for (int k = 0; k < 20; k++)
        main_tick(&loop);
    EXPECT_FALSE(popup_queued("Enabling HID access"));
    main_tick(&loop); // tick 20: the third second tick with failures
    EXPECT_TRUE(popup_queued("Enabling HID access"));
    EXPECT_EQ(loop.hid_count, 3);

    popup_clear(&g_popups);
    for (int k = 0; k < 100; k++)
        main_tick(&loop);
    EXPECT_FALSE(popup_queued("Enabling HID access"));
}

TEST_F(Ticks, NoHidWhenSwitchedOff)
{
    g_general.config_refresh = 0;
    const int settings[] = {0, -1};
    for (int setting : settings) {
        g_general.use_hid = setting;
        loop.hid_count = 0;
        for (int k = 0; k < 50; k++)
            main_tick(&loop);
        EXPECT_FALSE(popup_queued("Enabling HID access"));
        EXPECT_EQ(loop.hid_count, 0);
    }
}

int draw_corner_pixels(const char *, int slot)
{
    if (slot == 3) {
        frame_put(g_lcd.frame, 150, 40, 255);
        frame_put(g_lcd.frame, 159, 42, 255);
    }
    return 0;
}

TEST_F(Ticks, WindowPaintsTheHandedOverFrameTwiceEnlargedAndInverted)
{
    HDC dc = CreateCompatibleDC(0);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 324;
    info.bmiHeader.biHeight = -90;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = 0;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, 0, 0);
    ASSERT_NE(bitmap, nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    uint32_t *px = (uint32_t *)bits;
    auto grey = [&]() {
        for (int i = 0; i < 324 * 90; i++)
            px[i] = 0x808080;
    };

    grey();
    EXPECT_EQ(paint_display(dc, 2, 2, 2), 0) << "no link: nothing painted";
    EXPECT_EQ(px[50 * 324 + 50] & 0xFFFFFF, 0x808080u);

    lcd_destroy_surface(&g_lcd);
    ASSERT_EQ(lcd_open(&g_lcd, "slots_test", 1, 1, 0), 1);
    g_general.animate_start = 0;
    g_general.config_refresh = 0;
    slot_render_module = draw_corner_pixels;
    slot_parse_value(&g_slots[3], "CLK");
    main_tick(&loop);
    slot_render_module = module_render_by_code;

    grey();
    EXPECT_NE(paint_display(dc, 2, 2, 2), 0);
    GdiFlush();
    auto at = [&](int x, int y) { return px[y * 324 + x] & 0xFFFFFF; };
    for (int k = 0; k < 4; k++) {
        EXPECT_EQ(at(2 + 300 + k % 2, 2 + 80 + k / 2), 0u) << "lit (150, 40) is black";
        EXPECT_EQ(at(2 + 318 + k % 2, 2 + 84 + k / 2), 0u) << "lit (159, 42) is black";
    }
    EXPECT_EQ(at(2 + 200, 2 + 80), 0xFFFFFFu) << "dark (100, 40) is white";
    EXPECT_EQ(at(0, 0), 0x808080u) << "the border is not painted";
    EXPECT_EQ(at(323, 89), 0x808080u);
    EXPECT_EQ(at(322, 50), 0x808080u);

    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

class Reload : public Ticks {
protected:
    char name[64] = "";

    void SetUp() override
    {
        Ticks::SetUp();
        snprintf(name, sizeof name, "slots_reload_%lu.txt", (unsigned long)GetCurrentProcessId());
        FILE *f = fopen(name, "wb");
        ASSERT_NE(f, nullptr);
        fputs("slot_0 CPU\n", f);
        fclose(f);
        ASSERT_GT(config_load_file(&g_config, name, 1), 0); // now watched
    }
    void TearDown() override
    {
        DeleteFileA(name);
        Ticks::TearDown();
    }

    void touch()
    {
        HANDLE file = CreateFileA(name, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FILETIME t;
        GetFileTime(file, 0, 0, &t);
        t.dwHighDateTime -= 1; // about seven minutes earlier
        SetFileTime(file, 0, 0, &t);
        CloseHandle(file);
    }
};

TEST_F(Reload, DuringTheSlideInPutsThePanelsInPlace)
{
    g_general.config_refresh = 10;
    g_general.animate_start = 1;
    for (int k = 0; k < 10; k++)
        main_tick(&loop);
    EXPECT_FALSE(popup_queued("Configuration updated"));
    EXPECT_GT(g_slots[3].y, 22);
    touch();
    for (int k = 0; k < 9; k++)
        main_tick(&loop); // ticks 10..18: only tick 10 looks
    EXPECT_TRUE(popup_queued("Configuration updated"));
    EXPECT_EQ(g_general.animate_start, 0);
    for (int i = 0; i < SLOT_COUNT; i++)
        EXPECT_EQ(g_slots[i].y, 22) << i;
}

TEST_F(Reload, RefreshZeroNeverLooks)
{
    g_general.config_refresh = 0;
    touch();
    for (int k = 0; k < 30; k++)
        main_tick(&loop);
    EXPECT_FALSE(popup_queued("Configuration updated"));
}

} // namespace
