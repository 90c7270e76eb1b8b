// GPU: one graphics-card sensor at a time from GPU-Z. A short press steps to
// the next sensor with a name; a long press shows the sensor's number and
// full name as a pop-up. Each slot starts at the sensor given by its '+'
// marks (GPU++: sensor 2), again after every reload.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |GPU  |                                 |   Y+1: label
//    +-----+                      1234.567   |   Y+8: a value too wide to stand left of its unit
//    |                                       |
//    |                           45.25  MHz  |   Y+15: value, a blank column, then the unit
//    |                                       |         (right edge at X+36)
//
// A value that fits neither beside its unit nor on the line above shows as
// "--", and a unit wider than the panel loses its last characters, so the page
// never runs into the next panel.
//
// GPU-Z publishes its sensors in the block "GPUZShMem", copied once a second.
// While GPU-Z writes the block (its busy flag is set) the copy is skipped and
// the page shows last second's values, for at most GPU_BUSY_KEEP_SECONDS.
#include "mod_gpu.h"

#include <windows.h>

#include <string.h>

#include "app.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "panel_text.h"
#include "popup.h"
#include "shared_view.h"

static_assert(sizeof(wchar_t) == sizeof(uint16_t), "GPU-Z's texts are drawn as they are");

GpuModule g_gpu;
const char *gpu_block_name = "GPUZShMem";

static const int UNIT_DX = 36, UNIT_DY = 15;
static const int VALUE_GAP = 3, VALUE_DY = 14, ABOVE_RIGHT = 36, ABOVE_TOP = 8, ROOM = 36;
enum { POPUP_NAME_BYTES = 3 * GPU_NAME_UNITS + 1 };

void gpu_configure(GpuModule *gpu)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        gpu->position[i] = (uint32_t)slot_variant(&g_slots[i], gpu->code);
}

void gpu_start(GpuModule *gpu)
{
    gpu->present = 0;
    gpu->busy_seconds = 0;
    gpu_configure(gpu);
}

void gpu_read_block(GpuModule *gpu)
{
    SharedView view;
    int state = GPU_BLOCK_ABSENT;
    if (shared_view_open(&view, gpu_block_name)) {
        state = gpuz_decode(view.bytes, view.size, &gpu->scratch);
        if (state == GPU_BLOCK_READ && gpuz_busy(view.bytes, view.size))
            state = GPU_BLOCK_BUSY; // GPU-Z began to write while we copied
        shared_view_close(&view);
    }
    if (state == GPU_BLOCK_READ) {
        memcpy(&gpu->readings, &gpu->scratch, sizeof gpu->readings);
        gpu->present = 1;
        gpu->busy_seconds = 0;
    } else if (state == GPU_BLOCK_BUSY && gpu->present && gpu->busy_seconds < GPU_BUSY_KEEP_SECONDS) {
        gpu->busy_seconds++;
    } else {
        gpu->present = 0;
    }
}

void gpu_poll(GpuModule *gpu)
{
    if (second_tick)
        gpu_read_block(gpu);
}

static int first_named(const GpuModule *gpu, uint32_t from)
{
    for (uint32_t k = from; k < GPU_SENSORS; k++)
        if (gpu->readings.sensors[k].name[0])
            return (int)k;
    return -1;
}

int gpu_choose_sensor(GpuModule *gpu, Slot *slot, int i)
{
    if (slot->pending_action == BUTTON_SHORT) {
        slot->pending_action = 0;
        gpu->position[i]++;
    }
    int found = first_named(gpu, gpu->position[i]);
    if (found < 0)
        found = first_named(gpu, 0);
    gpu->position[i] = found < 0 ? 0 : (uint32_t)found;
    return found;
}

static void show_name(const GpuModule *gpu, int sensor)
{
    char name[POPUP_NAME_BYTES] = "";
    WideCharToMultiByte(CP_UTF8, 0, (const wchar_t *)gpu->readings.sensors[sensor].name, -1, name, sizeof name, 0,
                        0);
    name[sizeof name - 1] = 0;
    popup(&g_popups, GPU_POPUP_KEY, GPU_POPUP_MS, "GPU-Z sensor %d: %s", sensor, name);
}

// The unit as shown, cut at the end to the panel's width: eight characters
// can be wider than the panel.
static const wchar_t *fitting_unit(const GpuSensor *g, wchar_t *unit)
{
    const uint16_t *shown = gpu_unit_shown(g->unit);
    size_t n = 0;
    for (; n < GPU_UNIT_UNITS && shown[n]; n++)
        unit[n] = (wchar_t)shown[n];
    unit[n] = 0;
    while (n > 0 && lcd_text_wide(&g_lcd, TXT_MEASURE, 0, 0, unit) > ROOM)
        unit[--n] = 0;
    return unit;
}

int gpu_render(GpuModule *gpu, int slot)
{
    if (slot < 0 || slot >= SLOT_COUNT || !gpu->present)
        return 0;
    Slot *s = &g_slots[slot];
    slot_draw_frame(s, gpu->code);
    const int sensor = gpu_choose_sensor(gpu, s, slot);
    const int long_press = s->pending_action == BUTTON_LONG;
    if (long_press)
        s->pending_action = 0;
    if (sensor < 0)
        return 1;
    if (long_press)
        show_name(gpu, sensor);
    const GpuSensor *g = &gpu->readings.sensors[sensor];
    char text[SENSOR_TEXT_BYTES];
    gpu_value_text(g->value, g->decimals, text, sizeof text);
    wchar_t unit[GPU_UNIT_UNITS + 1];
    const int unit_width = lcd_text_wide(&g_lcd, TXT_RIGHT, s->x + UNIT_DX, s->y + UNIT_DY, fitting_unit(g, unit));
    if (slot_text(s, TXT_RIGHT | TXT_MEASURE, 0, 0, text) <= ROOM - unit_width)
        slot_text(s, TXT_RIGHT, -VALUE_GAP - unit_width, VALUE_DY, text);
    else
        panel_text_right(s, 0, ABOVE_RIGHT, ABOVE_TOP, text);
    return 1;
}
