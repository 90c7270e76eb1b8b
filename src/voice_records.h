// What the two TeamSpeak clients publish, decoded from plain bytes: the
// TeamSpeak 3 plug-in's state block "TS3STATE_DATA" and the records that the
// TeamSpeak 2 library fills in. No Windows header here: this builds natively
// too (sanitizer tests, later the fuzzer).
//
// Both decoders read only the `size` bytes they are given; a field that lies
// (partly) beyond them reads as zero. Every text is copied up to its first NUL
// but never past its field, so an unterminated name is cut at the field's end.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    VOICE_LINE_BYTES = 512, // member line of either module
};

// ---- TeamSpeak 3 ------------------------------------------------------------------
//
// The block, 1778 bytes little-endian (offsets from its start):
//   0x000 u16 size field (1778)     0x004 u8 unmute request   0x005 u8 mute request
//   0x007 u8 microphone muted       0x008 u64 connection id (0: not connected)
//   0x014 32 B server name          0x034 u16 users on server 0x036 u16 own client id
//   0x078 u16 user talking          0x082 48 B channel name   0x0B2 u16 users in channel
//   0x0B4 768 B member list         0x3B4 8 x u64 speaker keys
//   0x3F4 8 x u16 speaker client ids  0x404 8 x u32 suppress flags
//   0x424 8 x 64 B speaker texts    0x624 206 B reserved
//
// A member entry is u16 id (0 ends the list), u8 mark, i8 size of the name
// field, then the name field. The walk stays inside the 768 bytes: an entry
// needs its four header bytes in the list, its name is read only up to the
// list's end, and a negative size (which would make the walk stand still or
// run backwards) ends the list.
enum {
    TS3_BLOCK_BYTES = 1778,
    TS3_SIZE_FIELD = 0x000,
    TS3_UNMUTE_REQUEST = 0x004,
    TS3_MUTE_REQUEST = 0x005,
    TS3_MUTED = 0x007,
    TS3_CONNECTION = 0x008,
    TS3_SERVER_NAME = 0x014,
    TS3_SERVER_NAME_BYTES = 32,
    TS3_SERVER_USERS = 0x034,
    TS3_OWN_ID = 0x036,
    TS3_TALKING = 0x078,
    TS3_CHANNEL_NAME = 0x082,
    TS3_CHANNEL_NAME_BYTES = 48,
    TS3_CHANNEL_USERS = 0x0B2,
    TS3_MEMBER_LIST = 0x0B4,
    TS3_MEMBER_LIST_BYTES = 768,
    TS3_MEMBER_HEADER = 4,
    TS3_MAX_MEMBERS = TS3_MEMBER_LIST_BYTES / TS3_MEMBER_HEADER,
    TS3_NAME_BYTES = 128, // a name field holds at most 127 bytes
    TS3_SPEAKERS = 8,
    TS3_SPEAKER_KEYS = 0x3B4,
    TS3_SPEAKER_IDS = 0x3F4,
    TS3_SPEAKER_SUPPRESS = 0x404,
    TS3_SPEAKER_TEXTS = 0x424,
    TS3_SPEAKER_TEXT_BYTES = 64,
};
static_assert(TS3_MEMBER_LIST + TS3_MEMBER_LIST_BYTES == TS3_SPEAKER_KEYS, "list ends at the speakers");
static_assert(TS3_SPEAKER_KEYS + 8 * TS3_SPEAKERS == TS3_SPEAKER_IDS, "speaker ids follow the keys");
static_assert(TS3_SPEAKER_IDS + 2 * TS3_SPEAKERS == TS3_SPEAKER_SUPPRESS, "suppress flags follow the ids");
static_assert(TS3_SPEAKER_SUPPRESS + 4 * TS3_SPEAKERS == TS3_SPEAKER_TEXTS, "texts follow the flags");
static_assert(TS3_SPEAKER_TEXTS + TS3_SPEAKER_TEXT_BYTES * TS3_SPEAKERS + 206 == TS3_BLOCK_BYTES, "1778 bytes");

struct Ts3Member {
    uint16_t id;
    uint8_t marked;
    char name[TS3_NAME_BYTES];
};

struct Ts3Speaker {
    uint64_t key; // in use when nonzero
    uint16_t id;
    uint32_t suppress;
    char text[TS3_SPEAKER_TEXT_BYTES + 1];
};

struct Ts3State {
    uint16_t size_field;
    uint8_t muted;
    uint64_t connection;
    char server[TS3_SERVER_NAME_BYTES + 1];
    uint16_t server_users;
    uint16_t own_id;
    uint16_t talking;
    char channel[TS3_CHANNEL_NAME_BYTES + 1];
    uint16_t channel_users;
    int member_count;
    Ts3Member members[TS3_MAX_MEMBERS];
    Ts3Speaker speakers[TS3_SPEAKERS];
};

