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
        {"sensors", "sensors\\sensorpub.exe", true,
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
         0, "press 7 150"},
        {"fraps", "fraps\\fraps.exe", true,
         "slot_3 FPS STW\n",
         {{3, "FPS"}},
         "fps 60",
         "quit",
         {"fps 4294967295", "null on", "fps 1000000; null on; null off"},
         {"fps %d", "fps 0", "fps 1%d", "window off; window on", "null on; null off"},
         0, 0},
        {"hungwin", "hungwin\\hungwin.exe", false,
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
         "press 8 900", "press 8 100"},
        // TeamSpeak 2 and 3, Winamp, iTunes and Core Audio: their rows go here.
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
