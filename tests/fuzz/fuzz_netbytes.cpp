// What the network sources get back: the input is a TDI interface entry, an
// NDIS statistics answer and an NDIS counter all at once, then read as a run
// of interface readings (13 bytes each) for the per-interface baselines.
#include <stdint.h>
#include <string.h>

#include "fuzz_check.h"
#include "netbytes.h"

namespace {

uint32_t u32_at(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

void check_description(const char *description, size_t limit)
{
    const size_t length = strlen(description);
    FUZZ_CHECK(length <= limit && length < NET_DESCRIPTION_BYTES);
    for (size_t i = 0; i < length; i++)
        FUZZ_CHECK((unsigned char)description[i] >= 0x20 && description[i] != 0x7f);
}

void check_tdi(const uint8_t *data, size_t size)
{
    TdiInterface iface;
    memset(&iface, 0xA5, sizeof iface);
    const int ok = tdi_decode_interface(data, size, &iface);
    FUZZ_CHECK(ok == (size >= 68));
    if (!ok)
        return;
    FUZZ_CHECK(iface.index == u32_at(data) && iface.in_octets == u32_at(data + 40));
    check_description(iface.description, size >= 92 ? size - 92 : 0);
    if (size >= 92)
        FUZZ_CHECK(strlen(iface.description) <= u32_at(data + 88));
}

void check_ndis(const uint8_t *data, size_t size)
{
    uint64_t in = 0, out = 0, counter = 0;
    FUZZ_CHECK(ndis6_decode_stats(data, size, &in, &out) == (size >= 64));
    const int used = ndis_decode_counter(data, size, &counter);
    FUZZ_CHECK(used == (size >= 8 ? 8 : size >= 4 ? 4 : 0));
    if (used == 4)
        FUZZ_CHECK(counter == u32_at(data));
}

// Reading: flags (bit 0 starts a pass, bit 1 ends it, bit 2 a 64-bit
// counter), a small interface index, the two counters.
void check_baselines(const uint8_t *data, size_t size)
{
    NetInterfaceTable table;
    memset(&table, 0, sizeof table);
    for (; size >= 13; data += 13, size -= 13) {
        if (data[0] & 1)
            net_interfaces_begin(&table);
        uint64_t in = 0, out = 0;
        const uint32_t index = data[1] % 40;
        net_interfaces_update(&table, index, u32_at(data + 5), u32_at(data + 9), data[0] >> 2 & 1, &in, &out);
        FUZZ_CHECK(in < 0x80000000u && out < 0x80000000u);
        int places = 0; // an interface has one place at most
        for (const NetInterfaceSlot &slot : table.slots)
            places += slot.used && slot.index == index;
        FUZZ_CHECK(places <= 1);
        if (data[0] & 2)
            net_interfaces_sweep(&table);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check_tdi(data, size);
    check_ndis(data, size);
    char description[NET_DESCRIPTION_BYTES];
    net_clean_description(data, size, description);
    check_description(description, size);
    check_baselines(data, size);
    return 0;
}
