// FPS: the frame rate that FRAPS measures, in large digits. See mod_fps.cpp
// for the picture.
#pragma once
#include "sensor_blocks.h"

struct FpsModule {
    const char *code = "FPS";
    char rate_text[FPS_TEXT_BYTES]; // this second's rate in decimal, empty = no page
};

extern FpsModule g_fps;

// Module entry points (no configure, no stop).
void fps_start(FpsModule *fps);
void fps_poll(FpsModule *fps);
int fps_render(FpsModule *fps, int slot);

// The once-a-second look for FRAPS's library in this process.
void fps_read_rate(FpsModule *fps);
