// The link tests' leak checks read the hidapi double's counters: they must
// count what hidapi would hand out and take back.
#include <gtest/gtest.h>

#include "fake_hidapi.h"
#include "hidapi.h"

TEST(FakeHidApi, CountsOutstandingListsAndHandles)
{
    fake_hid_reset();
    fake_hid_add_device(0x046D, 0xC222, 0xFF00, "g15");
    fake_hid_add_device(0x1234, 0x0001, 0, "other");
    hid_device_info *list = hid_enumerate(0x046D, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next, nullptr) << "filtered by vendor";
    hid_device *device = hid_open_path(list->path);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(hid_open_path("nowhere"), nullptr);
    FakeHidCounters counters = fake_hid_counters();
    EXPECT_EQ(counters.lists_outstanding, 1);
    EXPECT_EQ(counters.handles_outstanding, 1);
    EXPECT_EQ(counters.open_failures, 1);
    hid_free_enumeration(list);
    hid_close(device);
    EXPECT_EQ(fake_hid_counters().lists_outstanding, 0);
    EXPECT_EQ(fake_hid_counters().handles_outstanding, 0);
    fake_hid_reset();
}
