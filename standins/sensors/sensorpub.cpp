// The sensor publisher: plays SpeedFan, Core Temp and GPU-Z by creating and
// filling their shared blocks under their real names, as a script says.
// See README.md for the commands.
#include <windows.h>

#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sensor_blocks.h"
#include "standin_script.h"

enum { LIFETIME_SECONDS = 600 };

struct Block {
    const char *word;  // in commands
    const char *name;  // the producer's block name
    size_t layout;     // the producer's block size
    HANDLE mapping;
    uint8_t *bytes;
    size_t size;       // bytes of the mapping as created
};

static Block blocks[] = {
    {"fan", "SFSharedMemory_ALM", sizeof(SpeedFanLayout), 0, 0, 0},
    {"cor", "CoreTempMappingObject", sizeof(CoreTempLayout), 0, 0, 0},
    {"gpu", "GPUZShMem", sizeof(GpuzLayout), 0, 0, 0},
};

static Block *block_named(const char *word)
{
    for (Block &b : blocks)
        if (strcmp(b.word, word) == 0)
            return &b;
    return 0;
}

static void close_block(Block *b)
{
    if (b->bytes)
        UnmapViewOfFile(b->bytes);
    if (b->mapping)
        CloseHandle(b->mapping);
    b->bytes = 0, b->mapping = 0, b->size = 0;
}

// A fresh block of `size` bytes (the layout's size when 0), all zero but for
// the producer's own header fields.
static int open_block(Block *b, size_t size)
{
    close_block(b);
    b->size = size ? size : b->layout;
    b->mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, (DWORD)b->size, b->name);
    b->bytes = b->mapping ? (uint8_t *)MapViewOfFile(b->mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : 0;
    if (!b->bytes) {
        fprintf(stderr, "sensorpub: cannot create %s: error %lu\n", b->name, (unsigned long)GetLastError());
        close_block(b);
        return 0;
    }
    return 1;
}

// Writes n bytes at offset; what lies beyond a short block is dropped, as is
// everything while the block is closed.
static void put(Block *b, size_t offset, const void *value, size_t n)
{
    if (!b->bytes || offset >= b->size)
        return;
    memcpy(b->bytes + offset, value, n < b->size - offset ? n : b->size - offset);
}

static void put_u16(Block *b, size_t offset, unsigned long v) { uint16_t x = (uint16_t)v; put(b, offset, &x, 2); }
static void put_u32(Block *b, size_t offset, unsigned long v) { uint32_t x = (uint32_t)v; put(b, offset, &x, 4); }
static void put_f32(Block *b, size_t offset, double v) { float x = (float)v; put(b, offset, &x, 4); }
static void put_f64(Block *b, size_t offset, double v) { put(b, offset, &v, 8); }

// Decimal, or hexadecimal after "0x"; negative numbers wrap as they do in the blocks.
static unsigned long number(const char *word)
{
    const char *digits = word[0] == '-' ? word + 1 : word;
    return (unsigned long)strtoll(word, 0, digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X') ? 16 : 10);
}
// strtod reads "nan" and "inf" as well.
static double real(const char *word) { return strtod(word, 0); }

// A text as UTF-16 into a field of `units`: terminated only when it is shorter.
static void put_text16(Block *b, size_t offset, size_t units, const char *text)
{
    wchar_t wide[GPU_NAME_UNITS + 1] = L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, GPU_NAME_UNITS + 1);
    size_t length = n > 0 ? (size_t)n - 1 : 0;
    uint16_t field[GPU_NAME_UNITS] = {0};
    for (size_t k = 0; k < units && k < length; k++)
        field[k] = (uint16_t)wide[k];
    put(b, offset, field, 2 * units);
}

// ---- SpeedFan --------------------------------------------------------------------

