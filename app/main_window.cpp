// Start-up and the main window.
#include "app/main_window.h"

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/patch_job.h"
#include "embedded/asset_banner_png.h"
#include "embedded/asset_icon_128_png.h"
#include "embedded/asset_icon_16_png.h"
#include "embedded/asset_icon_256_png.h"
#include "embedded/asset_icon_32_png.h"
#include "embedded/asset_icon_48_png.h"
#include "embedded/asset_icon_64_png.h"
#include "embedded/asset_side_png.h"
#include "platform/image.h"

AppState app_state;

namespace {

const char *const WINDOW_TITLE = "Quillmoor Widescreen Fix - Steam Version";
const char *const CREDIT_TEXT = "Quillmoor Widescreen Fix  \xC2\xB7  made by players, for ultrawide screens";
constexpr UiColour CREDIT_BACKGROUND = 0x798688; // RGB(121, 134, 136)
constexpr UiColour CREDIT_TEXT_COLOUR = 0x000000;

// List order: by width, then height.
const char *const LIST_ROWS[] = {"1920x1200", "2560x1080", "3440x1440", "3840x1080", "3840x1440",
                                 "3840x1600", "5120x1440", "5120x2160", "6880x2880", "7840x1440"};

constexpr int BANNER_WIDTH = 500, BANNER_HEIGHT = 130;
constexpr int SIDE_WIDTH = 185, SIDE_HEIGHT = 300;
constexpr int ICON_COUNT = 6;
constexpr int ICON_SIZES[ICON_COUNT] = {256, 128, 64, 48, 32, 16};

// Decoded pixels live as long as the process.
struct Pictures {
    std::uint8_t banner[BANNER_WIDTH * BANNER_HEIGHT * 3];
    std::uint8_t side[SIDE_WIDTH * SIDE_HEIGHT * 3];
    std::uint8_t icons[(256 * 256 + 128 * 128 + 64 * 64 + 48 * 48 + 32 * 32 + 16 * 16) * 4];
    Picture banner_picture, side_picture, icon_pictures[ICON_COUNT];
};
Pictures pictures;

void decode_pictures() {
    picture_decode_png(asset_banner_png, asset_banner_png_size, 3, pictures.banner, sizeof pictures.banner,
                       &pictures.banner_picture);
    picture_decode_png(asset_side_png, asset_side_png_size, 3, pictures.side, sizeof pictures.side,
                       &pictures.side_picture);
    const std::uint8_t *data[ICON_COUNT] = {asset_icon_256_png, asset_icon_128_png, asset_icon_64_png,
                                            asset_icon_48_png,  asset_icon_32_png,  asset_icon_16_png};
    const std::size_t sizes[ICON_COUNT] = {asset_icon_256_png_size, asset_icon_128_png_size,
                                           asset_icon_64_png_size,  asset_icon_48_png_size,
                                           asset_icon_32_png_size,  asset_icon_16_png_size};
    std::size_t at = 0;
    for (int i = 0; i < ICON_COUNT; ++i) {
        std::size_t bytes = static_cast<std::size_t>(ICON_SIZES[i]) * ICON_SIZES[i] * 4;
        picture_decode_png(data[i], sizes[i], 4, pictures.icons + at, bytes, &pictures.icon_pictures[i]);
        at += bytes;
    }
}

struct Preselection {
    char desktop_text[32];
};

void match_desktop(const char *label, const AspectBytes *, void *context) {
    const Preselection *p = static_cast<const Preselection *>(context);
    if (std::strcmp(label, p->desktop_text) != 0) return;
    char row_text[64];
    for (int row = 0; ui_list_row_text(RESOLUTION_LIST, row, row_text, sizeof row_text) >= 0; ++row) {
        if (std::strcmp(row_text, label) == 0) {
            app_state.selected_row = row;
            break;
        }
    }
}

} // namespace

void end_process() {
    ui_end_process(0);
}

int on_close() {
    end_process();
}

int on_list_event() {
    int row = ui_list_first_selected(RESOLUTION_LIST);
    if (row >= 0) app_state.selected_row = row;
    return 0;
}

void center_list_column(int list, int column, UiAlign alignment) {
    ui_list_set_column_alignment(list, column, alignment);
}

void preselect_desktop_resolution() {
    Preselection p;
    std::snprintf(p.desktop_text, sizeof p.desktop_text, "%dx%d", static_cast<int>(app_state.desktop_width),
                  static_cast<int>(app_state.desktop_height));
    resolution_map_visit(&app_state.resolution_map, match_desktop, &p);
}

int app_main() {
    if (!ui_open_display()) {
        std::fputs(
            "qmfix: cannot open a display: the window needs a graphical desktop session (is DISPLAY set?)\n",
            stderr);
        return 1;
    }
    resolution_map_create(&app_state.resolution_map);
    app_state.selected_row = -1;

    // "Verdana" 10 points: a character height of 10 * dpi / 72 pixels, rounded.
    int font_height = (20 * ui_display_dpi_y() + 72) / 144;
    decode_pictures();
    ui_primary_display_size(&app_state.desktop_width, &app_state.desktop_height);

    if (!ui_create_window(WINDOW_TITLE, CLIENT_WIDTH, CLIENT_HEIGHT)) end_process();
    ui_set_window_icons(pictures.icon_pictures, ICON_COUNT);
    load_resolution_table(&app_state.resolution_map);
    ui_set_default_font("Verdana", font_height);

    // Creation order is the focus order. Column 47 = (315 - 220) / 2 centres the controls, as if
    // 220 pixels wide, in the column left of the side picture.
    ui_add_picture(BANNER_PICTURE, 0, 0, BANNER_WIDTH, BANNER_HEIGHT, &pictures.banner_picture);
    ui_add_static_text(RESOLUTION_LABEL, 47, 130, 210, 20, "Choose your resolution :");
    ui_add_picture(SIDE_PICTURE, 315, 130, SIDE_WIDTH, SIDE_HEIGHT, &pictures.side_picture);
    ui_add_check_box(BACKUP_BOX, 47, 367, 230, 17, " Backup original executable.");
    ui_add_list(RESOLUTION_LIST, 47, 155, 220, 207, "", 210);
    for (const char *row : LIST_ROWS) ui_list_add_row(RESOLUTION_LIST, row);
    center_list_column(RESOLUTION_LIST, 0, UI_ALIGN_CENTER);
    ui_add_push_button(START_BUTTON, 47, 388, 220, 35, "Start");
    ui_add_static_text(CREDIT_LINE, 0, 430, 500, 30, CREDIT_TEXT);
    ui_set_colours(CREDIT_LINE, CREDIT_TEXT_COLOUR, CREDIT_BACKGROUND);

    ui_bind_close(on_close);
    ui_bind_events(RESOLUTION_LIST, on_list_event);
    ui_bind_events(START_BUTTON, patch_job);
    ui_check_box_set(BACKUP_BOX, 1);

    preselect_desktop_resolution();
    if (app_state.selected_row >= 0) {
        ui_list_select(RESOLUTION_LIST, app_state.selected_row);
        ui_set_focus(RESOLUTION_LIST);
    }
    ui_show_window();
    // The background song starts here: after the window is shown, before the event wait.

    ui_run_events();
    end_process();
}
