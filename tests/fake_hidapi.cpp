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
    unsigned short vendor_id;
    unsigned short product_id;
    unsigned short usage_page;
    std::string path;
    bool open_fails;
};

enum ReadKind { READ_REPORT, READ_TIMEOUT, READ_ERROR };

struct ScriptedRead {
    ReadKind kind;
    std::vector<uint8_t> report;
};

struct WrittenReport {
    size_t length; // as passed to hid_write
    std::vector<uint8_t> bytes;
};

struct FakeHid {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<FakeDevice> devices;
    bool enumerate_empty = false;
    std::deque<int> write_results;
    bool write_result_fixed = false;
    int write_result = 0;
    std::deque<ScriptedRead> reads;
    std::vector<WrittenReport> writes;
    FakeHidCounters counters;

    FakeHid() { clear_counters(); }

    void clear_counters()
    {
        memset(&counters, 0, sizeof counters);
        counters.nonblocking = -1;
        counters.last_opened = -1;
    }
};

FakeHid fake;

typedef std::unique_lock<std::mutex> Lock;

template <typename Done>
int wait_until(unsigned timeout_ms, Done done)
{
    Lock lock(fake.mutex);
    return fake.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), done) ? 1 : 0;
}

int find_device(const char *path)
{
    if (!path)
        return -1;
    for (size_t i = 0; i < fake.devices.size(); i++)
        if (fake.devices[i].path == path)
            return (int)i;
    return -1;
}

char *copy_string(const std::string &text)
{
    char *copy = (char *)malloc(text.size() + 1);
    if (copy)
        memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// Hands one scripted read to the caller, hidapi-style: at most `length`
// bytes; 0 when nothing is queued.
int take_read(unsigned char *data, size_t length)
{
    Lock lock(fake.mutex);
    fake.counters.read_calls++;
    if (fake.reads.empty())
        return 0;
    ScriptedRead read = fake.reads.front();
    fake.reads.pop_front();
    fake.changed.notify_all();
    if (read.kind == READ_TIMEOUT)
        return 0;
    if (read.kind == READ_ERROR)
        return -1;
    size_t n = read.report.size() < length ? read.report.size() : length;
    if (n > 0 && data)
        memcpy(data, read.report.data(), n);
    return (int)n;
}

} // namespace

void fake_hid_reset(void)
{
    Lock lock(fake.mutex);
    fake.devices.clear();
    fake.enumerate_empty = false;
    fake.write_results.clear();
    fake.write_result_fixed = false;
    fake.write_result = 0;
    fake.reads.clear();
    fake.writes.clear();
    fake.clear_counters();
    fake.changed.notify_all();
}

int fake_hid_add_device(unsigned vendor_id, unsigned product_id, unsigned usage_page,
                        const char *path)
{
    Lock lock(fake.mutex);
    if (fake.devices.size() >= FAKE_HID_MAX_DEVICES || !path)
        return -1;
    fake.devices.push_back({(unsigned short)vendor_id, (unsigned short)product_id,
                            (unsigned short)usage_page, path, false});
    return (int)fake.devices.size() - 1;
}

void fake_hid_set_enumerate_empty(int empty)
{
    Lock lock(fake.mutex);
    fake.enumerate_empty = empty != 0;
}

void fake_hid_set_open_fails(const char *path, int fails)
{
    Lock lock(fake.mutex);
    int device = find_device(path);
    if (device >= 0)
        fake.devices[device].open_fails = fails != 0;
}

void fake_hid_queue_write_result(int result)
{
    Lock lock(fake.mutex);
    if (fake.write_results.size() < FAKE_HID_MAX_QUEUE)
        fake.write_results.push_back(result);
}

void fake_hid_set_write_result_always(int result)
{
    Lock lock(fake.mutex);
    fake.write_result_fixed = true;
    fake.write_result = result;
}

static void queue_read(ReadKind kind, const uint8_t *report, size_t length)
{
    Lock lock(fake.mutex);
    if (fake.reads.size() >= FAKE_HID_MAX_QUEUE)
        return;
    ScriptedRead read = {kind, {}};
    if (report) {
        size_t n = length < (size_t)FAKE_HID_MAX_REPORT ? length : (size_t)FAKE_HID_MAX_REPORT;
        read.report.assign(report, report + n);
    }
    fake.reads.push_back(read);
}

