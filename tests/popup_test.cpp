// Pop-up queue: posting, keyed updates, the hold/scroll/hold timing on a fake
// clock, and the band as drawn at its key moments.
#include <limits.h>

#include <string>

#include "canvas_fixture.h"
#include "popup.h"

namespace {

using namespace canvas_tests;

class PopupTest : public CanvasTest {
protected:
    static constexpr int GONE = INT_MIN;
    PopupQueue queue = {};
    void TearDown() override { popup_clear(&queue); CanvasTest::TearDown(); }
    // One tick for a head text of the given width, without drawing, then 100
    // ms on: the offset after it, GONE once the head has left.
    int tick(int width)
    {
        const PopupMessage *head = queue.head;
        popup_begin_tick(&queue, fake_now);
        popup_end_tick(&queue, fake_now, width);
        fake_now += 100;
        return queue.head == head ? queue.offset : GONE;
    }
    // One tick through popup_render on a dark frame.
    int render()
    {
        clear_frame();
        const int drawn = popup_render(&queue);
        fake_now += 100;
        return drawn;
    }
    std::string queued() const // "text/duration ..."
    {
        std::string texts;
        for (const PopupMessage *m = queue.head; m; m = m->next)
            texts += std::string(m->text) + "/" + std::to_string(m->duration) + " ";
        return texts;
    }
};

// Durations below 1 ms mean 2000. A keyed notice behind the head takes a new
// text in its place, its duration only grows, and the head in its last hold is
// left alone. A full queue of 60 takes nothing, updates included.
TEST_F(PopupTest, PostingAndKeyedUpdates)
{
    EXPECT_EQ(1, popup(&queue, 0, 0, "Uptime"));
    EXPECT_EQ(2, popup(&queue, 12, -5, "Configuration %s", "updated"));
    EXPECT_EQ(3, popup(&queue, 7, 1, "short"));
    EXPECT_EQ(3, popup(&queue, 0, 1000, nullptr));
    EXPECT_EQ(3, popup(&queue, 12, 3000, "Configuration updated"));
    for (int k = 0; k < 80; k++)
        tick(300);
    const PopupQueue before = queue;
    EXPECT_EQ(3, popup(&queue, 12, 500, "Configuration updated!"));
    EXPECT_TRUE(before.phase_start == queue.phase_start && before.state == 3 && queue.state == 3 &&
                before.offset == queue.offset);
    EXPECT_EQ("Uptime/2000 Configuration updated!/3000 short/1 ", queued());
    for (int i = 4; i <= 60; i++)
        ASSERT_EQ(i, popup(&queue, 0, 1000, "notice %d", i));
    EXPECT_EQ(60, popup(&queue, 0, 1000, "one more"));
    EXPECT_EQ(60, popup(&queue, 7, 5000, "changed"));
    EXPECT_EQ(0u, queued().find("Uptime/2000 Configuration updated!/3000 short/1 notice 4/1000 "));
}

// Under the key of the notice shown, a changed text restarts the first hold at
// offset 0 from the unchanged start; the same text restarts the last hold.
TEST_F(PopupTest, KeyedRepostOfTheHead)
{
    popup(&queue, 3, 1000, "Talking: Alice");
    for (int k = 0; k < 15; k++)
        tick(300);
    ASSERT_EQ(8, queue.offset);
    const uint32_t phase_start = queue.phase_start;
    EXPECT_EQ(1, popup(&queue, 3, 1000, "Talking: Bob"));
    EXPECT_EQ("Talking: Bob/1000 ", queued());
    EXPECT_TRUE(queue.offset == 0 && queue.state == 1 && queue.phase_start == phase_start);
    while (queue.state != 3)
        tick(100);
    fake_now += 900;
    EXPECT_EQ(1, popup(&queue, 3, 1000, "Talking: Bob"));
    for (int k = 0; k < 10; k++)
        EXPECT_NE(GONE, tick(100)) << k;
    EXPECT_EQ(GONE, tick(100));
}

// 300 pixels wide: 20 ticks of first hold and 2 of scroll phase at offset 0,
// then 8 pixels every third tick up to 144 (offset + 159 >= 300, last column
// at x = 155), and 20 ticks of last hold running on.
TEST_F(PopupTest, WideNoticeTiming)
{
    popup(&queue, 0, 2000, "wide");
    int k = 0;
    for (int offset; (offset = tick(300)) != GONE; k++)
        EXPECT_EQ(k < 22 ? 0 : k < 76 ? 8 * (1 + (k - 22) / 3) : 152 + 8 * ((k - 76) / 3), offset) << k;
    EXPECT_EQ(96, k);
}

// An empty queue draws nothing (the meters are drawn instead). A notice that
// fits stands at x = 0 for 23 ticks (first hold, scroll phase, last hold).
TEST_F(PopupTest, NarrowNoticeStandsStill)
{
    EXPECT_EQ(0, popup_render(&queue));
    popup(&queue, 0, 1000, "Configuration updated");
    popup(&queue, 0, 1000, "second");
    for (int k = 0; k < 23; k++) {
        ASSERT_EQ(1, render()) << k;
        EXPECT_GOLDEN("popup_narrow", g_lcd.frame);
    }
    EXPECT_EQ("second/1000 ", queued());
}

// A UTF-8 text wider than the screen: first hold at x = 0; its end in view at
// the first offset where offset + 159 >= width; its start following after an
// 80-pixel gap; after the jump back, the same band 8 pixels further on.
TEST_F(PopupTest, WideNoticeAtKeyMoments)
{
    const char *text = u8"Now playing: Sigur R\u00f3s - Hopp\u00edpolla (Live at \u00c1sbyrgi, 2007)";
    const int width = lcd_text_utf8(&g_lcd, TXT_LARGE | TXT_MEASURE, 0, 0, text);
    popup(&queue, 0, 10000, "%s", text);
    auto render_when = [&](auto ready) {
        for (int k = 0; k < 1000 && !ready(); k++)
            render();
        render();
    };
    render();
    EXPECT_GOLDEN("popup_wide_first_hold", g_lcd.frame);
    render_when([&] { return queue.offset + 159 >= width; });
    EXPECT_GOLDEN("popup_wide_end_in_view", g_lcd.frame);
    render_when([&] { return width - queue.offset < 40; });
    EXPECT_GOLDEN("popup_wide_gap", g_lcd.frame);
    render_when([&] { return queue.offset < 0; });
    EXPECT_GOLDEN("popup_wide_after_jump", g_lcd.frame);
}

// Cut at 511 bytes, never inside a UTF-8 character.
TEST_F(PopupTest, TextIsCutAt511Bytes)
{
    const struct { size_t ascii; const char *tail; size_t kept; } cases[] = {
        {600, "", 511}, {509, "\xC3\xA9", 511}, {510, "\xC3\xA9", 510}, {508, "\xF0\x9F\x8E\xB5", 508}};
    for (const auto &c : cases) {
        popup_clear(&queue);
        const std::string text = std::string(c.ascii, 'a') + c.tail + "zz";
        popup(&queue, 0, 1000, "%s", text.c_str());
        EXPECT_EQ(text.substr(0, c.kept), queue.head->text) << c.ascii << " + " << c.tail;
    }
}

// Across the wrap of the 32-bit millisecond counter a hold lasts exactly its
// duration: begun at 2^32 - 256, a hold of 1000 ms ends at 744.
TEST_F(PopupTest, CounterWrap)
{
    popup(&queue, 0, 1000, "wrap");
    fake_now = 0xFFFFFF00u;
    tick(100);
    fake_now = 743;
    tick(100);
    EXPECT_EQ(1, queue.state);
    fake_now = 744;
    tick(100);
    EXPECT_EQ(2, queue.state);

    popup_clear(&queue);
    popup(&queue, 0, 2000, "late");
    fake_now = 0xFFFFFC00u;
    for (int k = 0; k < 11; k++)
        tick(100);
    EXPECT_EQ(1, queue.state);
}

} // namespace
