// FPS: the frame rate FRAPS measures in the game it watches.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |FPS  |                                 |   Y+1: label
//    +-----+                                 |
//    |                                       |
//    |                                 60    |   Y+10: the rate in the large font,
//    |                                       |         right edge at X+36
//
// FRAPS places its library into running programs through a window hook: a
// 32-bit process receives FRAPS32.DLL (FRAPS.DLL from old versions), a 64-bit
// one FRAPS64.DLL. The library's export "FrapsSharedData" returns a record
// with the current rate at offset 4. Once a second, while FRAPS runs (its
// window "FRAPS fps" exists), the module looks for the library among the
// modules already in this process (it never loads it itself); when it is not
// here yet, it creates and at once destroys a hidden window, which gives the
// hook the occasion to place it. Without FRAPS there is no rate, and the
// library is not looked for: asking for a module by name searches the whole
// library path on the disk. The page shows only while the rate is not 0; a
// rate too wide for the panel shows as "--".
#include "mod_fps.h"

#include <windows.h>

#include "app.h"
#include "lcd.h"
#include "panel_text.h"
#include "shared_view.h"
#include "slots.h"
#include "testwindow.h"

FpsModule g_fps;

static const char *const LIBRARIES[] = {
#ifdef _WIN64
    "FRAPS64.DLL", // the only one a 64-bit process can hold
#endif
    "FRAPS32.DLL",
    "FRAPS.DLL",
};
static const char FRAPS_WINDOW[] = "FRAPS fps";
static const DWORD INVITATION_STYLE = 0xCF0000; // overlapped window, never shown
static const int RATE_DX = 36, RATE_DY = 10;

typedef const void *(WINAPI *FrapsSharedDataFn)(void);

void fps_start(FpsModule *fps) { fps->rate_text[0] = 0; }

static HMODULE loaded_fraps_library(void)
{
    for (const char *name : LIBRARIES) {
        HMODULE library = GetModuleHandleA(name);
        if (library)
            return library;
    }
    return 0;
}

static void invite_fraps(void)
{
    HWND window = CreateWindowExA(0, TESTWINDOW_CLASS, PIXWICK_NAME, INVITATION_STYLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, app_instance, 0);
    if (window)
        DestroyWindow(window);
}

void fps_read_rate(FpsModule *fps)
{
    fps->rate_text[0] = 0;
    if (!FindWindowA(0, FRAPS_WINDOW))
        return;
    HMODULE library = loaded_fraps_library();
    if (!library) {
        invite_fraps();
        return;
    }
    FrapsSharedDataFn shared_data = (FrapsSharedDataFn)(void *)GetProcAddress(library, "FrapsSharedData");
    const uint8_t *record = shared_data ? (const uint8_t *)shared_data() : 0;
    const uint32_t rate = fraps_rate(record, readable_bytes(record));
    if (rate)
        fps_text(rate, fps->rate_text, sizeof fps->rate_text);
}

void fps_poll(FpsModule *fps)
{
    if (second_tick)
        fps_read_rate(fps);
}

int fps_render(FpsModule *fps, int slot)
{
    if (slot < 0 || slot >= SLOT_COUNT || !fps->rate_text[0])
        return 0;
    Slot *s = &g_slots[slot];
    slot_draw_frame(s, fps->code);
    panel_text_right(s, TXT_LARGE, RATE_DX, RATE_DY, fps->rate_text);
    return 1;
}
