// The machine description in system.txt and the Vista flag.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "log_files.h"
#include "sysinfo.h"

namespace {

const std::string VISTA = "This is a Windows Vista machine.\n";
const std::string WOW64 = "We are running as a 32-bit process under a 64-bit operating system\n";

TEST(SystemDescription, LinesStayInBounds)
{
    struct Case {
        SystemFacts facts; // major, minor, build, sp, type, architecture, cpus, edition, vista, wow64
        std::string text;
    } cases[] = {
        {{6, 0, 6002, "Service Pack 2", 1, 9, 4, 0x03, 1, 1},
         "Windows Vista Home Premium Edition AMD64 version 6.0.6002 Service Pack 2  4 CPU(s)\n" + VISTA + WOW64},
        {{10, 0, 0x80000001u, "", 1, 12, 8, 0x21, 1, 0},
         "Windows Vista UNKNOWN version 10.0.2147483649   8 CPU(s)\n" + VISTA},
        {{5, 2, 3790, "Service Pack 2", 1, 9, 2, 0, 0, 0},
         "Windows Server 2003 AMD64 version 5.2.3790 Service Pack 2  2 CPU(s)\n"},
        {{5, 3, 1, "", 1, 0, 1, 0, 0, 1}, " x86 version 5.3.1   1 CPU(s)\n" + WOW64},
        {{6, 0, 6001, "", 3, 6, 16, 0x08, 1, 0}, "Windows Server 2008 IA64 version 6.0.6001   16 CPU(s)\n" + VISTA},
    };
    for (const Case &c : cases) {
        char text[512];
        memset(text, 'x', sizeof text);
        format_system_description(&c.facts, text, sizeof text);
        EXPECT_EQ(std::string(text), c.text);
    }
    // an unterminated service-pack text and a short buffer stay in bounds
    SystemFacts f = {6, 1, 7601, "", 1, 9, 2, 1, 0, 0};
    memset(f.service_pack, 'S', sizeof f.service_pack);
    char text[512];
    format_system_description(&f, text, sizeof text);
    EXPECT_EQ(std::string(text),
              "Windows Vista Ultimate Edition AMD64 version 6.1.7601 " + std::string(127, 'S') + "  2 CPU(s)\n");
    format_system_description(&f, text, 20);
    EXPECT_EQ(std::string(text), "Windows Vista Ultim");
}

// Wine is Vista-class. Other test processes may empty system.txt at any moment.
TEST(SystemDescription, ThisMachineIsWrittenToSystemLog)
{
    SystemFacts f;
    gather_system_facts(&f);
    char text[512];
    format_system_description(&f, text, sizeof text);
    const std::string expected = std::string(text, strchr(text, '\n')) + "\r\nThis is a Windows Vista machine.\r\n";
    bool found = false;
    for (int attempt = 0; attempt < 3 && !found; attempt++) {
        os_is_vista = 0;
        describe_system();
        found = os_is_vista == 1 && read_binary_file(log_path("system.txt")).find(expected) != std::string::npos;
    }
    EXPECT_TRUE(found) << expected;
}

} // namespace
