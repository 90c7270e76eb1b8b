// The machine description at the top of system.txt.
#include "sysinfo.h"

#include <stdio.h>
#include <string.h>

#include "util.h"

int os_is_vista = 0;

enum { PRODUCT_UNLICENSED_CODE = 0xABCDABCD };

// GetProductInfo's product types 1..0x20; the "N" editions share the text of
// their base edition.
static const char *const EDITIONS[] = {
    "UNKNOWN",                                              // 0x00
    "Ultimate Edition",                                     // 0x01 PRODUCT_ULTIMATE
    "Home Basic Edition",                                   // 0x02 PRODUCT_HOME_BASIC
    "Home Premium Edition",                                 // 0x03 PRODUCT_HOME_PREMIUM
    "Enterprise Edition",                                   // 0x04 PRODUCT_ENTERPRISE
    "Home Basic Edition",                                   // 0x05 PRODUCT_HOME_BASIC_N
    "Business Edition",                                     // 0x06 PRODUCT_BUSINESS
    "Server Standard Edition (full installation)",          // 0x07 PRODUCT_STANDARD_SERVER
    "Server Datacenter Edition (full installation)",        // 0x08 PRODUCT_DATACENTER_SERVER
    "Small Business Server",                                // 0x09 PRODUCT_SMALLBUSINESS_SERVER
    "Server Enterprise Edition (full installation)",        // 0x0A PRODUCT_ENTERPRISE_SERVER
    "Starter Edition",                                      // 0x0B PRODUCT_STARTER
    "Server Datacenter Edition (core installation)",        // 0x0C PRODUCT_DATACENTER_SERVER_CORE
    "Server Standard Edition (core installation)",          // 0x0D PRODUCT_STANDARD_SERVER_CORE
    "Server Enterprise Edition (core installation)",        // 0x0E PRODUCT_ENTERPRISE_SERVER_CORE
    "Server Enterprise Edition for Itanium-based Systems",  // 0x0F PRODUCT_ENTERPRISE_SERVER_IA64
    "Business Edition",                                     // 0x10 PRODUCT_BUSINESS_N
    "Web Server Edition (full installation)",               // 0x11 PRODUCT_WEB_SERVER
    "Cluster Server Edition",                               // 0x12 PRODUCT_CLUSTER_SERVER
    "Home Server Edition",                                  // 0x13 PRODUCT_HOME_SERVER
    "Storage Server Express Edition",                       // 0x14 PRODUCT_STORAGE_EXPRESS_SERVER
    "Storage Server Standard Edition",                      // 0x15 PRODUCT_STORAGE_STANDARD_SERVER
    "Storage Server Workgroup Edition",                     // 0x16 PRODUCT_STORAGE_WORKGROUP_SERVER
    "Storage Server Enterprise Edition",                    // 0x17 PRODUCT_STORAGE_ENTERPRISE_SERVER
    "Server for Small Business Edition",                    // 0x18 PRODUCT_SERVER_FOR_SMALLBUSINESS
    "Small Business Server Premium Edition",                // 0x19 PRODUCT_SMALLBUSINESS_SERVER_PREMIUM
    "Home Premium Edition",                                 // 0x1A PRODUCT_HOME_PREMIUM_N
    "Enterprise Edition",                                   // 0x1B PRODUCT_ENTERPRISE_N
    "Ultimate Edition",                                     // 0x1C PRODUCT_ULTIMATE_N
    "Web Server Edition (core installation)",               // 0x1D PRODUCT_WEB_SERVER_CORE
    "Windows Essential Business Server Management Server",  // 0x1E PRODUCT_MEDIUMBUSINESS_SERVER_MANAGEMENT
    "Windows Essential Business Server Security Server",    // 0x1F PRODUCT_MEDIUMBUSINESS_SERVER_SECURITY
    "Windows Essential Business Server Messaging Server",   // 0x20 PRODUCT_MEDIUMBUSINESS_SERVER_MESSAGING
};

