// LCDMon.exe: the stand-in LCD Manager process. It owns the shared block that
// its server library (LCDMonServer.dll) writes frames into, shows the current
// frame enlarged in a window of class "Logitech LCD Monitor Window" titled
// "LCDMon" with four clickable soft buttons under each display, mirrors it in
// the terminal with --console, and answers control commands (see usage()).
//
//   LCDMon.exe [server options]       run the stand-in
//   LCDMon.exe --register [...]       write its registry entries and exit
//   LCDMon.exe --ctl COMMAND...       send one command to the running one
//   LCDMon.exe --save FILE.png|.pbm   save the running one's current frame
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lcdmon_image.h"
#include "lcdmon_shared.h"

#define WINDOW_CLASS "Logitech LCD Monitor Window"
#define WINDOW_TITLE "LCDMon"
#define MAX_SCHEDULED 64
#define MARGIN LCDMON_MARGIN
#define LABEL_HEIGHT LCDMON_LABEL_HEIGHT
#define CONSOLE_MIN_INTERVAL_MS 50
#define COMMAND_TIMEOUT_MS 10000

// A scripted release: at due, clear release_mask on display.
struct Scheduled {
    int used;
    DWORD due;
    uint32_t display;
    uint32_t release_mask;
    uint32_t ctrl;
};

struct LcdMon {
    // options
    int console;
    int scale;
    DWORD lifetime_ms;
    HANDLE parent; // ends the stand-in when it ends

    // shared objects
    HANDLE mapping;
    HANDLE lock;
    HANDLE alive;
    HANDLE frame_event;
    HANDLE command_event;
    HANDLE slot_events[LCDMON_MAX_SLOTS];
    LcdMonBlock *block;

    // window
    HWND window;
    BITMAPINFO *palette_info;
    uint32_t buttons[LCDMON_MAX_DISPLAYS]; // soft buttons down, as last reported
    uint32_t latched[LCDMON_MAX_DISPLAYS]; // held down by a right click
    int mouse_display;                     // the left button holds a soft button
    uint32_t mouse_bit;
    uint8_t shown[LCDMON_MAX_DISPLAYS][LCDMON_FRAME_BYTES];
    uint32_t shown_count[LCDMON_MAX_DISPLAYS];
    uint32_t display_count;                // what the window is laid out for

    Scheduled scheduled[MAX_SCHEDULED];
    DWORD start;
    int quit;
    int console_dirty;
    int console_drawn;
    DWORD console_last;
};

static LcdMon g;

// ---- Output for a GUI program started from a terminal -------------------------

static HANDLE output_handle(void)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE) {
        AttachConsole(ATTACH_PARENT_PROCESS);
        out = GetStdHandle(STD_OUTPUT_HANDLE);
    }
    return out;
}

static void write_out(const char *text, size_t length)
{
    HANDLE out = output_handle();
    if (!out || out == INVALID_HANDLE_VALUE)
        return;
    DWORD mode;
    if (GetConsoleMode(out, &mode)) {
        int wide_length = MultiByteToWideChar(CP_UTF8, 0, text, (int)length, 0, 0);
        wchar_t *wide = (wchar_t *)malloc(sizeof(wchar_t) * (wide_length + 1));
        if (!wide)
            return;
        MultiByteToWideChar(CP_UTF8, 0, text, (int)length, wide, wide_length);
        DWORD written;
        WriteConsoleW(out, wide, wide_length, &written, 0);
        free(wide);
        return;
    }
    DWORD written;
    WriteFile(out, text, (DWORD)length, &written, 0);
}

static void say(const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    text[sizeof text - 1] = 0;
    write_out(text, strlen(text));
}

// ---- Small parsers -------------------------------------------------------------

static int parse_uint(const char *text, uint32_t *value)
{
    if (!text || !*text)
        return 0;
    char *end;
    unsigned long v = strtoul(text, &end, 0);
    if (*end)
        return 0;
    *value = (uint32_t)v;
    return 1;
}

// "2" (two displays of 160 x 43) or "160x43,320x240,..." (at most four).
static int parse_displays(const char *text, LcdMonDisplay *displays, uint32_t *count)
{
    uint32_t n;
    if (parse_uint(text, &n)) {
        if (n > LCDMON_MAX_DISPLAYS)
            return 0;
        for (uint32_t i = 0; i < n; i++)
            displays[i] = LcdMonDisplay{160, 43, 8, 4};
        *count = n;
        return 1;
    }
    n = 0;
    const char *p = text;
    while (*p) {
        unsigned width, height;
        int used = 0;
        if (n >= LCDMON_MAX_DISPLAYS || sscanf(p, "%ux%u%n", &width, &height, &used) != 2)
            return 0;
        displays[n++] = LcdMonDisplay{width, height, 8, 4};
        p += used;
        if (*p == ',')
            p++;
        else if (*p)
            return 0;
    }
    *count = n;
    return 1;
}

