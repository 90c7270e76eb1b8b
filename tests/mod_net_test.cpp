// NET: the three statistics sources answering recorded replies at the
// Windows-call boundary (Wine has no \Device\Tcp and no NDIS statistics), the
// choice of source, sampling, and the band meter and the page against golden
// pictures.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <winternl.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
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
const intptr_t NDIS_HANDLES = 0x900;

struct FakeInterface { // a TDI interface entity
    uint32_t instance, type, in, out;
    std::string description;
    int answers = 1;
    size_t reply_size = TDI_IF_ENTRY_BYTES;
    DWORD claimed = 0; // a size reported beyond the reply
};

struct FakeCard { // an NDIS adapter and its NetworkCards entry
    std::string service, description;
    int forms; // answers: 1 NDIS 6, 2 64-bit OIDs, 4 32-bit OIDs
    uint64_t in, out;
    int present = 1;
    size_t ndis6_size = NDIS6_STATS_BYTES;
};

struct Fake {
    std::vector<FakeInterface> tdi;
    LONG tdi_status = 0;
    DWORD entity_list_claimed = 0;
    std::vector<FakeCard> cards;
    std::vector<MIB_IF_ROW2> rows;
    int closed = 0;
} g_fake;

void put(std::vector<uint8_t> &bytes, size_t at, const void *value, size_t size)
{
    if (at + size <= bytes.size())
        memcpy(bytes.data() + at, value, size);
}

LONG NTAPI fake_nt_create_file(PHANDLE handle, ACCESS_MASK access, void *attributes, void *, PLARGE_INTEGER,
                               ULONG file_attributes, ULONG share, ULONG disposition, ULONG options, PVOID, ULONG)
{
    const OBJECT_ATTRIBUTES *object = (const OBJECT_ATTRIBUTES *)attributes;
    EXPECT_EQ(std::wstring(object->ObjectName->Buffer, object->ObjectName->Length / 2), L"\\Device\\Tcp");
    EXPECT_EQ(object->Attributes, 0x40u);
    EXPECT_EQ(access, 0x20100000u);
    EXPECT_EQ(file_attributes + share + disposition + options, 0x80u + 3 + 3 + 0x20);
    *handle = TCP;
    return g_fake.tdi_status;
}

FakeInterface *tdi_entity(uint32_t instance)
{
    for (FakeInterface &i : g_fake.tdi)
        if (i.instance == instance && i.answers)
            return &i;
    return nullptr;
}

// Recorded TDI replies: the entity list, the entity kind and the MIB-II entry.
bool tdi_reply(const TdiRequest &r, std::vector<uint8_t> *reply, DWORD *claimed)
{
    EXPECT_EQ(r.info_type, 0x100u);
    if (r.info_class == 0x100 && r.info_id == 0 && r.entity == 0) {
        for (const FakeInterface &i : g_fake.tdi) {
            const uint32_t pair[4] = {0x400, i.instance, TDI_IF_ENTITY, i.instance}; // a transport, an interface
            reply->insert(reply->end(), (const uint8_t *)pair, (const uint8_t *)(pair + 4));
        }
        *claimed = g_fake.entity_list_claimed;
        return true;
    }
    FakeInterface *i = tdi_entity(r.instance);
    if (!i || r.entity != TDI_IF_ENTITY)
        return false;
    if (r.info_class == 0x100 && r.info_id == 1) {
        const uint32_t kind = TDI_IF_MIB;
        reply->assign((const uint8_t *)&kind, (const uint8_t *)&kind + 4);
        return true;
    }
    if (r.info_class != 0x200 || r.info_id != 1)
        return false;
    reply->assign(TDI_IF_ENTRY_BYTES, 0);
    const uint32_t length = (uint32_t)i->description.size();
    put(*reply, 0, &i->instance, 4), put(*reply, 4, &i->type, 4), put(*reply, 40, &i->in, 4);
    put(*reply, 64, &i->out, 4), put(*reply, 88, &length, 4), put(*reply, 92, i->description.data(), length);
    reply->resize(i->reply_size);
    *claimed = i->claimed;
    return true;
}

