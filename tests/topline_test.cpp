// The top line: envelope placement, the configured pictures, the unread-mail
// refresh and the drawn line.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "config.h"
#include "lcd.h"
#include "log_files.h"
#include "topline.h"
#include "util.h"

namespace {

// ---- Envelope layout ---------------------------------------------------------

struct LayoutCase {
    const char *name;
    int dw, tw;
    uint32_t n;
    int compact;
    std::vector<std::pair<int, int>> envelopes; // (x, y) in drawing order
    int count_right;
};

const LayoutCase LAYOUT_CASES[] = {
    {"no mail", 60, 40, 0, 0, {}, 0},
    {"one", 60, 40, 1, 0, {{109, 0}}, 0},
    {"two alternate rows", 60, 40, 2, 0, {{109, 0}, {104, 2}}, 0},
    {"three fit", 60, 40, 3, 0, {{109, 0}, {104, 2}, {99, 0}}, 0},
    {"three, long date keeps two", 100, 40, 3, 0, {{109, 0}, {104, 2}}, 0},
    {"three, date reaching the time keeps none", 110, 40, 3, 0, {}, 0},
    {"four that fit stay pictures", 20, 40, 4, 0, {{109, 0}, {104, 2}, {99, 0}, {94, 2}}, 0},
    {"four that do not fit: compact", 100, 40, 4, 1, {{109, 1}}, 107},
    {"twenty: compact", 60, 40, 20, 1, {{109, 1}}, 107},
    {"largest count: compact", 60, 40, 0xFFFFFFFFu, 1, {{109, 1}}, 107},
    {"29 on an empty line", 0, 0, 29, 0, {}, 0}, // positions: EveryEnvelopeStaysRightOfTheDate
    {"30 on an empty line: compact", 0, 0, 30, 1, {{149, 1}}, 147},
};

TEST(EnvelopeLayout, PlacesEnvelopesBetweenDateAndTime)
{
    for (const LayoutCase &c : LAYOUT_CASES) {
        EnvelopeLayout layout;
        envelope_layout(c.dw, c.tw, c.n, &layout);
        EXPECT_EQ(layout.compact, c.compact) << c.name;
        if (c.n == 29)
            continue;
        ASSERT_EQ(layout.count, (int)c.envelopes.size()) << c.name;
        for (int i = 0; i < layout.count; i++) {
            EXPECT_EQ(layout.x[i], c.envelopes[i].first) << c.name << " envelope " << i;
            EXPECT_EQ(layout.y[i], c.envelopes[i].second) << c.name << " envelope " << i;
        }
        if (c.compact) {
            EXPECT_EQ(layout.count_right, c.count_right) << c.name;
        }
    }
}

TEST(EnvelopeLayout, EveryEnvelopeStaysRightOfTheDate)
{
    for (int dw = 0; dw <= 150; dw += 7)
        for (int tw = 0; tw <= 60; tw += 11)
            for (uint32_t n = 0; n <= 40; n++) {
                EnvelopeLayout layout;
                envelope_layout(dw, tw, n, &layout);
                ASSERT_LE(layout.count, TOPLINE_MAX_ENVELOPES);
                if (layout.compact)
                    continue;
                ASSERT_LE(layout.count, (int)n);
                for (int i = 0; i < layout.count; i++) {
                    EXPECT_GT(layout.x[i], dw + 3);
                    EXPECT_EQ(layout.x[i], 149 - tw - 5 * i);
                }
            }
}

// ---- Configuration -----------------------------------------------------------

struct ConfigScope {
    ConfigScope() { config_free_entries(&g_config.entries); }
    ~ConfigScope() { config_free_entries(&g_config.entries); }
    void set(const char *key, const char *value) { config_put(&g_config.entries, key, value); }
};

TopLine defaults()
{
    TopLine topline;
    memset(&topline, 0, sizeof topline);
    topline_start(&topline);
    topline_stop(&topline);
    return topline;
}

TEST(TopLineConfigure, DefaultsWithoutKeys)
{
    ConfigScope config;
    TopLine topline = defaults();
    EXPECT_STREQ(topline.date_format, "ddd yyyy-MM-dd");
    EXPECT_STREQ(topline.time_format, "HH:mm:ss");
    EXPECT_STREQ(topline.email_address, "");
    EXPECT_EQ(topline.email_days, 7);
    EXPECT_EQ(topline.email_interval, 10);
    EXPECT_EQ(topline.unread, 0u);
}

TEST(TopLineConfigure, ReadsEveryKey)
{
    ConfigScope config;
    TopLine topline = defaults();
    config.set("date_format", "dd.MM.");
    config.set("time_format", "hh:mm tt");
    config.set("email_address", "someone@example.org");
    config.set("email_days", "3");
    config.set("email_interval", "0");
    topline_configure(&topline);
    EXPECT_STREQ(topline.date_format, "dd.MM.");
    EXPECT_STREQ(topline.time_format, "hh:mm tt");
    EXPECT_STREQ(topline.email_address, "someone@example.org");
    EXPECT_EQ(topline.email_days, 3);
    EXPECT_EQ(topline.email_interval, 0);
}

TEST(TopLineConfigure, MissingKeysKeepTheCurrentValues)
{
    ConfigScope config;
    TopLine topline = defaults();
    config.set("email_days", "30");
    topline_configure(&topline);
    config_free_entries(&g_config.entries);
    config.set("time_format", "HH:mm");
    topline_configure(&topline);
    EXPECT_EQ(topline.email_days, 30);
    EXPECT_STREQ(topline.time_format, "HH:mm");
    EXPECT_STREQ(topline.date_format, "ddd yyyy-MM-dd");
}

TEST(TopLineConfigure, LongTextsAreCut)
{
    ConfigScope config;
    TopLine topline = defaults();
    const std::string forty = "yyyy-MM-dd yyyy-MM-dd yyyy-MM-dd yyyy-MM"; // 40 characters
    ASSERT_EQ(forty.size(), 40u);
    const std::string long_address(300, 'a');
    config.set("date_format", forty.c_str());
    config.set("time_format", forty.c_str());
    config.set("email_address", long_address.c_str());
    topline_configure(&topline);
    EXPECT_EQ(std::string(topline.date_format), forty.substr(0, 31));
    EXPECT_EQ(std::string(topline.time_format), forty.substr(0, 31));
    EXPECT_EQ(std::string(topline.email_address), long_address.substr(0, 255));
}

TEST(TopLineConfigure, NumbersThatDoNotParseReadAsZero)
{
    ConfigScope config;
    TopLine topline = defaults();
    config.set("email_interval", "often");
    config.set("email_days", "12abc");
    topline_configure(&topline);
    EXPECT_EQ(topline.email_interval, 0);
    EXPECT_EQ(topline.email_days, 12);
}

// ---- Formatting ----------------------------------------------------------------

SYSTEMTIME at(int year, int month, int day, int weekday, int hour, int minute, int second)
{
    SYSTEMTIME t;
    memset(&t, 0, sizeof t);
    t.wYear = (WORD)year;
    t.wMonth = (WORD)month;
    t.wDay = (WORD)day;
    t.wDayOfWeek = (WORD)weekday;
    t.wHour = (WORD)hour;
    t.wMinute = (WORD)minute;
    t.wSecond = (WORD)second;
    return t;
}

const SYSTEMTIME SATURDAY_NOON = at(2026, 12, 5, 6, 12, 0, 0);

bool user_locale_is_english() { return PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID())) == LANG_ENGLISH; }

