// TeamSpeak 2's worker against an in-process double of the 32-bit library.
// The clock is the test's; one period lets the worker query once.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>
#include <tuple>
#include <vector>

#include "app.h"
#include "golden.h"
#include "lcd.h"
#include "lcdmon_session.h" // WAIT_UNTIL
#include "log_files.h"
#include "mod_ts2.h"
#include "popup.h"
#include "slots.h"
#include "ticker.h"

namespace {

typedef std::vector<std::string> Texts;

// Called on the worker's thread; `records` change only while it is idle.

struct FakeLibrary {
    volatile LONG loads, unloads, load_fails, without_speakers, connected, hang, hanging, flag_requests, last_flags;
    HANDLE release; // set: a hanging call returns
    Ts2Snapshot records;
} fake;

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }
volatile LONG window_shown;
HWND fake_window() { return window_shown ? GetDesktopWindow() : 0; }

int WINAPI fake_server_info(void *record)
{
    return fake.connected ? (memcpy(record, fake.records.server, TS2_SERVER_RECORD_BYTES), 0) : -1;
}
int WINAPI fake_user_info(void *record) { return memcpy(record, fake.records.user, TS2_USER_RECORD_BYTES), 0; }
int WINAPI fake_players(void *records, int *count)
{
    if (fake.hang) {
        InterlockedIncrement(&fake.hanging);
        WaitForSingleObject(fake.release, 20000);
        InterlockedDecrement(&fake.hanging);
    }
    *count = std::min(*count, fake.records.player_count);
    return memcpy(records, fake.records.players, TS2_PLAYER_RECORD_BYTES * (size_t)*count), 0;
}
int WINAPI fake_speakers(void *ids, int *count)
{
    *count = std::min(*count, fake.records.speaker_count);
    return memcpy(ids, fake.records.speakers, 4 * (size_t)*count), 0;
}
int WINAPI fake_set_flags(int flags) // as the client does: the own player's flags change
{
    memcpy(fake.records.user + TS2_PLAYER_FLAGS, &flags, 4);
    memcpy(fake.records.players[0] + TS2_PLAYER_FLAGS, &flags, 4);
    fake.last_flags = flags;
    return InterlockedIncrement(&fake.flag_requests), 0;
}
int fake_load(Ts2Library *library)
{
    InterlockedIncrement(&fake.loads);
    *library = Ts2Library{};
    library->get_server_info = fake_server_info, library->get_user_info = fake_user_info;
    library->get_players = fake_players, library->set_player_flags = fake_set_flags;
    library->get_speakers = fake.without_speakers ? nullptr : fake_speakers;
    return !fake.load_fails;
}
void fake_unload(Ts2Library *library) { InterlockedIncrement(&fake.unloads), *library = Ts2Library{}; }

void player(uint8_t *record, int32_t id, int32_t channel, const char *nick, uint32_t flags)
{
    memcpy(record, &id, 4), memcpy(record + 4, &channel, 4), memcpy(record + 46, &flags, 4);
    strncpy((char *)record + TS2_PLAYER_NICK, nick, TS2_NAME_BYTES - 1);
}

// "Alpha" (12 players), "Me" (id 1) in "Lobby" (id 5, 3 players), then these.
void session(std::vector<std::tuple<int, int, const char *, uint32_t>> players, std::vector<int32_t> speakers,
             uint32_t own_flags = 0)
{
    Ts2Snapshot &r = fake.records;
    memset(&r, 0, sizeof r);
    const int32_t numbers[] = {12, 5, 3};
    strcpy((char *)r.server, "Alpha"), memcpy(r.server + TS2_SERVER_PLAYERS, &numbers[0], 4);
    player(r.user, 1, 5, "Me", own_flags), player(r.players[r.player_count++], 1, 5, "Me", own_flags);
    memcpy(r.user + TS2_CHANNEL_ID, &numbers[1], 4), memcpy(r.user + TS2_CHANNEL_PLAYERS, &numbers[2], 4);
    strcpy((char *)r.user + TS2_CHANNEL_NAME, "Lobby");
    for (const auto &p : players)
        player(r.players[r.player_count++], std::get<0>(p), std::get<1>(p), std::get<2>(p), std::get<3>(p));
    for (int32_t id : speakers)
        r.speakers[r.speaker_count++] = id;
}

