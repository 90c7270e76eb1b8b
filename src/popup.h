// Pop-up notices in the band of rows 8..20, one at a time, in the large font.
#pragma once
#include <stdint.h>

struct Lcd;

struct PopupMessage {
    uint32_t key;      // 0: ordinary notice, else replacement key
    uint32_t duration; // ms per hold phase
    char text[512];    // UTF-8, always terminated
    PopupMessage *next;
};

struct PopupQueue {
    uint32_t phase_start;
    int offset;
    int state; // 0 not started, 1 first hold, 2 scrolling, 3 last hold
    int step;
    PopupMessage *head;
};

extern PopupQueue g_popups;

int popup(PopupQueue *queue, uint32_t key, int duration_ms, const char *format, ...);
int popup_render(PopupQueue *queue);
void popup_clear(PopupQueue *queue);

// popup_render is popup_begin_tick, the drawing of the head text at
// x = -offset (which yields its width), then popup_end_tick. The two halves
// hold all of the queue's timing; they need a head notice.
void popup_begin_tick(PopupQueue *queue, uint32_t now);
void popup_end_tick(PopupQueue *queue, uint32_t now, int width);
