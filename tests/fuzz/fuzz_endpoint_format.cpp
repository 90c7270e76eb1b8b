// A speaker endpoint's stored stream format (the property store's bytes, of
// exactly the input's size), adjusted to each speaker set-up's mask as a
// change of set-up rewrites it.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_check.h"
#include "speakers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    EndpointFormat before;
    const int decoded = endpoint_format_decode(data, size, &before);
    FUZZ_CHECK(decoded == (size >= ENDPOINT_FORMAT_BYTES));
    if (decoded) {
        const int icon = speaker_icon_for_mask(before.channel_mask);
        FUZZ_CHECK(icon >= SPEAKER_SETUP_MIN && icon <= SPEAKER_SETUP_MAX);
    }
    uint8_t *bytes = (uint8_t *)malloc(size ? size : 1);
    for (int setup = SPEAKER_SETUP_MIN; setup <= SPEAKER_SETUP_MAX; setup++) {
        const uint32_t mask = speaker_setup_mask(setup);
        memcpy(bytes, data, size);
        const int adjusted = endpoint_format_adjust(bytes, size, mask);
        FUZZ_CHECK(!adjusted || endpoint_format_usable(&before));
        if (!adjusted) {
            FUZZ_CHECK(memcmp(bytes, data, size) == 0);
            continue;
        }
        // a rewritten format is consistent: the mask's speakers, whole frames
        EndpointFormat after;
        FUZZ_CHECK(endpoint_format_decode(bytes, size, &after));
        const uint64_t channels = (uint64_t)speaker_count(mask);
        FUZZ_CHECK(after.channel_mask == mask && after.channels == channels && after.tag == before.tag);
        FUZZ_CHECK(after.block_align == before.bits_per_sample * channels / 8);
        FUZZ_CHECK(after.bytes_per_second == before.bits_per_sample / 8 * channels * before.samples_per_second);
        FUZZ_CHECK(memcmp(bytes + 32, data + 32, size - 32) == 0 && memcmp(bytes, data, 10) == 0);
    }
    free(bytes);
    return 0;
}
