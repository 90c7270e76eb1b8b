// End to end: the network meter and page of the real pixwick.exe under Wine,
// where only IP Helper has counters (the host's). This process moves a
// bounded amount of traffic over 127.0.0.1 while the program measures the
// loopback interface.
#include <winsock2.h>

#include "e2e_fixture.h"

using namespace e2e;

namespace {

const uint32_t SCALE = 4000000;      // net_max_in and net_max_out, bytes per second
const uint32_t PER_SECOND = 2000000; // sent: half the scale, 30 of the bar's 60 pixels
const DWORD SENDING_MS = 6000;

// Sends PER_SECOND bytes a second for SENDING_MS in datagrams from a socket
// on 127.0.0.1 to itself (the interface counts them whether or not they are
// read); returns the bytes sent.
uint64_t send_loopback()
{
    WSADATA wsa;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    uint64_t sent = 0;
    SOCKET s = WSAStartup(MAKEWORD(2, 2), &wsa) ? INVALID_SOCKET : socket(AF_INET, SOCK_DGRAM, 0);
    static char datagram[PER_SECOND / 40];
    if (!bind(s, (sockaddr *)&address, size) && !getsockname(s, (sockaddr *)&address, &size))
        for (DWORD start = GetTickCount(), passed; (passed = GetTickCount() - start) < SENDING_MS; Sleep(5))
            if (sent * 1000 < (uint64_t)PER_SECOND * passed &&
                sendto(s, datagram, sizeof datagram, 0, (sockaddr *)&address, size) > 0)
                sent += sizeof datagram;
    closesocket(s);
    WSACleanup();
    return sent;
}

// The meter is drawn (no pop-up over the band): its rounded corners.
bool meter_shown(const Frame &f) { return !f.at(81, 8) && f.at(82, 8) && f.at(81, 9) && !f.at(81, 14); }
// Length of a bar: incoming on row 11, outgoing on row 17.
int bar(const Frame &f, int row) { return lit_in(f, 100, 158, row, row); }
// Height of the page's graph column x in slot 0.
int column(const Frame &f, int x) { return lit_in(f, x, x, 30, 42); }

TEST_F(E2E, LoopbackTrafficShowsOnTheMeterAndThePageThroughIpHelper)
{
    write_config("slot_0 NET+\nslot_1 NET++\nanimate_start 0\nnet_adapter lo\nnet_max_in " + std::to_string(SCALE) +
                 "\nnet_max_out " + std::to_string(SCALE) + "\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(50, 30000));
    const Frame idle = frames().back();
    ASSERT_TRUE(meter_shown(idle));
    EXPECT_LE(bar(idle, 11) + bar(idle, 17), 2) << "no traffic: about zero";

    const int64_t start_us = lcdmon_now_us();
    ASSERT_GT(send_loopback(), (uint64_t)PER_SECOND * SENDING_MS / 1000 * 8 / 10);
    const int64_t end_us = lcdmon_now_us();
    // the loopback interface counts every byte once in and once out
    std::vector<int> in_bars, out_bars, heights;
    for (const Frame &f : frames())
        if (f.us > start_us + 2500000 && f.us < end_us && meter_shown(f))
            in_bars.push_back(bar(f, 11)), out_bars.push_back(bar(f, 17)), heights.push_back(column(f, 35));
    ASSERT_GE(in_bars.size(), 10u);
    for (std::vector<int> *v : {&in_bars, &out_bars, &heights})
        std::sort(v->begin(), v->end());
    EXPECT_NEAR(in_bars[in_bars.size() / 2], 30, 15);
    EXPECT_NEAR(out_bars[out_bars.size() / 2], 30, 15);
    EXPECT_NEAR(heights[heights.size() / 2], 6, 3) << "a 500 ms sample of a quarter of the scale: 6 pixels";

    ASSERT_TRUE(WAIT_UNTIL(lcdmon_now_us() > end_us + 2500000, 5000));
    ASSERT_TRUE(wait_more_frames(3, 5000));
    const Frame after = frames().back();
    EXPECT_LE(bar(after, 11) + bar(after, 17) + column(after, 37), 2) << "traffic over: about zero again";

    std::string system = read_binary_file(log_path("system.txt"));
    EXPECT_NE(system.find("IPHLP: Found 'lo'\r\n"), std::string::npos);
    EXPECT_NE(system.find("NDIS: No adapter found, using IPHLP\r\n"), std::string::npos);
    size_t before = frame_count();
    ASSERT_TRUE(standin_command("press 2 900")); // long press on the TOT page of slot 1
    ASSERT_TRUE(wait_frames(before + 25, 10000));
    EXPECT_GE(find_popup(frames(), before, "Net module reset. [IPHLP x 1]"), 0);
    EXPECT_EQ(end_with_buttons(program), 0);
}

} // namespace