// Splits a command line into words; "double quotes" keep blanks in a word.
static int split_words(char *line, char **words, int max_words)
{
    int n = 0;
    char *p = line;
    while (*p && n < max_words) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (!*p)
            break;
        if (*p == '"') {
            words[n++] = ++p;
            while (*p && *p != '"')
                p++;
        } else {
            words[n++] = p;
            while (*p && *p != ' ' && *p != '\t')
                p++;
        }
        if (*p)
            *p++ = 0;
    }
    return n;
}

static int ends_with(const char *text, const char *suffix)
{
    size_t n = strlen(text), m = strlen(suffix);
    return n >= m && _stricmp(text + n - m, suffix) == 0;
}

static void exe_folder(char *folder, size_t size)
{
    GetModuleFileNameA(0, folder, (DWORD)size);
    folder[size - 1] = 0;
    char *slash = strrchr(folder, '\\');
    if (slash)
        *slash = 0;
}

// ---- The shared block -------------------------------------------------------------

static int lock_block(void)
{
    return lcdmon_lock(g.lock, 5000);
}

static void unlock_block(void)
{
    ReleaseMutex(g.lock);
}

static int create_objects(void)
{
    char name[128];
    lcdmon_object_name(name, sizeof name, ".Alive");
    g.alive = CreateMutexA(0, FALSE, name);
    if (!g.alive)
        return 0;
    DWORD result = WaitForSingleObject(g.alive, 0);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        say("LCDMon: another LCDMon of this instance is running\n");
        return 0;
    }
    lcdmon_object_name(name, sizeof name, ".Lock");
    g.lock = CreateMutexA(0, FALSE, name);
    lcdmon_object_name(name, sizeof name, ".Frame");
    g.frame_event = CreateEventA(0, FALSE, FALSE, name);
    lcdmon_object_name(name, sizeof name, ".Command");
    g.command_event = CreateEventA(0, FALSE, FALSE, name);
    for (unsigned i = 0; i < LCDMON_MAX_SLOTS; i++) {
        lcdmon_slot_event_name(name, sizeof name, i);
        g.slot_events[i] = CreateEventA(0, FALSE, FALSE, name);
        if (!g.slot_events[i])
            return 0;
    }
    lcdmon_object_name(name, sizeof name, "");
    // A client that still holds the mapping of an earlier run keeps it alive;
    // then it is reused and its generation tells the client it is stale.
    g.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, sizeof(LcdMonBlock), name);
    if (!g.lock || !g.frame_event || !g.command_event || !g.mapping)
        return 0;
    g.block = (LcdMonBlock *)MapViewOfFile(g.mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LcdMonBlock));
    if (!g.block || !lock_block())
        return 0;
    uint32_t generation = g.block->magic == LCDMON_MAGIC ? g.block->generation + 1 : 1;
    memset(g.block, 0, sizeof *g.block);
    g.block->layout_version = LCDMON_LAYOUT_VERSION;
    g.block->generation = generation;
    g.block->server_pid = GetCurrentProcessId();
    g.block->display_count = 1;
    g.block->displays[0] = LcdMonDisplay{160, 43, 8, 4};
    g.block->magic = LCDMON_MAGIC;
    unlock_block();
    return 1;
}

static void release_objects(void)
{
    if (g.block && lock_block()) {
        g.block->server_pid = 0;
        unlock_block();
    }
    if (g.block)
        UnmapViewOfFile(g.block);
    HANDLE handles[] = {g.mapping, g.lock, g.frame_event, g.command_event, g.parent};
    for (HANDLE h : handles)
        if (h)
            CloseHandle(h);
    for (HANDLE h : g.slot_events)
        if (h)
            CloseHandle(h);
    if (g.alive) {
        ReleaseMutex(g.alive);
        CloseHandle(g.alive);
    }
}

// ---- Soft buttons --------------------------------------------------------------------

