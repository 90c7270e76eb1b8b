// The top line: envelope placement, settings, the unread-mail refresh and
// the drawn line.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <string>

#include "config.h"
#include "lcd.h"
#include "log_files.h"
#include "topline.h"

namespace {

// Year, month, weekday, day, hour, minute, second, millisecond.
const SYSTEMTIME SATURDAY_NOON = {2026, 12, 6, 5, 12, 0, 0, 0};

TEST(EnvelopeLayout, PlacesEnvelopesBetweenDateAndTime)
{
    struct Case {
        int dw, tw;
        uint32_t n;
        int compact, count;
    } cases[] = {
        {60, 40, 0, 0, 0}, {60, 40, 2, 0, 2},  {60, 40, 3, 0, 3}, {100, 40, 3, 0, 2}, {110, 40, 3, 0, 0},
        {20, 40, 4, 0, 4}, {100, 40, 4, 1, 1}, {60, 40, 20, 1, 1}, {60, 40, 0xFFFFFFFFu, 1, 1},
        {0, 0, 29, 0, 29}, {0, 0, 30, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.dw << " " << c.tw << " " << c.n);
        EnvelopeLayout layout;
        envelope_layout(c.dw, c.tw, c.n, &layout);
        EXPECT_EQ(layout.compact, c.compact);
        ASSERT_EQ(layout.count, c.count);
        for (int i = 0; i < layout.count; i++) {
            EXPECT_EQ(layout.x[i], 149 - c.tw - 5 * i);
            EXPECT_EQ(layout.y[i], c.compact ? 1 : i % 2 ? 2 : 0);
        }
        if (c.compact) {
            EXPECT_EQ(layout.count_right, 147 - c.tw);
        }
    }
}

TEST(TopLine, SettingsAndPictures)
{
    config_free_entries(&g_config.entries);
    TopLine t = {};
    topline_start(&t); // Wine's SHELL32 has no SHGetUnreadMailCountW: logged
    EXPECT_TRUE(t.shell32 != 0 && unread_mail_count == 0);
    EXPECT_EQ(GetLastError(), 0u);
    topline_stop(&t);
    EXPECT_EQ(t.email_days, 7);
    EXPECT_EQ(t.email_interval, 10);
    wchar_t date[TOPLINE_TEXT_UNITS];
    char time[TOPLINE_TEXT_UNITS];
    topline_format_date(&t, &SATURDAY_NOON, date);
    topline_format_time(&t, &SATURDAY_NOON, time);
    if (PRIMARYLANGID(GetUserDefaultLangID()) == LANG_ENGLISH) {
        EXPECT_STREQ(date, L"Sat 2026-12-05");
    }
    EXPECT_STREQ(time, "12:00:00");

    const std::string forty = "yyyy-MM-dd yyyy-MM-dd yyyy-MM-dd yyyy-MM";
    config_put(&g_config.entries, "date_format", forty.c_str());
    config_put(&g_config.entries, "time_format", "hh:mm tt");
    config_put(&g_config.entries, "email_interval", "often");
    topline_configure(&t);
    config_free_entries(&g_config.entries);
    topline_configure(&t); // missing keys keep the current values
    EXPECT_EQ(t.date_format, forty.substr(0, 31));
    EXPECT_EQ(t.email_interval, 0);
    const SYSTEMTIME afternoon = {2026, 12, 6, 5, 13, 5, 0, 0};
    topline_format_time(&t, &afternoon, time);
    EXPECT_STREQ(time, "01:05 PM") << "invariant locale";
    // Wednesday, September: 67 units, which do not fit into 64.
    strcpy(t.date_format, "ddddMMMMddddMMMMddddMMMMddddMMM");
    const SYSTEMTIME wednesday = {2026, 9, 3, 30, 12, 0, 0, 0};
    memset(date, 0x41, sizeof date);
    topline_format_date(&t, &wednesday, date);
    EXPECT_STREQ(date, L"");
}

struct {
    int calls;
    std::wstring account;
    uint64_t since;
    HRESULT answer;
    DWORD count;
} mail;

HRESULT WINAPI fake_unread_mail_count(HKEY, LPCWSTR account, DWORD *count, FILETIME *since, LPWSTR, int)
{
    mail.calls++;
    mail.account = account ? account : L"(all)";
    mail.since = (uint64_t)since->dwHighDateTime << 32 | since->dwLowDateTime;
    *count = mail.count;
    return mail.answer;
}

TEST(TopLine, MailIsAskedOnDueTicksSinceEmailDaysAgo)
{
    FILETIME noon;
    SystemTimeToFileTime(&SATURDAY_NOON, &noon);
    const uint64_t NOON = (uint64_t)noon.dwHighDateTime << 32 | noon.dwLowDateTime, DAY = 864000000000ull;
    TopLine t = {"", "", "", 7, 10, 0, 0};
    mail = {0, L"", 0, S_OK, 4};
    unread_mail_count = fake_unread_mail_count;
    EXPECT_TRUE(topline_refresh_unread(&t, &SATURDAY_NOON, 20));
    EXPECT_FALSE(topline_refresh_unread(&t, &SATURDAY_NOON, 29));
    EXPECT_EQ(mail.calls, 1);
    EXPECT_EQ(t.unread, 4u);
    EXPECT_EQ(mail.account, L"(all)");
    EXPECT_EQ(mail.since, NOON - 7 * DAY);
    strcpy(t.email_address, "someone@example.org");
    t.email_days = 0;
    mail.answer = E_FAIL;
    EXPECT_TRUE(topline_refresh_unread(&t, &SATURDAY_NOON, 30));
    EXPECT_EQ(mail.account, L"someone@example.org");
    EXPECT_EQ(mail.since, NOON);
    EXPECT_EQ(t.unread, 0u) << "a failed ask counts none";
    t.email_interval = -1; // "4294967295" read with strtoul: no INT_MIN % -1 trap
    EXPECT_TRUE(topline_refresh_unread(&t, &SATURDAY_NOON, INT_MIN));
    t.email_interval = INT_MIN;
    EXPECT_FALSE(topline_refresh_unread(&t, &SATURDAY_NOON, -1));
    unread_mail_count = 0;
}

// Draws the line on a dark frame; gives the width of the time, and whether
// the frame holds nothing but date and time.
bool draw(TopLine *t, int tick, int *tw)
{
    wchar_t date[TOPLINE_TEXT_UNITS];
    char time[TOPLINE_TEXT_UNITS];
    topline_format_date(t, &SATURDAY_NOON, date);
    topline_format_time(t, &SATURDAY_NOON, time);
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    lcd_text_wide(&g_lcd, 0, 0, 0, date);
    *tw = lcd_text(&g_lcd, TXT_RIGHT, 159, 0, time);
    std::string alone((const char *)g_lcd.frame, LCD_FRAME_BYTES);
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    topline_draw(t, &SATURDAY_NOON, tick);
    return alone == std::string((const char *)g_lcd.frame, LCD_FRAME_BYTES);
}

std::string region(int x0, int y0, int width, int height)
{
    std::string text;
    for (int y = y0; y < y0 + height; y++)
        for (int x = x0; x < x0 + width; x++)
            text += g_lcd.frame[y * LCD_WIDTH + x] ? 'X' : '.';
    return text;
}

TEST(TopLine, DrawsDateTimeAndEnvelopes)
{
    ASSERT_TRUE(lcd_create_surface(&g_lcd));
    TopLine t = {"ddd yyyy-MM-dd", "HH:mm:ss", "", 7, 0, 0, 5};
    mail = {0, L"", 0, S_OK, 9};
    unread_mail_count = fake_unread_mail_count;
    int tw;
    EXPECT_TRUE(draw(&t, 10, &tw)) << "no envelope with email_interval 0";
    TopLine two = {"dd", "HH:mm", "", 7, 10, 0, 2}; // tick 1 is not due: the count stays
    draw(&two, 1, &tw);
    EXPECT_EQ(region(144 - tw, 0, 12, 7), ".....XXXXXXX"
                                          ".....XX...XX"
                                          "XXXXXXXX.X.X"
                                          "XX...XX.X..X"
                                          "X.X.X.XXXXXX"
                                          "X..X..X....."
                                          "XXXXXXX.....");
    t.email_interval = 10;
    t.unread = 20;
    draw(&t, 1, &tw);
    EXPECT_EQ(region(148 - tw, 0, 8, 7), "........"
                                         ".XXXXXXX"
                                         ".XX...XX"
                                         ".X.X.X.X"
                                         ".X..X..X"
                                         ".XXXXXXX"
                                         "........");
    int number = lcd_text(&g_lcd, TXT_MEASURE, 0, 0, "20");
    EXPECT_NE(region(148 - tw - number, 0, number, 8).find('X'), std::string::npos) << "\"20\" before it";
    EXPECT_EQ(mail.calls, 0);
    unread_mail_count = 0;
    lcd_destroy_surface(&g_lcd);
}

} // namespace
