// End to end: the sensor pages against the sensor publisher (SpeedFan, Core
// Temp and GPU-Z blocks under their real names) and the FRAPS page against
// the FRAPS stand-in, whose library the real program receives through a
// global window hook. The stand-ins are driven line by line through their
// standard input; each logs what it did.
#include "e2e_fixture.h"

#include <fstream>

#include "../../standins/fraps/fraps_shared.h"
#include "slots.h"

using namespace e2e;

namespace {

const int ROW_TOP = 22, ROW_HEIGHT = 21, COLUMNS[SLOT_COUNT] = {0, 40, 81, 121};
const DWORD SHOWN_WAIT_MS = 20000; // a page follows its source within a second or two; the machine is busy

const std::string SLOTS = "slot_0 FAN STW\nslot_1 COR STW\nslot_2 GPU STW\nslot_3 FAN++ STW\n"
                          "fan_mode_0 CPU TEMP 0\nfan_mode_1 +12V VOLT 0\nfan_mode_2 Fan1 FAN 0\n"
                          "fan_mode_3 Board TEMP 5\nanimate_start 0\nconfig_refresh 10\n";
const char PUBLISHED[] = "open fan; fan temps 4550 3000; fan fans 2500; fan volts 1205;"
                         "open cor; cor cores 4; cor temps 41.9 45.2 44.0 39.5;"
                         "open gpu; gpu sensor 0 \"GPU Core Clock\" MHz 1 405.04; gpu sensor 1 \"GPU Load\" %% 0 97;"
                         "gpu sensor 2 \"Memory Used\" MB 0 1234567.5";

class SensorE2E : public E2E {
protected:
    std::vector<HANDLE> inputs, standins;
    HANDLE publisher = 0;

    void TearDown() override
    {
        // The end of its input ends a stand-in; FRAPS must end by itself, or its hook may outlive it.
        for (HANDLE input : inputs)
            CloseHandle(input);
        for (HANDLE process : standins)
            WaitForSingleObject(process, 5000);
        for (const char *file : {"\\sensorpub.log", "\\fraps.log"})
            DeleteFileA((work + file).c_str());
        E2E::TearDown();
    }

    // Starts standins\<exe> logging to <work>\<log> and reading commands from a pipe; returns the pipe.
    HANDLE drive(const char *exe, const char *log, const char *options = "")
    {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(0, path, sizeof path);
        std::string program = std::string(path).substr(0, std::string(path).rfind('\\')) + "\\standins\\" + exe;
        std::string line = "\"" + program + "\" --stdin --lifetime 300 --log \"" + work + log + "\" " + options;
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, 0, TRUE};
        HANDLE read_end, write_end;
        STARTUPINFOA startup = {};
        PROCESS_INFORMATION p = {};
        if (!CreatePipe(&read_end, &write_end, &inherit, 0))
            return 0;
        SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
        startup.cb = sizeof startup, startup.dwFlags = STARTF_USESTDHANDLES, startup.hStdInput = read_end;
        inputs.push_back(write_end);
        BOOL started = CreateProcessA(program.c_str(), &line[0], 0, 0, TRUE, CREATE_NO_WINDOW, 0, work.c_str(),
                                      &startup, &p);
        CloseHandle(read_end);
        if (started)
            programs.push_back(p), standins.push_back(p.hProcess);
        return started ? write_end : 0;
    }

    // Sends commands and waits until the stand-in has done them.
    bool send(HANDLE input, const std::string &commands, const char *log = "\\sensorpub.log")
    {
        static int serial;
        std::string mark = "mark " + std::to_string(++serial), text = commands + "; " + mark + "\n";
        DWORD written;
        return WriteFile(input, text.data(), (DWORD)text.size(), &written, 0) && logged(log, mark + "\r\n");
    }

    bool logged(const char *log, const std::string &text)
    {
        return WAIT_UNTIL(read_binary_file(work + log).find(text) != std::string::npos, 10000);
    }

    bool last_frame(std::vector<uint8_t> *px)
    {
        std::ifstream file(frame_log, std::ios::binary | std::ios::ate);
        const long long size = file ? (long long)file.tellg() : 0;
        px->resize(LCD_FRAME_BYTES);
        file.seekg(size / LCDMON_LOG_RECORD_BYTES * LCDMON_LOG_RECORD_BYTES - LCD_FRAME_BYTES);
        return size >= LCDMON_LOG_RECORD_BYTES && file.read((char *)px->data(), LCD_FRAME_BYTES);
    }

