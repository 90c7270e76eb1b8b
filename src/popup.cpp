// Pop-up notices: a first-in, first-out queue of formatted texts, shown one at
// a time in the band of rows 8..20. Each notice holds, scrolls if it is wider
// than the screen, holds (or runs on as an endless band) once more and leaves.
//
//   row 8  +--------------------------------------------------+
//          |Configuration updated                             |  x = -offset
//   row 20 +--------------------------------------------------+
//          |...end of a long notice      |<- 80 px ->|A long n|  second copy
#include "popup.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "lcd.h"

PopupQueue g_popups;

static const int POPUP_MAX_QUEUED = 60;
static const uint32_t POPUP_DEFAULT_MS = 2000;
static const size_t POPUP_TEXT_BYTES = sizeof(((PopupMessage *)0)->text);
static const int POPUP_Y = 8;
static const int POPUP_REPEAT_GAP = 80; // blank pixels between a running text and its repeat
static const int SCROLL_PIXELS = 8;
static const int SCROLL_TICKS = 3; // one scroll step every third tick

enum { STATE_NEW = 0, STATE_FIRST_HOLD = 1, STATE_SCROLL = 2, STATE_LAST_HOLD = 3 };

static int is_utf8_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

static int utf8_sequence_length(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// A text cut at the buffer's end may end inside a multi-byte character; drop
// that partial character so the notice does not end in a replacement glyph.
static void drop_partial_utf8_tail(char *text)
{
    size_t length = strlen(text);
    if (length < POPUP_TEXT_BYTES - 1)
        return; // not cut
    size_t start = length;
    while (start > 0 && length - start < 3 && is_utf8_continuation((unsigned char)text[start - 1]))
        start--;
    if (start == 0)
        return;
    size_t lead = start - 1;
    if ((size_t)utf8_sequence_length((unsigned char)text[lead]) > length - lead)
        text[lead] = 0;
}

static void format_text(char *text, const char *format, va_list args)
{
    vsnprintf(text, POPUP_TEXT_BYTES, format, args);
    text[POPUP_TEXT_BYTES - 1] = 0;
    drop_partial_utf8_tail(text);
}

static PopupMessage *find_key(PopupQueue *queue, uint32_t key)
{
    for (PopupMessage *m = queue->head; m; m = m->next)
        if (m->key == key)
            return m;
    return 0;
}

// A keyed notice already queued takes the new text instead of a second place.
static void update_keyed(PopupQueue *queue, PopupMessage *m, uint32_t duration, const char *text)
{
    if (m->duration < duration)
        m->duration = duration; // durations never shrink
    int is_head = (m == queue->head);
    if (strcmp(m->text, text) == 0) {
        if (is_head && queue->state >= STATE_SCROLL)
            queue->phase_start = app_now_ms(); // prolongs the last hold
        return;
    }
    memcpy(m->text, text, POPUP_TEXT_BYTES);
    if (is_head) {
        // The first hold begins again, counted from the unchanged phase_start.
        queue->offset = 0;
        queue->state = STATE_FIRST_HOLD;
    }
}

int popup(PopupQueue *queue, uint32_t key, int duration_ms, const char *format, ...)
{
    uint32_t duration = duration_ms < 1 ? POPUP_DEFAULT_MS : (uint32_t)duration_ms;
    int count = 0;
    PopupMessage *last = 0;
    for (PopupMessage *m = queue->head; m; m = m->next) {
        count++;
        last = m;
    }
    if (count >= POPUP_MAX_QUEUED || !format)
        return count;

    char text[POPUP_TEXT_BYTES];
    va_list args;
    va_start(args, format);
    format_text(text, format, args);
    va_end(args);

    if (key != 0) {
        PopupMessage *m = find_key(queue, key);
        if (m) {
            update_keyed(queue, m, duration, text);
            return count;
        }
    }

    PopupMessage *m = (PopupMessage *)malloc(sizeof *m);
    if (!m)
        return count;
    m->key = key;
    m->duration = duration;
    memcpy(m->text, text, POPUP_TEXT_BYTES);
    m->next = 0;
    if (last) {
        last->next = m;
    } else {
        queue->phase_start = app_now_ms();
        queue->head = m;
    }
    return count + 1;
}

void popup_begin_tick(PopupQueue *queue, uint32_t now)
{
    if (queue->state == STATE_NEW) {
        queue->state = STATE_FIRST_HOLD;
        queue->offset = 0;
        queue->phase_start = now;
    }
}

// In unsigned 32-bit arithmetic the difference is the true elapsed time, also
// across the wrap of the millisecond counter.
static int phase_running(const PopupQueue *queue, uint32_t now)
{
    return now - queue->phase_start < queue->head->duration;
}

// One tick of the last hold of a text at least as wide as the screen: it keeps
// running; once its end has left the screen, the offset jumps back so that the
// second copy (drawn POPUP_REPEAT_GAP behind the end) takes the first's place.
static void run_on(PopupQueue *queue, int width)
{
    queue->step++;
    if (queue->step < SCROLL_TICKS)
        return;
    int before = queue->offset;
    queue->offset += SCROLL_PIXELS;
    if (queue->offset > width)
        queue->offset = before + SCROLL_PIXELS - POPUP_REPEAT_GAP - width;
    queue->step = 0;
}

static void remove_head(PopupQueue *queue, uint32_t now)
{
    PopupMessage *done = queue->head;
    queue->head = done->next;
    free(done);
    queue->state = STATE_NEW;
    queue->offset = 0;
    queue->phase_start = now;
}

void popup_end_tick(PopupQueue *queue, uint32_t now, int width)
{
    if (!queue->head)
        return;
    if (queue->state == STATE_FIRST_HOLD) {
        if (phase_running(queue, now))
            return;
        queue->state = STATE_SCROLL;
    }
    if (queue->state == STATE_SCROLL) {
        queue->step++;
        if (queue->step < SCROLL_TICKS)
            return;
        if (queue->offset + LCD_WIDTH - 1 < width) { // the end is still off screen
            queue->offset += SCROLL_PIXELS;
            queue->step = 0;
            return;
        }
        queue->state = STATE_LAST_HOLD;
        queue->phase_start = now;
    }
    if (phase_running(queue, now)) {
        if (width >= LCD_WIDTH)
            run_on(queue, width);
        return;
    }
    remove_head(queue, now);
}

int popup_render(PopupQueue *queue)
{
    if (!queue->head)
        return 0;
    uint32_t now = app_now_ms();
    popup_begin_tick(queue, now);
    const char *text = queue->head->text;
    int width = lcd_text_utf8(&g_lcd, TXT_LARGE, -queue->offset, POPUP_Y, text);
    if (width > LCD_WIDTH && width - queue->offset < POPUP_REPEAT_GAP)
        lcd_text_utf8(&g_lcd, TXT_LARGE, width - queue->offset + POPUP_REPEAT_GAP, POPUP_Y, text);
    popup_end_tick(queue, now, width);
    return 1;
}

void popup_clear(PopupQueue *queue)
{
    PopupMessage *m = queue->head;
    while (m) {
        PopupMessage *next = m->next;
        free(m);
        m = next;
    }
    queue->head = 0;
    queue->state = STATE_NEW;
    queue->offset = 0;
    queue->step = 0;
}
