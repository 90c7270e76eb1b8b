// Event ticker: label table, expiry with a fake clock, and the boxes drawn
// into a real surface.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "app.h"
#include "lcd.h"
#include "ticker.h"

namespace {

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }

const uint8_t UNTOUCHED = 0x55; // neither dark (0) nor lit (255)

class TickerTest : public ::testing::Test {
protected:
    EventTicker ticker;
    AppClock saved_clock = 0;
    bool created_surface = false;

    void SetUp() override
    {
        saved_clock = app_clock;
        app_clock = fake_clock;
        fake_now = 10000;
        ticker_start(&ticker);
        if (!g_lcd.frame) {
            ASSERT_EQ(1, lcd_create_surface(&g_lcd));
            created_surface = true;
        }
        memset(g_lcd.frame, UNTOUCHED, LCD_FRAME_BYTES);
    }

    void TearDown() override
    {
        ticker_clear(&ticker);
        app_clock = saved_clock;
        if (created_surface)
            lcd_destroy_surface(&g_lcd);
    }

    int live_labels() const
    {
        int n = 0;
        for (char *label : ticker.labels)
            n += label != nullptr;
        return n;
    }
};

uint8_t pixel(int x, int y) { return g_lcd.frame[y * LCD_WIDTH + x]; }

int label_width(const std::string &text)
{
    return lcd_text(&g_lcd, TXT_LARGE | TXT_MEASURE, 0, 0, text.c_str());
}

// Builds a text of exactly `target` pixels in the large font, trying wide
// characters first; widths already tried are not tried again.
bool extend_to_width(std::string &text, int target, std::set<int> &tried)
{
    int width = label_width(text);
    if (width == target)
        return true;
    if (width > target || !tried.insert(width).second)
        return false;
    for (char c : std::string("WMmnaoxtrlfi.'")) {
        text.push_back(c);
        if (extend_to_width(text, target, tried))
            return true;
        text.pop_back();
    }
    return false;
}

std::string text_of_width(int target)
{
    std::string text;
    std::set<int> tried;
    return extend_to_width(text, target, tried) ? text : std::string();
}

// The box of a label with right border R and text start L, as drawn on a
// frame that held UNTOUCHED everywhere.
void expect_box(const std::string &text, int right, int left)
{
    const int width = right - left;
    SCOPED_TRACE("label '" + text + "' R=" + std::to_string(right) + " L=" + std::to_string(left));
    for (int border : {right, left - 1}) {
        EXPECT_EQ(0, pixel(border, 7)) << "column " << border;
        for (int y = 8; y <= 19; y++)
            EXPECT_EQ(255, pixel(border, y)) << "column " << border << " row " << y;
        EXPECT_EQ(0, pixel(border, 20)) << "column " << border;
    }
    for (int y = 7; y <= 20; y++)
        EXPECT_EQ(0, pixel(left - 2, y)) << "separator row " << y;
    for (int x = left; x < left + width; x++)
        EXPECT_EQ(255, pixel(x, 20)) << "bottom border column " << x;

    // The text, dark on lit, exactly as lcd_text draws it there.
    std::vector<uint8_t> drawn(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES);
    memset(g_lcd.frame, UNTOUCHED, LCD_FRAME_BYTES);
    lcd_text(&g_lcd, TXT_LARGE | TXT_INVERT | TXT_OPAQUE, left, 7, text.c_str());
    int dark = 0;
    for (int y = 7; y <= 19; y++)
        for (int x = left; x < right; x++) {
            EXPECT_EQ(pixel(x, y), drawn[y * LCD_WIDTH + x]) << "text pixel " << x << "," << y;
            dark += pixel(x, y) == 0;
        }
    EXPECT_GT(dark, 5);
    memcpy(g_lcd.frame, drawn.data(), LCD_FRAME_BYTES);
}

// Columns from 0 to `last` are untouched in every row.
void expect_untouched_up_to(int last)
{
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x <= last; x++)
            ASSERT_EQ(UNTOUCHED, pixel(x, y)) << x << "," << y;
}

bool frame_untouched()
{
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        if (g_lcd.frame[i] != UNTOUCHED)
            return false;
    return true;
}