static int speedfan_command(Block *b, int count, char **w)
{
    static const char *const KINDS[] = {"temps", "fans", "volts"};
    static const size_t COUNTS[] = {offsetof(SpeedFanLayout, temp_count), offsetof(SpeedFanLayout, fan_count),
                                    offsetof(SpeedFanLayout, volt_count)};
    static const size_t VALUES[] = {offsetof(SpeedFanLayout, temps), offsetof(SpeedFanLayout, fans),
                                    offsetof(SpeedFanLayout, volts)};
    if (strcmp(w[1], "version") == 0 && count == 3) {
        put_u16(b, offsetof(SpeedFanLayout, version), number(w[2]));
        return 1;
    }
    if (strcmp(w[1], "counts") == 0 && count == 5) {
        for (int k = 0; k < 3; k++)
            put_u16(b, COUNTS[k], number(w[2 + k]));
        return 1;
    }
    for (int k = 0; k < 3; k++) {
        if (strcmp(w[1], KINDS[k]) != 0)
            continue;
        int n = count - 2 < FAN_READINGS ? count - 2 : FAN_READINGS;
        put_u16(b, COUNTS[k], (unsigned long)n);
        for (int i = 0; i < n; i++)
            put_u32(b, VALUES[k] + 4 * (size_t)i, number(w[2 + i]));
        return 1;
    }
    return 0;
}

static void speedfan_header(Block *b)
{
    put_u16(b, offsetof(SpeedFanLayout, version), 1);
    put_u32(b, offsetof(SpeedFanLayout, size), sizeof(SpeedFanLayout));
    put_u32(b, offsetof(SpeedFanLayout, handle), (unsigned long)(size_t)b->mapping);
}

// ---- Core Temp ----------------------------------------------------------------------

static int coretemp_command(Block *b, int count, char **w)
{
    static const struct {
        const char *word;
        size_t offset;
        int width;
    } FIELDS[] = {
        {"cores", offsetof(CoreTempLayout, core_count), 4},
        {"packages", offsetof(CoreTempLayout, package_count), 4},
        {"fahrenheit", offsetof(CoreTempLayout, fahrenheit), 1},
        {"delta", offsetof(CoreTempLayout, delta_to_tjmax), 1},
    };
    for (const auto &f : FIELDS) {
        if (strcmp(w[1], f.word) == 0 && count == 3) {
            unsigned long v = number(w[2]);
            put(b, f.offset, &v, (size_t)f.width); // little-endian: the low bytes
            return 1;
        }
    }
    if (strcmp(w[1], "temps") == 0) {
        for (int i = 2; i < count && i - 2 < CORE_READINGS; i++)
            put_f32(b, offsetof(CoreTempLayout, temps) + 4 * (size_t)(i - 2), real(w[i]));
        return 1;
    }
    if (strcmp(w[1], "tjmax") == 0) {
        for (int i = 2; i < count && i - 2 < CORE_PACKAGES; i++)
            put_u32(b, offsetof(CoreTempLayout, tjmax) + 4 * (size_t)(i - 2), number(w[i]));
        return 1;
    }
    return 0;
}

static void coretemp_header(Block *b)
{
    put_u32(b, offsetof(CoreTempLayout, package_count), 1);
    const char name[] = "Stand-in CPU";
    put(b, offsetof(CoreTempLayout, cpu_name), name, sizeof name);
}

// ---- GPU-Z ------------------------------------------------------------------------------

static size_t sensor_at(unsigned long i) { return offsetof(GpuzLayout, sensors) + sizeof(GpuzSensorLayout) * i; }

