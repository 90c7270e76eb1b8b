// The link to the display: a thread that connects to the LCD Manager (or,
// when asked, drives the keyboard over USB HID) and pushes every frame the
// main thread hands over; the soft buttons that come back from it; and the
// records both sides share.
//
// Four threads meet in LcdLink: the main thread (lcd_submit,
// lcd_button_event, lcd_quit_requested, lcd_enable_hid), the link thread,
// the LCD Manager's callback thread (on_soft_buttons) and the window thread
// (lcd_button_down/up).
#pragma once
#include <windows.h>
#include <stdint.h>

#include "lcd.h"
#include "lcd_client.h"

enum {
    LCD_BUTTONS = 4,
    LCD_ALL_BUTTONS = 15, // bit i is button i, 0 the leftmost

    // button events
    BUTTON_NONE = 0,
    BUTTON_SHORT = 1,     // released less than 500 ms after the press
    BUTTON_LONG = 2,      // held for 500 ms or more
    BUTTON_NEXT_PAGE = 3, // pressed while Ctrl was held

    LONG_PRESS_MS = 500,

    // Watchdog: a link that has not delivered for ten frames, or has been
    // inside one update call this long, is replaced.
    LINK_MAX_PENDING = 9,
    LINK_CALL_TIMEOUT_MS = 1000,
};

// One heap block, zero-filled when created. It belongs to Lcd until the link
// thread starts, then to the link thread, which frees it when it ends;
// link_stop only detaches it.
//
// "lock" is a user-mode lock: it is held only to copy a frame or change a few
// fields, never across a call into the LCD Manager or the keyboard, so no
// thread ever waits long for it and a tick costs no kernel round trip. The
// single-integer flags are polled without it.
struct LcdLink {
    volatile LONG stop;         // written by the main thread, polled by the link thread
    SRWLOCK lock;               // guards the frame copy, pending and the button fields
    CONDITION_VARIABLE frame_ready; // main wakes the link thread when it hands over a frame
    volatile LONG disconnected; // written by the link thread, polled by main; 1 while no display is open
    char app_name[256];         // set before the thread starts, then read-only
    int autostartable;          // 0/1, read-only
    int persistent;             // 0/1, read-only
    int device_index;           // read-only
    volatile LONG hid;          // written by main (lcd_enable_hid), polled by the link thread
    // Written by the link thread: app_now_ms() when it entered the LCD
    // Manager's update call (never 0), 0 outside it. Main's watchdog reads it.
    volatile uint32_t call_started;

    // under the lock
    uint32_t press_time[LCD_BUTTONS];   // app_now_ms() of the press, 0 none
    uint32_t release_time[LCD_BUTTONS]; // of the release after it, 0 none / held
    int next_page[LCD_BUTTONS];         // pressed with Ctrl
    DWORD buttons_down;                 // the button bits of the last change the link reported
    volatile LONG quit;         // set under the lock by the button callback, read by main without
    int pending;                // frames handed over, not yet delivered
    uint8_t frame[LCD_FRAME_BYTES]; // the last frame handed over
};

int link_start(Lcd *lcd);
// Detaches the link and asks its thread to end. With wait, a thread that has
// not ended within 1000 ms is terminated.
void link_stop(Lcd *lcd, int wait);
DWORD WINAPI link_thread(LPVOID link);

// 1 when a wait acquired its object (result 0); otherwise logs
// "WaitForSingleObject() returned ..." at source_file/line and returns 0.
int wait_ok(DWORD result, const char *source_file, int line);

// 1 when the link thread has been inside one update call for more than
// LINK_CALL_TIMEOUT_MS at `now`.
int link_call_hung(const LcdLink *link, uint32_t now);

// Soft buttons: the LCD Manager's callback, also called by the HID reader
// (device 0). Always returns 0.
DWORD WINAPI on_soft_buttons(int device, DWORD buttons, void *link);
// BUTTON_* for button i (0..3), once per tick from the main loop.
int lcd_button_event(Lcd *lcd, int i);
// The decision behind it, in unsigned 32-bit arithmetic (so a clock wrap
// between press and release cannot fake a short press): BUTTON_UNDECIDED
// while a press is held for less than 500 ms.
enum { BUTTON_UNDECIDED = -1 };
int button_event_at(uint32_t press_time, uint32_t release_time, int next_page, uint32_t now);
// Mouse press/release over a panel of the test window.
void lcd_button_down(Lcd *lcd, int i);
void lcd_button_up(Lcd *lcd, int i);
// 1 once all four buttons were seen down together on the current link.
int lcd_quit_requested(Lcd *lcd);

// Switches the HID fallback on (nonzero) or off, for the current link and
// every link that replaces it.
void lcd_enable_hid(Lcd *lcd, int value);

// One line in hid.log in the working folder.
void hid_log(const char *format, ...);

// Number of link threads that have started and not yet ended, abandoned ones
// included.
extern volatile LONG link_threads_alive;

// --- Seams for tests -------------------------------------------------------

// Whether Ctrl is held right now (GetAsyncKeyState by default).
typedef int (*LcdCtrlProbe)(void);
extern LcdCtrlProbe lcd_ctrl_held;

// Where the HID reader's keystrokes go (SendInput by default).
typedef UINT(WINAPI *LcdSendInput)(UINT count, LPINPUT inputs, int size);
extern LcdSendInput lcd_send_input;
