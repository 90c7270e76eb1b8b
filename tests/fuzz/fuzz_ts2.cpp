// What the TeamSpeak 2 library leaves in a query's records (a snapshot of
// exactly the input's size; the first 50 bytes also as one player record),
// and the member line a long press shows.
#include <stdint.h>
#include <string.h>

#include "fuzz_check.h"
#include "voice_records.h"

namespace {

void check_player(const Ts2Player &p) { FUZZ_CHECK(strlen(p.nick) <= TS2_NAME_BYTES); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Ts2State state;
    ts2_decode(data, size, &state);
    FUZZ_CHECK(strlen(state.server) <= TS2_NAME_BYTES && strlen(state.channel) <= TS2_NAME_BYTES);
    FUZZ_CHECK(state.player_count >= 0 && state.player_count <= TS2_MAX_PLAYERS);
    FUZZ_CHECK(state.speaker_count >= 0 && state.speaker_count <= TS2_MAX_SPEAKERS);
    check_player(state.self);
    for (int i = 0; i < state.player_count; i++) {
        check_player(state.players[i]);
        const int found = ts2_find_player(&state, state.players[i].id);
        FUZZ_CHECK(found >= 0 && found <= i);
    }
    char line[VOICE_LINE_BYTES];
    ts2_member_line(&state, line);
    FUZZ_CHECK(strlen(line) < VOICE_LINE_BYTES && strncmp(line, "TS2: Channel \"", 14) == 0);

    Ts2Player player;
    ts2_read_player(data, size < TS2_PLAYER_RECORD_BYTES ? size : TS2_PLAYER_RECORD_BYTES, &player);
    check_player(player);
    return 0;
}
