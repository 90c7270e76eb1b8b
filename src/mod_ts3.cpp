// TS3: TeamSpeak 3. A plug-in inside the client keeps the block
// "TS3STATE_DATA" up to date (layout in voice_records.h); this module copies
// it whole once a tick, announces what changed and shows the page. A short
// press asks the plug-in to mute or unmute the microphone (the only bytes
// ever written into the block), a long press lists the channel's members.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+  Y
//    |TS3  |                            12   |  Y+2: users on the server, small font,
//    +-----+                                 |       right edge X+36, only when above 1
//    |   XXX                                 |  Y+7: microphone icon, 13 x 14 at X+1:
//    |  XXXXX                                |       Idle, Muted or Talking
//    |  XXXXX                          3     |  Y+10: users in the channel, large font,
//    |   XXXXX                               |        right edge X+36, only when above 1
//    |      XXX                              |        and the server count is shown
//    |        ...                            |
//
// Once a second the block is closed and opened again, so a restarted client
// is picked up; a block that has gone takes the page away. The first tick
// that sees a connection announces its server and channel, but not the
// members already there.
#include "mod_ts3.h"

#include <stdio.h>
#include <string.h>

#include "app.h"
#include "lcd.h"
#include "popup.h"
#include "slots.h"
#include "ticker.h"

Ts3Module g_ts3;
const char *ts3_block_name = "TS3STATE_DATA";

enum {
    BLOCK_ACCESS = FILE_MAP_READ | FILE_MAP_WRITE, // 6: the request bytes are written
    POPUP_MS = 2000,
    POPUP_DEFAULT_MS = 0,
    MEMBER_LINE_MS = 1000,
    KEY_DISCONNECTED = 0,
    KEY_CONNECTED = 2,
    KEY_MEMBER_LINE = 6,
    KEY_CHANNEL = 23,
    KEY_SERVER = 24,
    KEY_VERSION = 27,
    SERVER_COUNT_DX = 36,
    SERVER_COUNT_DY = 2,
    CHANNEL_COUNT_DY = 10,
    ICON_DX = 1,
    ICON_DY = 7,
};

const char TS_ICON_IDLE[] = "             "
                            "   XXX       "
                            "  XXXXX      "
                            "  XXXXX      "
                            "  XXXXX      "
                            "   XXXXX     "
                            "      XXX    "
                            "       XXX   "
                            "        XXX  "
                            "         XXX "
                            "          XX "
                            "            X"
                            "  XXXXXXX   X"
                            "XX       XXX ";

const char TS_ICON_MUTED[] = "             "
                             "   XXX       "
                             "  X   X      "
                             "  X   X      "
                             "  X   X      "
                             "   XXX X     "
                             "      X X    "
                             "       X X   "
                             "        X X  "
                             "         X X "
                             "          XX "
                             "    X X     X"
                             "  XXX XXX   X"
                             "XX  X X  XXX ";

const char TS_ICON_TALKING[] = "  X   X  X  X"
                               " X XXX X  X X"
                               "X XXXXX X X  "
                               "X XXXXX X    "
                               "X XXXXX X    "
                               " X XXXXX     "
                               "  X   XXX    "
                               "       XXX   "
                               "        XXX  "
                               "         XXX "
                               "          XX "
                               "            X"
                               "  XXXXXXX   X"
                               "XX       XXX ";

static_assert(sizeof TS_ICON_IDLE == TS_ICON_WIDTH * TS_ICON_HEIGHT + 1, "icon is 13 x 14");
static_assert(sizeof TS_ICON_MUTED == TS_ICON_WIDTH * TS_ICON_HEIGHT + 1, "icon is 13 x 14");
static_assert(sizeof TS_ICON_TALKING == TS_ICON_WIDTH * TS_ICON_HEIGHT + 1, "icon is 13 x 14");

void ts_draw_icon(int x, int y, int talking, int muted)
{
    const char *icon = talking ? TS_ICON_TALKING : muted ? TS_ICON_MUTED : TS_ICON_IDLE;
    lcd_bitmap(&g_lcd, 0, x + ICON_DX, y + ICON_DY, TS_ICON_WIDTH, TS_ICON_HEIGHT, icon);
}

// ---- The block ------------------------------------------------------------------

static void close_block(Ts3Module *ts3)
{
    if (ts3->view)
        UnmapViewOfFile(ts3->view);
    if (ts3->mapping)
        CloseHandle(ts3->mapping);
    ts3->view = 0;
    ts3->mapping = 0;
    ts3->view_bytes = 0;
}

// An absent block is the normal state while TeamSpeak 3 is not running.
static int open_block(Ts3Module *ts3)
{
    ts3->mapping = OpenFileMappingA(BLOCK_ACCESS, FALSE, ts3_block_name);
    if (!ts3->mapping) {
        SetLastError(0);
        return 0;
    }
    ts3->view = (uint8_t *)MapViewOfFile(ts3->mapping, BLOCK_ACCESS, 0, 0, 0);
    MEMORY_BASIC_INFORMATION info;
    if (!ts3->view || !VirtualQuery(ts3->view, &info, sizeof info)) {
        close_block(ts3);
        SetLastError(0);
        return 0;
    }
    ts3->view_bytes = info.RegionSize;
    return 1;
}

// The block is copied whole and worked on as a copy: the plug-in writes it
// without a lock. A view shorter than the block leaves the rest zero.
static void copy_view(const Ts3Module *ts3, uint8_t *snapshot)
{
    size_t n = ts3->view_bytes < (size_t)TS3_BLOCK_BYTES ? ts3->view_bytes : (size_t)TS3_BLOCK_BYTES;
    memcpy(snapshot, ts3->view, n);
    memset(snapshot + n, 0, TS3_BLOCK_BYTES - n);
}

