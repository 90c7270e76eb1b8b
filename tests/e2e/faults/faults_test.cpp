// Fault injection, end to end: the LCD Manager killed, quit, hung inside the
// update call, refusing connections and failing updates, in a seeded order;
// then each module's stand-in quit, killed, restarted, hung and publishing
// garbage while its page is shown. PIXWICK_FAULT_CYCLES (6: each LCD Manager
// fault once) and PIXWICK_MODULE_ROUNDS (1) set the length.
#include "fault_run.h"
#include "module_standins.h"

#include <algorithm>

using namespace faults;

namespace {

const char LCD_SETTINGS[] = "slot_0 STW\nslot_1 CLK\nslot_2 CPU\nslot_3 CLK+\nanimate_start 0\nconfig_refresh 10\n";
const DWORD HOLD_MIN_MS = 500, HOLD_MAX_MS = 9000; // how long a fault lasts
// What errors.txt gets, whatever line of the source logs it.
const char HUNG_LOGGED[] = "src/lcd\\(\\d+\\) \\| LCD not responding - restarting update thread";
const DWORD STANDIN_HANG_MIN_MS = 4000, STANDIN_HANG_MAX_MS = 12000; // past GPU-Z's ten busy seconds

class Faults;
struct LcdFault {
    const char *name;
    bool (*inject)(Faults *);
    bool (*recover)(Faults *);
    const char *logged; // a pattern of what errors.txt gets, once for the run
};

class Faults : public FaultRun {
protected:
    static bool command(const std::string &text) { return standin_command(text.c_str()) != 0; }
    // Codes the LCD Manager may answer with: its own, system ones, none known.
    std::string code() { return std::to_string(std::vector<unsigned>{1722, 5, 1460, 31, 0x80004005u, 0xDEADBEEFu}[pick(6)]); }

    static const std::vector<LcdFault> &lcd_faults()
    {
        static const std::vector<LcdFault> table = {
            {"killed", [](Faults *r) { return r->lcdmon.kill(), true; }, [](Faults *r) { return r->start_display(); },
             0},
            {"quit", [](Faults *r) { return r->lcdmon.stop(), true; }, [](Faults *r) { return r->start_display(); }, 0},
            {"hung in an update", [](Faults *) { return command("hang on"); }, [](Faults *) { return command("hang off"); },
             HUNG_LOGGED},
            {"hung, then killed", [](Faults *) { return command("hang on"); },
             [](Faults *r) { return r->lcdmon.kill(), r->start_display(); }, HUNG_LOGGED},
            {"refusing connections", [](Faults *r) { return command("refuse " + r->code()) && command("drop all"); },
             [](Faults *) { return command("refuse 0"); }, 0},
            {"failing updates", [](Faults *r) { return command("fail " + r->code()); },
             [](Faults *) { return command("fail 0"); }, "src/lcd_thread\\(\\d+\\) \\| LCD error '"},
        };
        return table;
    }

    // Each fault once per round, the rounds shuffled.
    std::vector<int> fault_order(long cycles)
    {
        std::vector<int> order, round;
        for (int k = 0; k < (int)lcd_faults().size(); k++)
            round.push_back(k);
        while ((long)order.size() < cycles) {
            std::shuffle(round.begin(), round.end(), random);
            order.insert(order.end(), round.begin(), round.end());
        }
        order.resize((size_t)cycles);
        return order;
    }

    // One step against a module's stand-in, then its pages again.
    void hang(StandInProcess &s)
    {
        ASSERT_TRUE(s.suspend(true));
        Sleep(between(STANDIN_HANG_MIN_MS, STANDIN_HANG_MAX_MS)); // the hang itself
        ASSERT_TRUE(s.suspend(false));
        EXPECT_TRUE(pages_shown(s.kind, true)) << "after the hang";
    }

    void garbage(StandInProcess &s)
    {
        const char *text = s.kind.garbage[(size_t)pick((int)s.kind.garbage.size())];
        std::string shown;
        for (const char *c = text; *c; c++) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, (unsigned char)(*c - 0x20) < 0x5f ? "%c" : "\\x%02x", (unsigned char)*c);
            shown += escaped;
        }
        printf("  garbage: %s\n", shown.c_str());
        ASSERT_TRUE(s.kind.control == BY_START_SCRIPT ? s.start(text) : s.send(text));
        ASSERT_TRUE(wait_more_frames(20, RECOVERY_WAIT_MS)) << "while it publishes garbage";
        if (s.kind.details_press) {
            ASSERT_TRUE(standin_command(s.kind.details_press));
            ASSERT_TRUE(wait_more_frames(20, RECOVERY_WAIT_MS)) << "the garbage in detail";
        }
        ASSERT_TRUE(s.kind.control == BY_START_SCRIPT ? s.start() : s.send(s.kind.start));
        EXPECT_TRUE(pages_shown(s.kind, true)) << "after the garbage";
    }

    // A stand-in the program itself ends (a hung window) quits by the press.
    void end_and_restart(StandInProcess &s, bool crash)
    {
        if (!crash && s.kind.ended_by_press) {
            ASSERT_TRUE(standin_command(s.kind.ended_by_press));
            EXPECT_EQ(s.exit_code_within(10000), 0) << "ended by the program";
        } else {
            ASSERT_TRUE(crash ? s.kill() : s.quit());
        }
        EXPECT_TRUE(pages_shown(s.kind, false)) << "pages give way once it has ended";
        ASSERT_TRUE(s.start());
        EXPECT_TRUE(pages_shown(s.kind, true)) << "after the restart";
    }
};

