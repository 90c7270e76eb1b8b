// End to end: start-up, frames, the top line and the slide-in, settings
// edits, a failing LCD Manager, the test window and the HID switch.
#include "e2e_fixture.h"

using namespace e2e;

namespace {

TEST_F(E2E, FramesAtTenPerSecondWithTopLineSlideInLogAndOneCopy)
{
    write_config("slot_0 STW CLK CPU\nslot_1 STW CLK CPU\nslot_2 STW CLK CPU\nslot_3 STW CLK CPU\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(70, 25000)) << "frames: " << frame_count();
    std::vector<Frame> list = frames();

    // the first frames may be the empty ones of the connection check
    double per_second = (double)(list.size() - 11) * 1e6 / (double)(list.back().us - list[10].us);
    EXPECT_GT(per_second, 8.0);
    EXPECT_LT(per_second, 11.0);
    EXPECT_GE(find_popup(list, 0, NAME), 0) << "start-up pop-up";
    EXPECT_TRUE(shows_date(list.back(), "ddd yyyy-MM-dd"));
    EXPECT_GT(lit_in(list.back(), 150, 159, 0, 7), 0) << "the time ends on column 159";
    bool time_moved = false;
    for (size_t k = list.size() - 21; k < list.size(); k++)
        for (int y = 0; y < 8; y++)
            time_moved |= memcmp(&list[k].px[y * LCD_WIDTH + 120], &list.back().px[y * LCD_WIDTH + 120], 40) != 0;
    EXPECT_TRUE(time_moved);

    // Slide-in: from its lowest row each panel rises, at most 2 rows a step,
    // to row 22, six ticks after the one to its left.
    int arrival[4];
    for (int slot = 0; slot < 4; slot++) {
        SCOPED_TRACE(testing::Message() << "slot " << slot);
        std::vector<int> rows;
        for (const Frame &f : list)
            rows.push_back(top_edge_row(f, slot));
        size_t low = (size_t)(std::max_element(rows.begin(), rows.end()) - rows.begin());
        EXPECT_GE(rows[low], 38);
        arrival[slot] = -1;
        for (size_t k = low + 1; k < rows.size(); k++) {
            EXPECT_LE(rows[k], rows[k - 1]);
            EXPECT_LE(rows[k - 1] - rows[k], 2);
            EXPECT_GE(rows[k], 22);
            if (rows[k] == 22 && arrival[slot] < 0)
                arrival[slot] = (int)k;
        }
        ASSERT_GE(arrival[slot], 0);
        if (slot > 0) {
            EXPECT_GE(arrival[slot] - arrival[slot - 1], 4);
            EXPECT_LE(arrival[slot] - arrival[slot - 1], 8);
        }
    }

    std::string system = read_binary_file(log_path("system.txt"));
    EXPECT_EQ(system.rfind("Starting Pixwick 2.8.5", 0), 0u) << system.substr(0, 200);
    char dir[MAX_PATH];
    ASSERT_TRUE(standin_dir(dir, sizeof dir));
    EXPECT_NE(system.find("Logitech drivers version '" LCDMON_VERSION_TEXT "'"), std::string::npos);
    EXPECT_NE(system.find(std::string("Logitech installation path is '") + dir + "'"), std::string::npos);

    HANDLE second = start_pixwick();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(exit_code_within(second, 10000), 0) << "a second copy exits at once";
    EXPECT_TRUE(wait_more_frames(5, 5000)) << "the first copy goes on";
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(E2E, ConfigurationEditsAndLcdManagerFailures)
{
    // the starter settings: every key in them is one the program reads
    std::string starter = read_binary_file(std::string(PIXWICK_GOLDEN_DIR) + "/../../data/pixwick.txt");
    ASSERT_GT(starter.size(), 1000u);
    write_config(starter + "\nslot_0 CLK\nconfig_refresh 10\n");
    auto mistakes = [] { return count_occurrences(read_binary_file(log_path("errors.txt")), "src/config("); };
    const int mistakes_before = mistakes();
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(25, 20000));
    EXPECT_EQ(mistakes(), mistakes_before) << read_binary_file(log_path("errors.txt")).substr(0, 2000);

    size_t before = frame_count();
    write_config("slot_0 STW\nslot_3 CPU+\ndate_format 'E2E' yyyy\nconfig_refresh 10\ncpumem_intervall 3\n");
    ASSERT_TRUE(wait_frames(before + 60, 12000));
    std::vector<Frame> list = frames();
    EXPECT_GE(find_popup(list, before, "Settings: 1 problems, see errors.txt"), 0) << "a misspelt key";
    EXPECT_NE(log_line_with("errors.txt", "pixwick.txt(5): 'cpumem_intervall' is no setting of this program"), "");
    int updated = find_popup(list, before, "Configuration updated");
    ASSERT_GE(updated, 0) << "no 'Configuration updated' pop-up";
    EXPECT_LE(updated - (int)before, 15) << "picked up within the refresh period";
    EXPECT_TRUE(shows_date(list[(size_t)updated], "'E2E' yyyy"));
    std::string system = read_binary_file(log_path("system.txt"));
    EXPECT_NE(system.find(" 'slot_0' = 'STW'"), std::string::npos);
    EXPECT_NE(system.find(" 'slot_3' = 'CPU+'"), std::string::npos);

    // rewritten every few tens of milliseconds (a write may find the file
    // open in the program, as an editor's save would), then deleted
    size_t n = frame_count();
    int written = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 3000; Sleep(30))
        written += write_file(work + "\\pixwick.txt",
                              written % 2 ? "slot_0 CLK\nconfig_refresh 1\n" : "slot_0 STW\nconfig_refresh 1\n");
    EXPECT_GT(written, 20);
    EXPECT_GE(frame_count(), n + 20) << "while the settings file is rewritten";
    ASSERT_TRUE(DeleteFileA((work + "\\pixwick.txt").c_str()));
    EXPECT_TRUE(wait_more_frames(15, 5000)) << "while the settings file is missing";

    lcdmon.kill();
    Sleep(1500);
    EXPECT_TRUE(running(program));
    n = frame_count();
    ASSERT_TRUE(start_lcdmon());
    EXPECT_TRUE(wait_frames(n + 10, 15000)) << "after the LCD Manager came back";

    ASSERT_TRUE(standin_command("hang on")); // hung in a frame update
    Sleep(3000);
    EXPECT_TRUE(running(program));
    ASSERT_TRUE(standin_command("hang off"));
    EXPECT_TRUE(wait_more_frames(10, 15000)) << "after the hang";
    EXPECT_EQ(end_with_buttons(program), 0);
}

// Without an LCD Manager the test window shows after two seconds, without
// taking the focus from the window in front (a game), and its title cycles.
// A second copy started meanwhile exits at once and leaves system.txt alone.
TEST_F(E2E, WithoutLcdManagerTheWindowShowsAndTheTitleCycles)
{
    lcdmon_unregister();
    write_config("testwindow 0\n");
    HWND game = CreateWindowExA(0, "STATIC", "game", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, 0, 0, 0, 0);
    ASSERT_NE(game, nullptr);
    SetForegroundWindow(game);
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    HWND window = 0;
    ASSERT_TRUE(WAIT_UNTIL((window = FindWindowA(WINDOW_CLASS, NAME)) != 0, 15000));
    DWORD found = GetTickCount();
    ASSERT_TRUE(WAIT_UNTIL(IsWindowVisible(window), 10000));
    EXPECT_GE(GetTickCount() - found, 1900u) << "shown only from the 21st failed tick";
    EXPECT_EQ(GetForegroundWindow(), game) << "shown without taking the focus";

    std::vector<std::string> seen{title_of(window)};
    HANDLE second = 0;
    size_t system_size = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 16000 && seen.size() < 4; Sleep(20)) {
        std::string title = title_of(window);
        if (title != seen.back())
            seen.push_back(title);
        if (title == UNRESPONSIVE && !second) {
            system_size = read_binary_file(log_path("system.txt")).size();
            second = start_pixwick();
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{NAME, UNRESPONSIVE, UPDATE_DRIVERS, NAME}));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(exit_code_within(second, 10000), 0) << "a second copy exits whatever the first one's title says";
    EXPECT_GE(read_binary_file(log_path("system.txt")).size(), system_size) << "and does not empty system.txt";
    EXPECT_TRUE(IsWindowVisible(window));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(exit_code_within(program, 5000), 0) << "closing the window ends the program";
    DestroyWindow(game);
}