void ts3_decode(const uint8_t *bytes, size_t size, Ts3State *out);
// Index of the member with this id, or -1.
int ts3_find_member(const Ts3State *state, uint16_t id);
// Whether a speaker entry goes to the event ticker.
int ts3_speaker_announced(const Ts3Speaker *speaker);
// "TS3: Channel \"<channel>\":" and the members, as the long press shows them.
void ts3_member_line(const Ts3State *state, char line[VOICE_LINE_BYTES]);

// ---- TeamSpeak 2 ------------------------------------------------------------------
//
// The library's records (32-bit little-endian integers, NUL-terminated texts):
//   server record, 482 B: name at 0 (30 B), players on the server at 478
//   player record, 50 B:  id at 0, channel id at 4, nickname at 8 (30 B), flags at 46
//   user record, 150 B:   the own player record at 0; the user's channel at 50
//                         (id at 50, players at 58, name at 70, 30 B); parent
//                         channel at 100
enum {
    TS2_SERVER_RECORD_BYTES = 482,
    TS2_USER_RECORD_BYTES = 150,
    TS2_PLAYER_RECORD_BYTES = 50,
    TS2_MAX_PLAYERS = 128,
    TS2_MAX_SPEAKERS = 8,
    TS2_NAME_BYTES = 30,
    // The library's texts are in the system code page; the program turns them
    // into UTF-8, which takes up to three bytes a character.
    TS2_TEXT_BYTES = 3 * TS2_NAME_BYTES + 1,
    TS2_SERVER_NAME = 0,
    TS2_SERVER_PLAYERS = 478,
    TS2_PLAYER_ID = 0,
    TS2_PLAYER_CHANNEL = 4,
    TS2_PLAYER_NICK = 8,
    TS2_PLAYER_FLAGS = 46,
    TS2_CHANNEL_ID = 50,
    TS2_CHANNEL_PLAYERS = 58,
    TS2_CHANNEL_NAME = 70,
    TS2_FLAG_AWAY = 0x08,
    TS2_FLAG_INPUT_MUTED = 0x10,
    TS2_FLAG_OUTPUT_MUTED = 0x20,
};

// One query of the library, in the order the worker fills it. The library
// writes into the parts through pointers; the counts go in as capacities.
struct Ts2Snapshot {
    uint8_t server[TS2_SERVER_RECORD_BYTES];
    uint8_t user[TS2_USER_RECORD_BYTES];
    int32_t player_count;
    uint8_t players[TS2_MAX_PLAYERS][TS2_PLAYER_RECORD_BYTES];
    int32_t speaker_count;
    int32_t speakers[TS2_MAX_SPEAKERS];
};
static_assert(offsetof(Ts2Snapshot, player_count) == 632, "snapshot layout");
static_assert(offsetof(Ts2Snapshot, players) == 636, "snapshot layout");
static_assert(offsetof(Ts2Snapshot, speaker_count) == 7036, "snapshot layout");
static_assert(offsetof(Ts2Snapshot, speakers) == 7040, "snapshot layout");
static_assert(sizeof(Ts2Snapshot) == 7072, "snapshot layout");

struct Ts2Player {
    int32_t id;
    int32_t channel;
    uint32_t flags;
    char nick[TS2_TEXT_BYTES];
};

struct Ts2State {
    char server[TS2_TEXT_BYTES];
    int32_t server_players;
    Ts2Player self;
    int32_t channel_id;
    int32_t channel_players;
    char channel[TS2_TEXT_BYTES];
    int player_count;  // 0..TS2_MAX_PLAYERS whatever the library answered
    Ts2Player players[TS2_MAX_PLAYERS];
    int speaker_count; // 0..TS2_MAX_SPEAKERS
    int32_t speakers[TS2_MAX_SPEAKERS];
};

// One player record (or the user record, which starts with the own player).
void ts2_read_player(const uint8_t *record, size_t size, Ts2Player *out);
// bytes: a Ts2Snapshot as the library left it.
void ts2_decode(const uint8_t *bytes, size_t size, Ts2State *out);
// Index of the first player with this id, or -1.
int ts2_find_player(const Ts2State *state, int32_t id);
// "TS2: Channel \"<channel>\":" and the players of the user's channel.
void ts2_member_line(const Ts2State *state, char line[VOICE_LINE_BYTES]);

// ---- Shared -------------------------------------------------------------------------

// Byte comparison with ASCII letters folded; 1 when equal.
int voice_same_text(const char *a, const char *b);
