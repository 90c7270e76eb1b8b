// The frame hand-off and the link thread against a scripted LCD Manager and
// the scripted hidapi functions: connection, delivery, reconnection, the
// watchdog, shutting down, and the HID fallback.
#include "link_fixture.h"

#include <string>

#include "fake_hidapi.h"
#include "hid_report.h"
#include "log_files.h"

using namespace link_tests;

namespace {

int occurrences(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

// Counts log lines of errors.txt that hold all the given parts.
int error_lines_with(const std::string &a, const std::string &b)
{
    std::string text = read_binary_file(log_path("errors.txt"));
    int n = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.find(a) != std::string::npos && line.find(b) != std::string::npos)
            n++;
        start = end + 1;
    }
    return n;
}

void draw_pattern(uint8_t *frame, int seed)
{
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        frame[i] = ((i * 7 + seed) % 5) < 2 ? 255 : 0;
}

bool frame_is_dark(const uint8_t *frame)
{
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        if (frame[i])
            return false;
    return true;
}

class Link : public LinkTest {
protected:
    void script(void (*change)(FakeLcdScript &))
    {
        FakeLcdScript s = fake_lcd_script();
        change(s);
        fake_lcd_set(s);
    }
    void open(int device_index = 0)
    {
        ASSERT_EQ(lcd_open(&lcd, "Wick's panel", 1, 1, device_index), 1);
    }
    // With an absent LCD Manager: once the link thread has made its attempt
    // (and sits in its pause), the link claims to be connected while nothing
    // takes its frames.
    void claim_connected(int attempts_before)
    {
        ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::init_calls, attempts_before + 1, 2000));
        lcd.link->disconnected = 0;
    }
};

TEST_F(Link, WithoutLcdManagerSubmitReturnsZeroAndStillClearsTheFrame)
{
    script([](FakeLcdScript &s) { s.init_result = LCD_ERR_SERVER_UNAVAILABLE; });
    open();
    for (int tick = 0; tick < 20; tick++) {
        draw_pattern(lcd.frame, tick);
        uint8_t drawn[LCD_FRAME_BYTES];
        memcpy(drawn, lcd.frame, sizeof drawn);
        EXPECT_EQ(lcd_submit(&lcd), 0) << tick;
        EXPECT_TRUE(frame_is_dark(lcd.frame)) << tick;
        EXPECT_EQ(memcmp(lcd.link->frame, drawn, sizeof drawn), 0) << tick;
        EXPECT_EQ(lcd.link->pending, 0);
    }
    EXPECT_EQ(fake_lcd_counters().connect_calls, 0);
}

TEST_F(Link, SubmitWithoutSurfaceOrLinkDoesNothing)
{
    EXPECT_EQ(lcd_submit(&lcd), 0);
    ASSERT_EQ(lcd_create_surface(&lcd), 1);
    draw_pattern(lcd.frame, 1);
    EXPECT_EQ(lcd_submit(&lcd), 0); // no link: the frame is left as drawn
    EXPECT_FALSE(frame_is_dark(lcd.frame));
}

TEST_F(Link, FramesArriveByteExact)
{
    open();
    ASSERT_TRUE(wait_connected());
    for (int n = 1; n <= 3; n++) {
        draw_pattern(lcd.frame, n);
        uint8_t drawn[LCD_FRAME_BYTES];
        memcpy(drawn, lcd.frame, sizeof drawn);
        EXPECT_EQ(lcd_submit(&lcd), 1);
        EXPECT_TRUE(frame_is_dark(lcd.frame));
        ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::frames_taken, n, 2000));
        uint8_t arrived[LCD_FRAME_BYTES];
        fake_lcd_last_frame(arrived);
        EXPECT_EQ(memcmp(arrived, drawn, sizeof drawn), 0) << n;
    }
    FakeLcdCounters c = fake_lcd_counters();
    EXPECT_EQ(c.last_format, 1u);
    EXPECT_EQ(c.last_priority, 128u);
    EXPECT_TRUE(eventually(1000, [&] { return lcd.link->pending == 0; }));
}

