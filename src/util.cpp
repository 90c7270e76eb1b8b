#include "util.h"

#include <shlobj.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"

// ---- Log files -------------------------------------------------------------
// Every call builds the path, opens, writes and closes: no handle or buffer
// survives, so both files are complete on disk at any moment. One lock keeps
// writers on different threads from cutting into each other's lines.
//
// A program that runs for weeks must not fill the disk: a file past
// LOG_MAX_BYTES starts afresh with its last LOG_KEEP_BYTES, and the same
// failure from the same place is written once, then at most once an hour with
// the number of times it happened meanwhile.

enum {
    LOG_MAX_BYTES = 1024 * 1024,
    LOG_KEEP_BYTES = 256 * 1024,
    REPEAT_PLACES = 64,               // failures remembered for the hourly count
    REPEAT_INTERVAL_MS = 3600 * 1000,
};

static SRWLOCK log_lock = SRWLOCK_INIT;

struct RepeatedFailure {
    char source_file[48];    // empty: place unused
    int line;
    DWORD error_code;
    uint32_t message_hash;   // the same place may report different failures in its text
    uint32_t written_ms;     // app_now_ms() when it was last written
    uint32_t unwritten;      // times it happened since, not written
};
static RepeatedFailure repeats[REPEAT_PLACES];

int documents_pixwick_dir(char *path, size_t size)
{
    char documents[MAX_PATH] = "";
    if (FAILED(SHGetFolderPathA(0, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, 0, SHGFP_TYPE_CURRENT, documents)))
        return 0;
    int n = snprintf(path, size, "%s\\Pixwick\\", documents);
    if (n < 0 || (size_t)n >= size)
        return 0;
    CreateDirectoryA(path, 0); // usually there already
    return 1;
}

static int log_file_path(char *path, size_t size, const char *file_name)
{
    if (!documents_pixwick_dir(path, size))
        return 0;
    size_t used = strlen(path);
    int n = snprintf(path + used, size - used, "%s", file_name);
    return n >= 0 && (size_t)n < size - used;
}

void log_file_bound(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.nFileSizeHigh == 0 && data.nFileSizeLow <= LOG_MAX_BYTES))
        return;
    FILE *file = fopen(path, "rb");
    char *tail = (char *)malloc(LOG_KEEP_BYTES);
    size_t kept = 0;
    if (file && tail && _fseeki64(file, -(long long)LOG_KEEP_BYTES, SEEK_END) == 0)
        kept = fread(tail, 1, LOG_KEEP_BYTES, file);
    if (file)
        fclose(file);
    const char *start = tail ? (const char *)memchr(tail, '\n', kept) : 0; // from a whole line on
    if (start && (file = fopen(path, "wb"))) {
        fwrite(start + 1, 1, (size_t)(tail + kept - start - 1), file);
        fclose(file);
    }
    free(tail);
}

int log_system(const char *format, ...)
{
    char path[MAX_PATH];
    if (!log_file_path(path, sizeof path, "system.txt"))
        return 0;
    AcquireSRWLockExclusive(&log_lock);
    if (format)
        log_file_bound(path);
    FILE *file = fopen(path, format ? "at" : "wt");
    if (file) {
        if (format) {
            va_list args;
            va_start(args, format);
            vfprintf(file, format, args);
            va_end(args);
        }
        fclose(file);
    }
    ReleaseSRWLockExclusive(&log_lock);
    return file != 0;
}

// Keeps an entry on one line and plain ASCII: bytes 1..31 and 0x80..0xFF
// (negative as signed char) become blanks.
static void blank_control_bytes(char *text)
{
    for (; *text; text++)
        if ((signed char)*text < 32)
            *text = ' ';
}

static void write_system_text(FILE *file, DWORD error_code)
{
    char *text = 0;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS, // "%1 is not a valid Win32 application"
                                  0, error_code, 0, (LPSTR)&text, 0, 0);
    if (length && text) {
        blank_control_bytes(text);
        fprintf(file, "=%s", text);
    }
    if (text)
        LocalFree(text);
}

// Under log_lock. 1 when this failure is to be written now; *unwritten then
// holds how often it happened since it was last written.
static uint32_t message_hash(const char *text)
{
    uint32_t hash = 2166136261u; // FNV-1a
    for (; *text; text++)
        hash = (hash ^ (uint8_t)*text) * 16777619u;
    return hash;
}

