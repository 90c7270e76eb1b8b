#include "lcd_client.h"

#include <stdio.h>
#include <string.h>

#include "util.h"

LcdClient g_lcd_client;

// lgLcdInit and lgLcdDeInit change the loaded state under this lock. Normally
// only the link thread calls them, but a link thread abandoned by the
// watchdog may still be inside the server and finish with lgLcdDeInit while
// its replacement tries lgLcdInit. The lock is never held across a forwarded
// call other than the server's own init/deinit.
static CRITICAL_SECTION client_lock;
static INIT_ONCE client_lock_once = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK init_client_lock(INIT_ONCE *, void *, void **)
{
    InitializeCriticalSection(&client_lock);
    return TRUE;
}

static CRITICAL_SECTION *lock_of_client(void)
{
    InitOnceExecuteOnce(&client_lock_once, init_client_lock, 0, 0);
    return &client_lock;
}

static void unload_server_library(void)
{
    if (g_lcd_client.library)
        FreeLibrary(g_lcd_client.library);
    g_lcd_client.library = 0;
    g_lcd_client.entry = 0;
    g_lcd_client.table = 0;
}

// Reads the key's default value as a terminated path. A value that fills the
// whole buffer without a terminator is refused rather than cut.
static int read_server_path(HKEY key, char *path, DWORD size)
{
    DWORD type = 0;
    DWORD length = size;
    if (RegQueryValueExA(key, 0, 0, &type, (BYTE *)path, &length) != ERROR_SUCCESS)
        return 0;
    if (length > 0 && path[length - 1] == 0)
        return 1;
    if (length >= size)
        return 0;
    path[length] = 0;
    return 1;
}

int lcd_service_load(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, LCD_SERVER_BINARY_KEY, 0, 0x20019, &key) != ERROR_SUCCESS)
        return 0;
    if (!read_server_path(key, g_lcd_client.server_path, sizeof g_lcd_client.server_path)) {
        RegCloseKey(key);
        return 0;
    }
    g_lcd_client.library = LoadLibraryA(g_lcd_client.server_path);
    if (!g_lcd_client.library) {
        RegCloseKey(key);
        return 0;
    }
    g_lcd_client.entry = (LcdGetInterface)(void *)GetProcAddress(g_lcd_client.library, "GetInterface");
    if (!g_lcd_client.entry) {
        unload_server_library();
        RegCloseKey(key);
        return 0;
    }
    g_lcd_client.table = g_lcd_client.entry(LCD_INTERFACE_VERSION);
    if (!g_lcd_client.table) {
        unload_server_library();
        RegCloseKey(key);
        return 0;
    }
    RegCloseKey(key);
    return 1;
}

DWORD lgLcdInit(void)
{
    CRITICAL_SECTION *lock = lock_of_client();
    // Busy means another thread is loading or unloading right now: the same
    // answer as "already initialised", and the caller retries later.
    if (!TryEnterCriticalSection(lock))
        return LCD_ERR_ALREADY_INITIALIZED;
    if (g_lcd_client.initialised) {
        LeaveCriticalSection(lock);
        return LCD_ERR_ALREADY_INITIALIZED;
    }
    if (!lcd_service_load()) {
        LeaveCriticalSection(lock);
        return LCD_ERR_SERVER_UNAVAILABLE;
    }
    // A server whose own init fails (or has none) leaves the client as it
    // found it, so the next attempt calls the server's init again.
    DWORD result = g_lcd_client.table->init ? g_lcd_client.table->init() : ERROR_NOT_SUPPORTED;
    if (result == 0)
        g_lcd_client.initialised = 1;
    else
        unload_server_library();
    LeaveCriticalSection(lock);
    return result;
}

DWORD lgLcdDeInit(void)
{
    CRITICAL_SECTION *lock = lock_of_client();
    EnterCriticalSection(lock);
    if (!g_lcd_client.initialised) {
        LeaveCriticalSection(lock);
        return 0;
    }
    DWORD result = g_lcd_client.table->deinit ? g_lcd_client.table->deinit() : 0;
    unload_server_library();
    g_lcd_client.initialised = 0;
    LeaveCriticalSection(lock);
    return result;
}

// A table entry the server left null answers "not supported" rather than
// crashing the link thread.
#define FORWARD(entry, ...)                                                 \
    do {                                                                    \
        if (!g_lcd_client.initialised || !g_lcd_client.table)               \
            return LCD_ERR_SERVICE_NOT_ACTIVE;                              \
        if (!g_lcd_client.table->entry)                                     \
            return ERROR_NOT_SUPPORTED;                                     \
        return g_lcd_client.table->entry(__VA_ARGS__);                      \
    } while (0)

DWORD lgLcdConnect(LcdConnectContext *ctx) { FORWARD(connect, ctx); }
DWORD lgLcdDisconnect(int connection) { FORWARD(disconnect, connection); }
DWORD lgLcdEnumerate(int connection, int index, LcdDeviceDescription *description)
{
    FORWARD(enumerate, connection, index, description);
}
DWORD lgLcdOpen(LcdOpenContext *ctx) { FORWARD(open, ctx); }
DWORD lgLcdClose(int device) { FORWARD(close, device); }
DWORD lgLcdUpdateBitmap(int device, const LcdBitmapHeader *bitmap, DWORD priority)
{
    FORWARD(update_bitmap, device, bitmap, priority);
}
DWORD lgLcdSetAsLCDForegroundApp(int device, int foreground)
{
    FORWARD(set_as_lcd_foreground_app, device, foreground);
}

// ---- Result codes ------------------------------------------------------------

struct LcdErrorText {
    DWORD code;
    const char *message;
};

static const LcdErrorText lcd_error_texts[] = {
    {2, "LCDMon is not running on the system."},
    {87, "Invalid parameter."},
    {183, "Already exists: Can't connect or open twice."},
    {259, "There are no more devices to be enumerated."},
    {1062, "lgLcdInit() has not been called yet."},
    {1150, "Attempted to initialize for Windows 9x."},
    {1247, "lgLcdInit() has been called before."},
    {1450, "Not enough system resources."},
    {1722, "Logitech LCD subsystem is not available."},
    {1832, "LCDMon does not understand the protocol."},
};

const char *lcd_error_message(DWORD code)
{
    for (size_t i = 0; i < sizeof lcd_error_texts / sizeof lcd_error_texts[0]; i++)
        if (lcd_error_texts[i].code == code)
            return lcd_error_texts[i].message;
    return 0;
}

// The system's text ends in a line break, which would split the log line.
static void trim_line_end(char *text)
{
    size_t n = strlen(text);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' '))
        text[--n] = 0;
}

int lcd_check(DWORD code, const char *source_file, int line)
{
    if (code == 0)
        return 1;
    const char *message = lcd_error_message(code);
    if (message) {
        printf("%s(%d): '%s'\n", source_file, line, message);
        log_error(source_file, line, 0, "LCD error '%s' (%x)", message, (unsigned)code);
        return 0;
    }
    char *text = 0;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   0, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, 0);
    if (text)
        trim_line_end(text);
    log_error(source_file, line, 0, "LCD error '%s' (%x)", text ? text : "", (unsigned)code);
    if (text)
        LocalFree(text);
    return 0;
}
