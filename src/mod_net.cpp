// NET: network traffic of the machine's adapters.
//
// The band meter, rows 8..20, columns 81..159: two lit labels with the rates
// of the last second in dark tiny digits (right edge at column 99, changed
// once a second), and a bar each from column 100 that follows every tick (60
// pixels are net_max_in or net_max_out bytes per second; here 1.1M in, above
// full scale, and 244K out, a quarter of it):
//
//    col 81             100                                                        159
//     XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX    row 8
//    XXXX XXXXX XX XXX X                                                           X
//    XXX  XXXX  XX  X  X###########################################################X
//    XXXX XXXXX XX X X X###########################################################X   in
//    XXXX XXXXX XX XXX X###########################################################X
//    XXX   X X   X XXX X                                                           X
//     XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX    row 14
//    XX  XX X X X X XX X                                                           X
//    XXXX X X X X X X XX###############                                            X
//    XXX XX   X   X  XXX###############                                            X   out
//    XX XXXXX XXX X X XX###############                                            X
//    XX   XXX XXX X XX X                                                           X
//     XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX    row 20
//
// The slot page, 39 x 21 from the panel's corner (X, Y); a short press steps
// OUT -> IN -> TOT -> OUT (NET+ starts on IN, NET++ on TOT), a long press
// resets the statistics:
//
//    +NET----------------------------------+      +NET----------------------------------+
//    |NET|                  OUT            |      |NET|                   TOT           |
//    |                                     |      |                                     |
//    |                             #      #|      | in                             1.2M |
//    |         #     ##     #     ##  #  ##|      |                                     |
//    |  #  #  ### # ###### ### #  #########|      | out                            345K |
//    OUT, IN: 37 samples of 500 ms, newest at      TOT: bytes since start
//    column X+37; 13 pixels (rows Y+8..Y+20)
//    are half the scale's bytes in a sample
#include "mod_net.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "config.h"
#include "format.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "ndisstats.h"
#include "popup.h"
#include "sysinfo.h"
#include "util.h"

NetStats g_net_stats;
NetModule g_net;

enum {
    SAMPLE_POLLS = 5,      // a sample every fifth tick: 500 ms
    RATE_WINDOW_MS = 1000, // the meter's rates cover just over this
    POPUP_RESET = 9,
    POPUP_RESET_MS = 2000,
};

// Band meter geometry.
enum {
    METER_LEFT = 81,
    METER_RIGHT = 159,
    METER_TOP = 8,
    METER_MIDDLE = 14,
    METER_BOTTOM = 20,
    METER_TEXT_RIGHT = 99,
    METER_BAR_LEFT = 100,
    METER_BAR_PIXELS = 60,
    METER_IN_ROW = 10,  // three rows each
    METER_OUT_ROW = 16,
};

// Panel geometry, relative to the slot's corner.
enum {
    PANEL_INNER = 37,
    PANEL_BOTTOM = 20,
    GRAPH_PIXELS = 13,
    GRAPH_SCALE = 26, // a sample of half the scale's bytes fills the column
};

static const char METER_LABEL[] = // 19 x 13: two lit labels with rounded corners
    " XXXXXXXXXXXXXXXXX "
    "XXXXXXXXXXXXXXXXXXX"
    "XXXXXXXXXXXXXXXXXXX"
    "XXXXXXXXXXXXXXXXXXX"
    "XXXXXXXXXXXXXXXXXXX"
    "XXXXXXXXXXXXXXXXXXX"
    " XXXXXXXXXXXXXXXXX "
    "XXXXXXXXXXXXXXXXXXX"
    "XXXXXXXXXXXXXXXXXXX"
    "XXXXXXXXXXXXXXXXXXX"
    "XXXXXXXXXXXXXXXXXXX"
    "XXXXXXXXXXXXXXXXXXX"
    " XXXXXXXXXXXXXXXXX ";
static_assert(sizeof METER_LABEL == 19 * 13 + 1, "meter label is 19 x 13");

