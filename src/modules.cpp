// The module lists in the orders the program calls them. Each list names
// every part in its place; one that is not built yet is left out.
#include "modules.h"

#include "config.h"
#include "mod_clk.h"
#include "mod_cpu.h"
#include "mod_stw.h"
#include "mod_ts2.h"
#include "mod_ts3.h"
#include "slots.h"
#include "ticker.h"
#include "topline.h"

// Render order: CPU, SPK, NET, AMP, STW, CLK, TS2, TS3, FPS, FAN, COR, GPU, TUN, RIP.
int module_render_by_code(const char *code, int slot)
{
    if (code_equals(code, g_cpu.code))
        return cpu_render(&g_cpu, slot);
    if (code_equals(code, g_stw.code))
        return stw_render(&g_stw, slot);
    if (code_equals(code, g_clk.code))
        return clk_render(&g_clk, slot);
    if (code_equals(code, g_ts2.code))
        return ts2_render(&g_ts2, slot);
    if (code_equals(code, g_ts3.code))
        return ts3_render(&g_ts3, slot);
    return 0;
}

// topline_start, CPU, net_init, the ticker, TS2, TS3, SPK, NET, AMP, STW, CLK,
// FPS, FAN, COR, GPU, TUN, RIP.
void modules_start_all(void)
{
    topline_start(&g_topline);
    cpu_start(&g_cpu);
    ticker_start(&g_ticker);
    ticker_set_linger(&g_ticker, g_general.linger);
    ts2_start(&g_ts2);
    ts3_start(&g_ts3);
    stw_start(&g_stw);
    clk_start(&g_clk);
}

// CPU, SPK, NET, AMP, STW, CLK, FPS, FAN, COR, GPU, TUN, TS2, TS3, RIP.
void modules_poll_all(void)
{
    cpu_poll(&g_cpu);
    ts2_poll(&g_ts2);
    ts3_poll(&g_ts3);
}

// Reload: the slots, the ticker's linger, the top line, CPU, net_configure,
// SPK, AMP, STW, CLK, FAN, COR, GPU, TUN.
void modules_configure_all(void)
{
    for (int i = 0; i < SLOT_COUNT; i++)
        slot_parse(&g_slots[i]);
    ticker_set_linger(&g_ticker, g_general.linger);
    topline_configure(&g_topline);
    cpu_configure(&g_cpu);
    stw_configure(&g_stw);
    clk_configure(&g_clk);
}

// RIP, TUN (1), GPU, COR, FAN, FPS, CLK, STW, AMP, NET, SPK, TS2 (1), TS3, the
// ticker, net_close, CPU, the top line.
void modules_stop_all(void)
{
    ts2_stop(&g_ts2, 1);
    ts3_stop(&g_ts3);
    ticker_clear(&g_ticker);
    cpu_stop(&g_cpu);
    topline_stop(&g_topline);
}

// The CPU meter (columns 0..78) and the network meter (from column 81).
void modules_draw_band_meters(void)
{
    cpu_draw_meter(&g_cpu);
}

SlotRenderFn slot_render_module = module_render_by_code;
