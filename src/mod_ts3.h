// TS3: TeamSpeak 3 through the state block "TS3STATE_DATA" that a plug-in in
// the client keeps up to date. See mod_ts3.cpp for the picture.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "voice_records.h"

enum {
    TS_ICON_WIDTH = 13,
    TS_ICON_HEIGHT = 14,
};

// The microphone icons of both TeamSpeak pages, 13 x 14, 'X' lit.
extern const char TS_ICON_IDLE[];
extern const char TS_ICON_MUTED[];
extern const char TS_ICON_TALKING[];

struct Ts3Module {
    const char *code = "TS3";
    uint32_t version_warned;           // "TS3: Incompatible version" shown for this block
    HANDLE mapping;                    // the open block, or 0
    uint8_t *view;                     // its whole mapped view, or 0
    size_t view_bytes;                 // readable bytes of the view (VirtualQuery)
    uint8_t current[TS3_BLOCK_BYTES];  // this tick's copy of the block
    uint8_t previous[TS3_BLOCK_BYTES]; // the copy as of the last processed tick
    Ts3State now;                      // current, decoded
    Ts3State before;                   // previous, decoded while polling
};

extern Ts3Module g_ts3;

// The block's name: "TS3STATE_DATA" unless a test gives its own.
extern const char *ts3_block_name;

// Module entry points (no configure).
void ts3_start(Ts3Module *ts3);
void ts3_poll(Ts3Module *ts3);
int ts3_render(Ts3Module *ts3, int slot);
void ts3_stop(Ts3Module *ts3);

// Draws one of the three icons at the panel's icon place (X+1, Y+7).
void ts_draw_icon(int x, int y, int talking, int muted);
