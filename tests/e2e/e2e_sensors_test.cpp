// End to end: the sensor pages against the sensor publisher (SpeedFan, Core
// Temp and GPU-Z blocks under their real names) and the FRAPS page against
// the FRAPS stand-in, whose library the real program receives through a
// global window hook. The stand-ins are driven line by line through their
// standard input; each logs what it did.
#include "e2e_fixture.h"

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

    void TearDown() override
    {
        for (HANDLE input : inputs) // end of input ends a stand-in
            CloseHandle(input);
        for (HANDLE process : standins)
            WaitForSingleObject(process, 5000);
        for (const char *file : {"\\sensorpub.log", "\\fraps.log"})
            DeleteFileA((work + file).c_str());
        E2E::TearDown();
    }

    // Starts standins\<folder>\<exe> reading commands from a pipe; returns the pipe.
    HANDLE drive(const char *folder, const char *exe, const std::string &options)
    {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(0, path, sizeof path);
        std::string program = std::string(path).substr(0, std::string(path).rfind('\\')) + "\\standins\\" + folder +
                              "\\" + exe;
        std::string line = "\"" + program + "\" --stdin --lifetime 300 " + options;
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, 0, TRUE};
        HANDLE read_end, write_end;
        if (!CreatePipe(&read_end, &write_end, &inherit, 0))
            return 0;
        SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup, startup.dwFlags = STARTF_USESTDHANDLES, startup.hStdInput = read_end;
        PROCESS_INFORMATION p = {};
        BOOL started = CreateProcessA(program.c_str(), &line[0], 0, 0, TRUE, CREATE_NO_WINDOW, 0, work.c_str(),
                                      &startup, &p);
        CloseHandle(read_end);
        if (!started) {
            CloseHandle(write_end);
            return 0;
        }
        programs.push_back(p), standins.push_back(p.hProcess), inputs.push_back(write_end);
        return write_end;
    }

    // Sends commands and waits until the stand-in has done them.
    bool send(HANDLE input, const std::string &commands, const char *log = "\\sensorpub.log")
    {
        static int serial;
        std::string mark = "mark " + std::to_string(++serial), text = commands + "; " + mark + "\n";
        DWORD written;
        return WriteFile(input, text.data(), (DWORD)text.size(), &written, 0) && logged(log, mark);
    }

    bool logged(const char *log, const std::string &text, DWORD timeout = 10000)
    {
        return WAIT_UNTIL(read_binary_file(work + log).find(text + "\r\n") != std::string::npos, timeout);
    }

    bool last_frame(Frame *f)
    {
        std::string bytes = read_binary_file(frame_log);
        if (bytes.size() < LCDMON_LOG_RECORD_BYTES)
            return false;
        size_t at = (bytes.size() / LCDMON_LOG_RECORD_BYTES - 1) * LCDMON_LOG_RECORD_BYTES;
        f->px.assign(bytes.begin() + (long)at + 8, bytes.begin() + (long)(at + LCDMON_LOG_RECORD_BYTES));
        return true;
    }

    golden::Picture area_of(const Frame &f, int slot, int height = ROW_HEIGHT)
    {
        return slot < 0 ? golden::cut(f.px.data(), 0, ROW_TOP, LCD_WIDTH, height)
                        : golden::cut(f.px.data(), COLUMNS[slot], ROW_TOP, SLOT_WIDTH, height);
    }

    // Waits until the panels (slot -1: all four) show the golden picture,
    // then compares. With PIXWICK_UPDATE_GOLDEN=1 it waits two seconds of
    // frames instead and writes what they show.
    void expect_shown(const char *name, int slot = -1)
    {
        golden::Picture want;
        const char *update = getenv("PIXWICK_UPDATE_GOLDEN");
        Frame f;
        if (update && update[0] == '1')
            EXPECT_TRUE(wait_more_frames(20, 10000));
        else if (golden::read_pbm(std::string(PIXWICK_GOLDEN_DIR) + "/" + name + ".pbm", &want))
            WAIT_UNTIL(last_frame(&f) && area_of(f, slot).bits == want.bits, SHOWN_WAIT_MS);
        ASSERT_TRUE(last_frame(&f));
        const int x = slot < 0 ? 0 : COLUMNS[slot], width = slot < 0 ? (int)LCD_WIDTH : (int)SLOT_WIDTH;
        EXPECT_GOLDEN_AREA(name, f.px.data(), x, ROW_TOP, width, ROW_HEIGHT);
    }

    // The panel's top edge and label bar as a panel of that module draws them.
    golden::Picture label_bar(const char *label, int slot)
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        Slot s = {};
        s.x = COLUMNS[slot], s.y = ROW_TOP;
        slot_draw_frame(&s, label);
        return golden::cut(g_lcd.frame, s.x, ROW_TOP, SLOT_WIDTH, 7);
    }

    bool wait_popup(size_t from, const char *text)
    {
        for (DWORD start = GetTickCount(); GetTickCount() - start < SHOWN_WAIT_MS; Sleep(500))
            if (find_popup(frames(), from, text) >= 0)
                return true;
        return false;
    }

    bool wait_label(int slot, const char *label)
    {
        golden::Picture want = label_bar(label, slot);
        Frame f;
        return WAIT_UNTIL(last_frame(&f) && area_of(f, slot, 7).bits == want.bits, SHOWN_WAIT_MS);
    }
};

