// A scripted stand-in for hidapi, linked into the Windows test program in
// place of the library, so the link thread's HID code runs unchanged against
// it. Tests script answers and inspect calls through fake_hid_*; every call is
// thread-safe. After fake_hid_reset: no devices, every open succeeds, every
// write is written in full, every read finds nothing (returns 0).
#pragma once
#include <stddef.h>
#include <stdint.h>

void fake_hid_reset(void);
// Adds a device to what hid_enumerate lists (usage_page 0: not reported).
// Returns its number, 0 first.
int fake_hid_add_device(unsigned vendor_id, unsigned product_id, unsigned usage_page, const char *path);
// The next hid_write answers `result` (queued in order), then writes succeed again.
void fake_hid_queue_write_result(int result);
// Queues one input report; hid_read hands out at most its buffer length.
void fake_hid_queue_input(const uint8_t *report, size_t length);

int fake_hid_write_count(void);
// Copies written report `index` into `out`; returns the length passed to
// hid_write, -1 when there is no such write.
int fake_hid_written(int index, uint8_t *out, size_t out_size);

// Each blocks at most timeout_ms; 1 when the condition holds, 0 on time-out.
int fake_hid_wait_writes(int count, unsigned timeout_ms);
int fake_hid_wait_inputs_consumed(unsigned timeout_ms);
int fake_hid_wait_closes(int count, unsigned timeout_ms);

struct FakeHidCounters {
    int enumerate_calls;
    int lists_outstanding;   // enumerations not freed
    int open_calls;          // successful and failed
    int open_failures;
    int close_calls;
    int handles_outstanding; // opened and not closed
    int nonblocking;         // last value given to hid_set_nonblocking, -1 never
    int last_opened;         // device number of the last successful open, -1 none
};
FakeHidCounters fake_hid_counters(void);