TEST_F(Link, ConnectsOpensAndComesToTheFrontOnce)
{
    ASSERT_EQ(lcd_open(&lcd, "Wick's panel", 5, 0, 0), 1);
    ASSERT_TRUE(wait_connected());
    FakeLcdCounters c = fake_lcd_counters();
    EXPECT_STREQ(c.app_name, "Wick's panel");
    EXPECT_EQ(c.autostartable, 1); // reduced to 0/1
    EXPECT_EQ(c.persistent, 0);
    EXPECT_EQ(c.connection_before, -1);
    EXPECT_EQ(c.configure_callback, nullptr);
    EXPECT_EQ(c.device_before, -1);
    EXPECT_EQ(c.last_open_index, 0);
    EXPECT_EQ(c.callback, (LcdSoftButtonCallback)on_soft_buttons);
    EXPECT_EQ(c.callback_context, (void *)lcd.link);
    ASSERT_EQ(c.foreground_calls, 2);
    EXPECT_EQ(c.foreground_values[0], 1);
    EXPECT_EQ(c.foreground_values[1], 0);
}

TEST_F(Link, LongApplicationNameIsCutAt255)
{
    std::string name(300, 'n');
    ASSERT_EQ(lcd_open(&lcd, name.c_str(), 1, 1, 0), 1);
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(strlen(lcd.app_name), 255u);
    EXPECT_EQ(std::string(fake_lcd_counters().app_name), name.substr(0, 255));
}

TEST_F(Link, SoftButtonsFromTheLcdManagersCallback)
{
    open();
    ASSERT_TRUE(wait_connected());
    FakeLcdCounters c = fake_lcd_counters();
    ASSERT_NE(c.callback, nullptr);
    clock_now = 5000;
    c.callback(3, 2, c.callback_context);
    clock_now = 5100;
    c.callback(3, 0, c.callback_context);
    EXPECT_EQ(lcd_button_event(&lcd, 1), BUTTON_SHORT);
    c.callback(3, 15, c.callback_context);
    EXPECT_EQ(lcd_quit_requested(&lcd), 1);
}

TEST_F(Link, SecondDisplayWithOnlyOneNeverOpens)
{
    open(1);
    ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::deinit_calls, 1, 3000));
    FakeLcdCounters c = fake_lcd_counters();
    EXPECT_EQ(c.open_calls, 0);
    EXPECT_EQ(c.enumerate_calls, 2); // index 0, then 259
    EXPECT_EQ(c.disconnect_calls, 1);
    draw_pattern(lcd.frame, 3);
    EXPECT_EQ(lcd_submit(&lcd), 0);
}

TEST_F(Link, DeviceIndexCountsOnlyDisplaysOf160By43)
{
    script([](FakeLcdScript &s) {
        s.display_count = 4;
        int widths[] = {320, 160, 128, 160}, heights[] = {240, 43, 64, 43};
        for (int i = 0; i < 4; i++) {
            s.widths[i] = widths[i];
            s.heights[i] = heights[i];
        }
    });
    open(1);
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(fake_lcd_counters().last_open_index, 3);
}

TEST_F(Link, FirstMatchingDisplayForDeviceIndexZero)
{
    script([](FakeLcdScript &s) {
        s.display_count = 2;
        s.widths[0] = 320;
        s.heights[0] = 240;
        s.widths[1] = 160;
        s.heights[1] = 43;
    });
    open(0);
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(fake_lcd_counters().last_open_index, 1);
}

TEST_F(Link, RefusedConnectionsAreQuietOthersLogged)
{
    // 2 and 183: not logged. An unknown code: logged at its fixed site.
    const DWORD codes[] = {LCD_ERR_NOT_RUNNING, LCD_ERR_ALREADY_EXISTS, 0x4d2d};
    const int logged[] = {0, 0, 1};
    for (int i = 0; i < 3; i++) {
        DWORD code = codes[i];
        fake_lcd_reset();
        FakeLcdScript s = fake_lcd_script();
        s.connect_result = code;
        fake_lcd_set(s);
        char hex[32];
        snprintf(hex, sizeof hex, "(%lx)", (unsigned long)code);
        int before = error_lines_with("src/lcd_thread(189)", hex);
        open();
        ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::deinit_calls, 1, 3000));
        EXPECT_EQ(fake_lcd_counters().disconnect_calls, 0);
        EXPECT_EQ(error_lines_with("src/lcd_thread(189)", hex) - before, logged[i]) << code;
        lcd_destroy_surface(&lcd);
    }
}

