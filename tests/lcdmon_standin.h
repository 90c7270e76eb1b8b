// Running the LCD Manager stand-in (standins/lcdmon) from a test.
//
// A StandInSession gives the test process its own little world, so tests in
// parallel processes do not meet:
//   - HKEY_LOCAL_MACHINE of this process is redirected to a private key
//     (HKCU\Software\PixwickTests\Machine<pid>), where the session registers the stand-in's server library and
//     install data (or whatever the test writes there);
//   - LCDMON_STANDIN_INSTANCE names a private instance of the shared objects;
//     LCDMON_STANDIN_PARENT makes every LCDMon.exe started from here (also by
//     launch_lcdmon) end when this process ends;
//   - a machine-wide test lock is held while a stand-in may run, because the
//     LCDMon window has a fixed class and title and Ctrl is injected into
//     the desktop's key state.
// The destructor ends the stand-in and undoes all of it, also after a failed
// assertion.
#pragma once
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "../standins/lcdmon/lcdmon_shared.h"

#define STANDIN_TEST_LOCK "Local\\PixwickStandInTestLock"
#define STANDIN_LOCK_WAIT_MS 90000
#define STANDIN_START_WAIT_MS 15000

// Folder of the built stand-ins: <folder of the test program>\standins\lcdmon,
// or LCDMON_STANDIN_DIR when set.
static inline int standin_dir(char *dir, size_t size)
{
    DWORD n = GetEnvironmentVariableA("LCDMON_STANDIN_DIR", dir, (DWORD)size);
    if (n > 0 && n < size)
        return 1;
    char exe[MAX_PATH];
    if (!GetModuleFileNameA(0, exe, sizeof exe))
        return 0;
    char *slash = strrchr(exe, '\\');
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
    HKEY machine = 0;          // the private stand-in for HKEY_LOCAL_MACHINE
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
        char text[64];
        snprintf(text, sizeof text, "T%lu", (unsigned long)GetCurrentProcessId());
        SetEnvironmentVariableA(LCDMON_INSTANCE_VARIABLE, text);
        snprintf(text, sizeof text, "%lu", (unsigned long)GetCurrentProcessId());
        SetEnvironmentVariableA(LCDMON_PARENT_VARIABLE, text);
        snprintf(machine_path, sizeof machine_path, "Software\\PixwickTests\\Machine%lu",
                 (unsigned long)GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, machine_path);
        if (RegCreateKeyExA(HKEY_CURRENT_USER, machine_path, 0, 0, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, 0,
                            &machine, 0) != ERROR_SUCCESS)
            return;
        if (RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) != ERROR_SUCCESS)
            return;
        ready = 1;
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

    // Registers the built stand-in in the private registry: its server
    // library, Version and InstallPath (the stand-in folder).
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
        if (!standin_file(path, sizeof path, dll_name))
            return 0;
        return lcdmon_register_server(path, 0);
    }

    // Starts LCDMon.exe with extra options (hidden, bounded lifetime) and
    // waits until it answers. 1 when it runs.
    int start(const char *options = "")
    {
        char exe[MAX_PATH], dir[MAX_PATH], command[1024];
        if (!ready || !standin_file(exe, sizeof exe, "LCDMon.exe") || !standin_dir(dir, sizeof dir))
            return 0;
        snprintf(command, sizeof command, "\"%s\" --hidden --lifetime 300 %s", exe, options);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(exe, command, 0, 0, FALSE, 0, 0, dir, &startup, &process))
            return 0;
        return WAIT_UNTIL(lcdmon_command("ping", 0, 0, 1000), STANDIN_START_WAIT_MS);
    }

    // Ends the stand-in the hard way, as a crash or a kill would.
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

    // Asks it to quit; kills it when it does not end within two seconds.
    void stop()
    {
        if (!process.hProcess)
            return;
        lcdmon_command("hang off", 0, 0, 1000);
        lcdmon_command("quit", 0, 0, 1000);
        if (WaitForSingleObject(process.hProcess, 2000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        kill();
    }
};

// Handles open in this process. Wine does not answer GetProcessHandleCount,
// so then the handle values are probed one by one.
static inline DWORD standin_handle_count(void)
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    int misses = 0;
    for (ULONG_PTR value = 4; misses < 1024; value += 4) {
        DWORD flags;
        if (GetHandleInformation((HANDLE)value, &flags)) {
            count++;
            misses = 0;
        } else {
            misses++;
        }
    }
    return count;
}

// Sends a command to this session's stand-in; 1 on success.
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