void fake_hid_queue_input(const uint8_t *report, size_t length)
{
    queue_read(READ_REPORT, report, length);
}

void fake_hid_queue_read_timeout(void)
{
    queue_read(READ_TIMEOUT, nullptr, 0);
}

void fake_hid_queue_read_error(void)
{
    queue_read(READ_ERROR, nullptr, 0);
}

int fake_hid_write_count(void)
{
    Lock lock(fake.mutex);
    return fake.counters.write_calls;
}

int fake_hid_written(int index, uint8_t *out, size_t out_size)
{
    Lock lock(fake.mutex);
    if (index < 0 || (size_t)index >= fake.writes.size())
        return -1;
    const WrittenReport &written = fake.writes[index];
    size_t n = written.bytes.size() < out_size ? written.bytes.size() : out_size;
    if (n > 0 && out)
        memcpy(out, written.bytes.data(), n);
    return (int)written.length;
}

int fake_hid_wait_writes(int count, unsigned timeout_ms)
{
    return wait_until(timeout_ms, [count] { return fake.counters.write_calls >= count; });
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

// The hidapi functions.

int hid_init(void)
{
    return 0;
}

int hid_exit(void)
{
    return 0;
}

struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    Lock lock(fake.mutex);
    fake.counters.enumerate_calls++;
    if (fake.enumerate_empty)
        return nullptr;
    struct hid_device_info *first = nullptr;
    struct hid_device_info **link = &first;
    for (const FakeDevice &device : fake.devices) {
        if (vendor_id != 0 && device.vendor_id != vendor_id)
            continue;
        if (product_id != 0 && device.product_id != product_id)
            continue;
        struct hid_device_info *info =
            (struct hid_device_info *)calloc(1, sizeof(struct hid_device_info));
        if (!info)
            break;
        info->path = copy_string(device.path);
        info->vendor_id = device.vendor_id;
        info->product_id = device.product_id;
        info->usage_page = device.usage_page;
        info->interface_number = -1;
        info->bus_type = HID_API_BUS_USB;
        *link = info;
        link = &info->next;
    }
    if (first)
        fake.counters.lists_outstanding++;
    return first;
}

void hid_free_enumeration(struct hid_device_info *devs)
{
    Lock lock(fake.mutex);
    fake.counters.free_enumeration_calls++;
    if (devs)
        fake.counters.lists_outstanding--;
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
    int device = find_device(path);
    if (device < 0 || fake.devices[device].open_fails) {
        fake.counters.open_failures++;
        return nullptr;
    }
    hid_device *handle = (hid_device *)calloc(1, sizeof(hid_device));
    if (!handle)
        return nullptr;
    handle->device = device;
    fake.counters.handles_outstanding++;
    fake.counters.last_opened = device;
    return handle;
}

hid_device *hid_open(unsigned short, unsigned short, const wchar_t *)
{
    return nullptr;
}

int hid_set_nonblocking(hid_device *dev, int nonblock)
{
    if (!dev)
        return -1;
    Lock lock(fake.mutex);
    fake.counters.nonblocking = nonblock;
    return 0;
}

int hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    if (!dev)
        return -1;
    Lock lock(fake.mutex);
    fake.counters.write_calls++;
    if (fake.writes.size() < FAKE_HID_MAX_WRITES) {
        size_t n = length < (size_t)FAKE_HID_MAX_REPORT ? length : (size_t)FAKE_HID_MAX_REPORT;
        WrittenReport written = {length, {}};
        if (data)
            written.bytes.assign(data, data + n);
        fake.writes.push_back(written);
    }
    int result = (int)length;
    if (!fake.write_results.empty()) {
        result = fake.write_results.front();
        fake.write_results.pop_front();
    } else if (fake.write_result_fixed) {
        result = fake.write_result;
    }
    fake.changed.notify_all();
    return result;
}

int hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    if (!dev)
        return -1;
    return take_read(data, length);
}

int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int)
{
    if (!dev)
        return -1;
    return take_read(data, length);
}

void hid_close(hid_device *dev)
{
    if (!dev)
        return;
    {
        Lock lock(fake.mutex);
        fake.counters.close_calls++;
        fake.counters.handles_outstanding--;
        fake.changed.notify_all();
    }
    free(dev);
}

const wchar_t *hid_error(hid_device *)
{
    return L"scripted hidapi failure";
}
