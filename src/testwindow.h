// The test window: the frames that go to the display, twice enlarged, with
// the four soft buttons worked by the mouse. It is also the program's anchor
// on the desktop: the single-instance test finds it, its close and log-off
// messages end the program, its title carries the unresponsive-display notice.
//
// It lives on a thread of its own. That thread only increments
// quit_requested and writes main_window, a slot's start_index and button
// times; it reads slot x, y, shown_index and its own copy of the frame.
#pragma once
#include <windows.h>
#include <stdint.h>

#define TESTWINDOW_CLASS "PixwickWnd"

// Window thread entry: creates the window (main_window, 0 on failure), runs
// its message loop until the program is to stop, destroys it. Returns 0.
DWORD WINAPI testwindow_thread(LPVOID unused);

// Keeps a copy of a frame as it is handed to the link: what the window paints.
void testwindow_keep_frame(const uint8_t *frame);

// The slot whose panel is under client pixel (x, y) of the window, or -1.
int window_hit_test(int x, int y);
// The window's title on a second tick while the display does not respond.
const char *unresponsive_title(int tick);
// Paints the last frame handed to the link, `scale` times enlarged, lit pixels
// black; 0 (nothing painted) while there is no link. dc is an HDC.
int paint_display(void *dc, int left, int top, int scale);
