// A scripted stand-in for hidapi, linked into the Windows test program in
// place of the library, so the link thread's HID code runs unchanged against
// it. Tests script answers and read what was called through fake_hid, under
// its mutex (fake_hid_do, fake_hid_wait). After fake_hid_reset: no devices,
// every open succeeds, every write is written in full, every read finds
// nothing (returns 0).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct FakeHidDevice {
    unsigned short vendor_id, product_id, usage_page; // usage page 0: not reported
    std::string path;
};

struct FakeHidCounters {
    int enumerate_calls;
    int lists_outstanding;   // enumerations not freed
    int open_calls;          // successful and failed
    int close_calls;
    int handles_outstanding; // opened and not closed
    int nonblocking;         // last value given to hid_set_nonblocking, -1 never
    int last_opened;         // index in devices of the last successful open, -1 none
};

struct FakeHid {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<FakeHidDevice> devices;
    std::deque<int> write_results;                 // answers of the next writes, then full writes
    std::deque<std::vector<uint8_t>> reads;        // input reports, each handed out once
    std::vector<std::vector<uint8_t>> writes;      // every write as passed
    FakeHidCounters counters;
};
extern FakeHid fake_hid;

void fake_hid_reset(void);

// Runs f(fake_hid) under its mutex and returns what f returns.
template <typename F> auto fake_hid_do(F f)
{
    std::lock_guard<std::mutex> lock(fake_hid.mutex);
    return f(fake_hid);
}

// Waits at most timeout_ms until done(fake_hid) holds.
template <typename Done> bool fake_hid_wait(unsigned timeout_ms, Done done)
{
    std::unique_lock<std::mutex> lock(fake_hid.mutex);
    return fake_hid.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return done(fake_hid); });
}
