// Speaker set-ups: the configuration words and DirectSound values, their
// channel masks, the icon a channel mask is shown with, and the endpoint's
// stored stream formats that a change adjusts. No Windows header here: this
// builds natively too (sanitizer tests).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    SPEAKER_SETUP_MIN = 1,   // DirectSound's speaker configuration values
    SPEAKER_SETUP_MAX = 9,
    SPEAKER_HEADPHONE = 1,
    SPEAKER_MONO = 2,
    SPEAKER_QUAD = 3,
    SPEAKER_STEREO = 4,
    SPEAKER_SURROUND = 5,
    SPEAKER_5_1 = 6,
    SPEAKER_7_1_WIDE = 7,
    SPEAKER_7_1 = 8,
    SPEAKER_5_1_SURROUND = 9,
};

// The value a configuration word names ("headphone", "5.1", "7.1wide", ...,
// without regard to letter case); 0 for any other word or null.
int speaker_setup_from_word(const char *word);
// The channel mask a change to `value` asks for; 0 outside 1..9.
uint32_t speaker_setup_mask(int value);
// The name used in messages ("stereo", "7.1 wide", ...); "" outside 1..9.
const char *speaker_setup_name(int value);
// The set-up whose icon shows a channel mask: known masks exactly, others by
// their number of speakers.
int speaker_icon_for_mask(uint32_t mask);
int speaker_count(uint32_t mask);

// A stored endpoint format (the property store's byte string): 8 header
// bytes, then a WAVEFORMATEXTENSIBLE, 48 bytes in all, little-endian.
enum {
    ENDPOINT_FORMAT_BYTES = 48,
    WAVE_FORMAT_EXTENSIBLE_TAG = 0xFFFE,
    FORMAT_EXTENSIBLE_EXTRA = 22,
    FORMAT_MAX_CHANNELS = 32,
};

struct EndpointFormat {
    uint16_t tag;
    uint16_t channels;
    uint32_t samples_per_second;
    uint32_t bytes_per_second;
    uint16_t block_align;
    uint16_t bits_per_sample;
    uint16_t extra_size;
    uint16_t valid_bits;
    uint32_t channel_mask;
};

// Reads the fields; 1 when all 48 bytes are there (size counts), else 0 and
// out is left untouched.
int endpoint_format_decode(const uint8_t *bytes, size_t size, EndpointFormat *out);
// 1 when the format can be adjusted to a channel mask: extensible, an extra
// size of at least 22 and at most 32 channels.
int endpoint_format_usable(const EndpointFormat *format);
// Rewrites a usable format in place for `mask`: its mask, its channel count
// (the mask's speakers), block alignment and bytes per second. 1 when it was
// usable and is adjusted, else 0 and nothing is written; a format whose new
// alignment or rate would not fit its field is not adjusted.
int endpoint_format_adjust(uint8_t *bytes, size_t size, uint32_t mask);
