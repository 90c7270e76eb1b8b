// The link end to end, against the LCD Manager stand-in process and its real
// server library: delivery, a killed and restarted LCD Manager, a hung one,
// a missing second display, and buttons pressed in the stand-in.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "lcd_thread.h"
#include "lcdmon_standin.h"
#include "link_fixture.h"
#include "log_files.h"

namespace {

// A copy of the stand-in's whole shared block, taken under its lock.
struct BlockCopy {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(sizeof(LcdMonBlock));
    const LcdMonBlock *block() const { return (const LcdMonBlock *)bytes.data(); }
};

bool read_block(BlockCopy *copy)
{
    LcdMonAccess access;
    if (!lcdmon_attach(&access))
        return false;
    bool ok = lcdmon_lock(access.lock, 2000);
    if (ok) {
        memcpy(copy->bytes.data(), access.block, sizeof(LcdMonBlock));
        ReleaseMutex(access.lock);
    }
    lcdmon_detach(&access);
    return ok;
}

uint32_t frames_on_display_0()
{
    BlockCopy copy;
    return read_block(&copy) ? copy.block()->frame_count[0] : 0;
}

int count_lines_with(const std::string &a, const std::string &b)
{
    std::string text = read_binary_file(log_path("errors.txt"));
    int n = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        n += line.find(a) != std::string::npos && line.find(b) != std::string::npos;
        start = end + 1;
    }
    return n;
}

void draw_pattern(uint8_t *frame, int seed)
{
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        frame[i] = ((i * 13 + seed) % 7) < 3 ? 255 : 0;
}

bool frame_is_dark(const uint8_t *frame)
{
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        if (frame[i])
            return false;
    return true;
}

DWORD WINAPI run_storm(LPVOID)
{
    return (DWORD)lcdmon_command("storm 10000 10000", 0, 0, 20000);
}

class StandInLink : public ::testing::Test {
protected:
    StandInSession session; // destroyed last: the link is stopped before
    Lcd lcd{};

    void SetUp() override
    {
        ASSERT_TRUE(session.ready);
        lcd_manager_calls = lcd_manager_client;
    }

    void TearDown() override
    {
        lcdmon_command("hang off", 0, 0, 1000);
        lcd_destroy_surface(&lcd);
    }

    void open(int device_index = 0)
    {
        ASSERT_EQ(lcd_open(&lcd, "Wick's panel", 1, 1, device_index), 1);
    }

    bool connected(unsigned timeout_ms)
    {
        return WAIT_UNTIL(lcd.link && lcd.link->disconnected == 0, timeout_ms);
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

    // The event of a button once the stand-in's presses reached it.
    int event_within(int button, unsigned timeout_ms)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < timeout_ms) {
            int event = lcd_button_event(&lcd, button);
            if (event)
                return event;
            Sleep(20);
        }
        return 0;
    }
};

TEST_F(StandInLink, FramesArriveByteExact)
{
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    open();
    ASSERT_TRUE(connected(5000));
    for (int n = 1; n <= 3; n++) {
        uint32_t before = frames_on_display_0();
        draw_pattern(lcd.frame, n);
        std::vector<uint8_t> drawn(lcd.frame, lcd.frame + LCD_FRAME_BYTES);
        ASSERT_EQ(lcd_submit(&lcd), 1);
        EXPECT_TRUE(frame_is_dark(lcd.frame));
        ASSERT_TRUE(WAIT_UNTIL(frames_on_display_0() > before, 2000));
        BlockCopy copy;
        ASSERT_TRUE(read_block(&copy));
        EXPECT_EQ(memcmp(copy.block()->frame[0], drawn.data(), LCD_FRAME_BYTES), 0) << n;
    }
}

TEST_F(StandInLink, WithoutLcdManagerInstalledEveryTickGivesZeroAndADarkFrame)
{
    open(); // nothing registered in this session's registry
    for (int tick = 0; tick < 15; tick++) {
        draw_pattern(lcd.frame, tick);
        EXPECT_EQ(lcd_submit(&lcd), 0);
        EXPECT_TRUE(frame_is_dark(lcd.frame));
        Sleep(20);
    }
}

