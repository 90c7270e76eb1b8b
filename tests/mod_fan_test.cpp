// SpeedFan page: modes from the settings, stepping by presses and by time,
// read through a block of the test's own. The pictures are in the
// end-to-end tests.
#include <gtest/gtest.h>

#include <string>

#include "app.h"
#include "config.h"
#include "lcd_thread.h"
#include "mod_fan.h"
#include "sensor_test_block.h"

namespace {

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }

struct FanTest : ::testing::Test {
    FanModule fan;
    TestBlock block{sizeof(SpeedFanLayout)};
    const char *saved_name = fan_block_name;
    AppClock saved_clock = app_clock;

    void SetUp() override
    {
        ASSERT_NE(block.bytes, nullptr);
        fan_block_name = block.name.c_str();
        app_clock = fake_clock, fake_now = 1000;
        config_free_entries(&g_config.entries);
    }
    void TearDown() override
    {
        config_free_entries(&g_config.entries);
        fan_block_name = saved_name, app_clock = saved_clock;
    }
    void start(const char *slot0, const char *slot1, std::initializer_list<const char *> modes)
    {
        int m = 0;
        for (const char *mode : modes)
            config_put(&g_config.entries, ("fan_mode_" + std::to_string(m++)).c_str(), mode);
        slot_init(&g_slots[0], 0), slot_parse_value(&g_slots[0], slot0);
        slot_init(&g_slots[1], 1), slot_parse_value(&g_slots[1], slot1);
        fan_start(&fan);
    }
    // Two temperatures, one fan, one voltage.
    void publish(uint16_t version = 1)
    {
        SpeedFanLayout *sf = block.as<SpeedFanLayout>();
        sf->version = version, sf->temp_count = 2, sf->fan_count = 1, sf->volt_count = 1;
        sf->temps[1] = 4550;
        fan_read_block(&fan);
    }
    int press(int i, int action)
    {
        g_slots[i].pending_action = action;
        return fan_choose_mode(&fan, &g_slots[i], i);
    }
};

TEST_F(FanTest, ModeSettingsAndTheirDefaultsAfterAReload)
{
    const struct {
        const char *value;
        const char *label;
        int kind, sensor;
    } cases[] = {
        {"CPU TEMP 0", "CPU", FAN_KIND_TEMP, 0}, {"Chassis fan 3", "Chassi", FAN_KIND_FAN, 3},
        {"V\tVolt", "V", FAN_KIND_VOLT, -1},    {"X Rpm 1", "X", FAN_KIND_NONE, 1},
        {"X TEMP -1", "X", FAN_KIND_TEMP, -1},  {"X TEMP 4294967295", "X", FAN_KIND_TEMP, -1},
        {"   ", "", FAN_KIND_NONE, -1},
    };
    for (const auto &c : cases) {
        FanMode mode;
        fan_parse_mode(c.value, &mode);
        EXPECT_TRUE(std::string(mode.label) == c.label && mode.kind == c.kind && mode.sensor == c.sensor) << c.value;
    }
    for (const char *key : {"fan_cycle_interval", "fan_cycle", "fan_farenheit"})
        config_put(&g_config.entries, key, "7");
    start("FAN", "FAN", {"CPU TEMP 0"});
    EXPECT_TRUE(fan.cycle_interval == 7 && fan.cycling[1] == 7 && fan.fahrenheit == 1);
    config_free_entries(&g_config.entries);
    fan_configure(&fan);
    EXPECT_TRUE(fan.cycle_interval == 0 && fan.cycling[1] == 0 && fan.fahrenheit == 0 && !fan.modes[0].label[0])
        << "deleted keys give the defaults";
}

TEST_F(FanTest, PressesSkipModesWithoutAReadingAndWrap)
{
    start("FAN+", "FAN", {"CPU TEMP 1", "Board TEMP 2", "Fan1 FAN 0", "", "Gone VOLT -1", "NoKind RPM 0"});
    EXPECT_EQ(fan_render(&fan, 0), 0) << "no block read yet";
    publish(2);
    EXPECT_EQ(fan_render(&fan, 0), 0) << "version 2 is not SpeedFan's";
    publish();
    EXPECT_EQ(press(0, 0), 2) << "FAN+ starts at mode 1, which has no reading";
    EXPECT_EQ(press(0, BUTTON_SHORT), 0) << "no mode after 2 can be shown: round to 0";
    EXPECT_EQ(press(0, BUTTON_SHORT), 2);
    EXPECT_EQ(press(1, 0), 0) << "the other slot keeps its own mode";

    SpeedFanLayout *sf = block.as<SpeedFanLayout>();
    sf->temp_count = 1, sf->fan_count = 0;
    fan_read_block(&fan);
    EXPECT_EQ(press(0, 0), -1) << "nothing to show";
    EXPECT_EQ(fan_render(&fan, 0), 1) << "the frame alone";
    block.close();
    fan_read_block(&fan);
    EXPECT_EQ(fan_render(&fan, 0), 0) << "SpeedFan closed: the page gives way";
    EXPECT_EQ(fan.current[0], 2u) << "the mode survives";
}

TEST_F(FanTest, CyclingStepsCyclingSlotsTogetherLongPressStopsOne)
{
    config_put(&g_config.entries, "fan_cycle_interval", "50");
    config_put(&g_config.entries, "fan_cycle", "1");
    start("FAN", "FAN+++++++++", {});
    fan_cycle_step(&fan, 1000);
    EXPECT_EQ(fan.current[0], 0u) << "no readings: no stepping";
    publish();
    const uint32_t t = 0xFFFFE000u; // 8192 ms before the clock wraps
    fan_cycle_step(&fan, t);        // the first step's time
    fan_cycle_step(&fan, t + 4999);
    EXPECT_EQ(fan.current[0], 0u);
    fan_cycle_step(&fan, t + 5000);
    EXPECT_TRUE(fan.current[0] == 1 && fan.current[1] == 0) << "9 wraps to 0";
    press(1, BUTTON_LONG);
    EXPECT_EQ(g_slots[1].pending_action, 0);
    fan_cycle_step(&fan, t + 10000); // past the clock's wrap
    EXPECT_TRUE(fan.current[0] == 2 && fan.current[1] == 0) << "slot 1 stopped";
}

} // namespace
