// The running program as a whole, against the LCD Manager stand-in: time from
// process start to the first frame the stand-in accepts, then the processor
// time and the private memory of pixwick.exe over SECONDS seconds of normal
// running (top line, meters and four panels).
//
//   bench_run.exe [seconds]
//
// Registers the stand-in of this build in the LCD Manager's registry entries
// for the run and puts the previous values back at the end.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lcdmon_session.h"

static std::string exe_folder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(0, path, sizeof path);
    char *slash = strrchr(path, '\\');
    if (slash)
        *slash = 0;
    return path;
}

struct Saved {
    REGSAM view;
    const char *key;
    const char *name;
    int existed;
    char data[1024];
};

static void save(Saved *v)
{
    HKEY key;
    v->existed = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, v->key, 0, KEY_QUERY_VALUE | v->view, &key) != ERROR_SUCCESS)
        return;
    DWORD size = sizeof v->data - 1, type = 0;
    if (RegQueryValueExA(key, v->name, 0, &type, (BYTE *)v->data, &size) == ERROR_SUCCESS && type == REG_SZ) {
        v->data[size] = 0;
        v->existed = 1;
    }
    RegCloseKey(key);
}

static void restore(const Saved *v)
{
    if (v->existed) {
        lcdmon_write_text(HKEY_LOCAL_MACHINE, v->key, v->view, v->name, v->data);
        return;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, v->key, 0, KEY_SET_VALUE | v->view, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, v->name);
        RegCloseKey(key);
    }
}

static int start(const std::string &exe, const std::string &args, const std::string &dir, PROCESS_INFORMATION *p)
{
    std::string command = "\"" + exe + "\" " + args;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(exe.c_str(), &command[0], 0, 0, FALSE, 0, 0, dir.c_str(), &startup, p);
}

static uint32_t accepted_frames(void)
{
    uint32_t n = 0;
    LcdMonAccess access;
    if (!lcdmon_attach(&access))
        return 0;
    if (lcdmon_lock(access.lock, 1000)) {
        n = access.block->frames_total;
        ReleaseMutex(access.lock);
    }
    lcdmon_detach(&access);
    return n;
}

static double cpu_seconds(HANDLE process)
{
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user))
        return -1;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 1e7;
}

// Under Wine the Windows process is a host process too; its host view (the
// /proc files through drive Z:) gives processor ticks and the anonymous
// resident memory when the Windows calls answer nothing.
static int host_pid_of(const char *program)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int pid = 0;
    do {
        int candidate = atoi(found.cFileName);
        if (candidate <= 0)
            continue;
        char path[64], line[512] = "";
        snprintf(path, sizeof path, "Z:\\proc\\%d\\cmdline", candidate);
        FILE *f = fopen(path, "rb");
        if (!f)
            continue;
        size_t n = fread(line, 1, sizeof line - 1, f);
        fclose(f);
        line[n] = 0;
        if (strstr(line, program))
            pid = candidate;
    } while (!pid && FindNextFileA(search, &found));
    FindClose(search);
    return pid;
}

// utime + stime in seconds, -1 when unknown
static double host_cpu_seconds(int pid)
{
    char path[64], text[1024] = "";
    snprintf(path, sizeof path, "Z:\\proc\\%d\\stat", pid);
    FILE *f = fopen(path, "rb");
    if (!f)
        return -1;
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = 0;
    const char *p = strrchr(text, ')');
    if (!p)
        return -1;
    unsigned long long utime = 0, stime = 0;
    // fields 3..13 after the name, then utime (14) and stime (15)
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
        return -1;
    return (double)(utime + stime) / 100.0; // USER_HZ
}

static double host_anonymous_mb(int pid)
{
    char path[64], line[256];
    snprintf(path, sizeof path, "Z:\\proc\\%d\\status", pid);
    FILE *f = fopen(path, "rb");
    if (!f)
        return -1;
    double mb = -1;
    while (fgets(line, sizeof line, f))
        if (strncmp(line, "RssAnon:", 8) == 0)
            mb = atof(line + 8) / 1024.0;
    fclose(f);
    return mb;
}

