// The program: start-up, the 100 ms tick loop and shut-down; the four slots
// and the page dispatcher; the test window.
//
// Threads: the main thread (highest priority) draws, polls and configures; the
// window thread runs the test window; the link thread (lcd_thread.cpp) talks
// to the display. The window thread only increments quit_requested, writes
// main_window, a slot's start_index and button times, and reads slot x, y,
// shown_index and the shown frame.
#include "main.h"

#include <windows.h>
#include <windowsx.h>

#include <limits.h>
#include <string.h>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "mod_clk.h"
#include "mod_cpu.h"
#include "mod_stw.h"
#include "popup.h"
#include "sysinfo.h"
#include "ticker.h"
#include "topline.h"
#include "util.h"

static const char WINDOW_CLASS[] = "PixwickWnd";
static const char APP_NAME_FOR_LCD[] = "Wick's panel";
static const DWORD WINDOW_STYLE = 0x80C80000; // pop-up, caption, system menu
static const DWORD RASTER_INVERTED_SOURCE = 0x330008;
static const int CLIENT_WIDTH = 324;
static const int CLIENT_HEIGHT = 90;
static const int IMAGE_LEFT = 2;
static const int IMAGE_TOP = 2;
static const int IMAGE_SCALE = 2;
static const int TIMER_PERIOD_MS = 100;
static const int TIMER_WAIT_MS = 200;
static const int SLOT_HOME_Y = 22;
static const int SLIDE_IN_END = 46;
static const int TEST_WINDOW_AFTER_FAILURES = 20;
static const int TITLE_RESTORE_AFTER_FAILURES = 19;

Slot g_slots[SLOT_COUNT];

// ---------------------------------------------------------------------------
// Slots

static const int SLOT_COLUMNS[SLOT_COUNT] = {0, 40, 81, 121};
enum { TOKEN_CHARS = 32, CODE_CHARS = 3 };

static int code_equals(const char *a, const char *b)
{
    for (;; a++, b++) {
        char ca = *a >= 'a' && *a <= 'z' ? (char)(*a - 32) : *a;
        char cb = *b >= 'a' && *b <= 'z' ? (char)(*b - 32) : *b;
        if (ca != cb)
            return 0;
        if (ca == 0)
            return 1;
    }
}

void slot_init(Slot *slot, int number)
{
    slot->number = number;
    slot->x = number >= 0 && number < SLOT_COUNT ? SLOT_COLUMNS[number] : 0;
    slot->y = SLOT_HOME_Y;
    slot->pending_action = 0;
    slot_parse(slot);
}

// One token of a slot list: trailing-or-embedded '+' count variants, '*' asks
// for a long press; the code is what stands before the first mark, cut to 3.
static void slot_add_token(Slot *slot, const char *token, int length)
{
    char work[TOKEN_CHARS + 1];
    if (length > TOKEN_CHARS)
        length = TOKEN_CHARS;
    memcpy(work, token, (size_t)length);
    work[length] = 0;

    int variants = 0;
    for (int k = length - 1; k >= 0; k--) {
        if (work[k] == '+') {
            work[k] = 0;
            variants++;
        } else if (work[k] == '*') {
            work[k] = 0;
            slot->pending_action = BUTTON_LONG;
        }
    }
    char *code = slot->codes[slot->count];
    memset(code, 0, CODE_CHARS + 1);
    for (int k = 0; k < CODE_CHARS && work[k]; k++)
        code[k] = work[k];
    slot->variants[slot->count] = variants;
    slot->count++;
}

void slot_parse_value(Slot *slot, const char *value)
{
    slot->count = 0;
    slot->start_index = 0;
    slot->shown_index = 0;
    memset(slot->codes, 0, sizeof slot->codes);
    memset(slot->variants, 0, sizeof slot->variants);
    if (!value)
        return;

    const char *token;
    int length;
    while (slot->count < SLOT_MAX_CODES && (token = config_next_word(&value, &length)))
        slot_add_token(slot, token, length);
}

