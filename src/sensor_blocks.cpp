// The sensor programs' blocks and records, decoded with explicit bounds, and
// the sensor pages' texts. See sensor_blocks.h.
#include "sensor_blocks.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

// Little-endian fields at fixed offsets; callers have checked the bounds.
static uint16_t u16_at(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
static uint32_t u32_at(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
static int32_t i32_at(const uint8_t *p) { return (int32_t)u32_at(p); }

static float f32_at(const uint8_t *p)
{
    uint32_t bits = u32_at(p);
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

static double f64_at(const uint8_t *p)
{
    uint64_t bits = (uint64_t)u32_at(p + 4) << 32 | u32_at(p);
    double value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

static uint32_t at_most(uint32_t value, uint32_t limit) { return value < limit ? value : limit; }

// ---- SpeedFan -------------------------------------------------------------------

int speedfan_decode(const uint8_t *bytes, size_t size, FanReadings *out)
{
    memset(out, 0, sizeof *out);
    if (!bytes || size < sizeof(SpeedFanLayout) || u16_at(bytes + offsetof(SpeedFanLayout, version)) != 1)
        return 0;
    static const size_t COUNTS[3] = {offsetof(SpeedFanLayout, temp_count), offsetof(SpeedFanLayout, fan_count),
                                     offsetof(SpeedFanLayout, volt_count)};
    static const size_t VALUES[3] = {offsetof(SpeedFanLayout, temps), offsetof(SpeedFanLayout, fans),
                                     offsetof(SpeedFanLayout, volts)};
    for (int kind = 0; kind < 3; kind++) {
        out->count[kind] = at_most(u16_at(bytes + COUNTS[kind]), FAN_READINGS);
        for (uint32_t i = 0; i < out->count[kind]; i++)
            out->values[kind][i] = i32_at(bytes + VALUES[kind] + 4 * i);
    }
    return 1;
}

// ---- Core Temp ------------------------------------------------------------------

// Whole degrees, or 0 for a reading that cannot be a core temperature.
static int32_t whole_degrees(double value)
{
    if (!(value > 0 && value < 1000)) // NaN fails both
        return 0;
    return (int32_t)value;
}

int coretemp_decode(const uint8_t *bytes, size_t size, CoreTempSummary *out)
{
    memset(out, 0, sizeof *out);
    if (!bytes || size < sizeof(CoreTempLayout))
        return 0;
    const uint32_t cores = u32_at(bytes + offsetof(CoreTempLayout, core_count));
    uint32_t packages = u32_at(bytes + offsetof(CoreTempLayout, package_count));
    packages = packages == 0 ? 1 : at_most(packages, CORE_PACKAGES);
    const uint64_t product = (uint64_t)cores * packages; // cannot overflow in 64 bits
    const uint32_t n = (uint32_t)(product < (uint64_t)CORE_READINGS ? product : (uint64_t)CORE_READINGS);
    if (n == 0)
        return 0;
    const int distances = bytes[offsetof(CoreTempLayout, delta_to_tjmax)] != 0;
    int64_t sum = 0;
    int32_t highest = 0;
    for (uint32_t i = 0; i < n; i++) {
        double value = f32_at(bytes + offsetof(CoreTempLayout, temps) + 4 * i);
        if (distances) // i / cores < packages <= 128, since i < cores x packages
            value = (double)u32_at(bytes + offsetof(CoreTempLayout, tjmax) + 4 * (i / cores)) - value;
        const int32_t degrees = whole_degrees(value);
        sum += degrees;
        if (degrees > highest)
            highest = degrees;
    }
    out->readings = n;
    out->highest = highest;
    out->average = (int32_t)(sum / n);
    out->fahrenheit = bytes[offsetof(CoreTempLayout, fahrenheit)] != 0;
    return 1;
}

// ---- GPU-Z ------------------------------------------------------------------------

// A UTF-16 field of `units` code units: up to its first zero unit, cut at the
// field's end when it has none; out holds units + 1.
static void copy_units(const uint8_t *field, size_t units, uint16_t *out)
{
    size_t k = 0;
    for (; k < units; k++) {
        out[k] = u16_at(field + 2 * k);
        if (!out[k])
            return;
    }
    out[k] = 0;
}

int gpuz_busy(const uint8_t *bytes, size_t size)
{
    return bytes && size >= offsetof(GpuzLayout, busy) + 4 && u32_at(bytes + offsetof(GpuzLayout, busy)) != 0;
}

int gpuz_decode(const uint8_t *bytes, size_t size, GpuReadings *out)
{
    if (!bytes || size < sizeof(GpuzLayout) || u32_at(bytes + offsetof(GpuzLayout, version)) != 1)
        return GPU_BLOCK_ABSENT;
    if (gpuz_busy(bytes, size))
        return GPU_BLOCK_BUSY;
    for (int i = 0; i < GPU_SENSORS; i++) {
        const uint8_t *record = bytes + offsetof(GpuzLayout, sensors) + sizeof(GpuzSensorLayout) * (size_t)i;
        GpuSensor *sensor = &out->sensors[i];
        copy_units(record + offsetof(GpuzSensorLayout, name), GPU_NAME_UNITS, sensor->name);
        copy_units(record + offsetof(GpuzSensorLayout, unit), GPU_UNIT_UNITS, sensor->unit);
        sensor->decimals = u32_at(record + offsetof(GpuzSensorLayout, decimals));
        sensor->value = f64_at(record + offsetof(GpuzSensorLayout, value));
    }
    return GPU_BLOCK_READ;
}

// ---- FRAPS --------------------------------------------------------------------------

uint32_t fraps_rate(const uint8_t *bytes, size_t size)
{
    const size_t at = offsetof(FrapsRecordLayout, current_fps);
    return bytes && size >= at + 4 ? u32_at(bytes + at) : 0;
}

// ---- Texts ----------------------------------------------------------------------------

static char *put_text(char *out, size_t size, const char *text)
{
    if (out && size)
        snprintf(out, size, "%s", text);
    return out;
}

char *fan_reading_text(int kind, int32_t value, int fahrenheit, char *out, size_t size)
{
    if (!out || !size)
        return out;
    int64_t v = value; // 64 bits: neither the conversion nor the sign can overflow
    if (kind == FAN_KIND_FAN) {
        snprintf(out, size, "%lld", (long long)v);
        return out;
    }
    char unit = 'V';
    if (kind == FAN_KIND_TEMP) {
        unit = fahrenheit ? 'F' : 'C';
        if (fahrenheit)
            v = v * 9 / 5 + 3200;
    }
    const char *sign = v < 0 ? "-" : "";
    const uint64_t magnitude = (uint64_t)(v < 0 ? -v : v);
    if (kind == FAN_KIND_TEMP)
        snprintf(out, size, "%s%llu.%llu\260%c", sign, (unsigned long long)(magnitude / 100),
                 (unsigned long long)(magnitude % 100 / 10), unit);
    else
        snprintf(out, size, "%s%llu.%02lluV", sign, (unsigned long long)(magnitude / 100),
                 (unsigned long long)(magnitude % 100));
    return out;
}

char *core_temp_text(int32_t degrees, int fahrenheit, char *out, size_t size)
{
    if (out && size)
        snprintf(out, size, "%ld\260%c", (long)degrees, fahrenheit ? 'F' : 'C');
    return out;
}

char *gpu_value_text(double value, uint32_t decimals, char *out, size_t size)
{
    if (!out || !size)
        return out;
    const int precision = (int)at_most(decimals, GPU_MAX_DECIMALS);
    char text[SENSOR_TEXT_BYTES];
    // "nan" and "inf" are no readings, and a value of hundreds of digits is none either
    int n = isfinite(value) ? snprintf(text, sizeof text, "%.*f", precision, value) : -1;
    return put_text(out, size, n > 0 && (size_t)n < sizeof text ? text : "--");
}

const uint16_t *gpu_unit_shown(const uint16_t *unit)
{
    return unit && unit[0] == '%' && unit[1] == '%' ? unit + 1 : unit;
}

char *fps_text(uint32_t rate, char *out, size_t size)
{
    if (out && size)
        snprintf(out, size, "%lu", (unsigned long)rate);
    return out;
}
