// Soft-button press detection: short, long and next-page events, the
// four-button quit, clock wrap, and a flood of button changes.
#include "link_fixture.h"

#include <thread>

using namespace link_tests;

namespace {

struct DecisionCase {
    const char *what;
    uint32_t press, release;
    int next_page;
    uint32_t now;
    int event;
};

const DecisionCase DECISIONS[] = {
    {"idle", 0, 0, 0, 5000, BUTTON_NONE},
    {"released after 300 ms", 1000, 1300, 0, 1400, BUTTON_SHORT},
    {"released after 499 ms", 1000, 1499, 0, 1600, BUTTON_SHORT},
    {"released after 500 ms", 1000, 1500, 0, 1600, BUTTON_LONG},
    {"released at once", 1000, 1000, 0, 1100, BUTTON_SHORT},
    {"held 499 ms", 1000, 0, 0, 1499, BUTTON_UNDECIDED},
    {"held 500 ms", 1000, 0, 0, 1500, BUTTON_LONG},
    {"held 2 s", 1000, 0, 0, 3000, BUTTON_LONG},
    {"Ctrl, short", 1000, 1100, 1, 1200, BUTTON_NEXT_PAGE},
    {"Ctrl, held", 1000, 0, 1, 1001, BUTTON_NEXT_PAGE},
    {"Ctrl without a press time", 0, 0, 1, 1001, BUTTON_NEXT_PAGE},
    // the tick counter wraps between press and release
    {"wrap, released 272 ms later", 0xFFFFFF00u, 0x10, 0, 0x20, BUTTON_SHORT},
    {"wrap, released 768 ms later", 0xFFFFFE00u, 0x100, 0, 0x200, BUTTON_NONE},
    {"wrap, held 255 ms", 0xFFFFFF01u, 0, 0, 0x0, BUTTON_UNDECIDED},
    {"wrap, held 1024 ms", 0xFFFFFF00u, 0, 0, 0x300, BUTTON_NONE},
    {"no wrap, release before press", 0x2000, 0x1000, 0, 0x3000, BUTTON_NONE},
    {"now before press by 1 ms", 0x2000, 0, 0, 0x1FFF, BUTTON_NONE},
};

TEST(ButtonDecision, UnsignedArithmetic)
{
    for (const DecisionCase &c : DECISIONS)
        EXPECT_EQ(button_event_at(c.press, c.release, c.next_page, c.now), c.event) << c.what;
}

class Buttons : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        start_idle_link();
    }
    LcdLink *link() { return lcd.link; }
    void callback(DWORD buttons) { on_soft_buttons(0, buttons, lcd.link); }
    // The events of all four buttons, as the main loop asks for them on a tick.
    std::vector<int> tick()
    {
        std::vector<int> events;
        for (int i = 0; i < LCD_BUTTONS; i++)
            events.push_back(lcd_button_event(&lcd, i));
        return events;
    }
};

const std::vector<int> NOTHING = {0, 0, 0, 0};

TEST_F(Buttons, ShortPressFromTheTestWindow)
{
    clock_now = 5000;
    lcd_button_down(&lcd, 2);
    clock_now = 5100;
    EXPECT_EQ(tick(), NOTHING); // still held, undecided
    clock_now = 5300;
    lcd_button_up(&lcd, 2);
    clock_now = 5350;
    EXPECT_EQ(tick(), (std::vector<int>{0, 0, BUTTON_SHORT, 0}));
    EXPECT_EQ(tick(), NOTHING); // reported once
}

TEST_F(Buttons, LongPressIsReportedWhileHeldAndNotAgainAtRelease)
{
    clock_now = 10000;
    lcd_button_down(&lcd, 0);
    for (uint32_t t = 10100; t < 10500; t += 100) {
        clock_now = t;
        EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_NONE) << t;
    }
    clock_now = 10500;
    EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_LONG);
    clock_now = 12000;
    lcd_button_up(&lcd, 0); // press_time is 0: not recorded
    EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_NONE);
}

