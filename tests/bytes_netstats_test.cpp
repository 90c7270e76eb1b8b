// Network statistics bytes: adapter descriptions with odd bytes and lengths,
// counter steps across wraps and resets, the places of the interface
// baselines, and the UTF-8 cutting the hung application killer relies on.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "netbytes.h"
#include "utf8_text.h"

namespace {

TEST(NetBytes, DescriptionsKeepToTheirLengthTheReplyAndPrintableBytes)
{
    const std::string name = "Ethernet \x01\x7f\xe9 A";
    const struct { size_t size; uint32_t length; const char *description; } cases[] = {
        {225, 14, "Ethernet ??\xe9 A"}, {225, 9, "Ethernet "}, {100, 14, "Ethernet"}, {68, 14, ""},
        {225, 5000, nullptr}, // claims more than the reply holds: up to its end
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> bytes(TDI_IF_ENTRY_BYTES, 0xee);
        memcpy(&bytes[88], &c.length, 4);
        memcpy(&bytes[92], name.data(), name.size());
        TdiInterface got;
        ASSERT_EQ(tdi_decode_interface(bytes.data(), c.size, &got), 1);
        EXPECT_EQ(std::string(got.description), c.description ? c.description : "Ethernet ??\xe9 A" + std::string(119, '\xee'));
    }
    TdiInterface got;
    EXPECT_EQ(tdi_decode_interface(std::vector<uint8_t>(67).data(), 67, &got), 0) << "no room for the counters";
}

TEST(NetBytes, CounterStepsAcrossWrapsAndResets)
{
    const struct { uint64_t last, now; int wide; uint32_t step; } cases[] = {
        {1000, 1500, 0, 500},         {0xffffff00u, 0x100, 0, 0x200}, // 32-bit wrap
        {0x1ffffff00u, 0x200000100u, 0, 0x200},                        // only the low 32 bits count
        {5000, 1000, 0, 0},                                            // went backwards
        {0, 0x7fffffffu, 0, 0x7fffffffu}, {0, 0x80000000u, 0, 0},      // a replaced counter is no traffic
        {0x100000000u, 0x100000400u, 1, 0x400}, {0x100000400u, 0x400, 1, 0}, {0, 0x300000000u, 1, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(net_counter_step(c.last, c.now, c.wide), c.step) << c.last << " -> " << c.now;
}

TEST(NetBytes, InterfacesTakeThirtyTwoPlacesAndGiveUpThoseOfVanishedOnes)
{
    NetInterfaceTable table = {};
    for (uint64_t pass = 0; pass < 3; pass++) { // interface 1 is gone after the first pass
        uint64_t in = 0, out = 0;
        int measured = 0;
        net_interfaces_begin(&table);
        for (uint32_t i = pass ? 2 : 1; i <= NET_INTERFACES + 1; i++)
            measured += net_interfaces_update(&table, i, 100 * i + pass, 10 * i, 0, &in, &out);
        net_interfaces_sweep(&table);
        // the 33rd waits until 1's place is given up, then starts with a baseline
        EXPECT_EQ(measured, pass == 1 ? NET_INTERFACES - 1 : NET_INTERFACES) << pass;
        EXPECT_EQ(in, pass ? NET_INTERFACES - 1u : 0u) << pass;
    }
}

TEST(Utf8Text, CutsOnCharacterBoundaries)
{
    const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"; // a, e-acute, euro, emoji
    const size_t fits[][2] = {{0, 0}, {2, 1}, {5, 3}, {6, 6}, {9, 6}, {10, 10}};
    for (const auto &f : fits)
        EXPECT_EQ(utf8_fit(text.c_str(), text.size(), f[0]), f[1]) << f[0];

    const char *drops[][2] = {{text.c_str(), "a\xc3\xa9\xe2\x82\xac"}, {"\xc3\xa9", ""}, {"", ""},
                              {"a\x82\x82", "a\x82"}, {"\x82\x82\x82\x82", "\x82\x82\x82"}}; // stray bytes one by one
    for (const auto &d : drops) {
        char buffer[16];
        strcpy(buffer, d[0]);
        EXPECT_EQ(utf8_drop_last(buffer), strlen(d[1])) << d[0];
        EXPECT_STREQ(buffer, d[1]);
    }
}

} // namespace
