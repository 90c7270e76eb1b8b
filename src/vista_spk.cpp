// Core Audio access for the speaker page. The default render endpoint
// (eRender, eConsole) is bound at open and again, lazily on the main
// thread, after the system announced another default device.
//
//   enumerator --default endpoint--> device --+--> IAudioEndpointVolume (+ VolumeCallback)
//                                             +--> IAudioClient (format tests)
//                                             +--> IDeviceTopology: connector 0 --connected to-->
//                                                  adapter part --upstream--> part with
//                                                  IAudioChannelConfig (+ ChannelConfigCallback)
//
// The speaker mask lives twice: in the channel configuration control and in
// the endpoint's property store in the registry, which a change rewrites
// (HKLM, RENDER_KEY, the endpoint GUID, "\Properties").
#include "vista_spk.h"

#include <new>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "speakers.h"
#include "util.h"

VistaAudio g_vista;

enum {
    ID_BYTES = 128,           // the endpoint id in the ANSI code page
    WOW64_VIEW = 0x0100,      // KEY_WOW64_64KEY
};

static const CLSID CLSID_DEVICE_ENUMERATOR = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
static const char RENDER_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\MMDevices\\Audio\\Render\\";
static const char PHYSICAL_SPEAKERS[] = "{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},3";
static const char FULL_RANGE_SPEAKERS[] = "{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},6";
static const char DEVICE_FORMAT[] = "{f19f064d-082c-4e27-bc73-6882a1bb8e4c},0";
static const char OEM_FORMAT[] = "{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},3";

// ---- Callbacks -------------------------------------------------------------------

#define COUNTED_COM_OBJECT(Class, Interface)                                                                \
    HRESULT STDMETHODCALLTYPE Class::QueryInterface(REFIID iid, void **out)                                 \
    {                                                                                                       \
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface))) {                        \
            *out = static_cast<Interface *>(this);                                                          \
            AddRef();                                                                                       \
            return S_OK;                                                                                    \
        }                                                                                                   \
        *out = 0;                                                                                           \
        return E_NOINTERFACE;                                                                               \
    }                                                                                                       \
    ULONG STDMETHODCALLTYPE Class::AddRef() { return (ULONG)InterlockedIncrement(&refs); }                  \
    ULONG STDMETHODCALLTYPE Class::Release()                                                                \
    {                                                                                                       \
        LONG n = InterlockedDecrement(&refs);                                                               \
        if (n == 0)                                                                                         \
            delete this;                                                                                    \
        return (ULONG)n;                                                                                    \
    }

COUNTED_COM_OBJECT(EndpointNotificationClient, IMMNotificationClient)
COUNTED_COM_OBJECT(VolumeCallback, IAudioEndpointVolumeCallback)
COUNTED_COM_OBJECT(ChannelConfigCallback, IControlChangeNotify)

