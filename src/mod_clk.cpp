// CLK: world clock. A short press steps to the next zone of worldtime_list;
// each slot keeps its own place in the list and its own zone rules.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |CLK  |                                 |   Y+1: label
//    +-----+                          CEDT   |   Y+7: zone abbreviation, right edge at X+36
//    |                                       |
//    |                                14:05  |   Y+14: local time (worldtime_format)
//    |                                       |
//
// The rules (bias and daylight-saving dates) come from the TZI value of the
// zone's subkey in the Windows time-zone database; they are read, and the
// abbreviation chosen, on the first render and after each press. The time is
// converted from UTC on every render.
#include "mod_clk.h"

#include <stdio.h>
#include <string.h>

#include "config.h"
#include "config_parse.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "util.h"

ClockModule g_clk;
SystemTimeFn clk_system_time = GetSystemTime;
HKEY clk_registry_root = HKEY_LOCAL_MACHINE;
const char *clk_zones_key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones\\";

static const int ABBREVIATION_DX = 36, ABBREVIATION_DY = 7;
static const int TIME_DX = 36, TIME_DY = 14;
static const DWORD INVARIANT_LOCALE = 0x7F;
static const REGSAM QUERY_VALUE_64BIT_VIEW = 0x101; // KEY_QUERY_VALUE | KEY_WOW64_64KEY
static const uint32_t UTC_ROW = 0;

const ClockZone clock_zones[CLK_ZONE_ROWS] = {
    {"UTC", "UTC", "Dateline Standard Time"},                 //  0 shown as UTC itself
    {"GMT", "GDT", "GMT Standard Time"},                      //  1 London
    {"CET", "CEDT", "Central European Standard Time"},        //  2 Warsaw
    {"WET", "WEDT", "W. Europe Standard Time"},               //  3 Berlin, Amsterdam
    {"EET", "EEDT", "E. Europe Standard Time"},               //  4 Chisinau
    {"RST", "RDT", "Russian Standard Time"},                  //  5 Moscow
    {"CCST", "CCDT", "Caucasus Standard Time"},               //  6 Yerevan
    {"WAST", "WADT", "West Asia Standard Time"},              //  7 Tashkent
    {"CAST", "CADT", "Central Asia Standard Time"},           //  8 Astana
    {"EAST", "EADT", "SE Asia Standard Time"},                //  9 Bangkok
    {"AWST", "AWDT", "W. Australia Standard Time"},           // 10 Perth
    {"KST", "KDT", "Korea Standard Time"},                    // 11 Seoul
    {"JST", "JDT", "Tokyo Standard Time"},                    // 12 Tokyo
    {"ACST", "ACDT", "Cen. Australia Standard Time"},         // 13 Adelaide
    {"AEST", "AEDT", "E. Australia Standard Time"},           // 14 Brisbane
    {"CPST", "CPDT", "Central Pacific Standard Time"},        // 15 Solomon Islands
    {"NZST", "NZDT", "New Zealand Standard Time"},            // 16 Auckland
    {"TST", "TDT", "Tonga Standard Time"},                    // 17 Nuku'alofa
    {"SST", "SDT", "Samoa Standard Time"},                    // 18 Apia
    {"HST", "HDT", "Hawaiian Standard Time"},                 // 19 Honolulu
    {"ALST", "ALDT", "Alaskan Standard Time"},                // 20 Anchorage
    {"PST", "PDT", "Pacific Standard Time"},                  // 21 Los Angeles
    {"MST", "MDT", "Mountain Standard Time"},                 // 22 Denver
    {"MMST", "MMDT", "Mountain Standard Time (Mexico)"},      // 23 Mazatlan
    {"CST", "CDT", "Central Standard Time"},                  // 24 Chicago
    {"MCST", "MCDT", "Central Standard Time (Mexico)"},       // 25 Mexico City
    {"EST", "EDT", "Eastern Standard Time"},                  // 26 New York
    {"PSST", "PSDT", "SA Pacific Standard Time"},             // 27 Bogota
    {"AST", "ADT", "Atlantic Standard Time"},                 // 28 Halifax
    {"WSST", "WSDT", "SA Western Standard Time"},             // 29 La Paz
    {"NLST", "NLDT", "Newfoundland Standard Time"},           // 30 St. John's
    {"ESST", "ESDT", "SA Eastern Standard Time"},             // 31 Cayenne
    {"GLST", "GLDT", "Greenland Standard Time"},              // 32 Nuuk
    {"MAST", "MADT", "Mid-Atlantic Standard Time"},           // 33 missing from current Windows
    {"AZST", "AZDT", "Azores Standard Time"},                 // 34 Azores
};

