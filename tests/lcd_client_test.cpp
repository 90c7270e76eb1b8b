// The LCD Manager client against real server libraries: the stand-in
// (LCDMonServer.dll with LCDMon.exe) and the broken test libraries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lcd_client.h"
#include "lcdmon_standin.h"
#include "util.h"

namespace {

// What the scripted test library exposes (lcd_test_server.cpp).
struct LcdTestScript {
    DWORD init_result;
    DWORD deinit_result;
    DWORD update_result;
    int init_calls;
    int deinit_calls;
    int update_calls;
    int last_device;
    const LcdBitmapHeader *last_bitmap;
    DWORD last_priority;
    int get_interface_version;
};
typedef LcdTestScript *(WINAPI *ScriptFn)(void);

std::string read_errors_file()
{
    char path[MAX_PATH];
    if (!documents_pixwick_dir(path, sizeof path))
        return "";
    strncat(path, "errors.txt", sizeof path - strlen(path) - 1);
    std::string text;
    FILE *file = fopen(path, "rb");
    if (!file)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    fclose(file);
    return text;
}

// A source name no other test process writes, so its lines can be found in
// the shared errors.txt.
std::string unique_source(const char *what)
{
    char text[64];
    snprintf(text, sizeof text, "src/%s%lu_%lu", what, (unsigned long)GetCurrentProcessId(),
             (unsigned long)GetTickCount());
    return text;
}

std::vector<std::string> lines_with(const std::string &text, const std::string &needle)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find(needle) != std::string::npos)
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void reset_client()
{
    lgLcdDeInit();
    EXPECT_EQ(g_lcd_client.initialised, 0);
}

struct ButtonLog {
    volatile LONG calls;
    volatile LONG device;
    volatile LONG buttons;
    volatile LONG ctrl_down;
    HANDLE changed;
};

DWORD WINAPI record_buttons(int device, DWORD buttons, void *context)
{
    ButtonLog *log = (ButtonLog *)context;
    log->device = device;
    log->buttons = (LONG)buttons;
    log->ctrl_down = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
    InterlockedIncrement(&log->calls);
    SetEvent(log->changed);
    return 0;
}

// Connects to the stand-in and opens display index; 0 when any step fails.
struct OpenDevice {
    int connection = -1;
    int device = -1;
};

DWORD connect_and_open(OpenDevice *open, int index, ButtonLog *log)
{
    LcdConnectContext connect = {};
    connect.app_name = "Wick's panel";
    connect.is_persistent = 1;
    connect.is_autostartable = 1;
    connect.connection = -1;
    DWORD result = lgLcdConnect(&connect);
    if (result)
        return result;
    open->connection = connect.connection;
    LcdOpenContext ctx = {};
    ctx.connection = connect.connection;
    ctx.index = index;
    ctx.on_soft_buttons.callback = log ? record_buttons : 0;
    ctx.on_soft_buttons.context = log;
    ctx.device = -1;
    result = lgLcdOpen(&ctx);
    open->device = ctx.device;
    return result;
}

void close_all(OpenDevice *open)
{
    if (open->device != -1)
        lgLcdClose(open->device);
    if (open->connection != -1)
        lgLcdDisconnect(open->connection);
    *open = OpenDevice{};
}

void fill_pattern(LcdBitmap *bitmap, int seed)
{
    bitmap->header.format = LCD_BITMAP_FORMAT_MONO;
    for (int i = 0; i < LCD_BITMAP_BYTES; i++)
        bitmap->pixels[i] = ((i * 7 + seed) % 5 == 0) ? 255 : 0;
}

int read_frame(int display, uint8_t *frame)
{
    LcdMonAccess access;
    if (!lcdmon_attach(&access))
        return 0;
    int ok = lcdmon_lock(access.lock, 2000);
    if (ok) {
        memcpy(frame, access.block->frame[display], LCDMON_FRAME_BYTES);
        ReleaseMutex(access.lock);
    }
    lcdmon_detach(&access);
    return ok;
}

std::string read_file(const char *path)
{
    std::string text;
    FILE *file = fopen(path, "rb");
    if (!file)
        return text;
    char buffer[8192];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    fclose(file);
    return text;
}

