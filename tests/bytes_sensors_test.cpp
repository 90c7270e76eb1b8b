// The sensor programs' blocks and records as bytes: what the pages take from
// them, what they make of lying and truncated ones, and the page texts.
// Buffers are exact heap blocks, so the sanitizers see any read past them.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sensor_blocks.h"

namespace {

typedef std::vector<uint8_t> Bytes;

template <typename Layout> Bytes bytes_of(const Layout &layout, size_t size = sizeof(Layout))
{
    Bytes b(size, 0);
    memcpy(b.data(), &layout, size < sizeof layout ? size : sizeof layout);
    return b;
}

TEST(SpeedFanBlock, FieldsAfterThe32BitHandleCountsClampedAndBadBlocks)
{
    SpeedFanLayout sf = {};
    sf.version = 1, sf.handle = 0xFFFFFFFF, sf.temp_count = 2, sf.fan_count = 65535, sf.volt_count = 1;
    sf.temps[0] = 4550, sf.temps[1] = -300, sf.fans[31] = 2500, sf.volts[0] = 1205;
    FanReadings r;
    ASSERT_EQ(speedfan_decode(bytes_of(sf).data(), sizeof sf, &r), 1);
    EXPECT_EQ(r.count[FAN_KIND_TEMP], 2u);
    EXPECT_EQ(r.count[FAN_KIND_FAN], 32u) << "a count beyond the array";
    EXPECT_TRUE(r.values[0][0] == 4550 && r.values[0][1] == -300 && r.values[1][31] == 2500 && r.values[2][0] == 1205);

    sf.version = 2;
    EXPECT_EQ(speedfan_decode(bytes_of(sf).data(), sizeof sf, &r), 0);
    EXPECT_EQ(r.count[0] + r.count[1] + r.count[2], 0u);
    sf.version = 1;
    EXPECT_EQ(speedfan_decode(bytes_of(sf, 401).data(), 401, &r), 0) << "one byte short";
    EXPECT_EQ(speedfan_decode(nullptr, 0, &r), 0);
}

std::string summary_of(const CoreTempLayout &ct, size_t size = sizeof(CoreTempLayout))
{
    CoreTempSummary s;
    int ok = coretemp_decode(bytes_of(ct, size).data(), size, &s);
    return std::to_string(ok) + ": " + std::to_string(s.readings) + " hi " + std::to_string(s.highest) + " av " +
           std::to_string(s.average) + (s.fahrenheit ? " F" : "");
}

TEST(CoreTempBlock, PackagesDistancesAndReadingsThatAreNoTemperatures)
{
    CoreTempLayout ct = {};
    ct.core_count = 4, ct.package_count = 1;
    const float four[] = {41.9f, 45.2f, 44.0f, 39.5f};
    memcpy(ct.temps, four, sizeof four);
    EXPECT_EQ(summary_of(ct), "1: 4 hi 45 av 42");
    ct.package_count = 0;
    EXPECT_EQ(summary_of(ct), "1: 4 hi 45 av 42") << "no package count: one package";

    // two packages of two cores, as distances below TjMax 100 and 90, in Fahrenheit
    ct.core_count = 2, ct.package_count = 2, ct.delta_to_tjmax = 1, ct.fahrenheit = 1;
    ct.tjmax[0] = 100, ct.tjmax[1] = 90;
    const float distances[] = {55, 50.5f, 40, 45};
    memcpy(ct.temps, distances, sizeof distances);
    EXPECT_EQ(summary_of(ct), "1: 4 hi 50 av 47 F");

    // 0, 1000 and more, below zero, NaN and infinities all count as 0
    ct.core_count = 6, ct.package_count = 1, ct.delta_to_tjmax = 0, ct.fahrenheit = 0;
    const float odd[] = {0.0f, 1000.0f, -5.0f, NAN, INFINITY, 60.0f};
    memcpy(ct.temps, odd, sizeof odd);
    EXPECT_EQ(summary_of(ct), "1: 6 hi 60 av 10");
    ct.delta_to_tjmax = 1, ct.tjmax[0] = 0xFFFFFFFF; // distance from an absurd TjMax
    EXPECT_EQ(summary_of(ct), "1: 6 hi 0 av 0");

    // counts whose product overflows 32 bits read 256 values; cores alone too
    ct.delta_to_tjmax = 0, ct.core_count = 0xFFFFFFFF, ct.package_count = 0xFFFFFFFF;
    EXPECT_EQ(summary_of(ct).substr(0, 6), "1: 256");
    ct.core_count = 1, ct.package_count = 200, ct.delta_to_tjmax = 1; // 128 TjMax entries at most
    EXPECT_EQ(summary_of(ct).substr(0, 6), "1: 128");
    ct.core_count = 0;
    EXPECT_EQ(summary_of(ct), "0: 0 hi 0 av 0");
    ct.core_count = 4;
    EXPECT_EQ(summary_of(ct, sizeof ct - 1), "0: 0 hi 0 av 0") << "one byte short";
}

std::u16string text16(const uint16_t *units) { return std::u16string((const char16_t *)units); }

TEST(GpuzBlock, BusyShortAndUnterminatedBlocks)
{
    std::unique_ptr<GpuzLayout> gz(new GpuzLayout());
    gz->version = 1;
    const char16_t name[] = u"GPU Clock", unit[] = u"MHz";
    memcpy(gz->sensors[3].name, name, sizeof name);
    memcpy(gz->sensors[3].unit, unit, sizeof unit);
    gz->sensors[3].decimals = 1, gz->sensors[3].value = 405.5;
    for (int k = 0; k < 256; k++)
        gz->sensors[5].name[k] = 'N';
    for (int k = 0; k < 8; k++)
        gz->sensors[5].unit[k] = 'U';
    std::unique_ptr<GpuReadings> r(new GpuReadings());
    ASSERT_EQ(gpuz_decode(bytes_of(*gz).data(), sizeof *gz, r.get()), GPU_BLOCK_READ);
    EXPECT_TRUE(text16(r->sensors[3].name) == u"GPU Clock" && text16(r->sensors[3].unit) == u"MHz");
    EXPECT_TRUE(r->sensors[3].decimals == 1 && r->sensors[3].value == 405.5);
    EXPECT_EQ(text16(r->sensors[5].name), std::u16string(256, u'N')) << "cut at the field's end";
    EXPECT_EQ(text16(r->sensors[5].unit), std::u16string(8, u'U'));

    gz->busy = 1, gz->sensors[3].value = 1;
    EXPECT_EQ(gpuz_decode(bytes_of(*gz).data(), sizeof *gz, r.get()), GPU_BLOCK_BUSY);
    EXPECT_EQ(r->sensors[3].value, 405.5) << "untouched while busy";
    EXPECT_EQ(gpuz_busy(bytes_of(*gz, 8).data(), 8), 1);
    EXPECT_EQ(gpuz_busy(bytes_of(*gz, 7).data(), 7), 0);
    gz->busy = 0;
    EXPECT_EQ(gpuz_decode(bytes_of(*gz, 4096).data(), 4096, r.get()), GPU_BLOCK_ABSENT) << "a page of a view";
    gz->version = 2;
    EXPECT_EQ(gpuz_decode(bytes_of(*gz).data(), sizeof *gz, r.get()), GPU_BLOCK_ABSENT);
}

TEST(FrapsRecord, RateAtOffsetFourWithinTheReadableBytes)
{
    FrapsRecordLayout record = {48, 144, 0, 0, ""};
    EXPECT_EQ(fraps_rate(bytes_of(record, 8).data(), 8), 144u);
    EXPECT_EQ(fraps_rate(bytes_of(record, 7).data(), 7), 0u);
    EXPECT_EQ(fraps_rate(nullptr, 100), 0u);
}

// Short, truncated and lying blocks: random bytes over a valid block, cut at
// random lengths. Nothing is read outside them and every result is in range.
TEST(SensorBlocks, RandomAndTruncatedBlocksStayInBounds)
{
    std::mt19937 random(12);
    Bytes base(sizeof(GpuzLayout) + 64);
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
        for (uint32_t count : fan.count)
            EXPECT_LE(count, 32u);
        CoreTempSummary core;
        coretemp_decode(block.get(), size, &core);
        EXPECT_LE(core.readings, 256u);
        EXPECT_TRUE(core.highest >= 0 && core.highest < 1000 && core.average >= 0 && core.average <= core.highest);
        if (gpuz_decode(block.get(), size, gpu.get()) == GPU_BLOCK_READ)
            for (const GpuSensor &s : gpu->sensors) {
                EXPECT_TRUE(s.name[GPU_NAME_UNITS] == 0 && s.unit[GPU_UNIT_UNITS] == 0);
                char text[SENSOR_TEXT_BYTES];
                EXPECT_LT(strlen(gpu_value_text(s.value, s.decimals, text, sizeof text)), sizeof text);
            }
        fraps_rate(block.get(), size);
    }
}

