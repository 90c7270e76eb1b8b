// TS2: TeamSpeak 2 through its remote-control library "TSRemote.dll". The
// library is asked only while a "TeamSpeak 2" window exists, and only from a
// worker thread, since its calls can block; the main thread works on what the
// worker publishes and replaces a worker that stops delivering. A short press
// toggles the microphone mute, a long press lists the members of the user's
// channel (or, before a connection, starts the worker afresh).
//
// The panel, 39 x 21 from its corner (X, Y), connected:
//
//    X                                      X+38
//    +-----+---------------------------------+  Y
//    |TS2  |                            12   |  Y+2: players on the server, small font,
//    +-----+                                 |       right edge X+36, only when above 1
//    |   XXX                                 |  Y+7: microphone icon, 13 x 14 at X+1:
//    |  XXXXX                                |       Idle, Muted (own flag 0x10) or Talking
//    |  XXXXX                          3     |  Y+10: players in the user's channel, large
//    |   XXXXX                               |        font, right edge X+36, only when above 1
//    |      XXX                              |        and the server count is shown
//
// Before the library answers, the frame and one word at Y+14: "NO DLL" from
// X+6 when loading failed (always so in a 64-bit build: the library is 32-bit
// only), "WAIT" from X+17 in the 900 ms before a load. Loaded but not
// connected: the frame alone.
//
// The worker, one library cycle:
//
//    no window --> look again every 100 ms
//    window    --> 900 ms pause, load the library (fails: "NO DLL", start over)
//    loaded    --> every 10 ms: a pending mute toggle; once per main-loop period,
//                  in the last 20 ms before next_tick_due, ask server, players,
//                  user and speakers and publish them whole under the mutex
//    a failing call, or 2 s without a completed query --> unload, start over
//
// The main thread restarts the worker when no query completed for 60 s (a
// worker blocked inside the library); the old one is abandoned, not waited
// for, and writes nothing shared once it has been replaced.
#include "mod_ts2.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "lcd.h"
#include "mod_cpu.h"
#include "mod_ts3.h"
#include "popup.h"
#include "slots.h"
#include "ticker.h"
#include "util.h"

Ts2Module g_ts2;
Ts2LoadFn ts2_load = ts2_load_library;
Ts2UnloadFn ts2_unload = ts2_unload_library;
Ts2WindowFn ts2_window = find_ts2_window;

static const char SOURCE[] = "src/mod_ts2";
static const char LIBRARY_NAME[] = "TSRemote.dll";

enum {
    WINDOW_CHECK_MS = 1000, // a page that changes once a second needs no quicker look
    LOAD_PAUSE_MS = 900,
    ERROR_PAUSE_MS = 900,
    LOOP_MS = 10,
    PAUSE_STEP_MS = 100,       // a replaced worker sees its stop flag within this
    QUERY_LEAD_MS = 20,        // query in the last 20 ms before the main loop's tick
    CYCLE_TIMEOUT_MS = 2000,   // no completed query: the worker starts its cycle over
    WORKER_TIMEOUT_MS = 60000, // no completed query: the main thread replaces the worker
    PUBLISH_WAIT_MS = 50,
    SNAPSHOT_WAIT_MS = 100,
    STOP_WAIT_MS = 1000,
    NOT_CONNECTED = -1,        // tsrGetServerInfo's answer without a connection
    POPUP_MS = 2000,
    POPUP_DEFAULT_MS = 0,
    MEMBER_LINE_MS = 1000,
    KEY_DISCONNECTED = 0,
    KEY_CONNECTED = 2,
    KEY_CHANNEL = 3,
    KEY_SERVER = 4,
    KEY_DROPPED = 5,
    KEY_MEMBER_LINE = 6,
    WORD_DY = 13,
    NO_DLL_DX = 5,
    WAIT_DX = 16,
    COUNT_DX = -2,
    COUNT_ROOM = SLOT_WIDTH - 3, // columns X+1 .. X+36
    SERVER_COUNT_DY = 1,
    CHANNEL_COUNT_DY = 9,
};

const char *const ts2_export_names[TSR_EXPORTS] = {
    "tsrQuit",
    "tsrConnect",
    "tsrDisconnect",
    "tsrSendTextMessage",
    "tsrSendTextMessageToChannel",
    "tsrSwitchChannelID",
    "tsrSwitchChannelName",
    "tsrGetLastError",
    "tsrSetWantVoiceReason",
    "tsrSetVoice",
    "tsrSetOperator",
    "tsrSetPlayerFlags",
    "tsrKickPlayerFromServer",
    "tsrKickPlayerFromChannel",
    "tsrGetVersion",
    "tsrGetUserInfo",
    "tsrGetChannelInfoByID",
    "tsrGetChannelInfoByName",
    "tsrGetPlayerInfoByID",
    "tsrGetPlayerInfoByName",
    "tsrGetServerInfo",
    "tsrGetPlayers",
    "tsrGetChannels",
    "tsrGetSpeakers", // missing from very old libraries
};

