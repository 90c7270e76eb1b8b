// A zone's TZI value from the registry (44 bytes; other lengths are not
// taken), the zone's local time at moments of every era, and, from the 16
// bytes after the record, one more moment and a stopwatch reading.
#include <stdint.h>
#include <string.h>

#include "fuzz_check.h"
#include "timecalc.h"

namespace {

const int64_t MS_PER_MINUTE = 60000;

bool valid_date(const TzDate &d)
{
    int64_t ms;
    return d.month >= 1 && d.month <= 12 && d.hour < 24 && d.minute < 60 && d.second < 60 &&
           d.milliseconds < 1000 && d.day_of_week < 7 && d.year >= 1 && tz_ms_from_date(&d, &ms);
}

void check_moment(const TzRules &rules, const TzDate &utc)
{
    const int flag = tz_daylight_flag(&rules, &utc);
    FUZZ_CHECK(flag == 0 || flag == 1);
    TzDate local;
    int64_t utc_ms, local_ms;
    if (!tz_local_from_utc(&rules, &utc, &local))
        return;
    FUZZ_CHECK(valid_date(local) && tz_ms_from_date(&utc, &utc_ms) && tz_ms_from_date(&local, &local_ms));
    // local time is UTC minus the bias and one of the two extra biases (or none)
    const int64_t shift = utc_ms - local_ms - (int64_t)rules.bias * MS_PER_MINUTE;
    FUZZ_CHECK(shift == 0 || shift == (int64_t)rules.standard_bias * MS_PER_MINUTE ||
               shift == (int64_t)rules.daylight_bias * MS_PER_MINUTE);
}

// A yearly rule names a weekday of its month in that month.
void check_rule(const TzDate &rule, int year)
{
    int64_t ms;
    TzDate when;
    if (!tz_rule_moment(&rule, year, &ms) || rule.year != 0 || rule.hour >= 24 || rule.minute >= 60 ||
        rule.second >= 60 || rule.milliseconds >= 1000 || !tz_date_from_ms(ms, &when))
        return;
    FUZZ_CHECK(when.year == year && when.month == rule.month && when.day_of_week == rule.day_of_week);
    FUZZ_CHECK(when.day >= 1 + 7 * (rule.day < 5 ? rule.day - 1 : 3));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TzRules rules;
    memset(&rules, 0xA5, sizeof rules);
    const TzRules untouched = rules;
    const int taken = tzi_decode(data, size, &rules);
    FUZZ_CHECK(taken == (size >= TZI_BYTES));
    if (!taken) {
        FUZZ_CHECK(memcmp(&rules, &untouched, sizeof rules) == 0);
        return 0;
    }
    const TzDate moments[] = {
        {2024, 7, 0, 1, 12, 0, 0, 0}, {2024, 1, 0, 15, 0, 0, 0, 0}, {1601, 1, 0, 1, 0, 0, 0, 0},
        {30827, 12, 0, 31, 23, 59, 59, 999},
    };
    for (const TzDate &utc : moments)
        check_moment(rules, utc);
    static const int YEARS[] = {1601, 2000, 2024, 2100, 30827};
    for (int year : YEARS) {
        check_rule(rules.standard_date, year);
        check_rule(rules.daylight_date, year);
    }
    if (size >= TZI_BYTES + 16) {
        TzDate utc;
        memcpy(&utc, data + TZI_BYTES, sizeof utc);
        check_moment(rules, utc);
        uint32_t ms;
        memcpy(&ms, data + TZI_BYTES, sizeof ms);
        char text[STOPWATCH_TEXT_BYTES];
        const size_t room = 1 + data[TZI_BYTES + 5] % sizeof text;
        FUZZ_CHECK(strlen(format_stopwatch(ms, (char)data[TZI_BYTES + 4], text, room)) < room);
    }
    return 0;
}
