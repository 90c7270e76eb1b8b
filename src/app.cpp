#include "app.h"

volatile int quit_requested = 0;
int tick_count = 0;
int second_tick = 0;
int blink = 0;
uint32_t next_tick_due = 0;
HWND volatile main_window = 0;
HINSTANCE app_instance = 0;

static uint32_t system_clock(void) { return GetTickCount(); }
AppClock app_clock = system_clock;
