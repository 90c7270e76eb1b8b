// The client layer against the broken and scripted server libraries
// (standins/lcdmon/lcd_test_*.dll); the link tests run it against the
// LCD Manager stand-in.
#include <gtest/gtest.h>

#include <string>

#include "link_fixture.h" // before lcd_client.h, whose LCD_WIDTH is a macro
#include "lcd_client.h"
#include "lcdmon_session.h"
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

// ServerBinary as a value of exactly 260 bytes without a terminator: a real
// library's path padded with blanks, which a cut path would still load.
bool register_unterminated_path(const char *dll)
{
    char value[LCD_SERVER_PATH_SIZE];
    memset(value, ' ', sizeof value);
    if (!standin_file(value, sizeof value, dll))
        return false;
    value[strlen(value)] = ' ';
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, LCD_SERVER_BINARY_KEY, 0, 0, 0, KEY_SET_VALUE, 0, &key, 0))
        return false;
    bool ok = RegSetValueExA(key, 0, 0, REG_BINARY, (const BYTE *)value, sizeof value) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

TEST(LcdClient, UnusableServerLibraryMeans1722AndNothingLoaded)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    lgLcdDeInit();
    const char *cases[] = {"no registry entry", "unterminated", "C:\\no\\such\\LCDMonServer.dll",
                           "lcd_test_no_interface.dll", "lcd_test_null_table.dll"};
    for (const char *dll : cases) {
        SCOPED_TRACE(dll);
        ASSERT_TRUE(!strcmp(dll, "unterminated") ? register_unterminated_path("lcd_test_scripted.dll")
                    : strchr(dll, '\\')            ? lcdmon_register_server(dll, 0)
                                                   : !strstr(dll, ".dll") || session.register_server(dll));
        EXPECT_EQ(lgLcdInit(), 1722u);
        for (const char *name : {"LCDMonServer.dll", "lcd_test_scripted.dll", dll})
            EXPECT_EQ(GetModuleHandleA(name), (HMODULE)0) << "library left loaded: " << name;
        EXPECT_EQ(lgLcdConnect(0), 1062u);
        EXPECT_EQ(lgLcdDeInit(), 0u);
    }
}

// Loading and unloading the server again and again, as the link thread does
// every two seconds while the LCD Manager is away, leaves no handle behind.
TEST(LcdClient, ForwardsToTheTableAndUnloadsCleanly)
{
    StandInSession session;
    ASSERT_TRUE(session.ready);
    lgLcdDeInit();
    ASSERT_TRUE(session.register_server("lcd_test_scripted.dll"));
    char path[MAX_PATH];
    ASSERT_TRUE(standin_file(path, sizeof path, "lcd_test_scripted.dll"));
    HMODULE held = LoadLibraryA(path); // the script outlives the client's unload
    ASSERT_TRUE(held);
    LcdTestScript *script = ((ScriptFn)(void *)GetProcAddress(held, "lcd_test_script"))();
    script->init_result = 31, script->deinit_result = 7, script->update_result = 1167;

    const LcdBitmapHeader bitmap = {LCD_BITMAP_FORMAT_MONO};
    EXPECT_EQ(lgLcdInit(), 31u);
    EXPECT_EQ(script->get_interface_version, 5);
    EXPECT_EQ(lgLcdInit(), 31u) << "a failed server init leaves the client as it was";
    EXPECT_EQ(script->init_calls, 2);
    script->init_result = 0;
    EXPECT_EQ(lgLcdInit(), 0u);
    EXPECT_EQ(lgLcdInit(), 1247u);
    EXPECT_EQ(lgLcdUpdateBitmap(42, &bitmap, 128), 1167u);
    EXPECT_TRUE(script->last_device == 42 && script->last_bitmap == &bitmap && script->last_priority == 128);
    EXPECT_EQ(lgLcdConnect(0), (DWORD)ERROR_NOT_SUPPORTED) << "null entry";
    EXPECT_EQ(lgLcdDeInit(), 7u);
    EXPECT_EQ(g_lcd_client.library, (HMODULE)0);
    EXPECT_EQ(lgLcdUpdateBitmap(42, &bitmap, 128), 1062u) << "after lgLcdDeInit";
    EXPECT_EQ(lgLcdDeInit(), 0u);
    EXPECT_EQ(script->update_calls + script->deinit_calls, 2);

    const DWORD before = link_tests::open_handle_count();
    for (int i = 0; i < 50; i++)
        lgLcdInit(), lgLcdDeInit();
    EXPECT_EQ(script->init_calls, 53);
    EXPECT_LE(link_tests::open_handle_count(), before + 2) << before;
    FreeLibrary(held);
}

TEST(LcdClient, CheckPrintsTableMessagesAndLogsEveryCode)
{
    std::string denied = system_message(5);
    denied.erase(denied.find_last_not_of("\r\n ") + 1);
    const struct {
        DWORD code;
        std::string message, hex;
        bool printed;
    } cases[] = {
        {0, "", "", false},          {1722, "Logitech LCD subsystem is not available.", "6ba", true},
        {5, denied, "5", false}, {0x2A0F1234u, "", "2a0f1234", false}, // no system text either
    };
    for (const auto &c : cases) {
        const std::string source = unique_token("src/check");
        testing::internal::CaptureStdout();
        EXPECT_EQ(lcd_check(c.code, source.c_str(), 261), c.code == 0) << c.code;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed ? source + "(261): '" + c.message + "'\n" : "");
        const std::string line = log_line_with("errors.txt", source);
        EXPECT_EQ(line.empty() ? "" : line.substr(line.find(source) + source.size()),
                  c.code ? "(261) | LCD error '" + c.message + "' (" + c.hex + ")" : "") << c.code;
    }
}

} // namespace
