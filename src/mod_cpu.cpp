// CPU: processor load per core and memory use.
//
// The band meter, rows 8..20, columns 0..78 (bars grow from column 19, 59
// pixels is 100 %; the three processor rows show the values chosen by
// cpumem_cputop, cpumem_cpumid and cpumem_cpubot):
//
//    col 0             19                                                          78
//     XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX   row 8
//    XX    X    XX XXX X                                                           X
//    X XXXXX XXX X XXX X##############################                             X  top
//    X XXXXX    XX XXX X######################                                     X  mid
//    X XXXXX XXXXX XXX X###################################                        X  bot
//    XX    X XXXXXX   XX                                                           X
//     XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX   row 14
//    X XXX X     X XXX X                                                           X
//    X  X  X XXXXX  X  X#################                                          X  memory
//    X X X X   XXX X X X#################                                          X
//    X XXX X XXXXX XXX X#################                                          X
//    X XXX X     X XXX X                                                           X
//     XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX   row 20
//
// The slot page, 39 x 21 from the panel's corner (x, y); the load of the
// last second is right-aligned on line 1, the rest depends on the sub-page
// (a short press steps 0 -> 1 -> 2 -> 0; a single processor skips 0). Rows
// are not to scale:
//
//    +CPU----------------------------------+      +CPU----------------------------------+
//    |CPU|                           12.5% |      |CPU|                           12.5% |
//    |                                     |      |                    #     #         #|
//    |#############                        |      |    #   #     #     ##    #  #     ##|
//    |                                     |      |#  ### ###  ###  # ###   ## ### # ###|
//    |########################             |      |#########################  ##########|
//    0: k <= 7 cores as horizontal bars          1: 37 s of load, newest at the right
//       (37 px = 100 %), k >= 8 as columns          (14 px = 100 %)
//       (14 px = 100 %)
//
//    +CPU----------------------------------+
//    |CPU|                           12.5% |
//    | PHYS                           1.2G |     2: free physical memory and free
//    | VIRT                           3.4G |        page file
//
// Long press: three pop-ups, the running time, the program's own processor use
// and its own memory.
#include "mod_cpu.h"

#include <psapi.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "config.h"
#include "format.h"
#include "lcd.h"
#include "slots.h"
#include "popup.h"

CpuModule g_cpu;
NtQuerySystemInformationFn nt_query_system_information = 0;
QueryWorkingSetFn cpu_query_working_set = QueryWorkingSet;

enum {
    SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION = 8,
    MAX_TICKS = 50,
    FILETIME_PER_SECOND = 10000000,
    PAGE_BYTES = 4096,
    POPUP_MS = 1000,
    POPUP_MEMORY = 11,
    POPUP_UPTIME = 13,
    POPUP_OWN_CPU = 14,
    WORKING_SET_SHARED = 0x100,
};

// Band meter geometry.
enum {
    METER_TOP = 8,
    METER_MIDDLE = 14,
    METER_BOTTOM = 20,
    METER_RIGHT = 78,
    METER_BAR_LEFT = 19,
    METER_BAR_PIXELS = 59,
    METER_CPU_ROW = 10, // three rows: top, mid, bot modes
    METER_MEM_ROW = 16, // three rows
};

// Panel geometry, relative to the slot's corner.
enum {
    PANEL_INNER = 37,      // columns x+1 .. x+37
    PANEL_BOTTOM = 20,     // row y+20
    BARS_TOP = 8,          // horizontal core bars start at row y+8
    BARS_SPAN = 14,        // rows for horizontal bars, pixels of a full column
    VERTICAL_FROM_CORES = 8,
};

static const char METER_LABEL[] = // 19 x 13: CPU and MEM, dark letters on lit ground
    " XXXXXXXXXXXXXXXXX "
    "XX    X    XX XXX X"
    "X XXXXX XXX X XXX X"
    "X XXXXX    XX XXX X"
    "X XXXXX XXXXX XXX X"
    "XX    X XXXXXX   XX"
    " XXXXXXXXXXXXXXXXX "
    "X XXX X     X XXX X"
    "X  X  X XXXXX  X  X"
    "X X X X   XXX X X X"
    "X XXX X XXXXX XXX X"
    "X XXX X     X XXX X"
    " XXXXXXXXXXXXXXXXX ";