std::string temp_file(const char *stem, const char *extension)
{
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    snprintf(path, sizeof path, "%s%s_%lu%s", dir, stem, (unsigned long)GetCurrentProcessId(), extension);
    DeleteFileA(path);
    return path;
}

} // namespace

// ---- Loading the server library ---------------------------------------------------

TEST(LcdClient, NoRegistryEntryMeans1722AndNothingLoaded)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    EXPECT_EQ(lgLcdInit(), 1722u);
    EXPECT_EQ(g_lcd_client.initialised, 0);
    EXPECT_EQ(g_lcd_client.library, (HMODULE)0);
    EXPECT_EQ(g_lcd_client.table, (const LcdService *)0);
    EXPECT_EQ(lcd_service_load(), 0);
}

TEST(LcdClient, BrokenServerLibrariesFailCleanly)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    struct Case {
        const char *dll; // null: a path where no file is
        const char *what;
    } cases[] = {
        {0, "missing library"},
        {"lcd_test_no_interface.dll", "no GetInterface"},
        {"lcd_test_null_table.dll", "null table"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.dll)
            ASSERT_TRUE(session.register_server(c.dll));
        else
            ASSERT_TRUE(lcdmon_register_server("C:\\no\\such\\folder\\LCDMonServer.dll", 0));
        EXPECT_EQ(lgLcdInit(), 1722u);
        EXPECT_EQ(g_lcd_client.initialised, 0);
        EXPECT_EQ(g_lcd_client.library, (HMODULE)0);
        EXPECT_EQ(g_lcd_client.entry, (LcdGetInterface)0);
        EXPECT_EQ(g_lcd_client.table, (const LcdService *)0);
        if (c.dll) {
            EXPECT_EQ(GetModuleHandleA(c.dll), (HMODULE)0) << "library left loaded";
        }
        EXPECT_EQ(lgLcdConnect(0), 1062u);
        EXPECT_EQ(lgLcdDeInit(), 0u);
    }
}

TEST(LcdClient, ServerPathWithoutTerminatorIsRefused)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, LCD_SERVER_BINARY_KEY, 0, 0, 0, KEY_SET_VALUE, 0, &key, 0),
              ERROR_SUCCESS);
    char value[LCD_SERVER_PATH_SIZE];
    memset(value, 'A', sizeof value);
    ASSERT_EQ(RegSetValueExA(key, 0, 0, REG_BINARY, (const BYTE *)value, sizeof value), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(lgLcdInit(), 1722u);
    EXPECT_EQ(g_lcd_client.library, (HMODULE)0);
}

TEST(LcdClient, ForwardsToTheTableAndKeepsItsAnswers)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_server("lcd_test_scripted.dll"));
    // Hold the library ourselves so its script survives the client's unload.
    char path[MAX_PATH];
    ASSERT_TRUE(standin_file(path, sizeof path, "lcd_test_scripted.dll"));
    HMODULE held = LoadLibraryA(path);
    ASSERT_TRUE(held);
    LcdTestScript *script = ((ScriptFn)(void *)GetProcAddress(held, "lcd_test_script"))();
    script->init_result = 31;
    script->deinit_result = 7;
    script->update_result = 1167;

    EXPECT_EQ(lgLcdUpdateBitmap(3, 0, 128), 1062u) << "before lgLcdInit";
    EXPECT_EQ(lgLcdInit(), 31u) << "the table's own answer";
    EXPECT_EQ(script->get_interface_version, 5);
    EXPECT_EQ(g_lcd_client.initialised, 1) << "stays initialised after an error of entry 0";
    EXPECT_EQ(lgLcdInit(), 1247u);
    EXPECT_EQ(script->init_calls, 1) << "a second lgLcdInit leaves the library alone";

    LcdBitmap bitmap;
    fill_pattern(&bitmap, 1);
    EXPECT_EQ(lgLcdUpdateBitmap(42, &bitmap.header, 128), 1167u);
    EXPECT_EQ(script->update_calls, 1);
    EXPECT_EQ(script->last_device, 42);
    EXPECT_EQ(script->last_bitmap, &bitmap.header);
    EXPECT_EQ(script->last_priority, 128u);
    EXPECT_EQ(lgLcdConnect(0), (DWORD)ERROR_NOT_SUPPORTED) << "null entry";

    EXPECT_EQ(lgLcdDeInit(), 7u);
    EXPECT_EQ(script->deinit_calls, 1);
    EXPECT_EQ(g_lcd_client.library, (HMODULE)0);
    EXPECT_EQ(lgLcdUpdateBitmap(42, &bitmap.header, 128), 1062u) << "after lgLcdDeInit";
    EXPECT_EQ(script->update_calls, 1);
    EXPECT_EQ(lgLcdDeInit(), 0u);
    EXPECT_EQ(script->deinit_calls, 1) << "lgLcdDeInit when not initialised touches nothing";
    FreeLibrary(held);
}