TEST_F(Faults, LcdManagerKilledHungRefusedAndRestarted)
{
    const long cycles = env_number("PIXWICK_FAULT_CYCLES", (long)lcd_faults().size());
    start_tick_witness(module_standin("fraps"));
    start_program(LCD_SETTINGS);
    std::vector<double> recoveries;
    int cycle = 0;
    for (int k : fault_order(cycles)) {
        const LcdFault &fault = lcd_faults()[(size_t)k];
        const DWORD hold = between(HOLD_MIN_MS, HOLD_MAX_MS);
        SCOPED_TRACE(testing::Message() << "cycle " << ++cycle << ": " << fault.name);
        const size_t from = frame_count();
        const int64_t injected = lcdmon_now_us();
        const int titles = heartbeat.title_changes();
        ASSERT_TRUE(fault.inject(this));
        const bool long_enough_to_log = hold >= 2000; // a hang counts after a second
        if (fault.logged && long_enough_to_log &&
            std::find(expected_errors.begin(), expected_errors.end(), fault.logged) == expected_errors.end())
            expected_errors.push_back(fault.logged);
        Sleep(hold); // the fault lasts this long
        EXPECT_EQ(later_than(frame_times(from), injected + 1500000).size(), 0u) << "frames got through the fault";
        ASSERT_TRUE(fault.recover(this));
        const int64_t recovered = lcdmon_now_us();
        const double latency = recovery_ms(from, recovered);
        recoveries.push_back(latency);
        EXPECT_GE(latency, 0) << "no frames after the recovery";
        EXPECT_LE(latency, RECOVERY_MS) << "frames again too late";
        char label[96];
        snprintf(label, sizeof label, "%2d %-20s %4.1f s, titles %d, back %4.0f ms", cycle, fault.name, hold / 1000.0,
                 heartbeat.title_changes() - titles, latency);
        take_sample(label);
        ASSERT_TRUE(running(program));
    }
    printf("frames again after (ms):");
    for (double ms : recoveries)
        printf(" %.0f", ms);
    printf("\n");
    print_series();
    expect_heartbeat();
    expect_nothing_left_behind(series.front(), series.back());
    finish();
}

TEST_F(Faults, ModuleStandInsQuitRestartHangAndPublishGarbage)
{
    const long rounds = env_number("PIXWICK_MODULE_ROUNDS", 1);
    std::vector<StandInProcess *> rows;
    for (const StandIn &s : module_standins())
        rows.push_back(&add_standin(s));
    std::shuffle(rows.begin(), rows.end(), random);
    start_program("animate_start 0\nconfig_refresh 5\n");
    for (StandInProcess *each : rows) {
        const size_t first_sample = series.size();
        StandInProcess &s = *each;
        const StandIn *row = &s.kind;
        write_settings(std::string("animate_start 0\nconfig_refresh 5\n") + row->settings);
        ASSERT_TRUE(s.start()) << row->name;
        ASSERT_TRUE(pages_shown(*row, true)) << row->name << " shown";
        // Every step it can take: Core Audio has no process to hang or kill,
        // a COM server is not killed.
        std::vector<int> steps;
        for (long r = 0; r < rounds; r++)
            for (int step : {0, 1, 2, 3})
                if (!(step == 0 && row->control == IN_PROGRAM) && !(step == 3 && (row->control == IN_PROGRAM || row->com_server)))
                    steps.push_back(step);
        std::shuffle(steps.begin(), steps.end(), random);
        SCOPED_TRACE(row->name);
        for (int step : steps) {
            static const char *const NAMES[] = {"hung", "garbage", "quit and restarted", "killed and restarted"};
            SCOPED_TRACE(NAMES[step]);
            const size_t from = frame_count();
            const int64_t begun = lcdmon_now_us();
            if (step == 0)
                hang(s);
            else if (step == 1)
                garbage(s);
            else
                end_and_restart(s, step == 3);
            if (HasFatalFailure())
                return;
            const double gap = max_frame_gap_ms(from, begun);
            EXPECT_LE(gap, FRAME_GAP_MS) << "the display went without frames";
            char label[96];
            snprintf(label, sizeof label, "%s %s, frame gap %.0f ms", row->name, NAMES[step], gap);
            take_sample(label);
        }
        expect_nothing_left_behind(series[first_sample], series.back());
        ASSERT_TRUE(s.quit());
    }
    print_series();
    expect_heartbeat();
    finish();
}

} // namespace
