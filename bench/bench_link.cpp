// Benchmark of the frame hand-off against the LCD Manager stand-in in light
// mode (its update costs next to nothing, so what is measured is Pixwick's):
//   - the main thread's cost of lcd_submit (copy, clear, user-mode lock, wake
//     of the link thread), connected and not connected;
//   - the delay from lcd_submit to the frame's arrival in the stand-in's
//     shared block (time stamps of one clock shared by both processes).
// Run it from the build tree (it starts standins\lcdmon\LCDMon.exe there):
//   scripts/wine-run build/win64/bench_link.exe [frames]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "lcdmon_session.h"
#include "lcd_thread.h"

namespace {

const int DEFAULT_FRAMES = 300;
const DWORD FRAME_SPACING_MS = 20;

struct Stats {
    double median;
    double p90;
    double worst;
};

Stats stats_of(std::vector<double> values)
{
    Stats s = {0, 0, 0};
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.median = values[values.size() / 2];
    s.p90 = values[values.size() * 9 / 10];
    s.worst = values.back();
    return s;
}

void print(const char *what, const std::vector<double> &values)
{
    Stats s = stats_of(values);
    printf("%-44s median %8.1f us   p90 %8.1f us   worst %8.1f us   (n=%zu)\n", what, s.median, s.p90,
           s.worst, values.size());
}

// Frame count and the arrival time of display 0's latest frame.
bool latest_arrival(uint32_t *count, int64_t *time_us)
{
    LcdMonAccess access;
    if (!lcdmon_attach(&access))
        return false;
    bool ok = lcdmon_lock(access.lock, 1000);
    if (ok) {
        *count = access.block->frame_count[0];
        *time_us = access.block->frame_time_us[0];
        ReleaseMutex(access.lock);
    }
    lcdmon_detach(&access);
    return ok;
}

void draw(uint8_t *frame, int n)
{
    for (int i = 0; i < LCD_FRAME_BYTES; i++)
        frame[i] = ((i + n) & 3) ? 0 : 255;
}

// Submit cost while the link has no display (the copy and clear still run).
std::vector<double> submit_cost_disconnected(Lcd *lcd, int frames)
{
    std::vector<double> costs;
    for (int n = 0; n < frames; n++) {
        draw(lcd->frame, n);
        int64_t before = lcdmon_now_us();
        lcd_submit(lcd);
        costs.push_back((double)(lcdmon_now_us() - before));
        Sleep(2);
    }
    return costs;
}

int run(int frames)
{
    StandInSession session;
    if (!session.ready || !session.register_standin() || !session.start("--light")) {
        fprintf(stderr, "bench_link: cannot start the LCD Manager stand-in\n");
        return 1;
    }
    Lcd lcd = {};
    if (!lcd_open(&lcd, "Wick's panel", 1, 1, 0)) {
        fprintf(stderr, "bench_link: lcd_open failed\n");
        return 1;
    }
    if (!WAIT_UNTIL(lcd.link && lcd.link->disconnected == 0, 10000)) {
        fprintf(stderr, "bench_link: the link did not connect\n");
        lcd_destroy_surface(&lcd);
        return 1;
    }

    std::vector<double> costs, delays;
    int lost = 0;
    for (int n = 0; n < frames; n++) {
        uint32_t count_before = 0, count_after = 0;
        int64_t arrived = 0;
        latest_arrival(&count_before, &arrived);
        draw(lcd.frame, n);
        int64_t before = lcdmon_now_us();
        int taken = lcd_submit(&lcd);
        int64_t after = lcdmon_now_us();
        costs.push_back((double)(after - before));
        if (!taken || !WAIT_UNTIL(latest_arrival(&count_after, &arrived) && count_after != count_before, 1000)) {
            lost++;
            continue;
        }
        delays.push_back((double)(arrived - before));
        Sleep(FRAME_SPACING_MS);
    }
    print("lcd_submit main-thread cost (connected)", costs);
    print("lcd_submit to arrival in the stand-in", delays);
    if (lost)
        printf("frames not seen to arrive: %d\n", lost);

    session.stop();
    WAIT_UNTIL(lcd.link && lcd.link->disconnected == 1, 3000);
    print("lcd_submit main-thread cost (no display)", submit_cost_disconnected(&lcd, frames));
    lcd_destroy_surface(&lcd);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    int frames = argc > 1 ? atoi(argv[1]) : DEFAULT_FRAMES;
    if (frames < 10 || frames > 100000)
        frames = DEFAULT_FRAMES;
    return run(frames);
}