static const char MEMORY_PICTURE[] = // 15 x 12: PHYS over VIRT
    "XX  X X X X  XX"
    "X X X X X X X  "
    "XX  XXX  X   X "
    "X   X X  X    X"
    "X   X X  X  XX "
    "               "
    "               "
    "X X X XX  XXX  "
    "X X X X X  X   "
    "X X X XX   X   "
    "X X X X X  X   "
    " X  X X X  X   ";

static_assert(sizeof METER_LABEL == 19 * 13 + 1, "meter label is 19 x 13");
static_assert(sizeof MEMORY_PICTURE == 15 * 12 + 1, "memory picture is 15 x 12");

// ---------------------------------------------------------------------------
// Sampling

int cpu_load(const CpuTimes *older, const CpuTimes *newer)
{
    int64_t busy = (newer->kernel_time + newer->user_time) - (older->kernel_time + older->user_time);
    if (busy == 0)
        return 0;
    int64_t load = 1000 - (newer->idle_time - older->idle_time) * 1000 / busy;
    // counters that run backwards must not make bars longer than their room
    if (load < 0)
        return 0;
    return load > 1000 ? 1000 : (int)load;
}

void cpu_second_sample(CpuModule *cpu)
{
    if (!cpu->now || !cpu->prev_second)
        return;
    int64_t sum = 0;
    for (int i = 0; i < cpu->cpu_count; i++)
        sum += cpu_load(&cpu->prev_second[i], &cpu->now[i]);
    memcpy(cpu->prev_second, cpu->now, sizeof(CpuTimes) * (size_t)cpu->cpu_count);
    memmove(cpu->load_history + 1, cpu->load_history,
            sizeof cpu->load_history - sizeof cpu->load_history[0]);
    cpu->load_history[0] = (int)(sum / cpu->cpu_count);
}

void cpu_interval_sample(CpuModule *cpu)
{
    if (!cpu->now || !cpu->prev_interval || !cpu->core_history)
        return;
    const int n = cpu->samples;
    for (int i = 0; i < cpu->cpu_count; i++) {
        int *history = cpu->core_history + (size_t)i * n;
        memmove(history + 1, history, sizeof(int) * (size_t)(n - 1));
        history[0] = cpu_load(&cpu->prev_interval[i], &cpu->now[i]);
    }
    memcpy(cpu->prev_interval, cpu->now, sizeof(CpuTimes) * (size_t)cpu->cpu_count);
}

void cpu_refresh_memory(CpuModule *cpu)
{
    memset(&cpu->memory, 0, sizeof cpu->memory);
    cpu->memory.dwLength = sizeof cpu->memory;
    GlobalMemoryStatusEx(&cpu->memory);
}

int cpu_private_entries(const ULONG_PTR *entries, size_t count)
{
    int n = 0;
    for (size_t i = 0; i < count; i++)
        if (entries[i] && !(entries[i] & WORKING_SET_SHARED))
            n++;
    return n;
}

// The working-set list is a pointer-sized entry count followed by one
// pointer-sized block per page (the same layout on 32-bit and 64-bit
// Windows, with the width of the process).
void cpu_count_private_pages(CpuModule *cpu)
{
    ULONG_PTR header[2] = {0, 0};
    cpu_query_working_set(GetCurrentProcess(), header, sizeof header);
    SetLastError(0); // too small a buffer is the expected answer
    const size_t n = header[0];
    if (n == 0 || n > (size_t)0x7fffffff / sizeof(ULONG_PTR) - 2)
        return;
    const size_t bytes = sizeof(ULONG_PTR) * (n + 1);
    ULONG_PTR *list = (ULONG_PTR *)calloc(1, bytes);
    if (!list)
        return;
    cpu_query_working_set(GetCurrentProcess(), list, (DWORD)bytes);
    SetLastError(0);
    size_t filled = list[0] < n ? list[0] : n; // the set may have grown meanwhile
    cpu->private_pages = cpu_private_entries(list + 1, filled);
    free(list);
}

void cpu_poll(CpuModule *cpu)
{
    if (!nt_query_system_information || !cpu->now)
        return;
    ULONG returned = 0;
    nt_query_system_information(SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION, cpu->now,
                                (ULONG)(sizeof(CpuTimes) * (size_t)cpu->cpu_count), &returned);
    if (second_tick) {
        cpu_second_sample(cpu);
        cpu_refresh_memory(cpu);
        cpu_count_private_pages(cpu);
    }
    if ((unsigned)tick_count % (unsigned)cpu->interval == 0)
        cpu_interval_sample(cpu);
}

