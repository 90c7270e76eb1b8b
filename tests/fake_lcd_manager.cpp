// Scripted LCD Manager for the link thread's tests. See fake_lcd_manager.h.
#include "fake_lcd_manager.h"

#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

struct FakeLcd {
    std::mutex mutex;
    std::condition_variable changed;
    FakeLcdScript script;
    FakeLcdCounters counters;
    bool init_gate_closed = false;
    bool hang_updates = false;
    int hung_calls = 0;
};

FakeLcd fake;
typedef std::unique_lock<std::mutex> Lock;

const unsigned INIT_GATE_LIMIT_MS = 10000;
const unsigned HANG_LIMIT_MS = 30000;

// Manual-reset event, set while updates are not held.
HANDLE hang_released(void)
{
    static HANDLE event = CreateEventA(0, TRUE, TRUE, 0);
    return event;
}

void set_hang(bool hang)
{
    fake.hang_updates = hang;
    if (hang)
        ResetEvent(hang_released());
    else
        SetEvent(hang_released());
}

DWORD fake_init(void)
{
    Lock lock(fake.mutex);
    fake.changed.wait_for(lock, std::chrono::milliseconds(INIT_GATE_LIMIT_MS),
                          [] { return !fake.init_gate_closed; });
    fake.counters.init_calls++;
    fake.changed.notify_all();
    return fake.script.init_result;
}

DWORD fake_deinit(void)
{
    Lock lock(fake.mutex);
    fake.counters.deinit_calls++;
    fake.changed.notify_all();
    return 0;
}

DWORD fake_connect(LcdConnectContext *ctx)
{
    Lock lock(fake.mutex);
    FakeLcdCounters &c = fake.counters;
    c.connect_calls++;
    strncpy(c.app_name, ctx->app_name ? ctx->app_name : "", sizeof c.app_name - 1);
    c.persistent = ctx->is_persistent;
    c.autostartable = ctx->is_autostartable;
    c.connection_before = ctx->connection;
    c.configure_callback = (void *)ctx->on_configure.configure;
    if (fake.script.connect_result == 0)
        ctx->connection = 7;
    fake.changed.notify_all();
    return fake.script.connect_result;
}

DWORD fake_disconnect(int connection)
{
    (void)connection;
    Lock lock(fake.mutex);
    fake.counters.disconnect_calls++;
    fake.changed.notify_all();
    return 0;
}

DWORD fake_enumerate(int connection, int index, LcdDeviceDescription *description)
{
    (void)connection;
    Lock lock(fake.mutex);
    if (index < 0 || index >= fake.script.display_count || index >= FAKE_LCD_MAX_DISPLAYS)
        return LCD_ERR_NO_MORE_ITEMS;
    description->width = (DWORD)fake.script.widths[index];
    description->height = (DWORD)fake.script.heights[index];
    description->bpp = 1;
    description->soft_buttons = 4;
    return 0;
}

DWORD fake_open(LcdOpenContext *ctx)
{
    Lock lock(fake.mutex);
    FakeLcdCounters &c = fake.counters;
    c.last_open_index = ctx->index;
    c.device_before = ctx->device;
    c.callback = ctx->on_soft_buttons.callback;
    c.callback_context = ctx->on_soft_buttons.context;
    ctx->device = 3;
    fake.changed.notify_all();
    return 0;
}

DWORD fake_close(int device)
{
    (void)device;
    Lock lock(fake.mutex);
    fake.counters.close_calls++;
    fake.changed.notify_all();
    return 0;
}

DWORD fake_update_bitmap(int device, const LcdBitmapHeader *bitmap, DWORD priority)
{
    (void)device;
    Lock lock(fake.mutex);
    FakeLcdCounters &c = fake.counters;
    c.last_priority = priority;
    c.last_format = bitmap->format;
    fake.changed.notify_all();
    if (fake.hang_updates) {
        // Blocked on a kernel event with no lock held, so that a test may
        // also terminate the thread in here.
        fake.hung_calls++;
        fake.changed.notify_all();
        lock.unlock();
        WaitForSingleObject(hang_released(), HANG_LIMIT_MS);
        lock.lock();
        fake.hung_calls--;
        fake.changed.notify_all();
    }
    DWORD result = fake.script.update_result;
    if (result == 0) {
        c.frames_taken++;
        fake.changed.notify_all();
    }
    return result;
}

DWORD fake_set_foreground(int device, int foreground)
{
    (void)device;
    Lock lock(fake.mutex);
    FakeLcdCounters &c = fake.counters;
    if (c.foreground_calls < 2)
        c.foreground_values[c.foreground_calls] = foreground;
    c.foreground_calls++;
    fake.changed.notify_all();
    return 0;
}

const LcdManagerCalls fake_calls = {
    fake_init,  fake_deinit, fake_connect,       fake_disconnect,     fake_enumerate,
    fake_open,    fake_close,  fake_update_bitmap, fake_set_foreground,
};

} // namespace

void fake_lcd_reset(void)
{
    Lock lock(fake.mutex);
    memset(&fake.script, 0, sizeof fake.script);
    fake.script.display_count = 1;
    fake.script.widths[0] = LCD_WIDTH;
    fake.script.heights[0] = LCD_HEIGHT;
    memset(&fake.counters, 0, sizeof fake.counters);
    fake.counters.last_open_index = -1;
    fake.init_gate_closed = false;
    set_hang(false);
    fake.hung_calls = 0; // calls of terminated threads never come back
    fake.changed.notify_all();
}

void fake_lcd_install(void)
{
    fake_lcd_reset();
    lcd_manager_calls = fake_calls;
}

void fake_lcd_uninstall(void)
{
    {
        Lock lock(fake.mutex);
        fake.init_gate_closed = false;
        set_hang(false);
        fake.changed.notify_all();
    }
    lcd_manager_calls = lcd_manager_client;
}

void fake_lcd_set(const FakeLcdScript &script)
{
    Lock lock(fake.mutex);
    fake.script = script;
}

FakeLcdScript fake_lcd_script(void)
{
    Lock lock(fake.mutex);
    return fake.script;
}

void fake_lcd_close_init_gate(void)
{
    Lock lock(fake.mutex);
    fake.init_gate_closed = true;
}

void fake_lcd_open_init_gate(void)
{
    Lock lock(fake.mutex);
    fake.init_gate_closed = false;
    fake.changed.notify_all();
}

void fake_lcd_hang_updates(int hang)
{
    Lock lock(fake.mutex);
    set_hang(hang != 0);
    fake.changed.notify_all();
}

int fake_lcd_hung_calls(void)
{
    Lock lock(fake.mutex);
    return fake.hung_calls;
}

FakeLcdCounters fake_lcd_counters(void)
{
    Lock lock(fake.mutex);
    return fake.counters;
}

int fake_lcd_wait(int FakeLcdCounters::*field, int value, unsigned timeout_ms)
{
    Lock lock(fake.mutex);
    return fake.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return fake.counters.*field >= value; })
               ? 1
               : 0;
}
