// The frame hand-off and the link thread against the LCD Manager stand-in
// (its server library in this process, LCDMon.exe beside it): connecting,
// delivering, falling back and coming back, the watchdog and shutting down;
// then the HID fallback against the scripted hidapi functions.
#include "link_fixture.h"

#include "fake_hidapi.h"
#include "hid_report.h"
#include "config.h"
#include "main.h"
#include "popup.h"
#include "topline.h"

using namespace link_tests;

namespace {

// A copy of the stand-in's whole shared block, taken under its lock.
std::vector<uint8_t> g_block_copy;
const LcdMonBlock &block()
{
    g_block_copy.assign(sizeof(LcdMonBlock), 0);
    LcdMonAccess access;
    if (lcdmon_attach(&access)) {
        if (lcdmon_lock(access.lock, 2000)) {
            memcpy(g_block_copy.data(), access.block, sizeof(LcdMonBlock));
            ReleaseMutex(access.lock);
        }
        lcdmon_detach(&access);
    }
    return *(const LcdMonBlock *)g_block_copy.data();
}

const char RESTART[] = "LCD not responding - restarting update thread";

class Link : public LinkTest {
protected:
    // Submits every 100 ms, as the main loop does, until a frame is taken;
    // the milliseconds that took, or -1.
    long ticks_until_delivered(unsigned timeout_ms)
    {
        for (DWORD start = GetTickCount(); GetTickCount() - start < timeout_ms; Sleep(100)) {
            draw_pattern(lcd.frame, 1);
            if (lcd_submit(&lcd) == 1)
                return (long)(GetTickCount() - start);
        }
        return -1;
    }

