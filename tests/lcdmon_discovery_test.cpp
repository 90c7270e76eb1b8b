// Finding, starting and ending the LCD Manager as a process, with the real
// stand-in LCDMon.exe; the window finders of other modules.
#include <gtest/gtest.h>

#include <string>

#include "lcd.h"
#include "lcdmon_standin.h"
#include "util.h"

namespace {

std::string errors_file_text()
{
    char path[MAX_PATH];
    std::string text;
    if (!documents_pixwick_dir(path, sizeof path))
        return text;
    strncat(path, "errors.txt", sizeof path - strlen(path) - 1);
    FILE *file = fopen(path, "rb");
    if (!file)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    fclose(file);
    return text;
}

int count_of(const std::string &text, const std::string &needle)
{
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        count++;
    return count;
}

int errors_with(const char *needle)
{
    return count_of(errors_file_text(), needle);
}

// Holds Ctrl and Media Stop in the desktop's key state while alive.
struct HeldKeys {
    HeldKeys() { send(0); }
    ~HeldKeys() { send(KEYEVENTF_KEYUP); }
    static void send(DWORD flags)
    {
        INPUT inputs[2] = {};
        inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
        inputs[0].ki.wVk = VK_CONTROL;
        inputs[1].ki.wVk = VK_MEDIA_STOP;
        inputs[0].ki.dwFlags = inputs[1].ki.dwFlags = flags;
        SendInput(2, inputs, sizeof inputs[0]);
    }
};

DWORD window_process(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

void end_process(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process)
        return;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

void set_text(char *field, size_t size, const char *text)
{
    snprintf(field, size, "%s", text);
}

int write_install_value(const char *name, const char *text)
{
    return lcdmon_write_text(HKEY_LOCAL_MACHINE, LCDMON_CURRENT_VERSION_KEY, 0, name, text);
}

} // namespace

TEST(LcdMonDiscovery, IsWow64AsksOnceAndKeepsTheAnswer)
{
    int saved = g_is_wow64;
    g_is_wow64 = -1;
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    EXPECT_EQ(is_wow64(), wow64 ? 1 : 0);
    EXPECT_EQ(g_is_wow64, wow64 ? 1 : 0);
    g_is_wow64 = 1; // a cached answer is returned without asking again
    EXPECT_EQ(is_wow64(), 1);
    g_is_wow64 = saved;
}

TEST(LcdMonDiscovery, ExePathGetsExactlyOneBackslash)
{
    struct Case {
        const char *folder;
        const char *path;
    } cases[] = {
        {"C:\\Program Files\\Logitech\\LCD Manager", "C:\\Program Files\\Logitech\\LCD Manager\\LCDMon.exe"},
        {"C:\\Program Files\\Logitech\\LCD Manager\\", "C:\\Program Files\\Logitech\\LCD Manager\\LCDMon.exe"},
        {"D:\\", "D:\\LCDMon.exe"},
    };
    for (const Case &c : cases) {
        char path[300];
        ASSERT_TRUE(lcdmon_exe_path(c.folder, path, sizeof path));
        EXPECT_STREQ(path, c.path);
    }
    char small[12];
    EXPECT_FALSE(lcdmon_exe_path("C:\\LCD", small, sizeof small)) << "does not fit";
}

TEST(LcdMonDiscovery, DriverInfoKeepsStartValuesForWhatIsMissing)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    static Lcd lcd;

    set_text(lcd.version, sizeof lcd.version, "unknown");
    lcd.install_path[0] = 0;
    int before = errors_with("src/lcd(186) | can't open the G15 registry key");
    lcd_read_driver_info(&lcd);
    EXPECT_STREQ(lcd.version, "unknown");
    EXPECT_STREQ(lcd.install_path, "");
    EXPECT_EQ(errors_with("src/lcd(186) | can't open the G15 registry key"), before + 1);
    EXPECT_EQ(GetLastError(), 0u);

    ASSERT_TRUE(write_install_value("Version", "3.06.109"));
    before = errors_with("src/lcd(204) | can't query G15 InstallPath");
    lcd_read_driver_info(&lcd);
    EXPECT_STREQ(lcd.version, "3.06.109");
    EXPECT_STREQ(lcd.install_path, "");
    EXPECT_EQ(errors_with("src/lcd(204) | can't query G15 InstallPath"), before + 1);

    // 31 bytes is all the version may take (30 characters and the end).
    set_text(lcd.version, sizeof lcd.version, "unknown");
    ASSERT_TRUE(write_install_value("Version", "0123456789012345678901234567890123456789"));
    ASSERT_TRUE(write_install_value("InstallPath", "C:\\Program Files\\Logitech\\LCD Manager"));
    before = errors_with("src/lcd(196) | can't query G15 software version");
    lcd_read_driver_info(&lcd);
    EXPECT_STREQ(lcd.version, "unknown");
    EXPECT_STREQ(lcd.install_path, "C:\\Program Files\\Logitech\\LCD Manager");
    EXPECT_EQ(errors_with("src/lcd(196) | can't query G15 software version"), before + 1);