TEST_F(Link, LostDeviceClosesQuietlyAndRetriesAfterTwoSeconds)
{
    script([](FakeLcdScript &s) { s.update_result = LCD_ERR_DEVICE_NOT_CONNECTED; });
    int logged_before = error_lines_with("src/lcd_thread(241)", "(48f)");
    open();
    ASSERT_TRUE(wait_connected());
    draw_pattern(lcd.frame, 4);
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::deinit_calls, 1, 2000));
    DWORD closed_at = GetTickCount();
    FakeLcdCounters c = fake_lcd_counters();
    EXPECT_EQ(c.close_calls, 1);
    EXPECT_EQ(c.disconnect_calls, 1);
    draw_pattern(lcd.frame, 5);
    EXPECT_EQ(lcd_submit(&lcd), 0); // not connected now
    EXPECT_TRUE(frame_is_dark(lcd.frame));

    ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::init_calls, 2, 4000));
    DWORD paused = GetTickCount() - closed_at;
    EXPECT_GE(paused, 1800u);
    EXPECT_LE(paused, 3000u);
    EXPECT_EQ(error_lines_with("src/lcd_thread(241)", "(48f)"), logged_before);
}

TEST_F(Link, OtherUpdateFailuresAreLoggedAndEndTheLink)
{
    script([](FakeLcdScript &s) { s.update_result = 0x4d2e; });
    int before = error_lines_with("src/lcd_thread(241)", "(4d2e)");
    open();
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::close_calls, 1, 2000));
    EXPECT_EQ(error_lines_with("src/lcd_thread(241)", "(4d2e)") - before, 1);
}

TEST_F(Link, HungLcdManagerIsReplacedWithinAboutOneSecond)
{
    open();
    ASSERT_TRUE(wait_connected());
    fake_lcd_hang_updates(1);
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(eventually(2000, [] { return fake_lcd_hung_calls() == 1; }));

    int waits_before = error_lines_with("src/lcd(357)", "WaitForSingleObject() returned WAIT_TIMEOUT 00000102");
    int restarts_before = error_lines_with("src/lcd(368)", "LCD not responding - restarting update thread");
    LcdLink *stuck = lcd.link;
    draw_pattern(lcd.frame, 6);
    DWORD start = GetTickCount();
    EXPECT_EQ(lcd_submit(&lcd), 0);
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 900u);
    EXPECT_LE(waited, 1600u); // the stuck thread is never waited for
    EXPECT_FALSE(frame_is_dark(lcd.frame)); // not taken: the next tick draws over it
    EXPECT_NE(lcd.link, stuck);
    EXPECT_NE(lcd.link, nullptr);
    EXPECT_EQ(link_threads_alive - threads_before, 2); // the stuck one and its successor
    EXPECT_GE(error_lines_with("src/lcd(357)", "WaitForSingleObject() returned WAIT_TIMEOUT 00000102") -
                  waits_before, 1);
    EXPECT_GE(error_lines_with("src/lcd(368)", "LCD not responding - restarting update thread") -
                  restarts_before, 1);

    // Once the LCD Manager answers again, the old thread ends by itself and
    // the new one takes over.
    fake_lcd_hang_updates(0);
    EXPECT_TRUE(eventually(2000, [&] { return link_threads_alive - threads_before == 1; }));
    ASSERT_TRUE(wait_connected(4000));
    draw_pattern(lcd.frame, 7);
    int taken = fake_lcd_counters().frames_taken;
    EXPECT_EQ(lcd_submit(&lcd), 1);
    EXPECT_TRUE(fake_lcd_wait(&FakeLcdCounters::frames_taken, taken + 1, 2000));
}