// Hands button changes of a display to the client that has it in front, as
// many per lock as the ring takes. A client that falls a whole ring behind
// for a second loses the oldest changes (counted in overruns). Returns how
// many were handed over: all, or 0 when no client has the display open.
static uint32_t push_changes(uint32_t display, const LcdMonButtonChange *changes, uint32_t count)
{
    if (display >= LCDMON_MAX_DISPLAYS)
        return 0;
    uint32_t pushed = 0;
    DWORD waiting_since = GetTickCount();
    while (pushed < count) {
        if (!lock_block())
            return pushed;
        uint32_t foreground = g.block->foreground[display];
        LcdMonSlot *slot = foreground >= 1 && foreground <= LCDMON_MAX_SLOTS ? &g.block->slots[foreground - 1] : 0;
        if (!slot || !slot->in_use || slot->dropped) {
            unlock_block();
            return pushed;
        }
        uint32_t unread = slot->button_write - slot->button_read;
        uint32_t room = unread < LCDMON_RING ? LCDMON_RING - unread : 0;
        if (room == 0 && GetTickCount() - waiting_since < 1000) {
            unlock_block();
            Sleep(1);
            continue;
        }
        if (room == 0) {
            slot->overruns++;
            room = 1;
        }
        for (; room > 0 && pushed < count; room--, pushed++)
            slot->ring[slot->button_write++ % LCDMON_RING] = changes[pushed];
        unlock_block();
        waiting_since = GetTickCount();
        // With changes still unread, the library has yet to take them all
        // under the lock, these included: no need to wake it again.
        if (unread == 0)
            SetEvent(g.slot_events[foreground - 1]);
    }
    return pushed;
}

static int push_change(uint32_t display, uint32_t buttons, uint32_t ctrl)
{
    LcdMonButtonChange change = {buttons, ctrl};
    return push_changes(display, &change, 1) == 1;
}

static void set_buttons(uint32_t display, uint32_t buttons, uint32_t ctrl)
{
    g.buttons[display] = buttons & 15;
    push_change(display, g.buttons[display], ctrl);
    if (g.window)
        InvalidateRect(g.window, 0, FALSE);
}

static int schedule_release(uint32_t display, uint32_t mask, uint32_t ctrl, DWORD delay_ms)
{
    for (Scheduled &s : g.scheduled)
        if (!s.used) {
            s = Scheduled{1, GetTickCount() + delay_ms, display, mask, ctrl};
            return 1;
        }
    return 0;
}

static void run_scheduled(void)
{
    DWORD now = GetTickCount();
    for (Scheduled &s : g.scheduled)
        if (s.used && (LONG)(now - s.due) >= 0) {
            s.used = 0;
            set_buttons(s.display, g.buttons[s.display] & ~s.release_mask, s.ctrl);
        }
}

static DWORD next_wait_ms(void)
{
    DWORD wait = 100;
    DWORD now = GetTickCount();
    for (const Scheduled &s : g.scheduled)
        if (s.used) {
            LONG left = (LONG)(s.due - now);
            DWORD ms = left < 0 ? 0 : (DWORD)left;
            if (ms < wait)
                wait = ms;
        }
    if (g.console_dirty && wait > CONSOLE_MIN_INTERVAL_MS)
        wait = CONSOLE_MIN_INTERVAL_MS;
    return wait;
}

// Alternating press and release of the leftmost button, count changes at
// about per_second (0: as fast as the client takes them).
static uint32_t storm(uint32_t display, uint32_t count, uint32_t per_second)
{
    LcdMonButtonChange batch[LCDMON_RING];
    DWORD start = GetTickCount();
    uint32_t done = 0, pushed = 0;
    while (done < count) {
        uint32_t due = count;
        if (per_second) {
            uint64_t by_now = (uint64_t)(GetTickCount() - start) * per_second / 1000 + 1;
            due = by_now < count ? (uint32_t)by_now : count;
        }
        if (due == done) {
            Sleep(1);
            continue;
        }
        uint32_t n = due - done < LCDMON_RING ? due - done : LCDMON_RING;
        for (uint32_t i = 0; i < n; i++)
            batch[i] = LcdMonButtonChange{((done + i) & 1) ? 0u : 1u, 0};
        uint32_t taken = push_changes(display, batch, n);
        pushed += taken;
        done += n;
        if (taken < n) // nobody has the display open
            break;
    }
    g.buttons[display] = (count & 1) ? 1 : 0;
    return pushed;
}

// ---- Frames --------------------------------------------------------------------------

static int save_frame(const char *path, uint32_t display)
{
    if (display >= LCDMON_MAX_DISPLAYS || !lock_block())
        return 0;
    uint8_t frame[LCDMON_FRAME_BYTES];
    memcpy(frame, g.block->frame[display], sizeof frame);
    unlock_block();
    static uint8_t picture[LCDMON_PNG_MAX];
    size_t length = 0;
    if (ends_with(path, ".png"))
        length = lcdmon_png(frame, picture, sizeof picture);
    else if (ends_with(path, ".pbm"))
        length = lcdmon_pbm(frame, picture, sizeof picture);
    if (!length)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, picture, (DWORD)length, &written, 0);
    CloseHandle(file);
    return ok && written == length;
}

