// Event ticker: short live labels drawn from the right edge over the band.
#pragma once
#include <stdint.h>

enum { TICKER_PLACES = 16 };

struct EventTicker {
    int linger; // ms, 0..2000
    char *labels[TICKER_PLACES];
    uint32_t stamps[TICKER_PLACES];
};

extern EventTicker g_ticker;

void ticker_start(EventTicker *ticker);
void ticker_add(EventTicker *ticker, const char *text);
void ticker_set_linger(EventTicker *ticker, int ms);
void ticker_render(EventTicker *ticker);
void ticker_clear(EventTicker *ticker);