TEST_F(StandInLink, InstalledButNotRunningIsQuiet)
{
    ASSERT_TRUE(session.register_standin());
    int before = count_lines_with("src/lcd_thread(189)", "(2)");
    open();
    for (int tick = 0; tick < 10; tick++) {
        draw_pattern(lcd.frame, tick);
        EXPECT_EQ(lcd_submit(&lcd), 0);
        EXPECT_TRUE(frame_is_dark(lcd.frame));
        Sleep(50);
    }
    EXPECT_EQ(count_lines_with("src/lcd_thread(189)", "(2)"), before); // answer 2: not logged
}

TEST_F(StandInLink, KilledAndRestartedFramesResumeAfterTheRetry)
{
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    open();
    ASSERT_TRUE(connected(5000));
    ASSERT_GE(ticks_until_delivered(2000), 0);
    session.kill();
    // The next frame finds the device gone (1167): the link falls back.
    ASSERT_TRUE(WAIT_UNTIL((lcd_submit(&lcd), lcd.link->disconnected == 1), 3000));
    EXPECT_EQ(lcd_submit(&lcd), 0);
    ASSERT_TRUE(session.start());
    long took = ticks_until_delivered(6000);
    ASSERT_GE(took, 0);
    EXPECT_LE(took, 4000); // within the two-second retry and a connection
    uint32_t before = frames_on_display_0();
    draw_pattern(lcd.frame, 9);
    EXPECT_EQ(lcd_submit(&lcd), 1);
    EXPECT_TRUE(WAIT_UNTIL(frames_on_display_0() > before, 2000));
}

TEST_F(StandInLink, HangIsReplacedWithinAboutOneSecond)
{
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    open();
    ASSERT_TRUE(connected(5000));
    ASSERT_TRUE(standin_command("hang on"));
    draw_pattern(lcd.frame, 2);
    EXPECT_EQ(lcd_submit(&lcd), 1);
    uint32_t in_update = 0;
    ASSERT_TRUE(WAIT_UNTIL(standin_read(&LcdMonBlock::in_update, &in_update) && in_update == 1, 3000));

    const char *wait_text = "WaitForSingleObject() returned WAIT_TIMEOUT 00000102";
    const char *restart_text = "LCD not responding - restarting update thread";
    int waits = count_lines_with("src/lcd(357)", wait_text);
    int restarts = count_lines_with("src/lcd(368)", restart_text);
    LcdLink *stuck = lcd.link;
    DWORD start = GetTickCount();
    EXPECT_EQ(lcd_submit(&lcd), 0);
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 900u);
    EXPECT_LE(waited, 1600u);
    EXPECT_NE(lcd.link, stuck);
    EXPECT_GE(count_lines_with("src/lcd(357)", wait_text) - waits, 1);
    EXPECT_GE(count_lines_with("src/lcd(368)", restart_text) - restarts, 1);
    // The main loop goes on ticking without waiting for the stuck thread.
    for (int tick = 0; tick < 5; tick++) {
        DWORD before = GetTickCount();
        lcd_submit(&lcd);
        EXPECT_LT(GetTickCount() - before, 200u);
    }

    // Released: the old thread finishes, the new one connects.
    ASSERT_TRUE(standin_command("hang off"));
    EXPECT_GE(ticks_until_delivered(6000), 0);
}

TEST_F(StandInLink, SecondDisplayWithOnlyOneNeverOpens)
{
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    open(1);
    uint32_t connects = 0;
    // Two attempts, two seconds apart, and no display opened in between.
    ASSERT_TRUE(WAIT_UNTIL(standin_read(&LcdMonBlock::connects, &connects) && connects >= 2, 4000));
    BlockCopy copy;
    ASSERT_TRUE(read_block(&copy));
    for (const LcdMonSlot &slot : copy.block()->slots)
        EXPECT_EQ(slot.in_use, 0u);
    EXPECT_EQ(copy.block()->frames_total, 0u);
    draw_pattern(lcd.frame, 3);
    EXPECT_EQ(lcd_submit(&lcd), 0);
}

TEST_F(StandInLink, SecondDisplayIsOpenedWhenThereAreTwo)
{
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start("--displays 160x43,160x43"));
    open(1);
    ASSERT_TRUE(connected(5000));
    draw_pattern(lcd.frame, 4);
    EXPECT_EQ(lcd_submit(&lcd), 1);
    uint32_t counts[LCDMON_MAX_DISPLAYS];
    ASSERT_TRUE(WAIT_UNTIL(([&] {
                               BlockCopy copy;
                               read_block(&copy);
                               memcpy(counts, copy.block()->frame_count, sizeof counts);
                               return counts[1] > 0;
                           }()),
                           2000));
    EXPECT_EQ(counts[0], 0u);
}

