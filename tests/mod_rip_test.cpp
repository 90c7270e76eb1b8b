// RIP: the panel as a golden picture, names cut on whole characters, and the
// refusals to end a process, with doubles (no process here belongs to another
// user). Finding hung windows and ending them is the end-to-end part.
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

bool g_may_open, g_may_end;

HANDLE WINAPI fake_open(DWORD access, BOOL inherit, DWORD process_id)
{
    EXPECT_EQ(access + inherit + process_id, (DWORD)PROCESS_TERMINATE + GetCurrentProcessId());
    return g_may_open ? GetCurrentProcess() : (SetLastError(ERROR_ACCESS_DENIED), nullptr);
}

BOOL WINAPI fake_terminate(HANDLE, UINT exit_code)
{
    EXPECT_EQ(exit_code, 0u);
    return g_may_end || (SetLastError(ERROR_ACCESS_DENIED), FALSE);
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
        g_slots[1] = Slot{}, g_slots[1].x = 40, g_slots[1].y = 22;
        rip_open_process = fake_open, rip_terminate_process = fake_terminate;
    }
    void TearDown() override
    {
        DestroyWindow(window);
        rip_open_process = OpenProcess, rip_terminate_process = TerminateProcess;
        popup_clear(&g_popups);
        DeleteObject(g_lcd.small_font);
        g_lcd.small_font = saved_font;
        if (own_surface)
            lcd_destroy_surface(&g_lcd);
    }
    void offer(const std::wstring &title) // a window of this process, as if it hung
    {
        DestroyWindow(window);
        window = rip.hung = CreateWindowExW(0, L"STATIC", title.c_str(), WS_POPUP, 0, 0, 9, 9, 0, 0, 0, 0);
    }
};

TEST_F(RipTest, PanelShowsTheNameCutFromItsEndOnWholeCharacters)
{
    EXPECT_EQ(rip_render(&rip, 1), 0) << "no hung window, no page";
    offer(L"Frozen \u00e9diteur \u2014 notes.txt");
    EXPECT_EQ(rip_render(&rip, 1), 1);
    EXPECT_GOLDEN_AREA("rip_page", g_lcd.frame, 40, 22, 39, 21);

    const struct { std::wstring title; size_t bytes; } cases[] = {
        {std::wstring(200, L'\u6f22'), 126},            // 127 units would be 381 bytes
        {std::wstring(126, L'x') + L"\U0001F600", 126}, // the limit falls inside a surrogate pair
        {L"", 0},                                       // no title: its module's file
    };
    for (const auto &c : cases) {
        offer(c.title);
        char name[RIP_NAME_BYTES];
        ASSERT_EQ(rip_window_name(window, name), 1);
        EXPECT_TRUE(c.bytes ? strlen(name) == c.bytes : strstr(name, "\\pixwick_tests.exe") != nullptr) << name;
        EXPECT_LE(rip_fit_name(name, 36), 36);
        EXPECT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, 0, 0), 1) << "whole characters";
    }
}

TEST_F(RipTest, LongPressSaysWhyAProcessWasNotEnded)
{
    const std::string token = unique_token("rip");
    offer(std::wstring(token.begin(), token.end()));
    const struct { bool may_open, may_end; const char *popup; } cases[] = {
        {true, true, nullptr},
        {false, true, "Insufficient privileges to terminate process"},
        {true, false, "Failed to terminate process"},
    };
    for (const auto &c : cases) {
        popup_clear(&g_popups);
        g_may_open = c.may_open, g_may_end = c.may_end, g_slots[1].pending_action = 2;
        EXPECT_EQ(rip_render(&rip, 1) - g_slots[1].pending_action, 1);
        EXPECT_STREQ(g_popups.head ? g_popups.head->text : nullptr, c.popup);
    }
    EXPECT_NE(log_line_with("errors.txt", "TerminateProcess() failed for '" + token + "'").find("src/mod_rip("),
              std::string::npos);
}

} // namespace