TEST_F(SensorE2E, PagesShowThePublishedValuesAndStepOnPresses)
{
    write_config(SLOTS);
    HANDLE publisher = drive("sensors", "sensorpub.exe", "--log \"" + work + "\\sensorpub.log\"");
    ASSERT_TRUE(publisher && send(publisher, PUBLISHED));
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
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
    expect_shown("cor_two_packages_as_distances", 1);
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(SensorE2E, BusyGpuzKeepsItsValuesAndClosedBlocksGiveWay)
{
    write_config(SLOTS);
    HANDLE publisher = drive("sensors", "sensorpub.exe", "--log \"" + work + "\\sensorpub.log\"");
    ASSERT_TRUE(publisher && send(publisher, PUBLISHED));
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    expect_shown("sensor_pages");
    Frame f;
    ASSERT_TRUE(last_frame(&f));
    const golden::Picture before = area_of(f, 2);

    // busy for about 2.5 seconds of ticks, with new values written meanwhile
    ASSERT_TRUE(send(publisher, "gpu busy 1; gpu value 0 777"));
    size_t busy_from = frame_count();
    ASSERT_TRUE(wait_frames(busy_from + 25, 10000));
    std::vector<Frame> list = frames();
    for (size_t k = busy_from; k < busy_from + 25; k++)
        ASSERT_EQ(area_of(list[k], 2).bits, before.bits) << "frame " << k - busy_from << " while busy";
    ASSERT_TRUE(send(publisher, "gpu busy 0"));
    expect_shown("gpu_after_busy", 2);

    ASSERT_TRUE(send(publisher, "close fan; close cor; close gpu"));
    for (int slot = 0; slot < 3; slot++)
        EXPECT_TRUE(wait_label(slot, "STW")) << "slot " << slot;
    ASSERT_TRUE(send(publisher, "open cor; cor cores 1; cor temps 50"));
    EXPECT_TRUE(wait_label(1, "COR")) << "Core Temp back";
    EXPECT_EQ(end_with_buttons(program), 0);
}

TEST_F(SensorE2E, GarbageBlocksNeverStopTheProgram)
{
    write_config(SLOTS + "slot_3 GPU+ STW\n");
    HANDLE publisher = drive("sensors", "sensorpub.exe", "--log \"" + work + "\\sensorpub.log\"");
    // a GPU-Z block one page long, absurd counts, readings that are no numbers
    ASSERT_TRUE(publisher && send(publisher, "open gpu 4096; open fan; fan counts 65535 65535 65535;"
                                             "open cor; cor cores 4294967295; cor packages 4294967295; cor delta 1;"
                                             "cor tjmax 4294967295; cor temps nan inf -inf 1e30 -1"));
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
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
    HANDLE fraps = drive("fraps", "fraps.exe", "--log \"" + work + "\\fraps.log\" --run \"fps 60\"");
    ASSERT_TRUE(fraps && logged("\\fraps.log", "hook set with " FRAPS_STANDIN_DLL, 10000));
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    expect_shown("fps_page", 3);
    std::string pid = std::to_string(GetProcessId(program));
    EXPECT_NE(read_binary_file(work + "\\fraps.log").find("placed into pid " + pid + " "), std::string::npos);
    EXPECT_NE(read_binary_file(work + "\\fraps.log").find("FrapsSharedData pid " + pid + " -> rate 60"),
              std::string::npos);

    for (const char *step : {"fps 0", "fps 144", "null on"}) {
        ASSERT_TRUE(send(fraps, step, "\\fraps.log"));
        EXPECT_TRUE(wait_label(3, strcmp(step, "fps 144") == 0 ? "FPS" : "STW")) << step;
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
    HANDLE fraps = drive("fraps", "fraps.exe", "--log \"" + work + "\\fraps.log\" --run \"fps 75\"");
    ASSERT_NE(fraps, nullptr);
    EXPECT_TRUE(wait_label(3, "FPS"));
    std::string pid = std::to_string(GetProcessId(program));
    EXPECT_NE(read_binary_file(work + "\\fraps.log").find("placed into pid " + pid + " "), std::string::npos);
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