bool ndis_reply(HANDLE device, uint32_t oid, const uint8_t *header, DWORD size, std::vector<uint8_t> *reply)
{
    const size_t n = (size_t)((intptr_t)device - NDIS_HANDLES);
    if (n >= g_fake.cards.size())
        return false;
    const FakeCard &card = g_fake.cards[n];
    if (oid == 0x00020106 && (card.forms & 1)) {
        EXPECT_EQ(header[0] | header[1] << 8 | header[2] << 16 | header[3] << 24, 0x00980180) << "type, revision, size";
        reply->assign(NDIS6_STATS_BYTES, 0);
        put(*reply, 24, &card.in, 8), put(*reply, 56, &card.out, 8);
        reply->resize(card.ndis6_size);
        return true;
    }
    const int form = size == 8 ? 2 : 4;
    if ((oid != 0x00020201 && oid != 0x00020207) || !(card.forms & form))
        return false;
    const uint64_t value = oid == 0x00020201 ? card.out : card.in;
    reply->assign((const uint8_t *)&value, (const uint8_t *)&value + size);
    return true;
}

BOOL WINAPI fake_ioctl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                       LPDWORD returned, LPOVERLAPPED)
{
    std::vector<uint8_t> reply;
    DWORD claimed = 0;
    *returned = 0;
    if (code == 0x00120003 && device == TCP) {
        EXPECT_EQ(in_size, sizeof(void *) == 8 ? 40u : 36u);
        TdiRequest request;
        memcpy(&request, in, sizeof request);
        if (!tdi_reply(request, &reply, &claimed))
            return FALSE;
    } else if (code != 0x00170002 || in_size != 4 ||
               !ndis_reply(device, *(const uint32_t *)in, (const uint8_t *)out, out_size, &reply)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    memcpy(out, reply.data(), std::min<size_t>(reply.size(), out_size));
    *returned = claimed ? claimed : (DWORD)reply.size();
    return TRUE;
}

HANDLE WINAPI fake_create_file(LPCSTR path, DWORD, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                               HANDLE)
{
    EXPECT_EQ(share, 3u);
    EXPECT_EQ(disposition, (DWORD)OPEN_EXISTING);
    for (size_t n = 0; n < g_fake.cards.size(); n++)
        if (g_fake.cards[n].present && std::string("\\\\.\\") + g_fake.cards[n].service == path)
            return (HANDLE)(NDIS_HANDLES + (intptr_t)n);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI fake_close(HANDLE) { return ++g_fake.closed > 0; }

DWORD WINAPI fake_get_if_table2(void **table)
{
    const size_t rows = g_fake.rows.size();
    MIB_IF_TABLE2 *t = (MIB_IF_TABLE2 *)calloc(1, sizeof(MIB_IF_TABLE2) + rows * sizeof(MIB_IF_ROW2));
    t->NumEntries = (ULONG)rows;
    std::copy(g_fake.rows.begin(), g_fake.rows.end(), t->Table);
    *table = t;
    return NO_ERROR;
}

void WINAPI fake_free_mib_table(void *table) { free(table); }

MIB_IF_ROW2 if_row(NET_IFINDEX index, ULONG type, const wchar_t *description, ULONG64 in, ULONG64 out,
                   bool filter = false)
{
    MIB_IF_ROW2 row = {};
    row.InterfaceIndex = index, row.Type = type, row.InOctets = in, row.OutOctets = out;
    row.InterfaceAndOperStatusFlags.FilterInterface = filter;
    wcsncpy(row.Description, description, 256);
    return row;
}

std::wstring wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

uint32_t fake_now;
uint32_t fake_clock() { return fake_now; }

struct NetTest : ::testing::Test {
    NetWindowsCalls saved_calls = net_windows;
    HKEY saved_root = ndis_registry_root;
    const char *saved_key = ndis_cards_key;
    AppClock saved_clock = app_clock;
    int saved_vista = os_is_vista, saved_second = second_tick, saved_blink = blink;
    std::string cards_key = "Software\\PixwickTests\\NetCards" + std::to_string(GetCurrentProcessId());
    std::string token = unique_token("net");
    bool own_surface = !g_lcd.frame && lcd_create_surface(&g_lcd) == 1;

    void SetUp() override
    {
        g_fake = Fake{};
        net_windows = {fake_nt_create_file, fake_ioctl, fake_create_file, fake_close, fake_get_if_table2,
                       fake_free_mib_table};
        ndis_registry_root = HKEY_CURRENT_USER, ndis_cards_key = cards_key.c_str();
        RegDeleteTreeA(HKEY_CURRENT_USER, cards_key.c_str());
        app_clock = fake_clock, fake_now = 5000;
        second_tick = blink = 0;
        ASSERT_NE(g_lcd.frame, nullptr);
        memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
        for (int i = 0; i < SLOT_COUNT; i++)
            g_slots[i] = Slot{}, g_slots[i].number = i, g_slots[i].x = i * 40 + (i > 1), g_slots[i].y = 22;
        popup_clear(&g_popups);
    }
    void TearDown() override
    {
        net_close(&g_net_stats);
        tdi_close(), ndis_close(), iphlp_close();
        net_windows = saved_calls, ndis_registry_root = saved_root, ndis_cards_key = saved_key;
        RegDeleteTreeA(HKEY_CURRENT_USER, cards_key.c_str());
        app_clock = saved_clock, os_is_vista = saved_vista, second_tick = saved_second, blink = saved_blink;
        config_free_entries(&g_config.entries);
        popup_clear(&g_popups);
        if (own_surface)
            lcd_destroy_surface(&g_lcd);
    }
    // The NetworkCards entries of g_fake.cards, plus one whose service name is no string.
    void register_cards()
    {
        for (size_t n = 0; n <= g_fake.cards.size(); n++) {
            HKEY key;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (cards_key + "\\" + std::to_string(n + 1)).c_str(), 0, 0, 0,
                                      KEY_ALL_ACCESS, 0, &key, 0), ERROR_SUCCESS);
            if (n < g_fake.cards.size()) {
                const FakeCard &c = g_fake.cards[n];
                RegSetValueExA(key, "ServiceName", 0, REG_SZ, (const BYTE *)c.service.c_str(), (DWORD)c.service.size() + 1);
                RegSetValueExA(key, "Description", 0, REG_SZ, (const BYTE *)c.description.c_str(),
                               (DWORD)c.description.size() + 1);
            } else {
                const DWORD number = 7;
                RegSetValueExA(key, "ServiceName", 0, REG_DWORD, (const BYTE *)&number, sizeof number);
            }
            RegCloseKey(key);
        }
    }
    std::string name(const char *what) { return std::string(what) + " " + token; }
    // Whether the log holds text, its line ends written as the file has them.
    bool logged(const char *file, std::string text)
    {
        for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
            text.insert(at, "\r");
        return read_binary_file(log_path(file)).find(text) != std::string::npos;
    }
};

