// GPU-Z page: the once-a-second copy (busy, short and closed blocks) and
// stepping through the sensors, read through a block of the test's own. The
// pictures are in the end-to-end tests.
#include <gtest/gtest.h>

#include <string>

#include "config.h"
#include "lcd_thread.h"
#include "mod_gpu.h"
#include "popup.h"
#include "sensor_test_block.h"

namespace {

struct GpuTest : ::testing::Test {
    std::unique_ptr<GpuModule> gpu{new GpuModule()};
    TestBlock block{sizeof(GpuzLayout)};
    const char *saved_name = gpu_block_name;

    void SetUp() override
    {
        ASSERT_NE(block.bytes, nullptr);
        gpu_block_name = block.name.c_str();
        block.as<GpuzLayout>()->version = 1;
        config_free_entries(&g_config.entries);
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i);
    }
    void TearDown() override
    {
        gpu_block_name = saved_name;
        popup_clear(&g_popups);
    }
    void name(int sensor, const char16_t *text)
    {
        memcpy(block.as<GpuzLayout>()->sensors[sensor].name, text, 2 * std::char_traits<char16_t>::length(text));
    }
    double &value(int sensor) { return block.as<GpuzLayout>()->sensors[sensor].value; }
    int press(int i, int action)
    {
        g_slots[i].pending_action = action;
        return gpu_choose_sensor(gpu.get(), &g_slots[i], i);
    }
};

TEST_F(GpuTest, BusyBlockKeepsLastValuesForALimitedTime)
{
    name(0, u"Clock");
    value(0) = 405;
    gpu_start(gpu.get());
    gpu_read_block(gpu.get());
    ASSERT_EQ(gpu->present, 1);
    block.as<GpuzLayout>()->busy = 1;
    value(0) = 999;
    for (int second = 0; second < GPU_BUSY_KEEP_SECONDS; second++) {
        gpu_read_block(gpu.get());
        EXPECT_TRUE(gpu->present && gpu->readings.sensors[0].value == 405) << second;
    }
    gpu_read_block(gpu.get());
    EXPECT_EQ(gpu->present, 0) << "busy for too long: GPU-Z hangs";
    block.as<GpuzLayout>()->busy = 0;
    gpu_read_block(gpu.get());
    EXPECT_TRUE(gpu->present && gpu->readings.sensors[0].value == 999);
    block.close();
    gpu_read_block(gpu.get());
    EXPECT_EQ(gpu_render(gpu.get(), 0), 0) << "GPU-Z closed: the page gives way";
}

TEST_F(GpuTest, AViewShorterThanTheLayoutIsNotRead)
{
    TestBlock short_block(4096);
    short_block.as<GpuzLayout>()->version = 1;
    gpu_block_name = short_block.name.c_str();
    gpu_start(gpu.get());
    gpu_read_block(gpu.get());
    EXPECT_EQ(gpu->present, 0);
}

TEST_F(GpuTest, StepsFromThePlusMarksWrapToTheFirstNamedSensorLongPressNamesIt)
{
    name(1, u"Load"), name(3, u"Temp\u00e9rature GPU"), name(127, u"Last");
    slot_parse_value(&g_slots[2], "CPU GPU++");
    gpu_start(gpu.get());
    gpu_read_block(gpu.get());
    EXPECT_EQ(press(2, 0), 3) << "GPU++ starts at sensor 2, which has no name";
    EXPECT_EQ(press(2, BUTTON_SHORT), 127);
    EXPECT_EQ(press(2, BUTTON_SHORT), 1) << "past the last one: the first named one";
    EXPECT_EQ(press(0, 0), 1);
    EXPECT_EQ(press(2, BUTTON_SHORT), 3);

    g_slots[2].pending_action = BUTTON_LONG;
    EXPECT_EQ(gpu_render(gpu.get(), 2), 1);
    ASSERT_NE(g_popups.head, nullptr);
    EXPECT_STREQ(g_popups.head->text, "GPU-Z sensor 3: Temp\xc3\xa9rature GPU");
    EXPECT_EQ(g_popups.head->key, (uint32_t)GPU_POPUP_KEY);

    gpu_configure(gpu.get());
    EXPECT_EQ(gpu->position[2], 2u) << "a reload returns to the starting sensor";
    memset(block.as<GpuzLayout>()->sensors, 0, sizeof block.as<GpuzLayout>()->sensors);
    gpu_read_block(gpu.get());
    EXPECT_EQ(press(2, BUTTON_LONG), -1);
    EXPECT_EQ(gpu_render(gpu.get(), 2), 1) << "no named sensor: the frame alone";
}

} // namespace