int main(int argc, char **argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 60;
    if (seconds < 1)
        seconds = 60;
    if (FindWindowA("PixwickWnd", 0)) {
        printf("a Pixwick runs already in this prefix\n");
        return 1;
    }
    char text[64];
    snprintf(text, sizeof text, "Bench%lu", (unsigned long)GetCurrentProcessId());
    SetEnvironmentVariableA(LCDMON_INSTANCE_VARIABLE, text);
    snprintf(text, sizeof text, "%lu", (unsigned long)GetCurrentProcessId());
    SetEnvironmentVariableA(LCDMON_PARENT_VARIABLE, text);

    Saved saved[] = {
        {0, LCDMON_SERVER_BINARY_KEY, 0, 0, ""},
        {KEY_WOW64_64KEY, LCDMON_CURRENT_VERSION_KEY, "Version", 0, ""},
        {KEY_WOW64_64KEY, LCDMON_CURRENT_VERSION_KEY, "InstallPath", 0, ""},
        {KEY_WOW64_32KEY, LCDMON_CURRENT_VERSION_KEY, "Version", 0, ""},
        {KEY_WOW64_32KEY, LCDMON_CURRENT_VERSION_KEY, "InstallPath", 0, ""},
    };
    for (Saved &v : saved)
        save(&v);

    char dir[MAX_PATH], server[MAX_PATH], lcdmon_exe[MAX_PATH];
    if (!standin_dir(dir, sizeof dir) || !standin_file(server, sizeof server, LCDMON_SERVER_DLL) ||
        !standin_file(lcdmon_exe, sizeof lcdmon_exe, "LCDMon.exe")) {
        printf("stand-in not built\n");
        return 1;
    }
    lcdmon_register_server(server, 0);
    lcdmon_register_install(LCDMON_VERSION_TEXT, dir);

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string work = std::string(temp) + "pixwick_bench_" + text;
    CreateDirectoryA(work.c_str(), 0);
    std::string config = work + "\\pixwick.txt";
    FILE *f = fopen(config.c_str(), "wb");
    if (f) {
        fputs("slot_0 CPU\nslot_1 CLK\nslot_2 STW\nslot_3 CPU+\n", f);
        fclose(f);
    }

    PROCESS_INFORMATION lcdmon = {}, program = {};
    int status = 1;
    if (!start(lcdmon_exe, "--hidden --lifetime 600", dir, &lcdmon) ||
        !WAIT_UNTIL(lcdmon_command("ping", 0, 0, 1000), STANDIN_START_WAIT_MS)) {
        printf("stand-in did not start\n");
    } else {
        LARGE_INTEGER frequency, t0, t1;
        QueryPerformanceFrequency(&frequency);
        uint32_t before = accepted_frames();
        QueryPerformanceCounter(&t0);
        if (start(exe_folder() + "\\pixwick.exe", "", work, &program) &&
            WAIT_UNTIL(accepted_frames() > before, 30000)) {
            QueryPerformanceCounter(&t1);
            printf("start-up to first frame: %.0f ms\n",
                   (double)(t1.QuadPart - t0.QuadPart) * 1000.0 / (double)frequency.QuadPart);
            Sleep(6000); // past the slide-in
            int host = host_pid_of("\\pixwick.exe");
            double cpu0 = cpu_seconds(program.hProcess), host0 = host ? host_cpu_seconds(host) : -1;
            uint32_t frames0 = accepted_frames();
            DWORD wall0 = GetTickCount();
            Sleep((DWORD)seconds * 1000);
            double cpu1 = cpu_seconds(program.hProcess), host1 = host ? host_cpu_seconds(host) : -1;
            double wall = (GetTickCount() - wall0) / 1000.0;
            uint32_t frames = accepted_frames() - frames0;
            PROCESS_MEMORY_COUNTERS_EX memory = {};
            memory.cb = sizeof memory;
            GetProcessMemoryInfo(program.hProcess, (PROCESS_MEMORY_COUNTERS *)&memory, sizeof memory);
            printf("over %.0f s: %u frames (%.1f/s), processor %.2f%% of one core\n", wall, frames,
                   frames / wall, cpu0 < 0 ? -1.0 : (cpu1 - cpu0) / wall * 100.0);
            printf("private memory %.2f MB, working set %.2f MB\n", memory.PrivateUsage / 1048576.0,
                   memory.WorkingSetSize / 1048576.0);
            if (host0 >= 0 && host1 >= 0)
                printf("host view: processor %.2f%% of one core, anonymous resident memory %.2f MB\n",
                       (host1 - host0) / wall * 100.0, host_anonymous_mb(host));
            status = 0;
        } else {
            printf("no frame from pixwick.exe\n");
        }
    }

    if (program.hProcess) {
        lcdmon_command("buttons 15", 0, 0, 2000);
        if (WaitForSingleObject(program.hProcess, 5000) != WAIT_OBJECT_0)
            TerminateProcess(program.hProcess, 1);
        lcdmon_command("buttons 0", 0, 0, 2000);
        CloseHandle(program.hProcess);
        CloseHandle(program.hThread);
    }
    if (lcdmon.hProcess) {
        lcdmon_command("quit", 0, 0, 2000);
        if (WaitForSingleObject(lcdmon.hProcess, 3000) != WAIT_OBJECT_0)
            TerminateProcess(lcdmon.hProcess, 1);
        CloseHandle(lcdmon.hProcess);
        CloseHandle(lcdmon.hThread);
    }
    for (const Saved &v : saved)
        restore(&v);
    DeleteFileA(config.c_str());
    RemoveDirectoryA(work.c_str());
    return status;
}