// ---------------------------------------------------------------------------
// Statistics

const char *net_method_name(const NetStats *stats)
{
    switch (stats->method) {
    case NET_METHOD_TDI:
        return "TDI";
    case NET_METHOD_NDIS:
        return "NDIS";
    case NET_METHOD_IPHLP:
        return "IPHLP";
    }
    return "OFF";
}


// The source net_method asks for; absent or unknown: NDIS from Vista on,
// else TDI, with IP Helper standing in when that finds no adapter.
static void choose_method(NetStats *stats)
{
    const char *text = config_get(&g_config, "net_method");
    stats->automatic = 0;
    if (text && _stricmp(text, "tdi") == 0)
        stats->chosen = NET_METHOD_TDI;
    else if (text && _stricmp(text, "ndis") == 0)
        stats->chosen = NET_METHOD_NDIS;
    else if (text && _stricmp(text, "iphlp") == 0)
        stats->chosen = NET_METHOD_IPHLP;
    else
        stats->chosen = os_is_vista ? NET_METHOD_NDIS : NET_METHOD_TDI, stats->automatic = 1;
    if (text && stats->automatic)
        config_note_bad_value(&g_config, "net_method", "not tdi, ndis or iphlp");
}

static void open_source(NetStats *stats)
{
    stats->method = stats->chosen;
    stats->adapter_count = (uint32_t)net_source_open(stats->chosen, stats->adapter);
    if (!stats->automatic || stats->adapter_count || stats->chosen == NET_METHOD_IPHLP)
        return;
    const int found = net_source_open(NET_METHOD_IPHLP, stats->adapter);
    if (found <= 0) {
        net_source_close(NET_METHOD_IPHLP);
        return;
    }
    log_system("%s: No adapter found, using IPHLP\n", net_method_name(stats));
    net_source_close(stats->chosen);
    stats->method = NET_METHOD_IPHLP;
    stats->adapter_count = (uint32_t)found;
}

void net_configure(NetStats *stats)
{
    const uint32_t old_method = stats->method, old_chosen = stats->chosen, old_automatic = stats->automatic;
    memset(stats->out_history, 0, sizeof stats->out_history);
    memset(stats->in_history, 0, sizeof stats->in_history);
    memset(stats->elapsed_history, 0, sizeof stats->elapsed_history);
    // A key deleted at a reload is back at its default.
    stats->hidden = config_get_uint(&g_config, "net_hidden", 0);
    stats->max_in = config_get_uint(&g_config, "net_max_in", NET_DEFAULT_MAX);
    stats->max_out = config_get_uint(&g_config, "net_max_out", NET_DEFAULT_MAX);
    if (!stats->max_in)
        stats->max_in = NET_DEFAULT_MAX;
    if (!stats->max_out)
        stats->max_out = NET_DEFAULT_MAX;

    const char *adapter = config_get(&g_config, "net_adapter");
    char wanted[NET_ADAPTER_CHARS];
    snprintf(wanted, sizeof wanted, "%s", adapter ? adapter : "");
    const int adapter_changed = strcmp(wanted, stats->adapter) != 0;
    memcpy(stats->adapter, wanted, sizeof wanted);

    choose_method(stats);
    const int method_changed = old_method == NET_METHOD_OFF || stats->chosen != old_chosen ||
                               stats->automatic != old_automatic;
    if (old_method != NET_METHOD_OFF && (adapter_changed || method_changed))
        net_source_close((int)old_method);
    // With only the adapter changed, the next refresh reopens the closed
    // source with the new filter.
    if (method_changed)
        open_source(stats);
}

void net_init(NetStats *stats)
{
    stats->last_sample_tick = app_now_ms();
    stats->poll_count = 0;
    stats->max_in = stats->max_out = NET_DEFAULT_MAX;
    stats->hidden = 0;
    stats->method = NET_METHOD_OFF;
    stats->adapter_count = 0;
    stats->adapter[0] = 0;
    stats->total_out = stats->total_in = 0;
    stats->in_text[0] = stats->out_text[0] = 0;
    net_configure(stats);
}

