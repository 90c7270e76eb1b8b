// What the sensor programs publish and what the sensor pages make of it:
// SpeedFan's, Core Temp's and GPU-Z's shared blocks and FRAPS's shared
// record, decoded from their bytes, and the texts the pages show.
//
// Every decoder takes the bytes and their real size (for a file mapping: the
// size of the view as VirtualQuery reports it) and reads nothing outside
// them: a block shorter than its layout counts as not published, counts are
// clamped to their arrays, names stop at their field's end even without a
// terminator. No Windows header here: this builds natively too (sanitizer
// tests and fuzzing).
#pragma once
#include <stddef.h>
#include <stdint.h>

// ---- Layouts, little-endian, packed: the same on 32-bit and 64-bit ----------

#pragma pack(push, 1)

// SpeedFan, "SFSharedMemory_ALM". The handle is 32 bits wide in every SpeedFan
// build; a pointer-sized field there would move everything after it.
struct SpeedFanLayout {
    uint16_t version; // 1
    uint16_t flags;
    int32_t size;     // 402
    uint32_t handle;
    uint16_t temp_count;
    uint16_t fan_count;
    uint16_t volt_count;
    int32_t temps[32]; // hundredths of a degree Celsius
    int32_t fans[32];  // revolutions per minute
    int32_t volts[32]; // hundredths of a volt
};

// Core Temp, "CoreTempMappingObject".
struct CoreTempLayout {
    uint32_t load[256];
    uint32_t tjmax[128];     // per processor package
    uint32_t core_count;     // cores per package
    uint32_t package_count;
    float temps[256];        // package p, core c at p * core_count + c
    float vid;
    float cpu_speed;
    float fsb_speed;
    float multiplier;
    char cpu_name[100];
    uint8_t fahrenheit;      // values in degrees Fahrenheit
    uint8_t delta_to_tjmax;  // values are distances below the package's TjMax
};

// GPU-Z, "GPUZShMem".
struct GpuzTextRecord {
    uint16_t key[256];
    uint16_t value[256];
};
struct GpuzSensorLayout {
    uint16_t name[256]; // UTF-16; empty: no sensor here
    uint16_t unit[8];
    uint32_t decimals;
    double value;
};
struct GpuzLayout {
    uint32_t version; // 1
    uint32_t busy;    // set while GPU-Z writes the block
    uint32_t last_update;
    GpuzTextRecord records[128];
    GpuzSensorLayout sensors[128];
};

// FRAPS: the record "FrapsSharedData" returns.
struct FrapsRecordLayout {
    uint32_t size_of_struct;
    uint32_t current_fps;
    uint32_t total_frames;
    uint32_t time_of_last_frame;
    char game_name[32];
};

#pragma pack(pop)

static_assert(sizeof(SpeedFanLayout) == 402, "SpeedFan block");
static_assert(offsetof(SpeedFanLayout, handle) == 8 && offsetof(SpeedFanLayout, temp_count) == 12 &&
                  offsetof(SpeedFanLayout, temps) == 18 && offsetof(SpeedFanLayout, fans) == 146 &&
                  offsetof(SpeedFanLayout, volts) == 274,
              "SpeedFan block");
static_assert(offsetof(CoreTempLayout, tjmax) == 1024 && offsetof(CoreTempLayout, core_count) == 1536 &&
                  offsetof(CoreTempLayout, package_count) == 1540 && offsetof(CoreTempLayout, temps) == 1544 &&
                  offsetof(CoreTempLayout, fahrenheit) == 2684 && offsetof(CoreTempLayout, delta_to_tjmax) == 2685 &&
                  sizeof(CoreTempLayout) == 2686,
              "Core Temp block");
static_assert(sizeof(GpuzSensorLayout) == 540 && offsetof(GpuzSensorLayout, unit) == 512 &&
                  offsetof(GpuzSensorLayout, decimals) == 528 && offsetof(GpuzSensorLayout, value) == 532,
              "GPU-Z sensor record");
static_assert(sizeof(GpuzLayout) == 200204 && offsetof(GpuzLayout, busy) == 4 &&
                  offsetof(GpuzLayout, sensors) == 131084,
              "GPU-Z block");
static_assert(offsetof(FrapsRecordLayout, current_fps) == 4, "FRAPS record");

