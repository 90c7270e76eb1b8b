// Client of the Logitech LCD Manager: finds its server library through the
// registry, loads it, asks "GetInterface"(5) for the operation table and
// forwards every lgLcd call to that table. Used by the link thread only; the
// layer is not reentrant.
//
// The records are the C structs of the LCD Manager's interface in their
// natural layout on each architecture (pointers are 8 bytes on 64-bit).
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "frame.h"

#define LCD_SERVER_BINARY_KEY \
    "SOFTWARE\\Classes\\CLSID\\{FE750200-B72E-11d9-829B-0050DA1A72D3}\\ServerBinary"
#define LCD_SERVER_PATH_SIZE 260
#define LCD_INTERFACE_VERSION 5

#define LCD_BITMAP_BYTES LCD_FRAME_BYTES
#define LCD_BITMAP_FORMAT_MONO 1 // 160 x 43, one byte per pixel, 0 dark, 255 lit
#define LCD_PRIORITY_NORMAL 128

// Result codes the program acts on (Windows error codes; 0 is success).
#define LCD_ERR_NOT_RUNNING 2            // ERROR_FILE_NOT_FOUND
#define LCD_ERR_INVALID_PARAMETER 87
#define LCD_ERR_ALREADY_EXISTS 183
#define LCD_ERR_PIPE_NOT_CONNECTED 233
#define LCD_ERR_NO_MORE_ITEMS 259
#define LCD_ERR_SERVICE_NOT_ACTIVE 1062  // lgLcdInit not called
#define LCD_ERR_DEVICE_NOT_CONNECTED 1167
#define LCD_ERR_ALREADY_INITIALIZED 1247
#define LCD_ERR_NO_SYSTEM_RESOURCES 1450
#define LCD_ERR_SERVER_UNAVAILABLE 1722  // no usable server library
#define LCD_ERR_PROTOCOL 1832

// Soft-button callback: (device, bit set of pressed buttons with bit 0 the
// leftmost, context) -> 0. Called on a thread of the server library.
typedef DWORD(WINAPI *LcdSoftButtonCallback)(int device, DWORD buttons, void *context);
typedef DWORD(WINAPI *LcdConfigureCallback)(int connection, void *context);

struct LcdConfigureContext {
    LcdConfigureCallback configure;
    void *context;
};

struct LcdConnectContext {
    const char *app_name;  // 8-bit text
    BOOL is_persistent;
    BOOL is_autostartable;
    LcdConfigureContext on_configure;
    int connection;        // -1 before lgLcdConnect, written by the server
};

struct LcdDeviceDescription {
    DWORD width;
    DWORD height;
    DWORD bpp;
    DWORD soft_buttons;
};

struct LcdSoftButtonsContext {
    LcdSoftButtonCallback callback;
    void *context;
};

struct LcdOpenContext {
    int connection;
    int index;             // enumeration index of the display
    LcdSoftButtonsContext on_soft_buttons;
    int device;            // -1 before lgLcdOpen, written by the server
};

struct LcdBitmapHeader {
    DWORD format;          // LCD_BITMAP_FORMAT_MONO
};

struct LcdBitmap {
    LcdBitmapHeader header; // lgLcdUpdateBitmap receives a pointer to this
    uint8_t pixels[LCD_BITMAP_BYTES];
};

// The server's operation table; all entries use the standard calling
// convention. Slots the program does not use are kept as opaque pointers
// and may be null.
struct LcdService {
    DWORD(WINAPI *init)(void);                                        // 0
    DWORD(WINAPI *deinit)(void);                                      // 1
    void *unused_2;                                                   // 2 (UTF-16 connect)
    DWORD(WINAPI *connect)(LcdConnectContext *ctx);                   // 3 (8-bit connect)
    void *unused_4;
    void *unused_5;
    DWORD(WINAPI *disconnect)(int connection);                        // 6
    DWORD(WINAPI *enumerate)(int connection, int index,
                             LcdDeviceDescription *description);      // 7
    void *unused_8;
    void *unused_9;
    DWORD(WINAPI *open)(LcdOpenContext *ctx);                         // 10
    DWORD(WINAPI *close)(int device);                                 // 11
    void *unused_12;
    DWORD(WINAPI *update_bitmap)(int device, const LcdBitmapHeader *bitmap,
                                 DWORD priority);                     // 13
    void *unused_14;
    void *unused_15;
    void *unused_16;
    void *unused_17;
    void *unused_18;
    void *unused_19;
    void *unused_20;
    void *unused_21;
    void *unused_22;
    void *unused_23;
    DWORD(WINAPI *set_as_lcd_foreground_app)(int device, int foreground); // 24
};
#define LCD_SERVICE_SLOTS 25

