// SpeedFan page: modes from the settings, a page without a usable mode and
// stepping by time, read through a block of the test's own. The pictures and
// the presses are in the end-to-end tests.
#include <gtest/gtest.h>

#include <string>

#include "config.h"
#include "lcd_thread.h"
#include "mod_fan.h"
#include "sensor_test_block.h"

namespace {

struct FanTest : ::testing::Test {
    FanModule fan;
    TestBlock block;
    const char *saved_name = fan_block_name;

    void SetUp() override
    {
        ASSERT_NE(block.bytes, nullptr);
        fan_block_name = block.name.c_str();
        config_free_entries(&g_config.entries);
    }
    void TearDown() override { config_free_entries(&g_config.entries), fan_block_name = saved_name; }
    void start(const char *slot1, std::initializer_list<const char *> modes)
    {
        int m = 0;
        for (const char *mode : modes)
            config_put(&g_config.entries, ("fan_mode_" + std::to_string(m++)).c_str(), mode);
        slot_init(&g_slots[0], 0), slot_parse_value(&g_slots[0], "FAN");
        slot_init(&g_slots[1], 1), slot_parse_value(&g_slots[1], slot1);
        fan_start(&fan);
        SpeedFanLayout *sf = block.as<SpeedFanLayout>(); // two temperatures, one fan, one voltage
        sf->version = 1, sf->temp_count = 2, sf->fan_count = 1, sf->volt_count = 1;
        fan_read_block(&fan);
    }
};

TEST_F(FanTest, ModeSettingsAndTheirDefaultsAfterAReload)
{
    const struct { const char *value, *label; int kind, sensor; } cases[] = {
        {"Chassis fan 3", "Chassi", FAN_KIND_FAN, 3}, {"V\tVolt", "V", FAN_KIND_VOLT, -1},
        {"X Rpm 1", "X", FAN_KIND_NONE, 1},          {"X TEMP 4294967295", "X", FAN_KIND_TEMP, -1},
        {"   ", "", FAN_KIND_NONE, -1},
    };
    for (const auto &c : cases) {
        FanMode mode;
        fan_parse_mode(c.value, &mode);
        EXPECT_TRUE(std::string(mode.label) == c.label && mode.kind == c.kind && mode.sensor == c.sensor) << c.value;
    }
    for (const char *key : {"fan_cycle_interval", "fan_cycle", "fan_farenheit"})
        config_put(&g_config.entries, key, "7");
    start("FAN", {"CPU TEMP 0"});
    EXPECT_TRUE(fan.cycle_interval == 7 && fan.cycling[1] == 7 && fan.fahrenheit == 1);
    config_free_entries(&g_config.entries);
    fan_configure(&fan);
    EXPECT_TRUE(fan.cycle_interval == 0 && fan.cycling[1] == 0 && fan.fahrenheit == 0 && !fan.modes[0].label[0])
        << "deleted keys give the defaults";
}

TEST_F(FanTest, WithoutAUsableModeOnlyTheFrameShows)
{
    start("FAN", {"CPU TEMP 5", "Gone VOLT -1", "NoKind RPM 0"});
    g_slots[0].pending_action = BUTTON_SHORT;
    EXPECT_EQ(fan_choose_mode(&fan, &g_slots[0], 0), -1);
    EXPECT_EQ(fan.current[0], 1u);
    EXPECT_EQ(fan_render(&fan, 0), 1);
}

TEST_F(FanTest, CyclingStepsCyclingSlotsTogetherLongPressStopsOne)
{
    config_put(&g_config.entries, "fan_cycle_interval", "50");
    config_put(&g_config.entries, "fan_cycle", "1");
    start("FAN+++++++++", {});
    const uint32_t t = 0xFFFFE000u; // 8192 ms before the clock wraps
    fan_cycle_step(&fan, t);        // the first step's time
    fan_cycle_step(&fan, t + 4999);
    EXPECT_EQ(fan.current[0], 0u);
    fan_cycle_step(&fan, t + 5000);
    EXPECT_TRUE(fan.current[0] == 1 && fan.current[1] == 0) << "9 wraps to 0";
    g_slots[1].pending_action = BUTTON_LONG;
    fan_choose_mode(&fan, &g_slots[1], 1);
    fan_cycle_step(&fan, t + 10000); // past the clock's wrap
    EXPECT_TRUE(fan.current[0] == 2 && fan.current[1] == 0) << "slot 1 stopped";
}

} // namespace