TEST(SensorTexts, ReadingsInTheirFormsSignsAndLimits)
{
    const struct {
        int kind;
        int32_t value;
        int fahrenheit;
        const char *text;
    } fan[] = {
        {FAN_KIND_TEMP, 4550, 0, "45.5\260C"},  {FAN_KIND_TEMP, 4550, 1, "113.9\260F"},
        {FAN_KIND_TEMP, 4599, 0, "45.9\260C"},  {FAN_KIND_TEMP, -550, 0, "-5.5\260C"},
        {FAN_KIND_TEMP, -4000, 1, "-40.0\260F"}, {FAN_KIND_TEMP, INT32_MAX, 1, "38654737.6\260F"},
        {FAN_KIND_VOLT, 1205, 0, "12.05V"},     {FAN_KIND_VOLT, -50, 0, "-0.50V"},
        {FAN_KIND_VOLT, INT32_MIN, 0, "-21474836.48V"}, {FAN_KIND_FAN, 2500, 0, "2500"},
    };
    char text[SENSOR_TEXT_BYTES];
    for (const auto &c : fan)
        EXPECT_STREQ(fan_reading_text(c.kind, c.value, c.fahrenheit, text, sizeof text), c.text) << c.value;
    EXPECT_STREQ(core_temp_text(45, 0, text, sizeof text), "45\260C");
    EXPECT_STREQ(core_temp_text(113, 1, text, sizeof text), "113\260F");

    const struct {
        double value;
        uint32_t decimals;
        const char *text;
    } gpu[] = {{45.25, 2, "45.25"}, {45.25, 0, "45"},         {1.5, 0xFFFFFFFF, "1.500000"},
               {NAN, 1, "--"},      {-INFINITY, 0, "--"},     {1e300, 0, "--"},
               {-0.5, 1, "-0.5"},   {1e20, 2, "100000000000000000000.00"}};
    for (const auto &c : gpu)
        EXPECT_STREQ(gpu_value_text(c.value, c.decimals, text, sizeof text), c.text) << c.value;
    const uint16_t percent[] = {'%', '%', 0}, single[] = {'%', 0};
    EXPECT_EQ(text16(gpu_unit_shown(percent)), u"%");
    EXPECT_EQ(text16(gpu_unit_shown(single)), u"%");

    std::unique_ptr<char[]> exact(new char[FPS_TEXT_BYTES]);
    EXPECT_STREQ(fps_text(0xFFFFFFFF, exact.get(), FPS_TEXT_BYTES), "4294967295") << "ten digits";
}

} // namespace
