// Common ground of the overlay tests (pop-ups, ticker): a millisecond clock the
// test sets, and the global surface g_lcd, created for the test if missing.
#pragma once
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "app.h"
#include "lcd.h"

namespace canvas_tests {

typedef std::vector<uint8_t> Frame;

inline uint32_t fake_now;
inline uint32_t fake_clock() { return fake_now; }
inline Frame frame_copy() { return Frame(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES); }

class CanvasTest : public ::testing::Test {
protected:
    AppClock saved_clock = app_clock;
    bool created_surface = false;

    void SetUp() override
    {
        app_clock = fake_clock;
        fake_now = 1000;
        if (!g_lcd.frame) {
            ASSERT_EQ(1, lcd_create_surface(&g_lcd));
            created_surface = true;
        }
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    }
    void TearDown() override
    {
        app_clock = saved_clock;
        if (created_surface)
            lcd_destroy_surface(&g_lcd);
    }
};

} // namespace canvas_tests