void net_close(NetStats *stats)
{
    net_source_close((int)stats->method);
    stats->method = NET_METHOD_OFF;
}

static uint32_t clamp32(uint64_t value) { return value > 0xffffffffu ? 0xffffffffu : (uint32_t)value; }

void net_record_sample(NetStats *stats, uint64_t in, uint64_t out, uint32_t now)
{
    const size_t older = sizeof stats->out_history - sizeof stats->out_history[0];
    memmove(stats->out_history + 1, stats->out_history, older);
    memmove(stats->in_history + 1, stats->in_history, older);
    memmove(stats->elapsed_history + 1, stats->elapsed_history, older);
    stats->out_history[0] = clamp32(out);
    stats->in_history[0] = clamp32(in);
    stats->elapsed_history[0] = now - stats->last_sample_tick;
    stats->last_sample_tick = now;
    stats->total_out += out;
    stats->total_in += in;
}

int net_poll(NetStats *stats)
{
    if (stats->method == NET_METHOD_OFF)
        return 0;
    if (second_tick && blink)
        net_source_refresh((int)stats->method, stats->adapter);
    if (++stats->poll_count < SAMPLE_POLLS)
        return 0;
    stats->poll_count = 0;
    uint64_t in = 0, out = 0;
    const int count = net_source_read((int)stats->method, stats->adapter, &in, &out);
    stats->adapter_count = count > 0 ? (uint32_t)count : 0;
    if (count <= 0)
        return 0; // the next sample covers the longer time
    net_record_sample(stats, in, out, app_now_ms());
    return 1;
}

void net_rates(const NetStats *stats, uint64_t *in_rate, uint64_t *out_rate)
{
    uint64_t in = 0, out = 0, elapsed = 0;
    for (int i = 0; i < NET_HISTORY && elapsed <= RATE_WINDOW_MS; i++) {
        in += stats->in_history[i];
        out += stats->out_history[i];
        elapsed += stats->elapsed_history[i];
    }
    *in_rate = elapsed ? in * 1000 / elapsed : 0;
    *out_rate = elapsed ? out * 1000 / elapsed : 0;
}

// ---------------------------------------------------------------------------
// Drawing

static void light_row(uint8_t *frame, int y, int x0, int x1)
{
    for (int x = x0; x <= x1; x++)
        frame_put(frame, x, y, 255);
}

static void draw_bar(uint8_t *frame, int top, uint64_t rate, uint32_t scale)
{
    if (!scale || !rate)
        return;
    const uint64_t width = (rate > scale ? scale : rate) * METER_BAR_PIXELS / scale;
    for (int r = 0; r < 3; r++)
        light_row(frame, top + r, METER_BAR_LEFT, METER_BAR_LEFT + (int)width - 1);
}

static void format_rate(uint64_t rate, char *text)
{
    format_size((uint32_t)(rate >> 32), (uint32_t)rate, text);
}

int net_draw_meter(NetStats *stats)
{
    if (stats->hidden || stats->method == NET_METHOD_OFF)
        return 0;
    lcd_bitmap(&g_lcd, 0, METER_LEFT, METER_TOP, 19, 13, METER_LABEL);
    uint8_t *frame = g_lcd.frame;
    if (!frame)
        return 1;
    light_row(frame, METER_TOP, METER_LEFT + 1, METER_RIGHT - 1);
    light_row(frame, METER_MIDDLE, METER_LEFT + 1, METER_RIGHT - 1);
    light_row(frame, METER_BOTTOM, METER_LEFT + 1, METER_RIGHT - 1);
    for (int r = METER_TOP + 1; r < METER_BOTTOM; r++) {
        if (r == METER_MIDDLE)
            continue;
        frame_put(frame, METER_LEFT, r, 255);
        frame_put(frame, METER_RIGHT, r, 255);
    }
    uint64_t in_rate, out_rate;
    net_rates(stats, &in_rate, &out_rate);
    if (second_tick) {
        format_rate(in_rate, stats->in_text);
        format_rate(out_rate, stats->out_text);
    }
    const int flags = TXT_TINY | TXT_RIGHT | TXT_INVERT;
    lcd_text(&g_lcd, flags, METER_TEXT_RIGHT, METER_TOP + 1, stats->in_text);
    lcd_text(&g_lcd, flags, METER_TEXT_RIGHT, METER_MIDDLE + 1, stats->out_text);
    draw_bar(frame, METER_IN_ROW, in_rate, stats->max_in);
    draw_bar(frame, METER_OUT_ROW, out_rate, stats->max_out);
    return 1;
}