TEST_F(StandInLink, ButtonsPressedInTheStandIn)
{
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    open();
    ASSERT_TRUE(connected(5000));
    ASSERT_TRUE(standin_command("press 4 100"));
    EXPECT_EQ(event_within(2, 2000), BUTTON_SHORT);
    ASSERT_TRUE(standin_command("press 1 900"));
    DWORD start = GetTickCount();
    EXPECT_EQ(event_within(0, 2000), BUTTON_LONG);
    EXPECT_LT(GetTickCount() - start, 850u); // reported while still held
    Sleep(600);
    EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_NONE); // nothing at release
    ASSERT_TRUE(standin_command("press 8 100 ctrl"));
    EXPECT_EQ(event_within(3, 2000), BUTTON_NEXT_PAGE);
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
    ASSERT_TRUE(standin_command("buttons 15"));
    EXPECT_TRUE(WAIT_UNTIL(lcd_quit_requested(&lcd) == 1, 2000));
}

// Centre of soft button i under display 0 in the stand-in's window at its
// default scale of 3: 8-pixel margin, 18-pixel label, 129-pixel picture, a
// 4-pixel gap, then four buttons of 120 x 24 pixels.
LPARAM button_point(int i)
{
    int x = 8 + i * 120 + 60, y = 8 + 18 + 129 + 4 + 12;
    return MAKELPARAM(x, y);
}

TEST_F(StandInLink, ClicksInTheStandInsWindow)
{
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    open();
    ASSERT_TRUE(connected(5000));
    HWND window = FindWindowA("Logitech LCD Monitor Window", "LCDMon");
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, button_point(1));
    PostMessageA(window, WM_LBUTTONUP, 0, button_point(1));
    EXPECT_EQ(event_within(1, 2000), BUTTON_SHORT);
    PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, button_point(2));
    PostMessageA(window, WM_LBUTTONUP, MK_CONTROL, button_point(2));
    EXPECT_EQ(event_within(2, 2000), BUTTON_NEXT_PAGE);
    EXPECT_EQ(lcd_button_event(&lcd, 1), BUTTON_NONE);
}

TEST_F(StandInLink, ButtonStormKeepsTheTickBounded)
{
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    open();
    ASSERT_TRUE(connected(5000));
    // The storm command answers when all changes are pushed; run it aside.
    HANDLE storm = CreateThread(0, 0, run_storm, 0, 0, 0);
    ASSERT_NE(storm, nullptr);
    DWORD slowest = 0;
    int ticks = 0;
    while (WaitForSingleObject(storm, 0) == WAIT_TIMEOUT && ticks < 200) {
        DWORD before = GetTickCount();
        draw_pattern(lcd.frame, ticks);
        lcd_submit(&lcd);
        for (int i = 0; i < LCD_BUTTONS; i++)
            lcd_button_event(&lcd, i);
        DWORD took = GetTickCount() - before;
        slowest = took > slowest ? took : slowest;
        ticks++;
        Sleep(50);
    }
    EXPECT_EQ(WaitForSingleObject(storm, 20000), WAIT_OBJECT_0);
    CloseHandle(storm);
    EXPECT_LT(slowest, 1100u); // never longer than the link's bounds
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
}

TEST_F(StandInLink, NoHandleLeakAfter50Reconnects)
{
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    open();
    ASSERT_TRUE(connected(5000));
    EXPECT_GE(ticks_until_delivered(2000), 0);
    lcd_destroy_surface(&lcd);
    DWORD before = link_tests::open_handle_count();
    for (int n = 0; n < 50; n++) {
        open();
        ASSERT_TRUE(connected(5000)) << n;
        draw_pattern(lcd.frame, n);
        EXPECT_EQ(lcd_submit(&lcd), 1);
        lcd_destroy_surface(&lcd); // waits for the thread: disconnect, lgLcdDeInit
    }
    DWORD after = link_tests::open_handle_count();
    EXPECT_GT(before, 0u);
    EXPECT_LE(after, before + 2);
}

} // namespace
