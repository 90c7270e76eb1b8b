// TeamSpeak 3: the block written here as the plug-in would, under a name of
// this test's own; announcements, ticker labels, the request bytes and the
// page variants as a golden picture.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "app.h"
#include "golden.h"
#include "lcd.h"
#include "log_files.h"
#include "mod_ts3.h"
#include "popup.h"
#include "slots.h"
#include "ticker.h"

namespace {

std::vector<std::string> popup_texts()
{
    std::vector<std::string> texts;
    for (const PopupMessage *m = g_popups.head; m; m = m->next)
        texts.push_back(m->text);
    return texts;
}

std::vector<std::string> ticker_labels()
{
    std::vector<std::string> labels;
    for (const char *label : g_ticker.labels)
        if (label)
            labels.push_back(label);
    return labels;
}

struct Ts3Test : ::testing::Test {
    std::string name = unique_token("Local\\Ts3Block");
    const char *saved_name = ts3_block_name;
    int saved_second = second_tick;
    bool own_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;
    HANDLE mapping = 0;
    uint8_t *block = 0;

    void SetUp() override
    {
        ASSERT_NE(g_lcd.frame, nullptr);
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        ts3_block_name = name.c_str();
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i), slot_parse_value(&g_slots[i], "TS3");
        popup_clear(&g_popups);
        ticker_start(&g_ticker);
        ts3_start(&g_ts3);
    }
    void TearDown() override
    {
        ts3_stop(&g_ts3);
        close_block();
        ts3_block_name = saved_name, second_tick = saved_second;
        popup_clear(&g_popups);
        ticker_clear(&g_ticker);
        if (own_surface)
            lcd_destroy_surface(&g_lcd);
    }
    void create_block()
    {
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, TS3_BLOCK_BYTES, name.c_str());
        ASSERT_NE(mapping, nullptr);
        block = (uint8_t *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
        ASSERT_NE(block, nullptr);
        put(TS3_SIZE_FIELD, TS3_BLOCK_BYTES, 2);
    }
    void close_block()
    {
        if (block)
            UnmapViewOfFile(block);
        if (mapping)
            CloseHandle(mapping);
        block = 0, mapping = 0;
    }
    void put(size_t at, uint64_t value, int width)
    {
        for (int i = 0; i < width; i++)
            block[at + (size_t)i] = (uint8_t)(value >> (8 * i));
    }
    void text(size_t at, const char *value, size_t field) { strncpy((char *)block + at, value, field); }
    // Connected to "Alpha" / "Lobby", members and counts as given.
    void connect(std::vector<std::pair<uint16_t, std::string>> members, int server_users = 12, int channel_users = 3)
    {
        put(TS3_CONNECTION, 77, 8), put(TS3_OWN_ID, 7, 2);
        put(TS3_SERVER_USERS, (uint64_t)server_users, 2), put(TS3_CHANNEL_USERS, (uint64_t)channel_users, 2);
        text(TS3_SERVER_NAME, "Alpha", 32), text(TS3_CHANNEL_NAME, "Lobby", 48);
        memset(block + TS3_MEMBER_LIST, 0, TS3_MEMBER_LIST_BYTES);
        size_t at = TS3_MEMBER_LIST;
        for (const auto &m : members) { // "(Name)": marked
            const bool marked = m.second[0] == '(';
            const std::string n = marked ? m.second.substr(1, m.second.size() - 2) : m.second;
            put(at, m.first, 2), put(at + 2, marked, 1), put(at + 3, n.size() + 1, 1);
            memcpy(block + at + 4, n.c_str(), n.size() + 1);
            at += 4 + n.size() + 1;
        }
    }
    void speaker(int i, uint16_t id, const char *label, uint32_t suppress = 0)
    {
        put(TS3_SPEAKER_KEYS + 8 * (size_t)i, id ? 1000u + id : 0, 8), put(TS3_SPEAKER_IDS + 2 * (size_t)i, id, 2);
        put(TS3_SPEAKER_SUPPRESS + 4 * (size_t)i, suppress, 4);
        text(TS3_SPEAKER_TEXTS + 64 * (size_t)i, label, 64);
    }
    void tick(int second = 0) { second_tick = second, ts3_poll(&g_ts3); }
    int press(int action)
    {
        g_slots[0].pending_action = action;
        int drew = ts3_render(&g_ts3, 0);
        EXPECT_EQ(g_slots[0].pending_action, drew ? 0 : action);
        return drew;
    }
};

