// NET: the three statistics sources answering recorded replies at the
// Windows-call boundary (Wine has no \Device\Tcp and no NDIS statistics), the
// choice of source, sampling, and the meter and the page as golden pictures.
#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "app.h"
#include "config.h"
#include "golden.h"
#include "lcd.h"
#include "log_files.h"
#include "mod_net.h"
#include "ndisstats.h"
#include "popup.h"
#include "sysinfo.h"

namespace {

const HANDLE TCP = (HANDLE)(intptr_t)0x7c0;
const intptr_t CARDS = 0x900; // NDIS device n is CARDS + n

// One adapter as every source sees it: TDI entity instance, IP Helper index
// and NDIS card number `id`, NDIS service "{id}".
struct Adapter {
    uint32_t id, type;
    std::string description;
    uint64_t in, out;
    int answers = 1;   // 0: gone; NDIS: forms answered, 1 NDIS 6, 2 64-bit, 4 32-bit
    size_t reply = 0;  // a shorter reply than asked for (TDI entry, NDIS 6)
    DWORD claimed = 0; // a reply size claimed beyond what was written
};
std::vector<Adapter> g_adapters;
LONG g_tcp_status;

template <typename T> void put(std::vector<uint8_t> &bytes, size_t at, T value)
{
    memcpy(bytes.data() + at, &value, sizeof value);
}

LONG NTAPI fake_nt_create_file(PHANDLE handle, ACCESS_MASK access, void *attributes, void *, PLARGE_INTEGER,
                               ULONG file_attributes, ULONG share, ULONG disposition, ULONG options, PVOID, ULONG)
{
    const UNICODE_STRING *name = ((const OBJECT_ATTRIBUTES *)attributes)->ObjectName;
    EXPECT_EQ(std::wstring(name->Buffer, name->Length / 2), L"\\Device\\Tcp");
    EXPECT_EQ(((const OBJECT_ATTRIBUTES *)attributes)->Attributes + access, 0x40u + 0x20100000u);
    EXPECT_EQ(file_attributes + share + disposition + options, 0x80u + 3 + 3 + 0x20);
    *handle = TCP;
    return g_tcp_status;
}

// Recorded TDI replies: entity list, entity kind, MIB-II interface entry.
bool tdi_reply(const TdiRequest &r, std::vector<uint8_t> *reply, DWORD *claimed)
{
    if (r.entity == 0 && r.info_class == 0x100 && r.info_id == 0) {
        for (const Adapter &a : g_adapters) // a transport entity, then the interface
            for (uint32_t word : {0x400u, a.id, (uint32_t)TDI_IF_ENTITY, a.id})
                reply->insert(reply->end(), (uint8_t *)&word, (uint8_t *)&word + 4);
        return true;
    }
    for (const Adapter &a : g_adapters) {
        if (a.id != r.instance || !a.answers || r.entity != TDI_IF_ENTITY)
            continue;
        reply->assign(r.info_class == 0x100 ? 4 : TDI_IF_ENTRY_BYTES, 0);
        if (r.info_class == 0x100)
            return put(*reply, 0, (uint32_t)TDI_IF_MIB), true;
        put(*reply, 0, a.id), put(*reply, 4, a.type), put(*reply, 40, (uint32_t)a.in);
        put(*reply, 64, (uint32_t)a.out), put(*reply, 88, (uint32_t)a.description.size());
        memcpy(reply->data() + 92, a.description.data(), a.description.size());
        reply->resize(a.reply ? a.reply : reply->size());
        *claimed = a.claimed;
        return true;
    }
    return false;
}

bool ndis_reply(size_t n, uint32_t oid, const uint8_t *header, DWORD size, std::vector<uint8_t> *reply)
{
    const Adapter &a = g_adapters[n];
    if (oid == 0x00020106 && (a.answers & 1)) {
        EXPECT_EQ(header[0] | header[1] << 8 | header[2] << 16 | header[3] << 24, 0x00980180) << "type, revision, size";
        reply->assign(NDIS6_STATS_BYTES, 0);
        put(*reply, 24, a.in), put(*reply, 56, a.out);
        reply->resize(a.reply ? a.reply : reply->size());
        return true;
    }
    const uint64_t value = oid == 0x00020201 ? a.out : a.in;
    reply->assign((const uint8_t *)&value, (const uint8_t *)&value + size);
    return (oid == 0x00020201 || oid == 0x00020207) && (a.answers & (size == 8 ? 2 : 4));
}

BOOL WINAPI fake_ioctl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                       LPDWORD returned, LPOVERLAPPED)
{
    std::vector<uint8_t> reply;
    DWORD claimed = 0;
    const size_t card = (size_t)((intptr_t)device - CARDS);
    bool ok = false;
    if (code == 0x00120003 && device == TCP) {
        EXPECT_EQ(in_size, sizeof(void *) == 8 ? 40u : 36u);
        ok = tdi_reply(*(const TdiRequest *)in, &reply, &claimed);
    } else if (code == 0x00170002 && in_size == 4 && card < g_adapters.size()) {
        ok = ndis_reply(card, *(const uint32_t *)in, (const uint8_t *)out, out_size, &reply);
    }
    memcpy(out, reply.data(), std::min<size_t>(reply.size(), out_size));
    *returned = ok ? (claimed ? claimed : (DWORD)reply.size()) : 0;
    return ok ? TRUE : (SetLastError(ERROR_NOT_SUPPORTED), FALSE);
}

