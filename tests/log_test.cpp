// system.txt and errors.txt in Documents\Pixwick\.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>

#include "log_files.h"
#include "util.h"

namespace {

std::string system_text_of(DWORD code)
{
    char *text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, (LPSTR)&text, 0,
                   nullptr);
    std::string result = text ? text : "";
    LocalFree(text);
    for (char &c : result)
        if ((signed char)c < 32)
            c = ' ';
    return result;
}

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

    // The reset form empties the file, and creates the folder when it is missing.
    std::string folder = log_path("");
    folder.pop_back();
    const std::string saved = folder + "." + unique_token("saved");
    ASSERT_TRUE(MoveFileA(folder.c_str(), saved.c_str()));
    EXPECT_EQ(log_system(nullptr), 1);
    EXPECT_EQ(read_binary_file(log_path("system.txt")), "");
    DeleteFileA(log_path("system.txt").c_str()), DeleteFileA(log_path("errors.txt").c_str());
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
    ASSERT_TRUE(MoveFileA(saved.c_str(), folder.c_str()));
    EXPECT_EQ(log_system(nullptr), 1);
    EXPECT_EQ(log_line_with("system.txt", token), "");
}

TEST(LogError, EntryLayout)
{
    const std::string token = unique_token("layout"), before = date_time_now();
    log_error("src/test", 123, 0, "%s message %d", token.c_str(), 7);
    bool ended = false;
    const std::string line = log_line_with("errors.txt", token, &ended);
    std::smatch match;
    const std::regex layout("(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) \\| src/test\\(123\\) \\| (.*)");
    ASSERT_TRUE(std::regex_match(line, match, layout)) << line;
    EXPECT_TRUE(match[1].str() >= before && match[1].str() <= date_time_now()) << line;
    EXPECT_EQ(match[2].str(), token + " message 7"); // nothing after the message without a code
    EXPECT_TRUE(ended);
}

// Control and high bytes become blanks, the message is cut at 1023
// characters, and a code without system text ends the entry.
TEST(LogError, MessageAndCode)
{
    const std::string long_text(2000, 'x');
    const struct { DWORD code; std::string message, expected; } cases[] = {
        {0, " a\nb\rc\td\x01" "e\x1f\x80\xff\x7f end\n", " a b c d e   \x7f end "},
        {ERROR_FILE_NOT_FOUND, "", " | 00000002=" + system_text_of(ERROR_FILE_NOT_FOUND)},
        {0x2000ABCD, "", " | 2000abcd"}, // customer bit: no system text
        {ERROR_FILE_NOT_FOUND, long_text, "<cut>"},
    };
    ASSERT_NE(system_text_of(ERROR_FILE_NOT_FOUND), "");
    ASSERT_EQ(system_text_of(0x2000ABCD), "");
    for (int line = 0; line < 4; line++) {
        const auto &c = cases[line];
        const std::string token = unique_token("msg");
        log_error("src/test", line, c.code, "%s%s", token.c_str(), c.message.c_str());
        bool ended = false;
        const std::string entry = log_line_with("errors.txt", token, &ended);
        const std::string place = "src/test(" + std::to_string(line) + ") | ";
        const std::string rest = entry.substr(entry.find(place) + place.size());
        if (c.expected == "<cut>")
            EXPECT_EQ(rest.substr(0, 1023 + 12), (token + c.message).substr(0, 1023) + " | 00000002=");
        else
            EXPECT_EQ(rest, token + c.expected) << line;
        EXPECT_TRUE(ended) << line;
    }
}

} // namespace
