// End to end: the media and audio pages of the real program against the
// Winamp, iTunes and Core Audio stand-ins, driven by appending lines to
// their scripts while the program runs.
#include "e2e_fixture.h"

#include "coreaudio_standin.h"
#include "slots.h"

using namespace e2e;

namespace {

const int PANEL_Y = 22, PANEL_W = 39, PANEL_H = 21;
const size_t SLIDE_IN_FRAMES = 50;
const int SLOT_X[4] = {0, 40, 81, 121};

struct Media : E2E {
    std::string script, log;
    std::vector<HANDLE> standins;
    std::vector<std::string> standin_scripts;

    void SetUp() override
    {
        E2E::SetUp();
        script = work + "\\script.txt";
        log = work + "\\standin.log";
        ASSERT_TRUE(write_file(script, "") && write_file(log, "")); // the folder may be one of an earlier run
    }
    void TearDown() override
    {
        // Stand-ins end their own way: a COM server that is killed stays
        // registered with Wine's RPC service and blocks later tests.
        for (size_t k = 0; k < standins.size(); k++) {
            say("quit\n", standin_scripts[k]);
            WaitForSingleObject(standins[k], 5000);
        }
        E2E::TearDown();
        for (const std::string &file : standin_scripts)
            DeleteFileA(file.c_str());
        DeleteFileA(script.c_str());
        DeleteFileA(log.c_str());
        RemoveDirectoryA(work.c_str());
    }

    static std::string standin_path(const char *relative)
    {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(0, path, sizeof path);
        std::string exe = path;
        return exe.substr(0, exe.rfind('\\') + 1) + "standins\\" + relative;
    }

    // A stand-in program reading a script (`script` unless another is
    // named) and logging to `log`; it ends with this test at the latest.
    HANDLE start_standin(const char *relative, const std::string &more = "", const std::string &script_file = "")
    {
        std::string exe = standin_path(relative);
        std::string line = "\"" + exe + "\" --script \"" + (script_file.empty() ? script : script_file) +
                           "\" --log \"" + log + "\" --parent " +
                           std::to_string(GetCurrentProcessId()) + " --lifetime 240 " + more;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        if (!CreateProcessA(exe.c_str(), &line[0], 0, 0, FALSE, 0, 0, work.c_str(), &startup, &p))
            return 0;
        programs.push_back(p);
        standins.push_back(p.hProcess);
        standin_scripts.push_back(script_file.empty() ? script : script_file);
        return p.hProcess;
    }

    // Runs a stand-in with these arguments to its end; its exit code or -1.
    long run_standin(const char *relative, const char *arguments)
    {
        std::string exe = standin_path(relative), line = "\"" + exe + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p = {};
        if (!CreateProcessA(exe.c_str(), &line[0], 0, 0, FALSE, 0, 0, 0, &startup, &p))
            return -1;
        long code = exit_code_within(p.hProcess, 30000);
        CloseHandle(p.hProcess);
        CloseHandle(p.hThread);
        return code;
    }

    void say(const std::string &lines, const std::string &script_file = "")
    {
        HANDLE file = CreateFileA((script_file.empty() ? script : script_file).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                                  OPEN_ALWAYS, 0, 0);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, lines.data(), (DWORD)lines.size(), &written, 0);
        CloseHandle(file);
    }

    Frame last_frame()
    {
        Frame f{0, Picture(LCD_FRAME_BYTES, 0)};
        std::string bytes = read_binary_file(frame_log);
        size_t n = bytes.size() / LCDMON_LOG_RECORD_BYTES;
        if (n) {
            size_t at = (n - 1) * LCDMON_LOG_RECORD_BYTES;
            memcpy(&f.us, bytes.data() + at, 8);
            memcpy(f.px.data(), bytes.data() + at + 8, LCD_FRAME_BYTES);
        }
        return f;
    }

    static bool area_is(const Frame &f, const golden::Picture &want, int x, int y)
    {
        golden::Picture got = golden::cut(f.px.data(), x, y, want.width, want.height);
        return got.bits == want.bits;
    }

