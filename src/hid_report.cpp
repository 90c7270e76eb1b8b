// Byte coding of the G13/G15 HID reports. See hid_report.h.
#include "hid_report.h"

#include <string.h>

#include "frame.h"

static_assert(HID_OUTPUT_HEADER_BYTES + 6 * LCD_WIDTH == HID_OUTPUT_REPORT_BYTES,
              "six bands of 160 columns follow the header");
static_assert(6 * 8 >= LCD_HEIGHT, "six bands of eight rows cover the display");

static const uint16_t supported_products[] = {
    0x0A07, // Z-10 speakers
    0xC222, // G15, first model
    0xC227, // G15, second model
    0xC21C, // G13
    0xC22D, // G510, audio off
    0xC22E, // G510, audio on
};

int hid_device_supported(unsigned vendor_id, unsigned product_id)
{
    if (vendor_id != HID_VENDOR_LOGITECH)
        return 0;
    for (uint16_t product : supported_products)
        if (product == product_id)
            return 1;
    return 0;
}

int hid_device_eligible(unsigned vendor_id, unsigned product_id, unsigned usage_page)
{
    if (!hid_device_supported(vendor_id, product_id))
        return 0;
    return usage_page == 0 || usage_page >= HID_VENDOR_USAGE_PAGE;
}

// The display report, as the keyboard expects it:
//
//   byte  0        report id 3
//   bytes 1..31    0
//   bytes 32..991  six bands of 160 bytes, one byte per column:
//
//          column:  0     1     2    ...  159
//   band 0 rows 0-7    [32]  [33]  [34]  ...  [191]
//   band 1 rows 8-15   [192] [193] [194] ...  [351]
//   ...
//   band 5 rows 40-42  [832] [833] [834] ...  [991]
//
//   in the byte of column x in band b:
//
//     bit:   7      6      5      4      3      2      1      0
//     row: 8b+7   8b+6   8b+5   8b+4   8b+3   8b+2   8b+1   8b+0
//
//   Band 5 has rows 40, 41 and 42 only (bits 0..2); bits 3..7 stay 0.
void hid_build_output_report(const uint8_t *frame, uint8_t report[HID_OUTPUT_REPORT_BYTES])
{
    memset(report, 0, HID_OUTPUT_REPORT_BYTES);
    report[0] = HID_OUTPUT_REPORT_ID;
    if (!frame)
        return;
    for (int y = 0; y < LCD_HEIGHT; y++) {
        uint8_t *band = report + HID_OUTPUT_HEADER_BYTES + (y / 8) * LCD_WIDTH;
        uint8_t bit = (uint8_t)(1u << (y % 8));
        const uint8_t *row = frame + y * LCD_WIDTH;
        for (int x = 0; x < LCD_WIDTH; x++)
            if (row[x])
                band[x] |= bit;
    }
}

// Input reports: a run of `count` bits of one byte, starting at `first_bit`,
// sets `count` consecutive entries starting at `first_entry`.
struct BitRun {
    uint8_t byte;
    uint8_t first_bit;
    uint8_t count;
    uint8_t first_entry;
};

struct ReportForm {
    int length;
    uint8_t id;
    const BitRun *runs;
    int run_count;
};

static const BitRun form_4_id2[] = {
    {1, 0, 8, 0},
    {2, 0, 4, 8},
    {2, 4, 4, 22},
    {3, 0, 1, 31},
};

static const BitRun form_5_id2[] = {
    {1, 0, 6, 0},
    {1, 6, 1, 22},
    {1, 7, 1, 23},
    {2, 5, 1, 24},
    {2, 6, 1, 25},
    {2, 7, 1, 26},
    {2, 1, 4, 27}, // soft buttons
    {2, 0, 1, 31},
};

static const BitRun form_5_id3[] = {
    {1, 0, 8, 0},
    {2, 0, 8, 8},
    {3, 0, 1, 16},
    {3, 1, 1, 17},
    {3, 4, 4, 22},
    {3, 3, 1, 31},
    {4, 0, 5, 26}, // 26, then the soft buttons
};

// Bytes 1 and 2 are the axes, copied raw (see hid_parse_report).
static const BitRun form_8_id1[] = {
    {3, 0, 8, 0},
    {4, 0, 8, 8},
    {5, 0, 6, 16},
    {5, 7, 1, 31},
    {6, 0, 5, 26}, // 26, then the soft buttons
    {6, 5, 3, 22},
    {7, 0, 1, 25},
    {7, 1, 3, 32},
};

