// The top line: settings, the unread-mail count asked of the shell (through
// the unread_mail_count seam) and the line as drawn at a fixed time.
#include <limits.h>
#include <string.h>

#include <string>

#include "canvas_fixture.h"
#include "config.h"
#include "topline.h"

namespace {

// Year, month, weekday, day, hour, minute, second, millisecond.
const SYSTEMTIME SATURDAY_NOON = {2026, 12, 6, 5, 12, 0, 0, 0};

// What the shell was asked, and its answer.
struct { int calls; std::wstring account; uint64_t since; HRESULT answer; DWORD count; } mail;

HRESULT WINAPI fake_unread_mail_count(HKEY, LPCWSTR account, DWORD *count, FILETIME *since, LPWSTR, int)
{
    mail.calls++;
    mail.account = account ? account : L"(all)";
    mail.since = (uint64_t)since->dwHighDateTime << 32 | since->dwLowDateTime;
    *count = mail.count;
    return mail.answer;
}

class TopLineTest : public canvas_tests::CanvasTest {
protected:
    TopLine t = {};
    void SetUp() override
    {
        CanvasTest::SetUp();
        config_free_entries(&g_config.entries);
        mail = {0, L"", 0, S_OK, 0};
        topline_start(&t); // Wine's SHELL32 has no SHGetUnreadMailCountW: logged, no indicator
        EXPECT_TRUE(t.shell32 && !unread_mail_count && GetLastError() == 0);
        topline_stop(&t);
    }
    void TearDown() override { unread_mail_count = 0; CanvasTest::TearDown(); }
    void draw(int tick) { canvas_tests::clear_frame(); topline_draw(&t, &SATURDAY_NOON, tick); }
};

// Sat 2026-12-05 from column 0 and 12:00:00 ending on column 159. A date
// whose text does not fit 64 units draws nothing.
TEST_F(TopLineTest, DefaultsInAnEnglishLocale)
{
    if (PRIMARYLANGID(GetUserDefaultLangID()) != LANG_ENGLISH)
        GTEST_SKIP() << "day names in another language";
    draw(10);
    EXPECT_GOLDEN("topline_defaults", g_lcd.frame);
    strcpy(t.date_format, "ddddMMMMddddMMMMddddMMMMddddMMM"); // 66 units on a Wednesday in September
    const SYSTEMTIME wednesday = {2026, 9, 3, 30, 12, 0, 0, 0};
    wchar_t date[TOPLINE_TEXT_UNITS];
    topline_format_date(&t, &wednesday, date);
    EXPECT_STREQ(date, L"");
}

// A date picture of 40 characters keeps its first 31; email_interval "often"
// reads as 0: no mail indicator (9 unread), and the shell is never asked.
TEST_F(TopLineTest, Settings)
{
    const std::string forty = "yyyy-MM-dd yyyy-MM-dd yyyy-MM-dd yyyy-MM";
    config_put(&g_config.entries, "date_format", forty.c_str());
    config_put(&g_config.entries, "email_interval", "often");
    topline_configure(&t);
    EXPECT_EQ(t.date_format, forty.substr(0, 31));
    config_put(&g_config.entries, "date_format", "dd");
    topline_configure(&t);
    unread_mail_count = fake_unread_mail_count;
    t.unread = mail.count = 9;
    draw(10);
    EXPECT_GOLDEN("topline_no_mail_indicator", g_lcd.frame);
    EXPECT_EQ(0, mail.calls);
    config_free_entries(&g_config.entries); // deleted at a reload: the defaults
    topline_configure(&t);
    EXPECT_TRUE(std::string(t.date_format) == "ddd yyyy-MM-dd" && t.email_interval == 10);
}

// Asked on the ticks that are multiples of email_interval (10 at start), for
// the mail of the last email_days days (7 at start), of every account unless
// one is set; a failed ask counts none. The count stays between asks.
TEST_F(TopLineTest, MailIsAskedOnDueTicks)
{
    FILETIME noon;
    SystemTimeToFileTime(&SATURDAY_NOON, &noon);
    const uint64_t NOON = (uint64_t)noon.dwHighDateTime << 32 | noon.dwLowDateTime, DAY = 864000000000ull;
    unread_mail_count = fake_unread_mail_count;
    mail.count = 4;
    EXPECT_TRUE(topline_refresh_unread(&t, &SATURDAY_NOON, 20));
    EXPECT_FALSE(topline_refresh_unread(&t, &SATURDAY_NOON, 29));
    EXPECT_TRUE(mail.calls == 1 && t.unread == 4 && mail.account == L"(all)" && mail.since == NOON - 7 * DAY);
    strcpy(t.email_address, "someone@example.org");
    t.email_days = 0;
    mail.answer = E_FAIL;
    EXPECT_TRUE(topline_refresh_unread(&t, &SATURDAY_NOON, 30));
    EXPECT_TRUE(mail.account == L"someone@example.org" && mail.since == NOON && t.unread == 0);
    t.email_interval = -1; // "4294967295" read with strtoul: no INT_MIN % -1 trap
    EXPECT_TRUE(topline_refresh_unread(&t, &SATURDAY_NOON, INT_MIN));
    t.email_interval = INT_MIN;
    EXPECT_FALSE(topline_refresh_unread(&t, &SATURDAY_NOON, -1));
}

// The count the shell gives on tick 10 decides the mail indicator: envelopes
// from column 149 - tw leftwards, 5 columns apart, top rows 0 and 2 in turn,
// while they stay right of the date + 3; or, with more than 3 that would not
// fit, the compact form: one envelope at row 1 and the count ending on column
// 147 - tw on a dark ground. Numeric pictures: the same in every locale.
TEST_F(TopLineTest, MailIndicator)
{
    const struct { const char *golden, *date, *time; DWORD count; } cases[] = {
        {"topline_four_envelopes", "dd", "h:mm tt", 4},
        {"topline_count_20", "dd", "h:mm tt", 20},
        {"topline_count_4294967295", "dd", "h:mm tt", 0xFFFFFFFFu},
        {"topline_long_date_two_of_three", "'Today is:' yyyy-MM-dd", "HH:mm:ss", 3},
        {"topline_long_date_count_4", "'Today is:' yyyy-MM-dd", "HH:mm:ss", 4},
        {"topline_29_envelopes_no_date_or_time", "", "", 29},
    };
    unread_mail_count = fake_unread_mail_count;
    for (const auto &c : cases) {
        strcpy(t.date_format, c.date);
        strcpy(t.time_format, c.time);
        mail.count = c.count;
        draw(10);
        EXPECT_GOLDEN(c.golden, g_lcd.frame);
    }
}

} // namespace
