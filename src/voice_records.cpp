#include "voice_records.h"

#include <stdio.h>
#include <string.h>

enum { LINE_LIMIT = VOICE_LINE_BYTES - 2 }; // room for the closing ')' and the terminator

// ---- Bounded reads ------------------------------------------------------------------

static uint32_t read_le(const uint8_t *bytes, size_t size, size_t offset, int width)
{
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; i--)
        value = value << 8 | (offset + (size_t)i < size ? bytes[offset + (size_t)i] : 0u);
    return value;
}

static uint16_t le16(const uint8_t *bytes, size_t size, size_t offset)
{
    return (uint16_t)read_le(bytes, size, offset, 2);
}

static uint32_t le32(const uint8_t *bytes, size_t size, size_t offset)
{
    return read_le(bytes, size, offset, 4);
}

static uint64_t le64(const uint8_t *bytes, size_t size, size_t offset)
{
    return (uint64_t)le32(bytes, size, offset + 4) << 32 | le32(bytes, size, offset);
}

// Copies the text of a field of `field` bytes at `offset` into out (which holds
// field + 1 bytes at least): up to its first NUL, the field's end or the end
// of the bytes, whichever comes first.
static void read_text(const uint8_t *bytes, size_t size, size_t offset, size_t field, char *out)
{
    size_t n = 0;
    while (n < field && offset + n < size && bytes[offset + n])
        n++;
    if (n)
        memcpy(out, bytes + offset, n);
    out[n] = 0;
}

// ---- Member lines -------------------------------------------------------------------

struct MemberLine {
    char *text;
    size_t length;
    int names;
};

static void line_start(MemberLine *line, char *text, const char *prefix, const char *channel)
{
    int n = snprintf(text, VOICE_LINE_BYTES, "%s Channel \"%s\":", prefix, channel);
    line->text = text;
    line->length = n < 0 ? 0 : (size_t)n < VOICE_LINE_BYTES ? (size_t)n : VOICE_LINE_BYTES - 1;
    line->names = 0;
}

// A name that does not fit is left out; a shorter one later may still fit.
static void line_append(MemberLine *line, const char *name, int marked)
{
    const size_t n = strlen(name);
    if (line->length + n + 4 > LINE_LIMIT)
        return;
    char *end = line->text + line->length;
    if (line->names++)
        *end++ = ',';
    *end++ = ' ';
    if (marked)
        *end++ = '(';
    memcpy(end, name, n);
    end += n;
    if (marked)
        *end++ = ')';
    *end = 0;
    line->length = (size_t)(end - line->text);
}

