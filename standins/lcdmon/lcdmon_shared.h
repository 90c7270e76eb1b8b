// The LCD Manager stand-in: what its server library (LCDMonServer.dll, loaded
// into the client program) and its process (LCDMon.exe) share, and small
// helpers that tests and the control command use to drive it.
//
// The two sides meet in one named file mapping holding LcdMonBlock, guarded by
// a named mutex. Every field has a fixed width, so a 32-bit library talks to
// a 64-bit process and back. Object names carry an instance name taken from
// the environment variable LCDMON_STANDIN_INSTANCE (empty when unset), so
// several test programs can each run their own stand-in at the same time.
//
//   Local\LCDMonStandIn<instance>          the mapping (LcdMonBlock)
//   Local\LCDMonStandIn<instance>.Lock     mutex guarding the block
//   Local\LCDMonStandIn<instance>.Frame    auto-reset: a frame was stored
//   Local\LCDMonStandIn<instance>.Command  auto-reset: a command is waiting
//   Local\LCDMonStandIn<instance>.Slot<n>  auto-reset: buttons for open device n
//   Local\LCDMonStandIn<instance>.Alive    mutex owned by LCDMon.exe while it runs
//
// The process creates the mapping, fills in its pid and the settings, and
// answers commands. The library asks the Alive mutex whether the process runs
// (a pid alone could have been reused) and, once connected, watches the
// process handle: when the process is gone, lgLcdConnect answers 2 and
// lgLcdUpdateBitmap 1167.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define LCDMON_MAGIC 0x4d44434cu // "LCDM"
#define LCDMON_LAYOUT_VERSION 1
#define LCDMON_MAX_DISPLAYS 4
#define LCDMON_MAX_SLOTS 16
#define LCDMON_RING 256
#define LCDMON_FRAME_BYTES 6880
#define LCDMON_TEXT 512
#define LCDMON_INSTANCE_VARIABLE "LCDMON_STANDIN_INSTANCE"
#define LCDMON_PARENT_VARIABLE "LCDMON_STANDIN_PARENT" // pid: LCDMon.exe ends with that process
#define LCDMON_SERVER_DLL "LCDMonServer.dll"
#define LCDMON_VERSION_TEXT "3.06.stand-in"

// Frame log: one record per frame the library accepted, appended under the
// block's mutex: 8 bytes time stamp (QueryPerformanceCounter in microseconds,
// little-endian, comparable between processes) then the 6880 pixel bytes.
#define LCDMON_LOG_RECORD_BYTES (8 + LCDMON_FRAME_BYTES)

struct LcdMonDisplay {
    uint32_t width;
    uint32_t height;
    uint32_t bpp;
    uint32_t soft_buttons;
};

struct LcdMonButtonChange {
    uint32_t buttons; // bit 0 the leftmost
    uint32_t ctrl;    // 1: Ctrl was held (the library holds Ctrl around the callback if it is not down)
};

// One open device of some client. Written by the library (open/close) and the
// process (button changes, dropped), always under the mutex.
struct LcdMonSlot {
    uint32_t in_use;
    uint32_t owner_pid;
    uint32_t display;
    uint32_t generation;      // changes on every reuse of the slot
    uint32_t dropped;         // process: the device was pulled; updates answer 1167
    uint32_t button_write;    // process: changes written to ring
    uint32_t button_read;     // library: changes taken from ring
    uint32_t callbacks;       // library: soft-button callbacks made
    uint32_t frames;          // library: frames accepted from this device
    uint32_t overruns;        // process: changes overwritten before the library took them
    char app_name[64];
    LcdMonButtonChange ring[LCDMON_RING];
};

struct LcdMonBlock {
    uint32_t magic;
    uint32_t layout_version;
    uint32_t server_pid;      // LCDMon.exe, 0 when it has ended cleanly
    uint32_t generation;      // counts process starts on this mapping

    // settings, changed by commands
    uint32_t display_count;
    LcdMonDisplay displays[LCDMON_MAX_DISPLAYS];
    uint32_t refuse_code;     // nonzero: lgLcdConnect answers this code
    uint32_t update_delay_ms; // lgLcdUpdateBitmap sleeps this long before taking the frame
    uint32_t update_hang;     // 1: lgLcdUpdateBitmap waits until cleared (or the process ends)
    uint32_t update_result;   // nonzero: lgLcdUpdateBitmap answers this code instead of taking frames
    char frame_log[MAX_PATH]; // empty: no frame log

