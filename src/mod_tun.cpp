// TUN: iTunes' bit rate and play time on a panel, the track's artist and
// name as a pop-up whenever the track changes or the slot's button is
// pressed. A long press keeps the title on the band for that slot ("TUN+"
// starts a slot that way). With tun_mediakeys 1 the keyboard's media keys
// reach iTunes while it is in the background.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |TUN  |                                 |   Y+1: label
//    +-----+                           128k  |   Y+7: bit rate, right edge at X+36
//    |                                       |
//    |                                 3:30  |   Y+14: time left (elapsed for a stream);
//    |                                       |         from 10 hours "10:05", ':' blinking
//
// All talk with iTunes happens on the worker thread, which connects only
// while an iTunes window exists and never holds the shared record's mutex
// across a call into iTunes: a hung or quitting iTunes holds up the worker,
// never the tick loop.
//
// Worker states:
//
//   waiting for the window --(window)--> connecting (10 attempts, 1 s apart)
//        ^                                   |
//        |                        version check, events subscribed
//        |                                   v
//   window gone or quit <------------- connected: every 50 ms media keys,
//   (waits up to 10 s for                position once a second, the track
//    the window to close)                after a track event
#include "mod_tun.h"

#include <ocidl.h>
#include <oleauto.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "popup.h"
#include "util.h"

TunModule g_tun;
TunShared g_tun_shared;
HANDLE g_tun_mutex;
static char last_title[TUN_TITLE_BYTES]; // the title poll announced last (main thread)

enum {
    WINDOW_CHECK_MS = 1000, // iTunes is looked for once a second, as the page changes
    CONNECT_ATTEMPTS = 10,
    CONNECT_RETRY_MS = 1000,
    INCOMPATIBLE_RETRY_MS = 1000,
    PASS_MS = 50,
    POSITION_EVERY_MS = 1000,
    CLOSE_CHECK_MS = 1000,
    CLOSE_CHECKS = 10,
    STOP_WAIT_MS = 1000,
    MUTEX_WAIT_MS = 100,
    TITLE_KEY = 1,
    TITLE_MS = 1500,
    TITLE_HOLD_MS = 120,
    PLAYER_PLAYING = 1,
    EVENT_PLAY = 2,
    EVENT_STOP = 3,
    EVENT_TRACK_CHANGED = 4,
    EVENT_QUITTING = 8,
    EVENT_ABOUT_TO_PROMPT_QUIT = 9,
    TEXT_UTF8_BYTES = 1024, // a name or artist before it is cut to the title
};

static const int TEXT_DX = 36, BITRATE_DY = 7, TIME_DY = 14;

// iTunes' public identifiers.
static const CLSID CLSID_ITUNES_APP = {0xDC0C2640, 0x1415, 0x4644, {0x87, 0x5C, 0x6F, 0x4D, 0x76, 0x98, 0x39, 0xBA}};
static const IID IID_ITUNES = {0x9DD6680B, 0x3EDC, 0x40DB, {0xA7, 0x71, 0xE6, 0xFE, 0x48, 0x32, 0xE3, 0x4A}};
static const IID IID_ITUNES_EVENTS = {0x5846EB78, 0x317E, 0x4B6F, {0xB0, 0xC3, 0x11, 0xEE, 0x8C, 0x8F, 0xEE, 0xF2}};

// Slots of iTunes' dual interfaces (0..2 IUnknown, 3..6 IDispatch): the
// application object and the track (IITTrack, derived from IITObject).
enum {
    APP_NEXT_TRACK = 9,
    APP_PLAY_PAUSE = 13,
    APP_PREVIOUS_TRACK = 14,
    APP_STOP = 17,
    APP_CHECK_VERSION = 22,
    APP_PLAYER_STATE = 39,
    APP_PLAYER_POSITION = 40,
    APP_CURRENT_TRACK = 62,
    TRACK_NAME = 8,
    TRACK_ARTIST = 22,
    TRACK_BITRATE = 24,
    TRACK_DURATION = 38,
};

