// End to end: the real pixwick.exe, started as a user would start it, against
// the LCD Manager stand-in. Frames come from the stand-in's frame log (time
// stamp and 6880 bytes per accepted frame) and are compared with what this
// process draws with the same fonts; soft buttons are pressed through the
// stand-in's control interface; the test window is watched from outside.
// They run in a Wine prefix of their own. Every wait is bounded.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "lcdmon_session.h"
#include "log_files.h"
#include "topline.h"

namespace {

const char WINDOW_CLASS[] = "PixwickWnd";
const char NAME[] = "Pixwick 2.8.5";
const char UNRESPONSIVE[] = "Your G15 is unresponsive!";
const char UPDATE_DRIVERS[] = "Try updating Logitech drivers.";
const int BAND_TOP = 8, BAND_BOTTOM = 20;

typedef std::vector<uint8_t> Picture;

struct Frame {
    int64_t us;
    Picture px;
    uint8_t at(int x, int y) const { return px[(size_t)(y * LCD_WIDTH + x)]; }
};

bool write_file(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

bool running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

// Exit code, or -1 while it still runs after timeout_ms.
long exit_code_within(HANDLE process, DWORD timeout_ms)
{
    DWORD code = 0;
    if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code))
        return -1;
    return (long)code;
}

int lit_in(const Frame &f, int x0, int x1, int y0, int y1)
{
    int n = 0;
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++)
            n += f.at(x, y) != 0;
    return n;
}

// Row of a slot panel's top edge (columns x+1..x+37 all lit), or -1.
int top_edge_row(const Frame &f, int slot)
{
    const int columns[4] = {0, 40, 81, 121};
    for (int y = 21; y < LCD_HEIGHT; y++)
        if (lit_in(f, columns[slot] + 1, columns[slot] + 37, y, y) == 37)
            return y;
    return -1;
}

