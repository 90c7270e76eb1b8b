// The stopwatch: its texts, the start/stop/lap/reset cycle through the slot's
// pending press, lap mode from '+' marks and stopwatch_laps, the wrap of the
// millisecond counter, and the drawn panel. Time comes from a fake clock.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "main.h"
#include "mod_stw.h"

namespace {

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }

class StopwatchTest : public ::testing::Test {
protected:
    StopwatchModule stw;
    Slot saved_slots[SLOT_COUNT];
    AppClock saved_clock = 0;
    int saved_blink = 0;
    bool created_surface = false;

    void SetUp() override
    {
        memcpy(saved_slots, g_slots, sizeof saved_slots);
        saved_clock = app_clock;
        saved_blink = blink;
        app_clock = fake_clock;
        fake_now = 5000;
        blink = 1;
        config_free_entries(&g_config.entries);
        for (int i = 0; i < SLOT_COUNT; i++) {
            g_slots[i] = Slot{};
            g_slots[i].number = i;
            g_slots[i].x = i == 0 ? 0 : i == 1 ? 40 : i == 2 ? 81 : 121;
            g_slots[i].y = 22;
        }
        if (!g_lcd.frame) {
            ASSERT_EQ(1, lcd_create_surface(&g_lcd));
            created_surface = true;
        }
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    }

    void TearDown() override
    {
        config_free_entries(&g_config.entries);
        memcpy(g_slots, saved_slots, sizeof saved_slots);
        app_clock = saved_clock;
        blink = saved_blink;
        if (created_surface)
            lcd_destroy_surface(&g_lcd);
    }

    void slots(const char *s0, const char *s1 = nullptr, const char *s2 = nullptr, const char *s3 = nullptr)
    {
        const char *values[SLOT_COUNT] = {s0, s1, s2, s3};
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_parse_value(&g_slots[i], values[i]);
    }

    // One render of slot i at the fake time; returns the time text it shows.
    std::string shown(int i = 0)
    {
        StopwatchView view;
        stw_update(&stw, &g_slots[i], i, fake_now, blink, &view);
        return view.text;
    }

    bool lap_shown(int i = 0)
    {
        StopwatchView view;
        stw_update(&stw, &g_slots[i], i, fake_now, blink, &view);
        return view.show_lap != 0;
    }

    void press(int i, int action)
    {
        g_slots[i].pending_action = action;
        EXPECT_EQ(stw_render(&stw, i), 1);
        EXPECT_EQ(g_slots[i].pending_action, 0) << "the press is consumed";
    }
};

TEST_F(StopwatchTest, FreshStopwatchShowsZero)
{
    slots("STW");
    stw_start(&stw);
    EXPECT_EQ(shown(), "00:00.0");
    fake_now += 10000;
    EXPECT_EQ(shown(), "00:00.0");
    EXPECT_EQ(stw.state[0], (uint32_t)STW_STOPPED);
}

struct FormCase {
    uint32_t run_ms;
    const char *running_blink_on;
    const char *running_blink_off;
    const char *stopped_blink_off;
};

const FormCase FORMS[] = {
    {61250, "01:01.2", "01:01.2", "01:01.2"},
    {3723000, "1:02:03", "1:02:03", "1:02:03"},
    {36300000, "10:05", "10 05", "10:05"}, // blinks only while running
    {(100 * 60 + 59) * 60000u, "100:59", "100 59", "100:59"},
};

TEST_F(StopwatchTest, DisplayFormsAndBlinkingSeparator)
{
    slots("STW");
    for (const FormCase &c : FORMS) {
        SCOPED_TRACE(c.run_ms);
        stw_start(&stw);
        press(0, BUTTON_SHORT); // start
        fake_now += c.run_ms;
        blink = 1;
        EXPECT_EQ(shown(), c.running_blink_on);
        blink = 0;
        EXPECT_EQ(shown(), c.running_blink_off);
        press(0, BUTTON_SHORT); // stop
        EXPECT_EQ(shown(), c.stopped_blink_off);
        blink = 1;
        EXPECT_EQ(shown(), c.stopped_blink_off);
        fake_now += 777777;
        EXPECT_EQ(shown(), c.stopped_blink_off) << "a stopped watch does not move";
    }
}

