// End to end: the hung application killer of the real pixwick.exe against
// hungwin.exe stand-ins whose windows stop taking messages. Wine reports such
// a window as hung after about 5 seconds; the program scans every other one.
#include "e2e_fixture.h"

#include "mod_rip.h"
#include "slots.h"

using namespace e2e;

namespace {

const DWORD HANG_SEEN_MS = 20000; // 5 s to count as hung, a 2 s scan, a loaded machine

class RipE2E : public E2E {
protected:
    HANDLE start_hungwin(const std::string &script)
    {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(0, path, sizeof path);
        std::string exe = std::string(path).substr(0, std::string(path).rfind('\\') + 1) + "standins\\hungwin\\hungwin.exe";
        std::string line = "\"" + exe + "\" --lifetime 110 --parent " + std::to_string(GetCurrentProcessId()) + " \"" +
                           script + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        if (!CreateProcessA(exe.c_str(), &line[0], 0, 0, FALSE, 0, 0, work.c_str(), &startup, &p))
            return 0;
        programs.push_back(p); // ended by the fixture at the latest
        return p.hProcess;
    }
    // Slot 0's panel rows (label rows 22..28, name rows 36..42) as this process
    // draws them with the program's fonts.
    std::string drawn(const char *code, const char *name = "")
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        Slot slot = {};
        slot.y = 22;
        slot_draw_frame(&slot, code);
        char fitted[RIP_NAME_BYTES];
        snprintf(fitted, sizeof fitted, "%s", name);
        lcd_text_utf8(&g_lcd, 0, 37 - rip_fit_name(fitted, 36), 36, fitted);
        return shown(g_lcd.frame, name[0] != 0);
    }
    static std::string shown(const uint8_t *frame, bool with_name)
    {
        return golden::cut(frame, 0, 22, 39, 7).bits + (with_name ? golden::cut(frame, 1, 36, 37, 7).bits : "");
    }
    // Time stamp of the first frame from now on whose slot 0 is labelled `code`; 0 when none comes.
    int64_t wait_label(const char *code, DWORD timeout_ms)
    {
        const std::string wanted = drawn(code);
        size_t from = frame_count();
        for (DWORD start = GetTickCount(); GetTickCount() - start <= timeout_ms; Sleep(250)) {
            std::vector<Frame> list = frames();
            for (; from < list.size(); from++)
                if (shown(list[from].px.data(), false) == wanted)
                    return list[from].us;
        }
        return 0;
    }
};

TEST_F(RipE2E, HungWindowIsNamedAndEndedOnlyByALongPress)
{
    write_config("slot_0 RIP STW\nanimate_start 0\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE hidden = start_hungwin("title Hidden and hung; pump 100; hang");
    HANDLE responsive = start_hungwin("title Responsive; show");
    HANDLE program = start_pixwick();
    ASSERT_TRUE(hidden && responsive && program);
    ASSERT_TRUE(wait_frames(30, 25000));
    EXPECT_EQ(wait_label("RIP", 9000), 0) << "a hidden hung window and a responsive one are no reason";
    EXPECT_EQ(shown(frames().back().px.data(), false), drawn("STW")) << "the slot's next module";

    const char title[] = "Frozen editor \xe2\x80\x94 notes.txt";
    HANDLE hung = start_hungwin(std::string("title ") + title + "; show; pump 300; hang");
    ASSERT_NE(wait_label("RIP", HANG_SEEN_MS), 0);
    ASSERT_TRUE(wait_more_frames(3, 5000));
    EXPECT_EQ(shown(frames().back().px.data(), true), drawn("RIP", title)) << "the name, cut to the panel";

    size_t before = frame_count();
    ASSERT_TRUE(standin_command("press 1 100"));
    ASSERT_TRUE(wait_frames(before + 20, 10000));
    EXPECT_GE(find_popup(frames(), before, (std::string("Unresponsive: '") + title + "'").c_str()), 0);
    EXPECT_TRUE(running(hung)) << "a short press ends nothing";

    ASSERT_TRUE(standin_command("press 1 900"));
    EXPECT_EQ(exit_code_within(hung, 10000), 0) << "a long press ends the process with exit code 0";
    const int64_t ended_us = lcdmon_now_us(), back_us = wait_label("STW", 8000);
    ASSERT_NE(back_us, 0);
    EXPECT_LT(back_us - ended_us, 3000000) << "gone within the two-second scan (and a tick or two)";
    EXPECT_TRUE(running(hidden) && running(responsive)) << "only the offered process ended";

    ASSERT_NE(start_hungwin("show; pump 300; hang"), nullptr); // no title: named by its program's file
    ASSERT_NE(wait_label("RIP", HANG_SEEN_MS), 0);
    ASSERT_TRUE(wait_more_frames(3, 5000));
    EXPECT_GT(lit_in(frames().back(), 1, 37, 36, 42), 10) << "a name is shown";
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
