// CPU module: keys and their limits, sampling from controlled processor
// records, the band meter and the slot page drawn into a real surface, the
// button, and the real NtQuerySystemInformation of the machine.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app.h"
#include "config.h"
#include "format.h"
#include "lcd.h"
#include "main.h"
#include "mod_cpu.h"
#include "popup.h"

namespace {

typedef std::set<std::pair<int, int>> Pixels; // (x, y)

class CpuTest : public ::testing::Test {
protected:
    CpuModule cpu{};
    bool created_surface = false;
    int saved_tick_count = 0, saved_second_tick = 0;

    void SetUp() override
    {
        if (!g_lcd.frame) {
            ASSERT_EQ(1, lcd_create_surface(&g_lcd));
            created_surface = true;
        }
        clear();
        const int columns[SLOT_COUNT] = {0, 40, 81, 121};
        for (int i = 0; i < SLOT_COUNT; i++) {
            g_slots[i] = Slot{};
            g_slots[i].number = i;
            g_slots[i].x = columns[i];
            g_slots[i].y = 22;
        }
        popup_clear(&g_popups);
        saved_tick_count = tick_count;
        saved_second_tick = second_tick;
    }

    void TearDown() override
    {
        cpu_stop(&cpu);
        config_free_entries(&g_config.entries);
        popup_clear(&g_popups);
        tick_count = saved_tick_count;
        second_tick = saved_second_tick;
        if (created_surface)
            lcd_destroy_surface(&g_lcd);
    }

    // An active module with this many processors and the defaults of start.
    void activate(int processors, int samples = 3)
    {
        cpu.cpu_count = processors;
        cpu.interval = 1;
        cpu.samples = samples;
        cpu_configure(&cpu);
        ASSERT_NE(cpu.core_history, nullptr);
    }

    void set_core(int core, int per_mille)
    {
        for (int j = 0; j < cpu.samples; j++)
            cpu.core_history[core * cpu.samples + j] = per_mille;
    }

    void clear() { memset(g_lcd.frame, 0, LCD_FRAME_BYTES); }
    uint8_t at(int x, int y) { return g_lcd.frame[y * LCD_WIDTH + x]; }

    Pixels lit_in(int x0, int y0, int x1, int y1)
    {
        Pixels p;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                if (at(x, y))
                    p.insert({x, y});
        return p;
    }

    // Lit pixels of the panel below the label line: rows y+7..y+20, columns x+1..x+37.
    Pixels panel_body(int slot)
    {
        const Slot &s = g_slots[slot];
        return lit_in(s.x + 1, s.y + 7, s.x + 37, s.y + 20);
    }

    std::vector<std::pair<uint32_t, std::string>> popups()
    {
        std::vector<std::pair<uint32_t, std::string>> v;
        for (PopupMessage *m = g_popups.head; m; m = m->next)
            v.emplace_back(m->key, m->text);
        return v;
    }
};

void add_bar(Pixels &p, int x0, int x1, int y0, int y1)
{
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++)
            p.insert({x, y});
}

// ---- Keys --------------------------------------------------------------------

TEST_F(CpuTest, KeysAreLimited)
{
    const struct {
        const char *key, *value;
        int CpuModule::*field;
        int expected;
    } cases[] = {
        {"cpumem_interval", "0", &CpuModule::interval, 1},
        {"cpumem_interval", "80", &CpuModule::interval, 50},
        {"cpumem_interval", "7", &CpuModule::interval, 7},
        {"cpumem_interval", "-5", &CpuModule::interval, 1},
        {"cpumem_interval", "4294967295", &CpuModule::interval, 1},
        {"cpumem_interval", "junk", &CpuModule::interval, 1},
        {"cpumem_samples", "50", &CpuModule::samples, 50},
        {"cpumem_samples", "51", &CpuModule::samples, 50},
        {"cpumem_samples", "-1", &CpuModule::samples, 1},
        {"cpumem_cputop", "9", &CpuModule::mode_top, 5},
        {"cpumem_cpumid", "3", &CpuModule::mode_mid, 3},
        {"cpumem_cpubot", "-2", &CpuModule::mode_bot, 0},
        {"cpumem_fakecores", "12", &CpuModule::fake_cores, 12},
        {"cpumem_fakecores", "100", &CpuModule::fake_cores, 64},
        {"cpumem_hidden", "3", &CpuModule::hidden, 3},
        {"CPUMEM_HIDDEN", "0", &CpuModule::hidden, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.value);
        cpu.cpu_count = 2;
        cpu.interval = 1;
        cpu.samples = 3;
        cpu.hidden = 1;
        config_put(&g_config.entries, c.key, c.value);
        cpu_configure(&cpu);
        EXPECT_EQ(cpu.*c.field, c.expected);
        config_free_entries(&g_config.entries);
    }
}