    ASSERT_TRUE(write_install_value("Version", "012345678901234567890123456789"));
    lcd_read_driver_info(&lcd);
    EXPECT_STREQ(lcd.version, "012345678901234567890123456789");
}

TEST(LcdMonDiscovery, FindsTheStandInWindow)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    EXPECT_EQ(find_lcdmon_window(), (HWND)0) << "no LCD Manager yet";
    ASSERT_TRUE(session.start());
    HWND window = find_lcdmon_window();
    ASSERT_NE(window, (HWND)0);
    EXPECT_EQ(window_process(window), session.process.dwProcessId);
    char name[64];
    GetClassNameA(window, name, sizeof name);
    EXPECT_STREQ(name, "Logitech LCD Monitor Window");
}

TEST(LcdMonDiscovery, LaunchStartsLcdMonFromTheInstallPath)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    ASSERT_TRUE(session.register_standin());
    static Lcd saved;
    memcpy(saved.install_path, g_lcd.install_path, sizeof saved.install_path);
    memcpy(saved.version, g_lcd.version, sizeof saved.version);
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
    if (window) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        char image[MAX_PATH] = "";
        DWORD size = sizeof image;
        ASSERT_TRUE(process && QueryFullProcessImageNameA(process, 0, image, &size));
        CloseHandle(process);
        EXPECT_EQ(_stricmp(image, (std::string(dir) + "\\LCDMon.exe").c_str()), 0) << image;
        // With the window there, a second launch starts nothing.
        launch_lcdmon();
        EXPECT_EQ(find_lcdmon_window(), window);
    }
    lcdmon_command("quit", 0, 0, 2000);
    if (pid)
        end_process(pid);

    // A folder without LCDMon.exe: logged with the full path and the folder.
    set_text(g_lcd.install_path, sizeof g_lcd.install_path, "C:\\no\\such\\LCD Manager\\");
    int before = errors_with("failed to launch 'C:\\no\\such\\LCD Manager\\LCDMon.exe' (path 'C:\\no\\such\\LCD Manager\\')");
    launch_lcdmon();
    EXPECT_EQ(errors_with("failed to launch 'C:\\no\\such\\LCD Manager\\LCDMon.exe' (path 'C:\\no\\such\\LCD Manager\\')"),
              before + 1);
    EXPECT_EQ(GetLastError(), 0u);

    memcpy(g_lcd.install_path, saved.install_path, sizeof saved.install_path);
    memcpy(g_lcd.version, saved.version, sizeof saved.version);
}

TEST(LcdMonDiscovery, CtrlMediaStopEndsLcdMon)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    const char *line = "src/util(118) | CTRL+MEDIA_STOP detected, terminating LCDMon.exe";

    int before = errors_with(line);
    {
        HeldKeys keys; // no LCD Manager window: nothing happens, nothing is logged
        media_stop_watch();
    }
    EXPECT_EQ(errors_with(line), before);

    ASSERT_TRUE(session.start());
    media_stop_watch(); // keys not held
    EXPECT_EQ(WaitForSingleObject(session.process.hProcess, 0), (DWORD)WAIT_TIMEOUT);
    {
        HeldKeys keys;
        ASSERT_TRUE(GetAsyncKeyState(VK_MEDIA_STOP) & 0x8000);
        media_stop_watch();
    }
    ASSERT_EQ(WaitForSingleObject(session.process.hProcess, 5000), (DWORD)WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(session.process.hProcess, &code);
    EXPECT_EQ(code, 255u);
    EXPECT_EQ(errors_with(line), before + 1);
    EXPECT_EQ(GetLastError(), 0u);
}

namespace {
HWND make_window(const char *class_name, const char *title)
{
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(0);
    window_class.lpszClassName = class_name;
    RegisterClassA(&window_class);
    return CreateWindowA(class_name, title, WS_OVERLAPPED, 0, 0, 10, 10, 0, 0, GetModuleHandleA(0), 0);
}

void remove_window(HWND window, const char *class_name)
{
    DestroyWindow(window);
    UnregisterClassA(class_name, GetModuleHandleA(0));
}
} // namespace

TEST(LcdMonDiscovery, WindowFindersOfOtherModules)
{
    struct Case {
        const char *class_name;
        const char *title;
        HWND (*finder)(void);
        bool found;
    } cases[] = {
        {"iTunes", "iTunes", find_itunes_window, true},
        {"iTunesApp", "iTunes", find_itunes_window, true},
        {"iTunes", "iTunes Store", find_itunes_window, false},
        {"TApplication", "TeamSpeak 2", find_ts2_window, true},
        {"TApplication", "TeamSpeak 3", find_ts2_window, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.class_name) + " / " + c.title);
        if (c.finder() != 0) {
            ADD_FAILURE() << "such a window exists already";
            continue;
        }
        HWND window = make_window(c.class_name, c.title);
        ASSERT_TRUE(window);
        EXPECT_EQ(c.finder(), c.found ? window : (HWND)0);
        remove_window(window, c.class_name);
    }
}