// ---- lcd_check ------------------------------------------------------------------------

TEST(LcdClient, CheckOfZeroWritesNothing)
{
    std::string source = unique_source("ok");
    testing::internal::CaptureStdout();
    EXPECT_EQ(lcd_check(0, source.c_str(), 1), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(lines_with(read_errors_file(), source).empty());
}

TEST(LcdClient, CheckLogsTheTableMessagesWithHexCode)
{
    struct Case {
        DWORD code;
        const char *message;
        const char *hex;
    } cases[] = {
        {2, "LCDMon is not running on the system.", "(2)"},
        {87, "Invalid parameter.", "(57)"},
        {183, "Already exists: Can't connect or open twice.", "(b7)"},
        {259, "There are no more devices to be enumerated.", "(103)"},
        {1062, "lgLcdInit() has not been called yet.", "(426)"},
        {1150, "Attempted to initialize for Windows 9x.", "(47e)"},
        {1247, "lgLcdInit() has been called before.", "(4df)"},
        {1450, "Not enough system resources.", "(5aa)"},
        {1722, "Logitech LCD subsystem is not available.", "(6ba)"},
        {1832, "LCDMon does not understand the protocol.", "(728)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        std::string source = unique_source("check");
        testing::internal::CaptureStdout();
        EXPECT_EQ(lcd_check(c.code, source.c_str(), 261), 0);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, source + "(261): '" + c.message + "'\n");
        std::vector<std::string> lines = lines_with(read_errors_file(), source);
        ASSERT_EQ(lines.size(), 1u);
        std::string expected = source + "(261) | LCD error '" + c.message + "' " + c.hex;
        EXPECT_NE(lines[0].find(expected), std::string::npos) << lines[0];
        EXPECT_EQ(lines[0].size(), lines[0].find(expected) + expected.size()) << "no error code part: " << lines[0];
    }
}

TEST(LcdClient, CheckOfOtherCodesLogsTheSystemText)
{
    char *system_text = 0;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 0,
                   5, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&system_text, 0, 0);
    ASSERT_TRUE(system_text);
    std::string text = system_text;
    LocalFree(system_text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();

    std::string source = unique_source("sys");
    testing::internal::CaptureStdout();
    EXPECT_EQ(lcd_check(5, source.c_str(), 218), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "only table messages go to standard output";
    std::vector<std::string> lines = lines_with(read_errors_file(), source);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("LCD error '" + text + "' (5)"), std::string::npos) << lines[0];

    // A code the system has no text for logs an empty text.
    source = unique_source("none");
    EXPECT_EQ(lcd_check(0x2A0F1234u, source.c_str(), 241), 0);
    lines = lines_with(read_errors_file(), source);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("LCD error '' (2a0f1234)"), std::string::npos) << lines[0];
}

// ---- Against the stand-in LCD Manager ----------------------------------------------

TEST(LcdStandIn, ConnectAnswers2WhileLcdMonIsNotRunning)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_standin());
    ASSERT_EQ(lgLcdInit(), 0u) << "the library itself is usable";
    LcdConnectContext connect = {"Wick's panel", 1, 1, {0, 0}, -1};
    EXPECT_EQ(lgLcdConnect(&connect), 2u);
    EXPECT_EQ(connect.connection, -1);
    EXPECT_EQ(lgLcdDeInit(), 0u);
}