TEST_F(CpuTest, MissingKeysKeepTheCurrentValues)
{
    cpu.cpu_count = 2;
    cpu.interval = 4;
    cpu.samples = 9;
    cpu.mode_mid = 2;
    cpu.fake_cores = 5;
    cpu_configure(&cpu);
    EXPECT_EQ(cpu.interval, 4);
    EXPECT_EQ(cpu.samples, 9);
    EXPECT_EQ(cpu.mode_mid, 2);
    EXPECT_EQ(cpu.fake_cores, 5);
}

TEST_F(CpuTest, SubPageComesFromThePlusMarksOfEachSlot)
{
    slot_parse_value(&g_slots[0], "CPU");
    slot_parse_value(&g_slots[2], "NET cpu++");
    slot_parse_value(&g_slots[3], "CLK");
    activate(4);
    EXPECT_EQ(cpu.subpage[0], 0);
    EXPECT_EQ(cpu.subpage[1], 0);
    EXPECT_EQ(cpu.subpage[2], 2);
    EXPECT_EQ(cpu.subpage[3], 0);
}

TEST_F(CpuTest, ReloadStartsTheHistoriesAgain)
{
    activate(2);
    set_core(1, 700);
    cpu.load_history[0] = 300;
    cpu_configure(&cpu);
    ASSERT_NE(cpu.core_history, nullptr);
    EXPECT_EQ(cpu_core_average(&cpu, 1), 0);
    EXPECT_EQ(cpu.load_history[0], 300); // survives reloads
}

// ---- Sampling ------------------------------------------------------------------

CpuTimes times(int64_t idle, int64_t kernel, int64_t user)
{
    CpuTimes t{};
    t.idle_time = idle;
    t.kernel_time = kernel;
    t.user_time = user;
    return t;
}

TEST(CpuLoad, PerMilleBetweenTwoRecords)
{
    const struct {
        CpuTimes older, newer;
        int load;
    } cases[] = {
        {times(0, 0, 0), times(0, 0, 0), 0},              // no time passed
        {times(0, 0, 0), times(500, 800, 200), 500},      // kernel includes idle
        {times(100, 200, 0), times(100, 300, 900), 1000}, // never idle
        {times(0, 0, 0), times(1000, 1000, 0), 0},        // only idle
        {times(0, 0, 0), times(1, 3, 0), 667},            // 1000 - 333
        {times(0, 0, 0), times(2000, 1000, 0), 0},        // idle beyond busy
        {times(500, 0, 0), times(0, 1000, 0), 1000},      // idle running backwards
    };
    for (const auto &c : cases)
        EXPECT_EQ(cpu_load(&c.older, &c.newer), c.load);
}

TEST_F(CpuTest, SecondSampleAveragesTheCoresIntoTheHistory)
{
    activate(2);
    int64_t idle1 = 0;
    for (int s = 1; s <= CPU_HISTORY_SECONDS + 1; s++) {
        // core 0 at 20 %, core 1 at 60 % plus one per-mille per second
        int64_t busy = 1000 * s;
        idle1 += 400 - s;
        cpu.now[0] = times(busy * 800 / 1000, busy, 0);
        cpu.now[1] = times(idle1, busy / 2, busy / 2);
        cpu_second_sample(&cpu);
        EXPECT_EQ(memcmp(cpu.prev_second, cpu.now, 2 * sizeof(CpuTimes)), 0);
    }
    // newest first; the first of the 38 seconds has dropped out
    for (int j = 0; j < CPU_HISTORY_SECONDS; j++) {
        int s = CPU_HISTORY_SECONDS + 1 - j;
        EXPECT_EQ(cpu.load_history[j], (200 + 600 + s) / 2) << "entry " << j;
    }
}