    // Waits until the newest frame shows the golden picture in slot's panel
    // (in update mode: until the panel is in place and has stood still for
    // a second), then compares it as a golden test does.
    void expect_panel(const char *name, int slot, DWORD timeout_ms = 20000)
    {
        const int x = SLOT_X[slot];
        const char *update = getenv("PIXWICK_UPDATE_GOLDEN");
        golden::Picture want;
        wait_frames(SLIDE_IN_FRAMES, 20000); // the first frame shows the panels in place, then they slide in
        if (update && update[0] == '1') {
            for (DWORD start = GetTickCount(); GetTickCount() - start < timeout_ms;) {
                want = golden::cut(last_frame().px.data(), x, PANEL_Y, PANEL_W, PANEL_H);
                Sleep(1000);
                if (area_is(last_frame(), want, x, PANEL_Y))
                    break;
            }
        } else if (golden::read_pbm(std::string(PIXWICK_GOLDEN_DIR) + "/" + name + ".pbm", &want)) {
            WAIT_UNTIL(area_is(last_frame(), want, x, PANEL_Y), timeout_ms);
        }
        EXPECT_GOLDEN_AREA(name, last_frame().px.data(), x, PANEL_Y, PANEL_W, PANEL_H);
    }

    // Whether the frame shows a panel labelled `label` in slot.
    static bool shows_label(const Frame &f, int slot, const char *label)
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        Slot s = {};
        s.x = SLOT_X[slot], s.y = PANEL_Y;
        slot_draw_frame(&s, label);
        for (int y = PANEL_Y; y < PANEL_Y + 7; y++)
            for (int x = s.x; x < s.x + PANEL_W; x++)
                if (f.at(x, y) != g_lcd.frame[y * LCD_WIDTH + x])
                    return false;
        return true;
    }

    bool wait_label(int slot, const char *label, DWORD timeout_ms)
    {
        return WAIT_UNTIL(shows_label(last_frame(), slot, label), timeout_ms);
    }

    // Frames of the last `ms` milliseconds, and the longest gap between two.
    void frame_pace(DWORD ms, int *count, int64_t *longest_gap_us)
    {
        std::vector<Frame> list = frames();
        *count = 0, *longest_gap_us = 0;
        if (list.empty())
            return;
        int64_t since = list.back().us - (int64_t)ms * 1000;
        for (size_t k = 1; k < list.size(); k++)
            if (list[k].us >= since) {
                (*count)++;
                *longest_gap_us = std::max(*longest_gap_us, list[k].us - list[k - 1].us);
            }
    }

    int popup_from(size_t from, const char *text) { return find_popup(frames(), from, text); }
    bool wait_popup(size_t from, const char *text, DWORD timeout_ms)
    {
        return WAIT_UNTIL(popup_from(from, text) >= 0, timeout_ms);
    }
};

// ---- Winamp ----------------------------------------------------------------------

// Message numbers a player could take as a command.
bool is_command_message(unsigned message)
{
    return (message >= WM_USER && message < WM_APP) || message == WM_COMMAND || message == WM_SYSCOMMAND ||
           message == WM_APPCOMMAND || message == WM_COPYDATA || (message >= WM_KEYFIRST && message <= WM_KEYLAST);
}