typedef HRESULT(STDMETHODCALLTYPE *PlainCall)(IUnknown *self);
typedef HRESULT(STDMETHODCALLTYPE *LongCall)(IUnknown *self, LONG *value);
typedef HRESULT(STDMETHODCALLTYPE *TextCall)(IUnknown *self, BSTR *text);
typedef HRESULT(STDMETHODCALLTYPE *ObjectCall)(IUnknown *self, IUnknown **object);
typedef HRESULT(STDMETHODCALLTYPE *VersionCall)(IUnknown *self, LONG major, LONG minor, VARIANT_BOOL *compatible);

template <typename Call> static Call slot_call(IUnknown *object, int slot)
{
    return (Call)(*(void ***)object)[slot];
}

static HRESULT call_plain(IUnknown *o, int slot) { return slot_call<PlainCall>(o, slot)(o); }
static HRESULT call_long(IUnknown *o, int slot, LONG *v) { return slot_call<LongCall>(o, slot)(o, v); }

// ---- Event sink ------------------------------------------------------------------

// IDispatch as well: COM's dispatch marshaler connects its stub to the
// sink's IDispatch, and without it iTunes cannot reach a sink in another
// process.
HRESULT STDMETHODCALLTYPE TunEventSink::QueryInterface(REFIID iid, void **out)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITUNES_EVENTS) || IsEqualIID(iid, IID_IDispatch)) {
        *out = this;
        AddRef();
        return S_OK;
    }
    *out = 0;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TunEventSink::AddRef() { return (ULONG)InterlockedIncrement(&refs); }

ULONG STDMETHODCALLTYPE TunEventSink::Release()
{
    LONG n = InterlockedDecrement(&refs);
    if (n == 0)
        delete this;
    return (ULONG)n;
}

