// The fault-injection and soak runs: the real pixwick.exe under Wine while
// its outside programs crash, hang, restart and publish garbage. Built on the
// end-to-end fixture (the program, the LCD Manager stand-in, its frame log).
//
// What is watched from outside:
// - the heartbeat: a frame the display accepts, a call of the FRAPS
//   stand-in's library, which the program's FPS page makes on every second
//   tick and the library logs, or a change of the test window's title (set on
//   each second tick while frames fail, to a text that changes every 30
//   ticks) is a beat. The longest time without a beat bounds how long the
//   tick loop ever stood, also while no frame reaches the display;
// - the process's handles, private bytes, threads and anonymous memory
//   (process_sample.h);
// - pixwick.txt, which the program must never write, and the well-formed
//   lines of system.txt and errors.txt.
// Durations and counts come from the environment (scripts/faults sets them
// for the long runs; the defaults are the short runs of scripts/test). The
// order of faults comes from a seed, printed, so a run can be repeated.
#pragma once
#include "../e2e_fixture.h"

#include <fstream>
#include <memory>
#include <random>
#include <regex>

#include "process_sample.h"
#include "slots.h"
#include "standin_driver.h"

namespace faults {

using namespace e2e;

enum {
    RECOVERY_MS = 3000,       // frames again after the LCD Manager is back
    // With the FRAPS stand-in running the program writes its log every second
    // tick; the rest is for a loaded machine. (The title alone changes only
    // every 30 ticks once 20 have failed: up to 7 s without a beat.)
    HEARTBEAT_GAP_MS = 3000,
    FRAME_GAP_MS = 1500,      // between frames while only a module's stand-in fails
    SHOWN_WAIT_MS = 20000,    // a page follows its stand-in; a hung window counts after 5 s
    RECOVERY_WAIT_MS = 15000, // how long a recovery is waited for before it counts as lost
    SETTLE_FRAMES = 10,       // frames after a recovery before the process is sampled
    BEAT_POLL_MS = 20,
};
// What a run may leave behind between its first recovery and its last:
// nothing per fault, but a handle or thread of a call in flight, or a heap
// that grew by a page or two, can be caught at either end.
const long MARGIN_HANDLES = 5, MARGIN_THREADS = 1;
const double MARGIN_PRIVATE_MB = 1.0, MARGIN_ANON_MB = 2.0;
// Under Wine each thread commits 3 MB of private stack, so private bytes are
// compared without the threads' stacks (threads are compared on their own).
const double THREAD_STACK_MB = 3.0;
// Wine's RPC runtime keeps in a client the pipe connections (pipe ends and
// their events) to every local server it talked to, also once the server has
// gone: 4 or 5 pipe ends and 5 to 7 events for each iTunes that has quit,
// measured by handle type, with nothing of the program's growing. They are
// not the program's to close, so handles are compared without them.
const long RPC_HANDLES_PER_SERVER_GONE = 12;

// What is compared: handles and private bytes without what Wine keeps.
inline long own_handles(const ProcessSample &s, long servers_gone)
{
    return s.handles - RPC_HANDLES_PER_SERVER_GONE * servers_gone;
}
inline double private_without_stacks(const ProcessSample &s) { return s.private_mb - THREAD_STACK_MB * s.threads; }

// The label's box at a panel's top left, where a page draws nothing else.
const int ROW_TOP = 22, LABEL_WIDTH = 20, LABEL_HEIGHT = 7, COLUMNS[SLOT_COUNT] = {0, 40, 81, 121};

inline long env_number(const char *name, long fallback)
{
    const char *text = getenv(name);
    return text && *text ? strtol(text, 0, 10) : fallback;
}

// ---- Heartbeat -----------------------------------------------------------------

// A beat: a file the program writes grew (the frame log; the FRAPS stand-in's
// log, where the program's FPS page notes its call on every second tick), or
// the title of its window changed.
class Heartbeat {
public:
    ~Heartbeat() { stop(); }

    void start(const std::vector<std::string> &grown_files, HWND program_window)
    {
        files = grown_files;
        window = program_window;
        InitializeCriticalSection(&lock);
        last_us = lcdmon_now_us();
        thread = CreateThread(0, 0, run, this, 0, 0);
    }

    void stop()
    {
        if (!thread)
            return;
        InterlockedExchange(&stopping, 1);
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
        thread = 0;
        DeleteCriticalSection(&lock);
    }