// The keys are spread diagonally over the bytes.
static const BitRun form_9_id2[] = {
    {1, 0, 1, 0},  {2, 1, 1, 1},  {3, 2, 1, 2},  {4, 3, 1, 3},
    {5, 4, 1, 4},  {6, 5, 1, 5},  {2, 0, 1, 6},  {3, 1, 1, 7},
    {4, 2, 1, 8},  {5, 3, 1, 9},  {6, 4, 1, 10}, {7, 5, 1, 11},
    {1, 2, 1, 12}, {2, 3, 1, 13}, {3, 4, 1, 14}, {4, 5, 1, 15},
    {5, 6, 1, 16}, {8, 6, 1, 17}, {6, 0, 1, 22}, {7, 1, 1, 23},
    {8, 2, 1, 24}, {7, 6, 1, 25}, {8, 7, 1, 26},
    {2, 7, 1, 27}, {3, 7, 1, 28}, {4, 7, 1, 29}, {5, 7, 1, 30}, // soft buttons
    {1, 7, 1, 31},
};

#define FORM(length, id, runs) {length, id, runs, (int)(sizeof(runs) / sizeof(runs[0]))}

static const ReportForm report_forms[] = {
    FORM(4, 2, form_4_id2),
    FORM(5, 2, form_5_id2),
    FORM(5, 3, form_5_id3),
    FORM(8, 1, form_8_id1),
    FORM(9, 2, form_9_id2),
};

static const ReportForm *find_report_form(int length, uint8_t id)
{
    for (const ReportForm &form : report_forms)
        if (form.length == length && form.id == id)
            return &form;
    return nullptr;
}

static void apply_bit_run(const uint8_t *report, int length, const BitRun &run, KeyState *state)
{
    if (run.byte >= length)
        return;
    for (int i = 0; i < run.count; i++) {
        unsigned entry = run.first_entry + (unsigned)i;
        unsigned bit = run.first_bit + (unsigned)i;
        if (bit < 8 && entry < KEY_STATE_ENTRIES && (report[run.byte] >> bit) & 1)
            state->entry[entry] = KEY_PRESSED;
    }
}

void hid_parse_report(const uint8_t *report, int length, KeyState *state)
{
    memset(state->entry, 0, sizeof state->entry);
    if (!report || length <= 0)
        return;
    const ReportForm *form = find_report_form(length, report[0]);
    if (!form)
        return;
    for (int i = 0; i < form->run_count; i++)
        apply_bit_run(report, length, form->runs[i], state);
    if (form->length == 8 && form->id == 1) {
        state->entry[KEY_AXIS_X] = report[1];
        state->entry[KEY_AXIS_Y] = report[2];
    }
}

// Low byte of the extended scan code per KeyState index; 0 for entries that
// are not forwarded.
static const uint8_t key_codes[] = {
    0x20, 0x2E, 0x30, 0x22, 0x24, 0x10, 0x19, 0x6A, 0x69, 0x68, // 0..9
    0x67, 0x65, 0x66, 0x32, 0x6C, 0x6D, 0x6B, 0x21, 0x5F, 0x3C, // 10..19
    0x05, 0x16, 0x3B, 0x08, 0x07, 0x42,                         // 20..25
    0, 0, 0, 0, 0, 0,                                           // 26..31
    0x3D, 0x3E, 0x40,                                           // 32..34
};
static_assert(sizeof key_codes == 35, "one code for each index 0..34");

unsigned hid_key_scancode(int index, int pressed)
{
    if (index < 0 || index >= (int)sizeof key_codes || key_codes[index] == 0)
        return 0;
    unsigned base = pressed ? 0xE000u : 0xE080u;
    return base | key_codes[index];
}

unsigned hid_soft_buttons(const KeyState *state)
{
    unsigned buttons = 0;
    for (int i = 0; i < 4; i++)
        if (state->entry[KEY_FIRST_SOFT_BUTTON + i])
            buttons |= 1u << i;
    return buttons;
}

int hid_key_events(const KeyState *previous, const KeyState *next, HidKeyEvent *events)
{
    int count = 0;
    for (int k = 0; k < KEY_STATE_ENTRIES; k++) {
        if (next->entry[k] == previous->entry[k])
            continue;
        unsigned scan_code = hid_key_scancode(k, next->entry[k]);
        if (scan_code == 0)
            continue;
        events[count].scan_code = (uint16_t)scan_code;
        events[count].flags = next->entry[k] ? HID_KEY_FLAG_SCANCODE
                                             : HID_KEY_FLAG_SCANCODE | HID_KEY_FLAG_KEYUP;
        count++;
    }
    return count;
}

void hid_log_clean(char *text)
{
    for (; *text; text++)
        if ((unsigned char)*text < 32)
            *text = ' ';
}
