// Server libraries for the client's tests, one per build flag:
//   LCD_TEST_NO_INTERFACE  exports no "GetInterface"
//   LCD_TEST_NULL_TABLE    "GetInterface" returns null
//   LCD_TEST_SCRIPTED      a table whose answers the test sets through
//                          lcd_test_script() and whose calls it reads back
#include <windows.h>

#include "lcd_client.h"

#define EXPORT extern "C" __declspec(dllexport)

#if defined(LCD_TEST_NULL_TABLE)

EXPORT const LcdService *WINAPI GetInterface(int version)
{
    (void)version;
    return 0;
}

#elif defined(LCD_TEST_SCRIPTED)

// What the test reads back and sets; the layout is shared with the test.
struct LcdTestScript {
    DWORD init_result;
    DWORD deinit_result;
    DWORD update_result;
    int init_calls;
    int deinit_calls;
    int update_calls;
    int last_device;
    const LcdBitmapHeader *last_bitmap;
    DWORD last_priority;
    int get_interface_version;
};

static LcdTestScript script;

static DWORD WINAPI scripted_init(void)
{
    script.init_calls++;
    return script.init_result;
}

static DWORD WINAPI scripted_deinit(void)
{
    script.deinit_calls++;
    return script.deinit_result;
}

static DWORD WINAPI scripted_update(int device, const LcdBitmapHeader *bitmap, DWORD priority)
{
    script.update_calls++;
    script.last_device = device;
    script.last_bitmap = bitmap;
    script.last_priority = priority;
    return script.update_result;
}

static LcdService table;

EXPORT LcdTestScript *WINAPI lcd_test_script(void)
{
    return &script;
}

EXPORT const LcdService *WINAPI GetInterface(int version)
{
    script.get_interface_version = version;
    table.init = scripted_init;
    table.deinit = scripted_deinit;
    table.update_bitmap = scripted_update;
    return &table;
}

#else // LCD_TEST_NO_INTERFACE

EXPORT int WINAPI NotTheInterface(int version)
{
    return version;
}

#endif