    // state, written by the library
    uint32_t connections;     // connections open now, all clients
    uint32_t connects;        // successful lgLcdConnect calls since start
    uint32_t in_update;       // calls inside lgLcdUpdateBitmap now (hang or delay reached)
    uint32_t frames_total;
    uint32_t refusals;        // lgLcdConnect calls answered with refuse_code
    uint32_t light;           // setting: updates only copy the frame (see --light)
    uint32_t foreground[LCDMON_MAX_DISPLAYS]; // slot + 1 that gets the buttons, 0 none
    uint32_t frame_count[LCDMON_MAX_DISPLAYS];
    int64_t frame_time_us[LCDMON_MAX_DISPLAYS];
    uint8_t frame[LCDMON_MAX_DISPLAYS][LCDMON_FRAME_BYTES];

    // command mailbox: a client writes command and bumps command_seq; the
    // process answers in reply/command_result and sets done_seq to it
    uint32_t command_seq;
    uint32_t done_seq;
    int32_t command_result;   // 1 done, 0 failed
    uint32_t reserved;
    char command[LCDMON_TEXT];
    char reply[LCDMON_TEXT];

    LcdMonSlot slots[LCDMON_MAX_SLOTS];
};

static_assert(sizeof(LcdMonSlot) == 40 + 64 + 8 * LCDMON_RING, "fixed layout");
static_assert(offsetof(LcdMonBlock, frame_log) == 100, "fixed layout");
static_assert(offsetof(LcdMonBlock, frame_time_us) % 8 == 0, "fixed layout");
static_assert(sizeof(LcdMonBlock) % 8 == 0, "fixed layout");

// ---- Names --------------------------------------------------------------------

static inline void lcdmon_instance(char *instance, size_t size)
{
    DWORD n = GetEnvironmentVariableA(LCDMON_INSTANCE_VARIABLE, instance, (DWORD)size);
    if (n == 0 || n >= size)
        instance[0] = 0;
}

// suffix: "" for the mapping, ".Lock", ".Frame", ".Command", ".Slot3", ...
static inline void lcdmon_object_name(char *name, size_t size, const char *suffix)
{
    char instance[64];
    lcdmon_instance(instance, sizeof instance);
    snprintf(name, size, "Local\\LCDMonStandIn%s%s", instance, suffix);
}

static inline void lcdmon_slot_event_name(char *name, size_t size, unsigned slot)
{
    char suffix[32];
    snprintf(suffix, sizeof suffix, ".Slot%u", slot);
    lcdmon_object_name(name, size, suffix);
}

static inline int64_t lcdmon_now_us(void)
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (count.QuadPart / frequency.QuadPart) * 1000000 +
           (count.QuadPart % frequency.QuadPart) * 1000000 / frequency.QuadPart;
}

// 1 while an LCDMon.exe of this instance runs: it owns the Alive mutex for its
// whole life, so the mutex is neither free nor abandoned.
static inline int lcdmon_server_running(void)
{
    char name[128];
    lcdmon_object_name(name, sizeof name, ".Alive");
    HANDLE alive = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
    if (!alive)
        return 0;
    DWORD result = WaitForSingleObject(alive, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        ReleaseMutex(alive);
    CloseHandle(alive);
    return result == WAIT_TIMEOUT;
}

// ---- Access for the control command and tests -----------------------------------

struct LcdMonAccess {
    HANDLE mapping;
    HANDLE lock;
    HANDLE command_event;
    LcdMonBlock *block;
};

static inline void lcdmon_detach(LcdMonAccess *access)
{
    if (access->block)
        UnmapViewOfFile(access->block);
    if (access->mapping)
        CloseHandle(access->mapping);
    if (access->lock)
        CloseHandle(access->lock);
    if (access->command_event)
        CloseHandle(access->command_event);
    memset(access, 0, sizeof *access);
}

// Opens the block of a running (or crashed) stand-in. 1 on success.
static inline int lcdmon_attach(LcdMonAccess *access)
{
    char name[128];
    memset(access, 0, sizeof *access);
    lcdmon_object_name(name, sizeof name, "");
    access->mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    lcdmon_object_name(name, sizeof name, ".Lock");
    access->lock = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
    lcdmon_object_name(name, sizeof name, ".Command");
    access->command_event = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
    if (access->mapping)
        access->block = (LcdMonBlock *)MapViewOfFile(access->mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LcdMonBlock));
    if (!access->block || !access->lock || !access->command_event || access->block->magic != LCDMON_MAGIC) {
        lcdmon_detach(access);
        return 0;
    }
    return 1;
}