static int failure_due(const char *source_file, int line, DWORD error_code, const char *message,
                       uint32_t *unwritten)
{
    const uint32_t hash = message_hash(message);
    const uint32_t now = app_now_ms();
    char source[sizeof repeats[0].source_file];
    snprintf(source, sizeof source, "%s", source_file);
    RepeatedFailure *oldest = &repeats[0];
    for (RepeatedFailure &r : repeats) {
        if (!r.source_file[0]) { // the places in use come first
            oldest = &r;
            break;
        }
        if (r.line == line && r.error_code == error_code && r.message_hash == hash &&
            strcmp(r.source_file, source) == 0) {
            if (now - r.written_ms < REPEAT_INTERVAL_MS) {
                r.unwritten++;
                return 0;
            }
            *unwritten = r.unwritten;
            r.unwritten = 0;
            r.written_ms = now;
            return 1;
        }
        if (now - r.written_ms > now - oldest->written_ms)
            oldest = &r;
    }
    memcpy(oldest->source_file, source, sizeof source);
    oldest->line = line;
    oldest->error_code = error_code;
    oldest->message_hash = hash;
    oldest->written_ms = now;
    oldest->unwritten = 0;
    *unwritten = 0;
    return 1;
}

static void write_error_line(FILE *file, const char *source_file, int line, DWORD error_code, uint32_t unwritten,
                             const char *message)
{
    char buffer[64];
    SYSTEMTIME now;
    GetLocalTime(&now); // one reading for date and time
    if (!GetDateFormatA(LOCALE_USER_DEFAULT, 0, &now, "yyyy-MM-dd", buffer, sizeof buffer))
        buffer[0] = 0;
    fprintf(file, "%s ", buffer);
    if (!GetTimeFormatA(LOCALE_INVARIANT, 0, &now, "HH:mm:ss", buffer, sizeof buffer))
        buffer[0] = 0;
    fprintf(file, "%s | %s(%d) | %s", buffer, source_file, line, message);
    if (error_code) {
        fprintf(file, " | %08lx", (unsigned long)error_code);
        write_system_text(file, error_code);
    }
    if (unwritten)
        fprintf(file, " | %lu more times since it was last written", (unsigned long)unwritten);
    fputs("\n", file);
}

static void write_error(const char *source_file, int line, DWORD error_code, int filtered, const char *format,
                        va_list args)
{
    char message[1024];
    vsnprintf(message, sizeof message, format, args);
    message[sizeof message - 1] = 0; // the C runtime's form leaves a full buffer unterminated
    blank_control_bytes(message);

    AcquireSRWLockExclusive(&log_lock);
    uint32_t unwritten = 0;
    char path[MAX_PATH];
    if ((!filtered || failure_due(source_file, line, error_code, message, &unwritten)) &&
        log_file_path(path, sizeof path, "errors.txt")) {
        log_file_bound(path);
        if (FILE *file = fopen(path, "at")) {
            write_error_line(file, source_file, line, error_code, unwritten, message);
            fclose(file);
        }
    }
    ReleaseSRWLockExclusive(&log_lock);
}

void log_error(const char *source_file, int line, DWORD error_code, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    write_error(source_file, line, error_code, 1, format, args);
    va_end(args);
}

void log_error_unfiltered(const char *source_file, int line, DWORD error_code, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    write_error(source_file, line, error_code, 0, format, args);
    va_end(args);
}

void log_forget_repeats(void)
{
    AcquireSRWLockExclusive(&log_lock);
    memset(repeats, 0, sizeof repeats);
    ReleaseSRWLockExclusive(&log_lock);
}

// ---- LCD Manager discovery and control ---------------------------------------
// The LCD Manager as a Windows process: where it is installed, its window,
// starting it, and ending it on Ctrl+Media Stop. Also the small window finders
// of the iTunes and TeamSpeak 2 modules.

#include "lcd.h"

#define LCD_MANAGER_KEY "SOFTWARE\\Logitech\\LCD Software\\LCD Manager\\CurrentVersion"
#define LCD_VERSION_READ_SIZE 31
#define LCD_INSTALL_PATH_READ_SIZE 255

int g_is_wow64 = -1;

typedef BOOL(WINAPI *IsWow64ProcessFn)(HANDLE process, BOOL *wow64);

int is_wow64(void)
{
    if (g_is_wow64 != -1)
        return g_is_wow64;
    g_is_wow64 = 0;
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    if (!kernel)
        return g_is_wow64;
    IsWow64ProcessFn ask = (IsWow64ProcessFn)(void *)GetProcAddress(kernel, "IsWow64Process");
    BOOL answer = FALSE;
    if (ask && ask(GetCurrentProcess(), &answer))
        g_is_wow64 = answer ? 1 : 0;
    FreeLibrary(kernel);
    return g_is_wow64;
}

// A 32-bit process on 64-bit Windows first tries the 64-bit registry view.
static LONG open_lcd_manager_key(HKEY *key)
{
    *key = 0;
    if (is_wow64() == 1 && RegOpenKeyExA(HKEY_LOCAL_MACHINE, LCD_MANAGER_KEY, 0, 0x101, key) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, LCD_MANAGER_KEY, 0, KEY_QUERY_VALUE, key);
}

