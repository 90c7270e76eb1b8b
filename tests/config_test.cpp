// Settings files on disk: search order, include, the file limit, reload on
// last-write time, and the general settings read from the store.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "config.h"
#include "lcd.h"
#include "log_files.h"
#include "popup.h"

namespace {

int count_popups(const char *text, uint32_t key, uint32_t duration)
{
    int n = 0;
    for (const PopupMessage *m = g_popups.head; m; m = m->next)
        if (strcmp(m->text, text) == 0 && m->key == key && m->duration == duration)
            n++;
    return n;
}

// A private folder tree per test: cwd\ (made the current folder), exe\ and
// docs\ (the store's exe_dir and docs_dir).
class ConfigFiles : public ::testing::Test {
protected:
    std::string root;
    char saved_cwd[MAX_PATH] = "";
    Config config = {};

    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        root = std::string(temp) + unique_token("pixwick_config") + "\\";
        ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
        for (const char *sub : {"cwd", "exe", "docs"})
            ASSERT_TRUE(CreateDirectoryA((root + sub).c_str(), nullptr));
        GetCurrentDirectoryA(sizeof saved_cwd, saved_cwd);
        ASSERT_TRUE(SetCurrentDirectoryA((root + "cwd").c_str()));
        snprintf(config.exe_dir, sizeof config.exe_dir, "%sexe\\", root.c_str());
        snprintf(config.docs_dir, sizeof config.docs_dir, "%sdocs\\", root.c_str());
        config_clear(&config);
        popup_clear(&g_popups);
    }

    void TearDown() override
    {
        config_clear(&config);
        popup_clear(&g_popups);
        SetCurrentDirectoryA(saved_cwd);
        for (const char *sub : {"cwd\\", "exe\\", "docs\\"}) {
            std::string folder = root + sub;
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((folder + "*.txt").c_str(), &found);
            if (search != INVALID_HANDLE_VALUE) {
                do
                    DeleteFileA((folder + found.cFileName).c_str());
                while (FindNextFileA(search, &found));
                FindClose(search);
            }
            RemoveDirectoryA(folder.c_str());
        }
        RemoveDirectoryA(root.c_str());
    }

    std::string path(const char *relative) { return root + relative; }

    void write(const char *relative, const std::string &text)
    {
        FILE *file = fopen(path(relative).c_str(), "wb");
        ASSERT_NE(file, nullptr) << relative;
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }

    // Moves the file's last-write time by seconds (negative: backwards).
    void shift_write_time(const char *relative, int seconds)
    {
        HANDLE file = CreateFileA(path(relative).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << relative;
        shift_handle_write_time(file, seconds);
        CloseHandle(file);
    }

    static void shift_handle_write_time(HANDLE file, int seconds)
    {
        FILETIME time;
        ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &time));
        ULARGE_INTEGER t;
        t.LowPart = time.dwLowDateTime;
        t.HighPart = time.dwHighDateTime;
        t.QuadPart += (LONGLONG)seconds * 10000000;
        time.dwLowDateTime = t.LowPart;
        time.dwHighDateTime = t.HighPart;
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    }

    std::string value(const char *key)
    {
        const char *v = config_get(&config, key);
        return v ? v : "<missing>";
    }
};

TEST_F(ConfigFiles, SearchesCurrentFolderThenExeThenDocuments)
{
    write("docs\\pixwick.txt", "where docs");
    EXPECT_EQ(config_load_file(&config, "pixwick.txt", 1), 1);
    EXPECT_EQ(value("where"), "docs");
    EXPECT_EQ(std::string(config.file_paths[0]), path("docs\\pixwick.txt"));

    write("exe\\pixwick.txt", "where exe");
    config_clear(&config);
    EXPECT_EQ(config_load_file(&config, "pixwick.txt", 1), 1);
    EXPECT_EQ(value("where"), "exe");

    write("cwd\\pixwick.txt", "where cwd");
    config_clear(&config);
    EXPECT_EQ(config_load_file(&config, "pixwick.txt", 1), 1);
    EXPECT_EQ(value("where"), "cwd");
    EXPECT_STREQ(config.file_paths[0], "pixwick.txt");
    EXPECT_EQ(config.file_count, 1);
}

