// Player titles, play times, speaker set-ups and stored endpoint formats,
// from exact buffers (the sanitizers see any read past them).
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>

#include <string>
#include <vector>

#include "media_text.h"
#include "speakers.h"

namespace {

std::string winamp_title(const std::string &bytes)
{
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    AmpTitle title;
    amp_title_decode(exact.data(), exact.size(), &title);
    return title.text;
}

TEST(WinampTitle, SuffixTrimmedInAnyCaseAndOnlyTheLastOne)
{
    const std::pair<std::string, std::string> cases[] = {
        {"12. Artist - Song - Winamp", "12. Artist - Song"},
        {"Song  - WINAMP", "Song"},
        {"Song -  winamp [Stopped]", "Song -  winamp [Stopped]"},
        {"A - Winamp - Winamp", "A - Winamp"},
        {"Song - Winamp [Paused]", "Song"},
        {"- Winamp", ""},
        {"Plain title", "Plain title"},
        {"- Winam", "- Winam"},
        {std::string("Zero\0 - Winamp", 14), "Zero"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(winamp_title(c.first), c.second) << c.first;
}

TEST(WinampTitle, LongTitlesKeep511BytesWithoutAPartialCharacter)
{
    EXPECT_EQ(winamp_title(std::string(600, 'a')), std::string(511, 'a'));
    std::string two_byte = std::string(510, 'a') + "\xC3\xA9" + "tail";
    EXPECT_EQ(winamp_title(two_byte), std::string(510, 'a'));
}

TEST(TunesTitle, ArtistSeparatorAndNameWithin255Bytes)
{
    char out[TUN_TITLE_BYTES];
    tun_title_build("Artist", "Song", out);
    EXPECT_STREQ(out, "Artist - Song");
    tun_title_build(nullptr, "Song", out);
    EXPECT_STREQ(out, " - Song");
    const std::string a254(254, 'a'), a252(252, 'a');
    tun_title_build(a254.c_str(), "Song", out);
    EXPECT_EQ(std::string(out), a254) << "no room for the separator";
    tun_title_build(a252.c_str(), "Song", out);
    EXPECT_EQ(std::string(out), a252 + " - ");
    tun_title_build(std::string(250, 'a').c_str(), "\xC3\xA9\xC3\xA9", out);
    EXPECT_EQ(std::string(out), std::string(250, 'a') + " - \xC3\xA9") << "never half a character";
}

TEST(PlayTime, FormsAndTheBlinkingColon)
{
    char out[PLAY_TIME_BYTES];
    const struct {
        uint32_t seconds;
        int blink;
        const char *text;
    } cases[] = {
        {0, 0, "0:00"},         {65, 1, "1:05"},        {3599, 0, "59:59"},      {3725, 1, "1:02:05"},
        {36300, 0, "10:05"},    {36300, 1, "10 05"},    {35999, 1, "9:59:59"},   {4294967295u, 0, "1193046:28"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(format_play_time(c.seconds, c.blink, out, sizeof out), c.text) << c.seconds;
}

TEST(SpeakerSetups, WordsMasksNamesAndIcons)
{
    const struct {
        const char *word;
        int value;
        uint32_t mask;
        const char *name;
    } setups[] = {
        {"headphone", 1, 0x3, "stereo"}, {"MONO", 2, 0x4, "mono"},         {"quad", 3, 0x33, "quad"},
        {"Stereo", 4, 0x3, "stereo"},    {"surround", 5, 0x107, "surround"}, {"5.1", 6, 0x3F, "5.1"},
        {"7.1wide", 7, 0xFF, "7.1 wide"}, {"7.1", 8, 0x63F, "7.1"},        {"7.1surround", 8, 0x63F, "7.1"},
        {"5.1surround", 9, 0x60F, "5.1 surround"}, {"6.1", 0, 0, ""},     {nullptr, 0, 0, ""},
    };
    for (const auto &s : setups) {
        EXPECT_EQ(speaker_setup_from_word(s.word), s.value) << (s.word ? s.word : "null");
        EXPECT_EQ(speaker_setup_mask(s.value), s.mask);
        EXPECT_STREQ(speaker_setup_name(s.value), s.name);
    }
    const std::pair<uint32_t, int> icons[] = {
        {0x3F, 6},  {0x107, 5}, {0x63F, 8}, {0xFF, 7},   {0x4, 2},     {0x33, 3},   {0x3, 4},
        {0x60F, 6}, {0x0, 2},   {0x1, 2},   {0x7, 4},    {0xF, 3},     {0x1F, 5},   {0x7F, 6},
        {0x3FC, 7}, {0x1FF, 2}, {0xFFFFFFFF, 2},
    };
    for (const auto &i : icons)
        EXPECT_EQ(speaker_icon_for_mask(i.first), i.second) << std::hex << i.first;
}

std::vector<uint8_t> stored_format(uint16_t tag, uint16_t channels, uint16_t extra, size_t size = 48)
{
    std::vector<uint8_t> b(size, 0xEE);
    const uint8_t fields[] = {(uint8_t)tag, (uint8_t)(tag >> 8), (uint8_t)channels, (uint8_t)(channels >> 8),
                              0x80, 0xBB, 0, 0,             // 48000 samples per second
                              0, 0xEE, 2, 0, 4, 0, 24, 0,   // 192000 bytes/s, align 4, 24 bits
                              (uint8_t)extra, (uint8_t)(extra >> 8), 24, 0, 3, 0, 0, 0};
    memcpy(b.data() + 8, fields, std::min(sizeof fields, size > 8 ? size - 8 : 0));
    return b;
}

TEST(EndpointFormat, AdjustedForTheMaskOnlyWhenUsable)
{
    std::vector<uint8_t> b = stored_format(0xFFFE, 2, 22);
    const std::vector<uint8_t> before = b;
    ASSERT_EQ(endpoint_format_adjust(b.data(), b.size(), 0x3F), 1);
    EndpointFormat f;
    ASSERT_EQ(endpoint_format_decode(b.data(), b.size(), &f), 1);
    EXPECT_EQ(f.channel_mask, 0x3Fu);
    EXPECT_EQ(f.channels, 6);
    EXPECT_EQ(f.block_align, 18);
    EXPECT_EQ(f.bytes_per_second, 3u * 6 * 48000);
    EXPECT_EQ(f.samples_per_second, 48000u);
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + 8, before.begin())) << "header kept";
    EXPECT_TRUE(std::equal(b.begin() + 32, b.end(), before.begin() + 32)) << "sub-format kept";

    const std::vector<uint8_t> refused[] = {stored_format(1, 2, 22), stored_format(0xFFFE, 2, 21),
                                            stored_format(0xFFFE, 33, 22), stored_format(0xFFFE, 2, 22, 47)};
    for (std::vector<uint8_t> r : refused) {
        const std::vector<uint8_t> copy = r;
        EXPECT_EQ(endpoint_format_adjust(r.data(), r.size(), 0x3), 0);
        EXPECT_EQ(r, copy);
    }
}

} // namespace
