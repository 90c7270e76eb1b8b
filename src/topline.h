// The top line, rows 0..7 of every frame: the date at the left, the time at
// the right and, between them, one envelope per unread e-mail message that
// the Windows shell reports. Main thread only.
#pragma once
#include <windows.h>
#include <stdint.h>

enum {
    TOPLINE_PICTURE_CHARS = 31, // date_format, time_format
    TOPLINE_ADDRESS_CHARS = 255,
    TOPLINE_TEXT_UNITS = 64,    // formatted date or time
    ENVELOPE_WIDTH = 7,
    ENVELOPE_HEIGHT = 5,
    ENVELOPE_STEP = 5,          // each envelope covers two columns of the one before
    TOPLINE_MAX_ENVELOPES = 32, // more never fit between column 0 and 159
};

struct TopLine {
    char date_format[TOPLINE_PICTURE_CHARS + 1];     // GetDateFormat picture, user locale
    char time_format[TOPLINE_PICTURE_CHARS + 1];     // GetTimeFormat picture, invariant locale
    char email_address[TOPLINE_ADDRESS_CHARS + 1];   // empty: every account
    int email_days;                                  // count mail of the last n days
    int email_interval;                              // ticks between two asks; 0 no mail indicator
    HMODULE shell32;
    uint32_t unread;                                 // last count, kept between asks
};

extern TopLine g_topline;

// SHELL32's SHGetUnreadMailCountW, looked up at start-up; null when the
// shell has none (as under Wine). Tests may put their own function here.
typedef HRESULT(WINAPI *UnreadMailCountFn)(HKEY user, LPCWSTR account, DWORD *count, FILETIME *since,
                                           LPWSTR command, int command_units);
extern UnreadMailCountFn unread_mail_count;

void topline_start(TopLine *topline);
void topline_configure(TopLine *topline);
void topline_render(TopLine *topline);
void topline_stop(TopLine *topline);

// ---- Pieces of topline_render, for tests ------------------------------------

// Where the mail indicator goes between a date dw pixels wide (from column 0)
// and a time tw pixels wide (ending on column 159), for n unread messages.
struct EnvelopeLayout {
    int compact;                        // 1: one envelope and the count
    int count;                          // envelopes to draw
    int x[TOPLINE_MAX_ENVELOPES];       // left column of each, in drawing order
    int y[TOPLINE_MAX_ENVELOPES];       // top row of each
    int count_right;                    // compact: last column of the count text
};
void envelope_layout(int dw, int tw, uint32_t n, EnvelopeLayout *layout);

// The date and the time of `now` in the configured pictures; an empty text
// when Windows rejects the picture.
void topline_format_date(const TopLine *topline, const SYSTEMTIME *now, wchar_t text[TOPLINE_TEXT_UNITS]);
void topline_format_time(const TopLine *topline, const SYSTEMTIME *now, char text[TOPLINE_TEXT_UNITS]);

// Asks the shell for the unread count when this tick is due. 1 when it asked.
int topline_refresh_unread(TopLine *topline, const SYSTEMTIME *now, int tick);

// topline_render for a given local time and tick.
void topline_draw(TopLine *topline, const SYSTEMTIME *now, int tick);
