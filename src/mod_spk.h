// SPK: the default playback device's speaker configuration and volume; a
// short press switches between the speaker and the headphone set-up. See
// mod_spk.cpp for the picture.
#pragma once
#include <windows.h>
#include <dsound.h>
#include <stdint.h>

struct SpkModule {
    const char *code = "SPK";
    uint32_t speaker_setup;   // DirectSound value of the speaker set-up, 6 (5.1) by default
    uint32_t headphone_setup; // of the headphone set-up, 1 (headphone) by default
    uint8_t next_is_speaker;  // the next short press applies the speaker set-up; never reset
};

extern SpkModule g_spk;

// Module entry points (no poll).
void spk_start(SpkModule *spk);
void spk_configure(SpkModule *spk);
int spk_render(SpkModule *spk, int slot);
void spk_stop(SpkModule *spk);

// ---- Pieces and the seams at the DirectSound and mixer calls -----------------

// DirectSoundCreate unless a test puts a double here (Wine's DirectSound
// keeps no speaker configuration).
typedef HRESULT(WINAPI *SpkDirectSoundCreate)(LPCGUID device, LPDIRECTSOUND *out, LPUNKNOWN outer);
extern SpkDirectSoundCreate spk_direct_sound_create;
extern IDirectSound *spk_direct_sound;

// The mixer's speaker line: 1 with the wedge level (0..20) and mute state,
// 0 when there is no mixer. The winmm mixer unless a test puts a double here.
typedef int (*SpkMixerRead)(int *level, int *muted);
extern SpkMixerRead spk_read_mixer;

// The page drawn through Core Audio, and the one through DirectSound and the
// mixer (0 without a DirectSound object).
int spk_render_core_audio(SpkModule *spk, int slot);
int spk_render_direct_sound(SpkModule *spk, int slot);
