// End to end: the real pixwick.exe, started as a user would start it, against
// the LCD Manager stand-in (standins/lcdmon). Frames are read from the
// stand-in's frame log (time stamp and 6880 bytes per accepted frame) and
// compared with what this process draws with the same fonts; soft buttons
// are pressed through the stand-in's control interface; the test window is
// watched from outside with FindWindow and friends.
//
// They run in a Wine prefix of their own (tests/e2e/prepare_prefix.sh). Every
// wait is bounded. Each test ends the processes it started.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "lcdmon_standin.h"
#include "log_files.h"
#include "topline.h"

namespace {

const char WINDOW_CLASS[] = "PixwickWnd";
const char NAME[] = "Pixwick 2.8.5";
const char UNRESPONSIVE[] = "Your G15 is unresponsive!";
const char UPDATE_DRIVERS[] = "Try updating Logitech drivers.";
const char NOT_WRITABLE[] =
    "Warning! Documents\\Pixwick directory isn't writable, system.txt and errors.txt cannot be created.";
const int BAND_TOP = 8, BAND_BOTTOM = 20;
const int SLOT_X[4] = {0, 40, 81, 121};

struct Frame {
    int64_t us;
    std::vector<uint8_t> px;
    uint8_t at(int x, int y) const { return px[(size_t)(y * LCD_WIDTH + x)]; }
};

std::string exe_folder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(0, path, sizeof path);
    char *slash = strrchr(path, '\\');
    if (slash)
        *slash = 0;
    return path;
}

struct SavedValue {
    REGSAM view;
    const char *key;
    const char *name;
    bool existed;
    std::string data;
};

void save_value(SavedValue *v)
{
    HKEY key;
    v->existed = false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, v->key, 0, KEY_QUERY_VALUE | v->view, &key) != ERROR_SUCCESS)
        return;
    char data[1024];
    DWORD size = sizeof data - 1, type = 0;
    if (RegQueryValueExA(key, v->name, 0, &type, (BYTE *)data, &size) == ERROR_SUCCESS && type == REG_SZ) {
        data[size] = 0;
        v->existed = true;
        v->data = data;
    }
    RegCloseKey(key);
}

void restore_value(const SavedValue &v)
{
    if (v.existed) {
        lcdmon_write_text(HKEY_LOCAL_MACHINE, v.key, v.view, v.name, v.data.c_str());
        return;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, v.key, 0, KEY_SET_VALUE | v.view, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, v.name);
        RegCloseKey(key);
    }
}

