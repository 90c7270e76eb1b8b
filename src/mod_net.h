// NET: network traffic, as the band meter and as a slot page with three
// views. NetStats collects the byte counts (ndisstats.h) and is started,
// polled every tick, reconfigured and closed by the module lists; the NET
// module record itself only carries the page. See mod_net.cpp for the
// pictures.
#pragma once
#include <stdint.h>

#include "slots.h"

enum {
    NET_HISTORY = 37,        // samples kept, one every 500 ms
    NET_ADAPTER_CHARS = 256, // net_adapter: 255 characters and the terminator
    NET_RATE_TEXT = 16,
    NET_DEFAULT_MAX = 1310720, // bytes per second that fill a bar or graph
    NET_VIEWS = 3,             // OUT, IN, TOT
};

struct NetStats {
    uint32_t last_sample_tick; // app_now_ms() of the last sample
    uint32_t poll_count;       // polls since the last sample attempt, 0..4
    uint32_t method;           // source in use: NET_METHOD_* (ndisstats.h), 0 off
    uint32_t adapter_count;    // adapters of the last open or read
    uint64_t total_out;        // bytes since init
    uint64_t total_in;
    uint32_t out_history[NET_HISTORY]; // bytes per sample, newest first
    uint32_t in_history[NET_HISTORY];
    uint32_t elapsed_history[NET_HISTORY]; // ms covered by each sample
    uint32_t max_in;           // net_max_in
    uint32_t max_out;          // net_max_out
    uint32_t hidden;           // net_hidden: no band meter
    char adapter[NET_ADAPTER_CHARS]; // net_adapter: the one adapter measured, empty all
    uint32_t chosen;           // the source the keys (or the Windows version) ask for
    uint32_t automatic;        // net_method absent: IP Helper stands in when `chosen` finds nothing
    char in_text[NET_RATE_TEXT];  // meter rates, formatted once a second
    char out_text[NET_RATE_TEXT];
};

struct NetModule {
    const char *code = "NET";
    int view[SLOT_COUNT]; // per slot: 0 OUT, 1 IN, 2 TOT
};

extern NetStats g_net_stats;
extern NetModule g_net;

// The statistics (in the places of start, configure and stop, and polled on
// every tick).
void net_init(NetStats *stats);
void net_configure(NetStats *stats);
int net_poll(NetStats *stats);
void net_close(NetStats *stats);
// "TDI", "NDIS", "IPHLP" or "OFF".
const char *net_method_name(const NetStats *stats);

// The band meter (rows 8..20, columns 81..159); 1 when it drew.
int net_draw_meter(NetStats *stats);

// Module entry points (no configure, poll or stop).
void net_start(NetModule *net);
int net_render(NetModule *net, int slot);

// ---- Pieces, plain so tests reach them -----------------------------------------

// A sample of bytes received and sent at time `now` (ms): into the histories
// and the totals.
void net_record_sample(NetStats *stats, uint64_t in, uint64_t out, uint32_t now);
// Bytes per second over the newest samples that cover just over a second.
void net_rates(const NetStats *stats, uint64_t *in_rate, uint64_t *out_rate);
