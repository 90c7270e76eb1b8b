// The world clock: the zone list, stepping, and times and abbreviations from
// the time-zone database as Wine provides it.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "config.h"
#include "golden.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "log_files.h"
#include "slots.h"
#include "mod_clk.h"

namespace {

SYSTEMTIME fake_utc;
void WINAPI fake_system_time(LPSYSTEMTIME time) { *time = fake_utc; }

SYSTEMTIME utc_of(int y, int m, int d, int h, int mi, int s = 0)
{
    return SYSTEMTIME{(WORD)y, (WORD)m, 0, (WORD)d, (WORD)h, (WORD)mi, (WORD)s, 0};
}

struct ClockTest : ::testing::Test {
    ClockModule clk;
    bool own_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;

    void SetUp() override
    {
        config_free_entries(&g_config.entries);
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i);
        clk_system_time = fake_system_time;
        fake_utc = utc_of(2024, 1, 15, 12, 0);
    }
    void TearDown() override
    {
        config_free_entries(&g_config.entries);
        clk_system_time = GetSystemTime;
        if (own_surface)
            lcd_destroy_surface(&g_lcd);
    }
    void start(const char *slot0, const char *list = nullptr)
    {
        slot_parse_value(&g_slots[0], slot0);
        if (list)
            config_put(&g_config.entries, "worldtime_list", list);
        clk_start(&clk);
    }
    std::string shown(int i = 0)
    {
        ClockView v;
        clk_update(&clk, &g_slots[i], i, &fake_utc, &v);
        return std::string(v.time) + " " + v.abbreviation;
    }
    std::string press(int i = 0)
    {
        g_slots[i].pending_action = BUTTON_SHORT;
        EXPECT_EQ(clk_render(&clk, i), 1);
        EXPECT_EQ(g_slots[i].pending_action, 0);
        return shown(i);
    }
};

TEST_F(ClockTest, PressesStepThroughTheDefaultListEachSlotFromItsPlusMarks)
{
    slot_parse_value(&g_slots[2], "CPU CLK++");
    start("CLK+++++++");
    EXPECT_EQ(shown(2), "21:00 JST") << "two marks: the third zone";
    EXPECT_EQ(shown(0), "12:00 UTC") << "a position beyond the list wraps to the first zone";
    for (const char *want : {"13:00 CET", "21:00 JST", "04:00 PST", "07:00 EST", "12:00 UTC"})
        EXPECT_EQ(press(0), want);
    EXPECT_EQ(press(2), "04:00 PST") << "each slot steps on its own";
}

TEST_F(ClockTest, ListWordsMatchCaseBlindAndUnknownOnesAreSkipped)
{
    start("CLK", "cet\test  xyz CE CETX");
    ASSERT_EQ(clk.zone_count, 2u);
    EXPECT_EQ(shown(), "13:00 CET");
    EXPECT_EQ(press(), "07:00 EST");
    EXPECT_EQ(press(), "13:00 CET");

    start("CLK", "UTC GMT bogus CET WET EET RST CCST WAST nope CAST EAST AWST KST JST ACST AEST CPST NZST TST");
    ASSERT_EQ(clk.zone_count, 16u); // at most sixteen: CPST is the last
    EXPECT_EQ(clk.zone_list[15], 15u);

    start("CLK", "JST EST");
    config_put(&g_config.entries, "worldtime_list", "xyz abc");
    clk_configure(&clk);
    EXPECT_EQ(clk.zone_count, 0u);
    EXPECT_EQ(press(), "21:00 JST") << "an empty list keeps to the first zone of the last list";
}

TEST_F(ClockTest, AbbreviationIsDecidedAtLoadTheTimeFollowsAtOnce)
{
    start("CLK", "UTC"); // its subkey's rules are loaded, not applied
    fake_utc = utc_of(2024, 7, 1, 23, 59);
    EXPECT_EQ(shown(), "23:59 UTC");
    start("CLK", "CET"); // slot 2 from here on: the page away from column 0
    fake_utc = utc_of(2024, 3, 31, 0, 30);
    EXPECT_EQ(shown(2), "01:30 CET");
    fake_utc = utc_of(2024, 3, 31, 1, 30);
    EXPECT_EQ(shown(2), "03:30 CET");
    EXPECT_EQ(press(2), "03:30 CEDT") << "one zone in the list: the press reloads it";
    ASSERT_NE(g_lcd.frame, nullptr);
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    EXPECT_EQ(clk_render(&clk, 2), 1);
    EXPECT_GOLDEN_AREA("clk_page", g_lcd.frame, 81, 22, 39, 21);
}

