// Network statistics sources: TDI, NDIS and IP Helper. See ndisstats.h.
//
// What each source keeps:
//   TDI    the \Device\Tcp handle, NTDLL.DLL (for NtCreateFile) while open,
//          an exact-size copy of the stack's entity list (type, instance
//          pairs), and the baselines of up to 32 interfaces;
//   NDIS   16 adapter entries: device handle, description, service name,
//          statistics form (NDIS 6, then NDIS 5.1 64-bit, then 32-bit, then
//          none) and the last counts;
//   IPHLP  IPHLPAPI.DLL (for GetIfTable2 and FreeMibTable) while open, and
//          the baselines of up to 32 interfaces.
// TDI and IP Helper leave out software loopback interfaces; IP Helper counts
// one when the filter names it. IP Helper also leaves out the filter
// interfaces Windows stacks on an adapter, which only repeat its traffic.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <winternl.h>

#include "ndisstats.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "util.h"
#include "utf8_text.h"

static const char SOURCE[] = "src/ndisstats";

enum {
    TDI_QUERY_CODE = 0x00120003,
    NDIS_QUERY_CODE = 0x00170002,

    TDI_GENERIC_ENTITY = 0,
    TDI_CLASS_GENERIC = 0x100,
    TDI_CLASS_PROTOCOL = 0x200,
    TDI_TYPE_PROVIDER = 0x100,
    TDI_ENTITY_LIST_ID = 0,
    TDI_ENTITY_TYPE_ID = 1,
    TDI_IF_MIB_STATS_ID = 1,

    TCP_ACCESS = 0x20100000,
    TCP_FILE_ATTRIBUTES = 0x80,
    TCP_SHARE = 3,
    TCP_DISPOSITION = 3,
    TCP_OPTIONS = 0x20, // synchronous I/O
    TCP_NAME_CASE_INSENSITIVE = 0x40,
    NT_STATUS_NOT_FOUND = (LONG)0xC0000225,

    NDIS_OID_STATISTICS = 0x00020106,
    NDIS_OID_BYTES_SENT = 0x00020201,
    NDIS_OID_BYTES_RECEIVED = 0x00020207,
    NDIS_HEADER_TYPE = 0x80,

    REGISTRY_READ = 0x20019,
    CARD_NAME_CHARS = 16,
    MAX_CARDS = 256,     // subkeys of NetworkCards looked at
    DEVICE_PATH_CHARS = 264,
    LINE_OPEN_FAILED = 209,
    LINE_STOPPED_REPORTING = 332,
};

static int filter_set(const char *filter) { return filter && filter[0]; }

// ---- TDI ---------------------------------------------------------------------

struct TdiSource {
    HANDLE device;
    HMODULE ntdll;
    NetNtCreateFileFn create_file; // looked up in ntdll
    uint8_t *entities;
    size_t entity_count;
    NetInterfaceTable interfaces;
};
static TdiSource g_tdi = {INVALID_HANDLE_VALUE, 0, 0, 0, 0, {}};

static LONG NTAPI ntdll_create_file(PHANDLE handle, ACCESS_MASK access, void *attributes, void *io_status,
                                    PLARGE_INTEGER allocation, ULONG file_attributes, ULONG share,
                                    ULONG disposition, ULONG options, PVOID ea, ULONG ea_length)
{
    if (!g_tdi.create_file)
        return NT_STATUS_NOT_FOUND;
    return g_tdi.create_file(handle, access, attributes, io_status, allocation, file_attributes, share,
                             disposition, options, ea, ea_length);
}

// ---- IP Helper (its default calls go through the looked-up functions) -------

struct IphlpSource {
    HMODULE library;
    NetGetIfTable2Fn get_table;
    NetFreeMibTableFn free_table;
    NetInterfaceTable interfaces;
};
static IphlpSource g_iphlp;

static DWORD WINAPI iphlpapi_get_if_table2(void **table)
{
    return g_iphlp.get_table ? g_iphlp.get_table(table) : ERROR_NOT_SUPPORTED;
}

