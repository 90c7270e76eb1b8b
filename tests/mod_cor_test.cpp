// Core Temp page: the block read through its view and the presses. The
// arithmetic is in the byte tests, the pictures in the end-to-end tests.
#include <gtest/gtest.h>

#include "lcd_thread.h"
#include "mod_cor.h"
#include "sensor_test_block.h"
#include "slots.h"

namespace {

TEST(CoreTemp, ReadsItsBlockIgnoresLongPressesAndGivesWayWhenItCloses)
{
    const char *saved_name = cor_block_name;
    TestBlock block(sizeof(CoreTempLayout));
    ASSERT_NE(block.bytes, nullptr);
    cor_block_name = block.name.c_str();
    CoreTempLayout *ct = block.as<CoreTempLayout>();
    ct->core_count = 2, ct->package_count = 1, ct->temps[0] = 50, ct->temps[1] = 41;
    CoreTempModule cor;
    cor_start(&cor);
    EXPECT_EQ(cor_render(&cor, 0), 0);
    cor_read_block(&cor);
    EXPECT_TRUE(cor.summary.highest == 50 && cor.summary.average == 45);
    slot_init(&g_slots[0], 0);
    for (int action : {BUTTON_SHORT, BUTTON_LONG}) {
        g_slots[0].pending_action = action;
        EXPECT_EQ(cor_render(&cor, 0), 1);
        EXPECT_EQ(g_slots[0].pending_action, action == BUTTON_LONG ? BUTTON_LONG : 0);
    }
    block.close();
    cor_read_block(&cor);
    EXPECT_EQ(cor_render(&cor, 0), 0);
    cor_block_name = saved_name;
}

} // namespace
