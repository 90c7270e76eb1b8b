// CoreAudioStandIn.dll: an in-process COM server that takes the place of
// Wine's audio device enumerator in the test prefix. It plays two render
// devices, each with an endpoint volume, a device topology whose adapter
// side holds a subunit with the channel configuration control, an audio
// client that tests formats, and a property store. A script (see README.md)
// changes volume, mute, the channel mask, the default device and what the
// devices accept while the program runs; the notifications go out on the
// library's own thread, as Windows sends them on threads of its own.
#include <windows.h>
#include <audioclient.h>
#include <devicetopology.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <propsys.h>
#include <stdio.h>
#include <stdlib.h>

#include <initializer_list>
#include <new>

#include "coreaudio_standin.h"
#include "standin_script.h"

enum {
    DEVICES = 2,
    MAX_CALLBACKS = 16,
    NO_DEVICE = -1,
};

static const CLSID CLSID_ENUMERATOR = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
static const PROPERTYKEY PHYSICAL_SPEAKERS = {
    {0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 3};
static const wchar_t *const DEVICE_IDS[DEVICES] = {L"{0.0.0.00000000}." COREAUDIO_DEVICE_0_GUID,
                                                   L"{0.0.0.00000000}." COREAUDIO_DEVICE_1_GUID};

struct DeviceState {
    float volume;
    BOOL muted;
    DWORD mask;        // the channel configuration the driver reports
    int topology;      // 0: no topology (no channel configuration control)
    int keeps;         // 0: a new channel configuration is accepted but not kept
    int refuses;       // 1: no format is supported
    int control_due;   // a control change waits to be announced
    IAudioEndpointVolumeCallback *volume_callbacks[MAX_CALLBACKS];
    IControlChangeNotify *control_callbacks[MAX_CALLBACKS];
};

// Everything below is guarded by lock; callbacks are called outside it.
struct Stand {
    CRITICAL_SECTION lock;
    int default_device;
    DeviceState devices[DEVICES];
    IMMNotificationClient *clients[MAX_CALLBACKS];
    ScriptTail script;
    StandInLog log;
};

static Stand g;
static INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

#define LOCKED(...)                                                                                         \
    do {                                                                                                    \
        EnterCriticalSection(&g.lock);                                                                      \
        __VA_ARGS__;                                                                                        \
        LeaveCriticalSection(&g.lock);                                                                      \
    } while (0)

template <class T> static int add_callback(T **list, T *callback)
{
    int added = 0;
    LOCKED(for (int i = 0; i < MAX_CALLBACKS && !added; i++) if (!list[i]) list[i] = callback, added = 1);
    if (added)
        callback->AddRef();
    return added;
}

template <class T> static int remove_callback(T **list, T *callback)
{
    int removed = 0;
    LOCKED(for (int i = 0; i < MAX_CALLBACKS && !removed; i++) if (list[i] == callback) list[i] = 0, removed = 1);
    if (removed)
        callback->Release();
    return removed;
}

// A copy of a list with a reference each, to call outside the lock.
template <class T> static int take_callbacks(T **list, T **copy)
{
    int n = 0;
    for (int i = 0; i < MAX_CALLBACKS; i++)
        if (list[i])
            (copy[n++] = list[i])->AddRef();
    return n;
}

// ---- The objects -----------------------------------------------------------------

#define NOT_PLAYED(name, parameters)                                                                        \
    HRESULT STDMETHODCALLTYPE name parameters override { return E_NOTIMPL; }

template <class Interface> struct Com : Interface {
    volatile LONG refs = 1;
    virtual ~Com() {}
    virtual int answers(REFIID iid) { return iid == __uuidof(Interface); }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG n = InterlockedDecrement(&refs);
        if (n == 0)
            delete this;
        return (ULONG)n;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || answers(iid)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = 0;
        return E_NOINTERFACE;
    }
};

template <class Interface> static HRESULT hand_out(Interface *object, void **out)
{
    *out = object;
    return object ? S_OK : E_OUTOFMEMORY;
}

