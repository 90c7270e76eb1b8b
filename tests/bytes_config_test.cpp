// Settings text syntax and the key/value store's update rules.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string>
#include <utility>
#include <vector>

#include "config_parse.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Pairs;

int collect_pair(void *context, const char *key, const char *value)
{
    static_cast<Pairs *>(context)->emplace_back(key, value);
    return 1;
}

// The pairs the parser hands out, in order. text may hold zero bytes.
Pairs parse_pairs(const std::string &text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    Pairs pairs;
    int count = config_parse_text(buffer.data(), collect_pair, &pairs);
    EXPECT_EQ(count, (int)pairs.size());
    return pairs;
}

// A store fed by the parser, recording what each pair did.
struct Store {
    ConfigEntry *entries = nullptr;
    std::vector<std::string> events;
    ~Store() { config_free_entries(&entries); }
};

int store_pair(void *context, const char *key, const char *value)
{
    Store *store = static_cast<Store *>(context);
    switch (config_put(&store->entries, key, value)) {
    case CONFIG_PUT_NEW:
        store->events.push_back(std::string("new ") + key + "=" + value);
        return 1;
    case CONFIG_PUT_UPDATED:
        store->events.push_back(std::string("updated ") + config_find(store->entries, key)->key + "=" + value);
        return 1;
    case CONFIG_PUT_INCLUDE:
        store->events.push_back(std::string("include ") + value);
        return 0;
    case CONFIG_PUT_SAME:
    case CONFIG_PUT_NO_MEMORY:
        break;
    }
    return 0;
}

int parse_into(Store *store, const std::string &text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    return config_parse_text(buffer.data(), store_pair, store);
}

struct SyntaxCase {
    const char *name;
    std::string text;
    Pairs expected;
};

TEST(ConfigSyntax, LinesReadAsKeyAndValue)
{
    const SyntaxCase cases[] = {
        {"plain", "key value", {{"key", "value"}}},
        {"blanks around", "  key   value  ", {{"key", "value"}}},
        {"tabs and inner blanks", "\tkey\tvalue with  blanks\t", {{"key", "value with  blanks"}}},
        {"vertical tab and form feed are white space", "k\vv\f", {{"k", "v"}}},
        {"comment", "# slot_0 CPU", {}},
        {"indented comment", "   #slot_0 CPU", {}},
        {"hash inside value", "date_format ddd # day", {{"date_format", "ddd # day"}}},
        {"hash inside key", "a#b c", {{"a#b", "c"}}},
        {"key alone", "testwindow", {}},
        {"key with trailing blanks only", "testwindow   \t", {}},
        {"no equals sign syntax", "linger = 20", {{"linger", "= 20"}}},
        {"one pair per line", "a 1 b 2", {{"a", "1 b 2"}}},
        {"empty text", "", {}},
        {"empty lines only", "\r\n\r\n\n\r", {}},
        {"text ends at a zero byte", std::string("k v\0hidden x", 12), {{"k", "v"}}},
        {"high bytes are ordinary characters", "\x80\xff \xfe\x7f", {{"\x80\xff", "\xfe\x7f"}}},
        {"several lines with comments", "a 1\n# b 2\nc 3\n", {{"a", "1"}, {"c", "3"}}},
    };
    for (const SyntaxCase &c : cases)
        EXPECT_EQ(parse_pairs(c.text), c.expected) << c.name;
}

TEST(ConfigSyntax, AllLineEndsParseTheSame)
{
    const Pairs expected = {{"slot_0", "CPU NET"}, {"linger", "300"}, {"date_format", "ddd # day"}};
    const char *spellings[] = {
        "slot_0 CPU NET\r\nlinger 300\r\n# note\r\ndate_format ddd # day\r\n",
        "slot_0 CPU NET\nlinger 300\n# note\ndate_format ddd # day\n",
        "slot_0 CPU NET\rlinger 300\r# note\rdate_format ddd # day\r",
        "slot_0 CPU NET\nlinger 300\n# note\ndate_format ddd # day",
        "slot_0 CPU NET\r\n\r\n\n   linger 300  \r  # note\n\tdate_format ddd # day   ",
        "\n\nslot_0 CPU NET\n\r\nlinger 300\r\r# note\n\ndate_format ddd # day\r\n\r\n",
    };
    for (const char *text : spellings)
        EXPECT_EQ(parse_pairs(text), expected) << text;
}

// The store after a text, head first, as "key=value" joined by ';'.
std::string dump(const ConfigEntry *e)
{
    std::string text;
    for (; e; e = e->next)
        text += std::string(text.empty() ? "" : ";") + e->key + "=" + e->value;
    return text;
}

