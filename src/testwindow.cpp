// The test window. See testwindow.h.
#include "testwindow.h"

#include <windowsx.h>

#include <string.h>

#include "app.h"
#include "lcd.h"
#include "lcd_thread.h"
#include "slots.h"

static const char WINDOW_CLASS[] = TESTWINDOW_CLASS;
static const DWORD WINDOW_STYLE = 0x80C80000; // pop-up, caption, system menu
static const DWORD RASTER_INVERTED_SOURCE = 0x330008;
static const int CLIENT_WIDTH = 324;
static const int CLIENT_HEIGHT = 90;
static const int IMAGE_LEFT = 2;
static const int IMAGE_TOP = 2;
static const int IMAGE_SCALE = 2;

// What the window shows: a copy of each frame as it is handed to the link.
// The link record itself may be freed by its thread at any moment (watchdog
// restart, end of a pass), so the window never reads it.
static uint8_t shown_frame[LCD_FRAME_BYTES];
static struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
} shown_bitmap_info;

static void init_shown_bitmap_info(void)
{
    BITMAPINFOHEADER *h = &shown_bitmap_info.header;
    h->biSize = sizeof(BITMAPINFOHEADER);
    h->biWidth = LCD_WIDTH;
    h->biHeight = -LCD_HEIGHT;
    h->biPlanes = 1;
    h->biBitCount = 8;
    h->biCompression = BI_RGB;
    h->biSizeImage = LCD_FRAME_BYTES;
    h->biClrUsed = 256;
    h->biClrImportant = 256;
    for (int i = 0; i < 256; i++) {
        RGBQUAD *q = &shown_bitmap_info.colours[i];
        q->rgbBlue = q->rgbGreen = q->rgbRed = (BYTE)i;
        q->rgbReserved = 0;
    }
}

void testwindow_keep_frame(const uint8_t *frame)
{
    if (frame)
        memcpy(shown_frame, frame, LCD_FRAME_BYTES);
}

int paint_display(void *dc, int left, int top, int scale)
{
    if (!g_lcd.link)
        return 0;
    if (!shown_bitmap_info.header.biSize)
        init_shown_bitmap_info();
    return StretchDIBits((HDC)dc, left, top, LCD_WIDTH * scale, LCD_HEIGHT * scale, 0, 0, LCD_WIDTH,
                         LCD_HEIGHT, shown_frame, (const BITMAPINFO *)&shown_bitmap_info,
                         DIB_RGB_COLORS, RASTER_INVERTED_SOURCE);
}

int window_hit_test(int x, int y)
{
    if (x < IMAGE_LEFT || y < IMAGE_TOP)
        return -1;
    int px = x / IMAGE_SCALE, py = y / IMAGE_SCALE;
    for (int i = 0; i < SLOT_COUNT; i++) {
        const Slot *s = &g_slots[i];
        if (s->x <= px && px <= s->x + SLOT_WIDTH - 1 && s->y <= py && py <= s->y + SLOT_HEIGHT - 1)
            return i;
    }
    return -1;
}

const char *unresponsive_title(int tick)
{
    unsigned phase = (unsigned)tick % 90;
    if (phase < 30)
        return PIXWICK_NAME;
    if (phase < 60)
        return "Your G15 is unresponsive!";
    return "Try updating Logitech drivers.";
}

static int hit_slot(LPARAM position)
{
    return window_hit_test(GET_X_LPARAM(position), GET_Y_LPARAM(position));
}

// The panel a left press went down on (window thread only). Its release is
// recorded wherever the mouse lets go, so a click that ends beside the panel
// is still a short press, never a long one.
static int pressed_slot = -1;

static void release_pressed_slot(void)
{
    if (pressed_slot >= 0)
        lcd_button_up(&g_lcd, pressed_slot);
    pressed_slot = -1;
}

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    int i;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        paint_display(dc, IMAGE_LEFT, IMAGE_TOP, IMAGE_SCALE);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_CLOSE:
        quit_requested = quit_requested + 1;
        break;
    case WM_ENDSESSION: // wparam 0: the log-off or shut-down was cancelled
        if (wparam)
            quit_requested = quit_requested + 1;
        break;
    case WM_LBUTTONDOWN:
        if ((i = hit_slot(lparam)) >= 0) {
            release_pressed_slot();
            pressed_slot = i;
            lcd_button_down(&g_lcd, i);
            SetCapture(window);
        }
        return 0;
    case WM_LBUTTONUP:
        release_pressed_slot();
        ReleaseCapture();
        return 0;
    case WM_CAPTURECHANGED: // taken away (a window in front, a system menu)
        release_pressed_slot();
        return 0;
    case WM_RBUTTONDOWN:
        if ((i = hit_slot(lparam)) >= 0)
            slot_next_page(&g_slots[i]);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

DWORD WINAPI testwindow_thread(LPVOID unused)
{
    (void)unused;
    RECT outer = {0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
    AdjustWindowRect(&outer, WINDOW_STYLE, FALSE);

    WNDCLASSEXA wc;
    memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window_procedure;
    wc.hInstance = app_instance;
    wc.hCursor = (HCURSOR)LoadImageA(NULL, MAKEINTRESOURCEA(32512), IMAGE_CURSOR, 0, 0,
                                     LR_SHARED | LR_DEFAULTSIZE); // IDC_ARROW
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = WINDOW_CLASS;
    RegisterClassExA(&wc);

    main_window = CreateWindowExA(0, WINDOW_CLASS, PIXWICK_NAME, WINDOW_STYLE, CW_USEDEFAULT,
                                  CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top,
                                  NULL, NULL, app_instance, NULL);

    MSG msg;
    while (main_window && !quit_requested) {
        // -1 (the window is gone) ends the loop as well as WM_QUIT does
        if (GetMessageA(&msg, main_window, 0, 0) <= 0)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    quit_requested = quit_requested + 1;
    if (main_window) {
        HWND window = main_window;
        main_window = 0;
        DestroyWindow(window);
    }
    return 0;
}
