// The drawing surface of the LCD (memory DC with an 8-bit top-down DIB section
// whose pixel memory is the frame) and text in the two GDI fonts and the tiny
// font. All of it runs on the main thread only.
#include "lcd.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "lcd_thread.h"
#include "util.h"

// The tiny font works on 16-bit code units; so does wchar_t on Windows.
static_assert(sizeof(wchar_t) == sizeof(uint16_t), "wchar_t must be UTF-16");

Lcd g_lcd;

enum {
    BITMAP_INFO_BYTES = 1068, // 40-byte header, 256 colours and one spare entry
    PIXELS_PER_METER = 3200,
    FACE_CHARS = 31,
};

static const char SOURCE[] = "src/lcd";

static void log_failure(int line, const char *what)
{
    log_error(SOURCE, line, GetLastError(), "%s", what);
    SetLastError(0);
}

static void fill_bitmap_info(BITMAPINFO *info)
{
    BITMAPINFOHEADER *h = &info->bmiHeader;
    h->biSize = sizeof(BITMAPINFOHEADER);
    h->biWidth = LCD_WIDTH;
    h->biHeight = -LCD_HEIGHT; // top-down: row 0 is the top row
    h->biPlanes = 1;
    h->biBitCount = 8;
    h->biCompression = BI_RGB;
    h->biSizeImage = LCD_FRAME_BYTES;
    h->biXPelsPerMeter = PIXELS_PER_METER;
    h->biYPelsPerMeter = PIXELS_PER_METER;
    h->biClrUsed = 256;
    h->biClrImportant = 256;
    // Linear grey ramp: GDI's black lands as 0 and its white as 255.
    for (int i = 0; i < 256; i++) {
        RGBQUAD *q = &info->bmiColors[i];
        q->rgbBlue = q->rgbGreen = q->rgbRed = (BYTE)i;
        q->rgbReserved = 0;
    }
}

// Releases the GDI objects and the header of the surface; each field is null
// afterwards. The DIB section is never left selected into the DC.
static void release_surface(Lcd *lcd)
{
    if (lcd->small_font)
        DeleteObject(lcd->small_font);
    lcd->small_font = 0;
    if (lcd->large_font)
        DeleteObject(lcd->large_font);
    lcd->large_font = 0;
    if (lcd->dib)
        DeleteObject(lcd->dib);
    lcd->dib = 0;
    free(lcd->bitmap_info);
    lcd->bitmap_info = 0;
    lcd->frame = 0; // belonged to the DIB section
    if (lcd->dc)
        DeleteDC(lcd->dc);
    lcd->dc = 0;
}

int lcd_create_surface(Lcd *lcd)
{
    release_surface(lcd); // a surface left over from an earlier open
    lcd->dc = CreateCompatibleDC(0);
    if (!lcd->dc) {
        log_failure(__LINE__, "failed to CreateCompatibleDC");
        return 0;
    }
    lcd->bitmap_info = (BITMAPINFO *)calloc(1, BITMAP_INFO_BYTES);
    if (!lcd->bitmap_info) {
        log_failure(__LINE__, "failed to allocate pBitmapInfo");
        release_surface(lcd);
        return 0;
    }
    fill_bitmap_info(lcd->bitmap_info);
    void *bits = 0;
    lcd->dib = CreateDIBSection(lcd->dc, lcd->bitmap_info, DIB_RGB_COLORS, &bits, 0, 0);
    if (!lcd->dib) {
        log_failure(__LINE__, "failed to CreateDIBSection");
        release_surface(lcd);
        return 0;
    }
    lcd->frame = (uint8_t *)bits;
    // Fixed fonts until the configured ones are applied.
    lcd_set_small_font(lcd, "Lucida Console", -8);
    lcd_set_large_font(lcd, "Microsoft Sans Serif", -11);
    return 1;
}

void lcd_destroy_surface(Lcd *lcd)
{
    release_surface(lcd);
    link_stop(lcd, 1); // a thread hung for 1000 ms is terminated
}

