// Numbers that stay inside their panel. See panel_text.h.
#include "panel_text.h"

#include "lcd.h"

static const char TOO_WIDE[] = "--";

int panel_text_right(Slot *slot, int flags, int right, int top, const char *text)
{
    flags |= TXT_RIGHT;
    const int room = right; // inner columns 1 .. right
    if (lcd_text(&g_lcd, flags | TXT_MEASURE, 0, 0, text) > room)
        text = TOO_WIDE;
    return lcd_text(&g_lcd, flags, slot->x + right, slot->y + top, text);
}