bool write_file(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

bool process_running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

class E2E : public ::testing::Test {
protected:
    HANDLE test_lock = 0;
    std::string work;      // working folder of pixwick.exe, holds its pixwick.txt
    std::string frame_log; // the stand-in's frame log
    PROCESS_INFORMATION lcdmon{};
    std::vector<PROCESS_INFORMATION> programs;
    std::vector<SavedValue> saved;
    std::string moved_system_txt;

    void SetUp() override
    {
        test_lock = CreateMutexA(0, FALSE, STANDIN_TEST_LOCK);
        DWORD got = test_lock ? WaitForSingleObject(test_lock, STANDIN_LOCK_WAIT_MS) : WAIT_FAILED;
        ASSERT_TRUE(got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) << "test lock";
        ASSERT_EQ(FindWindowA(WINDOW_CLASS, 0), nullptr) << "another Pixwick runs in this prefix";

        char text[64];
        snprintf(text, sizeof text, "E2E%lu", (unsigned long)GetCurrentProcessId());
        SetEnvironmentVariableA(LCDMON_INSTANCE_VARIABLE, text);
        snprintf(text, sizeof text, "%lu", (unsigned long)GetCurrentProcessId());
        SetEnvironmentVariableA(LCDMON_PARENT_VARIABLE, text);

        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        static int serial;
        snprintf(text, sizeof text, "pixwick_e2e_%lu_%d", (unsigned long)GetCurrentProcessId(), ++serial);
        work = std::string(temp) + text;
        CreateDirectoryA(work.c_str(), 0);
        frame_log = work + "\\frames.bin";

        const SavedValue values[] = {
            {0, LCDMON_SERVER_BINARY_KEY, 0, false, ""},
            {KEY_WOW64_64KEY, LCDMON_CURRENT_VERSION_KEY, "Version", false, ""},
            {KEY_WOW64_64KEY, LCDMON_CURRENT_VERSION_KEY, "InstallPath", false, ""},
            {KEY_WOW64_32KEY, LCDMON_CURRENT_VERSION_KEY, "Version", false, ""},
            {KEY_WOW64_32KEY, LCDMON_CURRENT_VERSION_KEY, "InstallPath", false, ""},
        };
        for (SavedValue v : values) {
            save_value(&v);
            saved.push_back(v);
        }

        // The same fonts as the program, for the expected pictures.
        config_clear(&g_config);
        ASSERT_EQ(lcd_create_surface(&g_lcd), 1);
        lcd_set_small_font(&g_lcd, g_general.small_font_name, g_general.small_font_size);
        lcd_set_large_font(&g_lcd, g_general.large_font_name, g_general.large_font_size);
    }

    void TearDown() override
    {
        for (PROCESS_INFORMATION &p : programs) {
            if (process_running(p.hProcess)) {
                TerminateProcess(p.hProcess, 1);
                WaitForSingleObject(p.hProcess, 5000);
            }
            CloseHandle(p.hProcess);
            CloseHandle(p.hThread);
        }
        programs.clear();
        stop_lcdmon();
        for (const SavedValue &v : saved)
            restore_value(v);
        if (!moved_system_txt.empty()) {
            std::string path = log_path("system.txt");
            RemoveDirectoryA(path.c_str());
            MoveFileA(moved_system_txt.c_str(), path.c_str());
        }
        DeleteFileA(frame_log.c_str());
        DeleteFileA((work + "\\pixwick.txt").c_str());
        DeleteFileA((work + "\\hid.log").c_str());
        RemoveDirectoryA(work.c_str());
        lcd_destroy_surface(&g_lcd);
        SetEnvironmentVariableA(LCDMON_INSTANCE_VARIABLE, 0);
        SetEnvironmentVariableA(LCDMON_PARENT_VARIABLE, 0);
        if (test_lock) {
            ReleaseMutex(test_lock);
            CloseHandle(test_lock);
        }
    }

    // ---- processes ----

    bool register_standin()
    {
        char dir[MAX_PATH], server[MAX_PATH];
        return standin_dir(dir, sizeof dir) && standin_file(server, sizeof server, LCDMON_SERVER_DLL) &&
               lcdmon_register_server(server, 0) && lcdmon_register_install(LCDMON_VERSION_TEXT, dir);
    }

    void unregister_standin() { lcdmon_unregister(); }

    bool start_lcdmon()
    {
        char exe[MAX_PATH], dir[MAX_PATH];
        if (!standin_file(exe, sizeof exe, "LCDMon.exe") || !standin_dir(dir, sizeof dir))
            return false;
        std::string command = std::string("\"") + exe + "\" --hidden --lifetime 180 --frame-log \"" + frame_log + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        if (!CreateProcessA(exe, line.data(), 0, 0, FALSE, 0, 0, dir, &startup, &lcdmon))
            return false;
        return WAIT_UNTIL(lcdmon_command("ping", 0, 0, 1000), STANDIN_START_WAIT_MS);
    }

    void kill_lcdmon()
    {
        if (!lcdmon.hProcess)
            return;
        TerminateProcess(lcdmon.hProcess, 1);
        WaitForSingleObject(lcdmon.hProcess, 5000);
        CloseHandle(lcdmon.hProcess);
        CloseHandle(lcdmon.hThread);
        lcdmon = PROCESS_INFORMATION{};
    }

    void stop_lcdmon()
    {
        if (!lcdmon.hProcess)
            return;
        lcdmon_command("buttons 0", 0, 0, 1000);
        lcdmon_command("hang off", 0, 0, 1000);
        lcdmon_command("quit", 0, 0, 1000);
        WaitForSingleObject(lcdmon.hProcess, 2000);
        kill_lcdmon();
    }

    bool command(const char *text) { return lcdmon_command(text, 0, 0, 10000) != 0; }

    // Retried for a moment: the program may have the file open for reading.
    void write_config(const std::string &text)
    {
        ASSERT_TRUE(WAIT_UNTIL(write_file(work + "\\pixwick.txt", text), 2000));
    }

    HANDLE start_pixwick()
    {
        std::string exe = exe_folder() + "\\pixwick.exe";
        std::string command = "\"" + exe + "\"";
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        if (!CreateProcessA(exe.c_str(), line.data(), 0, 0, FALSE, 0, 0, work.c_str(), &startup, &p))
            return 0;
        programs.push_back(p);
        return p.hProcess;
    }

    // Exit code, or -1 while it still runs after timeout_ms.
    static long exit_code_within(HANDLE process, DWORD timeout_ms)
    {
        if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        return (long)code;
    }

    // The four-button gesture, then the exit code (-1: still running).
    long end_with_buttons(HANDLE process)
    {
        command("buttons 7");
        command("buttons 15");
        long code = exit_code_within(process, 5000);
        command("buttons 0");
        return code;
    }

    // ---- frames ----

    size_t frame_count()
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(frame_log.c_str(), GetFileExInfoStandard, &data))
            return 0;
        return (size_t)data.nFileSizeLow / LCDMON_LOG_RECORD_BYTES;
    }

    bool wait_frames(size_t n, DWORD timeout_ms) { return WAIT_UNTIL(frame_count() >= n, timeout_ms); }

    std::vector<Frame> frames()
    {
        std::vector<Frame> list;
        std::string bytes = read_binary_file(frame_log);
        for (size_t at = 0; at + LCDMON_LOG_RECORD_BYTES <= bytes.size(); at += LCDMON_LOG_RECORD_BYTES) {
            Frame f;
            memcpy(&f.us, bytes.data() + at, 8);
            f.px.assign(bytes.begin() + (long)at + 8, bytes.begin() + (long)(at + LCDMON_LOG_RECORD_BYTES));
            list.push_back(f);
        }
        return list;
    }

    // ---- expected pictures ----

    std::vector<uint8_t> draw(void (*paint)(const char *), const char *text)
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        paint(text);
        return std::vector<uint8_t>(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES);
    }

    // A pop-up's first picture: the text at the band's left edge.
    std::vector<uint8_t> popup_picture(const char *text)
    {
        return draw([](const char *t) { lcd_text_utf8(&g_lcd, TXT_LARGE, 0, BAND_TOP, t); }, text);
    }

    static bool band_equals(const Frame &f, const std::vector<uint8_t> &expected)
    {
        size_t from = (size_t)BAND_TOP * LCD_WIDTH, to = (size_t)(BAND_BOTTOM + 1) * LCD_WIDTH;
        return memcmp(f.px.data() + from, expected.data() + from, to - from) == 0;
    }

    // Index of the first frame from `from` on whose band shows the pop-up, or -1.
    int find_popup(const std::vector<Frame> &list, size_t from, const char *text)
    {
        std::vector<uint8_t> expected = popup_picture(text);
        for (size_t k = from; k < list.size(); k++)
            if (band_equals(list[k], expected))
                return (int)k;
        return -1;
    }

    // The date of today in a picture, drawn at the top-left; its width in *width.
    std::vector<uint8_t> date_picture(const char *picture, int *width)
    {
        TopLine line{};
        snprintf(line.date_format, sizeof line.date_format, "%s", picture);
        SYSTEMTIME now;
        GetLocalTime(&now);
        wchar_t text[TOPLINE_TEXT_UNITS];
        topline_format_date(&line, &now, text);
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        *width = lcd_text_wide(&g_lcd, 0, 0, 0, text);
        return std::vector<uint8_t>(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES);
    }

    static bool date_equals(const Frame &f, const std::vector<uint8_t> &expected, int width)
    {
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < width && x < LCD_WIDTH; x++)
                if (f.at(x, y) != expected[(size_t)(y * LCD_WIDTH + x)])
                    return false;
        return true;
    }

    static int lit_in(const Frame &f, int x0, int x1, int y0, int y1)
    {
        int n = 0;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                n += f.at(x, y) != 0;
        return n;
    }

    // Row of a slot panel's top edge (columns x+1..x+37 all lit), or -1.
    static int top_edge_row(const Frame &f, int slot)
    {
        int x = SLOT_X[slot];
        for (int y = 21; y < LCD_HEIGHT; y++) {
            bool edge = true;
            for (int c = x + 1; c <= x + 37 && edge; c++)
                edge = f.at(c, y) != 0;
            if (edge)
                return y;
        }
        return -1;
    }

    static std::string title_of(HWND window)
    {
        char text[128] = "";
        GetWindowTextA(window, text, sizeof text);
        return text;
    }
};