TEST_F(CpuTest, IntervalSampleKeepsTheLastSamplesPerCore)
{
    activate(2, 3);
    const int loads[] = {100, 400, 900, 300};
    for (int k = 0; k < 4; k++) {
        int64_t base = 1000 * k;
        for (int i = 0; i < 2; i++)
            cpu.prev_interval[i] = times(0, base, 0); // as if sampled before
        cpu.now[0] = times(1000 - loads[k], base + 1000, 0);
        cpu.now[1] = times(0, base + 1000, 0);
        cpu_interval_sample(&cpu);
    }
    EXPECT_EQ(cpu.core_history[0], 300);
    EXPECT_EQ(cpu.core_history[1], 900);
    EXPECT_EQ(cpu.core_history[2], 400);
    EXPECT_EQ(cpu.core_history[3], 1000);
    EXPECT_EQ(cpu_core_average(&cpu, 0), (300 + 900 + 400) / 3);
    EXPECT_EQ(cpu_core_average(&cpu, 3), 1000); // fake core 3 is real core 1
}

int g_queries;
LONG NTAPI counting_query(ULONG info_class, PVOID buffer, ULONG length, PULONG returned)
{
    if (info_class != 8 || length % sizeof(CpuTimes))
        return (LONG)0xC0000004; // length mismatch
    g_queries++;
    CpuTimes *t = (CpuTimes *)buffer;
    for (ULONG i = 0; i < length / sizeof(CpuTimes); i++)
        t[i] = times(0, 1000 * g_queries, 0);
    if (returned)
        *returned = length;
    return 0;
}

TEST_F(CpuTest, PollSamplesEveryIntervalTick)
{
    NtQuerySystemInformationFn saved = nt_query_system_information;
    nt_query_system_information = counting_query;
    activate(3);
    cpu.interval = 3;
    g_queries = 0;
    second_tick = 0;
    for (tick_count = 0; tick_count <= 4; tick_count++)
        cpu_poll(&cpu);
    nt_query_system_information = saved;
    EXPECT_EQ(g_queries, 5);
    EXPECT_EQ(cpu.now[2].kernel_time, 5000);
    EXPECT_EQ(cpu.prev_interval[2].kernel_time, 4000); // taken at tick 3
    EXPECT_EQ(cpu.prev_second[2].kernel_time, 0);      // no second tick yet
    EXPECT_EQ(cpu.core_history[0], 1000);
}

// ---- Private pages -------------------------------------------------------------

std::vector<ULONG_PTR> g_working_set; // what the double reports
size_t g_filled;                      // entries it writes into a big enough buffer

BOOL WINAPI fake_query_working_set(HANDLE, PVOID buffer, DWORD size)
{
    ULONG_PTR *out = (ULONG_PTR *)buffer;
    size_t room = size / sizeof(ULONG_PTR);
    if (room < 1)
        return FALSE;
    out[0] = g_working_set.size();
    if (room - 1 < g_filled) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    for (size_t i = 0; i < g_filled; i++)
        out[1 + i] = g_working_set[i];
    return TRUE;
}

class PrivatePages : public CpuTest {
protected:
    QueryWorkingSetFn saved = 0;
    void SetUp() override
    {
        CpuTest::SetUp();
        saved = cpu_query_working_set;
        cpu_query_working_set = fake_query_working_set;
    }
    void TearDown() override
    {
        cpu_query_working_set = saved;
        CpuTest::TearDown();
    }
};

TEST_F(PrivatePages, CountsEntriesWithoutTheSharedBit)
{
    g_working_set = {0x1000 | 0x100, 0x2000, 0x3005, 0x4000 | 0x1E0, 0x5001};
    g_filled = g_working_set.size();
    cpu.private_pages = 77;
    cpu_count_private_pages(&cpu);
    EXPECT_EQ(cpu.private_pages, 3);
}

TEST_F(PrivatePages, NeverReadsBeyondTheFirstCount)
{
    // the set grew between the two calls: the second call reports 9 entries
    // but the buffer has room for the 5 of the first
    g_working_set = {0x1000, 0x2000, 0x3000, 0x4000, 0x5000};
    g_filled = 5;
    struct Swap {
        static BOOL WINAPI query(HANDLE h, PVOID buffer, DWORD size)
        {
            BOOL r = fake_query_working_set(h, buffer, size);
            if (size / sizeof(ULONG_PTR) > 2)
                ((ULONG_PTR *)buffer)[0] = 9;
            return r;
        }
    };
    cpu_query_working_set = Swap::query;
    cpu_count_private_pages(&cpu);
    EXPECT_EQ(cpu.private_pages, 5);
}

