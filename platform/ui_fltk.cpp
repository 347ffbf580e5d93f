// The window system over FLTK 1.3 on X11.
#include "platform/ui.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int MAX_CONTROLS = 16; // control numbers 1..15
constexpr int MAX_ICONS = 8;
constexpr int MAX_ROWS = 32;
constexpr int ROW_TEXT_CAPACITY = 64;
constexpr int LABEL_CAPACITY = 1024; // escaped label text
// Highlight of the selected list row: the slate blue of the window's pictures.
const Fl_Color LIST_SELECTION = fl_rgb_color(0x2F, 0x5F, 0x7A);

enum Kind { KIND_NONE, KIND_PICTURE, KIND_TEXT, KIND_CHECK_BOX, KIND_LIST, KIND_BUTTON };

struct Control {
    Kind kind;
    Fl_Widget *widget;
    UiHandler handler;
    Fl_RGB_Image *image;
};

struct ListRows {
    char title[ROW_TEXT_CAPACITY];
    char rows[MAX_ROWS][ROW_TEXT_CAPACITY];
    int count;
    UiAlign align;
};

struct FltkUi {
    int display_open;
    Fl_Double_Window *window;
    Control controls[MAX_CONTROLS];
    ListRows lists[MAX_CONTROLS];
    Fl_RGB_Image *icons[MAX_ICONS];
    int icon_count;
    Fl_Font font;
    int font_size;
    UiHandler close_handler;
    int focus_id;
};

FltkUi ui = {};

Control *control(int id) {
    if (id <= 0 || id >= MAX_CONTROLS || ui.controls[id].kind == KIND_NONE) return nullptr;
    return &ui.controls[id];
}

void copy_text(char *out, int capacity, const char *text) {
    std::snprintf(out, static_cast<std::size_t>(capacity), "%s", text != nullptr ? text : "");
}

// FLTK gives '@' (symbols) and '&' (shortcuts) a meaning in labels; doubled they stand for
// themselves. A carriage return becomes a line break (a following line feed is dropped).
void escape_label(const char *text, char *out, int capacity) {
    int n = 0;
    for (const char *p = text != nullptr ? text : ""; *p != '\0' && n < capacity - 3; ++p) {
        char c = *p;
        if (c == '\r') {
            out[n++] = '\n';
            if (p[1] == '\n') ++p;
        } else if (c == '@' || c == '&') {
            out[n++] = c;
            out[n++] = c;
        } else {
            out[n++] = c;
        }
    }
    out[n] = '\0';
}

void set_literal_label(Fl_Widget *widget, const char *text) {
    char label[LABEL_CAPACITY];
    escape_label(text, label, LABEL_CAPACITY);
    widget->copy_label(label);
}

void apply_font(Fl_Widget *widget) {
    widget->labelfont(ui.font);
    widget->labelsize(ui.font_size);
}

int reserve(int id, Kind kind, Fl_Widget *widget) {
    ui.controls[id] = Control{kind, widget, nullptr, nullptr};
    apply_font(widget);
    return 1;
}

bool can_add(int id) {
    return ui.window != nullptr && id > 0 && id < MAX_CONTROLS && ui.controls[id].kind == KIND_NONE;
}

void control_callback(Fl_Widget *, void *data) {
    int id = static_cast<int>(reinterpret_cast<std::intptr_t>(data));
    Control *c = control(id);
    if (c != nullptr && c->handler != nullptr) c->handler();
}

void window_callback(Fl_Widget *, void *) {
    // Escape is not a close request for this window.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    if (ui.close_handler != nullptr) ui.close_handler();
}

// The text a list row shows: its alignment, then the label taken literally.
void show_row(Fl_Hold_Browser *browser, const ListRows &list, int row) {
    char line[ROW_TEXT_CAPACITY + 8];
    const char *align = list.align == UI_ALIGN_CENTER ? "@c" : list.align == UI_ALIGN_RIGHT ? "@r" : "";
    std::snprintf(line, sizeof line, "%s@.%s", align, list.rows[row]);
    if (row + 1 <= browser->size()) {
        browser->text(row + 1, line);
    } else {
        browser->add(line);
    }
}

// The modal message box: text, then its buttons along the bottom right.
struct MessageBox {
    int answer;
};

// What pressing one button of a message box answers.
struct MessageButton {
    MessageBox *box;
    int answer;
};

