// Scripted hidapi functions for the test program. See fake_hidapi.h.
#include "fake_hidapi.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "hidapi.h"

struct hid_device_ {
    int device;
};

namespace {

struct FakeDevice {
    unsigned short vendor_id, product_id, usage_page;
    std::string path;
};

typedef std::vector<uint8_t> Bytes;

struct FakeHid {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<FakeDevice> devices;
    std::deque<int> write_results;
    std::deque<Bytes> reads;
    std::vector<std::pair<size_t, Bytes>> writes; // length passed, bytes
    FakeHidCounters counters = {0, 0, 0, 0, 0, 0, -1, -1};
};

FakeHid fake;

typedef std::unique_lock<std::mutex> Lock;

template <typename Done>
int wait_until(unsigned timeout_ms, Done done)
{
    Lock lock(fake.mutex);
    return fake.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), done) ? 1 : 0;
}

} // namespace

void fake_hid_reset(void)
{
    Lock lock(fake.mutex);
    fake.devices.clear();
    fake.write_results.clear();
    fake.reads.clear();
    fake.writes.clear();
    fake.counters = {0, 0, 0, 0, 0, 0, -1, -1};
    fake.changed.notify_all();
}

int fake_hid_add_device(unsigned vendor_id, unsigned product_id, unsigned usage_page, const char *path)
{
    Lock lock(fake.mutex);
    fake.devices.push_back({(unsigned short)vendor_id, (unsigned short)product_id, (unsigned short)usage_page, path});
    return (int)fake.devices.size() - 1;
}

void fake_hid_queue_write_result(int result)
{
    Lock lock(fake.mutex);
    fake.write_results.push_back(result);
}

void fake_hid_queue_input(const uint8_t *report, size_t length)
{
    Lock lock(fake.mutex);
    fake.reads.push_back(Bytes(report, report + length));
}

int fake_hid_write_count(void)
{
    Lock lock(fake.mutex);
    return (int)fake.writes.size();
}

int fake_hid_written(int index, uint8_t *out, size_t out_size)
{
    Lock lock(fake.mutex);
    if (index < 0 || (size_t)index >= fake.writes.size())
        return -1;
    const Bytes &bytes = fake.writes[index].second;
    memcpy(out, bytes.data(), bytes.size() < out_size ? bytes.size() : out_size);
    return (int)fake.writes[index].first;
}

int fake_hid_wait_writes(int count, unsigned timeout_ms)
{
    return wait_until(timeout_ms, [count] { return (int)fake.writes.size() >= count; });
}

int fake_hid_wait_inputs_consumed(unsigned timeout_ms)
{
    return wait_until(timeout_ms, [] { return fake.reads.empty(); });
}

int fake_hid_wait_closes(int count, unsigned timeout_ms)
{
    return wait_until(timeout_ms, [count] { return fake.counters.close_calls >= count; });
}

FakeHidCounters fake_hid_counters(void)
{
    Lock lock(fake.mutex);
    return fake.counters;
}

// The hidapi functions the program calls.

struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    Lock lock(fake.mutex);
    fake.counters.enumerate_calls++;
    struct hid_device_info *first = nullptr, **link = &first;
    for (const FakeDevice &device : fake.devices) {
        if ((vendor_id && device.vendor_id != vendor_id) || (product_id && device.product_id != product_id))
            continue;
        hid_device_info *info = (hid_device_info *)calloc(1, sizeof(hid_device_info));
        info->path = strdup(device.path.c_str());
        info->vendor_id = device.vendor_id;
        info->product_id = device.product_id;
        info->usage_page = device.usage_page;
        info->interface_number = -1;
        info->bus_type = HID_API_BUS_USB;
        *link = info;
        link = &info->next;
    }
    fake.counters.lists_outstanding += first != nullptr;
    return first;
}

void hid_free_enumeration(struct hid_device_info *devs)
{
    Lock lock(fake.mutex);
    fake.counters.lists_outstanding -= devs != nullptr;
    while (devs) {
        struct hid_device_info *next = devs->next;
        free(devs->path);
        free(devs);
        devs = next;
    }
}

hid_device *hid_open_path(const char *path)
{
    Lock lock(fake.mutex);
    fake.counters.open_calls++;
    for (size_t i = 0; path && i < fake.devices.size(); i++)
        if (fake.devices[i].path == path) {
            fake.counters.handles_outstanding++;
            fake.counters.last_opened = (int)i;
            return new hid_device{(int)i};
        }
    fake.counters.open_failures++;
    return nullptr;
}

int hid_set_nonblocking(hid_device *, int nonblock)
{
    Lock lock(fake.mutex);
    fake.counters.nonblocking = nonblock;
    return 0;
}

int hid_write(hid_device *, const unsigned char *data, size_t length)
{
    Lock lock(fake.mutex);
    fake.writes.push_back({length, Bytes(data, data + length)});
    int result = (int)length;
    if (!fake.write_results.empty()) {
        result = fake.write_results.front();
        fake.write_results.pop_front();
    }
    fake.changed.notify_all();
    return result;
}

int hid_read(hid_device *, unsigned char *data, size_t length)
{
    Lock lock(fake.mutex);
    if (fake.reads.empty())
        return 0;
    Bytes report = fake.reads.front();
    fake.reads.pop_front();
    fake.changed.notify_all();
    size_t n = report.size() < length ? report.size() : length;
    memcpy(data, report.data(), n);
    return (int)n;
}

void hid_close(hid_device *dev)
{
    {
        Lock lock(fake.mutex);
        fake.counters.close_calls++;
        fake.counters.handles_outstanding--;
        fake.changed.notify_all();
    }
    delete dev;
}