void slot_parse(Slot *slot)
{
    char key[] = "slot_0";
    key[5] = (char)('0' + (slot->number & 3));
    slot_parse_value(slot, config_get(&g_config, key));
}

int slot_variant(const Slot *slot, const char *code)
{
    for (int k = 0; k < slot->count && k < SLOT_MAX_CODES; k++)
        if (code_equals(slot->codes[k], code))
            return slot->variants[k];
    return 0;
}

void slot_draw_frame(Slot *slot, const char *label)
{
    uint8_t *frame = g_lcd.frame;
    const int x = slot->x, y = slot->y;
    if (frame) {
        for (int c = x + 1; c <= x + SLOT_WIDTH - 2; c++)
            frame_put(frame, c, y, 255);
        for (int r = y + 1; r <= y + SLOT_HEIGHT - 1; r++) {
            frame_put(frame, x, r, 255);
            frame_put(frame, x + SLOT_WIDTH - 1, r, 255);
        }
    }
    int width = lcd_text(&g_lcd, TXT_TINY | TXT_INVERT | TXT_OPAQUE, x + 1, y + 1, label);
    if (frame)
        for (int c = x + 1; c <= x + width; c++)
            frame_put(frame, c, y + 6, 255);
}

int slot_text(Slot *slot, int flags, int dx, int dy, const char *text)
{
    if (dx < 0)
        dx += SLOT_WIDTH - 2;
    if (dy < 0)
        dy += SLOT_HEIGHT - 1;
    return lcd_text(&g_lcd, flags, slot->x + 1 + dx, slot->y + 1 + dy, text);
}

void slot_next_page(Slot *slot)
{
    int next = slot->shown_index + 1;
    slot->start_index = next > SLOT_MAX_CODES - 1 || next < 0 ? 0 : next;
}

// ---------------------------------------------------------------------------
// Modules. Each list names every module in its place; a module that is not
// built yet is left out, so adding one is one line per list.

// Render order: CPU, SPK, NET, AMP, STW, CLK, TS2, TS3, FPS, FAN, COR, GPU, TUN, RIP.
int module_render_by_code(const char *code, int slot)
{
    if (code_equals(code, g_cpu.code))
        return cpu_render(&g_cpu, slot);
    if (code_equals(code, g_stw.code))
        return stw_render(&g_stw, slot);
    if (code_equals(code, g_clk.code))
        return clk_render(&g_clk, slot);
    return 0;
}

SlotRenderFn slot_render_module = module_render_by_code;

// topline_start, CPU, net_init, the ticker, TS2, TS3, SPK, NET, AMP, STW, CLK,
// FPS, FAN, COR, GPU, TUN, RIP.
void modules_start_all(void)
{
    topline_start(&g_topline);
    cpu_start(&g_cpu);
    ticker_start(&g_ticker);
    ticker_set_linger(&g_ticker, g_general.linger);
    stw_start(&g_stw);
    clk_start(&g_clk);
}

// CPU, SPK, NET, AMP, STW, CLK, FPS, FAN, COR, GPU, TUN, TS2, TS3, RIP.
void modules_poll_all(void)
{
    cpu_poll(&g_cpu);
}

// Reload: the slots, the ticker's linger, the top line, CPU, net_configure,
// SPK, AMP, STW, CLK, FAN, COR, GPU, TUN.
static void modules_configure_all(void)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        slot_parse(&g_slots[i]);
    ticker_set_linger(&g_ticker, g_general.linger);
    topline_configure(&g_topline);
    cpu_configure(&g_cpu);
    stw_configure(&g_stw);
    clk_configure(&g_clk);
}

// RIP, TUN (1), GPU, COR, FAN, FPS, CLK, STW, AMP, NET, SPK, TS2 (1), TS3, the
// ticker, net_close, CPU, the top line.
void modules_stop_all(void)
{
    ticker_clear(&g_ticker);
    cpu_stop(&g_cpu);
    topline_stop(&g_topline);
}