Texts popup_texts()
{
    Texts texts;
    for (const PopupMessage *m = g_popups.head; m; m = m->next)
        texts.push_back(m->text);
    return texts;
}

struct Ts2Test : ::testing::Test {
    AppClock saved_clock = app_clock;
    uint32_t saved_due = next_tick_due;
    bool own_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;

    void SetUp() override
    {
        ASSERT_NE(g_lcd.frame, nullptr);
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        memset((void *)&fake, 0, sizeof fake);
        fake.release = CreateEventA(0, TRUE, FALSE, 0), fake.connected = 1;
        session({}, {});
        app_clock = fake_clock, fake_now = 500000, next_tick_due = fake_now;
        ts2_load = fake_load, ts2_unload = fake_unload, ts2_window = fake_window, window_shown = 1;
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i), slot_parse_value(&g_slots[i], "TS2");
        popup_clear(&g_popups);
        ticker_start(&g_ticker);
    }
    void TearDown() override
    {
        fake.hang = 0;
        SetEvent(fake.release);
        ts2_stop(&g_ts2, 1);
        CloseHandle(fake.release);
        app_clock = saved_clock, next_tick_due = saved_due;
        ts2_load = ts2_load_library, ts2_unload = ts2_unload_library, ts2_window = find_ts2_window;
        popup_clear(&g_popups);
        ticker_clear(&g_ticker);
        if (own_surface)
            lcd_destroy_surface(&g_lcd);
    }
    // One main-loop period: the worker's query, then the tick's poll.
    bool period()
    {
        fake_now += 100, next_tick_due = fake_now + 10;
        bool queried = WAIT_UNTIL((uint32_t)g_ts2.last_update == fake_now, 5000);
        ts2_poll(&g_ts2);
        return queried;
    }
    void press(int action)
    {
        g_slots[0].pending_action = action;
        EXPECT_EQ(ts2_render(&g_ts2, 0), 1);
        EXPECT_EQ(g_slots[0].pending_action, 0);
    }
    void expect_panel(const char *golden)
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        EXPECT_EQ(ts2_render(&g_ts2, 0), 1);
        EXPECT_GOLDEN_AREA(golden, g_lcd.frame, 0, 22, SLOT_WIDTH, SLOT_HEIGHT);
    }
};

// The first load fails; a long press starts over.
TEST_F(Ts2Test, NoDllThenTheConnectedPageAnnouncementsTalkersMuteAndDisconnection)
{
    window_shown = 0, fake.load_fails = 1;
    ts2_start(&g_ts2);
    EXPECT_EQ(ts2_render(&g_ts2, 0), 0) << "no TeamSpeak 2 window";
    window_shown = 1;
    ASSERT_TRUE(WAIT_UNTIL(g_ts2.library_missing, 10000));
    expect_panel("ts2_panel_no_dll");
    fake.load_fails = 0;
    press(2);
    EXPECT_TRUE(!g_ts2.library_ready && !g_ts2.library_missing) << "WAIT until the next load";
    ASSERT_TRUE(WAIT_UNTIL(g_ts2.library_ready, 10000));
    session({{2, 5, "Bob", 0}, {3, 5, "Carl%s", TS2_FLAG_AWAY}, {4, 6, "D\xF6ra", 0}}, {});
    ASSERT_TRUE(period());
    // a nonzero key replaces a queued notice: of the arrivals the last one stays
    // names in the system code page reach the pop-ups (and the ticker) as UTF-8
    const std::string dora = GetACP() == 1252 ? "D\xC3\xB6ra" : popup_texts().back().substr(6, 5);
    EXPECT_EQ(popup_texts(), (Texts{"TS2: Server \"Alpha\"", "TS2: Channel \"Lobby\"", "TS2: \"" + dora + "\" connected"}));
    expect_panel("ts2_panel_idle");

    for (int i = 0; i < 3; i++) // within one worker cycle: one toggle
        press(1);
    ASSERT_TRUE(WAIT_UNTIL(fake.flag_requests == 1, 5000));
    ASSERT_TRUE(period() && period());
    EXPECT_TRUE(fake.flag_requests == 1 && fake.last_flags == TS2_FLAG_INPUT_MUTED);
    expect_panel("ts2_panel_muted");

    session({{3, 5, "Carl%s", 0}, {4, 6, "D\xF6ra", 0}}, {1, 3});
    ASSERT_TRUE(period());
    EXPECT_EQ(popup_texts().back(), "TS2: \"Bob\" dropped");
    EXPECT_TRUE(g_ticker.labels[0] && !g_ticker.labels[1] && g_ts2.self_talking) << "never the user in the ticker";

    popup_clear(&g_popups);
    fake.connected = 0;
    ASSERT_TRUE(period() && period());
    EXPECT_EQ(popup_texts(), Texts{"TS2: Disconnected"});
    fake.connected = 1, fake.hang = 1; // back, and the worker inside the library before it publishes
    fake_now += 100, next_tick_due = fake_now + 10;
    ASSERT_TRUE(WAIT_UNTIL(fake.hanging == 1, 5000));
    ts2_poll(&g_ts2);
    EXPECT_EQ(g_ts2.connection, TS2_NOT_CONNECTED) << "connected only together with the new data";
    fake.hang = 0, SetEvent(fake.release);
    ASSERT_TRUE(period());
    EXPECT_EQ(popup_texts().size(), 4u) << "server, channel and an arrival again";
}

