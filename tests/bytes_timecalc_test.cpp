// Stopwatch texts, TZI decoding, the calendar and the time-zone rules. The
// zone checks compare against references written here from the published
// rules (EU: last Sunday of March and October at 01:00 UTC; US: second Sunday
// of March and first Sunday of November at 02:00 local; New Zealand: last
// Sunday of September 02:00 and first Sunday of April 03:00 local), with a
// calendar of their own.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "timecalc.h"

namespace {

// ---- Stopwatch text ------------------------------------------------------------

struct StopwatchCase {
    uint32_t ms;
    char separator;
    const char *text;
};

const StopwatchCase STOPWATCH_CASES[] = {
    {0, ':', "00:00.0"},
    {99, ':', "00:00.0"},
    {100, ':', "00:00.1"},
    {61250, ':', "01:01.2"},
    {61250, ' ', "01:01.2"}, // below ten hours the separator is always ':'
    {3599999, ':', "59:59.9"},
    {3600000, ':', "1:00:00"},
    {3723000, ':', "1:02:03"},
    {3723000, ' ', "1:02:03"},
    {35999999, ':', "9:59:59"},
    {36000000, ':', "10:00"},
    {36300000, ':', "10:05"},
    {36300000, ' ', "10 05"},
    {359999999, ':', "99:59"},
    {360000000, ':', "100:00"},
    {0x80000000u, ':', "596:31"}, // past 2^31 ms it keeps counting up
    {0xFFFFFFFFu, ':', "1193:02"},
};

TEST(FormatStopwatch, FormsTable)
{
    for (const StopwatchCase &c : STOPWATCH_CASES) {
        char out[STOPWATCH_TEXT_BYTES + 4];
        memset(out, '#', sizeof out);
        EXPECT_EQ(format_stopwatch(c.ms, c.separator, out, STOPWATCH_TEXT_BYTES), out);
        EXPECT_STREQ(out, c.text) << c.ms << " ms";
        EXPECT_EQ(out[STOPWATCH_TEXT_BYTES], '#');
    }
}

TEST(FormatStopwatch, SmallBufferIsTruncatedAndTerminated)
{
    for (size_t size = 1; size < 8; size++) {
        std::unique_ptr<char[]> out(new char[size]); // exact size: ASan sees any overrun
        format_stopwatch(0xFFFFFFFFu, ':', out.get(), size);
        EXPECT_EQ(std::string(out.get()), std::string("1193:02").substr(0, size - 1));
    }
    EXPECT_EQ(format_stopwatch(1, ':', nullptr, 16), nullptr);
    char one = 'x';
    format_stopwatch(1, ':', &one, 0);
    EXPECT_EQ(one, 'x');
}

// ---- TZI -----------------------------------------------------------------------

// "Central European Standard Time" as the Windows time-zone database holds it:
// bias -60, standard bias 0, daylight bias -60, standard time from the last
// Sunday of October 03:00, daylight time from the last Sunday of March 02:00.
const uint8_t CET_TZI[TZI_BYTES] = {
    0xc4, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xc4, 0xff, 0xff, 0xff, //
    0x00, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x05, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

TEST(TziDecode, ReadsTheFiveFields)
{
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[TZI_BYTES]);
    memcpy(bytes.get(), CET_TZI, TZI_BYTES);
    TzRules rules;
    ASSERT_EQ(tzi_decode(bytes.get(), TZI_BYTES, &rules), 1);
    EXPECT_EQ(rules.bias, -60);
    EXPECT_EQ(rules.standard_bias, 0);
    EXPECT_EQ(rules.daylight_bias, -60);
    EXPECT_EQ(rules.standard_date.year, 0);
    EXPECT_EQ(rules.standard_date.month, 10);
    EXPECT_EQ(rules.standard_date.day_of_week, 0);
    EXPECT_EQ(rules.standard_date.day, 5);
    EXPECT_EQ(rules.standard_date.hour, 3);
    EXPECT_EQ(rules.daylight_date.month, 3);
    EXPECT_EQ(rules.daylight_date.day, 5);
    EXPECT_EQ(rules.daylight_date.hour, 2);
}

TEST(TziDecode, ByteOrderAndSignOfEveryField)
{
    uint8_t bytes[TZI_BYTES];
    for (int k = 0; k < TZI_BYTES; k++)
        bytes[k] = (uint8_t)(k + 1);
    bytes[3] = 0x80; // most negative bias
    TzRules rules;
    ASSERT_EQ(tzi_decode(bytes, sizeof bytes, &rules), 1);
    EXPECT_EQ(rules.bias, (int32_t)0x80030201u);
    EXPECT_EQ(rules.standard_bias, 0x08070605);
    EXPECT_EQ(rules.daylight_bias, 0x0c0b0a09);
    EXPECT_EQ(rules.standard_date.year, 0x0e0d);
    EXPECT_EQ(rules.standard_date.milliseconds, 0x1c1b);
    EXPECT_EQ(rules.daylight_date.year, 0x1e1d);
    EXPECT_EQ(rules.daylight_date.milliseconds, 0x2c2b);
}

TEST(TziDecode, ShortValuesAreRejectedWithoutReadingPastThem)
{
    const TzRules untouched = {7, 8, 9, {1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11, 12, 13, 14, 15, 16}};
    for (size_t length = 0; length < TZI_BYTES; length++) {
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[length + 1]);
        memcpy(bytes.get(), CET_TZI, length);
        TzRules rules = untouched;
        EXPECT_EQ(tzi_decode(bytes.get(), length, &rules), 0) << length;
        EXPECT_EQ(memcmp(&rules, &untouched, sizeof rules), 0) << length;
    }
    TzRules rules = untouched;
    EXPECT_EQ(tzi_decode(nullptr, TZI_BYTES, &rules), 0);
    EXPECT_EQ(tzi_decode(CET_TZI, TZI_BYTES, nullptr), 0);
}