// ---------------------------------------------------------------------------
// Life cycle

static void free_arrays(CpuModule *cpu)
{
    free(cpu->now);
    free(cpu->prev_interval);
    free(cpu->prev_second);
    free(cpu->core_history);
    cpu->now = cpu->prev_interval = cpu->prev_second = 0;
    cpu->core_history = 0;
}

// strtoul base 10 read as a signed number and limited to lo..hi; negative
// values become `negative`. A missing key gives `default_value`.
static int read_limited(const char *key, int lo, int hi, int negative, int default_value)
{
    if (!config_get(&g_config, key))
        return default_value;
    int v = (int)config_get_uint(&g_config, key, 0);
    return v < 0 ? negative : v < lo ? lo : v > hi ? hi : v;
}

void cpu_configure(CpuModule *cpu)
{
    free_arrays(cpu);
    cpu->hidden = (int)config_get_uint(&g_config, "cpumem_hidden", 0);
    cpu->interval = read_limited("cpumem_interval", 1, MAX_TICKS, 1, 1);
    cpu->samples = read_limited("cpumem_samples", 1, MAX_TICKS, 1, 3);
    cpu->mode_top = read_limited("cpumem_cputop", 0, CPU_MODES - 1, 0, 0);
    cpu->mode_mid = read_limited("cpumem_cpumid", 0, CPU_MODES - 1, 0, 0);
    cpu->mode_bot = read_limited("cpumem_cpubot", 0, CPU_MODES - 1, 0, 0);
    cpu->fake_cores = read_limited("cpumem_fakecores", 0, CPU_MAX_CORES, 0, 0);
    for (int i = 0; i < SLOT_COUNT; i++)
        cpu->subpage[i] = slot_variant(&g_slots[i], "CPU");

    const size_t count = (size_t)cpu->cpu_count;
    cpu->now = (CpuTimes *)calloc(count, sizeof(CpuTimes));
    cpu->prev_interval = (CpuTimes *)calloc(count, sizeof(CpuTimes));
    cpu->prev_second = (CpuTimes *)calloc(count, sizeof(CpuTimes));
    cpu->core_history = (int *)calloc(count * (size_t)cpu->samples, sizeof(int));
    if (!cpu->now || !cpu->prev_interval || !cpu->prev_second || !cpu->core_history)
        free_arrays(cpu);
}

void cpu_start(CpuModule *cpu)
{
    cpu->ntdll = LoadLibraryA("NTDLL.DLL");
    if (!cpu->ntdll)
        return;
    nt_query_system_information =
        (NtQuerySystemInformationFn)(void *)GetProcAddress(cpu->ntdll, "NtQuerySystemInformation");
    if (!nt_query_system_information) {
        FreeLibrary(cpu->ntdll);
        cpu->ntdll = 0;
        return;
    }
    cpu->private_pages = 0;
    free_arrays(cpu);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    int count = (int)info.dwNumberOfProcessors;
    cpu->cpu_count = count < 1 ? 1 : count > CPU_MAX_CORES ? CPU_MAX_CORES : count;
    memset(cpu->load_history, 0, sizeof cpu->load_history);
    memset(&cpu->memory, 0, sizeof cpu->memory);
    memset(cpu->subpage, 0, sizeof cpu->subpage);
    GetSystemTimeAsFileTime(&cpu->start_time);
    cpu_configure(cpu);
}

void cpu_stop(CpuModule *cpu)
{
    free_arrays(cpu);
    if (cpu->ntdll)
        FreeLibrary(cpu->ntdll);
    cpu->ntdll = 0;
    nt_query_system_information = 0;
}

// ---------------------------------------------------------------------------
// Values shown

int cpu_shown_cores(const CpuModule *cpu)
{
    int k = cpu->fake_cores ? cpu->fake_cores : cpu->cpu_count;
    return k < 1 ? 1 : k > CPU_MAX_CORES ? CPU_MAX_CORES : k;
}

int cpu_core_average(const CpuModule *cpu, int core)
{
    if (!cpu->core_history || cpu->cpu_count < 1 || cpu->samples < 1 || core < 0)
        return 0;
    const int *history = cpu->core_history + (size_t)(core % cpu->cpu_count) * cpu->samples;
    int64_t sum = 0;
    for (int j = 0; j < cpu->samples; j++)
        sum += history[j];
    return (int)(sum / cpu->samples);
}

