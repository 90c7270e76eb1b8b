// iTunes.exe: the iTunes stand-in, a COM local server registered under
// iTunes' application class id. It shows a window of class "iTunes" titled
// "iTunes" while it runs, plays a scripted player (tracks, state, position,
// bit rate, the events 2, 3, 4, 8 and 9), logs every call it receives, and
// can hang inside a call or quit while a client holds its objects.
//
//   iTunes.exe --register | --unregister      type library and class id
//   iTunes.exe --script FILE [--log FILE] [--lifetime SECONDS] [--parent PID]
//              [--window-class NAME]
//
// Script commands: see README.md.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "itunes.h"
#include "standin_script.h"

enum {
    MAX_TRACKS = 16,
    MAX_SINKS = 8,
    TEXT_UNITS = 256,
    EVENT_PLAY = 2,
    EVENT_STOP = 3,
    EVENT_TRACK_CHANGED = 4,
    EVENT_QUITTING = 8,
    STATE_STOPPED = 0,
    STATE_PLAYING = 1,
};

struct Track {
    wchar_t name[TEXT_UNITS];
    wchar_t artist[TEXT_UNITS];
    long duration;
    long bitrate;
};

// The player. Calls arrive on COM's threads, script lines on the script
// thread: everything below is guarded by lock.
struct Player {
    CRITICAL_SECTION lock;
    Track tracks[MAX_TRACKS];
    int track_count;
    int current;              // index into tracks, -1: no current track
    long state;               // 0 stopped, 1 playing, 2 fast forward, 3 rewind
    long position;            // seconds at position_stamp
    DWORD position_stamp;
    VARIANT_BOOL compatible;
    char hang_call[64];       // the next call of this name hangs
    DWORD hang_ms;            // that long; 0: until the stand-in quits
    IDispatch *sinks[MAX_SINKS];
};

static Player g_player;
static StandInLog g_log;
static ScriptTail g_script;
static StandInLife g_life;
static HANDLE g_quitting; // manual-reset: set once the stand-in quits; ends hung calls
static HWND g_window;
static const char *g_window_class = "iTunes";

// ---- Events ----------------------------------------------------------------------

static void fire_event(DISPID id)
{
    IDispatch *sinks[MAX_SINKS];
    EnterCriticalSection(&g_player.lock);
    for (int i = 0; i < MAX_SINKS; i++)
        if ((sinks[i] = g_player.sinks[i]) != 0)
            sinks[i]->AddRef();
    LeaveCriticalSection(&g_player.lock);
    for (IDispatch *sink : sinks) {
        if (!sink)
            continue;
        DISPPARAMS none = {0, 0, 0, 0};
        HRESULT hr = sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, 0, 0, 0);
        standin_log(&g_log, "event %ld hr 0x%08lx", (long)id, (unsigned long)hr);
        sink->Release();
    }
}

// ---- Calls -----------------------------------------------------------------------

// Logs a call and hangs in it when the script asked for that.
static void enter_call(const char *name)
{
    EnterCriticalSection(&g_player.lock);
    int hang = strcmp(g_player.hang_call, name) == 0;
    DWORD ms = g_player.hang_ms;
    if (hang)
        g_player.hang_call[0] = 0;
    LeaveCriticalSection(&g_player.lock);
    standin_log(&g_log, "call %s%s", name, hang ? " (hangs)" : "");
    if (hang)
        WaitForSingleObject(g_quitting, ms ? ms : INFINITE);
}

static long player_position(void)
{
    long p = g_player.position;
    if (g_player.state == STATE_PLAYING)
        p += (long)((GetTickCount() - g_player.position_stamp) / 1000);
    return p;
}

static void set_position(long seconds)
{
    g_player.position = seconds;
    g_player.position_stamp = GetTickCount();
}

static void set_state(long state)
{
    EnterCriticalSection(&g_player.lock);
    set_position(player_position());
    g_player.state = state;
    LeaveCriticalSection(&g_player.lock);
    fire_event(state == STATE_PLAYING ? EVENT_PLAY : EVENT_STOP);
}

static void step_track(int step)
{
    EnterCriticalSection(&g_player.lock);
    if (g_player.track_count)
        g_player.current = ((g_player.current + step) % g_player.track_count + g_player.track_count) %
                           g_player.track_count;
    set_position(0);
    LeaveCriticalSection(&g_player.lock);
    fire_event(EVENT_TRACK_CHANGED);
}

