// End to end: the TeamSpeak pages against the stand-ins of standins/teamspeak.
// TeamSpeak 2's library is 32-bit only: its sessions run in the 32-bit build.
#include "e2e_fixture.h"

#include "slots.h"
#include "ticker.h"
#include "ts_script.h"

using namespace e2e;

namespace {

const int PANEL_RIGHT = 38, PANEL_TOP = 22, LABEL_RIGHT = 19, LABEL_BOTTOM = 28;
const char CONFIG[] = "slot_0 TS3 TS2 CLK\nanimate_start 0\n";

std::string exe_folder()
{
    char exe[MAX_PATH] = "";
    GetModuleFileNameA(0, exe, sizeof exe);
    return std::string(exe).substr(0, std::string(exe).rfind('\\') + 1);
}

// A session: its script (connecting, then the steps of play()) and what it shows.
struct Session {
    const char *standin, *library, *connect, *join, *talk, *leave;
    std::vector<const char *> connected_popups;
    const char *idle_golden, *muted_golden, *mute_request, *unmute_request, *member_line, *arrival, *talker,
        *departure, *disconnected;
};

class VoiceE2E : public E2E {
protected:
    std::string standin_log() { return work + "\\standin.log"; }
    void TearDown() override
    {
        if (HasFailure())
            printf("stand-in log:\n%s\n", read_binary_file(standin_log()).c_str());
        E2E::TearDown(); // ends the stand-ins and pixwick.exe, which holds TSRemote.dll
        for (const char *file : {"\\script.txt", "\\standin.log", "\\TSRemote.dll"})
            DeleteFileA((work + file).c_str());
        RemoveDirectoryA(work.c_str());
    }

    // The stand-in plays its script up to "mark connected", then Pixwick starts.
    HANDLE start_pixwick_with_standin(const char *exe, const std::string &script)
    {
        std::string path = exe_folder() + "standins\\teamspeak\\" + exe, script_path = work + "\\script.txt";
        std::string line = "\"" + path + "\" --lifetime 200 --script \"" + script_path + "\" --log \"" + standin_log();
        line += "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        if (!write_file(script_path, script) ||
            !CreateProcessA(path.c_str(), &line[0], 0, 0, FALSE, CREATE_NO_WINDOW, 0, work.c_str(), &startup, &p))
            return 0;
        programs.push_back(p);
        if (!log_has("mark connected") || (write_config(CONFIG), !start_lcdmon()))
            return 0;
        HANDLE program = start_pixwick();
        return program && wait_frames(20, 25000) ? program : 0;
    }

    bool log_has(const char *text, DWORD timeout_ms = 15000)
    {
        return WAIT_UNTIL(read_binary_file(standin_log()).find(text) != std::string::npos, timeout_ms);
    }

    // Looks once a frame period at the frames that came, from `from` on.
    template <typename Seen> bool frame_seen(size_t from, Seen seen, DWORD timeout_ms = 15000)
    {
        for (DWORD start = GetTickCount();; Sleep(100)) {
            std::vector<Frame> list = frames();
            if (seen(list, from))
                return true;
            from = std::max(from, list.size());
            if (GetTickCount() - start > timeout_ms)
                return false;
        }
    }

    bool popup_shown(size_t from, const char *text)
    {
        return frame_seen(from, [&](const std::vector<Frame> &l, size_t k) { return find_popup(l, k, text) >= 0; });
    }

    // A frame from `from` on that equals `want` in the rectangle x0..x1, y0..y1.
    bool picture_seen(size_t from, const Picture &want, int x0, int x1, int y0, int y1, DWORD timeout_ms = 15000)
    {
        auto same = [&](const Frame &f) {
            for (int y = y0; y <= y1; y++)
                for (int x = x0; x <= x1; x++)
                    if ((f.at(x, y) != 0) != (want[(size_t)(y * LCD_WIDTH + x)] != 0))
                        return false;
            return true;
        };
        return frame_seen(from, [&](const std::vector<Frame> &list, size_t k) {
            return std::any_of(list.begin() + (long)std::min(k, list.size()), list.end(), same);
        }, timeout_ms);
    }

