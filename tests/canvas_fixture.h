// Common ground of the overlay tests (pop-ups, ticker, top line): a millisecond
// clock the test sets, and the global surface g_lcd, created if missing, dark.
#pragma once
#include <gtest/gtest.h>

#include <string.h>

#include "app.h"
#include "golden.h"
#include "lcd.h"

namespace canvas_tests {

inline uint32_t fake_now;
inline uint32_t fake_clock() { return fake_now; }
inline void clear_frame() { memset(g_lcd.frame, 0, LCD_FRAME_BYTES); }

class CanvasTest : public ::testing::Test {
protected:
    AppClock saved_clock = app_clock;
    bool created_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;

    void SetUp() override
    {
        ASSERT_NE(nullptr, g_lcd.frame);
        app_clock = fake_clock;
        fake_now = 1000;
        clear_frame();
    }
    void TearDown() override
    {
        app_clock = saved_clock;
        if (created_surface)
            lcd_destroy_surface(&g_lcd);
    }
};

} // namespace canvas_tests
