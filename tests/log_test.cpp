// system.txt and errors.txt in Documents\Pixwick\.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

#include "app.h"
#include "log_files.h"
#include "util.h"

namespace {

std::string date_time_now()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

TEST(LogSystem, AppendsExactlyAsFormattedAndResets)
{
    const std::string token = unique_token("append");
    EXPECT_EQ(log_system("%s-%d|", token.c_str(), 42), 1); // no line end of its own
    EXPECT_EQ(log_system("\x80\xff\t\n"), 1);              // bytes unchanged, "\n" in text mode
    EXPECT_NE(read_binary_file(log_path("system.txt")).find(token + "-42|\x80\xff\t\r\n"), std::string::npos);

    // The reset form creates the folder when it is missing, and empties the file.
    std::string folder = log_path("");
    folder.pop_back();
    const std::string saved = folder + "." + unique_token("saved");
    ASSERT_TRUE(MoveFileA(folder.c_str(), saved.c_str()));
    EXPECT_EQ(log_system(nullptr), 1);
    EXPECT_NE(GetFileAttributesA(log_path("system.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(log_path("system.txt").c_str()), DeleteFileA(log_path("errors.txt").c_str());
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
    ASSERT_TRUE(MoveFileA(saved.c_str(), folder.c_str()));
    EXPECT_EQ(log_system(nullptr), 1);
    EXPECT_EQ(log_line_with("system.txt", token), "");
}

// Date, time, place and message; control and high bytes become blanks, the
// message is cut at 1023 characters, a code without system text ends the
// entry, and every entry ends with one line end.
TEST(LogError, EntryLayout)
{
    std::string file_not_found = system_message(ERROR_FILE_NOT_FOUND);
    for (char &c : file_not_found)
        c = (signed char)c < 32 ? ' ' : c;
    const struct {
        DWORD code;
        std::string message, written, suffix;
    } cases[] = {
        {0, " a\nb\rc\td\x01" "e\x1f\x80\xff\x7f end\n", " a b c d e   \x7f end ", ""},
        {ERROR_FILE_NOT_FOUND, std::string(2000, 'x'), std::string(2000, 'x'), " | 00000002=" + file_not_found},
        {0x2000ABCD, "", "", " | 2000abcd"}, // customer bit: no system text
    };
    log_forget_repeats();
    for (int line = 0; line < 3; line++) {
        const auto &c = cases[line];
        const std::string token = unique_token("msg"), before = date_time_now();
        log_error("src/test", line, c.code, "%s%s", token.c_str(), c.message.c_str());
        const std::string after = date_time_now();
        const std::string entry = log_line_with("errors.txt", token), stamp = entry.substr(0, 19);
        EXPECT_TRUE(before <= stamp && stamp <= after) << entry;
        EXPECT_EQ(entry.substr(std::min<size_t>(19, entry.size())),
                  " | src/test(" + std::to_string(line) + ") | " + (token + c.written).substr(0, 1023) + c.suffix);
        EXPECT_NE(read_binary_file(log_path("errors.txt")).find(entry + "\r\n"), std::string::npos) << line;
    }
}

// A refusal retried every two seconds for an hour writes two lines, the
// second with the count of those not written; another code is another failure.
TEST(LogError, RepeatedFailuresAreWrittenOnceAnHour)
{
    const AppClock saved = app_clock;
    static uint32_t now;
    app_clock = [] { return now; };
    log_forget_repeats();
    const std::string token = unique_token("again");
    for (now = 1000; now < 1000 + 3600 * 1000 + 2000; now += 2000)
        log_error("src/test", 7, ERROR_ACCESS_DENIED, "%s", token.c_str());
    log_error("src/test", 7, ERROR_SHARING_VIOLATION, "%s", token.c_str());
    app_clock = saved;
    const std::string text = read_binary_file(log_path("errors.txt"));
    EXPECT_EQ(count_occurrences(text, token), 3);
    EXPECT_NE(text.find(token + " | 00000005=" + system_message(5).substr(0, 6)), std::string::npos);
    EXPECT_NE(text.find(" | 1799 more times since it was last written"), std::string::npos);
}

// System texts with inserts ("%1 is not a valid Win32 application") are
// written, not dropped.
TEST(LogError, SystemTextWithAnInsert)
{
    const std::string token = unique_token("insert");
    log_error("src/test", 1, ERROR_BAD_EXE_FORMAT, "%s", token.c_str());
    const std::string entry = log_line_with("errors.txt", token);
    ASSERT_NE(entry.find(" | 000000c1="), std::string::npos) << entry;
    EXPECT_GT(entry.size(), entry.find(" | 000000c1=") + 14) << entry;
}

// A log past 1 MB starts afresh with its last 256 KB, from a whole line on.
TEST(LogFiles, BoundedInSize)
{
    const std::string path = log_path(unique_token("bounded").c_str());
    std::string text;
    for (int n = 0; text.size() <= 1024 * 1024; n++)
        text += "line " + std::to_string(n) + "\n";
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file && fwrite(text.data(), 1, text.size(), file) == text.size());
    fclose(file);
    log_file_bound(path.c_str());
    const std::string kept = read_binary_file(path);
    DeleteFileA(path.c_str());
    EXPECT_LE(kept.size(), 256u * 1024);
    EXPECT_GT(kept.size(), 255u * 1024);
    EXPECT_EQ(kept.compare(0, 5, "line "), 0);
    EXPECT_EQ(text.compare(text.size() - kept.size(), kept.size(), kept), 0) << "the end kept whole";
}

} // namespace