    // The label's box alone at the band's right end, as this process draws it.
    bool ticker_shown(size_t from, const char *label)
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
        // Rows 8..19 from the left border on are the box's alone, whatever
        // pop-up lies under it; no other box beside it: the column where its
        // right border would stand is not lit all the way down.
        return picture_seen(from, want, left - 1, LCD_WIDTH - 1, 8, 19) &&
               lit_in(frames().back(), left - 3, left - 3, 8, 19) < 12;
    }

    // The label at the panel's top left, where nothing else is drawn.
    bool label_seen(const char *label)
    {
        Slot slot = {};
        slot.y = PANEL_TOP;
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        slot_draw_frame(&slot, label);
        Picture want(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES);
        return picture_seen(frame_count(), want, 0, LABEL_RIGHT, PANEL_TOP, LABEL_BOTTOM, 10000);
    }

    // Waits until slot 0 shows the golden picture, else compares the last
    // frame with it (which, with PIXWICK_UPDATE_GOLDEN=1, writes it).
    void expect_panel_golden(const char *name)
    {
        golden::Picture want;
        golden::read_pbm(std::string(PIXWICK_GOLDEN_DIR) + "/" + name + ".pbm", &want);
        Picture frame(LCD_FRAME_BYTES, 0);
        for (int y = 0; y < want.height && want.width == PANEL_RIGHT + 1; y++)
            for (int x = 0; x < want.width; x++)
                frame[(size_t)((PANEL_TOP + y) * LCD_WIDTH + x)] = want.at(x, y);
        if (want.width == PANEL_RIGHT + 1 &&
            picture_seen(frame_count(), frame, 0, PANEL_RIGHT, PANEL_TOP, LCD_HEIGHT - 1))
            return;
        EXPECT_GOLDEN_AREA(name, frames().back().px.data(), 0, PANEL_TOP, PANEL_RIGHT + 1, LCD_HEIGHT - PANEL_TOP);
    }

    double rate_since(size_t from)
    {
        std::vector<Frame> list = frames();
        const size_t n = list.size();
        return n < from + 2 ? 0 : (double)(n - from - 1) * 1e6 / (double)(list.back().us - list[from].us);
    }

    bool copy_library(const std::string &from)
    {
        return CopyFileA(from.c_str(), (work + "\\TSRemote.dll").c_str(), FALSE);
    }

    // Presses, then the steps; pop-ups are looked for while nobody talks (the
    // ticker lies over the band).
    void play(const Session &s)
    {
        ASSERT_TRUE(!s.library || copy_library(exe_folder() + "standins\\teamspeak\\" + s.library));
        char script[1024];
        snprintf(script, sizeof script, "%smark connected\nawait join\n%s\nawait talk\n%s\nawait leave\n%s\n"
                 "await disconnect\ndisconnect\nawait quit\nquit\n", s.connect, s.join, s.talk, s.leave);
        HANDLE program = start_pixwick_with_standin(s.standin, script);
        ASSERT_NE(program, nullptr);
        for (const char *text : s.connected_popups)
            EXPECT_TRUE(popup_shown(0, text)) << text;
        expect_panel_golden(s.idle_golden);
        ASSERT_TRUE(standin_command("press 1 100"));
        EXPECT_TRUE(log_has(s.mute_request));
        expect_panel_golden(s.muted_golden);
        size_t n = frame_count();
        ASSERT_TRUE(standin_command("press 1 800"));
        EXPECT_TRUE(popup_shown(n, s.member_line));
        ASSERT_TRUE(standin_command("press 1 100"));
        EXPECT_TRUE(log_has(s.unmute_request));
        const std::pair<const char *, const char *> steps[] = {
            {"join", s.arrival}, {"talk", 0}, {"leave", s.departure}, {"disconnect", s.disconnected}};
        for (const auto &step : steps) {
            n = frame_count();
            ASSERT_TRUE(ts_signal(step.first));
            EXPECT_TRUE(!step.second || popup_shown(n, step.second)) << step.second;
            EXPECT_TRUE(strcmp(step.first, "talk") || ticker_shown(n, s.talker)) << s.talker;
        }
        ASSERT_TRUE(ts_signal("quit"));
        EXPECT_TRUE(label_seen("CLK")) << "the client has gone: the slot's next module";
        EXPECT_GT(rate_since(10), 8.0);
        EXPECT_EQ(end_with_buttons(program), 0);
    }
};

#define SKIP_IN_64BIT() \
    if (sizeof(void *) == 8) GTEST_SKIP() << "TSRemote.dll is 32-bit only: the 32-bit build runs this"

TEST_F(VoiceE2E, Ts3SessionPagePopupsTickerMuteMembersAndQuit)
{
    play(Session{"ts3state.exe", 0,
                 "self 7\nchannel Lobby 3\nusers 12\njoin 7 Me\njoin 21 Alice\njoin 22 Bob marked\n"
                 "connect 1 \"Alpha Server\"\n",
                 "join 23 Carol", "talk 21 Alice\ntalk 22 Bob suppressed", "quiet 21\nquiet 22\nleave 22",
                 {"TS3: Server \"Alpha Server\"", "TS3: Channel \"Lobby\""},
                 "ts3_panel_connected", "ts3_panel_muted", "mute request", "unmute request",
                 "TS3: Channel \"Lobby\": Me, Alice, (Bob)", "TS3: \"Carol\" connected", "Alice", 0,
                 "TS3: Disconnected"});
}

