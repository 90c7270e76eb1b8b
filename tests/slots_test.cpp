#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app.h"
#include "config.h"
#include "golden.h"
#include "lcd.h"
#include "lcdmon_session.h"
#include "log_files.h"
#include "main.h"
#include "modules.h"
#include "slots.h"
#include "testwindow.h"
#include "popup.h"
#include "topline.h"

namespace {

const int COLUMNS[SLOT_COUNT] = {0, 40, 81, 121};

void place_slots(int y)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        g_slots[i] = Slot{}, g_slots[i].number = i, g_slots[i].x = COLUMNS[i], g_slots[i].y = y;
}

// A parsed slot as text: "code:variants" per entry, "*" for a pending long press.
std::string parsed(const char *value)
{
    Slot slot{};
    slot_parse_value(&slot, value);
    std::string text;
    for (int k = 0; k < slot.count; k++)
        text += std::string(slot.codes[k]) + ":" + std::to_string(slot.variants[k]) + " ";
    return text + (slot.pending_action == 2 ? "*" : "");
}

TEST(SlotParse, TokensTable)
{
    const char *cases[][2] = {
        {"CPU++", "CPU:2 "}, {"NET*", "NET:0 *"}, {"stw", "stw:0 "}, {"TS3+*", "TS3:1 *"}, {" \t ", ""},
        {"xyzzy  \tNET+ ", "xyz:0 NET:1 "}, {"A B C D E F G H I*", "A:0 B:0 C:0 D:0 E:0 F:0 G:0 H:0 "},
        {"NET++++++++++++++++++++++++++++*", "NET:28 *"}, // 32 characters
        {"NET+++++++++++++++++++++++++++++*", "NET:29 "}, // 33: '*' cut off
    };
    for (auto &c : cases)
        EXPECT_EQ(parsed(c[0]), c[1]) << c[0];
}

TEST(SlotParse, KeysPlacesVariantsAndStarWhenTheListChanges)
{
    config_clear(&g_config);
    config_put(&g_config.entries, "SLOT_2", "clk* NET+ NET++");
    config_put(&g_config.entries, "slot_1", "TS2 TS3 CLK");
    for (int i = 0; i < SLOT_COUNT; i++)
        slot_init(&g_slots[i], i);
    EXPECT_EQ(g_slots[0].count, 0) << "missing key";
    EXPECT_EQ(g_slots[1].count, 3);
    EXPECT_STREQ(g_slots[2].codes[0], "clk");
    EXPECT_EQ(slot_variant(&g_slots[2], "net"), 1) << "first entry, any case";
    EXPECT_EQ(slot_variant(&g_slots[1], "NET"), 0);
    g_slots[2].pending_action = 0; // the module consumed the press
    g_slots[2].start_index = 1;    // the user paged on
    slot_parse(&g_slots[2]);       // a reload with this list unchanged
    EXPECT_TRUE(g_slots[2].pending_action == 0 && g_slots[2].start_index == 1);
    config_put(&g_config.entries, "slot_2", "clk* NET+ NET++ STW");
    slot_parse(&g_slots[2]);
    EXPECT_TRUE(g_slots[2].pending_action == 2 && g_slots[2].start_index == 0);
    config_clear(&g_config);
}

std::set<std::string> g_drawing;
std::string g_calls; // "code slot " per render call

int scripted_render(const char *code, int slot)
{
    g_calls += std::string(code) + (char)('0' + slot) + " ";
    return (int)g_drawing.count(code);
}