static int mean_of(const int *values, int count)
{
    if (count <= 0)
        return 0;
    int64_t sum = 0;
    for (int i = 0; i < count; i++)
        sum += values[i];
    return (int)(sum / count);
}

int cpu_meter_value(const int *sorted, int k, int mode)
{
    if (k <= 0)
        return 0;
    const int half = k / 2;
    if (k == 1)
        return sorted[0];
    switch (mode) {
    case 1:
        return mean_of(sorted + half, k - half);
    case 2:
        return mean_of(sorted, half);
    case 3:
        return k & 1 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
    case 4:
        return sorted[k - 1];
    case 5:
        return sorted[0];
    default:
        return mean_of(sorted, k);
    }
}

static int core_averages(const CpuModule *cpu, int *averages)
{
    const int k = cpu_shown_cores(cpu);
    for (int c = 0; c < k; c++)
        averages[c] = cpu_core_average(cpu, c);
    return k;
}

static void sort_ascending(int *values, int count)
{
    for (int i = 1; i < count; i++) {
        int v = values[i], j = i;
        for (; j > 0 && values[j - 1] > v; j--)
            values[j] = values[j - 1];
        values[j] = v;
    }
}

// ---------------------------------------------------------------------------
// Drawing

static void light_row(uint8_t *frame, int y, int x0, int x1)
{
    for (int x = x0; x <= x1; x++)
        frame_put(frame, x, y, 255);
}

static void light_column_up(uint8_t *frame, int x, int bottom, int height)
{
    for (int r = 0; r < height; r++)
        frame_put(frame, x, bottom - r, 255);
}

int cpu_draw_meter(CpuModule *cpu)
{
    if (cpu->hidden || !cpu->core_history)
        return 0;
    uint8_t *frame = g_lcd.frame;
    lcd_bitmap(&g_lcd, 0, 0, METER_TOP, 19, 13, METER_LABEL);
    if (!frame)
        return 1;
    light_row(frame, METER_TOP, 2, METER_RIGHT - 1);
    light_row(frame, METER_MIDDLE, 2, METER_RIGHT - 1);
    light_row(frame, METER_BOTTOM, 2, METER_RIGHT - 1);
    for (int r = METER_TOP + 1; r < METER_BOTTOM; r++)
        if (r != METER_MIDDLE)
            frame_put(frame, METER_RIGHT, r, 255);

    int averages[CPU_MAX_CORES];
    const int k = core_averages(cpu, averages);
    sort_ascending(averages, k);
    const int modes[3] = {cpu->mode_top, cpu->mode_mid, cpu->mode_bot};
    for (int row = 0; row < 3; row++) {
        int length = cpu_meter_value(averages, k, modes[row]) * METER_BAR_PIXELS / 1000;
        light_row(frame, METER_CPU_ROW + row, METER_BAR_LEFT, METER_BAR_LEFT + length - 1);
    }
    int memory_load = (int)(cpu->memory.dwMemoryLoad > 100 ? 100 : cpu->memory.dwMemoryLoad);
    int length = memory_load * METER_BAR_PIXELS / 100;
    for (int row = 0; row < 3; row++)
        light_row(frame, METER_MEM_ROW + row, METER_BAR_LEFT, METER_BAR_LEFT + length - 1);
    return 1;
}

// Right-aligned tiny text on panel line n (top row y + 1 + n).
static void panel_line(Slot *slot, int line, const char *text)
{
    slot_text(slot, TXT_TINY | TXT_RIGHT, -1, line, text);
}

static void draw_core_bars(const CpuModule *cpu, const Slot *slot, uint8_t *frame)
{
    int averages[CPU_MAX_CORES];
    const int k = core_averages(cpu, averages);
    const int x = slot->x, y = slot->y;
    if (k < VERTICAL_FROM_CORES) {
        const int t = BARS_SPAN / k;
        const int m = (BARS_SPAN - t * k) / 2;
        for (int c = 0; c < k; c++) {
            const int length = averages[c] * PANEL_INNER / 1000;
            const int top = y + BARS_TOP + m + c * t;
            for (int r = 0; r < t - 1; r++)
                light_row(frame, top + r, x + 1, x + length);
        }
        return;
    }
    const int w = PANEL_INNER / k;
    if (w == 0)
        return;
    int offset = (PANEL_INNER - k * w) / 2;
    for (int c = 0; c < k; c++) {
        if (w > 1)
            offset++;
        const int columns = w > 1 ? w - 1 : 1;
        const int height = averages[c] * BARS_SPAN / 1000;
        for (int j = 0; j < columns; j++, offset++)
            light_column_up(frame, x + 1 + offset, y + PANEL_BOTTOM, height);
    }
}

