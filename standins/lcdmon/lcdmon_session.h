// Running the LCD Manager stand-in from a test or a benchmark. A
// StandInSession gives the process a private HKEY_LOCAL_MACHINE (a key under
// HKCU\Software\PixwickTests) and a private instance of the stand-in's shared
// objects, and holds a machine-wide lock, since the LCDMon window has a fixed
// class and title and Ctrl goes into the desktop's key state. Every LCDMon.exe
// started from here ends with this process. The destructor undoes it all.
#pragma once
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "lcdmon_shared.h"

#define STANDIN_TEST_LOCK "Local\\PixwickStandInTestLock"
#define STANDIN_LOCK_WAIT_MS 90000
#define STANDIN_START_WAIT_MS 15000

// <folder of the test program>\standins\lcdmon, or LCDMON_STANDIN_DIR.
static inline int standin_dir(char *dir, size_t size)
{
    DWORD n = GetEnvironmentVariableA("LCDMON_STANDIN_DIR", dir, (DWORD)size);
    if (n > 0 && n < size)
        return 1;
    char exe[MAX_PATH];
    char *slash = GetModuleFileNameA(0, exe, sizeof exe) ? strrchr(exe, '\\') : 0;
    if (!slash)
        return 0;
    *slash = 0;
    int written = snprintf(dir, size, "%s\\standins\\lcdmon", exe);
    return written > 0 && (size_t)written < size;
}

static inline int standin_file(char *path, size_t size, const char *name)
{
    char dir[MAX_PATH];
    if (!standin_dir(dir, sizeof dir))
        return 0;
    int written = snprintf(path, size, "%s\\%s", dir, name);
    return written > 0 && (size_t)written < size && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Bounded poll for a condition that another process brings about.
#define WAIT_UNTIL(condition, timeout_ms)                                      \
    [&]() {                                                                    \
        DWORD wait_start_ = GetTickCount();                                    \
        while (!(condition)) {                                                 \
            if (GetTickCount() - wait_start_ > (DWORD)(timeout_ms))            \
                return false;                                                  \
            Sleep(5);                                                          \
        }                                                                      \
        return true;                                                           \
    }()

struct StandInSession {
    HANDLE test_lock = 0;
    HKEY machine = 0;
    char machine_path[96] = "";
    PROCESS_INFORMATION process = {};
    int ready = 0;

    StandInSession()
    {
        test_lock = CreateMutexA(0, FALSE, STANDIN_TEST_LOCK);
        DWORD got = test_lock ? WaitForSingleObject(test_lock, STANDIN_LOCK_WAIT_MS) : WAIT_FAILED;
        if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
            if (test_lock)
                CloseHandle(test_lock);
            test_lock = 0;
            return;
        }
        unsigned long pid = GetCurrentProcessId();
        char text[64];
        snprintf(text, sizeof text, "T%lu", pid);
        SetEnvironmentVariableA(LCDMON_INSTANCE_VARIABLE, text);
        SetEnvironmentVariableA(LCDMON_PARENT_VARIABLE, text + 1);
        snprintf(machine_path, sizeof machine_path, "Software\\PixwickTests\\Machine%lu", pid);
        RegDeleteTreeA(HKEY_CURRENT_USER, machine_path);
        ready = RegCreateKeyExA(HKEY_CURRENT_USER, machine_path, 0, 0, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, 0,
                                &machine, 0) == ERROR_SUCCESS &&
                RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) == ERROR_SUCCESS;
    }

    ~StandInSession()
    {
        stop();
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, 0);
        if (machine) {
            RegCloseKey(machine);
            RegDeleteTreeA(HKEY_CURRENT_USER, machine_path);
        }
        SetEnvironmentVariableA(LCDMON_INSTANCE_VARIABLE, 0);
        SetEnvironmentVariableA(LCDMON_PARENT_VARIABLE, 0);
        if (test_lock) {
            ReleaseMutex(test_lock);
            CloseHandle(test_lock);
        }
    }

    // Server library, Version and InstallPath of the built stand-in.
    int register_standin()
    {
        char dir[MAX_PATH], server[MAX_PATH];
        if (!standin_dir(dir, sizeof dir) || !standin_file(server, sizeof server, LCDMON_SERVER_DLL))
            return 0;
        return lcdmon_register_server(server, 0) && lcdmon_register_install(LCDMON_VERSION_TEXT, dir);
    }

    int register_server(const char *dll_name)
    {
        char path[MAX_PATH];
        return standin_file(path, sizeof path, dll_name) && lcdmon_register_server(path, 0);
    }

    // Starts LCDMon.exe (hidden, bounded lifetime) and waits until it answers.
    int start(const char *options = "")
    {
        char exe[MAX_PATH], dir[MAX_PATH], command[1024];
        if (!ready || !standin_file(exe, sizeof exe, "LCDMon.exe") || !standin_dir(dir, sizeof dir))
            return 0;
        snprintf(command, sizeof command, "\"%s\" --hidden --lifetime 300 %s", exe, options);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(exe, command, 0, 0, FALSE, 0, 0, dir, &startup, &process)) {
            fprintf(stderr, "cannot start %s: error %lu\n", exe, (unsigned long)GetLastError());
            return 0;
        }
        return WAIT_UNTIL(lcdmon_command("ping", 0, 0, 1000), STANDIN_START_WAIT_MS);
    }

    // Ends the stand-in as a crash would.
    void kill()
    {
        if (!process.hProcess)
            return;
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        process = PROCESS_INFORMATION{};
    }

    void stop()
    {
        if (!process.hProcess)
            return;
        lcdmon_command("hang off", 0, 0, 1000);
        lcdmon_command("quit", 0, 0, 1000);
        WaitForSingleObject(process.hProcess, 2000);
        kill();
    }
};

static inline int standin_command(const char *command, char *reply = 0, size_t reply_size = 0)
{
    return lcdmon_command(command, reply, reply_size, 10000);
}

// One field of the stand-in's block, read under its lock.
template <typename T> static inline int standin_read(T LcdMonBlock::*field, T *value)
{
    LcdMonAccess access;
    if (!lcdmon_attach(&access))
        return 0;
    int ok = lcdmon_lock(access.lock, 2000);
    if (ok) {
        *value = access.block->*field;
        ReleaseMutex(access.lock);
    }
    lcdmon_detach(&access);
    return ok;
}