void message_button(Fl_Widget *button, void *data) {
    MessageButton *pressed = static_cast<MessageButton *>(data);
    pressed->box->answer = pressed->answer;
    button->window()->hide();
}

} // namespace

int ui_open_display() {
    if (ui.display_open) return 1;
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) return 0;
    fl_open_display(display);
    Fl::scheme("gtk+");
    ui.font = FL_HELVETICA;
    ui.font_size = FL_NORMAL_SIZE;
    ui.display_open = 1;
    return 1;
}

void ui_primary_display_size(std::int32_t *width, std::int32_t *height) {
    *width = 0;
    *height = 0;
    if (!ui.display_open || Fl::screen_count() < 1) return;
    int x, y, w, h;
    Fl::screen_xywh(x, y, w, h, 0);
    *width = w;
    *height = h;
}

int ui_display_dpi_y() {
    if (!ui.display_open) return 96;
    float h = 0, v = 0;
    Fl::screen_dpi(h, v, 0);
    return v >= 1.0f ? static_cast<int>(v + 0.5f) : 96;
}

int ui_create_window(const char *title, int client_width, int client_height) {
    if (!ui.display_open || ui.window != nullptr) return 0;
    int sx, sy, sw, sh;
    Fl::screen_xywh(sx, sy, sw, sh, 0);
    // X11 adds the frame outside the client area, after mapping: the client size is centred.
    int left = sx + (sw - std::min(sw, client_width)) / 2;
    int top = sy + (sh - std::min(sh, client_height)) / 2;
    ui.window = new Fl_Double_Window(left, top, client_width, client_height);
    ui.window->copy_label(title);
    ui.window->size_range(client_width, client_height, client_width, client_height);
    ui.window->xclass("qmfix");
    ui.window->callback(window_callback);
    ui.window->end();
    return 1;
}

void ui_set_window_icons(const Picture *icons, int count) {
    if (ui.window == nullptr) return;
    const Fl_RGB_Image *images[MAX_ICONS];
    int n = 0;
    for (int i = 0; i < count && ui.icon_count < MAX_ICONS; ++i) {
        if (icons[i].pixels == nullptr || icons[i].width <= 0) continue;
        ui.icons[ui.icon_count] =
            new Fl_RGB_Image(icons[i].pixels, icons[i].width, icons[i].height, icons[i].channels);
        images[n++] = ui.icons[ui.icon_count++];
    }
    if (n > 0) ui.window->icons(images, n);
}

void ui_set_default_font(const char *face, int pixel_height) {
    if (!ui.display_open) return;
    Fl::set_font(FL_FREE_FONT, face);
    ui.font = FL_FREE_FONT;
    ui.font_size = pixel_height;
}

int ui_add_picture(int id, int x, int y, int width, int height, const Picture *picture) {
    if (!can_add(id)) return 0;
    ui.window->begin();
    Fl_Box *box = new Fl_Box(x, y, width, height);
    ui.window->end();
    box->box(FL_NO_BOX);
    box->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT);
    reserve(id, KIND_PICTURE, box);
    if (picture != nullptr && picture->pixels != nullptr) {
        Fl_RGB_Image *image =
            new Fl_RGB_Image(picture->pixels, picture->width, picture->height, picture->channels);
        box->image(image);
        box->size(picture->width, picture->height);
        ui.controls[id].image = image;
    }
    return 1;
}

int ui_add_static_text(int id, int x, int y, int width, int height, const char *text) {
    if (!can_add(id)) return 0;
    ui.window->begin();
    Fl_Box *box = new Fl_Box(x, y, width, height);
    ui.window->end();
    box->box(FL_NO_BOX);
    box->align(FL_ALIGN_INSIDE | FL_ALIGN_CENTER);
    set_literal_label(box, text);
    return reserve(id, KIND_TEXT, box);
}

int ui_add_check_box(int id, int x, int y, int width, int height, const char *text) {
    if (!can_add(id)) return 0;
    ui.window->begin();
    Fl_Check_Button *box = new Fl_Check_Button(x, y, width, height);
    ui.window->end();
    set_literal_label(box, text);
    box->callback(control_callback, reinterpret_cast<void *>(static_cast<std::intptr_t>(id)));
    return reserve(id, KIND_CHECK_BOX, box);
}