static const uint32_t DEFAULT_ZONES[] = {0, 2, 12, 21, 26}; // UTC CET JST PST EST

// ---- Configuration -------------------------------------------------------------

static char upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 32) : c; }

int clk_find_zone(const char *name, size_t length)
{
    for (int row = 0; row < CLK_ZONE_ROWS; row++) {
        const char *a = clock_zones[row].standard;
        size_t k = 0;
        while (k < length && a[k] && upper(a[k]) == upper(name[k]))
            k++;
        if (k == length && a[k] == 0)
            return row;
    }
    return -1;
}

void clk_parse_list(ClockModule *clk, const char *value)
{
    clk->zone_count = 0;
    const char *word;
    int length;
    while (clk->zone_count < CLK_MAX_ZONES && (word = config_next_word(&value, &length))) {
        int row = clk_find_zone(word, (size_t)length);
        if (row >= 0)
            clk->zone_list[clk->zone_count++] = (uint32_t)row;
    }
}

void clk_configure(ClockModule *clk)
{
    const char *list = config_get(&g_config, "worldtime_list");
    if (list) {
        clk_parse_list(clk, list);
    } else {
        memcpy(clk->zone_list, DEFAULT_ZONES, sizeof DEFAULT_ZONES);
        clk->zone_count = sizeof DEFAULT_ZONES / sizeof DEFAULT_ZONES[0];
    }
    // A slot's position now indexes the list in force: its zone is loaded
    // again so that the time and the name shown belong to the same zone.
    for (int i = 0; i < SLOT_COUNT; i++)
        clk->daylight[i] = CLK_LOAD_ZONE;
    const char *format = config_get(&g_config, "worldtime_format");
    strncpy(clk->time_format, format ? format : "HH:mm", CLK_FORMAT_BYTES - 1);
    clk->time_format[CLK_FORMAT_BYTES - 1] = 0;
}

void clk_start(ClockModule *clk)
{
    for (int i = 0; i < SLOT_COUNT; i++) {
        memset(&clk->zone_data[i], 0, sizeof clk->zone_data[i]);
        clk->daylight[i] = CLK_LOAD_ZONE;
        clk->position[i] = (uint32_t)slot_variant(&g_slots[i], clk->code);
    }
    clk_configure(clk);
}

// ---- Zone data -----------------------------------------------------------------

static void copy_date(const SYSTEMTIME *from, TzDate *to)
{
    to->year = from->wYear;
    to->month = from->wMonth;
    to->day_of_week = from->wDayOfWeek;
    to->day = from->wDay;
    to->hour = from->wHour;
    to->minute = from->wMinute;
    to->second = from->wSecond;
    to->milliseconds = from->wMilliseconds;
}

static void copy_to_system_time(const TzDate *from, SYSTEMTIME *to)
{
    to->wYear = from->year;
    to->wMonth = from->month;
    to->wDayOfWeek = from->day_of_week;
    to->wDay = from->day;
    to->wHour = from->hour;
    to->wMinute = from->minute;
    to->wSecond = from->second;
    to->wMilliseconds = from->milliseconds;
}

static void own_zone_rules(TzRules *rules)
{
    TIME_ZONE_INFORMATION own;
    memset(&own, 0, sizeof own);
    GetTimeZoneInformation(&own);
    rules->bias = own.Bias;
    rules->standard_bias = own.StandardBias;
    rules->daylight_bias = own.DaylightBias;
    copy_date(&own.StandardDate, &rules->standard_date);
    copy_date(&own.DaylightDate, &rules->daylight_date);
}

