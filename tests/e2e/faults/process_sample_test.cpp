// The numbers the runs sample are real under this Wine: each moves by what
// this process opens, starts and writes.
#include <gtest/gtest.h>

#include "process_sample.h"

namespace {

DWORD WINAPI wait_for(void *object) { return WaitForSingleObject((HANDLE)object, 10000); }

TEST(ProcessSample, MovesWithWhatTheProcessOpensStartsAndWrites)
{
    const DWORD pid = GetCurrentProcessId();
    const unsigned long unix_pid = sample_detail::unix_pid_of("pixwick_faults.exe");
    ASSERT_NE(unix_pid, 0u);
    HANDLE first = CreateThread(0, 0, wait_for, 0, 0, 0); // with what a first thread brings along
    WaitForSingleObject(first, 10000);
    CloseHandle(first);
    const long handles = handle_count(pid), threads = thread_count(pid);
    const double committed = committed_private_mb(GetCurrentProcess()), anonymous = unix_anon_mb(unix_pid);
    const size_t bytes = 16 << 20;
    char *memory = (char *)VirtualAlloc(0, bytes, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(memory, nullptr);
    memset(memory, 1, bytes);
    EXPECT_NEAR(committed_private_mb(GetCurrentProcess()) - committed, 16, 0.5);
    EXPECT_NEAR(unix_anon_mb(unix_pid) - anonymous, 16, 2);
    VirtualFree(memory, 0, MEM_RELEASE);

    std::vector<HANDLE> events;
    for (int k = 0; k < 200; k++)
        events.push_back(CreateEventA(0, TRUE, FALSE, 0));
    HANDLE workers[3];
    for (HANDLE &w : workers)
        w = CreateThread(0, 0, wait_for, events[0], 0, 0);
    EXPECT_NEAR(handle_count(pid) - handles, 203, 2);
    EXPECT_EQ(thread_count(pid) - threads, 3);
    SetEvent(events[0]);
    for (HANDLE w : workers)
        WaitForSingleObject(w, 10000), CloseHandle(w);
    for (HANDLE e : events)
        CloseHandle(e);
    EXPECT_NEAR(handle_count(pid), handles, 2);
}

} // namespace
