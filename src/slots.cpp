// The four soft-button slots: their lists of module codes, the panel frame
// and text helpers every module draws with, the page dispatcher and the
// start-up slide-in. See slots.h for the module contract.
#include "slots.h"

#include <limits.h>
#include <string.h>

#include "config.h"
#include "lcd.h"
#include "lcd_thread.h"

static const int SLOT_HOME_Y = 22;
static const int SLIDE_IN_END = 46;

Slot g_slots[SLOT_COUNT];

static const int SLOT_COLUMNS[SLOT_COUNT] = {0, 40, 81, 121};
enum { TOKEN_CHARS = 32, CODE_CHARS = 3 };

int code_equals(const char *a, const char *b)
{
    for (;; a++, b++) {
        char ca = *a >= 'a' && *a <= 'z' ? (char)(*a - 32) : *a;
        char cb = *b >= 'a' && *b <= 'z' ? (char)(*b - 32) : *b;
        if (ca != cb)
            return 0;
        if (ca == 0)
            return 1;
    }
}

void slot_init(Slot *slot, int number)
{
    slot->number = number;
    slot->x = number >= 0 && number < SLOT_COUNT ? SLOT_COLUMNS[number] : 0;
    slot->y = SLOT_HOME_Y;
    slot->pending_action = 0;
    slot->parsed = 0;
    slot_parse(slot);
}

// One token of a slot list: trailing-or-embedded '+' count variants, '*' asks
// for a long press; the code is what stands before the first mark, cut to 3.
static void slot_add_token(Slot *slot, const char *token, int length)
{
    char work[TOKEN_CHARS + 1];
    if (length > TOKEN_CHARS)
        length = TOKEN_CHARS;
    memcpy(work, token, (size_t)length);
    work[length] = 0;

    int variants = 0;
    for (int k = length - 1; k >= 0; k--) {
        if (work[k] == '+') {
            work[k] = 0;
            variants++;
        } else if (work[k] == '*') {
            work[k] = 0;
            slot->pending_action = BUTTON_LONG;
        }
    }
    char *code = slot->codes[slot->count];
    memset(code, 0, CODE_CHARS + 1);
    for (int k = 0; k < CODE_CHARS && work[k]; k++)
        code[k] = work[k];
    slot->variants[slot->count] = variants;
    slot->count++;
}

void slot_parse_value(Slot *slot, const char *value)
{
    slot->count = 0;
    slot->start_index = 0;
    slot->shown_index = 0;
    memset(slot->codes, 0, sizeof slot->codes);
    memset(slot->variants, 0, sizeof slot->variants);
    if (!value)
        return;

    const char *token;
    int length;
    while (slot->count < SLOT_MAX_CODES && (token = config_next_word(&value, &length)))
        slot_add_token(slot, token, length);
}

static uint32_t text_hash(const char *text)
{
    uint32_t hash = 2166136261u; // FNV-1a; a missing key hashes like an empty one
    for (; text && *text; text++)
        hash = (hash ^ (uint8_t)*text) * 16777619u;
    return hash;
}

// A reload that leaves this slot's list as it was leaves the slot alone: its
// page stays, and a '*' is not pressed again (it would, say, reset a running
// stopwatch whenever any other setting is edited).
void slot_parse(Slot *slot)
{
    char key[] = "slot_0";
    key[5] = (char)('0' + (slot->number & 3));
    const char *value = config_get(&g_config, key);
    const uint32_t hash = text_hash(value);
    if (slot->parsed && slot->list_hash == hash)
        return;
    slot->parsed = 1;
    slot->list_hash = hash;
    slot_parse_value(slot, value);
}

int slot_variant(const Slot *slot, const char *code)
{
    for (int k = 0; k < slot->count && k < SLOT_MAX_CODES; k++)
        if (code_equals(slot->codes[k], code))
            return slot->variants[k];
    return 0;
}

void slot_draw_frame(Slot *slot, const char *label)
{
    uint8_t *frame = g_lcd.frame;
    const int x = slot->x, y = slot->y;
    if (frame) {
        for (int c = x + 1; c <= x + SLOT_WIDTH - 2; c++)
            frame_put(frame, c, y, 255);
        for (int r = y + 1; r <= y + SLOT_HEIGHT - 1; r++) {
            frame_put(frame, x, r, 255);
            frame_put(frame, x + SLOT_WIDTH - 1, r, 255);
        }
    }
    int width = lcd_text(&g_lcd, TXT_TINY | TXT_INVERT | TXT_OPAQUE, x + 1, y + 1, label);
    if (frame)
        for (int c = x + 1; c <= x + width; c++)
            frame_put(frame, c, y + 6, 255);
}

int slot_text(Slot *slot, int flags, int dx, int dy, const char *text)
{
    if (dx < 0)
        dx += SLOT_WIDTH - 2;
    if (dy < 0)
        dy += SLOT_HEIGHT - 1;
    return lcd_text(&g_lcd, flags, slot->x + 1 + dx, slot->y + 1 + dy, text);
}

void slot_next_page(Slot *slot)
{
    int next = slot->shown_index + 1;
    slot->start_index = next > SLOT_MAX_CODES - 1 || next < 0 ? 0 : next;
}

// ---- Dispatcher and slide-in ------------------------------------------------

int slot_walk(Slot *slot, int i)
{
    int start = slot->start_index; // the window thread may change it meanwhile
    if (start < 0 || start >= SLOT_MAX_CODES)
        start = 0;
    int count = slot->count;
    int p = start;
    for (;;) {
        if (p < count && slot_render_module(slot->codes[p], i))
            break;
        p = p + 1 == SLOT_MAX_CODES ? 0 : p + 1;
        if (p == start)
            break;
    }
    slot->shown_index = p;
    return p;
}

void slots_render(void)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        slot_walk(&g_slots[i], i);
}

void slots_put_in_place(void)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        g_slots[i].y = SLOT_HOME_Y;
}

// One step of the start-up slide-in. The counter moves on before the step,
// so the step that ends the slide-in leaves it at 0.
void animate_start(int *counter)
{
    int v = *counter;
    if (v < 1) {
        slots_put_in_place();
        *counter = 0;
        return;
    }
    *counter = v == INT_MAX ? SLIDE_IN_END : v + 1;
    if (v & 1)
        return;
    for (int i = 0; i < SLOT_COUNT; i++) {
        int y = 44 - v + 6 * i;
        g_slots[i].y = y < SLOT_HOME_Y ? SLOT_HOME_Y : y;
    }
    if (v >= SLIDE_IN_END) {
        slots_put_in_place();
        *counter = 0;
    }
}

