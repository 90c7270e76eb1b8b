// Pop-up queue: posting, keyed updates, the hold/scroll/hold timing (driven
// with a fake clock and, where the exact width matters, a given width) and the
// drawing into a real surface.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app.h"
#include "lcd.h"
#include "popup.h"

namespace {

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }

const int TICK_MS = 100;

class PopupTest : public ::testing::Test {
protected:
    PopupQueue queue = {};
    AppClock saved_clock = 0;
    bool created_surface = false;

    void SetUp() override
    {
        saved_clock = app_clock;
        app_clock = fake_clock;
        fake_now = 1000;
        if (!g_lcd.frame) {
            ASSERT_EQ(1, lcd_create_surface(&g_lcd));
            created_surface = true;
        }
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    }

    void TearDown() override
    {
        popup_clear(&queue);
        app_clock = saved_clock;
        if (created_surface)
            lcd_destroy_surface(&g_lcd);
    }

    int count() const
    {
        int n = 0;
        for (PopupMessage *m = queue.head; m; m = m->next)
            n++;
        return n;
    }

    // One main-loop tick with a text of the given width, without drawing.
    void tick(int width)
    {
        ASSERT_NE(nullptr, queue.head);
        popup_begin_tick(&queue, fake_now);
        popup_end_tick(&queue, fake_now, width);
    }
};

std::vector<uint8_t> frame_copy() { return std::vector<uint8_t>(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES); }

// The frame that drawing `text` in the large font at each x gives on a dark frame.
std::vector<uint8_t> reference_frame(const char *text, std::vector<int> xs)
{
    std::vector<uint8_t> saved = frame_copy();
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    for (int x : xs)
        lcd_text_utf8(&g_lcd, TXT_LARGE, x, 8, text);
    std::vector<uint8_t> result = frame_copy();
    memcpy(g_lcd.frame, saved.data(), LCD_FRAME_BYTES);
    return result;
}

int large_width(const char *text) { return lcd_text_utf8(&g_lcd, TXT_LARGE | TXT_MEASURE, 0, 0, text); }

// A text at least `min_width` pixels wide in the large font.
std::string wide_text(int min_width)
{
    std::string text = "Now playing: ";
    while (large_width(text.c_str()) < min_width)
        text += "Wide Track Title ";
    return text;
}

TEST_F(PopupTest, DurationBelowOneMeans2000)
{
    struct Case {
        int given;
        uint32_t stored;
    } cases[] = {{0, 2000}, {-5, 2000}, {INT_MIN, 2000}, {1, 1}, {2500, 2500}};
    for (const Case &c : cases) {
        popup_clear(&queue);
        EXPECT_EQ(1, popup(&queue, 0, c.given, "x"));
        ASSERT_NE(nullptr, queue.head);
        EXPECT_EQ(c.stored, queue.head->duration) << "given " << c.given;
    }
}

TEST_F(PopupTest, ReturnsCountAfterwardsAndKeepsOrder)
{
    EXPECT_EQ(1, popup(&queue, 0, 1000, "one"));
    EXPECT_EQ(2, popup(&queue, 0, 1000, "two %d", 2));
    EXPECT_EQ(3, popup(&queue, 0, 1000, "one"));
    ASSERT_EQ(3, count());
    EXPECT_STREQ("one", queue.head->text);
    EXPECT_STREQ("two 2", queue.head->next->text);
}

TEST_F(PopupTest, NullFormatAddsNothing)
{
    popup(&queue, 0, 1000, "one");
    EXPECT_EQ(1, popup(&queue, 0, 1000, nullptr));
    EXPECT_EQ(1, popup(&queue, 9, 1000, nullptr));
    EXPECT_EQ(1, count());
}

TEST_F(PopupTest, FirstNoticeStartsPhaseAtPostTime)
{
    fake_now = 5000;
    popup(&queue, 0, 1000, "one");
    EXPECT_EQ(5000u, queue.phase_start);
    fake_now = 6000;
    popup(&queue, 0, 1000, "two");
    EXPECT_EQ(5000u, queue.phase_start);
}

TEST_F(PopupTest, KeyedRepostBehindAnotherKeepsOnePlaceWithLargerDuration)
{
    popup(&queue, 0, 1000, "Uptime");
    EXPECT_EQ(2, popup(&queue, 12, 1000, "Configuration updated"));
    EXPECT_EQ(2, popup(&queue, 12, 3000, "Configuration updated"));
    EXPECT_EQ(2, popup(&queue, 12, 500, "Configuration updated"));
    ASSERT_EQ(2, count());
    PopupMessage *keyed = queue.head->next;
    EXPECT_EQ(3000u, keyed->duration); // durations never shrink
    EXPECT_STREQ("Configuration updated", keyed->text);
}

