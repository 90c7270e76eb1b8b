// Pop-up queue: posting, keyed updates, the hold/scroll/hold timing (fake
// clock, a given text width) and the band as drawn at its key moments.
#include <string>

#include "canvas_fixture.h"
#include "golden.h"
#include "popup.h"

namespace {

using namespace canvas_tests;

class PopupTest : public CanvasTest {
protected:
    PopupQueue queue = {};
    void TearDown() override
    {
        popup_clear(&queue);
        CanvasTest::TearDown();
    }
    // One main-loop tick at the clock's time for a head text of the given
    // width, without drawing.
    void tick(int width, uint32_t now = fake_now)
    {
        popup_begin_tick(&queue, fake_now = now);
        popup_end_tick(&queue, now, width);
    }
    // Offsets after each tick, 100 ms apart, until the head leaves (-1) or
    // max ticks have passed.
    std::vector<int> offsets(int width, int max = 1000)
    {
        std::vector<int> after;
        for (PopupMessage *head = queue.head; queue.head == head && (int)after.size() < max; fake_now += 100) {
            tick(width);
            after.push_back(queue.head == head ? queue.offset : -1);
        }
        return after;
    }
    // One tick of the main loop: popup_render on a dark frame.
    int render()
    {
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        const int drawn = popup_render(&queue);
        fake_now += 100;
        return drawn;
    }
};

TEST_F(PopupTest, PostingCountsKeepsOrderAndStopsAtSixty)
{
    EXPECT_EQ(1, popup(&queue, 0, 0, "one"));
    EXPECT_EQ(2, popup(&queue, 0, -5, "two %d", 2));
    EXPECT_EQ(3, popup(&queue, 7, 1, "short"));
    EXPECT_EQ(3, popup(&queue, 0, 1000, nullptr));
    std::string texts;
    for (PopupMessage *m = queue.head; m; m = m->next)
        texts += std::string(m->text) + "/" + std::to_string(m->duration) + " ";
    EXPECT_EQ("one/2000 two 2/2000 short/1 ", texts); // below 1 ms means 2000

    for (int i = 4; i <= 60; i++)
        ASSERT_EQ(i, popup(&queue, 0, 1000, "notice %d", i));
    EXPECT_EQ(60, popup(&queue, 0, 1000, "one more"));
    EXPECT_EQ(60, popup(&queue, 7, 5000, "changed")); // no update either
    EXPECT_STREQ("short", queue.head->next->next->text);
    EXPECT_EQ(1u, queue.head->next->next->duration);
}

TEST_F(PopupTest, KeyedRepostBehindTheHeadKeepsOnePlace)
{
    popup(&queue, 0, 1000, "Uptime");
    EXPECT_EQ(2, popup(&queue, 12, 1000, "Configuration updated"));
    EXPECT_EQ(2, popup(&queue, 12, 3000, "Configuration updated"));
    offsets(300, 70); // the head is in its last hold
    const PopupQueue before = queue;
    EXPECT_EQ(2, popup(&queue, 12, 500, "Configuration updated!"));
    const PopupMessage *keyed = queue.head->next;
    EXPECT_EQ(nullptr, keyed->next);
    EXPECT_STREQ("Configuration updated!", keyed->text);
    EXPECT_EQ(3000u, keyed->duration); // durations never shrink
    EXPECT_TRUE(before.phase_start == queue.phase_start && before.state == 3 && queue.state == 3 &&
                before.offset == queue.offset); // the head is left alone
}

TEST_F(PopupTest, KeyedRepostOfTheHead)
{
    // A changed text restarts the first hold at offset 0, from the unchanged start.
    popup(&queue, 3, 1000, "Talking: Alice");
    offsets(300, 15);
    ASSERT_EQ(8, queue.offset);
    const uint32_t phase_start = queue.phase_start;
    EXPECT_EQ(1, popup(&queue, 3, 1000, "Talking: Bob"));
    EXPECT_STREQ("Talking: Bob", queue.head->text);
    EXPECT_TRUE(queue.offset == 0 && queue.state == 1 && queue.phase_start == phase_start);

    // The same text in the last hold starts the last hold again.
    while (queue.state != 3)
        tick(100, fake_now + 100);
    const uint32_t renewed = fake_now += 900;
    EXPECT_EQ(1, popup(&queue, 3, 1000, "Talking: Bob"));
    tick(100, renewed + 999);
    EXPECT_NE(nullptr, queue.head);
    tick(100, renewed + 1000);
    EXPECT_EQ(nullptr, queue.head);
}

// A notice that fits stands at x = 0 for 10 ticks of first hold, 3 ticks of
// scroll phase and 10 ticks of last hold; then the next one follows. An empty
// queue draws nothing (the meters are drawn instead).
TEST_F(PopupTest, NarrowNoticeStandsInTheBandForTwiceItsDuration)
{
    EXPECT_EQ(0, popup_render(&queue));
    popup(&queue, 0, 1000, "Configuration updated");
    popup(&queue, 0, 1000, "second");
    for (int tick = 0; tick < 23; tick++) {
        ASSERT_EQ(1, render()) << tick;
        EXPECT_GOLDEN("popup_narrow", g_lcd.frame);
    }
    EXPECT_STREQ("second", queue.head->text);
}

// 300 pixels wide: holds at offset 0, scrolls 8 pixels every third tick until
// offset + 159 >= 300 (at 144, last column at x = 155), then runs on for one
// more duration; in a long last hold the second copy takes the first's place.
TEST_F(PopupTest, WideNoticeTiming)
{
    popup(&queue, 0, 2000, "wide");
    std::vector<int> after = offsets(300);
    ASSERT_EQ(97u, after.size());
    for (int k = 0; k < 96; k++)
        EXPECT_EQ(k < 22 ? 0 : k < 76 ? 8 * (1 + (k - 22) / 3) : 152 + 8 * ((k - 76) / 3), after[k]) << k;
    EXPECT_EQ(144, after[75]);
    EXPECT_EQ(-1, after[96]);
    EXPECT_EQ(fake_now - 100, queue.phase_start);

    popup_clear(&queue); // a fresh scroll step count
    popup(&queue, 0, 10000, "wide");
    after = offsets(300, 250); // last hold from tick 156; 296 + 8 - 80 - 300 = -76
    EXPECT_EQ((std::vector<int>{296, -76, -76, -76, -68}), std::vector<int>(after.begin() + 212, after.begin() + 217));
}

// A UTF-8 text wider than the screen: first hold at x = 0; its end in view at
// the first offset with offset + 159 >= width; its start following after an
// 80-pixel gap; and after the jump back, the same band 8 pixels further on.
TEST_F(PopupTest, WideNoticeBandAtKeyMoments)
{
    const char *text = u8"Now playing: Sigur R\u00f3s - Hopp\u00edpolla (Live at \u00c1sbyrgi, 2007)";
    const int width = lcd_text_utf8(&g_lcd, TXT_LARGE | TXT_MEASURE, 0, 0, text);
    popup(&queue, 0, 10000, "%s", text);
    auto render_when = [&](auto ready) {
        for (int tick = 0; tick < 1000 && !ready(); tick++)
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

// Cut at 511 bytes, never inside a UTF-8 character; '%' in an argument is text.
TEST_F(PopupTest, TextIsCutAt511BytesAndArgumentsAreNoFormats)
{
    const struct {
        size_t ascii;
        const char *tail;
        size_t kept;
    } cases[] = {{600, "", 511}, {509, "\xC3\xA9", 511}, {510, "\xC3\xA9", 510}, {508, "\xF0\x9F\x8E\xB5", 508}};
    for (const auto &c : cases) {
        popup_clear(&queue);
        std::string text = std::string(c.ascii, 'a') + c.tail + "zz";
        popup(&queue, 0, 1000, "%s", text.c_str());
        EXPECT_EQ(text.substr(0, c.kept), queue.head->text) << c.ascii << " + " << c.tail;
    }
    popup_clear(&queue);
    popup(&queue, 0, 1000, "CPU %s", "100% %d %s %n");
    EXPECT_STREQ("CPU 100% %d %s %n", queue.head->text);
}

// The millisecond counter wraps after 49.7 days: a phase begun before the wrap
// restarts at 0, and a hold near the top of the counter lasts its duration.
TEST_F(PopupTest, CounterWrap)
{
    popup(&queue, 0, 1000, "wrap");
    tick(100, 0xFFFFFF00u);
    tick(100, 999);
    EXPECT_TRUE(queue.phase_start == 0 && queue.state == 1);
    tick(100, 1000);
    EXPECT_EQ(2, queue.state);

    popup_clear(&queue);
    popup(&queue, 0, 2000, "late");
    tick(100, 0xFFFFFC00u); // phase_start + 2000 lies beyond 2^32
    tick(100, 0xFFFFFC00u + 1000);
    EXPECT_EQ(1, queue.state);
}

} // namespace
