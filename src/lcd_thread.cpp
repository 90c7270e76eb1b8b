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
    LOG_LINE_BUTTON_LOCK = 68,
    LOG_LINE_CONNECT = 189,
    LOG_LINE_OPEN = 218,
    LOG_LINE_FRAME_LOCK = 233,
    LOG_LINE_UPDATE = 241,
    LOG_LINE_ENUMERATE = 261,
    LOG_LINE_DISCONNECT = 267,
    LOG_LINE_HID_FRAME_LOCK = 322,
};

enum {
    FRAME_WAIT_MS = 100,
    HID_FRAME_WAIT_MS = 20,
    MUTEX_WAIT_MS = 1000,
    BUTTON_EVENT_WAIT_MS = 50,
    STOP_WAIT_MS = 1000,
    PAUSE_STEP_MS = 100,
    PAUSE_STEPS = 20, // two seconds between attempts
    // A server that keeps answering "another display" is not believed forever.
    MAX_DISPLAYS = 256,
};

const LcdManagerCalls lcd_manager_client = {
    lgLcdInit,     lgLcdDeInit,       lgLcdConnect,      lgLcdDisconnect,           lgLcdEnumerate,
    lgLcdOpen,     lgLcdClose,        lgLcdUpdateBitmap, lgLcdSetAsLCDForegroundApp,
};
LcdManagerCalls lcd_manager_calls = lcd_manager_client;

