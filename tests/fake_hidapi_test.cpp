// The scripted hidapi double answers as hidapi would, so that the link
// thread's HID tests exercise the real code paths.
#include <gtest/gtest.h>

#include <string.h>

#include <thread>

#include "fake_hidapi.h"
#include "hidapi.h"

namespace {

struct FakeHidApi : testing::Test {
    void SetUp() override { fake_hid_reset(); }
    void TearDown() override { fake_hid_reset(); }
};

TEST_F(FakeHidApi, EnumeratesInOrderWithFilterAndFreesTheList)
{
    fake_hid_add_device(0x046D, 0xC21C, 0x0001, "kbd");
    fake_hid_add_device(0x046D, 0xC21C, 0xFF00, "lcd");
    fake_hid_add_device(0x1234, 0x0001, 0, "other");

    hid_device_info *all = hid_enumerate(0, 0);
    ASSERT_NE(all, nullptr);
    EXPECT_STREQ(all->path, "kbd");
    EXPECT_EQ(all->usage_page, 0x0001);
    ASSERT_NE(all->next, nullptr);
    EXPECT_STREQ(all->next->path, "lcd");
    EXPECT_EQ(all->next->usage_page, 0xFF00);
    ASSERT_NE(all->next->next, nullptr);
    EXPECT_EQ(all->next->next->vendor_id, 0x1234);
    EXPECT_EQ(all->next->next->next, nullptr);

    hid_device_info *logitech = hid_enumerate(0x046D, 0);
    ASSERT_NE(logitech, nullptr);
    EXPECT_NE(logitech->next, nullptr);
    EXPECT_EQ(logitech->next->next, nullptr);
    EXPECT_EQ(fake_hid_counters().lists_outstanding, 2);
    hid_free_enumeration(all);
    hid_free_enumeration(logitech);
    EXPECT_EQ(fake_hid_counters().lists_outstanding, 0);

    fake_hid_set_enumerate_empty(1);
    EXPECT_EQ(hid_enumerate(0, 0), nullptr);
    EXPECT_EQ(fake_hid_counters().enumerate_calls, 3);
}

TEST_F(FakeHidApi, OpenFailsForUnknownOrScriptedPaths)
{
    fake_hid_add_device(0x046D, 0xC222, 0, "a");
    fake_hid_add_device(0x046D, 0xC227, 0, "b");
    fake_hid_set_open_fails("a", 1);
    EXPECT_EQ(hid_open_path("a"), nullptr);
    EXPECT_EQ(hid_open_path("nowhere"), nullptr);
    hid_device *b = hid_open_path("b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(hid_set_nonblocking(b, 1), 0);

    FakeHidCounters counters = fake_hid_counters();
    EXPECT_EQ(counters.open_calls, 3);
    EXPECT_EQ(counters.open_failures, 2);
    EXPECT_EQ(counters.handles_outstanding, 1);
    EXPECT_EQ(counters.last_opened, 1);
    EXPECT_EQ(counters.nonblocking, 1);
    hid_close(b);
    EXPECT_EQ(fake_hid_counters().handles_outstanding, 0);
    EXPECT_EQ(fake_hid_counters().close_calls, 1);
}

TEST_F(FakeHidApi, WritesAreRecordedAndAnswerTheScript)
{
    fake_hid_add_device(0x046D, 0xC222, 0, "g15");
    hid_device *device = hid_open_path("g15");
    ASSERT_NE(device, nullptr);
    unsigned char report[992];
    for (int i = 0; i < 992; i++)
        report[i] = (unsigned char)i;

    EXPECT_EQ(hid_write(device, report, sizeof report), 992);
    fake_hid_queue_write_result(500);
    report[5] = 0xAB;
    EXPECT_EQ(hid_write(device, report, sizeof report), 500); // short write
    EXPECT_EQ(hid_write(device, report, sizeof report), 992);
    fake_hid_set_write_result_always(-1);
    EXPECT_EQ(hid_write(device, report, 3), -1);

    EXPECT_EQ(fake_hid_write_count(), 4);
    unsigned char copy[992];
    EXPECT_EQ(fake_hid_written(0, copy, sizeof copy), 992);
    EXPECT_EQ(copy[5], 5);
    EXPECT_EQ(copy[991], (unsigned char)991);
    EXPECT_EQ(fake_hid_written(1, copy, sizeof copy), 992);
    EXPECT_EQ(copy[5], 0xAB);
    EXPECT_EQ(fake_hid_written(3, copy, sizeof copy), 3);
    EXPECT_EQ(fake_hid_written(4, copy, sizeof copy), -1);
    hid_close(device);
}

TEST_F(FakeHidApi, ReadsHandOutQueuedReportsTruncatedToTheBuffer)
{
    fake_hid_add_device(0x046D, 0xC21C, 0, "g13");
    hid_device *device = hid_open_path("g13");
    ASSERT_NE(device, nullptr);
    const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t long_report[20];
    memset(long_report, 0x11, sizeof long_report);
    fake_hid_queue_input(eight, sizeof eight);
    fake_hid_queue_read_timeout();
    fake_hid_queue_input(long_report, sizeof long_report);
    fake_hid_queue_read_error();

    unsigned char buffer[9];
    memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(hid_read(device, buffer, sizeof buffer), 8);
    EXPECT_EQ(memcmp(buffer, eight, 8), 0);
    EXPECT_EQ(hid_read(device, buffer, sizeof buffer), 0);
    EXPECT_EQ(hid_read(device, buffer, sizeof buffer), 9);
    EXPECT_EQ(hid_read(device, buffer, sizeof buffer), -1);
    EXPECT_EQ(hid_read(device, buffer, sizeof buffer), 0); // nothing queued
    EXPECT_EQ(fake_hid_wait_inputs_consumed(0), 1);
    EXPECT_EQ(fake_hid_counters().read_calls, 5);
    hid_close(device);
}

TEST_F(FakeHidApi, WaitsEndWhenAnotherThreadWrites)
{
    fake_hid_add_device(0x046D, 0xC222, 0, "g15");
    hid_device *device = hid_open_path("g15");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(fake_hid_wait_writes(1, 0), 0);
    std::thread writer([device] {
        unsigned char report[4] = {3, 0, 0, 0};
        hid_write(device, report, sizeof report);
        hid_close(device);
    });
    EXPECT_EQ(fake_hid_wait_writes(1, 5000), 1);
    EXPECT_EQ(fake_hid_wait_closes(1, 5000), 1);
    writer.join();
}

} // namespace
