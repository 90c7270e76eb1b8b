// The FRAPS stand-in: what its process (fraps.exe) and its library
// (FRAPS64.DLL, FRAPS32.DLL), placed into other processes, share: one named
// block of fixed-width fields, so a 32-bit library and a 64-bit process read
// it alike. Its name carries FRAPS_STANDIN_INSTANCE from the environment
// (empty when unset), so tests can each run their own.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#define FRAPS_STANDIN_INSTANCE "FRAPS_STANDIN_INSTANCE"
#define FRAPS_STANDIN_MAGIC 0x53505246u // "FRPS"
#define FRAPS_STANDIN_PROCESSES 16

#ifdef _WIN64
#define FRAPS_STANDIN_DLL "FRAPS64.DLL"
#else
#define FRAPS_STANDIN_DLL "FRAPS32.DLL"
#endif

struct FrapsStandInBlock {
    uint32_t magic;
    uint32_t rate;        // what FrapsSharedData reports
    uint32_t null_record; // 1: FrapsSharedData returns null
    volatile LONG calls;  // FrapsSharedData calls, all processes
    volatile LONG placed; // processes the library was placed into (entries of pids used)
    uint32_t pids[FRAPS_STANDIN_PROCESSES];
    char log_path[MAX_PATH]; // where every process logs; empty: no log
};
static_assert(sizeof(FrapsStandInBlock) == 20 + 4 * FRAPS_STANDIN_PROCESSES + MAX_PATH, "fixed layout");

static inline void fraps_standin_block_name(char *name, size_t size)
{
    char instance[64] = "";
    DWORD n = GetEnvironmentVariableA(FRAPS_STANDIN_INSTANCE, instance, sizeof instance);
    if (n >= sizeof instance)
        instance[0] = 0;
    snprintf(name, size, "Local\\FrapsStandIn%s", instance);
}

// The library's exports besides FrapsSharedData, called by fraps.exe.
typedef HHOOK (*FrapsStandInInstallFn)(void);
#define FRAPS_STANDIN_INSTALL "fraps_standin_install_hook"