// ---- Decoded readings ----------------------------------------------------------

enum {
    FAN_READINGS = 32,
    CORE_READINGS = 256,       // temperatures read at most, all packages together
    CORE_PACKAGES = 128,       // TjMax entries
    GPU_SENSORS = 128,
    GPU_NAME_UNITS = 256,
    GPU_UNIT_UNITS = 8,
    GPU_MAX_DECIMALS = 6,      // a panel never has room for more
    SENSOR_TEXT_BYTES = 32,    // every page text, with room to spare
    FPS_TEXT_BYTES = 11,       // any 32-bit rate: ten digits and the terminator
};

enum FanKind { FAN_KIND_NONE = -1, FAN_KIND_TEMP = 0, FAN_KIND_FAN = 1, FAN_KIND_VOLT = 2 };

struct FanReadings {
    uint32_t count[3];                 // by FanKind: temperatures, fans, voltages; 0..32
    int32_t values[3][FAN_READINGS];   // the same order
};

// 1 when the block is a version 1 SpeedFan block wholly inside size; every
// count is then clamped to 32. Otherwise 0 with all counts 0.
int speedfan_decode(const uint8_t *bytes, size_t size, FanReadings *out);

struct CoreTempSummary {
    uint32_t readings;  // temperatures taken, 0..256; 0 = no data
    int32_t highest;    // whole degrees
    int32_t average;
    uint32_t fahrenheit;
};

// Reads cores x packages temperatures (a package count of 0 counts as one
// package; at most 128 packages and 256 temperatures, the product formed
// without overflow), turns distances to TjMax into temperatures and sums them
// up: each is truncated to whole degrees, and one that is not above 0, is
// 1000 or more, or is not a number counts as 0. 1 when there was at least one
// reading; 0 (summary all zero) when there was none or the block is shorter
// than its layout.
int coretemp_decode(const uint8_t *bytes, size_t size, CoreTempSummary *out);

struct GpuSensor {
    uint16_t name[GPU_NAME_UNITS + 1]; // always terminated
    uint16_t unit[GPU_UNIT_UNITS + 1];
    uint32_t decimals;                 // as published
    double value;
};

struct GpuReadings {
    GpuSensor sensors[GPU_SENSORS];
};

enum GpuBlockState { GPU_BLOCK_ABSENT = 0, GPU_BLOCK_READ = 1, GPU_BLOCK_BUSY = 2 };

// GPU_BLOCK_READ with every sensor record copied when the block is a version 1
// GPU-Z block wholly inside size and not busy; GPU_BLOCK_BUSY, out untouched,
// while GPU-Z writes it; GPU_BLOCK_ABSENT, out untouched, otherwise.
int gpuz_decode(const uint8_t *bytes, size_t size, GpuReadings *out);
// The busy flag alone (0 when the block is shorter than the flag).
int gpuz_busy(const uint8_t *bytes, size_t size);

// The frame rate at offset 4 of a FRAPS record of `size` readable bytes; 0
// when the record is too short to hold it.
uint32_t fraps_rate(const uint8_t *bytes, size_t size);

// ---- Page texts -------------------------------------------------------------------
// Each writes at most size bytes, always terminated (size > 0), and returns out.

// SpeedFan readings: a fan speed as "2500", a voltage in hundredths as
// "12.05V", a temperature in hundredths of a degree Celsius as "45.5\260C",
// or with fahrenheit converted, as "113.9\260F" (tenths truncated). \260 is
// the degree sign of the ANSI code page. Negative values carry one sign in
// front: "-0.50V", "-5.5\260C".
char *fan_reading_text(int kind, int32_t value, int fahrenheit, char *out, size_t size);

// A Core Temp value: "45\260C", "113\260F".
char *core_temp_text(int32_t degrees, int fahrenheit, char *out, size_t size);

// A GPU-Z value with its number of decimals (at most GPU_MAX_DECIMALS are
// shown); "--" for a value that is not a number, is infinite or does not fit.
char *gpu_value_text(double value, uint32_t decimals, char *out, size_t size);

// The unit as shown: a unit that begins with two percent signs loses the first.
const uint16_t *gpu_unit_shown(const uint16_t *unit);

// The frame rate in decimal.
char *fps_text(uint32_t rate, char *out, size_t size);