TEST_F(TickerTest, StartsEmptyWithLinger500)
{
    EXPECT_EQ(500, ticker.linger);
    EXPECT_EQ(0, live_labels());
    EXPECT_EQ(500, g_ticker.linger);
}

TEST_F(TickerTest, SameTextTwiceKeepsOneLabelWithLaterStamp)
{
    ticker_add(&ticker, "Alice");
    fake_now += 300;
    ticker_add(&ticker, "Alice");
    EXPECT_EQ(1, live_labels());
    ASSERT_NE(nullptr, ticker.labels[0]);
    EXPECT_STREQ("Alice", ticker.labels[0]);
    EXPECT_EQ(fake_now, ticker.stamps[0]);
}

TEST_F(TickerTest, NullTextIsIgnored)
{
    ticker_add(&ticker, nullptr);
    EXPECT_EQ(0, live_labels());
}

TEST_F(TickerTest, SetLingerClampsToZeroTo2000)
{
    struct Case {
        int given, stored;
    } cases[] = {{5000, 2000}, {-1, 0}, {0, 0}, {2000, 2000}, {2001, 2000}, {750, 750}};
    for (const Case &c : cases) {
        ticker_set_linger(&ticker, c.given);
        EXPECT_EQ(c.stored, ticker.linger) << c.given;
    }
}

TEST_F(TickerTest, LingerZeroExpiresOnceTheCounterMoves)
{
    ticker_set_linger(&ticker, 0);
    ticker_add(&ticker, "Alice");
    ticker_render(&ticker);
    EXPECT_EQ(1, live_labels());
    fake_now += 1;
    ticker_render(&ticker);
    EXPECT_EQ(0, live_labels());
}

TEST_F(TickerTest, LabelLivesLingerAfterItsLastAdd)
{
    ticker_add(&ticker, "Alice");
    fake_now += 400;
    ticker_add(&ticker, "Alice");
    fake_now += 500;
    ticker_render(&ticker);
    EXPECT_EQ(1, live_labels());
    fake_now += 1;
    memset(g_lcd.frame, UNTOUCHED, LCD_FRAME_BYTES);
    ticker_render(&ticker);
    EXPECT_EQ(0, live_labels());
    EXPECT_TRUE(frame_untouched()); // an expired label is not drawn
}

TEST_F(TickerTest, StampNearTopOfCounterDoesNotExpireEarly)
{
    fake_now = 0xFFFFFF00u; // stamp + linger lies beyond 2^32
    ticker_add(&ticker, "Alice");
    fake_now += 200;
    ticker_render(&ticker);
    EXPECT_EQ(1, live_labels());
}

TEST_F(TickerTest, SeventeenthLabelIsDroppedUntilAPlaceIsFree)
{
    for (int i = 0; i < 16; i++)
        ticker_add(&ticker, ("p" + std::to_string(i)).c_str());
    ticker_add(&ticker, "seventeen");
    EXPECT_EQ(16, live_labels());
    for (char *label : ticker.labels)
        EXPECT_STRNE("seventeen", label);

    // Let all but p3 expire; the next new label takes the first free place.
    fake_now += 400;
    ticker_add(&ticker, "p3");
    fake_now += 200;
    ticker_render(&ticker);
    EXPECT_EQ(1, live_labels());
    ticker_add(&ticker, "seventeen");
    ASSERT_NE(nullptr, ticker.labels[0]);
    EXPECT_STREQ("seventeen", ticker.labels[0]);
    EXPECT_STREQ("p3", ticker.labels[3]);
}

TEST_F(TickerTest, TwoLabelsLineUpFromTheRightEdge)
{
    const std::string first = "Alice", second = "Bob K";
    ticker_add(&ticker, first.c_str());
    ticker_add(&ticker, second.c_str());
    ticker_render(&ticker);
    const int w0 = label_width(first), w1 = label_width(second);
    const int l0 = 159 - w0, r1 = l0 - 3, l1 = r1 - w1;
    expect_box(first, 159, l0);
    expect_box(second, r1, l1);
    expect_untouched_up_to(l1 - 3);
    for (int y = 0; y < 7; y++)
        for (int x = 0; x < LCD_WIDTH; x++)
            ASSERT_EQ(UNTOUCHED, pixel(x, y)) << x << "," << y;
}