TEST(Dispatcher, WalkNextPageAndSlots)
{
    slot_render_module = scripted_render;
    struct Case { const char *list; std::set<std::string> drawing; int start, shown; const char *calls; } cases[] = {
        {"CPU NET", {"CPU", "NET"}, 1, 1, "NET0 "},
        {"TS2 TS3 CLK", {"CLK"}, 0, 2, "TS20 TS30 CLK0 "},
        {"AMP TUN FPS", {}, 2, 2, "FPS0 AMP0 TUN0 "}, // none drew: stays
        {"CPU NET", {"CPU", "NET"}, 2, 0, "CPU0 "},   // empty places wrap
        {"CPU", {"CPU"}, 9, 0, "CPU0 "},              // out of range
        {"", {}, 0, 0, ""},
    };
    for (const Case &c : cases) {
        Slot s{};
        slot_parse_value(&s, c.list);
        s.start_index = c.start, g_drawing = c.drawing, g_calls.clear();
        EXPECT_EQ(slot_walk(&s, 0), c.shown) << c.list;
        EXPECT_EQ(s.shown_index, c.shown) << c.list;
        EXPECT_EQ(g_calls, c.calls);
    }
    const int next[][2] = {{0, 1}, {6, 7}, {7, 0}}; // shown, start after a next page
    for (const int *c : next) {
        Slot s{};
        s.shown_index = c[0];
        slot_next_page(&s);
        EXPECT_EQ(s.start_index, c[1]);
    }
    place_slots(22);
    slot_parse_value(&g_slots[0], "CPU");
    slot_parse_value(&g_slots[3], "CLK STW");
    g_drawing = {"CPU", "STW"}, g_calls.clear();
    slots_render();
    EXPECT_EQ(g_calls, "CPU0 CLK3 STW3 ");
    slot_render_module = module_render_by_code;
}

TEST(SlideIn, RowsByStep)
{
    const int cases[][6] = { // v, counter after, rows of the four slots
        {2, 3, 42, 48, 54, 60},   {3, 4, 99, 99, 99, 99},   {22, 23, 22, 28, 34, 40}, {34, 35, 22, 22, 22, 28},
        {44, 45, 22, 22, 22, 22}, {46, 0, 22, 22, 22, 22},  {0, 0, 22, 22, 22, 22},   {-5, 0, 22, 22, 22, 22},
        {INT_MAX, 46, 99, 99, 99, 99},
    };
    for (const int *c : cases) {
        place_slots(99);
        int counter = c[0];
        animate_start(&counter);
        EXPECT_EQ(counter, c[1]) << c[0];
        for (int i = 0; i < SLOT_COUNT; i++)
            EXPECT_EQ(g_slots[i].y, c[2 + i]) << "v " << c[0] << " slot " << i;
    }
}

TEST(TestWindow, HitTestFollowsThePanels)
{
    place_slots(22);
    const int cases[][3] = { // client x, y, slot
        {0, 50, -1}, {1, 50, -1},  {2, 50, 0},  {2, 43, -1},   {2, 44, 0},    {2, 85, 0},   {2, 86, -1},
        {77, 50, 0}, {78, 50, -1}, {80, 50, 1}, {158, 50, -1}, {162, 50, 2}, {319, 85, 3}, {320, 50, -1},
    };
    for (const int *c : cases)
        EXPECT_EQ(window_hit_test(c[0], c[1]), c[2]) << c[0] << "," << c[1];
    g_slots[0].y = 42; // sliding in
    EXPECT_EQ(window_hit_test(2, 50), -1);
    EXPECT_EQ(window_hit_test(2, 84), 0);
}

TEST(TestWindow, TitleByTickModulo90)
{
    const char *name = "Pixwick 2.8.5", *hung = "Your G15 is unresponsive!", *update = "Try updating Logitech drivers.";
    const int ticks[] = {0, 29, 30, 59, 60, 89, 1230, 1200};
    const char *titles[] = {name, name, hung, hung, update, update, update, hung};
    for (int k = 0; k < 8; k++)
        EXPECT_STREQ(unresponsive_title(ticks[k]), titles[k]) << ticks[k];
}

class Ticks : public ::testing::Test {
protected:
    MainLoop loop{};
    AppClock saved_clock = app_clock;
    char name[MAX_PATH] = "";