    // Hangs the stand-in's update call and hands over one frame into it.
    void hang_in_update()
    {
        ASSERT_TRUE(standin_command("hang on"));
        ASSERT_EQ(lcd_submit(&lcd), 1);
        ASSERT_TRUE(WAIT_UNTIL(block().in_update >= 1 && lcd.link->call_started != 0, 3000));
    }
};

TEST_F(Link, WithoutLcdManagerSubmitReturnsZeroAndStillClearsTheFrame)
{
    open(); // registered, but LCDMon.exe is not running
    for (int tick = 0; tick < 20; tick++) {
        draw_pattern(lcd.frame, tick);
        std::vector<uint8_t> drawn(lcd.frame, lcd.frame + LCD_FRAME_BYTES);
        EXPECT_EQ(lcd_submit(&lcd), 0) << tick;
        EXPECT_TRUE(frame_is_dark(lcd.frame)) << tick;
        EXPECT_EQ(memcmp(lcd.link->frame, drawn.data(), LCD_FRAME_BYTES), 0) << tick;
    }
}

TEST_F(Link, FramesArriveByteExactAndResumeAfterTheLcdManagerRestarts)
{
    open_connected();
    EXPECT_GE(block().foreground[0], 1u) << "brought to the front when it opened";
    draw_pattern(lcd.frame, 3);
    std::vector<uint8_t> drawn(lcd.frame, lcd.frame + LCD_FRAME_BYTES);
    ASSERT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(WAIT_UNTIL(block().frame_count[0] >= 1, 2000));
    EXPECT_EQ(memcmp(block().frame[0], drawn.data(), LCD_FRAME_BYTES), 0);

    lcdmon.kill(); // the next frame finds the device gone (1167): the link falls back
    ASSERT_TRUE(WAIT_UNTIL((lcd_submit(&lcd), lcd.link->disconnected == 1), 3000));
    EXPECT_EQ(lcd_submit(&lcd), 0);
    ASSERT_TRUE(lcdmon.start());
    long took = ticks_until_delivered(6000);
    EXPECT_GE(took, 0);
    EXPECT_LE(took, 4000); // the two-second pause and a connection
}

TEST_F(Link, ButtonsPressedInTheLcdManager)
{
    app_clock = saved_clock; // the stand-in holds the buttons for real milliseconds
    lcd_ctrl_held = saved_ctrl; // and Ctrl in the desktop's key state
    open_connected();
    auto event_within = [&](int button) {
        int event = BUTTON_NONE;
        WAIT_UNTIL((event = lcd_button_event(&lcd, button)) != BUTTON_NONE, 2000);
        return event;
    };
    ASSERT_TRUE(standin_command("press 4 100"));
    EXPECT_EQ(event_within(2), BUTTON_SHORT);
    ASSERT_TRUE(standin_command("press 8 100 ctrl"));
    EXPECT_EQ(event_within(3), BUTTON_NEXT_PAGE);
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
    ASSERT_TRUE(standin_command("buttons 15"));
    EXPECT_TRUE(WAIT_UNTIL(lcd_quit_requested(&lcd) == 1, 2000));
    standin_command("buttons 0");
}

// -1: never opens (a second display of the size where there is only one).
TEST_F(Link, DeviceIndexCountsOnlyDisplaysOf160By43)
{
    const struct { int device_index; const char *displays; int opened; } cases[] = {
        {0, "320x240,160x43", 1},
        {1, "320x240,160x43,128x64,160x43", 3},
        {1, "160x43", -1},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(lcdmon.start((std::string("--displays ") + c.displays).c_str()));
        open(c.device_index);
        if (c.opened < 0) {
            ASSERT_TRUE(WAIT_UNTIL(block().connects >= 1 && block().connections == 0, 3000));
            EXPECT_EQ(lcd_submit(&lcd), 0);
        } else {
            ASSERT_TRUE(wait_connected());
            EXPECT_EQ(lcd_submit(&lcd), 1);
            EXPECT_TRUE(WAIT_UNTIL(block().frame_count[c.opened] == 1, 2000)) << c.displays;
        }
        lcd_destroy_surface(&lcd);
        lcdmon.stop();
    }
}

TEST_F(Link, RefusedConnectionsAreQuietOthersLogged)
{
    const struct { DWORD code; int logged; } cases[] = {
        {LCD_ERR_NOT_RUNNING, 0}, {LCD_ERR_ALREADY_EXISTS, 0}, {5, 1}, {0x4d2d, 1}};
    for (const auto &c : cases) {
        char options[32], code[32];
        snprintf(options, sizeof options, "--refuse %lu", (unsigned long)c.code);
        snprintf(code, sizeof code, "(%lx)", (unsigned long)c.code);
        int before = error_lines_with("src/lcd_thread(189)", code);
        ASSERT_TRUE(lcdmon.start(options));
        open();
        ASSERT_TRUE(WAIT_UNTIL(block().refusals >= 1, 3000));
        lcd_destroy_surface(&lcd); // waits for the thread: the attempt is logged or not by now
        EXPECT_EQ(error_lines_with("src/lcd_thread(189)", code) - before, c.logged) << c.code;
        lcdmon.stop();
    }
}

// A lost device closes quietly, other update failures are logged; either way
// the link closes and tries again two seconds later.
TEST_F(Link, FailedUpdateClosesAndRetriesAfterTwoSeconds)
{
    const struct { DWORD code; const char *hex; int logged; } cases[] = {
        {LCD_ERR_DEVICE_NOT_CONNECTED, "(48f)", 0}, {0x4d2e, "(4d2e)", 1}};
    for (const auto &c : cases) {
        int logged_before = error_lines_with("src/lcd_thread(241)", c.hex);
        char options[32];
        snprintf(options, sizeof options, "--update-result %lu", (unsigned long)c.code);
        open_connected(options);
        EXPECT_EQ(lcd_submit(&lcd), 1);
        ASSERT_TRUE(WAIT_UNTIL(block().connections == 0, 2000));
        DWORD closed_at = GetTickCount();
        EXPECT_EQ(error_lines_with("src/lcd_thread(241)", c.hex) - logged_before, c.logged);
        EXPECT_EQ(lcd_submit(&lcd), 0);
        ASSERT_TRUE(WAIT_UNTIL(block().connects >= 2, 4000));
        EXPECT_NEAR(GetTickCount() - closed_at, 2100.0, 500.0) << c.hex;
        lcd_destroy_surface(&lcd);
        lcdmon.stop();
    }
}

// Either trigger alone replaces the link: ten frames handed over without a
// delivery (the clock standing still), or one update call older than a
// second (the clock moved on). The new link inherits the HID decision and
// nothing else.
TEST_F(Link, WatchdogReplacesAHungLinkWithoutWaitingForIt)
{
    for (int by_clock = 0; by_clock < 2; by_clock++) {
        log_forget_repeats();
        open_connected();
        lcd_enable_hid(&lcd, 1);
        on_soft_buttons(0, 15, lcd.link);
        hang_in_update();
        LcdLink *stuck = lcd.link;
        int restarts = error_lines_with("src/lcd(368)", RESTART);
        if (by_clock)
            clock_now += LINK_CALL_TIMEOUT_MS + 1;
        for (int n = 2; !by_clock && n <= LINK_MAX_PENDING; n++)
            EXPECT_EQ(lcd_submit(&lcd), 1) << n;
        EXPECT_EQ(lcd.link, stuck);
        draw_pattern(lcd.frame, 2);
        DWORD start = GetTickCount();
        EXPECT_EQ(lcd_submit(&lcd), 0);
        EXPECT_LT(GetTickCount() - start, 100u) << "never waits for the stuck thread";
        EXPECT_TRUE(frame_is_dark(lcd.frame));
        ASSERT_NE(lcd.link, nullptr);
        EXPECT_NE(lcd.link, stuck);
        EXPECT_EQ(lcd.link->hid, 1);
        EXPECT_EQ(lcd_quit_requested(&lcd), 0);
        EXPECT_EQ(error_lines_with("src/lcd(368)", RESTART) - restarts, 1);
        ASSERT_TRUE(standin_command("hang off"));
        EXPECT_TRUE(WAIT_UNTIL(link_threads_alive - threads_before == 1, 3000)) << "the stuck thread ended";
        lcd_destroy_surface(&lcd);
        lcd.hid = 0;
        lcdmon.stop();
    }
}

// The real tick loop against a hung LCD Manager: it keeps its cadence, the
// link is replaced within about a second, and the display is back once the
// LCD Manager answers again.
TEST_F(Link, TickLoopKeepsTickingWhileTheLcdManagerHangs)
{
    app_clock = saved_clock;
    config_clear(&g_config);
    topline_start(&g_topline);
    ASSERT_TRUE(lcdmon.start());
    ASSERT_EQ(lcd_open(&g_lcd, "Wick's panel", 1, 1, 0), 1);
    ASSERT_TRUE(WAIT_UNTIL(g_lcd.link && g_lcd.link->disconnected == 0, 5000));
    MainLoop loop{};
    HANDLE timer = CreateWaitableTimerA(0, FALSE, 0);
    LARGE_INTEGER due{};
    ASSERT_TRUE(SetWaitableTimer(timer, &due, 100, 0, 0, FALSE));
    loop.timer = timer;
    int restarts = error_lines_with("src/lcd(368)", RESTART);
    DWORD last = GetTickCount(), longest = 0;
    uint32_t frames_at_resume = 0;
    for (int tick = 0; tick < 50 && main_tick_wait(&loop); tick++) {
        main_tick(&loop);
        longest = std::max(longest, GetTickCount() - last);
        last = GetTickCount();
        if (tick == 5) {
            EXPECT_TRUE(standin_command("hang on"));
        }
        if (tick == 30) {
            EXPECT_TRUE(standin_command("hang off"));
            frames_at_resume = block().frames_total;
        }
    }
    CloseHandle(timer);
    lcd_destroy_surface(&g_lcd);
    topline_stop(&g_topline);
    popup_clear(&g_popups);
    EXPECT_LT(longest, 400u) << "a tick waited for the LCD Manager";
    EXPECT_GE(error_lines_with("src/lcd(368)", RESTART) - restarts, 1);
    EXPECT_GT(block().frames_total, frames_at_resume + 5) << "frames flow again";
}

TEST_F(Link, HungThreadIsTerminatedOnCloseAfterOneSecond)
{
    open_connected();
    hang_in_update();
    DWORD start = GetTickCount();
    lcd_destroy_surface(&lcd);
    EXPECT_NEAR(GetTickCount() - start, 1100.0, 300.0);
    EXPECT_EQ(lcd.link_thread, nullptr);
    threads_before++; // a terminated thread never counts itself out
}

TEST_F(Link, NoHandleLeakAfter50WatchdogRestarts)
{
    open(); // LCDMon.exe is not running: the link only pauses
    DWORD handles_before = 0;
    for (int n = 0; n <= 50; n++) {
        LcdLink *old = lcd.link; // made to claim a display that never takes a frame
        ASSERT_TRUE(WAIT_UNTIL((old->disconnected = 0, lcd_submit(&lcd), lcd.link != old), 3000)) << n;
        if (n == 0) // one round first, so that lazily created objects are there
            handles_before = open_handle_count();
    }
    ASSERT_TRUE(WAIT_UNTIL(link_threads_alive - threads_before == 1, 5000));
    EXPECT_GT(handles_before, 0u);
    EXPECT_LE(open_handle_count(), handles_before + 2);
}

class HidLink : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        fake_hid_reset();
    }

    // No LCD Manager runs; HID is on from the first attempt.
    void start_hid(int device_index = 0)
    {
        lcd.hid = 1;
        open(device_index);
    }

    void add_device(unsigned short vendor, unsigned short product, unsigned short usage_page)
    {
        fake_hid_do([&](FakeHid &h) {
            h.devices.push_back({vendor, product, usage_page, std::to_string(h.devices.size())});
            return 0;
        });
    }
    void add_g15() { add_device(0x046D, 0xC222, 0xFF00); }
    FakeHidCounters counters() { return fake_hid_do([](FakeHid &h) { return h.counters; }); }
    bool wait_writes(size_t n) { return fake_hid_wait(2000, [n](FakeHid &h) { return h.writes.size() >= n; }); }

    // Queues an input report and hands over frames until the reader has taken
    // it and the frame after it was written: the report has been handled.
    void read_report(std::vector<uint8_t> report)
    {
        size_t writes = fake_hid_do([&](FakeHid &h) { h.reads.push_back(report); return h.writes.size(); });
        EXPECT_EQ(lcd_submit(&lcd), 1);
        EXPECT_TRUE(wait_writes(writes + 1) && fake_hid_wait(2000, [](FakeHid &h) { return h.reads.empty(); }));
        EXPECT_EQ(lcd_submit(&lcd), 1);
        EXPECT_TRUE(wait_writes(writes + 2));
    }
    void read_report8(uint8_t b3, uint8_t b6, uint8_t b7) { read_report({1, 0x80, 0x80, b3, 0, 0, b6, b7}); }
};