// ---- The library ---------------------------------------------------------------

void ts2_unload_library(Ts2Library *library)
{
    if (library->module)
        FreeLibrary(library->module);
    memset(library, 0, sizeof *library);
}

static int optional_export(int i) { return i == TSR_SWITCH_CHANNEL_NAME || i == TSR_GET_SPEAKERS; }

int ts2_load_library(Ts2Library *library)
{
    memset(library, 0, sizeof *library);
    library->module = LoadLibraryA(LIBRARY_NAME);
    if (!library->module)
        return 0;
    for (int i = 0; i < TSR_EXPORTS; i++) {
        library->entries[i] = GetProcAddress(library->module, ts2_export_names[i]);
        if (!library->entries[i] && !optional_export(i)) {
            ts2_unload_library(library);
            return 0;
        }
    }
    library->get_server_info = (Ts2RecordFn)(void *)library->entries[TSR_GET_SERVER_INFO];
    library->get_user_info = (Ts2RecordFn)(void *)library->entries[TSR_GET_USER_INFO];
    library->get_players = (Ts2ListFn)(void *)library->entries[TSR_GET_PLAYERS];
    library->get_speakers = (Ts2ListFn)(void *)library->entries[TSR_GET_SPEAKERS];
    library->set_player_flags = (Ts2FlagsFn)(void *)library->entries[TSR_SET_PLAYER_FLAGS];
    return 1;
}

// ---- The worker -------------------------------------------------------------------

// Owned by its thread, which frees it when it ends.
struct Ts2Worker {
    volatile LONG stop;  // set by restart and stop
    LONG generation;     // the module's generation when this worker was started
    HANDLE mutex;        // its own handle of the snapshot mutex
    Ts2Module *module;
    Ts2Library library;  // this worker's own table
    Ts2Snapshot buffer;  // what the library answered this query
};

enum { QUERY_DONE, QUERY_ERROR, QUERY_FAILED };

// Takes the cycle lock while this worker is still the current one; a
// replaced worker gets 0 and must not write any shared field.
static int lock_if_current(Ts2Worker *w)
{
    AcquireSRWLockExclusive(&w->module->cycle_lock);
    if (w->generation == w->module->generation)
        return 1;
    ReleaseSRWLockExclusive(&w->module->cycle_lock);
    return 0;
}

static void unlock(Ts2Worker *w) { ReleaseSRWLockExclusive(&w->module->cycle_lock); }

static int stopped(const Ts2Worker *w) { return w->stop != 0; }

// Sleeps ms in steps; 0 when the stop flag was found set before or after.
static int pause(Ts2Worker *w, DWORD ms)
{
    if (stopped(w))
        return 0;
    while (ms) {
        DWORD step = ms < (DWORD)PAUSE_STEP_MS ? ms : (DWORD)PAUSE_STEP_MS;
        Sleep(step);
        ms -= step;
        if (stopped(w))
            return 0;
    }
    return 1;
}

static uint32_t tick_due(void) { return *(volatile uint32_t *)&next_tick_due; }

// Once per main-loop period, in its last QUERY_LEAD_MS.
static int query_due(uint32_t now, uint32_t due, uint32_t last_update)
{
    return (int32_t)(now + QUERY_LEAD_MS - due) >= 0 && (int32_t)(due - (last_update + QUERY_LEAD_MS)) > 0;
}

static void publish(Ts2Worker *w, uint32_t now)
{
    Ts2Module *ts2 = w->module;
    DWORD got = w->mutex ? WaitForSingleObject(w->mutex, PUBLISH_WAIT_MS) : WAIT_FAILED;
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED)
        return; // this query is skipped; the next one follows a period later
    if (lock_if_current(w)) {
        memcpy(&ts2->published, &w->buffer, sizeof ts2->published);
        ts2->last_update = (LONG)now;
        ts2->connection = TS2_CONNECTED; // never before the data of this connection is there
        unlock(w);
    }
    ReleaseMutex(w->mutex);
}