TEST(TziDecode, LongerValueReadsOnlyTheRecord)
{
    std::vector<uint8_t> bytes(CET_TZI, CET_TZI + TZI_BYTES);
    bytes.resize(64, 0xEE);
    TzRules a, b;
    ASSERT_EQ(tzi_decode(bytes.data(), bytes.size(), &a), 1);
    ASSERT_EQ(tzi_decode(CET_TZI, TZI_BYTES, &b), 1);
    EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
}

// ---- Reference calendar --------------------------------------------------------

bool ref_leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int ref_month_days(int y, int m)
{
    const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && ref_leap(y) ? 29 : days[m - 1];
}

// Zeller's congruence, 0 Sunday .. 6 Saturday.
int ref_weekday(int y, int m, int d)
{
    if (m < 3) {
        m += 12;
        y -= 1;
    }
    int k = y % 100, j = y / 100;
    int h = (d + 13 * (m + 1) / 5 + k + k / 4 + j / 4 + 5 * j) % 7; // 0 Saturday
    return (h + 6) % 7;
}

// The n-th (1..4) or, for 5, the last `weekday` of the month, by walking.
int ref_walk_nth_weekday(int y, int m, int weekday, int n)
{
    int found = 0, last = 0;
    for (int d = 1; d <= ref_month_days(y, m); d++)
        if (ref_weekday(y, m, d) == weekday) {
            last = d;
            if (++found == n)
                return d;
        }
    return last;
}

// The same, remembered (the sweeps below ask for it hundreds of thousands of times).
int ref_nth_weekday(int y, int m, int weekday, int n)
{
    static std::vector<int> known(900 * 12 * 7 * 5, 0);
    if (y < 1600 || y >= 2500)
        return ref_walk_nth_weekday(y, m, weekday, n);
    int &day = known[(((size_t)(y - 1600) * 12 + (m - 1)) * 7 + weekday) * 5 + (n - 1)];
    if (!day)
        day = ref_walk_nth_weekday(y, m, weekday, n);
    return day;
}

TzDate date_of(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    TzDate t = {(uint16_t)y, (uint16_t)m, 0, (uint16_t)d, (uint16_t)h, (uint16_t)mi, (uint16_t)s, (uint16_t)ms};
    return t;
}

