// The soak: the real program runs while every stand-in changes state all the
// time. Each cycle edits the settings, restarts (or hangs) the LCD Manager,
// has a window hang and the program kill it, and until the cycle is over
// sends the module stand-ins changes (blocks appear and vanish, rates change),
// quits or kills one of them and starts it again, and moves loopback traffic.
// At the end of each cycle, with every stand-in back in its normal state, the
// process is sampled.
//
// Flat after warm-up: the first sixth of the samples (at least one) is
// warm-up; over the rest, each series stays within a band that does not grow
// with the run's length (handles 12, threads 2, private bytes 2 MB, anonymous
// memory 4 MB; handles and private bytes without what Wine keeps, fault_run.h),
// and the last sample is at most half that band above the
// first one after warm-up. A leak of one handle or 100 KB a minute fails the
// 30-minute run.
//
// PIXWICK_SOAK_MINUTES (2) and PIXWICK_SOAK_CYCLE_S (30; 60 samples once a
// minute) set the length.
#include <winsock2.h>

#include "fault_run.h"
#include "module_standins.h"

#include <algorithm>

using namespace faults;

namespace {

// Pages come and go with the edits: modules start and stop.
const char *const SETTINGS[] = {
    "slot_0 TS3 FAN COR CLK\nslot_1 AMP GPU CPU\nslot_2 TUN NET+ STW\nslot_3 RIP FPS STW\nanimate_start 0\n"
    "config_refresh 5\n",
    "slot_0 COR FAN CLK\nslot_1 CPU GPU AMP\nslot_2 SPK NET STW\nslot_3 RIP FPS CLK\nfan_mode_0 Fan1 FAN 0\n"
    "date_format 'Soak' yyyy\nanimate_start 0\nconfig_refresh 5\n",
    "slot_0 FAN+ TS3 CLK\nslot_1 GPU+ COR TUN\nslot_2 NET++ CPU+ SPK\nslot_3 RIP FPS\nfan_farenheit 1\n"
    "net_adapter lo\nanimate_start 0\nconfig_refresh 5\n",
};
const char *const LCD_FAULTS[][2] = {{"quit", 0}, {"kill", 0}, {"hang on", "hang off"}};
const double BAND_HANDLES = 12, BAND_THREADS = 2, BAND_PRIVATE_MB = 2, BAND_ANON_MB = 4;

// About `bytes` in datagrams from a socket on 127.0.0.1 to itself, over `ms`.
void loopback_traffic(size_t bytes, DWORD ms)
{
    WSADATA wsa;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    static char datagram[8192];
    SOCKET s = WSAStartup(MAKEWORD(2, 2), &wsa) ? INVALID_SOCKET : socket(AF_INET, SOCK_DGRAM, 0);
    if (!bind(s, (sockaddr *)&address, size) && !getsockname(s, (sockaddr *)&address, &size))
        for (size_t sent = 0; sent < bytes; sent += sizeof datagram, Sleep((DWORD)(ms * sizeof datagram / bytes)))
            sendto(s, datagram, sizeof datagram, 0, (sockaddr *)&address, size);
    closesocket(s);
    WSACleanup();
}

class Soak : public FaultRun {
protected:
    // The LCD Manager goes away or hangs for a moment; frames come back in time.
    // Returns what was done, for the cycle's line.
    std::string lcd_manager_step(int cycle)
    {
        const char *const *fault = LCD_FAULTS[cycle % 3];
        const size_t from = frame_count();
        if (strcmp(fault[0], "quit") == 0)
            lcdmon.stop();
        else if (strcmp(fault[0], "kill") == 0)
            lcdmon.kill();
        else
            EXPECT_TRUE(standin_command(fault[0]));
        Sleep(between(1000, 3000)); // the fault lasts this long
        EXPECT_TRUE(fault[1] ? standin_command(fault[1]) != 0 : start_display());
        const double latency = recovery_ms(from, lcdmon_now_us());
        EXPECT_GE(latency, 0) << fault[0];
        EXPECT_LE(latency, RECOVERY_MS) << fault[0];
        char done[64];
        snprintf(done, sizeof done, "LCD Manager %s, back %.0f ms", fault[0], latency);
        return done;
    }

    // A window hangs; the program offers it and kills it on a long press.
    void hung_window_step(StandInProcess &s)
    {
        ASSERT_TRUE(s.start());
        ASSERT_TRUE(pages_shown(s.kind, true)) << s.kind.name;
        ASSERT_TRUE(standin_command(s.kind.ended_by_press));
        EXPECT_EQ(s.exit_code_within(10000), 0) << s.kind.name << " ended by the program";
    }

    void change_step(StandInProcess &s)
    {
        char text[256];
        snprintf(text, sizeof text, s.kind.changes[(size_t)pick((int)s.kind.changes.size())], pick(10));
        EXPECT_TRUE(s.send(text)) << s.kind.name << ": " << text;
    }

