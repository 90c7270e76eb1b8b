#include "media_text.h"

#include "popup.h"

#include <stdio.h>
#include <string.h>

static const char WINAMP_SUFFIX[] = "- Winamp";
static const size_t WINAMP_SUFFIX_LENGTH = sizeof WINAMP_SUFFIX - 1;
static const char TUN_SEPARATOR[] = " - ";

static int ascii_lower(int c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

static int suffix_at(const uint8_t *bytes, size_t at)
{
    for (size_t k = 0; k < WINAMP_SUFFIX_LENGTH; k++)
        if (ascii_lower(bytes[at + k]) != ascii_lower((unsigned char)WINAMP_SUFFIX[k]))
            return 0;
    return 1;
}

// Bytes of a text of `length` bytes that fit into `room` bytes (the
// terminator included) without cutting a character.
static size_t fitting_bytes(const uint8_t *text, size_t length, size_t room)
{
    if (length < room)
        return length;
    size_t end = room ? room - 1 : 0;
    while (end > 0 && (text[end] & 0xC0) == 0x80)
        end--; // text[end] is the first byte left out: back to a character start
    return end;
}

void utf8_cut(char *text, size_t max_bytes)
{
    text[fitting_bytes((const uint8_t *)text, strlen(text), max_bytes + 1)] = 0;
}

// Appends text to out (holding `used` bytes) within `room` bytes; returns the new length.
static size_t append_cut(char *out, size_t used, size_t room, const char *text)
{
    size_t n = fitting_bytes((const uint8_t *)text, strlen(text), room - used);
    memcpy(out + used, text, n);
    out[used + n] = 0;
    return used + n;
}

void amp_title_decode(const uint8_t *bytes, size_t size, AmpTitle *out)
{
    out->text[0] = 0;
    if (!bytes)
        return;
    const uint8_t *zero = (const uint8_t *)memchr(bytes, 0, size);
    size_t length = zero ? (size_t)(zero - bytes) : size;
    if (length >= WINAMP_SUFFIX_LENGTH) {
        for (size_t at = length - WINAMP_SUFFIX_LENGTH + 1; at-- > 0;) {
            if (suffix_at(bytes, at)) {
                length = at;
                while (length > 0 && bytes[length - 1] == ' ')
                    length--;
                break;
            }
        }
    }
    size_t kept = fitting_bytes(bytes, length, AMP_TITLE_BYTES);
    memcpy(out->text, bytes, kept);
    out->text[kept] = 0;
}

void tun_title_build(const char *artist, const char *name, char out[TUN_TITLE_BYTES])
{
    out[0] = 0;
    size_t length = append_cut(out, 0, TUN_TITLE_BYTES, artist ? artist : "");
    if (length + strlen(TUN_SEPARATOR) >= TUN_TITLE_BYTES)
        return;
    length = append_cut(out, length, TUN_TITLE_BYTES, TUN_SEPARATOR);
    append_cut(out, length, TUN_TITLE_BYTES, name ? name : "");
}

char *format_play_time(uint32_t seconds, int blink_on, char *out, size_t size)
{
    unsigned hours = seconds / 3600, minutes = seconds % 3600 / 60, rest = seconds % 60;
    if (hours >= 10)
        snprintf(out, size, "%u%c%02u", hours, blink_on == 1 ? ' ' : ':', minutes);
    else if (hours >= 1)
        snprintf(out, size, "%u:%02u:%02u", hours, minutes, rest);
    else
        snprintf(out, size, "%u:%02u", minutes, rest);
    return out;
}

int title_hold_allowed(const PopupQueue *queue)
{
    const PopupMessage *head = queue->head;
    if (!head)
        return 1;
    if (head->key > 1)
        return 0;
    return !head->next || head->next->key == 0;
}
