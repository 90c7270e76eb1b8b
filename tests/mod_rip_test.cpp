// RIP: the panel against a golden picture, names cut on whole characters, the
// pop-ups of both presses, and the refusals to end a process, which need
// doubles (no process here belongs to another user). Finding a hung window
// and ending it for real is the end-to-end test's part.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>

#include "golden.h"
#include "lcd.h"
#include "log_files.h"
#include "mod_rip.h"
#include "popup.h"
#include "slots.h"

namespace {

struct Calls {
    int opened, terminated;
    DWORD process_id;
    UINT exit_code;
    HANDLE open_result;
    BOOL terminate_result;
} g_calls;

HANDLE WINAPI fake_open(DWORD access, BOOL inherit, DWORD process_id)
{
    EXPECT_EQ(access, (DWORD)PROCESS_TERMINATE);
    EXPECT_FALSE(inherit);
    g_calls.opened++, g_calls.process_id = process_id;
    if (!g_calls.open_result)
        SetLastError(ERROR_ACCESS_DENIED);
    return g_calls.open_result;
}

BOOL WINAPI fake_terminate(HANDLE, UINT exit_code)
{
    g_calls.terminated++, g_calls.exit_code = exit_code;
    if (!g_calls.terminate_result)
        SetLastError(ERROR_ACCESS_DENIED);
    return g_calls.terminate_result;
}

bool valid_utf8(const char *text)
{
    return !text[0] || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, 0, 0) > 0;
}

struct RipTest : ::testing::Test {
    RipModule rip{};
    bool own_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;
    HFONT saved_font = g_lcd.small_font;
    HWND window = 0;

    void SetUp() override
    {
        ASSERT_NE(g_lcd.frame, nullptr);
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        g_lcd.small_font = 0;
        lcd_set_small_font(&g_lcd, "Lucida Console", -8); // the program's default
        for (int i = 0; i < SLOT_COUNT; i++)
            g_slots[i] = Slot{}, g_slots[i].number = i, g_slots[i].x = i * 40 + (i > 1), g_slots[i].y = 22;
        popup_clear(&g_popups);
        g_calls = Calls{0, 0, 0, 9, GetCurrentProcess(), TRUE};
        rip_open_process = fake_open, rip_terminate_process = fake_terminate;
    }
    void TearDown() override
    {
        if (window)
            DestroyWindow(window);
        rip_open_process = OpenProcess, rip_terminate_process = TerminateProcess;
        popup_clear(&g_popups);
        DeleteObject(g_lcd.small_font);
        g_lcd.small_font = saved_font;
        if (own_surface)
            lcd_destroy_surface(&g_lcd);
    }
    void offer(const std::wstring &title)
    {
        if (window)
            DestroyWindow(window);
        window = CreateWindowExW(0, L"STATIC", title.c_str(), WS_POPUP, 0, 0, 10, 10, 0, 0, GetModuleHandleW(0), 0);
        ASSERT_NE(window, nullptr);
        rip.hung = window;
    }
    std::string popup_text() { return g_popups.head ? g_popups.head->text : ""; }
};

TEST_F(RipTest, PanelShowsTheNameCutFromItsEndOnWholeCharacters)
{
    EXPECT_EQ(rip_render(&rip, 1), 0) << "no hung window, no page";
    offer(L"Frozen \u00e9diteur \u2014 notes.txt");
    EXPECT_EQ(rip_render(&rip, 1), 1);
    EXPECT_GOLDEN_AREA("rip_page", g_lcd.frame, 40, 22, 39, 21);

    const struct { std::wstring title; size_t bytes; } cases[] = {
        {L"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u20ac\u20ac\u20ac\u20ac", 32},
        {std::wstring(200, L'\u6f22'), 126}, // 127 units would be 381 bytes: whole characters up to 127
        {std::wstring(126, L'x') + L"\U0001F600", 126}, // the limit falls inside a surrogate pair
    };
    for (const auto &c : cases) {
        offer(c.title);
        char name[RIP_NAME_BYTES];
        ASSERT_EQ(rip_window_name(window, name), 1);
        EXPECT_TRUE(valid_utf8(name));
        EXPECT_EQ(strlen(name), c.bytes);
        EXPECT_LE(rip_fit_name(name, 36), 36);
        EXPECT_TRUE(valid_utf8(name)) << name;
        EXPECT_GT(strlen(name), 0u);
    }

    offer(L"");
    char name[RIP_NAME_BYTES];
    ASSERT_EQ(rip_window_name(window, name), 1);
    const std::string path = name;
    EXPECT_EQ(path.substr(path.size() - 18), "\\pixwick_tests.exe") << "a window without a title: its module";

    DestroyWindow(window);
    EXPECT_EQ(rip_window_name(window, name), 0);
    window = 0;
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    EXPECT_EQ(rip_render(&rip, 0), 1) << "a window gone since the scan: the frame only";
    EXPECT_EQ(golden::cut(g_lcd.frame, 1, 30, 37, 13).bits.find('1'), std::string::npos);
}

TEST_F(RipTest, PressesShowTheNameOrEndTheProcessOrSayWhyNot)
{
    const std::string token = unique_token("rip");
    offer(std::wstring(token.begin(), token.end()));
    const struct { int action; HANDLE opened; BOOL terminated; int opens, terminates; const char *popup; } cases[] = {
        {1, GetCurrentProcess(), TRUE, 0, 0, "Unresponsive: '%s'"},
        {2, GetCurrentProcess(), TRUE, 1, 1, ""},
        {2, 0, TRUE, 1, 0, "Insufficient privileges to terminate process"},
        {2, GetCurrentProcess(), FALSE, 1, 1, "Failed to terminate process"},
    };
    for (const auto &c : cases) {
        popup_clear(&g_popups);
        g_calls = Calls{0, 0, 0, 9, c.opened, c.terminated};
        g_slots[2].pending_action = c.action;
        EXPECT_EQ(rip_render(&rip, 2), 1);
        EXPECT_EQ(g_slots[2].pending_action, 0);
        EXPECT_EQ(g_calls.opened, c.opens) << c.popup;
        EXPECT_EQ(g_calls.terminated, c.terminates) << c.popup;
        char expected[256];
        snprintf(expected, sizeof expected, c.popup, token.c_str());
        EXPECT_EQ(popup_text(), expected);
        if (c.terminates) {
            EXPECT_EQ(g_calls.process_id, GetCurrentProcessId());
            EXPECT_EQ(g_calls.exit_code, 0u);
        }
    }
    EXPECT_NE(log_line_with("errors.txt", "TerminateProcess() failed for '" + token + "'").find("src/mod_rip("),
              std::string::npos);
}

} // namespace