HRESULT STDMETHODCALLTYPE EndpointNotificationClient::OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR)
{
    if (flow == eRender && role == eConsole)
        InterlockedExchange(&owner->default_changed, 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE VolumeCallback::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data)
{
    if (data) {
        owner->master_volume = data->fMasterVolume;
        InterlockedExchange(&owner->muted, data->bMuted);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ChannelConfigCallback::OnNotify(DWORD, LPCGUID)
{
    InterlockedExchange(&owner->refresh_needed, 1);
    return S_OK;
}

// ---- Binding ---------------------------------------------------------------------

template <class T> static void release(T **object)
{
    if (*object)
        (*object)->Release();
    *object = 0;
}

static int can_configure_channels(IPart *part)
{
    ChannelConfigControl *control = 0;
    if (FAILED(part->Activate(CLSCTX_ALL, __uuidof(ChannelConfigControl), (void **)&control)) || !control)
        return 0;
    control->Release();
    return 1;
}

// The part a connector leads to, or none.
static IPart *part_behind(IConnector *connector)
{
    BOOL connected = FALSE;
    IConnector *other = 0;
    IPart *part = 0;
    if (SUCCEEDED(connector->IsConnected(&connected)) && connected &&
        SUCCEEDED(connector->GetConnectedTo(&other)) && other) {
        if (FAILED(other->QueryInterface(__uuidof(IPart), (void **)&part)))
            part = 0;
        other->Release();
    }
    return part;
}

// Depth-first upstream: the part itself, or the first part feeding it that
// has a channel configuration control. The result holds a reference.
static IPart *find_channel_config_part(IPart *part, int depth)
{
    if (can_configure_channels(part)) {
        part->AddRef();
        return part;
    }
    IPartsList *incoming = 0;
    UINT count = 0;
    if (depth >= 32 || FAILED(part->EnumPartsIncoming(&incoming)) || !incoming) // a looped topology ends too
        return 0;
    IPart *hit = 0;
    if (FAILED(incoming->GetCount(&count)))
        count = 0;
    for (UINT i = 0; i < count && !hit; i++) {
        IPart *next = 0;
        PartType type = Subunit;
        if (FAILED(incoming->GetPart(i, &next)) || !next)
            continue;
        if (SUCCEEDED(next->GetPartType(&type)) && type == Connector) {
            IConnector *connector = 0;
            if (SUCCEEDED(next->QueryInterface(__uuidof(IConnector), (void **)&connector)) && connector) {
                IPart *behind = part_behind(connector);
                if (behind) {
                    hit = find_channel_config_part(behind, depth + 1);
                    behind->Release();
                }
                connector->Release();
            }
        } else {
            hit = find_channel_config_part(next, depth + 1);
        }
        next->Release();
    }
    incoming->Release();
    return hit;
}

static void find_channel_part(VistaAudio *va, IMMDevice *device)
{
    IDeviceTopology *topology = 0;
    IConnector *connector = 0;
    if (FAILED(device->Activate(__uuidof(IDeviceTopology), CLSCTX_ALL, 0, (void **)&topology)) || !topology)
        return;
    if (SUCCEEDED(topology->GetConnector(0, &connector)) && connector) {
        IPart *part = part_behind(connector);
        if (part) {
            va->channel_part = find_channel_config_part(part, 0);
            part->Release();
        }
        connector->Release();
    }
    topology->Release();
}

// "{0.0.0.00000000}.{GUID}" -> "...\Render\{GUID}\Properties".
static void build_properties_key(VistaAudio *va, IMMDevice *device)
{
    LPWSTR id = 0;
    if (FAILED(device->GetId(&id)) || !id)
        return;
    char ansi[ID_BYTES];
    int n = WideCharToMultiByte(CP_ACP, 0, id, -1, ansi, sizeof ansi, 0, 0);
    CoTaskMemFree(id);
    if (n <= 0)
        return;
    ansi[sizeof ansi - 1] = 0;
    const char *guid = strrchr(ansi, '{');
    if (!guid)
        return;
    size_t size = sizeof RENDER_KEY + strlen(guid) + sizeof "\\Properties";
    va->properties_key = (char *)malloc(size);
    if (va->properties_key)
        snprintf(va->properties_key, size, "%s%s\\Properties", RENDER_KEY, guid);
}

static void bind_volume(VistaAudio *va, IMMDevice *device)
{
    if (FAILED(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, 0, (void **)&va->endpoint_volume)) ||
        !va->endpoint_volume) {
        va->endpoint_volume = 0;
        OutputDebugStringA("VistaAudio: Failed to retrieve IAudioEndpointVolume\n");
        return;
    }
    va->volume_callback = new (std::nothrow) VolumeCallback(va);
    if (va->volume_callback && FAILED(va->endpoint_volume->RegisterControlChangeNotify(va->volume_callback))) {
        OutputDebugStringA("VistaAudio: Failed to RegisterControlChangeNotify IAudioEndpointVolume\n");
        release(&va->volume_callback);
    }
}

static void bind_channel_config(VistaAudio *va, IMMDevice *device)
{
    find_channel_part(va, device);
    if (va->channel_part &&
        SUCCEEDED(va->channel_part->Activate(CLSCTX_ALL, __uuidof(ChannelConfigControl), (void **)&va->channel_config)) &&
        va->channel_config) {
        if (FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, 0, (void **)&va->audio_client)))
            va->audio_client = 0;
        va->control_callback = new (std::nothrow) ChannelConfigCallback(va);
        if (va->control_callback &&
            FAILED(va->channel_part->RegisterControlChangeCallback(__uuidof(ChannelConfigControl), va->control_callback)))
            release(&va->control_callback);
    } else {
        va->channel_config = 0;
    }
    if (!va->control_callback) {
        OutputDebugStringA("VistaAudio: Failed to RegisterControlChangeCallback IAudioChannelConfig\n");
        release(&va->channel_config);
        release(&va->audio_client);
        release(&va->channel_part);
    }
}

