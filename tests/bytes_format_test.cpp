// Byte counts, loads, running times and own processor use as panel texts.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format.h"

namespace {

std::string size_text(uint64_t n)
{
    char out[16];
    memset(out, '#', sizeof out);
    char *r = format_size((uint32_t)(n >> 32), (uint32_t)n, out);
    EXPECT_EQ(r, out);
    EXPECT_EQ(out[FORMAT_SIZE_BYTES], '#') << "wrote past five bytes for " << n;
    return out;
}

const uint64_t K = 1ull << 10, M = 1ull << 20, G = 1ull << 30, T = 1ull << 40, P = 1ull << 50,
               E = 1ull << 60;

struct SizeCase {
    uint64_t n;
    const char *text;
};

const SizeCase SIZE_CASES[] = {
    {0, "0.0K"},
    {1, "0.0K"},
    {102, "0.0K"},
    {103, "0.1K"},
    {1023, "0.9K"},
    {1024, "1.0K"},
    {1536, "1.5K"},
    {10239, "9.9K"},
    {10240, "10K"},
    {20480, "20K"},
    {102399, "99K"},
    {102400, "100K"},
    {1023999, "999K"},
    {1024000, "0.9M"},
    {M, "1.0M"},
    {10 * M - 1, "9.9M"},
    {10 * M, "10M"},
    {1000 * M - 1, "999M"},
    {1000 * M, "0.9G"},
    {G, "1.0G"},
    {4 * G - 1, "3.9G"},
    {4 * G, "4.0G"},
    {5 * G, "5.0G"},
    {5 * G + G / 2, "5.5G"},
    {8 * G - 17, "7.9G"},
    {8 * G - 16, "8.0G"}, // the low word's tenths come out a hair high
    {8 * G, "8.0G"},
    {10 * G - 9, "9.9G"},
    {10 * G - 8, "9.9G"}, // the sum of the two words' tenths would be 100
    {10 * G - 1, "9.9G"},
    {10 * G, "10G"},
    {1000 * G - 1, "999G"},
    {1000 * G, "0.9T"},
    {T, "1.0T"},
    {10 * T - 1, "9.9T"},
    {10 * T, "10T"},
    {1000 * T - 1, "999T"},
    {1000 * T, "0.9P"},
    {10 * P - 1, "9.9P"},
    {10 * P, "10P"},
    {1000 * P - 1, "999P"},
    {1000 * P, "0.9E"},
    {E, "1.0E"},
    {10 * E - 1, "9.9E"},
    {10 * E, "10E"},
    {15 * E, "15E"},
    {UINT64_MAX, "15E"},
};

TEST(FormatSize, Table)
{
    for (const SizeCase &c : SIZE_CASES)
        EXPECT_EQ(size_text(c.n), c.text) << "N = " << c.n;
}

TEST(FormatSize, NullOutput)
{
    EXPECT_EQ(format_size(1, 2, nullptr), nullptr);
}

// What the text says, back in bytes: the number times its unit.
double shown_bytes(const std::string &text)
{
    const char units[] = "KMGTPE";
    const char *u = strchr(units, text.back());
    if (!u || text.size() < 2)
        return -1;
    double scale = (double)(1ull << (10 * (u - units + 1)));
    return atof(text.substr(0, text.size() - 1).c_str()) * scale;
}

// Forms: d.dU, or two/three digits then U without a leading zero.
bool well_formed(const std::string &s)
{
    if (s.size() < 2 || s.size() > 4 || !strchr("KMGTPE", s.back()))
        return false;
    const std::string digits = s.substr(0, s.size() - 1);
    if (digits.size() == 3 && digits[1] == '.')
        return isdigit((unsigned char)digits[0]) && isdigit((unsigned char)digits[2]);
    if (digits.size() < 2 || digits[0] == '0')
        return false;
    for (char c : digits)
        if (!isdigit((unsigned char)c))
            return false;
    return true;
}

// Values around every power of two and every unit boundary, and a
// pseudo-random spread over all magnitudes, in ascending order.
std::vector<uint64_t> sweep_values()
{
    std::vector<uint64_t> v;
    const uint64_t edges[] = {10240, 1000 * K, 10 * M, 1000 * M, 4 * G, 10 * G, 1000 * G,
                              10 * T, 1000 * T, 10 * P, 1000 * P, 10 * E};
    for (int b = 0; b < 64; b++)
        for (int64_t d = -3; d <= 3; d++)
            v.push_back((1ull << b) + (uint64_t)d);
    for (uint64_t e : edges)
        for (int64_t d = -2; d <= 2; d++)
            v.push_back(e + (uint64_t)d);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 200000; i++) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        v.push_back(x >> (x % 64));
    }
    v.push_back(UINT64_MAX);
    std::sort(v.begin(), v.end());
    return v;
}