TEST_F(StopwatchTest, StartStopResumeAndReset)
{
    slots("STW");
    stw_start(&stw);
    press(0, BUTTON_SHORT);
    EXPECT_EQ(stw.state[0], (uint32_t)STW_RUNNING);
    fake_now += 1500;
    EXPECT_EQ(shown(), "00:01.5");
    press(0, BUTTON_SHORT);
    EXPECT_EQ(stw.state[0], (uint32_t)STW_STOPPED);
    fake_now += 60000; // a stopped stretch does not count
    press(0, BUTTON_SHORT);
    fake_now += 2000;
    EXPECT_EQ(shown(), "00:03.5");
    press(0, BUTTON_LONG); // reset while running
    EXPECT_EQ(stw.state[0], (uint32_t)STW_STOPPED);
    EXPECT_EQ(shown(), "00:00.0");
    fake_now += 5000;
    EXPECT_EQ(shown(), "00:00.0");
    press(0, BUTTON_SHORT);
    fake_now += 100;
    EXPECT_EQ(shown(), "00:00.1");
}

TEST_F(StopwatchTest, LapFreezesTheDisplayWhileTheTimeRunsOn)
{
    slots("STW+");
    stw_start(&stw);
    ASSERT_EQ(stw.lap_mode[0], 1u);
    press(0, BUTTON_SHORT);
    fake_now += 12300;
    press(0, BUTTON_SHORT); // lap
    EXPECT_EQ(stw.state[0], (uint32_t)STW_LAP_SHOWN);
    fake_now += 20000;
    EXPECT_EQ(shown(), "00:12.3") << "frozen at the lap";
    blink = 1;
    EXPECT_FALSE(lap_shown());
    blink = 0;
    EXPECT_TRUE(lap_shown()) << "LAP on the dark half of the blink";
    press(0, BUTTON_SHORT); // back to the running time, which kept counting
    EXPECT_EQ(stw.state[0], (uint32_t)STW_RUNNING);
    EXPECT_EQ(shown(), "00:32.3");
    EXPECT_FALSE(lap_shown());
    fake_now += 700;
    EXPECT_EQ(shown(), "00:33.0");
    press(0, BUTTON_LONG); // reset from a lap too
    press(0, BUTTON_SHORT);
    fake_now += 1000;
    press(0, BUTTON_SHORT);
    press(0, BUTTON_LONG);
    EXPECT_EQ(stw.state[0], (uint32_t)STW_STOPPED);
    EXPECT_EQ(shown(), "00:00.0");
}

TEST_F(StopwatchTest, LapAtTenHoursBlinksItsSeparator)
{
    slots("STW+");
    stw_start(&stw);
    press(0, BUTTON_SHORT);
    fake_now += 36300000;
    press(0, BUTTON_SHORT);
    blink = 1;
    EXPECT_EQ(shown(), "10:05");
    blink = 0;
    EXPECT_EQ(shown(), "10 05");
}

TEST(StopwatchLapMode, MarksAndDefault)
{
    struct Case {
        int variant;
        uint32_t lap_default;
        uint32_t mode;
    } cases[] = {{0, 0, 0}, {1, 0, 1}, {2, 0, 0}, {3, 0, 1}, {0, 1, 1}, {1, 1, 0},
                 {2, 1, 1}, {0, 2, 0}, {0, 5, 1}, {1, 0xFFFFFFFFu, 0}, {28, 0, 0}};
    for (const Case &c : cases)
        EXPECT_EQ(stw_lap_mode(c.variant, c.lap_default), c.mode) << c.variant << " + " << c.lap_default;
}

