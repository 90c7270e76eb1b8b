// ts3state.exe: plays the TeamSpeak 3 plug-in. It creates the block
// "TS3STATE_DATA", fills it from a scripted session, and serves the requests
// Pixwick writes into it (bytes 4 and 5), logging each one. It can also
// publish broken member lists and a wrong size field. See README.md.
//
//   ts3state.exe [--script FILE] [--log FILE] [--lifetime S] [--size BYTES]
#include <stdint.h>

#include "ts_script.h"
#include "voice_records.h"

#define BLOCK_NAME "TS3STATE_DATA"

enum { MAX_MEMBERS = 32, NAME_CHARS = 100 };

struct Member {
    uint16_t id;
    uint8_t marked;
    char name[NAME_CHARS];
};

struct Speaker {
    uint16_t id; // 0: entry free
    uint32_t suppress;
    char text[TS3_SPEAKER_TEXT_BYTES];
};

enum MemberList { LIST_NORMAL, LIST_LOOP, LIST_BACKWARDS, LIST_UNTERMINATED, LIST_OVERRUN };

struct Plugin {
    TsRun run;
    HANDLE mapping;
    uint8_t *block;
    size_t size;
    uint16_t size_field;
    uint64_t connection;
    char server[TS3_SERVER_NAME_BYTES];
    uint16_t server_users, own_id, talking;
    char channel[TS3_CHANNEL_NAME_BYTES];
    uint16_t channel_users;
    uint8_t muted;
    int list;
    int member_count;
    Member members[MAX_MEMBERS];
    Speaker speakers[TS3_SPEAKERS];
};

static void put(Plugin *p, size_t at, uint64_t value, int width)
{
    for (int i = 0; i < width; i++)
        if (at + (size_t)i < p->size)
            p->block[at + (size_t)i] = (uint8_t)(value >> (8 * i));
}

static void put_text(Plugin *p, size_t at, const char *text, size_t field)
{
    for (size_t i = 0; i < field && at + i < p->size; i++)
        p->block[at + i] = i < strlen(text) ? (uint8_t)text[i] : 0;
}

// One entry whose name field of `size` bytes holds the name, then `fill`
// (0 for a terminated name). Returns the next offset.
static size_t put_entry(Plugin *p, size_t at, uint16_t id, int size, const char *name, uint8_t fill = 0,
                        uint8_t mark = 0)
{
    const size_t base = TS3_MEMBER_LIST + at, length = strlen(name);
    put(p, base, id, 2);
    put(p, base + 2, mark, 1);
    put(p, base + 3, (uint8_t)(int8_t)size, 1);
    for (int i = 0; i < size; i++)
        put(p, base + 4 + (size_t)i, (size_t)i < length ? (uint8_t)name[i] : fill, 1);
    return at + 4 + (size_t)(size > 0 ? size : 0);
}

// The broken lists come after the real members, so their names still show.
static void put_member_list(Plugin *p)
{
    for (size_t i = 0; i < TS3_MEMBER_LIST_BYTES; i++)
        put(p, TS3_MEMBER_LIST + i, 0, 1);
    size_t at = 0;
    for (int i = 0; i < p->member_count; i++) {
        const Member *m = &p->members[i];
        at = put_entry(p, at, m->id, (int)strlen(m->name) + 1, m->name, 0, m->marked);
    }
    switch (p->list) {
    case LIST_LOOP: // size -4: a walk by the size byte alone never moves on
        put_entry(p, at, 901, -4, "");
        break;
    case LIST_BACKWARDS: // size -100: back before the list
        put_entry(p, at, 902, -100, "");
        break;
    case LIST_UNTERMINATED: // names without terminators, the last one past the list's end
        while (at + 4 < TS3_MEMBER_LIST_BYTES)
            at = put_entry(p, at, (uint16_t)(903 + at), 127, "Unterminated", 'u');
        break;
    case LIST_OVERRUN: // empty names to the last byte, no end mark
        while (at + 4 <= TS3_MEMBER_LIST_BYTES)
            at = put_entry(p, at, 904, 0, "");
        break;
    }
}

