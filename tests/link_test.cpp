// The frame hand-off and the link thread against a scripted LCD Manager and
// the scripted hidapi functions: connection, logging, the watchdog, shutting
// down, and the HID fallback.
#include "link_fixture.h"

#include "fake_hidapi.h"
#include "hid_report.h"

using namespace link_tests;

namespace {

class Link : public LinkTest {
protected:
    // A fresh double for the next case of a table.
    FakeLcdScript fresh()
    {
        lcd_destroy_surface(&lcd);
        fake_lcd_reset();
        return fake_lcd_script();
    }

    // With an absent LCD Manager: once the link thread has made its attempt
    // and sits in its pause, the link claims to be connected while nothing
    // takes its frames.
    void claim_connected(int attempts_before)
    {
        ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::init_calls, attempts_before + 1, 2000));
        lcd.link->disconnected = 0;
    }
};

TEST_F(Link, WithoutLcdManagerSubmitReturnsZeroAndStillClearsTheFrame)
{
    script(absent);
    open();
    for (int tick = 0; tick < 20; tick++) {
        draw_pattern(lcd.frame, tick);
        std::vector<uint8_t> drawn(lcd.frame, lcd.frame + LCD_FRAME_BYTES);
        EXPECT_EQ(lcd_submit(&lcd), 0) << tick;
        EXPECT_TRUE(frame_is_dark(lcd.frame)) << tick;
        EXPECT_EQ(memcmp(lcd.link->frame, drawn.data(), LCD_FRAME_BYTES), 0) << tick;
    }
    EXPECT_EQ(fake_lcd_counters().connect_calls, 0);
}

TEST_F(Link, ConnectsOpensAndComesToTheFrontOnce)
{
    std::string name(300, 'n'); // cut at 255
    ASSERT_EQ(lcd_open(&lcd, name.c_str(), 5, 0, 0), 1);
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::frames_taken, 1, 2000));
    FakeLcdCounters c = fake_lcd_counters();
    EXPECT_EQ(std::string(c.app_name), name.substr(0, 255));
    EXPECT_EQ(c.autostartable, 1); // reduced to 0/1
    EXPECT_EQ(c.persistent, 0);
    EXPECT_EQ(c.connection_before, -1);
    EXPECT_EQ(c.callback_context, (void *)lcd.link);
    EXPECT_EQ(c.last_format, 1u);
    EXPECT_EQ(c.last_priority, 128u);
    ASSERT_EQ(c.foreground_calls, 2);
    EXPECT_EQ(std::vector<int>(c.foreground_values, c.foreground_values + 2), (std::vector<int>{1, 0}));
}

// -1: a second display where there is only one never opens.
TEST_F(Link, DeviceIndexCountsOnlyDisplaysOf160By43)
{
    const struct {
        int device_index, count, widths[4], heights[4], opened;
    } cases[] = {
        {0, 2, {320, 160}, {240, 43}, 1},
        {1, 4, {320, 160, 128, 160}, {240, 43, 64, 43}, 3},
        {1, 1, {160}, {43}, -1},
    };
    for (const auto &c : cases) {
        FakeLcdScript s = fresh();
        s.display_count = c.count;
        memcpy(s.widths, c.widths, sizeof c.widths);
        memcpy(s.heights, c.heights, sizeof c.heights);
        fake_lcd_set(s);
        open(c.device_index);
        ASSERT_TRUE(c.opened < 0 ? fake_lcd_wait(&FakeLcdCounters::init_calls, 2, 4000) : wait_connected());
        EXPECT_EQ(fake_lcd_counters().last_open_index, c.opened) << c.device_index;
        EXPECT_EQ(lcd_submit(&lcd), (int)(c.opened >= 0)) << c.device_index;
    }
}

TEST_F(Link, RefusedConnectionsAreQuietOthersLogged)
{
    const struct {
        DWORD code;
        int logged;
    } cases[] = {{LCD_ERR_NOT_RUNNING, 0}, {LCD_ERR_ALREADY_EXISTS, 0}, {0x4d2d, 1}};
    for (const auto &c : cases) {
        FakeLcdScript s = fresh();
        s.connect_result = c.code;
        fake_lcd_set(s);
        char buf[32];
        snprintf(buf, sizeof buf, "(%lx)", (unsigned long)c.code);
        int before = error_lines_with("src/lcd_thread(189)", buf);
        open();
        ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::deinit_calls, 1, 3000));
        EXPECT_EQ(fake_lcd_counters().disconnect_calls, 0);
        EXPECT_EQ(error_lines_with("src/lcd_thread(189)", buf) - before, c.logged) << c.code;
    }
}