TEST_F(NetTest, TdiCountsTwoAdaptersAcrossWrapsAndGapsWithoutLoopback)
{
    g_fake.tdi = {{1, 6, 0xffffff00u, 1000, name("Ethernet A")}, {2, 71, 5000, 6000, name("Wireless B")},
                  {3, 24, 0, 0, name("Loopback")}};
    ASSERT_EQ(tdi_open(nullptr), 2);
    EXPECT_TRUE(logged("system.txt", "TDI: Found '" + name("Ethernet A") + "'\n"));
    EXPECT_TRUE(logged("system.txt", "TDI: Found '" + name("Wireless B") + "'\n"));
    EXPECT_FALSE(logged("system.txt", name("Loopback")));

    struct Step { uint32_t a_in, a_out, b_in, b_out; int b_answers; size_t a_size; DWORD b_claimed;
                  int count; uint64_t in, out; };
    const Step steps[] = {
        {0x100, 1500, 4000, 6100, 1, 225, 0, 2, 0x200, 600},   // A's 32-bit wrap; B's counter went backwards
        {0x110, 1500, 4100, 6200, 0, 225, 0, 1, 0x10, 0},      // B vanished
        {0x120, 1500, 4200, 6300, 1, 225, 5000, 2, 0x10, 0},   // back: a new baseline; its reply claims 5000 bytes
        {0x130, 1600, 4300, 6400, 1, 60, 0, 1, 100, 100},      // A's reply too short to hold its counters
    };
    for (const Step &s : steps) {
        g_fake.tdi[0].in = s.a_in, g_fake.tdi[0].out = s.a_out, g_fake.tdi[0].reply_size = s.a_size;
        g_fake.tdi[1].in = s.b_in, g_fake.tdi[1].out = s.b_out, g_fake.tdi[1].answers = s.b_answers;
        g_fake.tdi[1].claimed = s.b_claimed;
        uint64_t in = 7, out = 7;
        EXPECT_EQ(tdi_read(nullptr, &in, &out), s.count) << s.a_in;
        EXPECT_EQ(in, s.in) << s.a_in;
        EXPECT_EQ(out, s.out) << s.a_in;
    }

    g_fake.tdi[0].reply_size = TDI_IF_ENTRY_BYTES;
    g_fake.entity_list_claimed = 40000; // more than the 32768-byte buffer
    ASSERT_EQ(tdi_refresh(nullptr), 1);
    const std::string wanted = name("Wireless B");
    ASSERT_EQ(tdi_open(wanted.c_str()), 1);
    EXPECT_TRUE(logged("system.txt", "TDI: Found '" + name("Ethernet A") + "' [Not wanted by user]\n"));
    g_fake.tdi_status = (LONG)0xC0000034; // \Device\Tcp not there, as under Wine
    EXPECT_EQ(tdi_open(nullptr), 0);
    EXPECT_EQ(tdi_refresh(nullptr), 0) << "retried on every refresh";
}