    void restart_step(StandInProcess &s, bool crash)
    {
        EXPECT_TRUE(crash ? s.kill() : s.quit()) << s.kind.name;
        Sleep(between(200, 2000)); // away this long
        ASSERT_TRUE(s.start()) << s.kind.name;
    }

    // Handles may grow by what Wine's RPC runtime keeps for each local server
    // that quit meanwhile (see own_handles), but need not: the allowance widens
    // the band instead of being taken off the samples.
    void expect_flat(size_t warm_up)
    {
        struct Band {
            const char *name;
            double width, per_server_gone;
            double (*value)(const SeriesPoint &);
        } bands[] = {
            {"handles", BAND_HANDLES, RPC_HANDLES_PER_SERVER_GONE,
             [](const SeriesPoint &p) { return (double)p.sample.handles; }},
            {"threads", BAND_THREADS, 0, [](const SeriesPoint &p) { return (double)p.sample.threads; }},
            {"private - stacks", BAND_PRIVATE_MB, 0, [](const SeriesPoint &p) { return private_without_stacks(p.sample); }},
            {"anonymous MB", BAND_ANON_MB, 0, [](const SeriesPoint &p) { return p.sample.anon_mb; }},
        };
        ASSERT_GT(series.size(), warm_up + 1);
        const long gone = series.back().servers_gone - series[warm_up].servers_gone;
        for (const Band &b : bands) {
            std::vector<double> v;
            for (size_t k = warm_up; k < series.size(); k++)
                v.push_back(b.value(series[k]));
            const double low = *std::min_element(v.begin(), v.end()), high = *std::max_element(v.begin(), v.end());
            const double allowance = b.per_server_gone * (double)gone;
            printf("after warm-up %-16s %9.2f .. %9.2f, last - first %+.2f, allowed for %ld servers gone %.0f\n",
                   b.name, low, high, v.back() - v.front(), gone, allowance);
            EXPECT_LE(high - low, b.width + allowance) << b.name;
            EXPECT_LE(v.back() - v.front(), b.width / 2 + allowance) << b.name;
        }
    }
};

TEST_F(Soak, EveryStandInChangesStateContinuously)
{
    const DWORD run_ms = (DWORD)env_number("PIXWICK_SOAK_MINUTES", 2) * 60000;
    const DWORD cycle_ms = (DWORD)env_number("PIXWICK_SOAK_CYCLE_S", 30) * 1000;
    start_tick_witness(module_standin("fraps"));
    for (const StandIn &row : module_standins())
        if (strcmp(row.name, "fraps") != 0) // started already
            add_standin(row);
    start_program(SETTINGS[0]);
    for (auto &s : standins)
        if (!s->kind.ended_by_press && !s->running()) {
            ASSERT_TRUE(s->start()) << s->kind.name;
        }
    take_sample("started");
    const DWORD run_start = GetTickCount();
    int cycles = 0;
    for (int cycle = 1; GetTickCount() - run_start + cycle_ms / 2 < run_ms; cycles = cycle++) {
        SCOPED_TRACE(testing::Message() << "cycle " << cycle);
        const DWORD cycle_start = GetTickCount();
        write_settings(SETTINGS[cycle % 3]);
        std::string done = lcd_manager_step(cycle);
        for (auto &s : standins)
            if (s->kind.ended_by_press)
                hung_window_step(*s), done += std::string(", ") + s->kind.name + " ended by a press";
        if (HasFatalFailure())
            return;
        std::vector<StandInProcess *> changing;
        for (auto &s : standins)
            if (!s->kind.changes.empty())
                changing.push_back(s.get());
        StandInProcess *restarted = changing.empty() ? 0 : changing[(size_t)cycle % changing.size()];
        int changes = 0;
        while (!changing.empty() && GetTickCount() - cycle_start < cycle_ms - 3000) {
            const int what = pick(12);
            if (restarted && GetTickCount() - cycle_start > cycle_ms / 2) {
                const bool crash = cycle / changing.size() % 2 && restarted->kind.control != IN_PROGRAM &&
                                   !restarted->kind.com_server; // those are always quit
                restart_step(*restarted, crash);
                done += std::string(", ") + restarted->kind.name + (crash ? " killed" : " quit");
                restarted = 0;
            } else if (what == 0) {
                loopback_traffic(4 << 20, 1000);
            } else {
                change_step(*changing[(size_t)pick((int)changing.size())]);
                changes++;
            }
            Sleep(between(100, 800)); // the pace of the changes
        }
        for (StandInProcess *s : changing)
            ASSERT_TRUE(s->running() ? s->send(s->kind.start) : s->start()) << s->kind.name;
        ASSERT_TRUE(running(program));
        take_sample(std::to_string((GetTickCount() - run_start) / 1000) + " s: " + done + ", " +
                    std::to_string(changes) + " changes");
    }
    EXPECT_GE(count_occurrences(read_binary_file(log_path("system.txt")), "Reading configuration file"), cycles)
        << "settings edits not taken";
    print_series();
    expect_flat(std::max<size_t>(1, series.size() / 6));
    expect_heartbeat();
    finish();
}

} // namespace
