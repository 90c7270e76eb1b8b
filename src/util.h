// Logs (system.txt, errors.txt in Documents\Pixwick\) and LCD Manager process control.
#pragma once
#include <windows.h>

#include <stddef.h>

// Appends printf-formatted text to system.txt as is (no line end of its own).
// A null format empties the file. 1 when the file could be opened, else 0.
int log_system(const char *format, ...);

// Appends one line to errors.txt: "date time | source_file(line) | message",
// then " | %08x=system text" when error_code is not 0. Control and non-ASCII
// bytes of the message and the system text become blanks. The same failure
// (source file, line, code and message) is written once, then at most once an
// hour, with " | N more times since it was last written".
void log_error(const char *source_file, int line, DWORD error_code, const char *format, ...);
// The same, written every time: for lines that only the user's own actions
// bring (mistakes in an edited settings file), never in a loop.
void log_error_unfiltered(const char *source_file, int line, DWORD error_code, const char *format, ...);
// Forgets which failures were written (tests).
void log_forget_repeats(void);

// A log file past 1 MB starts afresh with its last 256 KB, from a line start.
void log_file_bound(const char *path);

// The user's Documents folder followed by "\Pixwick\", created when missing.
// 0 when the Documents folder is unknown or the path does not fit.
int documents_pixwick_dir(char *path, size_t size);

// ---- LCD Manager discovery and control ---------------------------------------
// Also the window finders other modules use. Defined at the end of util.cpp.

struct Lcd;

// 1 when this is a 32-bit process on 64-bit Windows; asked once, then cached.
int is_wow64(void);
// The cached answer: -1 not asked yet, else 0/1. Tests reset it.
extern int g_is_wow64;
// Fills lcd->version and lcd->install_path from the LCD Manager's registry key;
// each keeps its value when its registry value cannot be read.
void lcd_read_driver_info(Lcd *lcd);
HWND find_lcdmon_window(void);
// Starts g_lcd.install_path\LCDMon.exe unless its window exists already.
void launch_lcdmon(void);
// Builds "<install_path>\LCDMon.exe" (one backslash between). 0 when it does not fit.
int lcdmon_exe_path(const char *install_path, char *path, size_t size);
// Ctrl+Media Stop held: ends the LCD Manager's process (every tick while held).
void media_stop_watch(void);
HWND find_itunes_window(void);
HWND find_ts2_window(void);
