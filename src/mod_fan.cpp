// FAN: one SpeedFan reading at a time (a temperature, a fan speed or a
// voltage), chosen from up to ten modes set by fan_mode_0 .. fan_mode_9. A
// short press steps to the next usable mode, a long press switches automatic
// stepping (fan_cycle_interval) on or off for the slot.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |FAN  |                                 |   Y+1: label
//    +-----+                            CPU  |   Y+7: the mode's label, right edge at X+36
//    |                                       |
//    |                             45.5°C    |   Y+14: the reading, right edge at X+36
//    |                                       |
//
// SpeedFan publishes its readings in the block "SFSharedMemory_ALM", which is
// copied once a second and held only for the copy. The page gives way while
// the block holds no reading. A reading too wide for the panel shows as "--".
#include "mod_fan.h"

#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "config.h"
#include "config_parse.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "panel_text.h"
#include "shared_view.h"

FanModule g_fan;
const char *fan_block_name = "SFSharedMemory_ALM";

static const int LABEL_DX = 36, LABEL_DY = 7;
static const int VALUE_DX = 36, VALUE_DY = 14;
enum { WORD_CHARS = 31 };

// ---- Configuration -------------------------------------------------------------

static void copy_word(char *out, size_t size, const char *word, int length)
{
    size_t n = (size_t)length < size - 1 ? (size_t)length : size - 1;
    memcpy(out, word, n);
    out[n] = 0;
}

void fan_parse_mode(const char *value, FanMode *mode)
{
    memset(mode, 0, sizeof *mode);
    mode->kind = FAN_KIND_NONE;
    mode->sensor = -1;
    const char *word;
    int length;
    if (!value || !(word = config_next_word(&value, &length)))
        return;
    copy_word(mode->label, FAN_LABEL_CHARS + 1, word, length);
    char text[WORD_CHARS + 1];
    if (!(word = config_next_word(&value, &length)))
        return;
    copy_word(text, sizeof text, word, length);
    static const char *const KINDS[] = {"TEMP", "FAN", "VOLT"}; // in FanKind order
    for (int k = 0; k < 3; k++)
        if (config_stricmp(text, KINDS[k]) == 0)
            mode->kind = k;
    if (!(word = config_next_word(&value, &length)))
        return;
    copy_word(text, sizeof text, word, length);
    mode->sensor = (int32_t)(uint32_t)strtoul(text, 0, 10); // above 2^31 it is negative: unusable
}

static uint32_t number_or_default(const char *key)
{
    return config_get_uint(&g_config, key, 0);
}

void fan_configure(FanModule *fan)
{
    fan->cycle_interval = number_or_default("fan_cycle_interval");
    const uint32_t cycling = number_or_default("fan_cycle");
    for (int i = 0; i < SLOT_COUNT; i++)
        fan->cycling[i] = cycling;
    fan->fahrenheit = number_or_default("fan_farenheit") != 0;
    char key[] = "fan_mode_X";
    for (int m = 0; m < FAN_MODES; m++) {
        key[9] = (char)('0' + m);
        fan_parse_mode(config_get(&g_config, key), &fan->modes[m]);
    }
}

void fan_start(FanModule *fan)
{
    memset(&fan->readings, 0, sizeof fan->readings);
    for (int i = 0; i < SLOT_COUNT; i++)
        fan->current[i] = (uint32_t)slot_variant(&g_slots[i], fan->code);
    fan->stepped = 0;
    fan_configure(fan);
}

// ---- Reading ----------------------------------------------------------------------

static int has_readings(const FanModule *fan)
{
    return fan->readings.count[0] || fan->readings.count[1] || fan->readings.count[2];
}

void fan_read_block(FanModule *fan)
{
    SharedView view;
    memset(&fan->readings, 0, sizeof fan->readings);
    if (!shared_view_open(&view, fan_block_name))
        return;
    speedfan_decode(view.bytes, view.size, &fan->readings);
    shared_view_close(&view);
}

void fan_cycle_step(FanModule *fan, uint32_t now)
{
    if (!has_readings(fan) || !fan->cycle_interval)
        return;
    if (!fan->stepped) {
        fan->last_step = now;
        fan->stepped = 1;
    }
    if ((uint64_t)(uint32_t)(now - fan->last_step) < (uint64_t)fan->cycle_interval * 100)
        return;
    fan->last_step = now;
    for (int i = 0; i < SLOT_COUNT; i++)
        if (fan->cycling[i])
            fan->current[i] = fan->current[i] >= FAN_MODES - 1 ? 0 : fan->current[i] + 1;
}

void fan_poll(FanModule *fan)
{
    if (second_tick)
        fan_read_block(fan);
    fan_cycle_step(fan, app_now_ms());
}

// ---- Drawing -------------------------------------------------------------------------

static int usable(const FanModule *fan, const FanMode *mode)
{
    if (!mode->label[0] || mode->kind < FAN_KIND_TEMP || mode->kind > FAN_KIND_VOLT || mode->sensor < 0)
        return 0;
    return (uint32_t)mode->sensor < fan->readings.count[mode->kind];
}

int fan_choose_mode(FanModule *fan, Slot *slot, int i)
{
    if (slot->pending_action == BUTTON_SHORT) {
        slot->pending_action = 0;
        fan->current[i]++; // past 9 the search starts at 0
    }
    if (slot->pending_action == BUTTON_LONG) {
        slot->pending_action = 0;
        fan->cycling[i] = !fan->cycling[i];
    }
    const uint32_t start = fan->current[i] >= FAN_MODES ? 0 : fan->current[i];
    fan->current[i] = start;
    for (uint32_t k = 0; k < FAN_MODES; k++) {
        const uint32_t m = (start + k) % FAN_MODES;
        if (usable(fan, &fan->modes[m])) {
            fan->current[i] = m;
            return (int)m;
        }
    }
    return -1;
}

int fan_render(FanModule *fan, int slot)
{
    if (slot < 0 || slot >= SLOT_COUNT || !has_readings(fan))
        return 0;
    Slot *s = &g_slots[slot];
    slot_draw_frame(s, fan->code);
    const int m = fan_choose_mode(fan, s, slot);
    if (m < 0)
        return 1;
    const FanMode *mode = &fan->modes[m];
    char text[SENSOR_TEXT_BYTES];
    fan_reading_text(mode->kind, fan->readings.values[mode->kind][mode->sensor], (int)fan->fahrenheit, text,
                     sizeof text);
    lcd_text(&g_lcd, TXT_RIGHT, s->x + LABEL_DX, s->y + LABEL_DY, mode->label);
    panel_text_right(s, 0, VALUE_DX, VALUE_DY, text);
    return 1;
}