// A lost device closes quietly; other update failures are logged. Either
// way the link closes and tries again two seconds later.
TEST_F(Link, FailedUpdateClosesAndRetriesAfterTwoSeconds)
{
    const struct {
        DWORD code;
        const char *hex;
        int logged;
    } cases[] = {{LCD_ERR_DEVICE_NOT_CONNECTED, "(48f)", 0}, {0x4d2e, "(4d2e)", 1}};
    for (const auto &c : cases) {
        FakeLcdScript s = fresh();
        s.update_result = c.code;
        fake_lcd_set(s);
        int logged_before = error_lines_with("src/lcd_thread(241)", c.hex);
        open();
        ASSERT_TRUE(wait_connected());
        EXPECT_EQ(lcd_submit(&lcd), 1);
        ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::deinit_calls, 1, 2000));
        DWORD closed_at = GetTickCount();
        EXPECT_EQ(fake_lcd_counters().close_calls + fake_lcd_counters().disconnect_calls, 2);
        EXPECT_EQ(lcd_submit(&lcd), 0);
        ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::init_calls, 2, 4000));
        EXPECT_NEAR(GetTickCount() - closed_at, 2400.0, 600.0) << c.hex;
        EXPECT_EQ(error_lines_with("src/lcd_thread(241)", c.hex) - logged_before, c.logged);
    }
}

// The restarted link starts afresh: HID off, no quit.
TEST_F(Link, TenUndeliveredFramesReplaceTheLink)
{
    script(absent);
    open();
    lcd_enable_hid(&lcd, 1);
    on_soft_buttons(0, 15, lcd.link);
    LcdLink *first = lcd.link;
    claim_connected(0);
    int restarts = error_lines_with("src/lcd(368)", "LCD not responding - restarting update thread");
    for (int n = 1; n <= 9; n++)
        EXPECT_EQ(lcd_submit(&lcd), 1) << n;
    EXPECT_EQ(lcd.link, first);
    EXPECT_EQ(lcd_submit(&lcd), 0);
    ASSERT_NE(lcd.link, first);
    ASSERT_NE(lcd.link, nullptr);
    EXPECT_TRUE(frame_is_dark(lcd.frame));
    EXPECT_EQ(lcd.link->hid, 0);
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
    EXPECT_GE(error_lines_with("src/lcd(368)", "LCD not responding - restarting update thread") - restarts, 1);
    EXPECT_TRUE(eventually(1000, [&] { return link_threads_alive - threads_before == 1; }));
}

TEST_F(Link, HungThreadIsTerminatedOnCloseAfterOneSecond)
{
    open();
    ASSERT_TRUE(wait_connected());
    fake_lcd_hang_updates(1);
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::hung_calls, 1, 2000));
    DWORD start = GetTickCount();
    lcd_destroy_surface(&lcd);
    EXPECT_NEAR(GetTickCount() - start, 1250.0, 350.0);
    EXPECT_EQ(lcd.link_thread, nullptr);
    threads_before++; // a terminated thread never counts itself out
}

TEST_F(Link, NoHandleLeakAfter50WatchdogRestarts)
{
    script(absent);
    open();
    DWORD handles_before = 0;
    for (int n = 0; n <= 50; n++) {
        LcdLink *old = lcd.link;
        claim_connected(n);
        for (int k = 0; k < 10; k++)
            lcd_submit(&lcd);
        ASSERT_NE(lcd.link, old) << n;
        if (n == 0) // one round first, so that lazily created objects are there
            handles_before = open_handle_count();
    }
    ASSERT_TRUE(eventually(3000, [&] { return link_threads_alive - threads_before == 1; }));
    EXPECT_GT(handles_before, 0u);
    EXPECT_LE(open_handle_count(), handles_before + 2);
}

class HidLink : public Link {
protected:
    void SetUp() override
    {
        Link::SetUp();
        fake_hid_reset();
    }

    // The LCD Manager is absent; HID is on before the first attempt ends.
    void start_hid(int device_index = 0)
    {
        script(absent);
        fake_lcd_init_gate(0);
        open(device_index);
        lcd_enable_hid(&lcd, 1);
        fake_lcd_init_gate(1);
    }

    void add_g15() { ASSERT_EQ(fake_hid_add_device(0x046D, 0xC222, 0xFF00, "g15"), 0); }

    // Hands over a frame so that the reader looks at the queued input, then
    // one more: once that is written, the input before it has been handled.
    void tick_and_read()
    {
        int writes = fake_hid_write_count();
        EXPECT_EQ(lcd_submit(&lcd), 1);
        EXPECT_TRUE(fake_hid_wait_writes(writes + 1, 2000));
        EXPECT_TRUE(fake_hid_wait_inputs_consumed(2000));
        EXPECT_EQ(lcd_submit(&lcd), 1);
        EXPECT_TRUE(fake_hid_wait_writes(writes + 2, 2000));
    }

    void queue8(uint8_t b3, uint8_t b6, uint8_t b7)
    {
        const uint8_t report[8] = {1, 0x80, 0x80, b3, 0, 0, b6, b7};
        fake_hid_queue_input(report, sizeof report);
    }
};