// The CPU meter (columns 0..78) and the network meter (from column 81) in the
// band, on ticks without a pop-up.
static void band_meters_render(void)
{
    cpu_draw_meter(&g_cpu);
}

// ---------------------------------------------------------------------------
// Dispatcher and slide-in

int slot_walk(Slot *slot, int i)
{
    int start = slot->start_index; // the window thread may change it meanwhile
    if (start < 0 || start >= SLOT_MAX_CODES)
        start = 0;
    int count = slot->count;
    int p = start;
    for (;;) {
        if (p < count && slot_render_module(slot->codes[p], i))
            break;
        p = p + 1 == SLOT_MAX_CODES ? 0 : p + 1;
        if (p == start)
            break;
    }
    slot->shown_index = p;
    return p;
}

void slots_render(void)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        slot_walk(&g_slots[i], i);
}

void slots_put_in_place(void)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        g_slots[i].y = SLOT_HOME_Y;
}

// One step of the start-up slide-in. The counter moves on before the step,
// so the step that ends the slide-in leaves it at 0.
void animate_start(int *counter)
{
    int v = *counter;
    if (v < 1) {
        slots_put_in_place();
        *counter = 0;
        return;
    }
    *counter = v == INT_MAX ? SLIDE_IN_END : v + 1;
    if (v & 1)
        return;
    for (int i = 0; i < SLOT_COUNT; i++) {
        int y = 44 - v + 6 * i;
        g_slots[i].y = y < SLOT_HOME_Y ? SLOT_HOME_Y : y;
    }
    if (v >= SLIDE_IN_END) {
        slots_put_in_place();
        *counter = 0;
    }
}

// ---------------------------------------------------------------------------
// Test window

// What the window shows: a copy of each frame as it is handed to the link.
// The link record itself may be freed by its thread at any moment (watchdog
// restart, end of a pass), so the window never reads it.
static uint8_t shown_frame[LCD_FRAME_BYTES];
static struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
} shown_bitmap_info;

static void init_shown_bitmap_info(void)
{
    BITMAPINFOHEADER *h = &shown_bitmap_info.header;
    h->biSize = sizeof(BITMAPINFOHEADER);
    h->biWidth = LCD_WIDTH;
    h->biHeight = -LCD_HEIGHT;
    h->biPlanes = 1;
    h->biBitCount = 8;
    h->biCompression = BI_RGB;
    h->biSizeImage = LCD_FRAME_BYTES;
    h->biClrUsed = 256;
    h->biClrImportant = 256;
    for (int i = 0; i < 256; i++) {
        RGBQUAD *q = &shown_bitmap_info.colours[i];
        q->rgbBlue = q->rgbGreen = q->rgbRed = (BYTE)i;
        q->rgbReserved = 0;
    }
}

int paint_display(void *dc, int left, int top, int scale)
{
    if (!g_lcd.link)
        return 0;
    if (!shown_bitmap_info.header.biSize)
        init_shown_bitmap_info();
    return StretchDIBits((HDC)dc, left, top, LCD_WIDTH * scale, LCD_HEIGHT * scale, 0, 0, LCD_WIDTH,
                         LCD_HEIGHT, shown_frame, (const BITMAPINFO *)&shown_bitmap_info,
                         DIB_RGB_COLORS, RASTER_INVERTED_SOURCE);
}

int window_hit_test(int x, int y)
{
    if (x < IMAGE_LEFT || y < IMAGE_TOP)
        return -1;
    int px = x / IMAGE_SCALE, py = y / IMAGE_SCALE;
    for (int i = 0; i < SLOT_COUNT; i++) {
        const Slot *s = &g_slots[i];
        if (s->x <= px && px <= s->x + SLOT_WIDTH - 1 && s->y <= py && py <= s->y + SLOT_HEIGHT - 1)
            return i;
    }
    return -1;
}

