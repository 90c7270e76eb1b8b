// The LCD object: drawing surface (memory DC + 8-bit top-down DIB section
// holding the frame), fonts, the link to the display and the LCD Manager data.
#pragma once
#include <windows.h>
#include <stdint.h>
#include "frame.h"

struct LcdLink;

struct Lcd {
    // drawing surface; all null when there is none
    HDC dc;
    BITMAPINFO *bitmap_info; // 1068-byte heap block: header + grey ramp
    HBITMAP dib;
    uint8_t *frame;          // 6880 bytes owned by dib
    HFONT small_font;
    HFONT large_font;

    // link to the display
    HANDLE link_thread;
    LcdLink *link;
    // Held shared by the window thread while it uses `link`, exclusive while
    // the main thread replaces it: a detached record may be freed at once.
    SRWLOCK link_guard;
    char app_name[256];
    int autostartable;
    int persistent;
    int device_index;
    volatile LONG hid; // the HID fallback's switch; every new link starts with it

    // LCD Manager install data
    char version[64];
    char install_path[MAX_PATH];
};

extern Lcd g_lcd;

int lcd_create_surface(Lcd *lcd);
void lcd_destroy_surface(Lcd *lcd);

// Stores the link settings, starts the link thread and creates the surface.
// 0 when either fails (nothing is left running).
int lcd_open(Lcd *lcd, const char *name, int autostartable, int persistent, int device_index);
// Hands a copy of the frame to the link thread and clears the frame. 1 when a
// connected link took it; 0 otherwise (no surface or link, the link not
// connected, or the link replaced because it stopped taking frames). Never
// waits for the link thread.
int lcd_submit(Lcd *lcd);

int lcd_bitmap(Lcd *lcd, int flags, int x, int y, int width, int height, const char *pixels);

int lcd_text_wide(Lcd *lcd, int flags, int x, int y, const wchar_t *text);
int lcd_text(Lcd *lcd, int flags, int x, int y, const char *text);
int lcd_text_utf8(Lcd *lcd, int flags, int x, int y, const char *text);
void lcd_set_small_font(Lcd *lcd, const char *face, int height);
void lcd_set_large_font(Lcd *lcd, const char *face, int height);