// An abandoned mutex (the other side died holding it) still gives us the block.
static inline int lcdmon_lock(HANDLE lock, DWORD timeout_ms)
{
    DWORD result = WaitForSingleObject(lock, timeout_ms);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

// Sends one command line to the running LCDMon.exe and waits for its answer,
// at most timeout_ms. 1 when the command succeeded; reply gets the answer text.
static inline int lcdmon_command_on(LcdMonAccess *access, const char *command, char *reply, size_t reply_size,
                                    DWORD timeout_ms)
{
    if (reply && reply_size)
        reply[0] = 0;
    if (!lcdmon_lock(access->lock, timeout_ms))
        return 0;
    LcdMonBlock *block = access->block;
    // one command at a time: wait for a previous one to be answered
    DWORD start = GetTickCount();
    while (block->done_seq != block->command_seq) {
        ReleaseMutex(access->lock);
        if (GetTickCount() - start > timeout_ms)
            return 0;
        Sleep(5);
        if (!lcdmon_lock(access->lock, timeout_ms))
            return 0;
    }
    snprintf(block->command, sizeof block->command, "%s", command);
    uint32_t seq = block->command_seq + 1;
    block->command_seq = seq;
    ReleaseMutex(access->lock);
    SetEvent(access->command_event);
    for (;;) {
        if (!lcdmon_lock(access->lock, timeout_ms))
            return 0;
        int done = block->done_seq == seq;
        int result = block->command_result;
        if (done && reply && reply_size)
            snprintf(reply, reply_size, "%s", block->reply);
        ReleaseMutex(access->lock);
        if (done)
            return result;
        if (GetTickCount() - start > timeout_ms)
            return 0;
        Sleep(2);
    }
}

static inline int lcdmon_command(const char *command, char *reply, size_t reply_size, DWORD timeout_ms)
{
    LcdMonAccess access;
    if (!lcdmon_attach(&access))
        return 0;
    int result = lcdmon_command_on(&access, command, reply, reply_size, timeout_ms);
    lcdmon_detach(&access);
    return result;
}

// ---- Window layout ------------------------------------------------------------------
// Each display: a label line, the frame enlarged scale times, and under it the
// four soft-button boxes. Client coordinates of LCDMon's window.

#define LCDMON_MARGIN 8
#define LCDMON_LABEL_HEIGHT 18
#define LCDMON_BUTTON_HEIGHT 24
#define LCDMON_DEFAULT_SCALE 3

static inline int lcdmon_display_block_height(int scale)
{
    return LCDMON_LABEL_HEIGHT + 43 * scale + 4 + LCDMON_BUTTON_HEIGHT + LCDMON_MARGIN;
}

static inline int lcdmon_display_top(int scale, unsigned display)
{
    return LCDMON_MARGIN + (int)display * lcdmon_display_block_height(scale);
}

static inline RECT lcdmon_button_rect(int scale, unsigned display, int index)
{
    int width = 160 * scale / 4;
    int top = lcdmon_display_top(scale, display) + LCDMON_LABEL_HEIGHT + 43 * scale + 4;
    RECT r = {LCDMON_MARGIN + index * width + 4, top, LCDMON_MARGIN + (index + 1) * width - 4,
              top + LCDMON_BUTTON_HEIGHT};
    return r;
}

// ---- Registration ---------------------------------------------------------------

#define LCDMON_SERVER_BINARY_KEY \
    "SOFTWARE\\Classes\\CLSID\\{FE750200-B72E-11d9-829B-0050DA1A72D3}\\ServerBinary"
#define LCDMON_CURRENT_VERSION_KEY "SOFTWARE\\Logitech\\LCD Software\\LCD Manager\\CurrentVersion"

static inline int lcdmon_write_text(HKEY root, const char *path, REGSAM view, const char *name, const char *text)
{
    HKEY key;
    if (RegCreateKeyExA(root, path, 0, 0, 0, KEY_SET_VALUE | view, 0, &key, 0) != ERROR_SUCCESS)
        return 0;
    LONG result = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// Registers a server library for one registry view (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY; 0 for the process's own view).
static inline int lcdmon_register_server(const char *server_path, REGSAM view)
{
    return lcdmon_write_text(HKEY_LOCAL_MACHINE, LCDMON_SERVER_BINARY_KEY, view, 0, server_path);
}

// Writes Version and InstallPath in both registry views (the 64-bit program
// and a 32-bit one on 64-bit Windows read the 64-bit view).
static inline int lcdmon_register_install(const char *version, const char *install_path)
{
    int ok = 1;
    const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (REGSAM view : views) {
        ok &= lcdmon_write_text(HKEY_LOCAL_MACHINE, LCDMON_CURRENT_VERSION_KEY, view, "Version", version);
        ok &= lcdmon_write_text(HKEY_LOCAL_MACHINE, LCDMON_CURRENT_VERSION_KEY, view, "InstallPath", install_path);
    }
    return ok;
}

static inline void lcdmon_unregister(void)
{
    const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (REGSAM view : views) {
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, LCDMON_SERVER_BINARY_KEY, view, 0);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, LCDMON_CURRENT_VERSION_KEY, view, 0);
    }
}