TEST_F(PrivatePages, UnfilledEntriesNeverCount)
{
    g_working_set = {};
    g_filled = 0;
    cpu.private_pages = 42;
    cpu_count_private_pages(&cpu); // no entries known
    EXPECT_EQ(cpu.private_pages, 42);

    // a list that is never filled in counts nothing as private
    g_working_set = {0x1000, 0x2000};
    g_filled = 0;
    struct Empty {
        static BOOL WINAPI query(HANDLE, PVOID buffer, DWORD size)
        {
            if (size >= sizeof(ULONG_PTR))
                ((ULONG_PTR *)buffer)[0] = size <= 2 * sizeof(ULONG_PTR) ? 2 : 0;
            return FALSE;
        }
    };
    cpu_query_working_set = Empty::query;
    cpu_count_private_pages(&cpu);
    EXPECT_EQ(cpu.private_pages, 0);
}

TEST(PrivateEntries, SharedBitAndEmptyEntries)
{
    const ULONG_PTR entries[] = {0, 0x100, 0x1100, 0x1000, 0x10FF, 0x2200};
    EXPECT_EQ(cpu_private_entries(entries, 6), 3);
    EXPECT_EQ(cpu_private_entries(entries, 0), 0);
}

// ---- Meter -------------------------------------------------------------------

TEST(CpuMeterValue, SixModes)
{
    const int four[] = {100, 200, 600, 900};
    const int three[] = {100, 400, 1000};
    const int one[] = {350};
    const struct {
        const int *sorted;
        int k, mode, value;
    } cases[] = {
        {four, 4, 0, 450},  {four, 4, 1, 750},   {four, 4, 2, 150},  {four, 4, 3, 400},
        {four, 4, 4, 900},  {four, 4, 5, 100},   {three, 3, 0, 500}, {three, 3, 1, 700},
        {three, 3, 2, 100}, {three, 3, 3, 400},  {three, 3, 4, 1000}, {three, 3, 5, 100},
        {one, 1, 0, 350},   {one, 1, 1, 350},    {one, 1, 2, 350},   {one, 1, 3, 350},
        {one, 1, 4, 350},   {one, 1, 5, 350},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cpu_meter_value(c.sorted, c.k, c.mode), c.value) << "k " << c.k << " mode " << c.mode;
}

const char METER_LABEL[] = // the picture as drawn, '.' dark
    ".XXXXXXXXXXXXXXXXX."
    "XX....X....XX.XXX.X"
    "X.XXXXX.XXX.X.XXX.X"
    "X.XXXXX....XX.XXX.X"
    "X.XXXXX.XXXXX.XXX.X"
    "XX....X.XXXXXX...XX"
    ".XXXXXXXXXXXXXXXXX."
    "X.XXX.X.....X.XXX.X"
    "X..X..X.XXXXX..X..X"
    "X.X.X.X...XXX.X.X.X"
    "X.XXX.X.XXXXX.XXX.X"
    "X.XXX.X.....X.XXX.X"
    ".XXXXXXXXXXXXXXXXX.";

// Everything the meter lights, for bar lengths of rows 10..12 and 16..18.
Pixels expected_meter(const int cpu_lengths[3], int memory_length)
{
    Pixels p;
    for (int r = 0; r < 13; r++)
        for (int c = 0; c < 19; c++)
            if (METER_LABEL[r * 19 + c] == 'X')
                p.insert({c, 8 + r});
    for (int row : {8, 14, 20})
        add_bar(p, 2, 77, row, row);
    add_bar(p, 78, 78, 9, 13);
    add_bar(p, 78, 78, 15, 19);
    for (int k = 0; k < 3; k++)
        if (cpu_lengths[k] > 0)
            add_bar(p, 19, 18 + cpu_lengths[k], 10 + k, 10 + k);
    if (memory_length > 0)
        add_bar(p, 19, 18 + memory_length, 16, 18);
    return p;
}