typedef const LcdService *(WINAPI *LcdGetInterface)(int version);

// Process-wide client state.
struct LcdClient {
    int initialised;        // 1 between a successful load in lgLcdInit and lgLcdDeInit
    HMODULE library;
    LcdGetInterface entry;  // the library's "GetInterface"
    const LcdService *table;
    char server_path[LCD_SERVER_PATH_SIZE];
};

extern LcdClient g_lcd_client;

// Reads ServerBinary, loads the library and fetches its table. 1 loaded, 0 not.
int lcd_service_load(void);

DWORD lgLcdInit(void);   // 1247 when already initialised, 1722 when no server library
DWORD lgLcdDeInit(void); // 0 when not initialised
// The others answer 1062 before lgLcdInit / after lgLcdDeInit.
DWORD lgLcdConnect(LcdConnectContext *ctx);
DWORD lgLcdDisconnect(int connection);
DWORD lgLcdEnumerate(int connection, int index, LcdDeviceDescription *description);
DWORD lgLcdOpen(LcdOpenContext *ctx);
DWORD lgLcdClose(int device);
DWORD lgLcdUpdateBitmap(int device, const LcdBitmapHeader *bitmap, DWORD priority);
DWORD lgLcdSetAsLCDForegroundApp(int device, int foreground);

// 1 when code is 0; otherwise logs "LCD error '<message>' (<hex code>)" and returns 0.
int lcd_check(DWORD code, const char *source_file, int line);
// The fixed message for a code, or null when the system text applies.
const char *lcd_error_message(DWORD code);

// Layouts fixed by the server's interface.
#ifdef _WIN64
static_assert(sizeof(LcdConnectContext) == 40, "connect context, 64-bit");
static_assert(offsetof(LcdConnectContext, is_persistent) == 8, "");
static_assert(offsetof(LcdConnectContext, is_autostartable) == 12, "");
static_assert(offsetof(LcdConnectContext, on_configure) == 16, "");
static_assert(offsetof(LcdConnectContext, connection) == 32, "");
static_assert(sizeof(LcdOpenContext) == 32, "open context, 64-bit");
static_assert(offsetof(LcdOpenContext, index) == 4, "");
static_assert(offsetof(LcdOpenContext, on_soft_buttons) == 8, "");
static_assert(offsetof(LcdOpenContext, on_soft_buttons.context) == 16, "");
static_assert(offsetof(LcdOpenContext, device) == 24, "");
static_assert(sizeof(LcdService) == LCD_SERVICE_SLOTS * 8, "");
#else
static_assert(sizeof(LcdConnectContext) == 24, "connect context, 32-bit");
static_assert(offsetof(LcdConnectContext, is_persistent) == 4, "");
static_assert(offsetof(LcdConnectContext, is_autostartable) == 8, "");
static_assert(offsetof(LcdConnectContext, on_configure) == 12, "");
static_assert(offsetof(LcdConnectContext, connection) == 20, "");
static_assert(sizeof(LcdOpenContext) == 20, "open context, 32-bit");
static_assert(offsetof(LcdOpenContext, index) == 4, "");
static_assert(offsetof(LcdOpenContext, on_soft_buttons) == 8, "");
static_assert(offsetof(LcdOpenContext, on_soft_buttons.context) == 12, "");
static_assert(offsetof(LcdOpenContext, device) == 16, "");
static_assert(sizeof(LcdService) == LCD_SERVICE_SLOTS * 4, "");
#endif
static_assert(sizeof(LcdDeviceDescription) == 16, "device description");
static_assert(offsetof(LcdService, connect) == 3 * sizeof(void *), "slot 3");
static_assert(offsetof(LcdService, disconnect) == 6 * sizeof(void *), "slot 6");
static_assert(offsetof(LcdService, enumerate) == 7 * sizeof(void *), "slot 7");
static_assert(offsetof(LcdService, open) == 10 * sizeof(void *), "slot 10");
static_assert(offsetof(LcdService, close) == 11 * sizeof(void *), "slot 11");
static_assert(offsetof(LcdService, update_bitmap) == 13 * sizeof(void *), "slot 13");
static_assert(offsetof(LcdService, set_as_lcd_foreground_app) == 24 * sizeof(void *), "slot 24");
static_assert(sizeof(LcdBitmap) == 4 + LCD_BITMAP_BYTES, "bitmap: format then pixels");
static_assert(offsetof(LcdBitmap, pixels) == 4, "");