// Reads a text value of at most read_size bytes into text (which has room
// for read_size + 1). The text is changed only on success.
static LONG read_registry_text(HKEY key, const char *name, char *text, DWORD read_size)
{
    char value[LCD_INSTALL_PATH_READ_SIZE + 1];
    DWORD length = read_size < sizeof value - 1 ? read_size : (DWORD)sizeof value - 1;
    LONG result = RegQueryValueExA(key, name, 0, 0, (BYTE *)value, &length);
    if (result != ERROR_SUCCESS)
        return result;
    value[length] = 0;
    memcpy(text, value, length + 1);
    return ERROR_SUCCESS;
}

void lcd_read_driver_info(Lcd *lcd)
{
    static_assert(sizeof lcd->version > LCD_VERSION_READ_SIZE, "room for the version text");
    static_assert(sizeof lcd->install_path > LCD_INSTALL_PATH_READ_SIZE, "room for the install path");
    if (!lcd->version[0])
        strcpy(lcd->version, "unknown");
    HKEY key;
    LONG opened = open_lcd_manager_key(&key);
    if (opened != ERROR_SUCCESS) {
        log_error("src/lcd", 186, (DWORD)opened, "can't open the G15 registry key");
        SetLastError(0);
        return;
    }
    LONG result = read_registry_text(key, "Version", lcd->version, LCD_VERSION_READ_SIZE);
    if (result != ERROR_SUCCESS) {
        log_error("src/lcd", 196, (DWORD)result, "can't query G15 software version");
        SetLastError(0);
    }
    result = read_registry_text(key, "InstallPath", lcd->install_path, LCD_INSTALL_PATH_READ_SIZE);
    if (result != ERROR_SUCCESS) {
        log_error("src/lcd", 204, (DWORD)result, "can't query G15 InstallPath");
        SetLastError(0);
    }
    RegCloseKey(key);
}

HWND find_lcdmon_window(void)
{
    return FindWindowA("Logitech LCD Monitor Window", "LCDMon");
}

int lcdmon_exe_path(const char *install_path, char *path, size_t size)
{
    size_t n = strlen(install_path);
    const char *separator = n > 0 && install_path[n - 1] == '\\' ? "" : "\\";
    int written = snprintf(path, size, "%s%sLCDMon.exe", install_path, separator);
    return written >= 0 && (size_t)written < size;
}

typedef HINSTANCE(WINAPI *ShellExecuteAFn)(HWND, const char *, const char *, const char *, const char *, int);

void launch_lcdmon(void)
{
    if (find_lcdmon_window())
        return;
    if (GetSystemMetrics(0x2000)) // SM_SHUTTINGDOWN
        return;
    HMODULE shell = LoadLibraryA("SHELL32.DLL");
    if (!shell)
        return;
    ShellExecuteAFn execute = (ShellExecuteAFn)(void *)GetProcAddress(shell, "ShellExecuteA");
    char path[sizeof g_lcd.install_path + 16];
    if (execute && lcdmon_exe_path(g_lcd.install_path, path, sizeof path)) {
        HINSTANCE result = execute(0, "open", path, "", g_lcd.install_path, SW_SHOWNORMAL);
        if ((INT_PTR)result <= 32) {
            // ShellExecute answers the reason; its last error is not always set
            DWORD error = GetLastError() ? GetLastError() : (DWORD)(INT_PTR)result;
            log_error("src/util", 286, error, "failed to launch '%s' (path '%s')", path, g_lcd.install_path);
            SetLastError(0);
        }
    }
    FreeLibrary(shell);
}

static int key_down_now(int virtual_key)
{
    return (GetAsyncKeyState(virtual_key) & 0x8000) != 0;
}

// Without an LCD Manager window the keys decide nothing, and asking for them
// costs a round trip to the window server on every tick: the window is looked
// for once a second and the keys asked for only while it is there.
static int lcdmon_seen;

void media_stop_watch(void)
{
    if (second_tick)
        lcdmon_seen = find_lcdmon_window() != 0;
    if (!lcdmon_seen || !key_down_now(VK_MEDIA_STOP) || !key_down_now(VK_CONTROL))
        return;
    HWND window = find_lcdmon_window();
    if (!window)
        return;
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    log_error("src/util", 118, 0, "CTRL+MEDIA_STOP detected, terminating LCDMon.exe");
    SetLastError(0);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, process_id);
    if (!process)
        return;
    TerminateProcess(process, 255);
    CloseHandle(process);
}

// Newer iTunes versions register the class "iTunesApp".
HWND find_itunes_window(void)
{
    HWND window = FindWindowA("iTunes", "iTunes");
    return window ? window : FindWindowA("iTunesApp", "iTunes");
}

HWND find_ts2_window(void)
{
    return FindWindowA("TApplication", "TeamSpeak 2");
}
