// Window titles as UTF-8 (the hung-window page's name, an adapter's name):
// byte 0 is the room in bytes, the rest the title. The title is fitted into
// the room, then shortened a character at a time as a narrow panel does.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_check.h"
#include "utf8_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t room = data[0];
    const char *title = (const char *)data + 1;
    const size_t length = size - 1;

    const size_t fit = utf8_fit(title, length, room);
    FUZZ_CHECK(fit <= length && fit <= room);
    FUZZ_CHECK(utf8_fit(title, fit, room) == fit);
    FUZZ_CHECK(fit == length || fit + 4 > room || fit + 4 > length); // only the room or the end stop it

    char *name = (char *)malloc(fit + 1);
    memcpy(name, title, fit);
    name[fit] = 0;
    for (size_t left = strlen(name); left > 0;) {
        const size_t shorter = utf8_drop_last(name);
        FUZZ_CHECK(shorter < left && shorter + 4 >= left && shorter == strlen(name));
        left = shorter;
    }
    free(name);
    return 0;
}