TEST_F(Buttons, PressesThroughTheCallback)
{
    clock_now = 20000;
    callback(1 << 3);
    clock_now = 20200;
    callback(0);
    clock_now = 20250;
    EXPECT_EQ(tick(), (std::vector<int>{0, 0, 0, BUTTON_SHORT}));

    clock_now = 30000;
    callback(1 << 1);
    clock_now = 30700;
    callback(0);
    EXPECT_EQ(tick(), (std::vector<int>{0, BUTTON_LONG, 0, 0}));
}

TEST_F(Buttons, CtrlGivesNextPageForThatButtonOnly)
{
    clock_now = 40000;
    ctrl_down = 1;
    callback(1 << 3);
    ctrl_down = 0;
    clock_now = 40050;
    EXPECT_EQ(tick(), (std::vector<int>{0, 0, 0, BUTTON_NEXT_PAGE}));
    // The press recorded with it went with the flag: the release gives nothing.
    clock_now = 41000;
    callback(0);
    EXPECT_EQ(tick(), NOTHING);
}

TEST_F(Buttons, CtrlHeldOnlyDuringTheReleaseDoesNotCount)
{
    clock_now = 40000;
    callback(1);
    ctrl_down = 1;
    clock_now = 40100;
    callback(0);
    EXPECT_EQ(tick(), (std::vector<int>{BUTTON_SHORT, 0, 0, 0}));
}

TEST_F(Buttons, AllFourTogetherRequestQuit)
{
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
    callback(15);
    EXPECT_EQ(lcd_quit_requested(&lcd), 1);
}

TEST_F(Buttons, ThreeThenTheFourthRequestQuit)
{
    callback(1);
    callback(1 | 2);
    callback(1 | 2 | 8);
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
    callback(15);
    EXPECT_EQ(lcd_quit_requested(&lcd), 1);
}

TEST_F(Buttons, QuitStartsAtZeroOnANewLink)
{
    callback(15);
    ASSERT_EQ(lcd_quit_requested(&lcd), 1);
    link_stop(&lcd, 1);
    EXPECT_EQ(lcd_quit_requested(&lcd), 0); // no link
    ASSERT_EQ(link_start(&lcd), 1);
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
}

TEST_F(Buttons, HeldButtonAfterItsLongPressStartsANewPress)
{
    clock_now = 50000;
    callback(1);
    clock_now = 50600;
    ASSERT_EQ(lcd_button_event(&lcd, 0), BUTTON_LONG);
    clock_now = 50700;
    callback(1 | 2); // button 0 still down, button 1 joins
    clock_now = 50800;
    callback(0);
    EXPECT_EQ(tick(), (std::vector<int>{BUTTON_SHORT, BUTTON_SHORT, 0, 0}));
}

TEST_F(Buttons, PressAtClockZeroIsStillRecorded)
{
    clock_now = 0;
    callback(1);
    EXPECT_NE(link()->press_time[0], 0u);
    clock_now = 100;
    callback(0);
    EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_SHORT);

    clock_now = 0;
    lcd_button_down(&lcd, 1);
    clock_now = 200;
    lcd_button_up(&lcd, 1);
    EXPECT_EQ(lcd_button_event(&lcd, 1), BUTTON_SHORT);
}

TEST_F(Buttons, ClockWrapBetweenPressAndRelease)
{
    clock_now = 0xFFFFFF00u;
    lcd_button_down(&lcd, 0);
    clock_now = 0x10;
    lcd_button_up(&lcd, 0);
    EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_SHORT);

    // A long hold across the wrap is lost, and the record is cleared.
    clock_now = 0xFFFFFF00u;
    lcd_button_down(&lcd, 1);
    clock_now = 0x300;
    EXPECT_EQ(lcd_button_event(&lcd, 1), BUTTON_NONE);
    EXPECT_EQ(link()->press_time[1], 0u);
}

