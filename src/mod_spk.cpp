// SPK: the speaker configuration of the default playback device as an
// icon, the master volume as a wedge, a mute symbol when muted. A short
// press applies the headphone set-up, the next one the speaker set-up, and
// so on; a long press restarts the module. With Core Audio (VistaAudio) the
// configuration of the default endpoint is changed; without it DirectSound's
// speaker configuration and the mixer's speaker line are used.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |SPK  |                              #  |   Y+1: label
//    +-----+                             ##  |
//    | 14 x 13 icon     13 x 13         ###  |   Y+8: icon at X+2, mute symbol at X+18
//    | of the set-up    mute symbol    ####  |
//    |                  (when muted)  #####  |   wedge: columns X+32..X+36 on row Y+20,
//    |                                #####  |   X+36 is level (0..20) pixels high, each
//    |                                #####  |   column to its left one less; muted: an
//                                                outline (inner columns top pixel only)
#include "mod_spk.h"

#include <mmsystem.h>
#include <string.h>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "popup.h"
#include "slots.h"
#include "speakers.h"
#include "vista_spk.h"

SpkModule g_spk;
SpkDirectSoundCreate spk_direct_sound_create = DirectSoundCreate;
IDirectSound *spk_direct_sound;

enum {
    ICON_W = 14,
    ICON_H = 13,
    MUTE_W = 13,
    ICON_DX = 2,
    ICON_DY = 8,
    MUTE_DX = 18,
    WEDGE_DX = 32, // leftmost wedge column; the highest is WEDGE_DX + 4
    WEDGE_BOTTOM_DY = 20,
    LEVELS = 20,
    RESULT_KEY = 8,
    RESULT_MS = 3000,
    DEFAULT_SPEAKER_SETUP = SPEAKER_5_1,
    DEFAULT_HEADPHONE_SETUP = SPEAKER_HEADPHONE,
};

// Indexed by set-up value - 1 (9, 5.1 surround, shows the 5.1 icon).
static const char *const ICONS[SPEAKER_SETUP_MAX] = {
    // 1 headphone
    "     XXXX     "
    "   XX    XX   "
    "  X        X  "
    " X          X "
    " X          X "
    "X            X"
    "X X        X X"
    "XXX        XXX"
    "XXX        XXX"
    " XX        XX "
    " XX        XX "
    "  X        X  "
    "              ",
    // 2 mono
    "              "
    "    XXXXXX    "
    "    XX  XX    "
    "    XX  XX    "
    "    XXXXXX    "
    "    XXXXXX    "
    "    XX  XX    "
    "    X XX X    "
    "    X XX X    "
    "    XX  XX    "
    "    XXXXXX    "
    "              "
    "              ",
    // 3 quad
    " XX        XX "
    "XX          XX"
    "X       X    X"
    "       XX     "
    "      XXX     "
    "     X XX     "
    "    X  XX     "
    "   XXXXXXX    "
    "       XX     "
    "X      XX    X"
    "XX          XX"
    " XX        XX "
    "              ",
    // 4 stereo
    "              "
    "XXXXXX  XXXXXX"
    "XX  XX  XX  XX"
    "XX  XX  XX  XX"
    "XXXXXX  XXXXXX"
    "XXXXXX  XXXXXX"
    "XX  XX  XX  XX"
    "X XX X  X XX X"
    "X XX X  X XX X"
    "XX  XX  XX  XX"
    "XXXXXX  XXXXXX"
    "              "
    "              ",
    // 5 surround
    "     XXXX     "
    " XX XXXXXX XX "
    "XX          XX"
    "X            X"
    "              "
    "XX X X XX  XX "
    "X  X X X X X X"
    " X X X XX  XX "
    "XX XXX X X X X"
    "              "
    "X            X"
    "XX          XX"
    " XX        XX ",
    // 6 5.1
    "     XXXX     "
    " XX XXXXXX XX "
    "XX          XX"
    "X  XXXXXXXX  X"
    "  XX  XXX XX  "
    "  XX XXXX XX  "
    "  XX  XXX XX  "
    "  XXX XXX XX  "
    "  XX  X X XX  "
    "X  XXXXXXXX  X"
    "XX          XX"
    " XX        XX "
    "              ",
    // 7 7.1 wide
    "XX XX XX XX XX"
    "X            X"
    "   XXXXXXXX   "
    "  XX  XXX XX  "
    "X XXX XXX XX X"
    "X XXX XXX XX X"
    "X XXX XXX XX X"
    "  XXX X X XX  "
    "   XXXXXXXX   "
    "              "
    "  XX   X   X  "
    "   XX XXX X   "
    "    XX  XX    ",
    // 8 7.1 surround
    "     XXXX     "
    " XX XXXXXX XX "
    "XX          XX"
    "X  XXXXXXXX  X"
    "  XX  XXX XX  "
    "X XXX XXX XX X"
    "X XXX XXX XX X"
    "X XXX XXX XX X"
    "  XXX X X XX  "
    "X  XXXXXXXX  X"
    "XX          XX"
    " XX        XX "
    "              ",
    // 9 5.1 surround: the 5.1 icon
    0,
};