TEST_F(PopupTest, KeyedRepostBehindHeadTakesNewTextAndLeavesHeadAlone)
{
    popup(&queue, 0, 1000, "head");
    popup(&queue, 8, 1000, "Speakers: %d", 2);
    for (int i = 0; i < 12; i++) {
        tick(300);
        fake_now += TICK_MS;
    }
    const PopupQueue before = queue;
    EXPECT_EQ(2, popup(&queue, 8, 1000, "Speakers: %d", 6));
    EXPECT_STREQ("Speakers: 6", queue.head->next->text);
    EXPECT_EQ(before.state, queue.state);
    EXPECT_EQ(before.offset, queue.offset);
    EXPECT_EQ(before.phase_start, queue.phase_start);
}

TEST_F(PopupTest, ChangedTextOfHeadRestartsFirstHoldAtOffsetZero)
{
    popup(&queue, 3, 1000, "Talking: Alice");
    // Hold, then scroll a 300-pixel text a few steps.
    while (queue.offset < 24) {
        tick(300);
        fake_now += TICK_MS;
    }
    ASSERT_EQ(2, queue.state);
    const uint32_t phase_start = queue.phase_start;
    EXPECT_EQ(1, popup(&queue, 3, 1000, "Talking: Bob"));
    EXPECT_STREQ("Talking: Bob", queue.head->text);
    EXPECT_EQ(0, queue.offset);
    EXPECT_EQ(1, queue.state);
    EXPECT_EQ(phase_start, queue.phase_start); // counted from the unchanged start
}

TEST_F(PopupTest, ChangedTextOfHeadInFirstHoldHoldsFromUnchangedStart)
{
    popup(&queue, 1, 1000, "Track one");
    tick(100); // first hold from 1000
    fake_now = 1500;
    popup(&queue, 1, 1000, "Track two");
    fake_now = 1900;
    tick(100);
    EXPECT_EQ(1, queue.state);
    fake_now = 2000;
    tick(100);
    EXPECT_EQ(2, queue.state);
}

TEST_F(PopupTest, SameTextInLastHoldRestartsLastHold)
{
    popup(&queue, 11, 1000, "Memory 42%%");
    while (queue.state != 3) {
        fake_now += TICK_MS;
        tick(100);
    }
    const uint32_t last_hold_start = fake_now;
    fake_now += 900;
    EXPECT_EQ(1, popup(&queue, 11, 1000, "Memory 42%%"));
    EXPECT_EQ(fake_now, queue.phase_start);
    const uint32_t renewed = fake_now;
    fake_now = last_hold_start + 1000; // the old last hold would end here
    tick(100);
    EXPECT_NE(nullptr, queue.head);
    fake_now = renewed + 999;
    tick(100);
    EXPECT_NE(nullptr, queue.head);
    fake_now = renewed + 1000;
    tick(100);
    EXPECT_EQ(nullptr, queue.head);
}

// A notice that fits: its duration, about 0.3 s of scroll phase without
// movement, then its duration again.
TEST_F(PopupTest, NarrowNoticeHoldsTwiceItsDuration)
{
    popup(&queue, 0, 1000, "short");
    int ticks_shown = 0;
    for (int k = 0; queue.head && k < 100; k++) {
        tick(100);
        EXPECT_EQ(0, queue.offset) << "tick " << k;
        ticks_shown++;
        fake_now += TICK_MS;
    }
    // 10 ticks first hold, 3 ticks scroll phase, 10 ticks last hold (the last
    // of them removes it).
    EXPECT_EQ(23, ticks_shown);
}

