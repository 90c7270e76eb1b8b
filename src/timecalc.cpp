// Stopwatch text, TZI decoding and time-zone rules (see timecalc.h).
#include "timecalc.h"

#include <stdio.h>
#include <string.h>

enum : int64_t {
    MS_PER_MINUTE = 60000,
    MS_PER_DAY = 86400000,
    DAYS_1601_TO_1970 = 134774,
};

static const int MIN_YEAR = 1;
static const int MAX_YEAR = 30827; // the last year a Windows file time reaches

char *format_stopwatch(uint32_t ms, char separator, char *out, size_t size)
{
    if (!out || size == 0)
        return out;
    // Unsigned: a stopwatch left running for more than 24.8 days keeps
    // counting up instead of turning negative.
    unsigned long s = ms / 1000u, m = s / 60u, h = m / 60u;
    if (h >= 10)
        snprintf(out, size, "%lu%c%02lu", h, separator, m - 60u * h);
    else if (h >= 1)
        snprintf(out, size, "%lu:%02lu:%02lu", h, m - 60u * h, s - 60u * m);
    else
        snprintf(out, size, "%02lu:%02lu.%1lu", m, s - 60u * m, (unsigned long)(ms - 1000u * s) / 100u);
    return out;
}

// ---- TZI ---------------------------------------------------------------------

static uint16_t read_u16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

static int32_t read_i32(const uint8_t *p)
{
    uint32_t u = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    return (int32_t)u; // two's complement
}

static void read_date(const uint8_t *p, TzDate *date)
{
    date->year = read_u16(p);
    date->month = read_u16(p + 2);
    date->day_of_week = read_u16(p + 4);
    date->day = read_u16(p + 6);
    date->hour = read_u16(p + 8);
    date->minute = read_u16(p + 10);
    date->second = read_u16(p + 12);
    date->milliseconds = read_u16(p + 14);
}

int tzi_decode(const uint8_t *bytes, size_t length, TzRules *rules)
{
    if (!bytes || !rules || length < TZI_BYTES)
        return 0;
    rules->bias = read_i32(bytes);
    rules->standard_bias = read_i32(bytes + 4);
    rules->daylight_bias = read_i32(bytes + 8);
    read_date(bytes + 12, &rules->standard_date);
    read_date(bytes + 28, &rules->daylight_date);
    return 1;
}

// ---- Calendar ------------------------------------------------------------------

static int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

static int is_leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

