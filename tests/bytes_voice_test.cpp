// The TeamSpeak records, good and bad. Natively the input is exact, so the
// sanitizers see any read past a block.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "voice_records.h"

namespace {

typedef std::vector<uint8_t> Bytes;
typedef std::vector<std::string> Names;

void put(Bytes &b, size_t at, uint64_t value, int width)
{
    for (int i = 0; i < width; i++)
        b[at + (size_t)i] = (uint8_t)(value >> (8 * i));
}

void put_text(Bytes &b, size_t at, const std::string &text) { memcpy(&b[at], text.data(), text.size()); }

// A member entry at list offset `at`; returns the next offset.
size_t entry(Bytes &b, size_t at, uint16_t id, int8_t size, const std::string &name, uint8_t mark = 0)
{
    put(b, TS3_MEMBER_LIST + at, id, 2), put(b, TS3_MEMBER_LIST + at + 2, mark, 1);
    put(b, TS3_MEMBER_LIST + at + 3, (uint8_t)size, 1), put_text(b, TS3_MEMBER_LIST + at + 4, name);
    return at + 4 + (size_t)(size < 0 ? 0 : size);
}

std::unique_ptr<Ts3State> decode3(const Bytes &b)
{
    auto state = std::make_unique<Ts3State>();
    ts3_decode(b.data(), b.size(), state.get());
    return state;
}

Names names(const Ts3State &s)
{
    Names list;
    for (int i = 0; i < s.member_count; i++)
        list.push_back(s.members[i].name);
    return list;
}

// The other fields are seen end to end; here the texts without terminator.
TEST(Ts3Block, TextsCutAtTheirFieldsAndAShortBlock)
{
    Bytes b(TS3_BLOCK_BYTES, 0);
    put_text(b, TS3_SERVER_NAME, std::string(40, 'S')); // runs on into the user count
    put(b, TS3_SERVER_USERS, 12, 2), put_text(b, TS3_SPEAKER_TEXTS + 64, std::string(64, 'T'));
    entry(b, entry(b, 0, 7, 3, "Me"), 9, 6, "Alice", 1);
    auto s = decode3(b);
    EXPECT_TRUE(s->server == std::string(32, 'S') && s->server_users == 12);
    EXPECT_EQ(s->speakers[1].text, std::string(64, 'T'));
    EXPECT_TRUE(names(*s) == (Names{"Me", "Alice"}) && s->members[1].marked);
    // a block cut short in the member list reads the rest as zero
    EXPECT_EQ(names(*decode3(Bytes(b.begin(), b.begin() + TS3_MEMBER_LIST + 5))), (Names{"M"}));
}

// Every walk ends inside the list and reads no name past its field; the bytes
// after the list are lit, so a read past its end would show in a name.
TEST(Ts3Block, BrokenMemberListsEndInsideTheList)
{
    const std::string x(127, 'x');
    const struct {
        const char *what;
        void (*fill)(Bytes &);
        Names expected;
    } cases[] = {
        {"size -4 (would stand still)", [](Bytes &b) { entry(b, entry(b, 0, 1, 2, "A"), 2, -4, "B"); }, {"A"}},
        {"size -40 (would run backwards)", [](Bytes &b) { entry(b, entry(b, 0, 1, 60, "A"), 2, -40, "B"); }, {"A"}},
        {"unterminated name", [](Bytes &b) { entry(b, entry(b, 0, 1, 3, "ABCDE"), 2, 2, "Z"); }, {"ABC", "Z"}},
        {"name field past the list end",
         [](Bytes &b) {
             size_t at = 0;
             for (int id = 1; id <= 5; id++)
                 at = entry(b, at, (uint16_t)id, 127, std::string(127, 'x'));
             entry(b, at, 6, 127, std::string(768 - at - 4, 'y'));
         },
         {x, x, x, x, x, std::string(768 - 5 * 131 - 4, 'y')}},
        {"header across the list end",
         [](Bytes &b) {
             size_t at = 0;
             for (int id = 1; id <= 5; id++)
                 at = entry(b, at, (uint16_t)id, 127, "");
             entry(b, entry(b, at, 6, (int8_t)(766 - at - 4), ""), 7, 0, "");
         },
         Names(6, "")},
        {"no end mark",
         [](Bytes &b) {
             for (size_t at = 0; at < 768; at += 4)
                 entry(b, at, 3, 0, "");
         },
         Names(TS3_MAX_MEMBERS, "")},
    };
    for (const auto &c : cases) {
        Bytes b(TS3_BLOCK_BYTES, 0);
        std::fill(b.begin() + TS3_SPEAKER_KEYS, b.end(), 'Z');
        c.fill(b);
        EXPECT_EQ(names(*decode3(b)), c.expected) << c.what;
    }
}

// The header "TS3: Channel \"Lobby\":" is 21 characters; a name needs its
// length plus 4 to be free below 510.
TEST(Ts3Block, MemberLineSkipsWhatDoesNotFit)
{
    Bytes b(TS3_BLOCK_BYTES, 0);
    put_text(b, TS3_CHANNEL_NAME, "Lobby");
    const std::string a(119, 'a'), c(119, 'c'), d(126, 'd'), e(99, 'e'), f(21, 'f'), g = std::string(18, 'g') + "%s";
    size_t at = entry(b, 0, 1, 120, a);  // 21 + 1 + 119 = 141
    at = entry(b, at, 2, 120, a, 1);     // 141 + 4 + 119 = 264
    at = entry(b, at, 3, 120, c);        // 264 + 2 + 119 = 385
    at = entry(b, at, 4, 127, d);        // 385 + 126 + 4 > 510: left out
    at = entry(b, at, 5, 100, e);        // 385 + 2 + 99 = 486
    at = entry(b, at, 6, 30, f);         // 486 + 21 + 4 > 510: left out
    entry(b, at, 7, 30, g);              // 486 + 20 + 4 = 510: fits
    char line[VOICE_LINE_BYTES];
    ts3_member_line(decode3(b).get(), line);
    EXPECT_EQ(std::string(line), "TS3: Channel \"Lobby\": " + a + ", (" + a + "), " + c + ", " + e + ", " + g);
}

// Garbage records, counts beyond the capacity or below zero, a cut snapshot.
TEST(Ts2Records, LyingRecordsStayInsideTheSnapshot)
{
    auto snap = std::make_unique<Ts2Snapshot>();
    memset(snap.get(), 'N', sizeof *snap);
    const int32_t self = 1, channel = 5;
    memcpy(snap->user, &self, 4), memcpy(snap->user + TS2_CHANNEL_ID, &channel, 4);
    memcpy(snap->players[1], &channel, 4), memcpy(snap->players[1] + 4, &channel, 4);
    auto s = std::make_unique<Ts2State>();
    const int32_t counts[][4] = {{-1, -5, 0, 0}, {1000, 9, TS2_MAX_PLAYERS, TS2_MAX_SPEAKERS}};
    for (const auto &c : counts) {
        snap->player_count = c[0], snap->speaker_count = c[1];
        ts2_decode((const uint8_t *)snap.get(), sizeof *snap, s.get());
        EXPECT_TRUE(s->player_count == c[2] && s->speaker_count == c[3]) << c[0] << " " << c[1];
    }
    EXPECT_TRUE(std::string(s->server) == std::string(30, 'N') && s->self.id == 1 && s->channel_id == 5);
    EXPECT_EQ(s->channel, std::string(30, 'N'));
    EXPECT_EQ(s->players[127].nick, std::string(30, 'N'));
    char line[VOICE_LINE_BYTES];
    ts2_member_line(s.get(), line);
    EXPECT_EQ(std::string(line), "TS2: Channel \"" + std::string(30, 'N') + "\": (" + std::string(30, 'N') + ")");

    ts2_decode((const uint8_t *)snap.get(), offsetof(Ts2Snapshot, players) + 58, s.get());
    EXPECT_TRUE(s->players[1].id == 5 && s->players[1].channel == 5 && s->players[1].nick[0] == 0);
    EXPECT_TRUE(s->players[2].id == 0 && s->speaker_count == 0);
}

} // namespace
