// Read-only views of blocks that other programs publish under a name, and
// how many bytes of another party's memory may be read.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

struct SharedView {
    HANDLE mapping;
    const uint8_t *bytes; // null when the block is not there
    size_t size;          // readable bytes from `bytes` on, as VirtualQuery reports them
};

// Opens the named mapping and maps all of it for reading. 1 when both
// succeeded; 0 (view all null) when the block is not published.
int shared_view_open(SharedView *view, const char *name);
void shared_view_close(SharedView *view);

// Bytes from p to the end of the committed, readable region that holds it;
// 0 for null, free, reserved, guarded or no-access memory.
size_t readable_bytes(const void *p);
