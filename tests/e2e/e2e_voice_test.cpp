// End to end: the TeamSpeak pages of the real program against the stand-ins
// that play the clients (standins/teamspeak). TeamSpeak 3 runs in both
// builds; TeamSpeak 2's library is 32-bit only, so its sessions run in the
// 32-bit build, and the 64-bit build shows "NO DLL" even with the library
// beside it.
#include "e2e_fixture.h"

#include <stdlib.h>

#include "slots.h"
#include "ticker.h"
#include "ts2_standin.h"
#include "ts_script.h"

using namespace e2e;

namespace {

const int PANEL_WIDTH = 39, PANEL_HEIGHT = 21, PANEL_TOP = 22;

class VoiceE2E : public E2E {
protected:
    std::vector<PROCESS_INFORMATION> standins;
    std::string standin_log;
    std::vector<std::string> extra_files{"\\script.txt", "\\standin.log", "\\TSRemote.dll"};

    void SetUp() override
    {
        E2E::SetUp();
        standin_log = work + "\\standin.log";
    }
    void TearDown() override
    {
        if (HasFailure())
            printf("stand-in log:\n%s\n", read_binary_file(standin_log).c_str());
        for (PROCESS_INFORMATION &p : standins) {
            TerminateProcess(p.hProcess, 1);
            WaitForSingleObject(p.hProcess, 5000);
            CloseHandle(p.hProcess);
            CloseHandle(p.hThread);
        }
        E2E::TearDown(); // ends pixwick.exe, which holds TSRemote.dll
        for (const std::string &file : extra_files)
            DeleteFileA((work + file).c_str());
        RemoveDirectoryA(work.c_str());
    }

    std::string standin_path(const char *name)
    {
        char exe[MAX_PATH] = "";
        GetModuleFileNameA(0, exe, sizeof exe);
        std::string path = exe;
        return path.substr(0, path.rfind('\\') + 1) + "standins\\teamspeak\\" + name;
    }

    HANDLE start_standin(const char *exe, const std::string &script)
    {
        if (!write_file(work + "\\script.txt", script))
            return 0;
        std::string path = standin_path(exe);
        std::string line = "\"" + path + "\" --lifetime 200 --script \"" + work + "\\script.txt\" --log \"" +
                           standin_log + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        if (!CreateProcessA(path.c_str(), &line[0], 0, 0, FALSE, CREATE_NO_WINDOW, 0, work.c_str(), &startup, &p))
            return 0;
        standins.push_back(p);
        return p.hProcess;
    }

    bool log_has(const char *text, DWORD timeout_ms)
    {
        return WAIT_UNTIL(read_binary_file(standin_log).find(text) != std::string::npos, timeout_ms);
    }

    // A pop-up seen in the frames from `from` on, within timeout_ms.
    bool popup_shown(size_t from, const char *text, DWORD timeout_ms = 15000)
    {
        return WAIT_UNTIL(find_popup(frames(), from, text) >= 0, timeout_ms);
    }

    // A frame from `from` on whose right end of the band shows exactly the
    // ticker box of `label`, within timeout_ms.
    bool ticker_shown(size_t from, const char *label, DWORD timeout_ms = 15000)
    {
        EventTicker ticker;
        ticker_start(&ticker);
        ticker_add(&ticker, label);
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        ticker_render(&ticker);
        ticker_clear(&ticker);
        Picture want(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES);
        int left = 0; // the bottom border starts at the text's first column
        while (left < LCD_WIDTH - 1 && !want[(size_t)(20 * LCD_WIDTH + left)])
            left++;
        return WAIT_UNTIL(matches_after(from, want, left - 2, LCD_WIDTH - 1, 7, 20), timeout_ms);
    }