static void WINAPI iphlpapi_free_mib_table(void *table)
{
    if (g_iphlp.free_table)
        g_iphlp.free_table(table);
}

NetWindowsCalls net_windows = {ntdll_create_file, DeviceIoControl, CreateFileA, CloseHandle,
                               iphlpapi_get_if_table2, iphlpapi_free_mib_table};

// ---- TDI ---------------------------------------------------------------------

static int tdi_query(uint32_t entity, uint32_t instance, uint32_t info_class, uint32_t info_id, void *out,
                     DWORD size, size_t *received)
{
    TdiRequest request = tdi_request(entity, instance, info_class, TDI_TYPE_PROVIDER, info_id);
    DWORD returned = 0;
    BOOL ok = net_windows.device_io_control(g_tdi.device, TDI_QUERY_CODE, &request,
                                            sizeof request, out, size, &returned, 0);
    *received = netbytes_received(returned, size);
    return ok != 0;
}

void tdi_close(void)
{
    if (g_tdi.device != INVALID_HANDLE_VALUE)
        net_windows.close_handle(g_tdi.device);
    g_tdi.device = INVALID_HANDLE_VALUE;
    if (g_tdi.ntdll)
        FreeLibrary(g_tdi.ntdll);
    g_tdi.ntdll = 0;
    g_tdi.create_file = 0;
    free(g_tdi.entities);
    g_tdi.entities = 0;
    g_tdi.entity_count = 0;
}

// The stack's entity list, kept at its exact size. A failure closes the
// source; the next refresh opens it again.
static int tdi_load_entities(void)
{
    free(g_tdi.entities);
    g_tdi.entities = 0;
    g_tdi.entity_count = 0;
    uint8_t *reply = (uint8_t *)calloc(1, TDI_ENTITY_LIST_BYTES);
    size_t size = 0;
    if (reply && tdi_query(TDI_GENERIC_ENTITY, 0, TDI_CLASS_GENERIC, TDI_ENTITY_LIST_ID, reply, TDI_ENTITY_LIST_BYTES,
                           &size) &&
        size >= 8) {
        g_tdi.entities = (uint8_t *)malloc(size);
        if (g_tdi.entities) {
            memcpy(g_tdi.entities, reply, size);
            g_tdi.entity_count = size / 8;
        }
    }
    free(reply);
    if (g_tdi.entities)
        return 1;
    tdi_close();
    return 0;
}

int tdi_open(const char *filter)
{
    tdi_close();
    g_tdi.ntdll = LoadLibraryA("NTDLL.DLL");
    if (!g_tdi.ntdll)
        return 0;
    g_tdi.create_file = (NetNtCreateFileFn)(void *)GetProcAddress(g_tdi.ntdll, "NtCreateFile");
    if (!g_tdi.create_file) {
        tdi_close();
        return 0;
    }
    wchar_t path[] = L"\\Device\\Tcp";
    UNICODE_STRING name;
    name.Buffer = path;
    name.Length = (USHORT)(sizeof path - sizeof path[0]);
    name.MaximumLength = (USHORT)sizeof path;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, TCP_NAME_CASE_INSENSITIVE, 0, 0);
    IO_STATUS_BLOCK io_status;
    memset(&io_status, 0, sizeof io_status);
    HANDLE device = INVALID_HANDLE_VALUE;
    LONG status = net_windows.nt_create_file(&device, TCP_ACCESS, &attributes, &io_status, 0, TCP_FILE_ATTRIBUTES,
                                             TCP_SHARE, TCP_DISPOSITION, TCP_OPTIONS, 0, 0);
    if (status < 0) {
        tdi_close();
        return 0;
    }
    g_tdi.device = device;
    memset(&g_tdi.interfaces, 0, sizeof g_tdi.interfaces);
    if (!tdi_load_entities()) {
        log_system("TDI: No entities found\n");
        return 0;
    }
    return tdi_read(filter, 0, 0);
}