struct EndpointVolume final : Com<IAudioEndpointVolume> {
    int device;
    explicit EndpointVolume(int d) : device(d) {}
    HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback *callback) override
    {
        standin_log(&g.log, "device %d RegisterControlChangeNotify", device);
        return callback && add_callback(g.devices[device].volume_callbacks, callback) ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE UnregisterControlChangeNotify(IAudioEndpointVolumeCallback *callback) override
    {
        standin_log(&g.log, "device %d UnregisterControlChangeNotify", device);
        return remove_callback(g.devices[device].volume_callbacks, callback) ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetChannelCount(UINT *count) override
    {
        *count = 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float *level) override
    {
        LOCKED(*level = g.devices[device].volume);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMute(BOOL *muted) override
    {
        LOCKED(*muted = g.devices[device].muted);
        return S_OK;
    }
    NOT_PLAYED(SetMasterVolumeLevel, (float, LPCGUID))
    NOT_PLAYED(SetMasterVolumeLevelScalar, (float, LPCGUID))
    NOT_PLAYED(GetMasterVolumeLevel, (float *))
    NOT_PLAYED(SetChannelVolumeLevel, (UINT, float, LPCGUID))
    NOT_PLAYED(SetChannelVolumeLevelScalar, (UINT, float, LPCGUID))
    NOT_PLAYED(GetChannelVolumeLevel, (UINT, float *))
    NOT_PLAYED(GetChannelVolumeLevelScalar, (UINT, float *))
    NOT_PLAYED(SetMute, (BOOL, LPCGUID))
    NOT_PLAYED(GetVolumeStepInfo, (UINT *, UINT *))
    NOT_PLAYED(VolumeStepUp, (LPCGUID))
    NOT_PLAYED(VolumeStepDown, (LPCGUID))
    NOT_PLAYED(QueryHardwareSupport, (DWORD *))
    NOT_PLAYED(GetVolumeRange, (float *, float *, float *))
};

// IAudioChannelConfig as Windows declares it: GetChannelConfig has one
// parameter (MinGW's header gives it a second one that Windows does not have).
MIDL_INTERFACE("bb11c46f-ec28-493c-b88a-5db88062ce98") WindowsChannelConfig : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SetChannelConfig(DWORD mask, LPCGUID context) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetChannelConfig(DWORD *mask) = 0;
};
__CRT_UUID_DECL(WindowsChannelConfig, 0xbb11c46f, 0xec28, 0x493c, 0xb8, 0x8a, 0x5d, 0xb8, 0x80, 0x62, 0xce, 0x98)

struct ChannelConfig final : Com<WindowsChannelConfig> {
    int device;
    explicit ChannelConfig(int d) : device(d) {}
    HRESULT STDMETHODCALLTYPE SetChannelConfig(DWORD mask, LPCGUID) override
    {
        int kept = 0;
        LOCKED(kept = g.devices[device].keeps; if (kept) g.devices[device].mask = mask;
               g.devices[device].control_due = 1);
        standin_log(&g.log, "device %d SetChannelConfig 0x%lx %s", device, (unsigned long)mask,
                    kept ? "kept" : "not kept");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetChannelConfig(DWORD *mask) override
    {
        LOCKED(*mask = g.devices[device].mask);
        return S_OK;
    }
};

// A part: the adapter side of the endpoint's connector (which also is a
// connector), or the subunit behind it that holds the channel configuration.
struct Part final : Com<IPart> {
    int device;
    PartType type;
    explicit Part(int d, PartType t) : device(d), type(t) {}
    HRESULT STDMETHODCALLTYPE GetPartType(PartType *out) override
    {
        *out = type;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Activate(DWORD, REFIID iid, void **out) override
    {
        *out = 0;
        if (type != Subunit || iid != __uuidof(IAudioChannelConfig))
            return E_NOINTERFACE;
        return hand_out(static_cast<WindowsChannelConfig *>(new (std::nothrow) ChannelConfig(device)), out);
    }
    HRESULT STDMETHODCALLTYPE RegisterControlChangeCallback(REFIID iid, IControlChangeNotify *callback) override
    {
        standin_log(&g.log, "device %d RegisterControlChangeCallback", device);
        if (type != Subunit || iid != __uuidof(IAudioChannelConfig) || !callback)
            return E_INVALIDARG;
        return add_callback(g.devices[device].control_callbacks, callback) ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE UnregisterControlChangeCallback(IControlChangeNotify *callback) override
    {
        standin_log(&g.log, "device %d UnregisterControlChangeCallback", device);
        return remove_callback(g.devices[device].control_callbacks, callback) ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE EnumPartsIncoming(IPartsList **out) override;
    NOT_PLAYED(GetName, (LPWSTR *))
    NOT_PLAYED(GetLocalId, (UINT *))
    NOT_PLAYED(GetGlobalId, (LPWSTR *))
    NOT_PLAYED(GetSubType, (GUID *))
    NOT_PLAYED(GetControlInterfaceCount, (UINT *))
    NOT_PLAYED(GetControlInterface, (UINT, IControlInterface **))
    NOT_PLAYED(EnumPartsOutgoing, (IPartsList **))
    NOT_PLAYED(GetTopologyObjects, (IDeviceTopology **))
};

struct PartsList final : Com<IPartsList> {
    IPart *part;
    explicit PartsList(IPart *p) : part(p) {}
    ~PartsList() { part->Release(); }
    HRESULT STDMETHODCALLTYPE GetCount(UINT *count) override
    {
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPart(UINT index, IPart **out) override
    {
        if (index != 0)
            return *out = 0, E_INVALIDARG;
        part->AddRef();
        *out = part;
        return S_OK;
    }
};

HRESULT STDMETHODCALLTYPE Part::EnumPartsIncoming(IPartsList **out)
{
    *out = 0;
    if (type != Connector)
        return E_NOTFOUND;
    Part *subunit = new (std::nothrow) Part(device, Subunit);
    if (!subunit)
        return E_OUTOFMEMORY;
    PartsList *list = new (std::nothrow) PartsList(subunit);
    if (!list)
        return subunit->Release(), E_OUTOFMEMORY;
    *out = list;
    return S_OK;
}

// A connector: the endpoint's (connected to the adapter's) or the
// adapter's, which is asked for its part.
struct Connector_ final : Com<IConnector> {
    int device;
    int adapter_side;
    Connector_(int d, int adapter) : device(d), adapter_side(adapter) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (adapter_side && iid == __uuidof(IPart))
            return hand_out(static_cast<IPart *>(new (std::nothrow) Part(device, Connector)), out);
        return Com<IConnector>::QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE IsConnected(BOOL *connected) override
    {
        *connected = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectedTo(IConnector **out) override
    {
        return hand_out(static_cast<IConnector *>(new (std::nothrow) Connector_(device, !adapter_side)),
                        (void **)out);
    }
    NOT_PLAYED(GetType, (ConnectorType *))
    NOT_PLAYED(GetDataFlow, (DataFlow *))
    NOT_PLAYED(ConnectTo, (IConnector *))
    NOT_PLAYED(Disconnect, ())
    NOT_PLAYED(GetConnectorIdConnectedTo, (LPWSTR *))
    NOT_PLAYED(GetDeviceIdConnectedTo, (LPWSTR *))
};

struct Topology final : Com<IDeviceTopology> {
    int device;
    explicit Topology(int d) : device(d) {}
    HRESULT STDMETHODCALLTYPE GetConnectorCount(UINT *count) override
    {
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnector(UINT index, IConnector **out) override
    {
        if (index != 0)
            return *out = 0, E_INVALIDARG;
        return hand_out(static_cast<IConnector *>(new (std::nothrow) Connector_(device, 0)), (void **)out);
    }
    NOT_PLAYED(GetSubunitCount, (UINT *))
    NOT_PLAYED(GetSubunit, (UINT, ISubUnit **))
    NOT_PLAYED(GetPartById, (UINT, IPart **))
    NOT_PLAYED(GetDeviceId, (LPWSTR *))
    NOT_PLAYED(GetSignalPath, (IPart *, IPart *, BOOL, IPartsList **))
};

struct AudioClient final : Com<IAudioClient> {
    int device;
    explicit AudioClient(int d) : device(d) {}
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX *format,
                                                WAVEFORMATEX **closest) override
    {
        if (closest)
            *closest = 0;
        int refuses = 0;
        LOCKED(refuses = g.devices[device].refuses);
        DWORD mask = format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= 22
                         ? ((const WAVEFORMATEXTENSIBLE *)format)->dwChannelMask
                         : 0;
        standin_log(&g.log, "device %d IsFormatSupported mode %d channels %d mask 0x%lx align %d %s", device,
                    (int)mode, format->nChannels, (unsigned long)mask, format->nBlockAlign,
                    refuses ? "refused" : "supported");
        return refuses ? AUDCLNT_E_UNSUPPORTED_FORMAT : S_OK;
    }
    NOT_PLAYED(Initialize, (AUDCLNT_SHAREMODE, DWORD, REFERENCE_TIME, REFERENCE_TIME, const WAVEFORMATEX *, LPCGUID))
    NOT_PLAYED(GetBufferSize, (UINT32 *))
    NOT_PLAYED(GetStreamLatency, (REFERENCE_TIME *))
    NOT_PLAYED(GetCurrentPadding, (UINT32 *))
    NOT_PLAYED(GetMixFormat, (WAVEFORMATEX **))
    NOT_PLAYED(GetDevicePeriod, (REFERENCE_TIME *, REFERENCE_TIME *))
    NOT_PLAYED(Start, ())
    NOT_PLAYED(Stop, ())
    NOT_PLAYED(Reset, ())
    NOT_PLAYED(SetEventHandle, (HANDLE))
    NOT_PLAYED(GetService, (REFIID, void **))
};

// The speaker mask and a name; other keys have no value (VT_EMPTY).
struct PropertyStore final : Com<IPropertyStore> {
    int device;
    explicit PropertyStore(int d) : device(d) {}
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT *value) override
    {
        PropVariantInit(value);
        if (key.fmtid == PHYSICAL_SPEAKERS.fmtid && key.pid == PHYSICAL_SPEAKERS.pid) {
            value->vt = VT_UI4;
            LOCKED(value->ulVal = g.devices[device].mask);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD *count) override
    {
        *count = 0;
        return S_OK;
    }
    NOT_PLAYED(GetAt, (DWORD, PROPERTYKEY *))
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
    NOT_PLAYED(Commit, ())
};

struct Device final : Com<IMMDevice> {
    int device;
    explicit Device(int d) : device(d) {}
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT *, void **out) override
    {
        *out = 0;
        if (iid == __uuidof(IAudioEndpointVolume))
            return hand_out(static_cast<IAudioEndpointVolume *>(new (std::nothrow) EndpointVolume(device)), out);
        if (iid == __uuidof(IAudioClient))
            return hand_out(static_cast<IAudioClient *>(new (std::nothrow) AudioClient(device)), out);
        int topology = 0;
        LOCKED(topology = g.devices[device].topology);
        if (iid == __uuidof(IDeviceTopology) && topology)
            return hand_out(static_cast<IDeviceTopology *>(new (std::nothrow) Topology(device)), out);
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore **out) override
    {
        return hand_out(static_cast<IPropertyStore *>(new (std::nothrow) PropertyStore(device)), (void **)out);
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR *id) override
    {
        size_t bytes = (wcslen(DEVICE_IDS[device]) + 1) * sizeof(wchar_t);
        *id = (LPWSTR)CoTaskMemAlloc(bytes);
        if (!*id)
            return E_OUTOFMEMORY;
        memcpy(*id, DEVICE_IDS[device], bytes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD *state) override
    {
        *state = DEVICE_STATE_ACTIVE;
        return S_OK;
    }
};

struct Enumerator final : Com<IMMDeviceEnumerator> {
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice **out) override
    {
        int device = NO_DEVICE;
        LOCKED(device = g.default_device);
        standin_log(&g.log, "GetDefaultAudioEndpoint flow %d role %d: device %d", (int)flow, (int)role, device);
        if (flow != eRender || device == NO_DEVICE)
            return *out = 0, E_NOTFOUND;
        return hand_out(static_cast<IMMDevice *>(new (std::nothrow) Device(device)), (void **)out);
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice **out) override
    {
        for (int d = 0; d < DEVICES; d++)
            if (id && wcscmp(id, DEVICE_IDS[d]) == 0)
                return hand_out(static_cast<IMMDevice *>(new (std::nothrow) Device(d)), (void **)out);
        return *out = 0, E_NOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient *client) override
    {
        standin_log(&g.log, "RegisterEndpointNotificationCallback");
        return client && add_callback(g.clients, client) ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient *client) override
    {
        standin_log(&g.log, "UnregisterEndpointNotificationCallback");
        return remove_callback(g.clients, client) ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection **out) override
    {
        *out = 0;
        return E_NOTIMPL;
    }
};

// ---- Notifications, from the library's own thread ------------------------------

static void notify_volume(int device)
{
    IAudioEndpointVolumeCallback *callbacks[MAX_CALLBACKS];
    struct {
        AUDIO_VOLUME_NOTIFICATION_DATA data;
        float second_channel;
    } note = {};
    int n = 0;
    LOCKED(n = take_callbacks(g.devices[device].volume_callbacks, callbacks);
           note.data.bMuted = g.devices[device].muted; note.data.fMasterVolume = g.devices[device].volume);
    note.data.nChannels = 2;
    note.data.afChannelVolumes[0] = note.second_channel = note.data.fMasterVolume;
    standin_log(&g.log, "device %d volume %.3f muted %d to %d callbacks", device, note.data.fMasterVolume,
                note.data.bMuted, n);
    for (int i = 0; i < n; i++) {
        callbacks[i]->OnNotify(&note.data);
        callbacks[i]->Release();
    }
}

static void notify_control(int device)
{
    IControlChangeNotify *callbacks[MAX_CALLBACKS];
    int n = 0;
    LOCKED(n = take_callbacks(g.devices[device].control_callbacks, callbacks));
    standin_log(&g.log, "device %d channel configuration changed to %d callbacks", device, n);
    for (int i = 0; i < n; i++) {
        callbacks[i]->OnNotify(0, 0);
        callbacks[i]->Release();
    }
}

static void notify_default(void)
{
    IMMNotificationClient *clients[MAX_CALLBACKS];
    int n = 0, device = NO_DEVICE;
    LOCKED(n = take_callbacks(g.clients, clients); device = g.default_device);
    standin_log(&g.log, "default device %d to %d clients", device, n);
    for (int i = 0; i < n; i++) {
        for (ERole role : {eConsole, eMultimedia, eCommunications})
            clients[i]->OnDefaultDeviceChanged(eRender, role, device == NO_DEVICE ? 0 : DEVICE_IDS[device]);
        clients[i]->Release();
    }
}

// "volume N V", "mute N 0|1", "mask N M", "topology N 0|1", "keep N 0|1",
// "refuse N 0|1", "default N|none", "sleep MS".
static void run_line(char *line)
{
    char *command, *argument;
    if (!script_split(line, &command, &argument))
        return;
    if (strcmp(command, "sleep") == 0) {
        Sleep((DWORD)strtoul(argument, 0, 10));
        return;
    }
    if (strcmp(command, "default") == 0) {
        int device = strcmp(argument, "none") == 0 ? NO_DEVICE : atoi(argument) % DEVICES;
        LOCKED(g.default_device = device);
        notify_default();
        return;
    }
    char *rest = 0;
    int device = (int)strtol(argument, &rest, 10);
    if (device < 0 || device >= DEVICES || rest == argument)
        return;
    double value = strtod(rest, 0);
    DeviceState *d = &g.devices[device];
    if (strcmp(command, "volume") == 0) {
        LOCKED(d->volume = (float)value);
        notify_volume(device);
    } else if (strcmp(command, "mute") == 0) {
        LOCKED(d->muted = value != 0);
        notify_volume(device);
    } else if (strcmp(command, "mask") == 0) {
        LOCKED(d->mask = (DWORD)strtoul(rest, 0, 0); d->control_due = 1);
    } else if (strcmp(command, "topology") == 0) {
        LOCKED(d->topology = value != 0);
    } else if (strcmp(command, "keep") == 0) {
        LOCKED(d->keeps = value != 0);
    } else if (strcmp(command, "refuse") == 0) {
        LOCKED(d->refuses = value != 0);
    }
}

static DWORD WINAPI script_thread(void *)
{
    char line[SCRIPT_LINE_BYTES];
    for (;;) {
        while (script_next_line(&g.script, line, sizeof line))
            run_line(line);
        for (int device = 0; device < DEVICES; device++) {
            int due = 0;
            LOCKED(due = g.devices[device].control_due; g.devices[device].control_due = 0);
            if (due)
                notify_control(device);
        }
        Sleep(SCRIPT_POLL_MS);
    }
}

static BOOL CALLBACK start_once(INIT_ONCE *, void *, void **)
{
    InitializeCriticalSection(&g.lock);
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(COREAUDIO_SCRIPT_VARIABLE, path, sizeof path);
    g.default_device = n && n < sizeof path ? 0 : NO_DEVICE;
    if (g.default_device != NO_DEVICE)
        snprintf(g.script.path, sizeof g.script.path, "%s", path);
    for (DeviceState &d : g.devices)
        d.volume = 1.0f, d.mask = 0x3, d.topology = 1, d.keeps = 1;
    n = GetEnvironmentVariableA(COREAUDIO_LOG_VARIABLE, path, sizeof path);
    standin_log_open(&g.log, n && n < sizeof path ? path : "");
    standin_log(&g.log, "loaded; default device %d", g.default_device);
    if (g.script.path[0]) {
        HANDLE thread = CreateThread(0, 0, script_thread, 0, 0, 0);
        if (thread)
            CloseHandle(thread);
    }
    return TRUE;
}

struct Factory final : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory)
            return *out = this, S_OK;
        return *out = 0, E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override
    {
        *out = 0;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Enumerator *enumerator = new (std::nothrow) Enumerator;
        if (!enumerator)
            return E_OUTOFMEMORY;
        HRESULT hr = enumerator->QueryInterface(iid, out);
        enumerator->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

static Factory g_factory;

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out)
{
    *out = 0;
    if (clsid != CLSID_ENUMERATOR)
        return CLASS_E_CLASSNOTAVAILABLE;
    InitOnceExecuteOnce(&g_once, start_once, 0, 0);
    return g_factory.QueryInterface(iid, out);
}

// Never unloaded: the notification thread runs in it.
extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow(void) { return S_FALSE; }
