// What the player stand-ins share: a script file read as it grows (a test
// appends a line and the stand-in acts on it within a few tens of
// milliseconds), a log file of what the program under test sent, and the
// end of a stand-in together with the test that started it.
//
// Script lines are words separated by blanks; the first word is the command,
// the rest of the line its argument. Empty lines and lines starting with '#'
// are skipped. A line counts once it ends with a line feed.
#pragma once
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    SCRIPT_LINE_BYTES = 1024,
    SCRIPT_POLL_MS = 10,
};

struct ScriptTail {
    char path[MAX_PATH];
    LONGLONG offset;              // bytes of the file already taken
    char pending[SCRIPT_LINE_BYTES]; // start of a line without its line feed yet
    size_t pending_length;
};

// The next complete line (without CR LF) into line; 0 when none has arrived.
static inline int script_next_line(ScriptTail *tail, char *line, size_t size)
{
    for (;;) {
        char *end = (char *)memchr(tail->pending, '\n', tail->pending_length);
        if (end) {
            size_t n = (size_t)(end - tail->pending);
            size_t kept = n < size - 1 ? n : size - 1;
            memcpy(line, tail->pending, kept);
            line[kept] = 0;
            if (kept && line[kept - 1] == '\r')
                line[kept - 1] = 0;
            tail->pending_length -= n + 1;
            memmove(tail->pending, end + 1, tail->pending_length);
            return 1;
        }
        if (tail->pending_length == sizeof tail->pending)
            tail->pending_length = 0; // a line longer than the buffer is dropped
        HANDLE file = CreateFileA(tail->path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                                  OPEN_EXISTING, 0, 0);
        if (file == INVALID_HANDLE_VALUE)
            return 0;
        LARGE_INTEGER at;
        at.QuadPart = tail->offset;
        DWORD got = 0;
        BOOL ok = SetFilePointerEx(file, at, 0, FILE_BEGIN) &&
                  ReadFile(file, tail->pending + tail->pending_length,
                           (DWORD)(sizeof tail->pending - tail->pending_length), &got, 0);
        CloseHandle(file);
        if (!ok || got == 0)
            return 0;
        tail->offset += got;
        tail->pending_length += got;
    }
}

// Splits "command rest of line" in place; *argument is "" when there is none.
// 0 for an empty or comment line.
static inline int script_split(char *line, char **command, char **argument)
{
    char *p = line;
    while (*p == ' ' || *p == '\t')
        p++;
    if (!*p || *p == '#')
        return 0;
    *command = p;
    while (*p && *p != ' ' && *p != '\t')
        p++;
    if (*p)
        *p++ = 0;
    while (*p == ' ' || *p == '\t')
        p++;
    *argument = p;
    return 1;
}

// Appends one line to the log file (opened and closed each time, so a test
// reads it at any moment), with the milliseconds since `start` in front.
struct StandInLog {
    char path[MAX_PATH]; // empty: no log
    DWORD start;
    CRITICAL_SECTION lock;
};

static inline void standin_log_open(StandInLog *log, const char *path)
{
    snprintf(log->path, sizeof log->path, "%s", path ? path : "");
    log->start = GetTickCount();
    InitializeCriticalSection(&log->lock);
}

static inline void standin_log(StandInLog *log, const char *format, ...)
{
    if (!log->path[0])
        return;
    char text[SCRIPT_LINE_BYTES];
    int n = snprintf(text, sizeof text, "%lu ", (unsigned long)(GetTickCount() - log->start));
    va_list args;
    va_start(args, format);
    vsnprintf(text + n, sizeof text - (size_t)n - 1, format, args);
    va_end(args);
    strcat(text, "\n");
    EnterCriticalSection(&log->lock);
    HANDLE file = CreateFileA(log->path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                              OPEN_ALWAYS, 0, 0);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, text, (DWORD)strlen(text), &written, 0);
        CloseHandle(file);
    }
    LeaveCriticalSection(&log->lock);
}

// The stand-in ends with the process that started it (--parent PID) and
// after --lifetime seconds at the latest.
struct StandInLife {
    HANDLE parent;
    DWORD start;
    DWORD lifetime_ms;
};

static inline int standin_should_end(const StandInLife *life)
{
    if (life->parent && WaitForSingleObject(life->parent, 0) == WAIT_OBJECT_0)
        return 1;
    return life->lifetime_ms && GetTickCount() - life->start >= life->lifetime_ms;
}

// Takes "--script FILE", "--log FILE", "--lifetime SECONDS" and "--parent PID"
// from the arguments; 0 on an unknown option or a missing value.
static inline int standin_options(int argc, char **argv, ScriptTail *tail, StandInLog *log, StandInLife *life)
{
    const char *log_path = 0;
    life->start = GetTickCount();
    life->lifetime_ms = 300000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const char *option = argv[i], *value = argv[i + 1];
        if (strcmp(option, "--script") == 0)
            snprintf(tail->path, sizeof tail->path, "%s", value);
        else if (strcmp(option, "--log") == 0)
            log_path = value;
        else if (strcmp(option, "--lifetime") == 0)
            life->lifetime_ms = (DWORD)strtoul(value, 0, 10) * 1000;
        else if (strcmp(option, "--parent") == 0)
            life->parent = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)strtoul(value, 0, 10));
        else
            return 0;
    }
    standin_log_open(log, log_path);
    return argc % 2 == 1;
}
