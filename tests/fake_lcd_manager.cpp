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
};

FakeLcd fake;

// Locks the double and wakes its waiters when the call is done.
struct Call {
    std::unique_lock<std::mutex> lock{fake.mutex};
    ~Call() { fake.changed.notify_all(); }
};

// Manual-reset event, set while updates are not held.
HANDLE hang_released(void)
{
    static HANDLE event = CreateEventA(0, TRUE, TRUE, 0);
    return event;
}

void set_hang(bool hang)
{
    if (hang)
        ResetEvent(hang_released());
    else
        SetEvent(hang_released());
}

DWORD fake_init(void)
{
    Call call;
    fake.changed.wait_for(call.lock, std::chrono::seconds(10), [] { return !fake.init_gate_closed; });
    fake.counters.init_calls++;
    return fake.script.init_result;
}

DWORD fake_deinit(void)
{
    Call call;
    fake.counters.deinit_calls++;
    return 0;
}

DWORD fake_connect(LcdConnectContext *ctx)
{
    Call call;
    FakeLcdCounters &c = fake.counters;
    c.connect_calls++;
    strncpy(c.app_name, ctx->app_name ? ctx->app_name : "", sizeof c.app_name - 1);
    c.persistent = ctx->is_persistent;
    c.autostartable = ctx->is_autostartable;
    c.connection_before = ctx->connection;
    if (fake.script.connect_result == 0)
        ctx->connection = 7;
    return fake.script.connect_result;
}

DWORD fake_disconnect(int)
{
    Call call;
    fake.counters.disconnect_calls++;
    return 0;
}

DWORD fake_enumerate(int, int index, LcdDeviceDescription *description)
{
    Call call;
    if (index < 0 || index >= fake.script.display_count || index >= FAKE_LCD_MAX_DISPLAYS)
        return LCD_ERR_NO_MORE_ITEMS;
    *description = {(DWORD)fake.script.widths[index], (DWORD)fake.script.heights[index], 1, 4};
    return 0;
}

DWORD fake_open(LcdOpenContext *ctx)
{
    Call call;
    fake.counters.last_open_index = ctx->index;
    fake.counters.callback = ctx->on_soft_buttons.callback;
    fake.counters.callback_context = ctx->on_soft_buttons.context;
    ctx->device = 3;
    return 0;
}

DWORD fake_close(int)
{
    Call call;
    fake.counters.close_calls++;
    return 0;
}

DWORD fake_update_bitmap(int, const LcdBitmapHeader *bitmap, DWORD priority)
{
    Call call;
    fake.counters.last_priority = priority;
    fake.counters.last_format = bitmap->format;
    if (WaitForSingleObject(hang_released(), 0) != WAIT_OBJECT_0) {
        // Blocked on a kernel event with no lock held, so that a test may
        // also terminate the thread in here.
        fake.counters.hung_calls++;
        fake.changed.notify_all();
        call.lock.unlock();
        WaitForSingleObject(hang_released(), 30000);
        call.lock.lock();
        fake.counters.hung_calls--;
    }
    if (fake.script.update_result == 0)
        fake.counters.frames_taken++;
    return fake.script.update_result;
}

DWORD fake_set_foreground(int, int foreground)
{
    Call call;
    FakeLcdCounters &c = fake.counters;
    if (c.foreground_calls < 2)
        c.foreground_values[c.foreground_calls] = foreground;
    c.foreground_calls++;
    return 0;
}

const LcdManagerCalls fake_calls = {
    fake_init, fake_deinit, fake_connect,       fake_disconnect,     fake_enumerate,
    fake_open, fake_close,  fake_update_bitmap, fake_set_foreground,
};

} // namespace

void fake_lcd_reset(void)
{
    Call call;
    fake.script = FakeLcdScript{};
    fake.script.display_count = 1;
    fake.script.widths[0] = LCD_WIDTH;
    fake.script.heights[0] = LCD_HEIGHT;
    fake.counters = FakeLcdCounters{}; // hung calls of terminated threads never come back
    fake.counters.last_open_index = -1;
    fake.init_gate_closed = false;
    set_hang(false);
}

void fake_lcd_install(void)
{
    fake_lcd_reset();
    lcd_manager_calls = fake_calls;
}

void fake_lcd_uninstall(void)
{
    fake_lcd_init_gate(1);
    fake_lcd_hang_updates(0);
    lcd_manager_calls = lcd_manager_client;
}

void fake_lcd_set(const FakeLcdScript &script)
{
    Call call;
    fake.script = script;
}

FakeLcdScript fake_lcd_script(void)
{
    Call call;
    return fake.script;
}

void fake_lcd_init_gate(int open)
{
    Call call;
    fake.init_gate_closed = !open;
}

void fake_lcd_hang_updates(int hang)
{
    Call call;
    set_hang(hang != 0);
}

FakeLcdCounters fake_lcd_counters(void)
{
    Call call;
    return fake.counters;
}

int fake_lcd_wait(int FakeLcdCounters::*field, int value, unsigned timeout_ms)
{
    Call call;
    return fake.changed.wait_for(call.lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return fake.counters.*field >= value; });
}
