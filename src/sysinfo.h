// The description of the machine written to system.txt at start-up, and the
// Vista flag the network module chooses its statistics source by.
#pragma once
#include <windows.h>
#include <stddef.h>

// 1 when KERNEL32 exports GetProductInfo (Windows Vista and later). Set once
// by describe_system, read elsewhere.
extern int os_is_vista;

// Writes the release, edition, architecture, version numbers, processor count
// and the Vista and WOW64 remarks to system.txt; sets os_is_vista.
void describe_system(void);

// ---- Pieces of describe_system, for tests -----------------------------------

// What the system reports, gathered once.
struct SystemFacts {
    DWORD major;
    DWORD minor;
    DWORD build;
    char service_pack[128];  // szCSDVersion, terminated
    BYTE product_type;       // VER_NT_WORKSTATION (1) or a server type
    WORD architecture;       // wProcessorArchitecture, native where known
    DWORD processors;
    DWORD edition;           // GetProductInfo's product type, 0 when not asked
    int vista;               // GetProductInfo exists
    int wow64;               // 32-bit process on a 64-bit system
};

void gather_system_facts(SystemFacts *facts);

// The edition text for a GetProductInfo product type ("UNKNOWN" for codes
// it does not know, 0 included).
const char *edition_name(DWORD product);

// The description line (release, edition, architecture, version, processor
// count, line end) followed by the remark lines, as written to system.txt.
// Cut to fit size; always terminated.
void format_system_description(const SystemFacts *facts, char *text, size_t size);
