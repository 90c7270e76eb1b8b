// TeamSpeak 3 against a block of this test's own: the page variants, and the
// announcements that the end-to-end session does not reach.
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

typedef std::vector<std::string> Texts;

Texts popup_texts()
{
    Texts texts;
    for (const PopupMessage *m = g_popups.head; m; m = m->next)
        texts.push_back(m->text);
    return texts;
}

struct Ts3Test : ::testing::Test {
    std::string name = unique_token("Local\\Ts3Block");
    const char *saved_name = ts3_block_name;
    int saved_second = second_tick;
    bool own_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, TS3_BLOCK_BYTES, name.c_str());
    uint8_t *block = (uint8_t *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);

    void SetUp() override
    {
        ASSERT_TRUE(g_lcd.frame && block);
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        ts3_block_name = name.c_str();
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i), slot_parse_value(&g_slots[i], "TS3");
        popup_clear(&g_popups);
        ticker_start(&g_ticker);
        ts3_start(&g_ts3);
        put(TS3_SIZE_FIELD, TS3_BLOCK_BYTES, 2);
    }
    void TearDown() override
    {
        ts3_stop(&g_ts3);
        UnmapViewOfFile(block);
        CloseHandle(mapping);
        ts3_block_name = saved_name, second_tick = saved_second;
        popup_clear(&g_popups);
        ticker_clear(&g_ticker);
        if (own_surface)
            lcd_destroy_surface(&g_lcd);
    }
    void put(size_t at, uint64_t value, int width)
    {
        for (int i = 0; i < width; i++)
            block[at + (size_t)i] = (uint8_t)(value >> (8 * i));
    }
    void text(size_t at, const char *value, size_t field) { strncpy((char *)block + at, value, field); }
    // Connected to "Alpha" / "Lobby" as user 7, with these members (id, name).
    void connect(std::vector<std::pair<uint16_t, std::string>> members, int server_users = 12, int channel_users = 3)
    {
        put(TS3_CONNECTION, 77, 8), put(TS3_OWN_ID, 7, 2);
        put(TS3_SERVER_USERS, (uint64_t)server_users, 2), put(TS3_CHANNEL_USERS, (uint64_t)channel_users, 2);
        text(TS3_SERVER_NAME, "Alpha", 32), text(TS3_CHANNEL_NAME, "Lobby", 48);
        memset(block + TS3_MEMBER_LIST, 0, TS3_MEMBER_LIST_BYTES);
        size_t at = TS3_MEMBER_LIST;
        for (const auto &m : members) {
            put(at, m.first, 2), put(at + 3, m.second.size() + 1, 1);
            memcpy(block + at + 4, m.second.c_str(), m.second.size() + 1);
            at += 4 + m.second.size() + 1;
        }
    }
    void speaker(int i, uint16_t id, const char *label)
    {
        put(TS3_SPEAKER_KEYS + 8 * (size_t)i, 1000u + id, 8), put(TS3_SPEAKER_IDS + 2 * (size_t)i, id, 2);
        text(TS3_SPEAKER_TEXTS + 64 * (size_t)i, label, 64);
    }
    void tick(int second = 0) { second_tick = second, ts3_poll(&g_ts3); }
};

// Idle with both counts; muted, one user on the server: no counts; talking,
// one user in the channel: server count only; not connected.
TEST_F(Ts3Test, PageVariants)
{
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
    connect({{7, "Me"}, {21, "Alice"}});
    tick(1);
    popup_clear(&g_popups);
    connect({{7, "Me"}, {21, "Alice"}, {23, "Carol%s"}, {8, "Me too"}});
    put(TS3_OWN_ID, 8, 2);               // a new member with the own id is not announced
    text(TS3_CHANNEL_NAME, "LOBBY", 48); // only the case changed
    speaker(0, 21, "Alice"), speaker(5, 23, "Carol");
    tick();
    EXPECT_EQ(popup_texts(), Texts{"TS3: \"Carol%s\" connected"});
    EXPECT_STREQ(g_ticker.labels[1], "Carol") << "every announced entry";

    put(TS3_CONNECTION, 0, 8);
    tick(), tick();
    EXPECT_EQ(popup_texts(), (Texts{"TS3: \"Carol%s\" connected", "TS3: Disconnected"}));
    popup_clear(&g_popups);
    connect({{7, "Me"}, {21, "Alice"}}); // back on a tick that is not a second tick
    tick();
    EXPECT_EQ(popup_texts(), (Texts{"TS3: Server \"Alpha\"", "TS3: Channel \"Lobby\""})) << "members already there";
}

} // namespace