TEST_F(Link, TenUndeliveredFramesReplaceTheLink)
{
    script([](FakeLcdScript &s) { s.init_result = LCD_ERR_SERVER_UNAVAILABLE; });
    open();
    LcdLink *first = lcd.link;
    claim_connected(0);
    int restarts_before = error_lines_with("src/lcd(368)", "LCD not responding - restarting update thread");
    for (int n = 1; n <= 9; n++)
        EXPECT_EQ(lcd_submit(&lcd), 1) << n;
    EXPECT_EQ(lcd.link, first);
    EXPECT_EQ(lcd_submit(&lcd), 0);
    EXPECT_NE(lcd.link, first);
    EXPECT_TRUE(frame_is_dark(lcd.frame));
    EXPECT_GE(error_lines_with("src/lcd(368)", "LCD not responding - restarting update thread") -
                  restarts_before, 1);
    // The abandoned thread ends by itself.
    EXPECT_TRUE(eventually(1000, [&] { return link_threads_alive - threads_before == 1; }));
}

TEST_F(Link, RestartedLinkStartsWithHidOffAndNoQuit)
{
    script([](FakeLcdScript &s) { s.init_result = LCD_ERR_SERVER_UNAVAILABLE; });
    open();
    lcd_enable_hid(&lcd, 1);
    on_soft_buttons(0, 15, lcd.link);
    claim_connected(0);
    for (int n = 0; n < 10; n++)
        lcd_submit(&lcd);
    ASSERT_NE(lcd.link, nullptr);
    EXPECT_EQ(lcd.link->hid, 0);
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
}

TEST_F(Link, StopWhilePausingEndsAtOnce)
{
    script([](FakeLcdScript &s) { s.init_result = LCD_ERR_SERVER_UNAVAILABLE; });
    open();
    ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::init_calls, 1, 2000));
    Sleep(50); // into the pause
    DWORD start = GetTickCount();
    lcd_destroy_surface(&lcd);
    EXPECT_LT(GetTickCount() - start, 400u);
    EXPECT_EQ(lcd.link, nullptr);
    EXPECT_EQ(lcd.link_thread, nullptr);
    EXPECT_EQ(link_threads_alive, threads_before);
}

TEST_F(Link, HungThreadIsTerminatedOnCloseAfterOneSecond)
{
    open();
    ASSERT_TRUE(wait_connected());
    fake_lcd_hang_updates(1);
    EXPECT_EQ(lcd_submit(&lcd), 1);
    ASSERT_TRUE(eventually(2000, [] { return fake_lcd_hung_calls() == 1; }));
    DWORD start = GetTickCount();
    lcd_destroy_surface(&lcd);
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 900u);
    EXPECT_LE(waited, 1600u);
    EXPECT_EQ(lcd.link_thread, nullptr);
    threads_before++; // a terminated thread never counts itself out
}

TEST_F(Link, NoHandleLeakAfter50Reconnects)
{
    open();
    ASSERT_TRUE(wait_connected());
    // one round first, so that lazily created system objects are there
    link_stop(&lcd, 0);
    ASSERT_EQ(link_start(&lcd), 1);
    ASSERT_TRUE(wait_connected());
    ASSERT_TRUE(eventually(2000, [&] { return link_threads_alive - threads_before == 1; }));
    DWORD handles_before = open_handle_count();

    for (int n = 0; n < 50; n++) {
        link_stop(&lcd, 0); // what the watchdog does
        ASSERT_EQ(link_start(&lcd), 1);
        ASSERT_TRUE(wait_connected()) << n;
        EXPECT_EQ(lcd_submit(&lcd), 1);
    }
    ASSERT_TRUE(eventually(3000, [&] { return link_threads_alive - threads_before == 1; }));
    DWORD handles_after = open_handle_count();
    EXPECT_GT(handles_before, 0u);
    EXPECT_LE(handles_after, handles_before + 2);
    EXPECT_GE(fake_lcd_counters().close_calls, 50);
}