// Every zone but Mid-Atlantic (missing under Wine, see below), on both sides
// of each half hour of two years: the local time and the abbreviation choice
// agree with SystemTimeToTzSpecificLocalTime on the rules in the database.
TEST_F(ClockTest, EveryZoneConvertsLikeWindowsAroundEverySwitch)
{
    int64_t from, to;
    TzDate first = {2024, 1, 0, 1, 0, 29, 0, 0}, last = {2026, 1, 0, 1, 0, 0, 0, 0};
    ASSERT_EQ(tz_ms_from_date(&first, &from) + tz_ms_from_date(&last, &to), 2);
    for (int row = 0; row < CLK_ZONE_ROWS; row++) {
        TzRules rules;
        LONG error = -1;
        const char *subkey = clock_zones[row].subkey;
        if (row == 33)
            continue;
        memset(&rules, 0x5A, sizeof rules);
        ASSERT_EQ(clk_read_zone_key(subkey, &rules, &error), 1) << subkey;
        ASSERT_NE(rules.daylight_bias, 0x5A5A5A5A) << subkey << " has no TZI value";
        TIME_ZONE_INFORMATION tzi = {};
        tzi.Bias = rules.bias, tzi.StandardBias = rules.standard_bias, tzi.DaylightBias = rules.daylight_bias;
        memcpy(&tzi.StandardDate, &rules.standard_date, sizeof(SYSTEMTIME));
        memcpy(&tzi.DaylightDate, &rules.daylight_date, sizeof(SYSTEMTIME));
        for (int64_t ms = from; ms < to; ms += (ms / 60000 + 1) % 30 ? 1740000 : 60000) { // hh:29, hh:30, hh:59, hh+1:00
            TzDate utc, ours;
            SYSTEMTIME windows;
            int64_t ours_ms = 0, windows_ms = -1;
            ASSERT_TRUE(tz_date_from_ms(ms, &utc) && tz_local_from_utc(&rules, &utc, &ours));
            ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(&tzi, (SYSTEMTIME *)&utc, &windows));
            tz_ms_from_date(&ours, &ours_ms), tz_ms_from_date((TzDate *)&windows, &windows_ms);
            ASSERT_EQ(ours_ms, windows_ms) << subkey << " at " << ms;
            ASSERT_EQ(tz_daylight_flag(&rules, &utc), windows_ms != ms - rules.bias * 60000ll) << subkey << " at " << ms;
        }
    }
}

int log_count(const char *message) { return count_occurrences(read_binary_file(log_path("errors.txt")), message); }

TEST_F(ClockTest, MissingMidAtlanticFallsBackToTheOwnZoneAndLogsIt)
{
    const char *message = "failed to open time zone registry key 'Mid-Atlantic Standard Time'";
    log_forget_repeats();
    const int before = log_count(message);
    start("CLK", "MAST");
    fake_utc = utc_of(2024, 7, 1, 12, 0);
    SetLastError(1234);
    const std::string first = shown();
    EXPECT_EQ(GetLastError(), 0u) << "the last error is cleared after logging";
    shown();
    EXPECT_EQ(log_count(message), before + 1) << "no press: no new load";
    press();
    EXPECT_EQ(log_count(message), before + 1) << "the same failure again: written once an hour";
    std::string line = log_line_with("errors.txt", message);
    EXPECT_NE(line.find("' | 00000002"), std::string::npos) << "the registry's reason: " << line;
    TIME_ZONE_INFORMATION own = {};
    GetTimeZoneInformation(&own);
    EXPECT_EQ(clk.zone_data[0].bias, own.Bias);
    EXPECT_TRUE(first.find(" MAST") != std::string::npos || first.find(" MADT") != std::string::npos) << first;
}

// Subkeys of the test's own under HKCU, standing in for the time-zone database.
struct TestZoneKeys {
    std::string base = "Software\\PixwickClockTests\\" + unique_token("zones");
    HKEY saved_root = clk_registry_root;
    const char *saved_key = clk_zones_key;
    std::string key_text = base + "\\";

    TestZoneKeys() { clk_registry_root = HKEY_CURRENT_USER, clk_zones_key = key_text.c_str(); }
    ~TestZoneKeys()
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, base.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PixwickClockTests"); // only when no other test uses it
        clk_registry_root = saved_root, clk_zones_key = saved_key;
    }
    // A subkey whose TZI value is a fixed bias in `length` bytes (no value for length 0).
    void add(const char *subkey, int32_t bias, DWORD length)
    {
        std::vector<uint8_t> bytes(length + 4, 0);
        memcpy(bytes.data(), &bias, 4);
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (key_text + subkey).c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0),
                  ERROR_SUCCESS);
        EXPECT_TRUE(!length || RegSetValueExA(key, "TZI", 0, REG_BINARY, bytes.data(), length) == ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(ClockTest, UnreadableTziKeepsThePreviousZoneData)
{
    TestZoneKeys keys;
    keys.add("Central European Standard Time", -120, TZI_BYTES);
    keys.add("Eastern Standard Time", -300, 20);
    keys.add("Pacific Standard Time", -300, 48);
    keys.add("Tokyo Standard Time", 0, 0);
    keys.add("Korea Standard Time", INT32_MIN, TZI_BYTES);
    start("CLK", "EST CET PST JST KST");
    fake_utc = utc_of(2024, 7, 1, 12, 0);
    EXPECT_EQ(shown(), "12:00 EST") << "zeros after start give UTC";
    EXPECT_EQ(press(), "14:00 CET");
    EXPECT_EQ(press(), "14:00 PST") << "a value longer than 44 bytes is not read";
    EXPECT_EQ(press(), "14:00 JST") << "no value at all";
    fake_utc = utc_of(30827, 12, 31, 12, 0);
    EXPECT_EQ(press(), " KST") << "a local time out of range shows no time";
}

} // namespace
