// AMP: what a running Winamp plays, read through its window messages and
// its window title. See mod_amp.cpp for the picture.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "media_text.h"
#include "slots.h"

struct AmpModule {
    const char *code = "AMP";
    HWND window;                    // Winamp's main window, refreshed once a second
    int32_t bitrate_sum;            // bit rates read since the last second boundary
    int32_t bitrate_samples;
    char bitrate_text[16];          // the average at the last boundary, "%dk"
    char title[AMP_TITLE_BYTES];    // the title last announced, UTF-8
    uint32_t title_hold[SLOT_COUNT]; // per slot: keep the title on the band
};

extern AmpModule g_amp;

// Module entry points (no stop).
void amp_start(AmpModule *amp);
void amp_configure(AmpModule *amp);
void amp_poll(AmpModule *amp);
int amp_render(AmpModule *amp, int slot);

// ---- Pieces, plain so tests feed them chosen values --------------------------

// What the player answered this tick.
struct AmpReading {
    int32_t position_ms; // negative: nothing plays (no page)
    int32_t length_s;    // 0 or negative: no length known, elapsed time shown
    int32_t bitrate;     // kbit/s; 0 or negative: none
};

// Stores and announces a title that is not empty and differs from the last one.
void amp_take_title(AmpModule *amp, const char *title);
// The page for a reading with a play position: frame, presses, title hold,
// bit rate and time. second_tick_now and blink_on are the tick's values.
void amp_draw(AmpModule *amp, int slot, const AmpReading *reading, int second_tick_now, int blink_on);
