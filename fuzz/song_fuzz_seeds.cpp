// Writes starting images for song_fuzz into the folder given as the argument.
#include "player/song_writer.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

SongPatch sine_patch(std::uint8_t polyphony) {
    SongPatch p;
    p.voice[0] = 64;
    p.voice[1] = 64;
    p.voice[2] = 3;
    p.voice[4] = 64;
    p.voice[5] = 64;
    p.voice[7] = 100;
    p.voice[33] = 64;
    p.voice[34] = 100;
    p.voice[35] = 64;
    p.voice[36] = 40;
    p.voice[37] = 127;
    p.channel[0] = 100;
    p.polyphony = polyphony;
    p.mods = {{0, 127, 37}, {7, 127, 59}, {10, 65, 4}};
    return p;
}

bool save(const std::string &dir, const char *name, const SongDescription &song) {
    std::vector<std::uint8_t> image;
    std::string error;
    if (!song_write_image(song, &image, &error)) {
        std::fprintf(stderr, "%s: %s\n", name, error.c_str());
        return false;
    }
    const std::string path = dir + "/" + name;
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: song_fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;

    SongDescription empty;
    ok &= save(dir, "empty", empty);

    SongDescription s;
    s.ticks_per_beat = 4;
    s.end_tick = 40;
    s.globals = {{0, 371519, 4, 4, 8}, {8, 250000, 3, 4, 8}};
    s.globals_block.assign(23, 0);
    s.globals_block[0] = 114;
    s.globals_block[3] = 40;
    s.globals_block[4] = 64;
    s.globals_block[5] = 64;
    s.globals_block[12] = 127;
    s.patches = {sine_patch(4), sine_patch(2)};
    for (int ch : {0, 3, 15}) {
        SongChannel &c = s.channels[ch];
        c.programs = {{0, static_cast<std::uint8_t>(ch & 1)}, {12, 1}};
        c.notes = {{0, 60, 100}, {0, 64, 90}, {0, 67, 80}, {6, 60, 0}, {9, 72, 120}, {20, 72, 0}};
        c.pitch_bends = {{2, 0, 64}, {5, 127, 70}};
        c.controllers[0] = {{1, 64}, {1, 80}};
        c.controllers[6] = {{3, 100}};
    }
    s.speech_texts = {"!hello", "!wor!ld"};
    ok &= save(dir, "small", s);

    s.ticks_per_beat = 1;
    s.speech_texts.clear();
    s.globals_block.resize(5);
    ok &= save(dir, "short_globals", s);
    return ok ? 0 : 1;
}