TEST(LcdStandIn, FramesArriveByteExactAndEndWith1167WhenLcdMonGoes)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    ASSERT_EQ(lgLcdInit(), 0u);

    LcdConnectContext connect = {"Wick's panel", 1, 1, {0, 0}, -1};
    ASSERT_EQ(lgLcdConnect(&connect), 0u);
    EXPECT_NE(connect.connection, -1);
    LcdDeviceDescription description;
    memset(&description, 0xEE, sizeof description);
    ASSERT_EQ(lgLcdEnumerate(connect.connection, 0, &description), 0u);
    EXPECT_EQ(description.width, 160u);
    EXPECT_EQ(description.height, 43u);
    EXPECT_EQ(description.soft_buttons, 4u);
    EXPECT_EQ(lgLcdEnumerate(connect.connection, 1, &description), 259u);

    LcdOpenContext open = {connect.connection, 0, {0, 0}, -1};
    ASSERT_EQ(lgLcdOpen(&open), 0u);
    EXPECT_NE(open.device, -1);
    EXPECT_EQ(lgLcdSetAsLCDForegroundApp(open.device, 1), 0u);
    EXPECT_EQ(lgLcdSetAsLCDForegroundApp(open.device, 0), 0u);

    LcdBitmap bitmap;
    for (int seed = 0; seed < 3; seed++) {
        fill_pattern(&bitmap, seed);
        ASSERT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 0u);
        uint8_t arrived[LCDMON_FRAME_BYTES];
        ASSERT_TRUE(read_frame(0, arrived));
        EXPECT_EQ(memcmp(arrived, bitmap.pixels, sizeof arrived), 0) << "frame " << seed;
    }
    bitmap.header.format = 2;
    EXPECT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 87u) << "only the 160 x 43 format";
    EXPECT_EQ(lgLcdUpdateBitmap(open.device + 1000, &bitmap.header, 128), 87u) << "unknown device";

    session.kill();
    bitmap.header.format = LCD_BITMAP_FORMAT_MONO;
    EXPECT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 1167u);
    lgLcdClose(open.device);
    EXPECT_EQ(lgLcdDisconnect(connect.connection), 233u);
    LcdConnectContext again = {"Wick's panel", 1, 1, {0, 0}, -1};
    EXPECT_EQ(lgLcdConnect(&again), 2u);
    EXPECT_EQ(lgLcdDeInit(), 0u);
}

TEST(LcdStandIn, RestartedLcdMonTakesNewConnections)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    ASSERT_EQ(lgLcdInit(), 0u);
    OpenDevice open;
    ASSERT_EQ(connect_and_open(&open, 0, 0), 0u);
    session.kill();
    ASSERT_TRUE(session.start()) << "a new process on the mapping the library still holds";
    LcdBitmap bitmap;
    fill_pattern(&bitmap, 9);
    EXPECT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 1167u) << "the old device belongs to the old process";
    close_all(&open);
    ASSERT_EQ(connect_and_open(&open, 0, 0), 0u);
    EXPECT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 0u);
    close_all(&open);
    lgLcdDeInit();
}

TEST(LcdStandIn, DisplaysRefusalAndDroppedDevices)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start("--displays 160x43,320x240"));
    ASSERT_EQ(lgLcdInit(), 0u);

    LcdConnectContext connect = {"Wick's panel", 1, 1, {0, 0}, -1};
    ASSERT_EQ(lgLcdConnect(&connect), 0u);
    LcdDeviceDescription description;
    ASSERT_EQ(lgLcdEnumerate(connect.connection, 1, &description), 0u);
    EXPECT_EQ(description.width, 320u);
    EXPECT_EQ(description.height, 240u);
    EXPECT_EQ(lgLcdEnumerate(connect.connection, 2, &description), 259u);
    ASSERT_TRUE(standin_command("displays 0"));
    EXPECT_EQ(lgLcdEnumerate(connect.connection, 0, &description), 259u);
    ASSERT_TRUE(standin_command("displays 2"));
    lgLcdDisconnect(connect.connection);

    const DWORD refusals[] = {183, 2, 5};
    for (DWORD code : refusals) {
        char command[32];
        snprintf(command, sizeof command, "refuse %lu", (unsigned long)code);
        ASSERT_TRUE(standin_command(command));
        LcdConnectContext refused = {"Wick's panel", 1, 1, {0, 0}, -1};
        EXPECT_EQ(lgLcdConnect(&refused), code);
    }
    ASSERT_TRUE(standin_command("refuse 0"));

    OpenDevice open;
    ASSERT_EQ(connect_and_open(&open, 1, 0), 0u);
    LcdBitmap bitmap;
    fill_pattern(&bitmap, 4);
    EXPECT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 0u);
    char reply[LCDMON_TEXT];
    ASSERT_TRUE(standin_command("drop", reply, sizeof reply));
    EXPECT_STREQ(reply, "dropped 1");
    EXPECT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 1167u);
    close_all(&open);
    ASSERT_EQ(connect_and_open(&open, 1, 0), 0u) << "a dropped device can be opened again";
    EXPECT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 0u);

    ASSERT_TRUE(standin_command("fail 1450"));
    EXPECT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 1450u);
    ASSERT_TRUE(standin_command("fail 0"));
    close_all(&open);
    lgLcdDeInit();
}

