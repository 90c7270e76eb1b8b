// A scripted stand-in for the hidapi functions, swapped in at link time: the
// Windows test program links tests/fake_hidapi.cpp instead of the hidapi
// library, so the link thread's HID code runs unchanged against it.
//
// It provides hid_init, hid_exit, hid_enumerate, hid_free_enumeration,
// hid_open_path, hid_set_nonblocking, hid_write, hid_read, hid_read_timeout,
// hid_close and hid_error. Tests script what they answer and inspect what
// was asked of them through the fake_hid_* calls below. All of them are
// thread-safe: the link thread calls hidapi while the test thread scripts
// and waits.
//
// Defaults after fake_hid_reset: no devices, every open succeeds, every
// write is written in full, every read finds nothing (returns 0).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    FAKE_HID_MAX_DEVICES = 16,
    FAKE_HID_MAX_QUEUE = 256,     // scripted reads and scripted writes, each
    FAKE_HID_MAX_REPORT = 1024,   // longest report kept, in either direction
    FAKE_HID_MAX_WRITES = 4096,   // written reports kept; later ones are counted only
};

// Forgets all devices, scripts, records and counters.
void fake_hid_reset(void);

// Adds a device to what hid_enumerate lists, in this order. usage_page 0
// stands for "not reported". Returns its number (0 first), -1 when full.
int fake_hid_add_device(unsigned vendor_id, unsigned product_id, unsigned usage_page,
                        const char *path);

// hid_enumerate returns null (an empty list) while this is set.
void fake_hid_set_enumerate_empty(int empty);

// hid_open_path of this device fails while `fails` is set.
void fake_hid_set_open_fails(const char *path, int fails);

// The next hid_write calls answer these results, in order (for example -1,
// or fewer than the report length for a short write); once used up, writes
// succeed in full again. A scripted result is recorded like any write.
void fake_hid_queue_write_result(int result);

// Makes every hid_write from now on answer `result` (-1 = device gone).
// fake_hid_reset clears it.
void fake_hid_set_write_result_always(int result);

// Queues one input report for hid_read (copied; at most FAKE_HID_MAX_REPORT
// bytes). hid_read hands out at most its buffer length, like hidapi.
void fake_hid_queue_input(const uint8_t *report, size_t length);

// Queues a read that answers 0 (nothing there / time-out), so that later
// queued reports arrive only on a later pass of the read loop.
void fake_hid_queue_read_timeout(void);

// Queues a read that answers -1 (device gone).
void fake_hid_queue_read_error(void);

// What was written (each hid_write call, scripted results included).
int fake_hid_write_count(void);
// Copies written report `index` into `out` (at most out_size bytes) and
// returns the length passed to hid_write; -1 when there is no such write.
int fake_hid_written(int index, uint8_t *out, size_t out_size);

// Blocks at most timeout_ms until at least `count` writes happened.
// Returns 1 when they did, 0 on time-out.
int fake_hid_wait_writes(int count, unsigned timeout_ms);
// Blocks at most timeout_ms until every scripted read has been consumed.
int fake_hid_wait_inputs_consumed(unsigned timeout_ms);
// Blocks at most timeout_ms until hid_close was called `count` times in all.
int fake_hid_wait_closes(int count, unsigned timeout_ms);

struct FakeHidCounters {
    int enumerate_calls;
    int free_enumeration_calls;
    int lists_outstanding;  // enumerations not freed
    int open_calls;         // successful and failed
    int open_failures;
    int close_calls;
    int handles_outstanding; // opened and not closed
    int write_calls;
    int read_calls;
    int nonblocking;        // last value given to hid_set_nonblocking, -1 never
    int last_opened;        // device number of the last successful open, -1 none
};
FakeHidCounters fake_hid_counters(void);