int tdi_refresh(const char *filter)
{
    if (g_tdi.device == INVALID_HANDLE_VALUE || !g_tdi.ntdll) {
        tdi_open(filter);
        if (g_tdi.device == INVALID_HANDLE_VALUE)
            return 0;
    }
    return tdi_load_entities();
}

// One listed entity that is an interface with MIB-II statistics; 0 when it
// is not one or does not answer.
static int tdi_read_interface(uint32_t type, uint32_t instance, TdiInterface *iface)
{
    uint8_t kind[4] = {0, 0, 0, 0};
    size_t size = 0;
    if (!tdi_query(type, instance, TDI_CLASS_GENERIC, TDI_ENTITY_TYPE_ID, kind, sizeof kind, &size) || size < 4 ||
        (uint32_t)(kind[0] | kind[1] << 8 | kind[2] << 16 | (uint32_t)kind[3] << 24) != TDI_IF_MIB)
        return 0;
    uint8_t entry[TDI_IF_ENTRY_BYTES];
    memset(entry, 0, sizeof entry);
    if (!tdi_query(type, instance, TDI_CLASS_PROTOCOL, TDI_IF_MIB_STATS_ID, entry, sizeof entry, &size))
        return 0;
    return tdi_decode_interface(entry, size, iface) && iface->type != IF_TYPE_LOOPBACK;
}

int tdi_read(const char *filter, uint64_t *in, uint64_t *out)
{
    if (g_tdi.device == INVALID_HANDLE_VALUE || !g_tdi.ntdll || !g_tdi.entities)
        return 0;
    const int logging = !in || !out;
    uint64_t in_sum = 0, out_sum = 0;
    int count = 0;
    net_interfaces_begin(&g_tdi.interfaces);
    for (size_t i = 0; i < g_tdi.entity_count; i++) {
        uint32_t pair[2];
        memcpy(pair, g_tdi.entities + i * 8, sizeof pair);
        TdiInterface iface;
        if (pair[0] != TDI_IF_ENTITY || !tdi_read_interface(pair[0], pair[1], &iface))
            continue;
        if (filter_set(filter) && strcmp(filter, iface.description) != 0) {
            if (logging)
                log_system("TDI: Found '%s' [Not wanted by user]\n", iface.description);
            continue;
        }
        if (logging)
            log_system("TDI: Found '%s'\n", iface.description);
        count++;
        net_interfaces_update(&g_tdi.interfaces, iface.index, iface.in_octets, iface.out_octets, 0, &in_sum,
                              &out_sum);
    }
    net_interfaces_sweep(&g_tdi.interfaces);
    if (in)
        *in = in_sum;
    if (out)
        *out = out_sum;
    return count;
}

// ---- NDIS --------------------------------------------------------------------

static NdisAdapter g_ndis[NDIS_ADAPTERS];
HKEY ndis_registry_root = HKEY_LOCAL_MACHINE;
const char *ndis_cards_key = "Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";

const NdisAdapter *ndis_adapter(int i) { return i >= 0 && i < NDIS_ADAPTERS ? &g_ndis[i] : 0; }

static void ndis_free(NdisAdapter *adapter)
{
    memset(adapter, 0, sizeof *adapter);
    adapter->device = INVALID_HANDLE_VALUE;
}

void ndis_close(void)
{
    for (NdisAdapter &adapter : g_ndis) {
        if (adapter.open)
            net_windows.close_handle(adapter.device);
        ndis_free(&adapter);
    }
}

// A string value of at most 260 bytes, terminated and with control bytes
// shown as '?'; 0 when it is missing, longer or (with string_only) not REG_SZ.
static int read_text_value(HKEY key, const char *name, int string_only, char *text)
{
    uint8_t bytes[NET_DESCRIPTION_BYTES - 1];
    DWORD type = 0, size = sizeof bytes;
    if (RegQueryValueExA(key, name, 0, &type, bytes, &size) != ERROR_SUCCESS || (string_only && type != REG_SZ))
        return 0;
    net_clean_description(bytes, netbytes_received(size, sizeof bytes), text);
    return 1;
}