namespace {
struct UpdateCall {
    int device;
    LcdBitmap bitmap;
    volatile LONG result;
    volatile LONG done;
};

DWORD WINAPI call_update(void *argument)
{
    UpdateCall *call = (UpdateCall *)argument;
    call->result = (LONG)lgLcdUpdateBitmap(call->device, &call->bitmap.header, 128);
    call->done = 1;
    return 0;
}
} // namespace

TEST(LcdStandIn, UpdateHangsUntilReleasedOrLcdMonEnds)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start("--update-hang"));
    ASSERT_EQ(lgLcdInit(), 0u);
    OpenDevice open;
    ASSERT_EQ(connect_and_open(&open, 0, 0), 0u);

    static UpdateCall call;
    call.device = open.device;
    fill_pattern(&call.bitmap, 2);
    call.done = 0;
    HANDLE thread = CreateThread(0, 0, call_update, &call, 0, 0);
    ASSERT_TRUE(thread);
    uint32_t in_update = 0;
    EXPECT_TRUE(WAIT_UNTIL(standin_read(&LcdMonBlock::in_update, &in_update) && in_update == 1, 5000));
    // Other calls of the library go on meanwhile.
    LcdDeviceDescription description;
    EXPECT_EQ(lgLcdEnumerate(open.connection, 0, &description), 0u);
    EXPECT_EQ(call.done, 0);
    ASSERT_TRUE(standin_command("hang off"));
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(call.result, 0);
    CloseHandle(thread);

    ASSERT_TRUE(standin_command("hang on"));
    call.done = 0;
    thread = CreateThread(0, 0, call_update, &call, 0, 0);
    ASSERT_TRUE(thread);
    EXPECT_TRUE(WAIT_UNTIL(standin_read(&LcdMonBlock::in_update, &in_update) && in_update == 1, 5000));
    session.kill();
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0) << "a dead LCDMon ends the hang";
    EXPECT_EQ(call.result, 1167);
    CloseHandle(thread);
    close_all(&open);
    lgLcdDeInit();
}

TEST(LcdStandIn, SoftButtonCallbackComesFromAThreadOfTheLibrary)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    ASSERT_EQ(lgLcdInit(), 0u);
    static ButtonLog log;
    memset(&log, 0, sizeof log);
    log.changed = CreateEventA(0, FALSE, FALSE, 0);
    OpenDevice open;
    ASSERT_EQ(connect_and_open(&open, 0, &log), 0u);

    ASSERT_TRUE(standin_command("buttons 5"));
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 1, 5000));
    EXPECT_EQ(log.buttons, 5);
    EXPECT_EQ(log.device, open.device);
    EXPECT_EQ(log.ctrl_down, 0);

    ASSERT_TRUE(standin_command("buttons 0"));
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 2, 5000));
    EXPECT_EQ(log.buttons, 0);

    // Ctrl: the client asks the keyboard during the callback.
    ASSERT_TRUE(standin_command("press 8 50 ctrl"));
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 3, 5000));
    EXPECT_EQ(log.buttons, 8);
    EXPECT_EQ(log.ctrl_down, 1);
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 4, 5000)) << "scripted release";
    EXPECT_EQ(log.buttons, 0);
    EXPECT_EQ(GetAsyncKeyState(VK_CONTROL) & 0x8000, 0) << "Ctrl let go after the call";

    // A storm of 10,000 changes a second: every change arrives (unless the
    // stand-in had to overwrite some that the library had not taken yet),
    // and the last state is "up".
    char reply[LCDMON_TEXT];
    DWORD start = GetTickCount();
    ASSERT_TRUE(standin_command("storm 4000 10000", reply, sizeof reply));
    EXPECT_STREQ(reply, "pushed 4000");
    unsigned overruns = 0;
    ASSERT_TRUE(standin_command("status", reply, sizeof reply));
    ASSERT_TRUE(strstr(reply, "overruns=") && sscanf(strstr(reply, "overruns="), "overruns=%u", &overruns) == 1);
    EXPECT_TRUE(WAIT_UNTIL(log.calls == (LONG)(4004 - overruns), 30000)) << log.calls << " " << reply;
    EXPECT_EQ(log.buttons, 0);
    printf("storm of 4000 changes delivered in %lu ms, %u overwritten\n", GetTickCount() - start, overruns);

    close_all(&open);
    ASSERT_TRUE(standin_command("status", reply, sizeof reply));
    EXPECT_NE(strstr(reply, " open=0 "), nullptr) << reply;
    lgLcdDeInit();
    CloseHandle(log.changed);
}