// ---- Start-up, frames, logs -------------------------------------------------------

TEST_F(E2E, FramesFlowAtTenPerSecondWithTopLineAndStartPopup)
{
    write_config("slot_0 STW CLK CPU\nslot_1 CLK\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    int64_t started = lcdmon_now_us();
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(45, 25000)) << "frames: " << frame_count();

    std::vector<Frame> list = frames();
    printf("start-up to first frame: %.0f ms\n", (double)(list[0].us - started) / 1000.0);

    // rate over the frames of the ticks (the first frames may be the empty
    // ones of the connection check)
    const Frame &a = list[10], &b = list.back();
    double per_second = (double)(list.size() - 11) * 1e6 / (double)(b.us - a.us);
    EXPECT_GT(per_second, 8.0);
    EXPECT_LT(per_second, 11.0);

    EXPECT_GE(find_popup(list, 0, NAME), 0) << "start-up pop-up";
    int width = 0;
    std::vector<uint8_t> date = date_picture("ddd yyyy-MM-dd", &width);
    ASSERT_GT(width, 20);
    EXPECT_TRUE(date_equals(list.back(), date, width)) << "date at the top left";
    // the time ends on column 159 and moves on
    EXPECT_GT(lit_in(list.back(), 150, 159, 0, 7), 0);
    bool time_moved = false;
    for (size_t k = list.size() - 21; k < list.size(); k++)
        for (int y = 0; y < 8; y++)
            for (int x = 120; x < LCD_WIDTH; x++)
                time_moved |= list[k].at(x, y) != list.back().at(x, y);
    EXPECT_TRUE(time_moved);

    std::string system = read_binary_file(log_path("system.txt"));
    EXPECT_EQ(system.rfind("Starting Pixwick 2.8.5", 0), 0u) << system.substr(0, 200);
    char dir[MAX_PATH];
    ASSERT_TRUE(standin_dir(dir, sizeof dir));
    EXPECT_NE(system.find("Logitech drivers version '" LCDMON_VERSION_TEXT "'"), std::string::npos);
    EXPECT_NE(system.find(std::string("Logitech installation path is '") + dir + "'"), std::string::npos);

    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(E2E, PanelsSlideInFromBelow)
{
    write_config("slot_0 STW CLK CPU\nslot_1 STW CLK CPU\nslot_2 STW CLK CPU\nslot_3 STW CLK CPU\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(70, 25000));
    std::vector<Frame> list = frames();

    int panel_pixels = 0;
    for (const Frame &f : list)
        panel_pixels += lit_in(f, 0, 159, 21, 42);
    ASSERT_GT(panel_pixels, 0) << "no panel was drawn";

    // per slot: the row of its top edge in every frame (-1: not on the display)
    int arrival[4];
    for (int slot = 0; slot < 4; slot++) {
        SCOPED_TRACE(testing::Message() << "slot " << slot);
        std::vector<int> rows;
        for (const Frame &f : list)
            rows.push_back(top_edge_row(f, slot));
        // from its lowest position the panel only rises, 2 rows a step, to row 22
        size_t low = 0;
        for (size_t k = 0; k < rows.size(); k++)
            if (rows[k] > rows[low])
                low = k;
        EXPECT_GE(rows[low], 38);
        for (size_t k = low + 1; k < rows.size(); k++) {
            EXPECT_LE(rows[k], rows[k - 1]);
            EXPECT_LE(rows[k - 1] - rows[k], 2);
            EXPECT_GE(rows[k], 22);
        }
        EXPECT_EQ(rows.back(), 22);
        arrival[slot] = -1;
        for (size_t k = low; k < rows.size() && arrival[slot] < 0; k++)
            if (rows[k] == 22)
                arrival[slot] = (int)k;
        ASSERT_GE(arrival[slot], 0);
    }
    // each panel arrives six ticks after the one to its left
    for (int slot = 1; slot < 4; slot++) {
        EXPECT_GE(arrival[slot] - arrival[slot - 1], 4) << slot;
        EXPECT_LE(arrival[slot] - arrival[slot - 1], 8) << slot;
    }
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(E2E, SecondCopyExitsAtOnce)
{
    write_config("slot_0 CLK\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    HANDLE first = start_pixwick();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(wait_frames(5, 20000));
    HANDLE second = start_pixwick();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(exit_code_within(second, 10000), 0);
    EXPECT_TRUE(process_running(first));
    size_t n = frame_count();
    EXPECT_TRUE(wait_frames(n + 5, 5000)) << "the first copy goes on";
    EXPECT_EQ(end_with_buttons(first), 0);
}

TEST_F(E2E, EditedConfigurationIsPickedUp)
{
    write_config("slot_0 CLK\nconfig_refresh 10\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(25, 20000));

    size_t before = frame_count();
    write_config("slot_0 STW\nslot_3 CPU+\ndate_format 'E2E' yyyy\nconfig_refresh 10\n");
    ASSERT_TRUE(wait_frames(before + 25, 10000));
    std::vector<Frame> list = frames();
    int updated = find_popup(list, before, "Configuration updated");
    ASSERT_GE(updated, 0) << "no 'Configuration updated' pop-up";
    EXPECT_LE(updated - (int)before, 15) << "picked up within the refresh period";
    int width = 0;
    std::vector<uint8_t> date = date_picture("'E2E' yyyy", &width);
    EXPECT_TRUE(date_equals(list[(size_t)updated], date, width)) << "new date picture";

    std::string system = read_binary_file(log_path("system.txt"));
    EXPECT_NE(system.find(" 'slot_0' = 'STW'"), std::string::npos);
    EXPECT_NE(system.find(" 'slot_3' = 'CPU+'"), std::string::npos);
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(E2E, KeepsDrawingThroughConfigurationChurnAndLcdManagerRestarts)
{
    write_config("slot_0 CLK\nconfig_refresh 1\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(15, 20000));

    // rewritten every few tens of milliseconds for three seconds
    size_t n = frame_count();
    DWORD start = GetTickCount();
    int written = 0;
    for (int k = 0; GetTickCount() - start < 3000; k++) {
        // a write may find the file open for reading in the program (it
        // shares reading only), as an editor's save would
        written += write_file(work + "\\pixwick.txt",
                              k % 2 ? "slot_0 CLK\nconfig_refresh 1\n" : "slot_0 STW\nconfig_refresh 1\n");
        Sleep(30);
    }
    EXPECT_GT(written, 20);
    EXPECT_GE(frame_count(), n + 20) << "while the settings file is rewritten";

    // deleted
    n = frame_count();
    ASSERT_TRUE(DeleteFileA((work + "\\pixwick.txt").c_str()));
    EXPECT_TRUE(wait_frames(n + 15, 5000)) << "while the settings file is missing";

    // LCD Manager killed and started again
    kill_lcdmon();
    Sleep(1500);
    EXPECT_TRUE(process_running(program));
    n = frame_count();
    ASSERT_TRUE(start_lcdmon());
    EXPECT_TRUE(wait_frames(n + 10, 15000)) << "after the LCD Manager came back";

    // LCD Manager hung in a frame update, then going on
    ASSERT_TRUE(command("hang on"));
    Sleep(3000);
    EXPECT_TRUE(process_running(program));
    n = frame_count();
    ASSERT_TRUE(command("hang off"));
    EXPECT_TRUE(wait_frames(n + 10, 15000)) << "after the hang";

    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(E2E, FourSoftButtonsEndTheProgram)
{
    write_config("slot_0 CLK\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(5, 20000));
    ASSERT_TRUE(command("buttons 7")); // three, then the fourth
    Sleep(300);
    EXPECT_TRUE(process_running(program));
    ASSERT_TRUE(command("buttons 15"));
    EXPECT_EQ(exit_code_within(program, 5000), 0);
    command("buttons 0");
}

// ---- Without an LCD Manager ----------------------------------------------------------

TEST_F(E2E, WithoutLcdManagerTheWindowShowsAndTheTitleCycles)
{
    unregister_standin();
    write_config("testwindow 0\n");
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    HWND window = 0;
    ASSERT_TRUE(WAIT_UNTIL((window = FindWindowA(WINDOW_CLASS, NAME)) != 0, 15000));
    DWORD found = GetTickCount();
    ASSERT_TRUE(WAIT_UNTIL(IsWindowVisible(window), 10000));
    DWORD shown = GetTickCount() - found;
    EXPECT_GE(shown, 1900u) << "shown only from the 21st failed tick";

    // the nine-second cycle; while it reads "unresponsive" a second copy starts
    std::vector<std::string> seen{title_of(window)};
    HANDLE second = 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 16000 && seen.size() < 4) {
        std::string title = title_of(window);
        if (title != seen.back())
            seen.push_back(title);
        if (title == UNRESPONSIVE && !second)
            second = start_pixwick();
        Sleep(20);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{NAME, UNRESPONSIVE, UPDATE_DRIVERS, NAME}));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(exit_code_within(second, 2000), -1) << "the renamed window does not stop a second copy";
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(process_running(program));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(exit_code_within(program, 5000), 0) << "closing the window ends the program";
}

TEST_F(E2E, TestWindowMinusOneNeverShows)
{
    unregister_standin();
    write_config("testwindow -1\n");
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    HWND window = 0;
    ASSERT_TRUE(WAIT_UNTIL((window = FindWindowA(WINDOW_CLASS, 0)) != 0, 15000));
    EXPECT_FALSE(WAIT_UNTIL(IsWindowVisible(window), 5000));
    EXPECT_TRUE(process_running(program));
}

TEST_F(E2E, TestWindowOneShowsWhileFramesAreDelivered)
{
    write_config("testwindow 1\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(3, 20000));
    HWND window = FindWindowA(WINDOW_CLASS, NAME);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WAIT_UNTIL(IsWindowVisible(window), 2000));
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, 324);
    EXPECT_EQ(client.bottom, 90);
    DWORD style = (DWORD)GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & 0x80C80000u, 0x80C80000u) << "pop-up, caption, system menu";
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(E2E, UseHidSwitchesHidOnOnce)
{
    unregister_standin();
    write_config("use_hid 2\ntestwindow -1\n");
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    auto switched = [&]() { return count_occurrences(read_binary_file(log_path("system.txt")), "Enabling HID access"); };
    ASSERT_TRUE(WAIT_UNTIL(switched() >= 1, 15000));
    Sleep(3000);
    EXPECT_EQ(switched(), 1);
    EXPECT_TRUE(process_running(program));
}

TEST_F(E2E, NotWritableLogFolderIsReportedOnTheDisplay)
{
    std::string system = log_path("system.txt");
    moved_system_txt = system + ".e2e";
    DeleteFileA(moved_system_txt.c_str());
    MoveFileA(system.c_str(), moved_system_txt.c_str());
    ASSERT_TRUE(CreateDirectoryA(system.c_str(), 0)) << "a folder where system.txt should be";

    write_config("slot_0 CLK\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(40, 25000));
    std::vector<Frame> list = frames();
    int name = find_popup(list, 0, NAME);
    int warning = find_popup(list, 0, NOT_WRITABLE);
    EXPECT_GE(name, 0);
    EXPECT_GT(warning, name) << "the warning follows the name";
    EXPECT_EQ(end_with_buttons(program), 0);
}

// ---- Test window clicks ------------------------------------------------------------------

TEST_F(E2E, ClickAtClient2x50PressesSlotZero)
{
    write_config("slot_0 STW\ntestwindow 1\nanimate_start 0\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(15, 20000));
    HWND window = FindWindowA(WINDOW_CLASS, NAME);
    ASSERT_NE(window, nullptr);
    ASSERT_GT(lit_in(frames().back(), 0, 38, 22, 42), 0) << "the stopwatch panel";

    auto panel = [&]() {
        std::vector<uint8_t> p;
        const Frame f = frames().back();
        for (int y = 22; y < LCD_HEIGHT; y++)
            for (int x = 0; x <= 38; x++)
                p.push_back(f.at(x, y));
        return p;
    };
    auto click = [&](int x, int y) {
        PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        Sleep(100);
        PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    };

    // a stopped stopwatch stands still; a click beside the image does nothing
    std::vector<uint8_t> still = panel();
    click(0, 50);
    size_t n = frame_count();
    ASSERT_TRUE(wait_frames(n + 15, 5000));
    EXPECT_TRUE(panel() == still);

    click(2, 50); // display (1, 25): inside slot 0
    n = frame_count();
    ASSERT_TRUE(wait_frames(n + 15, 5000));
    std::vector<uint8_t> running = panel();
    EXPECT_FALSE(running == still);
    ASSERT_TRUE(wait_frames(frame_count() + 10, 5000));
    EXPECT_FALSE(panel() == running) << "the stopwatch runs";
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(E2E, RightClickMovesTheSlotToItsNextModule)
{
    write_config("slot_1 CLK STW\ntestwindow 1\nanimate_start 0\n");
    ASSERT_TRUE(register_standin());
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(10, 20000));
    HWND window = FindWindowA(WINDOW_CLASS, NAME);
    ASSERT_NE(window, nullptr);

    // the label bar of slot 1 tells which module it shows
    auto label = [&]() {
        std::vector<uint8_t> p;
        const Frame f = frames().back();
        for (int y = 23; y <= 27; y++)
            for (int x = 41; x <= 60; x++)
                p.push_back(f.at(x, y));
        return p;
    };
    auto right_click = [&]() {
        size_t n = frame_count();
        PostMessageA(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(2 * 50, 2 * 30));
        PostMessageA(window, WM_RBUTTONUP, 0, MAKELPARAM(2 * 50, 2 * 30));
        return wait_frames(n + 5, 5000);
    };
    std::vector<uint8_t> first = label();
    ASSERT_TRUE(right_click());
    std::vector<uint8_t> second = label();
    EXPECT_FALSE(second == first);
    ASSERT_TRUE(right_click());
    EXPECT_TRUE(label() == first) << "and back to the first";
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