TEST_F(NetTest, NdisFallsBackFormByFormAndReopensAVanishedAdapter)
{
    g_fake.cards = {{"{A}", name("Adapter A"), 1 | 2, 1000, 2000}, {"{B}", name("Adapter B"), 2, 1 << 20, 1 << 21},
                    {"{C}", name("Adapter C"), 4, 0xfffffff0u, 50}, {"{D}", name("Adapter D"), 0, 0, 0},
                    {"{E}", name("Adapter E"), 1, 0, 0}};
    g_fake.cards[4].present = 0;
    register_cards();
    ASSERT_EQ(ndis_open(nullptr), 3);
    EXPECT_TRUE(logged("system.txt", "NDIS: Found '" + name("Adapter A") + "' at '\\\\.\\{A}'\n"));
    EXPECT_TRUE(logged("system.txt", "NDIS: Adapter '" + name("Adapter A") + "' supports NDIS 6 statistics\n"));
    EXPECT_TRUE(logged("system.txt", "NDIS: Adapter '" + name("Adapter B") + "' supports NDIS 5.1 64-bit statistics\n"));
    EXPECT_TRUE(logged("system.txt", "NDIS: Adapter '" + name("Adapter C") + "' supports NDIS 5.1 32-bit statistics\n"));
    EXPECT_TRUE(logged("system.txt", "NDIS: Adapter '" + name("Adapter D") +
                                         "' does not report statistics, ignoring it\n"));
    EXPECT_NE(log_line_with("errors.txt", name("Adapter E")).find("src/ndisstats(209) | failed to open NDIS device '" +
                                                                   name("Adapter E") + "' at '\\\\.\\{E}' | 00000002="),
              std::string::npos);

    g_fake.cards[0].in += 100, g_fake.cards[1].out += 10, g_fake.cards[2].in = 0x10; // C wraps
    g_fake.cards[0].ndis6_size = 40; // too short: A goes on with the 64-bit OIDs
    uint64_t in = 0, out = 0;
    EXPECT_EQ(ndis_read(&in, &out), 3);
    EXPECT_EQ(in, 100u + 0x20);
    EXPECT_EQ(out, 10u);
    EXPECT_EQ(ndis_adapter(0)->form, NDIS_FORM_64);

    g_fake.cards[1].forms = 0; // B stops answering
    EXPECT_EQ(ndis_read(&in, &out), 2);
    EXPECT_NE(log_line_with("errors.txt", "NDIS device '" + name("Adapter B") +
                                              "' has stopped reporting stats, trying to reopen it").find("(332)"),
              std::string::npos);
    EXPECT_FALSE(ndis_adapter(1)->open);
    g_fake.cards[1].forms = 2, g_fake.cards[1].out += 1000;
    ndis_enumerate(nullptr, 0);
    EXPECT_EQ(ndis_read(&in, &out), 3);
    EXPECT_EQ(out, 0u) << "reopened B reads its baseline first";
    g_fake.cards[1].out += 30;
    EXPECT_EQ(ndis_read(&in, &out), 3);
    EXPECT_EQ(out, 30u);
}