static const char MUTED[] = "       XXX   "
                            "       XXX   "
                            "      XXXX   "
                            "     XXXXX XX"
                            "    XXXXXXX  "
                            " XXXXXXX     "
                            " XXXXX  XX   "
                            " XXX  XXXX   "
                            "   XXXXXXX   "
                            " XX  XXXXX   "
                            "X     XXXX   "
                            "       XXX   "
                            "       XXX   ";
static_assert(sizeof MUTED == MUTE_W * ICON_H + 1, "mute symbol is 13 x 13");

// ---- Mixer -------------------------------------------------------------------------

static int read_mixer_control(HMIXER mixer, DWORD line, DWORD type, MIXERCONTROLA *control, DWORD *value)
{
    MIXERLINECONTROLSA controls = {};
    controls.cbStruct = sizeof controls;
    controls.dwLineID = line;
    controls.dwControlType = type;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof *control;
    controls.pamxctrl = control;
    control->cbStruct = sizeof *control;
    if (mixerGetLineControlsA((HMIXEROBJ)mixer, &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR)
        return 0;
    MIXERCONTROLDETAILS details = {};
    details.cbStruct = sizeof details;
    details.dwControlID = control->dwControlID;
    details.cChannels = 1;
    details.cbDetails = sizeof *value;
    details.paDetails = value;
    return mixerGetControlDetailsA((HMIXEROBJ)mixer, &details, MIXER_GETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

static int read_winmm_mixer(int *level, int *muted)
{
    HMIXER mixer = 0;
    if (mixerOpen(&mixer, 0, 0, 0, 0) != MMSYSERR_NOERROR)
        return 0;
    *level = 0, *muted = 0;
    MIXERCAPSA caps;
    MIXERLINEA line = {};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    if (mixerGetDevCapsA(0, &caps, sizeof caps) == MMSYSERR_NOERROR &&
        mixerGetLineInfoA((HMIXEROBJ)mixer, &line, MIXER_GETLINEINFOF_COMPONENTTYPE) == MMSYSERR_NOERROR) {
        MIXERCONTROLA control = {};
        DWORD value = 0;
        if (read_mixer_control(mixer, line.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE, &control, &value))
            *muted = value != 0;
        if (read_mixer_control(mixer, line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &control, &value)) {
            DWORD step = (control.Bounds.dwMaximum - control.Bounds.dwMinimum) / LEVELS;
            *level = step ? (int)((value - control.Bounds.dwMinimum) / step) : 0;
        }
    }
    mixerClose(mixer);
    return 1;
}

SpkMixerRead spk_read_mixer = read_winmm_mixer;

// ---- Drawing -----------------------------------------------------------------------

static void draw_icon(const Slot *s, uint32_t value)
{
    if (value < SPEAKER_SETUP_MIN || value > SPEAKER_SETUP_MAX)
        return;
    const char *icon = ICONS[value - 1] ? ICONS[value - 1] : ICONS[SPEAKER_5_1 - 1];
    lcd_bitmap(&g_lcd, 0, s->x + ICON_DX, s->y + ICON_DY, ICON_W, ICON_H, icon);
}

static void draw_wedge(const Slot *s, int level, int muted)
{
    level = level < 0 ? 0 : level > LEVELS ? LEVELS : level; // the mixer may answer below its minimum
    const int bottom = s->y + WEDGE_BOTTOM_DY;
    for (int c = 0; c < 5; c++) {
        int height = level - (4 - c), x = s->x + WEDGE_DX + c;
        int outline_only = muted && c > 0 && c < 4;
        for (int h = 0; h < height; h++)
            if (!outline_only || h == height - 1)
                frame_put(g_lcd.frame, x, bottom - h, 255);
    }
    if (muted)
        lcd_bitmap(&g_lcd, 0, s->x + MUTE_DX, s->y + ICON_DY, MUTE_W, ICON_H, MUTED);
}

// The set-up a short press applies, alternating between the two.
static uint32_t next_setup(SpkModule *spk)
{
    uint32_t value = spk->next_is_speaker ? spk->speaker_setup : spk->headphone_setup;
    spk->next_is_speaker = !spk->next_is_speaker;
    return value;
}

static void report_change(int result, uint32_t value)
{
    switch (result) {
    case VISTA_NO_RIGHTS:
        popup(&g_popups, RESULT_KEY, RESULT_MS, "Must run as Administrator to change speaker settings.");
        break;
    case VISTA_NOT_SUPPORTED:
        popup(&g_popups, RESULT_KEY, RESULT_MS, "Device does not support %s speakers", speaker_setup_name((int)value));
        break;
    case VISTA_IN_USE:
        popup(&g_popups, RESULT_KEY, RESULT_MS, "Can't change; device is in use");
        break;
    case VISTA_NO_CONTROL:
        popup(&g_popups, RESULT_KEY, RESULT_MS, "Can't change; device uses proprietary interfaces");
        break;
    }
}

int spk_render_core_audio(SpkModule *spk, int slot)
{
    Slot *s = &g_slots[slot];
    slot_draw_frame(s, spk->code);
    int muted = g_vista.muted != 0;
    float volume = g_vista.master_volume;
    volume = volume >= 0.0f ? (volume <= 1.0f ? volume : 1.0f) : 0.0f; // as told by a notification
    int level = (int)(LEVELS * volume + 0.5f);
    draw_wedge(s, level, muted);
    if (second_tick && !g_vista.channel_config)
        InterlockedExchange(&g_vista.refresh_needed, 1); // no notification: the registry once a second
    if (InterlockedExchange(&g_vista.refresh_needed, 0)) // cleared first: a change meanwhile is read next time
        vista_read_channel_config(&g_vista);
    draw_icon(s, (uint32_t)speaker_icon_for_mask(g_vista.channel_mask));
    if (s->pending_action == BUTTON_SHORT) {
        s->pending_action = 0;
        uint32_t value = next_setup(spk);
        if (value >= SPEAKER_SETUP_MIN && value <= SPEAKER_SETUP_MAX)
            report_change(vista_set_channel_config(&g_vista, speaker_setup_mask((int)value)), value);
    }
    return 1;
}

int spk_render_direct_sound(SpkModule *spk, int slot)
{
    if (!spk_direct_sound)
        return 0;
    Slot *s = &g_slots[slot];
    slot_draw_frame(s, spk->code);
    DWORD config = 0;
    spk_direct_sound->GetSpeakerConfig(&config);
    config &= 0xFF; // without the geometry
    int level = 0, muted = 0;
    if (spk_read_mixer(&level, &muted))
        draw_wedge(s, level, muted);
    if (s->pending_action == BUTTON_SHORT) {
        s->pending_action = 0;
        config = next_setup(spk);
        spk_direct_sound->SetSpeakerConfig(config);
    }
    draw_icon(s, config);
    return 1;
}

int spk_render(SpkModule *spk, int slot)
{
    if (slot < 0 || slot >= SLOT_COUNT)
        return 0;
    if (g_slots[slot].pending_action == BUTTON_LONG) {
        g_slots[slot].pending_action = 0;
        spk_stop(spk);
        spk_start(spk);
        return 0;
    }
    // a device change first: the page follows a device that went away at once
    vista_check_default_device(&g_vista);
    return g_vista.endpoint_volume ? spk_render_core_audio(spk, slot) : spk_render_direct_sound(spk, slot);
}

// ---- Life ----------------------------------------------------------------------------

// An unknown word keeps the value in force; a missing key gives the default.
static void read_setup(const char *key, uint32_t default_value, uint32_t *value)
{
    const char *word = config_get(&g_config, key);
    int named = speaker_setup_from_word(word);
    if (!word)
        *value = default_value;
    else if (named)
        *value = (uint32_t)named;
    else
        config_note_bad_value(&g_config, key, "not a speaker set-up");
}

void spk_configure(SpkModule *spk)
{
    read_setup("speaker_setup", DEFAULT_SPEAKER_SETUP, &spk->speaker_setup);
    read_setup("headphone_setup", DEFAULT_HEADPHONE_SETUP, &spk->headphone_setup);
    vista_close(&g_vista);
    vista_open(&g_vista);
}

void spk_start(SpkModule *spk)
{
    CoInitializeEx(0, COINIT_MULTITHREADED);
    spk->speaker_setup = DEFAULT_SPEAKER_SETUP;
    spk->headphone_setup = DEFAULT_HEADPHONE_SETUP;
    if (FAILED(spk_direct_sound_create(0, &spk_direct_sound, 0)))
        spk_direct_sound = 0;
    if (spk_direct_sound)
        spk_direct_sound->SetCooperativeLevel(main_window, DSSCL_NORMAL);
    vista_open(&g_vista);
    spk_configure(spk);
}

void spk_stop(SpkModule *)
{
    vista_close(&g_vista);
    if (spk_direct_sound)
        spk_direct_sound->Release();
    spk_direct_sound = 0;
    CoUninitialize();
}