const char *unresponsive_title(int tick)
{
    unsigned phase = (unsigned)tick % 90;
    if (phase < 30)
        return PIXWICK_NAME;
    if (phase < 60)
        return "Your G15 is unresponsive!";
    return "Try updating Logitech drivers.";
}

static int hit_slot(LPARAM position)
{
    return window_hit_test(GET_X_LPARAM(position), GET_Y_LPARAM(position));
}

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    int i;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        paint_display(dc, IMAGE_LEFT, IMAGE_TOP, IMAGE_SCALE);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_CLOSE:
    case WM_ENDSESSION:
        quit_requested = quit_requested + 1;
        break;
    case WM_LBUTTONDOWN:
        if ((i = hit_slot(lparam)) >= 0)
            lcd_button_down(&g_lcd, i);
        return 0;
    case WM_LBUTTONUP:
        if ((i = hit_slot(lparam)) >= 0)
            lcd_button_up(&g_lcd, i);
        return 0;
    case WM_RBUTTONDOWN:
        if ((i = hit_slot(lparam)) >= 0)
            slot_next_page(&g_slots[i]);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

static DWORD WINAPI window_thread(LPVOID unused)
{
    (void)unused;
    RECT outer = {0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
    AdjustWindowRect(&outer, WINDOW_STYLE, FALSE);

    WNDCLASSEXA wc;
    memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window_procedure;
    wc.hInstance = app_instance;
    wc.hCursor = (HCURSOR)LoadImageA(NULL, MAKEINTRESOURCEA(32512), IMAGE_CURSOR, 0, 0,
                                     LR_SHARED | LR_DEFAULTSIZE); // IDC_ARROW
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = WINDOW_CLASS;
    RegisterClassExA(&wc);

    main_window = CreateWindowExA(0, WINDOW_CLASS, PIXWICK_NAME, WINDOW_STYLE, CW_USEDEFAULT,
                                  CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top,
                                  NULL, NULL, app_instance, NULL);

    MSG msg;
    while (main_window && !quit_requested) {
        // -1 (the window is gone) ends the loop as well as WM_QUIT does
        if (GetMessageA(&msg, main_window, 0, 0) <= 0)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    quit_requested = quit_requested + 1;
    if (main_window) {
        HWND window = main_window;
        main_window = 0;
        DestroyWindow(window);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// The tick

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

static void start_lcdmon_if_missing(void)
{
    if (!second_tick || !g_general.lcdmon_starting || !g_lcd.install_path[0] || find_lcdmon_window())
        return;
    launch_lcdmon();
    wait_for_lcdmon_window(30);
}

static void submit_frame(MainLoop *loop)
{
    if (g_lcd.frame)
        memcpy(shown_frame, g_lcd.frame, LCD_FRAME_BYTES);
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
    // when the window is already as it should be, that changes nothing.
    if (!IsWindowVisible(window) != !show)
        ShowWindow(window, show ? SW_SHOW : SW_HIDE);
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
    start_lcdmon_if_missing();
    media_stop_watch();
    if (lcd_quit_requested(&g_lcd))
        quit_requested = quit_requested + 1;
    apply_button_events();
    modules_poll_all();

    topline_render(&g_topline);
    if (!popup_render(&g_popups))
        band_meters_render();
    slots_render();
    ticker_render(&g_ticker);

    submit_frame(loop);
    update_test_window(loop);
    hid_fallback_check(loop);

    loop->second_phase = loop->second_phase == 9 ? 0 : loop->second_phase + 1;
    tick_count = (int)((unsigned)tick_count + 1u);
}

// ---------------------------------------------------------------------------
// Start-up, open loop, shut-down

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
    }
    lcd_destroy_surface(&g_lcd);
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
    if (FindWindowA(WINDOW_CLASS, PIXWICK_NAME))
        return 0;
    app_instance = instance;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);

    HANDLE thread = CreateThread(NULL, 0, window_thread, NULL, 0, NULL);
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
    return 0;
}
