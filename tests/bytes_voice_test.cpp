// The TeamSpeak records as the clients publish them, good and bad: the
// TeamSpeak 3 block with broken member lists and unterminated texts, the
// TeamSpeak 2 records with lying counts. Natively the decoded texts and the
// input are exact, so the sanitizers see any read past a field or a block.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "voice_records.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void put(Bytes &b, size_t at, uint64_t value, int width)
{
    for (int i = 0; i < width; i++)
        b[at + (size_t)i] = (uint8_t)(value >> (8 * i));
}

void put_text(Bytes &b, size_t at, const std::string &text) { memcpy(&b[at], text.data(), text.size()); }

// Appends a member entry at `at` of the list; returns the next offset.
size_t entry(Bytes &b, size_t at, uint16_t id, int8_t size, const std::string &name, uint8_t mark = 0)
{
    put(b, TS3_MEMBER_LIST + at, id, 2);
    b[TS3_MEMBER_LIST + at + 2] = mark;
    b[TS3_MEMBER_LIST + at + 3] = (uint8_t)size;
    put_text(b, TS3_MEMBER_LIST + at + 4, name);
    return at + 4 + (size_t)(size < 0 ? 0 : size);
}

std::unique_ptr<Ts3State> decode3(const Bytes &b)
{
    auto state = std::make_unique<Ts3State>();
    ts3_decode(b.data(), b.size(), state.get());
    return state;
}

std::vector<std::string> names(const Ts3State &s)
{
    std::vector<std::string> list;
    for (int i = 0; i < s.member_count; i++)
        list.push_back(s.members[i].name);
    return list;
}

TEST(Ts3Block, FieldsAndSpeakers)
{
    Bytes b(TS3_BLOCK_BYTES, 0);
    put_text(b, TS3_SERVER_NAME, std::string(40, 'S')); // no terminator: the user count follows
    put(b, TS3_SIZE_FIELD, 1778, 2), put(b, TS3_MUTED, 1, 1), put(b, TS3_CONNECTION, 0x100000001ull, 8);
    put(b, TS3_SERVER_USERS, 12, 2), put(b, TS3_OWN_ID, 7, 2), put(b, TS3_TALKING, 1, 2);
    put(b, TS3_CHANNEL_USERS, 3, 2);
    put_text(b, TS3_CHANNEL_NAME, "Lobby");
    entry(b, entry(b, 0, 7, 3, "Me"), 9, 6, "Alice", 1);
    put(b, TS3_SPEAKER_KEYS + 8, 5, 8), put(b, TS3_SPEAKER_IDS + 2, 9, 2), put(b, TS3_SPEAKER_SUPPRESS + 4, 0, 4);
    put_text(b, TS3_SPEAKER_TEXTS + 64, std::string(64, 'T')); // no terminator
    auto s = decode3(b);
    EXPECT_TRUE(s->size_field == 1778 && s->muted == 1 && s->connection == 0x100000001ull);
    EXPECT_TRUE(s->server_users == 12 && s->own_id == 7 && s->talking == 1 && s->channel_users == 3);
    EXPECT_EQ(s->server, std::string(32, 'S')) << "cut at the field's end";
    EXPECT_STREQ(s->channel, "Lobby");
    EXPECT_EQ(names(*s), (std::vector<std::string>{"Me", "Alice"}));
    EXPECT_EQ(s->members[1].marked, 1);
    EXPECT_EQ(ts3_find_member(s.get(), 9), 1);
    EXPECT_EQ(ts3_find_member(s.get(), 8), -1);
    EXPECT_EQ(s->speakers[1].text, std::string(64, 'T'));
    EXPECT_TRUE(ts3_speaker_announced(&s->speakers[1]));
    s->speakers[1].suppress = 1;
    EXPECT_FALSE(ts3_speaker_announced(&s->speakers[1]));
    EXPECT_FALSE(ts3_speaker_announced(&s->speakers[0]));

    // a block cut short in the member list reads the rest as zero
    auto cut = decode3(Bytes(b.begin(), b.begin() + TS3_MEMBER_LIST + 5));
    EXPECT_EQ(names(*cut), (std::vector<std::string>{"M"}));
    EXPECT_EQ(decode3(Bytes(1, 0xF2))->size_field, 0xF2);
}

