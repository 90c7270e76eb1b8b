// Main-thread cost of one tick (the work after the timer wait): top line,
// pop-up or band meters, four slot panels, the ticker and the hand-over to a
// running link thread. Prints the median and the 90th percentile over
// TICKS ticks, for ticks with a pop-up and for ticks without one.
//
// The panels come from a stand-in dispatcher that draws what a typical page
// draws (frame, label, three lines of text in two fonts); module pages wired
// into the dispatcher later draw through the same calls.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "main.h"
#include "modules.h"
#include "slots.h"
#include "popup.h"
#include "ticker.h"
#include "topline.h"

enum { TICKS = 1000 };

static double ticks_to_us;

static int compare_doubles(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static int typical_page(const char *code, int i)
{
    Slot *slot = &g_slots[i];
    slot_draw_frame(slot, code);
    slot_text(slot, TXT_TINY | TXT_RIGHT, -1, 0, "37%");
    slot_text(slot, 0, 0, 7, "12:45");
    slot_text(slot, TXT_TINY, 0, -5, "2.41 GHz");
    return 1;
}

static void keep_ticker_busy(void)
{
    ticker_add(&g_ticker, "Alice");
    ticker_add(&g_ticker, "Bob");
}

static void measure(MainLoop *loop, int with_popup, double *median, double *p90)
{
    static double samples[TICKS];
    for (int k = 0; k < TICKS; k++) {
        if (with_popup && !g_popups.head)
            popup(&g_popups, 0, 60000, "Configuration updated");
        if (!with_popup)
            popup_clear(&g_popups);
        keep_ticker_busy();
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        main_tick(loop);
        QueryPerformanceCounter(&end);
        samples[k] = (double)(end.QuadPart - start.QuadPart) * ticks_to_us;
    }
    qsort(samples, TICKS, sizeof samples[0], compare_doubles);
    *median = samples[TICKS / 2];
    *p90 = samples[TICKS * 9 / 10];
}

int main(void)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticks_to_us = 1e6 / (double)frequency.QuadPart;
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);

    config_clear(&g_config); // general defaults, no files watched
    g_general.animate_start = 0;
    if (!lcd_open(&g_lcd, "bench", 1, 1, 0)) {
        printf("lcd_open failed\n");
        return 1;
    }
    lcd_set_small_font(&g_lcd, g_general.small_font_name, g_general.small_font_size);
    lcd_set_large_font(&g_lcd, g_general.large_font_name, g_general.large_font_size);
    for (int i = 0; i < SLOT_COUNT; i++) {
        slot_init(&g_slots[i], i);
        slot_parse_value(&g_slots[i], "CPU NET");
    }
    slot_render_module = typical_page;
    modules_start_all();

    MainLoop loop;
    memset(&loop, 0, sizeof loop);
    double median, p90;
    measure(&loop, 1, &median, &p90);
    printf("tick with pop-up:     median %7.1f us   p90 %7.1f us\n", median, p90);
    measure(&loop, 0, &median, &p90);
    printf("tick with meters:     median %7.1f us   p90 %7.1f us\n", median, p90);

    modules_stop_all();
    lcd_destroy_surface(&g_lcd);
    popup_clear(&g_popups);
    return 0;
}
