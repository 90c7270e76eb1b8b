// Stopwatch texts and the time-zone rules, with malformed and arbitrary rules.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "timecalc.h"

namespace {

TEST(FormatStopwatch, FormsLongRunsAndSmallBuffers)
{
    const struct { uint32_t ms; char separator; const char *text; } cases[] = {
        {0, ':', "00:00.0"},        {61250, ':', "01:01.2"},     {3599999, ':', "59:59.9"},
        {3723000, ':', "1:02:03"},  {36300000, ':', "10:05"},    {36300000, ' ', "10 05"},
        {360000000, ':', "100:00"}, {0x80000000u, ':', "596:31"}, // unsigned past 2^31 ms
    };
    char out[STOPWATCH_TEXT_BYTES];
    for (const auto &c : cases)
        EXPECT_STREQ(format_stopwatch(c.ms, c.separator, out, sizeof out), c.text) << c.ms;
    for (size_t size = 1; size < 8; size++) {
        std::unique_ptr<char[]> small(new char[size]); // exact size: ASan sees any overrun
        format_stopwatch(0xFFFFFFFFu, ':', small.get(), size);
        EXPECT_EQ(std::string(small.get()), std::string("1193:02").substr(0, size - 1));
    }
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

TEST(ZoneRules, OddRulesAndBadInput)
{
    TzDate winter = date_of(2024, 1, 15, 12, 0), summer = date_of(2024, 7, 1, 12, 0), local;
    TzRules odd = CET;
    odd.standard_bias = 30; // counts as daylight for the abbreviation
    ASSERT_EQ(tz_local_from_utc(&odd, &winter, &local), 1);
    EXPECT_TRUE(local.minute == 30 && tz_daylight_flag(&odd, &winter) == 1);

    // a malformed start of daylight-saving time, or another year's: standard time all year
    for (const TzDate &r : {rule_of(13, 0, 1, 2), rule_of(3, 7, 1, 2), rule_of(3, 0, 0, 2), rule_of(3, 0, 6, 2),
                            date_of(2024, 2, 30, 2), date_of(2023, 3, 17, 2)}) {
        TzRules bad = CET;
        bad.daylight_date = r;
        ASSERT_EQ(tz_local_from_utc(&bad, &summer, &local), 1);
        EXPECT_TRUE(local.hour == 13 && tz_daylight_flag(&bad, &summer) == 0) << r.month << "/" << r.day;
    }

    TzDate bad_utc = date_of(2024, 2, 30, 0, 0);
    EXPECT_EQ(tz_local_from_utc(&CET, &bad_utc, &local) + tz_daylight_flag(&CET, &bad_utc), 0);
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
