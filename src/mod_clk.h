// CLK: the time in one of a list of time zones, with the zone's abbreviation.
// See mod_clk.cpp for the picture.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "slots.h"
#include "timecalc.h"

enum {
    CLK_ZONE_ROWS = 35,
    CLK_MAX_ZONES = 16,    // entries of worldtime_list used
    CLK_FORMAT_BYTES = 32, // time picture, 31 characters and the terminator
    CLK_TEXT_BYTES = 64,
};

// One row of the zone table: the name in worldtime_list, shown in standard
// time; the name shown in daylight-saving time; the subkey of the Windows
// time-zone database that holds the rules.
struct ClockZone {
    const char *standard;
    const char *daylight;
    const char *subkey;
};
extern const ClockZone clock_zones[CLK_ZONE_ROWS];

enum { CLK_LOAD_ZONE = -1 }; // daylight flag: zone data to be loaded on the next render

struct ClockModule {
    const char *code = "CLK";
    uint32_t zone_list[CLK_MAX_ZONES];  // rows of clock_zones in list order
    char time_format[CLK_FORMAT_BYTES]; // picture for GetTimeFormatA
    uint32_t zone_count;                // valid entries of zone_list
    TzRules zone_data[SLOT_COUNT];      // per slot: rules of the zone shown
    int32_t daylight[SLOT_COUNT];       // per slot: CLK_LOAD_ZONE, 0 standard, 1 daylight
    uint32_t position[SLOT_COUNT];      // per slot: index into zone_list
};

extern ClockModule g_clk;

// Module entry points (no poll, no stop).
void clk_start(ClockModule *clk);
void clk_configure(ClockModule *clk);
int clk_render(ClockModule *clk, int slot);

// ---- Pieces, plain so tests reach them -----------------------------------------

// GetSystemTime unless a test sets its own clock.
typedef void(WINAPI *SystemTimeFn)(LPSYSTEMTIME time);
extern SystemTimeFn clk_system_time;
// Where the zone subkeys are: HKEY_LOCAL_MACHINE and the Windows time-zone
// database unless a test points them at a key of its own. The base ends in '\'.
extern HKEY clk_registry_root;
extern const char *clk_zones_key;

// Row whose standard name equals `name` (length bytes, no terminator needed)
// without regard to case, or -1.
int clk_find_zone(const char *name, size_t length);

// Rebuilds the zone list from a worldtime_list value: recognised names in
// order, at most CLK_MAX_ZONES; other words are skipped.
void clk_parse_list(ClockModule *clk, const char *value);

// Reads the TZI value of `subkey` into rules. Returns 1 when the key opened
// (rules changed only when the value held 44 bytes), 0 when it did not, with
// the registry's error code in *error.
int clk_read_zone_key(const char *subkey, TzRules *rules, LONG *error);

// Loads slot i's zone data for zone-table row `row` and decides standard or
// daylight time at `utc`. A missing subkey is logged and gives the computer's
// own zone.
void clk_load_zone(ClockModule *clk, int i, uint32_t row, const SYSTEMTIME *utc);

// What the panel shows.
struct ClockView {
    uint32_t row;                // zone-table row shown
    char time[CLK_TEXT_BYTES];   // formatted local time, empty when formatting failed
    const char *abbreviation;    // column A or B of the row
};

// Acts on slot i's pending press, loads the zone when due and builds the texts
// for UTC time `utc`.
void clk_update(ClockModule *clk, Slot *slot, int i, const SYSTEMTIME *utc, ClockView *view);
