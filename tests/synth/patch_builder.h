// Builds PatchMap sections for synthesizer tests.
#pragma once
#include <cstdint>
#include <vector>

#include "synth/synth_state.h"

struct TestPatch {
    std::uint8_t voice[VOICE_PARAM_COUNT] = {};
    std::uint8_t channel[CHANNEL_PARAM_COUNT] = {};
    std::uint8_t polyphony = 8;
    std::vector<ModEntry> entries;
};

// A voice that sounds: oscillator 1 a saw at full volume, filters off, a held envelope 1.
inline TestPatch audible_patch() {
    TestPatch p;
    p.voice[0] = 64;  // centre
    p.voice[1] = 64;  // no transpose
    p.voice[2] = 1;   // osc 1 TriSaw
    p.voice[4] = 64;  // transpose 0
    p.voice[5] = 64;  // detune 0
    p.voice[7] = 127; // volume
    p.voice[10] = 64;
    p.voice[11] = 64;
    p.voice[16] = 64;
    p.voice[17] = 64;
    p.voice[21] = 127; // filter cutoffs open
    p.voice[24] = 127;
    p.voice[27] = 64;
    p.voice[29] = 32;  // distortion gain 1
    p.voice[34] = 127; // env 1 sustain
    p.voice[35] = 64;  // sustain time: hold
    p.voice[36] = 60;  // release
    p.voice[37] = 127; // amplify
    p.voice[40] = 127;
    p.voice[41] = 64;
    return p;
}

// Offset table for the given patches followed by the patches themselves.
inline std::vector<std::uint8_t> build_patch_map(const std::vector<TestPatch> &patches) {
    std::vector<std::uint8_t> map(4 * patches.size());
    for (std::size_t i = 0; i < patches.size(); ++i) {
        const std::uint32_t offset = static_cast<std::uint32_t>(map.size());
        for (int b = 0; b < 4; ++b) map[4 * i + b] = static_cast<std::uint8_t>(offset >> (8 * b));
        const TestPatch &p = patches[i];
        map.insert(map.end(), p.voice, p.voice + VOICE_PARAM_COUNT);
        map.insert(map.end(), p.channel, p.channel + CHANNEL_PARAM_COUNT);
        map.push_back(p.polyphony);
        map.push_back(static_cast<std::uint8_t>(p.entries.size()));
        for (const ModEntry &e : p.entries) {
            map.push_back(e.source);
            map.push_back(e.amount);
            map.push_back(e.destination);
        }
    }
    return map;
}
