// The module contract, the four soft-button slots and the page dispatcher.
//
// Every module is one static record whose first field is its three-letter
// code, with plain entry points called by name from the lists in modules.cpp:
//   configure(record)        after every configuration reload; reads its keys
//   start(record)            once at start-up (most call their configure)
//   poll(record)             every tick, before anything is drawn
//   render(record, slot)     draws the module's 39 x 21 panel in that slot and
//                            returns nonzero, or returns 0 without drawing when
//                            it has nothing to show (the slot tries its next module)
//   stop(record)             once at shut-down
// render draws only inside the slot's panel, relative to the slot's x and y:
// slot_draw_frame first, then slot_text, lcd_text, lcd_bitmap or guarded frame
// writes. A press for the slot is in pending_action (1 short, 2 long); a module
// that acts on it sets it back to 0.
#pragma once
#include <stdint.h>

enum { SLOT_COUNT = 4, SLOT_MAX_CODES = 8, SLOT_WIDTH = 39, SLOT_HEIGHT = 21 };

struct Slot {
    int number;                      // 0..3, also the digit of its key slot_N
    int count;                       // codes in the list, 0..8
    char codes[SLOT_MAX_CODES][4];   // three letters at most, terminated
    int variants[SLOT_MAX_CODES];    // '+' marks of each token
    int pending_action;              // 0 none, 1 short press, 2 long press
    int x;                           // 0, 40, 81, 121
    int y;                           // 22 once in place
    int start_index;                 // where the next walk starts
    int shown_index;                 // what drew in the last walk
    uint32_t list_hash;              // of the slot_N value the list was parsed from
    int parsed;                      // 0 until the first slot_parse
};

extern Slot g_slots[SLOT_COUNT];

void slot_init(Slot *slot, int number);
void slot_parse(Slot *slot);
int slot_variant(const Slot *slot, const char *code);
void slot_draw_frame(Slot *slot, const char *label);
int slot_text(Slot *slot, int flags, int dx, int dy, const char *text);
void slot_next_page(Slot *slot);
void slots_render(void);
void animate_start(int *counter);

// ---- Pieces of the dispatcher, plain so tests reach them ----------------------

// Renders the module with this code (compared without regard to case) into
// slot `slot`; nonzero when it drew. The dispatcher goes through
// slot_render_module, which is module_render_by_code (modules.cpp) unless a
// test puts a scripted dispatcher there.
typedef int (*SlotRenderFn)(const char *code, int slot);
extern SlotRenderFn slot_render_module;

// Compares two module codes without regard to (ASCII) letter case.
int code_equals(const char *a, const char *b);
// Rebuilds the slot's list from a slot_N value (null: empty list).
void slot_parse_value(Slot *slot, const char *value);
// One dispatcher walk for slot i; returns shown_index.
int slot_walk(Slot *slot, int i);
// All four panels back at row 22 (end of the slide-in).
void slots_put_in_place(void);
