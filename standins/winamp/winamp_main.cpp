// Winamp.exe: the Winamp stand-in. A window of class "Winamp v1.x" whose
// title and whose answers to the WM_USER queries come from a script file
// read as it grows; every message the window receives goes into the log.
//
//   Winamp.exe --script FILE [--log FILE] [--lifetime SECONDS] [--parent PID]
//
// Script commands (see README.md): title TEXT, position MS, length SECONDS,
// bitrate KBPS, sleep MS, hang MS, quit.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "standin_script.h"

#define WINDOW_CLASS L"Winamp v1.x"

enum {
    WM_STANDIN_HANG = WM_APP + 1, // wParam: ms the window thread stops answering
    WM_STANDIN_QUIT = WM_APP + 2,
    QUERY_TIME = 105,
    QUERY_INFO = 126,
};

struct WinampStandIn {
    HWND window;
    volatile LONG position_ms;
    volatile LONG length_s;
    volatile LONG bitrate;
    ScriptTail script;
    StandInLog log;
    StandInLife life;
};

static WinampStandIn g;

static LRESULT answer_query(WPARAM w, LPARAM l)
{
    if (l == QUERY_TIME && w == 0)
        return g.position_ms;
    if (l == QUERY_TIME && w == 1)
        return g.length_s;
    if (l == QUERY_INFO && w == 1)
        return g.bitrate;
    return 0;
}

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    LRESULT result;
    switch (message) {
    case WM_USER:
        result = answer_query(w, l);
        break;
    case WM_STANDIN_HANG:
        Sleep((DWORD)w);
        return 0;
    case WM_STANDIN_QUIT:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        result = 0;
        break;
    default:
        result = DefWindowProcW(window, message, w, l);
        break;
    }
    standin_log(&g.log, "message 0x%04x wparam %lld lparam %lld result %lld", message, (long long)w, (long long)l,
                (long long)result);
    return result;
}

static void set_title(const char *utf8)
{
    wchar_t title[1024];
    if (!MultiByteToWideChar(CP_UTF8, 0, utf8, -1, title, 1024))
        title[0] = 0;
    SendMessageW(g.window, WM_SETTEXT, 0, (LPARAM)title);
}

// One script line; 0 once the stand-in is to end.
static int run_line(char *line)
{
    char *command, *argument;
    if (!script_split(line, &command, &argument))
        return 1;
    long value = strtol(argument, 0, 10);
    if (strcmp(command, "title") == 0)
        set_title(argument);
    else if (strcmp(command, "position") == 0)
        InterlockedExchange(&g.position_ms, value);
    else if (strcmp(command, "length") == 0)
        InterlockedExchange(&g.length_s, value);
    else if (strcmp(command, "bitrate") == 0)
        InterlockedExchange(&g.bitrate, value);
    else if (strcmp(command, "sleep") == 0)
        Sleep((DWORD)value);
    else if (strcmp(command, "mark") == 0)
        standin_log(&g.log, "mark %s", argument);
    else if (strcmp(command, "hang") == 0)
        SendMessageW(g.window, WM_STANDIN_HANG, (WPARAM)value, 0);
    else if (strcmp(command, "quit") == 0)
        return 0;
    return 1;
}

static DWORD WINAPI script_thread(void *)
{
    char line[SCRIPT_LINE_BYTES];
    for (;;) {
        if (standin_should_end(&g.life))
            break;
        if (!script_next_line(&g.script, line, sizeof line)) {
            Sleep(SCRIPT_POLL_MS);
            continue;
        }
        if (!run_line(line))
            break;
    }
    SendMessageW(g.window, WM_STANDIN_QUIT, 0, 0);
    return 0;
}

int main(int argc, char **argv)
{
    if (!standin_options(argc, argv, &g.script, &g.log, &g.life) || !g.script.path[0]) {
        fprintf(stderr, "usage: Winamp.exe --script FILE [--log FILE] [--lifetime SECONDS] [--parent PID]\n");
        return 1;
    }
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = GetModuleHandleW(0);
    window_class.lpszClassName = WINDOW_CLASS;
    if (!RegisterClassW(&window_class))
        return 1;
    // the first script lines (usually the title) come before the window is searched for
    g.window = CreateWindowExW(0, WINDOW_CLASS, L"", WS_OVERLAPPEDWINDOW, 0, 0, 275, 116, 0, 0,
                               window_class.hInstance, 0);
    if (!g.window)
        return 1;
    HANDLE thread = CreateThread(0, 0, script_thread, 0, 0, 0);
    MSG message;
    while (GetMessageW(&message, 0, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (thread) {
        WaitForSingleObject(thread, 1000);
        CloseHandle(thread);
    }
    return 0;
}