static int query(Ts2Worker *w, uint32_t now)
{
    const Ts2Library *lib = &w->library;
    Ts2Snapshot *b = &w->buffer;
    memset(b, 0, sizeof *b);
    const int status = lib->get_server_info(b->server);
    if (status == NOT_CONNECTED) {
        if (lock_if_current(w)) {
            w->module->connection = TS2_NOT_CONNECTED;
            w->module->last_update = (LONG)now;
            unlock(w);
        }
        return QUERY_DONE;
    }
    if (status != 0)
        return QUERY_ERROR;
    b->player_count = TS2_MAX_PLAYERS;
    if (lib->get_players(b->players, (int *)&b->player_count) != 0 || lib->get_user_info(b->user) != 0)
        return QUERY_FAILED;
    b->speaker_count = lib->get_speakers ? TS2_MAX_SPEAKERS : 0;
    if (lib->get_speakers && lib->get_speakers(b->speakers, (int *)&b->speaker_count) != 0)
        return QUERY_FAILED;
    publish(w, now);
    return QUERY_DONE;
}

static int toggle_mute(Ts2Worker *w)
{
    uint8_t user[TS2_USER_RECORD_BYTES] = {0};
    if (w->library.get_user_info(user) != 0)
        return 0;
    Ts2Player self;
    ts2_read_player(user, sizeof user, &self);
    return w->library.set_player_flags((int)(self.flags ^ TS2_FLAG_INPUT_MUTED)) == 0;
}

// Presses that arrive while a toggle is under way make the next one.
static int take_toggle_requests(Ts2Worker *w)
{
    if (!w->module->toggle_requests || !lock_if_current(w))
        return 0;
    LONG requests = InterlockedExchange(&w->module->toggle_requests, 0);
    unlock(w);
    return requests != 0;
}

// Returns when the cycle ends: a call failed, no query completed for
// CYCLE_TIMEOUT_MS, or the stop flag is set.
static void library_cycle(Ts2Worker *w)
{
    for (;;) {
        if (stopped(w))
            return;
        if (take_toggle_requests(w) && !toggle_mute(w))
            return;
        const uint32_t now = app_now_ms(), due = tick_due();
        if (query_due(now, due, (uint32_t)w->module->last_update)) {
            int result = query(w, now);
            if (result == QUERY_FAILED || (result == QUERY_ERROR && !pause(w, ERROR_PAUSE_MS)))
                return;
        }
        if ((int32_t)(now - ((uint32_t)w->module->last_update + CYCLE_TIMEOUT_MS)) > 0)
            return;
        if (!pause(w, LOOP_MS))
            return;
    }
}

static void set_library_state(Ts2Worker *w, LONG ready, LONG missing)
{
    if (!lock_if_current(w))
        return;
    w->module->library_ready = ready;
    w->module->library_missing = missing;
    w->module->connection = TS2_UNKNOWN;
    unlock(w);
}

static DWORD WINAPI worker_main(void *argument)
{
    Ts2Worker *w = (Ts2Worker *)argument;
    while (!stopped(w)) {
        const LONG seen = ts2_window() != 0;
        if (!stopped(w))
            InterlockedExchange(&w->module->window_seen, seen);
        if (!seen) {
            pause(w, WINDOW_CHECK_MS);
            continue;
        }
        if (!pause(w, LOAD_PAUSE_MS))
            break;
        if (lock_if_current(w)) {
            w->module->last_update = (LONG)app_now_ms();
            unlock(w);
        }
        if (!ts2_load(&w->library)) {
            set_library_state(w, 0, 1);
            continue;
        }
        set_library_state(w, 1, 0);
        library_cycle(w);
        ts2_unload(&w->library);
        set_library_state(w, 0, 0);
    }
    if (w->mutex)
        CloseHandle(w->mutex);
    free(w);
    return 0;
}