TEST_F(HidLink, FramesAreWrittenAsOutputReports)
{
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(fake_hid_counters().nonblocking, 1);
    frame_put(lcd.frame, 0, 0, 255);
    frame_put(lcd.frame, 159, 42, 255);
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(fake_hid_wait_writes(1, 2000));
    uint8_t report[1024];
    ASSERT_EQ(fake_hid_written(0, report, sizeof report), HID_OUTPUT_REPORT_BYTES);
    EXPECT_EQ(report[0], 3);
    for (int i = 1; i < HID_OUTPUT_REPORT_BYTES; i++)
        ASSERT_EQ(report[i], i == 32 ? 1 : i == 991 ? 4 : 0) << i;
}

TEST_F(HidLink, ShortWriteLosesTheDeviceAndItIsOpenedAgainLater)
{
    add_g15();
    fake_hid_queue_write_result(HID_OUTPUT_REPORT_BYTES - 1);
    start_hid();
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(fake_hid_wait_closes(1, 2000));
    EXPECT_TRUE(eventually(1000, [&] { return lcd.link->disconnected == 1; }));
    EXPECT_TRUE(eventually(1000, [] { return fake_hid_counters().lists_outstanding == 0; }));
    EXPECT_EQ(fake_hid_counters().handles_outstanding, 0);
    EXPECT_EQ(lcd_submit(&lcd), 0);
    // After the pause: the LCD Manager is tried, then the keyboard again.
    EXPECT_TRUE(eventually(4000, [] { return fake_hid_counters().open_calls >= 2; }));
    EXPECT_GE(fake_lcd_counters().init_calls, 2);
}

// A report of unexpected length releases every held key.
TEST_F(HidLink, KeysAreSentAsExtendedScanCodes)
{
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    queue8(0, 0, 2); // entry 32 pressed
    tick_and_read();
    const uint8_t odd[6] = {2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    fake_hid_queue_input(odd, sizeof odd);
    tick_and_read();
    std::vector<SentKey> keys = keys_sent();
    ASSERT_EQ(keys.size(), 2u);
    const WORD scans[2] = {0xE03D, 0xE0BD};
    const DWORD flags[2] = {8, 10};
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(keys[i].scan_code, scans[i]);
        EXPECT_EQ(keys[i].flags, flags[i]);
        EXPECT_EQ(keys[i].virtual_key, 0);
        EXPECT_EQ(keys[i].record_size, (int)sizeof(INPUT));
    }
}

TEST_F(HidLink, SoftButtonsReachThePressDetection)
{
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    clock_now = 9000;
    queue8(0, 0x02, 0); // bit 1 of byte 6: entry 27, the leftmost button
    tick_and_read();
    clock_now = 9200;
    queue8(0, 0x00, 0);
    tick_and_read();
    EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_SHORT);
    EXPECT_EQ(keys_sent().size(), 0u); // soft buttons are not keystrokes
    queue8(0, 0x1E, 0); // all four
    tick_and_read();
    EXPECT_EQ(lcd_quit_requested(&lcd), 1);
}

// Vendor-defined collections only where usage pages are known; otherwise
// Logitech G13/G15 devices in plain order. -1: never opens.
TEST_F(HidLink, DeviceChoice)
{
    struct Device {
        unsigned short vendor, product, usage_page;
    };
    const struct {
        std::vector<Device> devices;
        int device_index, opened;
    } cases[] = {
        {{{0x046D, 0xC222, 0x0001}, {0x046D, 0xC222, 0x000C}, {0x046D, 0xC222, 0xFF00}}, 0, 2},
        {{{0x046D, 0x1234, 0}, {0x046D, 0xC21C, 0}, {0x1234, 0xC222, 0}, {0x046D, 0xC227, 0}}, 1, 3},
        {{{0x046D, 0xC222, 0xFF00}}, 1, -1},
    };
    for (const auto &c : cases) {
        fake_hid_reset();
        for (size_t i = 0; i < c.devices.size(); i++)
            fake_hid_add_device(c.devices[i].vendor, c.devices[i].product, c.devices[i].usage_page,
                                std::to_string(i).c_str());
        start_hid(c.device_index);
        if (c.opened >= 0) {
            ASSERT_TRUE(wait_connected());
            EXPECT_EQ(fake_hid_counters().last_opened, c.opened);
        } else {
            ASSERT_TRUE(eventually(2000, [] {
                FakeHidCounters h = fake_hid_counters();
                return h.enumerate_calls >= 1 && h.lists_outstanding == 0;
            }));
            EXPECT_EQ(fake_hid_counters().open_calls, 0);
        }
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
        ASSERT_TRUE(keyboard ? wait_connected() : fake_lcd_wait(&FakeLcdCounters::init_calls, 1, 2000));
        Sleep(50);
        DWORD start = GetTickCount();
        lcd_destroy_surface(&lcd);
        EXPECT_LT(GetTickCount() - start, 400u) << keyboard;
        EXPECT_EQ(link_threads_alive, threads_before);
        FakeHidCounters c = fake_hid_counters();
        EXPECT_EQ(c.handles_outstanding + c.lists_outstanding, 0) << keyboard;
        fake_lcd_reset();
    }
}

} // namespace