std::string title_of(HWND window)
{
    char text[128] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

class E2E : public ::testing::Test {
protected:
    StandInSession lcdmon; // lock, private instance; stand-ins end with this process
    std::string work;      // working folder of pixwick.exe, holds its pixwick.txt
    std::string frame_log;
    std::vector<PROCESS_INFORMATION> programs;
    std::string moved_system_txt;

    void SetUp() override
    {
        ASSERT_TRUE(lcdmon.ready) << "test lock";
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, 0); // pixwick.exe reads the prefix's registry
        ASSERT_EQ(FindWindowA(WINDOW_CLASS, 0), nullptr) << "another Pixwick runs in this prefix";
        char temp[MAX_PATH], name[64];
        GetTempPathA(sizeof temp, temp);
        static int serial;
        snprintf(name, sizeof name, "pixwick_e2e_%lu_%d", (unsigned long)GetCurrentProcessId(), ++serial);
        work = std::string(temp) + name;
        CreateDirectoryA(work.c_str(), 0);
        frame_log = work + "\\frames.bin";
        config_clear(&g_config); // the program's fonts, for the expected pictures
        ASSERT_EQ(lcd_create_surface(&g_lcd), 1);
        lcd_set_small_font(&g_lcd, g_general.small_font_name, g_general.small_font_size);
        lcd_set_large_font(&g_lcd, g_general.large_font_name, g_general.large_font_size);
    }

    void TearDown() override
    {
        for (PROCESS_INFORMATION &p : programs) {
            TerminateProcess(p.hProcess, 1); // fails harmlessly once it has ended
            WaitForSingleObject(p.hProcess, 5000);
            CloseHandle(p.hProcess);
            CloseHandle(p.hThread);
        }
        if (lcdmon.process.hProcess)
            standin_command("buttons 0");
        lcdmon.stop();
        lcdmon_unregister();
        if (!moved_system_txt.empty()) {
            std::string system = log_path("system.txt");
            RemoveDirectoryA(system.c_str());
            MoveFileA(moved_system_txt.c_str(), system.c_str());
        }
        for (const char *file : {"\\frames.bin", "\\pixwick.txt", "\\hid.log"})
            DeleteFileA((work + file).c_str());
        RemoveDirectoryA(work.c_str());
        lcd_destroy_surface(&g_lcd);
    }

    bool start_lcdmon()
    {
        return lcdmon.register_standin() && lcdmon.start(("--frame-log \"" + frame_log + "\"").c_str());
    }

    // Retried for a moment: the program may have the file open for reading.
    void write_config(const std::string &text)
    {
        ASSERT_TRUE(WAIT_UNTIL(write_file(work + "\\pixwick.txt", text), 2000));
    }

    HANDLE start_pixwick()
    {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(0, path, sizeof path);
        std::string exe = path;
        exe = exe.substr(0, exe.rfind('\\') + 1) + "pixwick.exe";
        std::string line = "\"" + exe + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        if (!CreateProcessA(exe.c_str(), &line[0], 0, 0, FALSE, 0, 0, work.c_str(), &startup, &p))
            return 0;
        programs.push_back(p);
        return p.hProcess;
    }

    // Three soft buttons do nothing; the fourth ends the program. Exit code or -1.
    long end_with_buttons(HANDLE process)
    {
        EXPECT_TRUE(standin_command("buttons 7"));
        Sleep(300);
        EXPECT_TRUE(running(process)) << "three buttons";
        EXPECT_TRUE(standin_command("buttons 15"));
        long code = exit_code_within(process, 5000);
        standin_command("buttons 0");
        return code;
    }

    size_t frame_count()
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(frame_log.c_str(), GetFileExInfoStandard, &data))
            return 0;
        return (size_t)data.nFileSizeLow / LCDMON_LOG_RECORD_BYTES;
    }

    bool wait_frames(size_t n, DWORD timeout_ms) { return WAIT_UNTIL(frame_count() >= n, timeout_ms); }
    bool wait_more_frames(size_t n, DWORD timeout_ms) { return wait_frames(frame_count() + n, timeout_ms); }

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

    // Index of the first frame from `from` on whose band shows the pop-up's
    // first picture (its text at the band's left edge), or -1.
    int find_popup(const std::vector<Frame> &list, size_t from, const char *text)
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        lcd_text_utf8(&g_lcd, TXT_LARGE, 0, BAND_TOP, text);
        size_t begin = (size_t)BAND_TOP * LCD_WIDTH, end = (size_t)(BAND_BOTTOM + 1) * LCD_WIDTH;
        for (size_t k = from; k < list.size(); k++)
            if (memcmp(list[k].px.data() + begin, g_lcd.frame + begin, end - begin) == 0)
                return (int)k;
        return -1;
    }

    // Whether the frame's top left shows today's date in this picture.
    bool shows_date(const Frame &f, const char *picture)
    {
        TopLine line{};
        snprintf(line.date_format, sizeof line.date_format, "%s", picture);
        SYSTEMTIME now;
        GetLocalTime(&now);
        wchar_t text[TOPLINE_TEXT_UNITS];
        topline_format_date(&line, &now, text);
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        int width = lcd_text_wide(&g_lcd, 0, 0, 0, text);
        EXPECT_GT(width, 10);
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < width && x < LCD_WIDTH; x++)
                if (f.at(x, y) != g_lcd.frame[y * LCD_WIDTH + x])
                    return false;
        return true;
    }
};

