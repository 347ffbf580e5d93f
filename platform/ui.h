// The window system as the patcher sees it: one main window, numbered controls, handlers bound to
// their events, modal message boxes and the open-file dialog. Two implementations exist: ui_fltk.cpp
// (the real desktop, in qm_platform_ui) and ui_script.cpp (answers from a test script, in
// qm_platform_ui_script). A program links exactly one of them.
//
// Every function runs on the main thread. Controls are named by their number (1 and up, unique).
// Changes the program makes to a control (rows, selection, check mark) report no event.
#pragma once
#include <cstdint>

#include "platform/image.h"

// A handler bound to a control's events or to the window's close request. Its result is ignored.
using UiHandler = int (*)();

enum UiButtons : int {
    UI_BUTTONS_OK = 0,     // one button, "OK"
    UI_BUTTONS_YES_NO = 1, // "Yes" (the default) and "No"
};

enum UiAnswer : int {
    UI_ANSWER_OK = 1,
    UI_ANSWER_YES = 6,
    UI_ANSWER_NO = 7,
};

enum UiAlign : int {
    UI_ALIGN_LEFT = 0,
    UI_ALIGN_RIGHT = 1,
    UI_ALIGN_CENTER = 2,
};

// 0xRRGGBB.
using UiColour = std::uint32_t;

// What the open-file dialog shows.
struct UiFileDialog {
    const char *caption;            // window title
    const char *start_folder;       // folder listed first; when it does not exist the dialog picks one
    const char *filter_description; // the one filter entry; it lists every file
};

// Connects to the display. Returns 1 when a display can be used, 0 when none can be opened (then
// nothing else of this layer may be called except ui_end_process).
int ui_open_display();

// Size in pixels of the primary display's current mode; 0 x 0 when it cannot be examined.
void ui_primary_display_size(std::int32_t *width, std::int32_t *height);

// Vertical resolution of the primary display in dots per inch; 96 when it cannot be queried.
int ui_display_dpi_y();

// Creates the main window, hidden: `title`, a fixed client area of width x height pixels, placed
// centred on the primary screen. Returns 1, or 0 when it cannot be created.
int ui_create_window(const char *title, int client_width, int client_height);

// Sets the window's icon from `count` sizes of the same picture (RGBA). Pictures left empty are skipped.
void ui_set_window_icons(const Picture *icons, int count);

// Font of every control created after this call: `face` at a character height of `pixel_height`.
void ui_set_default_font(const char *face, int pixel_height);

// The controls. Positions and sizes are in pixels of the client area. Each returns 1 when the
// control was made, 0 otherwise (no window, a number in use or out of range).
// A picture shows `picture` from its top-left corner at its own size and accepts no focus; an empty
// picture gives an empty control of width x height.
int ui_add_picture(int id, int x, int y, int width, int height, const Picture *picture);
// Static text centred both ways, drawn literally (no mnemonics, no symbols).
int ui_add_static_text(int id, int x, int y, int width, int height, const char *text);
// A check box that toggles itself when clicked; starts unchecked.
int ui_add_check_box(int id, int x, int y, int width, int height, const char *text);
// A one-column list, single selection, selected row highlighted across its full width, sunken edge,
// no header. `column_title` is what row -1 reads as.
int ui_add_list(int id, int x, int y, int width, int height, const char *column_title, int column_width);
int ui_add_push_button(int id, int x, int y, int width, int height, const char *text);

// Appends a row at the end of list `id`. Returns its index, or -1.
int ui_list_add_row(int id, const char *text);
// Sets the alignment of a column of list `id`. Returns 0 when there is no such list or column.
int ui_list_set_column_alignment(int id, int column, UiAlign align);
// Copies the text of row `row` (-1: the column title) into out[0..capacity), zero-terminated.
// Returns the text's length, or -1 (and an empty `out`) for a row that does not exist.
int ui_list_row_text(int id, int row, char *out, int capacity);
// Index of the first selected row, -1 when none is selected.
int ui_list_first_selected(int id);
// Deselects every row, then selects and focuses `row` and scrolls it into view.
void ui_list_select(int id, int row);

// Check mark of check box `id`: 1 checked, 0 not.
int ui_check_box_state(int id);
void ui_check_box_set(int id, int checked);

// Colours of a static text control.
void ui_set_colours(int id, UiColour text, UiColour background);
// Gives `id` the keyboard focus.
void ui_set_focus(int id);

// Binds `handler` to every event control `id` reports (a list: selection changes, clicks, double
// clicks; a button: its click). The window's close request (close box, window menu, Alt+F4; never
// Escape) is bound with ui_bind_close.
void ui_bind_events(int id, UiHandler handler);
void ui_bind_close(UiHandler handler);

// Shows the main window in its normal state and activates it.
void ui_show_window();

// Waits for window events and dispatches them to the handlers. Returns only when no window is left.
void ui_run_events();

// Modal message box with no icon over the main window. A carriage return (byte 13) in `text` is
// shown as a line break. Returns the answer (UI_ANSWER_*); closing the box answers OK or No.
int ui_message_box(const char *caption, const char *text, UiButtons buttons);

// Modal open-file dialog for one file. A typed name must lie in an existing folder; the file need
// not exist. Writes the chosen full path to out[0..capacity) and returns its length; returns 0 with
// an empty `out` when the user cancels (or the path does not fit).
int ui_open_file_dialog(const UiFileDialog *dialog, char *out, int capacity);

// Releases the window, controls, fonts, pictures and the display connection, then ends the process
// with `exit_code`. Output streams are flushed; nothing else runs (no static destructors).
[[noreturn]] void ui_end_process(int exit_code);
