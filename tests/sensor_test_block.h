// A block published under a name of the test's own, as SpeedFan, Core Temp
// or GPU-Z publish theirs; the tests point the module's block name at it.
#pragma once
#include <windows.h>

#include <string>

#include "log_files.h"

struct TestBlock {
    std::string name = unique_token("PixwickTestBlock");
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, 1 << 18, name.c_str());
    uint8_t *bytes = mapping ? (uint8_t *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;

    ~TestBlock()
    {
        UnmapViewOfFile(bytes);
        CloseHandle(mapping);
    }
    template <typename Layout> Layout *as() { return (Layout *)bytes; }
};
