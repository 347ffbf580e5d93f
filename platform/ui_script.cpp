// The scripted window system (see ui_script.h).
#include "platform/ui_script.h"

#include <cstring>

namespace {
UiScript script;

ScriptedControl *add(int id, ScriptedKind kind, int x, int y, int width, int height, const char *text) {
    if (!script.window_created || id <= 0 || script.find(id) != nullptr) return nullptr;
    ScriptedControl c;
    c.id = id;
    c.kind = kind;
    c.x = x;
    c.y = y;
    c.width = width;
    c.height = height;
    c.text = text != nullptr ? text : "";
    c.font_face = script.font_face;
    c.font_height = script.font_height;
    script.controls.push_back(c);
    return &script.controls.back();
}
} // namespace

ScriptedControl *UiScript::find(int id) {
    for (ScriptedControl &c : controls)
        if (c.id == id) return &c;
    return nullptr;
}

UiScript &ui_script() {
    return script;
}
void ui_script_reset() {
    script = UiScript{};
}

int ui_open_display() {
    return script.display_available ? 1 : 0;
}

void ui_primary_display_size(std::int32_t *width, std::int32_t *height) {
    *width = script.display_width;
    *height = script.display_height;
}

int ui_display_dpi_y() {
    return script.dpi_y;
}

int ui_create_window(const char *title, int client_width, int client_height) {
    if (!script.window_can_be_created || script.window_created) return 0;
    script.window_created = true;
    script.window_title = title;
    script.client_width = client_width;
    script.client_height = client_height;
    return 1;
}

void ui_set_window_icons(const Picture *icons, int count) {
    for (int i = 0; i < count; ++i)
        if (icons[i].pixels != nullptr && icons[i].channels == 4) script.icon_sizes.push_back(icons[i].width);
}

void ui_set_default_font(const char *face, int pixel_height) {
    script.font_face = face;
    script.font_height = pixel_height;
}

int ui_add_picture(int id, int x, int y, int width, int height, const Picture *picture) {
    ScriptedControl *c = add(id, ScriptedKind::Picture, x, y, width, height, "");
    if (c == nullptr) return 0;
    if (picture != nullptr && picture->pixels != nullptr) {
        c->picture_width = c->width = picture->width;
        c->picture_height = c->height = picture->height;
        c->picture_channels = picture->channels;
    }
    return 1;
}

int ui_add_static_text(int id, int x, int y, int width, int height, const char *text) {
    return add(id, ScriptedKind::StaticText, x, y, width, height, text) != nullptr;
}

int ui_add_check_box(int id, int x, int y, int width, int height, const char *text) {
    return add(id, ScriptedKind::CheckBox, x, y, width, height, text) != nullptr;
}

int ui_add_list(int id, int x, int y, int width, int height, const char *column_title, int column_width) {
    ScriptedControl *c = add(id, ScriptedKind::List, x, y, width, height, column_title);
    if (c == nullptr) return 0;
    c->column_width = column_width;
    return 1;
}

int ui_add_push_button(int id, int x, int y, int width, int height, const char *text) {
    return add(id, ScriptedKind::PushButton, x, y, width, height, text) != nullptr;
}

int ui_list_add_row(int id, const char *text) {
    ScriptedControl *c = script.find(id);
    if (c == nullptr || c->kind != ScriptedKind::List) return -1;
    c->rows.push_back(text);
    return static_cast<int>(c->rows.size()) - 1;
}

int ui_list_set_column_alignment(int id, int column, UiAlign align) {
    ScriptedControl *c = script.find(id);
    if (c == nullptr || c->kind != ScriptedKind::List || column != 0) return 0;
    c->align = align;
    return 1;
}

