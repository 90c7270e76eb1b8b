// RIP: ends a program whose window has stopped responding. See mod_rip.cpp
// for the picture.
#pragma once
#include <windows.h>
#include <stddef.h>

enum { RIP_NAME_BYTES = 128 }; // the window's name in UTF-8, terminator included

typedef BOOL(WINAPI *IsHungAppWindowFn)(HWND window);

struct RipModule {
    const char *code = "RIP";
    HMODULE user32;              // loaded by rip_start, freed by rip_stop
    IsHungAppWindowFn is_hung;   // its IsHungAppWindow; null: never scans
    HWND hung;                   // found by the last scan, 0 none
};

extern RipModule g_rip;

// Module entry points (no configure).
void rip_start(RipModule *rip);
void rip_poll(RipModule *rip);
int rip_render(RipModule *rip, int slot);
void rip_stop(RipModule *rip);

// ---- Pieces, plain so tests reach them -----------------------------------------

// OpenProcess and TerminateProcess unless a test puts doubles here.
typedef HANDLE(WINAPI *RipOpenProcessFn)(DWORD access, BOOL inherit, DWORD process_id);
typedef BOOL(WINAPI *RipTerminateProcessFn)(HANDLE process, UINT exit_code);
extern RipOpenProcessFn rip_open_process;
extern RipTerminateProcessFn rip_terminate_process;

// The first visible window in the system's order that hangs, into rip->hung.
void rip_scan(RipModule *rip);
// The window's name in UTF-8, at most RIP_NAME_BYTES - 1 bytes of whole
// characters: its title, or for a window without one the file name of its
// module or else of its process. 0 when the window cannot be read.
int rip_window_name(HWND window, char *name);
// Removes characters from the end of name until it measures at most
// max_width pixels in the small font; returns its width.
int rip_fit_name(char *name, int max_width);
// Ends the window's process (exit code 0), with a pop-up when it cannot.
void rip_end_process(HWND window, const char *name);
