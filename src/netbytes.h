// What the network statistics sources get back from the system, decoded with
// explicit bounds, and the per-interface baselines that turn counters into
// byte counts. No Windows header here: this builds natively too (sanitizer
// tests).
//
// Every decoder takes the bytes that really arrived: the caller passes the
// size the call reported, never more than its own buffer (netbytes_received).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    NET_DESCRIPTION_BYTES = 261, // descriptions: 260 characters and the terminator
    NET_INTERFACES = 32,         // interfaces measured at the same time (TDI, IP Helper)

    TDI_ENTITY_LIST_BYTES = 32768,
    TDI_IF_ENTRY_BYTES = 225,
    TDI_IF_ENTITY = 0x200, // entity type of an interface
    TDI_IF_MIB = 0x202,    // entity kind of an interface with MIB-II statistics
    IF_TYPE_LOOPBACK = 24, // software loopback

    NDIS6_STATS_BYTES = 152,
};

// ---- TDI ---------------------------------------------------------------------

// IOCTL_TCP_QUERY_INFORMATION_EX's input: the object asked for and a context
// of 16 bytes, made of pointer-sized words. So the request is 36 bytes in a
// 32-bit process and 40 (context at 24) in a 64-bit one.
struct TdiRequest {
    uint32_t entity;
    uint32_t instance;
    uint32_t info_class;
    uint32_t info_type;
    uint32_t info_id;
    uintptr_t context[16 / sizeof(uintptr_t)];
};
static_assert(sizeof(void *) != 4 || sizeof(TdiRequest) == 36, "32-bit TDI request is 36 bytes");
static_assert(sizeof(void *) != 4 || offsetof(TdiRequest, context) == 20, "32-bit context at 20");
static_assert(sizeof(void *) != 8 || sizeof(TdiRequest) == 40, "64-bit TDI request is 40 bytes");
static_assert(sizeof(void *) != 8 || offsetof(TdiRequest, context) == 24, "64-bit context at 24");

TdiRequest tdi_request(uint32_t entity, uint32_t instance, uint32_t info_class, uint32_t info_type,
                       uint32_t info_id);

// A MIB-II interface entry as TDI answers it (fields used).
struct TdiInterface {
    uint32_t index;
    uint32_t type;
    uint32_t in_octets;
    uint32_t out_octets;
    char description[NET_DESCRIPTION_BYTES];
};

// Index at 0, type at 4, incoming octets at 40, outgoing at 64, description
// length at 88 and its text from 92. 0 when the counters are not all there;
// a description that is cut short or missing is taken as far as it goes.
int tdi_decode_interface(const uint8_t *bytes, size_t size, TdiInterface *out);

// ---- NDIS --------------------------------------------------------------------

// OID_GEN_STATISTICS answer: received octets at 24, sent octets at 56. 0 when
// the answer stops before them.
int ndis6_decode_stats(const uint8_t *bytes, size_t size, uint64_t *in, uint64_t *out);

// One byte counter of the older OIDs: 8 bytes, or the 4 that a driver with a
// 32-bit counter answers. Returns the bytes used (8 or 4), 0 for anything
// shorter.
int ndis_decode_counter(const uint8_t *bytes, size_t size, uint64_t *value);

// ---- Shared ------------------------------------------------------------------

// What a call says it wrote, limited to the buffer it had.
static inline size_t netbytes_received(uint32_t reported, size_t capacity)
{
    return reported < capacity ? reported : capacity;
}

// A description as shown and matched: up to `length` bytes or the first zero
// byte, at most NET_DESCRIPTION_BYTES - 1, control bytes shown as '?'.
void net_clean_description(const uint8_t *bytes, size_t length, char *out);

// Bytes moved between two readings of a counter that is 32 bits (wide 0,
// taken modulo 2^32, so a wrap counts right) or 64 bits wide. A step of 2^31
// or more in one reading is no traffic but a counter that went backwards or
// was replaced: it counts 0.
uint32_t net_counter_step(uint64_t last, uint64_t now, int wide);

// Baselines of the interfaces being measured, by interface index.
struct NetInterfaceSlot {
    uint32_t used;
    uint32_t seen; // read in the current pass
    uint32_t index;
    uint64_t in, out;
};
struct NetInterfaceTable {
    NetInterfaceSlot slots[NET_INTERFACES];
};

// A reading of interface `index`: adds its steps since the last reading to
// *in_sum and *out_sum, or takes the reading as its baseline when it is new.
// 0 when all NET_INTERFACES places are taken (the interface is not measured).
int net_interfaces_update(NetInterfaceTable *table, uint32_t index, uint64_t in, uint64_t out, int wide,
                          uint64_t *in_sum, uint64_t *out_sum);
// Start of a reading pass, and its end: interfaces not read in the pass are
// gone (or failed) and give up their places.
void net_interfaces_begin(NetInterfaceTable *table);
void net_interfaces_sweep(NetInterfaceTable *table);
