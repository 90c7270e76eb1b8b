// The link end to end, against the LCD Manager stand-in process and its real
// server library: a killed and restarted LCD Manager, a hung one, and buttons
// pressed in the stand-in.
#include "link_fixture.h"
#include "lcdmon_standin.h"

using namespace link_tests;

namespace {

// A copy of the stand-in's whole shared block, taken under its lock.
bool read_block(std::vector<uint8_t> *copy)
{
    copy->resize(sizeof(LcdMonBlock));
    LcdMonAccess access;
    if (!lcdmon_attach(&access))
        return false;
    bool ok = lcdmon_lock(access.lock, 2000);
    if (ok) {
        memcpy(copy->data(), access.block, sizeof(LcdMonBlock));
        ReleaseMutex(access.lock);
    }
    lcdmon_detach(&access);
    return ok;
}

uint32_t frames_on_display_0()
{
    std::vector<uint8_t> copy;
    return read_block(&copy) ? ((const LcdMonBlock *)copy.data())->frame_count[0] : 0;
}

class StandInLink : public ::testing::Test {
protected:
    StandInSession session; // destroyed last: the link is stopped before
    Lcd lcd{};

    void SetUp() override
    {
        ASSERT_TRUE(session.ready);
        lcd_manager_calls = lcd_manager_client;
        ASSERT_TRUE(session.register_standin());
    }

    void TearDown() override
    {
        lcdmon_command("hang off", 0, 0, 1000);
        lcd_destroy_surface(&lcd);
    }

    void open_connected(int device_index = 0)
    {
        ASSERT_TRUE(session.start());
        ASSERT_EQ(lcd_open(&lcd, "Wick's panel", 1, 1, device_index), 1);
        ASSERT_TRUE(WAIT_UNTIL(lcd.link && lcd.link->disconnected == 0, 5000));
    }

    // Ticks every 100 ms like the main loop until a frame is taken again;
    // returns the milliseconds that took, or -1.
    long ticks_until_delivered(unsigned timeout_ms)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < timeout_ms) {
            draw_pattern(lcd.frame, 1);
            if (lcd_submit(&lcd) == 1)
                return (long)(GetTickCount() - start);
            Sleep(100);
        }
        return -1;
    }

    int event_within(int button, unsigned timeout_ms)
    {
        int event = BUTTON_NONE;
        WAIT_UNTIL((event = lcd_button_event(&lcd, button)) != BUTTON_NONE, timeout_ms);
        return event;
    }
};

TEST_F(StandInLink, FramesArriveByteExactAndResumeAfterARestart)
{
    open_connected();
    draw_pattern(lcd.frame, 3);
    std::vector<uint8_t> drawn(lcd.frame, lcd.frame + LCD_FRAME_BYTES), copy;
    uint32_t first = frames_on_display_0();
    ASSERT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(WAIT_UNTIL(frames_on_display_0() > first, 2000));
    ASSERT_TRUE(read_block(&copy));
    EXPECT_EQ(memcmp(((const LcdMonBlock *)copy.data())->frame[0], drawn.data(), LCD_FRAME_BYTES), 0);
    session.kill();
    // The next frame finds the device gone (1167): the link falls back.
    ASSERT_TRUE(WAIT_UNTIL((lcd_submit(&lcd), lcd.link->disconnected == 1), 3000));
    EXPECT_EQ(lcd_submit(&lcd), 0);
    ASSERT_TRUE(session.start());
    long took = ticks_until_delivered(6000);
    ASSERT_GE(took, 0);
    EXPECT_LE(took, 4000); // within the two-second retry and a connection
    uint32_t before = frames_on_display_0();
    EXPECT_EQ(lcd_submit(&lcd), 1);
    EXPECT_TRUE(WAIT_UNTIL(frames_on_display_0() > before, 2000));
}

TEST_F(StandInLink, HangIsReplacedWithinAboutOneSecond)
{
    open_connected();
    ASSERT_TRUE(standin_command("hang on"));
    EXPECT_EQ(lcd_submit(&lcd), 1);
    uint32_t in_update = 0;
    ASSERT_TRUE(WAIT_UNTIL(standin_read(&LcdMonBlock::in_update, &in_update) && in_update == 1, 3000));

    const char *wait_text = "WaitForSingleObject() returned WAIT_TIMEOUT 00000102";
    int waits = error_lines_with("src/lcd(357)", wait_text);
    LcdLink *stuck = lcd.link;
    draw_pattern(lcd.frame, 2);
    DWORD start = GetTickCount();
    EXPECT_EQ(lcd_submit(&lcd), 0);
    EXPECT_NEAR(GetTickCount() - start, 1250.0, 350.0);
    EXPECT_FALSE(frame_is_dark(lcd.frame)); // not taken: the next tick draws over it
    EXPECT_NE(lcd.link, stuck);
    EXPECT_GE(error_lines_with("src/lcd(357)", wait_text) - waits, 1);
    // The main loop goes on ticking without waiting for the stuck thread.
    for (int tick = 0; tick < 5; tick++) {
        DWORD before = GetTickCount();
        lcd_submit(&lcd);
        EXPECT_LT(GetTickCount() - before, 200u);
    }
    ASSERT_TRUE(standin_command("hang off"));
    EXPECT_GE(ticks_until_delivered(6000), 0);
}

TEST_F(StandInLink, ButtonsPressedInTheStandIn)
{
    open_connected();
    ASSERT_TRUE(standin_command("press 4 100"));
    EXPECT_EQ(event_within(2, 2000), BUTTON_SHORT);
    ASSERT_TRUE(standin_command("press 8 100 ctrl"));
    EXPECT_EQ(event_within(3, 2000), BUTTON_NEXT_PAGE);
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
    ASSERT_TRUE(standin_command("buttons 15"));
    EXPECT_TRUE(WAIT_UNTIL(lcd_quit_requested(&lcd) == 1, 2000));
}

} // namespace
