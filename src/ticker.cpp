// Event ticker: live labels (such as who is talking) drawn as inverted boxes
// from the right edge over the band. A label stays `linger` ms after the last
// ticker_add with its text. Labels are UTF-8, like pop-up texts.
//
//          L-2 L-1 L ........ R-1 R
//   row 7   .   .  ############## .     # lit, . dark; the label's text is
//   row 8   .   #  #  Alice     # #       drawn dark on the lit ground
//   ...     .   #  #            # #
//   row 19  .   #  ############## #
//   row 20  .   .  ############## .     (bottom border: columns L .. L+w-1)
//
// The next box to the left ends at R = L - 3.
#include "ticker.h"

#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "lcd.h"

EventTicker g_ticker = {500, {}, {}};

static const int LINGER_START_MS = 500;
static const int LINGER_MAX_MS = 2000;
static const int BOX_TOP = 7;
static const int BOX_BOTTOM = 20;
static const int MIN_TEXT_LEFT = 3; // a label whose text would start left of this is skipped

void ticker_start(EventTicker *ticker)
{
    memset(ticker, 0, sizeof *ticker);
    ticker->linger = LINGER_START_MS;
}

void ticker_add(EventTicker *ticker, const char *text)
{
    if (!text)
        return;
    uint32_t now = app_now_ms();
    int free_place = -1;
    for (int i = 0; i < TICKER_PLACES; i++) {
        if (!ticker->labels[i]) {
            if (free_place < 0)
                free_place = i;
        } else if (strcmp(ticker->labels[i], text) == 0) {
            ticker->stamps[i] = now;
            return;
        }
    }
    if (free_place < 0)
        return; // all places taken: dropped until one expires
    size_t size = strlen(text) + 1;
    char *copy = (char *)malloc(size);
    if (!copy)
        return;
    memcpy(copy, text, size);
    ticker->labels[free_place] = copy;
    ticker->stamps[free_place] = now;
}

void ticker_set_linger(EventTicker *ticker, int ms)
{
    if (ms < 0)
        ms = 0;
    if (ms > LINGER_MAX_MS)
        ms = LINGER_MAX_MS;
    ticker->linger = ms;
}

static void free_place(EventTicker *ticker, int i)
{
    free(ticker->labels[i]);
    ticker->labels[i] = 0;
}

// Elapsed time by difference, so a stamp near the top of the 32-bit counter
// does not expire early when stamp + linger would overflow.
static int expired(const EventTicker *ticker, int i, uint32_t now)
{
    return now - ticker->stamps[i] > (uint32_t)ticker->linger;
}

// A border column: dark corners at rows 7 and 20, lit in between.
static void draw_border(uint8_t *frame, int x)
{
    frame_put(frame, x, BOX_TOP, 0);
    for (int y = BOX_TOP + 1; y < BOX_BOTTOM; y++)
        frame_put(frame, x, y, 255);
    frame_put(frame, x, BOX_BOTTOM, 0);
}

static void draw_box(Lcd *lcd, int right, int left, int width, const char *text)
{
    draw_border(lcd->frame, right);
    lcd_text_utf8(lcd, TXT_LARGE | TXT_INVERT | TXT_OPAQUE, left, BOX_TOP, text);
    draw_border(lcd->frame, left - 1);
    for (int x = left; x < left + width; x++)
        frame_put(lcd->frame, x, BOX_BOTTOM, 255);
    for (int y = BOX_TOP; y <= BOX_BOTTOM; y++)
        frame_put(lcd->frame, left - 2, y, 0); // separates the box from what lies left of it
}

void ticker_render(EventTicker *ticker)
{
    uint32_t now = app_now_ms();
    int right = LCD_WIDTH - 1;
    for (int i = 0; i < TICKER_PLACES; i++) {
        if (!ticker->labels[i])
            continue;
        if (expired(ticker, i, now)) {
            free_place(ticker, i);
            continue;
        }
        if (!g_lcd.frame)
            continue; // no surface: labels still expire, nothing is drawn
        int width = lcd_text_utf8(&g_lcd, TXT_LARGE | TXT_MEASURE, 0, 0, ticker->labels[i]);
        int left = right - width;
        if (left < MIN_TEXT_LEFT)
            continue; // does not fit; a shorter label further on still may
        draw_box(&g_lcd, right, left, width, ticker->labels[i]);
        right = left - 3;
    }
}

void ticker_clear(EventTicker *ticker)
{
    for (int i = 0; i < TICKER_PLACES; i++)
        free_place(ticker, i);
}
