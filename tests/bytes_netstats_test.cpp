// Network statistics bytes: TDI interface entries and NDIS answers of every
// size, counter steps across wraps and resets, the interface baselines, and
// the UTF-8 cutting the hung application killer shortens names with.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "netbytes.h"
#include "utf8_text.h"

namespace {

void put32(std::vector<uint8_t> &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[at + (size_t)i] = (uint8_t)(value >> (8 * i));
}

// A MIB-II interface entry of 225 bytes with the description at 92.
std::vector<uint8_t> if_entry(uint32_t index, uint32_t type, uint32_t in, uint32_t out, const std::string &text,
                              uint32_t claimed_length)
{
    std::vector<uint8_t> bytes(TDI_IF_ENTRY_BYTES, 0xee);
    put32(bytes, 0, index), put32(bytes, 4, type), put32(bytes, 40, in), put32(bytes, 64, out);
    put32(bytes, 88, claimed_length);
    memcpy(bytes.data() + 92, text.data(), std::min(text.size(), bytes.size() - 92));
    return bytes;
}

TEST(NetBytes, TdiInterfaceEntriesOfEverySize)
{
    const std::string name = "Ethernet \x01\x7f\xe9 A";
    const struct { size_t size; uint32_t claimed; int ok; const char *description; } cases[] = {
        {225, 14, 1, "Ethernet ??\xe9 A"}, // odd bytes shown, Latin-1 kept
        {225, 9, 1, "Ethernet "},          // cut to the length
        {225, 5000, 1, nullptr},           // claims more than the reply holds: up to its end
        {100, 14, 1, "Ethernet"},          // the reply ends inside the text
        {68, 13, 1, ""},                   // counters only
        {67, 13, 0, ""},                   // the outgoing counter cut short
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> bytes = if_entry(7, 6, 0x11223344, 0x55667788, name, c.claimed);
        TdiInterface got;
        ASSERT_EQ(tdi_decode_interface(bytes.data(), c.size, &got), c.ok) << c.size;
        if (!c.ok)
            continue;
        EXPECT_EQ(got.index, 7u);
        EXPECT_EQ(got.in_octets, 0x11223344u);
        EXPECT_EQ(got.out_octets, 0x55667788u);
        if (c.description)
            EXPECT_STREQ(got.description, c.description) << c.size << " " << c.claimed;
        else
            EXPECT_EQ(strlen(got.description), 225u - 92) << "the rest of the reply, no further";
    }
}

TEST(NetBytes, NdisAnswersOfEverySize)
{
    uint8_t stats[NDIS6_STATS_BYTES] = {};
    stats[24] = 0x10, stats[31] = 0x01, stats[56] = 0x20;
    uint64_t in = 0, out = 0;
    EXPECT_EQ(ndis6_decode_stats(stats, 64, &in, &out), 1);
    EXPECT_EQ(in, 0x0100000000000010u);
    EXPECT_EQ(out, 0x20u);
    EXPECT_EQ(ndis6_decode_stats(stats, 63, &in, &out), 0);

    const uint8_t counter[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const struct { size_t size; int used; uint64_t value; } cases[] = {
        {8, 8, 0x0807060504030201u}, {6, 4, 0x04030201u}, {4, 4, 0x04030201u}, {3, 0, 0}, {0, 0, 0},
    };
    for (const auto &c : cases) {
        uint64_t value = 0;
        EXPECT_EQ(ndis_decode_counter(counter, c.size, &value), c.used) << c.size;
        EXPECT_EQ(value, c.value) << c.size;
    }
    EXPECT_EQ(netbytes_received(5000, 225), 225u) << "a reply claiming more than the buffer";
}

TEST(NetBytes, CounterStepsAcrossWrapsAndResets)
{
    const struct { uint64_t last, now; int wide; uint32_t step; } cases[] = {
        {1000, 1500, 0, 500},
        {0xffffff00u, 0x100, 0, 0x200},               // 32-bit wrap
        {0x1ffffff00u, 0x200000100u, 0, 0x200},       // only the low 32 bits count
        {5000, 1000, 0, 0},                           // went backwards
        {1000, 1000 + 0x7fffffffu, 0, 0x7fffffffu},   // the largest step still taken
        {1000, 1000 + 0x80000000u, 0, 0},             // a replaced counter, not traffic
        {0x100000000u, 0x100000400u, 1, 0x400},
        {0x100000400u, 0x400, 1, 0},                  // 64-bit counter reset
        {0, 0x300000000u, 1, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(net_counter_step(c.last, c.now, c.wide), c.step) << c.last << " -> " << c.now;
}

TEST(NetBytes, InterfaceBaselinesComeAndGo)
{
    NetInterfaceTable table = {};
    uint64_t in = 0, out = 0;
    net_interfaces_begin(&table);
    for (uint32_t i = 1; i <= NET_INTERFACES + 1; i++)
        EXPECT_EQ(net_interfaces_update(&table, i, 100 * i, 10 * i, 0, &in, &out), i <= NET_INTERFACES) << i;
    net_interfaces_sweep(&table);
    EXPECT_EQ(in + out, 0u) << "first readings are baselines";

    net_interfaces_begin(&table); // interface 1 is gone
    for (uint32_t i = 2; i <= NET_INTERFACES + 1; i++)
        net_interfaces_update(&table, i, 100 * i + 7, 10 * i + 3, 0, &in, &out);
    net_interfaces_sweep(&table);
    EXPECT_EQ(in, 7u * (NET_INTERFACES - 1)) << "the 33rd took no place and moved nothing yet";
    EXPECT_EQ(out, 3u * (NET_INTERFACES - 1));

    in = out = 0;
    net_interfaces_begin(&table);
    for (uint32_t i = 2; i <= NET_INTERFACES + 1; i++)
        EXPECT_EQ(net_interfaces_update(&table, i, 100 * i + 8, 10 * i + 3, 0, &in, &out), 1) << i;
    EXPECT_EQ(in, NET_INTERFACES - 1u) << "the 33rd took the place 1 gave up, as a baseline";
}

TEST(Utf8Text, CutsOnCharacterBoundaries)
{
    const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"; // a, e-acute, euro, emoji
    const struct { size_t max, fit; } fits[] = {{0, 0}, {1, 1}, {2, 1}, {3, 3}, {5, 3}, {6, 6}, {9, 6}, {10, 10}};
    for (const auto &f : fits)
        EXPECT_EQ(utf8_fit(text.c_str(), text.size(), f.max), f.fit) << f.max;
    EXPECT_EQ(utf8_fit("a\xe2\x82", 3, 10), 1u) << "a sequence cut short at the end";

    const struct { const char *before, *after; } drops[] = {
        {"a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "a\xc3\xa9\xe2\x82\xac"}, {"a\xc3\xa9", "a"}, {"\xc3\xa9", ""},
        {"ab", "a"}, {"", ""}, {"a\x82\x82", "a\x82"}, {"\xe2\x82", "\xe2"}, {"\x82\x82\x82\x82", "\x82\x82\x82"},
    };
    for (const auto &d : drops) {
        char buffer[16];
        strcpy(buffer, d.before);
        EXPECT_EQ(utf8_drop_last(buffer), strlen(d.after)) << d.before;
        EXPECT_STREQ(buffer, d.after);
    }
}

} // namespace
