// The patch job and its file steps.
#include "app/patch_job.h"

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/steam_library.h"
#include "platform/files.h"
#include "platform/ui.h"

namespace {

constexpr int MESSAGE_CAPACITY = 3 * PATCH_PATH_CAPACITY;
constexpr int LABEL_CAPACITY = 64;

const char *const TEXT_CHOOSE = "Choose a resolution or quit.";
const char *const TEXT_SUCCESS = "Aspect Ratio Fix, successfully applied.";
const char *const TEXT_ALREADY_PATCHED = "This executable is already patched.\rShould we continue anyway ?";

// Why `path` cannot be opened (for reading, or for reading and writing), as the end of a sentence.
const char *open_failure_reason(const char *path, int writing) {
    std::int64_t size = path_size(path);
    if (size == -1) return "it does not exist";
    if (size == -2) return "it is a folder";
    if (!path_accessible(path, writing)) {
        return writing ? "you have no permission to change it" : "you have no permission to read it";
    }
    return "another program is using it (close the game and try again)";
}

// Whether `path` can be the game: a Windows program ("MZ") long enough to hold the four bytes.
int looks_like_game_executable(const char *path) {
    if (path_size(path) < PATCH_OFFSET + 4) return 0;
    static PlatformFile file;
    if (!file_open_read(&file, path)) return 0;
    std::uint8_t m = file_read_byte(&file);
    std::uint8_t z = file_read_byte(&file);
    file_close(&file);
    return m == 'M' && z == 'Z';
}

// Whether the last write_aspect_value got as far as opening the file.
int write_opened = 0;

void show_info(const char *text) {
    ui_message_box("Info", text, UI_BUTTONS_OK);
}

// Writes the label's bytes, then reads them back. On success shows the success message; otherwise
// tells the user what happened to the file. Ends the process either way.
[[noreturn]] void write_and_finish(const char *path, const char *label, const char *backup) {
    static char message[MESSAGE_CAPACITY];
    AspectBytes original = {};
    if (const AspectBytes *marker = resolution_map_find(&app_state.resolution_map, "File"))
        original = *marker;
    const AspectBytes *wanted = resolution_map_find(&app_state.resolution_map, label);

    int written = write_aspect_value(path, label);
    std::uint8_t now[4];
    // Read back without a lock: a program holding the file does not hide its state.
    int readable = file_read_at(path, PATCH_OFFSET, now, 4);
    if (written && readable && wanted != nullptr && std::memcmp(now, wanted->bytes, 4) == 0) {
        ui_message_box("Information", TEXT_SUCCESS, UI_BUTTONS_OK);
        end_process();
    }

    const char *reason = "the bytes read back are not the ones written";
    if (!written)
        reason = write_opened ? "the bytes could not be written to it" : open_failure_reason(path, 1);
    const char *state = "Whether the file was changed is not known.";
    if (readable) {
        state = std::memcmp(now, original.bytes, 4) == 0
                    ? "Nothing was changed."
                    : "The file was changed but does not hold the chosen value.";
    }
    int n = std::snprintf(message, sizeof message, "The aspect ratio could not be written: %s.\r%s\r%s",
                          reason, path, state);
    if (backup != nullptr && n > 0 && n < static_cast<int>(sizeof message)) {
        std::snprintf(message + n, sizeof message - static_cast<std::size_t>(n),
                      "\rThe backup %s holds the original.", backup);
    }
    show_info(message);
    end_process();
}

} // namespace

int read_patch_marker(const char *path) {
    static PlatformFile file;
    if (!file_open_read(&file, path)) return 0;
    file_set_position(&file, PATCH_OFFSET);
    resolution_map_remove(&app_state.resolution_map, "File");
    for (int i = 0; i < 4; ++i) {
        AspectBytes *entry = resolution_map_entry(&app_state.resolution_map, "File");
        std::uint8_t value = file_read_byte(&file);
        if (entry != nullptr) entry->bytes[i] = value;
    }
    file_close(&file);
    return 1;
}

int write_aspect_value(const char *path, const char *label) {
    write_opened = 0;
    const AspectBytes *value = resolution_map_find(&app_state.resolution_map, label);
    if (value == nullptr) return 0;
    static PlatformFile file;
    write_opened = file_open_read_write(&file, path);
    if (!write_opened) return 0;
    file_set_position(&file, PATCH_OFFSET);
    int ok = 1;
    for (int i = 0; i < 4; ++i) ok &= file_write_byte(&file, value->bytes[i]);
    // The bytes reach the file here; a failed write is a failed patch.
    ok &= file_close(&file);
    return ok;
}

int backup_path(const char *path, char *out, int capacity) {
    if (capacity > 0) out[0] = '\0';
    std::size_t length = std::strlen(path);
    std::size_t name_start = 0;
    for (std::size_t i = 0; i < length; ++i)
        if (path[i] == '/' || path[i] == '\\') name_start = i + 1;
    // Scan the name from its end: a blank before any "." means there is no extension.
    std::size_t stem_end = length;
    for (std::size_t i = length; i > name_start; --i) {
        char c = path[i - 1];
        if (c == ' ') break;
        if (c == '.') {
            std::size_t dot = i - 1;
            if (dot != name_start && dot != length - 1) stem_end = dot;
            break;
        }
    }
    int n =
        std::snprintf(out, static_cast<std::size_t>(capacity), "%.*s.old", static_cast<int>(stem_end), path);
    if (n < 0 || n >= capacity) {
        if (capacity > 0) out[0] = '\0';
        return -1;
    }
    return n;
}

