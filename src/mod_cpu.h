// CPU: processor load per core and memory use, as the band meter and as a
// slot page with three sub-pages. See mod_cpu.cpp for the pictures.
#pragma once
#include <windows.h>
#include <stdint.h>

enum {
    CPU_HISTORY_SECONDS = 37, // load_history entries, one a second
    CPU_MAX_CORES = 64,       // processors and fake cores that are drawn at most
    CPU_SUBPAGES = 3,
    CPU_MODES = 6,
};

// Processor performance information, one per processor, as
// NtQuerySystemInformation class 8 returns it. Times in 100 ns units; kernel
// time includes idle time.
struct CpuTimes {
    int64_t idle_time;
    int64_t kernel_time;
    int64_t user_time;
    int64_t dpc_time;
    int64_t interrupt_time;
    uint32_t interrupt_count;
    uint32_t padding;
};
static_assert(sizeof(CpuTimes) == 48, "class 8 record is 48 bytes");

struct CpuModule {
    const char *code = "CPU";
    HMODULE ntdll;                // loaded at start, freed at stop
    CpuTimes *now;                // this tick's sample, cpu_count records
    CpuTimes *prev_interval;      // sample of the last interval tick
    CpuTimes *prev_second;        // sample of the last second tick
    MEMORYSTATUSEX memory;        // refreshed once a second
    int private_pages;            // own working-set pages that are not shared
    int hidden;                   // cpumem_hidden: no band meter
    int interval;                 // cpumem_interval, 1..50 ticks
    int samples;                  // cpumem_samples, 1..50
    int fake_cores;               // cpumem_fakecores, 0..64
    int mode_top, mode_mid, mode_bot; // cpumem_cputop/cpumid/cpubot, 0..5
    int cpu_count;                // processors, 1..CPU_MAX_CORES
    int *core_history;            // cpu_count x samples per-mille, newest first
    int load_history[CPU_HISTORY_SECONDS]; // all-core average, newest first
    int subpage[4];               // sub-page shown in each slot
    FILETIME start_time;          // system time at start
};
static_assert(sizeof(MEMORYSTATUSEX) == 64, "MEMORYSTATUSEX is 64 bytes");

extern CpuModule g_cpu;

typedef LONG(NTAPI *NtQuerySystemInformationFn)(ULONG info_class, PVOID buffer, ULONG length,
                                                PULONG return_length);
// Looked up in NTDLL by cpu_start; null when missing or after cpu_stop.
extern NtQuerySystemInformationFn nt_query_system_information;

// QueryWorkingSet unless a test puts a double here.
typedef BOOL(WINAPI *QueryWorkingSetFn)(HANDLE process, PVOID buffer, DWORD size);
extern QueryWorkingSetFn cpu_query_working_set;

// Module entry points.
void cpu_start(CpuModule *cpu);
void cpu_configure(CpuModule *cpu);
void cpu_poll(CpuModule *cpu);
int cpu_render(CpuModule *cpu, int slot);
void cpu_stop(CpuModule *cpu);

// The band meter (rows 8..20, columns 0..78); 1 when it drew, 0 when hidden
// or inactive.
int cpu_draw_meter(CpuModule *cpu);

// ---- Pieces, plain so tests feed them controlled samples --------------------

// Load in per-mille between an older and a newer record, 0..1000.
int cpu_load(const CpuTimes *older, const CpuTimes *newer);

// The second-tick step with the records already in `now`: average load into
// load_history, now copied to prev_second.
void cpu_second_sample(CpuModule *cpu);
// The interval step: per-core loads into core_history, now to prev_interval.
void cpu_interval_sample(CpuModule *cpu);
// GlobalMemoryStatusEx into memory.
void cpu_refresh_memory(CpuModule *cpu);
// Working-set pages without the Shared bit through cpu_query_working_set;
// private_pages keeps its value when the query gives nothing.
void cpu_count_private_pages(CpuModule *cpu);
// Entries (pointer-sized working-set blocks) whose Shared bit (bit 8) is
// clear; zero entries (never filled in) are not counted.
int cpu_private_entries(const ULONG_PTR *entries, size_t count);

// Cores shown: fake_cores when set, else cpu_count (at most CPU_MAX_CORES).
int cpu_shown_cores(const CpuModule *cpu);
// Average of the history of shown core c (real processor c mod cpu_count).
int cpu_core_average(const CpuModule *cpu, int core);
// The value a meter row shows in `mode` (0..5) from k averages sorted in
// ascending order.
int cpu_meter_value(const int *sorted, int k, int mode);