static void bind_default_endpoint(VistaAudio *va)
{
    if (!va->enumerator)
        return;
    IMMDevice *device = 0;
    if (SUCCEEDED(va->enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device)) && device) {
        build_properties_key(va, device);
        bind_volume(va, device);
        bind_channel_config(va, device);
        device->Release();
    }
    if (!va->endpoint_volume)
        OutputDebugStringA("VistaAudio: Failed to find valid pEndpointVolume\n");
}

// The audio system may still hold a callback (a notification on its way):
// a callback goes with its last reference, never before.
static void release_endpoint(VistaAudio *va)
{
    release(&va->audio_client);
    release(&va->channel_config);
    if (va->channel_part && va->control_callback)
        va->channel_part->UnregisterControlChangeCallback(va->control_callback);
    release(&va->control_callback);
    release(&va->channel_part);
    if (va->endpoint_volume && va->volume_callback)
        va->endpoint_volume->UnregisterControlChangeNotify(va->volume_callback);
    release(&va->volume_callback);
    release(&va->endpoint_volume);
    free(va->properties_key);
    va->properties_key = 0;
}

void vista_open(VistaAudio *va)
{
    va->channel_mask = 0;
    va->master_volume = 0;
    va->muted = 0;
    va->on_wow64 = is_wow64();
    CoInitializeEx(0, COINIT_MULTITHREADED);
    if (FAILED(CoCreateInstance(CLSID_DEVICE_ENUMERATOR, 0, CLSCTX_INPROC_SERVER, __uuidof(IMMDeviceEnumerator),
                                (void **)&va->enumerator)))
        va->enumerator = 0;
    if (va->enumerator) {
        va->notification_client = new (std::nothrow) EndpointNotificationClient(va);
        if (va->notification_client &&
            FAILED(va->enumerator->RegisterEndpointNotificationCallback(va->notification_client)))
            release(&va->notification_client);
    }
    bind_default_endpoint(va);
    vista_read_volume(va);
    InterlockedExchange(&va->refresh_needed, 1);
}

void vista_close(VistaAudio *va)
{
    release_endpoint(va);
    if (va->enumerator && va->notification_client)
        va->enumerator->UnregisterEndpointNotificationCallback(va->notification_client);
    release(&va->notification_client);
    release(&va->enumerator);
    CoUninitialize();
}

void vista_check_default_device(VistaAudio *va)
{
    if (!va->default_changed)
        return;
    release_endpoint(va);
    bind_default_endpoint(va);
    InterlockedExchange(&va->default_changed, 0);
    vista_read_volume(va);
    InterlockedExchange(&va->refresh_needed, 1);
}

void vista_read_volume(VistaAudio *va)
{
    vista_check_default_device(va);
    if (!va->endpoint_volume)
        return;
    BOOL muted = FALSE;
    float level = 0;
    if (SUCCEEDED(va->endpoint_volume->GetMute(&muted)))
        InterlockedExchange(&va->muted, muted);
    if (SUCCEEDED(va->endpoint_volume->GetMasterVolumeLevelScalar(&level)))
        va->master_volume = level;
}

// ---- The property store in the registry ------------------------------------------

