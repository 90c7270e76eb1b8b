// The program's entry, open loop and tick. Plain so tests and benchmarks can
// run ticks without WinMain.
#pragma once
#include <stdint.h>

// State the main loop carries from tick to tick.
struct MainLoop {
    void *timer;         // 100 ms periodic waitable timer
    int second_phase;    // 0..9, 0 on the second tick
    int submit_failures; // consecutive ticks whose frame did not reach the display
    int hid_count;       // second ticks with failures, once per process
    int log_failures;    // 0..2 driver lines that could not be written at start-up
    uint32_t lcdmon_launched_ms; // when the LCD Manager was last launched
    uint32_t lcdmon_retry_ms;    // wait before the next launch, 0 none pending
};

// T1..T3: waits for the timer (at most 200 ms); 0 when the program is to stop.
int main_tick_wait(MainLoop *loop);
// T4..T21: one tick's work, from the slide-in to the tick count.
void main_tick(MainLoop *loop);