TEST_F(StopwatchTest, LapModeFromMarksAndTheKey)
{
    slots("STW", "CPU STW+", "stw++", "CPU");
    stw_start(&stw);
    EXPECT_EQ(stw.lap_mode[0], 0u);
    EXPECT_EQ(stw.lap_mode[1], 1u);
    EXPECT_EQ(stw.lap_mode[2], 0u);

    config_put(&g_config.entries, "stopwatch_laps", "1");
    stw_configure(&stw);
    EXPECT_EQ(stw.lap_default, 1u);
    EXPECT_EQ(stw.lap_mode[0], 1u) << "the key gives lap mode to STW without '+'";
    EXPECT_EQ(stw.lap_mode[1], 0u) << "and takes it from STW+";
    EXPECT_EQ(stw.lap_mode[2], 1u);

    config_free_entries(&g_config.entries);
    stw_configure(&stw);
    EXPECT_EQ(stw.lap_mode[0], 1u) << "an absent key keeps the value read last";

    config_put(&g_config.entries, "stopwatch_laps", "0");
    stw_configure(&stw);
    EXPECT_EQ(stw.lap_mode[0], 0u);
    EXPECT_EQ(stw.lap_mode[1], 1u);

    config_put(&g_config.entries, "stopwatch_laps", "junk");
    stw_configure(&stw);
    EXPECT_EQ(stw.lap_default, 0u);

    stw_start(&stw);
    EXPECT_EQ(stw.lap_default, 0u) << "start forgets the default before reading the key again";
}

TEST_F(StopwatchTest, ReloadWithoutLapModeResumesAShownLap)
{
    slots("STW+");
    stw_start(&stw);
    press(0, BUTTON_SHORT);
    fake_now += 4000;
    press(0, BUTTON_SHORT);
    ASSERT_EQ(stw.state[0], (uint32_t)STW_LAP_SHOWN);
    fake_now += 1000;
    slots("STW");
    stw_configure(&stw);
    EXPECT_EQ(stw.state[0], (uint32_t)STW_RUNNING);
    EXPECT_EQ(shown(), "00:05.0");
    press(0, BUTTON_SHORT); // now a press stops it
    EXPECT_EQ(stw.state[0], (uint32_t)STW_STOPPED);
}

TEST_F(StopwatchTest, KeepsTimeAcrossTheWrapOfTheCounter)
{
    slots("STW");
    stw_start(&stw);
    fake_now = 0xFFFFF000u; // 4096 ms before the wrap
    press(0, BUTTON_SHORT);
    fake_now = 0x00001000u;
    EXPECT_EQ(shown(), "00:08.1");
    press(0, BUTTON_SHORT);
    EXPECT_EQ(stw.elapsed[0], 8192u);
    fake_now = 0xFFFFFF00u;
    press(0, BUTTON_SHORT);
    fake_now = 0x00000200u;
    EXPECT_EQ(shown(), "00:08.9");
}

TEST_F(StopwatchTest, RunsWhileItsPageIsNotShown)
{
    slots("STW");
    stw_start(&stw);
    press(0, BUTTON_SHORT);
    fake_now += 3723000; // no render meanwhile
    EXPECT_EQ(shown(), "1:02:03");
}

TEST_F(StopwatchTest, TwoSlotsRunIndependentStopwatches)
{
    slots("STW", nullptr, "CPU STW");
    stw_start(&stw);
    press(0, BUTTON_SHORT);
    fake_now += 2000;
    press(2, BUTTON_SHORT);
    fake_now += 1000;
    EXPECT_EQ(shown(0), "00:03.0");
    EXPECT_EQ(shown(2), "00:01.0");
    press(0, BUTTON_SHORT);
    fake_now += 1000;
    EXPECT_EQ(shown(0), "00:03.0");
    EXPECT_EQ(shown(2), "00:02.0");
    press(2, BUTTON_LONG);
    EXPECT_EQ(shown(0), "00:03.0");
    EXPECT_EQ(shown(2), "00:00.0");
}

