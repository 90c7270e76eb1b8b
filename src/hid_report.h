// Byte coding for driving a G13/G15 keyboard directly over USB HID: the
// 992-byte display report, the five input-report forms, scan codes for the
// extra keys, and the choice of device among the enumerated collections.
// No Windows header here: this builds natively too (sanitizer tests).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    HID_VENDOR_LOGITECH = 0x046D,
    HID_OUTPUT_REPORT_ID = 3,
    HID_OUTPUT_HEADER_BYTES = 32,
    HID_OUTPUT_REPORT_BYTES = 992, // header + six bands of 160 bytes
    HID_INPUT_BUFFER_BYTES = 9,    // largest input report, id byte included
    HID_VENDOR_USAGE_PAGE = 0xFF00,
};

// One entry per key or axis. Keys: 0 released, 255 pressed.
//   0..25, 32..34  keys forwarded to Windows as extended scan codes
//   26, 31         decoded, not forwarded
//   27..30         the four soft buttons, 27 leftmost
//   35, 36         raw axis bytes of the 8-byte report
enum {
    KEY_STATE_ENTRIES = 37,
    KEY_FIRST_SOFT_BUTTON = 27,
    KEY_AXIS_X = 35,
    KEY_AXIS_Y = 36,
    KEY_PRESSED = 255,
};

struct KeyState {
    uint8_t entry[KEY_STATE_ENTRIES];
};

// One keystroke for SendInput: an extended scan code with
// HID_KEY_FLAG_SCANCODE, plus HID_KEY_FLAG_KEYUP for a release.
enum {
    HID_KEY_FLAG_KEYUP = 2,    // KEYEVENTF_KEYUP
    HID_KEY_FLAG_SCANCODE = 8, // KEYEVENTF_SCANCODE
};

struct HidKeyEvent {
    uint16_t scan_code;
    uint16_t flags;
};

// 1 for Logitech's G13, G15 (both models), G510 (both ids) and Z-10.
int hid_device_supported(unsigned vendor_id, unsigned product_id);

// 1 when an enumerated collection may be counted towards device_index: a
// supported device whose usage page is vendor-defined (0xFF00 and above), or
// unknown (0, as when the HID layer reports none). A keyboard shows up as
// several collections with the same ids, and only the vendor-defined one
// takes the display report.
int hid_device_eligible(unsigned vendor_id, unsigned product_id, unsigned usage_page);

// Packs a 6880-byte frame (one byte per pixel, nonzero lit) into the
// 992-byte output report. A null frame gives a dark report.
void hid_build_output_report(const uint8_t *frame, uint8_t report[HID_OUTPUT_REPORT_BYTES]);

// Decodes one input report of `length` bytes (id in byte 0) into `state`.
// Every entry is cleared first; a null report, a length <= 0 or an unknown
// length/id combination leaves all entries 0. Reads only bytes below length.
void hid_parse_report(const uint8_t *report, int length, KeyState *state);

// Scan code for a KeyState index: 0xE0xx when pressed (state nonzero),
// 0xE0xx | 0x80 when released; 0 for the entries that are not forwarded
// (26..31, and anything outside 0..34).
unsigned hid_key_scancode(int index, int pressed);

// Soft-button bits of a state: 1 for entry 27, 2 for 28, 4 for 29, 8 for 30.
unsigned hid_soft_buttons(const KeyState *state);

// Keystrokes for the change from `previous` to `next`, in increasing index,
// for every entry that changed and has a scan code. `events` must hold
// KEY_STATE_ENTRIES records. Returns the number written.
int hid_key_events(const KeyState *previous, const KeyState *next, HidKeyEvent *events);

// Makes a formatted line safe for a one-line log: every byte below 32
// (tabs and line ends included) becomes a blank. Bytes from 128 up (UTF-8)
// are kept.
void hid_log_clean(char *text);
