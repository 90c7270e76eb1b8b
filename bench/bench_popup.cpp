// Time of one popup_render of a notice wider than the screen while it scrolls
// and then runs on as a band (part of the time with its repeat drawn too).
// Prints the median of RUNS timed calls in microseconds.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "lcd.h"
#include "popup.h"

static const int RUNS = 201;
static const int TICK_MS = 100;

static uint32_t bench_now = 1000;
static uint32_t bench_clock(void) { return bench_now; }

static int compare_doubles(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

int main(void)
{
    if (!lcd_create_surface(&g_lcd)) {
        fprintf(stderr, "no drawing surface\n");
        return 1;
    }
    app_clock = bench_clock;
    // A long hold, so the notice stays for every run; its first hold is cut
    // short by moving the clock on, which starts the scrolling.
    const int duration_ms = 100000000;
    popup(&g_popups, 1, duration_ms, "Now playing: %s - %s (%d kbit/s)",
          "A Band With A Rather Long Name", "An Even Longer Title Of A Track", 320);
    popup_render(&g_popups);
    bench_now += duration_ms;

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    static double micros[RUNS];
    for (int i = 0; i < RUNS; i++) {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        bench_now += TICK_MS;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        popup_render(&g_popups);
        QueryPerformanceCounter(&end);
        micros[i] = (double)(end.QuadPart - start.QuadPart) * 1e6 / (double)frequency.QuadPart;
    }
    qsort(micros, RUNS, sizeof micros[0], compare_doubles);
    printf("popup_render (scrolling notice): median %.1f us, min %.1f us, max %.1f us over %d runs\n",
           micros[RUNS / 2], micros[0], micros[RUNS - 1], RUNS);
    if (!g_popups.head || g_popups.state < 2) {
        fprintf(stderr, "the notice did not scroll\n");
        return 1;
    }
    popup_clear(&g_popups);
    lcd_destroy_surface(&g_lcd);
    return 0;
}
