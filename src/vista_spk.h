// VistaAudio: the default playback device through Core Audio (Windows Vista
// and later): its master volume and mute, kept current by notifications, its
// speaker configuration as a channel mask, and changing that configuration.
// One object in the process, owned by the speaker module.
#pragma once
#include <windows.h>
#include <audioclient.h>
#include <devicetopology.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <stdint.h>

// IAudioChannelConfig as Windows declares it: GetChannelConfig has one
// parameter (MinGW's header gives it a second one that Windows does not
// have, which would hand the driver a number for its pointer).
MIDL_INTERFACE("bb11c46f-ec28-493c-b88a-5db88062ce98") ChannelConfigControl : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SetChannelConfig(DWORD mask, LPCGUID context) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetChannelConfig(DWORD *mask) = 0;
};
__CRT_UUID_DECL(ChannelConfigControl, 0xbb11c46f, 0xec28, 0x493c, 0xb8, 0x8a, 0x5d, 0xb8, 0x80, 0x62, 0xce, 0x98)

struct VistaAudio;

// The three callback objects: interface table, reference count (from 1),
// owner. The owner is the process's static VistaAudio, so a notification
// that arrives late still writes into live memory.
struct EndpointNotificationClient final : IMMNotificationClient {
    volatile LONG refs = 1;
    VistaAudio *owner;
    explicit EndpointNotificationClient(VistaAudio *o) : owner(o) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override;
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }
};

struct VolumeCallback final : IAudioEndpointVolumeCallback {
    volatile LONG refs = 1;
    VistaAudio *owner;
    explicit VolumeCallback(VistaAudio *o) : owner(o) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;
};

struct ChannelConfigCallback final : IControlChangeNotify {
    volatile LONG refs = 1;
    VistaAudio *owner;
    explicit ChannelConfigCallback(VistaAudio *o) : owner(o) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnNotify(DWORD process_id, LPCGUID context) override;
};

// Interface fields hold one reference each, or none. The callbacks write
// master_volume, muted, default_changed and refresh_needed from system
// threads, each as one 32-bit store; everything else is the main thread's.
struct VistaAudio {
    IMMDeviceEnumerator *enumerator;
    EndpointNotificationClient *notification_client;
    IAudioEndpointVolume *endpoint_volume; // none: the system counts as one without Core Audio
    IPart *channel_part;                   // the topology part with the channel configuration
    ChannelConfigControl *channel_config;
    IAudioClient *audio_client;            // only to test formats
    ChannelConfigCallback *control_callback;
    VolumeCallback *volume_callback;
    uint32_t channel_mask;                 // KSAUDIO_SPEAKER_* bits, 0 when not read yet
    int on_wow64;                          // registry access through the 64-bit view
    char *properties_key;                  // HKLM path of the endpoint's property store
    volatile float master_volume;          // 0.0 .. 1.0
    volatile LONG muted;
    volatile LONG default_changed;
    volatile LONG refresh_needed;
};

extern VistaAudio g_vista;

// Results of vista_set_channel_config.
enum {
    VISTA_CHANGED = 0,          // changed, or the control could not be had for the change
    VISTA_NO_RIGHTS = 2,        // the property store's key cannot be opened for writing
    VISTA_NOT_SUPPORTED = 3,    // the device does not take the configuration
    VISTA_IN_USE = 4,           // taken, but the device reports another one afterwards
    VISTA_NO_CONTROL = 5,       // no standard speaker configuration control
};

void vista_open(VistaAudio *va);
void vista_close(VistaAudio *va);
void vista_check_default_device(VistaAudio *va);
void vista_read_volume(VistaAudio *va);
void vista_read_channel_config(VistaAudio *va);
int vista_set_channel_config(VistaAudio *va, uint32_t mask);