TEST_F(CpuTest, MeterPictureBarsAndModes)
{
    activate(4);
    const int averages[] = {900, 100, 600, 200}; // sorted: 100 200 600 900
    for (int c = 0; c < 4; c++)
        set_core(c, averages[c]);
    cpu.memory.dwMemoryLoad = 37;
    const int values[CPU_MODES] = {450, 750, 150, 400, 900, 100};
    for (int top = 0; top < CPU_MODES; top++) {
        SCOPED_TRACE(testing::Message() << "mode " << top);
        cpu.mode_top = top;
        cpu.mode_mid = (top + 1) % CPU_MODES;
        cpu.mode_bot = (top + 4) % CPU_MODES;
        clear();
        ASSERT_EQ(cpu_draw_meter(&cpu), 1);
        const int lengths[3] = {values[cpu.mode_top] * 59 / 1000, values[cpu.mode_mid] * 59 / 1000,
                                values[cpu.mode_bot] * 59 / 1000};
        EXPECT_EQ(lit_in(0, 0, 159, 42), expected_meter(lengths, 37 * 59 / 100));
    }
}

TEST_F(CpuTest, MeterFullBarsStayInsideTheFrame)
{
    activate(2);
    set_core(0, 1000);
    set_core(1, 1000);
    cpu.memory.dwMemoryLoad = 100;
    ASSERT_EQ(cpu_draw_meter(&cpu), 1);
    const int full[3] = {59, 59, 59};
    EXPECT_EQ(lit_in(0, 0, 159, 42), expected_meter(full, 59));
    EXPECT_EQ(at(77, 10), 255);
    EXPECT_EQ(at(78, 14), 0);
}

TEST_F(CpuTest, MeterHiddenOrInactiveDrawsNothing)
{
    EXPECT_EQ(cpu_draw_meter(&cpu), 0); // no history yet
    activate(2);
    cpu.hidden = 1;
    EXPECT_EQ(cpu_draw_meter(&cpu), 0);
    EXPECT_TRUE(lit_in(0, 0, 159, 42).empty());
}

// ---- Slot page: per-core bars ------------------------------------------------------

TEST_F(CpuTest, OneFakeCoreIsOneTallBar)
{
    activate(2);
    cpu.fake_cores = 1;
    set_core(0, 1000);
    set_core(1, 0);
    ASSERT_EQ(cpu_render(&cpu, 1), 1);
    Pixels expected;
    add_bar(expected, 41, 77, 30, 42); // 13 rows: 14 per core less the gap
    EXPECT_EQ(panel_body(1), expected);
}

TEST_F(CpuTest, TwoCoresAreTwoHorizontalBars)
{
    activate(2);
    set_core(0, 1000);
    set_core(1, 500);
    ASSERT_EQ(cpu_render(&cpu, 1), 1);
    Pixels expected;
    add_bar(expected, 41, 77, 30, 35); // y+8 .. y+13, 37 pixels
    add_bar(expected, 41, 58, 37, 42); // y+15 .. y+20, 500 * 37 / 1000 = 18
    EXPECT_EQ(panel_body(1), expected);
}

TEST_F(CpuTest, ThreeAndSevenCoresCentreTheirBars)
{
    activate(3);
    set_core(0, 1000);
    set_core(1, 1000);
    set_core(2, 1000);
    ASSERT_EQ(cpu_render(&cpu, 0), 1);
    Pixels expected; // t = 4, m = 1: rows y+9.., three rows each
    add_bar(expected, 1, 37, 31, 33);
    add_bar(expected, 1, 37, 35, 37);
    add_bar(expected, 1, 37, 39, 41);
    EXPECT_EQ(panel_body(0), expected);

    cpu_stop(&cpu);
    clear();
    activate(7);
    for (int c = 0; c < 7; c++)
        set_core(c, 1000);
    ASSERT_EQ(cpu_render(&cpu, 0), 1);
    expected.clear(); // t = 2: single rows y+8, y+10, ..., y+20
    for (int c = 0; c < 7; c++)
        add_bar(expected, 1, 37, 30 + 2 * c, 30 + 2 * c);
    EXPECT_EQ(panel_body(0), expected);
}

