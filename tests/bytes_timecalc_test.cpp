// Stopwatch texts, TZI decoding, the calendar and the time-zone rules.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "timecalc.h"

namespace {

TEST(FormatStopwatch, LongRunsAndSmallBuffers)
{
    char out[STOPWATCH_TEXT_BYTES];
    EXPECT_STREQ(format_stopwatch(3599999, ':', out, sizeof out), "59:59.9");
    EXPECT_STREQ(format_stopwatch(360000000, ':', out, sizeof out), "100:00");
    EXPECT_STREQ(format_stopwatch(0x80000000u, ':', out, sizeof out), "596:31") << "unsigned past 2^31 ms";
    for (size_t size = 1; size < 8; size++) {
        std::unique_ptr<char[]> small(new char[size]); // exact size: ASan sees any overrun
        format_stopwatch(0xFFFFFFFFu, ':', small.get(), size);
        EXPECT_EQ(std::string(small.get()), std::string("1193:02").substr(0, size - 1));
    }
    EXPECT_EQ(format_stopwatch(1, ':', nullptr, 16), nullptr);
}

TzDate date_of(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return TzDate{(uint16_t)y, (uint16_t)m, 0, (uint16_t)d, (uint16_t)h, (uint16_t)mi, (uint16_t)s, (uint16_t)ms};
}

TzDate rule_of(int month, int weekday, int occurrence, int hour)
{
    return TzDate{0, (uint16_t)month, (uint16_t)weekday, (uint16_t)occurrence, (uint16_t)hour, 0, 0, 0};
}

const TzRules CET = {-60, 0, -60, rule_of(10, 0, 5, 3), rule_of(3, 0, 5, 2)};

// "Central European Standard Time" as the Windows database holds it: CET above.
const uint8_t CET_TZI[TZI_BYTES] = {
    0xc4, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xc4, 0xff, 0xff, 0xff, //
    0x00, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x05, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

TEST(TziDecode, FieldsShortAndLongValues)
{
    std::vector<uint8_t> longer(CET_TZI, CET_TZI + TZI_BYTES);
    longer.resize(64, 0xEE);
    TzRules rules;
    ASSERT_EQ(tzi_decode(longer.data(), longer.size(), &rules), 1);
    EXPECT_EQ(memcmp(&rules, &CET, sizeof rules), 0) << "only the 44 bytes are read";

    const TzRules untouched = {7, 8, 9, {1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11, 12, 13, 14, 15, 16}};
    for (size_t length = 0; length < TZI_BYTES; length++) {
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[length + 1]);
        memcpy(bytes.get(), CET_TZI, length);
        rules = untouched;
        EXPECT_EQ(tzi_decode(bytes.get(), length, &rules), 0) << length;
        EXPECT_EQ(memcmp(&rules, &untouched, sizeof rules), 0) << length;
    }
    EXPECT_EQ(tzi_decode(nullptr, TZI_BYTES, &rules), 0);
}

TEST(Calendar, InvalidDatesAndRangeEnds)
{
    for (const TzDate &t : {date_of(2024, 0, 1), date_of(2024, 13, 1), date_of(2024, 1, 0), date_of(2023, 2, 29),
                            date_of(1900, 2, 29), date_of(2024, 4, 31), date_of(65535, 65535, 65535)}) {
        int64_t ms = 12345;
        EXPECT_EQ(tz_ms_from_date(&t, &ms), 0) << t.year << "-" << t.month << "-" << t.day;
        EXPECT_EQ(ms, 12345);
    }
    TzDate last = date_of(30827, 12, 31, 23, 59, 59, 999), first = date_of(1, 1, 1), back = date_of(1, 2, 3);
    int64_t end, start;
    ASSERT_EQ(tz_ms_from_date(&last, &end) + tz_ms_from_date(&first, &start), 2);
    for (int64_t ms : {end + 1, start - 1, INT64_MAX / 2})
        EXPECT_EQ(tz_date_from_ms(ms, &back), 0) << ms;
    EXPECT_EQ(back.day, 3) << "left untouched";
}

TEST(RuleMoment, MalformedRulesAndOtherYearsDoNotSwitch)
{
    for (const TzDate &r : {rule_of(0, 0, 1, 2), rule_of(13, 0, 1, 2), rule_of(3, 7, 1, 2), rule_of(3, 0, 0, 2),
                            rule_of(3, 0, 6, 2), date_of(2024, 2, 30, 2), date_of(2023, 3, 17, 2)}) {
        int64_t ms = 77;
        EXPECT_EQ(tz_rule_moment(&r, 2024, &ms), 0) << r.month << "/" << r.day_of_week << "/" << r.day;
        EXPECT_EQ(ms, 77);
    }
}

TEST(ZoneRules, OddRulesAndBadInput)
{
    TzDate winter = date_of(2024, 1, 15, 12, 0), summer = date_of(2024, 7, 1, 12, 0), local;
    TzRules odd = CET;
    odd.standard_bias = 30; // counts as daylight for the abbreviation
    ASSERT_EQ(tz_local_from_utc(&odd, &winter, &local), 1);
    EXPECT_TRUE(local.minute == 30 && tz_daylight_flag(&odd, &winter) == 1);

    TzRules bad = CET;
    bad.daylight_date.day = 9; // malformed: standard time all year
    ASSERT_EQ(tz_local_from_utc(&bad, &summer, &local), 1);
    EXPECT_TRUE(local.hour == 13 && tz_daylight_flag(&bad, &summer) == 0);

    TzDate bad_utc = date_of(2024, 2, 30, 0, 0), last = date_of(30827, 12, 31, 0, 0);
    EXPECT_EQ(tz_local_from_utc(&CET, &bad_utc, &local) + tz_daylight_flag(&CET, &bad_utc), 0);
    const TzRules far = {INT32_MIN, 0, 0, TzDate{}, TzDate{}};
    EXPECT_EQ(tz_local_from_utc(&far, &last, &local), 0);
}

TEST(ZoneRules, ArbitraryTziBytesNeverMisbehave)
{
    uint32_t seed = 12345;
    auto next = [&seed]() { return (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16); };
    const TzDate moments[] = {date_of(2024, 7, 1, 12, 0), date_of(1601, 1, 1, 0, 0), date_of(30827, 12, 31, 23, 59)};
    for (int round = 0; round < 20000; round++) {
        uint8_t bytes[TZI_BYTES];
        for (uint8_t &b : bytes)
            b = next();
        if (round % 3 == 0) { // small biases, plausible months and occurrences
            memset(bytes, 0, 12);
            bytes[0] = next();
            for (int at : {14, 18, 30, 34})
                bytes[at] = (uint8_t)(next() % (at % 16 == 14 ? 14 : 7));
        }
        TzRules rules;
        ASSERT_EQ(tzi_decode(bytes, sizeof bytes, &rules), 1);
        for (const TzDate &t : moments) {
            TzDate local;
            const int flag = tz_daylight_flag(&rules, &t);
            EXPECT_TRUE(flag == 0 || flag == 1);
            EXPECT_TRUE(!tz_local_from_utc(&rules, &t, &local) ||
                        (local.month >= 1 && local.month <= 12 && local.hour <= 23));
        }
    }
}

} // namespace