int voice_same_text(const char *a, const char *b)
{
    for (;; a++, b++) {
        unsigned char x = (unsigned char)*a, y = (unsigned char)*b;
        if (x >= 'A' && x <= 'Z')
            x = (unsigned char)(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = (unsigned char)(y + 32);
        if (x != y)
            return 0;
        if (!x)
            return 1;
    }
}

// ---- TeamSpeak 3 ------------------------------------------------------------------

static void ts3_walk_members(const uint8_t *bytes, size_t size, Ts3State *out)
{
    out->member_count = 0;
    if (size <= TS3_MEMBER_LIST)
        return;
    const uint8_t *list = bytes + TS3_MEMBER_LIST;
    const size_t rest = size - TS3_MEMBER_LIST;
    const size_t list_bytes = rest < (size_t)TS3_MEMBER_LIST_BYTES ? rest : (size_t)TS3_MEMBER_LIST_BYTES;
    size_t offset = 0;
    while (out->member_count < TS3_MAX_MEMBERS && offset + TS3_MEMBER_HEADER <= list_bytes) {
        const uint16_t id = le16(list, list_bytes, offset);
        const int name_size = (int8_t)list[offset + 3];
        if (id == 0 || name_size < 0)
            return;
        Ts3Member *m = &out->members[out->member_count++];
        m->id = id;
        m->marked = list[offset + 2];
        read_text(list, list_bytes, offset + TS3_MEMBER_HEADER, (size_t)name_size, m->name);
        offset += TS3_MEMBER_HEADER + (size_t)name_size;
    }
}

void ts3_decode(const uint8_t *bytes, size_t size, Ts3State *out)
{
    memset(out, 0, sizeof *out);
    out->size_field = le16(bytes, size, TS3_SIZE_FIELD);
    out->muted = (uint8_t)read_le(bytes, size, TS3_MUTED, 1);
    out->connection = le64(bytes, size, TS3_CONNECTION);
    read_text(bytes, size, TS3_SERVER_NAME, TS3_SERVER_NAME_BYTES, out->server);
    out->server_users = le16(bytes, size, TS3_SERVER_USERS);
    out->own_id = le16(bytes, size, TS3_OWN_ID);
    out->talking = le16(bytes, size, TS3_TALKING);
    read_text(bytes, size, TS3_CHANNEL_NAME, TS3_CHANNEL_NAME_BYTES, out->channel);
    out->channel_users = le16(bytes, size, TS3_CHANNEL_USERS);
    ts3_walk_members(bytes, size, out);
    for (int i = 0; i < TS3_SPEAKERS; i++) {
        Ts3Speaker *s = &out->speakers[i];
        s->key = le64(bytes, size, TS3_SPEAKER_KEYS + 8 * (size_t)i);
        s->id = le16(bytes, size, TS3_SPEAKER_IDS + 2 * (size_t)i);
        s->suppress = le32(bytes, size, TS3_SPEAKER_SUPPRESS + 4 * (size_t)i);
        read_text(bytes, size, TS3_SPEAKER_TEXTS + TS3_SPEAKER_TEXT_BYTES * (size_t)i, TS3_SPEAKER_TEXT_BYTES,
                  s->text);
    }
}

int ts3_find_member(const Ts3State *state, uint16_t id)
{
    for (int i = 0; i < state->member_count; i++)
        if (state->members[i].id == id)
            return i;
    return -1;
}

int ts3_speaker_announced(const Ts3Speaker *speaker)
{
    return speaker->key != 0 && speaker->id != 0 && speaker->suppress == 0;
}

void ts3_member_line(const Ts3State *state, char line[VOICE_LINE_BYTES])
{
    MemberLine l;
    line_start(&l, line, "TS3:", state->channel);
    for (int i = 0; i < state->member_count; i++)
        line_append(&l, state->members[i].name, state->members[i].marked != 0);
}

// ---- TeamSpeak 2 ------------------------------------------------------------------

static void read_player(const uint8_t *bytes, size_t size, size_t offset, Ts2Player *out)
{
    out->id = (int32_t)le32(bytes, size, offset + TS2_PLAYER_ID);
    out->channel = (int32_t)le32(bytes, size, offset + TS2_PLAYER_CHANNEL);
    out->flags = le32(bytes, size, offset + TS2_PLAYER_FLAGS);
    read_text(bytes, size, offset + TS2_PLAYER_NICK, TS2_NAME_BYTES, out->nick);
}

void ts2_read_player(const uint8_t *record, size_t size, Ts2Player *out)
{
    memset(out, 0, sizeof *out);
    read_player(record, size, 0, out);
}

static int limited(int32_t count, int capacity)
{
    return count < 0 ? 0 : count > capacity ? capacity : (int)count;
}

void ts2_decode(const uint8_t *bytes, size_t size, Ts2State *out)
{
    memset(out, 0, sizeof *out);
    const size_t server = offsetof(Ts2Snapshot, server), user = offsetof(Ts2Snapshot, user);
    read_text(bytes, size, server + TS2_SERVER_NAME, TS2_NAME_BYTES, out->server);
    out->server_players = (int32_t)le32(bytes, size, server + TS2_SERVER_PLAYERS);
    read_player(bytes, size, user, &out->self);
    out->channel_id = (int32_t)le32(bytes, size, user + TS2_CHANNEL_ID);
    out->channel_players = (int32_t)le32(bytes, size, user + TS2_CHANNEL_PLAYERS);
    read_text(bytes, size, user + TS2_CHANNEL_NAME, TS2_NAME_BYTES, out->channel);

    out->player_count = limited((int32_t)le32(bytes, size, offsetof(Ts2Snapshot, player_count)), TS2_MAX_PLAYERS);
    for (int i = 0; i < out->player_count; i++)
        read_player(bytes, size, offsetof(Ts2Snapshot, players) + TS2_PLAYER_RECORD_BYTES * (size_t)i,
                        &out->players[i]);
    out->speaker_count =
        limited((int32_t)le32(bytes, size, offsetof(Ts2Snapshot, speaker_count)), TS2_MAX_SPEAKERS);
    for (int i = 0; i < out->speaker_count; i++)
        out->speakers[i] = (int32_t)le32(bytes, size, offsetof(Ts2Snapshot, speakers) + 4 * (size_t)i);
}

int ts2_find_player(const Ts2State *state, int32_t id)
{
    for (int i = 0; i < state->player_count; i++)
        if (state->players[i].id == id)
            return i;
    return -1;
}

void ts2_member_line(const Ts2State *state, char line[VOICE_LINE_BYTES])
{
    MemberLine l;
    line_start(&l, line, "TS2:", state->channel);
    const uint32_t marks = TS2_FLAG_AWAY | TS2_FLAG_INPUT_MUTED | TS2_FLAG_OUTPUT_MUTED;
    for (int i = 0; i < state->player_count; i++)
        if (state->players[i].channel == state->channel_id)
            line_append(&l, state->players[i].nick, (state->players[i].flags & marks) != 0);
}
