// COR: the highest and the average processor core temperature that Core Temp
// publishes in the block "CoreTempMappingObject", copied once a second. The
// values are shown in Core Temp's own unit; with Fahrenheit the labels are
// shorter, which leaves room for three digits. A short press does nothing.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |COR  |                                 |   Y+1: label
//    +-----+                                 |
//    | Hi                             45°C   |   Y+8: "Hi" ("H") from X+2, highest, right edge at X+36
//    |                                       |
//    | Av                             42°C   |   Y+15: "Av" ("A") from X+2, average, right edge at X+36
//    |                                       |
//
// Core Temp may publish several processor packages, and distances below each
// package's TjMax instead of temperatures: the block's decoder turns them all
// into temperatures.
#include "mod_cor.h"

#include <string.h>

#include "app.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "shared_view.h"
#include "slots.h"

CoreTempModule g_cor;
const char *cor_block_name = "CoreTempMappingObject";

static const int LABEL_DX = 1, VALUE_DX = -2, HIGHEST_DY = 7, AVERAGE_DY = 14;

void cor_start(CoreTempModule *cor) { memset(&cor->summary, 0, sizeof cor->summary); }

void cor_read_block(CoreTempModule *cor)
{
    SharedView view;
    memset(&cor->summary, 0, sizeof cor->summary);
    if (!shared_view_open(&view, cor_block_name))
        return;
    coretemp_decode(view.bytes, view.size, &cor->summary);
    shared_view_close(&view);
}

void cor_poll(CoreTempModule *cor)
{
    if (second_tick)
        cor_read_block(cor);
}

int cor_render(CoreTempModule *cor, int slot)
{
    if (slot < 0 || slot >= SLOT_COUNT || !cor->summary.readings)
        return 0;
    Slot *s = &g_slots[slot];
    slot_draw_frame(s, cor->code);
    if (s->pending_action == BUTTON_SHORT)
        s->pending_action = 0;
    const int fahrenheit = (int)cor->summary.fahrenheit;
    char text[SENSOR_TEXT_BYTES];
    slot_text(s, 0, LABEL_DX, HIGHEST_DY, fahrenheit ? "H" : "Hi");
    slot_text(s, TXT_RIGHT, VALUE_DX, HIGHEST_DY, core_temp_text(cor->summary.highest, fahrenheit, text, sizeof text));
    slot_text(s, 0, LABEL_DX, AVERAGE_DY, fahrenheit ? "A" : "Av");
    slot_text(s, TXT_RIGHT, VALUE_DX, AVERAGE_DY, core_temp_text(cor->summary.average, fahrenheit, text, sizeof text));
    return 1;
}
