// Common ground of the link and button tests: a controllable clock and Ctrl
// key, a keystroke sink, and the LCD Manager stand-in, registered in this
// process's private HKEY_LOCAL_MACHINE but only running when a test starts
// it. The fixture leaves no link thread behind.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "app.h"
#include "lcd_thread.h"
#include "lcdmon_session.h"
#include "log_files.h"

namespace link_tests {

inline volatile uint32_t clock_now = 1000;
inline volatile int ctrl_down = 0;

// Keystrokes that would have gone to SendInput.
struct SentKey {
    WORD scan_code;
    DWORD flags;
    WORD virtual_key;
    int record_size;
};
inline std::mutex sent_lock;
inline std::vector<SentKey> sent_keys;

inline UINT WINAPI test_send_input(UINT count, LPINPUT inputs, int size)
{
    std::lock_guard<std::mutex> guard(sent_lock);
    for (UINT i = 0; i < count; i++)
        if (inputs[i].type == INPUT_KEYBOARD)
            sent_keys.push_back({inputs[i].ki.wScan, inputs[i].ki.dwFlags, inputs[i].ki.wVk, size});
    return count;
}

inline std::vector<SentKey> keys_sent()
{
    std::lock_guard<std::mutex> guard(sent_lock);
    return sent_keys;
}

// Open handles of this process. Wine answers GetProcessHandleCount with 0, so
// there the handle table is probed instead: its values are small multiples of
// four, handed out lowest first.
inline DWORD open_handle_count()
{
    DWORD count = 0, flags;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    for (ULONG_PTR value = 4, misses = 0; misses < 1024; value += 4) {
        bool open = GetHandleInformation((HANDLE)value, &flags);
        count += open;
        misses = open ? 0 : misses + 1;
    }
    return count;
}

// Lines of errors.txt that hold both parts.
inline int error_lines_with(const std::string &a, const std::string &b)
{
    std::istringstream text(read_binary_file(log_path("errors.txt")));
    int n = 0;
    for (std::string line; std::getline(text, line);)
        n += line.find(a) != std::string::npos && line.find(b) != std::string::npos;
    return n;
}

inline void draw_pattern(uint8_t *frame, int seed)
{
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        frame[i] = ((i * 13 + seed) % 7) < 3 ? 255 : 0;
}

inline bool frame_is_dark(const uint8_t *frame)
{
    return std::all_of(frame, frame + LCD_FRAME_BYTES, [](uint8_t b) { return b == 0; });
}

template <typename T> T standin_value(T LcdMonBlock::*field)
{
    T value{};
    standin_read(field, &value);
    return value;
}

class LinkTest : public ::testing::Test {
protected:
    StandInSession lcdmon; // destroyed after the link is stopped
    Lcd lcd{};
    AppClock saved_clock = app_clock;
    LcdCtrlProbe saved_ctrl = lcd_ctrl_held;
    LcdSendInput saved_send = lcd_send_input;
    LONG threads_before = link_threads_alive;

    void SetUp() override
    {
        ASSERT_TRUE(lcdmon.ready) << "stand-in test lock";
        ASSERT_TRUE(lcdmon.register_standin());
        log_forget_repeats(); // each test counts the lines it causes
        clock_now = 1000;
        ctrl_down = 0;
        app_clock = [] { return (uint32_t)clock_now; };
        lcd_ctrl_held = [] { return (int)ctrl_down; };
        lcd_send_input = test_send_input;
        std::lock_guard<std::mutex> guard(sent_lock);
        sent_keys.clear();
    }

    void TearDown() override
    {
        lcdmon_command("hang off", 0, 0, 1000); // lets stuck link threads end
        lcd_destroy_surface(&lcd);              // stops the link, if any
        EXPECT_TRUE(WAIT_UNTIL(link_threads_alive == threads_before, 5000))
            << "link threads left running: " << link_threads_alive - threads_before;
        app_clock = saved_clock;
        lcd_ctrl_held = saved_ctrl;
        lcd_send_input = saved_send;
    }

    void open(int device_index = 0) { ASSERT_EQ(lcd_open(&lcd, "Wick's panel", 1, 1, device_index), 1); }

    // Starts LCDMon.exe with these options and opens the link to it.
    void open_connected(const char *options = "", int device_index = 0)
    {
        ASSERT_TRUE(lcdmon.start(options));
        open(device_index);
        ASSERT_TRUE(wait_connected());
    }

    bool wait_connected(unsigned timeout_ms = 5000)
    {
        return WAIT_UNTIL(lcd.link && lcd.link->disconnected == 0, timeout_ms);
    }
};

} // namespace link_tests