HANDLE WINAPI fake_create_file(LPCSTR path, DWORD, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                               HANDLE)
{
    EXPECT_EQ(share + disposition, 3u + OPEN_EXISTING);
    for (size_t n = 0; n < g_adapters.size(); n++)
        if (g_adapters[n].type && "\\\\.\\{" + std::to_string(g_adapters[n].id) + "}" == path)
            return (HANDLE)(CARDS + (intptr_t)n);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI fake_close(HANDLE) { return TRUE; }

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }

struct NetTest : ::testing::Test {
    NetWindowsCalls saved_calls = net_windows;
    HKEY saved_root = ndis_registry_root;
    const char *saved_key = ndis_cards_key;
    AppClock saved_clock = app_clock;
    int saved_vista = os_is_vista;
    std::string cards_key = "Software\\PixwickTests\\NetCards" + std::to_string(GetCurrentProcessId());
    std::string token = unique_token("net");
    bool own_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;

    void SetUp() override
    {
        g_adapters.clear(), g_tcp_status = 0;
        net_windows = {fake_nt_create_file, fake_ioctl, fake_create_file, fake_close, saved_calls.get_if_table2,
                       saved_calls.free_mib_table}; // IP Helper answers as Wine does: the host's interfaces
        ndis_registry_root = HKEY_CURRENT_USER, ndis_cards_key = cards_key.c_str();
        app_clock = fake_clock, fake_now = 5000, second_tick = 0;
        popup_clear(&g_popups);
        for (int i = 0; i < SLOT_COUNT; i++)
            g_slots[i] = Slot{}, g_slots[i].number = i, g_slots[i].x = i * 40 + (i > 1), g_slots[i].y = 22;
        ASSERT_NE(g_lcd.frame, nullptr);
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    }
    void TearDown() override
    {
        net_close(&g_net_stats), tdi_close(), ndis_close(), iphlp_close();
        net_windows = saved_calls, ndis_registry_root = saved_root, ndis_cards_key = saved_key;
        RegDeleteTreeA(HKEY_CURRENT_USER, cards_key.c_str());
        app_clock = saved_clock, os_is_vista = saved_vista, second_tick = 0;
        config_free_entries(&g_config.entries), popup_clear(&g_popups);
        if (own_surface)
            lcd_destroy_surface(&g_lcd);
    }
    void add(uint32_t id, uint32_t type, const char *what, uint64_t in, uint64_t out, int answers = 1)
    {
        g_adapters.push_back({id, type, what + (" " + token), in, out, answers});
        const std::string key = cards_key + "\\" + std::to_string(id), service = "{" + std::to_string(id) + "}";
        const std::string &text = g_adapters.back().description;
        RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "ServiceName", REG_SZ, service.c_str(), (DWORD)service.size() + 1);
        RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "Description", REG_SZ, text.c_str(), (DWORD)text.size() + 1);
    }
    // Whether system.txt (CR LF line ends) has the line, the adapter's token appended to its name.
    bool logged(const std::string &before, const std::string &after = "'\r\n")
    {
        return read_binary_file(log_path("system.txt")).find(before + " " + token + after) != std::string::npos;
    }
    void expect_reads(int method, int count, uint64_t in, uint64_t out)
    {
        uint64_t got_in = 7, got_out = 7;
        EXPECT_EQ(net_source_read(method, nullptr, &got_in, &got_out), count);
        EXPECT_EQ(got_in, in);
        EXPECT_EQ(got_out, out);
    }
};

