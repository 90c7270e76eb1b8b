// TeamSpeak 2 with the real worker thread against an in-process double of the
// library's exports (the real library, and the stand-in, are 32-bit only and
// cannot load into this 64-bit test). The clock is the test's: one period
// moves it by 100 ms and places next_tick_due so that the worker queries once.
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

// ---- The library double: answers from `records`, on the worker's thread ----

struct FakeLibrary {
    volatile LONG loads, unloads, load_fails, without_speakers, connected, hang, hanging, flag_requests, last_flags;
    HANDLE release; // set: a hanging call returns
    SRWLOCK lock;   // guards records
    Ts2Snapshot records;
};
FakeLibrary fake;

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }
volatile LONG window_shown;
HWND fake_window() { return window_shown ? GetDesktopWindow() : 0; }

int fake_copy(void *to, const void *from, size_t size)
{
    AcquireSRWLockShared(&fake.lock);
    memcpy(to, from, size);
    ReleaseSRWLockShared(&fake.lock);
    return 0;
}

int WINAPI fake_server_info(void *record)
{
    if (fake.hang) {
        InterlockedIncrement(&fake.hanging);
        WaitForSingleObject(fake.release, 20000);
        InterlockedDecrement(&fake.hanging);
    }
    return fake.connected ? fake_copy(record, fake.records.server, TS2_SERVER_RECORD_BYTES) : -1;
}
int WINAPI fake_user_info(void *record) { return fake_copy(record, fake.records.user, TS2_USER_RECORD_BYTES); }
int WINAPI fake_players(void *records, int *count)
{
    *count = fake.records.player_count < *count ? fake.records.player_count : *count;
    return fake_copy(records, fake.records.players, TS2_PLAYER_RECORD_BYTES * (size_t)*count);
}
int WINAPI fake_speakers(void *ids, int *count)
{
    *count = fake.records.speaker_count < *count ? fake.records.speaker_count : *count;
    return fake_copy(ids, fake.records.speakers, 4 * (size_t)*count);
}
int WINAPI fake_set_flags(int flags)
{
    InterlockedIncrement(&fake.flag_requests);
    fake.last_flags = flags;
    AcquireSRWLockExclusive(&fake.lock);
    memcpy(fake.records.user + TS2_PLAYER_FLAGS, &flags, 4);
    memcpy(fake.records.players[0] + TS2_PLAYER_FLAGS, &flags, 4); // the own player comes first
    ReleaseSRWLockExclusive(&fake.lock);
    return 0;
}
int fake_load(Ts2Library *library)
{
    InterlockedIncrement(&fake.loads);
    memset(library, 0, sizeof *library);
    if (fake.load_fails)
        return 0;
    library->get_server_info = fake_server_info, library->get_user_info = fake_user_info;
    library->get_players = fake_players, library->set_player_flags = fake_set_flags;
    library->get_speakers = fake.without_speakers ? nullptr : fake_speakers;
    return 1;
}
void fake_unload(Ts2Library *library)
{
    InterlockedIncrement(&fake.unloads);
    memset(library, 0, sizeof *library);
}

void put32(uint8_t *record, size_t at, int32_t value) { memcpy(record + at, &value, 4); }

void player(uint8_t *record, int32_t id, int32_t channel, const char *nick, uint32_t flags = 0)
{
    memset(record, 0, TS2_PLAYER_RECORD_BYTES);
    put32(record, TS2_PLAYER_ID, id), put32(record, TS2_PLAYER_CHANNEL, channel);
    put32(record, TS2_PLAYER_FLAGS, (int32_t)flags);
    strncpy((char *)record + TS2_PLAYER_NICK, nick, TS2_NAME_BYTES - 1);
}