// Ordered within a unit; at a change of unit the text may drop (999K, then
// 0.9M), but the unit letter never goes back.
TEST(FormatSize, WholeRangeIsShortCloseAndOrdered)
{
    const std::string units = "KMGTPE";
    double previous = -1;
    size_t previous_unit = 0;
    for (uint64_t n : sweep_values()) {
        const std::string s = size_text(n);
        ASSERT_TRUE(well_formed(s)) << n << " -> " << s;
        const double shown = shown_bytes(s);
        const size_t unit = units.find(s.back());
        ASSERT_GE(unit, previous_unit) << n << " -> " << s;
        if (unit == previous_unit) {
            ASSERT_GE(shown, previous) << n << " -> " << s;
        }
        previous = shown;
        previous_unit = unit;
        // truncation: at most the count itself (plus the 4..8 G rounding of
        // the low word, under a millionth), and not far below it
        const double step = s[1] == '.' || s[2] == '.' ? shown_bytes(std::string("0.1") + s.back())
                                                       : shown_bytes(std::string("1") + s.back());
        ASSERT_LE(shown, (double)n * 1.000001 + 1) << n << " -> " << s;
        ASSERT_GT(shown + step * 1.5, (double)n) << n << " -> " << s;
    }
}

// The unit letter changes exactly at the table's boundaries.
TEST(FormatSize, UnitBoundaries)
{
    const struct {
        uint64_t first;
        char unit;
    } ranges[] = {{0, 'K'}, {1000 * K, 'M'}, {1000 * M, 'G'}, {1000 * G, 'T'}, {1000 * T, 'P'},
                  {1000 * P, 'E'}};
    for (size_t i = 0; i < sizeof ranges / sizeof ranges[0]; i++) {
        EXPECT_EQ(size_text(ranges[i].first).back(), ranges[i].unit);
        if (i) {
            EXPECT_EQ(size_text(ranges[i].first - 1).back(), ranges[i - 1].unit);
        }
    }
}

// ---- Load ------------------------------------------------------------------

TEST(FormatLoad, Forms)
{
    const struct {
        int per_mille;
        const char *text;
    } cases[] = {{0, "0.0%"}, {5, "0.5%"},    {10, "1.0%"},  {123, "12.3%"}, {999, "99.9%"},
                 {1000, "100%"}, {1500, "100%"}, {-7, "0.0%"}};
    for (const auto &c : cases) {
        char out[FORMAT_LOAD_BYTES];
        EXPECT_STREQ(format_load(c.per_mille, out), c.text) << c.per_mille;
    }
}

// ---- Uptime ----------------------------------------------------------------

TEST(FormatUptime, Forms)
{
    const struct {
        uint64_t seconds;
        const char *text;
    } cases[] = {
        {0, "Uptime: 00:00:00"},
        {59, "Uptime: 00:00:59"},
        {3661, "Uptime: 01:01:01"},
        {86399, "Uptime: 23:59:59"},
        {86400, "Uptime: 1 days, 00:00:00"},
        {90061, "Uptime: 1 days, 01:01:01"},
        {40 * 86400 + 23 * 3600 + 59 * 60 + 58, "Uptime: 40 days, 23:59:58"},
    };
    for (const auto &c : cases) {
        char out[64];
        EXPECT_STREQ(format_uptime(c.seconds, out, sizeof out), c.text) << c.seconds;
    }
}

TEST(FormatUptime, TruncatesToTheBuffer)
{
    char out[10];
    memset(out, '#', sizeof out);
    format_uptime(90061, out, 8);
    EXPECT_STREQ(out, "Uptime:");
    EXPECT_EQ(out[8], '#');
    EXPECT_EQ(format_uptime(1, nullptr, 8), nullptr);
}

// ---- Own processor use -----------------------------------------------------

TEST(CpuUsage, HundredthsOfAPercent)
{
    const uint64_t second = 10000000; // 100 ns units
    EXPECT_EQ(cpu_usage_hundredths(second, 100, 1), 100u);    // 1 s in 100 s: 1 %
    EXPECT_EQ(cpu_usage_hundredths(second, 100, 4), 25u);     // spread over four cores
    EXPECT_EQ(cpu_usage_hundredths(50 * second, 100, 1), 5000u);
    EXPECT_EQ(cpu_usage_hundredths(second, 0, 1), 0u);
    EXPECT_EQ(cpu_usage_hundredths(second, 100, 0), 0u);
    EXPECT_EQ(cpu_usage_hundredths(9999, 1, 1), 9u);          // truncated
}

TEST(CpuUsage, Text)
{
    char out[64];
    EXPECT_STREQ(format_cpu_usage(125, out, sizeof out), "Pixwick CPU usage: 1.25%");
    EXPECT_STREQ(format_cpu_usage(5, out, sizeof out), "Pixwick CPU usage: 0.05%");
    EXPECT_STREQ(format_cpu_usage(10000, out, sizeof out), "Pixwick CPU usage: 100.00%");
}

} // namespace