TEST_F(E2E, FramesAtTenPerSecondWithTopLineSlideInLogAndOneCopy)
{
    write_config("slot_0 STW CLK CPU\nslot_1 STW CLK CPU\nslot_2 STW CLK CPU\nslot_3 STW CLK CPU\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(70, 25000)) << "frames: " << frame_count();
    std::vector<Frame> list = frames();

    // the first frames may be the empty ones of the connection check
    double per_second = (double)(list.size() - 11) * 1e6 / (double)(list.back().us - list[10].us);
    EXPECT_GT(per_second, 8.0);
    EXPECT_LT(per_second, 11.0);
    EXPECT_GE(find_popup(list, 0, NAME), 0) << "start-up pop-up";
    EXPECT_TRUE(shows_date(list.back(), "ddd yyyy-MM-dd"));
    EXPECT_GT(lit_in(list.back(), 150, 159, 0, 7), 0) << "the time ends on column 159";
    bool time_moved = false;
    for (size_t k = list.size() - 21; k < list.size(); k++)
        for (int y = 0; y < 8; y++)
            time_moved |= memcmp(&list[k].px[y * LCD_WIDTH + 120], &list.back().px[y * LCD_WIDTH + 120], 40) != 0;
    EXPECT_TRUE(time_moved);

    // Slide-in: from its lowest row each panel rises, at most 2 rows a step,
    // to row 22, six ticks after the one to its left.
    int arrival[4];
    for (int slot = 0; slot < 4; slot++) {
        SCOPED_TRACE(testing::Message() << "slot " << slot);
        std::vector<int> rows;
        for (const Frame &f : list)
            rows.push_back(top_edge_row(f, slot));
        size_t low = (size_t)(std::max_element(rows.begin(), rows.end()) - rows.begin());
        EXPECT_GE(rows[low], 38);
        arrival[slot] = -1;
        for (size_t k = low + 1; k < rows.size(); k++) {
            EXPECT_LE(rows[k], rows[k - 1]);
            EXPECT_LE(rows[k - 1] - rows[k], 2);
            EXPECT_GE(rows[k], 22);
            if (rows[k] == 22 && arrival[slot] < 0)
                arrival[slot] = (int)k;
        }
        ASSERT_GE(arrival[slot], 0);
        if (slot > 0) {
            EXPECT_GE(arrival[slot] - arrival[slot - 1], 4);
            EXPECT_LE(arrival[slot] - arrival[slot - 1], 8);
        }
    }

    std::string system = read_binary_file(log_path("system.txt"));
    EXPECT_EQ(system.rfind("Starting Pixwick 2.8.5", 0), 0u) << system.substr(0, 200);
    char dir[MAX_PATH];
    ASSERT_TRUE(standin_dir(dir, sizeof dir));
    EXPECT_NE(system.find("Logitech drivers version '" LCDMON_VERSION_TEXT "'"), std::string::npos);
    EXPECT_NE(system.find(std::string("Logitech installation path is '") + dir + "'"), std::string::npos);

    HANDLE second = start_pixwick();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(exit_code_within(second, 10000), 0) << "a second copy exits at once";
    EXPECT_TRUE(wait_more_frames(5, 5000)) << "the first copy goes on";
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(E2E, ConfigurationEditsAndLcdManagerFailures)
{
    write_config("slot_0 CLK\nconfig_refresh 10\n");
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
    EXPECT_TRUE(shows_date(list[(size_t)updated], "'E2E' yyyy"));
    std::string system = read_binary_file(log_path("system.txt"));
    EXPECT_NE(system.find(" 'slot_0' = 'STW'"), std::string::npos);
    EXPECT_NE(system.find(" 'slot_3' = 'CPU+'"), std::string::npos);

    // rewritten every few tens of milliseconds (a write may find the file
    // open in the program, as an editor's save would), then deleted
    size_t n = frame_count();
    int written = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 3000; Sleep(30))
        written += write_file(work + "\\pixwick.txt",
                              written % 2 ? "slot_0 CLK\nconfig_refresh 1\n" : "slot_0 STW\nconfig_refresh 1\n");
    EXPECT_GT(written, 20);
    EXPECT_GE(frame_count(), n + 20) << "while the settings file is rewritten";
    ASSERT_TRUE(DeleteFileA((work + "\\pixwick.txt").c_str()));
    EXPECT_TRUE(wait_more_frames(15, 5000)) << "while the settings file is missing";

    lcdmon.kill();
    Sleep(1500);
    EXPECT_TRUE(running(program));
    n = frame_count();
    ASSERT_TRUE(start_lcdmon());
    EXPECT_TRUE(wait_frames(n + 10, 15000)) << "after the LCD Manager came back";

    ASSERT_TRUE(standin_command("hang on")); // hung in a frame update
    Sleep(3000);
    EXPECT_TRUE(running(program));
    ASSERT_TRUE(standin_command("hang off"));
    EXPECT_TRUE(wait_more_frames(10, 15000)) << "after the hang";
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(E2E, WithoutLcdManagerTheWindowShowsAndTheTitleCycles)
{
    lcdmon_unregister();
    write_config("testwindow 0\n");
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    HWND window = 0;
    ASSERT_TRUE(WAIT_UNTIL((window = FindWindowA(WINDOW_CLASS, NAME)) != 0, 15000));
    DWORD found = GetTickCount();
    ASSERT_TRUE(WAIT_UNTIL(IsWindowVisible(window), 10000));
    EXPECT_GE(GetTickCount() - found, 1900u) << "shown only from the 21st failed tick";

    // the nine-second cycle; while it reads "unresponsive" a second copy starts
    std::vector<std::string> seen{title_of(window)};
    HANDLE second = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 16000 && seen.size() < 4; Sleep(20)) {
        std::string title = title_of(window);
        if (title != seen.back())
            seen.push_back(title);
        if (title == UNRESPONSIVE && !second)
            second = start_pixwick();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{NAME, UNRESPONSIVE, UPDATE_DRIVERS, NAME}));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(exit_code_within(second, 2000), -1) << "the renamed window does not stop a second copy";
    EXPECT_TRUE(IsWindowVisible(window));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(exit_code_within(program, 5000), 0) << "closing the window ends the program";
}