TEST_F(Link, NoHandleLeakAfter50WatchdogRestarts)
{
    script([](FakeLcdScript &s) { s.init_result = LCD_ERR_SERVER_UNAVAILABLE; });
    open();
    DWORD handles_before = open_handle_count();
    for (int n = 0; n < 50; n++) {
        LcdLink *old = lcd.link;
        ASSERT_NE(old, nullptr);
        claim_connected(n);
        for (int k = 0; k < 10; k++)
            lcd_submit(&lcd);
        ASSERT_NE(lcd.link, old) << n;
    }
    ASSERT_TRUE(eventually(3000, [&] { return link_threads_alive - threads_before == 1; }));
    DWORD handles_after = open_handle_count();
    EXPECT_GT(handles_before, 0u);
    EXPECT_LE(handles_after, handles_before + 2);
}

TEST_F(Link, NoHandleLeakAfter50OpenCloseCycles)
{
    open();
    ASSERT_TRUE(wait_connected());
    lcd_destroy_surface(&lcd);
    DWORD handles_before = open_handle_count();
    for (int n = 0; n < 50; n++) {
        open();
        ASSERT_TRUE(wait_connected()) << n;
        lcd_destroy_surface(&lcd);
    }
    EXPECT_EQ(link_threads_alive, threads_before);
    DWORD handles_after = open_handle_count();
    EXPECT_GT(handles_before, 0u);
    EXPECT_LE(handles_after, handles_before + 2);
}

TEST(WaitOk, LogsTheResultWithItsName)
{
    struct Case {
        DWORD result;
        int ok;
        const char *text;
    } cases[] = {
        {WAIT_OBJECT_0, 1, ""},
        {WAIT_TIMEOUT, 0, "WaitForSingleObject() returned WAIT_TIMEOUT 00000102"},
        {WAIT_ABANDONED, 0, "WaitForSingleObject() returned WAIT_ABANDONED 00000080"},
        {WAIT_FAILED, 0, "WaitForSingleObject() returned ffffffff"},
    };
    for (const Case &c : cases) {
        std::string site = unique_token("wait_ok");
        EXPECT_EQ(wait_ok(c.result, site.c_str(), 77), c.ok);
        std::string log = read_binary_file(log_path("errors.txt"));
        if (c.ok) {
            EXPECT_EQ(occurrences(log, site), 0);
        } else {
            EXPECT_EQ(error_lines_with(site + "(77)", c.text), 1) << c.text;
        }
    }
}

// ---- HID fallback ------------------------------------------------------------

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
        script([](FakeLcdScript &s) { s.init_result = LCD_ERR_SERVER_UNAVAILABLE; });
        fake_lcd_close_init_gate();
        open(device_index);
        lcd_enable_hid(&lcd, 1);
        fake_lcd_open_init_gate();
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
    for (int i = 1; i < HID_OUTPUT_REPORT_BYTES; i++) {
        int expected = i == 32 ? 1 : i == 991 ? 4 : 0;
        ASSERT_EQ(report[i], expected) << i;
    }
    EXPECT_TRUE(eventually(1000, [&] { return lcd.link->pending == 0; }));
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

TEST_F(HidLink, KeysAreSentAsExtendedScanCodes)
{
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    queue8(0, 0, 2); // entry 32 pressed
    tick_and_read();
    queue8(0, 0, 0);
    tick_and_read();
    std::vector<SentKey> keys = keys_sent();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].scan_code, 0xE03D);
    EXPECT_EQ(keys[0].flags, 8u);
    EXPECT_EQ(keys[1].scan_code, 0xE0BD);
    EXPECT_EQ(keys[1].flags, 10u);
    for (const SentKey &k : keys) {
        EXPECT_EQ(k.virtual_key, 0);
        EXPECT_EQ(k.record_size, (int)sizeof(INPUT));
    }
}

TEST_F(HidLink, ReportOfUnexpectedLengthReleasesHeldKeys)
{
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    queue8(0x03, 0, 0); // entries 0 and 1
    const uint8_t odd[6] = {2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    fake_hid_queue_input(odd, sizeof odd);
    tick_and_read();
    std::vector<SentKey> keys = keys_sent();
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0].scan_code, 0xE020);
    EXPECT_EQ(keys[1].scan_code, 0xE02E);
    EXPECT_EQ(keys[2].scan_code, 0xE0A0);
    EXPECT_EQ(keys[2].flags, 10u);
    EXPECT_EQ(keys[3].scan_code, 0xE0AE);
    EXPECT_EQ(InterlockedCompareExchange(&send_input_calls, 0, 0), 2); // one call per report
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