static uint64_t connection_of(const uint8_t *snapshot)
{
    uint64_t id;
    memcpy(&id, snapshot + TS3_CONNECTION, sizeof id);
    return id;
}

static void reopen_block(Ts3Module *ts3)
{
    if (!ts3->view) {
        memset(ts3->current, 0, sizeof ts3->current);
        memset(ts3->previous, 0, sizeof ts3->previous);
    }
    close_block(ts3);
    if (open_block(ts3) && connection_of(ts3->previous) == 0)
        ts3->version_warned = 0;
}

// A connection seen for the first time (also again after a disconnection,
// on whichever tick) announces its server and channel, but not the members
// already there.
static void take_new_connection(Ts3Module *ts3)
{
    if (connection_of(ts3->previous) != 0)
        return;
    memcpy(ts3->previous, ts3->current, TS3_BLOCK_BYTES);
    ts3->previous[TS3_SERVER_NAME] = 0;
    ts3->previous[TS3_CHANNEL_NAME] = 0;
}

// ---- Poll -------------------------------------------------------------------------

static void announce_changes(Ts3Module *ts3)
{
    const Ts3State *now = &ts3->now, *before = &ts3->before;
    if (!voice_same_text(before->server, now->server))
        popup(&g_popups, KEY_SERVER, POPUP_MS, "TS3: Server \"%s\"", now->server);
    if (!voice_same_text(before->channel, now->channel))
        popup(&g_popups, KEY_CHANNEL, POPUP_MS, "TS3: Channel \"%s\"", now->channel);
    for (int i = 0; i < now->member_count; i++) {
        const Ts3Member *m = &now->members[i];
        if (ts3_find_member(before, m->id) < 0 && m->id != now->own_id)
            popup(&g_popups, KEY_CONNECTED, POPUP_MS, "TS3: \"%s\" connected", m->name);
    }
    for (int i = 0; i < TS3_SPEAKERS; i++)
        if (ts3_speaker_announced(&now->speakers[i]))
            ticker_add(&g_ticker, now->speakers[i].text);
}

void ts3_poll(Ts3Module *ts3)
{
    if (second_tick)
        reopen_block(ts3);
    if (!ts3->view)
        return;
    copy_view(ts3, ts3->current);
    ts3_decode(ts3->current, TS3_BLOCK_BYTES, &ts3->now);
    if (ts3->now.size_field != TS3_BLOCK_BYTES)
        return;
    if (ts3->now.connection == 0) {
        if (ts3->previous[TS3_SERVER_NAME]) {
            popup(&g_popups, KEY_DISCONNECTED, POPUP_DEFAULT_MS, "TS3: Disconnected");
            memset(ts3->previous, 0, sizeof ts3->previous);
        }
        return;
    }
    take_new_connection(ts3);
    ts3_decode(ts3->previous, TS3_BLOCK_BYTES, &ts3->before);
    announce_changes(ts3);
    memcpy(ts3->previous, ts3->current, TS3_BLOCK_BYTES);
}

// ---- Render -----------------------------------------------------------------------

static void post_member_line(const Ts3State *state)
{
    char line[VOICE_LINE_BYTES];
    ts3_member_line(state, line);
    popup(&g_popups, KEY_MEMBER_LINE, MEMBER_LINE_MS, "%s", line);
}

static void draw_counts(int x, int y, int server_users, int channel_users)
{
    if (server_users <= 1)
        return;
    char text[16];
    snprintf(text, sizeof text, "%d", server_users);
    lcd_text(&g_lcd, TXT_RIGHT, x + SERVER_COUNT_DX, y + SERVER_COUNT_DY, text);
    if (channel_users <= 1)
        return;
    snprintf(text, sizeof text, "%d", channel_users);
    lcd_text(&g_lcd, TXT_RIGHT | TXT_LARGE, x + SERVER_COUNT_DX, y + CHANNEL_COUNT_DY, text);
}

// The plug-in consumes the request and reports the new state in byte 7.
static void request_mute_toggle(Ts3Module *ts3)
{
    const size_t byte = ts3->now.muted ? TS3_UNMUTE_REQUEST : TS3_MUTE_REQUEST;
    if (byte < ts3->view_bytes)
        ts3->view[byte] = 1;
}

int ts3_render(Ts3Module *ts3, int s)
{
    if (!ts3->view || s < 0 || s >= SLOT_COUNT)
        return 0;
    if (ts3->now.size_field != TS3_BLOCK_BYTES) {
        if (!ts3->version_warned)
            popup(&g_popups, KEY_VERSION, POPUP_MS, "TS3: Incompatible version");
        ts3->version_warned = 1;
        return 0;
    }
    Slot *slot = &g_slots[s];
    slot_draw_frame(slot, ts3->code);
    if (slot->pending_action == 2) {
        slot->pending_action = 0;
        post_member_line(&ts3->now);
    }
    draw_counts(slot->x, slot->y, ts3->now.server_users, ts3->now.channel_users);
    if (slot->pending_action == 1) {
        slot->pending_action = 0;
        request_mute_toggle(ts3);
    }
    ts_draw_icon(slot->x, slot->y, ts3->now.talking != 0, ts3->now.muted != 0);
    return 1;
}

// ---- Life cycle --------------------------------------------------------------------

void ts3_start(Ts3Module *ts3)
{
    ts3->version_warned = 0;
    memset(ts3->current, 0, sizeof ts3->current);
    memset(ts3->previous, 0, sizeof ts3->previous);
    memset(&ts3->now, 0, sizeof ts3->now);
}

void ts3_stop(Ts3Module *ts3) { close_block(ts3); }