    bool matches_after(size_t from, const Picture &want, int x0, int x1, int y0, int y1)
    {
        std::vector<Frame> list = frames();
        for (size_t k = from; k < list.size(); k++) {
            bool same = true;
            for (int y = y0; y <= y1 && same; y++)
                for (int x = x0; x <= x1 && same; x++)
                    same = (list[k].at(x, y) != 0) == (want[(size_t)(y * LCD_WIDTH + x)] != 0);
            if (same)
                return true;
        }
        return false;
    }

    // Slot 0 drawn by `draw` into an empty frame, as this process draws it.
    template <typename Draw> Picture panel_drawn_by(Draw draw)
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        Slot slot = {};
        slot.y = PANEL_TOP;
        draw(&slot);
        return Picture(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES);
    }

    bool panel_shows(const Picture &want, DWORD timeout_ms = 10000)
    {
        size_t from = frame_count();
        return WAIT_UNTIL(matches_after(from, want, 0, PANEL_WIDTH - 1, PANEL_TOP, LCD_HEIGHT - 1), timeout_ms);
    }

    // Slot 0's label (the left end of the panel's top rows, where nothing else is drawn).
    bool slot_shows_label(const char *label)
    {
        Picture want = panel_drawn_by([&](Slot *slot) { slot_draw_frame(slot, label); });
        size_t from = frame_count();
        return WAIT_UNTIL(matches_after(from, want, 0, 19, PANEL_TOP, PANEL_TOP + 6), 10000);
    }

    // Waits until slot 0 shows the golden picture (PIXWICK_UPDATE_GOLDEN=1:
    // writes it from a frame a second later).
    void expect_panel_golden(const char *name)
    {
        golden::Picture want;
        const char *update = getenv("PIXWICK_UPDATE_GOLDEN");
        if ((!update || update[0] != '1') &&
            golden::read_pbm(std::string(PIXWICK_GOLDEN_DIR) + "/" + name + ".pbm", &want) &&
            want.width == PANEL_WIDTH && want.height == PANEL_HEIGHT) {
            Picture frame(LCD_FRAME_BYTES, 0);
            for (int y = 0; y < PANEL_HEIGHT; y++)
                for (int x = 0; x < PANEL_WIDTH; x++)
                    frame[(size_t)((PANEL_TOP + y) * LCD_WIDTH + x)] = want.at(x, y) ? 255 : 0;
            if (panel_shows(frame))
                return;
        } else {
            ASSERT_TRUE(wait_more_frames(10, 5000));
        }
        EXPECT_GOLDEN_AREA(name, frames().back().px.data(), 0, PANEL_TOP, PANEL_WIDTH, PANEL_HEIGHT);
    }

    // Frames per second from frame `from` to the last one.
    double rate_since(size_t from)
    {
        std::vector<Frame> list = frames();
        if (list.size() < from + 2)
            return 0;
        return (double)(list.size() - from - 1) * 1e6 / (double)(list.back().us - list[from].us);
    }

    HANDLE start_pixwick_with(const char *config)
    {
        write_config(config);
        if (!start_lcdmon())
            return 0;
        HANDLE program = start_pixwick();
        return program && wait_frames(20, 25000) ? program : 0;
    }

    bool copy_ts2_library(const char *from)
    {
        return CopyFileA(standin_path(from).c_str(), (work + "\\TSRemote.dll").c_str(), FALSE) != 0;
    }
};

const char CONFIG[] = "slot_0 TS3 TS2 CLK\nanimate_start 0\n";

// ---- TeamSpeak 3 ---------------------------------------------------------------