// ---- Frame hand-off to the link thread --------------------------------------

int lcd_open(Lcd *lcd, const char *name, int autostartable, int persistent, int device_index)
{
    snprintf(lcd->app_name, sizeof lcd->app_name, "%s", name ? name : "");
    lcd->autostartable = autostartable;
    lcd->persistent = persistent;
    lcd->device_index = device_index;
    if (!link_start(lcd))
        return 0;
    if (!lcd_create_surface(lcd)) {
        link_stop(lcd, 1);
        return 0;
    }
    return 1;
}

// Abandons the link thread (it ends by itself once its current call returns)
// and starts a fresh one. The fresh one cannot pile up behind it: the client
// answers its init with 1247 until the stuck call has returned.
static void restart_link(Lcd *lcd)
{
    log_error(SOURCE, 368, 0, "LCD not responding - restarting update thread\n");
    link_stop(lcd, 0);
    link_start(lcd);
}

static void hand_over(LcdLink *link, uint8_t *frame, int *pending)
{
    AcquireSRWLockExclusive(&link->lock);
    memcpy(link->frame, frame, LCD_FRAME_BYTES);
    *pending = link->disconnected ? 0 : ++link->pending;
    ReleaseSRWLockExclusive(&link->lock);
    if (*pending)
        WakeConditionVariable(&link->frame_ready);
}

int lcd_submit(Lcd *lcd)
{
    if (!lcd->frame || !lcd->link)
        return 0;
    if (link_call_hung(lcd->link, app_now_ms()))
        restart_link(lcd);
    LcdLink *link = lcd->link;
    if (!link) { // no thread could be started for the fresh link
        memset(lcd->frame, 0, LCD_FRAME_BYTES);
        return 0;
    }
    int pending;
    hand_over(link, lcd->frame, &pending);
    memset(lcd->frame, 0, LCD_FRAME_BYTES); // every tick starts from a dark frame
    if (pending == 0)
        return 0;
    if (pending <= LINK_MAX_PENDING)
        return 1;
    restart_link(lcd); // ten frames in a row not delivered
    return 0;
}

int lcd_bitmap(Lcd *lcd, int flags, int x, int y, int width, int height, const char *pixels)
{
    if (!pixels)
        return 0;
    GdiFlush(); // GDI may still hold text output for the DIB section
    return frame_bitmap(lcd->frame, flags, x, y, width, height, pixels);
}

// Device-context state that a text call changes and puts back.
struct SavedDcState {
    HGDIOBJ bitmap;
    int map_mode;
    int bk_mode;
    HGDIOBJ font;
    COLORREF text_color;
    COLORREF bk_color;
};

static SavedDcState prepare_dc(Lcd *lcd, int flags)
{
    HDC dc = lcd->dc;
    SavedDcState saved;
    saved.bitmap = SelectObject(dc, lcd->dib);
    saved.map_mode = SetMapMode(dc, MM_TEXT);
    saved.bk_mode = SetBkMode(dc, (flags & TXT_OPAQUE) ? OPAQUE : TRANSPARENT);
    saved.font = SelectObject(dc, (flags & TXT_LARGE) ? lcd->large_font : lcd->small_font);
    const int invert = (flags & TXT_INVERT) != 0;
    const COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255);
    saved.text_color = SetTextColor(dc, invert ? black : white);
    saved.bk_color = SetBkColor(dc, invert ? white : black);
    return saved;
}

static void restore_dc(Lcd *lcd, const SavedDcState *saved)
{
    HDC dc = lcd->dc;
    if (saved->map_mode)
        SetMapMode(dc, saved->map_mode);
    if (saved->text_color != CLR_INVALID)
        SetTextColor(dc, saved->text_color);
    if (saved->bk_color != CLR_INVALID)
        SetBkColor(dc, saved->bk_color);
    if (saved->bk_mode)
        SetBkMode(dc, saved->bk_mode);
    if (saved->font && saved->font != HGDI_ERROR)
        SelectObject(dc, saved->font);
    GdiFlush(); // the frame's bytes are final before anyone writes them directly
    if (saved->bitmap && saved->bitmap != HGDI_ERROR)
        SelectObject(dc, saved->bitmap);
}