TEST_F(CpuTest, EightCoresAreVerticalBarsFromColumnFour)
{
    activate(8);
    const int averages[] = {1000, 500, 0, 250, 750, 1000, 100, 999};
    for (int c = 0; c < 8; c++)
        set_core(c, averages[c]);
    ASSERT_EQ(cpu_render(&cpu, 2), 1);
    const int x = 81, bottom = 42;
    Pixels expected;
    for (int c = 0; c < 8; c++) {
        int h = averages[c] * 14 / 1000; // 14, 7, 0, 3, 10, 14, 1, 13
        if (h)
            add_bar(expected, x + 4 + 4 * c, x + 6 + 4 * c, bottom - h + 1, bottom);
    }
    EXPECT_EQ(panel_body(2), expected);
    EXPECT_EQ(at(x + 4, bottom), 255);
    EXPECT_EQ(at(x + 3, bottom), 0);
    EXPECT_EQ(at(x + 7, bottom), 0);
}

TEST_F(CpuTest, TwelveFakeCoresRepeatFourRealOnes)
{
    activate(4);
    cpu.fake_cores = 12;
    const int real[] = {1000, 500, 250, 0};
    for (int c = 0; c < 4; c++)
        set_core(c, real[c]);
    ASSERT_EQ(cpu_render(&cpu, 3), 1);
    const int x = 121, bottom = 42;
    Pixels expected; // w = 3, no margin: two columns after one blank
    for (int c = 0; c < 12; c++) {
        int h = real[c % 4] * 14 / 1000;
        if (h)
            add_bar(expected, x + 2 + 3 * c, x + 3 + 3 * c, bottom - h + 1, bottom);
    }
    EXPECT_EQ(panel_body(3), expected);
}

TEST_F(CpuTest, ManyCoresOneColumnEachAndTooManyNone)
{
    activate(2);
    set_core(0, 1000);
    set_core(1, 1000);
    cpu.fake_cores = 37;
    ASSERT_EQ(cpu_render(&cpu, 0), 1);
    Pixels expected;
    add_bar(expected, 1, 37, 29, 42);
    EXPECT_EQ(panel_body(0), expected);

    clear();
    cpu.fake_cores = 38;
    ASSERT_EQ(cpu_render(&cpu, 0), 1);
    EXPECT_TRUE(panel_body(0).empty());
}

// ---- Slot page: history and memory ----------------------------------------------

TEST_F(CpuTest, LoadHistoryNewestAtTheRight)
{
    activate(2);
    cpu.subpage[1] = 1;
    for (int j = 0; j < CPU_HISTORY_SECONDS; j++)
        cpu.load_history[j] = j * 1000 / 36;
    cpu.load_history[0] = 0; // keeps the load text short
    ASSERT_EQ(cpu_render(&cpu, 1), 1);
    Pixels expected;
    for (int j = 0; j < CPU_HISTORY_SECONDS; j++) {
        int h = cpu.load_history[j] * 14 / 1000;
        if (h)
            add_bar(expected, 77 - j, 77 - j, 43 - h, 42);
    }
    EXPECT_EQ(panel_body(1), expected);
    EXPECT_EQ(at(41, 29), 255); // the oldest, full, at x + 1
}

TEST_F(CpuTest, FreeMemoryPictureAndSizes)
{
    activate(2);
    cpu.subpage[2] = 2;
    cpu.memory.ullAvailPhys = 1536ull << 20;       // 1.5G
    cpu.memory.ullAvailPageFile = 5ull << 30;      // 5.0G
    ASSERT_EQ(cpu_render(&cpu, 2), 1);
    std::vector<uint8_t> drawn(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES);

    const char picture[] = "XX  X X X X  XX"
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
    clear();
    Slot *s = &g_slots[2];
    slot_draw_frame(s, "CPU");
    slot_text(s, TXT_TINY | TXT_RIGHT, -1, 1, "0.0%");
    lcd_bitmap(&g_lcd, 0, s->x + 2, s->y + 9, 15, 12, picture);
    slot_text(s, TXT_TINY | TXT_RIGHT, -1, 8, "1.5G");
    slot_text(s, TXT_TINY | TXT_RIGHT, -1, 15, "5.0G");
    std::vector<uint8_t> expected(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES);
    EXPECT_TRUE(drawn == expected);
    EXPECT_EQ(at(83, 31), 255); // P's top-left at (x + 2, y + 9)
}

