#include <gtest/gtest.h>

#include <string>

#include "link_fixture.h" // before lcd_client.h, whose LCD_WIDTH is a macro
#include "lcd_client.h"
#include "lcdmon_standin.h"
#include "log_files.h"

namespace {

// The layout lcd_test_scripted.dll shares (lcd_test_server.cpp).
struct LcdTestScript {
    DWORD init_result, deinit_result, update_result;
    int init_calls, deinit_calls, update_calls, last_device;
    const LcdBitmapHeader *last_bitmap;
    DWORD last_priority;
    int get_interface_version;
};
typedef LcdTestScript *(WINAPI *ScriptFn)(void);

// A test library by name, or any path with a backslash as it is.
bool register_server(const char *name)
{
    char path[MAX_PATH];
    return strchr(name, '\\') ? lcdmon_register_server(name, 0)
                              : standin_file(path, sizeof path, name) && lcdmon_register_server(path, 0);
}

void fill_pattern(LcdBitmap *bitmap, int seed)
{
    bitmap->header.format = LCD_BITMAP_FORMAT_MONO;
    for (int i = 0; i < LCD_BITMAP_BYTES; i++)
        bitmap->pixels[i] = ((i * 7 + seed) % 5 == 0) ? 255 : 0;
}

bool frame_on_display_0_is(const LcdBitmap &bitmap)
{
    LcdMonAccess access;
    if (!lcdmon_attach(&access))
        return false;
    bool same = lcdmon_lock(access.lock, 2000) &&
                memcmp(access.block->frame[0], bitmap.pixels, LCDMON_FRAME_BYTES) == 0;
    ReleaseMutex(access.lock);
    lcdmon_detach(&access);
    return same;
}

struct ButtonLog {
    volatile LONG calls, device, buttons, ctrl_down;
};

DWORD WINAPI record_buttons(int device, DWORD buttons, void *context)
{
    ButtonLog *log = (ButtonLog *)context;
    log->device = device, log->buttons = (LONG)buttons;
    log->ctrl_down = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
    InterlockedIncrement(&log->calls);
    return 0;
}

} // namespace

TEST(LcdClient, UnusableServerLibraryMeans1722AndNothingLoaded)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    lgLcdDeInit();
    const char *cases[] = {0, "C:\\no\\such\\LCDMonServer.dll", "lcd_test_no_interface.dll",
                           "lcd_test_null_table.dll"};
    for (const char *dll : cases) {
        SCOPED_TRACE(dll ? dll : "no registry entry");
        if (dll) {
            ASSERT_TRUE(register_server(dll));
        }
        EXPECT_EQ(lgLcdInit(), 1722u);
        EXPECT_TRUE(!g_lcd_client.initialised && !g_lcd_client.library && !g_lcd_client.table);
        EXPECT_EQ(GetModuleHandleA(dll ? dll : "LCDMonServer.dll"), (HMODULE)0) << "library left loaded";
        EXPECT_EQ(lgLcdConnect(0), 1062u);
        EXPECT_EQ(lgLcdDeInit(), 0u);
    }
}

TEST(LcdClient, ForwardsToTheTableAndKeepsItsAnswers)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    lgLcdDeInit();
    ASSERT_TRUE(register_server("lcd_test_scripted.dll"));
    char path[MAX_PATH];
    ASSERT_TRUE(standin_file(path, sizeof path, "lcd_test_scripted.dll"));
    HMODULE held = LoadLibraryA(path); // the script outlives the client's unload
    ASSERT_TRUE(held);
    LcdTestScript *script = ((ScriptFn)(void *)GetProcAddress(held, "lcd_test_script"))();
    script->init_result = 31, script->deinit_result = 7, script->update_result = 1167;

    LcdBitmap bitmap;
    fill_pattern(&bitmap, 1);
    EXPECT_EQ(lgLcdUpdateBitmap(3, &bitmap.header, 128), 1062u) << "before lgLcdInit";
    EXPECT_EQ(lgLcdInit(), 31u);
    EXPECT_EQ(script->get_interface_version, 5);
    EXPECT_EQ(g_lcd_client.initialised, 1) << "stays initialised after an error of entry 0";
    EXPECT_EQ(lgLcdInit(), 1247u);
    EXPECT_EQ(script->init_calls, 1);
    EXPECT_EQ(lgLcdUpdateBitmap(42, &bitmap.header, 128), 1167u);
    EXPECT_TRUE(script->last_device == 42 && script->last_bitmap == &bitmap.header && script->last_priority == 128);
    EXPECT_EQ(lgLcdConnect(0), (DWORD)ERROR_NOT_SUPPORTED) << "null entry";
    EXPECT_EQ(lgLcdDeInit(), 7u);
    EXPECT_EQ(g_lcd_client.library, (HMODULE)0);
    EXPECT_EQ(lgLcdUpdateBitmap(42, &bitmap.header, 128), 1062u) << "after lgLcdDeInit";
    EXPECT_EQ(lgLcdDeInit(), 0u);
    EXPECT_EQ(script->update_calls + script->deinit_calls, 2);
    FreeLibrary(held);
}

