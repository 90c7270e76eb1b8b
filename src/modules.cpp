// The module lists in the orders the program calls them. Each list names
// every part that takes part in it, in its place.
#include "modules.h"

#include "config.h"
#include "mod_amp.h"
#include "mod_clk.h"
#include "mod_cor.h"
#include "mod_cpu.h"
#include "mod_fan.h"
#include "mod_fps.h"
#include "mod_gpu.h"
#include "mod_net.h"
#include "mod_rip.h"
#include "mod_spk.h"
#include "mod_stw.h"
#include "mod_ts2.h"
#include "mod_ts3.h"
#include "mod_tun.h"
#include "slots.h"
#include "ticker.h"
#include "topline.h"

// Render order: CPU, SPK, NET, AMP, STW, CLK, TS2, TS3, FPS, FAN, COR, GPU, TUN, RIP.
int module_render_by_code(const char *code, int slot)
{
    if (code_equals(code, g_cpu.code))
        return cpu_render(&g_cpu, slot);
    if (code_equals(code, g_spk.code))
        return spk_render(&g_spk, slot);
    if (code_equals(code, g_net.code))
        return net_render(&g_net, slot);
    if (code_equals(code, g_amp.code))
        return amp_render(&g_amp, slot);
    if (code_equals(code, g_stw.code))
        return stw_render(&g_stw, slot);
    if (code_equals(code, g_clk.code))
        return clk_render(&g_clk, slot);
    if (code_equals(code, g_ts2.code))
        return ts2_render(&g_ts2, slot);
    if (code_equals(code, g_ts3.code))
        return ts3_render(&g_ts3, slot);
    if (code_equals(code, g_fps.code))
        return fps_render(&g_fps, slot);
    if (code_equals(code, g_fan.code))
        return fan_render(&g_fan, slot);
    if (code_equals(code, g_cor.code))
        return cor_render(&g_cor, slot);
    if (code_equals(code, g_gpu.code))
        return gpu_render(&g_gpu, slot);
    if (code_equals(code, g_tun.code))
        return tun_render(&g_tun, slot);
    if (code_equals(code, g_rip.code))
        return rip_render(&g_rip, slot);
    return 0;
}

// topline_start, CPU, net_init, the ticker, TS2, TS3, SPK, NET, AMP, STW, CLK,
// FPS, FAN, COR, GPU, TUN, RIP.
void modules_start_all(void)
{
    topline_start(&g_topline);
    cpu_start(&g_cpu);
    net_init(&g_net_stats);
    ticker_start(&g_ticker);
    ticker_set_linger(&g_ticker, g_general.linger);
    ts2_start(&g_ts2);
    ts3_start(&g_ts3);
    spk_start(&g_spk);
    net_start(&g_net);
    amp_start(&g_amp);
    stw_start(&g_stw);
    clk_start(&g_clk);
    fps_start(&g_fps);
    fan_start(&g_fan);
    cor_start(&g_cor);
    gpu_start(&g_gpu);
    tun_start(&g_tun);
    rip_start(&g_rip);
}

// The network statistics, every tick before the media-stop watch.
void modules_sample_network(void)
{
    net_poll(&g_net_stats);
}

// CPU, SPK, NET, AMP, STW, CLK, FPS, FAN, COR, GPU, TUN, TS2, TS3, RIP.
void modules_poll_all(void)
{
    cpu_poll(&g_cpu);
    amp_poll(&g_amp);
    fps_poll(&g_fps);
    fan_poll(&g_fan);
    cor_poll(&g_cor);
    gpu_poll(&g_gpu);
    tun_poll(&g_tun);
    ts2_poll(&g_ts2);
    ts3_poll(&g_ts3);
    rip_poll(&g_rip);
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
    net_configure(&g_net_stats);
    spk_configure(&g_spk);
    amp_configure(&g_amp);
    stw_configure(&g_stw);
    clk_configure(&g_clk);
    fan_configure(&g_fan);
    gpu_configure(&g_gpu);
    tun_configure(&g_tun);
}

// RIP, TUN (1), GPU, COR, FAN, FPS, CLK, STW, AMP, NET, SPK, TS2 (1), TS3, the
// ticker, net_close, CPU, the top line.
void modules_stop_all(void)
{
    rip_stop(&g_rip);
    tun_stop(&g_tun, 1);
    spk_stop(&g_spk);
    ts2_stop(&g_ts2, 1);
    ts3_stop(&g_ts3);
    ticker_clear(&g_ticker);
    net_close(&g_net_stats);
    cpu_stop(&g_cpu);
    topline_stop(&g_topline);
}

// The CPU meter (columns 0..78) and the network meter (from column 81).
void modules_draw_band_meters(void)
{
    cpu_draw_meter(&g_cpu);
    net_draw_meter(&g_net_stats);
}

SlotRenderFn slot_render_module = module_render_by_code;