static void start_worker(Ts2Module *ts2, LONG generation)
{
    Ts2Worker *w = (Ts2Worker *)calloc(1, sizeof *w);
    if (!w)
        return;
    w->module = ts2;
    w->generation = generation;
    if (ts2->mutex)
        DuplicateHandle(GetCurrentProcess(), ts2->mutex, GetCurrentProcess(), &w->mutex, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    HANDLE thread = CreateThread(0, 0, worker_main, w, 0, &ts2->worker_id);
    if (!thread) {
        log_error(SOURCE, __LINE__, GetLastError(), "failed to start the TS2 thread");
        SetLastError(0);
        if (w->mutex)
            CloseHandle(w->mutex);
        free(w);
        return;
    }
    ts2->worker_thread = thread;
    ts2->stop_flag = &w->stop;
    if (g_cpu.cpu_count > 1)
        SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
}

// Sets the current worker's stop flag and forgets it; from here on the
// worker writes nothing shared.
static void abandon_worker(Ts2Module *ts2)
{
    AcquireSRWLockExclusive(&ts2->cycle_lock);
    ts2->generation++;
    ReleaseSRWLockExclusive(&ts2->cycle_lock);
    if (ts2->stop_flag)
        *ts2->stop_flag = 1;
    ts2->stop_flag = 0;
}

static int has_worker(const Ts2Module *ts2)
{
    return ts2->worker_thread && ts2->worker_thread != INVALID_HANDLE_VALUE;
}

void ts2_restart(Ts2Module *ts2)
{
    if (has_worker(ts2)) {
        abandon_worker(ts2);
        CloseHandle(ts2->worker_thread);
    }
    ts2->worker_thread = INVALID_HANDLE_VALUE;
    AcquireSRWLockExclusive(&ts2->cycle_lock);
    const LONG generation = ++ts2->generation;
    ts2->library_ready = 0;
    ts2->library_missing = 0;
    ts2->connection = TS2_UNKNOWN;
    ts2->toggle_requests = 0;
    ts2->last_update = (LONG)app_now_ms();
    ReleaseSRWLockExclusive(&ts2->cycle_lock);
    ts2->self_talking = 0;
    memset(&ts2->shown, 0, sizeof ts2->shown);
    memset(&ts2->previous, 0, sizeof ts2->previous);
    // Never waited for: nothing is read from it before the new worker publishes.
    DWORD got = ts2->mutex ? WaitForSingleObject(ts2->mutex, 0) : WAIT_FAILED;
    if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) {
        memset(&ts2->published, 0, sizeof ts2->published);
        ReleaseMutex(ts2->mutex);
    }
    start_worker(ts2, generation);
}

// ---- Poll -------------------------------------------------------------------------

// TeamSpeak 2 names are in the system code page; pop-ups and the ticker
// draw UTF-8 (as TeamSpeak 3 names come).
static void to_utf8(char text[TS2_TEXT_BYTES])
{
    wchar_t wide[TS2_TEXT_BYTES];
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, TS2_TEXT_BYTES);
    if (units <= 0 || !WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, TS2_TEXT_BYTES, 0, 0))
        text[0] = 0;
}

static int take_snapshot(Ts2Module *ts2)
{
    DWORD got = WaitForSingleObject(ts2->mutex, SNAPSHOT_WAIT_MS);
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED)
        return 0;
    ts2_decode((const uint8_t *)&ts2->published, sizeof ts2->published, &ts2->shown);
    ReleaseMutex(ts2->mutex);
    to_utf8(ts2->shown.server);
    to_utf8(ts2->shown.channel);
    for (int i = 0; i < ts2->shown.player_count; i++)
        to_utf8(ts2->shown.players[i].nick);
    return 1;
}

static void announce_changes(Ts2Module *ts2)
{
    const Ts2State *now = &ts2->shown, *before = &ts2->previous;
    if (!voice_same_text(before->server, now->server))
        popup(&g_popups, KEY_SERVER, POPUP_MS, "TS2: Server \"%s\"", now->server);
    if (!voice_same_text(before->channel, now->channel))
        popup(&g_popups, KEY_CHANNEL, POPUP_MS, "TS2: Channel \"%s\"", now->channel);
    for (int i = 0; i < now->player_count; i++) {
        const Ts2Player *p = &now->players[i];
        if (ts2_find_player(before, p->id) < 0 && p->id != now->self.id)
            popup(&g_popups, KEY_CONNECTED, POPUP_MS, "TS2: \"%s\" connected", p->nick);
    }
    for (int i = 0; i < before->player_count; i++)
        if (ts2_find_player(now, before->players[i].id) < 0)
            popup(&g_popups, KEY_DROPPED, POPUP_MS, "TS2: \"%s\" dropped", before->players[i].nick);
}

static void show_talkers(Ts2Module *ts2)
{
    const Ts2State *now = &ts2->shown;
    for (int s = 0; s < now->speaker_count; s++) {
        if (now->speakers[s] == now->self.id) {
            ts2->self_talking = 1;
            continue;
        }
        for (int i = 0; i < now->player_count; i++)
            if (now->players[i].id == now->speakers[s])
                ticker_add(&g_ticker, now->players[i].nick);
    }
}