TEST(LcdStandIn, FrameLogHoldsTimeStampAndPixelsOfEveryFrame)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    std::string log_path = temp_file("lcdmon_frames", ".bin");
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start(("--frame-log \"" + log_path + "\"").c_str()));
    ASSERT_EQ(lgLcdInit(), 0u);
    OpenDevice open;
    ASSERT_EQ(connect_and_open(&open, 0, 0), 0u);
    LcdBitmap frames[3];
    int64_t before = lcdmon_now_us();
    for (int i = 0; i < 3; i++) {
        fill_pattern(&frames[i], i + 10);
        ASSERT_EQ(lgLcdUpdateBitmap(open.device, &frames[i].header, 128), 0u);
    }
    int64_t after = lcdmon_now_us();
    close_all(&open);
    lgLcdDeInit();

    std::string log = read_file(log_path.c_str());
    ASSERT_EQ(log.size(), 3u * LCDMON_LOG_RECORD_BYTES);
    int64_t previous = before;
    for (int i = 0; i < 3; i++) {
        const uint8_t *record = (const uint8_t *)log.data() + i * LCDMON_LOG_RECORD_BYTES;
        int64_t stamp = 0;
        for (int b = 7; b >= 0; b--)
            stamp = stamp << 8 | record[b];
        EXPECT_GE(stamp, previous);
        EXPECT_LE(stamp, after);
        previous = stamp;
        EXPECT_EQ(memcmp(record + 8, frames[i].pixels, LCDMON_FRAME_BYTES), 0) << "record " << i;
    }
    DeleteFileA(log_path.c_str());
}

TEST(LcdStandIn, SavesTheCurrentFrameAsPbmAndPng)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    ASSERT_EQ(lgLcdInit(), 0u);
    OpenDevice open;
    ASSERT_EQ(connect_and_open(&open, 0, 0), 0u);
    LcdBitmap bitmap;
    memset(&bitmap, 0, sizeof bitmap);
    bitmap.header.format = LCD_BITMAP_FORMAT_MONO;
    bitmap.pixels[0] = 255;               // (0, 0)
    bitmap.pixels[42 * 160 + 159] = 255;  // (159, 42)
    bitmap.pixels[1 * 160 + 9] = 255;     // (9, 1)
    ASSERT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 0u);

    std::string pbm = temp_file("lcdmon_frame", ".pbm");
    ASSERT_TRUE(standin_command(("save \"" + pbm + "\"").c_str()));
    std::string data = read_file(pbm.c_str());
    const std::string header = "P4\n160 43\n";
    ASSERT_EQ(data.size(), header.size() + 20 * 43);
    EXPECT_EQ(data.substr(0, header.size()), header);
    std::string bits = data.substr(header.size());
    for (size_t i = 0; i < bits.size(); i++) {
        uint8_t expected = i == 0 ? 0x80 : i == 42 * 20 + 19 ? 0x01 : i == 20 + 1 ? 0x40 : 0;
        EXPECT_EQ((uint8_t)bits[i], expected) << "byte " << i;
    }

    std::string png = temp_file("lcdmon_frame", ".png");
    ASSERT_TRUE(standin_command(("save \"" + png + "\"").c_str()));
    data = read_file(png.c_str());
    ASSERT_GT(data.size(), 8u);
    EXPECT_EQ(data.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    // IDAT holds one stored deflate block: filter byte and 160 bytes per row.
    size_t idat = data.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    const uint8_t *raw = (const uint8_t *)data.data() + idat + 4 + 2 + 5;
    EXPECT_EQ(raw[0], 0);
    EXPECT_EQ(raw[1], 255) << "(0, 0)";
    EXPECT_EQ(raw[2], 0);
    EXPECT_EQ(raw[161 + 1 + 9], 255) << "(9, 1)";
    EXPECT_EQ(raw[42 * 161 + 1 + 159], 255) << "(159, 42)";
    EXPECT_FALSE(standin_command("save frame.gif")) << "only .png and .pbm";

    DeleteFileA(pbm.c_str());
    DeleteFileA(png.c_str());
    close_all(&open);
    lgLcdDeInit();
}

