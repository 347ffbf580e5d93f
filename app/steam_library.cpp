// A small reader for Steam's key-value text files and the library search.
#include "app/steam_library.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/files.h"

namespace {

constexpr int VDF_CAPACITY = 1 << 20; // a larger libraryfolders.vdf is not one Steam wrote
constexpr int TOKEN_CAPACITY = STEAM_PATH_CAPACITY;
constexpr int MAX_DEPTH = 16;

enum TokenKind { TOKEN_END, TOKEN_TEXT, TOKEN_OPEN, TOKEN_CLOSE, TOKEN_ERROR };

struct Reader {
    const char *at;
    const char *end;
    char text[TOKEN_CAPACITY];
    int truncated; // the last text did not fit in `text`
};

void skip_blanks_and_comments(Reader *r) {
    while (r->at < r->end) {
        char c = *r->at;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++r->at;
        } else if (c == '/' && r->at + 1 < r->end && r->at[1] == '/') {
            while (r->at < r->end && *r->at != '\n') ++r->at;
        } else {
            break;
        }
    }
}

// Quoted texts know the escapes \\ \" \n \t; unquoted texts run to a blank, brace or quote.
TokenKind next_token(Reader *r) {
    skip_blanks_and_comments(r);
    if (r->at == r->end) return TOKEN_END;
    char c = *r->at;
    if (c == '{' || c == '}') {
        ++r->at;
        return c == '{' ? TOKEN_OPEN : TOKEN_CLOSE;
    }
    int n = 0;
    r->truncated = 0;
    auto put = [r, &n](char ch) {
        if (n < TOKEN_CAPACITY - 1) {
            r->text[n++] = ch;
        } else {
            r->truncated = 1;
        }
    };
    if (c == '"') {
        ++r->at;
        while (true) {
            if (r->at == r->end) return TOKEN_ERROR; // unterminated
            char ch = *r->at++;
            if (ch == '"') break;
            if (ch == '\\' && r->at < r->end) {
                char e = *r->at++;
                put(e == 'n' ? '\n' : e == 't' ? '\t' : e);
            } else {
                put(ch);
            }
        }
    } else {
        while (r->at < r->end) {
            char ch = *r->at;
            if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '{' || ch == '}' || ch == '"')
                break;
            put(ch);
            ++r->at;
        }
    }
    r->text[n] = '\0';
    return TOKEN_TEXT;
}

bool is_number(const char *text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text)
        if (*text < '0' || *text > '9') return false;
    return true;
}

void add_library(SteamLibraryList *out, const Reader &r) {
    if (r.truncated || r.text[0] == '\0' || out->count == STEAM_MAX_LIBRARIES) return;
    std::memcpy(out->paths[out->count++], r.text, std::strlen(r.text) + 1);
}

// Reads the pairs of a block whose "{" was just read, up to its "}". At depth 1 (the root's block)
// a number key names a library: its text value is the path (old layout), or its block holds "path".
int read_block(Reader *r, int depth, SteamLibraryList *out, bool in_library) {
    if (depth > MAX_DEPTH) return 0;
    char key[64];
    while (true) {
        TokenKind kind = next_token(r);
        if (kind == TOKEN_CLOSE) return 1;
        if (kind != TOKEN_TEXT) return 0; // end of file inside a block, or a stray "{"
        std::size_t key_length = std::strlen(r->text);
        bool key_truncated = key_length >= sizeof key;
        if (!key_truncated) std::memcpy(key, r->text, key_length + 1);
        kind = next_token(r);
        if (kind == TOKEN_TEXT) {
            if (key_truncated) continue;
            if ((depth == 1 && is_number(key)) || (in_library && strcasecmp(key, "path") == 0))
                add_library(out, *r);
        } else if (kind == TOKEN_OPEN) {
            bool library = depth == 1 && !key_truncated && is_number(key);
            if (!read_block(r, depth + 1, out, library)) return 0;
        } else {
            return 0;
        }
    }
}

// Appends "suffix" to out[0..capacity) holding a path; returns 0 when it does not fit.
int join(char *out, int capacity, const char *base, const char *suffix) {
    int n = std::snprintf(out, static_cast<std::size_t>(capacity), "%s%s", base, suffix);
    return n > 0 && n < capacity;
}

struct Search {
    char seen[STEAM_MAX_LIBRARIES * 2][STEAM_PATH_CAPACITY];
    int seen_count;
    SteamLibraryList listed;
    std::uint8_t vdf[VDF_CAPACITY];
    char candidate[STEAM_PATH_CAPACITY];
    char resolved[STEAM_PATH_CAPACITY];
};

// Visits library `path` once (by its resolved path); 1 when it holds the game, written to `out`.
int try_library(Search *s, const char *path, char *out, int capacity) {
    if (path_resolve(path, s->resolved, STEAM_PATH_CAPACITY) == 0) return 0;
    for (int i = 0; i < s->seen_count; ++i)
        if (std::strcmp(s->seen[i], s->resolved) == 0) return 0;
    if (s->seen_count < STEAM_MAX_LIBRARIES * 2) std::strcpy(s->seen[s->seen_count++], s->resolved);
    const char *slash = std::strcmp(s->resolved, "/") == 0 ? "" : "/";
    if (std::snprintf(s->candidate, sizeof s->candidate, "%s%ssteamapps/common/Quillmoor/", s->resolved,
                      slash) >= static_cast<int>(sizeof s->candidate))
        return 0;
    if (path_size(s->candidate) != -2) return 0;
    if (!join(out, capacity, s->candidate, "")) return 0;
    return 1;
}

} // namespace

int steam_parse_library_folders(const char *text, int size, SteamLibraryList *out) {
    out->count = 0;
    static Reader reader;
    reader.at = text;
    reader.end = text + (size > 0 ? size : 0);
    if (next_token(&reader) != TOKEN_TEXT || strcasecmp(reader.text, "libraryfolders") != 0 ||
        next_token(&reader) != TOKEN_OPEN || !read_block(&reader, 1, out, false) ||
        next_token(&reader) != TOKEN_END) {
        out->count = 0;
        return 0;
    }
    return 1;
}

int steam_find_game_folder(const char *home, char *out, int capacity) {
    static const char *const roots[] = {
        "/.local/share/Steam",
        "/.steam/steam",
        "/.steam/debian-installation",
        "/.var/app/com.valvesoftware.Steam/.local/share/Steam",
        "/snap/steam/common/.local/share/Steam",
    };
    if (capacity > 0) out[0] = '\0';
    if (home == nullptr || home[0] == '\0') return 0;
    static Search search;
    Search *s = &search;
    s->seen_count = 0;
    char root[STEAM_PATH_CAPACITY];
    char vdf_path[STEAM_PATH_CAPACITY];
    for (const char *suffix : roots) {
        if (!join(root, STEAM_PATH_CAPACITY, home, suffix) || path_size(root) != -2) continue;
        if (try_library(s, root, out, capacity)) return 1;
        if (!join(vdf_path, STEAM_PATH_CAPACITY, root, "/steamapps/libraryfolders.vdf")) continue;
        std::int64_t size = file_read_all(vdf_path, s->vdf, VDF_CAPACITY);
        if (size < 0) continue;
        if (!steam_parse_library_folders(reinterpret_cast<const char *>(s->vdf), static_cast<int>(size),
                                         &s->listed))
            continue;
        for (int i = 0; i < s->listed.count; ++i)
            if (try_library(s, s->listed.paths[i], out, capacity)) return 1;
    }
    if (capacity > 0) out[0] = '\0';
    return 0;
}
