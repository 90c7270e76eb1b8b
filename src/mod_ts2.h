// TS2: TeamSpeak 2 through its remote-control library "TSRemote.dll", asked
// on a worker thread of the module's own. See mod_ts2.cpp for the picture and
// the worker.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "voice_records.h"

// The library's exports, in the order they are looked up.
enum Ts2Export {
    TSR_QUIT, TSR_CONNECT, TSR_DISCONNECT, TSR_SEND_TEXT_MESSAGE, TSR_SEND_TEXT_MESSAGE_TO_CHANNEL,
    TSR_SWITCH_CHANNEL_ID, TSR_SWITCH_CHANNEL_NAME, TSR_GET_LAST_ERROR, TSR_SET_WANT_VOICE_REASON,
    TSR_SET_VOICE, TSR_SET_OPERATOR, TSR_SET_PLAYER_FLAGS, TSR_KICK_PLAYER_FROM_SERVER,
    TSR_KICK_PLAYER_FROM_CHANNEL, TSR_GET_VERSION, TSR_GET_USER_INFO, TSR_GET_CHANNEL_INFO_BY_ID,
    TSR_GET_CHANNEL_INFO_BY_NAME, TSR_GET_PLAYER_INFO_BY_ID, TSR_GET_PLAYER_INFO_BY_NAME,
    TSR_GET_SERVER_INFO, TSR_GET_PLAYERS, TSR_GET_CHANNELS, TSR_GET_SPEAKERS,
    TSR_EXPORTS
};
extern const char *const ts2_export_names[TSR_EXPORTS];

// The calls the module makes; all answer 0 on success.
typedef int(WINAPI *Ts2RecordFn)(void *record);          // tsrGetServerInfo (-1: not connected), tsrGetUserInfo
typedef int(WINAPI *Ts2ListFn)(void *records, int *count); // tsrGetPlayers, tsrGetSpeakers; count in: capacity
typedef int(WINAPI *Ts2FlagsFn)(int flags);                // tsrSetPlayerFlags: the own player's new flags

// One library cycle's table: each worker loads the library for itself, so a
// worker that is being replaced never unloads what its successor uses.
struct Ts2Library {
    HMODULE module;
    FARPROC entries[TSR_EXPORTS];
    Ts2RecordFn get_server_info;
    Ts2RecordFn get_user_info;
    Ts2ListFn get_players;
    Ts2ListFn get_speakers; // null: an old library without it (then nobody talks)
    Ts2FlagsFn set_player_flags;
};

// Loads "TSRemote.dll" and resolves its exports; 0 when it cannot be loaded
// or an export other than tsrSwitchChannelName and tsrGetSpeakers is missing.
int ts2_load_library(Ts2Library *library);
void ts2_unload_library(Ts2Library *library);

// The loader and the window finder the module uses: the real ones unless a
// test puts doubles here (set them before ts2_start).
typedef int (*Ts2LoadFn)(Ts2Library *library);
typedef void (*Ts2UnloadFn)(Ts2Library *library);
typedef HWND (*Ts2WindowFn)(void);
extern Ts2LoadFn ts2_load;
extern Ts2UnloadFn ts2_unload;
extern Ts2WindowFn ts2_window;

enum Ts2Connection { TS2_UNKNOWN = -1, TS2_NOT_CONNECTED = 0, TS2_CONNECTED = 1 };

struct Ts2Module {
    const char *code = "TS2";

    // Main thread only.
    HANDLE worker_thread;      // the current worker, INVALID_HANDLE_VALUE when none
    DWORD worker_id;
    volatile LONG *stop_flag;  // the current worker's; the worker frees it when it ends
    Ts2State shown;            // the published snapshot as of this tick, decoded
    Ts2State previous;         // as of the last processed tick, without speakers
    char member_line[VOICE_LINE_BYTES];
    int self_talking;

    // Written by the current worker (stale workers write nothing: see
    // cycle_lock), read by the main thread without a lock. restart and stop
    // reset them.
    volatile LONG library_ready;   // 1 while the library is loaded and resolved
    volatile LONG library_missing; // 1 after the last load failed
    volatile LONG connection;      // Ts2Connection; CONNECTED only together with published data
    volatile LONG last_update;     // app_now_ms() of the last completed query
    volatile LONG toggle_requests; // render adds, the worker resets after one toggle
    // Whether a TeamSpeak 2 window exists, as the worker saw it at its last
    // look (and poll on second ticks): render and poll never look themselves.
    volatile LONG window_seen;

    // The worker's generation: bumped by restart and stop under cycle_lock,
    // which a worker holds whenever it writes the fields above.
    SRWLOCK cycle_lock;
    LONG generation;

    // Written by the worker under `mutex` (50 ms wait), read by poll under it
    // (100 ms wait).
    HANDLE mutex;
    Ts2Snapshot published;
};

extern Ts2Module g_ts2;

// Module entry points (no configure).
void ts2_start(Ts2Module *ts2);
void ts2_poll(Ts2Module *ts2);
int ts2_render(Ts2Module *ts2, int slot);
// wait: give the worker up to 1000 ms to end, then end it by force.
void ts2_stop(Ts2Module *ts2, int wait);

// Replaces the worker with a new one without waiting for the old one.
void ts2_restart(Ts2Module *ts2);
