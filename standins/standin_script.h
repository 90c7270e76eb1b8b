// The script form shared by the publishing stand-ins: one command per line
// (or separated by ';' on the command line), words separated by blanks, a
// word with blanks in double quotes, '#' starting a comment line. Scripts
// come from --run "TEXT", --script FILE and, with --stdin, from standard
// input line by line as they arrive, so a test can drive a stand-in step by
// step. Each executed command is written to the log (--log FILE) with the
// milliseconds since start, so whoever drives it can see it was done.
#pragma once
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { SCRIPT_WORDS = 80, SCRIPT_LINE = 4096 };

// Handles one command given as words; returns 0 to end the script.
typedef int (*ScriptCommandFn)(int count, char **words);

struct ScriptLog {
    char path[MAX_PATH];
    DWORD started;
};
static ScriptLog script_log;

// Appends one line; several processes may append to the same file.
static inline void script_log_line(const char *format, ...)
{
    if (!script_log.path[0])
        return;
    char line[SCRIPT_LINE + 64];
    int n = snprintf(line, sizeof line, "%lu ", (unsigned long)(GetTickCount() - script_log.started));
    va_list args;
    va_start(args, format);
    vsnprintf(line + n, sizeof line - (size_t)n - 2, format, args);
    va_end(args);
    strcat(line, "\r\n");
    HANDLE file = CreateFileA(script_log.path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, (DWORD)strlen(line), &written, 0);
    CloseHandle(file);
}

// Splits a line in place; returns the number of words.
static inline int script_split(char *line, char **words)
{
    int count = 0;
    char *p = line;
    while (count < SCRIPT_WORDS) {
        while (*p == ' ' || *p == '\t' || *p == '\r')
            p++;
        if (!*p)
            break;
        char end = ' ';
        if (*p == '"')
            end = '"', p++;
        words[count++] = p;
        while (*p && *p != end && !(end == ' ' && (*p == '\t' || *p == '\r')))
            p++;
        if (!*p)
            break;
        *p++ = 0;
    }
    return count;
}

// Runs one line; returns 0 when the command ends the script.
static inline int script_line(char *line, ScriptCommandFn command)
{
    char copy[SCRIPT_LINE];
    snprintf(copy, sizeof copy, "%s", line);
    char *words[SCRIPT_WORDS];
    int count = script_split(line, words);
    if (count == 0 || words[0][0] == '#')
        return 1;
    if (strcmp(words[0], "wait") == 0 && count == 2) {
        Sleep((DWORD)strtoul(words[1], 0, 10));
        return 1;
    }
    int going_on = strcmp(words[0], "mark") == 0 ? 1 : command(count, words); // a mark is only logged
    script_log_line("%s", copy);
    return going_on;
}

// Lines separated by LF or ';' (outside quotes).
static inline int script_text(char *text, ScriptCommandFn command)
{
    for (char *p = text; *p;) {
        char *start = p;
        int quoted = 0;
        while (*p && *p != '\n' && (quoted || *p != ';'))
            quoted ^= *p++ == '"';
        char end = *p;
        *p = 0;
        if (!script_line(start, command))
            return 0;
        if (end)
            p++;
    }
    return 1;
}

static inline int script_file(const char *path, ScriptCommandFn command)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return -1;
    char line[SCRIPT_LINE];
    int going_on = 1;
    while (going_on && fgets(line, sizeof line, file)) {
        line[strcspn(line, "\r\n")] = 0;
        going_on = script_line(line, command);
    }
    fclose(file);
    return going_on;
}

// Standard input, line by line as the lines arrive, until its end or a
// command that ends the script.
static inline int script_stdin(ScriptCommandFn command)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char line[SCRIPT_LINE];
    size_t used = 0;
    for (;;) {
        char c;
        DWORD got = 0;
        if (!ReadFile(input, &c, 1, &got, 0) || got == 0)
            return 1;
        if (c != '\n' && used < sizeof line - 1) {
            line[used++] = c;
            continue;
        }
        line[used] = 0;
        used = 0;
        if (!script_text(line, command))
            return 0;
    }
}

// --log FILE: the log starts empty.
static inline void script_open_log(int argc, char **argv)
{
    script_log.started = GetTickCount();
    for (int k = 1; k + 1 < argc; k++) {
        if (strcmp(argv[k], "--log") == 0) {
            snprintf(script_log.path, sizeof script_log.path, "%s", argv[k + 1]);
            DeleteFileA(script_log.path);
        }
    }
}

static inline int script_has_option(int argc, char **argv, const char *option)
{
    for (int k = 1; k < argc; k++)
        if (strcmp(argv[k], option) == 0)
            return 1;
    return 0;
}

// The script options of a command line: --run TEXT, --script FILE, then
// --stdin. Returns 0 when a command ended the script, -1 for an unreadable
// script file, 1 otherwise.
static inline int script_run_options(int argc, char **argv, ScriptCommandFn command)
{
    for (int k = 1; k + 1 < argc; k++) {
        int result = 1;
        if (strcmp(argv[k], "--run") == 0)
            result = script_text(argv[++k], command);
        else if (strcmp(argv[k], "--script") == 0)
            result = script_file(argv[++k], command);
        if (result <= 0)
            return result;
    }
    return script_has_option(argc, argv, "--stdin") ? script_stdin(command) : 1;
}

// Ends the process after `seconds`, so a stand-in left behind by a failed
// test does not run for ever.
static inline DWORD WINAPI script_lifetime_thread(LPVOID seconds)
{
    Sleep((DWORD)(size_t)seconds * 1000);
    ExitProcess(3);
}

static inline void script_limit_lifetime(int argc, char **argv, DWORD default_seconds)
{
    DWORD seconds = default_seconds;
    for (int k = 1; k + 1 < argc; k++)
        if (strcmp(argv[k], "--lifetime") == 0)
            seconds = (DWORD)strtoul(argv[k + 1], 0, 10);
    if (seconds)
        CloseHandle(CreateThread(0, 0, script_lifetime_thread, (LPVOID)(size_t)seconds, 0, 0));
}
