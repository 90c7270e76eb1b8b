// Texts of the two player pages: Winamp's window title without the player's
// suffix, the iTunes title built from artist and name, and the play time
// both pages show. No Windows header here: this builds natively too
// (sanitizer tests).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    AMP_TITLE_BYTES = 512, // a kept Winamp title: 511 bytes and the terminator
    TUN_TITLE_BYTES = 256, // the iTunes title: 255 bytes and the terminator
    PLAY_TIME_BYTES = 16,  // "1193046 07" is the longest
};

struct AmpTitle {
    char text[AMP_TITLE_BYTES];
};

// Winamp's window title as UTF-8 bytes (read up to size or the first zero
// byte): cut at the last "- Winamp" in any letter case, blanks before the cut
// removed, then kept to at most 511 bytes without a partial character. A
// title without the suffix is kept whole.
void amp_title_decode(const uint8_t *bytes, size_t size, AmpTitle *out);

// Cuts UTF-8 text in place to at most max_bytes bytes, never inside a
// character.
void utf8_cut(char *text, size_t max_bytes);

// The iTunes title: the artist, then " - " and the name when the artist
// leaves room for the separator, all within 255 bytes. Null texts count as
// empty.
void tun_title_build(const char *artist, const char *name, char out[TUN_TITLE_BYTES]);

// A play time in whole seconds: "3:05" below one hour, "1:02:05" below ten
// hours, then hours and minutes, "10:05", with a blank for the colon while
// blink_on is 1 ("10 05"). Returns out.
char *format_play_time(uint32_t seconds, int blink_on, char *out, size_t size);

struct PopupQueue;

// Whether a player page that keeps its title on the band may post it again
// (key 1) this tick: the queue is empty, or its head is an ordinary notice
// or the title itself and no keyed notice waits right behind it. Any other
// keyed notice gets the band within one short hold of the title.
int title_hold_allowed(const PopupQueue *queue);