// ---- Load text -------------------------------------------------------------------

TEST_F(CpuTest, LoadTextForms)
{
    activate(2);
    cpu.subpage[0] = 1;
    const struct {
        int load;
        const char *text;
    } cases[] = {{5, "0.5%"}, {999, "99.9%"}, {1000, "100%"}, {0, "0.0%"}, {456, "45.6%"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        memset(cpu.load_history, 0, sizeof cpu.load_history);
        cpu.load_history[0] = c.load;
        clear();
        ASSERT_EQ(cpu_render(&cpu, 0), 1);
        Pixels drawn = lit_in(17, 24, 37, 28); // right of the label, line 1
        clear();
        int width = lcd_text(&g_lcd, TXT_TINY | TXT_RIGHT, 37, 24, c.text);
        EXPECT_GT(width, 0);
        EXPECT_LE(width, 21); // clear of the label bar, columns 1..15
        EXPECT_EQ(drawn, lit_in(17, 24, 37, 28));
    }
}

// ---- Button ------------------------------------------------------------------------

TEST_F(CpuTest, ShortPressCyclesTheSubPages)
{
    activate(2);
    Slot &s = g_slots[0];
    const int expected[] = {1, 2, 0, 1};
    EXPECT_EQ(cpu_render(&cpu, 0), 1);
    EXPECT_EQ(cpu.subpage[0], 0);
    for (int page : expected) {
        s.pending_action = 1;
        clear();
        EXPECT_EQ(cpu_render(&cpu, 0), 1);
        EXPECT_EQ(s.pending_action, 0);
        EXPECT_EQ(cpu.subpage[0], page);
    }
    EXPECT_EQ(cpu.subpage[1], 0); // the other slots keep theirs
    EXPECT_TRUE(g_popups.head == nullptr);
}

TEST_F(CpuTest, SingleProcessorNeverShowsTheCoreBars)
{
    activate(1);
    Slot &s = g_slots[1];
    EXPECT_EQ(cpu_render(&cpu, 1), 1);
    EXPECT_EQ(cpu.subpage[1], 1);
    const int expected[] = {2, 1, 2, 1};
    for (int page : expected) {
        s.pending_action = 1;
        cpu_render(&cpu, 1);
        EXPECT_EQ(cpu.subpage[1], page);
    }
}

TEST_F(CpuTest, TooManyPlusMarksWrapToTheFirstSubPage)
{
    slot_parse_value(&g_slots[3], "CPU+++++");
    activate(4);
    EXPECT_EQ(cpu.subpage[3], 5);
    cpu_render(&cpu, 3);
    EXPECT_EQ(cpu.subpage[3], 0);
}

TEST_F(CpuTest, LongPressPostsThreePopUps)
{
    activate(2);
    cpu.subpage[2] = 1;
    cpu.private_pages = 0;
    // started one day, one hour, one minute and one second ago
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t start = ((uint64_t)now.dwHighDateTime << 32 | now.dwLowDateTime) - 90061ull * 10000000;
    cpu.start_time.dwHighDateTime = (DWORD)(start >> 32);
    cpu.start_time.dwLowDateTime = (DWORD)start;
    g_slots[2].pending_action = 2;
    ASSERT_EQ(cpu_render(&cpu, 2), 1);
    EXPECT_EQ(g_slots[2].pending_action, 0);
    EXPECT_EQ(cpu.subpage[2], 1);

    auto posted = popups();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].first, 13u);
    EXPECT_EQ(posted[0].second.rfind("Uptime: 1 days, 01:01:0", 0), 0u) << posted[0].second;
    EXPECT_EQ(posted[1].first, 14u);
    EXPECT_EQ(posted[1].second.rfind("Pixwick CPU usage: 0.", 0), 0u) << posted[1].second;
    EXPECT_EQ(posted[1].second.back(), '%');
    EXPECT_EQ(posted[2].first, 11u);
    const std::string memory = posted[2].second;
    EXPECT_EQ(memory.rfind("Memory usage: ", 0), 0u) << memory;
    EXPECT_NE(memory.find(" (with DLL's)"), std::string::npos) << memory; // working-set path
    EXPECT_TRUE(g_popups.head->duration == 1000);
}