const char *edition_name(DWORD product)
{
    if (product == PRODUCT_UNLICENSED_CODE)
        return "UNLICENSED";
    if (product < sizeof EDITIONS / sizeof EDITIONS[0])
        return EDITIONS[product];
    return "UNKNOWN";
}

typedef BOOL(WINAPI *GetProductInfoFn)(DWORD major, DWORD minor, DWORD sp_major, DWORD sp_minor, DWORD *product);
typedef void(WINAPI *GetNativeSystemInfoFn)(SYSTEM_INFO *info);

void gather_system_facts(SystemFacts *facts)
{
    memset(facts, 0, sizeof *facts);
    OSVERSIONINFOEXA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version; // 156
    GetVersionExA((OSVERSIONINFOA *)&version);    // on failure everything stays 0
    SYSTEM_INFO system;
    memset(&system, 0, sizeof system);
    GetSystemInfo(&system);

    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    if (kernel) {
        GetProductInfoFn product_info =
            (GetProductInfoFn)(void (*)(void))GetProcAddress(kernel, "GetProductInfo");
        if (product_info) {
            product_info(version.dwMajorVersion, version.dwMinorVersion, version.wServicePackMajor,
                         version.wServicePackMinor, &facts->edition);
            facts->vista = 1; // whatever the call answered
        }
        GetNativeSystemInfoFn native_info =
            (GetNativeSystemInfoFn)(void (*)(void))GetProcAddress(kernel, "GetNativeSystemInfo");
        if (native_info)
            native_info(&system);
        FreeLibrary(kernel);
    }

    facts->major = version.dwMajorVersion;
    facts->minor = version.dwMinorVersion;
    facts->build = version.dwBuildNumber;
    memcpy(facts->service_pack, version.szCSDVersion, sizeof facts->service_pack - 1);
    facts->service_pack[sizeof facts->service_pack - 1] = 0;
    facts->product_type = version.wProductType;
    facts->architecture = system.wProcessorArchitecture;
    facts->processors = system.dwNumberOfProcessors;
    facts->wow64 = is_wow64();
}

static const char *release_name(const SystemFacts *facts)
{
    if (facts->major == 5) {
        switch (facts->minor) {
        case 0: return "Windows 2000";
        case 1: return "Windows XP";
        case 2: return "Windows Server 2003";
        default: return "";
        }
    }
    return facts->product_type == VER_NT_WORKSTATION ? "Windows Vista " : "Windows Server 2008";
}

static const char *architecture_name(WORD architecture)
{
    switch (architecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return " AMD64";
    case PROCESSOR_ARCHITECTURE_IA64: return " IA64";
    case PROCESSOR_ARCHITECTURE_INTEL: return " x86";
    default: return "";
    }
}

void format_system_description(const SystemFacts *facts, char *text, size_t size)
{
    if (!size)
        return;
    const int with_edition = facts->major != 5 && facts->product_type == VER_NT_WORKSTATION;
    int n = snprintf(text, size, "%s%s%s version %d.%d.%u %.127s  %d CPU(s)\n%s%s", release_name(facts),
                     with_edition ? edition_name(facts->edition) : "", architecture_name(facts->architecture),
                     (int)facts->major, (int)facts->minor, (unsigned)facts->build, facts->service_pack,
                     (int)facts->processors, facts->vista ? "This is a Windows Vista machine.\n" : "",
                     facts->wow64 ? "We are running as a 32-bit process under a 64-bit operating system\n" : "");
    if (n < 0)
        text[0] = 0;
    text[size - 1] = 0; // the C runtime's form leaves a full buffer unterminated
}

void describe_system(void)
{
    SystemFacts facts;
    gather_system_facts(&facts);
    os_is_vista = facts.vista;
    char text[512];
    format_system_description(&facts, text, sizeof text);
    log_system("%s", text);
}
