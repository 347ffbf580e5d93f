// Fixture songs for the player and tool tests, built with the song writer.
#pragma once

#include "player/song_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The image of `song`; fails the calling test when the writer refuses it.
inline std::vector<std::uint8_t> write_fixture(const SongDescription &song) {
    std::vector<std::uint8_t> image;
    std::string error;
    EXPECT_TRUE(song_write_image(song, &image, &error)) << error;
    return image;
}

// A song without events whose program 0 is an audible sine voice: quick attack, held sustain, short
// release, centred, at channel volume 100, through dry global effects with the high cut open.
inline SongDescription sounding_song() {
    SongDescription s;
    s.ticks_per_beat = 128;
    SongPatch p;
    p.voice[0] = 64;   // pan: centre
    p.voice[1] = 64;   // transpose: none
    p.voice[2] = 3;    // oscillator 1: sine
    p.voice[4] = 64;   // oscillator 1 transpose: none
    p.voice[5] = 64;   // oscillator 1 detune: none
    p.voice[7] = 100;  // oscillator 1 volume
    p.voice[32] = 0;   // envelope 1 attack: one frame
    p.voice[33] = 64;  // decay
    p.voice[34] = 100; // sustain level
    p.voice[35] = 64;  // sustain held
    p.voice[36] = 40;  // release
    p.voice[37] = 127; // amplify
    p.voice[38 + 5] = 127;
    p.channel[0] = 100; // channel volume
    p.polyphony = 8;
    s.patches = {p};
    s.globals_block.assign(23, 0);
    s.globals_block[0] = 114; // reverb decay, with no reverb input (byte 3 = 0)
    s.globals_block[4] = 64;  // global delay dry
    s.globals_block[5] = 64;
    s.globals_block[12] = 127; // high cut off
    return s;
}
