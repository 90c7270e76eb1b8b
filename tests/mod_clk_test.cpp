// The world clock: the zone table and worldtime_list, stepping by short
// press, zone data from the time-zone database as Wine provides it, times and
// abbreviations against a reference written here from the published rules
// (using the C runtime's calendar, not the code under test), the fallback to
// the computer's own zone, unreadable TZI values (test keys under HKCU), and
// the drawn panel.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "log_files.h"
#include "main.h"
#include "mod_clk.h"
#include "util.h"

namespace {

SYSTEMTIME fake_utc;
void WINAPI fake_system_time(LPSYSTEMTIME time) { *time = fake_utc; }

SYSTEMTIME utc_of(int y, int m, int d, int h, int mi, int s = 0)
{
    SYSTEMTIME t;
    memset(&t, 0, sizeof t);
    t.wYear = (WORD)y;
    t.wMonth = (WORD)m;
    t.wDay = (WORD)d;
    t.wHour = (WORD)h;
    t.wMinute = (WORD)mi;
    t.wSecond = (WORD)s;
    return t;
}

const int COLUMNS[SLOT_COUNT] = {0, 40, 81, 121};

class ClockTest : public ::testing::Test {
protected:
    ClockModule clk;
    Slot saved_slots[SLOT_COUNT];
    bool created_surface = false;

    void SetUp() override
    {
        memcpy(saved_slots, g_slots, sizeof saved_slots);
        config_free_entries(&g_config.entries);
        for (int i = 0; i < SLOT_COUNT; i++) {
            g_slots[i] = Slot{};
            g_slots[i].number = i;
            g_slots[i].x = COLUMNS[i];
            g_slots[i].y = 22;
        }
        clk_system_time = fake_system_time;
        fake_utc = utc_of(2024, 1, 15, 12, 0);
        if (!g_lcd.frame) {
            ASSERT_EQ(1, lcd_create_surface(&g_lcd));
            created_surface = true;
        }
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    }

    void TearDown() override
    {
        config_free_entries(&g_config.entries);
        memcpy(g_slots, saved_slots, sizeof saved_slots);
        clk_system_time = GetSystemTime;
        if (created_surface)
            lcd_destroy_surface(&g_lcd);
    }

    void start(const char *slot0, const char *list = nullptr)
    {
        slot_parse_value(&g_slots[0], slot0);
        if (list)
            config_put(&g_config.entries, "worldtime_list", list);
        clk_start(&clk);
    }

    ClockView view(int i = 0)
    {
        ClockView v;
        clk_update(&clk, &g_slots[i], i, &fake_utc, &v);
        return v;
    }

    std::string abbreviation(int i = 0) { return view(i).abbreviation; }

