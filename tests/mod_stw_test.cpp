// The stopwatch, worked through the slot's pending press with a fake clock.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "app.h"
#include "config.h"
#include "golden.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "slots.h"
#include "mod_stw.h"

namespace {

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }

struct StopwatchTest : ::testing::Test {
    StopwatchModule stw;
    AppClock saved_clock = app_clock;
    int saved_blink = blink;

    void SetUp() override
    {
        app_clock = fake_clock, fake_now = 5000, blink = 1;
        config_free_entries(&g_config.entries);
    }
    void TearDown() override
    {
        config_free_entries(&g_config.entries);
        app_clock = saved_clock, blink = saved_blink;
    }
    void start(const char *s0, const char *s1 = nullptr, const char *s2 = nullptr, const char *s3 = nullptr)
    {
        const char *values[SLOT_COUNT] = {s0, s1, s2, s3};
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i), slot_parse_value(&g_slots[i], values[i]);
        stw_start(&stw);
    }
    std::string shown(int i = 0)
    {
        StopwatchView v;
        stw_update(&stw, &g_slots[i], i, fake_now, blink, &v);
        return v.text;
    }
    void press(int i, int action, uint32_t then = 0) // then `then` ms pass
    {
        g_slots[i].pending_action = action;
        EXPECT_EQ(stw_render(&stw, i), 1);
        EXPECT_EQ(g_slots[i].pending_action, 0);
        fake_now += then;
    }
};

// Slot 0 stopped at 10:05, slot 1 running at 1:02:23, slot 2 running at 10:05,
// slot 3 (lap mode) showing a lap at 00:12.3 while its time runs on; none is
// drawn between its presses. The ':' of a running long time and "LAP" blink.
TEST_F(StopwatchTest, PagesWithBothHalvesOfTheBlinkAndTheLap)
{
    const bool own_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;
    ASSERT_NE(g_lcd.frame, nullptr);
    start("STW", "STW", "STW", "STW+");
    press(0, BUTTON_SHORT), press(2, BUTTON_SHORT, 36300000 - 3723000);
    press(1, BUTTON_SHORT, 3723000 - 12300);
    press(3, BUTTON_SHORT, 12300);
    press(0, BUTTON_SHORT), press(3, BUTTON_SHORT, 20000);
    for (blink = 1; blink >= 0; blink--) {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        for (int i = 0; i < SLOT_COUNT; i++)
            EXPECT_EQ(stw_render(&stw, i), 1);
        EXPECT_GOLDEN_AREA(blink ? "stw_pages_blink_on" : "stw_pages_blink_off", g_lcd.frame, 0, 22, 160, 21);
    }
    press(3, BUTTON_SHORT);
    EXPECT_EQ(shown(3), "00:32.3") << "the time ran on from the lap";
    press(3, BUTTON_SHORT), press(3, BUTTON_LONG); // reset from a shown lap
    EXPECT_EQ(shown(3), "00:00.0");
    if (own_surface)
        lcd_destroy_surface(&g_lcd);
}

TEST_F(StopwatchTest, StartStopResumeResetAndTheCounterWrap)
{
    start("STW");
    EXPECT_EQ(shown(), "00:00.0");
    fake_now = 0xFFFFF000u; // 4096 ms before the wrap
    press(0, BUTTON_SHORT);
    fake_now = 0x00000400u;
    press(0, BUTTON_SHORT, 60000); // a stopped stretch does not count
    press(0, BUTTON_SHORT, 2000);
    EXPECT_EQ(shown(), "00:07.1");
    g_slots[0].pending_action = 3; // not a press this module knows
    stw_render(&stw, 0);
    EXPECT_EQ(g_slots[0].pending_action, 3);
    press(0, BUTTON_LONG, 5000);
    EXPECT_EQ(shown(), "00:00.0") << "reset leaves it stopped";
}

TEST_F(StopwatchTest, LapModeFromPlusMarksAndTheKey)
{
    start("STW", "CPU STW+", "stw++"); // without, then with the key
    EXPECT_TRUE(stw.lap_mode[0] == 0 && stw.lap_mode[1] == 1 && stw.lap_mode[2] == 0);
    config_put(&g_config.entries, "stopwatch_laps", "1");
    stw_configure(&stw);
    EXPECT_TRUE(stw.lap_mode[0] == 1 && stw.lap_mode[1] == 0 && stw.lap_mode[2] == 1);
    press(0, BUTTON_SHORT, 4000); // a reload taking lap mode away resumes a shown lap
    press(0, BUTTON_SHORT, 1000);
    config_free_entries(&g_config.entries); // the key deleted: its default, no laps
    stw_configure(&stw);
    EXPECT_EQ(stw.state[0], (uint32_t)STW_RUNNING);
    EXPECT_EQ(shown(0), "00:05.0");
}

} // namespace