TEST_F(ConfigFiles, IncludedLinesAreReadAtTheIncludeLine)
{
    write("cwd\\pixwick.txt", "a 1\ninclude extra.txt\nb 1\n");
    write("docs\\extra.txt", "a 2\r\nb 2\r\nc 2"); // found by the search, not next to the includer
    EXPECT_EQ(config_load_file(&config, "pixwick.txt", 1), 5);
    EXPECT_EQ(value("a"), "2");
    EXPECT_EQ(value("b"), "1");
    EXPECT_EQ(value("c"), "2");
    EXPECT_EQ(value("include"), "<missing>");
    ASSERT_EQ(config.file_count, 2);
    EXPECT_STREQ(config.file_paths[0], "pixwick.txt");
    EXPECT_EQ(std::string(config.file_paths[1]), path("docs\\extra.txt"));
}

TEST_F(ConfigFiles, IncludeLoopReadsEachFileOnce)
{
    write("cwd\\pixwick.txt", "include b.txt\nx 1\n");
    write("cwd\\b.txt", "include PIXWICK.TXT\ninclude pixwick.txt\ninclude b.txt\ny 2\n");
    EXPECT_EQ(config_load_file(&config, "pixwick.txt", 1), 2);
    EXPECT_EQ(config.file_count, 2);
    EXPECT_EQ(value("x"), "1");
    EXPECT_EQ(value("y"), "2");
}