    // A short press on slot i, through the render the dispatcher calls.
    ClockView press(int i = 0)
    {
        g_slots[i].pending_action = BUTTON_SHORT;
        EXPECT_EQ(clk_render(&clk, i), 1);
        EXPECT_EQ(g_slots[i].pending_action, 0);
        return view(i);
    }
};

// ---- Zone table and list ------------------------------------------------------------

TEST(ClockZones, TableRows)
{
    EXPECT_STREQ(clock_zones[0].standard, "UTC");
    EXPECT_STREQ(clock_zones[0].subkey, "Dateline Standard Time");
    EXPECT_STREQ(clock_zones[2].daylight, "CEDT");
    EXPECT_STREQ(clock_zones[23].subkey, "Mountain Standard Time (Mexico)");
    EXPECT_STREQ(clock_zones[33].subkey, "Mid-Atlantic Standard Time");
    EXPECT_STREQ(clock_zones[34].standard, "AZST");
    for (int a = 0; a < CLK_ZONE_ROWS; a++)
        for (int b = a + 1; b < CLK_ZONE_ROWS; b++)
            EXPECT_STRCASENE(clock_zones[a].standard, clock_zones[b].standard) << a << " " << b;
}

TEST(ClockZones, FindIsCaseBlindAndWholeWord)
{
    struct Case {
        const char *word;
        size_t length;
        int row;
    } cases[] = {{"cet", 3, 2}, {"CeT", 3, 2}, {"CE", 2, -1}, {"CETX", 4, -1}, {"CEDT", 4, -1},
                 {"utc", 3, 0}, {"azst", 4, 34}, {"NLST", 4, 30}, {"", 0, -1},     {"CET EST", 3, 2}};
    for (const Case &c : cases)
        EXPECT_EQ(clk_find_zone(c.word, c.length), c.row) << c.word;
}

TEST_F(ClockTest, DefaultsWithoutConfiguration)
{
    start("CLK");
    EXPECT_EQ(clk.zone_count, 5u);
    const uint32_t rows[] = {0, 2, 12, 21, 26};
    for (int k = 0; k < 5; k++)
        EXPECT_EQ(clk.zone_list[k], rows[k]);
    EXPECT_STREQ(clk.time_format, "HH:mm");
    for (int i = 0; i < SLOT_COUNT; i++)
        EXPECT_EQ(clk.daylight[i], CLK_LOAD_ZONE);
}

TEST_F(ClockTest, ShortPressStepsThroughTheDefaultListAndWraps)
{
    start("CLK");
    fake_utc = utc_of(2024, 1, 15, 12, 0);
    const char *names[] = {"UTC", "CET", "JST", "PST", "EST", "UTC", "CET"};
    const char *times[] = {"12:00", "13:00", "21:00", "04:00", "07:00", "12:00", "13:00"};
    ClockView v = view();
    EXPECT_STREQ(v.abbreviation, names[0]);
    EXPECT_STREQ(v.time, times[0]);
    for (int k = 1; k < 7; k++) {
        v = press();
        EXPECT_STREQ(v.abbreviation, names[k]) << k;
        EXPECT_STREQ(v.time, times[k]) << k;
    }
}

TEST_F(ClockTest, ListWordsAreMatchedAndUnknownOnesSkipped)
{
    start("CLK", "cet\test  xyz");
    ASSERT_EQ(clk.zone_count, 2u);
    EXPECT_EQ(clk.zone_list[0], 2u);
    EXPECT_EQ(clk.zone_list[1], 26u);
    EXPECT_EQ(abbreviation(), "CET");
    press();
    EXPECT_EQ(abbreviation(), "EST");
    press();
    EXPECT_EQ(abbreviation(), "CET");
}

TEST_F(ClockTest, AtMostSixteenRecognisedNames)
{
    start("CLK", "UTC GMT bogus CET WET EET RST CCST WAST nope CAST EAST AWST KST JST ACST AEST CPST NZST TST");
    ASSERT_EQ(clk.zone_count, 16u);
    EXPECT_EQ(clk.zone_list[0], 0u);
    EXPECT_EQ(clk.zone_list[15], 15u); // CPST; NZST and TST are beyond the sixteenth
}

TEST_F(ClockTest, ListOfOnlyUnknownWordsKeepsTheFirstZoneOfTheLastList)
{
    start("CLK", "JST EST");
    config_put(&g_config.entries, "worldtime_list", "xyz abc");
    clk_configure(&clk);
    EXPECT_EQ(clk.zone_count, 0u);
    EXPECT_EQ(abbreviation(), "JST");
    press();
    EXPECT_EQ(abbreviation(), "JST");
}

TEST_F(ClockTest, ReloadWithANewListLoadsTheZoneAgain)
{
    start("CLK", "CET EST");
    fake_utc = utc_of(2024, 7, 1, 12, 0);
    press();
    ClockView v = view();
    EXPECT_STREQ(v.abbreviation, "EDT");
    EXPECT_STREQ(v.time, "08:00");
    config_put(&g_config.entries, "worldtime_list", "JST CET");
    clk_configure(&clk);
    v = view();
    EXPECT_STREQ(v.abbreviation, "CEDT") << "position 1 of the new list";
    EXPECT_STREQ(v.time, "14:00") << "with the rules of that zone";
}

TEST_F(ClockTest, TimeFormatKeyIsCutAt31Characters)
{
    start("CLK");
    config_put(&g_config.entries, "worldtime_format", "h:mm tt");
    clk_configure(&clk);
    fake_utc = utc_of(2024, 1, 15, 14, 5);
    EXPECT_STREQ(view().time, "2:05 PM");
    config_put(&g_config.entries, "worldtime_format", "HH:mm:ss HH:mm:ss HH:mm:ss HH:mm:ss");
    clk_configure(&clk);
    EXPECT_STREQ(clk.time_format, "HH:mm:ss HH:mm:ss HH:mm:ss HH:m");
    config_free_entries(&g_config.entries);
    clk_configure(&clk);
    EXPECT_STREQ(clk.time_format, "HH:mm:ss HH:mm:ss HH:mm:ss HH:m") << "an absent key keeps it";
}

TEST_F(ClockTest, PlusMarksGiveTheStartingPosition)
{
    start("CLK++");
    EXPECT_EQ(clk.position[0], 2u);
    EXPECT_EQ(abbreviation(), "JST");
    start("CLK+++++++");
    EXPECT_EQ(abbreviation(), "UTC") << "a position beyond the list wraps to the first zone";
    EXPECT_EQ(clk.position[0], 0u);
}

TEST_F(ClockTest, TwoSlotsStepIndependently)
{
    slot_parse_value(&g_slots[2], "CPU CLK+");
    start("CLK");
    EXPECT_EQ(abbreviation(0), "UTC");
    EXPECT_EQ(abbreviation(2), "CET");
    press(2);
    EXPECT_EQ(abbreviation(0), "UTC");
    EXPECT_EQ(abbreviation(2), "JST");
    press(0);
    EXPECT_EQ(abbreviation(0), "CET");
    EXPECT_EQ(abbreviation(2), "JST");
}

TEST_F(ClockTest, UtcRowIsPlainUtc)
{
    start("CLK", "UTC");
    fake_utc = utc_of(2024, 7, 1, 23, 59);
    ClockView v = view();
    EXPECT_STREQ(v.time, "23:59");
    EXPECT_STREQ(v.abbreviation, "UTC");
    EXPECT_EQ(clk.zone_data[0].bias, 720) << "the rules of its subkey are loaded, not applied";
}

// ---- Times and abbreviations against the published rules ---------------------------

// Switch rules, in the test's own terms: the n-th (5 = last) Sunday of a month
// at an hour of local time (standard time for the start, daylight time for
// the end), or at an hour of UTC.
struct RefSwitch {
    int month, nth, hour;
    bool utc;
};
struct RefRule {
    RefSwitch begins, ends;
};
const RefRule EU = {{3, 5, 1, true}, {10, 5, 1, true}};
const RefRule US = {{3, 2, 2, false}, {11, 1, 2, false}};
const RefRule NZ = {{9, 5, 2, false}, {4, 1, 3, false}};
const RefRule AU = {{10, 1, 2, false}, {4, 1, 3, false}};
const RefRule MOLDOVA = {{3, 5, 2, false}, {10, 5, 3, false}};

struct RefZone {
    const char *name;
    int offset;          // standard time, minutes east of UTC
    const RefRule *rule; // null: no daylight-saving time
};

const RefZone REF_ZONES[] = {
    {"GMT", 0, &EU},     {"CET", 60, &EU},      {"WET", 60, &EU},      {"EET", 120, &MOLDOVA},
    {"RST", 180, 0},     {"EAST", 420, 0},      {"AWST", 480, 0},      {"KST", 540, 0},
    {"JST", 540, 0},     {"ACST", 570, &AU},    {"AEST", 600, 0},      {"NZST", 720, &NZ},
    {"HST", -600, 0},    {"ALST", -540, &US},   {"PST", -480, &US},    {"MST", -420, &US},
    {"CST", -360, &US},  {"EST", -300, &US},    {"PSST", -300, 0},     {"AST", -240, &US},
    {"WSST", -240, 0},   {"NLST", -210, &US},   {"ESST", -180, 0},     {"AZST", -60, &EU},
};

int64_t gm_seconds(int y, int m, int d, int h, int mi)
{
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    return _mkgmtime64(&t);
}

// The n-th (5 = last) Sunday of a month, by walking its days.
int nth_sunday(int y, int m, int n)
{
    int found = 0, last = 0;
    for (int d = 1; d <= 31; d++) {
        __time64_t s = gm_seconds(y, m, d, 12, 0);
        struct tm t;
        _gmtime64_s(&t, &s);
        if (t.tm_mon != m - 1) // day 31 of a shorter month is normalised into the next
            break;
        if (t.tm_wday == 0) {
            last = d;
            if (++found == n)
                return d;
        }
    }
    return last;
}

// UTC second of a switch in year y; `local_offset` is the offset the local
// clock shows just before it.
int64_t switch_second(const RefSwitch &s, int y, int local_offset)
{
    int64_t wall = gm_seconds(y, s.month, nth_sunday(y, s.month, s.nth), s.hour, 0);
    return s.utc ? wall : wall - local_offset * 60;
}

bool ref_daylight(const RefZone &z, int64_t t, int y)
{
    if (!z.rule)
        return false;
    int64_t begins = switch_second(z.rule->begins, y, z.offset);
    int64_t ends = switch_second(z.rule->ends, y, z.offset + 60);
    if (begins < ends)
        return t >= begins && t < ends;
    return t >= begins || t < ends;
}

std::string ref_time(int64_t t, int offset_minutes)
{
    __time64_t local = t + offset_minutes * 60;
    struct tm tm;
    _gmtime64_s(&tm, &local);
    char text[16];
    snprintf(text, sizeof text, "%02d:%02d", tm.tm_hour, tm.tm_min);
    return text;
}

SYSTEMTIME system_time_of(int64_t t)
{
    __time64_t s = t;
    struct tm tm;
    _gmtime64_s(&tm, &s);
    return utc_of(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

TEST_F(ClockTest, TimesAndAbbreviationsFollowThePublishedRules)
{
    start("CLK");
    int checked = 0;
    for (const RefZone &z : REF_ZONES) {
        const int row = clk_find_zone(z.name, strlen(z.name));
        ASSERT_GE(row, 0) << z.name;
        for (int y = 2021; y <= 2026; y++) {
            std::vector<int64_t> moments = {gm_seconds(y, 1, 15, 12, 0), gm_seconds(y, 7, 15, 12, 0),
                                            gm_seconds(y, 12, 31, 23, 30)};
            if (z.rule) {
                int64_t begins = switch_second(z.rule->begins, y, z.offset);
                int64_t ends = switch_second(z.rule->ends, y, z.offset + 60);
                for (int64_t at : {begins - 60, begins, begins + 60, ends - 60, ends, ends + 60})
                    moments.push_back(at);
            }
            for (int64_t t : moments) {
                fake_utc = system_time_of(t);
                clk.zone_list[0] = (uint32_t)row;
                clk.zone_count = 1;
                clk.position[0] = 0;
                clk.daylight[0] = CLK_LOAD_ZONE;
                ClockView v = view();
                bool daylight = ref_daylight(z, t, y);
                char when[40];
                snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d UTC", fake_utc.wYear, fake_utc.wMonth,
                         fake_utc.wDay, fake_utc.wHour, fake_utc.wMinute);
                EXPECT_EQ(std::string(v.time), ref_time(t, z.offset + (daylight ? 60 : 0))) << z.name << " " << when;
                EXPECT_STREQ(v.abbreviation, daylight ? clock_zones[row].daylight : clock_zones[row].standard)
                    << z.name << " " << when;
                checked++;
            }
        }
    }
    EXPECT_GT(checked, 500);
}

TEST_F(ClockTest, SummerAndWinterInCentralEurope)
{
    start("CLK", "CET");
    fake_utc = utc_of(2024, 7, 1, 12, 0);
    ClockView v = view();
    EXPECT_STREQ(v.abbreviation, "CEDT");
    EXPECT_STREQ(v.time, "14:00");
    start("CLK", "CET");
    fake_utc = utc_of(2024, 12, 1, 12, 0);
    v = view();
    EXPECT_STREQ(v.abbreviation, "CET");
    EXPECT_STREQ(v.time, "13:00");
}

TEST_F(ClockTest, AbbreviationIsDecidedAtLoadTimeFollowsAtOnce)
{
    start("CLK", "CET");
    fake_utc = utc_of(2024, 3, 31, 0, 30);
    ClockView v = view();
    EXPECT_STREQ(v.time, "01:30");
    EXPECT_STREQ(v.abbreviation, "CET");
    fake_utc = utc_of(2024, 3, 31, 1, 30);
    v = view();
    EXPECT_STREQ(v.time, "03:30") << "the time follows the switch at once";
    EXPECT_STREQ(v.abbreviation, "CET") << "the abbreviation waits for the next load";
    v = press(); // one zone in the list: the press reloads it
    EXPECT_STREQ(v.abbreviation, "CEDT");
}

// ---- The database as Wine provides it --------------------------------------------------

TEST_F(ClockTest, EveryZoneButMidAtlanticHasItsSubkey)
{
    for (int row = 0; row < CLK_ZONE_ROWS; row++) {
        TzRules rules;
        memset(&rules, 0x5A, sizeof rules);
        LONG error = -1;
        int opened = clk_read_zone_key(clock_zones[row].subkey, &rules, &error);
        if (row == 33) {
            EXPECT_EQ(opened, 0);
            EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
            continue;
        }
        EXPECT_EQ(opened, 1) << clock_zones[row].subkey;
        EXPECT_EQ(error, ERROR_SUCCESS);
        EXPECT_NE(rules.daylight_bias, 0x5A5A5A5A) << clock_zones[row].subkey << " has a TZI value";
    }
}

TEST_F(ClockTest, ConversionAgreesWithWindowsForEveryZone)
{
    for (int row = 0; row < CLK_ZONE_ROWS; row++) {
        TzRules rules;
        LONG error;
        if (!clk_read_zone_key(clock_zones[row].subkey, &rules, &error))
            continue;
        TIME_ZONE_INFORMATION tzi;
        memset(&tzi, 0, sizeof tzi);
        tzi.Bias = rules.bias;
        tzi.StandardBias = rules.standard_bias;
        tzi.DaylightBias = rules.daylight_bias;
        static_assert(sizeof(SYSTEMTIME) == sizeof(TzDate), "same layout");
        memcpy(&tzi.StandardDate, &rules.standard_date, sizeof(SYSTEMTIME));
        memcpy(&tzi.DaylightDate, &rules.daylight_date, sizeof(SYSTEMTIME));
        const int step = tz_has_daylight(&rules) ? 1 : 24 * 7;
        for (int64_t t = gm_seconds(2024, 1, 1, 0, 30); t < gm_seconds(2026, 1, 1, 0, 0); t += 3600 * step) {
            SYSTEMTIME utc = system_time_of(t), windows_local;
            ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(&tzi, &utc, &windows_local)) << clock_zones[row].subkey;
            TzDate from, ours;
            memcpy(&from, &utc, sizeof from);
            ASSERT_EQ(tz_local_from_utc(&rules, &from, &ours), 1);
            ASSERT_TRUE(ours.day == windows_local.wDay && ours.hour == windows_local.wHour &&
                        ours.minute == windows_local.wMinute)
                << clock_zones[row].subkey << " at " << utc.wYear << "-" << utc.wMonth << "-" << utc.wDay << " "
                << utc.wHour << ":" << utc.wMinute << " UTC: ours " << ours.hour << ":" << ours.minute
                << ", Windows " << windows_local.wHour << ":" << windows_local.wMinute;
        }
    }
}

TEST_F(ClockTest, SixtyFourBitViewOnWow64OpensTheSameKey)
{
    int saved = g_is_wow64;
    g_is_wow64 = 1;
    start("CLK", "CET");
    fake_utc = utc_of(2024, 7, 1, 12, 0);
    ClockView v = view();
    g_is_wow64 = saved;
    EXPECT_STREQ(v.abbreviation, "CEDT");
    EXPECT_STREQ(v.time, "14:00");
}

// ---- Fallback and unreadable values --------------------------------------------------

TzRules own_zone()
{
    TIME_ZONE_INFORMATION own;
    memset(&own, 0, sizeof own);
    GetTimeZoneInformation(&own);
    TzRules rules;
    rules.bias = own.Bias;
    rules.standard_bias = own.StandardBias;
    rules.daylight_bias = own.DaylightBias;
    memcpy(&rules.standard_date, &own.StandardDate, sizeof rules.standard_date);
    memcpy(&rules.daylight_date, &own.DaylightDate, sizeof rules.daylight_date);
    return rules;
}

int log_count(const char *message) { return count_occurrences(read_binary_file(log_path("errors.txt")), message); }

TEST_F(ClockTest, MissingMidAtlanticFallsBackToTheOwnZoneAndLogsEachLoad)
{
    const char *message = "failed to open time zone registry key 'Mid-Atlantic Standard Time'";
    const int before = log_count(message);
    start("CLK", "MAST");
    fake_utc = utc_of(2024, 7, 1, 12, 0);
    SetLastError(1234);
    ClockView v = view();
    EXPECT_EQ(GetLastError(), 0u) << "the last error is cleared after logging";
    EXPECT_EQ(log_count(message), before + 1);

    TzRules own = own_zone();
    EXPECT_EQ(memcmp(&clk.zone_data[0], &own, sizeof own), 0);
    TzDate from, local;
    memcpy(&from, &fake_utc, sizeof from);
    ASSERT_EQ(tz_local_from_utc(&own, &from, &local), 1);
    char want[16];
    snprintf(want, sizeof want, "%02d:%02d", local.hour, local.minute);
    EXPECT_STREQ(v.time, want);
    EXPECT_STREQ(v.abbreviation, tz_daylight_flag(&own, &from) ? "MADT" : "MAST");

    view(); // no press: no new load, no new line
    EXPECT_EQ(log_count(message), before + 1);
    press();
    EXPECT_EQ(log_count(message), before + 2);

    std::string line = log_line_with("errors.txt", message);
    EXPECT_NE(line.find("| src/mod_clk("), std::string::npos) << line;
    EXPECT_NE(line.find("' | 00000002"), std::string::npos) << "the registry's reason: " << line;
}

// Keys of the test's own under HKCU, standing in for the time-zone database.
class TestZoneKeys {
public:
    TestZoneKeys()
    {
        base_ = "Software\\PixwickClockTests\\" + unique_token("zones") + "\\";
        saved_root_ = clk_registry_root;
        saved_key_ = clk_zones_key;
        clk_registry_root = HKEY_CURRENT_USER;
        clk_zones_key = base_.c_str();
    }
    ~TestZoneKeys()
    {
        std::string key = base_.substr(0, base_.size() - 1);
        RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PixwickClockTests"); // only when no other test uses it
        clk_registry_root = saved_root_;
        clk_zones_key = saved_key_;
    }
    // A subkey with a TZI value of `length` bytes (none when bytes is null).
    void add(const char *subkey, const uint8_t *bytes, DWORD length)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + subkey).c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0),
                  ERROR_SUCCESS);
        if (bytes) {
            EXPECT_EQ(RegSetValueExA(key, "TZI", 0, REG_BINARY, bytes, length), ERROR_SUCCESS);
        }
        RegCloseKey(key);
    }