TEST(ConfigStore, UpdateRules)
{
    struct Case {
        const char *text;
        std::vector<std::string> events;
        const char *store;
    };
    const Case cases[] = {
        {"TestWindow 1\ntestwindow 0\n", {"new TestWindow=1", "updated TestWindow=0"}, "TestWindow=0"},
        {"date_format ddd\nDATE_FORMAT DDD\n", {"new date_format=ddd"}, "date_format=ddd"},
        {"include a.txt\nINCLUDE  b file.txt \nkey v\n", {"include a.txt", "include b file.txt", "new key=v"},
         "key=v"},
        {"first 1\nsecond 2\nFIRST 3\n", {"new first=1", "new second=2", "updated first=3"}, "second=2;first=3"},
    };
    for (const Case &c : cases) {
        Store store;
        int count = parse_into(&store, c.text);
        EXPECT_EQ(store.events, c.events) << c.text;
        EXPECT_EQ(dump(store.entries), c.store) << c.text;
        int changes = 0;
        for (const std::string &event : c.events)
            changes += event.compare(0, 8, "include ") != 0;
        EXPECT_EQ(count, changes) << c.text;
    }
}

TEST(ConfigStore, LookupIgnoresCase)
{
    Store store;
    parse_into(&store, "first 1\nsecond 2\n");
    ASSERT_NE(config_find(store.entries, "FIRST"), nullptr);
    EXPECT_STREQ(config_find(store.entries, "FIRST")->value, "1");
    EXPECT_EQ(config_find(store.entries, "third"), nullptr);
    EXPECT_EQ(config_find(store.entries, nullptr), nullptr);
    config_free_entries(&store.entries);
    EXPECT_EQ(store.entries, nullptr);
}

TEST(ConfigStore, CaseFoldingIsAsciiOnly)
{
    EXPECT_EQ(config_stricmp("Slot_0", "SLOT_0"), 0);
    EXPECT_LT(config_stricmp("a", "B"), 0);
    EXPECT_GT(config_stricmp("ab", "A"), 0);
    EXPECT_LT(config_stricmp("", "a"), 0);
    EXPECT_NE(config_stricmp("\xC4", "\xE4"), 0); // Ä and ä differ, as in the C locale
    EXPECT_EQ(config_stricmp("[@`{", "[@`{"), 0);
    EXPECT_NE(config_stricmp("@", "`"), 0); // neighbours of the letter ranges do not fold
}

// Every pair the parser hands out follows the syntax, whatever the input.
void expect_well_formed(const Pairs &pairs)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    for (const auto &pair : pairs) {
        ASSERT_FALSE(pair.first.empty());
        ASSERT_FALSE(pair.second.empty());
        ASSERT_NE(pair.first[0], '#');
        for (char c : pair.first)
            ASSERT_FALSE(blank(c));
        ASSERT_FALSE(blank(pair.second.front()));
        ASSERT_FALSE(blank(pair.second.back()));
        ASSERT_EQ(pair.second.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
    }
}

TEST(ConfigRobustness, BinaryGarbage)
{
    uint32_t seed = 12345;
    for (int round = 0; round < 8; round++) {
        std::string text(65536, ' ');
        for (char &c : text) {
            seed = seed * 1103515245u + 12345u;
            c = (char)(seed >> 16);
            if (c == 0)
                c = 1; // a zero byte would end the text early
        }
        Pairs pairs = parse_pairs(text);
        EXPECT_FALSE(pairs.empty());
        expect_well_formed(pairs);
        Store store;
        parse_into(&store, text);
    }
}

TEST(ConfigRobustness, MegabyteLine)
{
    std::string value(1 << 20, 'x');
    Pairs pairs = parse_pairs("key " + value + "\nnext 1");
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].second.size(), value.size());
    EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>{"next", "1"}));

    EXPECT_TRUE(parse_pairs(value).empty()); // a megabyte-long key alone
}

TEST(ConfigRobustness, TenThousandCrOnlyLines)
{
    std::string text;
    for (int i = 0; i < 10000; i++)
        text += "key_" + std::to_string(i) + " " + std::to_string(i) + "\r";
    Store store;
    EXPECT_EQ(parse_into(&store, text), 10000);
    ASSERT_NE(config_find(store.entries, "KEY_9999"), nullptr);
    EXPECT_STREQ(config_find(store.entries, "KEY_9999")->value, "9999");
    EXPECT_STREQ(config_find(store.entries, "key_0")->value, "0");
}

TEST(ConfigRobustness, LongRunsWithoutPairs)
{
    for (char c : {'\r', ' ', '#'})
        EXPECT_TRUE(parse_pairs(std::string(100000, c)).empty()) << (int)c;
}

} // namespace
