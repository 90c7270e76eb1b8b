// Drawing costs of the canvas: prints the median time of each case over
// REPETITIONS runs. Every tick (100 ms) draws a whole frame, so the last line
// is the one to keep well below a millisecond.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lcd.h"

enum { REPETITIONS = 200 };

static double ticks_to_us;

static int compare_doubles(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

typedef void (*BenchCase)(Lcd *lcd);

static double median_us(Lcd *lcd, BenchCase run)
{
    static double samples[REPETITIONS];
    for (int i = 0; i < REPETITIONS; i++) {
        memset(lcd->frame, 0, LCD_FRAME_BYTES);
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        run(lcd);
        QueryPerformanceCounter(&end);
        samples[i] = (double)(end.QuadPart - start.QuadPart) * ticks_to_us;
    }
    qsort(samples, REPETITIONS, sizeof samples[0], compare_doubles);
    return samples[REPETITIONS / 2];
}

// A 39 x 21 slot panel of four tiny-font lines, as the sensor pages draw it.
static void tiny_panel(Lcd *lcd)
{
    lcd_text(lcd, TXT_TINY | TXT_OPAQUE | TXT_INVERT, 0, 22, "CPU 37%");
    lcd_text(lcd, TXT_TINY, 0, 28, "GPU 61\xB0" "C");
    lcd_text(lcd, TXT_TINY | TXT_RIGHT, 38, 34, "2.41 GHz");
    lcd_text(lcd, TXT_TINY, 0, 38, "Fan 1320");
}

static void small_text(Lcd *lcd)
{
    lcd_text(lcd, 0, 0, 0, "Mon 12:45:07");
}

static void large_text(Lcd *lcd)
{
    lcd_text(lcd, TXT_LARGE, 0, 8, "TS3: Alice, Bob");
}

static const char *const ICON_7X5 =
    " XXXXX "
    "X     X"
    "X XXX X"
    "X     X"
    " XXXXX ";

// What one tick draws at most: top line, band meters, four panels of six
// texts and a picture each, and the ticker.
static void whole_frame(Lcd *lcd)
{
    static const int panel_x[4] = {0, 40, 81, 121};
    lcd_text(lcd, 0, 0, 0, "Mon 03.06.");
    lcd_text(lcd, TXT_CENTER, 80, 0, "12:45:07");
    lcd_text(lcd, TXT_RIGHT, 159, 0, "3 mail");
    lcd_text(lcd, TXT_TINY, 0, 9, "CPU 37%");
    lcd_text(lcd, TXT_TINY, 81, 9, "NET 1.2M/34k");
    for (int p = 0; p < 4; p++) {
        int x = panel_x[p];
        lcd_text(lcd, TXT_TINY | TXT_OPAQUE | TXT_INVERT, x, 22, "LABEL");
        lcd_text(lcd, TXT_TINY, x, 28, "12.3");
        lcd_text(lcd, TXT_TINY | TXT_RIGHT, x + 38, 28, "45%");
        lcd_text(lcd, TXT_TINY, x, 34, "67\xB0" "C");
        lcd_text(lcd, p & 1 ? TXT_LARGE : 0, x + 8, 30, "88");
        lcd_text(lcd, TXT_TINY | TXT_RIGHT, x + 38, 37, "1:02");
        lcd_bitmap(lcd, 0, x + 31, 22, 7, 5, ICON_7X5);
    }
    lcd_bitmap(lcd, BMP_TRANSPARENT, 75, 0, 7, 5, ICON_7X5);
    lcd_text(lcd, TXT_RIGHT | TXT_OPAQUE, 159, 12, "Alice");
}

int main(void)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticks_to_us = 1e6 / (double)frequency.QuadPart;

    Lcd *lcd = &g_lcd;
    if (!lcd_create_surface(lcd)) {
        fprintf(stderr, "no drawing surface\n");
        return 1;
    }
    static const struct {
        const char *name;
        BenchCase run;
    } cases[] = {
        {"tiny-font panel 39x21, 4 lines", tiny_panel},
        {"one text, small font", small_text},
        {"one text, large font", large_text},
        {"whole frame: 30 texts + 5 bitmaps", whole_frame},
        // a scrolling pop-up notice (popup_render) belongs here as well
    };
    printf("median of %d runs\n", REPETITIONS);
    for (const auto &c : cases)
        printf("%-36s %9.1f us\n", c.name, median_us(lcd, c.run));
    lcd_destroy_surface(lcd);
    return 0;
}
