// fraps.exe, the FRAPS stand-in's process: loads FRAPS64.DLL (FRAPS32.DLL in
// a 32-bit build) from its own folder, has it set a global WH_CBT hook, shows
// FRAPS's window "FRAPS fps" (hidden) and sets the frame rate the library
// reports as its script says. See README.md.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fraps_shared.h"
#include "standin_script.h"

enum { LIFETIME_SECONDS = 600, WM_FRAPS_WINDOW = WM_APP + 1 };
static const char WINDOW_CLASS[] = "FrapsStandInWnd";
static const char WINDOW_TITLE[] = "FRAPS fps";

static FrapsStandInBlock *block;
static DWORD main_thread;
static char **script_argv;
static int script_argc;

static int on_off(const char *word) { return strcmp(word, "on") == 0 || strcmp(word, "1") == 0; }

static int command(int count, char **w)
{
    if (strcmp(w[0], "quit") == 0)
        return 0;
    if (strcmp(w[0], "fps") == 0 && count == 2)
        block->rate = (uint32_t)strtoull(w[1], 0, 10);
    else if (strcmp(w[0], "null") == 0 && count == 2)
        block->null_record = (uint32_t)on_off(w[1]);
    else if (strcmp(w[0], "window") == 0 && count == 2)
        PostThreadMessageA(main_thread, WM_FRAPS_WINDOW, (WPARAM)on_off(w[1]), 0);
    else
        fprintf(stderr, "fraps: not understood: %s\n", w[0]);
    return 1;
}

// The script runs beside the message loop; its end (or a quit) ends the
// program only when it came from standard input or said so.
static DWORD WINAPI script_thread(LPVOID unused)
{
    (void)unused;
    int result = script_run_options(script_argc, script_argv, command);
    if (result <= 0 || script_has_option(script_argc, script_argv, "--stdin"))
        PostThreadMessageA(main_thread, WM_QUIT, 0, 0);
    return 0;
}

static HWND show_window(int on, HWND window)
{
    if (on && !window)
        return CreateWindowExA(0, WINDOW_CLASS, WINDOW_TITLE, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, 0, 0,
                               GetModuleHandleA(0), 0);
    if (!on && window)
        DestroyWindow(window);
    return on ? window : 0;
}

static HMODULE load_library(void)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(0, path, sizeof path);
    char *slash = n && n < sizeof path ? strrchr(path, '\\') : 0;
    if (!slash || (size_t)(slash + 1 - path) + sizeof FRAPS_STANDIN_DLL > sizeof path)
        return 0;
    strcpy(slash + 1, FRAPS_STANDIN_DLL);
    return LoadLibraryA(path);
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--help") == 0) {
        printf("fraps [--run \"fps 60; wait 1000; fps 0\"] [--script FILE] [--stdin] [--log FILE]\n"
               "      [--no-window] [--lifetime S]\nPlays FRAPS; see README.md.\n");
        return 0;
    }
    script_argc = argc, script_argv = argv;
    main_thread = GetCurrentThreadId();
    script_limit_lifetime(argc, argv, LIFETIME_SECONDS);
    script_open_log(argc, argv);

    // The library first: it counts and logs the processes it arrives in once
    // the block exists, and this one is not among them.
    HMODULE library = load_library();
    FrapsStandInInstallFn install =
        library ? (FrapsStandInInstallFn)(void *)GetProcAddress(library, FRAPS_STANDIN_INSTALL) : 0;
    char name[96];
    fraps_standin_block_name(name, sizeof name);
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, sizeof *block, name);
    block = mapping ? (FrapsStandInBlock *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof *block) : 0;
    if (!install || !block) {
        fprintf(stderr, "fraps: cannot load %s or create %s (error %lu)\n", FRAPS_STANDIN_DLL, name,
                (unsigned long)GetLastError());
        return 2;
    }
    memset(block, 0, sizeof *block);
    snprintf(block->log_path, sizeof block->log_path, "%s", script_log.path);
    block->magic = FRAPS_STANDIN_MAGIC;
    HHOOK hook = install();
    if (!hook) {
        fprintf(stderr, "fraps: SetWindowsHookEx failed (error %lu)\n", (unsigned long)GetLastError());
        return 2;
    }
    script_log_line("hook set with %s", FRAPS_STANDIN_DLL);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(0);
    wc.lpszClassName = WINDOW_CLASS;
    RegisterClassA(&wc);
    HWND window = show_window(!script_has_option(argc, argv, "--no-window"), 0);
    MSG msg;
    PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE); // the thread's queue exists before the script posts to it
    CloseHandle(CreateThread(0, 0, script_thread, 0, 0, 0));
    while (GetMessageA(&msg, 0, 0, 0) > 0) {
        if (msg.message == WM_FRAPS_WINDOW && !msg.hwnd)
            window = show_window((int)msg.wParam, window);
        DispatchMessageA(&msg);
    }
    show_window(0, window);
    UnhookWindowsHookEx(hook);
    script_log_line("hook removed; %ld calls", (long)block->calls);
    UnmapViewOfFile(block);
    CloseHandle(mapping);
    return 0;
}