static int ndis_is_open(const char *service)
{
    for (const NdisAdapter &adapter : g_ndis)
        if (adapter.open && strcmp(adapter.service, service) == 0)
            return 1;
    return 0;
}

static NdisAdapter *ndis_free_entry(void)
{
    for (NdisAdapter &adapter : g_ndis)
        if (!adapter.open)
            return &adapter;
    return 0;
}

static void ndis_consider_card(HKEY card, const char *filter, int logging)
{
    char service[NET_DESCRIPTION_BYTES], description[NET_DESCRIPTION_BYTES];
    if (!read_text_value(card, "ServiceName", 1, service) || ndis_is_open(service))
        return;
    if (!read_text_value(card, "Description", 0, description))
        description[0] = 0;
    if (filter_set(filter) && strcmp(filter, description) != 0) {
        if (logging)
            log_system("NDIS: Found '%s' [Not wanted by user]\n", description);
        return;
    }
    NdisAdapter *adapter = ndis_free_entry();
    if (!adapter)
        return;
    char path[DEVICE_PATH_CHARS + 1];
    snprintf(path, sizeof path, "\\\\.\\%s", service);
    HANDLE device = net_windows.create_file(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
    if (device == INVALID_HANDLE_VALUE) {
        if (logging)
            log_error(SOURCE, LINE_OPEN_FAILED, GetLastError(), "failed to open NDIS device '%s' at '%s'",
                      description, path);
        SetLastError(0);
        return;
    }
    ndis_free(adapter);
    adapter->open = 1;
    adapter->device = device;
    adapter->form = NDIS_FORM_NDIS6;
    memcpy(adapter->description, description, sizeof description);
    memcpy(adapter->service, service, sizeof service);
    if (logging)
        log_system("NDIS: Found '%s' at '%s'\n", description, path);
}

void ndis_enumerate(const char *filter, int logging)
{
    HKEY cards;
    if (RegOpenKeyExA(ndis_registry_root, ndis_cards_key, 0, REGISTRY_READ, &cards) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0; i < MAX_CARDS; i++) {
        char name[CARD_NAME_CHARS + 1];
        DWORD length = sizeof name;
        LONG result = RegEnumKeyExA(cards, i, name, &length, 0, 0, 0, 0);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        HKEY card;
        if (result != ERROR_SUCCESS || RegOpenKeyExA(cards, name, 0, REGISTRY_READ, &card) != ERROR_SUCCESS)
            continue;
        ndis_consider_card(card, filter, logging);
        RegCloseKey(card);
    }
    RegCloseKey(cards);
}

int ndis_open(const char *filter)
{
    ndis_close();
    ndis_enumerate(filter, 1);
    return ndis_read(0, 0);
}

static int ndis_query(HANDLE device, uint32_t oid, uint8_t *out, DWORD size, size_t *received)
{
    DWORD returned = 0;
    BOOL ok = net_windows.device_io_control(device, NDIS_QUERY_CODE, &oid, sizeof oid, out, size,
                                            &returned, 0);
    *received = netbytes_received(returned, size);
    return ok != 0;
}

// The two counters of the older forms, each in `size` bytes. Both must
// answer: a reading with one of them missing would make the next step wild.
static int ndis_query_pair(NdisAdapter *adapter, DWORD size, uint64_t *in, uint64_t *out)
{
    uint8_t sent[8] = {0}, received[8] = {0};
    size_t sent_size = 0, received_size = 0;
    int sent_ok = ndis_query(adapter->device, NDIS_OID_BYTES_SENT, sent, size, &sent_size);
    if (!ndis_query(adapter->device, NDIS_OID_BYTES_RECEIVED, received, size, &received_size) || !sent_ok)
        return 0;
    int sent_bytes = ndis_decode_counter(sent, sent_size, out);
    int received_bytes = ndis_decode_counter(received, received_size, in);
    adapter->wide = sent_bytes == 8 && received_bytes == 8;
    return sent_bytes && received_bytes;
}

// Asks the adapter in its form, falling back form by form within the read.
static int ndis_query_adapter(NdisAdapter *adapter, uint64_t *in, uint64_t *out)
{
    if (adapter->form == NDIS_FORM_NDIS6) {
        uint8_t stats[NDIS6_STATS_BYTES];
        memset(stats, 0, sizeof stats);
        stats[0] = NDIS_HEADER_TYPE;
        stats[1] = 1; // revision
        stats[2] = NDIS6_STATS_BYTES;
        size_t size = 0;
        if (ndis_query(adapter->device, NDIS_OID_STATISTICS, stats, sizeof stats, &size) &&
            ndis6_decode_stats(stats, size, in, out)) {
            adapter->wide = 1;
            return 1;
        }
        adapter->form = NDIS_FORM_64;
    }
    if (adapter->form == NDIS_FORM_64) {
        if (ndis_query_pair(adapter, 8, in, out))
            return 1;
        adapter->form = NDIS_FORM_32;
    }
    if (adapter->form == NDIS_FORM_32) {
        if (ndis_query_pair(adapter, 4, in, out))
            return 1;
        adapter->form = NDIS_FORM_NONE;
    }
    return 0;
}

static void ndis_log_form(const NdisAdapter *adapter)
{
    static const char *const TEXTS[] = {
        "NDIS: Adapter '%s' supports NDIS 6 statistics\n",
        "NDIS: Adapter '%s' supports NDIS 5.1 64-bit statistics\n",
        "NDIS: Adapter '%s' supports NDIS 5.1 32-bit statistics\n",
    };
    if (adapter->form >= NDIS_FORM_NDIS6 && adapter->form <= NDIS_FORM_32)
        log_system(TEXTS[adapter->form], adapter->description);
    else
        log_system("NDIS: Adapter '%s' does not report statistics, ignoring it\n", adapter->description);
}

int ndis_read(uint64_t *in, uint64_t *out)
{
    const int logging = !in || !out;
    uint64_t in_sum = 0, out_sum = 0;
    int count = 0;
    for (NdisAdapter &adapter : g_ndis) {
        if (!adapter.open || adapter.form == NDIS_FORM_NONE)
            continue;
        uint64_t now_in = 0, now_out = 0;
        if (ndis_query_adapter(&adapter, &now_in, &now_out)) {
            if (adapter.baseline) {
                in_sum += net_counter_step(adapter.in, now_in, adapter.wide);
                out_sum += net_counter_step(adapter.out, now_out, adapter.wide);
            }
            adapter.in = now_in, adapter.out = now_out, adapter.baseline = 1;
            count++;
        }
        if (logging)
            ndis_log_form(&adapter);
        if (adapter.form == NDIS_FORM_NONE && adapter.baseline) {
            // it reported before: the device went away; a refresh finds it again
            log_error(SOURCE, LINE_STOPPED_REPORTING, GetLastError(),
                      "NDIS device '%s' has stopped reporting stats, trying to reopen it", adapter.description);
            SetLastError(0);
            net_windows.close_handle(adapter.device);
            ndis_free(&adapter);
        }
    }
    if (in)
        *in = in_sum;
    if (out)
        *out = out_sum;
    return count;
}

// ---- IP Helper ---------------------------------------------------------------

void iphlp_close(void)
{
    if (g_iphlp.library)
        FreeLibrary(g_iphlp.library);
    memset(&g_iphlp, 0, sizeof g_iphlp);
}

int iphlp_open(const char *filter)
{
    iphlp_close();
    g_iphlp.library = LoadLibraryA("IPHLPAPI.DLL");
    if (!g_iphlp.library)
        return 0;
    g_iphlp.get_table = (NetGetIfTable2Fn)(void *)GetProcAddress(g_iphlp.library, "GetIfTable2");
    g_iphlp.free_table = (NetFreeMibTableFn)(void *)GetProcAddress(g_iphlp.library, "FreeMibTable");
    if (!g_iphlp.get_table || !g_iphlp.free_table) {
        iphlp_close();
        return 0;
    }
    return iphlp_read(filter, 0, 0);
}

int iphlp_refresh(const char *filter)
{
    if (!g_iphlp.library)
        iphlp_open(filter);
    return g_iphlp.library != 0;
}

// The interface's description in UTF-8, cut on a character boundary.
static void iphlp_description(const MIB_IF_ROW2 *row, char *text)
{
    const int units = (int)wcsnlen(row->Description, sizeof row->Description / sizeof row->Description[0]);
    char utf8[sizeof row->Description / sizeof row->Description[0] * 3 + 1];
    int bytes = units ? WideCharToMultiByte(CP_UTF8, 0, row->Description, units, utf8, sizeof utf8, 0, 0) : 0;
    size_t fit = utf8_fit(utf8, bytes > 0 ? (size_t)bytes : 0, NET_DESCRIPTION_BYTES - 1);
    net_clean_description((const uint8_t *)utf8, fit, text);
}

int iphlp_read(const char *filter, uint64_t *in, uint64_t *out)
{
    void *raw = 0;
    if (!g_iphlp.library || net_windows.get_if_table2(&raw) != NO_ERROR || !raw)
        return 0;
    const MIB_IF_TABLE2 *table = (const MIB_IF_TABLE2 *)raw;
    const int logging = !in || !out;
    uint64_t in_sum = 0, out_sum = 0;
    int count = 0;
    net_interfaces_begin(&g_iphlp.interfaces);
    for (ULONG i = 0; i < table->NumEntries; i++) {
        const MIB_IF_ROW2 *row = &table->Table[i];
        if (row->InterfaceAndOperStatusFlags.FilterInterface)
            continue;
        char description[NET_DESCRIPTION_BYTES];
        iphlp_description(row, description);
        const int wanted = !filter_set(filter) || strcmp(filter, description) == 0;
        if (row->Type == IF_TYPE_LOOPBACK && !(wanted && filter_set(filter)))
            continue;
        if (!wanted) {
            if (logging)
                log_system("IPHLP: Found '%s' [Not wanted by user]\n", description);
            continue;
        }
        if (logging)
            log_system("IPHLP: Found '%s'\n", description);
        count++;
        net_interfaces_update(&g_iphlp.interfaces, row->InterfaceIndex, row->InOctets, row->OutOctets, 1, &in_sum,
                              &out_sum);
    }
    net_interfaces_sweep(&g_iphlp.interfaces);
    net_windows.free_mib_table(raw);
    if (in)
        *in = in_sum;
    if (out)
        *out = out_sum;
    return count;
}

// ---- By method ---------------------------------------------------------------

int net_source_open(int method, const char *filter)
{
    switch (method) {
    case NET_METHOD_TDI:
        return tdi_open(filter);
    case NET_METHOD_NDIS:
        return ndis_open(filter);
    case NET_METHOD_IPHLP:
        return iphlp_open(filter);
    }
    return 0;
}

int net_source_refresh(int method, const char *filter)
{
    switch (method) {
    case NET_METHOD_TDI:
        return tdi_refresh(filter);
    case NET_METHOD_NDIS:
        ndis_enumerate(filter, 0);
        return 1;
    case NET_METHOD_IPHLP:
        return iphlp_refresh(filter);
    }
    return 0;
}

int net_source_read(int method, const char *filter, uint64_t *in, uint64_t *out)
{
    *in = *out = 0;
    switch (method) {
    case NET_METHOD_TDI:
        return tdi_read(filter, in, out);
    case NET_METHOD_NDIS:
        return ndis_read(in, out);
    case NET_METHOD_IPHLP:
        return iphlp_read(filter, in, out);
    }
    return 0;
}

void net_source_close(int method)
{
    switch (method) {
    case NET_METHOD_TDI:
        tdi_close();
        break;
    case NET_METHOD_NDIS:
        ndis_close();
        break;
    case NET_METHOD_IPHLP:
        iphlp_close();
        break;
    }
}
