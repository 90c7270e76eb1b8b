#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "app.h"
#include "config.h"
#include "lcd.h"
#include "log_files.h"
#include "popup.h"

namespace {

int count_popups(const char *text, uint32_t key, uint32_t duration)
{
    int n = 0;
    for (const PopupMessage *m = g_popups.head; m; m = m->next)
        n += strcmp(m->text, text) == 0 && m->key == key && m->duration == duration;
    return n;
}

// A private folder tree per test: cwd\ (made the current folder), exe\ and
// docs\ (the store's exe_dir and docs_dir).
class ConfigFiles : public ::testing::Test {
protected:
    const std::string root = (std::filesystem::temp_directory_path() / unique_token("pixwick_config")).string() + "\\";
    const std::filesystem::path saved_cwd = std::filesystem::current_path();
    Config config = {};

    void SetUp() override
    {
        log_forget_repeats();
        for (const char *sub : {"cwd", "exe", "docs"})
            ASSERT_TRUE(std::filesystem::create_directories(root + sub)) << sub;
        std::filesystem::current_path(root + "cwd");
        snprintf(config.exe_dir, sizeof config.exe_dir, "%sexe\\", root.c_str());
        snprintf(config.docs_dir, sizeof config.docs_dir, "%sdocs\\", root.c_str());
        config_clear(&config);
        popup_clear(&g_popups);
    }
    void TearDown() override
    {
        config_clear(&config);
        popup_clear(&g_popups);
        std::filesystem::current_path(saved_cwd);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::string path(const char *relative) { return root + relative; }
    void write(const char *relative, const std::string &t) { std::ofstream(path(relative), std::ios::binary) << t; }
    void touch(const char *relative, int seconds) // moves the last-write time
    {
        const std::filesystem::path file = path(relative);
        std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + std::chrono::seconds(seconds));
    }
    std::string value(const char *key) { return config_get(&config, key) ? config_get(&config, key) : "<missing>"; }
};

TEST_F(ConfigFiles, SearchesCurrentFolderThenExeThenDocuments)
{
    for (const char *place : {"docs", "exe", "cwd"}) {
        write((std::string(place) + "\\pixwick.txt").c_str(), std::string("where ") + place);
        config_clear(&config);
        EXPECT_EQ(config_load_file(&config, "pixwick.txt", 1), 1);
        EXPECT_EQ(value("where"), place);
    }
}

// Included lines are read in place of the include line, each file once; a
// later line for a key overrides the earlier one and is logged as updated.
TEST_F(ConfigFiles, IncludesAreReadInPlaceAndOnlyOnce)
{
    const std::string key = unique_token("Key"), lower_case = "k" + key.substr(1);
    write("cwd\\pixwick.txt", "a 1\ninclude extra.txt\nb 1\nINCLUDE extra.txt\n" + lower_case + " 1\n");
    write("docs\\extra.txt", "a 2\r\nb 2\r\ninclude PIXWICK.TXT\r\nc 2\r\n" + key + " 0"); // found by the search
    EXPECT_EQ(config_load_file(&config, "pixwick.txt", 1), 7);
    EXPECT_EQ(value("a") + value("b") + value("c") + value("include"), "212<missing>");
    EXPECT_EQ(log_line_with("system.txt", " '" + key + "' = '1' (updated)"), " '" + key + "' = '1' (updated)");
}

// Files that are not read: a missing include, one of 4 GB or more (it would
// be read cut short) and any beyond the fourth. Includes log nothing.
TEST_F(ConfigFiles, UnreadFiles)
{
    const std::string missing = unique_token("missing") + ".txt";
    write("cwd\\pixwick.txt", "include " + missing + "\ninclude big.txt\ninclude f1.txt\ninclude f2.txt\n"
                              "include f3.txt\ninclude f4.txt\nmain 1\n");
    for (const char *name : {"big", "f1", "f2", "f3", "f4"})
        write((std::string("docs\\") + name + ".txt").c_str(), std::string("key_") + name + " 1\n");
    HANDLE big = CreateFileA(path("docs\\big.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 0x10000000ALL; // sparse; modulo 2^32 just the first line
    ASSERT_TRUE(SetFilePointerEx(big, size, nullptr, FILE_BEGIN) && SetEndOfFile(big));
    CloseHandle(big);
    EXPECT_EQ(config_load_file(&config, "pixwick.txt", 1), 4);
    EXPECT_EQ(value("key_big") + value("key_f3") + value("key_f4") + value("main"), "<missing>1<missing>1");
    EXPECT_EQ(log_line_with("errors.txt", missing) + log_line_with("errors.txt", path("docs\\f4.txt")), "");
}

// Any watched file with another last-write time rebuilds the whole store.
// While the settings file is locked or gone (an editor saving by rename), the
// settings in force stay and the files stay watched.
TEST_F(ConfigFiles, ReloadRebuildsTheWholeStore)
{
    write("cwd\\pixwick.txt", "linger 100\nsmall_font_name Courier New\ninclude extra.txt\n");
    write("docs\\extra.txt", "use_hid 2\n");
    ASSERT_EQ(config_load_file(&config, "pixwick.txt", 1), 3);
    EXPECT_EQ(config_check_reload(&config), 0);

    touch("docs\\extra.txt", 10); // only the included file, contents unchanged
    g_lcd.small_font = nullptr;
    EXPECT_EQ(config_check_reload(&config), 1);
    EXPECT_EQ(g_general.linger + g_general.use_hid, 102);
    EXPECT_EQ(count_popups("Configuration updated", 12, 1000), 1);
    EXPECT_NE(g_lcd.small_font, nullptr);
    EXPECT_EQ(config_check_reload(&config), 0); // the new time is recorded

    write("cwd\\pixwick.txt", "include extra.txt\n"); // linger deleted, then the file locked
    touch("cwd\\pixwick.txt", 60);
    HANDLE locked = CreateFileA(path("cwd\\pixwick.txt").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    EXPECT_EQ(config_check_reload(&config), 0);
    EXPECT_EQ(g_general.linger, 100);
    EXPECT_NE(log_line_with("errors.txt", "'pixwick.txt'  | 00000020="), "") << "locked, not missing";
    CloseHandle(locked);
    EXPECT_EQ(config_check_reload(&config), 1);
    EXPECT_EQ(g_general.linger, 500) << "a deleted key is back at its default";

    const size_t logged = read_binary_file(log_path("errors.txt")).size();
    ASSERT_TRUE(DeleteFileA(path("cwd\\pixwick.txt").c_str()));
    touch("docs\\extra.txt", 1);
    EXPECT_EQ(config_check_reload(&config), 0);
    EXPECT_EQ(g_general.use_hid, 2);
    EXPECT_NE(read_binary_file(log_path("errors.txt")).substr(logged).find(
                  "Can't find the configuration file 'pixwick.txt'  | 00000002="), std::string::npos);
    write("cwd\\pixwick.txt", "use_hid 3\n"); // saved under the old name again
    EXPECT_EQ(config_check_reload(&config), 2); // both files changed since the last load
    EXPECT_EQ(g_general.use_hid, 3);
}

// Editors save the settings file in the ANSI code page, as UTF-8 with a mark
// or as UTF-16 with a mark; all read the same.
TEST_F(ConfigFiles, UnicodeFilesReadLikeAnsiOnes)
{
    const std::u16string text = u"slot_0 CPU\r\nname K\u00F6ln \u20AC\r\n";
    std::string utf16le = "\xFF\xFE", utf16be = "\xFE\xFF";
    for (char16_t c : text) {
        utf16le += (char)(c & 0xFF), utf16le += (char)(c >> 8);
        utf16be += (char)(c >> 8), utf16be += (char)(c & 0xFF);
    }
    const std::string utf8 = "\xEF\xBB\xBFslot_0 CPU\nname K\xC3\xB6ln \xE2\x82\xAC\n";
    for (const std::string &bytes : {utf16le, utf16be, utf8, std::string("\xEF\xBB\xBF")}) {
        write("cwd\\pixwick.txt", bytes);
        config_clear(&config);
        ASSERT_EQ(config_load_file(&config, "pixwick.txt", 1), bytes.size() > 3 ? 2 : 0);
        if (bytes.size() <= 3)
            continue;
        EXPECT_EQ(value("slot_0"), "CPU");
        if (GetACP() == 1252) {
            EXPECT_EQ(value("name"), "K\xF6ln \x80");
        }
    }
}

// Mistakes in a file someone edited by hand come back with their place: a
// misspelt key, a number with a unit, includes that are missing, that loop
// back or are far too big. The values are still read as before.
TEST_F(ConfigFiles, MistakesAreReportedWithTheirLine)
{
    write("cwd\\pixwick.txt", "# settings\nlinger 100ms\ncpumem_intervall 3\ninclude loop.txt\n"
                              "include big.txt\ninclude nowhere.txt\nsmall_font_name X\n");
    write("docs\\loop.txt", "include pixwick.txt\n");
    write("docs\\big.txt", std::string(2 * 1024 * 1024, '#'));
    ASSERT_GT(config_load_file(&config, "pixwick.txt", 1), 0);
    config_get(&config, "small_font_name"); // a key some part reads
    const AppClock saved = app_clock;
    app_clock = [] { return (uint32_t)1000; };
    EXPECT_EQ(config_get_uint(&config, "linger", 500), 100u);
    const int before = count_occurrences(read_binary_file(log_path("errors.txt")), "pixwick.txt(");
    EXPECT_EQ(config_report_problems(&config), 5);
    app_clock = saved;
    for (const char *line : {"pixwick.txt(2): linger '100ms': not a whole number",
                             "pixwick.txt(3): 'cpumem_intervall' is no setting of this program",
                             "loop.txt(1): include 'pixwick.txt' is read already",
                             "pixwick.txt(5): include 'big.txt' is larger than 1 MB: not read",
                             "pixwick.txt(6): include 'nowhere.txt' not found"})
        EXPECT_NE(log_line_with("errors.txt", line), "") << line;
    EXPECT_EQ(count_occurrences(read_binary_file(log_path("errors.txt")), "pixwick.txt(") - before, 4);
    EXPECT_EQ(count_popups("Settings: 5 problems, see errors.txt", 21, 5000), 1);
    EXPECT_EQ(config_report_problems(&config), 1) << "unknown keys are found again; noted ones were written";
}

// A settings file of 1 MB with a key on every line keeps 500 keys and says so.
TEST_F(ConfigFiles, HugeFilesNeitherHangNorFillTheStore)
{
    std::string text;
    for (int n = 0; text.size() < 1000 * 1000; n++)
        text += "key" + std::to_string(n) + " 1\n";
    write("cwd\\pixwick.txt", text);
    const DWORD start = GetTickCount();
    ASSERT_GT(config_load_file(&config, "pixwick.txt", 1), 0);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(value("key499") + value("key500"), "1<missing>");
    EXPECT_NE(config.problems[0], std::string()) << "more than 500 settings";
}

// A settings file without any setting warns like a missing one, and is
// watched. Numbers read as their leading digits, negative ones as 0 where the
// key says so; names keep 31 characters; the not_edited reminder comes at
// start-up and after every reload.
TEST_F(ConfigFiles, InitFindsTheFoldersAndAppliesTheSettings)
{
    const char *warning = "Warning: Cannot open settings file 'pixwick.txt'";
    write("cwd\\pixwick.txt", "# nothing set yet\nanimate_start\n");
    config_init(&config);
    EXPECT_EQ(config.file_count, 1);
    EXPECT_EQ(count_popups(warning, 0, 5000), 1);
    EXPECT_EQ(g_general.animate_start, 1);

    popup_clear(&g_popups);
    write("cwd\\pixwick.txt", "animate_start 7\nlinger -5\nconfig_refresh 12abc\nuse_hid 0x10\nnot_edited 1\n"
                              "small_font_name " + std::string(40, 'F') + "\n");
    config_init(&config);
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    *(strrchr(exe, '\\') + 1) = 0;
    EXPECT_STREQ(config.exe_dir, exe);
    EXPECT_EQ(std::string(config.docs_dir), log_path(""));
    EXPECT_EQ(g_general.animate_start + count_popups(warning, 0, 5000), 7);
    EXPECT_EQ(g_general.linger + g_general.use_hid, 0);
    EXPECT_EQ(g_general.config_refresh, 12);
    EXPECT_EQ(std::string(g_general.small_font_name), std::string(31, 'F'));
    EXPECT_EQ(config_get_int(&config, "NOT_EDITED", 5) + config_get_int(&config, "absent", 5), 6);
    touch("cwd\\pixwick.txt", 10);
    EXPECT_EQ(config_check_reload(&config), 1);
    EXPECT_EQ(count_popups("Please edit the 'pixwick.txt' file!", 0, 5000), 2);
}

} // namespace
