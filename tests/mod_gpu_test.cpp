// GPU-Z page: how long a busy block keeps its values, and stepping past the
// last sensor, read through a block of the test's own. The pictures, the
// presses and the short block are in the end-to-end tests.
#include <gtest/gtest.h>

#include <string>

#include "lcd_thread.h"
#include "mod_gpu.h"
#include "popup.h"
#include "sensor_test_block.h"

namespace {

struct GpuTest : ::testing::Test {
    std::unique_ptr<GpuModule> gpu{new GpuModule()};
    TestBlock block;
    GpuzLayout *gz = block.as<GpuzLayout>();
    const char *saved_name = gpu_block_name;

    void SetUp() override
    {
        ASSERT_NE(block.bytes, nullptr);
        gpu_block_name = block.name.c_str(), gz->version = 1;
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i);
    }
    void TearDown() override { gpu_block_name = saved_name, popup_clear(&g_popups); }
    void name(int sensor, const std::u16string &text) { memcpy(gz->sensors[sensor].name, text.data(), 2 * text.size()); }
    int press(int i, int action)
    {
        g_slots[i].pending_action = action;
        return gpu_choose_sensor(gpu.get(), &g_slots[i], i);
    }
};

TEST_F(GpuTest, BusyBlockKeepsLastValuesForALimitedTime)
{
    gz->sensors[0].value = 405;
    gpu_start(gpu.get());
    gpu_read_block(gpu.get());
    gz->busy = 1, gz->sensors[0].value = 999;
    for (int second = 0; second < GPU_BUSY_KEEP_SECONDS; second++) {
        gpu_read_block(gpu.get());
        EXPECT_TRUE(gpu->present && gpu->readings.sensors[0].value == 405) << second;
    }
    gpu_read_block(gpu.get());
    EXPECT_EQ(gpu->present, 0) << "busy for too long: GPU-Z hangs";
    gz->busy = 0;
    gpu_read_block(gpu.get());
    EXPECT_TRUE(gpu->present && gpu->readings.sensors[0].value == 999);
}

TEST_F(GpuTest, StepsWrapToTheFirstNamedSensorLongPressNamesIt)
{
    name(1, u"Load"), name(3, u"Temp\u00e9rature GPU");
    slot_parse_value(&g_slots[2], "CPU GPU++");
    gpu_start(gpu.get());
    gpu_read_block(gpu.get());
    EXPECT_EQ(press(2, 0), 3) << "GPU++ starts at sensor 2, which has no name";
    EXPECT_EQ(press(2, BUTTON_SHORT), 1) << "past the last one: the first named one";
    EXPECT_EQ(press(2, BUTTON_SHORT), 3);
    g_slots[2].pending_action = BUTTON_LONG;
    EXPECT_EQ(gpu_render(gpu.get(), 2), 1);
    ASSERT_NE(g_popups.head, nullptr);
    EXPECT_STREQ(g_popups.head->text, "GPU-Z sensor 3: Temp\xc3\xa9rature GPU");

    memset(gz->sensors, 0, sizeof gz->sensors);
    gpu_read_block(gpu.get());
    EXPECT_EQ(press(2, BUTTON_LONG), -1);
    EXPECT_EQ(gpu_render(gpu.get(), 2), 1) << "no named sensor: the frame alone";
}

} // namespace