// The new worker loads an old library without tsrGetSpeakers.
TEST_F(Ts2Test, AWorkerHungInTheLibraryIsReplacedWithoutWaiting)
{
    ts2_start(&g_ts2);
    ASSERT_TRUE(WAIT_UNTIL(g_ts2.library_ready, 10000));
    ASSERT_TRUE(period());
    HANDLE old_worker = 0;
    DuplicateHandle(GetCurrentProcess(), g_ts2.worker_thread, GetCurrentProcess(), &old_worker, SYNCHRONIZE, FALSE, 0);
    fake.hang = 1;
    fake_now += 100, next_tick_due = fake_now + 10;
    ASSERT_TRUE(WAIT_UNTIL(fake.hanging == 1, 5000));

    auto restarts = []() { return count_occurrences(read_binary_file(log_path("errors.txt")), "TS2 thread timeout"); };
    const int before = restarts();
    fake_now += 60001, fake.without_speakers = 1;
    const DWORD begin = GetTickCount();
    ts2_poll(&g_ts2);
    EXPECT_LT(GetTickCount() - begin, 500u) << "the tick never waits for the old worker (blocked for 20 s)";
    EXPECT_EQ(restarts(), before + 1);
    ASSERT_TRUE(WAIT_UNTIL(g_ts2.library_ready && fake.loads == 2, 10000)) << "a new worker loads its own table";

    fake.hang = 0; // the old worker returns from the library after its successor loaded
    SetEvent(fake.release);
    EXPECT_EQ(WaitForSingleObject(old_worker, 5000), WAIT_OBJECT_0);
    CloseHandle(old_worker);
    EXPECT_EQ(fake.unloads, 1) << "the old worker unloaded its own table only";
    EXPECT_EQ(g_ts2.library_ready, 1) << "and left the shared state alone";
    session({}, {1});
    ASSERT_TRUE(period());
    EXPECT_TRUE(g_ts2.connection == TS2_CONNECTED && !g_ts2.self_talking);
}

// WAIT; not connected; talking, one player in the channel (server count
// only); one player on the server (no counts); then a count too wide for the
// panel, not drawn: slot 3 stays the same.
TEST_F(Ts2Test, PageVariants)
{
    const int pages[][5] = {{0, TS2_UNKNOWN, 0, 0, 0}, {1, TS2_NOT_CONNECTED, 0, 0, 0}, {1, TS2_CONNECTED, 1, 7, 1},
                            {1, TS2_CONNECTED, 0, 1, 5}, {1, TS2_CONNECTED, 0, 2000000000, 5}};
    std::vector<uint8_t> drawn;
    for (int i = 0; i < 5; i++) {
        if (i == SLOT_COUNT) {
            EXPECT_GOLDEN_AREA("ts2_pages", g_lcd.frame, 0, 22, LCD_WIDTH, 21);
            drawn.assign(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES);
        }
        g_ts2.window_seen = 1, g_ts2.library_ready = pages[i][0], g_ts2.library_missing = 0;
        g_ts2.connection = pages[i][1];
        g_ts2.self_talking = pages[i][2], g_ts2.shown.server_players = pages[i][3];
        g_ts2.shown.channel_players = pages[i][4];
        EXPECT_EQ(ts2_render(&g_ts2, std::min(i, SLOT_COUNT - 1)), 1);
    }
    EXPECT_TRUE(drawn == std::vector<uint8_t>(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES));
}

} // namespace
