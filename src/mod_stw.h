// STW: a stopwatch per slot, worked with the slot's soft button. See
// mod_stw.cpp for the picture.
#pragma once
#include <stdint.h>

#include "slots.h"
#include "timecalc.h"

enum StopwatchState {
    STW_STOPPED = 0,
    STW_RUNNING = 1,
    STW_LAP_SHOWN = 2, // running, display frozen at the lap time
};

struct StopwatchModule {
    const char *code = "STW";
    uint32_t state[SLOT_COUNT];    // StopwatchState
    uint32_t lap_mode[SLOT_COUNT]; // nonzero: a short press while running shows a lap
    uint32_t elapsed[SLOT_COUNT];  // ms accumulated up to `started`
    uint32_t started[SLOT_COUNT];  // app_now_ms() when the current running stretch began
    uint32_t lap_default;          // stopwatch_laps, kept while the key is absent
};

extern StopwatchModule g_stw;

// Module entry points (no poll, no stop).
void stw_start(StopwatchModule *stw);
void stw_configure(StopwatchModule *stw);
int stw_render(StopwatchModule *stw, int slot);

// ---- Pieces, plain so tests drive them with their own clock ------------------

// What the panel shows.
struct StopwatchView {
    char text[STOPWATCH_TEXT_BYTES]; // the time
    int show_lap;                    // draw "LAP" (lap shown, dark half of the blink)
};

// Lap mode of a slot: its '+' marks after STW plus the configured default,
// reduced to the lowest bit when above 1.
uint32_t stw_lap_mode(int variant, uint32_t lap_default);

// Acts on the slot's pending press at time `now` (ms, wrapping at 2^32).
void stw_press(StopwatchModule *stw, Slot *slot, int i, uint32_t now);
// Milliseconds to show in slot i at time `now`.
uint32_t stw_shown_ms(const StopwatchModule *stw, int i, uint32_t now);
// The press, then the texts for slot i; blink_on is the process-wide blink.
void stw_update(StopwatchModule *stw, Slot *slot, int i, uint32_t now, int blink_on, StopwatchView *view);