    void SetUp() override
    {
        app_clock = [] { return (uint32_t)1000; };
        config_clear(&g_config);
        ASSERT_EQ(lcd_create_surface(&g_lcd), 1); // a surface but no link: every submit fails
        tick_count = 0;
        g_general.config_refresh = g_general.animate_start = g_general.use_hid = 0;
        for (int i = 0; i < SLOT_COUNT; i++)
            slot_init(&g_slots[i], i);
        topline_start(&g_topline);
    }
    void TearDown() override
    {
        if (name[0])
            DeleteFileA(name);
        if (char *slash = strrchr(name, '\\'))
            *slash = 0, RemoveDirectoryA(name);
        topline_stop(&g_topline);
        popup_clear(&g_popups);
        lcd_destroy_surface(&g_lcd);
        config_clear(&g_config);
        app_clock = saved_clock;
    }
    void ticks(int n)
    {
        while (n--)
            main_tick(&loop);
    }
    bool popup_queued(const char *text)
    {
        PopupMessage *m = g_popups.head;
        while (m && strcmp(m->text, text) != 0)
            m = m->next;
        return m != nullptr;
    }
    void edit_config() // moves its time back
    {
        HANDLE file = CreateFileA(name, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
        FILETIME t;
        GetFileTime(file, 0, 0, &t);
        t.dwHighDateTime -= 1;
        ASSERT_TRUE(SetFileTime(file, 0, 0, &t));
        CloseHandle(file);
    }
};

class Panel : public Ticks {};

// Slot 1's frame and label; slot 3 sliding in (only its top edge on the
// display); "42" right-aligned by slot_text at offsets (3, 7) in slot 1,
// (-10, -8) in slot 0 and (-1, -1) in slot 2: columns 44, 28 and 118, top
// rows 30, 35 and 42 (negative offsets count from the right and the bottom).
TEST_F(Panel, FrameEdgesLabelUnderlineAndText)
{
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    slot_draw_frame(&g_slots[1], "CPU");
    g_slots[3].y = 42;
    slot_draw_frame(&g_slots[3], "CLK");
    slot_text(&g_slots[1], TXT_TINY | TXT_RIGHT, 3, 7, "42");
    slot_text(&g_slots[0], TXT_TINY | TXT_RIGHT, -10, -8, "42");
    slot_text(&g_slots[2], TXT_TINY | TXT_RIGHT, -1, -1, "42");
    EXPECT_GOLDEN("panel_frames", g_lcd.frame);
}

TEST_F(Ticks, UseHid3FiresOnceAtTheThirdFailingSecond)
{
    g_general.use_hid = 3;
    ticks(20);
    EXPECT_FALSE(popup_queued("Enabling HID access"));
    ticks(1); // tick 20: the third second tick
    EXPECT_TRUE(popup_queued("Enabling HID access"));
    popup_clear(&g_popups);
    ticks(100);
    EXPECT_FALSE(popup_queued("Enabling HID access"));
}

// A broken LCD Manager install with auto-start on: no tick waits for the
// launch, the launches come 4, 8, 16 ... seconds apart, and their failure is
// written once.
TEST_F(Ticks, AutoStartNeverBlocksAndBacksOff)
{
    StandInSession no_lcdmon; // holds off the tests that run an LCD Manager window
    ASSERT_TRUE(no_lcdmon.ready);
    log_forget_repeats();
    static uint32_t now;
    now = 1000;
    app_clock = [] { return now; };
    g_general.lcdmon_starting = 1;
    const Lcd saved = g_lcd;
    strcpy(g_lcd.install_path, "C:\\no\\such\\LCD Manager");
    const int logged = count_occurrences(read_binary_file(log_path("errors.txt")), "failed to launch");
    std::vector<uint32_t> launches;
    DWORD slowest = 0;
    for (int tick = 0; tick < 6000; tick++, now += 100) {
        DWORD before = GetTickCount();
        main_tick(&loop);
        slowest = std::max(slowest, GetTickCount() - before);
        if (launches.empty() || launches.back() != loop.lcdmon_launched_ms)
            launches.push_back(loop.lcdmon_launched_ms);
    }
    strcpy(g_lcd.install_path, saved.install_path);
    EXPECT_LT(slowest, 500u) << "a tick waited for the LCD Manager";
    std::vector<uint32_t> gaps;
    for (size_t k = 1; k < launches.size(); k++)
        gaps.push_back((launches[k] - launches[k - 1]) / 1000);
    EXPECT_EQ(gaps, (std::vector<uint32_t>{4, 8, 16, 32, 64, 128, 256}));
    EXPECT_EQ(count_occurrences(read_binary_file(log_path("errors.txt")), "failed to launch") - logged, 1);
}

TEST_F(Ticks, ReloadDuringTheSlideInPutsThePanelsInPlaceAndRefreshZeroNeverLooks)
{
    g_general.config_refresh = 10, g_general.animate_start = 1;
    char temp[MAX_PATH]; // a pixwick.txt of its own, found through exe_dir, where a reload looks for it
    GetTempPathA(sizeof temp, temp);
    snprintf(g_config.exe_dir, sizeof g_config.exe_dir, "%sslots_reload_%lu\\", temp, (unsigned long)GetCurrentProcessId());
    CreateDirectoryA(g_config.exe_dir, 0);
    snprintf(name, sizeof name, "%spixwick.txt", g_config.exe_dir);
    FILE *f = fopen(name, "wb");
    ASSERT_NE(f, nullptr);
    fputs("slot_0 CPU\n", f);
    fclose(f);
    ASSERT_GT(config_load_file(&g_config, "pixwick.txt", 1), 0); // now watched
    ticks(10);
    edit_config();
    ticks(9); // ticks 10..18: only tick 10 looks
    EXPECT_TRUE(popup_queued("Configuration updated"));
    EXPECT_EQ(g_general.animate_start, 0);
    for (int i = 0; i < SLOT_COUNT; i++)
        EXPECT_EQ(g_slots[i].y, 22) << i;

    popup_clear(&g_popups);
    g_general.config_refresh = 0, edit_config();
    ticks(30);
    EXPECT_FALSE(popup_queued("Configuration updated"));
}

// Slots 1 and 3 show their panel frames. The client area keeps its 2-pixel
// border; inside it every display pixel is a 2 x 2 block, black where lit.
TEST_F(Ticks, WindowPaintsTheFrameTwiceEnlargedAndInverted)
{
    HDC dc = CreateCompatibleDC(0);
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), 324, -90, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    uint32_t *px = 0;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, (void **)&px, 0, 0);
    ASSERT_NE(bitmap, nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    std::fill(px, px + 324 * 90, 0x808080u);
    EXPECT_EQ(paint_display(dc, 2, 2, 2), 0) << "no link: nothing painted";

    lcd_destroy_surface(&g_lcd);
    ASSERT_EQ(lcd_open(&g_lcd, "slots_test", 1, 1, 0), 1);
    slot_render_module = [](const char *code, int slot) { return slot_draw_frame(&g_slots[slot], code), 1; };
    slot_parse_value(&g_slots[1], "CPU"), slot_parse_value(&g_slots[3], "CLK");
    ticks(1);
    slot_render_module = module_render_by_code;
    EXPECT_NE(paint_display(dc, 2, 2, 2), 0);
    GdiFlush();
    uint8_t shown[LCD_FRAME_BYTES]; // the display pixel of each block's top-left client pixel
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        shown[i] = px[(2 + i / LCD_WIDTH * 2) * 324 + 2 + i % LCD_WIDTH * 2] & 0xFFFFFF ? 0 : 255;
    int wrong = 0;
    for (int y = 0; y < 90; y++)
        for (int x = 0; x < 324; x++)
            wrong += (px[y * 324 + x] & 0xFFFFFF) != (x < 2 || y < 2 || x >= 322 || y >= 88 ? 0x808080u
                                                      : shown[(y - 2) / 2 * LCD_WIDTH + (x - 2) / 2] ? 0 : 0xFFFFFFu);
    EXPECT_EQ(wrong, 0);
    EXPECT_GOLDEN_AREA("window_panels", shown, 0, 22, 160, 21);
    DeleteObject(SelectObject(dc, old));
    DeleteDC(dc);
}

} // namespace