static void draw_load_history(const CpuModule *cpu, const Slot *slot, uint8_t *frame)
{
    for (int j = 0; j < CPU_HISTORY_SECONDS; j++)
        light_column_up(frame, slot->x + PANEL_INNER - j, slot->y + PANEL_BOTTOM,
                        cpu->load_history[j] * BARS_SPAN / 1000);
}

static void draw_free_memory(const CpuModule *cpu, Slot *slot)
{
    char text[FORMAT_SIZE_BYTES];
    lcd_bitmap(&g_lcd, 0, slot->x + 2, slot->y + 9, 15, 12, MEMORY_PICTURE);
    const DWORDLONG phys = cpu->memory.ullAvailPhys, file = cpu->memory.ullAvailPageFile;
    panel_line(slot, 8, format_size((uint32_t)(phys >> 32), (uint32_t)phys, text));
    panel_line(slot, 15, format_size((uint32_t)(file >> 32), (uint32_t)file, text));
}

static uint64_t filetime_value(FILETIME t)
{
    return (uint64_t)t.dwHighDateTime << 32 | t.dwLowDateTime;
}

static uint64_t seconds_since_start(const CpuModule *cpu)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t a = filetime_value(now), b = filetime_value(cpu->start_time);
    return a > b ? (a - b) / FILETIME_PER_SECOND : 0; // a clock set back counts as 0
}

static void post_own_memory(const CpuModule *cpu)
{
    char text[FORMAT_SIZE_BYTES];
    if (cpu->private_pages) {
        uint64_t bytes = (uint64_t)(unsigned)cpu->private_pages * PAGE_BYTES;
        popup(&g_popups, POPUP_MEMORY, POPUP_MS, "Memory usage: %s",
              format_size((uint32_t)(bytes >> 32), (uint32_t)bytes, text));
        return;
    }
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        SetLastError(0);
        return;
    }
    uint64_t bytes = counters.WorkingSetSize;
    popup(&g_popups, POPUP_MEMORY, POPUP_MS, "Memory usage: %s (with DLL's)",
          format_size((uint32_t)(bytes >> 32), (uint32_t)bytes, text));
}

static void post_popups(const CpuModule *cpu)
{
    char text[128];
    const uint64_t seconds = seconds_since_start(cpu);
    popup(&g_popups, POPUP_UPTIME, POPUP_MS, "%s", format_uptime(seconds, text, sizeof text));

    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        uint32_t usage = cpu_usage_hundredths(filetime_value(kernel) + filetime_value(user),
                                              seconds, cpu_shown_cores(cpu));
        popup(&g_popups, POPUP_OWN_CPU, POPUP_MS, "%s", format_cpu_usage(usage, text, sizeof text));
    } else {
        SetLastError(0);
    }
    post_own_memory(cpu);
}

static void take_press(CpuModule *cpu, Slot *slot, int s)
{
    if (slot->pending_action == 1) {
        slot->pending_action = 0;
        cpu->subpage[s]++;
    }
    if (cpu->subpage[s] > CPU_SUBPAGES - 1 || cpu->subpage[s] < 0)
        cpu->subpage[s] = 0;
    if (cpu->cpu_count == 1 && cpu->subpage[s] == 0)
        cpu->subpage[s] = 1;
    if (slot->pending_action == 2) {
        slot->pending_action = 0;
        post_popups(cpu);
    }
}

int cpu_render(CpuModule *cpu, int s)
{
    if (!cpu->core_history || s < 0 || s >= SLOT_COUNT)
        return 0;
    Slot *slot = &g_slots[s];
    slot_draw_frame(slot, "CPU");
    char load[FORMAT_LOAD_BYTES];
    panel_line(slot, 1, format_load(cpu->load_history[0], load));
    take_press(cpu, slot, s);

    uint8_t *frame = g_lcd.frame;
    switch (cpu->subpage[s]) {
    case 0:
        if (frame)
            draw_core_bars(cpu, slot, frame);
        break;
    case 1:
        if (frame)
            draw_load_history(cpu, slot, frame);
        break;
    default:
        draw_free_memory(cpu, slot);
        break;
    }
    return 1;
}