#define PLACEHOLDER(n)                                                                                      \
    HRESULT STDMETHODCALLTYPE Slot##n() override                                                            \
    {                                                                                                       \
        enter_call("Slot" #n);                                                                              \
        return E_NOTIMPL;                                                                                   \
    }

// IUnknown and IDispatch of both objects: QueryInterface is theirs.
#define DISPATCH_PART                                                                                       \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override                                       \
    {                                                                                                       \
        *count = 0;                                                                                         \
        return S_OK;                                                                                        \
    }                                                                                                       \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }         \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override             \
    {                                                                                                       \
        return E_NOTIMPL;                                                                                   \
    }                                                                                                       \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *,      \
                                     UINT *) override                                                      \
    {                                                                                                       \
        return E_NOTIMPL;                                                                                   \
    }

static BSTR copy_text(const wchar_t *text) { return SysAllocString(text); }

// A copy of one track, handed out by CurrentTrack.
struct TrackObject final : IITTrack {
    LONG refs = 1;
    Track track;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IITObject || iid == IID_IITTrack) {
            *out = static_cast<IITTrack *>(this);
            AddRef();
            return S_OK;
        }
        *out = 0;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG n = InterlockedDecrement(&refs);
        if (n == 0)
            delete this;
        return (ULONG)n;
    }
    DISPATCH_PART
    PLACEHOLDER(7)
    HRESULT STDMETHODCALLTYPE get_Name(BSTR *name) override
    {
        enter_call("track.Name");
        *name = copy_text(track.name);
        return S_OK;
    }
    PLACEHOLDER(9) PLACEHOLDER(10) PLACEHOLDER(11) PLACEHOLDER(12) PLACEHOLDER(13) PLACEHOLDER(14)
    PLACEHOLDER(15) PLACEHOLDER(16) PLACEHOLDER(17) PLACEHOLDER(18) PLACEHOLDER(19) PLACEHOLDER(20)
    PLACEHOLDER(21)
    HRESULT STDMETHODCALLTYPE get_Artist(BSTR *artist) override
    {
        enter_call("track.Artist");
        *artist = copy_text(track.artist);
        return S_OK;
    }
    PLACEHOLDER(23)
    HRESULT STDMETHODCALLTYPE get_BitRate(LONG *kbps) override
    {
        enter_call("track.BitRate");
        *kbps = track.bitrate;
        return S_OK;
    }
    PLACEHOLDER(25) PLACEHOLDER(26) PLACEHOLDER(27) PLACEHOLDER(28) PLACEHOLDER(29) PLACEHOLDER(30)
    PLACEHOLDER(31) PLACEHOLDER(32) PLACEHOLDER(33) PLACEHOLDER(34) PLACEHOLDER(35) PLACEHOLDER(36)
    PLACEHOLDER(37)
    HRESULT STDMETHODCALLTYPE get_Duration(LONG *seconds) override
    {
        enter_call("track.Duration");
        *seconds = track.duration;
        return S_OK;
    }
};

