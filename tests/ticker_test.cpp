// Event ticker: label table, expiry with a fake clock, and the boxes drawn
// into a real surface.
#include <set>
#include <string>

#include "canvas_fixture.h"
#include "ticker.h"

namespace {

using namespace canvas_tests;

const uint8_t UNTOUCHED = 0x55; // neither dark (0) nor lit (255)

int label_width(const std::string &text) { return lcd_text(&g_lcd, TXT_LARGE | TXT_MEASURE, 0, 0, text.c_str()); }

// A text exactly target pixels wide in the large font, "" if none is found:
// characters are appended depth first, each width tried once.
std::string text_of_width(int target, const std::string &text, std::set<int> &tried)
{
    const int width = label_width(text);
    if (width >= target || !tried.insert(width).second)
        return width == target ? text : "";
    for (char c : std::string("WMmnaoxtrlfi.'"))
        if (std::string found = text_of_width(target, text + c, tried); !found.empty())
            return found;
    return "";
}

std::string text_of_width(int target)
{
    std::set<int> tried;
    return text_of_width(target, "", tried);
}

struct Box {
    std::string text;
    int right, left; // R: right border column; L: first text column
};

// An untouched frame with the boxes drawn: columns R and L - 1 lit from row 8
// to 19 and dark at rows 7 and 20, the text dark on lit from (L, 7), row 20
// lit from L to R - 1, column L - 2 dark from row 7 to 20.
Frame expected_frame(const std::vector<Box> &boxes)
{
    memset(g_lcd.frame, UNTOUCHED, LCD_FRAME_BYTES);
    auto border = [](int x) {
        for (int y = 7; y <= 20; y++)
            g_lcd.frame[y * LCD_WIDTH + x] = (y == 7 || y == 20) ? 0 : 255;
    };
    for (const Box &b : boxes) {
        border(b.right);
        lcd_text(&g_lcd, TXT_LARGE | TXT_INVERT | TXT_OPAQUE, b.left, 7, b.text.c_str());
        border(b.left - 1);
        memset(&g_lcd.frame[20 * LCD_WIDTH + b.left], 255, b.right - b.left);
        for (int y = 7; y <= 20; y++)
            g_lcd.frame[y * LCD_WIDTH + b.left - 2] = 0;
    }
    return frame_copy();
}

class TickerTest : public CanvasTest {
protected:
    EventTicker ticker;
    void SetUp() override
    {
        CanvasTest::SetUp();
        ticker_start(&ticker);
    }
    void TearDown() override
    {
        ticker_clear(&ticker);
        CanvasTest::TearDown();
    }
    int live() const
    {
        int n = 0;
        for (char *label : ticker.labels)
            n += label != nullptr;
        return n;
    }
    Frame rendered()
    {
        memset(g_lcd.frame, UNTOUCHED, LCD_FRAME_BYTES);
        ticker_render(&ticker);
        return frame_copy();
    }
};

TEST_F(TickerTest, AddingAndLinger)
{
    EXPECT_EQ(500, ticker.linger);
    ticker_add(&ticker, "Alice");
    fake_now += 300;
    ticker_add(&ticker, "Alice");
    ticker_add(&ticker, nullptr);
    EXPECT_EQ(1, live());
    EXPECT_STREQ("Alice", ticker.labels[0]);
    EXPECT_EQ(fake_now, ticker.stamps[0]);
    const int cases[][2] = {{5000, 2000}, {-1, 0}, {2000, 2000}, {2001, 2000}, {750, 750}, {0, 0}};
    for (const auto &c : cases) {
        ticker_set_linger(&ticker, c[0]);
        EXPECT_EQ(c[1], ticker.linger) << c[0];
    }
}

// A label dies at the first render after stamp + linger, also when that sum
// lies beyond 2^32 and when there is no surface.
TEST_F(TickerTest, Expiry)
{
    for (uint32_t start : {10000u, 0xFFFFFF00u}) {
        fake_now = start;
        ticker_add(&ticker, "Alice");
        for (uint32_t later : {100u, 500u}) {
            fake_now = start + later;
            EXPECT_EQ(expected_frame({{"Alice", 159, 159 - label_width("Alice")}}), rendered()) << start + later;
        }
        fake_now += 1;
        EXPECT_EQ(expected_frame({}), rendered()) << start;
        EXPECT_EQ(0, live()) << start;
    }
    ticker_set_linger(&ticker, 0);
    ticker_add(&ticker, "Alice");
    ticker_render(&ticker);
    EXPECT_EQ(1, live());
    lcd_destroy_surface(&g_lcd);
    fake_now += 1;
    ticker_render(&ticker);
    EXPECT_EQ(0, live());
    ASSERT_EQ(1, lcd_create_surface(&g_lcd));
}

// Boxes line up from the right edge in table order: widths 30 and 40 give
// text at columns 129 to 158 and 86 to 125. A seventeenth label waits for a
// free place, and a new label takes the first free one.
TEST_F(TickerTest, SixteenPlacesDrawnInTableOrder)
{
    const std::string first = text_of_width(30), second = text_of_width(40);
    ASSERT_TRUE(!first.empty() && !second.empty());
    for (int i = 0; i < 16; i++)
        ticker_add(&ticker, i == 3 ? second.c_str() : ("p" + std::to_string(i)).c_str());
    ticker_add(&ticker, first.c_str());
    fake_now += 400;
    ticker_add(&ticker, second.c_str());
    fake_now += 200;
    ticker_render(&ticker); // all but the label in place 3 expire
    ticker_add(&ticker, first.c_str());
    EXPECT_EQ(2, live());
    EXPECT_EQ(expected_frame({{first, 159, 129}, {second, 126, 86}}), rendered());
}

// L = 159 - w must be at least 3; a label too wide stays alive and takes no
// space from the labels after it.
TEST_F(TickerTest, LabelTooWideIsSkippedButStaysAlive)
{
    for (int width : {156, 157, 158}) {
        const std::string text = text_of_width(width);
        ASSERT_FALSE(text.empty()) << width;
        ticker_clear(&ticker);
        ticker_add(&ticker, text.c_str());
        ticker_add(&ticker, "Bob");
        const Box shown = width == 156 ? Box{text, 159, 3} : Box{"Bob", 159, 159 - label_width("Bob")};
        EXPECT_EQ(expected_frame({shown}), rendered()) << width;
        EXPECT_EQ(2, live());
    }
}

} // namespace
