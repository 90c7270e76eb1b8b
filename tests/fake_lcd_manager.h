// A scripted LCD Manager installed in place of the client's lgLcd* functions
// (lcd_manager_calls): answers what the test scripted and records what the
// link thread asked. Thread-safe. Defaults after fake_lcd_reset: every call
// answers 0, one 160 x 43 display, every frame taken at once.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "lcd_thread.h"

enum { FAKE_LCD_MAX_DISPLAYS = 8 };

struct FakeLcdScript {
    DWORD init_result, connect_result, update_result;
    int display_count;
    int widths[FAKE_LCD_MAX_DISPLAYS], heights[FAKE_LCD_MAX_DISPLAYS];
};

struct FakeLcdCounters {
    int init_calls, deinit_calls, connect_calls, disconnect_calls, close_calls, frames_taken;
    int foreground_calls;
    int hung_calls; // lgLcdUpdateBitmap calls blocked right now
    int foreground_values[2]; // the first two flags passed
    int last_open_index;
    DWORD last_priority, last_format;
    // connect context as seen by the server
    char app_name[256];
    BOOL persistent, autostartable;
    int connection_before; // the value the program set before the call
    // the soft-button callback registered by the last lgLcdOpen
    LcdSoftButtonCallback callback;
    void *callback_context;
};

// Install resets the double; uninstall puts the client back and releases
// any held call.
void fake_lcd_install(void);
void fake_lcd_uninstall(void);
void fake_lcd_reset(void);

void fake_lcd_set(const FakeLcdScript &script);
FakeLcdScript fake_lcd_script(void);

// While closed, lgLcdInit waits (at most 10 s) until the gate opens.
void fake_lcd_init_gate(int open);

// While set, lgLcdUpdateBitmap blocks (at most 30 s) until released.
void fake_lcd_hang_updates(int hang);

FakeLcdCounters fake_lcd_counters(void);

// Waits at most timeout_ms until the counter field reaches at least value.
int fake_lcd_wait(int FakeLcdCounters::*field, int value, unsigned timeout_ms);