TEST_F(NetTest, IpHelperLeavesOutLoopbackAndFilterRowsUnlessNamed)
{
    const std::wstring lo = wide(name("lo")), eth = wide(name("eth0"));
    g_fake.rows = {if_row(1, 24, lo.c_str(), 100, 100), if_row(4, 6, eth.c_str(), 5000000000u, 7000),
                   if_row(9, 6, (eth + L"-Filter").c_str(), 0, 0, true), if_row(5, 71, L"Wi-Fi \u00fc\u20ac", 0, 0)};
    ASSERT_EQ(iphlp_open(nullptr), 2);
    EXPECT_TRUE(logged("system.txt", "IPHLP: Found '" + name("eth0") + "'\n"));
    EXPECT_TRUE(logged("system.txt", "IPHLP: Found 'Wi-Fi \xc3\xbc\xe2\x82\xac'\n"));
    EXPECT_FALSE(logged("system.txt", name("lo")));
    EXPECT_FALSE(logged("system.txt", name("eth0") + "-Filter"));

    const std::string only_lo = name("lo");
    ASSERT_EQ(iphlp_open(only_lo.c_str()), 1);
    EXPECT_TRUE(logged("system.txt", "IPHLP: Found '" + name("lo") + "'\n"));
    EXPECT_TRUE(logged("system.txt", "IPHLP: Found '" + name("eth0") + "' [Not wanted by user]\n"));

    ASSERT_EQ(iphlp_open(nullptr), 2);
    const struct { ULONG64 eth_in, eth_out; bool gone; int count; uint64_t in, out; } steps[] = {
        {5000001000u, 7500, false, 2, 1000, 500}, // 64-bit counters
        {5000002000u, 7600, true, 1, 0, 0},       // eth0 vanished
        {5000003000u, 7700, false, 2, 0, 0},      // back: a baseline
        {4000, 7800, false, 2, 0, 100},           // incoming counter reset
    };
    for (const auto &s : steps) {
        g_fake.rows[1].InOctets = s.eth_in, g_fake.rows[1].OutOctets = s.eth_out;
        g_fake.rows[1].InterfaceIndex = s.gone ? 0 : 4;
        g_fake.rows[1].Type = s.gone ? 24 : 6;
        uint64_t in = 7, out = 7;
        EXPECT_EQ(iphlp_read(nullptr, &in, &out), s.count) << s.eth_in;
        EXPECT_EQ(in, s.in) << s.eth_in;
        EXPECT_EQ(out, s.out) << s.eth_in;
    }
}

TEST_F(NetTest, MethodKeyChoosesTheSourceAndIpHelperStandsInForOneThatFindsNothing)
{
    g_fake.tdi_status = (LONG)0xC0000034;
    const struct { const char *value; int vista, rows; uint32_t method, count; const char *name; } cases[] = {
        {"TDI", 1, 1, 1, 0, "TDI"},  {"nDiS", 0, 1, 2, 0, "NDIS"}, {"IpHlp", 0, 1, 3, 1, "IPHLP"},
        {nullptr, 1, 1, 3, 1, "IPHLP"}, {nullptr, 0, 1, 3, 1, "IPHLP"}, {"off", 1, 1, 3, 1, "IPHLP"},
        {nullptr, 1, 0, 2, 0, "NDIS"}, // IP Helper finds nothing either: the usual source stays
    };
    for (const auto &c : cases) {
        g_fake.rows.clear();
        if (c.rows)
            g_fake.rows.push_back(if_row(4, 6, L"eth0", 0, 0));
        os_is_vista = c.vista;
        config_free_entries(&g_config.entries);
        if (c.value)
            config_put(&g_config.entries, "net_method", c.value);
        net_close(&g_net_stats);
        net_init(&g_net_stats);
        EXPECT_EQ(g_net_stats.method, c.method) << (c.value ? c.value : "absent") << " " << c.vista;
        EXPECT_EQ(g_net_stats.adapter_count, c.count) << (c.value ? c.value : "absent");
        EXPECT_STREQ(net_method_name(&g_net_stats), c.name);
    }

    // a long press resets everything and names the source
    g_net_stats.total_in = 12345, g_net_stats.in_history[3] = 9;
    slot_parse_value(&g_slots[0], "NET*");
    EXPECT_EQ(net_render(&g_net, 0), 1);
    EXPECT_EQ(g_slots[0].pending_action, 0);
    ASSERT_NE(g_popups.head, nullptr);
    EXPECT_STREQ(g_popups.head->text, "Net module reset. [NDIS x 0]");
    EXPECT_EQ(g_net_stats.total_in + g_net_stats.in_history[3], 0u);
    net_close(&g_net_stats);
    EXPECT_EQ(net_render(&g_net, 0), 0) << "no page while off";
}