static void publish(Plugin *p)
{
    put(p, TS3_SIZE_FIELD, p->size_field, 2);
    put(p, TS3_MUTED, p->muted, 1);
    put(p, TS3_CONNECTION, p->connection, 8);
    put_text(p, TS3_SERVER_NAME, p->server, TS3_SERVER_NAME_BYTES);
    put(p, TS3_SERVER_USERS, p->server_users, 2);
    put(p, TS3_OWN_ID, p->own_id, 2);
    put(p, TS3_TALKING, p->talking, 2);
    put_text(p, TS3_CHANNEL_NAME, p->channel, TS3_CHANNEL_NAME_BYTES);
    put(p, TS3_CHANNEL_USERS, p->channel_users, 2);
    put_member_list(p);
    for (int i = 0; i < TS3_SPEAKERS; i++) {
        const Speaker *s = &p->speakers[i];
        put(p, TS3_SPEAKER_KEYS + 8 * (size_t)i, s->id ? 0x5000u + s->id : 0, 8);
        put(p, TS3_SPEAKER_IDS + 2 * (size_t)i, s->id, 2);
        put(p, TS3_SPEAKER_SUPPRESS + 4 * (size_t)i, s->suppress, 4);
        put_text(p, TS3_SPEAKER_TEXTS + TS3_SPEAKER_TEXT_BYTES * (size_t)i, s->text, TS3_SPEAKER_TEXT_BYTES);
    }
}

// Pixwick writes 1 into byte 5 (mute) or 4 (unmute); the plug-in takes the
// request, clears the byte and reports the new state in byte 7.
static void serve(void *program)
{
    Plugin *p = (Plugin *)program;
    const struct {
        size_t byte;
        uint8_t muted;
        const char *what;
    } requests[] = {{TS3_MUTE_REQUEST, 1, "mute request"}, {TS3_UNMUTE_REQUEST, 0, "unmute request"}};
    for (const auto &r : requests) {
        if (r.byte >= p->size || !p->block[r.byte])
            continue;
        p->block[r.byte] = 0;
        p->muted = r.muted;
        put(p, TS3_MUTED, p->muted, 1);
        ts_log(&p->run, "%s", r.what);
    }
}

static int find_member(const Plugin *p, uint16_t id)
{
    for (int i = 0; i < p->member_count; i++)
        if (p->members[i].id == id)
            return i;
    return -1;
}

static int on_off(const char *word, uint16_t *value)
{
    if (strcmp(word, "on") != 0 && strcmp(word, "off") != 0)
        return 0;
    *value = strcmp(word, "on") == 0;
    return 1;
}

// text null: the client has stopped talking.
static int set_speaker(Plugin *p, uint16_t id, const char *text, uint32_t suppress)
{
    Speaker *entry = 0;
    for (int i = 0; i < TS3_SPEAKERS && !(entry && entry->id == id); i++)
        if (p->speakers[i].id == id || (!entry && !p->speakers[i].id))
            entry = &p->speakers[i];
    if (!text) {
        if (entry && entry->id == id)
            memset(entry, 0, sizeof *entry);
        return 1;
    }
    if (!entry)
        return 0;
    entry->id = id;
    entry->suppress = suppress;
    snprintf(entry->text, sizeof entry->text, "%s", text);
    return 1;
}

