// Settings text syntax and the key/value store's update rules.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string>
#include <utility>
#include <vector>

#include "config_parse.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Pairs;
std::vector<int> g_lines; // the line of each pair

// The pairs the parser hands out, in order. text may hold zero bytes.
Pairs parse_pairs(const std::string &text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    Pairs pairs;
    g_lines.clear();
    auto collect = [](void *context, const char *key, const char *value, int line) {
        static_cast<Pairs *>(context)->emplace_back(key, value);
        g_lines.push_back(line);
        return 1;
    };
    const int count = config_parse_text(buffer.data(), collect, &pairs);
    EXPECT_EQ(count, (int)pairs.size());
    return pairs;
}

TEST(ConfigSyntax, LinesReadAsKeyAndValue)
{
    const struct {
        std::string text;
        Pairs expected;
    } cases[] = {
        {"  key   value  ", {{"key", "value"}}},           {"\tkey\tvalue  blanks\t", {{"key", "value  blanks"}}},
        {"k\vv\f", {{"k", "v"}}},                          {"a#b c", {{"a#b", "c"}}},
        {"testwindow", {}},                                {"testwindow   \t", {}},
        {"linger = 20", {{"linger", "= 20"}}},             {"a 1 b 2", {{"a", "1 b 2"}}},
        {"\x80\xff \xfe\x7f", {{"\x80\xff", "\xfe\x7f"}}}, {std::string("k v\0hidden x", 12), {{"k", "v"}}},
        // lone CRs, blank lines, indentation and comments (CR LF and LF: the file tests)
        {"a 1\r# c\rb 2 # x\r", {{"a", "1"}, {"b", "2 # x"}}},
        {"\n\r\n  a 1  \r\r\n\t# c\n\n\tb 2 # x   \r\n\r\n", {{"a", "1"}, {"b", "2 # x"}}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse_pairs(c.text), c.expected) << c.text;
    // lines as an editor counts them, for the settings mistakes reported
    parse_pairs("a 1\r# c\rb 2 # x\r");
    EXPECT_EQ(g_lines, (std::vector<int>{1, 3}));
    parse_pairs("\n\r\n  a 1  \r\r\n\t# c\n\n\tb 2 # x   \r\n\r\n");
    EXPECT_EQ(g_lines, (std::vector<int>{3, 7}));
}

// Keys compare without regard to ASCII letter case; a value that differs
// only in letter case leaves the entry alone.
TEST(ConfigStore, LetterCase)
{
    ConfigEntry *entries = nullptr;
    EXPECT_EQ(config_put(&entries, "date_format", "ddd"), CONFIG_PUT_NEW);
    EXPECT_EQ(config_put(&entries, "DATE_FORMAT", "DDD"), CONFIG_PUT_SAME);
    EXPECT_STREQ(config_find(entries, "Date_Format")->value, "ddd");
    EXPECT_EQ(config_put(&entries, "\xC4", "1"), CONFIG_PUT_NEW);
    EXPECT_EQ(config_put(&entries, "\xE4", "2"), CONFIG_PUT_NEW) << "ASCII-only folding";
    EXPECT_EQ(config_find(entries, nullptr), nullptr);
    EXPECT_NE(config_stricmp("@", "`"), 0); // neighbours of the letter ranges do not fold
    config_free_entries(&entries);
}

// Whatever the input, every pair follows the syntax.
TEST(ConfigRobustness, GarbageAndHugeLines)
{
    const std::string blanks(" \t\r\n\v\f", 6);
    uint32_t seed = 12345;
    for (int round = 0; round < 8; round++) {
        std::string text(65536, ' ');
        for (char &c : text) {
            seed = seed * 1103515245u + 12345u;
            c = (char)((seed >> 16) % 255 + 1); // no zero byte, which would end the text
        }
        Pairs pairs = parse_pairs(text);
        EXPECT_FALSE(pairs.empty());
        for (const auto &p : pairs) {
            ASSERT_TRUE(!p.first.empty() && p.first[0] != '#' && p.first.find_first_of(blanks) == std::string::npos);
            ASSERT_TRUE(!p.second.empty() && blanks.find(p.second.front()) == std::string::npos &&
                        blanks.find(p.second.back()) == std::string::npos);
            ASSERT_EQ(p.second.find_first_of("\r\n"), std::string::npos);
        }
    }
    const std::string megabyte(1 << 20, 'x');
    EXPECT_EQ(parse_pairs("key " + megabyte + "\nnext 1"), (Pairs{{"key", megabyte}, {"next", "1"}}));
    EXPECT_TRUE(parse_pairs(megabyte).empty());
    for (char c : {'\r', ' ', '#'})
        EXPECT_TRUE(parse_pairs(std::string(100000, c)).empty()) << (int)c;
}

} // namespace
