// The link thread: connects to the LCD Manager, opens the display and pushes
// each frame the main thread hands over; falls back to the keyboard's own
// USB HID interface when asked. Also the soft-button records. See lcd_thread.h.
#include "lcd_thread.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <hidapi.h>

#include "app.h"
#include "hid_report.h"
#include "util.h"

static const char SOURCE[] = "src/lcd_thread";

// Log sites keep fixed line numbers, so that errors.txt entries read the
// same from one version to the next.
enum {
    LOG_LINE_CONNECT = 189,
    LOG_LINE_OPEN = 218,
    LOG_LINE_UPDATE = 241,
    LOG_LINE_ENUMERATE = 261,
    LOG_LINE_DISCONNECT = 267,
};

enum {
    FRAME_WAIT_MS = 100,
    HID_FRAME_WAIT_MS = 20,
    STOP_WAIT_MS = 1000,
    PAUSE_STEP_MS = 100,
    PAUSE_STEPS = 20, // two seconds between attempts
    // A server that keeps answering "another display" is not believed forever.
    MAX_DISPLAYS = 256,
};


static int ctrl_key_down(void)
{
    return (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
}
LcdCtrlProbe lcd_ctrl_held = ctrl_key_down;
LcdSendInput lcd_send_input = SendInput;

volatile LONG link_threads_alive = 0;

// ---- Waits and the watchdog's view --------------------------------------------

int wait_ok(DWORD result, const char *source_file, int line)
{
    if (result == WAIT_OBJECT_0)
        return 1;
    const char *prefix = result == WAIT_ABANDONED ? "WAIT_ABANDONED "
                         : result == WAIT_TIMEOUT ? "WAIT_TIMEOUT "
                                                  : "";
    log_error(source_file, line, 0, "WaitForSingleObject() returned %s%08x", prefix,
              (unsigned)result);
    SetLastError(0);
    return 0;
}

int link_call_hung(const LcdLink *link, uint32_t now)
{
    uint32_t started = link->call_started;
    return started != 0 && now - started > LINK_CALL_TIMEOUT_MS;
}

// 0 means "no time recorded", so a stamp at clock 0 is 1.
static uint32_t stamp_now(void)
{
    uint32_t now = app_now_ms();
    return now ? now : 1;
}

// ---- Start and stop --------------------------------------------------------

static void free_link_record(LcdLink *link)
{
    memset(link, 0, sizeof *link);
    free(link);
}

static void copy_link_settings(LcdLink *link, const Lcd *lcd)
{
    memcpy(link->app_name, lcd->app_name, sizeof link->app_name);
    link->app_name[sizeof link->app_name - 1] = 0;
    link->autostartable = lcd->autostartable != 0;
    link->persistent = lcd->persistent != 0;
    link->device_index = lcd->device_index;
}

int link_start(Lcd *lcd)
{
    LcdLink *link = (LcdLink *)calloc(1, sizeof *link);
    if (!link)
        return 0;
    link->stop = 0;
    InitializeSRWLock(&link->lock);
    InitializeConditionVariable(&link->frame_ready);
    link->disconnected = 1;
    copy_link_settings(link, lcd);
    link->hid = lcd->hid; // the process's decision outlives any one link
    link->pending = 0;

    InterlockedIncrement(&link_threads_alive);
    HANDLE thread = CreateThread(0, 0, link_thread, link, 0, 0);
    if (!thread) {
        InterlockedDecrement(&link_threads_alive);
        free_link_record(link);
        lcd->link = 0;
        return 0;
    }
    AcquireSRWLockExclusive(&lcd->link_guard);
    lcd->link = link;
    ReleaseSRWLockExclusive(&lcd->link_guard);
    lcd->link_thread = thread;
    return 1;
}

void link_stop(Lcd *lcd, int wait)
{
    AcquireSRWLockExclusive(&lcd->link_guard);
    if (lcd->link)
        lcd->link->stop = 1;
    lcd->link = 0; // from here on the thread alone owns the record
    ReleaseSRWLockExclusive(&lcd->link_guard);
    HANDLE thread = lcd->link_thread;
    if (thread) {
        if (wait && WaitForSingleObject(thread, STOP_WAIT_MS) != WAIT_OBJECT_0) {
            // Hung inside the LCD Manager: its record is never freed.
            TerminateThread(thread, 0);
        }
        CloseHandle(thread);
    }
    lcd->link_thread = 0;
}

// ---- LCD Manager attempt ---------------------------------------------------

// Waits at most wait_ms for a frame to be handed over and copies the latest
// one into pixels. Returns how many frames it stands for (0: none came).
static int take_frame(LcdLink *link, DWORD wait_ms, uint8_t *pixels)
{
    AcquireSRWLockExclusive(&link->lock);
    if (link->pending == 0 && !link->stop)
        SleepConditionVariableSRW(&link->frame_ready, &link->lock, wait_ms, 0);
    int taken = link->pending;
    if (taken > 0)
        memcpy(pixels, link->frame, LCD_FRAME_BYTES);
    ReleaseSRWLockExclusive(&link->lock);
    return taken;
}

// Frames handed over while the delivered one was on its way stay pending, so
// the loop sends them at once.
static void frames_delivered(LcdLink *link, int taken)
{
    AcquireSRWLockExclusive(&link->lock);
    link->pending = link->pending > taken ? link->pending - taken : 0;
    ReleaseSRWLockExclusive(&link->lock);
}

// A6 frame loop: delivers frames while the display is open. The update call
// runs outside the lock; the main thread's watchdog sees a hung call through
// call_started.
static void run_frame_loop(LcdLink *link, int device, LcdBitmap *bitmap)
{
    while (!link->stop && !link->disconnected) {
        int taken = take_frame(link, FRAME_WAIT_MS, bitmap->pixels);
        if (taken == 0)
            continue;
        link->call_started = stamp_now();
        DWORD result = lgLcdUpdateBitmap(device, &bitmap->header, LCD_PRIORITY_NORMAL);
        link->call_started = 0;
        if (result == 0) {
            frames_delivered(link, taken);
        } else {
            if (result != LCD_ERR_PIPE_NOT_CONNECTED && result != LCD_ERR_DEVICE_NOT_CONNECTED)
                lcd_check(result, SOURCE, LOG_LINE_UPDATE);
            link->disconnected = 1;
        }
    }
}

// A5: the enumeration index of the display to open, or -1 for none.
static int find_display(LcdLink *link, int connection)
{
    int skip = link->device_index;
    for (int index = 0; index < MAX_DISPLAYS && !link->stop; index++) {
        LcdDeviceDescription description;
        memset(&description, 0, sizeof description);
        DWORD result = lgLcdEnumerate(connection, index, &description);
        if (result == LCD_ERR_NO_MORE_ITEMS)
            return -1;
        if (result != 0) {
            lcd_check(result, SOURCE, LOG_LINE_ENUMERATE);
            return -1;
        }
        if (description.width != LCD_WIDTH || description.height != LCD_HEIGHT)
            continue;
        if (skip <= 0)
            return index;
        skip--;
    }
    return -1;
}

// A6: opens the display, brings the program to its front once and runs the
// frame loop until the link is lost or stopped.
static void open_display(LcdLink *link, int connection, int index, LcdBitmap *bitmap)
{
    LcdOpenContext open;
    memset(&open, 0, sizeof open);
    open.connection = connection;
    open.index = index;
    open.on_soft_buttons.callback = on_soft_buttons;
    open.on_soft_buttons.context = link;
    open.device = -1;
    if (!lcd_check(lgLcdOpen(&open), SOURCE, LOG_LINE_OPEN))
        return;
    lgLcdSetAsLCDForegroundApp(open.device, 1);
    lgLcdSetAsLCDForegroundApp(open.device, 0);
    link->disconnected = 0;
    run_frame_loop(link, open.device, bitmap);
    link->disconnected = 1;
    lgLcdClose(open.device);
}

// A1 to A7: one connection to the LCD Manager, from lgLcdInit to lgLcdDeInit.
static void lcd_manager_attempt(LcdLink *link, LcdBitmap *bitmap)
{
    link->disconnected = 1;
    if (lgLcdInit() != 0)
        return; // not installed or not usable now; no lgLcdDeInit

    LcdConnectContext connect;
    memset(&connect, 0, sizeof connect);
    connect.app_name = link->app_name;
    connect.is_persistent = link->persistent;
    connect.is_autostartable = link->autostartable;
    connect.connection = -1;
    bitmap->header.format = LCD_BITMAP_FORMAT_MONO;

    DWORD result = lgLcdConnect(&connect);
    if (result == 0) {
        int index = find_display(link, connect.connection);
        if (index >= 0)
            open_display(link, connect.connection, index, bitmap);
        link->disconnected = 1;
        result = lgLcdDisconnect(connect.connection);
        if (result != LCD_ERR_PIPE_NOT_CONNECTED)
            lcd_check(result, SOURCE, LOG_LINE_DISCONNECT);
    } else if (result != LCD_ERR_ALREADY_EXISTS && result != LCD_ERR_NOT_RUNNING) {
        lcd_check(result, SOURCE, LOG_LINE_CONNECT);
    }
    link->disconnected = 1;
    lgLcdDeInit();
}

// ---- HID attempt -----------------------------------------------------------

// The supported collection at position device_index among the eligible ones.
static const hid_device_info *choose_hid_device(const hid_device_info *list, int device_index)
{
    int skip = device_index;
    for (const hid_device_info *d = list; d; d = d->next) {
        if (!hid_device_eligible(d->vendor_id, d->product_id, d->usage_page))
            continue;
        if (skip == 0)
            return d;
        skip--;
    }
    return 0;
}

static void write_hid_frame(LcdLink *link, hid_device *device, int taken, const uint8_t *pixels)
{
    uint8_t report[HID_OUTPUT_REPORT_BYTES];
    hid_build_output_report(pixels, report);
    if (hid_write(device, report, sizeof report) < (int)sizeof report)
        link->disconnected = 1;
    else
        frames_delivered(link, taken);
}

static void send_key_changes(const KeyState *previous, const KeyState *next)
{
    HidKeyEvent events[KEY_STATE_ENTRIES];
    int built = hid_key_events(previous, next, events);
    if (built <= 0)
        return;
    INPUT inputs[KEY_STATE_ENTRIES];
    memset(inputs, 0, sizeof inputs);
    for (int i = 0; i < built; i++) {
        inputs[i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = 0;
        inputs[i].ki.wScan = events[i].scan_code;
        inputs[i].ki.dwFlags = events[i].flags;
        inputs[i].ki.time = 0;
        inputs[i].ki.dwExtraInfo = 0;
    }
    UINT inserted = lcd_send_input((UINT)built, inputs, (int)sizeof(INPUT));
    if ((int)inserted < built)
        hid_log("failed to insert all events, %d of %d", (int)inserted, built);
}

static void read_hid_input(LcdLink *link, hid_device *device, KeyState *previous)
{
    uint8_t report[HID_INPUT_BUFFER_BYTES];
    int length;
    while ((length = hid_read(device, report, sizeof report)) > 0) {
        KeyState state;
        hid_parse_report(report, length, &state);
        on_soft_buttons(0, hid_soft_buttons(&state), link);
        send_key_changes(previous, &state);
        *previous = state;
    }
}

static void run_hid_device(LcdLink *link, hid_device *device)
{
    KeyState previous;
    memset(&previous, 0, sizeof previous); // keys held at open give a press
    hid_set_nonblocking(device, 1);
    link->disconnected = 0;
    uint8_t pixels[LCD_FRAME_BYTES];
    while (!link->stop && !link->disconnected) {
        // Input is read after a frame only: at most once per tick.
        int taken = take_frame(link, HID_FRAME_WAIT_MS, pixels);
        if (taken == 0)
            continue;
        write_hid_frame(link, device, taken, pixels);
        if (!link->disconnected)
            read_hid_input(link, device, &previous);
    }
    link->disconnected = 1;
}

// One HID attempt: returns when the keyboard is lost, not found, or stop is set.
static void hid_attempt(LcdLink *link)
{
    hid_device_info *list = hid_enumerate(0, 0);
    if (!list)
        return;
    const hid_device_info *chosen = choose_hid_device(list, link->device_index);
    hid_device *device = chosen && chosen->path ? hid_open_path(chosen->path) : 0;
    if (device) {
        run_hid_device(link, device);
        hid_close(device);
    }
    hid_free_enumeration(list);
}

void hid_log(const char *format, ...)
{
    log_file_bound("hid.log");
    FILE *file = fopen("hid.log", "a");
    if (!file)
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    text[sizeof text - 1] = 0;
    hid_log_clean(text);
    fprintf(file, "%s\n", text);
    fclose(file);
}

// ---- The thread ------------------------------------------------------------

// A9: two seconds, cut short by stop.
static void pause_between_attempts(LcdLink *link)
{
    for (int i = 0; i < PAUSE_STEPS && !link->stop; i++)
        Sleep(PAUSE_STEP_MS);
}

DWORD WINAPI link_thread(LPVOID param)
{
    LcdLink *link = (LcdLink *)param;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    LcdBitmap bitmap;
    memset(&bitmap, 0, sizeof bitmap);
    while (!link->stop) {
        lcd_manager_attempt(link, &bitmap);
        if (link->stop)
            break;
        if (link->hid)
            hid_attempt(link);
        pause_between_attempts(link);
    }
    free_link_record(link);
    InterlockedDecrement(&link_threads_alive);
    return 0;
}

// ---- Soft buttons ----------------------------------------------------------

// A press is a button going down that the last reported change had up: a
// button held on through other buttons' changes neither starts a new press
// nor asks for another page.
DWORD WINAPI on_soft_buttons(int device, DWORD buttons, void *context)
{
    (void)device;
    LcdLink *link = (LcdLink *)context;
    if (!link)
        return 0;
    int ctrl = lcd_ctrl_held();
    AcquireSRWLockExclusive(&link->lock);
    uint32_t now = stamp_now();
    if (buttons == LCD_ALL_BUTTONS)
        link->quit = 1;
    for (int i = 0; i < LCD_BUTTONS; i++) {
        const DWORD bit = 1u << i;
        if ((buttons & bit) && !(link->buttons_down & bit)) {
            if (ctrl)
                link->next_page[i] = 1;
            if (link->press_time[i] == 0)
                link->press_time[i] = now;
        } else if (!(buttons & bit) && link->press_time[i] != 0 && link->release_time[i] == 0) {
            link->release_time[i] = now;
        }
    }
    link->buttons_down = buttons & LCD_ALL_BUTTONS;
    ReleaseSRWLockExclusive(&link->lock);
    return 0;
}

int button_event_at(uint32_t press, uint32_t release, int next_page, uint32_t now)
{
    if (next_page == 1)
        return BUTTON_NEXT_PAGE;
    if (press == 0)
        return BUTTON_NONE;
    if (release != 0) {
        if (release - press < LONG_PRESS_MS)
            return BUTTON_SHORT;
        return release > press ? BUTTON_LONG : BUTTON_NONE;
    }
    if (now - press < LONG_PRESS_MS)
        return BUTTON_UNDECIDED;
    return now > press ? BUTTON_LONG : BUTTON_NONE;
}

int lcd_button_event(Lcd *lcd, int i)
{
    LcdLink *link = lcd->link;
    if (!link || (unsigned)i >= LCD_BUTTONS)
        return BUTTON_NONE;
    AcquireSRWLockExclusive(&link->lock);
    int event = button_event_at(link->press_time[i], link->release_time[i], link->next_page[i],
                                app_now_ms());
    if (event != BUTTON_UNDECIDED) {
        link->press_time[i] = 0;
        link->release_time[i] = 0;
        link->next_page[i] = 0;
    }
    ReleaseSRWLockExclusive(&link->lock);
    return event == BUTTON_UNDECIDED ? BUTTON_NONE : event;
}

// The window thread's presses: link_guard keeps the record from being
// detached (and freed by its thread) while one is stamped.
static void stamp_from_window(Lcd *lcd, int i, int down)
{
    if ((unsigned)i >= LCD_BUTTONS)
        return;
    AcquireSRWLockShared(&lcd->link_guard);
    LcdLink *link = lcd->link;
    if (link) {
        AcquireSRWLockExclusive(&link->lock);
        if (down && link->press_time[i] == 0)
            link->press_time[i] = stamp_now();
        else if (!down && link->press_time[i] != 0 && link->release_time[i] == 0)
            link->release_time[i] = stamp_now();
        ReleaseSRWLockExclusive(&link->lock);
    }
    ReleaseSRWLockShared(&lcd->link_guard);
}

void lcd_button_down(Lcd *lcd, int i)
{
    stamp_from_window(lcd, i, 1);
}

void lcd_button_up(Lcd *lcd, int i)
{
    stamp_from_window(lcd, i, 0);
}

int lcd_quit_requested(Lcd *lcd)
{
    LcdLink *link = lcd->link;
    return link && link->quit;
}

void lcd_enable_hid(Lcd *lcd, int value)
{
    lcd->hid = value;
    if (lcd->link)
        lcd->link->hid = value;
}
