// Every module's stand-in as the fault and soak runs drive it: one row each.
// A new stand-in of the standin_script.h form needs only its row: settings
// that show its page, its normal state, how it quits, its garbage and, for
// the soak, the changes it goes through.
#pragma once
#include "standin_driver.h"

namespace faults {

inline const std::vector<StandIn> &module_standins()
{
    static const std::vector<StandIn> rows = {
        {"sensors", "sensors\\sensorpub.exe", BY_STDIN,
         "slot_0 FAN STW\nslot_1 COR STW\nslot_2 GPU STW\n",
         {{0, "FAN"}, {1, "COR"}, {2, "GPU"}},
         "open fan; fan temps 4550 3000; fan fans 2500; fan volts 1205; open cor; cor cores 4;"
         "cor temps 41.9 45.2 44 39.5; open gpu; gpu sensor 0 \"GPU Core Clock\" MHz 1 405; gpu sensor 1 Load pct 0 97",
         "quit",
         {"fill fan 255; fill cor 255; fill gpu 255",
          "open gpu 4096; fan counts 65535 65535 65535; cor cores 4294967295; cor packages 4294967295;"
          "cor temps nan inf -inf 1e30",
          "gpu unterminated; gpu value 0 nan; gpu value 1 1e308; poke gpu 131612 255 255 255 255; gpu busy 1",
          "fan version 0; poke fan 0 255 255 255 255 255 255 255 255; cor tjmax 0; cor delta 1; cor temps 200"},
         {"fan temps %d 3000", "fan fans %d0", "cor temps 4%d.5 45 44 39", "gpu value 0 %d", "gpu busy 1; gpu busy 0",
          "close fan", "open fan; fan temps 4%d00", "close gpu", "open gpu; gpu sensor 0 Clock MHz 0 %d",
          "close cor", "open cor; cor cores 2; cor temps 5%d 40"},
         0, "press 7 150", false},
        {"fraps", "fraps\\fraps.exe", BY_STDIN,
         "slot_3 FPS STW\n",
         {{3, "FPS"}},
         "null off; window on; fps 60",
         "quit",
         {"fps 4294967295", "null on", "fps 1000000; null on; null off"},
         {"fps %d", "fps 0", "fps 1%d", "window off; window on", "null on; null off"},
         0, 0, false},
        {"hungwin", "hungwin\\hungwin.exe", BY_START_SCRIPT,
         "slot_3 RIP STW\n",
         {{3, "RIP"}},
         "title Frozen editor; show; pump 300; hang",
         0,
         {"title \x01\x02\t\x7f\xff\xfe\xc3 \xed\xa0\x80 %s %n %%; show; pump 300; hang",
          "title " "\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94"
          "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
          "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
          "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
          "; show; pump 300; hang",
          "show; pump 300; hang"},
         {},
         "press 8 900", "press 8 100", false},
        // TeamSpeak 2 has none: its library is 32-bit only, and 32-bit programs cannot run on this kernel.
        {"ts3", "teamspeak\\ts3state.exe", BY_SCRIPT_FILE,
         "slot_0 TS3 STW\n",
         {{0, "TS3"}},
         "disconnect; members normal; sizefield 1778; mute off; talking off; self 7; channel Lobby 3; users 12;"
         "join 7 Me; join 21 Alice; join 22 Bob marked; connect 1 Alpha",
         "quit",
         {"members loop; talk 21 Alice", "members backwards; join 23 Carol", "members overrun", "members unterminated",
          "sizefield 1777",
          "join 30 \x01\x02\xff\xfe\xc3%s%n%%; talk 30 \xed\xa0\x80%n%s\x7f; users 65535; channel "
          "\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94"
          "012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789 65535;"
          "connect 18446744073709551615 \xff\xfe\x01"},
         {"join 3%d Carol", "leave 3%d", "talk 21 Alice%d", "quiet 21", "talk 22 Bob suppressed; quiet 22",
          "mute on", "mute off", "talking on; talking off", "users 1%d", "channel Room%d 4",
          "disconnect; connect 2 Beta"},
         0, "press 1 800", false},
        {"winamp", "winamp\\Winamp.exe", BY_SCRIPT_FILE,
         "slot_1 AMP STW\n",
         {{1, "AMP"}},
         "title 1. Artist - Song A - Winamp; position 15000; length 225; bitrate 128",
         "quit",
         {"title \x01\x02\t\x7f\xff\xfe\xc3 \xed\xa0\x80 %s %n %% - Winamp; position -5; length -1; bitrate -1",
          "title " "\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94"
          "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
          "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
          "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789",
          "title - Winamp; position 2147483647; length 2147483647; bitrate 2147483647",
          "title; position 99999999; length 0; bitrate 0"},
         {"title %d. Artist - Song - Winamp", "position %d000", "length 1%d0", "bitrate %d00", "position -1",
          "hang %d00"},
         0, "press 2 150", false},
        {"itunes", "itunes\\iTunes.exe", BY_SCRIPT_FILE,
         "slot_2 TUN STW\n",
         {{2, "TUN"}},
         "track Song A|Artist|225|128; current 0; version 1; state 1; position 15",
         "quit",
         {"track \x01\x02\t\xff\xfe\xc3 %s %n|\xed\xa0\x80 %%\x7f|-5|-1; current 15; state 99; position -100",
          "track " "\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94\xe2\x80\x94"
          "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
          "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
          "|0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
          "|2147483647|2147483647; current 15",
          "version 0", "current -1; state 0", "current 99; position 2147483647"},
         {"current 0", "state %d", "state 1", "position 1%d0", "event 2", "event 4"},
         0, "press 4 150", true},
        // A driver's endpoint can report volumes, masks and defaults, but nothing that
        // is not a number: no garbage beyond values out of range.
        {"coreaudio", "coreaudio\\" COREAUDIO_STANDIN_DLL, IN_PROGRAM,
         "slot_3 SPK STW\n",
         {{3, "SPK"}},
         "default 0; volume 0 0.5; mute 0 0; mask 0 0x3; topology 0 1; refuse 0 0; keep 0 1; volume 1 0.7; mute 1 0",
         "default none",
         {"volume 0 1e30; mute 0 1; mask 0 0xffffffff", "volume 0 -5; mask 0 0", "volume 0 nan; volume 1 -inf; default 1",
          "topology 0 0; refuse 0 1; keep 0 0; mask 0 0x3f"},
         {"volume 0 0.%d", "mute 0 1; mute 0 0", "default 1; default 0", "mask 0 0x3f; mask 0 0x3", "volume 1 0.%d"},
         0, 0, false},
    };
    return rows;
}

inline const StandIn &module_standin(const char *name)
{
    for (const StandIn &s : module_standins())
        if (strcmp(s.name, name) == 0)
            return s;
    abort();
}

} // namespace faults