// "Alpha" with 12 players, the user ("Me", id 1) in "Lobby" (id 5, 3 players),
// then the given players (id, channel, nick, flags) and speakers.
void session(std::vector<std::tuple<int, int, const char *, uint32_t>> players, std::vector<int32_t> speakers,
             uint32_t own_flags = 0, int server_players = 12)
{
    AcquireSRWLockExclusive(&fake.lock);
    Ts2Snapshot &r = fake.records;
    memset(&r, 0, sizeof r);
    strcpy((char *)r.server, "Alpha");
    put32(r.server, TS2_SERVER_PLAYERS, server_players);
    player(r.user, 1, 5, "Me", own_flags);
    put32(r.user, TS2_CHANNEL_ID, 5), put32(r.user, TS2_CHANNEL_PLAYERS, 3);
    strcpy((char *)r.user + TS2_CHANNEL_NAME, "Lobby");
    player(r.players[r.player_count++], 1, 5, "Me", own_flags);
    for (const auto &p : players)
        player(r.players[r.player_count++], std::get<0>(p), std::get<1>(p), std::get<2>(p), std::get<3>(p));
    for (int32_t id : speakers)
        r.speakers[r.speaker_count++] = id;
    ReleaseSRWLockExclusive(&fake.lock);
}

std::vector<std::string> popup_texts()
{
    std::vector<std::string> texts;
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
        HANDLE release = CreateEventA(0, TRUE, FALSE, 0);
        memset((void *)&fake, 0, sizeof fake);
        fake.release = release, fake.connected = 1;
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
    int press(int action)
    {
        g_slots[0].pending_action = action;
        int drew = ts2_render(&g_ts2, 0);
        EXPECT_EQ(g_slots[0].pending_action, 0);
        return drew;
    }
    void expect_panel(const char *golden)
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        EXPECT_EQ(ts2_render(&g_ts2, 0), 1);
        EXPECT_GOLDEN_AREA(golden, g_lcd.frame, 0, 22, SLOT_WIDTH, SLOT_HEIGHT);
    }
};

TEST_F(Ts2Test, ConnectedPageAnnouncementsTalkersMuteAndDisconnection)
{
    window_shown = 0;
    ts2_start(&g_ts2);
    EXPECT_EQ(ts2_render(&g_ts2, 0), 0) << "no TeamSpeak 2 window";
    window_shown = 1;
    ASSERT_TRUE(WAIT_UNTIL(g_ts2.library_ready, 10000));
    session({{2, 5, "Bob", 0}, {3, 5, "Carl%s", TS2_FLAG_AWAY}, {4, 6, "Dora", 0}}, {});
    ASSERT_TRUE(period());
    // a nonzero key replaces a queued notice: of the arrivals the last one stays
    EXPECT_EQ(popup_texts(), (std::vector<std::string>{"TS2: Server \"Alpha\"", "TS2: Channel \"Lobby\"",
                                                        "TS2: \"Dora\" connected"}));
    expect_panel("ts2_panel_idle");

    popup_clear(&g_popups);
    EXPECT_EQ(press(2), 1);
    EXPECT_EQ(popup_texts(), (std::vector<std::string>{"TS2: Channel \"Lobby\": Me, Bob, (Carl%s)"}));
    for (int i = 0; i < 3; i++) // within one worker cycle: one toggle
        EXPECT_EQ(press(1), 1);
    ASSERT_TRUE(WAIT_UNTIL(fake.flag_requests == 1, 5000));
    ASSERT_TRUE(period() && period());
    EXPECT_EQ(fake.flag_requests, 1);
    EXPECT_EQ(fake.last_flags, TS2_FLAG_INPUT_MUTED);
    expect_panel("ts2_panel_muted");

    session({{3, 5, "Carl%s", 0}, {4, 6, "Dora", 0}}, {1, 3});
    ASSERT_TRUE(period());
    EXPECT_EQ(popup_texts().back(), "TS2: \"Bob\" dropped");
    EXPECT_EQ(std::string(g_ticker.labels[0] ? g_ticker.labels[0] : ""), "Carl%s") << "never the user";
    EXPECT_EQ(g_ticker.labels[1], nullptr);
    EXPECT_EQ(g_ts2.self_talking, 1);

    popup_clear(&g_popups);
    fake.connected = 0;
    ASSERT_TRUE(period() && period());
    EXPECT_EQ(popup_texts(), (std::vector<std::string>{"TS2: Disconnected"}));
    fake.connected = 1;
    ASSERT_TRUE(period());
    EXPECT_EQ(popup_texts().size(), 4u) << "server, channel and an arrival again";
}

