// The sensor programs' shared blocks and FRAPS's record. Byte 0 picks the
// reader (SpeedFan, Core Temp, GPU-Z, FRAPS), the rest is the block as mapped,
// of exactly that size. A GPU-Z block is 200204 bytes: the rest also stands
// for a whole one, its first 12 bytes the header and the others repeated over
// the 128 sensor records. Every reading also goes through its page text.
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_check.h"
#include "sensor_blocks.h"

namespace {

void check_text(const char *text, size_t room) { FUZZ_CHECK(strlen(text) < room); }

void speedfan(const uint8_t *block, size_t size)
{
    FanReadings r;
    const int ok = speedfan_decode(block, size, &r);
    FUZZ_CHECK(ok == (size >= sizeof(SpeedFanLayout) && block[0] == 1 && block[1] == 0));
    char text[SENSOR_TEXT_BYTES];
    for (int kind = 0; kind < 3; kind++) {
        FUZZ_CHECK(r.count[kind] <= FAN_READINGS && (ok || r.count[kind] == 0));
        for (uint32_t i = 0; i < r.count[kind]; i++)
            for (int fahrenheit = 0; fahrenheit < 2; fahrenheit++)
                check_text(fan_reading_text(kind, r.values[kind][i], fahrenheit, text, sizeof text), sizeof text);
    }
}

void coretemp(const uint8_t *block, size_t size)
{
    CoreTempSummary s;
    const int ok = coretemp_decode(block, size, &s);
    FUZZ_CHECK(ok == (s.readings > 0) && s.readings <= CORE_READINGS);
    FUZZ_CHECK(s.highest >= 0 && s.highest < 1000 && s.average >= 0 && s.average <= s.highest);
    char text[SENSOR_TEXT_BYTES];
    check_text(core_temp_text(s.highest, (int)s.fahrenheit, text, sizeof text), sizeof text);
}

size_t units(const uint16_t *text)
{
    size_t n = 0;
    while (text[n])
        n++;
    return n;
}

void gpuz(const uint8_t *block, size_t size, GpuReadings *r)
{
    const int busy = gpuz_busy(block, size);
    const int state = gpuz_decode(block, size, r);
    FUZZ_CHECK(busy == 0 || busy == 1);
    FUZZ_CHECK(size >= sizeof(GpuzLayout) || state == GPU_BLOCK_ABSENT);
    FUZZ_CHECK(state != GPU_BLOCK_BUSY || busy);
    if (state != GPU_BLOCK_READ)
        return;
    char text[SENSOR_TEXT_BYTES];
    for (const GpuSensor &sensor : r->sensors) {
        FUZZ_CHECK(units(sensor.name) <= GPU_NAME_UNITS && units(sensor.unit) <= GPU_UNIT_UNITS);
        const uint16_t *shown = gpu_unit_shown(sensor.unit);
        FUZZ_CHECK(shown == sensor.unit || shown == sensor.unit + 1);
        gpu_value_text(sensor.value, sensor.decimals, text, sizeof text);
        check_text(text, sizeof text);
        FUZZ_CHECK(isfinite(sensor.value) || strcmp(text, "--") == 0);
    }
}

// The rest of the input as a whole GPU-Z block (the text records, which
// the page does not read, stay zero).
void gpuz_whole(const uint8_t *rest, size_t size, GpuReadings *r)
{
    const size_t header = offsetof(GpuzLayout, records), sensors = offsetof(GpuzLayout, sensors);
    static uint8_t *block = (uint8_t *)calloc(1, sizeof(GpuzLayout)); // exact, as a view of the layout's size
    memset(block, 0, header);
    memcpy(block, rest, size < header ? size : header);
    uint8_t *records = block + sensors;
    const size_t bytes = GPU_SENSORS * sizeof(GpuzSensorLayout), pattern = size > header ? size - header : 0;
    if (!pattern)
        memset(records, 0, bytes);
    for (size_t at = 0; pattern && at < bytes; at += pattern)
        memcpy(records + at, rest + header, pattern < bytes - at ? pattern : bytes - at);
    gpuz(block, sizeof(GpuzLayout), r);
}

void fraps(const uint8_t *record, size_t size)
{
    const uint32_t rate = fraps_rate(record, size);
    FUZZ_CHECK(size >= 8 || rate == 0);
    char text[FPS_TEXT_BYTES];
    check_text(fps_text(rate, text, sizeof text), sizeof text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t *block = data + 1; // ends where the input ends: ASan sees any read past it
    const size_t block_size = size - 1;
    static GpuReadings readings;
    switch (data[0] % 4) {
    case 0: speedfan(block, block_size); break;
    case 1: coretemp(block, block_size); break;
    case 2:
        gpuz(block, block_size, &readings);
        gpuz_whole(block, block_size, &readings);
        break;
    case 3: fraps(block, block_size); break;
    }
    return 0;
}