TEST_F(Media, WinampPageTitlePressesHangAndQuit)
{
    say("title 1. Artist - Song A - Winamp\nposition 15000\nlength 225\nbitrate 128\n");
    write_config("slot_0 AMP STW\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE player = start_standin("winamp\\Winamp.exe");
    ASSERT_NE(player, nullptr);
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    expect_panel("e2e_amp_page", 0);
    EXPECT_TRUE(wait_popup(0, "1. Artist - Song A", 10000));

    size_t n = frame_count();
    say("title 2. Artist - Song B - WINAMP\n");
    ASSERT_TRUE(wait_popup(n, "2. Artist - Song B", 10000)) << "the title change";
    n = frame_count();
    Sleep(3000); // the title pop-up has gone
    ASSERT_TRUE(standin_command("press 1 150"));
    EXPECT_TRUE(wait_popup(frame_count(), "2. Artist - Song B", 5000)) << "short press";

    ASSERT_TRUE(standin_command("press 1 800"));
    Sleep(4000); // the title stays
    ASSERT_TRUE(running(program));
    std::vector<Frame> list = frames();
    for (size_t k = list.size() - 20; k < list.size(); k++)
        ASSERT_EQ(find_popup(list, k, "2. Artist - Song B"), (int)k) << "title held on the band";

    // nothing but the three queries reached the player
    std::string received = read_binary_file(log);
    int queries = 0;
    for (size_t at = 0; (at = received.find("message ", at)) != std::string::npos; at++) {
        unsigned message = 0;
        long long w = 0, l = 0;
        ASSERT_EQ(sscanf(received.c_str() + at, "message %x wparam %lld lparam %lld", &message, &w, &l), 3);
        if (!is_command_message(message))
            continue;
        queries++;
        EXPECT_TRUE(message == WM_USER && ((l == 105 && (w == 0 || w == 1)) || (l == 126 && w == 1)))
            << std::hex << message << " " << w << " " << l;
    }
    EXPECT_GT(queries, 30);

    say("hang 6000\n");
    Sleep(5500);
    int count = 0;
    int64_t gap = 0;
    frame_pace(5000, &count, &gap);
    EXPECT_GE(count, 35) << "frames while the player hangs";
    EXPECT_LT(gap, 1000000) << "longest pause between frames, us";
    EXPECT_TRUE(wait_label(0, "AMP", 10000)) << "back once the player answers";

    say("quit\n");
    EXPECT_EQ(exit_code_within(player, 5000), 0);
    EXPECT_TRUE(wait_label(0, "STW", 3000)) << "the page gives way";
    EXPECT_EQ(end_with_buttons(program), 0);
}

// ---- iTunes ------------------------------------------------------------------------

void press_key(WORD key, DWORD hold_ms)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    SendInput(1, &input, sizeof input);
    Sleep(hold_ms);
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

TEST_F(Media, ITunesTrackEventsMediaKeysHangQuitAndReturn)
{
    ASSERT_EQ(run_standin("itunes\\iTunes.exe", "--register"), 0);
    say("track Song A|Artist|225|128\ntrack Song B|Artist|200|192\ncurrent 0\nposition 15\n");
    write_config("slot_0 TUN STW\ntun_mediakeys 1\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE player = start_standin("itunes\\iTunes.exe");
    ASSERT_NE(player, nullptr);
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    expect_panel("e2e_tun_page", 0);
    EXPECT_TRUE(wait_popup(0, "Artist - Song A", 10000));

    size_t n = frame_count();
    say("current 1\n");
    EXPECT_TRUE(wait_popup(n, "Artist - Song B", 5000)) << "the track change, told by event 4";

    press_key(VK_MEDIA_PLAY_PAUSE, 600); // held over several passes of the worker
    EXPECT_TRUE(WAIT_UNTIL(count_occurrences(read_binary_file(log), "call PlayPause") >= 1, 5000));
    Sleep(1000);
    EXPECT_EQ(count_occurrences(read_binary_file(log), "call PlayPause"), 1) << "one call per press";

    say("hang PlayerPosition 0\n"); // until the stand-in quits
    ASSERT_TRUE(WAIT_UNTIL(read_binary_file(log).find("PlayerPosition (hangs)") != std::string::npos, 5000));
    Sleep(3000);
    int count = 0;
    int64_t gap = 0;
    frame_pace(3000, &count, &gap);
    EXPECT_GE(count, 21) << "frames while the worker hangs in a call";
    EXPECT_LT(gap, 1000000);
    EXPECT_TRUE(shows_label(last_frame(), 0, "TUN"));

    say("quit\n"); // iTunes' own way out while the worker holds its objects and waits in a call
    EXPECT_EQ(exit_code_within(player, 5000), 0);
    EXPECT_TRUE(wait_label(0, "STW", 5000)) << "the page gives way";

    // a newer iTunes, known by its window class iTunesApp, is found again
    std::string again = work + "\\again.txt";
    ASSERT_TRUE(write_file(again, ""));
    say("track Song C|Other Artist|100|64\ncurrent 0\n", again);
    n = frame_count();
    ASSERT_NE(start_standin("itunes\\iTunes.exe", "--window-class iTunesApp", again), nullptr);
    EXPECT_TRUE(wait_popup(n, "Other Artist - Song C", 20000)) << "reconnected";
    EXPECT_TRUE(wait_label(0, "TUN", 5000));
    say("hang PlayerPosition 0\n", again);
    ASSERT_TRUE(WAIT_UNTIL(count_occurrences(read_binary_file(log), "PlayerPosition (hangs)") == 2, 5000));
    EXPECT_EQ(end_with_buttons(program), 0) << "the program ends while its worker waits in a call";
}

// ---- Speaker set-up over the Core Audio stand-in -------------------------------------

const char PROPERTIES[] = COREAUDIO_RENDER_KEY COREAUDIO_DEVICE_0_GUID "\\Properties";
const char SPEAKERS[] = "{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},3";
const char FULL_RANGE[] = "{1da5d803-d492-4edd-8c23-e0c0ffee7f0e},6";
const char DEVICE_FORMAT[] = "{f19f064d-082c-4e27-bc73-6882a1bb8e4c},0";
const char OEM_FORMAT[] = "{e4870e26-3cc5-4cd2-ba46-ca0a9a70ed04},3";

// A stored 5.1 format: 8 header bytes, then 16-bit PCM at 48 kHz, extensible.
std::string format_51()
{
    const unsigned char bytes[48] = {0x41, 0, 0, 0, 0x28, 0, 0, 0,   // header, kept as it is
                                     0xFE, 0xFF, 6, 0, 0x80, 0xBB, 0, 0, 0x00, 0xCA, 0x08, 0, 12, 0, 16, 0,
                                     22, 0, 16, 0, 0x3F, 0, 0, 0,      // extra size, valid bits, mask
                                     1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    return std::string((const char *)bytes, sizeof bytes);
}

struct Speakers : Media {
    std::string audio_log;
    char saved_server[MAX_PATH] = "";

    // The stand-in takes the enumerator's place in this prefix for the test.
    void SetUp() override
    {
        Media::SetUp();
        audio_log = work + "\\coreaudio.log";
        DeleteFileA(audio_log.c_str());
        ASSERT_TRUE(coreaudio_standin_install(standin_path("coreaudio\\" COREAUDIO_STANDIN_DLL).c_str(), saved_server,
                                              sizeof saved_server));
        SetEnvironmentVariableA(COREAUDIO_SCRIPT_VARIABLE, script.c_str());
        SetEnvironmentVariableA(COREAUDIO_LOG_VARIABLE, audio_log.c_str());
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, PROPERTIES, 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0), 0);
        DWORD mask = 0x3F;
        std::string format = format_51();
        for (const char *name : {SPEAKERS, FULL_RANGE})
            RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&mask, sizeof mask);
        for (const char *name : {DEVICE_FORMAT, OEM_FORMAT})
            RegSetValueExA(key, name, 0, REG_BINARY, (const BYTE *)format.data(), (DWORD)format.size());
        RegCloseKey(key);
    }
    void TearDown() override
    {
        Media::TearDown();
        coreaudio_standin_remove(saved_server);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, COREAUDIO_RENDER_KEY COREAUDIO_DEVICE_0_GUID);
        SetEnvironmentVariableA(COREAUDIO_SCRIPT_VARIABLE, 0);
        SetEnvironmentVariableA(COREAUDIO_LOG_VARIABLE, 0);
        DeleteFileA(audio_log.c_str());
        RemoveDirectoryA(work.c_str());
    }

    static DWORD stored_mask(const char *name)
    {
        DWORD value = 0, size = sizeof value;
        RegGetValueA(HKEY_LOCAL_MACHINE, PROPERTIES, name, RRF_RT_REG_DWORD, 0, &value, &size);
        return value;
    }
    static std::string stored_format(const char *name)
    {
        char bytes[64];
        DWORD size = sizeof bytes;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, PROPERTIES, name, RRF_RT_REG_BINARY, 0, bytes, &size) != 0)
            return "";
        return std::string(bytes, size);
    }

    // Height of the wedge's right column in slot 0.
    static int wedge_level(const Frame &f)
    {
        int h = 0;
        while (h < PANEL_H - 1 && f.at(36, LCD_HEIGHT - 1 - h))
            h++;
        return h;
    }

    // Presses slot 0's button and waits for the pop-up it brings (none: a
    // few frames without one).
    bool press_for(const char *popup_text)
    {
        size_t n = frame_count();
        if (!standin_command("press 1 150"))
            return false;
        return wait_popup(n, popup_text, 5000);
    }
};

