#include <gtest/gtest.h>

#include <string>

#include "app.h"
#include "lcd.h"
#include "lcdmon_session.h"
#include "log_files.h"

namespace {

int errors_with(const std::string &text)
{
    return count_occurrences(read_binary_file(log_path("errors.txt")), text);
}

DWORD window_process(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

// Presses (flags 0) or lets go (KEYEVENTF_KEYUP) of Ctrl and Media Stop.
void ctrl_media_stop(DWORD flags)
{
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = VK_CONTROL, inputs[1].ki.wVk = VK_MEDIA_STOP;
    inputs[0].ki.dwFlags = inputs[1].ki.dwFlags = flags;
    SendInput(2, inputs, sizeof inputs[0]);
}

} // namespace

TEST(LcdMonDiscovery, DriverInfoKeepsTheStartValueOfATooLongVersion)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    static Lcd lcd;
    const char *path = "C:\\Program Files\\Logitech\\LCD Manager";
    // 31 bytes is all the version may take (30 characters and the end).
    ASSERT_TRUE(lcdmon_register_install("0123456789012345678901234567890", path));
    const char *line = "src/lcd(196) | can't query G15 software version";
    int before = errors_with(line);
    lcd_read_driver_info(&lcd);
    EXPECT_STREQ(lcd.version, "unknown");
    EXPECT_STREQ(lcd.install_path, path);
    EXPECT_EQ(errors_with(line), before + 1);
    ASSERT_TRUE(lcdmon_register_install("012345678901234567890123456789", path));
    lcd_read_driver_info(&lcd);
    EXPECT_STREQ(lcd.version, "012345678901234567890123456789");
}

TEST(LcdMonDiscovery, LaunchStartsLcdMonFromTheInstallPath)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    ASSERT_TRUE(session.register_standin());
    static Lcd saved;
    saved = g_lcd;
    lcd_read_driver_info(&g_lcd);
    char dir[MAX_PATH];
    ASSERT_TRUE(standin_dir(dir, sizeof dir));
    EXPECT_STREQ(g_lcd.install_path, dir);
    EXPECT_STREQ(g_lcd.version, LCDMON_VERSION_TEXT);

    ASSERT_EQ(find_lcdmon_window(), (HWND)0);
    launch_lcdmon();
    EXPECT_TRUE(WAIT_UNTIL(find_lcdmon_window() != 0, 15000));
    HWND window = find_lcdmon_window();
    DWORD pid = window ? window_process(window) : 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    char image[MAX_PATH] = "";
    DWORD size = sizeof image;
    EXPECT_TRUE(process && QueryFullProcessImageNameA(process, 0, image, &size));
    EXPECT_EQ(_stricmp(image, (std::string(dir) + "\\LCDMon.exe").c_str()), 0) << image;
    launch_lcdmon();
    EXPECT_EQ(find_lcdmon_window(), window) << "a second launch starts nothing";
    if (process)
        TerminateProcess(process, 1), WaitForSingleObject(process, 5000), CloseHandle(process);

    // A folder without LCDMon.exe: logged with the full path and the folder.
    strcpy(g_lcd.install_path, "C:\\no\\such\\LCD Manager\\");
    const char *line = "failed to launch 'C:\\no\\such\\LCD Manager\\LCDMon.exe' (path 'C:\\no\\such\\LCD Manager\\')";
    int before = errors_with(line);
    launch_lcdmon();
    EXPECT_EQ(errors_with(line), before + 1);
    g_lcd = saved;
}

TEST(LcdMonDiscovery, CtrlMediaStopEndsLcdMon)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    const char *line = "src/util(118) | CTRL+MEDIA_STOP detected, terminating LCDMon.exe";
    int before = errors_with(line);
    second_tick = 1; // the watch looks for the window on second ticks
    ctrl_media_stop(0);
    media_stop_watch(); // no LCD Manager window: nothing happens
    ctrl_media_stop(KEYEVENTF_KEYUP);
    EXPECT_EQ(errors_with(line), before);

    ASSERT_TRUE(session.start());
    EXPECT_EQ(window_process(find_lcdmon_window()), session.process.dwProcessId);
    media_stop_watch(); // keys not held
    EXPECT_EQ(WaitForSingleObject(session.process.hProcess, 0), (DWORD)WAIT_TIMEOUT);
    second_tick = 0; // between second ticks the window seen last stands
    ctrl_media_stop(0);
    media_stop_watch();
    ctrl_media_stop(KEYEVENTF_KEYUP);
    ASSERT_EQ(WaitForSingleObject(session.process.hProcess, 5000), (DWORD)WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(session.process.hProcess, &code);
    EXPECT_EQ(code, 255u);
    EXPECT_EQ(errors_with(line), before + 1);
}
