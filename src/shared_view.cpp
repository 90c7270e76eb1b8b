// Views of named blocks and readable sizes. See shared_view.h.
#include "shared_view.h"

#include <string.h>

static const DWORD READABLE = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

size_t readable_bytes(const void *p)
{
    MEMORY_BASIC_INFORMATION info;
    if (!p || VirtualQuery(p, &info, sizeof info) != sizeof info)
        return 0;
    if (info.State != MEM_COMMIT || !(info.Protect & READABLE) || (info.Protect & PAGE_GUARD))
        return 0;
    return (size_t)((const uint8_t *)info.BaseAddress + info.RegionSize - (const uint8_t *)p);
}

int shared_view_open(SharedView *view, const char *name)
{
    memset(view, 0, sizeof *view);
    view->mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    if (!view->mapping)
        return 0;
    view->bytes = (const uint8_t *)MapViewOfFile(view->mapping, FILE_MAP_READ, 0, 0, 0);
    view->size = readable_bytes(view->bytes);
    if (!view->bytes || !view->size) {
        shared_view_close(view);
        return 0;
    }
    return 1;
}

void shared_view_close(SharedView *view)
{
    if (view->bytes)
        UnmapViewOfFile(view->bytes);
    if (view->mapping)
        CloseHandle(view->mapping);
    memset(view, 0, sizeof *view);
}
