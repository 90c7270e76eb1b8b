// Common ground of the link and button tests: a controllable clock, a Ctrl
// key and a keystroke sink the tests set, the scripted LCD Manager, and a
// fixture that leaves no link thread behind.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <mutex>
#include <vector>

#include "app.h"
#include "fake_lcd_manager.h"
#include "lcd_thread.h"

namespace link_tests {

inline volatile uint32_t clock_now = 1000;
inline uint32_t test_clock(void) { return clock_now; }

inline volatile int ctrl_down = 0;
inline int test_ctrl(void) { return ctrl_down; }

// Keystrokes that would have gone to SendInput.
struct SentKey {
    WORD scan_code;
    DWORD flags;
    WORD virtual_key;
    int record_size;
};
inline std::mutex sent_lock;
inline std::vector<SentKey> sent_keys;
inline volatile LONG send_input_calls = 0;
inline volatile LONG send_input_accepts = -1; // events accepted per call, -1 all

inline UINT WINAPI test_send_input(UINT count, LPINPUT inputs, int size)
{
    std::lock_guard<std::mutex> guard(sent_lock);
    for (UINT i = 0; i < count; i++) {
        if (inputs[i].type != INPUT_KEYBOARD)
            continue;
        SentKey key = {inputs[i].ki.wScan, inputs[i].ki.dwFlags, inputs[i].ki.wVk, size};
        sent_keys.push_back(key);
    }
    InterlockedIncrement(&send_input_calls);
    LONG accepts = send_input_accepts;
    return accepts < 0 ? count : (UINT)accepts;
}

inline std::vector<SentKey> keys_sent()
{
    std::lock_guard<std::mutex> guard(sent_lock);
    return sent_keys;
}

// Polls a condition every millisecond for at most timeout_ms.
template <typename Condition>
bool eventually(unsigned timeout_ms, Condition condition)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeout_ms)
            return condition();
        Sleep(1);
    }
    return true;
}

// Open handles of this process. Wine answers GetProcessHandleCount with 0, so
// there the handle table is probed instead: its values are small multiples of
// four, handed out lowest first.
inline DWORD open_handle_count()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    int misses = 0;
    for (ULONG_PTR value = 4; misses < 1024; value += 4) {
        DWORD flags;
        if (GetHandleInformation((HANDLE)value, &flags)) {
            count++;
            misses = 0;
        } else {
            misses++;
        }
    }
    return count;
}

class LinkTest : public ::testing::Test {
protected:
    Lcd lcd{};
    AppClock saved_clock = 0;
    LcdCtrlProbe saved_ctrl = 0;
    LcdSendInput saved_send = 0;
    LONG threads_before = 0;

    void SetUp() override
    {
        threads_before = link_threads_alive;
        saved_clock = app_clock;
        saved_ctrl = lcd_ctrl_held;
        saved_send = lcd_send_input;
        clock_now = 1000;
        ctrl_down = 0;
        app_clock = test_clock;
        lcd_ctrl_held = test_ctrl;
        lcd_send_input = test_send_input;
        {
            std::lock_guard<std::mutex> guard(sent_lock);
            sent_keys.clear();
        }
        send_input_calls = 0;
        send_input_accepts = -1;
        fake_lcd_install();
        strcpy(lcd.app_name, "Wick's panel");
        lcd.persistent = 1;
        lcd.autostartable = 1;
    }

    void TearDown() override
    {
        lcd_destroy_surface(&lcd); // stops the link, if any
        fake_lcd_uninstall();      // releases calls a test left hanging
        EXPECT_TRUE(eventually(5000, [&] { return link_threads_alive == threads_before; }))
            << "link threads left running: " << link_threads_alive - threads_before;
        app_clock = saved_clock;
        lcd_ctrl_held = saved_ctrl;
        lcd_send_input = saved_send;
    }

    // A link against an LCD Manager that is not there: its thread only
    // pauses between attempts, so the buttons are the test's alone.
    void start_idle_link()
    {
        FakeLcdScript script = fake_lcd_script();
        script.init_result = LCD_ERR_SERVER_UNAVAILABLE;
        fake_lcd_set(script);
        ASSERT_EQ(link_start(&lcd), 1);
        ASSERT_NE(lcd.link, nullptr);
    }

    // Waits until the link thread has opened a display (or a HID device).
    bool wait_connected(unsigned timeout_ms = 3000)
    {
        return eventually(timeout_ms, [&] { return lcd.link && lcd.link->disconnected == 0; });
    }
};

} // namespace link_tests
