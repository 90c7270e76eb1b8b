// COR: the highest and the average core temperature from Core Temp. See
// mod_cor.cpp for the picture.
#pragma once
#include "sensor_blocks.h"

struct CoreTempModule {
    const char *code = "COR";
    CoreTempSummary summary; // rebuilt once a second; readings 0 = no data
};

extern CoreTempModule g_cor;
// The block's name; tests give their own.
extern const char *cor_block_name;

// Module entry points (no configure, no stop).
void cor_start(CoreTempModule *cor);
void cor_poll(CoreTempModule *cor);
int cor_render(CoreTempModule *cor, int slot);

// The once-a-second copy of the block.
void cor_read_block(CoreTempModule *cor);