// The application object, its connection-point container and its one
// connection point (the event interface) in one static object.
struct App : IiTunes, IConnectionPointContainer, IConnectionPoint {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IiTunes)
            *out = static_cast<IiTunes *>(this);
        else if (iid == IID_IConnectionPointContainer)
            *out = static_cast<IConnectionPointContainer *>(this);
        else if (iid == IID_IConnectionPoint)
            *out = static_cast<IConnectionPoint *>(this);
        else
            return *out = 0, E_NOINTERFACE;
        return S_OK;
    }
    // lives as long as the process
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    DISPATCH_PART

    // IiTunes
    PLACEHOLDER(7) PLACEHOLDER(8)
    HRESULT STDMETHODCALLTYPE NextTrack() override
    {
        enter_call("NextTrack");
        step_track(1);
        return S_OK;
    }
    PLACEHOLDER(10) PLACEHOLDER(11) PLACEHOLDER(12)
    HRESULT STDMETHODCALLTYPE PlayPause() override
    {
        enter_call("PlayPause");
        set_state(g_player.state == STATE_PLAYING ? STATE_STOPPED : STATE_PLAYING);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PreviousTrack() override
    {
        enter_call("PreviousTrack");
        step_track(-1);
        return S_OK;
    }
    PLACEHOLDER(15) PLACEHOLDER(16)
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        enter_call("Stop");
        set_state(STATE_STOPPED);
        EnterCriticalSection(&g_player.lock);
        set_position(0);
        LeaveCriticalSection(&g_player.lock);
        return S_OK;
    }
    PLACEHOLDER(18) PLACEHOLDER(19) PLACEHOLDER(20) PLACEHOLDER(21)
    HRESULT STDMETHODCALLTYPE CheckVersion(LONG major, LONG minor, VARIANT_BOOL *compatible) override
    {
        enter_call("CheckVersion");
        standin_log(&g_log, "version %ld.%ld", (long)major, (long)minor);
        *compatible = g_player.compatible;
        return S_OK;
    }
    PLACEHOLDER(23) PLACEHOLDER(24) PLACEHOLDER(25) PLACEHOLDER(26) PLACEHOLDER(27) PLACEHOLDER(28)
    PLACEHOLDER(29) PLACEHOLDER(30) PLACEHOLDER(31) PLACEHOLDER(32) PLACEHOLDER(33) PLACEHOLDER(34)
    PLACEHOLDER(35) PLACEHOLDER(36) PLACEHOLDER(37) PLACEHOLDER(38)
    HRESULT STDMETHODCALLTYPE get_PlayerState(LONG *state) override
    {
        enter_call("PlayerState");
        *state = g_player.state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_PlayerPosition(LONG *seconds) override
    {
        enter_call("PlayerPosition");
        EnterCriticalSection(&g_player.lock);
        *seconds = player_position();
        LeaveCriticalSection(&g_player.lock);
        return S_OK;
    }
    PLACEHOLDER(41) PLACEHOLDER(42) PLACEHOLDER(43) PLACEHOLDER(44) PLACEHOLDER(45) PLACEHOLDER(46)
    PLACEHOLDER(47) PLACEHOLDER(48) PLACEHOLDER(49) PLACEHOLDER(50) PLACEHOLDER(51) PLACEHOLDER(52)
    PLACEHOLDER(53) PLACEHOLDER(54) PLACEHOLDER(55) PLACEHOLDER(56) PLACEHOLDER(57) PLACEHOLDER(58)
    PLACEHOLDER(59) PLACEHOLDER(60) PLACEHOLDER(61)
    HRESULT STDMETHODCALLTYPE get_CurrentTrack(IITTrack **track) override
    {
        enter_call("CurrentTrack");
        *track = 0;
        EnterCriticalSection(&g_player.lock);
        TrackObject *copy = 0;
        if (g_player.current >= 0 && g_player.current < g_player.track_count) {
            copy = new TrackObject;
            copy->track = g_player.tracks[g_player.current];
        }
        LeaveCriticalSection(&g_player.lock);
        *track = copy;
        return copy ? S_OK : S_FALSE; // iTunes answers S_FALSE and no track when none plays
    }
    PLACEHOLDER(63) PLACEHOLDER(64) PLACEHOLDER(65) PLACEHOLDER(66) PLACEHOLDER(67) PLACEHOLDER(68)
    PLACEHOLDER(69) PLACEHOLDER(70) PLACEHOLDER(71) PLACEHOLDER(72) PLACEHOLDER(73) PLACEHOLDER(74)
    PLACEHOLDER(75) PLACEHOLDER(76) PLACEHOLDER(77) PLACEHOLDER(78) PLACEHOLDER(79) PLACEHOLDER(80)
    PLACEHOLDER(81) PLACEHOLDER(82) PLACEHOLDER(83) PLACEHOLDER(84) PLACEHOLDER(85) PLACEHOLDER(86)
    PLACEHOLDER(87) PLACEHOLDER(88) PLACEHOLDER(89) PLACEHOLDER(90)

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints **out) override
    {
        *out = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint **out) override
    {
        enter_call("FindConnectionPoint");
        if (iid != DIID__IiTunesEvents)
            return *out = 0, CONNECT_E_NOCONNECTION;
        *out = static_cast<IConnectionPoint *>(this);
        return S_OK;
    }

    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID *iid) override
    {
        *iid = DIID__IiTunesEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer **out) override
    {
        *out = static_cast<IConnectionPointContainer *>(this);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown *sink, DWORD *cookie) override
    {
        enter_call("Advise");
        *cookie = 0;
        IDispatch *events = 0;
        HRESULT hr = sink->QueryInterface(DIID__IiTunesEvents, (void **)&events);
        standin_log(&g_log, "sink answers the event interface: hr 0x%08lx", (unsigned long)hr);
        if (FAILED(hr) || !events)
            return CONNECT_E_CANNOTCONNECT;
        EnterCriticalSection(&g_player.lock);
        for (int i = 0; i < MAX_SINKS && !*cookie; i++)
            if (!g_player.sinks[i])
                g_player.sinks[i] = events, *cookie = (DWORD)i + 1;
        LeaveCriticalSection(&g_player.lock);
        if (*cookie)
            return S_OK;
        events->Release();
        return CONNECT_E_ADVISELIMIT;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override
    {
        enter_call("Unadvise");
        IDispatch *events = 0;
        EnterCriticalSection(&g_player.lock);
        if (cookie >= 1 && cookie <= MAX_SINKS) {
            events = g_player.sinks[cookie - 1];
            g_player.sinks[cookie - 1] = 0;
        }
        LeaveCriticalSection(&g_player.lock);
        if (!events)
            return CONNECT_E_NOCONNECTION;
        events->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections **out) override
    {
        *out = 0;
        return E_NOTIMPL;
    }
};