TEST_F(NetTest, TdiCountsTwoAdaptersAcrossAWrapAGapAndOddRepliesWithoutLoopback)
{
    add(1, 6, "Ethernet A", 0xffffff00u, 1000), add(2, 71, "Wireless B", 5000, 6000), add(3, 24, "Loopback", 0, 0);
    ASSERT_EQ(tdi_open(nullptr), 2);
    EXPECT_TRUE(logged("TDI: Found 'Ethernet A") && logged("TDI: Found 'Wireless B"));
    EXPECT_FALSE(logged("Loopback", ""));
    Adapter &a = g_adapters[0], &b = g_adapters[1];
    a.in = 0x100, a.out = 1500, b.in = 4000, b.out = 6100;
    expect_reads(1, 2, 0x200, 600); // A's 32-bit counter wraps, B's goes backwards
    a.in += 0x10, b.answers = 0;
    expect_reads(1, 1, 0x10, 0); // B vanished
    a.in += 0x10, b.answers = 1, b.in += 100, b.claimed = 5000;
    expect_reads(1, 2, 0x10, 0); // back as a baseline; its reply claims 5000 bytes
    a.reply = 60, b.in += 100;
    expect_reads(1, 1, 100, 0); // A's reply stops before its counters

    a.reply = 0;
    const std::string only_b = "Wireless B " + token;
    ASSERT_EQ(tdi_open(only_b.c_str()), 1);
    EXPECT_TRUE(logged("TDI: Found 'Ethernet A", "' [Not wanted by user]\r\n"));
}

TEST_F(NetTest, NdisFallsBackFormByFormAndReopensAnAdapterThatStoppedReporting)
{
    add(1, 6, "Adapter A", 1000, 2000, 1 | 2), add(2, 6, "Adapter B", 1 << 20, 1 << 21, 2);
    add(3, 6, "Adapter C", 0xfffffff0u, 50, 4), add(4, 6, "Adapter D", 0, 0, 0), add(5, 0, "Adapter E", 0, 0);
    ASSERT_EQ(ndis_open(nullptr), 3);
    EXPECT_TRUE(logged("NDIS: Found 'Adapter A", "' at '\\\\.\\{1}'\r\n"));
    EXPECT_TRUE(logged("NDIS: Adapter 'Adapter A", "' supports NDIS 6 statistics\r\n"));
    EXPECT_TRUE(logged("NDIS: Adapter 'Adapter C", "' supports NDIS 5.1 32-bit statistics\r\n"));
    EXPECT_TRUE(logged("NDIS: Adapter 'Adapter D", "' does not report statistics, ignoring it\r\n"));
    EXPECT_NE(log_line_with("errors.txt", "Adapter E " + token).find("src/ndisstats(209) | failed to open NDIS device"),
              std::string::npos);

    Adapter &a = g_adapters[0], &b = g_adapters[1], &c = g_adapters[2];
    a.in += 100, a.reply = 40, b.out += 10, c.in = 0x10; // A's NDIS 6 reply too short; C's counter wraps
    expect_reads(2, 3, 100 + 0x20, 10);
    EXPECT_EQ(ndis_adapter(0)->form, NDIS_FORM_64);
    b.answers = 0;
    expect_reads(2, 2, 0, 0);
    EXPECT_NE(log_line_with("errors.txt", "NDIS device 'Adapter B " + token +
                                              "' has stopped reporting stats, trying to reopen it").find("(332)"),
              std::string::npos);
    b.answers = 2, b.out += 1000;
    ndis_enumerate(nullptr, 0);
    expect_reads(2, 3, 0, 0); // reopened: a baseline first
    b.out += 30;
    expect_reads(2, 3, 0, 30);
}

// No TDI and no NDIS adapter; IP Helper is Wine's, with the host's loopback
// interface "lo", which counts only when named.
TEST_F(NetTest, MethodKeyChoosesTheSourceAndIpHelperStandsInForOneThatFindsNothing)
{
    g_tcp_status = (LONG)0xC0000034;
    const struct { const char *value, *adapter; int vista; uint32_t method, count; const char *name; } cases[] = {
        {"TDI", "lo", 1, 1, 0, "TDI"},  {"nDiS", "lo", 0, 2, 0, "NDIS"}, {"IpHlp", "lo", 0, 3, 1, "IPHLP"},
        {0, "lo", 1, 3, 1, "IPHLP"},    {0, "lo", 0, 3, 1, "IPHLP"},     {"off", "lo", 1, 3, 1, "IPHLP"},
        {0, "no such adapter", 1, 2, 0, "NDIS"}, // IP Helper finds nothing either: the usual source stays
    };
    for (const auto &c : cases) {
        os_is_vista = c.vista;
        config_free_entries(&g_config.entries);
        config_put(&g_config.entries, "net_adapter", c.adapter);
        if (c.value)
            config_put(&g_config.entries, "net_method", c.value);
        net_close(&g_net_stats);
        net_init(&g_net_stats);
        EXPECT_EQ(g_net_stats.method * 10 + g_net_stats.adapter_count, c.method * 10 + c.count) << c.vista;
        EXPECT_STREQ(net_method_name(&g_net_stats), c.name);
    }

    g_net_stats.total_in = 12345, g_net_stats.in_history[3] = 9;
    slot_parse_value(&g_slots[0], "NET*"); // a long press: everything afresh (its pop-up: end to end)
    EXPECT_EQ(net_render(&g_net, 0), 1);
    EXPECT_EQ(g_net_stats.total_in + g_net_stats.in_history[3] + g_slots[0].pending_action, 0u);
    net_close(&g_net_stats);
    EXPECT_EQ(net_render(&g_net, 0), 0) << "no page while off";
}

