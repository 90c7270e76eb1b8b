// Right-aligned numbers that stay inside their panel, for pages that show
// what other programs report.
#pragma once
#include "slots.h"

// Draws text with lcd_text and `flags` (TXT_RIGHT added) with its last column
// at the panel's column `right` (counted from the panel's left edge, so 36 is
// the last inner column) and its top at the panel's row `top`. A text wider
// than the inner columns up to `right` would run into the next panel; "--"
// stands in for it. Returns the width drawn.
int panel_text_right(Slot *slot, int flags, int right, int top, const char *text);
