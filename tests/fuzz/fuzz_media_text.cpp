// The player pages' texts: the input is Winamp's window title as UTF-8; cut
// at its first zero byte it is also the iTunes artist, with the text after
// that zero as the track name; its first bytes are a play time.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_check.h"
#include "media_text.h"

namespace {

bool continuation(char c) { return (c & 0xC0) == 0x80; }

void check_winamp(const uint8_t *data, size_t size)
{
    AmpTitle title;
    amp_title_decode(data, size, &title);
    const size_t kept = strlen(title.text);
    const size_t length = strnlen((const char *)data, size);
    FUZZ_CHECK(kept < AMP_TITLE_BYTES && kept <= length && memcmp(title.text, data, kept) == 0);
    // cut at the suffix (a blank or '-' follows) or for room, never inside a character
    FUZZ_CHECK(kept == length || kept == 0 || !continuation((char)data[kept]));
}

// The artist as far as it fits, then " - " and the start of the name.
void check_tunes(const std::string &artist, const std::string &name)
{
    char title[TUN_TITLE_BYTES];
    tun_title_build(artist.c_str(), name.c_str(), title);
    const std::string built = title;
    std::string fitted = artist;
    utf8_cut(&fitted[0], TUN_TITLE_BYTES - 1);
    fitted.resize(strlen(fitted.c_str()));
    FUZZ_CHECK(built.size() < TUN_TITLE_BYTES && fitted.size() < TUN_TITLE_BYTES);
    FUZZ_CHECK(fitted.size() == artist.size() || fitted.empty() || !continuation(artist[fitted.size()]));
    FUZZ_CHECK(built.compare(0, fitted.size(), fitted) == 0);
    if (built.size() == fitted.size())
        return;
    const size_t shown = built.size() - fitted.size() - 3; // of the name
    FUZZ_CHECK(built.compare(fitted.size(), 3, " - ") == 0 && name.compare(0, shown, built, fitted.size() + 3) == 0);
    FUZZ_CHECK(shown == name.size() || shown == 0 || !continuation(name[shown]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check_winamp(data, size);
    const std::string input((const char *)data, size);
    const std::string artist = input.substr(0, input.find('\0'));
    const std::string rest = artist.size() < input.size() ? input.substr(artist.size() + 1) : "";
    check_tunes(artist, rest.substr(0, rest.find('\0')));

    if (size >= 5) {
        uint32_t seconds;
        memcpy(&seconds, data, sizeof seconds);
        char text[PLAY_TIME_BYTES];
        FUZZ_CHECK(strlen(format_play_time(seconds, data[4] & 1, text, sizeof text)) < sizeof text);
    }
    return 0;
}