TEST_F(NetTest, PollSamplesEveryFifthTickAndAGapLengthensTheNextSample)
{
    add(4, 6, "eth0", 1000, 1000);
    config_put(&g_config.entries, "net_method", "tdi");
    config_put(&g_config.entries, "net_max_in", "0");
    net_init(&g_net_stats);
    EXPECT_EQ(g_net_stats.max_in, (uint32_t)NET_DEFAULT_MAX);
    for (int tick = 1; tick <= 15; tick++) { // 500 ms, 500 ms without the adapter, 500 ms
        fake_now += 100;
        g_adapters[0].in += 100, g_adapters[0].answers = tick <= 5 || tick > 10;
        EXPECT_EQ(net_poll(&g_net_stats), tick == 5 || tick == 15) << tick;
    }
    EXPECT_EQ(g_net_stats.in_history[1] + g_net_stats.elapsed_history[1], 500u + 500);
    EXPECT_EQ(g_net_stats.in_history[0] + g_net_stats.elapsed_history[0], 0u + 1000) << "back as a baseline";
    uint64_t in_rate, out_rate;
    net_configure(&g_net_stats); // a reload: empty histories, totals kept
    net_record_sample(&g_net_stats, 3000, 0, fake_now + 500);
    net_rates(&g_net_stats, &in_rate, &out_rate);
    EXPECT_EQ(in_rate + g_net_stats.total_in, 6000u + 3500) << "one 500 ms sample counts twice";
}

TEST_F(NetTest, MeterAndPagesAsGoldenPictures)
{
    NetStats &s = g_net_stats;
    s = NetStats{};
    s.method = NET_METHOD_IPHLP, s.max_in = s.max_out = 1000000;
    for (int i = 0; i < 3; i++) // 1.2 MB/s in, above full scale; a quarter of it out
        s.in_history[i] = 600000, s.out_history[i] = 125000, s.elapsed_history[i] = 500;
    second_tick = 1;
    EXPECT_EQ(net_draw_meter(&s), 1);
    EXPECT_GOLDEN_AREA("net_meter", g_lcd.frame, 81, 8, 79, 13);
    s.hidden = 1;
    EXPECT_EQ(net_draw_meter(&s), 0);

    // 37 samples: steps, a quarter of the scale (6 pixels), half (all 13) and
    // one whose height product overflows 32 bits
    for (int i = 0; i < NET_HISTORY; i++)
        s.out_history[i] = (uint32_t)(i % 8) * 40000, s.in_history[i] = (uint32_t)(NET_HISTORY - i) * 12000;
    s.out_history[0] = 250000, s.out_history[1] = 500000, s.out_history[2] = 165191050;
    s.total_in = 1234567, s.total_out = 5000000000u;
    slot_parse_value(&g_slots[0], "NET"), slot_parse_value(&g_slots[1], "NET+");
    slot_parse_value(&g_slots[2], "NET+++++"), slot_parse_value(&g_slots[3], "NET++");
    net_start(&g_net);
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    for (int i = 0; i < SLOT_COUNT; i++)
        EXPECT_EQ(net_render(&g_net, i), 1);
    EXPECT_GOLDEN_AREA("net_page_out", g_lcd.frame, 0, 22, 39, 21);
    EXPECT_GOLDEN_AREA("net_page_in", g_lcd.frame, 40, 22, 39, 21);
    EXPECT_GOLDEN_AREA("net_page_tot", g_lcd.frame, 121, 22, 39, 21);
    EXPECT_EQ(g_net.view[2], 0) << "a view past TOT is OUT";
    for (int view : {1, 2, 0, 1}) {
        g_slots[0].pending_action = 1;
        net_render(&g_net, 0);
        EXPECT_EQ(g_net.view[0], view);
    }
    EXPECT_EQ(g_net.view[1], 1) << "each slot steps on its own";
}

} // namespace
