// system.txt and errors.txt in Documents\Pixwick\.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string.h>
#include <string>

#include "log_files.h"
#include "util.h"

namespace {

std::string blanked(std::string text)
{
    for (char &c : text)
        if ((signed char)c < 32)
            c = ' ';
    return text;
}

std::string system_text_of(DWORD code)
{
    char *text = nullptr;
    std::string result;
    if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, (LPSTR)&text, 0,
                       nullptr) &&
        text)
        result = text;
    if (text)
        LocalFree(text);
    return result;
}

std::string date_time_now()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
    return text;
}

// What follows "source(line) | " in the entry holding token.
std::string after_place(const std::string &line, const char *place)
{
    size_t at = line.find(place);
    return at == std::string::npos ? "<no place>" : line.substr(at + strlen(place));
}

TEST(LogSystem, AppendsTextExactlyAsFormatted)
{
    std::string token = unique_token("append");
    std::string tail = unique_token("tail");
    EXPECT_EQ(log_system("%s-%d|", token.c_str(), 42), 1);
    EXPECT_EQ(log_system("%s\x80\xff\t\n", tail.c_str()), 1); // bytes unchanged
    std::string text = read_binary_file(log_path("system.txt"));
    size_t first = text.find(token + "-42|");
    ASSERT_NE(first, std::string::npos);
    // No line end of its own: whatever was appended next follows on the same line.
    EXPECT_NE(text.compare(first + token.size() + 4, 2, "\r\n"), 0);
    EXPECT_NE(text.find(tail + "\x80\xff\t\r\n"), std::string::npos); // "\n" in text mode
}

TEST(LogSystem, NullFormatEmptiesTheFile)
{
    std::string token = unique_token("reset");
    ASSERT_EQ(log_system("%s\n", token.c_str()), 1);
    ASSERT_NE(log_line_with("system.txt", token), "");
    EXPECT_EQ(log_system(nullptr), 1);
    EXPECT_NE(GetFileAttributesA(log_path("system.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(log_line_with("system.txt", token), "");
}

TEST(LogSystem, NullFormatCreatesAMissingFolder)
{
    std::string folder = log_path("");
    folder.pop_back(); // no trailing backslash for MoveFile
    std::string saved = folder + "." + unique_token("saved");
    bool had_folder = GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (had_folder) {
        ASSERT_TRUE(MoveFileA(folder.c_str(), saved.c_str()));
    }

    EXPECT_EQ(log_system(nullptr), 1);
    std::string system_txt = log_path("system.txt");
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    EXPECT_TRUE(GetFileAttributesExA(system_txt.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 0u);

    if (had_folder) {
        DeleteFileA(system_txt.c_str());
        DeleteFileA(log_path("errors.txt").c_str());
        EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
        EXPECT_TRUE(MoveFileA(saved.c_str(), folder.c_str()));
    }
}

TEST(LogError, EntryWithoutCodeEndsAfterTheMessage)
{
    std::string token = unique_token("layout");
    std::string before = date_time_now();
    log_error("src/test", 123, 0, "%s message %d", token.c_str(), 7);
    std::string after = date_time_now();

    bool ended = false;
    std::string line = log_line_with("errors.txt", token, &ended);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match,
                                 std::regex("(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) \\| src/test\\(123\\) \\| (.*)")))
        << line;
    EXPECT_GE(match[1].str(), before);
    EXPECT_LE(match[1].str(), after);
    EXPECT_EQ(match[2].str(), token + " message 7");
    EXPECT_TRUE(ended);
}

TEST(LogError, CodeIsFollowedByItsBlankedSystemText)
{
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION};
    for (DWORD code : codes) {
        std::string text = system_text_of(code);
        ASSERT_NE(text, "") << code;
        std::string token = unique_token("code");
        log_error("src/util", 286, code, "%s", token.c_str());
        char hex[16];
        snprintf(hex, sizeof hex, "%08lx", code);
        EXPECT_EQ(after_place(log_line_with("errors.txt", token), "src/util(286) | "),
                  token + " | " + hex + "=" + blanked(text));
    }
}

TEST(LogError, CodeWithoutSystemTextEndsAfterTheDigits)
{
    const DWORD code = 0x2000ABCD; // customer bit: the system has no text for it
    ASSERT_EQ(system_text_of(code), "");
    std::string token = unique_token("notext");
    log_error("src/lcd", 9, code, "%s", token.c_str());
    EXPECT_EQ(after_place(log_line_with("errors.txt", token), "src/lcd(9) | "), token + " | 2000abcd");
}

TEST(LogError, ControlAndHighBytesBecomeBlanks)
{
    std::string token = unique_token("blank");
    log_error("src/test", 1, 0, "%s a\nb\rc\td\x01" "e\x1f\x80\xff\x7f end\n", token.c_str());
    bool ended = false;
    std::string line = log_line_with("errors.txt", token, &ended);
    EXPECT_EQ(after_place(line, "src/test(1) | "), token + " a b c d e   \x7f end ");
    EXPECT_TRUE(ended); // the message's own "\n" is a blank: one line end only
}

TEST(LogError, LongMessageIsCutAt1023Characters)
{
    std::string token = unique_token("long");
    std::string message = token + std::string(2000, 'x');
    log_error("src/test", 2, ERROR_FILE_NOT_FOUND, "%s", message.c_str());
    std::string rest = after_place(log_line_with("errors.txt", token), "src/test(2) | ");
    EXPECT_EQ(rest.substr(0, 1023), message.substr(0, 1023));
    EXPECT_EQ(rest.substr(1023, 12), " | 00000002=");
}

} // namespace
