// The end-to-end fixture: the real pixwick.exe, started as a user would
// start it, against the LCD Manager stand-in. Frames come from the stand-in's
// frame log (time stamp and 6880 bytes per accepted frame) and are compared
// with what this process draws with the same fonts; soft buttons are pressed
// through the stand-in's control interface; the test window is watched from
// outside. The tests run in a Wine prefix of their own, one at a time. Every
// wait is bounded. Tests of other stand-ins build on it.
#pragma once
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
#include "golden.h"
#include "lcd.h"
#include "lcdmon_session.h"
#include "log_files.h"
#include "topline.h"

namespace e2e {

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

inline bool write_file(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

inline bool running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

// Exit code, or -1 while it still runs after timeout_ms.
inline long exit_code_within(HANDLE process, DWORD timeout_ms)
{
    DWORD code = 0;
    if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code))
        return -1;
    return (long)code;
}

inline int lit_in(const Frame &f, int x0, int x1, int y0, int y1)
{
    int n = 0;
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++)
            n += f.at(x, y) != 0;
    return n;
}

// Row of a slot panel's top edge (columns x+1..x+37 all lit), or -1.
inline int top_edge_row(const Frame &f, int slot)
{
    const int columns[4] = {0, 40, 81, 121};
    for (int y = 21; y < LCD_HEIGHT; y++)
        if (lit_in(f, columns[slot] + 1, columns[slot] + 37, y, y) == 37)
            return y;
    return -1;
}

inline std::string title_of(HWND window)
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

} // namespace e2e
