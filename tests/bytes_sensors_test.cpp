// The sensor programs' blocks and records as bytes: what the pages make of
// lying, truncated and random ones, and the page texts at their limits (the
// ordinary values are in the end-to-end pictures). Buffers are exact heap
// blocks, so the sanitizers see any read past them.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sensor_blocks.h"

namespace {

template <typename Layout> std::vector<uint8_t> bytes_of(const Layout &layout, size_t size = sizeof(Layout))
{
    std::vector<uint8_t> b(size, 0);
    memcpy(b.data(), &layout, size < sizeof layout ? size : sizeof layout);
    return b;
}

TEST(SensorBlocks, SpeedFanAfterThe32BitHandleClampedCountsAndBadBlocks)
{
    SpeedFanLayout sf = {};
    sf.version = 1, sf.handle = 0xFFFFFFFF, sf.temp_count = 2, sf.fan_count = 65535, sf.volts[0] = 1205;
    sf.fans[31] = 2500;
    FanReadings r;
    ASSERT_EQ(speedfan_decode(bytes_of(sf).data(), sizeof sf, &r), 1);
    EXPECT_TRUE(r.count[FAN_KIND_TEMP] == 2 && r.count[FAN_KIND_FAN] == 32 && r.values[FAN_KIND_FAN][31] == 2500);
    sf.version = 2;
    EXPECT_EQ(speedfan_decode(bytes_of(sf).data(), sizeof sf, &r) + r.count[0] + r.count[1] + r.count[2], 0u);
    sf.version = 1;
    EXPECT_EQ(speedfan_decode(bytes_of(sf, 401).data(), 401, &r), 0) << "one byte short";
}

std::string summary_of(const CoreTempLayout &ct, size_t size = sizeof(CoreTempLayout))
{
    CoreTempSummary s;
    int ok = coretemp_decode(bytes_of(ct, size).data(), size, &s);
    return std::to_string(ok) + ": " + std::to_string(s.readings) + " hi " + std::to_string(s.highest) + " av " +
           std::to_string(s.average);
}

TEST(SensorBlocks, CoreTempCountsAndReadingsThatAreNoTemperatures)
{
    CoreTempLayout ct = {};
    const float odd[] = {0.0f, 1000.0f, -5.0f, NAN, INFINITY, 60.9f}; // all but the last count as 0
    memcpy(ct.temps, odd, sizeof odd);
    ct.core_count = 6, ct.package_count = 0;
    EXPECT_EQ(summary_of(ct), "1: 6 hi 60 av 10") << "no package count: one package";
    ct.delta_to_tjmax = 1, ct.tjmax[0] = 0xFFFFFFFF;
    EXPECT_EQ(summary_of(ct), "1: 6 hi 0 av 0") << "distances from an absurd TjMax";
    ct.core_count = 0xFFFFFFFF, ct.package_count = 0xFFFFFFFF; // the product overflows 32 bits
    EXPECT_EQ(summary_of(ct).substr(0, 6), "1: 256");
    ct.core_count = 1, ct.package_count = 200; // 128 TjMax entries at most
    EXPECT_EQ(summary_of(ct).substr(0, 6), "1: 128");
    ct.core_count = 0;
    EXPECT_EQ(summary_of(ct), "0: 0 hi 0 av 0");
    ct.core_count = 4;
    EXPECT_EQ(summary_of(ct, sizeof ct - 1), "0: 0 hi 0 av 0") << "one byte short";
}

std::u16string text16(const uint16_t *units) { return std::u16string((const char16_t *)units); }

TEST(SensorBlocks, GpuzBusyShortAndUnterminated)
{
    std::unique_ptr<GpuzLayout> gz(new GpuzLayout());
    gz->version = 1, gz->sensors[5].value = 405.5;
    std::fill(gz->sensors[5].name, gz->sensors[5].name + 256, 'N'); // name and unit without terminator
    std::fill(gz->sensors[5].unit, gz->sensors[5].unit + 8, 'N');
    std::unique_ptr<GpuReadings> r(new GpuReadings());
    ASSERT_EQ(gpuz_decode(bytes_of(*gz).data(), sizeof *gz, r.get()), GPU_BLOCK_READ);
    EXPECT_EQ(text16(r->sensors[5].name), std::u16string(256, u'N')) << "cut at the field's end";
    EXPECT_EQ(text16(r->sensors[5].unit), std::u16string(8, u'N'));
    gz->busy = 1, gz->sensors[5].value = 1;
    EXPECT_EQ(gpuz_decode(bytes_of(*gz).data(), sizeof *gz, r.get()), GPU_BLOCK_BUSY);
    EXPECT_EQ(r->sensors[5].value, 405.5) << "untouched while busy";
    gz->busy = 0;
    EXPECT_EQ(gpuz_decode(bytes_of(*gz, 4096).data(), 4096, r.get()), GPU_BLOCK_ABSENT) << "a page of a view";
    FrapsRecordLayout record = {48, 144, 0, 0, ""};
    EXPECT_EQ(fraps_rate(bytes_of(record, 8).data(), 8) + fraps_rate(bytes_of(record, 7).data(), 7), 144u);
}

// Random bytes over a valid block, cut at random lengths: nothing is read
// outside them and every result is in range.
TEST(SensorBlocks, RandomAndTruncatedBlocksStayInBounds)
{
    std::mt19937 random(12);
    std::vector<uint8_t> base(sizeof(GpuzLayout) + 64);
    for (uint8_t &b : base)
        b = (uint8_t)(random() % 4 ? random() : 0);
    std::unique_ptr<GpuReadings> gpu(new GpuReadings());
    for (int round = 0; round < 200; round++) {
        for (int k = 0; k < 64; k++)
            base[random() % base.size()] = (uint8_t)random();
        base[0] = 1, base[1] = base[2] = base[3] = 0; // version 1 in every layout
        base[4] = round % 2 ? 0 : base[4];             // busy or not
        const size_t size = round % 3 ? random() % 4096 : base.size() - random() % 80;
        std::unique_ptr<uint8_t[]> block(new uint8_t[size + 1]);
        memcpy(block.get(), base.data(), size);
        FanReadings fan;
        speedfan_decode(block.get(), size, &fan);
        EXPECT_TRUE(fan.count[0] <= 32 && fan.count[1] <= 32 && fan.count[2] <= 32);
        CoreTempSummary core;
        coretemp_decode(block.get(), size, &core);
        EXPECT_TRUE(core.readings <= 256 && core.highest >= 0 && core.highest < 1000 && core.average >= 0);
        if (gpuz_decode(block.get(), size, gpu.get()) == GPU_BLOCK_READ)
            for (const GpuSensor &s : gpu->sensors) {
                char text[SENSOR_TEXT_BYTES];
                EXPECT_LT(strlen(gpu_value_text(s.value, s.decimals, text, sizeof text)), sizeof text);
            }
        fraps_rate(block.get(), size);
    }
}

TEST(SensorTexts, SignsLimitsAndNonNumbers)
{
    const struct { int kind; int32_t value; int fahrenheit; const char *text; } fan[] = {
        {FAN_KIND_TEMP, 4599, 0, "45.9\260C"}, {FAN_KIND_TEMP, -550, 0, "-5.5\260C"},
        {FAN_KIND_TEMP, -4000, 1, "-40.0\260F"}, {FAN_KIND_TEMP, INT32_MAX, 1, "38654737.6\260F"},
        {FAN_KIND_VOLT, -50, 0, "-0.50V"},     {FAN_KIND_VOLT, INT32_MIN, 0, "-21474836.48V"},
    };
    char text[SENSOR_TEXT_BYTES];
    for (const auto &c : fan)
        EXPECT_STREQ(fan_reading_text(c.kind, c.value, c.fahrenheit, text, sizeof text), c.text) << c.value;
    const struct { double value; uint32_t decimals; const char *text; } gpu[] = {{45.25, 2, "45.25"}, {45.25, 0, "45"},     {1.5, 0xFFFFFFFF, "1.500000"},
               {NAN, 1, "--"},      {-INFINITY, 0, "--"}, {1e300, 0, "--"}};
    for (const auto &c : gpu)
        EXPECT_STREQ(gpu_value_text(c.value, c.decimals, text, sizeof text), c.text) << c.value;
    std::unique_ptr<char[]> exact(new char[FPS_TEXT_BYTES]);
    EXPECT_STREQ(fps_text(0xFFFFFFFF, exact.get(), FPS_TEXT_BYTES), "4294967295");
}

} // namespace