TEST(TopLineFormat, DefaultPicturesAtSaturdayNoon)
{
    TopLine topline = defaults();
    wchar_t date[TOPLINE_TEXT_UNITS];
    char time[TOPLINE_TEXT_UNITS];
    topline_format_date(&topline, &SATURDAY_NOON, date);
    topline_format_time(&topline, &SATURDAY_NOON, time);
    if (user_locale_is_english())
        EXPECT_STREQ(date, L"Sat 2026-12-05");
    else
        EXPECT_TRUE(wcsstr(date, L" 2026-12-05") != 0);
    EXPECT_STREQ(time, "12:00:00");
}

TEST(TopLineFormat, TimeUsesTheInvariantLocale)
{
    TopLine topline = defaults();
    strcpy(topline.time_format, "hh:mm tt");
    SYSTEMTIME t = at(2026, 12, 5, 6, 13, 5, 9);
    char time[TOPLINE_TEXT_UNITS];
    topline_format_time(&topline, &t, time);
    EXPECT_STREQ(time, "01:05 PM");
}

TEST(TopLineFormat, DateTooLongForItsBufferIsEmpty)
{
    // Wednesday, September: 67 units, which do not fit into 64.
    TopLine topline = defaults();
    strcpy(topline.date_format, "ddddMMMMddddMMMMddddMMMMddddMMM");
    SYSTEMTIME t = at(2026, 9, 30, 3, 12, 0, 0);
    wchar_t date[TOPLINE_TEXT_UNITS];
    topline_format_date(&topline, &t, date);
    EXPECT_STREQ(date, L"");
}

