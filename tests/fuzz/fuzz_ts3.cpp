// The TeamSpeak 3 plug-in's state block as mapped, of exactly the input's
// size, and the member line a long press shows.
#include <stdint.h>
#include <string.h>

#include "fuzz_check.h"
#include "voice_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Ts3State state;
    ts3_decode(data, size, &state);
    FUZZ_CHECK(strlen(state.server) <= TS3_SERVER_NAME_BYTES && strlen(state.channel) <= TS3_CHANNEL_NAME_BYTES);
    FUZZ_CHECK(state.member_count >= 0 && state.member_count <= TS3_MAX_MEMBERS);
    FUZZ_CHECK(size > TS3_MEMBER_LIST || state.member_count == 0);
    for (int i = 0; i < state.member_count; i++) {
        const Ts3Member &m = state.members[i];
        FUZZ_CHECK(m.id != 0 && strlen(m.name) < TS3_NAME_BYTES);
        const int found = ts3_find_member(&state, m.id);
        FUZZ_CHECK(found >= 0 && found <= i && state.members[found].id == m.id);
    }
    for (const Ts3Speaker &s : state.speakers) {
        FUZZ_CHECK(strlen(s.text) <= TS3_SPEAKER_TEXT_BYTES);
        FUZZ_CHECK(ts3_speaker_announced(&s) == (s.key && s.id && !s.suppress));
    }
    char line[VOICE_LINE_BYTES];
    ts3_member_line(&state, line);
    FUZZ_CHECK(strlen(line) < VOICE_LINE_BYTES && strncmp(line, "TS3: Channel \"", 14) == 0);
    return 0;
}