HRESULT STDMETHODCALLTYPE TunEventSink::GetTypeInfoCount(UINT *count)
{
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TunEventSink::GetTypeInfo(UINT, LCID, ITypeInfo **info)
{
    *info = 0;
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT STDMETHODCALLTYPE TunEventSink::GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *)
{
    return E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE TunEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *,
                                               UINT *)
{
    InterlockedIncrement(&events);
    if (id == EVENT_QUITTING || id == EVENT_ABOUT_TO_PROMPT_QUIT)
        InterlockedIncrement(&quit_requests);
    if (id == EVENT_PLAY || id == EVENT_STOP || id == EVENT_TRACK_CHANGED)
        InterlockedIncrement(&track_changes);
    return S_OK;
}

TunEventSink *tun_sink_create(void) { return new (std::nothrow) TunEventSink; }

// ---- Worker ----------------------------------------------------------------------

// What the worker holds while connected.
struct TunConnection {
    IUnknown *app;
    IConnectionPoint *point;
    DWORD cookie;
    TunEventSink *sink;
    HWND window;          // for the media keys' foreground test
    int keys_down[4];     // per media key: down at the last test
    int connected;
};

static const int MEDIA_KEYS[4] = {VK_MEDIA_STOP, VK_MEDIA_PLAY_PAUSE, VK_MEDIA_NEXT_TRACK, VK_MEDIA_PREV_TRACK};
static const int MEDIA_CALLS[4] = {APP_STOP, APP_PLAY_PAUSE, APP_NEXT_TRACK, APP_PREVIOUS_TRACK};

static int stop_asked(volatile LONG *stop) { return *stop != 0; }

// Sleeps ms, in short steps so that a stop request is seen soon; 0 when asked to stop.
static int pause_unless_stopped(volatile LONG *stop, DWORD ms)
{
    for (DWORD slept = 0; slept < ms && !stop_asked(stop); slept += PASS_MS)
        Sleep(PASS_MS);
    return !stop_asked(stop);
}

static int lock_shared(const char *source, int line)
{
    DWORD result = WaitForSingleObject(g_tun_mutex, MUTEX_WAIT_MS);
    if (result == WAIT_OBJECT_0)
        return 1;
    wait_ok(result, source, line);
    return result == WAIT_ABANDONED; // owned all the same
}

static void publish_disconnected(void)
{
    InterlockedExchange(&g_tun_shared.available, 0);
    if (!lock_shared("src/mod_tun", __LINE__))
        return;
    g_tun_shared.title[0] = 0;
    g_tun_shared.bitrate = g_tun_shared.duration = g_tun_shared.position = 0;
    g_tun_shared.stamp = g_tun_shared.playing = 0;
    ReleaseMutex(g_tun_mutex);
}

// Waits until an iTunes window exists; 0 when asked to stop first.
static int wait_for_window(volatile LONG *stop)
{
    while (!find_itunes_window())
        if (!pause_unless_stopped(stop, WINDOW_CHECK_MS))
            return 0;
    return !stop_asked(stop);
}

static int create_app(TunConnection *c, volatile LONG *stop)
{
    for (int attempt = 0; attempt < CONNECT_ATTEMPTS; attempt++) {
        if (attempt && !pause_unless_stopped(stop, CONNECT_RETRY_MS))
            return 0;
        if (SUCCEEDED(CoCreateInstance(CLSID_ITUNES_APP, 0, CLSCTX_LOCAL_SERVER, IID_ITUNES, (void **)&c->app)) &&
            c->app)
            return 1;
        c->app = 0;
    }
    return 0;
}

static int version_compatible(IUnknown *app)
{
    VARIANT_BOOL compatible = VARIANT_TRUE;
    HRESULT hr = slot_call<VersionCall>(app, APP_CHECK_VERSION)(app, 1, 1, &compatible);
    return FAILED(hr) || compatible != VARIANT_FALSE;
}

// Without events the page still works (the track is then read only once).
static void subscribe(TunConnection *c)
{
    c->sink = tun_sink_create();
    IConnectionPointContainer *container = 0;
    if (!c->sink || FAILED(c->app->QueryInterface(IID_IConnectionPointContainer, (void **)&container)) ||
        !container)
        return;
    if (SUCCEEDED(container->FindConnectionPoint(IID_ITUNES_EVENTS, &c->point)) && c->point) {
        if (FAILED(c->point->Advise(static_cast<IDispatch *>(c->sink), &c->cookie)))
            c->cookie = 0;
    } else {
        c->point = 0;
    }
    container->Release();
}

static void disconnect(TunConnection *c)
{
    if (c->point) {
        if (c->cookie)
            c->point->Unadvise(c->cookie);
        c->point->Release();
    }
    if (c->sink) {
        // a stub of a vanished iTunes may still hold it: cut it off first
        CoDisconnectObject(static_cast<IDispatch *>(c->sink), 0);
        c->sink->Release();
    }
    if (c->app)
        c->app->Release();
    memset(c, 0, sizeof *c);
}

static void press_media_keys(TunConnection *c)
{
    if (second_tick || !c->window)
        c->window = find_itunes_window();
    if (GetForegroundWindow() == c->window)
        return; // iTunes takes the keys itself
    for (int k = 0; k < 4; k++) {
        int down = (GetAsyncKeyState(MEDIA_KEYS[k]) & 0x8000) != 0;
        if (down && !c->keys_down[k])
            call_plain(c->app, MEDIA_CALLS[k]);
        c->keys_down[k] = down;
    }
}

static void read_position(TunConnection *c)
{
    if ((uint32_t)app_now_ms() - (uint32_t)g_tun_shared.stamp < POSITION_EVERY_MS)
        return;
    LONG position = 0;
    if (FAILED(call_long(c->app, APP_PLAYER_POSITION, &position)))
        return;
    InterlockedExchange(&g_tun_shared.position, position);
    InterlockedExchange(&g_tun_shared.stamp, (LONG)app_now_ms());
}

// A COM text as UTF-8, cut later with the title.
static void read_text(IUnknown *track, int slot, char *out)
{
    out[0] = 0;
    BSTR text = 0;
    if (SUCCEEDED(slot_call<TextCall>(track, slot)(track, &text)) && text) {
        int n = WideCharToMultiByte(CP_UTF8, 0, text, (int)SysStringLen(text), out, TEXT_UTF8_BYTES - 1, 0, 0);
        out[n > 0 ? n : 0] = 0;
        utf8_cut(out, TEXT_UTF8_BYTES - 1);
    }
    SysFreeString(text);
}

static void read_track(TunConnection *c)
{
    IUnknown *track = 0;
    if (FAILED(slot_call<ObjectCall>(c->app, APP_CURRENT_TRACK)(c->app, &track)) || !track)
        return;
    char name[TEXT_UTF8_BYTES], artist[TEXT_UTF8_BYTES], title[TUN_TITLE_BYTES];
    read_text(track, TRACK_NAME, name);
    read_text(track, TRACK_ARTIST, artist);
    LONG value = 0;
    if (SUCCEEDED(call_long(track, TRACK_DURATION, &value)))
        InterlockedExchange(&g_tun_shared.duration, value);
    if (SUCCEEDED(call_long(track, TRACK_BITRATE, &value)))
        InterlockedExchange(&g_tun_shared.bitrate, value);
    if (SUCCEEDED(call_long(c->app, APP_PLAYER_POSITION, &value)))
        InterlockedExchange(&g_tun_shared.position, value);
    if (SUCCEEDED(call_long(c->app, APP_PLAYER_STATE, &value)))
        InterlockedExchange(&g_tun_shared.playing, value == PLAYER_PLAYING);
    track->Release();
    tun_title_build(artist, name, title);
    if (lock_shared("src/mod_tun", __LINE__)) {
        memcpy(g_tun_shared.title, title, sizeof title);
        g_tun_shared.stamp = (LONG)app_now_ms();
        ReleaseMutex(g_tun_mutex);
    }
}

static void run_connected(TunConnection *c, volatile LONG *stop)
{
    while (!stop_asked(stop) && find_itunes_window() && !(c->sink && c->sink->quit_requests)) {
        Sleep(PASS_MS);
        if (g_tun.media_keys)
            press_media_keys(c);
        read_position(c);
        // taken before the read, so an event during the read is not lost
        if (c->sink && InterlockedExchange(&c->sink->track_changes, 0))
            read_track(c);
    }
}

DWORD WINAPI tun_worker(void *argument)
{
    static volatile LONG never = 0;
    volatile LONG *stop = argument ? (volatile LONG *)argument : &never;
    CoInitializeEx(0, COINIT_MULTITHREADED);
    TunConnection c;
    memset(&c, 0, sizeof c);
    while (!stop_asked(stop)) {
        publish_disconnected();
        if (!wait_for_window(stop) || !create_app(&c, stop))
            continue;
        if (stop_asked(stop))
            break;
        if (!version_compatible(c.app)) {
            disconnect(&c);
            pause_unless_stopped(stop, INCOMPATIBLE_RETRY_MS);
            continue;
        }
        subscribe(&c);
        InterlockedExchange(&g_tun_shared.available, 1);
        run_connected(&c, stop);
        if (stop_asked(stop))
            break;
        // iTunes quit or its window is gone
        InterlockedExchange(&g_tun_shared.available, 0);
        disconnect(&c);
        publish_disconnected();
        for (int k = 0; k < CLOSE_CHECKS && find_itunes_window(); k++)
            if (!pause_unless_stopped(stop, CLOSE_CHECK_MS))
                break;
    }
    disconnect(&c);
    CoUninitialize();
    if (argument)
        free((void *)argument);
    return 0;
}

// ---- Module ----------------------------------------------------------------------

void tun_configure(TunModule *tun)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        tun->show_title[i] = slot_variant(&g_slots[i], tun->code) % 2;
    InterlockedExchange(&tun->media_keys, config_get_int(&g_config, "tun_mediakeys", 0));
}