int ui_list_row_text(int id, int row, char *out, int capacity) {
    if (capacity > 0) out[0] = '\0';
    ScriptedControl *c = script.find(id);
    if (c == nullptr || c->kind != ScriptedKind::List || row < -1 || row >= static_cast<int>(c->rows.size()))
        return -1;
    const std::string &text = row == -1 ? c->text : c->rows[static_cast<std::size_t>(row)];
    std::size_t n = text.size() < static_cast<std::size_t>(capacity) ? text.size()
                                                                     : static_cast<std::size_t>(capacity) - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<int>(n);
}

int ui_list_first_selected(int id) {
    ScriptedControl *c = script.find(id);
    return c != nullptr && c->kind == ScriptedKind::List ? c->selected : -1;
}

void ui_list_select(int id, int row) {
    ScriptedControl *c = script.find(id);
    if (c == nullptr || c->kind != ScriptedKind::List) return;
    c->selected = row >= 0 && row < static_cast<int>(c->rows.size()) ? row : -1;
}

int ui_check_box_state(int id) {
    ScriptedControl *c = script.find(id);
    return c != nullptr && c->kind == ScriptedKind::CheckBox ? c->checked : 0;
}

void ui_check_box_set(int id, int checked) {
    ScriptedControl *c = script.find(id);
    if (c != nullptr && c->kind == ScriptedKind::CheckBox) c->checked = checked != 0;
}

void ui_set_colours(int id, UiColour text, UiColour background) {
    ScriptedControl *c = script.find(id);
    if (c == nullptr) return;
    c->text_colour = text;
    c->background = background;
    c->coloured = true;
}

void ui_set_focus(int id) {
    if (script.find(id) != nullptr) script.focus_id = id;
}

void ui_bind_events(int id, UiHandler handler) {
    ScriptedControl *c = script.find(id);
    if (c != nullptr) c->handler = handler;
}

void ui_bind_close(UiHandler handler) {
    script.close_bound = true;
    script.close_handler = handler;
}

void ui_show_window() {
    if (!script.window_created) return;
    script.window_shown = true;
    script.events.push_back("window shown");
}

void ui_run_events() {
    script.events.push_back("run events");
    while (!script.actions.empty()) {
        ScriptedAction action = script.actions.front();
        script.actions.pop_front();
        if (action.kind == ScriptedAction::Close) {
            if (script.close_handler != nullptr) script.close_handler();
            continue;
        }
        ScriptedControl *c = script.find(action.id);
        if (c == nullptr) continue;
        if (action.kind == ScriptedAction::SelectRow && c->kind == ScriptedKind::List) {
            // A click below the last row selects nothing.
            c->selected = action.row >= 0 && action.row < static_cast<int>(c->rows.size()) ? action.row : -1;
        } else if (action.kind == ScriptedAction::Click && c->kind == ScriptedKind::CheckBox) {
            c->checked = !c->checked;
        }
        if (c->handler != nullptr) c->handler();
    }
}

int ui_message_box(const char *caption, const char *text, UiButtons buttons) {
    int answer = buttons == UI_BUTTONS_YES_NO ? UI_ANSWER_NO : UI_ANSWER_OK;
    if (!script.message_answers.empty()) {
        answer = script.message_answers.front();
        script.message_answers.pop_front();
    }
    script.messages.push_back(ScriptedMessage{caption, text, buttons, answer});
    if (script.on_message) script.on_message(script.messages.back());
    return answer;
}

int ui_open_file_dialog(const UiFileDialog *dialog, char *out, int capacity) {
    std::string answer;
    if (!script.dialog_answers.empty()) {
        answer = script.dialog_answers.front();
        script.dialog_answers.pop_front();
    }
    script.dialogs.push_back(ScriptedDialog{dialog->caption,
                                            dialog->start_folder != nullptr ? dialog->start_folder : "",
                                            dialog->filter_description, answer});
    if (capacity > 0) out[0] = '\0';
    if (answer.empty() || answer.size() >= static_cast<std::size_t>(capacity)) return 0;
    std::memcpy(out, answer.c_str(), answer.size() + 1);
    return static_cast<int>(answer.size());
}

void ui_end_process(int exit_code) {
    throw UiProcessEnded{exit_code};
}