int ui_add_list(int id, int x, int y, int width, int height, const char *column_title, int) {
    if (!can_add(id)) return 0;
    ui.window->begin();
    Fl_Hold_Browser *browser = new Fl_Hold_Browser(x, y, width, height);
    ui.window->end();
    browser->box(FL_DOWN_BOX);
    browser->selection_color(LIST_SELECTION);
    browser->textfont(ui.font);
    browser->textsize(ui.font_size);
    browser->has_scrollbar(Fl_Browser_::VERTICAL);
    browser->when(FL_WHEN_CHANGED | FL_WHEN_NOT_CHANGED);
    browser->callback(control_callback, reinterpret_cast<void *>(static_cast<std::intptr_t>(id)));
    ListRows &list = ui.lists[id];
    list = ListRows{};
    copy_text(list.title, ROW_TEXT_CAPACITY, column_title);
    list.align = UI_ALIGN_LEFT;
    return reserve(id, KIND_LIST, browser);
}

int ui_add_push_button(int id, int x, int y, int width, int height, const char *text) {
    if (!can_add(id)) return 0;
    ui.window->begin();
    Fl_Button *button = new Fl_Button(x, y, width, height);
    ui.window->end();
    set_literal_label(button, text);
    button->callback(control_callback, reinterpret_cast<void *>(static_cast<std::intptr_t>(id)));
    return reserve(id, KIND_BUTTON, button);
}

int ui_list_add_row(int id, const char *text) {
    Control *c = control(id);
    if (c == nullptr || c->kind != KIND_LIST) return -1;
    ListRows &list = ui.lists[id];
    if (list.count == MAX_ROWS) return -1;
    copy_text(list.rows[list.count], ROW_TEXT_CAPACITY, text);
    show_row(static_cast<Fl_Hold_Browser *>(c->widget), list, list.count);
    return list.count++;
}

int ui_list_set_column_alignment(int id, int column, UiAlign align) {
    Control *c = control(id);
    if (c == nullptr || c->kind != KIND_LIST || column != 0) return 0;
    ListRows &list = ui.lists[id];
    list.align = align;
    for (int row = 0; row < list.count; ++row) show_row(static_cast<Fl_Hold_Browser *>(c->widget), list, row);
    return 1;
}

int ui_list_row_text(int id, int row, char *out, int capacity) {
    if (capacity > 0) out[0] = '\0';
    Control *c = control(id);
    if (c == nullptr || c->kind != KIND_LIST || row < -1 || row >= ui.lists[id].count) return -1;
    const char *text = row == -1 ? ui.lists[id].title : ui.lists[id].rows[row];
    copy_text(out, capacity, text);
    return static_cast<int>(std::strlen(out));
}

int ui_list_first_selected(int id) {
    Control *c = control(id);
    if (c == nullptr || c->kind != KIND_LIST) return -1;
    return static_cast<Fl_Hold_Browser *>(c->widget)->value() - 1;
}

void ui_list_select(int id, int row) {
    Control *c = control(id);
    if (c == nullptr || c->kind != KIND_LIST) return;
    Fl_Hold_Browser *browser = static_cast<Fl_Hold_Browser *>(c->widget);
    browser->deselect();
    if (row < 0 || row >= browser->size()) return;
    browser->value(row + 1);
    browser->make_visible(row + 1);
}

int ui_check_box_state(int id) {
    Control *c = control(id);
    if (c == nullptr || c->kind != KIND_CHECK_BOX) return 0;
    return static_cast<Fl_Check_Button *>(c->widget)->value() != 0;
}

void ui_check_box_set(int id, int checked) {
    Control *c = control(id);
    if (c != nullptr && c->kind == KIND_CHECK_BOX)
        static_cast<Fl_Check_Button *>(c->widget)->value(checked != 0);
}

