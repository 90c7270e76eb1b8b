// The module lists: which parts are started, polled, configured, rendered
// and stopped, and in which order. Adding a module means one line in each
// list of modules.cpp that has an entry point of it, and nothing elsewhere.
#pragma once

// The render entry point of the module with this code (compared without
// regard to case), in the render order; 0 for a code no module has.
int module_render_by_code(const char *code, int slot);

void modules_start_all(void);
// The network sample every tick takes, early in the tick.
void modules_sample_network(void);
void modules_poll_all(void);
// After a configuration reload: the slot lists first, then every part's keys.
void modules_configure_all(void);
void modules_stop_all(void);

// The CPU and network meters in the band, on ticks without a pop-up.
void modules_draw_band_meters(void);
