// End to end: the network meter and page of the real pixwick.exe under Wine,
// where only IP Helper has counters (the host's). This process moves a
// bounded amount of TCP traffic over 127.0.0.1 while the program measures the
// loopback interface.
#include <winsock2.h>

#include <thread>

#include "e2e_fixture.h"

using namespace e2e;

namespace {

const uint32_t SCALE = 4000000;     // net_max_in and net_max_out, bytes per second
const uint32_t PER_SECOND = 2000000; // sent: about 30 of the bar's 60 pixels
const DWORD SENDING_MS = 6000;

// Sends PER_SECOND bytes a second for `ms` from one loopback socket to
// another; returns the bytes sent.
uint64_t send_loopback(DWORD ms)
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 0;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), client = INVALID_SOCKET, server = INVALID_SOCKET;
    uint64_t sent = 0;
    if (bind(listener, (sockaddr *)&address, sizeof address) == 0 && listen(listener, 1) == 0 &&
        getsockname(listener, (sockaddr *)&address, &size) == 0 &&
        (client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) != INVALID_SOCKET &&
        connect(client, (sockaddr *)&address, sizeof address) == 0 &&
        (server = accept(listener, 0, 0)) != INVALID_SOCKET) {
        std::thread reader([server]() {
            static char sink[65536];
            while (recv(server, sink, sizeof sink, 0) > 0) {
            }
        });
        static char chunk[PER_SECOND / 20];
        const DWORD start = GetTickCount();
        for (DWORD passed; (passed = GetTickCount() - start) < ms;) {
            if (sent * 1000 < (uint64_t)PER_SECOND * passed) {
                int n = send(client, chunk, sizeof chunk, 0);
                if (n <= 0)
                    break;
                sent += (uint64_t)n;
            }
            Sleep(10);
        }
        shutdown(client, SD_SEND);
        reader.join();
    }
    for (SOCKET s : {client, server, listener})
        if (s != INVALID_SOCKET)
            closesocket(s);
    WSACleanup();
    return sent;
}

// The meter is drawn (no pop-up over the band): its rounded corners.
bool meter_shown(const Frame &f) { return !f.at(81, 8) && f.at(82, 8) && f.at(81, 9) && !f.at(81, 14); }

// Length of the bar on the row (incoming 11, outgoing 17).
int bar(const Frame &f, int row) { return lit_in(f, 100, 158, row, row); }

// Highest column of the page's graph in slot 0.
int graph_height(const Frame &f)
{
    int highest = 0;
    for (int x = 1; x <= 37; x++) {
        int h = 0;
        while (h < 13 && f.at(x, 42 - h))
            h++;
        highest = std::max(highest, h);
    }
    return highest;
}

TEST_F(E2E, LoopbackTrafficShowsOnTheMeterAndThePageThroughIpHelper)
{
    write_config("slot_0 NET+\nslot_1 NET++\nanimate_start 0\nnet_adapter lo\nnet_max_in " + std::to_string(SCALE) +
                 "\nnet_max_out " + std::to_string(SCALE) + "\n");
    ASSERT_TRUE(start_lcdmon());
    HANDLE program = start_pixwick();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(wait_frames(40, 25000));
    ASSERT_TRUE(wait_more_frames(10, 5000));
    const Frame idle = frames().back();
    ASSERT_TRUE(meter_shown(idle));
    EXPECT_LE(bar(idle, 11) + bar(idle, 17), 2) << "no traffic: about zero";

    const int64_t start_us = lcdmon_now_us();
    const uint64_t sent = send_loopback(SENDING_MS);
    const int64_t end_us = lcdmon_now_us();
    ASSERT_GT(sent, (uint64_t)PER_SECOND * SENDING_MS / 1000 * 8 / 10);
    // the loopback interface counts every byte once in and once out
    std::vector<int> in_bars, out_bars;
    int height = 0;
    for (const Frame &f : frames())
        if (f.us > start_us + 2500000 && f.us < end_us && meter_shown(f)) {
            in_bars.push_back(bar(f, 11)), out_bars.push_back(bar(f, 17));
            height = std::max(height, graph_height(f));
        }
    ASSERT_GE(in_bars.size(), 10u);
    std::sort(in_bars.begin(), in_bars.end());
    std::sort(out_bars.begin(), out_bars.end());
    const int expected = (int)((uint64_t)PER_SECOND * 60 / SCALE); // 30 pixels
    EXPECT_NEAR(in_bars[in_bars.size() / 2], expected, expected / 2);
    EXPECT_NEAR(out_bars[out_bars.size() / 2], expected, expected / 2);
    EXPECT_NEAR(height, 6, 3) << "a 500 ms sample of a quarter of the scale is 6 pixels high";

    ASSERT_TRUE(WAIT_UNTIL(lcdmon_now_us() > end_us + 2500000, 5000));
    ASSERT_TRUE(wait_more_frames(3, 5000));
    const Frame after = frames().back();
    EXPECT_LE(bar(after, 11) + bar(after, 17), 2) << "traffic over: about zero again";
    EXPECT_EQ(lit_in(after, 37, 37, 30, 42), 0) << "the newest sample is empty";

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
