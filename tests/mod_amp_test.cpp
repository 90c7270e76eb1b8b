// The Winamp page from chosen answers of the player: the pictures, the
// title pop-ups, presses, the title hold and the bit-rate average. Talking
// to a real player window is the end-to-end tests' part.
#include <string>

#include "canvas_fixture.h"
#include "config.h"
#include "lcd_thread.h"
#include "mod_amp.h"
#include "popup.h"
#include "slots.h"

using canvas_tests::CanvasTest;

namespace {

struct AmpTest : CanvasTest {
    AmpModule amp{};
    void SetUp() override
    {
        CanvasTest::SetUp();
        popup_clear(&g_popups);
    }
    void TearDown() override
    {
        popup_clear(&g_popups);
        CanvasTest::TearDown();
    }
    void start(const char *s0, const char *s1 = "", const char *s2 = "", const char *s3 = "")
    {
        const char *values[SLOT_COUNT] = {s0, s1, s2, s3};
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i), slot_parse_value(&g_slots[i], values[i]);
        amp_start(&amp);
    }
    void draw(int slot, int32_t position_ms, int32_t length_s = 0, int32_t bitrate = 0, int second = 1, int blink_on = 0)
    {
        AmpReading reading = {position_ms, length_s, bitrate};
        amp_draw(&amp, slot, &reading, second, blink_on);
    }
    std::string head() { return g_popups.head ? g_popups.head->text : ""; }
    int queued()
    {
        int n = 0;
        for (PopupMessage *m = g_popups.head; m; m = m->next)
            n++;
        return n;
    }
};

// Elapsed time without a bit rate; the time left with 128k; 1:02:05 left;
// 10:05 left, whose colon blinks.
TEST_F(AmpTest, PagesWithBothHalvesOfTheBlink)
{
    start("AMP", "AMP", "AMP", "AMP");
    for (int blink_on = 0; blink_on <= 1; blink_on++) {
        canvas_tests::clear_frame();
        draw(0, 65000);
        draw(1, 15000, 225, 128);
        draw(2, 0, 3725, 320);
        draw(3, 400, 36301, 96, 1, blink_on);
        EXPECT_GOLDEN_AREA(blink_on ? "amp_pages_blink_on" : "amp_pages_blink_off", g_lcd.frame, 0, 22, 160, 21);
    }
}

TEST_F(AmpTest, TitleAnnouncedOnChangeAndOnShortPress)
{
    start("AMP");
    amp_take_title(&amp, "First Song");
    amp_take_title(&amp, "First Song");
    amp_take_title(&amp, "");
    EXPECT_EQ(queued(), 1);
    EXPECT_EQ(head(), "First Song");
    EXPECT_EQ(g_popups.head->duration, 1500u);
    popup_clear(&g_popups);

    g_slots[0].pending_action = BUTTON_SHORT;
    draw(0, 1000);
    EXPECT_EQ(g_slots[0].pending_action, 0);
    EXPECT_EQ(head(), "First Song");
    amp_take_title(&amp, "Second Song");
    EXPECT_EQ(queued(), 1) << "the same key replaces the queued title";
    EXPECT_EQ(head(), "Second Song");
}

TEST_F(AmpTest, TitleHoldPerSlotFromPlusMarksAndLongPress)
{
    start("AMP+", "AMP++", "CLK AMP+++", "AMP");
    EXPECT_EQ(amp.title_hold[0] + amp.title_hold[1] * 2 + amp.title_hold[2] * 4 + amp.title_hold[3] * 8, 1u + 4u);
    amp_take_title(&amp, "Held");
    popup_clear(&g_popups);

    g_slots[3].pending_action = BUTTON_LONG;
    draw(3, 1000);
    EXPECT_EQ(amp.title_hold[3], 1u);
    EXPECT_EQ(amp.title_hold[1], 0u) << "only the pressed slot";
    EXPECT_EQ(head(), "Held");
    EXPECT_EQ(g_popups.head->duration, 120u);

    // another keyed notice is let through and the title returns after it
    popup(&g_popups, 8, 3000, "Other");
    draw(0, 1000);
    EXPECT_EQ(queued(), 2);
    popup_clear(&g_popups);
    popup(&g_popups, 8, 3000, "Other");
    draw(0, 1000);
    EXPECT_EQ(queued(), 1) << "no title behind a notice of another key";
    popup_clear(&g_popups);
    draw(0, 1000);
    EXPECT_EQ(head(), "Held");

    g_slots[0].pending_action = BUTTON_LONG;
    popup_clear(&g_popups);
    draw(0, 1000);
    EXPECT_EQ(amp.title_hold[0], 0u);
    EXPECT_EQ(queued(), 0);
}

TEST_F(AmpTest, BitRateAveragedOverTheSecondAndHiddenAtZero)
{
    start("AMP");
    draw(0, 1000, 0, 100, 0);
    draw(0, 1000, 0, 201, 0);
    draw(0, 1000, 0, 300, 1);
    EXPECT_STREQ(amp.bitrate_text, "200k");
    draw(0, 1000, 0, 64, 0);
    EXPECT_STREQ(amp.bitrate_text, "200k") << "between boundaries the last average";
    draw(0, 1000, 0, 0, 0);
    EXPECT_EQ(amp.bitrate_samples, 0);
    draw(0, 1000, 0, 2000000000, 0);
    draw(0, 1000, 0, 2000000000, 1);
    EXPECT_STREQ(amp.bitrate_text, "1073741823k") << "garbage answers saturate";
}

} // namespace