static void draw_console(void)
{
    static char text[LCDMON_TEXT_MAX * LCDMON_MAX_DISPLAYS + 512];
    size_t n = 0;
    // first time clear the screen, later only go home: the picture is
    // redrawn in place
    n += (size_t)snprintf(text, sizeof text, "%s", g.console_drawn ? "\x1b[H" : "\x1b[2J\x1b[H");
    for (uint32_t d = 0; d < g.display_count; d++) {
        n += (size_t)snprintf(text + n, sizeof text - n, "LCDMon display %u  frames %u  buttons %x\x1b[K\n", d,
                              g.shown_count[d], g.buttons[d]);
        n += lcdmon_half_blocks(g.shown[d], text + n, sizeof text - n);
    }
    write_out(text, n);
    g.console_drawn = 1;
    g.console_dirty = 0;
    g.console_last = GetTickCount();
}

static void take_new_frames(void)
{
    if (!lock_block())
        return;
    int changed = 0;
    for (uint32_t d = 0; d < LCDMON_MAX_DISPLAYS; d++)
        if (g.block->frame_count[d] != g.shown_count[d]) {
            memcpy(g.shown[d], g.block->frame[d], LCDMON_FRAME_BYTES);
            g.shown_count[d] = g.block->frame_count[d];
            changed = 1;
        }
    unlock_block();
    if (!changed)
        return;
    if (g.window)
        InvalidateRect(g.window, 0, FALSE);
    if (g.console)
        g.console_dirty = 1;
}

static void update_console(void)
{
    if (g.console && g.console_dirty && GetTickCount() - g.console_last >= CONSOLE_MIN_INTERVAL_MS)
        draw_console();
}

// ---- Commands --------------------------------------------------------------------

static void layout_window(void);

static int command_display(char **words, int n, int at, uint32_t *display)
{
    *display = 0;
    for (int i = at; i + 1 < n; i++)
        if (strcmp(words[i], "display") == 0)
            return parse_uint(words[i + 1], display) && *display < LCDMON_MAX_DISPLAYS;
    return 1;
}

static int has_word(char **words, int n, int at, const char *word)
{
    for (int i = at; i < n; i++)
        if (strcmp(words[i], word) == 0)
            return 1;
    return 0;
}

static void status_text(char *reply, size_t size)
{
    if (!lock_block()) {
        snprintf(reply, size, "busy");
        return;
    }
    uint32_t open = 0, callbacks = 0, overruns = 0;
    for (const LcdMonSlot &slot : g.block->slots)
        if (slot.in_use) {
            open++;
            callbacks += slot.callbacks;
            overruns += slot.overruns;
        }
    snprintf(reply, size,
             "pid=%u frames=%u connections=%u connects=%u refusals=%u open=%u in_update=%u callbacks=%u "
             "overruns=%u displays=%u",
             g.block->server_pid, g.block->frames_total, g.block->connections, g.block->connects,
             g.block->refusals, open, g.block->in_update, callbacks, overruns, g.block->display_count);
    unlock_block();
}

// Settings live in the block, where the library reads them.
static int set_setting(uint32_t LcdMonBlock::*field, const char *text)
{
    uint32_t value;
    if (!parse_uint(text, &value) || !lock_block())
        return 0;
    g.block->*field = value;
    unlock_block();
    return 1;
}

static int set_frame_log(const char *path)
{
    char full[MAX_PATH] = "";
    if (strcmp(path, "off") != 0 && !GetFullPathNameA(path, sizeof full, full, 0))
        return 0;
    if (!lock_block())
        return 0;
    snprintf(g.block->frame_log, sizeof g.block->frame_log, "%s", full);
    unlock_block();
    return 1;
}

static int set_displays(const char *text)
{
    LcdMonDisplay displays[LCDMON_MAX_DISPLAYS];
    uint32_t count;
    if (!parse_displays(text, displays, &count) || !lock_block())
        return 0;
    memcpy(g.block->displays, displays, sizeof displays);
    g.block->display_count = count;
    unlock_block();
    layout_window();
    return 1;
}

static int drop_devices(int all, uint32_t display)
{
    if (!lock_block())
        return 0;
    int dropped = 0;
    for (LcdMonSlot &slot : g.block->slots)
        if (slot.in_use && (all || slot.display == display)) {
            slot.dropped = 1;
            dropped++;
        }
    unlock_block();
    return dropped;
}