static int apply(Plugin *p, char **w, int n)
{
    const char *step = w[0];
    const uint16_t id = n > 1 ? (uint16_t)strtoul(w[1], 0, 10) : 0;
    uint16_t flag = 0;
    if (strcmp(step, "connect") == 0 && n == 3) {
        p->connection = strtoull(w[1], 0, 10);
        snprintf(p->server, sizeof p->server, "%s", w[2]);
    } else if (strcmp(step, "users") == 0 && n == 2) {
        p->server_users = id;
    } else if (strcmp(step, "channel") == 0 && (n == 2 || n == 3)) {
        snprintf(p->channel, sizeof p->channel, "%s", w[1]);
        p->channel_users = n == 3 ? (uint16_t)strtoul(w[2], 0, 10) : 0;
    } else if (strcmp(step, "self") == 0 && n == 2) {
        p->own_id = id;
    } else if (strcmp(step, "join") == 0 && (n == 3 || n == 4) && p->member_count < MAX_MEMBERS) {
        Member *m = &p->members[p->member_count++];
        m->id = id;
        m->marked = n == 4 && strcmp(w[3], "marked") == 0;
        snprintf(m->name, sizeof m->name, "%s", w[2]);
    } else if (strcmp(step, "leave") == 0 && n == 2 && find_member(p, id) >= 0) {
        int i = find_member(p, id);
        memmove(&p->members[i], &p->members[i + 1], sizeof(Member) * (size_t)(p->member_count - i - 1));
        p->member_count--;
    } else if (strcmp(step, "talk") == 0 && (n == 3 || n == 4)) {
        if (!set_speaker(p, id, w[2], n == 4 && strcmp(w[3], "suppressed") == 0))
            return 0;
    } else if (strcmp(step, "quiet") == 0 && n == 2) {
        set_speaker(p, id, 0, 0);
    } else if (strcmp(step, "talking") == 0 && n == 2 && on_off(w[1], &flag)) {
        p->talking = flag;
    } else if (strcmp(step, "mute") == 0 && n == 2 && on_off(w[1], &flag)) {
        p->muted = (uint8_t)flag;
    } else if (strcmp(step, "disconnect") == 0 && n == 1) {
        p->connection = 0;
        p->server[0] = p->channel[0] = 0;
        p->server_users = p->channel_users = 0;
        p->member_count = 0;
        memset(p->speakers, 0, sizeof p->speakers);
    } else if (strcmp(step, "sizefield") == 0 && n == 2) {
        p->size_field = id;
    } else if (strcmp(step, "members") == 0 && n == 2) {
        const char *lists[] = {"normal", "loop", "backwards", "unterminated", "overrun"};
        int found = -1;
        for (int i = 0; i < 5; i++)
            if (strcmp(w[1], lists[i]) == 0)
                found = i;
        if (found < 0)
            return 0;
        p->list = found;
    } else {
        return 0;
    }
    publish(p);
    return 1;
}

static int step(void *program, char **words, int count) { return apply((Plugin *)program, words, count); }

int main(int argc, char **argv)
{
    static Plugin p;
    ts_run_init(&p.run, &p, step, serve);
    p.size = TS3_BLOCK_BYTES;
    p.size_field = TS3_BLOCK_BYTES;
    for (int i = 1; i < argc; i++) {
        if (ts_common_option(&p.run, argc, argv, &i))
            continue;
        if (strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            p.size = strtoul(argv[++i], 0, 10);
            continue;
        }
        fprintf(stderr, "usage: ts3state.exe [--script FILE] [--log FILE] [--lifetime S] [--size BYTES]\n");
        return 2;
    }
    if (p.size < 8)
        p.size = 8;
    p.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, (DWORD)p.size, BLOCK_NAME);
    if (p.mapping && GetLastError() == ERROR_ALREADY_EXISTS) {
        fprintf(stderr, "another " BLOCK_NAME " exists\n");
        return 1;
    }
    p.block = p.mapping ? (uint8_t *)MapViewOfFile(p.mapping, FILE_MAP_ALL_ACCESS, 0, 0, p.size) : 0;
    if (!p.block) {
        fprintf(stderr, "cannot create " BLOCK_NAME ": error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    publish(&p);
    ts_log(&p.run, "block %lu bytes", (unsigned long)p.size);
    int ok = ts_play(&p.run);
    UnmapViewOfFile(p.block);
    CloseHandle(p.mapping);
    ts_run_close(&p.run);
    return ok ? 0 : 3;
}