void ts2_poll(Ts2Module *ts2)
{
    ts2->member_line[0] = 0;
    ts2->self_talking = 0;
    if (second_tick) // also when the worker is stuck in a call
        InterlockedExchange(&ts2->window_seen, ts2_window() != 0);
    if (!ts2->window_seen || !ts2->library_ready)
        return;
    if ((int32_t)(app_now_ms() - ((uint32_t)ts2->last_update + WORKER_TIMEOUT_MS)) > 0) {
        log_error(SOURCE, __LINE__, GetLastError(), "TS2 thread timeout -- restarting");
        SetLastError(0);
        ts2_restart(ts2);
        return;
    }
    const LONG connection = ts2->connection;
    if (connection == TS2_UNKNOWN)
        return;
    if (connection == TS2_NOT_CONNECTED) {
        if (ts2->previous.server[0]) {
            popup(&g_popups, KEY_DISCONNECTED, POPUP_DEFAULT_MS, "TS2: Disconnected");
            memset(&ts2->previous, 0, sizeof ts2->previous);
        }
        return;
    }
    if (!take_snapshot(ts2)) {
        log_error(SOURCE, __LINE__, GetLastError(), "TS2 mutex timed out");
        SetLastError(0);
        return;
    }
    announce_changes(ts2);
    ts2_member_line(&ts2->shown, ts2->member_line);
    show_talkers(ts2);
    ts2->previous = ts2->shown;
    ts2->previous.speaker_count = 0;
    memset(ts2->previous.speakers, 0, sizeof ts2->previous.speakers);
}

// ---- Render -----------------------------------------------------------------------

static void restart_on_long_press(Ts2Module *ts2, Slot *slot)
{
    if (slot->pending_action != 2)
        return;
    slot->pending_action = 0;
    ts2_restart(ts2);
}

// A count is drawn only when it is above 1; one too wide for the panel (a
// garbage record) is not drawn at all, so nothing spills into the next panel.
static int draw_count(Slot *slot, int flags, int dy, int32_t count)
{
    char text[16];
    snprintf(text, sizeof text, "%d", (int)count);
    if (count <= 1 || slot_text(slot, flags | TXT_MEASURE, COUNT_DX, dy, text) > COUNT_ROOM)
        return 0;
    slot_text(slot, flags, COUNT_DX, dy, text);
    return 1;
}

static void draw_counts(Slot *slot, const Ts2State *state)
{
    if (draw_count(slot, TXT_RIGHT, SERVER_COUNT_DY, state->server_players))
        draw_count(slot, TXT_RIGHT | TXT_LARGE, CHANNEL_COUNT_DY, state->channel_players);
}

// Draws from this tick's copy of the published snapshot: render never waits.
int ts2_render(Ts2Module *ts2, int s)
{
    if (s < 0 || s >= SLOT_COUNT || !ts2->window_seen)
        return 0;
    Slot *slot = &g_slots[s];
    slot_draw_frame(slot, ts2->code);
    if (!ts2->library_ready) {
        if (ts2->library_missing)
            slot_text(slot, 0, NO_DLL_DX, WORD_DY, "NO DLL");
        else
            slot_text(slot, 0, WAIT_DX, WORD_DY, "WAIT");
        restart_on_long_press(ts2, slot);
        return 1;
    }
    if (ts2->connection != TS2_CONNECTED) {
        restart_on_long_press(ts2, slot);
        return 1;
    }
    if (slot->pending_action == 2) {
        slot->pending_action = 0;
        popup(&g_popups, KEY_MEMBER_LINE, MEMBER_LINE_MS, "%s", ts2->member_line);
    }
    draw_counts(slot, &ts2->shown);
    if (slot->pending_action == 1) {
        slot->pending_action = 0;
        InterlockedIncrement(&ts2->toggle_requests);
    }
    ts_draw_icon(slot->x, slot->y, ts2->self_talking, (ts2->shown.self.flags & TS2_FLAG_INPUT_MUTED) != 0);
    return 1;
}

// ---- Life cycle --------------------------------------------------------------------

void ts2_start(Ts2Module *ts2)
{
    ts2->mutex = CreateMutexA(0, FALSE, 0);
    if (!ts2->mutex) {
        log_error(SOURCE, __LINE__, GetLastError(), "failed to create the TS2 mutex");
        SetLastError(0);
    }
    ts2->worker_thread = INVALID_HANDLE_VALUE;
    ts2->stop_flag = 0;
    ts2->window_seen = 0;
    ts2_restart(ts2);
}

void ts2_stop(Ts2Module *ts2, int wait)
{
    if (has_worker(ts2)) {
        abandon_worker(ts2);
        if (wait && WaitForSingleObject(ts2->worker_thread, STOP_WAIT_MS) != WAIT_OBJECT_0)
            TerminateThread(ts2->worker_thread, 0); // blocked inside the library
        CloseHandle(ts2->worker_thread);
    }
    ts2->worker_thread = INVALID_HANDLE_VALUE;
    if (ts2->mutex)
        CloseHandle(ts2->mutex);
    ts2->mutex = 0;
}
