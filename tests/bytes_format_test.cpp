// Byte counts, loads, running times and own processor use as panel texts.
// Natively the buffers are exact, so the sanitizers see any write past them.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <utility>

#include "format.h"

namespace {

std::string size_text(uint64_t n)
{
    char out[FORMAT_SIZE_BYTES];
    return format_size((uint32_t)(n >> 32), (uint32_t)n, out);
}

const uint64_t M = 1ull << 20, G = 1ull << 30, T = 1ull << 40, P = 1ull << 50, E = 1ull << 60;

TEST(FormatSize, EveryRangeAndItsEdges)
{
    const std::pair<uint64_t, const char *> cases[] = {
        {0, "0.0K"},          {1536, "1.5K"},       {10239, "9.9K"},      {10240, "10K"},
        {20480, "20K"},       {1023999, "999K"},    {1024000, "0.9M"},    {10 * M - 1, "9.9M"},
        {10 * M, "10M"},      {1000 * M, "0.9G"},   {4 * G - 1, "3.9G"},  {4 * G, "4.0G"},
        {5 * G, "5.0G"},      {8 * G - 16, "8.0G"}, {10 * G - 8, "9.9G"}, {10 * G - 1, "9.9G"},
        {10 * G, "10G"},      {1000 * G, "0.9T"},   {10 * T, "10T"},      {1000 * T, "0.9P"},
        {10 * P, "10P"},      {1000 * P, "0.9E"},   {10 * E, "10E"},      {UINT64_MAX, "15E"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(size_text(c.first), c.second) << "N = " << c.first;
    EXPECT_EQ(format_size(1, 2, nullptr), nullptr);
}

TEST(FormatLoad, FormsAndClamping)
{
    const std::pair<int, const char *> cases[] = {{0, "0.0%"},   {5, "0.5%"},    {123, "12.3%"}, {999, "99.9%"},
                                                  {1000, "100%"}, {1500, "100%"}, {-7, "0.0%"}};
    char out[FORMAT_LOAD_BYTES];
    for (const auto &c : cases)
        EXPECT_STREQ(format_load(c.first, out), c.second) << c.first;
}

TEST(FormatPopUps, UptimeAndOwnProcessorUse)
{
    const std::pair<uint64_t, const char *> uptimes[] = {{0, "Uptime: 00:00:00"},
                                                         {86399, "Uptime: 23:59:59"},
                                                         {86400, "Uptime: 1 days, 00:00:00"},
                                                         {40 * 86400 + 3661, "Uptime: 40 days, 01:01:01"}};
    char out[64], small[8];
    for (const auto &c : uptimes)
        EXPECT_STREQ(format_uptime(c.first, out, sizeof out), c.second) << c.first;
    EXPECT_STREQ(format_uptime(90061, small, sizeof small), "Uptime:");

    const uint64_t second = 10000000; // 100 ns units
    EXPECT_EQ(cpu_usage_hundredths(second, 100, 4), 25u);
    EXPECT_EQ(cpu_usage_hundredths(9999, 1, 1), 9u); // truncated
    EXPECT_EQ(cpu_usage_hundredths(second, 0, 1) + cpu_usage_hundredths(second, 100, 0), 0u);
    EXPECT_STREQ(format_cpu_usage(5, out, sizeof out), "Pixwick CPU usage: 0.05%");
    EXPECT_STREQ(format_cpu_usage(10000, out, sizeof out), "Pixwick CPU usage: 100.00%");
}

} // namespace