TEST_F(HidLink, FramesAreWrittenAsOutputReports)
{
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(counters().nonblocking, 1);
    frame_put(lcd.frame, 0, 0, 255);
    frame_put(lcd.frame, 159, 42, 255);
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(wait_writes(1));
    std::vector<uint8_t> report = fake_hid_do([](FakeHid &h) { return h.writes[0]; });
    ASSERT_EQ(report.size(), (size_t)HID_OUTPUT_REPORT_BYTES);
    for (int i = 0; i < HID_OUTPUT_REPORT_BYTES; i++)
        ASSERT_EQ(report[i], i == 0 ? 3 : i == 32 ? 1 : i == 991 ? 4 : 0) << i;
}

TEST_F(HidLink, ShortWriteLosesTheDeviceAndItIsOpenedAgainLater)
{
    add_g15();
    fake_hid_do([](FakeHid &h) { h.write_results.push_back(HID_OUTPUT_REPORT_BYTES - 1); return 0; });
    start_hid();
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(fake_hid_wait(2000, [](FakeHid &h) {
        return h.counters.close_calls == 1 && h.counters.lists_outstanding == 0;
    }));
    EXPECT_EQ(counters().handles_outstanding, 0);
    EXPECT_TRUE(WAIT_UNTIL(lcd.link->disconnected == 1, 1000));
    EXPECT_EQ(lcd_submit(&lcd), 0);
    EXPECT_TRUE(fake_hid_wait(4000, [](FakeHid &h) { return h.counters.open_calls >= 2; })) << "after the pause";
}