private:
    std::string base_;
    HKEY saved_root_;
    const char *saved_key_;
};

// A TZI value without daylight-saving time.
std::vector<uint8_t> fixed_tzi(int32_t bias, size_t length = TZI_BYTES)
{
    std::vector<uint8_t> bytes(length, 0);
    for (int k = 0; k < 4; k++)
        bytes[k] = (uint8_t)((uint32_t)bias >> (8 * k));
    return bytes;
}

TEST_F(ClockTest, TziValueOfTheDatabaseIsUsed)
{
    TestZoneKeys keys;
    std::vector<uint8_t> india = fixed_tzi(-330);
    keys.add("Korea Standard Time", india.data(), (DWORD)india.size());
    start("CLK", "KST");
    fake_utc = utc_of(2024, 7, 1, 12, 0);
    ClockView v = view();
    EXPECT_STREQ(v.time, "17:30");
    EXPECT_STREQ(v.abbreviation, "KST");
}

TEST_F(ClockTest, UnreadableTziKeepsThePreviousZoneData)
{
    TestZoneKeys keys;
    std::vector<uint8_t> plus_two = fixed_tzi(-120);
    std::vector<uint8_t> too_short = fixed_tzi(-300, 20);
    std::vector<uint8_t> too_long = fixed_tzi(-300, 48);
    keys.add("Central European Standard Time", plus_two.data(), (DWORD)plus_two.size());
    keys.add("Eastern Standard Time", too_short.data(), (DWORD)too_short.size());
    keys.add("Pacific Standard Time", too_long.data(), (DWORD)too_long.size());
    keys.add("Tokyo Standard Time", nullptr, 0);
    start("CLK", "EST CET PST JST");
    fake_utc = utc_of(2024, 7, 1, 12, 0);

    ClockView v = view();
    EXPECT_STREQ(v.abbreviation, "EST");
    EXPECT_STREQ(v.time, "12:00") << "zeros after start give UTC";
    v = press();
    EXPECT_STREQ(v.abbreviation, "CET");
    EXPECT_STREQ(v.time, "14:00");
    v = press();
    EXPECT_STREQ(v.abbreviation, "PST");
    EXPECT_STREQ(v.time, "14:00") << "a value longer than 44 bytes is not read";
    v = press();
    EXPECT_STREQ(v.abbreviation, "JST");
    EXPECT_STREQ(v.time, "14:00") << "no value at all";
}