TEST(LcdClient, CheckPrintsTableMessagesAndLogsEveryCode)
{
    char *text = 0;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 0,
                   5, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, 0);
    ASSERT_TRUE(text);
    std::string access_denied = text;
    LocalFree(text);
    access_denied.erase(access_denied.find_last_not_of("\r\n ") + 1);

    struct { DWORD code; std::string message; bool printed; } cases[] = {
        {2, "LCDMon is not running on the system.", true},
        {1832, "LCDMon does not understand the protocol.", true},
        {5, access_denied, false},
        {0x2A0F1234u, "", false}, // no system text either
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        std::string source = unique_token("src/check");
        testing::internal::CaptureStdout();
        EXPECT_EQ(lcd_check(c.code, source.c_str(), 261), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed ? source + "(261): '" + c.message + "'\n" : "");
        char hex[16];
        snprintf(hex, sizeof hex, "(%x)", (unsigned)c.code);
        std::string line = log_line_with("errors.txt", source);
        std::string expected = source + "(261) | LCD error '" + c.message + "' " + hex;
        ASSERT_GE(line.size(), expected.size());
        EXPECT_EQ(line.substr(line.size() - expected.size()), expected) << "no error code part";
    }
    std::string source = unique_token("src/ok");
    testing::internal::CaptureStdout();
    EXPECT_EQ(lcd_check(0, source.c_str(), 1), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(log_line_with("errors.txt", source), "");
}

class LcdStandIn : public ::testing::Test {
protected:
    StandInSession session;
    LcdConnectContext connect = {"Wick's panel", 1, 1, {0, 0}, -1};
    LcdOpenContext open = {-1, 0, {0, 0}, -1};

    void SetUp() override
    {
        ASSERT_TRUE(session.ready);
        lgLcdDeInit();
        ASSERT_TRUE(session.register_standin());
    }
    void TearDown() override { lgLcdDeInit(); }

    DWORD connect_and_open(ButtonLog *log = 0)
    {
        connect.connection = -1;
        DWORD result = lgLcdConnect(&connect);
        if (result)
            return result;
        open = {connect.connection, 0, {log ? record_buttons : 0, log}, -1};
        return lgLcdOpen(&open);
    }
    void close() { lgLcdClose(open.device), lgLcdDisconnect(connect.connection); }
};

TEST_F(LcdStandIn, FramesArriveByteExactWhileLcdMonRuns)
{
    ASSERT_EQ(lgLcdInit(), 0u);
    EXPECT_EQ(lgLcdConnect(&connect), 2u) << "LCDMon.exe is not running";
    EXPECT_EQ(connect.connection, -1);
    ASSERT_TRUE(session.start());
    ASSERT_EQ(connect_and_open(), 0u);
    LcdDeviceDescription description;
    ASSERT_EQ(lgLcdEnumerate(connect.connection, 0, &description), 0u);
    EXPECT_EQ(description.width * description.height, 160u * 43u);
    LcdBitmap bitmap;
    fill_pattern(&bitmap, 2);
    ASSERT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 0u);
    EXPECT_TRUE(frame_on_display_0_is(bitmap));
    session.kill();
    EXPECT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 1167u);
    close();
    EXPECT_EQ(lgLcdConnect(&connect), 2u);
}

TEST_F(LcdStandIn, SoftButtonCallbackWithCtrlAndAStorm)
{
    ASSERT_TRUE(session.start());
    ASSERT_EQ(lgLcdInit(), 0u);
    static ButtonLog log;
    log = ButtonLog{};
    ASSERT_EQ(connect_and_open(&log), 0u);
    ASSERT_TRUE(standin_command("buttons 5"));
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 1, 5000));
    EXPECT_TRUE(log.buttons == 5 && log.device == open.device && !log.ctrl_down);
    ASSERT_TRUE(standin_command("buttons 0"));
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 2, 5000));
    ASSERT_TRUE(standin_command("press 8 50 ctrl")); // the client reads Ctrl during the call
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 3, 5000));
    EXPECT_TRUE(log.buttons == 8 && log.ctrl_down == 1);
    EXPECT_TRUE(WAIT_UNTIL(log.calls == 4 && log.buttons == 0, 5000));

    // 4000 changes at 10,000 a second: each arrives unless the stand-in had
    // to overwrite it, and the last state is "up".
    char reply[LCDMON_TEXT];
    ASSERT_TRUE(standin_command("storm 4000 10000", reply, sizeof reply));
    EXPECT_STREQ(reply, "pushed 4000");
    unsigned overruns = 0;
    ASSERT_TRUE(standin_command("status", reply, sizeof reply));
    ASSERT_TRUE(strstr(reply, "overruns=") && sscanf(strstr(reply, "overruns="), "overruns=%u", &overruns) == 1);
    EXPECT_TRUE(WAIT_UNTIL(log.calls == (LONG)(4004 - overruns), 30000)) << log.calls << " " << reply;
    EXPECT_EQ(log.buttons, 0);
    close();
}

TEST_F(LcdStandIn, NoHandleIsLeftPerReconnect)
{
    ASSERT_TRUE(session.start());
    static ButtonLog log;
    LcdBitmap bitmap;
    fill_pattern(&bitmap, 3);
    auto cycle = [&]() {
        ASSERT_EQ(lgLcdInit(), 0u);
        ASSERT_EQ(connect_and_open(&log), 0u);
        ASSERT_EQ(lgLcdUpdateBitmap(open.device, &bitmap.header, 128), 0u);
        close();
        ASSERT_EQ(lgLcdDeInit(), 0u);
    };
    cycle(); // the first load settles what stays (the C runtime's own handles)
    DWORD before = link_tests::open_handle_count();
    for (int i = 0; i < 50; i++)
        cycle();
    DWORD after = link_tests::open_handle_count();
    EXPECT_GT(before, 0u);
    EXPECT_LE(after, before + 2) << before << " -> " << after;
}