int clk_read_zone_key(const char *subkey, TzRules *rules, LONG *error)
{
    char path[256];
    snprintf(path, sizeof path, "%s%s", clk_zones_key, subkey);
    HKEY key = 0;
    LONG result = ERROR_FILE_NOT_FOUND;
    if (is_wow64() == 1)
        result = RegOpenKeyExA(clk_registry_root, path, 0, QUERY_VALUE_64BIT_VIEW, &key);
    if (!key)
        result = RegOpenKeyExA(clk_registry_root, path, 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS || !key) {
        *error = result;
        return 0;
    }
    uint8_t tzi[TZI_BYTES];
    DWORD size = sizeof tzi; // a longer value fails with ERROR_MORE_DATA
    if (RegQueryValueExA(key, "TZI", 0, 0, tzi, &size) == ERROR_SUCCESS)
        tzi_decode(tzi, size, rules); // a shorter one is not taken
    RegCloseKey(key);
    *error = ERROR_SUCCESS;
    return 1;
}

void clk_load_zone(ClockModule *clk, int i, uint32_t row, const SYSTEMTIME *utc)
{
    const char *subkey = clock_zones[row < CLK_ZONE_ROWS ? row : UTC_ROW].subkey;
    LONG error = ERROR_SUCCESS;
    if (!clk_read_zone_key(subkey, &clk->zone_data[i], &error)) {
        // The registry reports its reason as a result, not as the last error.
        SetLastError((DWORD)error);
        log_error("src/mod_clk", __LINE__, GetLastError(), "failed to open time zone registry key '%s'", subkey);
        SetLastError(0);
        own_zone_rules(&clk->zone_data[i]);
    }
    TzDate now;
    copy_date(utc, &now);
    clk->daylight[i] = tz_daylight_flag(&clk->zone_data[i], &now);
}

// ---- Drawing -------------------------------------------------------------------

void clk_update(ClockModule *clk, Slot *slot, int i, const SYSTEMTIME *utc, ClockView *view)
{
    if (slot->pending_action == BUTTON_SHORT) {
        slot->pending_action = 0;
        clk->position[i]++;
        clk->daylight[i] = CLK_LOAD_ZONE;
    }
    if (clk->position[i] >= clk->zone_count)
        clk->position[i] = 0;
    // An empty list keeps the first entry of the last one.
    uint32_t row = clk->zone_list[clk->position[i] < CLK_MAX_ZONES ? clk->position[i] : 0];
    if (row >= CLK_ZONE_ROWS)
        row = UTC_ROW;
    if (clk->daylight[i] == CLK_LOAD_ZONE)
        clk_load_zone(clk, i, row, utc);

    SYSTEMTIME local = *utc;
    int converted = 1;
    if (row != UTC_ROW) {
        TzDate from, to;
        copy_date(utc, &from);
        converted = tz_local_from_utc(&clk->zone_data[i], &from, &to);
        if (converted)
            copy_to_system_time(&to, &local);
    }
    view->row = row;
    view->time[0] = 0;
    if (!converted || !GetTimeFormatA(INVARIANT_LOCALE, 0, &local, clk->time_format, view->time, sizeof view->time))
        view->time[0] = 0;
    view->abbreviation = clk->daylight[i] == 1 ? clock_zones[row].daylight : clock_zones[row].standard;
}

int clk_render(ClockModule *clk, int slot)
{
    if (slot < 0 || slot >= SLOT_COUNT)
        return 0;
    Slot *s = &g_slots[slot];
    slot_draw_frame(s, clk->code);
    SYSTEMTIME utc;
    clk_system_time(&utc);
    ClockView view;
    clk_update(clk, s, slot, &utc, &view);
    lcd_text(&g_lcd, TXT_RIGHT, s->x + TIME_DX, s->y + TIME_DY, view.time);
    lcd_text(&g_lcd, TXT_RIGHT, s->x + ABBREVIATION_DX, s->y + ABBREVIATION_DY, view.abbreviation);
    return 1;
}