void tun_start(TunModule *tun)
{
    memset(&g_tun_shared, 0, sizeof g_tun_shared);
    g_tun_mutex = CreateMutexA(0, FALSE, 0);
    tun->stop_flag = (volatile LONG *)calloc(1, sizeof(LONG));
    tun->thread = tun->stop_flag && g_tun_mutex
                      ? CreateThread(0, 0, tun_worker, (void *)tun->stop_flag, CREATE_SUSPENDED, 0)
                      : 0;
    if (tun->thread) {
        SetThreadPriority(tun->thread, THREAD_PRIORITY_LOWEST);
        ResumeThread(tun->thread);
    } else {
        free((void *)tun->stop_flag);
        tun->stop_flag = 0;
    }
    tun_configure(tun);
}

void tun_stop(TunModule *tun, int wait)
{
    if (tun->thread) {
        InterlockedExchange(tun->stop_flag, 1);
        tun->stop_flag = 0; // the worker's now
        if (wait && WaitForSingleObject(tun->thread, STOP_WAIT_MS) != WAIT_OBJECT_0)
            TerminateThread(tun->thread, 0);
        CloseHandle(tun->thread);
        tun->thread = 0;
    }
    if (g_tun_mutex)
        CloseHandle(g_tun_mutex);
    g_tun_mutex = 0;
    memset(&g_tun_shared, 0, sizeof g_tun_shared);
}

