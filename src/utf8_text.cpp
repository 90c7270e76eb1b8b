// UTF-8 cutting; see utf8_text.h.
#include "utf8_text.h"

#include <string.h>

static int is_continuation(unsigned char c) { return (c & 0xc0) == 0x80; }

// Bytes of the sequence that starts with lead byte c (1 for a stray byte).
static size_t sequence_bytes(unsigned char c)
{
    return c >= 0xf0 && c < 0xf8 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
}

size_t utf8_fit(const char *text, size_t length, size_t max)
{
    const unsigned char *p = (const unsigned char *)text;
    size_t at = 0;
    while (at < length) {
        size_t n = is_continuation(p[at]) ? 1 : sequence_bytes(p[at]);
        if (n > length - at || at + n > max)
            break;
        at += n;
    }
    return at;
}

size_t utf8_drop_last(char *text)
{
    const size_t length = strlen(text);
    if (length == 0)
        return 0;
    const unsigned char *p = (const unsigned char *)text;
    size_t lead = length - 1;
    while (lead > 0 && length - lead < 4 && is_continuation(p[lead]))
        lead--;
    // a whole sequence ends the text, or a stray byte does
    const int whole = !is_continuation(p[lead]) && sequence_bytes(p[lead]) == length - lead;
    const size_t cut = whole ? lead : length - 1;
    text[cut] = 0;
    return cut;
}