// Every walk ends, stays inside the 768 bytes of the list and reads no name
// past its field. The bytes after the list are lit so that a read past its
// end would show up in a name.
TEST(Ts3Block, BrokenMemberListsEndInsideTheList)
{
    const std::string x127(127, 'x');
    const struct {
        const char *what;
        void (*fill)(Bytes &);
        std::vector<std::string> expected;
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
         {x127, x127, x127, x127, x127, std::string(768 - 5 * 131 - 4, 'y')}},
        {"header across the list end",
         [](Bytes &b) {
             size_t at = 0;
             for (int id = 1; id <= 5; id++)
                 at = entry(b, at, (uint16_t)id, 127, "");
             entry(b, entry(b, at, 6, (int8_t)(766 - at - 4), ""), 7, 0, "");
         },
         {"", "", "", "", "", ""}},
        {"no end mark",
         [](Bytes &b) {
             for (size_t at = 0; at < 768; at += 4)
                 entry(b, at, 3, 0, "");
         },
         std::vector<std::string>(TS3_MAX_MEMBERS, "")},
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
    size_t at = 0;
    at = entry(b, at, 1, 120, a);           // 21 + 1 + 119 = 141
    at = entry(b, at, 2, 120, a, 1);        // 141 + 4 + 119 = 264
    at = entry(b, at, 3, 120, c);           // 264 + 2 + 119 = 385
    at = entry(b, at, 4, 127, d);           // 385 + 126 + 4 > 510: left out
    at = entry(b, at, 5, 100, e);           // 385 + 2 + 99 = 486
    at = entry(b, at, 6, 30, f);            // 486 + 21 + 4 > 510: left out
    entry(b, at, 7, 30, g);                 // 486 + 20 + 4 = 510: fits
    char line[VOICE_LINE_BYTES];
    ts3_member_line(decode3(b).get(), line);
    EXPECT_EQ(std::string(line), "TS3: Channel \"Lobby\": " + a + ", (" + a + "), " + c + ", " + e + ", " + g);
    EXPECT_EQ(strlen(line), 508u);
}

std::unique_ptr<Ts2State> decode2(const Ts2Snapshot &snapshot, size_t size = sizeof(Ts2Snapshot))
{
    auto state = std::make_unique<Ts2State>();
    ts2_decode((const uint8_t *)&snapshot, size, state.get());
    return state;
}

void player(uint8_t *record, int32_t id, int32_t channel, const char *nick, uint32_t flags)
{
    memcpy(record, &id, 4), memcpy(record + 4, &channel, 4), memcpy(record + 46, &flags, 4);
    memcpy(record + 8, nick, strlen(nick) < 30 ? strlen(nick) + 1 : 30);
}

TEST(Ts2Records, RecordsCountsAndMemberLine)
{
    auto snap = std::make_unique<Ts2Snapshot>();
    memset(snap.get(), 0, sizeof *snap);
    memcpy(snap->server, "Alpha", 6);
    int32_t v = 12;
    memcpy(snap->server + TS2_SERVER_PLAYERS, &v, 4);
    player(snap->user, 1, 5, "Me", TS2_FLAG_INPUT_MUTED);
    v = 5, memcpy(snap->user + TS2_CHANNEL_ID, &v, 4);
    v = 3, memcpy(snap->user + TS2_CHANNEL_PLAYERS, &v, 4);
    memset(snap->user + TS2_CHANNEL_NAME, 'L', 30); // unterminated, the parent channel follows
    const char *nicks[] = {"Me", "Away", "Muted", "Deaf", "Elsewhere", "Plain%s"};
    const uint32_t flags[] = {0x10, 0x08, 0x10, 0x20, 0, 0x01};
    for (int i = 0; i < 6; i++)
        player(snap->players[i], i + 1, i == 4 ? 6 : 5, nicks[i], flags[i]);
    memset(snap->players[6], 'N', 50); // a garbage record
    snap->player_count = 7, snap->speaker_count = 2, snap->speakers[0] = 2, snap->speakers[1] = 1;

    auto s = decode2(*snap);
    EXPECT_TRUE(std::string(s->server) == "Alpha" && s->server_players == 12);
    EXPECT_TRUE(s->self.id == 1 && s->self.flags == TS2_FLAG_INPUT_MUTED && s->channel_id == 5);
    EXPECT_EQ(s->channel_players, 3);
    EXPECT_EQ(s->channel, std::string(30, 'L'));
    EXPECT_EQ(s->players[6].nick, std::string(30, 'N'));
    EXPECT_TRUE(s->speaker_count == 2 && s->speakers[0] == 2);
    EXPECT_EQ(ts2_find_player(s.get(), 6), 5);
    char line[VOICE_LINE_BYTES];
    ts2_member_line(s.get(), line);
    EXPECT_EQ(std::string(line), "TS2: Channel \"" + std::string(30, 'L') + "\": (Me), (Away), (Muted), (Deaf), Plain%s");

    const struct {
        int32_t players, speakers;
        int expected_players, expected_speakers;
    } counts[] = {{-1, -5, 0, 0}, {1000, 9, TS2_MAX_PLAYERS, TS2_MAX_SPEAKERS}, {128, 8, 128, 8}};
    for (const auto &c : counts) {
        snap->player_count = c.players, snap->speaker_count = c.speakers;
        auto d = decode2(*snap);
        EXPECT_EQ(d->player_count, c.expected_players) << c.players;
        EXPECT_EQ(d->speaker_count, c.expected_speakers) << c.speakers;
    }
    // a snapshot cut inside the second player reads the rest as zero
    auto cut = decode2(*snap, offsetof(Ts2Snapshot, players) + 58);
    EXPECT_EQ(cut->player_count, TS2_MAX_PLAYERS);
    EXPECT_TRUE(cut->players[1].id == 2 && cut->players[1].channel == 5 && cut->players[1].nick[0] == 0);
    EXPECT_TRUE(cut->players[2].id == 0 && cut->speaker_count == 0);
    EXPECT_TRUE(voice_same_text("Alpha Server", "aLPHA sERVER"));
    EXPECT_FALSE(voice_same_text("Alpha", "Alpha2"));
}

} // namespace
