// FRAPS page: the hidden window that lets FRAPS in, and the rates read from
// the FRAPS stand-in's library loaded into this process.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "../standins/fraps/fraps_shared.h"
#include "app.h"
#include "log_files.h"
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
    RegisterClassA(&wc); // fails harmlessly when the test window's tests registered it
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
}

TEST(Fraps, RatesFromTheLibraryInThisProcess)
{
    std::string instance = unique_token("fps");
    SetEnvironmentVariableA(FRAPS_STANDIN_INSTANCE, instance.c_str());
    char path[MAX_PATH], name[96];
    GetModuleFileNameA(0, path, sizeof path);
    std::string dll = std::string(path).substr(0, std::string(path).rfind('\\')) + "\\standins\\fraps\\" FRAPS_STANDIN_DLL;
    HMODULE library = LoadLibraryA(dll.c_str());
    ASSERT_NE(library, nullptr) << dll;
    fraps_standin_block_name(name, sizeof name);
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, sizeof(FrapsStandInBlock), name);
    FrapsStandInBlock *block = (FrapsStandInBlock *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(block, nullptr);
    block->magic = FRAPS_STANDIN_MAGIC;

    const struct {
        uint32_t rate, null_record;
        const char *text;
    } cases[] = {{60, 0, "60"}, {0, 0, ""}, {0xFFFFFFFF, 0, "4294967295"}, {60, 1, ""}};
    FpsModule fps;
    for (const auto &c : cases) {
        block->rate = c.rate, block->null_record = c.null_record;
        fps_read_rate(&fps);
        EXPECT_STREQ(fps.rate_text, c.text) << c.rate;
        EXPECT_EQ(fps_render(&fps, 0), c.text[0] != 0);
    }
    EXPECT_EQ(block->calls, 4);
    UnmapViewOfFile(block);
    CloseHandle(mapping);
    fps_read_rate(&fps);
    EXPECT_STREQ(fps.rate_text, "") << "FRAPS gone";
    FreeLibrary(library);
    SetEnvironmentVariableA(FRAPS_STANDIN_INSTANCE, 0);
}

} // namespace