static int run_command(char *line, char *reply, size_t reply_size)
{
    char *words[16];
    int n = split_words(line, words, 16);
    reply[0] = 0;
    if (n == 0)
        return 0;
    const char *verb = words[0];
    const char *arg = n > 1 ? words[1] : "";
    uint32_t display = 0, mask = 0, value = 0;
    if (strcmp(verb, "ping") == 0) {
        snprintf(reply, reply_size, "pong %lu", (unsigned long)GetCurrentProcessId());
        return 1;
    }
    if (strcmp(verb, "status") == 0) {
        status_text(reply, reply_size);
        return 1;
    }
    if (strcmp(verb, "displays") == 0)
        return set_displays(arg);
    if (strcmp(verb, "refuse") == 0)
        return set_setting(&LcdMonBlock::refuse_code, arg);
    if (strcmp(verb, "delay") == 0)
        return set_setting(&LcdMonBlock::update_delay_ms, arg);
    if (strcmp(verb, "fail") == 0)
        return set_setting(&LcdMonBlock::update_result, arg);
    if (strcmp(verb, "hang") == 0)
        return set_setting(&LcdMonBlock::update_hang, strcmp(arg, "off") == 0 ? "0" : "1");
    if (strcmp(verb, "light") == 0)
        return set_setting(&LcdMonBlock::light, strcmp(arg, "off") == 0 ? "0" : "1");
    if (strcmp(verb, "log") == 0)
        return set_frame_log(arg);
    if (strcmp(verb, "drop") == 0) {
        int all = n < 2 || strcmp(arg, "all") == 0;
        if (!all && !parse_uint(arg, &display))
            return 0;
        snprintf(reply, reply_size, "dropped %d", drop_devices(all, display));
        return 1;
    }
    if (strcmp(verb, "buttons") == 0 || strcmp(verb, "press") == 0) {
        if (!parse_uint(arg, &mask) || !command_display(words, n, 2, &display))
            return 0;
        uint32_t ctrl = (uint32_t)has_word(words, n, 2, "ctrl");
        if (strcmp(verb, "buttons") == 0) {
            set_buttons(display, mask, ctrl);
            return 1;
        }
        if (n < 3 || !parse_uint(words[2], &value))
            return 0;
        set_buttons(display, g.buttons[display] | mask, ctrl);
        return schedule_release(display, mask, 0, value);
    }
    if (strcmp(verb, "storm") == 0) {
        uint32_t per_second = 0;
        if (!parse_uint(arg, &value) || (n > 2 && strcmp(words[2], "display") != 0 &&
                                         !parse_uint(words[2], &per_second)))
            return 0;
        if (!command_display(words, n, 2, &display))
            return 0;
        snprintf(reply, reply_size, "pushed %u", storm(display, value, per_second));
        return 1;
    }
    if (strcmp(verb, "save") == 0) {
        if (n > 2 && !parse_uint(words[2], &display))
            return 0;
        return save_frame(arg, display);
    }
    if (strcmp(verb, "quit") == 0) {
        g.quit = 1;
        return 1;
    }
    snprintf(reply, reply_size, "unknown command '%s'", verb);
    return 0;
}

static void answer_command(void)
{
    if (!lock_block())
        return;
    if (g.block->done_seq == g.block->command_seq) {
        unlock_block();
        return;
    }
    char line[LCDMON_TEXT];
    snprintf(line, sizeof line, "%s", g.block->command);
    uint32_t seq = g.block->command_seq;
    unlock_block();

    char reply[LCDMON_TEXT];
    int result = run_command(line, reply, sizeof reply);

    if (!lock_block())
        return;
    snprintf(g.block->reply, sizeof g.block->reply, "%s", reply);
    g.block->command_result = result;
    g.block->done_seq = seq;
    unlock_block();
}

// ---- Window --------------------------------------------------------------------------

static int frame_width(void) { return 160 * g.scale; }
static int frame_height(void) { return 43 * g.scale; }
static int display_block_height(void) { return lcdmon_display_block_height(g.scale); }
static int display_top(uint32_t d) { return lcdmon_display_top(g.scale, d); }
static RECT button_rect(uint32_t d, int i) { return lcdmon_button_rect(g.scale, d, i); }

static void layout_window(void)
{
    g.display_count = g.block ? g.block->display_count : 1;
    if (!g.window)
        return;
    uint32_t shown = g.display_count ? g.display_count : 1;
    RECT r = {0, 0, frame_width() + 2 * MARGIN, MARGIN + (int)shown * display_block_height()};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW & ~(WS_THICKFRAME | WS_MAXIMIZEBOX), FALSE);
    SetWindowPos(g.window, 0, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
    InvalidateRect(g.window, 0, TRUE);
}