static int gpuz_command(Block *b, int count, char **w)
{
    if (strcmp(w[1], "version") == 0 && count == 3) {
        put_u32(b, offsetof(GpuzLayout, version), number(w[2]));
    } else if (strcmp(w[1], "busy") == 0 && count == 3) {
        put_u32(b, offsetof(GpuzLayout, busy), number(w[2]));
    } else if (strcmp(w[1], "sensor") == 0 && count == 7) { // index name unit decimals value
        const unsigned long i = number(w[2]) % GPU_SENSORS;
        put_text16(b, sensor_at(i) + offsetof(GpuzSensorLayout, name), GPU_NAME_UNITS, w[3]);
        put_text16(b, sensor_at(i) + offsetof(GpuzSensorLayout, unit), GPU_UNIT_UNITS, w[4]);
        put_u32(b, sensor_at(i) + offsetof(GpuzSensorLayout, decimals), number(w[5]));
        put_f64(b, sensor_at(i) + offsetof(GpuzSensorLayout, value), real(w[6]));
    } else if (strcmp(w[1], "value") == 0 && count == 4) {
        put_f64(b, sensor_at(number(w[2]) % GPU_SENSORS) + offsetof(GpuzSensorLayout, value), real(w[3]));
    } else if (strcmp(w[1], "unterminated") == 0 && count == 2) { // every name and unit full, no terminator
        for (unsigned long i = 0; i < GPU_SENSORS; i++)
            for (size_t k = 0; k < GPU_NAME_UNITS + GPU_UNIT_UNITS; k++)
                put_u16(b, sensor_at(i) + 2 * k, 'A' + (k + i) % 26);
    } else {
        return 0;
    }
    return 1;
}

static void gpuz_header(Block *b) { put_u32(b, offsetof(GpuzLayout, version), 1); }

// ---- Commands -----------------------------------------------------------------------------

static void write_header(Block *b)
{
    if (b == &blocks[0])
        speedfan_header(b);
    else if (b == &blocks[1])
        coretemp_header(b);
    else
        gpuz_header(b);
}

static int command(int count, char **w)
{
    if (strcmp(w[0], "quit") == 0)
        return 0;
    Block *target = count >= 2 ? block_named(w[1]) : 0; // open, close, fill, poke
    Block *own = block_named(w[0]);                    // fan ..., cor ..., gpu ...
    int done = 0;
    if (strcmp(w[0], "open") == 0 && target && count <= 3) {
        done = open_block(target, count == 3 ? (size_t)number(w[2]) : 0);
        if (done)
            write_header(target);
    } else if (strcmp(w[0], "close") == 0 && target && count == 2) {
        close_block(target), done = 1;
    } else if (strcmp(w[0], "fill") == 0 && target && count == 3 && target->bytes) {
        memset(target->bytes, (int)number(w[2]), target->size), done = 1;
    } else if (strcmp(w[0], "poke") == 0 && target && count >= 4) { // poke BLOCK OFFSET BYTE...
        for (int k = 3; k < count; k++) {
            uint8_t byte = (uint8_t)number(w[k]);
            put(target, (size_t)number(w[2]) + (size_t)(k - 3), &byte, 1);
        }
        done = 1;
    } else if (own && count >= 2) {
        done = own == &blocks[0] ? speedfan_command(own, count, w)
               : own == &blocks[1] ? coretemp_command(own, count, w)
                                   : gpuz_command(own, count, w);
    }
    if (!done)
        fprintf(stderr, "sensorpub: not understood or not done: %s\n", w[0]);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc < 2 || strcmp(argv[1], "--help") == 0) {
        printf("sensorpub [--run \"CMD; CMD\"] [--script FILE] [--stdin] [--log FILE] [--lifetime S]\n"
               "Publishes SpeedFan, Core Temp and GPU-Z blocks as the script says; see README.md.\n");
        return argc < 2;
    }
    script_limit_lifetime(argc, argv, LIFETIME_SECONDS);
    script_open_log(argc, argv);
    int result = script_run_options(argc, argv, command);
    if (result < 0) {
        fprintf(stderr, "sensorpub: cannot read the script\n");
        return 2;
    }
    if (result > 0 && !script_has_option(argc, argv, "--stdin")) // the blocks stay until the process ends
        Sleep(INFINITE);
    for (Block &b : blocks)
        close_block(&b);
    return 0;
}
