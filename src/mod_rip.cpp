// RIP: the hung application killer. Every other second the desktop's
// top-level windows are scanned; the first visible one whose thread has
// stopped taking messages (IsHungAppWindow) is offered. A short press shows
// its whole name, a long press ends its process at once. While no window
// hangs the page shows nothing and the slot shows its next module.
//
// The panel, 39 x 21 from its corner (X, Y):
//
//    X                                      X+38
//    +-----+---------------------------------+   Y
//    |RIP  |                                 |   Y+1: label
//    +-----+                                 |
//    |                                       |
//    |                        Unrespon       |   Y+14: the window's name (small font),
//    |                                       |         cut from its end to 36 pixels,
//                                                      last column X+36
#include "mod_rip.h"

#include <stdio.h>
#include <string.h>

#include "app.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "popup.h"
#include "slots.h"
#include "utf8_text.h"
#include "util.h"

RipModule g_rip;
RipOpenProcessFn rip_open_process = OpenProcess;
RipTerminateProcessFn rip_terminate_process = TerminateProcess;

enum {
    NAME_UNITS = 128,   // UTF-16 units read, terminator included
    NAME_RIGHT = 37,    // the name ends left of column X+37
    NAME_WIDTH = 36,
    NAME_ROW = 14,
    POPUP_NAME = 7,
    POPUP_MS = 1500,
};

void rip_start(RipModule *rip)
{
    rip->hung = 0;
    rip->user32 = LoadLibraryA("USER32.DLL");
    rip->is_hung = rip->user32 ? (IsHungAppWindowFn)(void *)GetProcAddress(rip->user32, "IsHungAppWindow") : 0;
}

void rip_stop(RipModule *rip)
{
    if (rip->user32)
        FreeLibrary(rip->user32);
    rip->user32 = 0;
    rip->is_hung = 0;
    rip->hung = 0;
}

static BOOL CALLBACK consider_window(HWND window, LPARAM context)
{
    RipModule *rip = (RipModule *)context;
    if (!IsWindowVisible(window) || !rip->is_hung(window))
        return TRUE;
    rip->hung = window;
    return FALSE;
}

void rip_scan(RipModule *rip)
{
    rip->hung = 0;
    if (!rip->is_hung)
        return;
    EnumWindows(consider_window, (LPARAM)rip);
    SetLastError(0); // a stopped enumeration reports itself as a failure
}

void rip_poll(RipModule *rip)
{
    if (second_tick && blink)
        rip_scan(rip);
}

// The full path of the window's process. Windows gives the module of a
// window only inside its own process, so for another program's window
// without a title this is the name there is.
static int process_file_name(HWND window, wchar_t *text, DWORD units)
{
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    HANDLE process = process_id ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id) : 0;
    if (!process) {
        SetLastError(0);
        return 0;
    }
    DWORD length = units;
    if (!QueryFullProcessImageNameW(process, 0, text, &length)) {
        SetLastError(0);
        length = 0;
    }
    CloseHandle(process);
    return (int)length;
}

int rip_window_name(HWND window, char *name)
{
    wchar_t wide[NAME_UNITS];
    SetLastError(0);
    int units = GetWindowTextW(window, wide, NAME_UNITS);
    if (units <= 0) {
        if (GetLastError() != 0) {
            SetLastError(0);
            return 0;
        }
        units = (int)GetWindowModuleFileNameW(window, wide, NAME_UNITS);
        if (units <= 0)
            units = process_file_name(window, wide, NAME_UNITS);
        SetLastError(0);
    }
    if (units > NAME_UNITS - 1)
        units = NAME_UNITS - 1;
    if (units > 0 && wide[units - 1] >= 0xd800 && wide[units - 1] < 0xdc00)
        units--; // half a character cut off by the limit
    char utf8[NAME_UNITS * 3 + 1];
    int bytes = units > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, 0, 0) : 0;
    size_t length = utf8_fit(utf8, bytes > 0 ? (size_t)bytes : 0, RIP_NAME_BYTES - 1);
    memcpy(name, utf8, length);
    name[length] = 0;
    return 1;
}

int rip_fit_name(char *name, int max_width)
{
    int width = lcd_text_utf8(&g_lcd, TXT_MEASURE, 0, 0, name);
    while (width > max_width && name[0]) {
        utf8_drop_last(name);
        width = lcd_text_utf8(&g_lcd, TXT_MEASURE, 0, 0, name);
    }
    return width;
}

void rip_end_process(HWND window, const char *name)
{
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    HANDLE process = process_id ? rip_open_process(PROCESS_TERMINATE, FALSE, process_id) : 0;
    if (!process) {
        SetLastError(0);
        popup(&g_popups, 0, POPUP_MS, "Insufficient privileges to terminate process");
        return;
    }
    if (!rip_terminate_process(process, 0)) {
        log_error("src/mod_rip", __LINE__, GetLastError(), "TerminateProcess() failed for '%s'", name);
        SetLastError(0);
        popup(&g_popups, 0, POPUP_MS, "Failed to terminate process");
    }
    CloseHandle(process);
}

int rip_render(RipModule *rip, int s)
{
    if (!rip->hung || s < 0 || s >= SLOT_COUNT)
        return 0;
    Slot *slot = &g_slots[s];
    slot_draw_frame(slot, rip->code);
    char name[RIP_NAME_BYTES];
    if (!rip_window_name(rip->hung, name))
        return 1;
    if (slot->pending_action == BUTTON_SHORT) {
        slot->pending_action = 0;
        popup(&g_popups, POPUP_NAME, POPUP_MS, "Unresponsive: '%s'", name);
    }
    if (slot->pending_action == BUTTON_LONG) {
        slot->pending_action = 0;
        rip_end_process(rip->hung, name);
    }
    const int width = rip_fit_name(name, NAME_WIDTH);
    lcd_text_utf8(&g_lcd, 0, slot->x + NAME_RIGHT - width, slot->y + NAME_ROW, name);
    return 1;
}