void ui_set_colours(int id, UiColour text, UiColour background) {
    Control *c = control(id);
    if (c == nullptr) return;
    c->widget->box(FL_FLAT_BOX);
    c->widget->color(fl_rgb_color((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
    c->widget->labelcolor(fl_rgb_color((text >> 16) & 0xFF, (text >> 8) & 0xFF, text & 0xFF));
}

void ui_set_focus(int id) {
    Control *c = control(id);
    if (c == nullptr) return;
    ui.focus_id = id;
    c->widget->take_focus();
}

void ui_bind_events(int id, UiHandler handler) {
    Control *c = control(id);
    if (c != nullptr) c->handler = handler;
}

void ui_bind_close(UiHandler handler) {
    ui.close_handler = handler;
}

void ui_show_window() {
    if (ui.window == nullptr) return;
    ui.window->show();
    // Showing gives the focus to the first control that takes it: restore the chosen one.
    if (Control *c = control(ui.focus_id)) c->widget->take_focus();
}

void ui_run_events() {
    Fl::run();
}

int ui_message_box(const char *caption, const char *text, UiButtons buttons) {
    if (!ui.display_open) return buttons == UI_BUTTONS_YES_NO ? UI_ANSWER_NO : UI_ANSWER_OK;
    char label[LABEL_CAPACITY];
    escape_label(text, label, LABEL_CAPACITY);
    fl_font(ui.font, ui.font_size);
    int text_w = 0, text_h = 0;
    fl_measure(label, text_w, text_h, 0);
    const int margin = 24, button_w = 90, button_h = 30, gap = 12;
    // A few pixels of slack keep the measured text from wrapping when it is drawn.
    int width = std::clamp(text_w + 2 * margin + 8, 300, 640);
    if (text_w + 2 * margin + 8 > width) {
        text_w = width - 2 * margin;
        fl_measure(label, text_w, text_h, 0);
    }
    int height = margin + text_h + margin + button_h + gap + 4;

    MessageBox result = {buttons == UI_BUTTONS_YES_NO ? UI_ANSWER_NO : UI_ANSWER_OK};
    Fl_Double_Window box(width, height);
    box.copy_label(caption);
    Fl_Box message(margin, margin, width - 2 * margin, text_h);
    message.align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_WRAP);
    message.labelfont(ui.font);
    message.labelsize(ui.font_size);
    message.copy_label(label);
    int y = height - gap - button_h - 4;
    Fl_Return_Button first(width - margin - (buttons == UI_BUTTONS_YES_NO ? 2 * button_w + gap : button_w), y,
                           button_w, button_h, buttons == UI_BUTTONS_YES_NO ? "Yes" : "OK");
    MessageButton first_answer = {&result, buttons == UI_BUTTONS_YES_NO ? UI_ANSWER_YES : UI_ANSWER_OK};
    MessageButton no_answer = {&result, UI_ANSWER_NO};
    first.callback(message_button, &first_answer);
    first.labelfont(ui.font);
    first.labelsize(ui.font_size);
    Fl_Button *second = nullptr;
    if (buttons == UI_BUTTONS_YES_NO) {
        second = new Fl_Button(width - margin - button_w, y, button_w, button_h, "No");
        second->callback(message_button, &no_answer);
        second->labelfont(ui.font);
        second->labelsize(ui.font_size);
    }
    box.end();
    box.set_modal();
    if (ui.window != nullptr && ui.window->shown()) {
        box.position(ui.window->x() + (ui.window->w() - width) / 2,
                     ui.window->y() + (ui.window->h() - height) / 2);
    }
    box.show();
    first.take_focus();
    while (box.shown()) Fl::wait();
    return result.answer;
}

int ui_open_file_dialog(const UiFileDialog *dialog, char *out, int capacity) {
    if (capacity > 0) out[0] = '\0';
    if (!ui.display_open) return 0;
    Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_FILE);
    chooser.title(dialog->caption);
    char filter[256];
    std::snprintf(filter, sizeof filter, "%s\t*", dialog->filter_description);
    chooser.filter(filter);
    chooser.filter_value(0);
    if (dialog->start_folder != nullptr && dialog->start_folder[0] != '\0')
        chooser.directory(dialog->start_folder);
    if (chooser.show() != 0) return 0;
    const char *chosen = chooser.filename();
    if (chosen == nullptr) return 0;
    int length = static_cast<int>(std::strlen(chosen));
    if (length == 0 || length >= capacity) return 0;
    std::memcpy(out, chosen, static_cast<std::size_t>(length) + 1);
    return length;
}

void ui_end_process(int exit_code) {
    if (ui.window != nullptr) {
        ui.window->hide();
        delete ui.window; // deletes the controls with it
        ui.window = nullptr;
    }
    for (int id = 0; id < MAX_CONTROLS; ++id) delete ui.controls[id].image;
    for (int i = 0; i < ui.icon_count; ++i) delete ui.icons[i];
    if (ui.display_open) fl_close_display();
    std::fflush(nullptr);
    std::_Exit(exit_code);
}
