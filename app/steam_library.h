// Finding the game among the user's Steam libraries on Linux, where Steam may live in several
// places (native, Debian package, Flatpak, Snap) and keep games in further library folders.
#pragma once

constexpr int STEAM_PATH_CAPACITY = 4096;
constexpr int STEAM_MAX_LIBRARIES = 64;

// The library folders listed in the text of a libraryfolders.vdf (both the old layout, number ->
// path, and the current one, number -> { "path" ... }), in file order.
struct SteamLibraryList {
    int count;
    char paths[STEAM_MAX_LIBRARIES][STEAM_PATH_CAPACITY];
};

// Parses text[0..size). Returns 1 and fills `out` for a well-formed file whose root key is
// "libraryfolders" (any case); returns 0 with an empty list for anything malformed. Libraries past
// STEAM_MAX_LIBRARIES and paths that do not fit are left out.
int steam_parse_library_folders(const char *text, int size, SteamLibraryList *out);

// Looks for the folder steamapps/common/Quillmoor/ in every Steam library of the usual Steam roots
// below `home` (~/.local/share/Steam, ~/.steam/steam, ~/.steam/debian-installation, the Flatpak and
// the Snap roots): each root itself, then the libraries its steamapps/libraryfolders.vdf lists.
// Symbolic links are resolved and each library is visited once. Writes the first folder found, with
// a final "/", to out[0..capacity) and returns 1; returns 0 with an empty `out` when there is none.
int steam_find_game_folder(const char *home, char *out, int capacity);