TEST_F(ClockTest, MissingTestSubkeyIsLoggedOncePerLoad)
{
    TestZoneKeys keys;
    const char *message = "failed to open time zone registry key 'Tonga Standard Time'";
    const int before = log_count(message);
    start("CLK", "TST");
    view();
    view();
    EXPECT_EQ(log_count(message), before + 1);
    press();
    EXPECT_EQ(log_count(message), before + 2);
    TzRules own = own_zone();
    EXPECT_EQ(memcmp(&clk.zone_data[0], &own, sizeof own), 0);
}

TEST_F(ClockTest, LocalTimeOutOfRangeShowsNoTime)
{
    TestZoneKeys keys;
    std::vector<uint8_t> absurd = fixed_tzi(INT32_MIN);
    keys.add("Korea Standard Time", absurd.data(), (DWORD)absurd.size());
    start("CLK", "KST");
    fake_utc = utc_of(30827, 12, 31, 12, 0);
    ClockView v = view();
    EXPECT_STREQ(v.time, "");
    EXPECT_STREQ(v.abbreviation, "KST");
}

// ---- Drawing ------------------------------------------------------------------------------

std::vector<uint8_t> frame_copy() { return std::vector<uint8_t>(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES); }

TEST_F(ClockTest, DrawsTimeAndAbbreviationInItsPanel)
{
    slot_parse_value(&g_slots[3], "CLK+");
    start(nullptr, "GMT");
    fake_utc = utc_of(2024, 7, 1, 9, 41);
    Slot *slot = &g_slots[3];

    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    slot_draw_frame(slot, "CLK");
    lcd_text(&g_lcd, TXT_RIGHT, slot->x + 36, slot->y + 14, "10:41");
    lcd_text(&g_lcd, TXT_RIGHT, slot->x + 36, slot->y + 7, "GDT");
    std::vector<uint8_t> want = frame_copy();

    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    ASSERT_EQ(clk_render(&clk, 3), 1);
    std::vector<uint8_t> got = frame_copy();
    EXPECT_TRUE(got == want);
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < slot->x; x++)
            ASSERT_EQ(got[y * LCD_WIDTH + x], 0) << x << "," << y;
}

TEST_F(ClockTest, OnlySlotsZeroToThree)
{
    start("CLK");
    EXPECT_EQ(clk_render(&clk, -1), 0);
    EXPECT_EQ(clk_render(&clk, SLOT_COUNT), 0);
    for (int k = 0; k < LCD_FRAME_BYTES; k++)
        ASSERT_EQ(g_lcd.frame[k], 0) << k;
}

} // namespace
