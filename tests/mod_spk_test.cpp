// The speaker page: every icon and the wedge from chosen Core Audio values,
// and the DirectSound path through a double at the DirectSound and mixer
// calls (Wine's DirectSound keeps no speaker configuration). Core Audio
// itself is the end-to-end tests' part, against the Core Audio stand-in.
#include <vector>

#include "canvas_fixture.h"
#include "config.h"
#include "lcd_thread.h"
#include "mod_spk.h"
#include "popup.h"
#include "slots.h"
#include "vista_spk.h"

using canvas_tests::CanvasTest;

namespace {

struct FakeDirectSound final : IDirectSound {
    DWORD config = 0;
    std::vector<DWORD> set;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override { return *out = 0, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateSoundBuffer(LPCDSBUFFERDESC, LPDIRECTSOUNDBUFFER *, LPUNKNOWN) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER, LPDIRECTSOUNDBUFFER *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND, DWORD) override { return DS_OK; }
    HRESULT STDMETHODCALLTYPE Compact() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSpeakerConfig(LPDWORD out) override { return *out = config, DS_OK; }
    HRESULT STDMETHODCALLTYPE SetSpeakerConfig(DWORD value) override
    {
        set.push_back(value);
        config = value;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return E_NOTIMPL; }
};

FakeDirectSound fake_sound;
int mixer_level = -1, mixer_muted; // level -1: no mixer

HRESULT WINAPI create_fake_sound(LPCGUID, LPDIRECTSOUND *out, LPUNKNOWN)
{
    *out = &fake_sound;
    return DS_OK;
}

int read_fake_mixer(int *level, int *muted)
{
    *level = mixer_level, *muted = mixer_muted;
    return mixer_level >= 0;
}

struct SpkTest : CanvasTest {
    SpkModule spk{};
    SpkDirectSoundCreate saved_create = spk_direct_sound_create;
    SpkMixerRead saved_mixer = spk_read_mixer;
    int saved_second = second_tick;
    void SetUp() override
    {
        CanvasTest::SetUp();
        popup_clear(&g_popups);
        spk_direct_sound_create = create_fake_sound;
        spk_read_mixer = read_fake_mixer;
        second_tick = 0;
        fake_sound = FakeDirectSound();
        mixer_level = -1;
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i), slot_parse_value(&g_slots[i], "SPK");
    }
    void TearDown() override
    {
        spk_direct_sound_create = saved_create;
        spk_read_mixer = saved_mixer;
        spk_direct_sound = 0;
        second_tick = saved_second;
        config_free_entries(&g_config.entries);
        popup_clear(&g_popups);
        CanvasTest::TearDown();
    }
    void core_audio(int slot, uint32_t mask, float volume, int muted)
    {
        g_vista.channel_mask = mask, g_vista.master_volume = volume, g_vista.muted = muted;
        g_vista.refresh_needed = 0;
        EXPECT_EQ(spk_render_core_audio(&spk, slot), 1);
    }
};

// Mono at level 0, quad at 0.25 (level 5), stereo muted at 0.5 (10),
// surround at 1.0 (20); then 5.1 muted at 0.15 (3), 7.1 wide at 0.53 (11),
// 7.1 muted at 1.0, and the DirectSound page with headphones and the mixer
// at level 7.
TEST_F(SpkTest, EveryIconAndTheWedgeWithAndWithoutMute)
{
    core_audio(0, 0x4, 0.0f, 0);
    core_audio(1, 0x33, 0.25f, 0);
    core_audio(2, 0x3, 0.5f, 1);
    core_audio(3, 0x107, 1.0f, 0);
    EXPECT_GOLDEN_AREA("spk_pages_a", g_lcd.frame, 0, 22, 160, 21);
    canvas_tests::clear_frame();
    core_audio(0, 0x3F, 0.15f, 1);
    core_audio(1, 0xFF, 0.53f, 0);
    core_audio(2, 0x63F, 1.0f, 1);
    spk_direct_sound = &fake_sound;
    fake_sound.config = DSSPEAKER_COMBINED(DSSPEAKER_HEADPHONE, DSSPEAKER_GEOMETRY_WIDE);
    mixer_level = 7;
    EXPECT_EQ(spk_render_direct_sound(&spk, 3), 1);
    EXPECT_GOLDEN_AREA("spk_pages_b", g_lcd.frame, 0, 22, 160, 21);
    EXPECT_TRUE(fake_sound.set.empty());
}

TEST_F(SpkTest, DirectSoundPressesAlternateBetweenTheTwoSetUps)
{
    config_put(&g_config.entries, "speaker_setup", "7.1wide");
    config_put(&g_config.entries, "headphone_setup", "Stereo");
    spk_start(&spk);
    EXPECT_EQ(spk_direct_sound, &fake_sound);
    for (int press = 0; press < 3; press++) {
        g_slots[1].pending_action = BUTTON_SHORT;
        EXPECT_EQ(spk_render_direct_sound(&spk, 1), 1);
        EXPECT_EQ(g_slots[1].pending_action, 0);
    }
    EXPECT_EQ(fake_sound.set, (std::vector<DWORD>{DSSPEAKER_STEREO, DSSPEAKER_7POINT1_WIDE, DSSPEAKER_STEREO}));

    // an unknown word keeps the set-up in force, a deleted key brings the default
    config_put(&g_config.entries, "speaker_setup", "6.1");
    config_put(&g_config.entries, "headphone_setup", "headphone");
    spk_configure(&spk);
    EXPECT_EQ(spk.speaker_setup, (uint32_t)DSSPEAKER_7POINT1_WIDE);
    EXPECT_EQ(spk.headphone_setup, (uint32_t)DSSPEAKER_HEADPHONE);
    config_free_entries(&g_config.entries);
    spk_configure(&spk);
    EXPECT_EQ(spk.speaker_setup, (uint32_t)DSSPEAKER_5POINT1);
    EXPECT_EQ(spk.next_is_speaker, 1) << "the alternation survives a reload";
    spk_stop(&spk);
    EXPECT_EQ(spk_render_direct_sound(&spk, 1), 0) << "no page without DirectSound";
}

} // namespace