TEST_F(TickerTest, LabelsOfWidths30And40)
{
    const std::string first = text_of_width(30), second = text_of_width(40);
    if (first.empty() || second.empty())
        GTEST_SKIP() << "no text of width 30 and 40 in this font";
    ticker_add(&ticker, first.c_str());
    ticker_add(&ticker, second.c_str());
    ticker_render(&ticker);
    expect_box(first, 159, 129);  // text at columns 129..158
    expect_box(second, 126, 86);  // text at columns 86..125
    expect_untouched_up_to(83);
}

TEST_F(TickerTest, TableOrderNotTimeOrderDecidesPlace)
{
    ticker_add(&ticker, "Alice");
    ticker_add(&ticker, "Bob");
    fake_now += 400;
    ticker_add(&ticker, "Bob");
    fake_now += 200;
    ticker_render(&ticker); // Alice expires; Bob stays in place 1
    EXPECT_EQ(nullptr, ticker.labels[0]);
    ticker_add(&ticker, "Carol"); // takes place 0, so it is drawn rightmost
    EXPECT_STREQ("Carol", ticker.labels[0]);
    memset(g_lcd.frame, UNTOUCHED, LCD_FRAME_BYTES);
    ticker_render(&ticker);
    const int l0 = 159 - label_width("Carol");
    expect_box("Carol", 159, l0);
    expect_box("Bob", l0 - 3, l0 - 3 - label_width("Bob"));
}

TEST_F(TickerTest, LabelTooWideIsSkippedButStaysAlive)
{
    std::string wide = "Somebody With A Very Long Name";
    while (label_width(wide) < 158)
        wide += " Jr";
    ticker_add(&ticker, wide.c_str());
    ticker_add(&ticker, "Bob");
    ticker_render(&ticker);
    EXPECT_EQ(2, live_labels());
    // The wide label takes no space: the short one stands at the right edge.
    const int l = 159 - label_width("Bob");
    expect_box("Bob", 159, l);
    expect_untouched_up_to(l - 3);

    ticker_clear(&ticker);
    ticker_add(&ticker, wide.c_str());
    memset(g_lcd.frame, UNTOUCHED, LCD_FRAME_BYTES);
    ticker_render(&ticker);
    EXPECT_TRUE(frame_untouched());
    EXPECT_EQ(1, live_labels());
}

// L = 159 - w must be at least 3: widths 156 (L = 3) draw, 157 (L = 2) and
// 158 (L = 1) do not.
TEST_F(TickerTest, NarrowestSpaceThatStillDraws)
{
    struct Case {
        int width;
        bool drawn;
    } cases[] = {{156, true}, {157, false}, {158, false}};
    for (const Case &c : cases) {
        const std::string text = text_of_width(c.width);
        if (text.empty()) {
            ADD_FAILURE() << "no text of width " << c.width << " found";
            continue;
        }
        ticker_clear(&ticker);
        ticker_add(&ticker, text.c_str());
        memset(g_lcd.frame, UNTOUCHED, LCD_FRAME_BYTES);
        ticker_render(&ticker);
        EXPECT_EQ(1, live_labels());
        if (c.drawn)
            expect_box(text, 159, 159 - c.width);
        else
            EXPECT_TRUE(frame_untouched()) << "width " << c.width;
    }
}

TEST_F(TickerTest, WithoutSurfaceLabelsStillExpire)
{
    lcd_destroy_surface(&g_lcd);
    ticker_add(&ticker, "Alice");
    ticker_render(&ticker);
    EXPECT_EQ(1, live_labels());
    fake_now += 501;
    ticker_render(&ticker);
    EXPECT_EQ(0, live_labels());
    ASSERT_EQ(1, lcd_create_surface(&g_lcd));
}

TEST_F(TickerTest, ClearFreesEveryPlace)
{
    ticker_add(&ticker, "Alice");
    ticker_add(&ticker, "Bob");
    ticker_clear(&ticker);
    EXPECT_EQ(0, live_labels());
    ticker_render(&ticker);
    EXPECT_TRUE(frame_untouched());
}

} // namespace
