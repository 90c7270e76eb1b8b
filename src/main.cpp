// The program: start-up, the open loop and the 100 ms tick, shut-down.
//
// Threads: the main thread (highest priority) draws, polls and configures; the
// window thread runs the test window (testwindow.cpp); the link thread
// (lcd_thread.cpp) talks to the display.
#include "main.h"

#include <windows.h>

#include <string.h>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "modules.h"
#include "popup.h"
#include "slots.h"
#include "sysinfo.h"
#include "testwindow.h"
#include "ticker.h"
#include "topline.h"
#include "util.h"

static const char APP_NAME_FOR_LCD[] = "Wick's panel";
static const int TIMER_PERIOD_MS = 100;
static const int TIMER_WAIT_MS = 200;
static const int TEST_WINDOW_AFTER_FAILURES = 20;
static const uint32_t LCDMON_RETRY_FIRST_MS = 4000;    // a starting LCD Manager shows its window by then
static const uint32_t LCDMON_RETRY_MAX_MS = 5 * 60000;
static const int OPEN_RETRY_PAUSE_MS = 1000;
static const char INSTANCE_MUTEX[] = "Local\\Pixwick.SingleInstance";
static const int TITLE_RESTORE_AFTER_FAILURES = 19;

// ---- The tick ----------------------------------------------------------------

static void apply_button_events(void)
{
    for (int i = 0; i < SLOT_COUNT; i++) {
        switch (lcd_button_event(&g_lcd, i)) {
        case BUTTON_SHORT:
            g_slots[i].pending_action = BUTTON_SHORT;
            break;
        case BUTTON_LONG:
            g_slots[i].pending_action = BUTTON_LONG;
            break;
        case BUTTON_NEXT_PAGE:
            slot_next_page(&g_slots[i]);
            break;
        }
    }
}

static void refresh_configuration(void)
{
    int refresh = g_general.config_refresh;
    if (refresh <= 0 || (unsigned)tick_count % (unsigned)refresh != 0)
        return;
    int sliding = g_general.animate_start != 0;
    if (!config_check_reload(&g_config))
        return;
    modules_configure_all();
    config_report_problems(&g_config);
    if (sliding)
        slots_put_in_place();
}

static void wait_for_lcdmon_window(int tries)
{
    for (int k = 0; k < tries; k++) {
        Sleep(100);
        if (find_lcdmon_window())
            return;
    }
}

// T7, without ever waiting for the LCD Manager: its window is looked for on
// later second ticks. Launches that bring no window come further and further
// apart, up to LCDMON_RETRY_MAX_MS, and start afresh once a window is seen.
static void start_lcdmon_if_missing(MainLoop *loop)
{
    if (!second_tick || !g_general.lcdmon_starting || !g_lcd.install_path[0])
        return;
    if (find_lcdmon_window()) {
        loop->lcdmon_retry_ms = 0;
        return;
    }
    uint32_t now = app_now_ms();
    if (loop->lcdmon_retry_ms && now - loop->lcdmon_launched_ms < loop->lcdmon_retry_ms)
        return;
    launch_lcdmon();
    loop->lcdmon_launched_ms = now;
    loop->lcdmon_retry_ms = !loop->lcdmon_retry_ms                         ? LCDMON_RETRY_FIRST_MS
                            : loop->lcdmon_retry_ms >= LCDMON_RETRY_MAX_MS / 2 ? LCDMON_RETRY_MAX_MS
                                                                            : 2 * loop->lcdmon_retry_ms;
}

static void submit_frame(MainLoop *loop)
{
    testwindow_keep_frame(g_lcd.frame);
    if (!lcd_submit(&g_lcd)) {
        loop->submit_failures++;
        return;
    }
    if (loop->submit_failures > TITLE_RESTORE_AFTER_FAILURES && main_window)
        SetWindowTextA(main_window, PIXWICK_NAME);
    loop->submit_failures = 0;
}

static void update_test_window(const MainLoop *loop)
{
    HWND window = main_window;
    if (!window)
        return;
    int setting = g_general.testwindow;
    int show = setting > 0 || (setting == 0 && loop->submit_failures > TEST_WINDOW_AFTER_FAILURES);
    if (show)
        InvalidateRect(window, NULL, FALSE);
    // ShowWindow would send a message to the window thread and wait for it;
    // when the window is already as it should be, that changes nothing. It
    // never takes the focus: a game in front keeps the keyboard.
    if (!IsWindowVisible(window) != !show)
        ShowWindow(window, show ? SW_SHOWNOACTIVATE : SW_HIDE);
    if (second_tick && loop->submit_failures > TEST_WINDOW_AFTER_FAILURES)
        SetWindowTextA(window, unresponsive_title(tick_count));
}

static void hid_fallback_check(MainLoop *loop)
{
    int use_hid = g_general.use_hid;
    if (use_hid <= 0 || !second_tick || !loop->submit_failures)
        return;
    if (++loop->hid_count != use_hid)
        return;
    popup(&g_popups, 20, 1000, "Enabling HID access");
    log_system("Enabling HID access");
    lcd_enable_hid(&g_lcd, use_hid);
}

int main_tick_wait(MainLoop *loop)
{
    WaitForSingleObject((HANDLE)loop->timer, TIMER_WAIT_MS);
    next_tick_due = GetTickCount() + TIMER_PERIOD_MS;
    return !quit_requested;
}

