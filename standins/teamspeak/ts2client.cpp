// ts2client.exe: plays the TeamSpeak 2 client for the stand-in library
// TSRemote.dll. It shows a top-level window of class "TApplication" titled
// "TeamSpeak 2" (hidden unless --show), keeps the session in the block that
// the library answers from, plays a scripted session and logs the requests
// the library received. See README.md.
//
//   ts2client.exe [--script FILE] [--log FILE] [--lifetime S] [--show]
#include <stdint.h>

#include "ts2_standin.h"
#include "ts_script.h"
#include "voice_records.h"

enum { MAX_PLAYERS = 128, MAX_SPEAKERS = 8 };

struct Player {
    int32_t id, channel;
    uint32_t flags;
    char nick[TS2_NAME_BYTES];
};

struct Client {
    TsRun run;
    HWND window;
    HANDLE mapping, lock;
    Ts2StandInBlock *block;
    uint32_t flag_requests_seen;
    uint32_t hanging_seen;
    // the session
    char server[TS2_NAME_BYTES];
    int32_t server_players;
    int32_t channel_id, channel_players;
    char channel[TS2_NAME_BYTES];
    int32_t self_id;
    int player_count;
    Player players[MAX_PLAYERS];
    int speaker_count;
    int32_t speakers[MAX_SPEAKERS];
};

static void put32(uint8_t *record, size_t at, int32_t value) { memcpy(record + at, &value, 4); }

static void put_name(uint8_t *record, size_t at, const char *name)
{
    memset(record + at, 0, TS2_NAME_BYTES);
    memcpy(record + at, name, strnlen(name, TS2_NAME_BYTES - 1));
}

static void put_player(uint8_t *record, const Player *p)
{
    memset(record, 0, TS2_PLAYER_RECORD_BYTES);
    put32(record, TS2_PLAYER_ID, p->id);
    put32(record, TS2_PLAYER_CHANNEL, p->channel);
    put_name(record, TS2_PLAYER_NICK, p->nick);
    put32(record, TS2_PLAYER_FLAGS, (int32_t)p->flags);
}

static Player *find_player(Client *c, int32_t id)
{
    for (int i = 0; i < c->player_count; i++)
        if (c->players[i].id == id)
            return &c->players[i];
    return 0;
}

// The own player's flags as the library was asked to set them. Called with
// the lock held.
static void take_requests(Client *c)
{
    Ts2StandInBlock *b = c->block;
    if (b->flag_requests == c->flag_requests_seen)
        return;
    c->flag_requests_seen = b->flag_requests;
    Player *self = find_player(c, c->self_id);
    if (self)
        self->flags = (uint32_t)b->last_flags;
    ts_log(&c->run, "set flags 0x%02x", (unsigned)b->last_flags);
}

static int lock(Client *c)
{
    DWORD got = WaitForSingleObject(c->lock, TS2_STANDIN_LOCK_MS);
    return got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
}

// Writes the session as the library's records.
static void publish(Client *c)
{
    if (!lock(c))
        return;
    take_requests(c);
    Ts2StandInBlock *b = c->block;
    memset(b->server, 0, sizeof b->server);
    put_name(b->server, TS2_SERVER_NAME, c->server);
    put32(b->server, TS2_SERVER_PLAYERS, c->server_players);
    memset(b->user, 0, sizeof b->user);
    const Player *self = find_player(c, c->self_id);
    if (self)
        put_player(b->user, self);
    put32(b->user, TS2_CHANNEL_ID, c->channel_id);
    put32(b->user, TS2_CHANNEL_PLAYERS, c->channel_players);
    put_name(b->user, TS2_CHANNEL_NAME, c->channel);
    b->player_count = c->player_count;
    for (int i = 0; i < c->player_count; i++)
        put_player(b->players[i], &c->players[i]);
    b->speaker_count = c->speaker_count;
    memcpy(b->speakers, c->speakers, sizeof b->speakers);
    ReleaseMutex(c->lock);
}

static void serve(void *program)
{
    Client *c = (Client *)program;
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (c->block->flag_requests != c->flag_requests_seen)
        publish(c); // the library has changed the own flags: show them in every record
    if (c->block->hanging != c->hanging_seen) {
        c->hanging_seen = c->block->hanging;
        ts_log(&c->run, "calls hanging: %u", (unsigned)c->hanging_seen);
    }
}

template <typename T> static void set_block(Client *c, T Ts2StandInBlock::*field, T value)
{
    if (!lock(c))
        return;
    c->block->*field = value;
    ReleaseMutex(c->lock);
}

static int join(Client *c, int32_t id, int32_t channel, const char *nick, uint32_t flags)
{
    Player *p = find_player(c, id);
    if (!p && c->player_count < MAX_PLAYERS)
        p = &c->players[c->player_count++];
    if (!p)
        return 0;
    p->id = id;
    p->channel = channel;
    p->flags = flags;
    snprintf(p->nick, sizeof p->nick, "%s", nick);
    return 1;
}

