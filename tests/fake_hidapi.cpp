// Scripted hidapi functions for the test program. See fake_hidapi.h.
#include "fake_hidapi.h"

#include <stdlib.h>
#include <string.h>

#include "hidapi.h"

struct hid_device_ {
    int device;
};

FakeHid fake_hid;

typedef std::lock_guard<std::mutex> Lock;

void fake_hid_reset(void)
{
    Lock lock(fake_hid.mutex);
    fake_hid.devices.clear();
    fake_hid.write_results.clear();
    fake_hid.reads.clear();
    fake_hid.writes.clear();
    fake_hid.counters = {0, 0, 0, 0, 0, -1, -1};
    fake_hid.changed.notify_all();
}

struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    Lock lock(fake_hid.mutex);
    fake_hid.counters.enumerate_calls++;
    struct hid_device_info *first = nullptr, **link = &first;
    for (const FakeHidDevice &device : fake_hid.devices) {
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
    fake_hid.counters.lists_outstanding += first != nullptr;
    fake_hid.changed.notify_all();
    return first;
}

void hid_free_enumeration(struct hid_device_info *devs)
{
    Lock lock(fake_hid.mutex);
    fake_hid.counters.lists_outstanding -= devs != nullptr;
    while (devs) {
        struct hid_device_info *next = devs->next;
        free(devs->path);
        free(devs);
        devs = next;
    }
    fake_hid.changed.notify_all();
}

hid_device *hid_open_path(const char *path)
{
    Lock lock(fake_hid.mutex);
    fake_hid.counters.open_calls++;
    for (size_t i = 0; path && i < fake_hid.devices.size(); i++)
        if (fake_hid.devices[i].path == path) {
            fake_hid.counters.handles_outstanding++;
            fake_hid.counters.last_opened = (int)i;
            fake_hid.changed.notify_all();
            return new hid_device{(int)i};
        }
    return nullptr;
}

int hid_set_nonblocking(hid_device *, int nonblock)
{
    Lock lock(fake_hid.mutex);
    fake_hid.counters.nonblocking = nonblock;
    return 0;
}

int hid_write(hid_device *, const unsigned char *data, size_t length)
{
    Lock lock(fake_hid.mutex);
    fake_hid.writes.push_back(std::vector<uint8_t>(data, data + length));
    int result = (int)length;
    if (!fake_hid.write_results.empty()) {
        result = fake_hid.write_results.front();
        fake_hid.write_results.pop_front();
    }
    fake_hid.changed.notify_all();
    return result;
}

int hid_read(hid_device *, unsigned char *data, size_t length)
{
    Lock lock(fake_hid.mutex);
    if (fake_hid.reads.empty())
        return 0;
    std::vector<uint8_t> report = fake_hid.reads.front();
    fake_hid.reads.pop_front();
    fake_hid.changed.notify_all();
    size_t n = report.size() < length ? report.size() : length;
    memcpy(data, report.data(), n);
    return (int)n;
}

void hid_close(hid_device *dev)
{
    {
        Lock lock(fake_hid.mutex);
        fake_hid.counters.close_calls++;
        fake_hid.counters.handles_outstanding--;
        fake_hid.changed.notify_all();
    }
    delete dev;
}
