// Start-up, the main window and its event wait, and the end of the process.
#pragma once
#include "platform/ui.h"

constexpr int CLIENT_WIDTH = 500;  // pixels
constexpr int CLIENT_HEIGHT = 460; // pixels

// The program: start-up, then the event wait. Returns only when no display can be opened (1, after
// one line on standard error); every other end goes through end_process.
int app_main();

// Releases the window system's resources and ends the process with exit code 0. The audio output
// is not closed first.
[[noreturn]] void end_process();

// Picks the list row whose text is "<desktop width>x<desktop height>" into app_state.selected_row
// (unchanged, normally -1, when there is none).
void preselect_desktop_resolution();

// If list control `list` exists, sets the alignment of `column`; otherwise does nothing.
void center_list_column(int list, int column, UiAlign alignment);

// Bound to every event of the resolution list: keeps the first selected row, if any. Returns 0.
int on_list_event();

// Bound to the window's close request: ends the process.
int on_close();
