// The session script both TeamSpeak stand-ins play, and their log.
//
// One step per line; words are separated by blanks, "double quotes" keep
// blanks inside one word, a line starting with # is a comment. Steps every
// stand-in knows:
//   wait MS      let MS milliseconds pass (requests are still served)
//   mark NAME    write "mark NAME" to the log; a test waits for that line
//   await NAME   wait until the event Local\PixwickTsStandIn.NAME is set
//                (ts_signal() sets it from a test), then reset it
//   quit         end, as the client ending looks from outside
// Each stand-in adds its own steps (README.md). Steps appended to the script
// while it runs are played as they come. It serves until --lifetime has
// passed or the process named by --parent or LCDMON_STANDIN_PARENT (a test)
// has ended; an await ends then as well.
#pragma once
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define TS_EVENT_PREFIX "Local\\PixwickTsStandIn."
#define TS_PARENT_VARIABLE "LCDMON_STANDIN_PARENT"
#define TS_MAX_WORDS 8
#define TS_SERVE_MS 10
#define TS_POLL_MS 50 // for steps appended to the script
#define TS_DEFAULT_LIFETIME_S 300

struct TsRun {
    FILE *log;
    DWORD start;
    DWORD lifetime_ms;
    HANDLE parent;
    int quit;
    const char *script;
    void *program;
    // The program's own steps: 1 when the step was known and well-formed.
    int (*step)(void *program, char **words, int count);
    // Called every TS_SERVE_MS: requests of the client, window messages.
    void (*serve)(void *program);
};

static inline void ts_log(TsRun *run, const char *format, ...)
{
    if (!run->log)
        return;
    va_list args;
    va_start(args, format);
    fprintf(run->log, "%7lu ms  ", (unsigned long)(GetTickCount() - run->start));
    vfprintf(run->log, format, args);
    fputc('\n', run->log);
    fflush(run->log);
    va_end(args);
}

static inline int ts_split(char *line, char **words, int max_words)
{
    int n = 0;
    char *p = line;
    while (*p && n < max_words) {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
            p++;
        if (!*p)
            break;
        if (*p == '"') {
            words[n++] = ++p;
            while (*p && *p != '"')
                p++;
        } else {
            words[n++] = p;
            while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
                p++;
        }
        if (*p)
            *p++ = 0;
    }
    return n;
}

static inline int ts_alive(const TsRun *run)
{
    if (run->quit || GetTickCount() - run->start >= run->lifetime_ms)
        return 0;
    return !run->parent || WaitForSingleObject(run->parent, 0) == WAIT_TIMEOUT;
}

// Serves for ms milliseconds, or until `event` is set when there is one.
// 0 when the stand-in is to end.
static inline int ts_wait(TsRun *run, DWORD ms, HANDLE event)
{
    DWORD begin = GetTickCount();
    for (;;) {
        run->serve(run->program);
        if (!ts_alive(run))
            return 0;
        if (event ? WaitForSingleObject(event, 0) == WAIT_OBJECT_0 : GetTickCount() - begin >= ms)
            return 1;
        Sleep(TS_SERVE_MS);
    }
}

static inline HANDLE ts_event(const char *name)
{
    char full[128];
    snprintf(full, sizeof full, "%s%s", TS_EVENT_PREFIX, name);
    return CreateEventA(0, TRUE, FALSE, full);
}

// Sets the event an "await NAME" step waits for, and waits until the
// stand-in has taken it (reset it), so that no signal is lost or left over.
static inline int ts_signal(const char *name, DWORD timeout_ms = 10000)
{
    HANDLE event = ts_event(name);
    int taken = event && SetEvent(event);
    for (DWORD start = GetTickCount(); taken && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; Sleep(5))
        taken = GetTickCount() - start < timeout_ms;
    if (event)
        CloseHandle(event);
    return taken;
}

static inline int ts_common_step(TsRun *run, char **words, int n)
{
    if (strcmp(words[0], "wait") == 0 && n == 2)
        return ts_wait(run, (DWORD)strtoul(words[1], 0, 10), 0), 1;
    if (strcmp(words[0], "mark") == 0 && n == 2)
        return ts_log(run, "mark %s", words[1]), 1;
    if (strcmp(words[0], "quit") == 0 && n == 1)
        return run->quit = 1, 1;
    if (strcmp(words[0], "await") == 0 && n == 2) {
        HANDLE event = ts_event(words[1]);
        if (event) {
            if (ts_wait(run, 0, event))
                ResetEvent(event);
            CloseHandle(event);
        }
        return 1;
    }
    return 0;
}

// Plays the script, and the steps appended to it as they come, until the
// end of the stand-in's life. 1 when every step was understood.
static inline int ts_play(TsRun *run)
{
    int ok = 1;
    FILE *file = run->script ? fopen(run->script, "rb") : 0;
    if (run->script && !file) {
        ts_log(run, "cannot read the script %s", run->script);
        ok = 0;
    }
    char line[512];
    while (ts_alive(run)) {
        long at = file ? ftell(file) : 0;
        // a line counts once it ends with a line feed (or fills the buffer)
        if (!file || !fgets(line, sizeof line, file) || (!strchr(line, '\n') && strlen(line) < sizeof line - 1)) {
            if (file) {
                clearerr(file);
                fseek(file, at, SEEK_SET);
            }
            ts_wait(run, TS_POLL_MS, 0);
            continue;
        }
        char *words[TS_MAX_WORDS];
        int n = ts_split(line, words, TS_MAX_WORDS);
        if (n == 0 || words[0][0] == '#')
            continue;
        if (!ts_common_step(run, words, n) && !run->step(run->program, words, n)) {
            ts_log(run, "bad step: %s", words[0]);
            ok = 0;
        }
        run->serve(run->program);
    }
    if (file)
        fclose(file);
    ts_log(run, "end");
    return ok;
}

// --script FILE, --log FILE, --lifetime SECONDS, --parent PID (instead of
// LCDMON_STANDIN_PARENT); *i is moved past what was taken. 0 when argv[*i]
// is none of them.
static inline int ts_common_option(TsRun *run, int argc, char **argv, int *i)
{
    if (*i + 1 >= argc)
        return 0;
    const char *option = argv[*i], *value = argv[*i + 1];
    if (strcmp(option, "--script") == 0)
        run->script = value;
    else if (strcmp(option, "--log") == 0)
        run->log = fopen(value, "ab");
    else if (strcmp(option, "--lifetime") == 0)
        run->lifetime_ms = (DWORD)strtoul(value, 0, 10) * 1000;
    else if (strcmp(option, "--parent") == 0) {
        if (run->parent)
            CloseHandle(run->parent);
        run->parent = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)strtoul(value, 0, 10));
    }
    else
        return 0;
    *i += 1;
    return 1;
}

static inline void ts_run_init(TsRun *run, void *program, int (*step)(void *, char **, int),
                               void (*serve)(void *))
{
    memset(run, 0, sizeof *run);
    run->start = GetTickCount();
    run->lifetime_ms = TS_DEFAULT_LIFETIME_S * 1000;
    run->program = program;
    run->step = step;
    run->serve = serve;
    char text[32];
    DWORD n = GetEnvironmentVariableA(TS_PARENT_VARIABLE, text, sizeof text);
    if (n > 0 && n < sizeof text)
        run->parent = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)strtoul(text, 0, 10));
}

static inline void ts_run_close(TsRun *run)
{
    if (run->log)
        fclose(run->log);
    if (run->parent)
        CloseHandle(run->parent);
    run->log = 0;
    run->parent = 0;
}