    // The panel (slot -1: all four), `height` rows from its top.
    static golden::Picture area(const uint8_t *px, int slot, int height = ROW_HEIGHT)
    {
        return slot < 0 ? golden::cut(px, 0, ROW_TOP, LCD_WIDTH, height)
                        : golden::cut(px, COLUMNS[slot], ROW_TOP, SLOT_WIDTH, height);
    }

    bool wait_area(int slot, const golden::Picture &want)
    {
        std::vector<uint8_t> px;
        return WAIT_UNTIL(last_frame(&px) && area(px.data(), slot, want.height).bits == want.bits, SHOWN_WAIT_MS);
    }

    // Waits until the four panels show the golden picture, then compares.
    // With PIXWICK_UPDATE_GOLDEN=1 it waits two seconds of frames and writes what they show.
    void expect_shown(const char *name)
    {
        golden::Picture want;
        const char *update = getenv("PIXWICK_UPDATE_GOLDEN");
        if (update && update[0] == '1')
            EXPECT_TRUE(wait_more_frames(20, 10000));
        else if (golden::read_pbm(std::string(PIXWICK_GOLDEN_DIR) + "/" + name + ".pbm", &want))
            wait_area(-1, want);
        std::vector<uint8_t> px;
        ASSERT_TRUE(last_frame(&px));
        EXPECT_GOLDEN_AREA(name, px.data(), 0, ROW_TOP, LCD_WIDTH, ROW_HEIGHT);
    }

    // The settings, the publisher with its first commands done, the LCD
    // Manager and the program.
    HANDLE start_published(const std::string &settings, const char *commands)
    {
        write_config(settings);
        publisher = drive("sensors\\sensorpub.exe", "\\sensorpub.log");
        if (!publisher || !send(publisher, commands) || !start_lcdmon())
            return 0;
        return start_pixwick();
    }

    bool wait_popup(size_t from, const char *text)
    {
        return WAIT_UNTIL((Sleep(500), find_popup(frames(), from, text) >= 0), SHOWN_WAIT_MS);
    }

    // Until the panel's top edge and label bar are those of this module.
    bool wait_label(int slot, const char *label)
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        Slot s = {};
        s.x = COLUMNS[slot], s.y = ROW_TOP;
        slot_draw_frame(&s, label);
        return wait_area(slot, golden::cut(g_lcd.frame, s.x, ROW_TOP, SLOT_WIDTH, 7));
    }
};