TEST(LcdStandIn, NoHandleIsLeftPerReconnect)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start());
    static ButtonLog log;
    memset(&log, 0, sizeof log);
    log.changed = CreateEventA(0, FALSE, FALSE, 0);
    LcdBitmap bitmap;
    fill_pattern(&bitmap, 3);
    auto cycle = [&]() {
        ASSERT_EQ(lgLcdInit(), 0u);
        OpenDevice open;
        ASSERT_EQ(connect_and_open(&open, 0, &log), 0u);
        ASSERT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 0u);
        close_all(&open);
        ASSERT_EQ(lgLcdDeInit(), 0u);
    };
    cycle(); // first load settles what stays (the C runtime's own handles)
    DWORD before = 0, after = 0;
    before = standin_handle_count();
    for (int i = 0; i < 50; i++)
        cycle();
    after = standin_handle_count();
    EXPECT_GT(before, 0u);
    EXPECT_LE(after, before + 2) << before << " -> " << after;
    CloseHandle(log.changed);
}

namespace {
void click(HWND window, UINT message, WPARAM keys, int display, int index)
{
    RECT r = lcdmon_button_rect(LCDMON_DEFAULT_SCALE, (unsigned)display, index);
    SendMessageA(window, message, keys, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
}
} // namespace

TEST(LcdStandIn, ClicksInTheWindowReachTheCallbackWithCtrl)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    reset_client();
    ASSERT_TRUE(session.register_standin());
    ASSERT_TRUE(session.start("--displays 2"));
    HWND window = FindWindowA("Logitech LCD Monitor Window", "LCDMon");
    ASSERT_TRUE(window);
    ASSERT_EQ(lgLcdInit(), 0u);
    static ButtonLog log;
    memset(&log, 0, sizeof log);
    log.changed = CreateEventA(0, FALSE, FALSE, 0);
    OpenDevice open;
    ASSERT_EQ(connect_and_open(&open, 1, &log), 0u);

    click(window, WM_LBUTTONDOWN, MK_LBUTTON, 1, 2);
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 1, 5000));
    EXPECT_EQ(log.buttons, 4);
    EXPECT_EQ(log.ctrl_down, 0);
    click(window, WM_LBUTTONUP, 0, 1, 2);
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 2, 5000));
    EXPECT_EQ(log.buttons, 0);

    click(window, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, 1, 0);
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 3, 5000));
    EXPECT_EQ(log.buttons, 1);
    EXPECT_EQ(log.ctrl_down, 1) << "Ctrl-click gives Ctrl";
    click(window, WM_LBUTTONUP, 0, 1, 0);
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 4, 5000));

    // Right clicks latch buttons, so all four can be held together.
    for (int i = 0; i < 4; i++)
        click(window, WM_RBUTTONDOWN, MK_RBUTTON, 1, i);
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 8, 5000));
    EXPECT_EQ(log.buttons, 15);
    click(window, WM_LBUTTONDOWN, MK_LBUTTON, 0, 1);
    click(window, WM_LBUTTONUP, 0, 0, 1);
    EXPECT_EQ(log.calls, 8) << "display 0 is not ours";

    close_all(&open);
    lgLcdDeInit();
    CloseHandle(log.changed);
}