// 300 pixels wide, duration 2000 ms, one tick every 100 ms from the post time.
TEST_F(PopupTest, WideNoticeTiming)
{
    const int width = 300;
    const uint32_t t0 = fake_now;
    popup(&queue, 0, 2000, "wide");
    std::vector<int> offsets, states; // after each tick
    while (queue.head && offsets.size() < 1000) {
        tick(width);
        offsets.push_back(queue.head ? queue.offset : -1000);
        states.push_back(queue.head ? queue.state : -1);
        fake_now += TICK_MS;
    }
    ASSERT_LT(offsets.size(), 1000u);
    // First hold: ticks 0..19 at offset 0 (2000 ms from the first render).
    for (int k = 0; k < 20; k++) {
        EXPECT_EQ(1, states[k]) << k;
        EXPECT_EQ(0, offsets[k]) << k;
    }
    // Scrolling: 8 pixels every third tick, first step on tick 22.
    EXPECT_EQ(2, states[20]);
    EXPECT_EQ(0, offsets[21]);
    for (int k = 22; k < 76; k++) {
        EXPECT_EQ(2, states[k]) << k;
        EXPECT_EQ(8 * (1 + (k - 22) / 3), offsets[k]) << k;
    }
    // At offset 144 the last column (x = 155) is on screen: the last hold
    // begins on the next step tick and the text runs on without a pause.
    EXPECT_EQ(144, offsets[75]);
    EXPECT_EQ(3, states[76]);
    EXPECT_EQ(152, offsets[76]);
    for (int k = 76; k < 96; k++)
        EXPECT_EQ(152 + 8 * ((k - 76) / 3), offsets[k]) << k;
    // The last hold lasts 2000 ms from tick 76; tick 96 removes the notice.
    EXPECT_EQ(97u, offsets.size());
    EXPECT_EQ(-1, states[96]);
    EXPECT_EQ(t0 + 96 * TICK_MS, queue.phase_start);
}

// A long last hold: the band wraps so that the second copy takes the place of
// the first once the first has left the screen.
TEST_F(PopupTest, WideNoticeRunsOnAsEndlessBand)
{
    const int width = 300;
    popup(&queue, 0, 10000, "wide");
    std::vector<int> offsets;
    for (int k = 0; k < 250; k++) {
        tick(width);
        offsets.push_back(queue.offset);
        fake_now += TICK_MS;
    }
    ASSERT_NE(nullptr, queue.head);
    // Tick 156 begins the last hold, which lasts until tick 256. The offset
    // reaches 296, then jumps from 304 to 296 - 72 - 300 = -76 (tick 213).
    auto it = std::find(offsets.begin(), offsets.end(), -76);
    ASSERT_NE(offsets.end(), it);
    EXPECT_EQ(213, it - offsets.begin());
    EXPECT_EQ(296, *(it - 1));
    // Where the second copy stood just before (x = 300 - 296 + 80 = 84) it
    // stands now as the first copy one step further on (x = 76).
    EXPECT_EQ(width - 296 + 80 - 8, -*it);
    // Then the band goes on scrolling from there.
    EXPECT_EQ(-76, *(it + 2));
    EXPECT_EQ(-68, *(it + 3));
}

TEST_F(PopupTest, QueueOfSixtyIgnoresNewNoticesAndUpdates)
{
    for (int i = 1; i <= 60; i++)
        ASSERT_EQ(i, popup(&queue, i == 30 ? 7 : 0, 1000, "notice %d", i));
    EXPECT_EQ(60, popup(&queue, 0, 1000, "one more"));
    EXPECT_EQ(60, popup(&queue, 7, 5000, "changed"));
    EXPECT_EQ(60, count());
    PopupMessage *m = queue.head;
    for (int i = 1; i < 30; i++)
        m = m->next;
    EXPECT_STREQ("notice 30", m->text);
    EXPECT_EQ(1000u, m->duration);
}

TEST_F(PopupTest, EmptyQueueDrawsNothingAndReturnsZero)
{
    memset(g_lcd.frame, 0x55, LCD_FRAME_BYTES);
    std::vector<uint8_t> before = frame_copy();
    EXPECT_EQ(0, popup_render(&queue));
    EXPECT_EQ(before, frame_copy());
}

TEST_F(PopupTest, TextLongerThan511BytesIsCut)
{
    std::string long_text(600, 'a');
    popup(&queue, 0, 1000, "%s", long_text.c_str());
    EXPECT_EQ(511u, strlen(queue.head->text));
    EXPECT_EQ(std::string(511, 'a'), queue.head->text);
    // The format itself too.
    popup_clear(&queue);
    popup(&queue, 0, 1000, long_text.c_str());
    EXPECT_EQ(511u, strlen(queue.head->text));
}

TEST_F(PopupTest, CutNeverLeavesHalfACharacter)
{
    struct Case {
        size_t ascii;
        const char *tail;
        size_t kept;
    } cases[] = {
        {509, "\xC3\xA9", 511}, // e-acute ends exactly at byte 511
        {510, "\xC3\xA9", 510}, // its second byte would be cut
        {509, "\xE2\x82\xAC", 509}, // euro sign, one byte missing
        {508, "\xF0\x9F\x8E\xB5", 508}, // four-byte character, one missing
        {510, "b", 511},
    };
    for (const Case &c : cases) {
        popup_clear(&queue);
        std::string text = std::string(c.ascii, 'a') + c.tail + "zz";
        popup(&queue, 0, 1000, "%s", text.c_str());
        EXPECT_EQ(c.kept, strlen(queue.head->text)) << c.ascii << " + " << c.tail;
        EXPECT_EQ(0, strncmp(text.c_str(), queue.head->text, c.kept));
    }
}

