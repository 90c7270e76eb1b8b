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
        std::string exe = path;
        exe = exe.substr(0, exe.rfind('\\') + 1) + "standins\\hungwin\\hungwin.exe";
        std::string line = "\"" + exe + "\" --lifetime 110 --parent " + std::to_string(GetCurrentProcessId()) +
                           " \"" + script + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        if (!CreateProcessA(exe.c_str(), &line[0], 0, 0, FALSE, 0, 0, work.c_str(), &startup, &p))
            return 0;
        programs.push_back(p); // ended by the fixture at the latest
        return p.hProcess;
    }

    // The panel of slot 0 as this process draws it with the same fonts:
    // `label`'s frame and, for RIP, the name cut to the panel.
    golden::Picture expected_panel(const char *label, const char *name)
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        Slot slot = {};
        slot.y = 22;
        slot_draw_frame(&slot, label);
        if (name) {
            char fitted[RIP_NAME_BYTES];
            snprintf(fitted, sizeof fitted, "%s", name);
            int width = rip_fit_name(fitted, 36);
            lcd_text_utf8(&g_lcd, 0, 37 - width, 36, fitted);
        }
        return golden::cut(g_lcd.frame, 0, 22, 39, 21);
    }
    static golden::Picture panel(const Frame &f) { return golden::cut(f.px.data(), 0, 22, 39, 21); }
    static std::string label(const golden::Picture &p) { return p.bits.substr(0, 39 * 7); }

    // Frames from index `from` on, read from that place of the log.
    std::vector<Frame> frames_from(size_t from)
    {
        std::vector<Frame> list;
        std::ifstream file(frame_log, std::ios::binary);
        file.seekg((std::streamoff)(from * LCDMON_LOG_RECORD_BYTES));
        std::vector<char> record(LCDMON_LOG_RECORD_BYTES);
        while (file.read(record.data(), (std::streamsize)record.size())) {
            Frame f;
            memcpy(&f.us, record.data(), 8);
            f.px.assign(record.begin() + 8, record.end());
            list.push_back(f);
        }
        return list;
    }

    // Waits for a frame from now on whose slot 0 label is that of `wanted`.
    bool wait_label(const golden::Picture &wanted, DWORD timeout_ms, int64_t *at_us = nullptr)
    {
        size_t from = frame_count();
        for (DWORD start = GetTickCount(); GetTickCount() - start <= timeout_ms; Sleep(100)) {
            std::vector<Frame> list = frames_from(from);
            for (const Frame &f : list)
                if (label(panel(f)) == label(wanted)) {
                    if (at_us)
                        *at_us = f.us;
                    return true;
                }
            from += list.size();
        }
        return false;
    }
};

TEST_F(RipE2E, HungWindowIsNamedAndEndedOnlyByALongPress)
{
    write_config("slot_0 RIP STW\nanimate_start 0\n");
    ASSERT_TRUE(start_lcdmon());
    const golden::Picture stopwatch = expected_panel("STW", nullptr), rip = expected_panel("RIP", nullptr);
    HANDLE hidden = start_hungwin("title Hidden and hung; pump 100; hang");
    HANDLE responsive = start_hungwin("title Responsive; show");
    ASSERT_TRUE(hidden && responsive);
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(30, 25000));
    EXPECT_FALSE(wait_label(rip, 9000)) << "a hidden hung window and a responsive one are no reason";
    EXPECT_EQ(label(panel(frames().back())), label(stopwatch));

    const char title[] = "Frozen editor \xe2\x80\x94 notes.txt";
    HANDLE hung = start_hungwin(std::string("title ") + title + "; show; pump 300; hang");
    ASSERT_NE(hung, nullptr);
    ASSERT_TRUE(wait_label(rip, HANG_SEEN_MS));
    ASSERT_TRUE(wait_more_frames(3, 5000));
    EXPECT_TRUE(panel(frames().back()).bits == expected_panel("RIP", title).bits) << "the name, cut to the panel";

    size_t before = frame_count();
    ASSERT_TRUE(standin_command("press 1 100"));
    ASSERT_TRUE(wait_frames(before + 20, 10000));
    EXPECT_GE(find_popup(frames(), before, (std::string("Unresponsive: '") + title + "'").c_str()), 0);
    EXPECT_TRUE(running(hung)) << "a short press ends nothing";

    ASSERT_TRUE(standin_command("press 1 900"));
    EXPECT_EQ(exit_code_within(hung, 10000), 0) << "a long press ends the process with exit code 0";
    const int64_t ended_us = lcdmon_now_us();
    int64_t back_us = 0;
    ASSERT_TRUE(wait_label(stopwatch, 8000, &back_us)) << "the slot's next module";
    EXPECT_LT(back_us - ended_us, 3000000) << "gone within the two-second scan (and a tick or two)";
    EXPECT_TRUE(running(hidden) && running(responsive)) << "only the offered process ended";

    // a hung window without a title is named by its program's file
    HANDLE untitled = start_hungwin("show; pump 300; hang");
    ASSERT_NE(untitled, nullptr);
    ASSERT_TRUE(wait_label(rip, HANG_SEEN_MS));
    ASSERT_TRUE(wait_more_frames(3, 5000));
    EXPECT_GT(lit_in(frames().back(), 1, 37, 36, 42), 10) << "a name is shown";
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