// Grey ramp from an amber backlight (0) to dark lit pixels (255).
static BITMAPINFO *make_palette_info(void)
{
    BITMAPINFO *info = (BITMAPINFO *)calloc(1, sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    if (!info)
        return 0;
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = 160;
    info->bmiHeader.biHeight = -43; // rows from the top
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 8;
    info->bmiHeader.biCompression = BI_RGB;
    info->bmiHeader.biClrUsed = 256;
    for (int i = 0; i < 256; i++) {
        info->bmiColors[i].rgbRed = (BYTE)(230 - i * 200 / 255);
        info->bmiColors[i].rgbGreen = (BYTE)(170 - i * 150 / 255);
        info->bmiColors[i].rgbBlue = (BYTE)(40 - i * 30 / 255);
    }
    return info;
}

static void paint(HDC dc)
{
    RECT client;
    GetClientRect(g.window, &client);
    FillRect(dc, &client, (HBRUSH)GetStockObject(WHITE_BRUSH));
    SetBkMode(dc, TRANSPARENT);
    for (uint32_t d = 0; d < g.display_count; d++) {
        int top = display_top(d);
        char label[128];
        LcdMonDisplay size = g.block->displays[d];
        snprintf(label, sizeof label, "Display %u: %ux%u   frames %u", d, size.width, size.height,
                 g.shown_count[d]);
        TextOutA(dc, MARGIN, top, label, (int)strlen(label));
        if (g.palette_info)
            StretchDIBits(dc, MARGIN, top + LABEL_HEIGHT, frame_width(), frame_height(), 0, 0, 160, 43,
                          g.shown[d], g.palette_info, DIB_RGB_COLORS, SRCCOPY);
        for (int i = 0; i < 4; i++) {
            RECT r = button_rect(d, i);
            int down = (g.buttons[d] >> i) & 1;
            FillRect(dc, &r, (HBRUSH)GetStockObject(down ? DKGRAY_BRUSH : LTGRAY_BRUSH));
            char name[8];
            snprintf(name, sizeof name, "%d", i + 1);
            SetTextColor(dc, down ? RGB(255, 255, 255) : RGB(0, 0, 0));
            DrawTextA(dc, name, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        }
        SetTextColor(dc, RGB(0, 0, 0));
    }
}

static int hit_button(int x, int y, uint32_t *display)
{
    POINT p = {x, y};
    for (uint32_t d = 0; d < g.display_count; d++)
        for (int i = 0; i < 4; i++) {
            RECT r = button_rect(d, i);
            if (PtInRect(&r, p)) {
                *display = d;
                return i;
            }
        }
    return -1;
}

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    uint32_t d;
    int i;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        paint(dc);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_LBUTTONDOWN:
        i = hit_button((short)LOWORD(lparam), (short)HIWORD(lparam), &d);
        if (i >= 0) {
            g.mouse_display = (int)d;
            g.mouse_bit = 1u << i;
            set_buttons(d, g.buttons[d] | g.mouse_bit, (wparam & MK_CONTROL) != 0);
            SetCapture(window);
        }
        return 0;
    case WM_LBUTTONUP:
        if (g.mouse_bit) {
            d = (uint32_t)g.mouse_display;
            uint32_t keep = g.latched[d] & g.mouse_bit;
            set_buttons(d, (g.buttons[d] & ~g.mouse_bit) | keep, (wparam & MK_CONTROL) != 0);
            g.mouse_bit = 0;
            ReleaseCapture();
        }
        return 0;
    case WM_RBUTTONDOWN: // latch a button, so several can be held at once
        i = hit_button((short)LOWORD(lparam), (short)HIWORD(lparam), &d);
        if (i >= 0) {
            g.latched[d] ^= 1u << i;
            set_buttons(d, (g.buttons[d] & ~(1u << i)) | (g.latched[d] & (1u << i)), (wparam & MK_CONTROL) != 0);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

static int create_window(int show)
{
    WNDCLASSA window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = GetModuleHandleA(0);
    window_class.hCursor = LoadCursor(0, IDC_ARROW);
    window_class.lpszClassName = WINDOW_CLASS;
    if (!RegisterClassA(&window_class))
        return 0;
    g.palette_info = make_palette_info();
    g.window = CreateWindowA(WINDOW_CLASS, WINDOW_TITLE, WS_OVERLAPPEDWINDOW & ~(WS_THICKFRAME | WS_MAXIMIZEBOX),
                             CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, 0, 0, window_class.hInstance, 0);
    if (!g.window)
        return 0;
    layout_window();
    ShowWindow(g.window, show);
    return 1;
}

// ---- Running -------------------------------------------------------------------------

static int pump_messages(void)
{
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            return 0;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 1;
}

static int run_server(void)
{
    g.start = GetTickCount();
    g.console_dirty = g.console; // show the dark display at once
    for (;;) {
        HANDLE handles[3] = {g.frame_event, g.command_event, g.parent};
        DWORD count = g.parent ? 3 : 2;
        DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, next_wait_ms(), QS_ALLINPUT);
        if (result == WAIT_OBJECT_0)
            take_new_frames();
        else if (result == WAIT_OBJECT_0 + 1)
            answer_command();
        else if (result == WAIT_OBJECT_0 + 2 && g.parent)
            break;
        if (!pump_messages())
            break;
        run_scheduled();
        update_console();
        if (g.quit || (g.lifetime_ms && GetTickCount() - g.start >= g.lifetime_ms))
            break;
    }
    if (g.window)
        DestroyWindow(g.window);
    return 0;
}

// ---- Command line ------------------------------------------------------------------

static void usage(void)
{
    say("LCDMon.exe - stand-in for the Logitech LCD Manager\n"
        "  LCDMon.exe [options]            run it\n"
        "    --console                     mirror the display in the terminal\n"
        "    --displays N|WxH[,WxH...]     displays offered (default 1, 160x43)\n"
        "    --refuse CODE                 lgLcdConnect answers CODE\n"
        "    --update-delay MS             lgLcdUpdateBitmap takes MS longer\n"
        "    --update-hang                 lgLcdUpdateBitmap never returns (until 'hang off')\n"
        "    --update-result CODE          lgLcdUpdateBitmap answers CODE\n"
        "    --light                       updates only copy the frame: no lock, event,\n"
        "                                  frame log or delay (for measuring a client)\n"
        "    --frame-log FILE              append time stamp + 6880 bytes per frame\n"
        "    --scale N                     window pixels per display pixel (3)\n"
        "    --hidden                      no visible window (it still exists)\n"
        "    --lifetime SECONDS            end by itself after that long\n"
        "    --parent PID                  end when that process ends (also taken\n"
        "                                  from LCDMON_STANDIN_PARENT)\n"
        "    --instance NAME               run a separate instance (clients need\n"
        "                                  LCDMON_STANDIN_INSTANCE=NAME)\n"
        "  LCDMon.exe --register [--server DLL] [--server32 DLL] [--install-path DIR]\n"
        "  LCDMon.exe --unregister\n"
        "  LCDMon.exe --ctl COMMAND...     commands: ping, status, displays N|WxH,...\n"
        "    refuse CODE, delay MS, hang on|off, light on|off, fail CODE, drop [D|all],\n"
        "    log FILE|off,\n"
        "    buttons MASK [ctrl] [display D], press MASK MS [ctrl] [display D],\n"
        "    storm COUNT [PER_SECOND] [display D], save FILE.png|FILE.pbm [D], quit\n"
        "  LCDMon.exe --save FILE.png|FILE.pbm [--display D]\n");
}

static int do_register(int argc, char **argv)
{
    char folder[MAX_PATH], server[MAX_PATH], server32[MAX_PATH] = "", install[MAX_PATH];
    exe_folder(folder, sizeof folder);
    snprintf(server, sizeof server, "%s\\%s", folder, LCDMON_SERVER_DLL);
    snprintf(install, sizeof install, "%s", folder);
    for (int i = 2; i + 1 < argc; i += 2) {
        char *target = strcmp(argv[i], "--server") == 0         ? server
                       : strcmp(argv[i], "--server32") == 0     ? server32
                       : strcmp(argv[i], "--install-path") == 0 ? install
                                                                : 0;
        if (!target || !GetFullPathNameA(argv[i + 1], MAX_PATH, target, 0)) {
            usage();
            return 1;
        }
    }
    int ok = lcdmon_register_server(server, 0);
    if (server32[0])
        ok &= lcdmon_register_server(server32, KEY_WOW64_32KEY);
    ok &= lcdmon_register_install(LCDMON_VERSION_TEXT, install);
    say("ServerBinary = %s\n", server);
    if (server32[0])
        say("ServerBinary (32-bit) = %s\n", server32);
    say("Version = %s\nInstallPath = %s\n%s\n", LCDMON_VERSION_TEXT, install, ok ? "registered" : "FAILED");
    return ok ? 0 : 1;
}

static int do_control(const char *command)
{
    if (!lcdmon_server_running()) {
        say("LCDMon is not running\n");
        return 2;
    }
    char reply[LCDMON_TEXT];
    int ok = lcdmon_command(command, reply, sizeof reply, COMMAND_TIMEOUT_MS);
    say("%s%s%s\n", ok ? "ok" : "failed", reply[0] ? ": " : "", reply);
    return ok ? 0 : 1;
}

static int join_words(char *out, size_t size, int argc, char **argv, int from)
{
    size_t n = 0;
    out[0] = 0;
    for (int i = from; i < argc; i++) {
        int quote = strchr(argv[i], ' ') != 0;
        int used = snprintf(out + n, size - n, "%s%s%s%s", n ? " " : "", quote ? "\"" : "", argv[i],
                            quote ? "\"" : "");
        if (used < 0 || (size_t)used >= size - n)
            return 0;
        n += (size_t)used;
    }
    return 1;
}

// Server options that become settings in the block.
struct StartSettings {
    const char *displays;
    const char *refuse;
    const char *delay;
    const char *result;
    const char *frame_log;
    int hang;
    int light;
};

// A test that starts a client which in turn starts LCDMon.exe names itself
// here, so a stand-in it did not start directly still ends with it.
static HANDLE parent_from_environment(void)
{
    char text[32];
    uint32_t pid;
    DWORD n = GetEnvironmentVariableA(LCDMON_PARENT_VARIABLE, text, sizeof text);
    if (n == 0 || n >= sizeof text || !parse_uint(text, &pid))
        return 0;
    return OpenProcess(SYNCHRONIZE, FALSE, pid);
}

static int apply_settings(const StartSettings *s)
{
    int ok = 1;
    if (s->displays)
        ok &= set_displays(s->displays);
    if (s->refuse)
        ok &= set_setting(&LcdMonBlock::refuse_code, s->refuse);
    if (s->delay)
        ok &= set_setting(&LcdMonBlock::update_delay_ms, s->delay);
    if (s->result)
        ok &= set_setting(&LcdMonBlock::update_result, s->result);
    if (s->hang)
        ok &= set_setting(&LcdMonBlock::update_hang, "1");
    if (s->light)
        ok &= set_setting(&LcdMonBlock::light, "1");
    if (s->frame_log)
        ok &= set_frame_log(s->frame_log);
    return ok;
}

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "--register") == 0)
        return do_register(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "--unregister") == 0) {
        lcdmon_unregister();
        say("unregistered\n");
        return 0;
    }
    if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage();
        return 0;
    }

    StartSettings settings;
    memset(&settings, 0, sizeof settings);
    g.scale = LCDMON_DEFAULT_SCALE;
    int show = SW_SHOWNOACTIVATE;
    const char *save = 0;
    uint32_t save_display = 0;
    for (int i = 1; i < argc; i++) {
        const char *option = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : 0;
        uint32_t number = 0;
        if (strcmp(option, "--ctl") == 0) {
            char command[LCDMON_TEXT];
            if (!join_words(command, sizeof command, argc, argv, i + 1) || !command[0]) {
                usage();
                return 1;
            }
            return do_control(command);
        }
        if (strcmp(option, "--console") == 0) {
            g.console = 1;
            continue;
        }
        if (strcmp(option, "--update-hang") == 0) {
            settings.hang = 1;
            continue;
        }
        if (strcmp(option, "--light") == 0) {
            settings.light = 1;
            continue;
        }
        if (strcmp(option, "--hidden") == 0) {
            show = SW_HIDE;
            continue;
        }
        if (!value) {
            usage();
            return 1;
        }
        i++;
        if (strcmp(option, "--displays") == 0)
            settings.displays = value;
        else if (strcmp(option, "--refuse") == 0)
            settings.refuse = value;
        else if (strcmp(option, "--update-delay") == 0)
            settings.delay = value;
        else if (strcmp(option, "--update-result") == 0)
            settings.result = value;
        else if (strcmp(option, "--frame-log") == 0)
            settings.frame_log = value;
        else if (strcmp(option, "--save") == 0)
            save = value;
        else if (strcmp(option, "--display") == 0 && parse_uint(value, &save_display))
            continue;
        else if (strcmp(option, "--instance") == 0)
            SetEnvironmentVariableA(LCDMON_INSTANCE_VARIABLE, value);
        else if (strcmp(option, "--scale") == 0 && parse_uint(value, &number) && number >= 1 && number <= 8)
            g.scale = (int)number;
        else if (strcmp(option, "--lifetime") == 0 && parse_uint(value, &number))
            g.lifetime_ms = number * 1000;
        else if (strcmp(option, "--parent") == 0 && parse_uint(value, &number))
            g.parent = OpenProcess(SYNCHRONIZE, FALSE, number);
        else {
            usage();
            return 1;
        }
    }
    if (save) {
        char full[MAX_PATH], command[LCDMON_TEXT];
        if (!GetFullPathNameA(save, sizeof full, full, 0))
            return 1;
        snprintf(command, sizeof command, "save \"%s\" %u", full, save_display);
        return do_control(command);
    }

    if (!g.parent)
        g.parent = parent_from_environment();
    int status = 1;
    if (create_objects() && apply_settings(&settings) && create_window(show))
        status = run_server();
    else
        say("LCDMon: could not start\n");
    release_objects();
    return status;
}