TEST_F(ConfigFiles, FifthFileIsRefusedAndLoggedOnlyWhenReporting)
{
    write("cwd\\pixwick.txt", "include f1.txt\ninclude f2.txt\ninclude f3.txt\ninclude f4.txt\nmain 1\n");
    for (const char *name : {"f1", "f2", "f3", "f4"})
        write((std::string("docs\\") + name + ".txt").c_str(), std::string("key_") + name + " 1\n");
    std::string refused = path("docs\\f4.txt");
    std::string message = "Too many configuration files used; can't load '" + refused + "' ";

    EXPECT_EQ(config_load_file(&config, "pixwick.txt", 1), 4);
    EXPECT_EQ(config.file_count, CONFIG_MAX_FILES);
    EXPECT_EQ(value("key_f3"), "1");
    EXPECT_EQ(value("key_f4"), "<missing>");
    EXPECT_EQ(value("main"), "1");
    EXPECT_EQ(log_line_with("errors.txt", message), ""); // an include is dropped silently

    EXPECT_EQ(config_load_file(&config, "f4.txt", 1), 0);
    std::string line = log_line_with("errors.txt", message);
    EXPECT_NE(line.find(" | src/config("), std::string::npos) << line;
    EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(ConfigFiles, MissingFileIsLoggedOnlyWhenReporting)
{
    std::string quiet = unique_token("quiet") + ".txt";
    std::string loud = unique_token("loud") + ".txt";
    EXPECT_EQ(config_load_file(&config, quiet.c_str(), 0), 0);
    EXPECT_EQ(config_load_file(&config, loud.c_str(), 1), 0);
    EXPECT_EQ(log_line_with("errors.txt", quiet), "");
    std::string line = log_line_with("errors.txt", "Can't find the configuration file '" + loud + "' ");
    EXPECT_NE(line.find(" | 00000002="), std::string::npos) << line;
    EXPECT_EQ(config.file_count, 0);
}

TEST_F(ConfigFiles, WriteTimeChangeEitherWayRebuildsTheStore)
{
    write("cwd\\pixwick.txt", "linger 100\nanimate_start 5\nsmall_font_name Courier New\ninclude extra.txt\n");
    write("docs\\extra.txt", "extra_key 1\n");
    ASSERT_EQ(config_load_file(&config, "pixwick.txt", 1), 4);
    config_apply_general(&config);
    EXPECT_EQ(g_general.animate_start, 5);
    EXPECT_EQ(config_check_reload(&config), 0);

    shift_write_time("docs\\extra.txt", 10); // touched, contents unchanged
    g_lcd.small_font = nullptr;
    EXPECT_EQ(config_check_reload(&config), 1);
    EXPECT_EQ(g_general.animate_start, 0); // never restarts the slide-in
    EXPECT_EQ(g_general.linger, 100);
    EXPECT_EQ(value("extra_key"), "1");
    EXPECT_EQ(count_popups("Configuration updated", 12, 1000), 1);
    EXPECT_NE(g_lcd.small_font, nullptr);
    EXPECT_EQ(config_check_reload(&config), 0); // the new time is recorded

    shift_write_time("cwd\\pixwick.txt", -3600); // restored from a backup
    shift_write_time("docs\\extra.txt", -3600);
    EXPECT_EQ(config_check_reload(&config), 2);

    write("cwd\\pixwick.txt", "include extra.txt\n"); // linger deleted
    shift_write_time("cwd\\pixwick.txt", 5);
    EXPECT_EQ(config_check_reload(&config), 1);
    EXPECT_EQ(g_general.linger, 500);
    EXPECT_STREQ(g_general.small_font_name, "Lucida Console");
}

TEST_F(ConfigFiles, DeletedOrLockedFileIsSkipped)
{
    write("cwd\\pixwick.txt", "a 1\ninclude extra.txt\n");
    write("cwd\\extra.txt", "b 2\n");
    ASSERT_EQ(config_load_file(&config, "pixwick.txt", 1), 2);

    ASSERT_TRUE(DeleteFileA(path("cwd\\extra.txt").c_str()));
    EXPECT_EQ(config_check_reload(&config), 0);
    EXPECT_EQ(value("b"), "2");

    HANDLE locked = CreateFileA(path("cwd\\pixwick.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    shift_handle_write_time(locked, 60);
    EXPECT_EQ(config_check_reload(&config), 0);
    EXPECT_EQ(value("a"), "1");
    CloseHandle(locked);

    EXPECT_EQ(config_check_reload(&config), 1); // noticed once the lock is gone
    EXPECT_EQ(value("a"), "1");
    EXPECT_EQ(value("b"), "<missing>");
}

TEST_F(ConfigFiles, SettingsFileGoneAtReloadLeavesDefaults)
{
    write("cwd\\pixwick.txt", "linger 100\nconfig_refresh 3\ninclude extra.txt\n");
    write("docs\\extra.txt", "use_hid 2\n");
    ASSERT_EQ(config_load_file(&config, "pixwick.txt", 1), 3);
    config_apply_general(&config);
    ASSERT_EQ(g_general.use_hid, 2);

    std::string message = "Can't find the configuration file 'pixwick.txt' ";
    int logged = count_occurrences(read_binary_file(log_path("errors.txt")), message);
    ASSERT_TRUE(DeleteFileA(path("cwd\\pixwick.txt").c_str()));
    shift_write_time("docs\\extra.txt", 1);
    EXPECT_EQ(config_check_reload(&config), 1);
    EXPECT_EQ(config.entries, nullptr);
    EXPECT_EQ(config.file_count, 0);
    EXPECT_EQ(g_general.linger, 500);
    EXPECT_EQ(g_general.config_refresh, 10);
    EXPECT_EQ(g_general.use_hid, 0);
    EXPECT_GT(count_occurrences(read_binary_file(log_path("errors.txt")), message), logged);
    EXPECT_EQ(config_check_reload(&config), 0); // nothing watched any more
}

TEST_F(ConfigFiles, InitFindsFoldersAndAppliesTheSettings)
{
    write("cwd\\pixwick.txt", "animate_start 7\n");
    config_init(&config);

    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    *(strrchr(exe, '\\') + 1) = 0;
    EXPECT_STREQ(config.exe_dir, exe);
    EXPECT_EQ(std::string(config.docs_dir), log_path(""));
    EXPECT_NE(GetFileAttributesA(config.docs_dir), INVALID_FILE_ATTRIBUTES);
    EXPECT_STREQ(config.file_paths[0], "pixwick.txt");
    EXPECT_EQ(g_general.animate_start, 7);
    EXPECT_EQ(count_popups("Warning: Cannot open settings file 'pixwick.txt'", 0, 5000), 0);
}

TEST_F(ConfigFiles, InitWarnsWhenTheSettingsFileHoldsNoSetting)
{
    write("cwd\\pixwick.txt", "# nothing set yet\nanimate_start\n");
    config_init(&config);
    EXPECT_EQ(config.file_count, 1);
    EXPECT_EQ(count_popups("Warning: Cannot open settings file 'pixwick.txt'", 0, 5000), 1);
    EXPECT_EQ(g_general.animate_start, 1);
}

TEST_F(ConfigFiles, InitWarnsWhenNoSettingsFileExists)
{
    config_init(&config);
    if (config.file_count)
        GTEST_SKIP() << "a pixwick.txt exists in " << config.file_paths[0];
    EXPECT_EQ(count_popups("Warning: Cannot open settings file 'pixwick.txt'", 0, 5000), 1);
    EXPECT_EQ(g_general.config_refresh, 10);
}

// ---- General settings read from the store ----

class GeneralSettingsTest : public ::testing::Test {
protected:
    Config config = {};
    void SetUp() override
    {
        config_clear(&config);
        popup_clear(&g_popups);
    }
    void TearDown() override
    {
        config_clear(&config);
        popup_clear(&g_popups);
    }
    void set(const char *key, const char *value) { config_put(&config.entries, key, value); }
};

TEST_F(GeneralSettingsTest, NumbersAreConverted)
{
    struct Case {
        const char *key;
        const char *value;
        int GeneralSettings::*field;
        int expected;
    };
    const Case cases[] = {
        {"testwindow", "-1", &GeneralSettings::testwindow, -1},
        {"testwindow", "2", &GeneralSettings::testwindow, 2},
        {"use_hid", "3", &GeneralSettings::use_hid, 3},
        {"use_hid", "-1", &GeneralSettings::use_hid, -1},
        {"linger", "-5", &GeneralSettings::linger, 0},
        {"linger", "5000", &GeneralSettings::linger, 5000},
        {"linger", "4294967295", &GeneralSettings::linger, 0},
        {"config_refresh", "-3", &GeneralSettings::config_refresh, 0},
        {"config_refresh", "0", &GeneralSettings::config_refresh, 0},
        {"config_refresh", "0x10", &GeneralSettings::config_refresh, 0},
        {"config_refresh", "12abc", &GeneralSettings::config_refresh, 12},
        {"animate_start", "46", &GeneralSettings::animate_start, 46},
        {"animate_start", "letters", &GeneralSettings::animate_start, 0},
        {"small_font_size", "-10", &GeneralSettings::small_font_size, -10},
        {"LARGE_FONT_SIZE", "14", &GeneralSettings::large_font_size, 14},
        {"lcdmon_starting", "1", &GeneralSettings::lcdmon_starting, 1},
    };
    for (const Case &c : cases) {
        config_clear(&config);
        set(c.key, c.value);
        config_apply_general(&config);
        EXPECT_EQ(g_general.*c.field, c.expected) << c.key << " " << c.value;
    }
}

TEST_F(GeneralSettingsTest, MissingKeysKeepDefaults)
{
    set("unrelated", "1");
    config_apply_general(&config);
    EXPECT_EQ(g_general.animate_start, 1);
    EXPECT_STREQ(g_general.small_font_name, "Lucida Console");
    EXPECT_EQ(g_general.small_font_size, -8);
    EXPECT_STREQ(g_general.large_font_name, "Microsoft Sans Serif");
    EXPECT_EQ(g_general.large_font_size, -11);
    EXPECT_EQ(g_general.config_refresh, 10);
    EXPECT_EQ(g_general.linger, 500);
    EXPECT_EQ(g_general.testwindow, 0);
    EXPECT_EQ(g_general.lcdmon_starting, 0);
    EXPECT_EQ(g_general.use_hid, 0);
}

TEST_F(GeneralSettingsTest, FontNamesAreCutTo31Characters)
{
    std::string long_name(40, 'F');
    set("small_font_name", long_name.c_str());
    set("large_font_name", "Courier New");
    config_apply_general(&config);
    EXPECT_EQ(std::string(g_general.small_font_name), long_name.substr(0, 31));
    EXPECT_STREQ(g_general.large_font_name, "Courier New");
}

TEST_F(GeneralSettingsTest, NotEditedPopsUpEveryTimeTheSettingsAreApplied)
{
    const char *text = "Please edit the 'pixwick.txt' file!";
    set("not_edited", "0");
    config_apply_general(&config);
    EXPECT_EQ(count_popups(text, 0, 5000), 0);

    set("not_edited", "1");
    config_apply_general(&config);
    config_apply_general(&config);
    EXPECT_EQ(count_popups(text, 0, 5000), 2);
}

TEST_F(GeneralSettingsTest, GetAndGetIntReadLikeStrtol)
{
    set("hex", "0x10");
    set("suffix", "12abc");
    set("negative", "-7");
    EXPECT_EQ(config_get_int(&config, "HEX", 5), 0);
    EXPECT_EQ(config_get_int(&config, "suffix", 5), 12);
    EXPECT_EQ(config_get_int(&config, "negative", 5), -7);
    EXPECT_EQ(config_get_int(&config, "absent", 5), 5);
    EXPECT_STREQ(config_get(&config, "Suffix"), "12abc");
    EXPECT_EQ(config_get(&config, nullptr), nullptr);
}

} // namespace