static void set_speaker(Client *c, int32_t id, int talking)
{
    int at = -1;
    for (int i = 0; i < c->speaker_count; i++)
        if (c->speakers[i] == id)
            at = i;
    if (talking && at < 0 && c->speaker_count < MAX_SPEAKERS)
        c->speakers[c->speaker_count++] = id;
    if (!talking && at >= 0)
        c->speakers[at] = c->speakers[--c->speaker_count];
}

static int on_off(const char *word, uint32_t *value)
{
    *value = strcmp(word, "on") == 0;
    return *value || strcmp(word, "off") == 0;
}

static int apply(Client *c, char **w, int n)
{
    const char *step = w[0];
    const int32_t id = n > 1 ? (int32_t)strtol(w[1], 0, 0) : 0;
    uint32_t flag = 0;
    if (strcmp(step, "server") == 0 && n == 3) {
        snprintf(c->server, sizeof c->server, "%s", w[1]);
        c->server_players = (int32_t)strtol(w[2], 0, 10);
        set_block(c, &Ts2StandInBlock::connected, 1u);
    } else if (strcmp(step, "channel") == 0 && n == 4) {
        c->channel_id = id;
        snprintf(c->channel, sizeof c->channel, "%s", w[2]);
        c->channel_players = (int32_t)strtol(w[3], 0, 10);
    } else if (strcmp(step, "self") == 0 && n == 3) {
        c->self_id = id;
        if (!join(c, id, c->channel_id, w[2], 0))
            return 0;
    } else if (strcmp(step, "join") == 0 && (n == 4 || n == 5)) {
        if (!join(c, id, (int32_t)strtol(w[2], 0, 10), w[3], n == 5 ? (uint32_t)strtoul(w[4], 0, 0) : 0))
            return 0;
    } else if (strcmp(step, "leave") == 0 && n == 2 && find_player(c, id)) {
        Player *p = find_player(c, id);
        *p = c->players[--c->player_count];
        set_speaker(c, id, 0);
    } else if (strcmp(step, "flags") == 0 && n == 3 && find_player(c, id)) {
        find_player(c, id)->flags = (uint32_t)strtoul(w[2], 0, 0);
    } else if ((strcmp(step, "talk") == 0 || strcmp(step, "quiet") == 0) && n == 2) {
        set_speaker(c, id, strcmp(step, "talk") == 0);
    } else if (strcmp(step, "disconnect") == 0 && n == 1) {
        c->player_count = c->speaker_count = 0;
        c->server[0] = c->channel[0] = 0;
        set_block(c, &Ts2StandInBlock::connected, 0u);
    } else if (strcmp(step, "fail") == 0 && n == 2) {
        set_block(c, &Ts2StandInBlock::fail_code, id);
    } else if (strcmp(step, "hang") == 0 && n == 2 && on_off(w[1], &flag)) {
        set_block(c, &Ts2StandInBlock::hang, flag);
    } else if (strcmp(step, "records") == 0 && n == 2) {
        const char *kinds[] = {"normal", "short", "garbage"};
        int found = -1;
        for (int i = 0; i < 3; i++)
            if (strcmp(w[1], kinds[i]) == 0)
                found = i;
        if (found < 0)
            return 0;
        set_block(c, &Ts2StandInBlock::records, (uint32_t)found);
    } else {
        return 0;
    }
    publish(c);
    return 1;
}

static int step(void *program, char **words, int count) { return apply((Client *)program, words, count); }

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l)
{
    return DefWindowProcA(window, message, w, l);
}

static HWND create_window(int show)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = window_procedure;
    wc.hInstance = GetModuleHandleA(0);
    wc.lpszClassName = "TApplication";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("TApplication", "TeamSpeak 2", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                320, 120, 0, 0, wc.hInstance, 0);
    if (window && show)
        ShowWindow(window, SW_SHOWNORMAL);
    return window;
}

int main(int argc, char **argv)
{
    static Client c;
    ts_run_init(&c.run, &c, step, serve);
    int show = 0;
    for (int i = 1; i < argc; i++) {
        if (ts_common_option(&c.run, argc, argv, &i))
            continue;
        if (strcmp(argv[i], "--show") == 0) {
            show = 1;
            continue;
        }
        fprintf(stderr, "usage: ts2client.exe [--script FILE] [--log FILE] [--lifetime S] [--show]\n");
        return 2;
    }
    c.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, sizeof(Ts2StandInBlock),
                                   TS2_STANDIN_BLOCK);
    c.lock = CreateMutexA(0, FALSE, TS2_STANDIN_LOCK);
    c.block = c.mapping ? (Ts2StandInBlock *)MapViewOfFile(c.mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : 0;
    c.window = create_window(show);
    if (!c.block || !c.lock || !c.window) {
        fprintf(stderr, "cannot set up the session: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    c.block->client_pid = GetCurrentProcessId();
    c.block->magic = TS2_STANDIN_MAGIC;
    publish(&c);
    ts_log(&c.run, "window and session ready");
    int ok = ts_play(&c.run);
    DestroyWindow(c.window);
    UnmapViewOfFile(c.block);
    CloseHandle(c.mapping);
    CloseHandle(c.lock);
    ts_run_close(&c.run);
    return ok ? 0 : 3;
}