    // The longest time without a beat since the start, in ms, counting the
    // time since the last beat.
    double max_gap_ms()
    {
        EnterCriticalSection(&lock);
        int64_t gap = std::max(max_gap_us, lcdmon_now_us() - last_us);
        LeaveCriticalSection(&lock);
        return (double)gap / 1000;
    }
    int title_changes() { return (int)InterlockedCompareExchange(&changes, 0, 0); }

private:
    std::vector<std::string> files;
    HWND window = 0;
    HANDLE thread = 0;
    volatile LONG stopping = 0, changes = 0;
    CRITICAL_SECTION lock;
    int64_t last_us = 0, max_gap_us = 0;

    void beat()
    {
        EnterCriticalSection(&lock);
        int64_t now = lcdmon_now_us();
        max_gap_us = std::max(max_gap_us, now - last_us);
        last_us = now;
        LeaveCriticalSection(&lock);
    }

    static uint64_t size_of(const std::string &path)
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)
                   ? ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow
                   : 0;
    }

    static DWORD WINAPI run(void *self)
    {
        Heartbeat *h = (Heartbeat *)self;
        std::vector<uint64_t> sizes(h->files.size());
        std::string title = title_of(h->window);
        while (!InterlockedCompareExchange(&h->stopping, 0, 0)) {
            bool grown = false;
            for (size_t k = 0; k < h->files.size(); k++) {
                uint64_t size = size_of(h->files[k]);
                grown |= size > sizes[k];
                sizes[k] = size;
            }
            // The title of another process's window comes from the window
            // manager without a message, so a busy program cannot hold this up.
            std::string now_title = title_of(h->window);
            if (now_title != title)
                InterlockedIncrement(&h->changes);
            if (grown || now_title != title)
                h->beat();
            title = now_title;
            Sleep(BEAT_POLL_MS);
        }
        return 0;
    }
};

// ---- The run -------------------------------------------------------------------

struct SeriesPoint {
    std::string label;
    ProcessSample sample;
    long servers_gone; // local servers that had quit by then
};

class FaultRun : public E2E {
protected:
    HANDLE program = 0;
    Heartbeat heartbeat;
    std::mt19937 random;
    std::vector<SeriesPoint> series;
    std::string settings_written;
    FILETIME settings_time = {};
    size_t errors_before = 0;                // errors.txt's size when the program started
    std::vector<std::string> expected_errors; // patterns of failures this run caused, each to be in errors.txt
    std::vector<std::unique_ptr<StandInProcess>> standins; // ended by TearDown at the latest
    std::string witness_log;                                // the FRAPS stand-in's, when it is a witness

    void SetUp() override
    {
        E2E::SetUp();
        const unsigned seed = (unsigned)env_number("PIXWICK_FAULT_SEED", 15);
        random.seed(seed);
        printf("seed %u (PIXWICK_FAULT_SEED)\n", seed);
    }

    void TearDown() override
    {
        heartbeat.stop();
        for (auto &s : standins) {
            s->end();
            s->uninstall();
            if (!HasFailure())
                s->delete_files();
        }
        if (HasFailure())
            printf("the stand-ins' logs are kept in %s\n", work.c_str());
        E2E::TearDown();
    }