TEST_F(E2E, WithoutLcdManagerHidIsSwitchedOnOnceAndTestWindowMinusOneStaysHidden)
{
    lcdmon_unregister();
    write_config("use_hid 2\ntestwindow -1\n");
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    HWND window = 0;
    ASSERT_TRUE(WAIT_UNTIL((window = FindWindowA(WINDOW_CLASS, 0)) != 0, 15000));
    auto switched = [&]() { return count_occurrences(read_binary_file(log_path("system.txt")), "Enabling HID access"); };
    ASSERT_TRUE(WAIT_UNTIL(switched() >= 1, 15000));
    EXPECT_FALSE(WAIT_UNTIL(IsWindowVisible(window), 3000));
    EXPECT_EQ(switched(), 1);
    EXPECT_TRUE(running(program));
}

TEST_F(E2E, NotWritableLogFolderTestWindowOneAndClicks)
{
    std::string system = log_path("system.txt");
    moved_system_txt = system + ".e2e";
    DeleteFileA(moved_system_txt.c_str());
    MoveFileA(system.c_str(), moved_system_txt.c_str());
    ASSERT_TRUE(CreateDirectoryA(system.c_str(), 0)) << "a folder where system.txt should be";
    write_config("slot_0 STW\nslot_1 CLK STW\ntestwindow 1\nanimate_start 0\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(40, 25000));
    std::vector<Frame> list = frames();
    int name = find_popup(list, 0, NAME);
    EXPECT_GE(name, 0) << "start-up pop-up";
    EXPECT_GT(find_popup(list, 0, "Warning! Documents\\Pixwick directory isn't writable, system.txt and errors.txt "
                                  "cannot be created."),
              name);
    HWND window = FindWindowA(WINDOW_CLASS, NAME);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WAIT_UNTIL(IsWindowVisible(window), 2000));
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, 324);
    EXPECT_EQ(client.bottom, 90);
    EXPECT_EQ((DWORD)GetWindowLongA(window, GWL_STYLE) & 0x80C80000u, 0x80C80000u) << "pop-up, caption, system menu";

    auto area = [&](int x0, int x1, int y0, int y1) {
        Picture p;
        const Frame f = frames().back();
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                p.push_back(f.at(x, y));
        return p;
    };
    auto stopwatch = [&]() { return area(0, 38, 22, LCD_HEIGHT - 1); };
    auto click = [&](UINT down, UINT up, int x, int y) {
        PostMessageA(window, down, 0, MAKELPARAM(x, y));
        Sleep(100);
        PostMessageA(window, up, 0, MAKELPARAM(x, y));
        return wait_more_frames(15, 5000);
    };

    // a stopped stopwatch stands still; a click beside the image does nothing
    Picture still = stopwatch();
    ASSERT_GT(std::count(still.begin(), still.end(), 255), 0) << "the stopwatch panel";
    ASSERT_TRUE(click(WM_LBUTTONDOWN, WM_LBUTTONUP, 0, 50));
    EXPECT_TRUE(stopwatch() == still);
    ASSERT_TRUE(click(WM_LBUTTONDOWN, WM_LBUTTONUP, 2, 50)); // display (1, 25): slot 0
    Picture started = stopwatch();
    EXPECT_FALSE(started == still);
    ASSERT_TRUE(wait_more_frames(10, 5000));
    EXPECT_FALSE(stopwatch() == started) << "the stopwatch runs";

    // a right click moves slot 1 to its next module, and back
    Picture label = area(41, 60, 23, 27);
    ASSERT_TRUE(click(WM_RBUTTONDOWN, WM_RBUTTONUP, 100, 60));
    EXPECT_FALSE(area(41, 60, 23, 27) == label);
    ASSERT_TRUE(click(WM_RBUTTONDOWN, WM_RBUTTONUP, 100, 60));
    EXPECT_TRUE(area(41, 60, 23, 27) == label);
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