TEST(Calendar, DayNumbersAndWeekdaysFollowADayByDayCount)
{
    int64_t expected_day = 0; // 1601-01-01 is day 0, a Monday
    for (int y = 1601; y <= 2500; y++)
        for (int m = 1; m <= 12; m++)
            for (int d = 1; d <= ref_month_days(y, m); d++, expected_day++) {
                TzDate t = date_of(y, m, d, 12, 34, 56, 789);
                int64_t ms = -1;
                ASSERT_EQ(tz_ms_from_date(&t, &ms), 1) << y << "-" << m << "-" << d;
                ASSERT_EQ(ms, expected_day * 86400000 + 45296789) << y << "-" << m << "-" << d;
                TzDate back;
                ASSERT_EQ(tz_date_from_ms(ms, &back), 1);
                ASSERT_EQ(back.year, y);
                ASSERT_EQ(back.month, m);
                ASSERT_EQ(back.day, d);
                ASSERT_EQ(back.day_of_week, ref_weekday(y, m, d)) << y << "-" << m << "-" << d;
                ASSERT_EQ(back.hour, 12);
                ASSERT_EQ(back.minute, 34);
                ASSERT_EQ(back.second, 56);
                ASSERT_EQ(back.milliseconds, 789);
            }
}

TEST(Calendar, InvalidDatesAreRejected)
{
    const TzDate bad[] = {
        date_of(2024, 0, 1), date_of(2024, 13, 1), date_of(2024, 1, 0),    date_of(2024, 1, 32),
        date_of(2023, 2, 29), date_of(1900, 2, 29), date_of(2024, 4, 31), date_of(65535, 65535, 65535),
    };
    for (const TzDate &t : bad) {
        int64_t ms = 12345;
        EXPECT_EQ(tz_ms_from_date(&t, &ms), 0) << t.year << "-" << t.month << "-" << t.day;
        EXPECT_EQ(ms, 12345);
    }
    TzDate leap = date_of(2000, 2, 29);
    int64_t ms;
    EXPECT_EQ(tz_ms_from_date(&leap, &ms), 1);
}

TEST(Calendar, RangeEnds)
{
    TzDate last = date_of(30827, 12, 31, 23, 59, 59, 999), back;
    int64_t ms;
    ASSERT_EQ(tz_ms_from_date(&last, &ms), 1);
    ASSERT_EQ(tz_date_from_ms(ms, &back), 1);
    EXPECT_EQ(back.year, 30827);
    TzDate untouched = date_of(1, 2, 3);
    back = untouched;
    EXPECT_EQ(tz_date_from_ms(ms + 1, &back), 0); // year 30828
    EXPECT_EQ(memcmp(&back, &untouched, sizeof back), 0);

    TzDate first = date_of(1, 1, 1);
    ASSERT_EQ(tz_ms_from_date(&first, &ms), 1);
    ASSERT_EQ(tz_date_from_ms(ms, &back), 1);
    EXPECT_EQ(back.year, 1);
    EXPECT_EQ(tz_date_from_ms(ms - 1, &back), 0); // year 0
    EXPECT_EQ(tz_date_from_ms(INT64_MIN / 2, &back), 0);
    EXPECT_EQ(tz_date_from_ms(INT64_MAX / 2, &back), 0);
}

// ---- Rule moments ---------------------------------------------------------------

TzDate rule_of(int month, int weekday, int occurrence, int hour, int minute = 0)
{
    TzDate r = {0, (uint16_t)month, (uint16_t)weekday, (uint16_t)occurrence, (uint16_t)hour, (uint16_t)minute, 0, 0};
    return r;
}

TEST(RuleMoment, EveryOccurrenceOfEveryWeekdayMatchesTheWalk)
{
    for (int y = 1601; y <= 2400; y += 7)
        for (int m = 1; m <= 12; m++)
            for (int w = 0; w <= 6; w++)
                for (int n = 1; n <= 5; n++) {
                    TzDate r = rule_of(m, w, n, 2, 30);
                    int64_t got;
                    ASSERT_EQ(tz_rule_moment(&r, y, &got), 1);
                    TzDate expected = date_of(y, m, ref_nth_weekday(y, m, w, n), 2, 30);
                    int64_t want;
                    ASSERT_EQ(tz_ms_from_date(&expected, &want), 1);
                    ASSERT_EQ(got, want) << y << "-" << m << " weekday " << w << " #" << n;
                }
}