// ---- Unread-mail refresh ---------------------------------------------------------

struct MailCall {
    int calls;
    bool had_account;
    std::wstring account;
    FILETIME since;
    bool had_command;
    HRESULT answer;
    DWORD count;
} mail;

HRESULT WINAPI fake_unread_mail_count(HKEY user, LPCWSTR account, DWORD *count, FILETIME *since, LPWSTR command,
                                      int command_units)
{
    mail.calls++;
    mail.had_account = account != 0;
    mail.account = account ? account : L"";
    mail.since = *since;
    mail.had_command = user || command || command_units;
    *count = mail.count;
    return mail.answer;
}

struct FakeShell {
    FakeShell(HRESULT answer, DWORD count)
    {
        mail = MailCall();
        mail.answer = answer;
        mail.count = count;
        unread_mail_count = fake_unread_mail_count;
    }
    ~FakeShell() { unread_mail_count = 0; }
};

uint64_t filetime_of(const SYSTEMTIME &t)
{
    FILETIME f;
    SystemTimeToFileTime(&t, &f);
    return ((uint64_t)f.dwHighDateTime << 32) | f.dwLowDateTime;
}

uint64_t units_of(const FILETIME &f) { return ((uint64_t)f.dwHighDateTime << 32) | f.dwLowDateTime; }

TEST(TopLineMail, AsksOnTicksThatAreMultiplesOfTheInterval)
{
    TopLine topline = defaults();
    FakeShell shell(S_OK, 4);
    topline.email_interval = 10;
    EXPECT_TRUE(topline_refresh_unread(&topline, &SATURDAY_NOON, 20));
    EXPECT_FALSE(topline_refresh_unread(&topline, &SATURDAY_NOON, 21));
    EXPECT_FALSE(topline_refresh_unread(&topline, &SATURDAY_NOON, 29));
    EXPECT_TRUE(topline_refresh_unread(&topline, &SATURDAY_NOON, 30));
    EXPECT_EQ(mail.calls, 2);
    EXPECT_EQ(topline.unread, 4u);
}

TEST(TopLineMail, AsksForEveryAccountSinceEmailDaysAgo)
{
    TopLine topline = defaults();
    FakeShell shell(S_OK, 2);
    topline.email_days = 7;
    topline_refresh_unread(&topline, &SATURDAY_NOON, 0);
    ASSERT_EQ(mail.calls, 1);
    EXPECT_FALSE(mail.had_account);
    EXPECT_FALSE(mail.had_command);
    EXPECT_EQ(units_of(mail.since), filetime_of(at(2026, 11, 28, 6, 12, 0, 0)));
}

TEST(TopLineMail, AsksForTheConfiguredAccount)
{
    TopLine topline = defaults();
    FakeShell shell(S_OK, 1);
    strcpy(topline.email_address, "someone@example.org");
    topline.email_days = 0;
    topline_refresh_unread(&topline, &SATURDAY_NOON, 0);
    ASSERT_EQ(mail.calls, 1);
    EXPECT_TRUE(mail.had_account);
    EXPECT_EQ(mail.account, L"someone@example.org");
    EXPECT_EQ(units_of(mail.since), filetime_of(SATURDAY_NOON));
}

TEST(TopLineMail, FailureResetsTheCountUntilTheNextAsk)
{
    TopLine topline = defaults();
    FakeShell shell(S_OK, 5);
    topline_refresh_unread(&topline, &SATURDAY_NOON, 10);
    EXPECT_EQ(topline.unread, 5u);
    mail.answer = E_FAIL;
    topline_refresh_unread(&topline, &SATURDAY_NOON, 11); // not due: kept
    EXPECT_EQ(topline.unread, 5u);
    topline_refresh_unread(&topline, &SATURDAY_NOON, 20);
    EXPECT_EQ(topline.unread, 0u);
}

TEST(TopLineMail, NegativeIntervalNeverTraps)
{
    TopLine topline = defaults();
    FakeShell shell(S_OK, 1);
    topline.email_interval = -1; // "4294967295" read with strtoul
    EXPECT_TRUE(topline_refresh_unread(&topline, &SATURDAY_NOON, INT_MIN));
    topline.email_interval = INT_MIN;
    EXPECT_TRUE(topline_refresh_unread(&topline, &SATURDAY_NOON, 0));
    EXPECT_FALSE(topline_refresh_unread(&topline, &SATURDAY_NOON, -1));
}

