// Number and time texts shown on the panels.
#include "format.h"

#include <stdio.h>

static const uint64_t KB = 1ull << 10;
static const uint64_t MB = 1ull << 20;
static const uint64_t GB = 1ull << 30;
static const uint64_t TB = 1ull << 40;
static const uint64_t PB = 1ull << 50;
static const uint64_t EB = 1ull << 60;

// "dddU": whole is 0..999 in every range that uses this form.
static char *put_whole(char *out, uint64_t whole, char unit)
{
    char *p = out;
    if (whole >= 100)
        *p++ = (char)('0' + whole / 100 % 10);
    if (whole >= 10)
        *p++ = (char)('0' + whole / 10 % 10);
    *p++ = (char)('0' + whole % 10);
    *p++ = unit;
    *p = 0;
    return out;
}

// "d.dU" from a count of tenths, 0..99 in every range that uses this form.
static char *put_tenths(char *out, uint64_t tenths, char unit)
{
    out[0] = (char)('0' + tenths / 10 % 10);
    out[1] = '.';
    out[2] = (char)('0' + tenths % 10);
    out[3] = unit;
    out[4] = 0;
    return out;
}

char *format_size(uint32_t high, uint32_t low, char *out)
{
    if (!out)
        return 0;
    const uint64_t n = (uint64_t)high << 32 | low;
    if (n < 10240)
        return put_tenths(out, n / KB * 10 + n % KB * 10 / KB, 'K');
    if (n < 1000 * KB)
        return put_whole(out, n / KB, 'K');
    if (n < 10 * MB)
        return put_tenths(out, n / MB * 10 + n / KB % 1024 * 10 / 1024, 'M');
    if (n < 1000 * MB)
        return put_whole(out, n / MB, 'M');
    if (n < 4 * GB)
        return put_tenths(out, n / GB * 10 + n / MB % 1024 * 10 / 1024, 'G');
    // Above 4 G the tenths come from the two halves without a 64-bit division
    // by G. low / 107374182 slightly overestimates (40 for the top 16 values
    // of a word), which would make the last 8 bytes below 10 G "10.0G": those
    // stay at 9.9G.
    if (n < 10 * GB) {
        uint64_t tenths = low / 107374182u + 40ull * high;
        return put_tenths(out, tenths > 99 ? 99 : tenths, 'G');
    }
    if (n < 1000 * GB)
        return put_whole(out, n / GB, 'G');
    if (n < 10 * TB)
        return put_tenths(out, (uint64_t)high * 10 / 256, 'T');
    if (n < 1000 * TB)
        return put_whole(out, n / TB, 'T');
    if (n < 10 * PB)
        return put_tenths(out, (uint64_t)high * 10 / 262144, 'P');
    if (n < 1000 * PB)
        return put_whole(out, n / PB, 'P');
    if (n < 10 * EB)
        return put_tenths(out, (uint64_t)(high / 262144) * 10 / 1024, 'E');
    return put_whole(out, n / EB, 'E');
}

char *format_load(int per_mille, char *out)
{
    if (per_mille > 999) {
        snprintf(out, FORMAT_LOAD_BYTES, "100%%");
        return out;
    }
    if (per_mille < 0)
        per_mille = 0;
    snprintf(out, FORMAT_LOAD_BYTES, "%d.%d%%", per_mille / 10, per_mille % 10);
    return out;
}

char *format_uptime(uint64_t seconds, char *out, size_t size)
{
    if (!out || !size)
        return out;
    const unsigned s = (unsigned)(seconds % 60);
    const unsigned m = (unsigned)(seconds / 60 % 60);
    if (seconds >= 86400) {
        snprintf(out, size, "Uptime: %u days, %02u:%02u:%02u", (unsigned)(seconds / 86400),
                 (unsigned)(seconds % 86400 / 3600), m, s);
    } else {
        snprintf(out, size, "Uptime: %02u:%02u:%02u", (unsigned)(seconds / 3600), m, s);
    }
    return out;
}

uint32_t cpu_usage_hundredths(uint64_t cpu_time_100ns, uint64_t seconds, int cores)
{
    if (!seconds || cores <= 0)
        return 0;
    // 100 ns / 1000 = 1/10000 s; per second of running time that is
    // hundredths of a percent.
    return (uint32_t)(cpu_time_100ns / 1000 / seconds / (uint64_t)cores);
}

char *format_cpu_usage(uint32_t hundredths, char *out, size_t size)
{
    if (!out || !size)
        return out;
    snprintf(out, size, "Pixwick CPU usage: %u.%02u%%", hundredths / 100, hundredths % 100);
    return out;
}
