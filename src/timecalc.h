// Time arithmetic of the stopwatch and the world clock: the stopwatch text,
// the 44-byte TZI record of the Windows time-zone database, and the rules
// that turn a UTC time into a zone's local time. No Windows header here: this
// builds natively too (sanitizer tests).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    TZI_BYTES = 44,            // bias, standard bias, daylight bias, two dates
    STOPWATCH_TEXT_BYTES = 16, // "1193:02" is the longest
};

// A calendar time laid out like the Windows SYSTEMTIME record. In a zone's
// rules, year 0 means "every year": day is then the occurrence (1..4, 5 for
// the last) of day_of_week (0 Sunday) in the month.
struct TzDate {
    uint16_t year;
    uint16_t month;       // 1..12; 0 in a rule: no daylight-saving time
    uint16_t day_of_week; // 0 Sunday .. 6 Saturday
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};
static_assert(sizeof(TzDate) == 16, "laid out like SYSTEMTIME");

// The part of a Windows TIME_ZONE_INFORMATION record that holds the rules.
// Biases are minutes to add to local time to get UTC. daylight_date is when
// daylight-saving time begins, in local standard time; standard_date when it
// ends, in local daylight time.
struct TzRules {
    int32_t bias;
    int32_t standard_bias;
    int32_t daylight_bias;
    TzDate standard_date;
    TzDate daylight_date;
};

// The stopwatch text for `ms` milliseconds: "00:00.0" (minutes, seconds,
// tenths) below one hour, "1:02:03" below ten hours, then hours and minutes
// with `separator` between them ("10:05", or "10 05" on the dark half of a
// blink). out must hold STOPWATCH_TEXT_BYTES. Returns out.
char *format_stopwatch(uint32_t ms, char separator, char *out, size_t size);

// Reads a TZI value: three little-endian signed 32-bit biases (bias,
// standard, daylight), then the standard date and the daylight date as eight
// little-endian 16-bit fields each. 1 when length holds the 44 bytes (only
// those are read); 0 otherwise, and rules is left untouched.
int tzi_decode(const uint8_t *bytes, size_t length, TzRules *rules);

// Milliseconds since 1601-01-01 00:00 of a calendar date (day_of_week is not
// read). 0 when month is not 1..12 or day not 1..days of that month; hours,
// minutes, seconds and milliseconds are added as they are.
int tz_ms_from_date(const TzDate *date, int64_t *ms);

// The calendar date of `ms` milliseconds since 1601-01-01, weekday included.
// 0 when its year is outside 1..30827 (date is then left untouched).
int tz_date_from_ms(int64_t ms, TzDate *date);

// 1 when the rules have a daylight-saving period: both dates name a month.
int tz_has_daylight(const TzRules *rules);

// The moment, in the local time the rule is written in, at which `rule`
// switches in `year`. 0 when the rule does not switch in that year (an
// absolute date of another year) or is malformed (month, occurrence, weekday
// or day out of range).
int tz_rule_moment(const TzDate *rule, int year, int64_t *local_ms);

// 1 when UTC time `utc_ms` falls in the zone's daylight-saving period.
int tz_in_daylight(const TzRules *rules, int64_t utc_ms);

// Local time of the zone at UTC time `utc`: UTC minus bias minus the daylight
// bias inside the daylight-saving period, minus the standard bias outside it
// (rules without daylight-saving time subtract the bias alone). 0 when utc is
// not a valid date or the local date falls outside the calendar's range.
int tz_local_from_utc(const TzRules *rules, const TzDate *utc, TzDate *local);

// The abbreviation choice of the world clock: 0 when the zone's local time at
// `utc` equals UTC minus the bias alone, 1 otherwise (so a nonzero standard
// bias also counts as daylight). 0 for an invalid utc.
int tz_daylight_flag(const TzRules *rules, const TzDate *utc);