TEST_F(E2E, WithoutLcdManagerHidIsSwitchedOnOnceAndTestWindowMinusOneStaysHidden)
{
    lcdmon_unregister();
    write_config("use_hid 2\ntestwindow -1\n");
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    HWND window = 0;
    ASSERT_TRUE(WAIT_UNTIL((window = FindWindowA(WINDOW_CLASS, 0)) != 0, 15000));
    auto switched = [&]() { return count_occurrences(read_binary_file(log_path("system.txt")), "Enabling HID access"); };
    ASSERT_TRUE(WAIT_UNTIL(switched() >= 1, 15000));
    EXPECT_FALSE(WAIT_UNTIL(IsWindowVisible(window), 3000));
    EXPECT_EQ(switched(), 1);
    EXPECT_TRUE(running(program));
}

TEST_F(E2E, NotWritableLogFolderTestWindowOneAndClicks)
{
    std::string system = log_path("system.txt");
    moved_system_txt = system + ".e2e";
    DeleteFileA(moved_system_txt.c_str());
    MoveFileA(system.c_str(), moved_system_txt.c_str());
    ASSERT_TRUE(CreateDirectoryA(system.c_str(), 0)) << "a folder where system.txt should be";
    write_config("slot_0 STW\nslot_1 CLK STW\ntestwindow 1\nanimate_start 0\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(40, 25000));
    std::vector<Frame> list = frames();
    int name = find_popup(list, 0, NAME);
    EXPECT_GE(name, 0) << "start-up pop-up";
    EXPECT_GT(find_popup(list, 0, "Warning! Documents\\Pixwick directory isn't writable, system.txt and errors.txt "
                                  "cannot be created."),
              name);
    HWND window = FindWindowA(WINDOW_CLASS, NAME);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WAIT_UNTIL(IsWindowVisible(window), 2000));
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, 324);
    EXPECT_EQ(client.bottom, 90);
    EXPECT_EQ((DWORD)GetWindowLongA(window, GWL_STYLE) & 0x80C80000u, 0x80C80000u) << "pop-up, caption, system menu";

    auto area = [&](int x0, int x1, int y0, int y1) {
        Picture p;
        const Frame f = frames().back();
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                p.push_back(f.at(x, y));
        return p;
    };
    auto stopwatch = [&]() { return area(0, 38, 22, LCD_HEIGHT - 1); };
    auto click = [&](UINT down, UINT up, int x, int y) {
        PostMessageA(window, down, 0, MAKELPARAM(x, y));
        Sleep(100);
        PostMessageA(window, up, 0, MAKELPARAM(x, y));
        return wait_more_frames(15, 5000);
    };

    // a stopped stopwatch stands still; a click beside the image does nothing
    Picture still = stopwatch();
    ASSERT_GT(std::count(still.begin(), still.end(), 255), 0) << "the stopwatch panel";
    ASSERT_TRUE(click(WM_LBUTTONDOWN, WM_LBUTTONUP, 0, 50));
    EXPECT_TRUE(stopwatch() == still);
    ASSERT_TRUE(click(WM_LBUTTONDOWN, WM_LBUTTONUP, 2, 50)); // display (1, 25): slot 0
    Picture started = stopwatch();
    EXPECT_FALSE(started == still);
    ASSERT_TRUE(wait_more_frames(10, 5000));
    EXPECT_FALSE(stopwatch() == started) << "the stopwatch runs";

    // a click that lets go beside the panel is a short press: it stops the
    // stopwatch (a long press would reset it)
    PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 50));
    Sleep(100);
    PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(300, 5));
    ASSERT_TRUE(wait_more_frames(10, 5000));
    Picture stopped = stopwatch();
    ASSERT_TRUE(wait_more_frames(10, 5000));
    EXPECT_TRUE(stopwatch() == stopped) << "stopped";
    EXPECT_FALSE(stopped == still) << "not reset";

    // a right click moves slot 1 to its next module, and back
    Picture label = area(41, 60, 23, 27);
    ASSERT_TRUE(click(WM_RBUTTONDOWN, WM_RBUTTONUP, 100, 60));
    EXPECT_FALSE(area(41, 60, 23, 27) == label);
    ASSERT_TRUE(click(WM_RBUTTONDOWN, WM_RBUTTONUP, 100, 60));
    EXPECT_TRUE(area(41, 60, 23, 27) == label);
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
