// Network statistics sources: byte counts of the network adapters from TDI
// (the TCP/IP stack's MIB-II interface table on \Device\Tcp), from NDIS (each
// adapter's driver, asked for its global statistics) or from IP Helper
// (GetIfTable2, 64-bit counters; Windows Vista and later, and Wine).
//
// Each source opens (enumerates and logs what it finds, reading once for the
// baselines), refreshes every 2 s (new adapters, a lost device), reads every
// 500 ms (bytes since its previous read, summed over the adapters that match
// the filter) and closes. The filter is an adapter description that must
// match exactly; empty or null measures every adapter. Main thread only.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "netbytes.h"

enum NetMethod {
    NET_METHOD_OFF = 0,
    NET_METHOD_TDI = 1,
    NET_METHOD_NDIS = 2,
    NET_METHOD_IPHLP = 3,
};

enum {
    NDIS_ADAPTERS = 16,
    NDIS_FORM_NDIS6 = 0,
    NDIS_FORM_64 = 1,
    NDIS_FORM_32 = 2,
    NDIS_FORM_NONE = -1,
};

// The method's operations; the method numbers as above.
int net_source_open(int method, const char *filter);
int net_source_refresh(int method, const char *filter);
int net_source_read(int method, const char *filter, uint64_t *in, uint64_t *out);
void net_source_close(int method);

int tdi_open(const char *filter);
int tdi_refresh(const char *filter);
// With null outputs: the logging read of the open step.
int tdi_read(const char *filter, uint64_t *in, uint64_t *out);
void tdi_close(void);

int ndis_open(const char *filter);
void ndis_enumerate(const char *filter, int logging);
int ndis_read(uint64_t *in, uint64_t *out);
void ndis_close(void);

int iphlp_open(const char *filter);
int iphlp_refresh(const char *filter);
int iphlp_read(const char *filter, uint64_t *in, uint64_t *out);
void iphlp_close(void);

// ---- The Windows calls, so tests answer them with recorded replies -----------

typedef LONG(NTAPI *NetNtCreateFileFn)(PHANDLE handle, ACCESS_MASK access, void *attributes, void *io_status,
                                       PLARGE_INTEGER allocation, ULONG file_attributes, ULONG share,
                                       ULONG disposition, ULONG options, PVOID ea, ULONG ea_length);
typedef BOOL(WINAPI *NetDeviceIoControlFn)(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                           DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped);
typedef HANDLE(WINAPI *NetCreateFileFn)(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                        DWORD disposition, DWORD flags, HANDLE template_file);
typedef BOOL(WINAPI *NetCloseHandleFn)(HANDLE handle);
// GetIfTable2 and FreeMibTable, with the table as an opaque MIB_IF_TABLE2.
typedef DWORD(WINAPI *NetGetIfTable2Fn)(void **table);
typedef void(WINAPI *NetFreeMibTableFn)(void *table);

struct NetWindowsCalls {
    NetNtCreateFileFn nt_create_file;     // NtCreateFile as looked up in NTDLL.DLL by tdi_open
    NetDeviceIoControlFn device_io_control;
    NetCreateFileFn create_file;
    NetCloseHandleFn close_handle;
    NetGetIfTable2Fn get_if_table2;       // as looked up in IPHLPAPI.DLL by iphlp_open
    NetFreeMibTableFn free_mib_table;
};
extern NetWindowsCalls net_windows;

// Where the NetworkCards key is: HKEY_LOCAL_MACHINE and the Windows path
// unless a test points them at a key of its own.
extern HKEY ndis_registry_root;
extern const char *ndis_cards_key;

// What the NDIS source holds, for tests.
struct NdisAdapter {
    int open;      // 0: free entry
    HANDLE device;
    char description[NET_DESCRIPTION_BYTES];
    char service[NET_DESCRIPTION_BYTES];
    int form;      // NDIS_FORM_*
    int wide;      // the last counts were 64-bit
    uint64_t in, out;
    int baseline;  // in and out hold a reading
};
const NdisAdapter *ndis_adapter(int i);