void net_start(NetModule *net)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        net->view[i] = slot_variant(&g_slots[i], net->code);
}

static void reset_statistics(NetStats *stats)
{
    log_system("Resetting networking module on user request.\n");
    net_close(stats);
    net_init(stats);
    popup(&g_popups, POPUP_RESET, POPUP_RESET_MS, "Net module reset. [%s x %u]", net_method_name(stats),
          (unsigned)stats->adapter_count);
}

static void take_press(NetModule *net, Slot *slot, int s)
{
    if (slot->pending_action == BUTTON_SHORT) {
        slot->pending_action = 0;
        net->view[s] = net->view[s] >= NET_VIEWS - 1 || net->view[s] < 0 ? 0 : net->view[s] + 1;
    }
    if (slot->pending_action == BUTTON_LONG) {
        slot->pending_action = 0;
        reset_statistics(&g_net_stats);
    }
    if (net->view[s] >= NET_VIEWS || net->view[s] < 0)
        net->view[s] = 0;
}

static void draw_totals(const NetStats *stats, Slot *slot)
{
    char text[NET_RATE_TEXT];
    slot_text(slot, TXT_TINY, 24, 1, "TOT");
    slot_text(slot, TXT_TINY, 1, 8, "in");
    slot_text(slot, TXT_TINY | TXT_RIGHT, -2, 8,
              format_size((uint32_t)(stats->total_in >> 32), (uint32_t)stats->total_in, text));
    slot_text(slot, TXT_TINY, 1, 15, "out");
    slot_text(slot, TXT_TINY | TXT_RIGHT, -2, 15,
              format_size((uint32_t)(stats->total_out >> 32), (uint32_t)stats->total_out, text));
}

static void draw_history(const NetStats *stats, Slot *slot, int incoming)
{
    if (incoming)
        slot_text(slot, TXT_TINY, 30, 1, "IN");
    else
        slot_text(slot, TXT_TINY, 23, 1, "OUT");
    uint8_t *frame = g_lcd.frame;
    if (!frame)
        return;
    const uint32_t *history = incoming ? stats->in_history : stats->out_history;
    const uint64_t scale = incoming ? stats->max_in : stats->max_out;
    for (int i = 0; i < NET_HISTORY; i++) {
        // 64-bit: a busy 10 Gbit/s link moves more than 2^32 / 26 bytes a sample
        uint64_t height = scale ? (uint64_t)history[i] * GRAPH_SCALE / scale : 0;
        if (height > GRAPH_PIXELS)
            height = GRAPH_PIXELS;
        for (int r = 0; r < (int)height; r++)
            frame_put(frame, slot->x + PANEL_INNER - i, slot->y + PANEL_BOTTOM - r, 255);
    }
}

int net_render(NetModule *net, int s)
{
    if (g_net_stats.method == NET_METHOD_OFF || s < 0 || s >= SLOT_COUNT)
        return 0;
    Slot *slot = &g_slots[s];
    slot_draw_frame(slot, net->code);
    take_press(net, slot, s);
    if (net->view[s] == 2)
        draw_totals(&g_net_stats, slot);
    else
        draw_history(&g_net_stats, slot, net->view[s] == 1);
    return 1;
}