TEST_F(StopwatchTest, OtherPendingValuesAreLeftAlone)
{
    slots("STW");
    stw_start(&stw);
    g_slots[0].pending_action = 3;
    EXPECT_EQ(stw_render(&stw, 0), 1);
    EXPECT_EQ(g_slots[0].pending_action, 3);
    EXPECT_EQ(stw.state[0], (uint32_t)STW_STOPPED);
}

// ---- Drawing ----------------------------------------------------------------------

std::vector<uint8_t> frame_copy() { return std::vector<uint8_t>(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES); }

// The panel as the stopwatch should draw it, made from the drawing calls.
std::vector<uint8_t> expected_panel(Slot *slot, const char *time, bool lap)
{
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    slot_draw_frame(slot, "STW");
    if (lap)
        lcd_text(&g_lcd, TXT_TINY, slot->x + 23, slot->y + 2, "LAP");
    lcd_text(&g_lcd, TXT_RIGHT, slot->x + 36, slot->y + 14, time);
    std::vector<uint8_t> picture = frame_copy();
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    return picture;
}

bool lit_outside_panel(const std::vector<uint8_t> &frame, const Slot &slot)
{
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++) {
            bool inside = x >= slot.x && x < slot.x + SLOT_WIDTH && y >= slot.y && y < slot.y + SLOT_HEIGHT;
            if (!inside && frame[y * LCD_WIDTH + x])
                return true;
        }
    return false;
}

TEST_F(StopwatchTest, DrawsTheTimeAndTheBlinkingLapInItsPanel)
{
    slots(nullptr, "STW+");
    stw_start(&stw);
    Slot *slot = &g_slots[1];
    press(1, BUTTON_SHORT);
    fake_now += 61250;
    press(1, BUTTON_SHORT); // lap at 01:01.2

    blink = 0;
    std::vector<uint8_t> want = expected_panel(slot, "01:01.2", true);
    ASSERT_EQ(stw_render(&stw, 1), 1);
    std::vector<uint8_t> got = frame_copy();
    EXPECT_TRUE(got == want) << "lap shown, LAP on";
    EXPECT_FALSE(lit_outside_panel(got, *slot));

    blink = 1;
    want = expected_panel(slot, "01:01.2", false);
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    ASSERT_EQ(stw_render(&stw, 1), 1);
    EXPECT_TRUE(frame_copy() == want) << "lap shown, LAP off";

    // the text lies right of column X+36 nowhere, and LAP starts at X+23
    int lap_left = LCD_WIDTH, time_right = -1;
    blink = 0;
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    stw_render(&stw, 1);
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = slot->x + 1; x < slot->x + SLOT_WIDTH - 1; x++) {
            if (!g_lcd.frame[y * LCD_WIDTH + x])
                continue;
            if (y >= slot->y + 2 && y <= slot->y + 6 && x > slot->x + 15 && x < lap_left)
                lap_left = x;
            if (y >= slot->y + 14 && x > time_right)
                time_right = x;
        }
    EXPECT_EQ(lap_left, slot->x + 23);
    EXPECT_LE(time_right, slot->x + 36);
    EXPECT_GE(time_right, slot->x + 34);
}

TEST_F(StopwatchTest, FollowsTheSlotDuringTheSlideIn)
{
    slots("STW");
    stw_start(&stw);
    g_slots[0].y = 30;
    std::vector<uint8_t> want = expected_panel(&g_slots[0], "00:00.0", false);
    ASSERT_EQ(stw_render(&stw, 0), 1);
    EXPECT_TRUE(frame_copy() == want);
}

TEST_F(StopwatchTest, OnlySlotsZeroToThree)
{
    stw_start(&stw);
    EXPECT_EQ(stw_render(&stw, -1), 0);
    EXPECT_EQ(stw_render(&stw, SLOT_COUNT), 0);
    EXPECT_FALSE(lit_outside_panel(frame_copy(), Slot{}));
    for (int k = 0; k < LCD_FRAME_BYTES; k++)
        ASSERT_EQ(g_lcd.frame[k], 0) << k;
}

} // namespace
