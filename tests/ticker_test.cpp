// Event ticker: the label table and expiry on a fake clock, and the boxes as
// drawn over the band.
#include <algorithm>
#include <string>
#include <utility>

#include "canvas_fixture.h"
#include "ticker.h"

namespace {

using namespace canvas_tests;

class TickerTest : public CanvasTest {
protected:
    EventTicker ticker;
    void SetUp() override { CanvasTest::SetUp(); ticker_start(&ticker); }
    void TearDown() override { ticker_clear(&ticker); CanvasTest::TearDown(); }
    int live() const { return TICKER_PLACES - (int)std::count(ticker.labels, ticker.labels + TICKER_PLACES, nullptr); }
    // ticker_render over a checkerboard, on which the pixels it darkens show
    // as well as those it lights.
    void render()
    {
        for (int i = 0; i < LCD_FRAME_BYTES; i++)
            g_lcd.frame[i] = (i + i / LCD_WIDTH) % 2 ? 255 : 0;
        ticker_render(&ticker);
    }
};

// A label lives linger ms (500 at start) after its last ticker_add, also when
// that time lies beyond 2^32; a second ticker_add with the same text renews
// the one label. linger is kept within 0 to 2000; with 0 a label dies at the
// first render after the clock has moved, also without a surface.
TEST_F(TickerTest, LabelLivesLingerAfterItsLastAdd)
{
    for (uint32_t start : {10000u, 0xFFFFFD00u}) {
        fake_now = start;
        ticker_add(&ticker, "Alice");
        fake_now += 300;
        ticker_add(&ticker, "Alice");
        ticker_add(&ticker, nullptr);
        for (int later : {400, 100, 1}) { // 0xFFFFFD00 + 800 lies beyond 2^32
            fake_now += later;
            ticker_render(&ticker);
            EXPECT_EQ(later == 1 ? 0 : 1, live()) << start << " + " << later;
        }
    }
    for (const auto &c : {std::pair(5000, 2000), std::pair(750, 750), std::pair(-1, 0)}) {
        ticker_set_linger(&ticker, c.first);
        EXPECT_EQ(c.second, ticker.linger) << c.first;
    }
    ticker_add(&ticker, "Alice");
    ticker_render(&ticker);
    EXPECT_EQ(1, live());
    lcd_destroy_surface(&g_lcd);
    fake_now += 1;
    ticker_render(&ticker);
    EXPECT_EQ(0, live());
    ASSERT_EQ(1, lcd_create_surface(&g_lcd));
}

// Boxes line up from the right edge in table order, not in time order: Carol
// (30 pixels wide) in place 0 has its text at columns 129 to 158, Charlie (40)
// in place 3 at 86 to 125. A seventeenth label is dropped while all places
// are taken; a new label takes the first free place.
TEST_F(TickerTest, SixteenPlacesDrawnInTableOrder)
{
    for (int i = 0; i < 16; i++)
        ticker_add(&ticker, i == 3 ? "Charlie" : ("p" + std::to_string(i)).c_str());
    ticker_add(&ticker, "Carol");
    fake_now += 400;
    ticker_add(&ticker, "Charlie");
    fake_now += 200;
    ticker_render(&ticker); // all but Charlie expire
    ticker_add(&ticker, "Carol");
    EXPECT_EQ(2, live());
    render();
    EXPECT_GOLDEN("ticker_table_order", g_lcd.frame);
}

// The text must start at column 3 or later (L = 159 - width): a label 156
// pixels wide just fits; one of 157 or 158 is not drawn, stays alive and
// leaves its room to the labels after it.
TEST_F(TickerTest, LabelTooWideIsSkippedButStaysAlive)
{
    const struct { const char *golden, *text; int width; } cases[] = {
        {"ticker_widest_label", "Alice, Deborah and Jasmine", 156},
        {"ticker_too_wide_label", "Alice, Bernard and Gregory", 157},
        {"ticker_too_wide_label", "Alice, Amanda and Gregory", 158}};
    for (const auto &c : cases) {
        ticker_clear(&ticker);
        ticker_add(&ticker, c.text);
        ticker_add(&ticker, "Bob");
        ASSERT_EQ(c.width, lcd_text(&g_lcd, TXT_LARGE | TXT_MEASURE, 0, 0, c.text));
        render();
        EXPECT_GOLDEN(c.golden, g_lcd.frame);
        EXPECT_EQ(2, live());
    }
}

} // namespace