// Top-left, line breaks honoured, clipped to the rectangle. '&' is drawn as
// it stands: texts come from track titles and people's names ("Simon &
// Garfunkel"), and a display has no mnemonics to underline.
static const UINT GDI_TEXT_FORMAT = DT_NOPREFIX;

static int gdi_text_width(HDC dc, const wchar_t *text)
{
    RECT rect = {0, 0, LCD_WIDTH, LCD_HEIGHT};
    DrawTextW(dc, text, -1, &rect, GDI_TEXT_FORMAT | DT_CALCRECT);
    return rect.right; // not limited to the screen: pop-ups scroll on this
}

static void gdi_text_draw(HDC dc, int x, int y, const wchar_t *text)
{
    RECT rect = {x, y, LCD_WIDTH, LCD_HEIGHT};
    DrawTextW(dc, text, -1, &rect, GDI_TEXT_FORMAT);
}

int lcd_text_wide(Lcd *lcd, int flags, int x, int y, const wchar_t *text)
{
    if (!text || !text[0])
        return 0;
    const uint16_t *units = (const uint16_t *)text;
    if (!lcd->dc || !lcd->frame) {
        // No surface: the tiny font can still be measured, nothing is drawn.
        return (flags & TXT_TINY) ? tiny_text_width(units) : 0;
    }
    if (flags & TXT_TINY) // bytes straight into the frame: no device context involved
        return frame_text_tiny(lcd->frame, flags, x, y, units);
    SavedDcState saved = prepare_dc(lcd, flags);
    int width = gdi_text_width(lcd->dc, text);
    if (!(flags & TXT_MEASURE))
        gdi_text_draw(lcd->dc, text_align_x(flags, x, width), y, text);
    restore_dc(lcd, &saved);
    return width;
}

static int text_in_code_page(Lcd *lcd, UINT code_page, int flags, int x, int y,
                             const char *text)
{
    if (!text)
        return 0;
    int units = MultiByteToWideChar(code_page, 0, text, -1, 0, 0);
    if (units < 1)
        return 0;
    wchar_t *wide = (wchar_t *)malloc((size_t)units * sizeof(wchar_t));
    if (!wide)
        return 0;
    int result = 0;
    if (MultiByteToWideChar(code_page, 0, text, -1, wide, units))
        result = lcd_text_wide(lcd, flags, x, y, wide);
    free(wide);
    return result;
}

int lcd_text(Lcd *lcd, int flags, int x, int y, const char *text)
{
    return text_in_code_page(lcd, CP_ACP, flags, x, y, text);
}

int lcd_text_utf8(Lcd *lcd, int flags, int x, int y, const char *text)
{
    return text_in_code_page(lcd, CP_UTF8, flags, x, y, text);
}

static HFONT create_font(const char *face, int height)
{
    LOGFONTA lf;
    memset(&lf, 0, sizeof lf);
    lf.lfHeight = height;
    lf.lfCharSet = DEFAULT_CHARSET;
    if (face) {
        strncpy(lf.lfFaceName, face, FACE_CHARS);
        lf.lfFaceName[FACE_CHARS] = 0;
    }
    return CreateFontIndirectA(&lf);
}

static void replace_font(HFONT *slot, const char *face, int height)
{
    if (*slot)
        DeleteObject(*slot);
    *slot = 0;
    *slot = create_font(face, height);
}

void lcd_set_small_font(Lcd *lcd, const char *face, int height)
{
    replace_font(&lcd->small_font, face, height);
}

void lcd_set_large_font(Lcd *lcd, const char *face, int height)
{
    replace_font(&lcd->large_font, face, height);
}
