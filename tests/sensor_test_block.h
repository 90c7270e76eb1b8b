// A block published under a name of the test's own, as SpeedFan, Core Temp
// or GPU-Z publish theirs: the sensor modules read it through their block
// name, which the tests point at it.
#pragma once
#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <string>

#include "log_files.h"

struct TestBlock {
    std::string name = unique_token("PixwickTestBlock");
    HANDLE mapping;
    uint8_t *bytes;

    explicit TestBlock(size_t size)
    {
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, (DWORD)size, name.c_str());
        bytes = mapping ? (uint8_t *)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    }
    ~TestBlock() { close(); }
    template <typename Layout> Layout *as() { return (Layout *)bytes; }
    void close()
    {
        if (bytes)
            UnmapViewOfFile(bytes);
        if (mapping)
            CloseHandle(mapping);
        bytes = nullptr, mapping = 0;
    }
};
