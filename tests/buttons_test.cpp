// Soft-button press detection: short, long and next-page events, the
// four-button quit, clock wrap, and a flood of button changes.
#include "link_fixture.h"

#include <algorithm>
#include <thread>

using namespace link_tests;

namespace {

enum { S = BUTTON_SHORT, L = BUTTON_LONG, P = BUTTON_NEXT_PAGE };

TEST(ButtonDecision, UnsignedArithmetic)
{
    const struct {
        const char *what;
        uint32_t press, release;
        int next_page;
        uint32_t now;
        int event;
    } cases[] = {
        {"idle", 0, 0, 0, 5000, BUTTON_NONE},
        {"released after 499 ms", 1000, 1499, 0, 1600, S},
        {"released after 500 ms", 1000, 1500, 0, 1600, L},
        {"released at once", 1000, 1000, 0, 1100, S},
        {"held 499 ms", 1000, 0, 0, 1499, BUTTON_UNDECIDED},
        {"held 500 ms", 1000, 0, 0, 1500, L},
        {"Ctrl, short", 1000, 1100, 1, 1200, P},
        {"Ctrl, held", 1000, 0, 1, 1001, P},
        {"wrap, released 272 ms later", 0xFFFFFF00u, 0x10, 0, 0x20, S},
        {"wrap, released 768 ms later", 0xFFFFFE00u, 0x100, 0, 0x200, BUTTON_NONE},
        {"wrap, held 255 ms", 0xFFFFFF01u, 0, 0, 0x0, BUTTON_UNDECIDED},
        {"wrap, held 1024 ms", 0xFFFFFF00u, 0, 0, 0x300, BUTTON_NONE},
        {"release before press", 0x2000, 0x1000, 0, 0x3000, BUTTON_NONE},
        {"now before press", 0x2000, 0, 0, 0x1FFF, BUTTON_NONE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(button_event_at(c.press, c.release, c.next_page, c.now), c.event) << c.what;
}

class Buttons : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        ASSERT_EQ(link_start(&lcd), 1); // no LCD Manager runs: the buttons are the test's alone
    }
    void callback(DWORD buttons) { on_soft_buttons(0, buttons, lcd.link); }
    std::vector<int> tick()
    {
        std::vector<int> events(LCD_BUTTONS);
        for (int i = 0; i < LCD_BUTTONS; i++)
            events[i] = lcd_button_event(&lcd, i);
        return events;
    }
};

const std::vector<int> NOTHING = {0, 0, 0, 0};

// Button changes from the LCD Manager's callback, each followed by a tick.
TEST_F(Buttons, SequencesThroughTheCallback)
{
    struct Step {
        uint32_t at;
        int ctrl;
        int buttons; // -1: no change, only a tick
        std::vector<int> events; // empty: no tick
    };
    const struct {
        const char *what;
        std::vector<Step> steps;
    } cases[] = {
        {"short, reported once", {{5000, 0, 4, NOTHING}, {5300, 0, 0, {0, 0, S, 0}}, {5350, 0, -1, NOTHING}}},
        {"long while held, nothing at release",
         {{10000, 0, 1, NOTHING}, {10499, 0, -1, NOTHING}, {10500, 0, -1, {L, 0, 0, 0}}, {12000, 0, 0, NOTHING}}},
        {"Ctrl at the press: next page, that button only",
         {{40000, 1, 8, {0, 0, 0, P}}, {41000, 0, 0, NOTHING}}},
        {"Ctrl only at the release", {{40000, 0, 1, NOTHING}, {40100, 1, 0, {S, 0, 0, 0}}}},
        {"held on after its long press, through another button's press: nothing more",
         {{50000, 0, 1, NOTHING}, {50600, 0, -1, {L, 0, 0, 0}}, {50700, 0, 3, NOTHING}, {50800, 0, 0, {0, S, 0, 0}}}},
        {"held on with Ctrl through another button's press: one next page",
         {{60000, 1, 8, {0, 0, 0, P}}, {60100, 0, 9, NOTHING}, {60200, 0, 0, {S, 0, 0, 0}}}},
        {"press at clock zero", {{0, 0, 1, {}}, {100, 0, 0, {S, 0, 0, 0}}}},
        {"clock wraps while held", {{0xFFFFFF00u, 0, 2, NOTHING}, {0x10, 0, 0, {0, S, 0, 0}}}},
    };
    for (const auto &c : cases) {
        for (const Step &step : c.steps) {
            clock_now = step.at;
            ctrl_down = step.ctrl;
            if (step.buttons >= 0)
                callback((DWORD)step.buttons);
            ctrl_down = 0;
            if (!step.events.empty()) {
                EXPECT_EQ(tick(), step.events) << c.what << " at " << step.at;
            }
        }
    }
}

TEST_F(Buttons, TestWindowPresses)
{
    lcd_button_down(&lcd, 2);
    clock_now += 300;
    lcd_button_up(&lcd, 2);
    EXPECT_EQ(lcd_button_event(&lcd, 2), S);
}

// 10,000 changes from another thread while the main loop asks every tick:
// every call returns within its bound and no quit appears.
TEST_F(Buttons, CallbackStormStaysBounded)
{
    volatile LONG done = 0;
    std::thread storm([&] {
        for (int n = 0; n < 10000; n++)
            on_soft_buttons(0, (DWORD)(n & 7), lcd.link);
        done = 1;
    });
    DWORD slowest = 0, start = GetTickCount();
    while (!done && GetTickCount() - start < 20000) {
        for (int i = 0; i < LCD_BUTTONS; i++) {
            DWORD before = GetTickCount();
            lcd_button_event(&lcd, i);
            slowest = std::max(slowest, GetTickCount() - before);
        }
        clock_now += 7;
    }
    storm.join();
    EXPECT_LT(slowest, 500u); // never waits, but for scheduling under Wine
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
}

} // namespace