// The title as the worker left it; "" when it cannot be had.
static void copy_title(char out[TUN_TITLE_BYTES])
{
    out[0] = 0;
    if (!g_tun_mutex || !lock_shared("src/mod_tun", __LINE__))
        return;
    memcpy(out, g_tun_shared.title, TUN_TITLE_BYTES);
    out[TUN_TITLE_BYTES - 1] = 0;
    ReleaseMutex(g_tun_mutex);
}

void tun_poll(TunModule *)
{
    if (!g_tun_shared.available)
        return;
    char title[TUN_TITLE_BYTES];
    copy_title(title);
    // an empty title (connected, track not read yet) is never announced
    if (!title[0] || strcmp(title, last_title) == 0)
        return;
    memcpy(last_title, title, sizeof title);
    popup(&g_popups, TITLE_KEY, TITLE_MS, "%s", title);
}

static void post_title(int ms)
{
    char title[TUN_TITLE_BYTES];
    copy_title(title);
    if (title[0])
        popup(&g_popups, TITLE_KEY, ms, "%s", title);
}

int64_t tun_shown_seconds(const TunShared *shared, uint32_t now)
{
    int64_t p = shared->position;
    if (shared->playing == 1)
        p += (now - (uint32_t)shared->stamp) / 1000;
    return shared->duration > 0 ? shared->duration - p : p;
}

int tun_render(TunModule *tun, int slot)
{
    if (!g_tun_shared.available || slot < 0 || slot >= SLOT_COUNT)
        return 0;
    Slot *s = &g_slots[slot];
    slot_draw_frame(s, tun->code);
    if (s->pending_action == BUTTON_SHORT) {
        s->pending_action = 0;
        post_title(TITLE_MS);
    }
    if (s->pending_action == BUTTON_LONG) {
        s->pending_action = 0;
        tun->show_title[slot] ^= 1;
    }
    if (tun->show_title[slot] && title_hold_allowed(&g_popups))
        post_title(TITLE_HOLD_MS);
    char text[PLAY_TIME_BYTES];
    if (g_tun_shared.bitrate) {
        snprintf(text, sizeof text, "%ldk", (long)g_tun_shared.bitrate);
        lcd_text(&g_lcd, TXT_RIGHT, s->x + TEXT_DX, s->y + BITRATE_DY, text);
    }
    int64_t t = tun_shown_seconds(&g_tun_shared, app_now_ms());
    if (t < 1)
        return 1;
    format_play_time((uint32_t)t, blink, text, sizeof text);
    lcd_text(&g_lcd, TXT_RIGHT, s->x + TEXT_DX, s->y + TIME_DY, text);
    return 1;
}