// Idle with both counts; muted with one user on the server (no counts even
// with five in the channel); talking with one user in the channel (server
// count only); not connected (frame and icon only).
TEST_F(Ts3Test, PageVariants)
{
    create_block();
    const struct {
        int server_users, channel_users, muted, talking, connected;
    } pages[] = {{12, 3, 0, 0, 1}, {1, 5, 1, 0, 1}, {7, 1, 0, 1, 1}, {0, 0, 0, 0, 0}};
    for (int i = 0; i < SLOT_COUNT; i++) {
        connect({}, pages[i].server_users, pages[i].channel_users);
        put(TS3_MUTED, (uint64_t)pages[i].muted, 1), put(TS3_TALKING, (uint64_t)pages[i].talking, 2);
        put(TS3_CONNECTION, (uint64_t)pages[i].connected, 8);
        tick(1);
        EXPECT_EQ(ts3_render(&g_ts3, i), 1);
    }
    EXPECT_GOLDEN_AREA("ts3_pages", g_lcd.frame, 0, 22, LCD_WIDTH, 21);
}

TEST_F(Ts3Test, AnnouncementsAndTalkers)
{
    tick(1);
    EXPECT_EQ(press(1), 0) << "no block: no page, the press stays for the slot";
    create_block();
    connect({{7, "Me"}, {21, "Alice"}, {22, "(Bob)"}});
    tick(1);
    tick();
    EXPECT_EQ(popup_texts(), (std::vector<std::string>{"TS3: Server \"Alpha\"", "TS3: Channel \"Lobby\""}))
        << "members already there are not announced";

    popup_clear(&g_popups);
    connect({{7, "Me"}, {21, "Alice"}, {22, "(Bob)"}, {23, "Carol%s"}});
    text(TS3_CHANNEL_NAME, "LOBBY", 48); // only the case changed
    speaker(0, 21, "Alice"), speaker(1, 22, "Bob", 1), speaker(5, 23, "Carol");
    tick();
    EXPECT_EQ(popup_texts(), (std::vector<std::string>{"TS3: \"Carol%s\" connected"}));
    EXPECT_EQ(ticker_labels(), (std::vector<std::string>{"Alice", "Carol"})) << "Bob's entry is suppressed";

    popup_clear(&g_popups);
    connect({{7, "Me"}, {8, "Me too"}}); // Alice, Bob and Carol leave: nothing is said
    put(TS3_OWN_ID, 8, 2);               // a new member with the own id is not announced either
    tick();
    EXPECT_TRUE(popup_texts().empty());

    put(TS3_CONNECTION, 0, 8);
    tick(), tick();
    EXPECT_EQ(popup_texts(), (std::vector<std::string>{"TS3: Disconnected"}));
    popup_clear(&g_popups);
    connect({{7, "Me"}, {21, "Alice"}}); // back on a tick that is not a second tick
    tick();
    EXPECT_EQ(popup_texts(), (std::vector<std::string>{"TS3: Server \"Alpha\"", "TS3: Channel \"Lobby\""}));
}

TEST_F(Ts3Test, PressesWriteRequestsAndListMembers)
{
    create_block();
    connect({{7, "Me"}, {21, "Alice%d"}, {22, "(Bob)"}});
    tick(1);
    popup_clear(&g_popups);
    EXPECT_EQ(press(1), 1);
    EXPECT_TRUE(block[TS3_MUTE_REQUEST] == 1 && block[TS3_UNMUTE_REQUEST] == 0);
    block[TS3_MUTE_REQUEST] = 0, block[TS3_MUTED] = 1; // the plug-in takes it
    tick();
    EXPECT_EQ(press(1), 1);
    EXPECT_TRUE(block[TS3_MUTE_REQUEST] == 0 && block[TS3_UNMUTE_REQUEST] == 1);
    EXPECT_EQ(press(2), 1);
    EXPECT_EQ(popup_texts(), (std::vector<std::string>{"TS3: Channel \"Lobby\": Me, Alice%d, (Bob)"}));
}

TEST_F(Ts3Test, WrongSizeIsReportedOnceAndAGoneBlockTakesThePageAway)
{
    create_block();
    put(TS3_SIZE_FIELD, 1777, 2);
    tick(1);
    EXPECT_EQ(ts3_render(&g_ts3, 0), 0);
    EXPECT_EQ(ts3_render(&g_ts3, 1), 0);
    EXPECT_EQ(popup_texts(), (std::vector<std::string>{"TS3: Incompatible version"}));
    put(TS3_SIZE_FIELD, TS3_BLOCK_BYTES, 2);
    tick();
    EXPECT_EQ(ts3_render(&g_ts3, 0), 1);
    close_block();
    tick();
    EXPECT_EQ(ts3_render(&g_ts3, 0), 1) << "the view stays open until the next second";
    tick(1);
    EXPECT_EQ(ts3_render(&g_ts3, 0), 0);
}

} // namespace
