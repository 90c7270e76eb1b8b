// The stopwatch, worked through the slot's pending press with a fake clock.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "app.h"
#include "config.h"
#include "lcd_thread.h"
#include "slots.h"
#include "mod_stw.h"

namespace {

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }

struct StopwatchTest : ::testing::Test {
    StopwatchModule stw;
    Slot saved_slots[SLOT_COUNT];
    AppClock saved_clock = app_clock;
    int saved_blink = blink;

    void SetUp() override
    {
        memcpy(saved_slots, g_slots, sizeof saved_slots);
        app_clock = fake_clock, fake_now = 5000, blink = 1;
        config_free_entries(&g_config.entries);
        for (Slot &s : g_slots)
            s = Slot{};
    }
    void TearDown() override
    {
        config_free_entries(&g_config.entries);
        memcpy(g_slots, saved_slots, sizeof saved_slots);
        app_clock = saved_clock, blink = saved_blink;
    }
    void start(const char *s0, const char *s1 = nullptr, const char *s2 = nullptr)
    {
        const char *values[SLOT_COUNT] = {s0, s1, s2, nullptr};
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_parse_value(&g_slots[i], values[i]);
        stw_start(&stw);
    }
    StopwatchView view(int i = 0)
    {
        StopwatchView v;
        stw_update(&stw, &g_slots[i], i, fake_now, blink, &v);
        return v;
    }
    std::string shown(int i = 0) { return view(i).text; }

    void press(int i, int action, uint32_t then = 0) // then `then` ms pass
    {
        g_slots[i].pending_action = action;
        EXPECT_EQ(stw_render(&stw, i), 1);
        EXPECT_EQ(g_slots[i].pending_action, 0);
        fake_now += then;
    }
};

TEST_F(StopwatchTest, DisplayFormsBlinkOnlyWhileRunning)
{
    const struct { uint32_t ms; const char *blink_on, *blink_off; } forms[] = {
        {61250, "01:01.2", "01:01.2"}, {3723000, "1:02:03", "1:02:03"}, {36300000, "10:05", "10 05"}};
    start("STW");
    EXPECT_EQ(shown(), "00:00.0");
    for (const auto &c : forms) {
        SCOPED_TRACE(c.ms);
        stw_start(&stw);
        press(0, BUTTON_SHORT, c.ms); // no render meanwhile: it runs while not shown
        blink = 1;
        EXPECT_EQ(shown(), c.blink_on);
        blink = 0;
        EXPECT_EQ(shown(), c.blink_off);
        press(0, BUTTON_SHORT, 777777);
        EXPECT_EQ(shown(), c.blink_on) << "stopped: still, and no blinking";
    }
}

TEST_F(StopwatchTest, StartStopResumeResetAndTheCounterWrap)
{
    start("STW");
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
    EXPECT_EQ(stw_render(&stw, -1) + stw_render(&stw, SLOT_COUNT), 0);
}

TEST_F(StopwatchTest, LapFreezesTheDisplayWhileTheTimeRunsOn)
{
    start("STW+");
    press(0, BUTTON_SHORT, 12300);
    press(0, BUTTON_SHORT, 20000);
    EXPECT_EQ(shown(), "00:12.3");
    EXPECT_FALSE(view().show_lap);
    blink = 0;
    EXPECT_TRUE(view().show_lap) << "LAP on the dark half of the blink";
    press(0, BUTTON_SHORT);
    EXPECT_EQ(shown(), "00:32.3");
    EXPECT_FALSE(view().show_lap);
    press(0, BUTTON_SHORT);
    press(0, BUTTON_LONG); // reset from a shown lap
    EXPECT_EQ(shown(), "00:00.0");
}

TEST_F(StopwatchTest, LapModeFromPlusMarksAndTheKey)
{
    start("STW", "CPU STW+", "stw++"); // without, then with the key
    EXPECT_TRUE(stw.lap_mode[0] == 0 && stw.lap_mode[1] == 1 && stw.lap_mode[2] == 0);
    config_put(&g_config.entries, "stopwatch_laps", "1");
    stw_configure(&stw);
    EXPECT_TRUE(stw.lap_mode[0] == 1 && stw.lap_mode[1] == 0 && stw.lap_mode[2] == 1);
    config_free_entries(&g_config.entries);
    stw_configure(&stw);
    EXPECT_EQ(stw.lap_mode[0], 1u) << "an absent key keeps the value read last";

    press(0, BUTTON_SHORT, 4000); // a reload taking lap mode away resumes a shown lap
    press(0, BUTTON_SHORT, 1000);
    config_put(&g_config.entries, "stopwatch_laps", "0");
    stw_configure(&stw);
    EXPECT_EQ(stw.state[0], (uint32_t)STW_RUNNING);
    EXPECT_EQ(shown(0), "00:05.0");
}

TEST_F(StopwatchTest, TwoSlotsRunIndependentStopwatches)
{
    start("STW", nullptr, "CPU STW");
    press(0, BUTTON_SHORT, 2000);
    press(2, BUTTON_SHORT, 1000);
    press(0, BUTTON_SHORT, 1000);
    EXPECT_EQ(shown(0) + shown(2), "00:03.000:02.0");
    press(2, BUTTON_LONG);
    EXPECT_EQ(shown(0) + shown(2), "00:03.000:00.0");
}

} // namespace