TEST_F(Buttons, ButtonOutsideZeroToThreeIsIgnored)
{
    lcd_button_down(&lcd, -1);
    lcd_button_down(&lcd, 4);
    lcd_button_up(&lcd, 4);
    EXPECT_EQ(lcd_button_event(&lcd, -1), BUTTON_NONE);
    EXPECT_EQ(lcd_button_event(&lcd, 4), BUTTON_NONE);
    EXPECT_EQ(lcd_button_event(&lcd, 1000000), BUTTON_NONE);
}

TEST_F(Buttons, EventWaitsAtMost50MsForTheMutexAndKeepsThePress)
{
    clock_now = 60000;
    callback(4);
    clock_now = 60100;
    callback(0);

    HANDLE held = CreateEventA(0, TRUE, FALSE, 0), release = CreateEventA(0, TRUE, FALSE, 0);
    std::thread holder([&] {
        WaitForSingleObject(link()->mutex, 1000);
        SetEvent(held);
        WaitForSingleObject(release, 5000);
        ReleaseMutex(link()->mutex);
    });
    ASSERT_EQ(WaitForSingleObject(held, 2000), WAIT_OBJECT_0);
    DWORD start = GetTickCount();
    EXPECT_EQ(lcd_button_event(&lcd, 2), BUTTON_NONE);
    DWORD waited = GetTickCount() - start;
    SetEvent(release);
    holder.join();
    EXPECT_GE(waited, 40u);
    EXPECT_LT(waited, 500u);
    EXPECT_EQ(lcd_button_event(&lcd, 2), BUTTON_SHORT); // seen on the next tick
    CloseHandle(held);
    CloseHandle(release);
}

TEST_F(Buttons, AbandonedMutexDoesNotLockTheButtonsOut)
{
    std::thread dies_holding([&] { WaitForSingleObject(link()->mutex, 1000); });
    dies_holding.join();
    // The first taker finds it abandoned and gives it back; later ones work.
    lcd_button_event(&lcd, 0);
    clock_now = 70000;
    callback(1);
    clock_now = 70100;
    callback(0);
    EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_SHORT);
}

TEST_F(Buttons, CallbackStormStaysBounded)
{
    // 10,000 changes from another thread while the main loop asks every
    // "tick": every call returns within its bound, and the storm ends.
    volatile LONG done = 0;
    std::thread storm([&] {
        for (int n = 0; n < 10000; n++)
            on_soft_buttons(0, (DWORD)(n & 7), lcd.link);
        done = 1;
    });
    DWORD slowest = 0;
    int ticks = 0;
    DWORD start = GetTickCount();
    while (!done && GetTickCount() - start < 20000) {
        for (int i = 0; i < LCD_BUTTONS; i++) {
            DWORD before = GetTickCount();
            int event = lcd_button_event(&lcd, i);
            DWORD took = GetTickCount() - before;
            slowest = took > slowest ? took : slowest;
            EXPECT_GE(event, BUTTON_NONE);
            EXPECT_LE(event, BUTTON_NEXT_PAGE);
        }
        clock_now += 7;
        ticks++;
    }
    storm.join();
    EXPECT_EQ(done, 1);
    EXPECT_LT(slowest, 500u); // 50 ms wait plus scheduling under Wine
    EXPECT_EQ(lcd_quit_requested(&lcd), 0); // never all four
    EXPECT_GT(ticks, 0);
}

TEST(ButtonsWithoutLink, EverythingIsQuiet)
{
    Lcd lcd{};
    lcd_button_down(&lcd, 0);
    lcd_button_up(&lcd, 0);
    EXPECT_EQ(lcd_button_event(&lcd, 0), BUTTON_NONE);
    EXPECT_EQ(lcd_quit_requested(&lcd), 0);
    lcd_enable_hid(&lcd, 1); // nothing to switch
    EXPECT_EQ(on_soft_buttons(0, 15, nullptr), 0u);
}

} // namespace