TEST(TopLineMail, StartLogsAMissingShellFunction)
{
    // Wine's SHELL32 has no SHGetUnreadMailCountW: the real failure path.
    ConfigScope config;
    TopLine topline;
    memset(&topline, 0, sizeof topline);
    topline_start(&topline);
    EXPECT_TRUE(topline.shell32 != 0);
    EXPECT_TRUE(unread_mail_count == 0);
    EXPECT_EQ(GetLastError(), 0u);
    std::string line = log_line_with("errors.txt", "Can't get address of SHGetUnreadMailCountW");
    EXPECT_NE(line.find(" | src/topline("), std::string::npos) << line;
    EXPECT_NE(line.find(") | Can't get address of SHGetUnreadMailCountW | 0000007f="), std::string::npos) << line;
    topline_stop(&topline);
    EXPECT_TRUE(topline.shell32 == 0);
}

// ---- The drawn line ----------------------------------------------------------------

struct Surface {
    Surface() { EXPECT_TRUE(lcd_create_surface(&g_lcd)); clear(); }
    ~Surface() { lcd_destroy_surface(&g_lcd); }
    void clear() { memset(g_lcd.frame, 0, LCD_FRAME_BYTES); }
    std::vector<uint8_t> frame() const { return std::vector<uint8_t>(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES); }
    uint8_t at(int x, int y) const { return g_lcd.frame[y * LCD_WIDTH + x]; }
};

const char *const ENVELOPE_ROWS[ENVELOPE_HEIGHT] = {"XXXXXXX", "XX   XX", "X X X X", "X  X  X", "XXXXXXX"};

// Draws the date and the time alone and returns their widths.
std::vector<uint8_t> date_and_time_only(Surface &s, const wchar_t *date, const char *time, int *dw, int *tw)
{
    s.clear();
    *dw = lcd_text_wide(&g_lcd, 0, 0, 0, date);
    *tw = lcd_text(&g_lcd, TXT_RIGHT, 159, 0, time);
    return s.frame();
}

TEST(TopLineDraw, DefaultsAtSaturdayNoonWithoutMail)
{
    Surface s;
    TopLine topline = defaults();
    int dw, tw;
    wchar_t date[TOPLINE_TEXT_UNITS];
    topline_format_date(&topline, &SATURDAY_NOON, date);
    std::vector<uint8_t> expected = date_and_time_only(s, date, "12:00:00", &dw, &tw);
    EXPECT_GT(dw, 0);
    EXPECT_GT(tw, 0);

    s.clear();
    topline_draw(&topline, &SATURDAY_NOON, 1);
    EXPECT_TRUE(s.frame() == expected);
    // The time's last lit column is at most 159 and something is lit near it;
    // nothing is drawn below the top line.
    int last_lit = -1;
    for (int x = 0; x < LCD_WIDTH; x++)
        for (int y = 0; y < 8; y++)
            if (s.at(x, y))
                last_lit = x;
    EXPECT_GE(last_lit, 155);
    for (int i = 8 * LCD_WIDTH; i < LCD_FRAME_BYTES; i++)
        ASSERT_EQ(g_lcd.frame[i], 0) << "pixel " << i;
}

// The envelopes over a dark frame, as the layout places them.
void expect_envelopes(const Surface &s, const EnvelopeLayout &layout)
{
    std::vector<uint8_t> expected(LCD_FRAME_BYTES, 0);
    for (int i = 0; i < layout.count; i++)
        for (int r = 0; r < ENVELOPE_HEIGHT; r++)
            for (int c = 0; c < ENVELOPE_WIDTH; c++)
                expected[(layout.y[i] + r) * LCD_WIDTH + layout.x[i] + c] = ENVELOPE_ROWS[r][c] == 'X' ? 255 : 0;
    for (int i = 0; i < layout.count; i++)
        for (int r = 0; r < 8; r++)
            for (int c = 0; c < ENVELOPE_STEP; c++) {
                int x = layout.x[i] + c, y = r;
                EXPECT_EQ(s.at(x, y), expected[y * LCD_WIDTH + x]) << "envelope " << i << " at " << x << "," << y;
            }
}