TEST_F(PopupTest, PercentInArgumentIsDrawnLiterally)
{
    const char *arg = "100% %d %s %n";
    popup(&queue, 0, 1000, "CPU %s", arg);
    EXPECT_STREQ("CPU 100% %d %s %n", queue.head->text);
    EXPECT_EQ(1, popup_render(&queue));
    EXPECT_EQ(reference_frame("CPU 100% %d %s %n", {0}), frame_copy());
}

TEST_F(PopupTest, DrawsHeadInLargeFontInTheBand)
{
    popup(&queue, 0, 1000, "Configuration updated");
    popup(&queue, 0, 1000, "second");
    EXPECT_EQ(1, popup_render(&queue));
    std::vector<uint8_t> frame = frame_copy();
    EXPECT_EQ(reference_frame("Configuration updated", {0}), frame);
    int lit = 0;
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++)
            if (frame[y * LCD_WIDTH + x]) {
                lit++;
                EXPECT_TRUE(y >= 8 && y <= 20) << "lit pixel at row " << y;
            }
    EXPECT_GT(lit, 20);
}

TEST_F(PopupTest, RunningTextIsFollowedByItsStartAfterAGap)
{
    std::string text = wide_text(240);
    const int width = large_width(text.c_str());
    popup(&queue, 0, 60000, "%s", text.c_str());
    popup_render(&queue);
    queue.state = 3;
    queue.phase_start = fake_now;
    queue.step = 0;
    struct Case {
        int offset;
        bool second_copy;
    } cases[] = {{width - 81, false}, {width - 79, true}, {width - 8, true}};
    for (const Case &c : cases) {
        queue.offset = c.offset;
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        EXPECT_EQ(1, popup_render(&queue));
        std::vector<int> xs = {-c.offset};
        if (c.second_copy)
            xs.push_back(width - c.offset + 80);
        EXPECT_EQ(reference_frame(text.c_str(), xs), frame_copy()) << "offset " << c.offset;
    }
}

TEST_F(PopupTest, RenderTakesTheNextNoticeAfterTheLastHold)
{
    popup(&queue, 0, 1000, "first");
    popup(&queue, 0, 1000, "second");
    int ticks = 0;
    while (strcmp(queue.head->text, "first") == 0 && ticks < 100) {
        EXPECT_EQ(1, popup_render(&queue));
        fake_now += TICK_MS;
        ticks++;
    }
    EXPECT_EQ(23, ticks);
    EXPECT_EQ(0, queue.state);
    EXPECT_EQ(0, queue.offset);
    EXPECT_EQ(fake_now - TICK_MS, queue.phase_start);
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    EXPECT_EQ(1, popup_render(&queue));
    EXPECT_EQ(reference_frame("second", {0}), frame_copy());
    EXPECT_EQ(1, queue.state);
}

TEST_F(PopupTest, CounterWrapRestartsPhaseAtZero)
{
    fake_now = 0xFFFFFF00u;
    popup(&queue, 0, 1000, "wrap");
    tick(100);
    fake_now = 50; // the millisecond counter wrapped
    tick(100);
    EXPECT_EQ(0u, queue.phase_start);
    EXPECT_EQ(1, queue.state);
    fake_now = 1000;
    tick(100);
    EXPECT_EQ(2, queue.state);
}

// The end of a hold is found from the elapsed time, so a hold that starts just
// before the counter wraps still lasts its full duration.
TEST_F(PopupTest, HoldStartingNearTopOfCounterLastsItsDuration)
{
    fake_now = 0xFFFFFC00u; // phase_start + 2000 lies beyond 2^32
    popup(&queue, 0, 2000, "late");
    tick(100);
    fake_now += 500;
    tick(100);
    EXPECT_EQ(1, queue.state);
    fake_now += 500; // still below 2^32
    tick(100);
    EXPECT_EQ(1, queue.state);
}

TEST_F(PopupTest, ClearEmptiesTheQueue)
{
    popup(&queue, 0, 1000, "one");
    popup(&queue, 0, 1000, "two");
    popup_render(&queue);
    popup_clear(&queue);
    EXPECT_EQ(nullptr, queue.head);
    EXPECT_EQ(0, queue.state);
    EXPECT_EQ(0, popup_render(&queue));
    EXPECT_EQ(1, popup(&queue, 0, 1000, "again"));
}

} // namespace
