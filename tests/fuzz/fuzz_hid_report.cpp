// The keyboard's input reports: the input is one report (its length the
// input's, id in byte 0), the report before it is the input without its first
// byte. Its first bytes also name a device and its usage page, and the whole
// is a device text as it goes to the log.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_check.h"
#include "hid_report.h"

namespace {

bool has_axes(const uint8_t *report, size_t size) { return size == 8 && report[0] == 1; }

void check_state(const uint8_t *report, size_t size, const KeyState &state)
{
    for (int k = 0; k < KEY_AXIS_X; k++)
        FUZZ_CHECK(state.entry[k] == 0 || state.entry[k] == KEY_PRESSED);
    if (!has_axes(report, size))
        FUZZ_CHECK(state.entry[KEY_AXIS_X] == 0 && state.entry[KEY_AXIS_Y] == 0);
    FUZZ_CHECK(hid_soft_buttons(&state) <= 15);
}

void check_events(const KeyState &previous, const KeyState &next)
{
    HidKeyEvent events[KEY_STATE_ENTRIES];
    const int count = hid_key_events(&previous, &next, events);
    FUZZ_CHECK(count >= 0 && count <= KEY_STATE_ENTRIES);
    for (int i = 0; i < count; i++) {
        const HidKeyEvent &e = events[i];
        const bool release = (e.flags & HID_KEY_FLAG_KEYUP) != 0;
        FUZZ_CHECK((e.scan_code & 0xFF00) == 0xE000 && (e.flags & HID_KEY_FLAG_SCANCODE));
        FUZZ_CHECK(release == ((e.scan_code & 0x80) != 0));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    KeyState next, previous;
    hid_parse_report(data, (int)size, &next);
    check_state(data, size, next);
    hid_parse_report(size ? data + 1 : nullptr, size ? (int)size - 1 : 0, &previous);
    if (size)
        check_state(data + 1, size - 1, previous);
    check_events(previous, next);

    if (size >= 6) {
        const unsigned vendor = data[0] | data[1] << 8, product = data[2] | data[3] << 8, page = data[4] | data[5] << 8;
        FUZZ_CHECK(!hid_device_eligible(vendor, product, page) || hid_device_supported(vendor, product));
    }
    // a device's texts, as they go to the log
    char *text = (char *)malloc(size + 1);
    memcpy(text, data, size);
    text[size] = 0;
    hid_log_clean(text);
    for (const char *p = text; *p; p++)
        FUZZ_CHECK((unsigned char)*p >= 32);
    free(text);
    return 0;
}