TEST_F(VoiceE2E, Ts3PagePopupsTickerMuteMembersAndQuit)
{
    ASSERT_TRUE(start_standin("ts3state.exe", "self 7\nchannel Lobby 3\nusers 12\njoin 7 Me\njoin 21 Alice\n"
                                              "join 22 Bob marked\nconnect 1 \"Alpha Server\"\nmark connected\n"
                                              "await ts3join\njoin 23 Carol\nawait ts3talk\ntalk 21 Alice\n"
                                              "await ts3disconnect\nquiet 21\ndisconnect\nawait ts3quit\nquit\n"));
    ASSERT_TRUE(log_has("mark connected", 15000));
    HANDLE program = start_pixwick_with(CONFIG);
    ASSERT_NE(program, nullptr);
    EXPECT_TRUE(popup_shown(0, "TS3: Server \"Alpha Server\""));
    EXPECT_TRUE(popup_shown(0, "TS3: Channel \"Lobby\""));
    expect_panel_golden("ts3_panel_connected");

    ASSERT_TRUE(standin_command("press 1 100"));
    EXPECT_TRUE(log_has("mute request", 10000));
    expect_panel_golden("ts3_panel_muted");
    size_t n = frame_count();
    ASSERT_TRUE(standin_command("press 1 800"));
    EXPECT_TRUE(popup_shown(n, "TS3: Channel \"Lobby\": Me, Alice, (Bob)"));
    ASSERT_TRUE(standin_command("press 1 100"));
    EXPECT_TRUE(log_has("unmute request", 10000));

    n = frame_count(); // the ticker lies over the band: pop-ups are looked for without it
    ASSERT_TRUE(ts_signal("ts3join"));
    EXPECT_TRUE(popup_shown(n, "TS3: \"Carol\" connected"));
    n = frame_count();
    ASSERT_TRUE(ts_signal("ts3talk"));
    EXPECT_TRUE(ticker_shown(n, "Alice"));
    EXPECT_EQ(find_popup(frames(), 0, "TS3: \"Alice\" connected"), -1) << "present at the first sight";

    n = frame_count();
    ASSERT_TRUE(ts_signal("ts3disconnect"));
    EXPECT_TRUE(popup_shown(n, "TS3: Disconnected"));
    ASSERT_TRUE(ts_signal("ts3quit"));
    EXPECT_TRUE(slot_shows_label("CLK")) << "the block has gone: the slot's next module";
    EXPECT_GT(rate_since(10), 8.0);
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(VoiceE2E, Ts3BrokenMemberListsAndAWrongSizeNeverStallTheTicks)
{
    ASSERT_TRUE(start_standin("ts3state.exe", "self 7\nchannel Lobby 3\nusers 12\njoin 7 Me\njoin 21 Alice\n"
                                              "connect 1 Alpha\nmark connected\nawait ts3bad\n"
                                              "members loop\nwait 1500\nmembers backwards\nwait 1500\n"
                                              "members overrun\nwait 1500\nsizefield 1777\nmark wrongsize\n"
                                              "await ts3size\nsizefield 1778\nmembers unterminated\n"));
    ASSERT_TRUE(log_has("mark connected", 15000));
    HANDLE program = start_pixwick_with(CONFIG);
    ASSERT_NE(program, nullptr);
    size_t from = frame_count();
    ASSERT_TRUE(ts_signal("ts3bad"));
    ASSERT_TRUE(log_has("mark wrongsize", 20000));
    EXPECT_TRUE(popup_shown(from, "TS3: Incompatible version"));
    EXPECT_TRUE(slot_shows_label("CLK"));
    ASSERT_TRUE(ts_signal("ts3size"));
    // The new entries arrive together, so the last one's pop-up is shown: "Me"
    // and "Alice" take 17 bytes, five entries of 131 follow, and the sixth's
    // name runs from 676 to the list's end at 768, where it is cut.
    const std::string cut = "TS3: \"Unterminated" + std::string(768 - 676 - 12, 'u') + "\" connected";
    EXPECT_TRUE(popup_shown(from, cut.c_str()));
    EXPECT_TRUE(slot_shows_label("TS3"));
    EXPECT_GT(rate_since(from), 8.0);
    EXPECT_EQ(end_with_buttons(program), 0);
}

// ---- TeamSpeak 2 ---------------------------------------------------------------

// The 64-bit build cannot load the 32-bit library, even from its own folder:
// "NO DLL", and a long press shows "WAIT" while it tries again. The 32-bit
// build finds no library here.
TEST_F(VoiceE2E, Ts2WithoutLoadableLibraryShowsNoDll)
{
#ifdef _WIN64
    char exe[MAX_PATH] = "";
    GetModuleFileNameA(0, exe, sizeof exe);
    std::string win32 = std::string(exe).substr(0, std::string(exe).rfind('\\')) + "\\..\\win32\\";
    const std::string library = win32 + "standins\\teamspeak\\TSRemote.dll";
    if (GetFileAttributesA(library.c_str()) != INVALID_FILE_ATTRIBUTES) {
        EXPECT_TRUE(CopyFileA(library.c_str(), (work + "\\TSRemote.dll").c_str(), FALSE));
    }
#endif
    ASSERT_TRUE(start_standin("ts2client.exe", "server Alpha 12\nmark ready\nawait ts2quit\nquit\n"));
    ASSERT_TRUE(log_has("mark ready", 15000));
    HANDLE program = start_pixwick_with(CONFIG);
    ASSERT_NE(program, nullptr);
    Picture no_dll = panel_drawn_by([](Slot *s) { slot_draw_frame(s, "TS2"), slot_text(s, 0, 5, 13, "NO DLL"); });
    Picture wait = panel_drawn_by([](Slot *s) { slot_draw_frame(s, "TS2"), slot_text(s, 0, 16, 13, "WAIT"); });
    ASSERT_TRUE(panel_shows(no_dll));
    expect_panel_golden("ts2_panel_no_dll");
    ASSERT_TRUE(standin_command("press 1 800"));
    EXPECT_TRUE(panel_shows(wait, 5000));
    EXPECT_TRUE(panel_shows(no_dll, 5000));
    ASSERT_TRUE(ts_signal("ts2quit"));
    EXPECT_TRUE(slot_shows_label("CLK")) << "no TeamSpeak 2 window: the slot's next module";
    EXPECT_EQ(end_with_buttons(program), 0);
}

#ifdef _WIN64
#define SKIP_IN_64BIT() GTEST_SKIP() << "TSRemote.dll is 32-bit only: this runs in the 32-bit build"
#else
#define SKIP_IN_64BIT() (void)0
#endif

const char TS2_SESSION[] = "channel 5 Lobby 3\nself 1 Me\njoin 2 5 Bob\njoin 3 5 Carl 8\nserver Alpha 12\n"
                           "mark connected\n";

TEST_F(VoiceE2E, Ts2PagePopupsTickerMuteMembersAndQuit)
{
    SKIP_IN_64BIT();
    ASSERT_TRUE(copy_ts2_library("TSRemote.dll"));
    ASSERT_TRUE(start_standin("ts2client.exe", std::string(TS2_SESSION) +
                                                   "await ts2join\njoin 4 6 Dora\nawait ts2talk\ntalk 2\nawait ts2leave\n"
                                                   "leave 2\nawait ts2disconnect\ndisconnect\nawait ts2quit\nquit\n"));
    ASSERT_TRUE(log_has("mark connected", 15000));
    HANDLE program = start_pixwick_with(CONFIG);
    ASSERT_NE(program, nullptr);
    EXPECT_TRUE(popup_shown(0, "TS2: Server \"Alpha\""));
    EXPECT_TRUE(popup_shown(0, "TS2: Channel \"Lobby\""));
    EXPECT_TRUE(popup_shown(0, "TS2: \"Carl\" connected")) << "the last arrival replaces the queued one";
    expect_panel_golden("ts2_panel_idle");

    ASSERT_TRUE(standin_command("press 1 100"));
    EXPECT_TRUE(log_has("set flags 0x10", 10000));
    expect_panel_golden("ts2_panel_muted");
    size_t n = frame_count();
    ASSERT_TRUE(standin_command("press 1 800"));
    EXPECT_TRUE(popup_shown(n, "TS2: Channel \"Lobby\": (Me), Bob, (Carl)"));

    n = frame_count(); // the ticker lies over the band: pop-ups are looked for without it
    ASSERT_TRUE(ts_signal("ts2join"));
    EXPECT_TRUE(popup_shown(n, "TS2: \"Dora\" connected"));
    n = frame_count();
    ASSERT_TRUE(ts_signal("ts2talk"));
    EXPECT_TRUE(ticker_shown(n, "Bob"));
    n = frame_count();
    ASSERT_TRUE(ts_signal("ts2leave")); // Bob stops talking as he leaves
    EXPECT_TRUE(popup_shown(n, "TS2: \"Bob\" dropped"));
    n = frame_count();
    ASSERT_TRUE(ts_signal("ts2disconnect"));
    EXPECT_TRUE(popup_shown(n, "TS2: Disconnected"));
    ASSERT_TRUE(ts_signal("ts2quit"));
    EXPECT_TRUE(slot_shows_label("CLK"));
    EXPECT_GT(rate_since(10), 8.0);
    EXPECT_EQ(end_with_buttons(program), 0);
}

int hanging_calls()
{
    Ts2StandInAccess access;
    if (!ts2_standin_attach(&access))
        return -1;
    int n = (int)access.block->hanging;
    ts2_standin_release(&access);
    return n;
}

// An old library without tsrGetSpeakers; garbage and short records, then a
// call that never returns: the frames keep coming, and the four buttons still
// end the program (its worker is ended).
TEST_F(VoiceE2E, Ts2LyingOrHangingLibraryNeverStallsTheTicks)
{
    SKIP_IN_64BIT();
    ASSERT_TRUE(copy_ts2_library("old\\TSRemote.dll"));
    ASSERT_TRUE(start_standin("ts2client.exe", std::string(TS2_SESSION) +
                                                   "await ts2bad\nrecords garbage\nwait 2000\nrecords short\n"
                                                   "wait 2000\nrecords normal\nhang on\nmark hanging\n"));
    ASSERT_TRUE(log_has("mark connected", 15000));
    HANDLE program = start_pixwick_with(CONFIG);
    ASSERT_NE(program, nullptr);
    expect_panel_golden("ts2_panel_idle");
    size_t from = frame_count();
    ASSERT_TRUE(ts_signal("ts2bad"));
    ASSERT_TRUE(log_has("mark hanging", 15000));
    ASSERT_TRUE(WAIT_UNTIL(hanging_calls() == 1, 5000));
    ASSERT_TRUE(wait_more_frames(30, 10000)) << "while the worker hangs";
    EXPECT_GT(rate_since(from), 8.0);
    EXPECT_EQ(end_with_buttons(program), 0);
}

// After 60 s without an answer the worker is replaced; once the library
// answers again the page is back.
TEST_F(VoiceE2E, Ts2WorkerHungForAMinuteIsReplaced)
{
    SKIP_IN_64BIT();
    ASSERT_TRUE(copy_ts2_library("TSRemote.dll"));
    ASSERT_TRUE(start_standin("ts2client.exe", std::string(TS2_SESSION) + "await ts2hang\nhang on\n"
                                                                          "await ts2answer\nhang off\n"));
    ASSERT_TRUE(log_has("mark connected", 15000));
    HANDLE program = start_pixwick_with(CONFIG);
    ASSERT_NE(program, nullptr);
    expect_panel_golden("ts2_panel_idle");
    const int before = count_occurrences(read_binary_file(log_path("errors.txt")), "TS2 thread timeout -- restarting");
    ASSERT_TRUE(ts_signal("ts2hang"));
    ASSERT_TRUE(WAIT_UNTIL(hanging_calls() >= 1, 5000));
    size_t from = frame_count();
    EXPECT_TRUE(WAIT_UNTIL(count_occurrences(read_binary_file(log_path("errors.txt")),
                                             "TS2 thread timeout -- restarting") > before,
                           80000));
    EXPECT_GT(rate_since(from), 8.0);
    ASSERT_TRUE(ts_signal("ts2answer"));
    expect_panel_golden("ts2_panel_idle");
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