TEST_F(VoiceE2E, Ts2SessionPagePopupsTickerMuteMembersAndQuit)
{
    SKIP_IN_64BIT();
    // Bob and Carl arrive together: the last arrival replaces the queued one
    play(Session{"ts2client.exe", "TSRemote.dll",
                 "channel 5 Lobby 3\nself 1 Me\njoin 2 5 Bob\njoin 3 5 Carl 8\nserver Alpha 12\n", "join 4 6 Dora",
                 "talk 2", "leave 2", {"TS2: Server \"Alpha\"", "TS2: Channel \"Lobby\"", "TS2: \"Carl\" connected"},
                 "ts2_panel_idle",
                 "ts2_panel_muted", "set flags 0x10", "set flags 0x00", "TS2: Channel \"Lobby\": (Me), Bob, (Carl)",
                 "TS2: \"Dora\" connected", "Bob", "TS2: \"Bob\" dropped", "TS2: Disconnected"});
}

TEST_F(VoiceE2E, Ts3BrokenMemberListsAndAWrongSizeNeverStallTheTicks)
{
    HANDLE program = start_pixwick_with_standin(
        "ts3state.exe", "self 7\nchannel Lobby 3\nusers 12\njoin 7 Me\njoin 21 Alice\nconnect 1 Alpha\n"
                        "mark connected\nawait bad\nmembers loop\nwait 1500\nmembers backwards\nwait 1500\n"
                        "members overrun\nwait 1500\nsizefield 1777\nmark wrongsize\nawait size\nsizefield 1778\n"
                        "members unterminated\n");
    ASSERT_NE(program, nullptr);
    size_t from = frame_count();
    ASSERT_TRUE(ts_signal("bad"));
    ASSERT_TRUE(log_has("mark wrongsize", 20000));
    EXPECT_TRUE(popup_shown(from, "TS3: Incompatible version"));
    EXPECT_TRUE(label_seen("CLK"));
    ASSERT_TRUE(ts_signal("size")); // then names without terminators
    EXPECT_TRUE(label_seen("TS3"));
    EXPECT_GT(rate_since(from), 8.0);
    EXPECT_EQ(end_with_buttons(program), 0);
}

// "NO DLL": the 64-bit build cannot load the 32-bit library beside it.
TEST_F(VoiceE2E, Ts2WithoutLoadableLibraryShowsNoDll)
{
    if (sizeof(void *) == 8) // the 32-bit build's library, when it is built
        copy_library(exe_folder() + "..\\win32\\standins\\teamspeak\\TSRemote.dll");
    HANDLE program = start_pixwick_with_standin("ts2client.exe", "server Alpha 12\nmark connected\nawait quit\nquit\n");
    ASSERT_NE(program, nullptr);
    expect_panel_golden("ts2_panel_no_dll");
    ASSERT_TRUE(ts_signal("quit"));
    EXPECT_TRUE(label_seen("CLK")) << "no TeamSpeak 2 window: the slot's next module";
    EXPECT_EQ(end_with_buttons(program), 0);
}

// An old library without tsrGetSpeakers: garbage and short records, then a
// call that never returns; the four buttons still end the program.
TEST_F(VoiceE2E, Ts2LyingOrHangingLibraryNeverStallsTheTicks)
{
    SKIP_IN_64BIT();
    ASSERT_TRUE(copy_library(exe_folder() + "standins\\teamspeak\\old\\TSRemote.dll"));
    HANDLE program = start_pixwick_with_standin(
        "ts2client.exe", "channel 5 Lobby 3\nself 1 Me\njoin 2 5 Bob\nserver Alpha 12\nmark connected\nawait bad\n"
                         "records garbage\nwait 2000\nrecords short\nwait 2000\nrecords normal\nhang on\n");
    ASSERT_NE(program, nullptr);
    expect_panel_golden("ts2_panel_idle");
    size_t from = frame_count();
    ASSERT_TRUE(ts_signal("bad"));
    ASSERT_TRUE(log_has("calls hanging: 1"));
    ASSERT_TRUE(wait_more_frames(30, 10000)) << "while the worker hangs";
    EXPECT_GT(rate_since(from), 8.0);
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
