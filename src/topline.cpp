// The top line: date, time and unread-mail envelopes.
#include "topline.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "util.h"

TopLine g_topline;
UnreadMailCountFn unread_mail_count = 0;

static const char SOURCE[] = "src/topline";

static const char ENVELOPE[] = "XXXXXXX"
                               "XX   XX"
                               "X X X X"
                               "X  X  X"
                               "XXXXXXX";

enum {
    TIME_RIGHT = LCD_WIDTH - 1,
    FIRST_ENVELOPE = 149,             // minus the time's width
    COUNT_RIGHT = 147,                // minus the time's width
    DATE_GAP = 3,                     // envelopes stay right of the date + this
};

static const uint64_t FILETIME_UNITS_PER_DAY = 86400ull * 10000000ull;

static void copy_cut(char *dest, size_t chars, const char *src)
{
    strncpy(dest, src, chars);
    dest[chars] = 0;
}

// Every key in force, or its default when it is not set (also after it was
// deleted from the file).
void topline_configure(TopLine *topline)
{
    const char *value;
    value = config_get(&g_config, "date_format");
    copy_cut(topline->date_format, TOPLINE_PICTURE_CHARS, value ? value : "ddd yyyy-MM-dd");
    value = config_get(&g_config, "time_format");
    copy_cut(topline->time_format, TOPLINE_PICTURE_CHARS, value ? value : "HH:mm:ss");
    value = config_get(&g_config, "email_address");
    copy_cut(topline->email_address, TOPLINE_ADDRESS_CHARS, value ? value : "");
    topline->email_days = (int)config_get_uint(&g_config, "email_days", 7);
    topline->email_interval = (int)config_get_uint(&g_config, "email_interval", 10);
}

static void look_up_unread_mail_count(TopLine *topline)
{
    topline->shell32 = LoadLibraryA("SHELL32.DLL");
    if (!topline->shell32) {
        log_error(SOURCE, __LINE__, GetLastError(), "LoadLibrary(\"SHELL32.DLL\") failed");
        SetLastError(0);
        return;
    }
    unread_mail_count = (UnreadMailCountFn)(void (*)(void))GetProcAddress(topline->shell32, "SHGetUnreadMailCountW");
    if (!unread_mail_count) {
        log_error(SOURCE, __LINE__, GetLastError(), "Can't get address of SHGetUnreadMailCountW");
        SetLastError(0);
    }
}

void topline_start(TopLine *topline)
{
    topline->unread = 0;
    topline->shell32 = 0;
    topline_configure(topline);
    look_up_unread_mail_count(topline);
}

void topline_stop(TopLine *topline)
{
    if (topline->shell32) {
        unread_mail_count = 0; // its address goes with the library
        FreeLibrary(topline->shell32);
    }
    topline->shell32 = 0;
}

void envelope_layout(int dw, int tw, uint32_t n, EnvelopeLayout *layout)
{
    memset(layout, 0, sizeof *layout);
    // In 64 bits: n is any 32-bit count the shell hands back.
    if (n > 3 && (int64_t)dw - 145 > -5 * (int64_t)n - tw) {
        layout->compact = 1;
        layout->count = 1;
        layout->x[0] = FIRST_ENVELOPE - tw;
        layout->y[0] = 1;
        layout->count_right = COUNT_RIGHT - tw;
        return;
    }
    int x = FIRST_ENVELOPE - tw;
    for (uint32_t k = 0; k < n && x > dw + DATE_GAP && layout->count < TOPLINE_MAX_ENVELOPES; k++) {
        layout->x[layout->count] = x;
        layout->y[layout->count] = (k & 1) ? 2 : 0;
        layout->count++;
        x -= ENVELOPE_STEP;
    }
}

void topline_format_date(const TopLine *topline, const SYSTEMTIME *now, wchar_t text[TOPLINE_TEXT_UNITS])
{
    wchar_t picture[TOPLINE_TEXT_UNITS];
    text[0] = 0;
    if (!MultiByteToWideChar(CP_ACP, 0, topline->date_format, -1, picture, TOPLINE_TEXT_UNITS))
        return;
    if (!GetDateFormatW(LOCALE_USER_DEFAULT, 0, now, picture, text, TOPLINE_TEXT_UNITS))
        text[0] = 0; // a rejected picture or a text too long: draw nothing
}

void topline_format_time(const TopLine *topline, const SYSTEMTIME *now, char text[TOPLINE_TEXT_UNITS])
{
    if (!GetTimeFormatA(LOCALE_INVARIANT, 0, now, topline->time_format, text, TOPLINE_TEXT_UNITS))
        text[0] = 0;
}

static int refresh_due(int interval, int tick)
{
    // In 64 bits, so that no interval (-1 included) can trap the division.
    return interval != 0 && (int64_t)tick % (int64_t)interval == 0;
}

int topline_refresh_unread(TopLine *topline, const SYSTEMTIME *now, int tick)
{
    if (!refresh_due(topline->email_interval, tick) || !unread_mail_count)
        return 0;
    FILETIME since;
    if (!SystemTimeToFileTime(now, &since))
        memset(&since, 0, sizeof since);
    ULARGE_INTEGER units;
    units.LowPart = since.dwLowDateTime;
    units.HighPart = since.dwHighDateTime;
    units.QuadPart -= (uint64_t)(uint32_t)topline->email_days * FILETIME_UNITS_PER_DAY;
    since.dwLowDateTime = units.LowPart;
    since.dwHighDateTime = units.HighPart;

    wchar_t account[TOPLINE_ADDRESS_CHARS + 1];
    const wchar_t *account_or_all = 0;
    if (topline->email_address[0] &&
        MultiByteToWideChar(CP_ACP, 0, topline->email_address, -1, account, TOPLINE_ADDRESS_CHARS + 1))
        account_or_all = account;

    DWORD count = 0;
    if (unread_mail_count(0, account_or_all, &count, &since, 0, 0) == S_OK)
        topline->unread = count;
    else
        topline->unread = 0;
    return 1;
}

static void draw_envelopes(const EnvelopeLayout *layout, uint32_t n)
{
    for (int i = 0; i < layout->count; i++)
        lcd_bitmap(&g_lcd, 0, layout->x[i], layout->y[i], ENVELOPE_WIDTH, ENVELOPE_HEIGHT, ENVELOPE);
    if (layout->compact) {
        char number[16];
        snprintf(number, sizeof number, "%u", (unsigned)n);
        lcd_text(&g_lcd, TXT_RIGHT | TXT_OPAQUE, layout->count_right, 0, number);
    }
}

void topline_draw(TopLine *topline, const SYSTEMTIME *now, int tick)
{
    wchar_t date[TOPLINE_TEXT_UNITS];
    topline_format_date(topline, now, date);
    int dw = lcd_text_wide(&g_lcd, 0, 0, 0, date);

    char time[TOPLINE_TEXT_UNITS];
    topline_format_time(topline, now, time);
    int tw = lcd_text(&g_lcd, TXT_RIGHT, TIME_RIGHT, 0, time);

    if (topline->email_interval == 0)
        return;
    topline_refresh_unread(topline, now, tick);

    EnvelopeLayout layout;
    envelope_layout(dw, tw, topline->unread, &layout);
    draw_envelopes(&layout, topline->unread);
}

void topline_render(TopLine *topline)
{
    SYSTEMTIME now;
    GetLocalTime(&now); // one reading for the date, the time and the mail window
    topline_draw(topline, &now, tick_count);
}