static App g_app;

struct Factory : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        return *out = 0, E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override
    {
        enter_call("CreateInstance");
        if (outer)
            return *out = 0, CLASS_E_NOAGGREGATION;
        return g_app.QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

static Factory g_factory;

// ---- Script ------------------------------------------------------------------------

// "track NAME|ARTIST|DURATION|BITRATE"
static void add_track(char *argument)
{
    char *fields[4] = {argument, 0, 0, 0};
    for (int i = 1; i < 4 && fields[i - 1]; i++) {
        char *bar = strchr(fields[i - 1], '|');
        if (bar)
            *bar = 0, fields[i] = bar + 1;
    }
    EnterCriticalSection(&g_player.lock);
    if (g_player.track_count < MAX_TRACKS) {
        Track *t = &g_player.tracks[g_player.track_count++];
        MultiByteToWideChar(CP_UTF8, 0, fields[0], -1, t->name, TEXT_UNITS);
        t->name[TEXT_UNITS - 1] = 0;
        MultiByteToWideChar(CP_UTF8, 0, fields[1] ? fields[1] : "", -1, t->artist, TEXT_UNITS);
        t->artist[TEXT_UNITS - 1] = 0;
        t->duration = fields[2] ? strtol(fields[2], 0, 10) : 0;
        t->bitrate = fields[3] ? strtol(fields[3], 0, 10) : 0;
    }
    LeaveCriticalSection(&g_player.lock);
}

// One script line; 0 once the stand-in is to end.
static int run_line(char *line)
{
    char *command, *argument;
    if (!script_split(line, &command, &argument))
        return 1;
    long value = strtol(argument, 0, 10);
    if (strcmp(command, "track") == 0) {
        add_track(argument);
    } else if (strcmp(command, "current") == 0) {
        EnterCriticalSection(&g_player.lock);
        g_player.current = (int)value;
        set_position(0);
        LeaveCriticalSection(&g_player.lock);
        fire_event(EVENT_TRACK_CHANGED);
    } else if (strcmp(command, "state") == 0) {
        set_state(value);
    } else if (strcmp(command, "position") == 0) {
        EnterCriticalSection(&g_player.lock);
        set_position(value);
        LeaveCriticalSection(&g_player.lock);
    } else if (strcmp(command, "version") == 0) {
        g_player.compatible = value ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (strcmp(command, "event") == 0) {
        fire_event((DISPID)value);
    } else if (strcmp(command, "hang") == 0) {
        char name[64] = "";
        unsigned long ms = 0;
        sscanf(argument, "%63s %lu", name, &ms);
        EnterCriticalSection(&g_player.lock);
        snprintf(g_player.hang_call, sizeof g_player.hang_call, "%s", name);
        g_player.hang_ms = (DWORD)ms;
        LeaveCriticalSection(&g_player.lock);
    } else if (strcmp(command, "sleep") == 0) {
        Sleep((DWORD)value);
    } else if (strcmp(command, "mark") == 0) {
        standin_log(&g_log, "mark %s", argument);
    } else if (strcmp(command, "quit") == 0) {
        return 0;
    }
    return 1;
}

static DWORD WINAPI script_thread(void *)
{
    CoInitializeEx(0, COINIT_MULTITHREADED);
    char line[SCRIPT_LINE_BYTES];
    while (!standin_should_end(&g_life)) {
        if (!script_next_line(&g_script, line, sizeof line))
            Sleep(SCRIPT_POLL_MS);
        else if (!run_line(line))
            break;
    }
    // iTunes' own way out: tell the clients, close the window, then go
    standin_log(&g_log, "quitting");
    fire_event(EVENT_QUITTING);
    SetEvent(g_quitting);
    PostMessageW(g_window, WM_CLOSE, 0, 0);
    CoUninitialize();
    return 0;
}

// ---- Registration ------------------------------------------------------------------

#define CLASS_KEY "SOFTWARE\\Classes\\CLSID\\{DC0C2640-1415-4644-875C-6F4D769839BA}"

static int type_library_path(wchar_t *path, DWORD size)
{
    DWORD n = GetModuleFileNameW(0, path, size);
    wchar_t *slash = n && n < size ? wcsrchr(path, L'\\') : 0;
    if (!slash || (size_t)(slash - path) + 12 >= size)
        return 0;
    wcscpy(slash + 1, L"iTunes.tlb");
    return 1;
}

static int do_register(int add)
{
    wchar_t tlb[MAX_PATH];
    char exe[MAX_PATH], command[MAX_PATH + 2];
    if (!type_library_path(tlb, MAX_PATH) || !GetModuleFileNameA(0, exe, sizeof exe))
        return 1;
    if (!add) {
        UnRegisterTypeLib(LIBID_iTunesLib, 1, 12, 0, sizeof(void *) == 8 ? SYS_WIN64 : SYS_WIN32);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, CLASS_KEY);
        return 0;
    }
    ITypeLib *library = 0;
    if (FAILED(LoadTypeLibEx(tlb, REGKIND_NONE, &library)))
        return 2;
    HRESULT hr = RegisterTypeLib(library, tlb, 0);
    library->Release();
    snprintf(command, sizeof command, "\"%s\"", exe);
    HKEY key;
    if (FAILED(hr) || RegCreateKeyExA(HKEY_LOCAL_MACHINE, CLASS_KEY "\\LocalServer32", 0, 0, 0, KEY_SET_VALUE, 0,
                                      &key, 0) != ERROR_SUCCESS)
        return 3;
    LONG result = RegSetValueExA(key, 0, 0, REG_SZ, (const BYTE *)command, (DWORD)strlen(command) + 1);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 0 : 4;
}

// ---- Process -----------------------------------------------------------------------

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

static int create_window(void)
{
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = GetModuleHandleA(0);
    window_class.lpszClassName = g_window_class;
    if (!RegisterClassA(&window_class))
        return 0;
    g_window = CreateWindowExA(0, g_window_class, "iTunes", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, 0, 0,
                               window_class.hInstance, 0);
    if (g_window)
        ShowWindow(g_window, SW_SHOWNOACTIVATE);
    return g_window != 0;
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        if (_stricmp(argv[i], "-Embedding") == 0 || _stricmp(argv[i], "/Embedding") == 0)
            return 1; // started by COM: the stand-in plays only when a test starts it
    if (argc == 2 && (strcmp(argv[1], "--register") == 0 || strcmp(argv[1], "--unregister") == 0))
        return do_register(strcmp(argv[1], "--register") == 0);
    if (argc >= 3 && strcmp(argv[argc - 2], "--window-class") == 0) {
        g_window_class = argv[argc - 1];
        argc -= 2;
    }
    if (!standin_options(argc, argv, &g_script, &g_log, &g_life) || !g_script.path[0]) {
        fprintf(stderr, "usage: iTunes.exe --script FILE [--log FILE] [--lifetime S] [--parent PID] "
                        "[--window-class NAME]\n       iTunes.exe --register | --unregister\n");
        return 1;
    }
    InitializeCriticalSection(&g_player.lock);
    g_player.current = -1;
    g_player.compatible = VARIANT_TRUE;
    g_quitting = CreateEventA(0, TRUE, FALSE, 0);
    if (FAILED(CoInitializeEx(0, COINIT_MULTITHREADED)) || !create_window())
        return 1;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(CLSID_iTunesApp, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                     &cookie)))
        return 1;
    standin_log(&g_log, "running");
    HANDLE thread = CreateThread(0, 0, script_thread, 0, 0, 0);
    MSG message;
    while (GetMessageW(&message, 0, 0, 0) > 0)
        DispatchMessageW(&message);
    CoRevokeClassObject(cookie);
    CoDisconnectObject(static_cast<IiTunes *>(&g_app), 0);
    if (thread) {
        WaitForSingleObject(thread, 2000);
        CloseHandle(thread);
    }
    standin_log(&g_log, "ended");
    return 0; // the process ends without waiting for clients that still hold proxies
}