// A report of unexpected length releases every held key.
TEST_F(HidLink, KeysAreSentAsExtendedScanCodes)
{
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    read_report8(0, 0, 2); // entry 32 pressed
    read_report({2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    std::vector<SentKey> keys = keys_sent();
    ASSERT_EQ(keys.size(), 2u);
    const WORD scans[2] = {0xE03D, 0xE0BD};
    const DWORD flags[2] = {8, 10};
    for (int i = 0; i < 2; i++) {
        EXPECT_TRUE(keys[i].scan_code == scans[i] && keys[i].flags == flags[i] && keys[i].virtual_key == 0);
        EXPECT_EQ(keys[i].record_size, (int)sizeof(INPUT));
    }
}

TEST_F(HidLink, SoftButtonsReachThePressDetection)
{
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    clock_now = 9000;
    read_report8(0, 0x02, 0); // bit 1 of byte 6: entry 27, the leftmost button
    clock_now = 9200;
    read_report8(0, 0x00, 0);
    EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_SHORT);
    EXPECT_EQ(keys_sent().size(), 0u); // soft buttons are not keystrokes
    read_report8(0, 0x1E, 0); // all four
    EXPECT_EQ(lcd_quit_requested(&lcd), 1);
}

// Vendor-defined collections only where usage pages are known; otherwise
// Logitech G13/G15 devices in plain order. -1: never opens.
TEST_F(HidLink, DeviceChoice)
{
    struct Device { unsigned short vendor, product, usage_page; };
    const struct { std::vector<Device> devices; int device_index, opened; } cases[] = {
        {{{0x046D, 0xC222, 0x0001}, {0x046D, 0xC222, 0x000C}, {0x046D, 0xC222, 0xFF00}}, 0, 2},
        {{{0x046D, 0x1234, 0}, {0x046D, 0xC21C, 0}, {0x1234, 0xC222, 0}, {0x046D, 0xC227, 0}}, 1, 3},
        {{{0x046D, 0xC222, 0xFF00}}, 1, -1},
    };
    for (const auto &c : cases) {
        fake_hid_reset();
        for (const Device &d : c.devices)
            add_device(d.vendor, d.product, d.usage_page);
        start_hid(c.device_index);
        ASSERT_TRUE(fake_hid_wait(2000, [](FakeHid &h) {
            return h.counters.enumerate_calls >= 1 && (h.counters.last_opened >= 0 || !h.counters.lists_outstanding);
        }));
        EXPECT_EQ(counters().last_opened, c.opened);
        lcd_destroy_surface(&lcd);
    }
}

// Stopping ends the link at once, whether it is pausing (no keyboard) or
// running the HID loop.
TEST_F(HidLink, StopEndsAtOnce)
{
    for (bool keyboard : {false, true}) {
        fake_hid_reset();
        if (keyboard)
            add_g15();
        start_hid();
        ASSERT_TRUE(fake_hid_wait(2000, [](FakeHid &h) { return h.counters.enumerate_calls >= 1; }));
        Sleep(50);
        DWORD start = GetTickCount();
        lcd_destroy_surface(&lcd);
        EXPECT_LT(GetTickCount() - start, 400u) << keyboard;
        EXPECT_EQ(link_threads_alive, threads_before);
        EXPECT_EQ(counters().handles_outstanding + counters().lists_outstanding, 0) << keyboard;
    }
}

} // namespace
