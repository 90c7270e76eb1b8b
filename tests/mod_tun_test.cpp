// The iTunes page from a chosen shared record: pictures, the play-time
// clock between position reads, title announcements, and the event sink's
// counts. The worker's talk with a real COM server is the end-to-end tests'
// part.
#include <ocidl.h>

#include <string>

#include "canvas_fixture.h"
#include "config.h"
#include "lcd_thread.h"
#include "mod_tun.h"
#include "popup.h"
#include "slots.h"

using canvas_tests::CanvasTest;
using canvas_tests::fake_now;

namespace {

struct TunTest : CanvasTest {
    TunModule tun{};
    int saved_blink = blink;
    void SetUp() override
    {
        CanvasTest::SetUp();
        popup_clear(&g_popups);
        g_tun_mutex = CreateMutexA(0, FALSE, 0);
        memset(&g_tun_shared, 0, sizeof g_tun_shared);
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i), slot_parse_value(&g_slots[i], "TUN");
        tun_configure(&tun);
    }
    void TearDown() override
    {
        popup_clear(&g_popups);
        CloseHandle(g_tun_mutex);
        g_tun_mutex = 0;
        memset(&g_tun_shared, 0, sizeof g_tun_shared);
        blink = saved_blink;
        CanvasTest::TearDown();
    }
    // position read at `stamp`, now fake_now
    void playing(LONG position, LONG stamp, LONG duration, LONG bitrate, LONG is_playing, const char *title = "A - T")
    {
        snprintf(g_tun_shared.title, sizeof g_tun_shared.title, "%s", title);
        g_tun_shared.position = position, g_tun_shared.stamp = stamp, g_tun_shared.duration = duration;
        g_tun_shared.bitrate = bitrate, g_tun_shared.playing = is_playing, g_tun_shared.available = 1;
    }
    std::string head() { return g_popups.head ? g_popups.head->text : ""; }
};

// A 3:45 track playing for 15 s at 128k; a stream at 1:15 (paused, no bit
// rate); 1:02:05 left; 10:05 left with its blinking colon.
TEST_F(TunTest, PagesWithBothHalvesOfTheBlink)
{
    for (blink = 0; blink <= 1; blink++) {
        canvas_tests::clear_frame();
        fake_now = 100000;
        playing(0, 85000, 225, 128, 1);
        EXPECT_EQ(tun_render(&tun, 0), 1);
        playing(75, 0, 0, 0, 0);
        EXPECT_EQ(tun_render(&tun, 1), 1);
        playing(0, 0, 3725, 320, 0);
        EXPECT_EQ(tun_render(&tun, 2), 1);
        playing(0, 0, 36300, 96, 0);
        EXPECT_EQ(tun_render(&tun, 3), 1);
        EXPECT_GOLDEN_AREA(blink ? "tun_pages_blink_on" : "tun_pages_blink_off", g_lcd.frame, 0, 22, 160, 21);
    }
    g_tun_shared.available = 0;
    EXPECT_EQ(tun_render(&tun, 0), 0) << "no page without a connection";
}

TEST_F(TunTest, PlayTimeCountsBetweenPositionReads)
{
    const struct {
        LONG position, duration, is_playing;
        uint32_t now;
        int64_t shown;
    } cases[] = {
        {0, 225, 1, 15000, 210}, {0, 225, 1, 15999, 210}, {0, 225, 1, 16000, 209}, {15, 225, 0, 99000, 210},
        {15, 0, 1, 2000, 17},    {15, -1, 0, 2000, 15},   {230, 225, 0, 0, -5},
    };
    for (const auto &c : cases) {
        playing(c.position, 0, c.duration, 0, c.is_playing);
        EXPECT_EQ(tun_shown_seconds(&g_tun_shared, c.now), c.shown) << c.position << " " << c.now;
    }
    playing(10, 0xFFFFF000, 0, 0, 1);
    EXPECT_EQ(tun_shown_seconds(&g_tun_shared, 0x1000), 18) << "across the clock's wrap";
}

TEST_F(TunTest, TitleAnnouncedOncePerTrackAndOnPresses)
{
    playing(0, 0, 0, 0, 0, "");
    tun_poll(&tun);
    EXPECT_EQ(g_popups.head, nullptr) << "connected, track not read yet";
    playing(0, 0, 0, 0, 0, "Artist - First");
    tun_poll(&tun);
    tun_poll(&tun);
    EXPECT_EQ(head(), "Artist - First");
    popup_clear(&g_popups);
    g_tun_shared.available = 0; // reconnected to the same track
    tun_poll(&tun);
    g_tun_shared.available = 1;
    tun_poll(&tun);
    EXPECT_EQ(g_popups.head, nullptr);

    g_slots[2].pending_action = BUTTON_SHORT;
    tun_render(&tun, 2);
    EXPECT_EQ(head(), "Artist - First");
    EXPECT_EQ(g_slots[2].pending_action, 0);
    popup_clear(&g_popups);
    slot_parse_value(&g_slots[1], "TUN+");
    tun_configure(&tun);
    g_slots[2].pending_action = BUTTON_LONG;
    tun_render(&tun, 2);
    tun_render(&tun, 3);
    EXPECT_EQ(g_popups.head->duration, 120u) << "slot 2 holds the title now";
    EXPECT_EQ(tun.show_title[1] + tun.show_title[2] + tun.show_title[3], 2);
}

TEST_F(TunTest, SinkCountsEventsAndAnswersOnlyItsInterfaces)
{
    TunEventSink *sink = tun_sink_create();
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(sink->track_changes, 1) << "the first pass reads the track";
    DISPPARAMS none = {};
    for (DISPID id : {1, 2, 3, 4, 5, 8, 9, 10})
        EXPECT_EQ(sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, 0, 0, 0), S_OK);
    EXPECT_EQ(sink->events, 8);
    EXPECT_EQ(sink->track_changes, 4);
    EXPECT_EQ(sink->quit_requests, 2);

    const IID events = {0x5846EB78, 0x317E, 0x4B6F, {0xB0, 0xC3, 0x11, 0xEE, 0x8C, 0x8F, 0xEE, 0xF2}};
    void *out = nullptr;
    EXPECT_EQ(sink->QueryInterface(events, &out), S_OK);
    EXPECT_EQ(out, (void *)static_cast<IDispatch *>(sink));
    EXPECT_EQ(sink->QueryInterface(IID_IConnectionPoint, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(sink->Release(), 1u);
    EXPECT_EQ(sink->Release(), 0u);
}

TEST_F(TunTest, WorkerWithoutITunesEndsAtOnceWhenAsked)
{
    CloseHandle(g_tun_mutex);
    tun_start(&tun);
    ASSERT_NE(tun.thread, nullptr);
    HANDLE thread;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), tun.thread, GetCurrentProcess(), &thread, 0, 0, DUPLICATE_SAME_ACCESS));
    Sleep(300);
    EXPECT_EQ(g_tun_shared.available, 0);
    tun_stop(&tun, 1);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "ended by itself, within the wait";
    DWORD code = 1;
    EXPECT_TRUE(GetExitCodeThread(thread, &code) && code == 0) << "not terminated";
    CloseHandle(thread);
    g_tun_mutex = CreateMutexA(0, FALSE, 0);
}

} // namespace