    // Before the program starts: some stand-ins install themselves first.
    StandInProcess &add_standin(const StandIn &kind)
    {
        standins.emplace_back(new StandInProcess(kind, work));
        EXPECT_TRUE(standins.back()->install()) << kind.name;
        return *standins.back();
    }

    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }
    DWORD between(DWORD low_ms, DWORD high_ms) { return std::uniform_int_distribution<DWORD>(low_ms, high_ms)(random); }

    // The LCD Manager stand-in for the whole run: no lifetime of its own.
    bool start_display()
    {
        return lcdmon.register_standin() &&
               lcdmon.start(("--lifetime 0 --frame-log \"" + frame_log + "\"").c_str());
    }

    // The settings, the LCD Manager and the program, until frames come.
    void start_program(const std::string &settings)
    {
        write_settings(settings);
        errors_before = read_binary_file(log_path("errors.txt")).size();
        ASSERT_TRUE(start_display());
        ASSERT_NE(program = start_pixwick(), nullptr);
        ASSERT_TRUE(wait_frames(SETTLE_FRAMES, 30000)) << "frames: " << frame_count();
        // The main window; the FPS page makes short-lived ones of the same class.
        HWND window = FindWindowA(WINDOW_CLASS, NAME);
        ASSERT_NE(window, nullptr);
        std::vector<std::string> grown{frame_log};
        if (!witness_log.empty())
            grown.push_back(witness_log);
        heartbeat.start(grown, window);
    }

    // The FRAPS stand-in, whose log the program's FPS page writes every second
    // tick, as a second witness of the tick loop.
    void start_tick_witness(const StandIn &fraps)
    {
        StandInProcess &s = add_standin(fraps);
        ASSERT_TRUE(s.start());
        witness_log = s.log_path();
    }

    // pixwick.txt as this run writes it; the program itself never does.
    void write_settings(const std::string &text)
    {
        write_config(text);
        settings_written = text;
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA((work + "\\pixwick.txt").c_str(), GetFileExInfoStandard, &data));
        settings_time = data.ftLastWriteTime;
    }

    // ---- Frames

    // Time stamps of the frames from index `from` on.
    std::vector<int64_t> frame_times(size_t from)
    {
        std::vector<int64_t> times;
        std::ifstream file(frame_log, std::ios::binary);
        file.seekg((std::streamoff)(from * LCDMON_LOG_RECORD_BYTES));
        int64_t us;
        while (file.read((char *)&us, 8) && file.seekg(LCD_FRAME_BYTES, std::ios::cur))
            times.push_back(us);
        return times;
    }

    bool last_frame(Picture *px)
    {
        const size_t n = frame_count();
        std::ifstream file(frame_log, std::ios::binary);
        file.seekg((std::streamoff)((n ? n - 1 : 0) * LCDMON_LOG_RECORD_BYTES + 8));
        px->resize(LCD_FRAME_BYTES);
        return n && file.read((char *)px->data(), LCD_FRAME_BYTES);
    }

    // The longest gap in ms between frames from index `from` on, counting
    // the time from the last one to now.
    double max_frame_gap_ms(size_t from, int64_t since_us)
    {
        int64_t previous = since_us, gap = 0;
        for (int64_t us : frame_times(from))
            gap = std::max(gap, us - previous), previous = us;
        return (double)std::max(gap, lcdmon_now_us() - previous) / 1000;
    }

    // Milliseconds from since_us to the second frame after it (the first may
    // be the frame a stuck call delivers as it returns); -1 when none came
    // within RECOVERY_WAIT_MS.
    double recovery_ms(size_t from, int64_t since_us)
    {
        std::vector<int64_t> after;
        WAIT_UNTIL((Sleep(50), after = later_than(frame_times(from), since_us), after.size() >= 2), RECOVERY_WAIT_MS);
        return after.size() >= 2 ? (double)(after[1] - since_us) / 1000 : -1;
    }

    static std::vector<int64_t> later_than(const std::vector<int64_t> &times, int64_t us)
    {
        std::vector<int64_t> later;
        for (int64_t t : times)
            if (t > us)
                later.push_back(t);
        return later;
    }

    // ---- Pages

    bool label_shown(int slot, const char *label)
    {
        Picture px;
        if (!last_frame(&px))
            return false;
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        Slot s = {};
        s.x = COLUMNS[slot], s.y = ROW_TOP;
        slot_draw_frame(&s, label);
        return golden::cut(px.data(), s.x, ROW_TOP, LABEL_WIDTH, LABEL_HEIGHT).bits ==
               golden::cut(g_lcd.frame, s.x, ROW_TOP, LABEL_WIDTH, LABEL_HEIGHT).bits;
    }

    bool pages_shown(const StandIn &s, bool shown)
    {
        return WAIT_UNTIL((Sleep(100), all_pages_are(s, shown)), SHOWN_WAIT_MS);
    }

    bool all_pages_are(const StandIn &s, bool shown)
    {
        for (const Page &p : s.pages)
            if (label_shown(p.slot, p.label) != shown)
                return false;
        return true;
    }

    // ---- Samples and the end of a run

    void take_sample(const std::string &label)
    {
        ASSERT_TRUE(wait_more_frames(SETTLE_FRAMES, RECOVERY_WAIT_MS)) << label;
        long gone = 0;
        for (auto &s : standins)
            gone += s->servers_gone;
        series.push_back({label, sample_process(program, "pixwick.exe"), gone});
        const ProcessSample &s = series.back().sample;
        printf("%-52s handles %4ld  threads %3ld  private %7.2f MB  anonymous %7.2f MB\n", label.c_str(), s.handles,
               s.threads, s.private_mb, s.anon_mb);
        fflush(stdout);
    }

    void print_series()
    {
        auto line = [&](const char *name, auto value) {
            printf("%-10s", name);
            for (const SeriesPoint &p : series)
                printf(" %s", value(p.sample).c_str());
            printf("\n");
        };
        auto fixed = [](double v) {
            char text[32];
            snprintf(text, sizeof text, "%.2f", v);
            return std::string(text);
        };
        line("handles", [](const ProcessSample &s) { return std::to_string(s.handles); });
        line("threads", [](const ProcessSample &s) { return std::to_string(s.threads); });
        line("private", [&](const ProcessSample &s) { return fixed(s.private_mb); });
        line("anonymous", [&](const ProcessSample &s) { return fixed(s.anon_mb); });
        fflush(stdout);
    }

    void expect_nothing_left_behind(const SeriesPoint &first, const SeriesPoint &last)
    {
        const ProcessSample &a = first.sample, &b = last.sample;
        EXPECT_LE(own_handles(b, last.servers_gone), own_handles(a, first.servers_gone) + MARGIN_HANDLES)
            << "local servers gone between: " << last.servers_gone - first.servers_gone;
        EXPECT_LE(b.threads, a.threads + MARGIN_THREADS);
        EXPECT_LE(private_without_stacks(b), private_without_stacks(a) + MARGIN_PRIVATE_MB);
        EXPECT_LE(b.anon_mb, a.anon_mb + MARGIN_ANON_MB);
    }

    void expect_heartbeat()
    {
        if (!witness_log.empty()) {
            EXPECT_NE(read_binary_file(witness_log).find("FrapsSharedData pid " + std::to_string(GetProcessId(program))),
                      std::string::npos)
                << "the program does not write the witness";
        }
        double gap = heartbeat.max_gap_ms();
        printf("longest time without a beat (frame, FRAPS call, title change): %.0f ms (%d title changes)\n", gap,
               heartbeat.title_changes());
        EXPECT_LE(gap, HEARTBEAT_GAP_MS) << "the tick loop stood";
    }

    // The program ends by the four buttons; its logs are whole lines and its
    // settings file as this run left it.
    void finish()
    {
        EXPECT_TRUE(running(program));
        EXPECT_EQ(end_with_buttons(program), 0);
        EXPECT_EQ(read_binary_file(work + "\\pixwick.txt"), settings_written) << "pixwick.txt was written";
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA((work + "\\pixwick.txt").c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &settings_time), 0) << "pixwick.txt was written";
        expect_whole_lines("system.txt", system_line);
        expect_whole_lines("errors.txt", error_line);
        EXPECT_EQ(read_binary_file(log_path("system.txt")).rfind("Starting " + std::string(NAME), 0), 0u)
            << "system.txt lost its start";
        std::string errors = read_binary_file(log_path("errors.txt"));
        errors.erase(0, errors.size() >= errors_before ? errors_before : 0); // unless it was cut to its tail
        for (const std::string &e : expected_errors)
            EXPECT_TRUE(std::regex_search(errors, std::regex(e))) << "not in errors.txt: " << e;
    }

    // Text, tabs and UTF-8; no other control byte, no stray line end.
    static bool system_line(const std::string &line)
    {
        for (unsigned char c : line)
            if (c < 0x20 && c != '\t')
                return false;
        return true;
    }

    // "YYYY-MM-DD HH:MM:SS | source(line) | message..." in printable ASCII.
    static bool error_line(const std::string &line)
    {
        static const std::regex head("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\| [^|]{1,64}\\(\\d+\\) \\| ");
        for (unsigned char c : line)
            if (c < 0x20 || c > 0x7e)
                return false;
        return std::regex_search(line.substr(0, 100), head, std::regex_constants::match_continuous);
    }

    void expect_whole_lines(const char *file, bool (*well_formed)(const std::string &))
    {
        const std::string text = read_binary_file(log_path(file));
        EXPECT_TRUE(text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0))
            << file << " ends inside a line";
        int lines = 0, bad = 0;
        for (size_t at = 0, end; at < text.size(); at = end + 2, lines++) {
            if ((end = text.find("\r\n", at)) == std::string::npos)
                end = text.size();
            const std::string one = text.substr(at, end - at);
            if (!well_formed(one) && ++bad <= 5)
                ADD_FAILURE() << file << ": malformed line '" << one << "'";
        }
        EXPECT_EQ(bad, 0) << file;
        printf("%s: %d lines, %d malformed\n", file, lines, bad);
    }
};

} // namespace faults
