// TUN: what iTunes plays, read through its COM automation interface by a
// worker thread of the module. See mod_tun.cpp for the picture.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <stdint.h>

#include "media_text.h"
#include "slots.h"

struct TunModule {
    const char *code = "TUN";
    HANDLE thread;                   // the worker, 0 when none
    volatile LONG *stop_flag;        // heap; the worker frees it once asked to stop
    int show_title[SLOT_COUNT];      // per slot: keep the title on the band
    volatile LONG media_keys;        // tun_mediakeys, copied for the worker
};

// The worker's view of iTunes, all zero while it is not connected. The
// worker writes it under g_tun_mutex (never while it is inside a call to
// iTunes); the main thread reads `title` under the mutex and the numbers as
// single 32-bit values without it.
struct TunShared {
    char title[TUN_TITLE_BYTES]; // artist " - " name, UTF-8
    volatile LONG bitrate;       // kbit/s
    volatile LONG duration;      // s; 0 or less: a stream without length
    volatile LONG position;      // s, read at `stamp`
    volatile LONG stamp;         // app_now_ms() of that read
    volatile LONG playing;       // 1 while the player state is 1 (playing)
    volatile LONG available;     // 1 while the worker is connected
};

extern TunModule g_tun;
extern TunShared g_tun_shared;
extern HANDLE g_tun_mutex;

// Module entry points.
void tun_start(TunModule *tun);
void tun_configure(TunModule *tun);
void tun_poll(TunModule *tun);
int tun_render(TunModule *tun, int slot);
// With wait, a worker that has not ended 1000 ms after the request is
// terminated.
void tun_stop(TunModule *tun, int wait);

// ---- Pieces, plain so tests reach them -----------------------------------------

// The worker; its argument is the stop flag (null: a flag never set).
DWORD WINAPI tun_worker(void *stop_flag);

// The event sink handed to iTunes: counts what iTunes reports. Its methods
// run on COM's threads, so the counts are interlocked and the sink is
// reference counted: iTunes' stub may hold it after the worker let go.
struct TunEventSink final : IDispatch {
    volatile LONG refs = 1;
    volatile LONG events = 0;        // every event
    volatile LONG quit_requests = 0; // 8 quitting, 9 about to prompt the user to quit
    volatile LONG track_changes = 1; // 2 play, 3 stop, 4 playing track changed; 1: read the track first

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID locale,
                                            DISPID *ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS *parameters,
                                     VARIANT *result, EXCEPINFO *exception, UINT *argument_error) override;
};

// A sink with one reference; null when out of memory.
TunEventSink *tun_sink_create(void);

// The seconds a page shows at `now`: the time left when the track has a
// length, else the elapsed time; below 1 nothing is shown.
int64_t tun_shown_seconds(const TunShared *shared, uint32_t now);