void main_tick(MainLoop *loop)
{
    if (g_general.animate_start)
        animate_start(&g_general.animate_start);
    if (loop->second_phase == 0) {
        second_tick = 1;
        blink = 1 - blink;
    } else {
        second_tick = 0;
    }
    refresh_configuration();
    start_lcdmon_if_missing(loop);
    modules_sample_network();
    media_stop_watch();
    if (lcd_quit_requested(&g_lcd))
        quit_requested = quit_requested + 1;
    apply_button_events();
    modules_poll_all();

    topline_render(&g_topline);
    if (!popup_render(&g_popups))
        modules_draw_band_meters();
    slots_render();
    ticker_render(&g_ticker);

    submit_frame(loop);
    update_test_window(loop);
    hid_fallback_check(loop);

    loop->second_phase = loop->second_phase == 9 ? 0 : loop->second_phase + 1;
    tick_count = (int)((unsigned)tick_count + 1u);
}

// ---- Start-up, open loop, shut-down ------------------------------------------

static void open_pass_announce(const MainLoop *loop)
{
    lcd_set_small_font(&g_lcd, g_general.small_font_name, g_general.small_font_size);
    lcd_set_large_font(&g_lcd, g_general.large_font_name, g_general.large_font_size);
    popup(&g_popups, 10, 1000, "%s", PIXWICK_NAME);
    if (loop->log_failures)
        popup(&g_popups, 18, 5000,
              "Warning! Documents\\Pixwick directory isn't writable, system.txt and errors.txt "
              "cannot be created.");
}

// Gives the link thread about a second to connect before the first real frame.
static void let_link_connect(void)
{
    if (!g_lcd.install_path[0])
        return;
    wait_for_lcdmon_window(10);
    for (int k = 0; k < 10; k++) {
        if (lcd_submit(&g_lcd))
            return;
        Sleep(100);
    }
}

// A pause before the next attempt after a failed open, cut short by a quit:
// an open that keeps failing must not spin.
static void pause_after_failed_open(void)
{
    for (int waited = 0; waited < OPEN_RETRY_PAUSE_MS && !quit_requested; waited += 100)
        Sleep(100);
}

static void open_pass(MainLoop *loop)
{
    if (lcd_open(&g_lcd, APP_NAME_FOR_LCD, 1, 1, 0)) {
        open_pass_announce(loop);
        let_link_connect();
        next_tick_due = GetTickCount() + TIMER_PERIOD_MS;
        loop->second_phase = 0;
        loop->submit_failures = 0;
        while (main_tick_wait(loop))
            main_tick(loop);
        lcd_destroy_surface(&g_lcd);
        return;
    }
    lcd_destroy_surface(&g_lcd);
    pause_after_failed_open();
}

static int window_thread_running(HANDLE thread)
{
    DWORD code;
    return GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
}

static void wait_for_main_window(HANDLE thread)
{
    for (int sleeps = 0; !main_window && sleeps < 49 && thread && window_thread_running(thread); sleeps++)
        Sleep(100);
}

static int log_driver_info(void)
{
    int failures = 0;
    lcd_read_driver_info(&g_lcd);
    if (!log_system("Logitech drivers version '%s'\n", g_lcd.version))
        failures++;
    if (!log_system("Logitech installation path is '%s'\n", g_lcd.install_path))
        failures++;
    return failures;
}

static HANDLE start_tick_timer(void)
{
    HANDLE timer = CreateWaitableTimerA(NULL, FALSE, NULL);
    LARGE_INTEGER due;
    due.QuadPart = 0;
    if (timer && SetWaitableTimer(timer, &due, TIMER_PERIOD_MS, NULL, NULL, FALSE))
        return timer;
    log_error("src/main", 393, GetLastError(), "failed to set waitable timer");
    SetLastError(0);
    if (timer)
        CloseHandle(timer);
    return NULL;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    (void)previous;
    (void)command_line;
    (void)show;
    // One copy per session, whatever the running one's title says: the
    // window test alone misses a copy that shows the unresponsive notice.
    HANDLE instance_lock = CreateMutexA(NULL, FALSE, INSTANCE_MUTEX);
    if (!instance_lock || GetLastError() == ERROR_ALREADY_EXISTS || FindWindowA(TESTWINDOW_CLASS, PIXWICK_NAME))
        return 0;
    app_instance = instance;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);

    HANDLE thread = CreateThread(NULL, 0, testwindow_thread, NULL, 0, NULL);
    wait_for_main_window(thread);
    if (!main_window) {
        MessageBoxA(NULL, "Failed to create main window", PIXWICK_NAME, MB_ICONERROR);
        return 0;
    }

    log_system(NULL);
    log_system("Starting " PIXWICK_NAME "\n");
    describe_system();
    MainLoop loop;
    memset(&loop, 0, sizeof loop);
    loop.log_failures = log_driver_info();

    HANDLE timer = start_tick_timer();
    if (!timer)
        return 0;
    loop.timer = timer;

    config_init(&g_config);
    for (int i = 0; i < SLOT_COUNT; i++)
        slot_init(&g_slots[i], i);
    modules_start_all();
    config_report_problems(&g_config);
    // quit_requested is 0 from load on; a close or log-off seen during
    // start-up must still end the program, so it is not reset here.
    loop.hid_count = 0;

    while (!quit_requested)
        open_pass(&loop);

    modules_stop_all();
    config_clear(&g_config);
    popup_clear(&g_popups);
    CloseHandle(timer);
    if (thread)
        CloseHandle(thread);
    CloseHandle(instance_lock);
    return 0;
}