TEST_F(SensorE2E, PagesShowThePublishedValuesAndStepOnPresses)
{
    HANDLE program = start_published(SLOTS, PUBLISHED);
    ASSERT_NE(program, nullptr);
    expect_shown("sensor_pages");

    // FAN: +12V; GPU: the load in "%%"; FAN++ past its unusable mode 3 to mode 0
    ASSERT_TRUE(standin_command("press 13 150"));
    expect_shown("sensor_pages_pressed");
    ASSERT_TRUE(standin_command("press 4 150"));
    expect_shown("sensor_pages_value_above");
    size_t before = frame_count();
    ASSERT_TRUE(standin_command("press 4 800"));
    EXPECT_TRUE(wait_popup(before, "GPU-Z sensor 2: Memory Used"));

    // Fahrenheit from the settings and from Core Temp; the reload returns GPU to its first sensor
    write_config(SLOTS + "fan_farenheit 1\n");
    ASSERT_TRUE(send(publisher, "cor fahrenheit 1"));
    expect_shown("sensor_pages_fahrenheit");

    // two packages of two cores, as distances below TjMax 100 and 90: 45, 49, 50, 45
    ASSERT_TRUE(send(publisher, "cor fahrenheit 0; cor cores 2; cor packages 2; cor delta 1; cor tjmax 100 90;"
                                "cor temps 55 50.5 40 45"));
    expect_shown("cor_two_packages_as_distances");
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(SensorE2E, BusyGpuzKeepsItsValuesAndClosedBlocksGiveWay)
{
    HANDLE program = start_published(SLOTS, PUBLISHED);
    ASSERT_NE(program, nullptr);
    expect_shown("sensor_pages");
    std::vector<uint8_t> px;
    ASSERT_TRUE(last_frame(&px));
    const std::string before = area(px.data(), 2).bits;

    // busy for about 2.5 seconds of ticks, with a new value written meanwhile
    ASSERT_TRUE(send(publisher, "gpu busy 1; gpu value 0 777"));
    size_t busy_from = frame_count();
    ASSERT_TRUE(wait_frames(busy_from + 25, 10000));
    std::vector<Frame> list = frames();
    for (size_t k = busy_from; k < busy_from + 25; k++)
        ASSERT_EQ(area(list[k].px.data(), 2).bits, before) << "frame " << k - busy_from << " while busy";
    ASSERT_TRUE(send(publisher, "gpu busy 0"));
    expect_shown("gpu_after_busy");

    ASSERT_TRUE(send(publisher, "close fan; close cor; close gpu"));
    for (int slot = 0; slot < 3; slot++)
        EXPECT_TRUE(wait_label(slot, "STW")) << "slot " << slot;
    ASSERT_TRUE(send(publisher, "open cor; cor cores 1; cor temps 50"));
    EXPECT_TRUE(wait_label(1, "COR")) << "Core Temp back";
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(SensorE2E, GarbageBlocksNeverStopTheProgram)
{
    // a GPU-Z block one page long, absurd counts, readings too wide or no numbers
    HANDLE program = start_published(SLOTS + "slot_3 GPU+ STW\n",
                                     "open gpu 4096; open fan; fan temps 2147483647; fan counts 65535 65535 65535;"
                                     "open cor;"
                                     "cor cores 4294967295; cor packages 4294967295; cor delta 1;"
                                     "cor tjmax 4294967295; cor temps nan inf -inf 1e30 -1");
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_label(2, "STW")) << "a short GPU-Z block is not read";

    // names and units without terminators, decimals 2^32 - 1, a NaN and a huge value
    ASSERT_TRUE(send(publisher, "open gpu; gpu unterminated; gpu value 0 nan; gpu value 1 1e308;"
                                "poke gpu 131612 255 255 255 255; poke gpu 132152 255 255 255 255"));
    expect_shown("sensor_pages_garbage");

    ASSERT_TRUE(send(publisher, "fill fan 255; fill cor 255; fill gpu 255"));
    EXPECT_TRUE(wait_label(0, "STW")) << "a SpeedFan block of version 65535";
    EXPECT_TRUE(wait_more_frames(20, 10000));
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(SensorE2E, FrapsLibraryArrivesThroughTheHookAndShowsScriptedRates)
{
    write_config("slot_3 FPS STW\nanimate_start 0\n");
    HANDLE fraps = drive("fraps\\fraps.exe", "\\fraps.log", "--run \"fps 60\"");
    ASSERT_TRUE(fraps && logged("\\fraps.log", "hook set with " FRAPS_STANDIN_DLL));
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    expect_shown("fps_page");
    const std::string pid = std::to_string(GetProcessId(program));
    EXPECT_TRUE(logged("\\fraps.log", "placed into pid " + pid + " "));
    EXPECT_TRUE(logged("\\fraps.log", "FrapsSharedData pid " + pid + " -> rate 60"));
    // FRAPS's window gone, its library still here: FRAPS no longer runs.
    const struct { const char *step, *label; } steps[] = {
        {"fps 0", "STW"}, {"fps 144", "FPS"}, {"window off", "STW"}, {"window on", "FPS"}, {"null on", "STW"}};
    for (const auto &s : steps) {
        ASSERT_TRUE(send(fraps, s.step, "\\fraps.log"));
        EXPECT_TRUE(wait_label(3, s.label)) << s.step;
    }
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(SensorE2E, FrapsStartedAfterTheProgramEntersThroughItsHiddenWindow)
{
    write_config("slot_3 FPS STW\nanimate_start 0\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_label(3, "STW"));
    ASSERT_NE(drive("fraps\\fraps.exe", "\\fraps.log", "--run \"fps 75\""), nullptr);
    EXPECT_TRUE(wait_label(3, "FPS"));
    EXPECT_TRUE(logged("\\fraps.log", "placed into pid " + std::to_string(GetProcessId(program)) + " "));
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
