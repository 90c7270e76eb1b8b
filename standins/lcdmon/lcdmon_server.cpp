// LCDMonServer.dll: the stand-in LCD Manager's server library. Exports
// "GetInterface", which for version 5 returns the operation table; every
// operation talks to LCDMon.exe through the shared block (lcdmon_shared.h).
//
// Handles given out (connections, devices) are small numbers local to the
// loading process. Each open device with a soft-button callback gets a
// thread that waits for the process to report button changes and calls the
// callback, as the real LCD Manager does from a thread of its own.
#include <windows.h>

#include "lcd_client.h"
#include "lcdmon_shared.h"

#define MAX_CONNECTIONS 8
#define MAX_DEVICES 8
#define CLOSE_WAIT_MS 3000

struct ServerConnection {
    int id;               // 0 when the entry is free
    HANDLE process;       // LCDMon.exe, to notice its end
    uint32_t generation;  // of the block when connected
};

struct ServerDevice {
    int id;               // 0 when the entry is free
    int connection;
    uint32_t slot;
    uint32_t slot_generation;
    uint32_t display;
    LcdSoftButtonCallback callback;
    void *context;
    HANDLE slot_event;
    HANDLE thread;
    volatile LONG stop;
};

// Library state; calls from the client are serialised by state_lock, which
// is never held while waiting for the process or calling back.
static CRITICAL_SECTION state_lock;
static int initialised;
static int next_handle = 1;
static HANDLE mapping;
static HANDLE block_lock;
static HANDLE frame_event;
static LcdMonBlock *block;
static ServerConnection connections[MAX_CONNECTIONS];
static ServerDevice devices[MAX_DEVICES];

// ---- The shared block -----------------------------------------------------------

static int attach_block(void)
{
    if (block)
        return 1;
    char name[128];
    lcdmon_object_name(name, sizeof name, "");
    mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    lcdmon_object_name(name, sizeof name, ".Lock");
    block_lock = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
    lcdmon_object_name(name, sizeof name, ".Frame");
    frame_event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (mapping && block_lock && frame_event)
        block = (LcdMonBlock *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LcdMonBlock));
    if (block && block->magic == LCDMON_MAGIC)
        return 1;
    if (block)
        UnmapViewOfFile(block);
    block = 0;
    if (mapping)
        CloseHandle(mapping);
    if (block_lock)
        CloseHandle(block_lock);
    if (frame_event)
        CloseHandle(frame_event);
    mapping = block_lock = frame_event = 0;
    return 0;
}

static void detach_block(void)
{
    if (!block)
        return;
    UnmapViewOfFile(block);
    CloseHandle(mapping);
    CloseHandle(block_lock);
    CloseHandle(frame_event);
    block = 0;
    mapping = block_lock = frame_event = 0;
}

static int lock_block(void)
{
    return lcdmon_lock(block_lock, 2000);
}

static void unlock_block(void)
{
    ReleaseMutex(block_lock);
}