TEST_F(Speakers, PageFollowsVolumeMuteAndDevicesAndPressesSwitchTheSetUp)
{
    say("volume 0 0.5\nmask 0 0x3f\n");
    write_config("slot_0 SPK STW\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    expect_panel("e2e_spk_51", 0);

    // followed through the volume notification
    DWORD asked = GetTickCount();
    say("volume 0 0.8\n");
    ASSERT_TRUE(WAIT_UNTIL(wedge_level(last_frame()) == 16, 3000));
    EXPECT_LT(GetTickCount() - asked, 1500u) << "within about a second";
    asked = GetTickCount();
    say("mute 0 1\n");
    expect_panel("e2e_spk_51_muted", 0, 3000);
    EXPECT_LT(GetTickCount() - asked, 1500u);

    // the headphone set-up: channel configuration, then the property store
    size_t n = frame_count();
    ASSERT_TRUE(standin_command("press 1 150"));
    expect_panel("e2e_spk_stereo_muted", 0, 5000);
    std::string calls = read_binary_file(audio_log);
    EXPECT_NE(calls.find("IsFormatSupported mode 1 channels 2 mask 0x3 align 4 supported"), std::string::npos) << calls;
    EXPECT_NE(calls.find("SetChannelConfig 0x3 kept"), std::string::npos);
    EXPECT_EQ(stored_mask(SPEAKERS), 0x3u);
    EXPECT_EQ(stored_mask(FULL_RANGE), 0x3u);
    std::string stereo = format_51();
    stereo[10] = 2, stereo[20] = 4, stereo[28] = 3;        // channels, block alignment, mask
    stereo[16] = 0x00, stereo[17] = (char)0xEE, stereo[18] = 2; // 192000 bytes a second
    EXPECT_EQ(stored_format(DEVICE_FORMAT), stereo);
    EXPECT_EQ(stored_format(OEM_FORMAT), stereo);
    EXPECT_EQ(find_popup(frames(), n, "Device does not support stereo speakers"), -1);

    // the 5.1 set-up, refused; then taken but not kept
    say("refuse 0 1\n");
    EXPECT_TRUE(press_for("Device does not support 5.1 speakers"));
    EXPECT_EQ(stored_mask(SPEAKERS), 0x3u) << "nothing written";
    say("refuse 0 0\nkeep 0 0\nmask 0 0x3f\n");
    EXPECT_TRUE(press_for("Can't change; device is in use")); // the headphone set-up, not kept
    EXPECT_EQ(stored_mask(SPEAKERS), 0x3u);

    // another default device, without a writable property store
    say("default 1\n");
    ASSERT_TRUE(WAIT_UNTIL(wedge_level(last_frame()) == 20, 3000)) << "the new device's volume";
    EXPECT_TRUE(press_for("Must run as Administrator to change speaker settings."));
    // a device without a channel configuration control
    say("topology 0 0\ndefault 0\n");
    ASSERT_TRUE(WAIT_UNTIL(wedge_level(last_frame()) == 16, 3000));
    EXPECT_TRUE(press_for("Can't change; device uses proprietary interfaces"));
    // no device at all: the page gives way
    say("default none\n");
    EXPECT_TRUE(wait_label(0, "STW", 3000));
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
