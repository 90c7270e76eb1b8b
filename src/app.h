// Process-wide tick values shared by the main loop and the modules.
#pragma once
#include <windows.h>
#include <stdint.h>

#define PIXWICK_NAME "Pixwick 2.8.5"

extern volatile int quit_requested; // only ever incremented, tested against 0
extern int tick_count;              // completed ticks since start, never reset
extern int second_tick;             // 1 on the first tick of every ten
extern int blink;                   // flips on every second tick
extern uint32_t next_tick_due;      // GetTickCount() + 100 after each timer wait
extern HWND volatile main_window;   // the test window, 0 while there is none
extern HINSTANCE app_instance;

// Millisecond clock used for pop-up, ticker and button timing. GetTickCount
// unless a test installs its own.
typedef uint32_t (*AppClock)(void);
extern AppClock app_clock;
static inline uint32_t app_now_ms(void) { return app_clock(); }