static int process_running(HANDLE process)
{
    return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// ---- Handle tables ----------------------------------------------------------------

static int new_handle(void)
{
    int id = next_handle++;
    if (next_handle > 0x3fffffff)
        next_handle = 1;
    return id;
}

static ServerConnection *find_connection(int id)
{
    for (ServerConnection &c : connections)
        if (id > 0 && c.id == id)
            return &c;
    return 0;
}

static ServerDevice *find_device(int id)
{
    for (ServerDevice &d : devices)
        if (id > 0 && d.id == id)
            return &d;
    return 0;
}

// The connection is alive when the process it was made with still runs and
// has not been replaced by a new one on the same block.
static int connection_alive(const ServerConnection *c)
{
    return block && process_running(c->process) && block->generation == c->generation &&
           block->server_pid != 0;
}

static int device_alive(const ServerDevice *d)
{
    const ServerConnection *c = find_connection(d->connection);
    if (!c || !connection_alive(c))
        return 0;
    const LcdMonSlot *slot = &block->slots[d->slot];
    return slot->in_use && slot->generation == d->slot_generation && !slot->dropped;
}

// ---- Soft buttons ------------------------------------------------------------------

static void send_ctrl(int down)
{
    INPUT input;
    memset(&input, 0, sizeof input);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_CONTROL;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

static void deliver(ServerDevice *d, const LcdMonButtonChange *change)
{
    // A click with Ctrl in the window, or a scripted Ctrl press: the client
    // asks the keyboard whether Ctrl is down, so make it so for the call.
    int hold_ctrl = change->ctrl && !(GetAsyncKeyState(VK_CONTROL) & 0x8000);
    if (hold_ctrl)
        send_ctrl(1);
    d->callback(d->id, change->buttons, d->context);
    if (hold_ctrl)
        send_ctrl(0);
}

static DWORD WINAPI button_thread(void *argument)
{
    ServerDevice *d = (ServerDevice *)argument;
    LcdMonButtonChange changes[LCDMON_RING];
    while (!d->stop) {
        // The process signals every change; the time-out only catches a lost
        // signal. In light mode it is long, so that the client's process pays
        // next to nothing for this thread.
        WaitForSingleObject(d->slot_event, block->light ? 1000 : 100);
        if (d->stop)
            break;
        LcdMonSlot *slot = &block->slots[d->slot];
        if (slot->button_write == slot->button_read) // nothing new: no lock taken
            continue;
        if (!lock_block())
            continue;
        uint32_t count = 0;
        if (slot->in_use && slot->generation == d->slot_generation) {
            uint32_t unread = slot->button_write - slot->button_read;
            if (unread > LCDMON_RING) { // fell behind: keep the newest
                slot->button_read = slot->button_write - LCDMON_RING;
                unread = LCDMON_RING;
            }
            for (; count < unread; count++)
                changes[count] = slot->ring[(slot->button_read + count) % LCDMON_RING];
            slot->button_read += count;
        }
        unlock_block();
        for (uint32_t i = 0; i < count && !d->stop; i++)
            deliver(d, &changes[i]);
        if (count && lock_block()) {
            if (slot->in_use && slot->generation == d->slot_generation)
                slot->callbacks += count;
            unlock_block();
        }
    }
    return 0;
}

static void release_slot(ServerDevice *d)
{
    if (!block || !lock_block())
        return;
    LcdMonSlot *slot = &block->slots[d->slot];
    if (slot->in_use && slot->generation == d->slot_generation) {
        slot->in_use = 0;
        if (d->display < LCDMON_MAX_DISPLAYS && block->foreground[d->display] == d->slot + 1)
            block->foreground[d->display] = 0;
    }
    unlock_block();
}

static void close_device(ServerDevice *d)
{
    if (d->thread) {
        InterlockedExchange(&d->stop, 1);
        SetEvent(d->slot_event);
        // The callback is bounded by the client; never call it after close.
        WaitForSingleObject(d->thread, CLOSE_WAIT_MS);
        CloseHandle(d->thread);
    }
    if (d->slot_event)
        CloseHandle(d->slot_event);
    release_slot(d);
    memset(d, 0, sizeof *d);
}

static void close_connection(ServerConnection *c)
{
    for (ServerDevice &d : devices)
        if (d.id && d.connection == c->id)
            close_device(&d);
    if (c->process)
        CloseHandle(c->process);
    if (block && lock_block()) {
        if (block->generation == c->generation && block->connections > 0)
            block->connections--;
        unlock_block();
    }
    memset(c, 0, sizeof *c);
}

// ---- Operations -------------------------------------------------------------------

static DWORD WINAPI server_init(void)
{
    EnterCriticalSection(&state_lock);
    initialised = 1;
    LeaveCriticalSection(&state_lock);
    return 0;
}

static DWORD WINAPI server_deinit(void)
{
    EnterCriticalSection(&state_lock);
    for (ServerConnection &c : connections)
        if (c.id)
            close_connection(&c);
    detach_block();
    initialised = 0;
    LeaveCriticalSection(&state_lock);
    return 0;
}

static DWORD connect_locked(LcdConnectContext *ctx)
{
    if (!initialised)
        return LCD_ERR_SERVICE_NOT_ACTIVE;
    if (!ctx)
        return LCD_ERR_INVALID_PARAMETER;
    if (!attach_block())
        return LCD_ERR_NOT_RUNNING;
    ServerConnection *c = 0;
    for (ServerConnection &candidate : connections)
        if (!candidate.id) {
            c = &candidate;
            break;
        }
    if (!c)
        return LCD_ERR_NO_SYSTEM_RESOURCES;
    if (!lcdmon_server_running() || !lock_block())
        return LCD_ERR_NOT_RUNNING;
    HANDLE process = block->server_pid ? OpenProcess(SYNCHRONIZE, FALSE, block->server_pid) : 0;
    DWORD result = 0;
    if (!process_running(process))
        result = LCD_ERR_NOT_RUNNING;
    else if (block->refuse_code) {
        result = block->refuse_code;
        block->refusals++;
    }
    if (result) {
        unlock_block();
        if (process)
            CloseHandle(process);
        return result;
    }
    c->id = new_handle();
    c->process = process;
    c->generation = block->generation;
    block->connections++;
    block->connects++;
    unlock_block();
    ctx->connection = c->id;
    return 0;
}

static DWORD WINAPI server_connect(LcdConnectContext *ctx)
{
    EnterCriticalSection(&state_lock);
    DWORD result = connect_locked(ctx);
    LeaveCriticalSection(&state_lock);
    return result;
}

static DWORD WINAPI server_disconnect(int connection)
{
    EnterCriticalSection(&state_lock);
    ServerConnection *c = find_connection(connection);
    DWORD result = LCD_ERR_INVALID_PARAMETER;
    if (c) {
        result = connection_alive(c) ? 0 : LCD_ERR_PIPE_NOT_CONNECTED;
        close_connection(c);
    }
    LeaveCriticalSection(&state_lock);
    return result;
}

static DWORD WINAPI server_enumerate(int connection, int index, LcdDeviceDescription *description)
{
    EnterCriticalSection(&state_lock);
    ServerConnection *c = find_connection(connection);
    DWORD result = 0;
    if (!c || !description || index < 0)
        result = LCD_ERR_INVALID_PARAMETER;
    else if (!connection_alive(c))
        result = LCD_ERR_PIPE_NOT_CONNECTED;
    else if (!lock_block())
        result = LCD_ERR_PIPE_NOT_CONNECTED;
    else {
        if ((uint32_t)index >= block->display_count || index >= LCDMON_MAX_DISPLAYS) {
            result = LCD_ERR_NO_MORE_ITEMS;
        } else {
            const LcdMonDisplay *display = &block->displays[index];
            description->width = display->width;
            description->height = display->height;
            description->bpp = display->bpp;
            description->soft_buttons = display->soft_buttons;
        }
        unlock_block();
    }
    LeaveCriticalSection(&state_lock);
    return result;
}

static int take_slot(ServerDevice *d, const char *app_name_source)
{
    for (uint32_t i = 0; i < LCDMON_MAX_SLOTS; i++) {
        LcdMonSlot *slot = &block->slots[i];
        if (slot->in_use)
            continue;
        uint32_t generation = slot->generation + 1;
        memset(slot, 0, sizeof *slot);
        slot->in_use = 1;
        slot->generation = generation;
        slot->owner_pid = GetCurrentProcessId();
        slot->display = d->display;
        snprintf(slot->app_name, sizeof slot->app_name, "%s", app_name_source);
        d->slot = i;
        d->slot_generation = generation;
        block->foreground[d->display] = i + 1;
        return 1;
    }
    return 0;
}

static DWORD open_locked(LcdOpenContext *ctx)
{
    if (!ctx)
        return LCD_ERR_INVALID_PARAMETER;
    ServerConnection *c = find_connection(ctx->connection);
    if (!c)
        return LCD_ERR_INVALID_PARAMETER;
    if (!connection_alive(c))
        return LCD_ERR_PIPE_NOT_CONNECTED;
    ServerDevice *d = 0;
    for (ServerDevice &candidate : devices)
        if (!candidate.id) {
            d = &candidate;
            break;
        }
    if (!d)
        return LCD_ERR_NO_SYSTEM_RESOURCES;
    if (!lock_block())
        return LCD_ERR_PIPE_NOT_CONNECTED;
    if (ctx->index < 0 || (uint32_t)ctx->index >= block->display_count || ctx->index >= LCDMON_MAX_DISPLAYS) {
        unlock_block();
        return LCD_ERR_INVALID_PARAMETER;
    }
    d->display = (uint32_t)ctx->index;
    char app_name[32];
    snprintf(app_name, sizeof app_name, "pid %lu", (unsigned long)GetCurrentProcessId());
    if (!take_slot(d, app_name)) {
        unlock_block();
        memset(d, 0, sizeof *d);
        return LCD_ERR_NO_SYSTEM_RESOURCES;
    }
    unlock_block();

    d->id = new_handle();
    d->connection = c->id;
    d->callback = ctx->on_soft_buttons.callback;
    d->context = ctx->on_soft_buttons.context;
    char name[128];
    lcdmon_slot_event_name(name, sizeof name, d->slot);
    d->slot_event = CreateEventA(0, FALSE, FALSE, name);
    if (d->slot_event && d->callback)
        d->thread = CreateThread(0, 0, button_thread, d, 0, 0);
    if (!d->slot_event || (d->callback && !d->thread)) {
        close_device(d);
        return LCD_ERR_NO_SYSTEM_RESOURCES;
    }
    ctx->device = d->id;
    return 0;
}

static DWORD WINAPI server_open(LcdOpenContext *ctx)
{
    EnterCriticalSection(&state_lock);
    DWORD result = open_locked(ctx);
    LeaveCriticalSection(&state_lock);
    return result;
}

static DWORD WINAPI server_close(int device)
{
    EnterCriticalSection(&state_lock);
    ServerDevice *d = find_device(device);
    if (d)
        close_device(d);
    LeaveCriticalSection(&state_lock);
    return d ? 0 : LCD_ERR_INVALID_PARAMETER;
}

static void append_frame_log(const char *path, int64_t time_us, const uint8_t *pixels)
{
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return;
    uint8_t record[LCDMON_LOG_RECORD_BYTES];
    for (int i = 0; i < 8; i++)
        record[i] = (uint8_t)((uint64_t)time_us >> (8 * i));
    memcpy(record + 8, pixels, LCDMON_FRAME_BYTES);
    DWORD written = 0;
    WriteFile(file, record, sizeof record, &written, 0);
    CloseHandle(file);
}

// Delay and hang happen outside the library's own lock, so a stuck call
// never blocks a client thread that replaces the stuck one.
static void wait_as_told(HANDLE process)
{
    if (!lock_block())
        return;
    uint32_t delay_ms = block->update_delay_ms;
    block->in_update++;
    unlock_block();
    DWORD start = GetTickCount();
    while (process_running(process)) {
        uint32_t hang = block->update_hang;
        if (!hang && GetTickCount() - start >= delay_ms)
            break;
        Sleep(delay_ms && !hang ? 1 : 10);
    }
    if (lock_block()) {
        if (block->in_update > 0)
            block->in_update--;
        unlock_block();
    }
}

// Light mode, for measuring the client: the frame and its time are copied into
// the block with no kernel object touched (no lock, event, log or process check),
// so the update costs the client next to nothing. A reader may see a frame
// half written.
static DWORD light_update(ServerDevice *d, const LcdBitmapHeader *bitmap)
{
    const LcdMonSlot *slot = &block->slots[d->slot];
    if (!slot->in_use || slot->generation != d->slot_generation || slot->dropped || !block->server_pid)
        return LCD_ERR_DEVICE_NOT_CONNECTED;
    memcpy(block->frame[d->display], (const uint8_t *)(bitmap + 1), LCDMON_FRAME_BYTES);
    block->frame_time_us[d->display] = lcdmon_now_us();
    InterlockedIncrement((volatile LONG *)&block->frame_count[d->display]);
    InterlockedIncrement((volatile LONG *)&block->frames_total);
    return 0;
}

static DWORD WINAPI server_update_bitmap(int device, const LcdBitmapHeader *bitmap, DWORD priority)
{
    (void)priority;
    EnterCriticalSection(&state_lock);
    if (block && block->light && bitmap && bitmap->format == LCD_BITMAP_FORMAT_MONO) {
        ServerDevice *light = find_device(device);
        DWORD result = light ? light_update(light, bitmap) : LCD_ERR_INVALID_PARAMETER;
        LeaveCriticalSection(&state_lock);
        return result;
    }
    ServerDevice *d = find_device(device);
    ServerConnection *c = d ? find_connection(d->connection) : 0;
    HANDLE process = 0;
    if (c)
        DuplicateHandle(GetCurrentProcess(), c->process, GetCurrentProcess(), &process, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    int id = d ? d->id : 0;
    LeaveCriticalSection(&state_lock);
    if (!d || !bitmap || !process) {
        if (process)
            CloseHandle(process);
        return LCD_ERR_INVALID_PARAMETER;
    }
    if (bitmap->format != LCD_BITMAP_FORMAT_MONO) {
        CloseHandle(process);
        return LCD_ERR_INVALID_PARAMETER;
    }
    wait_as_told(process);
    CloseHandle(process);

    EnterCriticalSection(&state_lock);
    DWORD result = 0;
    d = find_device(id); // closed meanwhile by another thread?
    if (!d || !device_alive(d) || !lock_block()) {
        result = LCD_ERR_DEVICE_NOT_CONNECTED;
    } else {
        if (block->update_result) {
            result = block->update_result;
        } else {
            const uint8_t *pixels = (const uint8_t *)(bitmap + 1);
            int64_t now = lcdmon_now_us();
            memcpy(block->frame[d->display], pixels, LCDMON_FRAME_BYTES);
            block->frame_time_us[d->display] = now;
            block->frame_count[d->display]++;
            block->frames_total++;
            block->slots[d->slot].frames++;
            if (block->frame_log[0]) {
                char path[MAX_PATH];
                snprintf(path, sizeof path, "%s", block->frame_log);
                append_frame_log(path, now, pixels);
            }
            SetEvent(frame_event);
        }
        unlock_block();
    }
    LeaveCriticalSection(&state_lock);
    return result;
}

static DWORD WINAPI server_set_foreground(int device, int foreground)
{
    EnterCriticalSection(&state_lock);
    ServerDevice *d = find_device(device);
    DWORD result = LCD_ERR_INVALID_PARAMETER;
    if (d) {
        result = device_alive(d) ? 0 : LCD_ERR_DEVICE_NOT_CONNECTED;
        // Only "yes" changes who gets the buttons; "no" leaves it as it is.
        if (result == 0 && foreground && lock_block()) {
            block->foreground[d->display] = d->slot + 1;
            unlock_block();
        }
    }
    LeaveCriticalSection(&state_lock);
    return result;
}

static const LcdService service_table = {
    server_init, server_deinit, 0, server_connect, 0, 0, server_disconnect, server_enumerate, 0, 0,
    server_open, server_close, 0, server_update_bitmap, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    server_set_foreground,
};

extern "C" __declspec(dllexport) const LcdService *WINAPI GetInterface(int version)
{
    return version == LCD_INTERFACE_VERSION ? &service_table : 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&state_lock);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        DeleteCriticalSection(&state_lock);
    }
    return TRUE;
}
