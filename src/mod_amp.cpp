// AMP: Winamp's bit rate and play time on a panel, its title as a pop-up
// whenever it changes or the slot's button is pressed. A long press keeps
// the title on the band for that slot ("AMP+" starts a slot that way).
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |AMP  |                                 |   Y+1: label
//    +-----+                           128k  |   Y+7: bit rate, averaged over a second,
//    |                                       |        right edge at X+36
//    |                                 3:30  |   Y+14: time left (elapsed when the
//    |                                       |         track has no length)
//
//    time left       shown as
//    below 1 hour    3:30      minutes, seconds
//    below 10 hours  1:02:05   hours, minutes, seconds
//    from 10 hours   10:05     hours and minutes; the ':' blinks
//
// Winamp is reached only through three WM_USER queries and its window
// title. A player that does not answer within AMP_REPLY_MS is let go until
// the next once-a-second search finds its window again, so a hung Winamp
// costs the tick loop at most that much per second.
#include "mod_amp.h"

#include <stdio.h>
#include <string.h>

#include "app.h"
#include "lcd.h"
#include "popup.h"

AmpModule g_amp;

enum {
    AMP_REPLY_MS = 50,
    AMP_TITLE_UNITS = 520,              // UTF-16 units of the title read
    AMP_TITLE_UTF8 = 3 * AMP_TITLE_UNITS, // room for their UTF-8 form
    TITLE_KEY = 1,
    TITLE_MS = 1500,
    TITLE_HOLD_MS = 120,

    // WM_USER queries: lParam is the query, wParam its argument
    QUERY_TIME = 105,     // wParam 0: position in ms; 1: length in s
    QUERY_INFO = 126,     // wParam 1: bit rate in kbit/s
    TIME_POSITION = 0,
    TIME_LENGTH = 1,
    INFO_BITRATE = 1,
};

static const int TEXT_DX = 36, BITRATE_DY = 7, TIME_DY = 14;

void amp_configure(AmpModule *amp)
{
    for (int i = 0; i < SLOT_COUNT; i++) {
        int marks = slot_variant(&g_slots[i], amp->code);
        amp->title_hold[i] = marks > 1 ? (uint32_t)marks & 1 : (uint32_t)marks;
    }
}

void amp_start(AmpModule *amp)
{
    amp->window = 0;
    amp->bitrate_sum = 0;
    amp->bitrate_samples = 0;
    amp_configure(amp);
}

void amp_poll(AmpModule *amp)
{
    if (second_tick)
        amp->window = FindWindowA("Winamp v1.x", 0);
}

// ---- Reading -------------------------------------------------------------------

// 0 when the player did not answer in time (or the window is gone).
static int amp_query(HWND window, WPARAM argument, LPARAM query, int32_t *value)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_USER, argument, query, SMTO_ABORTIFHUNG, AMP_REPLY_MS, &result))
        return 0;
    *value = (int32_t)(LRESULT)result;
    return 1;
}

static int amp_read_title(HWND window, AmpTitle *title)
{
    wchar_t units[AMP_TITLE_UNITS];
    int n = GetWindowTextW(window, units, AMP_TITLE_UNITS);
    if (n <= 0)
        return 0;
    char bytes[AMP_TITLE_UTF8];
    int size = WideCharToMultiByte(CP_UTF8, 0, units, n, bytes, sizeof bytes, 0, 0);
    amp_title_decode((const uint8_t *)bytes, size > 0 ? (size_t)size : 0, title);
    return 1;
}

void amp_take_title(AmpModule *amp, const char *title)
{
    if (!title[0] || strcmp(title, amp->title) == 0)
        return;
    memcpy(amp->title, title, strlen(title) + 1);
    popup(&g_popups, TITLE_KEY, TITLE_MS, "%s", amp->title);
}

// ---- Drawing -------------------------------------------------------------------

static void amp_press(AmpModule *amp, Slot *s, int slot)
{
    if (s->pending_action == 1) {
        s->pending_action = 0;
        popup(&g_popups, TITLE_KEY, TITLE_MS, "%s", amp->title);
    }
    if (s->pending_action == 2) {
        s->pending_action = 0;
        amp->title_hold[slot] ^= 1;
    }
    if (amp->title_hold[slot] && title_hold_allowed(&g_popups))
        popup(&g_popups, TITLE_KEY, TITLE_HOLD_MS, "%s", amp->title);
}

static void amp_draw_bitrate(AmpModule *amp, Slot *s, int32_t bitrate, int second_tick_now)
{
    if (bitrate <= 0) {
        amp->bitrate_sum = 0;
        amp->bitrate_samples = 0;
        return;
    }
    // a sum of garbage answers must not overflow within the second
    amp->bitrate_sum = bitrate > INT32_MAX - amp->bitrate_sum ? INT32_MAX : amp->bitrate_sum + bitrate;
    amp->bitrate_samples++;
    if (second_tick_now) {
        snprintf(amp->bitrate_text, sizeof amp->bitrate_text, "%dk", amp->bitrate_sum / amp->bitrate_samples);
        amp->bitrate_sum = 0;
        amp->bitrate_samples = 0;
    }
    lcd_text(&g_lcd, TXT_RIGHT, s->x + TEXT_DX, s->y + BITRATE_DY, amp->bitrate_text);
}

void amp_draw(AmpModule *amp, int slot, const AmpReading *reading, int second_tick_now, int blink_on)
{
    Slot *s = &g_slots[slot];
    int64_t length_ms = (int64_t)reading->length_s * 1000;
    int64_t shown_ms = length_ms > 0 ? length_ms - reading->position_ms : reading->position_ms;
    slot_draw_frame(s, amp->code);
    amp_press(amp, s, slot);
    amp_draw_bitrate(amp, s, reading->bitrate, second_tick_now);
    if (shown_ms < 1)
        return;
    char text[PLAY_TIME_BYTES];
    format_play_time((uint32_t)(shown_ms / 1000), blink_on, text, sizeof text);
    lcd_text(&g_lcd, TXT_RIGHT, s->x + TEXT_DX, s->y + TIME_DY, text);
}

int amp_render(AmpModule *amp, int slot)
{
    if (!amp->window || slot < 0 || slot >= SLOT_COUNT)
        return 0;
    AmpTitle title;
    if (!amp_read_title(amp->window, &title)) {
        amp->window = 0;
        return 0;
    }
    amp_take_title(amp, title.text);
    AmpReading reading = {0, 0, 0};
    if (!amp_query(amp->window, TIME_POSITION, QUERY_TIME, &reading.position_ms)) {
        amp->window = 0;
        return 0;
    }
    if (reading.position_ms < 0)
        return 0;
    if (!amp_query(amp->window, TIME_LENGTH, QUERY_TIME, &reading.length_s) ||
        !amp_query(amp->window, INFO_BITRATE, QUERY_INFO, &reading.bitrate)) {
        amp->window = 0;
        return 0;
    }
    amp_draw(amp, slot, &reading, second_tick, blink);
    return 1;
}