static int ctrl_key_down(void)
{
    return (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
}
LcdCtrlProbe lcd_ctrl_held = ctrl_key_down;
LcdSendInput lcd_send_input = SendInput;

volatile LONG link_threads_alive = 0;

// ---- Locking ---------------------------------------------------------------

int wait_ok(DWORD result, const char *source_file, int line)
{
    if (result == WAIT_OBJECT_0)
        return 1;
    const char *prefix = result == WAIT_ABANDONED ? "WAIT_ABANDONED "
                         : result == WAIT_TIMEOUT ? "WAIT_TIMEOUT "
                                                  : "";
    log_error(source_file, line, 0, "WaitForSingleObject() returned %s%08x", prefix,
              (unsigned)result);
    return 0;
}

int link_lock(LcdLink *link, DWORD timeout_ms, const char *source_file, int line)
{
    DWORD result = WaitForSingleObject(link->mutex, timeout_ms);
    if (source_file ? wait_ok(result, source_file, line) : result == WAIT_OBJECT_0)
        return 1;
    // An abandoned mutex is ours now; the fields it guards may be half
    // written, so this turn is skipped, but nobody may be locked out for good.
    if (result == WAIT_ABANDONED)
        ReleaseMutex(link->mutex);
    return 0;
}

// ---- Start and stop --------------------------------------------------------

static void free_link_record(LcdLink *link)
{
    if (link->mutex && link->mutex != INVALID_HANDLE_VALUE)
        CloseHandle(link->mutex);
    if (link->frame_ready && link->frame_ready != INVALID_HANDLE_VALUE)
        CloseHandle(link->frame_ready);
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
    link->mutex = CreateMutexA(0, FALSE, 0);
    link->frame_ready = CreateSemaphoreA(0, 0, 1, 0);
    if (!link->mutex || !link->frame_ready) {
        free_link_record(link);
        return 0;
    }
    link->disconnected = 1;
    copy_link_settings(link, lcd);
    link->hid = 0;
    link->pending = 0;

    InterlockedIncrement(&link_threads_alive);
    HANDLE thread = CreateThread(0, 0, link_thread, link, 0, 0);
    if (!thread) {
        InterlockedDecrement(&link_threads_alive);
        free_link_record(link);
        lcd->link = 0;
        return 0;
    }
    lcd->link = link;
    lcd->link_thread = thread;
    return 1;
}

void link_stop(Lcd *lcd, int wait)
{
    if (lcd->link)
        lcd->link->stop = 1;
    lcd->link = 0; // from here on the thread alone owns the record
    HANDLE thread = lcd->link_thread;
    if (thread) {
        if (wait && !wait_ok(WaitForSingleObject(thread, STOP_WAIT_MS), SOURCE, __LINE__)) {
            // Hung inside the LCD Manager: its record is never freed.
            TerminateThread(thread, 0);
        }
        CloseHandle(thread);
    }
    lcd->link_thread = 0;
}

// ---- LCD Manager attempt ---------------------------------------------------

// A6 frame loop: delivers frames while the display is open.
static void run_frame_loop(LcdLink *link, int device, LcdBitmap *bitmap)
{
    const LcdManagerCalls *server = &lcd_manager_calls;
    while (!link->stop && !link->disconnected) {
        if (WaitForSingleObject(link->frame_ready, FRAME_WAIT_MS) != WAIT_OBJECT_0)
            continue;
        if (link->pending == 0)
            continue;
        if (!link_lock(link, MUTEX_WAIT_MS, SOURCE, LOG_LINE_FRAME_LOCK))
            continue;
        // The mutex stays held for the whole call: a hung LCD Manager shows
        // up in the main thread as a mutex it cannot get.
        memcpy(bitmap->pixels, link->frame, LCD_FRAME_BYTES);
        DWORD result = server->update_bitmap(device, &bitmap->header, LCD_PRIORITY_NORMAL);
        if (result == 0) {
            link->pending = 0;
        } else {
            if (result != LCD_ERR_PIPE_NOT_CONNECTED && result != LCD_ERR_DEVICE_NOT_CONNECTED)
                lcd_check(result, SOURCE, LOG_LINE_UPDATE);
            link->disconnected = 1;
        }
        ReleaseMutex(link->mutex);
    }
}

// A5: the enumeration index of the display to open, or -1 for none.
static int find_display(LcdLink *link, int connection)
{
    int skip = link->device_index;
    for (int index = 0; index < MAX_DISPLAYS && !link->stop; index++) {
        LcdDeviceDescription description;
        memset(&description, 0, sizeof description);
        DWORD result = lcd_manager_calls.enumerate(connection, index, &description);
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
    const LcdManagerCalls *server = &lcd_manager_calls;
    LcdOpenContext open;
    memset(&open, 0, sizeof open);
    open.connection = connection;
    open.index = index;
    open.on_soft_buttons.callback = on_soft_buttons;
    open.on_soft_buttons.context = link;
    open.device = -1;
    if (!lcd_check(server->open(&open), SOURCE, LOG_LINE_OPEN))
        return;
    server->set_foreground(open.device, 1);
    server->set_foreground(open.device, 0);
    link->disconnected = 0;
    run_frame_loop(link, open.device, bitmap);
    link->disconnected = 1;
    server->close(open.device);
}

// A1 to A7: one connection to the LCD Manager, from lgLcdInit to lgLcdDeInit.
static void lcd_manager_attempt(LcdLink *link, LcdBitmap *bitmap)
{
    const LcdManagerCalls *server = &lcd_manager_calls;
    link->disconnected = 1;
    if (server->init() != 0)
        return; // not installed or not usable now; no lgLcdDeInit

    LcdConnectContext connect;
    memset(&connect, 0, sizeof connect);
    connect.app_name = link->app_name;
    connect.is_persistent = link->persistent;
    connect.is_autostartable = link->autostartable;
    connect.connection = -1;
    bitmap->header.format = LCD_BITMAP_FORMAT_MONO;

    DWORD result = server->connect(&connect);
    if (result == 0) {
        int index = find_display(link, connect.connection);
        if (index >= 0)
            open_display(link, connect.connection, index, bitmap);
        link->disconnected = 1;
        result = server->disconnect(connect.connection);
        if (result != LCD_ERR_PIPE_NOT_CONNECTED)
            lcd_check(result, SOURCE, LOG_LINE_DISCONNECT);
    } else if (result != LCD_ERR_ALREADY_EXISTS && result != LCD_ERR_NOT_RUNNING) {
        lcd_check(result, SOURCE, LOG_LINE_CONNECT);
    }
    link->disconnected = 1;
    server->deinit();
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

static void write_hid_frame(LcdLink *link, hid_device *device)
{
    uint8_t report[HID_OUTPUT_REPORT_BYTES];
    if (!link_lock(link, MUTEX_WAIT_MS, SOURCE, LOG_LINE_HID_FRAME_LOCK))
        return;
    hid_build_output_report(link->frame, report);
    // Counted as delivered when taken: a frame handed over while the report
    // is being written stays pending and is written on its own signal.
    link->pending = 0;
    ReleaseMutex(link->mutex);
    if (hid_write(device, report, sizeof report) < (int)sizeof report)
        link->disconnected = 1;
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
    while (!link->stop && !link->disconnected) {
        // Input is read after a frame signal only: at most once per tick.
        if (WaitForSingleObject(link->frame_ready, HID_FRAME_WAIT_MS) != WAIT_OBJECT_0)
            continue;
        if (link->pending != 0)
            write_hid_frame(link, device);
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

// 0 means "no time recorded", so a press at tick 0 is stamped 1.
static uint32_t stamp_now(void)
{
    uint32_t now = app_now_ms();
    return now ? now : 1;
}

DWORD WINAPI on_soft_buttons(int device, DWORD buttons, void *context)
{
    (void)device;
    LcdLink *link = (LcdLink *)context;
    if (!link)
        return 0;
    if (!link_lock(link, MUTEX_WAIT_MS, SOURCE, LOG_LINE_BUTTON_LOCK))
        return 0; // this change is lost
    uint32_t now = stamp_now();
    if (buttons == LCD_ALL_BUTTONS)
        link->quit = 1;
    int ctrl = lcd_ctrl_held();
    for (int i = 0; i < LCD_BUTTONS; i++) {
        if (buttons & (1u << i)) {
            if (ctrl)
                link->next_page[i] = 1;
            if (link->press_time[i] == 0)
                link->press_time[i] = now;
        } else if (link->press_time[i] != 0 && link->release_time[i] == 0) {
            link->release_time[i] = now;
        }
    }
    ReleaseMutex(link->mutex);
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
    // Every press stamps press_time or sets next_page first, so an idle button
    // needs no lock: this spares the tick four mutex round trips.
    if (link->press_time[i] == 0 && !link->next_page[i])
        return BUTTON_NONE;
    if (!link_lock(link, BUTTON_EVENT_WAIT_MS, 0, 0))
        return BUTTON_NONE; // decided on a later tick
    int event = button_event_at(link->press_time[i], link->release_time[i], link->next_page[i],
                                app_now_ms());
    if (event != BUTTON_UNDECIDED) {
        link->press_time[i] = 0;
        link->release_time[i] = 0;
        link->next_page[i] = 0;
    }
    ReleaseMutex(link->mutex);
    return event == BUTTON_UNDECIDED ? BUTTON_NONE : event;
}

// The window thread never waits for the link thread: one field, no lock.
void lcd_button_down(Lcd *lcd, int i)
{
    LcdLink *link = lcd->link;
    if (link && (unsigned)i < LCD_BUTTONS && link->press_time[i] == 0)
        link->press_time[i] = stamp_now();
}

void lcd_button_up(Lcd *lcd, int i)
{
    LcdLink *link = lcd->link;
    if (link && (unsigned)i < LCD_BUTTONS && link->press_time[i] != 0 &&
        link->release_time[i] == 0)
        link->release_time[i] = stamp_now();
}

int lcd_quit_requested(Lcd *lcd)
{
    LcdLink *link = lcd->link;
    return link && link->quit;
}

void lcd_enable_hid(Lcd *lcd, int value)
{
    if (lcd->link)
        lcd->link->hid = value;
}