// The first load fails; a long press starts over, and the library then loaded
// is an old one without tsrGetSpeakers: the page works, nobody talks.
TEST_F(Ts2Test, NoLibraryShowsNoDllAndALongPressTriesAgain)
{
    fake.load_fails = 1;
    ts2_start(&g_ts2);
    ASSERT_TRUE(WAIT_UNTIL(g_ts2.library_missing, 10000));
    expect_panel("ts2_panel_no_dll");
    fake.load_fails = 0, fake.without_speakers = 1;
    EXPECT_EQ(press(2), 1);
    EXPECT_TRUE(!g_ts2.library_ready && !g_ts2.library_missing) << "WAIT until the next load";
    ASSERT_TRUE(WAIT_UNTIL(g_ts2.library_ready, 10000));
    EXPECT_EQ(fake.loads, 2);
    session({}, {1});
    ASSERT_TRUE(period());
    EXPECT_EQ(g_ts2.connection, TS2_CONNECTED);
    EXPECT_EQ(g_ts2.self_talking, 0);
}

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

    const std::string errors = read_binary_file(log_path("errors.txt"));
    const int restarts = count_occurrences(errors, "TS2 thread timeout -- restarting");
    fake_now += 60001;
    const DWORD begin = GetTickCount();
    ts2_poll(&g_ts2);
    EXPECT_LT(GetTickCount() - begin, 100u) << "the tick never waits for the old worker";
    EXPECT_EQ(count_occurrences(read_binary_file(log_path("errors.txt")), "TS2 thread timeout -- restarting"),
              restarts + 1);
    ASSERT_TRUE(WAIT_UNTIL(g_ts2.library_ready && fake.loads == 2, 10000)) << "a new worker loads its own table";

    fake.hang = 0; // the old worker returns from the library after its successor loaded
    SetEvent(fake.release);
    EXPECT_EQ(WaitForSingleObject(old_worker, 5000), WAIT_OBJECT_0);
    CloseHandle(old_worker);
    EXPECT_EQ(fake.unloads, 1) << "the old worker unloaded its own table only";
    EXPECT_EQ(g_ts2.library_ready, 1) << "and left the shared state alone";
    ASSERT_TRUE(period());
    EXPECT_EQ(g_ts2.connection, TS2_CONNECTED);
}

// Drawn from set states, no worker: waiting for the library, loaded but not
// connected, the user talking with one player in the channel (server count
// only), one player on the server (no counts).
TEST_F(Ts2Test, PageVariants)
{
    const struct {
        LONG ready, connection;
        int talking, server_players, channel_players;
    } pages[] = {{0, TS2_UNKNOWN, 0, 0, 0}, {1, TS2_NOT_CONNECTED, 0, 0, 0}, {1, TS2_CONNECTED, 1, 7, 1},
                 {1, TS2_CONNECTED, 0, 1, 5}};
    for (int i = 0; i < SLOT_COUNT; i++) {
        g_ts2.library_ready = pages[i].ready, g_ts2.library_missing = 0, g_ts2.connection = pages[i].connection;
        g_ts2.self_talking = pages[i].talking;
        g_ts2.shown.server_players = pages[i].server_players, g_ts2.shown.channel_players = pages[i].channel_players;
        EXPECT_EQ(ts2_render(&g_ts2, i), 1);
    }
    EXPECT_GOLDEN_AREA("ts2_pages", g_lcd.frame, 0, 22, LCD_WIDTH, 21);
    memset(&g_ts2.shown, 0, sizeof g_ts2.shown);
}

} // namespace