TEST(TopLineDraw, TwoEnvelopesBetweenShortDateAndTime)
{
    Surface s;
    TopLine topline = defaults();
    strcpy(topline.date_format, "dd");
    strcpy(topline.time_format, "HH:mm");
    topline.unread = 2;
    unread_mail_count = 0;
    int dw, tw;
    date_and_time_only(s, L"05", "12:00", &dw, &tw);

    s.clear();
    topline_draw(&topline, &SATURDAY_NOON, 1);
    EnvelopeLayout layout;
    envelope_layout(dw, tw, 2, &layout);
    ASSERT_EQ(layout.count, 2);
    EXPECT_EQ(layout.x[0], 149 - tw);
    EXPECT_EQ(layout.x[1], 144 - tw);
    // The second envelope (top row 2) covers the first one's two left columns.
    expect_envelopes(s, layout);
    EXPECT_EQ(s.at(149 - tw, 0), 255);
    EXPECT_EQ(s.at(149 - tw, 1), 255);
    EXPECT_EQ(s.at(149 - tw, 4), 0); // first envelope's 'X', covered by a blank of the second
    EXPECT_EQ(s.at(144 - tw, 2), 255);
    EXPECT_EQ(s.at(144 - tw, 0), 0);
}

TEST(TopLineDraw, TwentyUnreadDrawTheCompactForm)
{
    Surface s;
    TopLine topline = defaults();
    topline.unread = 20;
    unread_mail_count = 0;
    wchar_t date[TOPLINE_TEXT_UNITS];
    topline_format_date(&topline, &SATURDAY_NOON, date);
    int dw, tw;
    date_and_time_only(s, date, "12:00:00", &dw, &tw);
    int number_width = lcd_text(&g_lcd, TXT_MEASURE, 0, 0, "20");
    ASSERT_GT(number_width, 0);

    s.clear();
    topline_draw(&topline, &SATURDAY_NOON, 1);
    for (int r = 0; r < ENVELOPE_HEIGHT; r++)
        for (int c = 0; c < ENVELOPE_WIDTH; c++)
            EXPECT_EQ(s.at(149 - tw + c, 1 + r), ENVELOPE_ROWS[r][c] == 'X' ? 255 : 0) << c << "," << r;
    for (int y = 0; y < 8; y++)
        EXPECT_EQ(s.at(148 - tw, y), 0) << "gap before the envelope, row " << y;
    int lit = 0;
    for (int x = 148 - tw - number_width; x <= 147 - tw; x++)
        for (int y = 0; y < 8; y++)
            lit += s.at(x, y) != 0;
    EXPECT_GT(lit, 4) << "the count \"20\"";
}

TEST(TopLineDraw, IntervalZeroDrawsNoEnvelopeAndNeverAsks)
{
    Surface s;
    TopLine topline = defaults();
    FakeShell shell(S_OK, 9);
    topline.email_interval = 0;
    topline.unread = 5;
    wchar_t date[TOPLINE_TEXT_UNITS];
    topline_format_date(&topline, &SATURDAY_NOON, date);
    int dw, tw;
    std::vector<uint8_t> expected = date_and_time_only(s, date, "12:00:00", &dw, &tw);
    for (int tick = 0; tick < 30; tick++) {
        s.clear();
        topline_draw(&topline, &SATURDAY_NOON, tick);
        ASSERT_TRUE(s.frame() == expected) << "tick " << tick;
    }
    EXPECT_EQ(mail.calls, 0);
}

TEST(TopLineDraw, TheShellsCountIsDrawnAndKeptBetweenAsks)
{
    Surface s;
    TopLine topline = defaults();
    FakeShell shell(S_OK, 2);
    int dw, tw;
    wchar_t date[TOPLINE_TEXT_UNITS];
    topline_format_date(&topline, &SATURDAY_NOON, date);
    date_and_time_only(s, date, "12:00:00", &dw, &tw);
    EnvelopeLayout layout;
    envelope_layout(dw, tw, 2, &layout);

    s.clear();
    topline_draw(&topline, &SATURDAY_NOON, 10);
    EXPECT_EQ(mail.calls, 1);
    expect_envelopes(s, layout);

    mail.count = 0;
    for (int tick = 11; tick < 20; tick++) {
        s.clear();
        topline_draw(&topline, &SATURDAY_NOON, tick);
        expect_envelopes(s, layout);
    }
    EXPECT_EQ(mail.calls, 1);
    s.clear();
    topline_draw(&topline, &SATURDAY_NOON, 20);
    EXPECT_EQ(mail.calls, 2);
    EXPECT_EQ(s.at(149 - tw, 0), 0);
}

TEST(TopLineDraw, RejectedPicturesDrawNothing)
{
    Surface s;
    TopLine topline = defaults();
    strcpy(topline.date_format, "ddddMMMMddddMMMMddddMMMMddddMMM");
    topline.time_format[0] = 0;
    topline.email_interval = 0;
    SYSTEMTIME t = at(2026, 9, 30, 3, 12, 0, 0);
    topline_draw(&topline, &t, 1);
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        ASSERT_EQ(g_lcd.frame[i], 0) << "pixel " << i;
}

} // namespace