TEST_F(NetTest, PollSamplesEveryFifthTickAndGapsLengthenTheNextSample)
{
    g_fake.rows = {if_row(4, 6, L"eth0", 1000, 1000)};
    config_put(&g_config.entries, "net_method", "iphlp");
    config_put(&g_config.entries, "net_max_in", "0");
    config_put(&g_config.entries, "net_max_out", "x");
    net_init(&g_net_stats);
    EXPECT_EQ(g_net_stats.max_in + g_net_stats.max_out, 2u * NET_DEFAULT_MAX);
    const struct { uint32_t in; bool gone; int recorded; } ticks[] = {
        {1100, false, 0}, {1200, false, 0}, {1300, false, 0}, {1400, false, 0}, {1500, false, 1}, // 500 ms
        {1600, true, 0}, {1700, true, 0}, {1800, true, 0}, {1900, true, 0}, {2000, true, 0},      // no adapter
        {2100, false, 0}, {2200, false, 0}, {2300, false, 0}, {2400, false, 0}, {2500, false, 1},
    };
    for (const auto &t : ticks) {
        fake_now += 100;
        g_fake.rows[0].InOctets = t.in;
        g_fake.rows[0].Type = t.gone ? 24 : 6;
        EXPECT_EQ(net_poll(&g_net_stats), t.recorded) << t.in;
    }
    EXPECT_EQ(g_net_stats.in_history[1], 500u);
    EXPECT_EQ(g_net_stats.elapsed_history[1], 500u);
    EXPECT_EQ(g_net_stats.in_history[0], 0u) << "the interface came back with a baseline";
    EXPECT_EQ(g_net_stats.elapsed_history[0], 1000u);
    EXPECT_EQ(g_net_stats.total_in, 500u);

    uint64_t in_rate, out_rate;
    net_configure(&g_net_stats);
    net_rates(&g_net_stats, &in_rate, &out_rate);
    EXPECT_EQ(in_rate + out_rate, 0u) << "a reload empties the histories";
    EXPECT_EQ(g_net_stats.total_in, 500u) << "and keeps the totals";
    g_net_stats.in_history[0] = 3000, g_net_stats.elapsed_history[0] = 500;
    net_rates(&g_net_stats, &in_rate, &out_rate);
    EXPECT_EQ(in_rate, 6000u) << "one 500 ms sample counts twice";
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
    memset(g_lcd.frame, 0, LCD_FRAME_BYTES);
    EXPECT_EQ(net_draw_meter(&s), 0);
    EXPECT_EQ(std::count(g_lcd.frame, g_lcd.frame + LCD_FRAME_BYTES, 255), 0);

    // 37 samples: rising steps, a quarter of the scale (6 pixels), half (full
    // 13) and one whose 32-bit height product would wrap to 0
    for (int i = 0; i < NET_HISTORY; i++)
        s.out_history[i] = (uint32_t)(i % 8) * 40000, s.in_history[i] = (uint32_t)(NET_HISTORY - i) * 12000;
    s.out_history[0] = 250000, s.out_history[1] = 500000, s.out_history[2] = 165191050;
    s.total_in = 1234567, s.total_out = 5000000000u;
    slot_parse_value(&g_slots[0], "NET");
    slot_parse_value(&g_slots[1], "NET+");
    slot_parse_value(&g_slots[2], "NET+++++");
    net_start(&g_net);
    g_net.view[3] = 2;
    for (int i = 0; i < SLOT_COUNT; i++)
        EXPECT_EQ(net_render(&g_net, i), 1);
    EXPECT_GOLDEN_AREA("net_page_out", g_lcd.frame, 0, 22, 39, 21);
    EXPECT_GOLDEN_AREA("net_page_in", g_lcd.frame, 40, 22, 39, 21);
    EXPECT_GOLDEN_AREA("net_page_tot", g_lcd.frame, 121, 22, 39, 21);
    EXPECT_EQ(g_net.view[2], 0) << "a view past TOT is OUT";

    const int expected[] = {1, 2, 0, 1};
    for (int view : expected) {
        g_slots[0].pending_action = 1;
        net_render(&g_net, 0);
        EXPECT_EQ(g_net.view[0], view);
    }
    EXPECT_EQ(g_net.view[1], 1) << "each slot steps on its own";
}

} // namespace