int default_game_folder_in(const char *base, char *out, int capacity) {
    char steam[PATCH_PATH_CAPACITY];
    int n = std::snprintf(steam, sizeof steam, "%sSteam", base);
    if (n < 0 || n >= static_cast<int>(sizeof steam)) return -1;
    if (path_size(steam) == -2) {
        n = std::snprintf(out, static_cast<std::size_t>(capacity), "%sSteam/", base);
    } else {
        int keep = static_cast<int>(std::strlen(base)) - 1;
        n = std::snprintf(out, static_cast<std::size_t>(capacity), "%.*s (x86)/Steam/", keep > 0 ? keep : 0,
                          base);
    }
    if (n < 0 || n >= capacity) {
        if (capacity > 0) out[0] = '\0';
        return -1;
    }
    return n;
}

int default_game_folder(char *out, int capacity) {
    char home[PATCH_PATH_CAPACITY];
    char base[PATCH_PATH_CAPACITY];
    int length = path_home_folder(home, sizeof home);
    const char *separator = length > 0 && home[length - 1] == '/' ? "" : "/";
    int n = std::snprintf(base, sizeof base, "%s%s.local/share/", home, separator);
    if (n < 0 || n >= static_cast<int>(sizeof base)) return -1;
    return default_game_folder_in(base, out, capacity);
}

int dialog_start_folder(char *out, int capacity) {
    char steam[PATCH_PATH_CAPACITY];
    if (capacity > 0) out[0] = '\0';
    if (default_game_folder(steam, sizeof steam) < 0) return -1;
    int n = std::snprintf(out, static_cast<std::size_t>(capacity), "%ssteamapps/common/Quillmoor/", steam);
    if (n < 0 || n >= capacity) {
        if (capacity > 0) out[0] = '\0';
        return -1;
    }
    if (path_size(out) != -2) {
        static char found[PATCH_PATH_CAPACITY];
        char home[PATCH_PATH_CAPACITY];
        if (path_home_folder(home, sizeof home) > 0 && steam_find_game_folder(home, found, sizeof found)) {
            n = std::snprintf(out, static_cast<std::size_t>(capacity), "%s", found);
            if (n < 0 || n >= capacity) return -1;
        }
    }
    if (n > 1 && out[n - 1] == '/') out[--n] = '\0';
    return n;
}

int patch_job() {
    static char label[LABEL_CAPACITY];
    static char start_folder[PATCH_PATH_CAPACITY];
    static char path[PATCH_PATH_CAPACITY];
    static char backup[PATCH_PATH_CAPACITY];
    static char message[MESSAGE_CAPACITY];

    int make_backup = ui_check_box_state(BACKUP_BOX);
    ui_list_row_text(RESOLUTION_LIST, app_state.selected_row, label, sizeof label);
    dialog_start_folder(start_folder, sizeof start_folder);

    if (label[0] == '\0') {
        show_info(TEXT_CHOOSE);
        return 0;
    }
    if (resolution_map_find(&app_state.resolution_map, label) == nullptr) return 0;

    UiFileDialog dialog = {"Open qm.exe", start_folder, "Quillmoor qm.exe"};
    if (ui_open_file_dialog(&dialog, path, sizeof path) == 0) return 0;

    // Refusals: nothing has been changed, so the window stays open for another try.
    if (!read_patch_marker(path)) {
        std::snprintf(message, sizeof message, "The file cannot be opened: %s.\r%s\rNothing was changed.",
                      open_failure_reason(path, 0), path);
        show_info(message);
        return 0;
    }
    if (!looks_like_game_executable(path)) {
        std::snprintf(message, sizeof message,
                      "This file is not the game's executable qm.exe: it is too short or not a Windows "
                      "program.\r%s\rNothing was changed.",
                      path);
        show_info(message);
        return 0;
    }

    const AspectBytes *marker = resolution_map_find(&app_state.resolution_map, "File");
    if (marker != nullptr && marker->bytes[0] == UNPATCHED_MARK) {
        const char *made = nullptr;
        if (make_backup) {
            // Patching without the backup the user asked for would leave no way back.
            if (backup_path(path, backup, sizeof backup) < 0 || !file_copy(path, backup)) {
                std::snprintf(message, sizeof message,
                              "The backup could not be written:\r%s\rThe executable was not patched; nothing "
                              "was changed.",
                              backup[0] != '\0' ? backup : path);
                show_info(message);
                return 0;
            }
            made = backup;
        }
        write_and_finish(path, label, made);
    }

    if (ui_message_box("Info", TEXT_ALREADY_PATCHED, UI_BUTTONS_YES_NO) != UI_ANSWER_YES) end_process();
    write_and_finish(path, label, nullptr);
}
