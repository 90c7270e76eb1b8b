// GPU: one GPU-Z sensor at a time, value and unit. See mod_gpu.cpp for the
// picture.
#pragma once
#include <stdint.h>

#include "sensor_blocks.h"
#include "slots.h"

enum {
    GPU_BUSY_KEEP_SECONDS = 10, // a block busy for longer belongs to a GPU-Z that hangs
    GPU_POPUP_KEY = 19,
    GPU_POPUP_MS = 2000,
};

struct GpuModule {
    const char *code = "GPU";
    uint32_t position[SLOT_COUNT]; // per slot: the sensor record shown, 0..127
    int present;                   // readings hold GPU-Z's data
    uint32_t busy_seconds;         // seconds in a row the block was busy while readings were kept
    GpuReadings readings;          // the last complete copy
    GpuReadings scratch;           // this second's copy, kept when GPU-Z did not write meanwhile
};

extern GpuModule g_gpu;
// The block's name; tests give their own.
extern const char *gpu_block_name;

// Module entry points (no stop).
void gpu_start(GpuModule *gpu);
void gpu_configure(GpuModule *gpu);
void gpu_poll(GpuModule *gpu);
int gpu_render(GpuModule *gpu, int slot);

// The once-a-second copy: a busy block keeps the last readings for up to
// GPU_BUSY_KEEP_SECONDS; an absent one drops them.
void gpu_read_block(GpuModule *gpu);
// Acts on slot i's short press and finds the sensor to show from its
// position: the first named one up to 127, else the first named one at all;
// -1 when no record has a name.
int gpu_choose_sensor(GpuModule *gpu, Slot *slot, int i);