static int open_properties(const VistaAudio *va, REGSAM access, HKEY *key)
{
    if (!va->properties_key)
        return 0;
    if (va->on_wow64 &&
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, va->properties_key, 0, access | WOW64_VIEW, key) == ERROR_SUCCESS)
        return 1;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, va->properties_key, 0, access, key) == ERROR_SUCCESS;
}

void vista_read_channel_config(VistaAudio *va)
{
    vista_check_default_device(va);
    va->channel_mask = 0;
    DWORD mask = 0;
    if (va->channel_config) {
        if (SUCCEEDED(va->channel_config->GetChannelConfig(&mask)))
            va->channel_mask = mask;
        return;
    }
    HKEY key;
    if (!open_properties(va, KEY_QUERY_VALUE, &key))
        return;
    DWORD type = 0, size = sizeof mask;
    if (RegQueryValueExA(key, PHYSICAL_SPEAKERS, 0, &type, (BYTE *)&mask, &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof mask)
        va->channel_mask = mask;
    RegCloseKey(key);
}

// The stored bytes after the 8-byte header go to IsFormatSupported as they are.
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == ENDPOINT_FORMAT_BYTES - 8, "extensible format is 40 bytes");
static_assert(offsetof(WAVEFORMATEXTENSIBLE, dwChannelMask) == 28 - 8, "channel mask at 28 of the value");

// One stored format: read, adjusted to the mask when usable, tested.
struct StoredFormat {
    const char *name;
    alignas(8) uint8_t bytes[ENDPOINT_FORMAT_BYTES];
    DWORD size; // as read
    int read;
    int supported;
};

static void test_format(const VistaAudio *va, HKEY key, uint32_t mask, StoredFormat *f)
{
    DWORD type = 0;
    f->size = sizeof f->bytes;
    f->read = RegQueryValueExA(key, f->name, 0, &type, f->bytes, &f->size) == ERROR_SUCCESS;
    if (!f->read || !endpoint_format_adjust(f->bytes, f->size, mask))
        return;
    const WAVEFORMATEX *format = (const WAVEFORMATEX *)(f->bytes + 8);
    f->supported = va->audio_client && va->audio_client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, format, 0) == S_OK;
}

static int apply_channel_config(VistaAudio *va, HKEY key, uint32_t mask, StoredFormat *formats, int count)
{
    ChannelConfigControl *control = 0;
    if (FAILED(va->channel_part->Activate(CLSCTX_ALL, __uuidof(ChannelConfigControl), (void **)&control)) || !control)
        return VISTA_CHANGED; // nothing done, nothing to report
    DWORD now = 0;
    int result = VISTA_CHANGED;
    if (FAILED(control->SetChannelConfig(mask, 0)))
        result = VISTA_NOT_SUPPORTED;
    else if (FAILED(control->GetChannelConfig(&now)) || now != mask)
        result = VISTA_IN_USE;
    if (result == VISTA_CHANGED) {
        DWORD value = mask;
        RegSetValueExA(key, PHYSICAL_SPEAKERS, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
        RegSetValueExA(key, FULL_RANGE_SPEAKERS, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
        for (int i = 0; i < count; i++)
            if (formats[i].read)
                RegSetValueExA(key, formats[i].name, 0, REG_BINARY, formats[i].bytes, formats[i].size);
    }
    control->Release();
    return result;
}

int vista_set_channel_config(VistaAudio *va, uint32_t mask)
{
    vista_check_default_device(va);
    if (!va->channel_part || !va->channel_config)
        return VISTA_NO_CONTROL;
    HKEY key;
    if (!open_properties(va, KEY_QUERY_VALUE | KEY_SET_VALUE, &key))
        return VISTA_NO_RIGHTS;
    StoredFormat formats[2] = {{DEVICE_FORMAT, {}, 0, 0, 0}, {OEM_FORMAT, {}, 0, 0, 0}};
    for (StoredFormat &f : formats)
        test_format(va, key, mask, &f);
    int result = formats[0].supported || formats[1].supported ? apply_channel_config(va, key, mask, formats, 2)
                                                              : VISTA_NOT_SUPPORTED;
    RegCloseKey(key);
    return result;
}