TEST(RuleMoment, KnownDates)
{
    struct Case {
        TzDate rule;
        int year, month, day;
    } cases[] = {
        {rule_of(3, 0, 5, 2), 2024, 3, 31},  {rule_of(10, 0, 5, 3), 2024, 10, 27},
        {rule_of(3, 0, 2, 2), 2024, 3, 10},  {rule_of(11, 0, 1, 2), 2024, 11, 3},
        {rule_of(3, 0, 5, 2), 2021, 3, 28},  {rule_of(10, 0, 5, 3), 2021, 10, 31},
        {rule_of(3, 0, 2, 2), 2021, 3, 14},  {rule_of(11, 0, 1, 2), 2021, 11, 7},
        {rule_of(2, 4, 5, 0), 2024, 2, 29},  {rule_of(2, 0, 5, 0), 2024, 2, 25},
        {rule_of(2, 6, 4, 0), 2015, 2, 28},  {rule_of(9, 0, 5, 2), 2024, 9, 29},
        {rule_of(4, 0, 1, 3), 2024, 4, 7},
    };
    for (const Case &c : cases) {
        int64_t got, want;
        TzDate expected = date_of(c.year, c.month, c.day, c.rule.hour);
        ASSERT_EQ(tz_ms_from_date(&expected, &want), 1);
        ASSERT_EQ(tz_rule_moment(&c.rule, c.year, &got), 1);
        EXPECT_EQ(got, want) << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(RuleMoment, MalformedRulesAndOtherYearsDoNotSwitch)
{
    const TzDate bad[] = {rule_of(0, 0, 1, 2), rule_of(13, 0, 1, 2), rule_of(3, 7, 1, 2),
                          rule_of(3, 0, 0, 2), rule_of(3, 0, 6, 2), rule_of(65535, 65535, 65535, 65535)};
    for (const TzDate &r : bad) {
        int64_t ms = 77;
        EXPECT_EQ(tz_rule_moment(&r, 2024, &ms), 0) << r.month << "/" << r.day_of_week << "/" << r.day;
        EXPECT_EQ(ms, 77);
    }
    TzDate absolute = date_of(2024, 3, 17, 2);
    int64_t ms, want;
    EXPECT_EQ(tz_rule_moment(&absolute, 2023, &ms), 0);
    ASSERT_EQ(tz_rule_moment(&absolute, 2024, &ms), 1);
    ASSERT_EQ(tz_ms_from_date(&absolute, &want), 1);
    EXPECT_EQ(ms, want);
    TzDate absolute_bad = date_of(2024, 2, 30, 2);
    EXPECT_EQ(tz_rule_moment(&absolute_bad, 2024, &ms), 0);
}

// ---- Zones -----------------------------------------------------------------------

TzRules rules_of(int bias, int daylight_bias, TzDate standard, TzDate daylight)
{
    TzRules r = {bias, 0, daylight_bias, standard, daylight};
    return r;
}

const TzRules CET = rules_of(-60, -60, rule_of(10, 0, 5, 3), rule_of(3, 0, 5, 2));
const TzRules GMT_UK = rules_of(0, -60, rule_of(10, 0, 5, 2), rule_of(3, 0, 5, 1));
const TzRules EASTERN = rules_of(300, -60, rule_of(11, 0, 1, 2), rule_of(3, 0, 2, 2));
const TzRules PACIFIC = rules_of(480, -60, rule_of(11, 0, 1, 2), rule_of(3, 0, 2, 2));
const TzRules NEWFOUNDLAND = rules_of(210, -60, rule_of(11, 0, 1, 2), rule_of(3, 0, 2, 2));
const TzRules NEW_ZEALAND = rules_of(-720, -60, rule_of(4, 0, 1, 3), rule_of(9, 0, 5, 2));
const TzRules TOKYO = rules_of(-540, 0, TzDate{}, TzDate{});

struct Instant {
    int y, m, d, h, mi;
};

bool before(const Instant &a, const Instant &b)
{
    const int x[] = {a.y, a.m, a.d, a.h, a.mi}, z[] = {b.y, b.m, b.d, b.h, b.mi};
    for (int k = 0; k < 5; k++)
        if (x[k] != z[k])
            return x[k] < z[k];
    return false;
}

// Offsets in minutes east of UTC by the published rules, the switch moments
// written in UTC.
int ref_eu_offset(const Instant &u, int standard)
{
    Instant begins = {u.y, 3, ref_nth_weekday(u.y, 3, 0, 5), 1, 0};
    Instant ends = {u.y, 10, ref_nth_weekday(u.y, 10, 0, 5), 1, 0};
    return standard + (!before(u, begins) && before(u, ends) ? 60 : 0);
}

int ref_us_offset(const Instant &u, int standard_minutes)
{
    // 02:00 local standard time in March, 02:00 local daylight time in November
    int begin_minutes = 120 - standard_minutes, end_minutes = 120 - (standard_minutes + 60);
    Instant begins = {u.y, 3, ref_nth_weekday(u.y, 3, 0, 2), begin_minutes / 60, begin_minutes % 60};
    Instant ends = {u.y, 11, ref_nth_weekday(u.y, 11, 0, 1), end_minutes / 60, end_minutes % 60};
    return standard_minutes + (!before(u, begins) && before(u, ends) ? 60 : 0);
}

// The switch moments in UTC fall on the previous day (New Zealand is ahead).
int ref_nz_offset(const Instant &u)
{
    int end_day = ref_nth_weekday(u.y, 4, 0, 1);   // 03:00 NZDT = 14:00 UTC the day before
    int begin_day = ref_nth_weekday(u.y, 9, 0, 5); // 02:00 NZST = 14:00 UTC the day before
    Instant ends = end_day == 1 ? Instant{u.y, 3, 31, 14, 0} : Instant{u.y, 4, end_day - 1, 14, 0};
    Instant begins = {u.y, 9, begin_day - 1, 14, 0}; // the last Sunday is never the 1st
    bool daylight = before(u, ends) || !before(u, begins);
    return 720 + (daylight ? 60 : 0);
}

int offset_minutes(const TzRules &rules, const Instant &u, int *flag)
{
    TzDate utc = date_of(u.y, u.m, u.d, u.h, u.mi), local;
    int64_t utc_ms, local_ms;
    EXPECT_EQ(tz_local_from_utc(&rules, &utc, &local), 1);
    EXPECT_EQ(tz_ms_from_date(&utc, &utc_ms), 1);
    EXPECT_EQ(tz_ms_from_date(&local, &local_ms), 1);
    *flag = tz_daylight_flag(&rules, &utc);
    return (int)((local_ms - utc_ms) / 60000);
}

std::string describe(const Instant &u)
{
    char text[40];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d UTC", u.y, u.m, u.d, u.h, u.mi);
    return text;
}

// Every half hour of the months in which the zones below switch, every six
// hours of the other months, for the years 2000..2040, by a calendar of the
// test's own.
template <typename Check> void for_each_half_hour(Check check)
{
    for (int y = 2000; y <= 2040; y++)
        for (int m = 1; m <= 12; m++) {
            const bool switches = m == 3 || m == 4 || m == 9 || m == 10 || m == 11;
            for (int d = 1; d <= ref_month_days(y, m); d++)
                for (int h = 0; h < 24; h += switches ? 1 : 6)
                    for (int mi = 0; mi < 60; mi += 30)
                        check(Instant{y, m, d, h, mi});
        }
}

TEST(ZoneRules, EuropeanZonesFollowTheEuRulesEveryHalfHour)
{
    for_each_half_hour([](const Instant &u) {
        int flag;
        int want = ref_eu_offset(u, 60);
        ASSERT_EQ(offset_minutes(CET, u, &flag), want) << describe(u);
        ASSERT_EQ(flag, want == 120) << describe(u);
        want = ref_eu_offset(u, 0);
        ASSERT_EQ(offset_minutes(GMT_UK, u, &flag), want) << describe(u);
        ASSERT_EQ(flag, want == 60) << describe(u);
    });
}

TEST(ZoneRules, NorthAmericanZonesFollowTheUsRulesEveryHalfHour)
{
    for_each_half_hour([](const Instant &u) {
        int flag;
        int want = ref_us_offset(u, -300);
        ASSERT_EQ(offset_minutes(EASTERN, u, &flag), want) << describe(u);
        ASSERT_EQ(flag, want == -240) << describe(u);
        want = ref_us_offset(u, -480);
        ASSERT_EQ(offset_minutes(PACIFIC, u, &flag), want) << describe(u);
        want = ref_us_offset(u, -210);
        ASSERT_EQ(offset_minutes(NEWFOUNDLAND, u, &flag), want) << describe(u);
    });
}

TEST(ZoneRules, NewZealandSpansTheNewYearEveryHalfHour)
{
    for_each_half_hour([](const Instant &u) {
        int flag;
        int want = ref_nz_offset(u);
        ASSERT_EQ(offset_minutes(NEW_ZEALAND, u, &flag), want) << describe(u);
        ASSERT_EQ(flag, want == 780) << describe(u);
    });
}

struct Moment {
    const char *name;
    const TzRules *rules;
    TzDate utc;
    TzDate local;
    int flag;
};

const Moment MOMENTS[] = {
    {"CET before spring", &CET, date_of(2024, 3, 31, 0, 59, 59, 999), date_of(2024, 3, 31, 1, 59, 59, 999), 0},
    {"CET at spring", &CET, date_of(2024, 3, 31, 1, 0), date_of(2024, 3, 31, 3, 0), 1},
    {"CET before autumn", &CET, date_of(2024, 10, 27, 0, 59), date_of(2024, 10, 27, 2, 59), 1},
    {"CET at autumn", &CET, date_of(2024, 10, 27, 1, 0), date_of(2024, 10, 27, 2, 0), 0},
    {"EST before spring", &EASTERN, date_of(2024, 3, 10, 6, 59), date_of(2024, 3, 10, 1, 59), 0},
    {"EST at spring", &EASTERN, date_of(2024, 3, 10, 7, 0), date_of(2024, 3, 10, 3, 0), 1},
    {"EST before autumn", &EASTERN, date_of(2024, 11, 3, 5, 59), date_of(2024, 11, 3, 1, 59), 1},
    {"EST at autumn", &EASTERN, date_of(2024, 11, 3, 6, 0), date_of(2024, 11, 3, 1, 0), 0},
    {"EST new year", &EASTERN, date_of(2025, 1, 1, 3, 0), date_of(2024, 12, 31, 22, 0), 0},
    {"NZ summer new year", &NEW_ZEALAND, date_of(2024, 12, 31, 11, 0), date_of(2025, 1, 1, 0, 0), 1},
    {"NZ before April", &NEW_ZEALAND, date_of(2024, 4, 6, 13, 59), date_of(2024, 4, 7, 2, 59), 1},
    {"NZ at April", &NEW_ZEALAND, date_of(2024, 4, 6, 14, 0), date_of(2024, 4, 7, 2, 0), 0},
    {"NZ at September", &NEW_ZEALAND, date_of(2024, 9, 28, 14, 0), date_of(2024, 9, 29, 3, 0), 1},
    {"Tokyo", &TOKYO, date_of(2024, 7, 1, 20, 30), date_of(2024, 7, 2, 5, 30), 0},
    {"Tokyo leap day", &TOKYO, date_of(2024, 2, 28, 15, 0), date_of(2024, 2, 29, 0, 0), 0},
};

TEST(ZoneRules, MomentsAroundTheSwitches)
{
    for (const Moment &c : MOMENTS) {
        TzDate local;
        ASSERT_EQ(tz_local_from_utc(c.rules, &c.utc, &local), 1) << c.name;
        EXPECT_EQ(local.year, c.local.year) << c.name;
        EXPECT_EQ(local.month, c.local.month) << c.name;
        EXPECT_EQ(local.day, c.local.day) << c.name;
        EXPECT_EQ(local.hour, c.local.hour) << c.name;
        EXPECT_EQ(local.minute, c.local.minute) << c.name;
        EXPECT_EQ(local.second, c.local.second) << c.name;
        EXPECT_EQ(local.milliseconds, c.local.milliseconds) << c.name;
        EXPECT_EQ(tz_daylight_flag(c.rules, &c.utc), c.flag) << c.name;
    }
}

TEST(ZoneRules, ZeroRulesGiveUtc)
{
    TzRules zero;
    memset(&zero, 0, sizeof zero);
    TzDate utc = date_of(2024, 7, 1, 12, 0), local;
    ASSERT_EQ(tz_local_from_utc(&zero, &utc, &local), 1);
    EXPECT_EQ(local.hour, 12);
    EXPECT_EQ(local.day, 1);
    EXPECT_EQ(tz_daylight_flag(&zero, &utc), 0);
}

TEST(ZoneRules, StandardBiasCountsAsDaylightForTheAbbreviation)
{
    TzRules odd = CET;
    odd.standard_bias = 30;
    TzDate winter = date_of(2024, 1, 15, 12, 0), local;
    ASSERT_EQ(tz_local_from_utc(&odd, &winter, &local), 1);
    EXPECT_EQ(local.hour, 12);
    EXPECT_EQ(local.minute, 30);
    EXPECT_EQ(tz_daylight_flag(&odd, &winter), 1);

    TzRules no_daylight = TOKYO;
    no_daylight.standard_bias = 30; // only applies to zones with a daylight period
    ASSERT_EQ(tz_local_from_utc(&no_daylight, &winter, &local), 1);
    EXPECT_EQ(local.hour, 21);
    EXPECT_EQ(tz_daylight_flag(&no_daylight, &winter), 0);
}

TEST(ZoneRules, MalformedRulesMeanStandardTime)
{
    TzRules bad = CET;
    bad.daylight_date.day = 9;
    TzDate summer = date_of(2024, 7, 1, 12, 0), local;
    ASSERT_EQ(tz_local_from_utc(&bad, &summer, &local), 1);
    EXPECT_EQ(local.hour, 13);
    EXPECT_EQ(tz_daylight_flag(&bad, &summer), 0);
}

TEST(ZoneRules, InvalidUtcOrOutOfRangeResults)
{
    TzDate bad_utc = date_of(2024, 2, 30, 0, 0), local = date_of(1, 1, 1);
    EXPECT_EQ(tz_local_from_utc(&CET, &bad_utc, &local), 0);
    EXPECT_EQ(tz_daylight_flag(&CET, &bad_utc), 0);

    TzDate first = date_of(1601, 1, 1, 0, 0);
    ASSERT_EQ(tz_local_from_utc(&EASTERN, &first, &local), 1);
    EXPECT_EQ(local.year, 1600);
    EXPECT_EQ(local.month, 12);
    EXPECT_EQ(local.day, 31);
    EXPECT_EQ(local.hour, 19);

    TzRules far = TOKYO;
    far.bias = INT32_MIN;
    TzDate last = date_of(30827, 12, 31, 0, 0);
    EXPECT_EQ(tz_local_from_utc(&far, &last, &local), 0);
    far.bias = INT32_MAX;
    EXPECT_EQ(tz_local_from_utc(&far, &first, &local), 0);
}

TEST(ZoneRules, ArbitraryTziBytesNeverMisbehave)
{
    // Any 44 bytes a registry value may hold: no fault, and a local time
    // whenever one is in range.
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (uint8_t)(seed >> 16);
    };
    const TzDate moments[] = {date_of(2024, 1, 1, 0, 0), date_of(2024, 7, 1, 12, 0), date_of(1601, 1, 1, 0, 0),
                              date_of(30827, 12, 31, 23, 59)};
    for (int round = 0; round < 20000; round++) {
        uint8_t bytes[TZI_BYTES];
        for (uint8_t &b : bytes)
            b = next();
        if (round % 3 == 0) { // keep the biases small so the dates stay in range
            memset(bytes, 0, 12);
            bytes[0] = next();
        }
        if (round % 5 == 0) { // plausible months and occurrences
            bytes[14] = (uint8_t)(next() % 14);
            bytes[18] = (uint8_t)(next() % 7);
            bytes[30] = (uint8_t)(next() % 14);
            bytes[34] = (uint8_t)(next() % 7);
        }
        TzRules rules;
        ASSERT_EQ(tzi_decode(bytes, sizeof bytes, &rules), 1);
        for (const TzDate &t : moments) {
            TzDate local;
            if (tz_local_from_utc(&rules, &t, &local)) {
                EXPECT_GE(local.month, 1);
                EXPECT_LE(local.month, 12);
                EXPECT_LE(local.hour, 23);
            }
            int flag = tz_daylight_flag(&rules, &t);
            EXPECT_TRUE(flag == 0 || flag == 1);
        }
    }
}

} // namespace
