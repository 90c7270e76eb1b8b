// hungwin.exe: a program with one top-level window that stops responding on
// cue, for the tests of the hung application killer. Windows (and Wine) call
// a window hung when its thread has taken no message for about 5 seconds.
//
//   hungwin.exe [--log FILE] [--lifetime SECONDS] [--parent PID]
//               [--script FILE] [COMMAND; COMMAND; ...]
//
// Commands, run in order; then the window takes messages until the end:
//   title TEXT   sets the window's title (UTF-8); without it there is none
//   show, hide   shows or hides the window
//   pump MS      takes messages for MS milliseconds
//   hang [MS]    takes no messages for MS milliseconds, or for good
//   quit [CODE]  ends with exit code CODE (0 by default)
// Unknown lines are logged and skipped. The process ends at the latest after
// --lifetime seconds (default 120) or when process PID ends (exit code 3).
// The log has one line per event: milliseconds since the start and the event.
#include <windows.h>
#include <shellapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

static FILE *g_log;
static CRITICAL_SECTION g_log_lock;
static DWORD g_started;
static DWORD g_parent;
static DWORD g_lifetime_s = 120;

enum { EXIT_BY_WATCH = 3 };

static void note(const char *format, ...)
{
    if (!g_log)
        return;
    EnterCriticalSection(&g_log_lock);
    fprintf(g_log, "%lu ", (unsigned long)(GetTickCount() - g_started));
    va_list args;
    va_start(args, format);
    vfprintf(g_log, format, args);
    va_end(args);
    fputc('\n', g_log);
    fflush(g_log);
    LeaveCriticalSection(&g_log_lock);
}

static std::string utf8_of(const wchar_t *text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, 0, 0, 0, 0);
    std::string out(n > 0 ? (size_t)n : 1, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, 0, 0);
    out.resize(strlen(out.c_str()));
    return out;
}

static std::wstring wide_of(const std::string &text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, 0, 0);
    std::wstring out(n > 0 ? (size_t)n : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    out.resize(wcslen(out.c_str()));
    return out;
}

// Ends the process when the parent ends or the lifetime is over, even while
// the window's thread hangs.
static DWORD WINAPI watch(void *)
{
    HANDLE parent = g_parent ? OpenProcess(SYNCHRONIZE, FALSE, g_parent) : 0;
    DWORD limit = g_lifetime_s * 1000;
    if (!parent)
        Sleep(limit);
    if (parent && WaitForSingleObject(parent, limit) == WAIT_OBJECT_0)
        note("parent ended");
    else
        note("lifetime over");
    ExitProcess(EXIT_BY_WATCH);
    return 0;
}

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_CLOSE)
        note("close asked");
    return DefWindowProcW(window, message, wparam, lparam);
}

static void pump_for(DWORD ms)
{
    DWORD start = GetTickCount();
    for (DWORD passed = 0; passed < ms; passed = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, 0, FALSE, ms - passed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, 0, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

static void run(HWND window, const std::string &line)
{
    size_t at = line.find_first_not_of(" \t\r");
    if (at == std::string::npos)
        return;
    size_t end = line.find_first_of(" \t\r", at);
    std::string command = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::string argument;
    if (end != std::string::npos && (at = line.find_first_not_of(" \t", end)) != std::string::npos)
        argument = line.substr(at, line.find_last_not_of(" \t\r") + 1 - at);
    if (command == "title") {
        SetWindowTextW(window, wide_of(argument).c_str());
        note("title '%s'", argument.c_str());
    } else if (command == "show" || command == "hide") {
        ShowWindow(window, command == "show" ? SW_SHOWNORMAL : SW_HIDE);
        note("%s", command.c_str());
    } else if (command == "pump") {
        note("pump %s", argument.c_str());
        pump_for((DWORD)strtoul(argument.c_str(), 0, 10));
    } else if (command == "hang") {
        note("hang %s", argument.c_str());
        if (argument.empty())
            for (;;)
                Sleep(1000);
        Sleep((DWORD)strtoul(argument.c_str(), 0, 10));
    } else if (command == "quit") {
        note("quit %s", argument.c_str());
        ExitProcess((UINT)strtoul(argument.c_str(), 0, 10));
    } else {
        note("unknown '%s'", line.c_str());
    }
}

static std::vector<std::string> split_script(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find_first_of(";\n", start)) != std::string::npos; start = at + 1)
        lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));
    return lines;
}

static std::string read_file(const std::string &path)
{
    std::string text;
    FILE *file = _wfopen(wide_of(path).c_str(), L"rb");
    if (!file)
        return text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    fclose(file);
    return text;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    g_started = GetTickCount();
    InitializeCriticalSection(&g_log_lock);
    int count = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string script;
    for (int i = 1; argv && i < count; i++) {
        std::string arg = utf8_of(argv[i]);
        bool has_value = i + 1 < count;
        if (arg == "--log" && has_value)
            g_log = _wfopen(argv[++i], L"ab");
        else if (arg == "--lifetime" && has_value)
            g_lifetime_s = (DWORD)wcstoul(argv[++i], 0, 10);
        else if (arg == "--parent" && has_value)
            g_parent = (DWORD)wcstoul(argv[++i], 0, 10);
        else if (arg == "--script" && has_value)
            script += read_file(utf8_of(argv[++i])) + "\n";
        else
            script += arg + " ";
    }
    LocalFree(argv);
    CreateThread(0, 0, watch, 0, 0, 0);

    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"PixwickHungWindow";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 10, 10, 240, 120, 0, 0,
                                  instance, 0);
    note("window %p pid %lu", (void *)window, (unsigned long)GetCurrentProcessId());
    for (const std::string &line : split_script(script))
        run(window, line);
    note("responsive");
    for (;;)
        pump_for(1000);
}