TEST_F(HidLink, ShortfallOfSendInputGoesToHidLog)
{
    send_input_accepts = 0;
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    const char *line = "failed to insert all events, 0 of 1";
    int before = occurrences(read_binary_file("hid.log"), line);
    queue8(0, 0, 2);
    tick_and_read();
    EXPECT_EQ(occurrences(read_binary_file("hid.log"), line) - before, 1);
}

TEST_F(HidLink, OnlyVendorDefinedCollectionsCount)
{
    ASSERT_EQ(fake_hid_add_device(0x046D, 0xC222, 0x0001, "keys"), 0);
    ASSERT_EQ(fake_hid_add_device(0x046D, 0xC222, 0x000C, "media"), 1);
    ASSERT_EQ(fake_hid_add_device(0x046D, 0xC222, 0xFF00, "display"), 2);
    start_hid();
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(fake_hid_counters().last_opened, 2);
}

TEST_F(HidLink, WithoutUsagePagesPlainOrderAndDeviceIndex)
{
    ASSERT_EQ(fake_hid_add_device(0x046D, 0x1234, 0, "mouse"), 0);
    ASSERT_EQ(fake_hid_add_device(0x046D, 0xC21C, 0, "g13"), 1);
    ASSERT_EQ(fake_hid_add_device(0x1234, 0xC222, 0, "not logitech"), 2);
    ASSERT_EQ(fake_hid_add_device(0x046D, 0xC227, 0, "g15"), 3);
    start_hid(1);
    ASSERT_TRUE(wait_connected());
    EXPECT_EQ(fake_hid_counters().last_opened, 3);
}

TEST_F(HidLink, SecondKeyboardWithOnlyOneNeverOpens)
{
    add_g15();
    start_hid(1);
    ASSERT_TRUE(eventually(2000, [] {
        FakeHidCounters c = fake_hid_counters();
        return c.enumerate_calls >= 1 && c.lists_outstanding == 0;
    }));
    EXPECT_EQ(fake_hid_counters().open_calls, 0);
    EXPECT_EQ(lcd.link->disconnected, 1);
}

TEST_F(HidLink, DeviceThatCannotBeOpenedEndsTheAttempt)
{
    add_g15();
    fake_hid_set_open_fails("g15", 1);
    start_hid();
    ASSERT_TRUE(eventually(2000, [] {
        FakeHidCounters c = fake_hid_counters();
        return c.open_failures >= 1 && c.lists_outstanding == 0;
    }));
    EXPECT_EQ(lcd.link->disconnected, 1);
    EXPECT_EQ(fake_hid_counters().handles_outstanding, 0);
}

TEST_F(HidLink, OffUnlessEnabled)
{
    add_g15();
    script([](FakeLcdScript &s) { s.init_result = LCD_ERR_SERVER_UNAVAILABLE; });
    open();
    ASSERT_TRUE(fake_lcd_wait(&FakeLcdCounters::init_calls, 1, 2000));
    Sleep(100);
    EXPECT_EQ(fake_hid_counters().enumerate_calls, 0);
}

TEST_F(HidLink, EmptyDeviceListEndsTheAttempt)
{
    fake_hid_set_enumerate_empty(1);
    start_hid();
    ASSERT_TRUE(eventually(2000, [] { return fake_hid_counters().enumerate_calls >= 1; }));
    EXPECT_EQ(fake_hid_counters().free_enumeration_calls, 0); // nothing to free
    EXPECT_EQ(lcd.link->disconnected, 1);
}

TEST_F(HidLink, StopEndsTheHidLoop)
{
    add_g15();
    start_hid();
    ASSERT_TRUE(wait_connected());
    DWORD start = GetTickCount();
    lcd_destroy_surface(&lcd);
    EXPECT_LT(GetTickCount() - start, 400u);
    FakeHidCounters c = fake_hid_counters();
    EXPECT_EQ(c.handles_outstanding, 0);
    EXPECT_EQ(c.lists_outstanding, 0);
}

} // namespace
