// The patch job: what the Start button does. It asks for the game executable, tells an unpatched
// one (first marker byte UNPATCHED_MARK) from a patched one, optionally backs it up beside itself
// as <name>.old, and writes the chosen resolution's four AspectBytes at PATCH_OFFSET.
#pragma once
#include <cstdint>

// Byte offset in qm.exe of the four bytes that hold the game's aspect ratio.
constexpr std::int64_t PATCH_OFFSET = 58285748;
// First marker byte of an executable that was never patched (the letter U).
constexpr std::uint8_t UNPATCHED_MARK = 0x55;
// Paths handled by the job, in bytes including the terminator.
constexpr int PATCH_PATH_CAPACITY = 4096;

// Bound to the click of the Start button. Returns 0 when it returns at all: every attempt that
// reaches the executable ends the process, except the refusals that leave nothing changed.
int patch_job();

// Reads the four bytes at PATCH_OFFSET of `path` (0 past its end) into the map entry "File".
// Returns 1, or 0 when the file cannot be opened for reading (the map is then unchanged).
int read_patch_marker(const char *path);

// Writes the four AspectBytes of `label` at PATCH_OFFSET of `path`. Returns 1 when the label has an
// entry and the bytes reached the file, 0 otherwise (no entry, no opening for reading and writing,
// or the write failed).
int write_aspect_value(const char *path, const char *label);

// The backup's path: the folder part of `path` (up to its last "/" or "\"), the file name without
// its extension, then ".old". The extension starts at the name's last "." unless that "." is its
// first or last character or a blank follows it. Writes to out[0..capacity); returns the length,
// or -1 (empty `out`) when it does not fit.
int backup_path(const char *path, char *out, int capacity);

// The Steam folder in which the game folder is looked for, ending in "/": `base` + "Steam/" when
// `base` + "Steam" is a folder, else `base` without its final "/" + " (x86)/Steam/". `base` ends in
// "/". Returns the length, or -1 when it does not fit.
int default_game_folder_in(const char *base, char *out, int capacity);

// default_game_folder_in with the base folder $HOME/.local/share/ (Steam's default on Linux).
int default_game_folder(char *out, int capacity);

// The folder the file dialog starts in, without its final "/": default_game_folder() followed by
// "steamapps/common/Quillmoor"; when that folder does not exist, the game's folder in a Steam library
// found by steam_find_game_folder, if any. Returns the length, or -1.
int dialog_start_folder(char *out, int capacity);
