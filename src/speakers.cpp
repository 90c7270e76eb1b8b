#include "speakers.h"

#include "config_parse.h"

struct SetupRow {
    const char *word;
    int value;
};

static const SetupRow SETUP_WORDS[] = {
    {"headphone", SPEAKER_HEADPHONE}, {"mono", SPEAKER_MONO},           {"quad", SPEAKER_QUAD},
    {"stereo", SPEAKER_STEREO},       {"surround", SPEAKER_SURROUND},   {"5.1", SPEAKER_5_1},
    {"7.1wide", SPEAKER_7_1_WIDE},    {"7.1", SPEAKER_7_1},             {"7.1surround", SPEAKER_7_1},
    {"5.1surround", SPEAKER_5_1_SURROUND},
};

// Indexed by value - 1: the KSAUDIO_SPEAKER_* mask and the message name.
static const uint32_t SETUP_MASKS[SPEAKER_SETUP_MAX] = {0x3, 0x4, 0x33, 0x3, 0x107, 0x3F, 0xFF, 0x63F, 0x60F};
static const char *const SETUP_NAMES[SPEAKER_SETUP_MAX] = {
    "stereo", "mono", "quad", "stereo", "surround", "5.1", "7.1 wide", "7.1", "5.1 surround"};

int speaker_setup_from_word(const char *word)
{
    if (!word)
        return 0;
    for (const SetupRow &row : SETUP_WORDS)
        if (config_stricmp(word, row.word) == 0)
            return row.value;
    return 0;
}

static int in_range(int value) { return value >= SPEAKER_SETUP_MIN && value <= SPEAKER_SETUP_MAX; }

uint32_t speaker_setup_mask(int value) { return in_range(value) ? SETUP_MASKS[value - 1] : 0; }

const char *speaker_setup_name(int value) { return in_range(value) ? SETUP_NAMES[value - 1] : ""; }

int speaker_count(uint32_t mask)
{
    int n = 0;
    for (; mask; mask &= mask - 1)
        n++;
    return n;
}

int speaker_icon_for_mask(uint32_t mask)
{
    switch (mask) {
    case 0x3F: return SPEAKER_5_1;
    case 0x107: return SPEAKER_SURROUND;
    case 0x63F: return SPEAKER_7_1;
    case 0xFF: return SPEAKER_7_1_WIDE;
    case 0x4: return SPEAKER_MONO;
    case 0x33: return SPEAKER_QUAD;
    case 0x3: return SPEAKER_STEREO;
    }
    switch (speaker_count(mask)) {
    case 2:
    case 3: return SPEAKER_STEREO;
    case 4: return SPEAKER_QUAD;
    case 5: return SPEAKER_SURROUND;
    case 6:
    case 7: return SPEAKER_5_1;
    case 8: return SPEAKER_7_1_WIDE;
    default: return SPEAKER_MONO;
    }
}

// ---- Stored formats ----------------------------------------------------------

// Field offsets in the 48-byte value.
enum {
    AT_TAG = 8,
    AT_CHANNELS = 10,
    AT_RATE = 12,
    AT_BYTES_PER_SECOND = 16,
    AT_BLOCK_ALIGN = 20,
    AT_BITS = 22,
    AT_EXTRA = 24,
    AT_VALID_BITS = 26,
    AT_MASK = 28,
};

static uint16_t get16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
static uint32_t get32(const uint8_t *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }
static void put16(uint8_t *p, uint32_t v) { p[0] = (uint8_t)v, p[1] = (uint8_t)(v >> 8); }
static void put32(uint8_t *p, uint32_t v) { put16(p, v), put16(p + 2, v >> 16); }

int endpoint_format_decode(const uint8_t *bytes, size_t size, EndpointFormat *out)
{
    if (!bytes || size < ENDPOINT_FORMAT_BYTES)
        return 0;
    out->tag = get16(bytes + AT_TAG);
    out->channels = get16(bytes + AT_CHANNELS);
    out->samples_per_second = get32(bytes + AT_RATE);
    out->bytes_per_second = get32(bytes + AT_BYTES_PER_SECOND);
    out->block_align = get16(bytes + AT_BLOCK_ALIGN);
    out->bits_per_sample = get16(bytes + AT_BITS);
    out->extra_size = get16(bytes + AT_EXTRA);
    out->valid_bits = get16(bytes + AT_VALID_BITS);
    out->channel_mask = get32(bytes + AT_MASK);
    return 1;
}

int endpoint_format_usable(const EndpointFormat *format)
{
    return format->tag == WAVE_FORMAT_EXTENSIBLE_TAG && format->extra_size >= FORMAT_EXTENSIBLE_EXTRA &&
           format->channels <= FORMAT_MAX_CHANNELS;
}

int endpoint_format_adjust(uint8_t *bytes, size_t size, uint32_t mask)
{
    EndpointFormat format;
    if (!endpoint_format_decode(bytes, size, &format) || !endpoint_format_usable(&format))
        return 0;
    const uint32_t channels = (uint32_t)speaker_count(mask), bits = format.bits_per_sample;
    const uint64_t block_align = (uint64_t)bits * channels / 8;
    const uint64_t per_second = (uint64_t)(bits / 8) * channels * format.samples_per_second;
    if (block_align > 0xFFFF || per_second > 0xFFFFFFFF) // a wrapped value would be written back as it is
        return 0;
    put32(bytes + AT_MASK, mask);
    put16(bytes + AT_CHANNELS, channels);
    put16(bytes + AT_BLOCK_ALIGN, (uint32_t)block_align);
    put32(bytes + AT_BYTES_PER_SECOND, (uint32_t)per_second);
    return 1;
}
