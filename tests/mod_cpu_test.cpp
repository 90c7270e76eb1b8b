// CPU module: key limits, sampling from scripted processor times, the band
// meter and the slot page against golden pictures, the button, and once the
// machine's own processors.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app.h"
#include "config.h"
#include "golden.h"
#include "lcd.h"
#include "modules.h"
#include "slots.h"
#include "mod_cpu.h"
#include "popup.h"

namespace {

CpuTimes times(int64_t idle, int64_t kernel, int64_t user)
{
    CpuTimes t{};
    t.idle_time = idle, t.kernel_time = kernel, t.user_time = user;
    return t;
}

struct CpuTest : ::testing::Test {
    CpuModule cpu{};
    bool own_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;
    int saved_ticks = tick_count, saved_second = second_tick;

    void SetUp() override
    {
        ASSERT_NE(g_lcd.frame, nullptr);
        clear();
        for (int i = 0; i < SLOT_COUNT; i++)
            g_slots[i] = Slot{}, g_slots[i].number = i, g_slots[i].x = i * 40 + (i > 1), g_slots[i].y = 22;
        popup_clear(&g_popups);
    }
    void TearDown() override
    {
        cpu_stop(&cpu);
        config_free_entries(&g_config.entries);
        popup_clear(&g_popups);
        tick_count = saved_ticks, second_tick = saved_second;
        if (own_surface)
            lcd_destroy_surface(&g_lcd);
    }
    void clear() { memset(g_lcd.frame, 0, LCD_FRAME_BYTES); }
    void activate(int processors, int samples = 3)
    {
        cpu.cpu_count = processors;
        config_put(&g_config.entries, "cpumem_samples", std::to_string(samples).c_str());
        cpu_configure(&cpu);
        ASSERT_NE(cpu.core_history, nullptr);
    }
    void set_core(int core, int pm) { std::fill_n(cpu.core_history + core * cpu.samples, cpu.samples, pm); }
};

TEST_F(CpuTest, KeysAreLimitedAndMissingOnesAtTheirDefaults)
{
    typedef int CpuModule::*Field;
    const Field I = &CpuModule::interval, S = &CpuModule::samples, F = &CpuModule::fake_cores;
    const struct { const char *key, *value; Field field; int expected; } cases[] = {
        {"cpumem_interval", "0", I, 1}, {"cpumem_interval", "80", I, 50}, {"cpumem_interval", "-5", I, 1},
        {"cpumem_interval", "junk", I, 1}, {"cpumem_samples", "51", S, 50}, {"cpumem_fakecores", "100", F, 64},
        {"cpumem_hidden", "3", &CpuModule::hidden, 3}, {"cpumem_cputop", "9", &CpuModule::mode_top, 5},
        {"cpumem_cpumid", "3", &CpuModule::mode_mid, 3}, {"cpumem_cpubot", "-2", &CpuModule::mode_bot, 0},
        {"other", "1", I, 1}, {"other", "1", S, 3}, // missing, or deleted at a reload: the default
    };
    for (const auto &c : cases) {
        cpu.cpu_count = 2, cpu.interval = 4, cpu.samples = 9, cpu.fake_cores = 5, cpu.hidden = 0;
        cpu.mode_top = cpu.mode_mid = cpu.mode_bot = 1;
        config_put(&g_config.entries, c.key, c.value);
        cpu_configure(&cpu);
        EXPECT_EQ(cpu.*c.field, c.expected) << c.key << " " << c.value;
        config_free_entries(&g_config.entries);
    }
}

TEST(CpuLoad, PerMilleClampedToItsRange)
{
    const struct { CpuTimes older, newer; int load; } cases[] = {
        {times(0, 0, 0), times(0, 0, 0), 0},         {times(0, 0, 0), times(500, 800, 200), 500},
        {times(0, 0, 0), times(1, 3, 0), 667},       {times(100, 200, 0), times(100, 300, 900), 1000},
        {times(0, 0, 0), times(2000, 1000, 0), 0},   {times(500, 0, 0), times(0, 1000, 0), 1000},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cpu_load(&c.older, &c.newer), c.load);
}

// Processor 0 at these loads from query to query, processor 1 always busy.
const int QUERY_LOADS[] = {100, 400, 400, 400, 900, 900, 900, 100};
int g_queries;
int64_t g_idle;

LONG NTAPI scripted_query(ULONG info_class, PVOID buffer, ULONG length, PULONG returned)
{
    if (info_class != 8 || length != 2 * sizeof(CpuTimes))
        return (LONG)0xC0000004; // length mismatch
    g_idle += 1000 - QUERY_LOADS[g_queries++ % 8];
    ((CpuTimes *)buffer)[0] = times(g_idle, 1000 * g_queries, 0);
    ((CpuTimes *)buffer)[1] = times(0, 0, 1000 * g_queries);
    *returned = length;
    return 0;
}

// Ticks 0 to 7 with the interval 3, two samples a core and second ticks at 0 and 5.
TEST_F(CpuTest, PollSamplesEveryIntervalAndEverySecondTick)
{
    const NtQuerySystemInformationFn saved = nt_query_system_information;
    nt_query_system_information = scripted_query;
    activate(2, 2);
    cpu.interval = 3, g_queries = 0, g_idle = 0;
    for (int j = 0; j < CPU_HISTORY_SECONDS; j++)
        cpu.load_history[j] = j;
    for (tick_count = 0; tick_count <= 7; tick_count++)
        second_tick = tick_count % 5 == 0, cpu_poll(&cpu);
    nt_query_system_information = saved;
    EXPECT_EQ(g_queries, 8);
    // processor 0 over ticks 3..6 and 0..3 (the sample of tick 0 dropped), processor 1
    EXPECT_EQ(std::vector<int>(cpu.core_history, cpu.core_history + 4), (std::vector<int>{900, 400, 1000, 1000}));
    // the mean of both over ticks 0..5 and up to tick 0, then the older seconds, the two oldest dropped
    EXPECT_TRUE(cpu.load_history[0] == 800 && cpu.load_history[1] == 550 && cpu.load_history[2] == 0 &&
                cpu.load_history[36] == 34);
    cpu_configure(&cpu); // a reload restarts the core histories only
    EXPECT_TRUE(cpu.core_history && cpu_core_average(&cpu, 1) == 0 && cpu.load_history[0] == 800);
}

struct WorkingSet {
    size_t first, second; // entry counts the two calls report
    std::vector<ULONG_PTR> entries;
} g_set;

BOOL WINAPI fake_query_working_set(HANDLE, PVOID buffer, DWORD size)
{
    ULONG_PTR *out = (ULONG_PTR *)buffer;
    const size_t room = size / sizeof(ULONG_PTR);
    out[0] = room <= 2 ? g_set.first : g_set.second;
    for (size_t i = 0; room > 2 && i + 1 < room && i < g_set.entries.size(); i++)
        out[1 + i] = g_set.entries[i];
    return room > 2;
}

TEST_F(CpuTest, PrivatePagesCountUnsharedEntriesWithinTheBuffer)
{
    const struct { WorkingSet set; int expected; } cases[] = {
        {{5, 5, {0x1100, 0x2000, 0x3005, 0x41E0, 0x5001}}, 3}, // bit 8 marks shared
        {{3, 3, {0, 0x1000, 0}}, 1},                          // unfilled entries
        {{5, 9, std::vector<ULONG_PTR>(9, 0x1000)}, 5},       // grew between the calls
        {{0, 0, {}}, 42},                                     // nothing known: kept
    };
    const QueryWorkingSetFn saved = cpu_query_working_set;
    cpu_query_working_set = fake_query_working_set;
    for (const auto &c : cases) {
        g_set = c.set, cpu.private_pages = 42;
        cpu_count_private_pages(&cpu);
        EXPECT_EQ(cpu.private_pages, c.expected) << c.set.first << " " << c.set.second;
    }
    cpu_query_working_set = saved;
}

TEST(CpuMeterValue, ModesOfSortedAverages)
{
    const int four[] = {100, 200, 600, 900}, three[] = {100, 400, 1000}, one[] = {350};
    const struct { const int *sorted; int k, values[CPU_MODES]; } cases[] = {
        {four, 4, {450, 750, 150, 400, 900, 100}},
        {three, 3, {500, 700, 100, 400, 1000, 100}},
        {one, 1, {350, 350, 350, 350, 350, 350}},
    };
    for (const auto &c : cases)
        for (int mode = 0; mode < CPU_MODES; mode++)
            EXPECT_EQ(cpu_meter_value(c.sorted, c.k, mode), c.values[mode]) << c.k << " cores, mode " << mode;
}

// Four cores at 900, 100, 600 and 200; the rows show the upper half (750),
// the median (400) and the smallest (100); memory load 37 %.
TEST_F(CpuTest, MeterPicture)
{
    EXPECT_EQ(cpu_draw_meter(&cpu), 0); // inactive
    activate(4);
    const int averages[] = {900, 100, 600, 200};
    for (int i = 0; i < 4; i++)
        set_core(i, averages[i]);
    cpu.memory.dwMemoryLoad = 37;
    cpu.mode_top = 1, cpu.mode_mid = 3, cpu.mode_bot = 5;
    ASSERT_EQ(cpu_draw_meter(&cpu), 1);
    EXPECT_GOLDEN("cpu_meter", g_lcd.frame);
    cpu.hidden = 1, clear();
    EXPECT_EQ(cpu_draw_meter(&cpu), 0);
    EXPECT_EQ(std::count(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES, 0), LCD_FRAME_BYTES);
}

// The slot page in slot 2 with the load 99.9 % on line 1: per-core bars
// (rows up to 7 cores, columns from 8, fake cores repeating the real ones,
// nothing past 37), the load history and free memory.
TEST_F(CpuTest, PagePictures)
{
    const struct { const char *golden; int processors, fake, subpage; } cases[] = {
        {"cpu_cores_1", 2, 1, 0},         {"cpu_cores_2", 2, 0, 0},          {"cpu_cores_7", 7, 0, 0},
        {"cpu_cores_8", 8, 0, 0},         {"cpu_cores_12_of_4", 4, 12, 0},   {"cpu_cores_37_of_2", 2, 37, 0},
        {"cpu_cores_38_of_2", 2, 38, 0},  {"cpu_history", 2, 0, 1},          {"cpu_memory", 2, 0, 2},
    };
    const int loads[] = {1000, 500, 250, 750, 0, 999, 100, 600};
    for (int j = 0; j < CPU_HISTORY_SECONDS; j++)
        cpu.load_history[j] = j * 1000 / 36;
    cpu.load_history[0] = 999;
    cpu.memory.ullAvailPhys = 1536ull << 20;
    cpu.memory.ullAvailPageFile = 5ull << 30;
    for (const auto &c : cases) {
        activate(c.processors);
        for (int p = 0; p < c.processors; p++)
            set_core(p, loads[p]);
        cpu.fake_cores = c.fake, cpu.subpage[2] = c.subpage, clear();
        ASSERT_EQ(cpu_render(&cpu, 2), 1);
        EXPECT_GOLDEN_AREA(c.golden, g_lcd.frame, 81, 22, 39, 21);
    }
}

TEST_F(CpuTest, ShortPressCyclesTheSubPages)
{
    g_slots[1].pending_action = 1;
    EXPECT_EQ(cpu_render(&cpu, 1), 0);
    EXPECT_EQ(g_slots[1].pending_action, 1); // inactive: left for the next module
    // pages before any press, then after each of three
    const struct { int processors; const char *slot; int pages[4]; } cases[] = {
        {2, "CPU", {0, 1, 2, 0}},      {1, "CPU", {1, 2, 1, 2}}, // one processor: no core bars
        {4, "CPU+++++", {0, 1, 2, 0}}, {4, "NET cpu++", {2, 0, 1, 2}},
    };
    for (const auto &c : cases) {
        slot_parse_value(&g_slots[1], c.slot);
        activate(c.processors);
        for (int i = 0; i < 4; i++) {
            g_slots[1].pending_action = i ? 1 : 0;
            EXPECT_EQ(cpu_render(&cpu, 1), 1);
            EXPECT_TRUE(g_slots[1].pending_action == 0 && cpu.subpage[1] == c.pages[i]) << c.slot << " step " << i;
        }
        EXPECT_EQ(cpu.subpage[0], 0);
    }
    EXPECT_EQ(g_popups.head, nullptr);
}

// Running for 1 day 1:01:01: the running time, the own processor use and the
// own memory (private pages, else the working set with the DLLs).
TEST_F(CpuTest, LongPressQueuesThreePopUpsOnce)
{
    activate(2);
    cpu.subpage[2] = 1;
    ULARGE_INTEGER start;
    GetSystemTimeAsFileTime((FILETIME *)&start);
    start.QuadPart -= 90061ull * 10000000;
    cpu.start_time.dwHighDateTime = start.HighPart, cpu.start_time.dwLowDateTime = start.LowPart;
    for (int round = 0; round < 2; round++) { // the second replaces the first three
        cpu.private_pages = round ? 0 : 100;
        g_slots[2].pending_action = 2;
        ASSERT_EQ(cpu_render(&cpu, 2), 1);
        EXPECT_TRUE(g_slots[2].pending_action == 0 && cpu.subpage[2] == 1);
        std::vector<std::string> m; // key, duration, text
        for (PopupMessage *p = g_popups.head; p; p = p->next)
            m.push_back(std::to_string(p->key) + " " + std::to_string(p->duration) + " " + p->text);
        ASSERT_EQ(m.size(), 3u);
        EXPECT_EQ(m[0].rfind("13 1000 Uptime: 1 days, 01:01:0", 0), 0u) << m[0];
        EXPECT_EQ(m[1].rfind("14 1000 Pixwick CPU usage: ", 0), 0u) << m[1];
        EXPECT_TRUE(round ? m[2].rfind("11 1000 Memory usage: ", 0) == 0 && m[2].find(" (with DLL's)") != std::string::npos
                          : m[2] == "11 1000 Memory usage: 400K")
            << m[2];
    }
}

TEST_F(CpuTest, RealSamplingUnderThisSystem)
{
    CpuModule &real = g_cpu;
    cpu_start(&real);
    ASSERT_TRUE(nt_query_system_information && real.core_history);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(real.cpu_count, (int)info.dwNumberOfProcessors);
    second_tick = 1;
    cpu_poll(&real);
    for (int i = 0; i < real.cpu_count; i++) // kernel time includes idle time
        EXPECT_TRUE(real.now[i].kernel_time > 0 && real.now[i].kernel_time >= real.now[i].idle_time) << i;
    EXPECT_TRUE(real.memory.ullAvailPhys > 0 && real.memory.dwMemoryLoad <= 100);
    cpu_stop(&real);
    EXPECT_TRUE(nt_query_system_information == nullptr && module_render_by_code("CPU", 2) == 0);
}

} // namespace
