// FRAPS page: the hidden window that lets FRAPS in is made only while FRAPS
// runs and its library is not here. The rates and the library's arrival are
// in the end-to-end tests.
#include <gtest/gtest.h>

#include <windows.h>

#include "app.h"
#include "mod_fps.h"
#include "testwindow.h"

namespace {

// Windows of the program's own class that this thread creates.
int created;
HWND last_created;
LRESULT CALLBACK count_creations(int code, WPARAM wparam, LPARAM lparam)
{
    char name[32] = "";
    if (code == HCBT_CREATEWND && GetClassNameA((HWND)wparam, name, sizeof name) && strcmp(name, TESTWINDOW_CLASS) == 0)
        created++, last_created = (HWND)wparam;
    return CallNextHookEx(0, code, wparam, lparam);
}

TEST(Fraps, AHiddenWindowOnlyWhileFrapsRunsAndItsLibraryIsNotHere)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA, wc.hInstance = GetModuleHandleA(0), wc.lpszClassName = TESTWINDOW_CLASS;
    const bool registered = RegisterClassA(&wc); // not when the test window's tests did
    app_instance = wc.hInstance;
    HHOOK hook = SetWindowsHookExA(WH_CBT, count_creations, 0, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    FpsModule fps;
    fps_start(&fps);
    created = 0;
    fps_read_rate(&fps);
    EXPECT_EQ(created, 0) << "FRAPS not running";
    HWND fraps = CreateWindowA("STATIC", "FRAPS fps", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, 0);
    ASSERT_NE(fraps, nullptr);
    for (int second = 1; second <= 2; second++) {
        fps_read_rate(&fps);
        EXPECT_EQ(created, second);
        EXPECT_FALSE(IsWindow(last_created)) << "destroyed at once";
        EXPECT_EQ(fps_render(&fps, 0), 0);
    }
    DestroyWindow(fraps);
    UnhookWindowsHookEx(hook);
    if (registered)
        UnregisterClassA(TESTWINDOW_CLASS, wc.hInstance);
}

} // namespace
