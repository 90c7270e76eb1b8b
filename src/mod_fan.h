// FAN: one SpeedFan reading at a time. See mod_fan.cpp for the picture.
#pragma once
#include <stdint.h>

#include "sensor_blocks.h"
#include "slots.h"

enum { FAN_MODES = 10, FAN_LABEL_CHARS = 6 };

// One fan_mode_X setting.
struct FanMode {
    char label[8];  // at most FAN_LABEL_CHARS; empty: the mode is not in use
    int32_t kind;   // FanKind
    int32_t sensor; // index of the reading within its kind, -1 none
};

struct FanModule {
    const char *code = "FAN";
    FanMode modes[FAN_MODES];
    uint32_t fahrenheit;         // fan_farenheit
    uint32_t cycle_interval;     // fan_cycle_interval, tenths of a second; 0 never
    uint32_t cycling[SLOT_COUNT]; // per slot: automatic stepping on
    uint32_t current[SLOT_COUNT]; // per slot: the mode shown
    FanReadings readings;        // SpeedFan's, copied once a second; all counts 0 = no data
    uint32_t last_step;          // app_now_ms() of the last automatic step
    int stepped;                 // last_step holds a time
};

extern FanModule g_fan;
// The block's name; tests give their own.
extern const char *fan_block_name;

// Module entry points (no stop).
void fan_start(FanModule *fan);
void fan_configure(FanModule *fan);
void fan_poll(FanModule *fan);
int fan_render(FanModule *fan, int slot);

// ---- Pieces, plain so tests reach them -----------------------------------------

// A fan_mode_X value: label (cut to 6), TEMP, FAN or VOLT in any letter case,
// sensor index; null or missing words leave the mode unused.
void fan_parse_mode(const char *value, FanMode *mode);
// The once-a-second copy of the block (all counts 0 when it is not there).
void fan_read_block(FanModule *fan);
// Automatic stepping at time `now` (ms, wrapping at 2^32).
void fan_cycle_step(FanModule *fan, uint32_t now);
// Acts on slot i's pending press and finds the mode to show from its current
// one; -1 when no mode can be shown.
int fan_choose_mode(FanModule *fan, Slot *slot, int i);
