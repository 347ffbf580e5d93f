// A window system played from a script, for tests: ui.h answered without a display. It records
// what the program created and showed, answers message boxes and file dialogs from queues, and
// ui_run_events plays queued user actions through the bound handlers. ui_end_process records the
// exit code and throws UiProcessEnded, so a test sees the end of the process without one.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

enum class ScriptedKind { Picture, StaticText, CheckBox, List, PushButton };

struct ScriptedControl {
    int id = 0;
    ScriptedKind kind = ScriptedKind::Picture;
    int x = 0, y = 0, width = 0, height = 0;
    std::string text;     // static text, check box, button; the column title of a list
    int column_width = 0; // lists
    UiAlign align = UI_ALIGN_LEFT;
    std::vector<std::string> rows;
    int selected = -1;                                               // lists
    int checked = 0;                                                 // check boxes
    int picture_width = 0, picture_height = 0, picture_channels = 0; // pictures; 0 = empty
    UiColour text_colour = 0, background = 0;
    bool coloured = false;
    std::string font_face; // default font when the control was made
    int font_height = 0;
    UiHandler handler = nullptr;
};

struct ScriptedMessage {
    std::string caption, text;
    UiButtons buttons;
    int answer;
};

struct ScriptedDialog {
    std::string caption, start_folder, filter_description;
    std::string answer; // "" = cancelled
};

// One user action for ui_run_events.
struct ScriptedAction {
    enum Kind { SelectRow, Click, Close } kind;
    int id = 0;  // control
    int row = 0; // SelectRow: -1 = click the empty area below the rows
};

struct UiProcessEnded {
    int exit_code;
};

struct UiScript {
    // Inputs.
    bool display_available = true;
    std::int32_t display_width = 1920, display_height = 1080;
    int dpi_y = 96;
    bool window_can_be_created = true;
    std::deque<int> message_answers;        // answers in order; when empty: OK, or No for Yes/No
    std::deque<std::string> dialog_answers; // paths in order; when empty: cancel
    std::deque<ScriptedAction> actions;
    // Runs as each message box appears, before it is answered (the user acting meanwhile).
    std::function<void(const ScriptedMessage &)> on_message;

    // Records.
    bool window_created = false, window_shown = false;
    std::string window_title;
    int client_width = 0, client_height = 0;
    std::vector<int> icon_sizes;
    std::vector<ScriptedControl> controls; // in creation order
    int focus_id = 0;
    bool close_bound = false;
    UiHandler close_handler = nullptr;
    std::vector<ScriptedMessage> messages;
    std::vector<ScriptedDialog> dialogs;
    std::vector<std::string> events; // "window shown", "run events", ... in order
    std::string font_face;
    int font_height = 0;

    ScriptedControl *find(int id);
};

// The script in force; reset between tests.
UiScript &ui_script();
void ui_script_reset();
