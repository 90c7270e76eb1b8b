// STW: stopwatch. A short press starts and stops it (in lap mode it freezes
// the display at a lap while the time runs on); a long press resets it.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |STW  |                LAP              |   Y+1: label; Y+2: "LAP" (tiny, from
//    +-----+                                 |        X+23) blinks while a lap is shown
//    |                                       |
//    |                              01:01.2  |   Y+14: the time, right edge at X+36
//    |                                       |
//
//    time             shown as
//    below 1 hour     00:00.0   minutes, seconds, tenths
//    below 10 hours   1:02:03   hours, minutes, seconds
//    from 10 hours    10:05     hours and minutes; the ':' blinks while running
//
// Tick-count differences are taken modulo 2^32, so a stopwatch keeps time
// across the wrap of the millisecond counter.
#include "mod_stw.h"

#include <stdlib.h>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "lcd_thread.h"

StopwatchModule g_stw;

static const int LAP_DX = 23, LAP_DY = 2;
static const int TIME_DX = 36, TIME_DY = 14;

uint32_t stw_lap_mode(int variant, uint32_t lap_default)
{
    uint32_t mode = (uint32_t)variant + lap_default;
    return mode > 1 ? mode & 1 : mode; // '+' toggles the default, '++' restores it
}

void stw_configure(StopwatchModule *stw)
{
    stw->lap_default = config_get_uint(&g_config, "stopwatch_laps", 0);
    for (int i = 0; i < SLOT_COUNT; i++) {
        stw->lap_mode[i] = stw_lap_mode(slot_variant(&g_slots[i], stw->code), stw->lap_default);
        if (!stw->lap_mode[i] && stw->state[i] == STW_LAP_SHOWN)
            stw->state[i] = STW_RUNNING;
    }
}

void stw_start(StopwatchModule *stw)
{
    for (int i = 0; i < SLOT_COUNT; i++) {
        stw->state[i] = STW_STOPPED;
        stw->elapsed[i] = 0;
        stw->started[i] = 0;
    }
    stw_configure(stw);
}

void stw_press(StopwatchModule *stw, Slot *slot, int i, uint32_t now)
{
    if (slot->pending_action == BUTTON_SHORT) {
        slot->pending_action = 0;
        switch (stw->state[i]) {
        case STW_STOPPED:
            stw->started[i] = now;
            stw->state[i] = STW_RUNNING;
            break;
        case STW_RUNNING:
            stw->elapsed[i] += now - stw->started[i];
            stw->started[i] = now;
            stw->state[i] = stw->lap_mode[i] ? STW_LAP_SHOWN : STW_STOPPED;
            break;
        default: // lap shown: the time ran on from the lap without a gap
            stw->state[i] = stw->lap_mode[i] ? STW_RUNNING : STW_STOPPED;
            break;
        }
    }
    if (slot->pending_action == BUTTON_LONG) {
        slot->pending_action = 0;
        stw->elapsed[i] = 0;
        stw->started[i] = now;
        stw->state[i] = STW_STOPPED;
    }
}

uint32_t stw_shown_ms(const StopwatchModule *stw, int i, uint32_t now)
{
    if (stw->state[i] == STW_RUNNING)
        return stw->elapsed[i] + (now - stw->started[i]);
    return stw->elapsed[i];
}

void stw_update(StopwatchModule *stw, Slot *slot, int i, uint32_t now, int blink_on, StopwatchView *view)
{
    stw_press(stw, slot, i, now);
    const char separator = blink_on == 1 ? ':' : ' ';
    view->show_lap = stw->state[i] == STW_LAP_SHOWN && separator == ' ';
    format_stopwatch(stw_shown_ms(stw, i, now), stw->state[i] == STW_STOPPED ? ':' : separator, view->text,
                     sizeof view->text);
}

int stw_render(StopwatchModule *stw, int slot)
{
    if (slot < 0 || slot >= SLOT_COUNT)
        return 0;
    Slot *s = &g_slots[slot];
    slot_draw_frame(s, stw->code);
    StopwatchView view;
    stw_update(stw, s, slot, app_now_ms(), blink, &view);
    if (view.show_lap)
        lcd_text(&g_lcd, TXT_TINY, s->x + LAP_DX, s->y + LAP_DY, "LAP");
    lcd_text(&g_lcd, TXT_RIGHT, s->x + TIME_DX, s->y + TIME_DY, view.text);
    return 1;
}