static int days_in_month(int64_t year, int month)
{
    static const int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : DAYS[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
static int64_t days_from_civil(int64_t year, int month, int day)
{
    year -= month <= 2;
    int64_t era = floor_div(year, 400);
    int64_t year_of_era = year - era * 400;
    int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

static void civil_from_days(int64_t days, int64_t *year, int *month, int *day)
{
    days += 719468;
    int64_t era = floor_div(days, 146097);
    int64_t day_of_era = days - era * 146097;
    int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    int64_t mp = (5 * day_of_year + 2) / 153;
    *day = (int)(day_of_year - (153 * mp + 2) / 5 + 1);
    *month = (int)(mp < 10 ? mp + 3 : mp - 9);
    *year = year_of_era + era * 400 + (*month <= 2);
}

// 0 Sunday .. 6 Saturday; 1970-01-01 was a Thursday.
static int weekday_of(int64_t days_since_1970) { return (int)(days_since_1970 + 4 - floor_div(days_since_1970 + 4, 7) * 7); }

static int64_t time_of_day_ms(const TzDate *date)
{
    return (int64_t)date->hour * 3600000 + (int64_t)date->minute * MS_PER_MINUTE + (int64_t)date->second * 1000 +
           date->milliseconds;
}

int tz_ms_from_date(const TzDate *date, int64_t *ms)
{
    if (date->month < 1 || date->month > 12 || date->day < 1 || date->day > days_in_month(date->year, date->month))
        return 0;
    int64_t days = days_from_civil(date->year, date->month, date->day) + DAYS_1601_TO_1970;
    *ms = days * MS_PER_DAY + time_of_day_ms(date);
    return 1;
}

int tz_date_from_ms(int64_t ms, TzDate *date)
{
    int64_t days = floor_div(ms, MS_PER_DAY);
    int64_t rest = ms - days * MS_PER_DAY;
    int64_t year;
    int month, day;
    civil_from_days(days - DAYS_1601_TO_1970, &year, &month, &day);
    if (year < MIN_YEAR || year > MAX_YEAR)
        return 0;
    date->year = (uint16_t)year;
    date->month = (uint16_t)month;
    date->day = (uint16_t)day;
    date->day_of_week = (uint16_t)weekday_of(days - DAYS_1601_TO_1970);
    date->hour = (uint16_t)(rest / 3600000);
    date->minute = (uint16_t)(rest / MS_PER_MINUTE % 60);
    date->second = (uint16_t)(rest / 1000 % 60);
    date->milliseconds = (uint16_t)(rest % 1000);
    return 1;
}

// ---- Zone rules ----------------------------------------------------------------

int tz_has_daylight(const TzRules *rules) { return rules->standard_date.month != 0 && rules->daylight_date.month != 0; }

int tz_rule_moment(const TzDate *rule, int year, int64_t *local_ms)
{
    if (rule->month < 1 || rule->month > 12)
        return 0;
    if (rule->year != 0) { // an absolute date: switches in that year only
        if (rule->year != year)
            return 0;
        return tz_ms_from_date(rule, local_ms);
    }
    if (rule->day < 1 || rule->day > 5 || rule->day_of_week > 6)
        return 0;
    int64_t first = days_from_civil(year, rule->month, 1);
    int day = 1 + (rule->day_of_week - weekday_of(first) + 7) % 7 + 7 * (rule->day - 1);
    int last = days_in_month(year, rule->month);
    while (day > last) // occurrence 5, or a fourth one past the month's end: the last one
        day -= 7;
    *local_ms = (first + DAYS_1601_TO_1970 + day - 1) * MS_PER_DAY + time_of_day_ms(rule);
    return 1;
}

int tz_in_daylight(const TzRules *rules, int64_t utc_ms)
{
    if (!tz_has_daylight(rules))
        return 0;
    const int64_t standard_offset = ((int64_t)rules->bias + rules->standard_bias) * MS_PER_MINUTE;
    const int64_t daylight_offset = ((int64_t)rules->bias + rules->daylight_bias) * MS_PER_MINUTE;
    TzDate local;
    if (!tz_date_from_ms(utc_ms - standard_offset, &local))
        return 0;
    int64_t begins, ends;
    if (!tz_rule_moment(&rules->daylight_date, local.year, &begins) ||
        !tz_rule_moment(&rules->standard_date, local.year, &ends))
        return 0;
    begins += standard_offset; // to UTC: written in standard time
    ends += daylight_offset;   // written in daylight time
    if (begins < ends)         // northern hemisphere: the period lies inside the year
        return utc_ms >= begins && utc_ms < ends;
    return utc_ms >= begins || utc_ms < ends; // southern: it spans the new year
}

int tz_local_from_utc(const TzRules *rules, const TzDate *utc, TzDate *local)
{
    int64_t utc_ms;
    if (!tz_ms_from_date(utc, &utc_ms))
        return 0;
    int64_t bias = rules->bias;
    if (tz_in_daylight(rules, utc_ms))
        bias += rules->daylight_bias;
    else if (tz_has_daylight(rules))
        bias += rules->standard_bias;
    return tz_date_from_ms(utc_ms - bias * MS_PER_MINUTE, local);
}

int tz_daylight_flag(const TzRules *rules, const TzDate *utc)
{
    int64_t utc_ms, local_ms;
    TzDate local;
    if (!tz_ms_from_date(utc, &utc_ms) || !tz_local_from_utc(rules, utc, &local) ||
        !tz_ms_from_date(&local, &local_ms))
        return 0;
    return local_ms != utc_ms - (int64_t)rules->bias * MS_PER_MINUTE;
}
