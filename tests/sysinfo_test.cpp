// The machine description in system.txt and the Vista flag.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "log_files.h"
#include "sysinfo.h"
#include "util.h"

namespace {

struct EditionCase {
    DWORD product;
    const char *text;
};

const EditionCase EDITION_CASES[] = {
    {0x00, "UNKNOWN"},
    {0x01, "Ultimate Edition"},
    {0x03, "Home Premium Edition"},
    {0x05, "Home Basic Edition"},
    {0x06, "Business Edition"},
    {0x09, "Small Business Server"},
    {0x0F, "Server Enterprise Edition for Itanium-based Systems"},
    {0x10, "Business Edition"},
    {0x1A, "Home Premium Edition"},
    {0x1B, "Enterprise Edition"},
    {0x1C, "Ultimate Edition"},
    {0x20, "Windows Essential Business Server Messaging Server"},
    {0x21, "UNKNOWN"},
    {0x30, "UNKNOWN"},
    {0xABCDABCD, "UNLICENSED"},
    {0xFFFFFFFF, "UNKNOWN"},
};

TEST(SystemDescription, EditionNames)
{
    for (const EditionCase &c : EDITION_CASES)
        EXPECT_STREQ(edition_name(c.product), c.text) << std::hex << c.product;
}

SystemFacts facts(DWORD major, DWORD minor, DWORD build, const char *sp, BYTE type, WORD arch, DWORD cpus,
                  DWORD edition, int vista, int wow64)
{
    SystemFacts f;
    memset(&f, 0, sizeof f);
    f.major = major;
    f.minor = minor;
    f.build = build;
    strcpy(f.service_pack, sp);
    f.product_type = type;
    f.architecture = arch;
    f.processors = cpus;
    f.edition = edition;
    f.vista = vista;
    f.wow64 = wow64;
    return f;
}

const char VISTA[] = "This is a Windows Vista machine.\n";
const char WOW64[] = "We are running as a 32-bit process under a 64-bit operating system\n";

struct DescriptionCase {
    const char *name;
    SystemFacts facts;
    std::string text;
};

const DescriptionCase DESCRIPTION_CASES[] = {
    {"Vista Home Premium 64-bit", facts(6, 0, 6002, "Service Pack 2", 1, 9, 4, 0x03, 1, 1),
     std::string("Windows Vista Home Premium Edition AMD64 version 6.0.6002 Service Pack 2  4 CPU(s)\n") + VISTA +
         WOW64},
    {"Windows 10 is written as Vista", facts(10, 0, 19045, "", 1, 9, 8, 0x30, 1, 0),
     std::string("Windows Vista UNKNOWN AMD64 version 10.0.19045   8 CPU(s)\n") + VISTA},
    {"Windows 7 N edition", facts(6, 1, 7601, "Service Pack 1", 1, 0, 2, 0x1C, 1, 0),
     std::string("Windows Vista Ultimate Edition x86 version 6.1.7601 Service Pack 1  2 CPU(s)\n") + VISTA},
    {"XP x64 is Server 2003", facts(5, 2, 3790, "Service Pack 2", 1, 9, 2, 0, 0, 0),
     "Windows Server 2003 AMD64 version 5.2.3790 Service Pack 2  2 CPU(s)\n"},
    {"XP 32-bit on 64-bit", facts(5, 1, 2600, "Service Pack 3", 1, 0, 1, 0, 0, 1),
     std::string("Windows XP x86 version 5.1.2600 Service Pack 3  1 CPU(s)\n") + WOW64},
    {"Windows 2000", facts(5, 0, 2195, "Service Pack 4", 1, 0, 1, 0, 0, 0),
     "Windows 2000 x86 version 5.0.2195 Service Pack 4  1 CPU(s)\n"},
    {"version 5 above minor 2 has no name", facts(5, 3, 1, "", 1, 0, 1, 0, 0, 0),
     " x86 version 5.3.1   1 CPU(s)\n"},
    {"server of version 6: no edition, still Vista", facts(6, 0, 6001, "Service Pack 1", 3, 9, 16, 0x08, 1, 0),
     std::string("Windows Server 2008 AMD64 version 6.0.6001 Service Pack 1  16 CPU(s)\n") + VISTA},
    {"domain controller", facts(6, 1, 7600, "", 2, 6, 4, 0x0A, 1, 0),
     std::string("Windows Server 2008 IA64 version 6.1.7600   4 CPU(s)\n") + VISTA},
    {"unknown architecture left out", facts(6, 2, 9200, "", 1, 12, 4, 0x04, 1, 0),
     std::string("Windows Vista Enterprise Edition version 6.2.9200   4 CPU(s)\n") + VISTA},
    {"unlicensed", facts(6, 0, 6000, "", 1, 9, 1, 0xABCDABCD, 1, 0),
     std::string("Windows Vista UNLICENSED AMD64 version 6.0.6000   1 CPU(s)\n") + VISTA},
    {"build above 2^31 is unsigned", facts(6, 0, 0x80000001u, "", 1, 9, 1, 1, 1, 0),
     std::string("Windows Vista Ultimate Edition AMD64 version 6.0.2147483649   1 CPU(s)\n") + VISTA},
};

TEST(SystemDescription, Lines)
{
    for (const DescriptionCase &c : DESCRIPTION_CASES) {
        char text[512];
        memset(text, 'x', sizeof text);
        format_system_description(&c.facts, text, sizeof text);
        EXPECT_EQ(std::string(text), c.text) << c.name;
    }
}

TEST(SystemDescription, UnterminatedServicePackStaysInBounds)
{
    SystemFacts f = facts(6, 1, 7601, "", 1, 9, 2, 1, 0, 0);
    memset(f.service_pack, 'S', sizeof f.service_pack); // no terminator at all
    char text[512];
    format_system_description(&f, text, sizeof text);
    EXPECT_EQ(std::string(text), "Windows Vista Ultimate Edition AMD64 version 6.1.7601 " + std::string(127, 'S') +
                                     "  2 CPU(s)\n");
}

TEST(SystemDescription, ThisMachine)
{
    // Wine's KERNEL32 exports GetProductInfo and GetNativeSystemInfo and
    // reports a workstation.
    SystemFacts f;
    gather_system_facts(&f);
    EXPECT_EQ(f.vista, 1);
    EXPECT_GE(f.major, 6u);
    EXPECT_EQ(f.product_type, VER_NT_WORKSTATION);
    EXPECT_GE(f.processors, 1u);
    EXPECT_EQ(f.wow64, is_wow64());
#ifdef _WIN64
    EXPECT_EQ(f.architecture, PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(f.wow64, 0);
#endif
}

TEST(SystemDescription, WrittenToSystemLog)
{
    SystemFacts f;
    gather_system_facts(&f);
    char line[512];
    format_system_description(&f, line, sizeof line);
    // Text mode: every line end is CR LF on disk.
    std::string expected;
    for (const char *p = line; *p; p++) {
        if (*p == '\n')
            expected += '\r';
        expected += *p;
    }
    EXPECT_EQ(expected.compare(0, 14, "Windows Vista "), 0) << expected;
    EXPECT_NE(expected.find("\r\nThis is a Windows Vista machine.\r\n"), std::string::npos);

    // Other test processes may empty system.txt at any moment: a few tries.
    bool found = false;
    for (int attempt = 0; attempt < 3 && !found; attempt++) {
        os_is_vista = 0;
        describe_system();
        EXPECT_EQ(os_is_vista, 1);
        found = read_binary_file(log_path("system.txt")).find(expected) != std::string::npos;
    }
    EXPECT_TRUE(found) << expected;
}

} // namespace