TEST_F(CpuTest, LongPressWithPrivatePagesAndAGainAfterRestart)
{
    activate(2);
    GetSystemTimeAsFileTime(&cpu.start_time);
    cpu.private_pages = 100;
    g_slots[0].pending_action = 2;
    cpu_render(&cpu, 0);
    auto posted = popups();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].second.rfind("Uptime: 00:00:0", 0), 0u) << posted[0].second;
    EXPECT_EQ(posted[1].second, "Pixwick CPU usage: 0.00%"); // no running time yet
    EXPECT_EQ(posted[2].second, "Memory usage: 400K");

    // a second long press replaces the three instead of queueing three more
    g_slots[0].pending_action = 2;
    cpu_render(&cpu, 0);
    EXPECT_EQ(popups().size(), 3u);
}

TEST_F(CpuTest, InactiveModuleShowsNothing)
{
    g_slots[0].pending_action = 1;
    EXPECT_EQ(cpu_render(&cpu, 0), 0);
    EXPECT_EQ(g_slots[0].pending_action, 1); // left for the next module
    EXPECT_TRUE(lit_in(0, 0, 159, 42).empty());
    activate(2);
    EXPECT_EQ(cpu_render(&cpu, 4), 0);
    EXPECT_EQ(cpu_render(&cpu, -1), 0);
}

// ---- The machine's own processors ----------------------------------------------------

void burn_a_little()
{
    volatile uint64_t x = 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 30)
        x = x + 1;
}

TEST_F(CpuTest, RealSamplingUnderThisSystem)
{
    cpu_start(&cpu);
    ASSERT_NE(cpu.ntdll, nullptr);
    ASSERT_NE(nt_query_system_information, nullptr);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_GE(cpu.cpu_count, 1);
    EXPECT_EQ(cpu.cpu_count, (int)info.dwNumberOfProcessors);
    EXPECT_EQ(cpu.interval, 1);
    EXPECT_EQ(cpu.samples, 3);
    ASSERT_NE(cpu.core_history, nullptr);

    second_tick = 1;
    for (tick_count = 0; tick_count < 4; tick_count++) {
        cpu_poll(&cpu);
        burn_a_little();
    }
    for (int i = 0; i < cpu.cpu_count; i++) {
        SCOPED_TRACE(testing::Message() << "processor " << i);
        EXPECT_GT(cpu.now[i].kernel_time + cpu.now[i].user_time, 0);
        EXPECT_GE(cpu.now[i].kernel_time, cpu.now[i].idle_time); // kernel includes idle
        for (int j = 0; j < cpu.samples; j++) {
            int load = cpu.core_history[i * cpu.samples + j];
            EXPECT_GE(load, 0);
            EXPECT_LE(load, 1000);
        }
    }
    for (int j = 0; j < 4; j++) {
        EXPECT_GE(cpu.load_history[j], 0);
        EXPECT_LE(cpu.load_history[j], 1000);
    }
    EXPECT_EQ(cpu.memory.dwLength, 64u);
    EXPECT_GT(cpu.memory.ullTotalPhys, 0u);
    EXPECT_LE(cpu.memory.dwMemoryLoad, 100u);
    EXPECT_GT(cpu.memory.ullAvailPhys, 0u);

    EXPECT_EQ(cpu_draw_meter(&cpu), 1);
    EXPECT_EQ(cpu_render(&cpu, 0), 1);

    cpu_stop(&cpu);
    EXPECT_EQ(cpu.ntdll, nullptr);
    EXPECT_EQ(nt_query_system_information, nullptr);
    EXPECT_EQ(cpu.core_history, nullptr);
    EXPECT_EQ(cpu_render(&cpu, 0), 0);
}

TEST_F(CpuTest, DispatcherShowsTheStartedModule)
{
    cpu_start(&g_cpu);
    ASSERT_NE(g_cpu.core_history, nullptr);
    slot_parse_value(&g_slots[2], "xyz cpu");
    slots_render();
    EXPECT_EQ(g_slots[2].shown_index, 1);
    EXPECT_EQ(at(81 + 1, 22), 255); // the panel's top edge
    cpu_stop(&g_cpu);
    EXPECT_EQ(module_render_by_code("CPU", 2), 0);
}

} // namespace
