// Decoding of TDI and NDIS answers and the interface baselines; see netbytes.h.
#include "netbytes.h"

#include <string.h>

enum {
    IF_INDEX_AT = 0,
    IF_TYPE_AT = 4,
    IF_IN_OCTETS_AT = 40,
    IF_OUT_OCTETS_AT = 64,
    IF_DESCRIPTION_LENGTH_AT = 88,
    IF_DESCRIPTION_AT = 92,

    NDIS6_IN_OCTETS_AT = 24,
    NDIS6_OUT_OCTETS_AT = 56,

    STEP_LIMIT = 0x80000000u,
};

static uint32_t read_u32(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static uint64_t read_u64(const uint8_t *p)
{
    return (uint64_t)read_u32(p) | (uint64_t)read_u32(p + 4) << 32;
}

TdiRequest tdi_request(uint32_t entity, uint32_t instance, uint32_t info_class, uint32_t info_type,
                       uint32_t info_id)
{
    TdiRequest request;
    memset(&request, 0, sizeof request);
    request.entity = entity;
    request.instance = instance;
    request.info_class = info_class;
    request.info_type = info_type;
    request.info_id = info_id;
    return request;
}

void net_clean_description(const uint8_t *bytes, size_t length, char *out)
{
    size_t n = 0;
    for (; bytes && n < length && n < NET_DESCRIPTION_BYTES - 1 && bytes[n]; n++)
        out[n] = bytes[n] < 0x20 || bytes[n] == 0x7f ? '?' : (char)bytes[n];
    out[n] = 0;
}

int tdi_decode_interface(const uint8_t *bytes, size_t size, TdiInterface *out)
{
    if (!bytes || size < IF_OUT_OCTETS_AT + 4)
        return 0;
    out->index = read_u32(bytes + IF_INDEX_AT);
    out->type = read_u32(bytes + IF_TYPE_AT);
    out->in_octets = read_u32(bytes + IF_IN_OCTETS_AT);
    out->out_octets = read_u32(bytes + IF_OUT_OCTETS_AT);
    out->description[0] = 0;
    if (size >= IF_DESCRIPTION_AT) {
        size_t length = read_u32(bytes + IF_DESCRIPTION_LENGTH_AT);
        size_t room = size - IF_DESCRIPTION_AT;
        net_clean_description(bytes + IF_DESCRIPTION_AT, length < room ? length : room, out->description);
    }
    return 1;
}

int ndis6_decode_stats(const uint8_t *bytes, size_t size, uint64_t *in, uint64_t *out)
{
    if (!bytes || size < NDIS6_OUT_OCTETS_AT + 8)
        return 0;
    *in = read_u64(bytes + NDIS6_IN_OCTETS_AT);
    *out = read_u64(bytes + NDIS6_OUT_OCTETS_AT);
    return 1;
}

int ndis_decode_counter(const uint8_t *bytes, size_t size, uint64_t *value)
{
    if (!bytes || size < 4)
        return 0;
    *value = size >= 8 ? read_u64(bytes) : read_u32(bytes);
    return size >= 8 ? 8 : 4;
}

uint32_t net_counter_step(uint64_t last, uint64_t now, int wide)
{
    uint64_t step = wide ? now - last : (uint32_t)((uint32_t)now - (uint32_t)last);
    if (wide && now < last)
        return 0;
    return step < STEP_LIMIT ? (uint32_t)step : 0;
}

int net_interfaces_update(NetInterfaceTable *table, uint32_t index, uint64_t in, uint64_t out, int wide,
                          uint64_t *in_sum, uint64_t *out_sum)
{
    NetInterfaceSlot *free_slot = 0;
    for (NetInterfaceSlot &slot : table->slots) {
        if (slot.used && slot.index == index) {
            *in_sum += net_counter_step(slot.in, in, wide);
            *out_sum += net_counter_step(slot.out, out, wide);
            slot.in = in, slot.out = out, slot.seen = 1;
            return 1;
        }
        if (!slot.used && !free_slot)
            free_slot = &slot;
    }
    if (!free_slot)
        return 0;
    free_slot->used = 1, free_slot->seen = 1, free_slot->index = index;
    free_slot->in = in, free_slot->out = out;
    return 1;
}

void net_interfaces_begin(NetInterfaceTable *table)
{
    for (NetInterfaceSlot &slot : table->slots)
        slot.seen = 0;
}

void net_interfaces_sweep(NetInterfaceTable *table)
{
    for (NetInterfaceSlot &slot : table->slots)
        if (!slot.seen)
            slot.used = 0;
}
