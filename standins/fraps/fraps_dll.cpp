// FRAPS64.DLL / FRAPS32.DLL of the FRAPS stand-in. fraps.exe loads it and has
// it set a global WH_CBT hook; Windows then places it into every process that
// creates a window. In each process it exports "FrapsSharedData", whose
// record carries the rate fraps.exe's script sets, and it logs its arrival
// and every call into the stand-in's log.
#include <windows.h>

#include <string.h>

#include "fraps_shared.h"
#include "sensor_blocks.h"
#include "standin_script.h"

static HMODULE self;
static FrapsRecordLayout record; // what FrapsSharedData hands out

// The stand-in's block, mapped for the length of one call; null when
// fraps.exe does not run.
static FrapsStandInBlock *open_block(HANDLE *mapping)
{
    char name[96];
    fraps_standin_block_name(name, sizeof name);
    *mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    FrapsStandInBlock *block =
        *mapping ? (FrapsStandInBlock *)MapViewOfFile(*mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof *block) : 0;
    if (block && block->magic == FRAPS_STANDIN_MAGIC) {
        snprintf(script_log.path, sizeof script_log.path, "%s", block->log_path);
        return block;
    }
    if (block)
        UnmapViewOfFile(block);
    if (*mapping)
        CloseHandle(*mapping);
    return 0;
}

static void close_block(HANDLE mapping, FrapsStandInBlock *block)
{
    UnmapViewOfFile(block);
    CloseHandle(mapping);
}

static void note_arrival(void)
{
    HANDLE mapping;
    FrapsStandInBlock *block = open_block(&mapping);
    if (!block)
        return;
    LONG k = InterlockedIncrement(&block->placed) - 1;
    if (k < FRAPS_STANDIN_PROCESSES)
        block->pids[k] = GetCurrentProcessId();
    char exe[MAX_PATH] = "";
    GetModuleFileNameA(0, exe, sizeof exe);
    script_log_line("placed into pid %lu %s", (unsigned long)GetCurrentProcessId(), exe);
    close_block(mapping, block);
}

extern "C" __declspec(dllexport) const void *WINAPI FrapsSharedData(void)
{
    HANDLE mapping;
    FrapsStandInBlock *block = open_block(&mapping);
    record.size_of_struct = sizeof record;
    record.current_fps = 0; // FRAPS gone: no frames
    int null_record = 0;
    if (block) {
        InterlockedIncrement(&block->calls);
        record.current_fps = block->rate;
        null_record = block->null_record != 0;
        script_log_line("FrapsSharedData pid %lu -> %s %lu", (unsigned long)GetCurrentProcessId(),
                        null_record ? "null" : "rate", (unsigned long)block->rate);
        close_block(mapping, block);
    }
    record.total_frames += record.current_fps;
    return null_record ? 0 : &record;
}

static LRESULT CALLBACK cbt_hook(int code, WPARAM wparam, LPARAM lparam)
{
    return CallNextHookEx(0, code, wparam, lparam);
}

extern "C" __declspec(dllexport) HHOOK fraps_standin_install_hook(void)
{
    return SetWindowsHookExA(WH_CBT, cbt_hook, self, 0);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        DisableThreadLibraryCalls(instance);
        memcpy(record.game_name, "stand-in", 9);
        note_arrival();
    }
    return TRUE;
}
