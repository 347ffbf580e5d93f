// Pins the synthesizer's exact output. Random but reproducible patches (every oscillator mode, filter
// kind, routing, distortion mode, chorus, compressor, bass boost, aux buses, modulation entries) play
// random note and controller events for a few seconds with reverb, delay and the speech voice on
// channel 15; the 64-bit hash of every output float's bits must equal the stored value. The hashes
// were taken before the render paths were optimised: a change that alters a single bit of a single
// sample anywhere fails here. Only a deliberate change of the sound may update them.
#include "patch_builder.h"
#include "platform/clock.h"
#include "synth/global_effects.h"
#include "synth/midi.h"
#include "synth/render.h"
#include "synth/speech.h"
#include "synth/synth_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int SAMPLE_RATE = 44100;

// xorshift64*: the same sequence on every platform and library.
struct Random {
    std::uint64_t state;
    std::uint32_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<std::uint32_t>((state * 0x2545F4914F6CDD1DULL) >> 32);
    }
    std::uint8_t below(int n) { return static_cast<std::uint8_t>(next() % static_cast<std::uint32_t>(n)); }
    std::uint8_t between(int lo, int hi) { return static_cast<std::uint8_t>(lo + below(hi - lo + 1)); }
};

// FNV-1a over the bit patterns of the samples.
std::uint64_t hash_floats(const std::vector<float> &v) {
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (float f : v) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        for (int b = 0; b < 4; ++b) {
            h ^= (bits >> (8 * b)) & 0xFF;
            h *= 0x100000001B3ULL;
        }
    }
    return h;
}

// Every byte random, then the mode bytes drawn from their meaningful ranges and the envelope 1
// kept sounding long enough to be heard.
TestPatch random_patch(Random &r) {
    TestPatch p;
    for (auto &b : p.voice) b = r.below(128);
    for (auto &b : p.channel) b = r.below(128);
    for (int osc = 0; osc < 3; ++osc) {
        p.voice[2 + 6 * osc] = r.below(8); // mode: off, saw, pulse, sine, noise, FM, aux A, aux B
        p.voice[7 + 6 * osc] = r.between(60, 127);
    }
    p.voice[20] = r.below(8); // filter modes
    p.voice[23] = r.below(8);
    p.voice[26] = r.below(3);  // routing
    p.voice[28] = r.below(12); // distortion mode
    p.voice[29] = r.between(16, 48);
    p.voice[34] = r.between(64, 127); // envelope 1 sustain
    p.voice[35] = r.between(60, 127);
    p.voice[37] = 127;
    p.voice[44] = r.below(5); // LFO waves and polarities
    p.voice[49] = r.below(3);
    p.voice[51] = r.below(5);
    p.voice[56] = r.below(3);
    p.voice[58] = r.below(3); // key sync
    p.channel[0] = r.between(40, 127);
    p.channel[1] = r.below(2) ? r.below(64) : 0; // aux receives and sends, mostly off
    p.channel[2] = r.below(2) ? r.below(64) : 0;
    p.channel[3] = r.below(2) ? r.below(64) : 0;
    p.channel[4] = r.below(2) ? r.below(64) : 0;
    p.channel[7] = r.below(2);  // effect order
    p.channel[9] = r.below(12); // channel distortion mode
    p.channel[10] = r.between(16, 48);
    p.channel[20] = r.below(5); // compressor detector, 0 off
    p.polyphony = r.between(1, 8);
    const int entries = r.below(6);
    for (int e = 0; e < entries; ++e)
        p.entries.push_back({r.below(20), r.below(128), r.below(PATCH_MOD_COUNT)});
    return p;
}

// The embedded song's globals: reverb and delay on.
constexpr std::uint8_t SONG_GLOBALS[GLOBALS_BLOCK_SIZE] = {114, 99,  70, 48, 100, 80, 62, 66, 0,  0,  64,
                                                           0,   121, 0,  0,  1,   2,  90, 32, 20, 64, 64};

std::uint64_t render_scenario(std::uint64_t seed, int seconds) {
    Random r{seed};
    std::vector<TestPatch> patches;
    for (int i = 0; i < CHANNEL_COUNT; ++i) patches.push_back(random_patch(r));
    const std::vector<std::uint8_t> map = build_patch_map(patches);

    clock_fix(777);
    auto s = std::make_unique<SynthState>();
    synth_init(s.get(), map.data(), static_cast<std::uint32_t>(map.size()), SAMPLE_RATE);
    std::uint8_t globals[GLOBALS_BLOCK_SIZE];
    std::memcpy(globals, SONG_GLOBALS, sizeof globals);
    globals[8] = r.below(5); // main compressor
    synth_set_globals(s.get(), globals);
    static const std::uint8_t text[] = {'!', 'a', 'h', 'o', '_', 'm', 'i', 'i', 's', 't', 'a', 'n', 0};
    const std::uint8_t *table[SPEECH_TABLE_SIZE] = {text};
    speech_set_texts(&s->speech, table, text + sizeof text);

    std::vector<std::uint8_t> midi;
    for (int ch = 0; ch < CHANNEL_COUNT; ++ch) {
        midi.push_back(static_cast<std::uint8_t>(0xC0 | ch));
        midi.push_back(static_cast<std::uint8_t>(ch));
    }
    midi.push_back(0xFD);
    synth_process_midi(s.get(), midi.data());

    std::vector<float> out;
    const int total = seconds * SAMPLE_RATE;
    int done = 0;
    while (done < total) {
        midi.clear();
        const int events = r.below(4);
        for (int e = 0; e < events; ++e) {
            const std::uint8_t ch = r.below(CHANNEL_COUNT);
            switch (r.below(8)) {
            case 0:
            case 1:
            case 2:
            case 3:
                midi.insert(midi.end(),
                            {static_cast<std::uint8_t>(0x90 | ch), r.between(24, 96), r.between(1, 127)});
                break;
            case 4:
            case 5:
                midi.insert(midi.end(), {static_cast<std::uint8_t>(0x80 | ch), r.between(24, 96), 0});
                break;
            case 6:
                midi.insert(midi.end(),
                            {static_cast<std::uint8_t>(0xB0 | ch), r.between(1, 7), r.below(128)});
                break;
            default:
                midi.insert(midi.end(), {static_cast<std::uint8_t>(0x90 | ch), r.between(24, 96), 0});
                break;
            }
        }
        midi.push_back(0xFD);
        synth_process_midi(s.get(), midi.data());
        // Odd block lengths so frames split across calls.
        const int n = std::min<int>(total - done, r.between(1, 255) * 7 + 1);
        const std::size_t at = out.size();
        out.resize(at + 2 * static_cast<std::size_t>(n));
        synth_render(s.get(), out.data() + at, n, nullptr, 0);
        done += n;
    }
    clock_release_fixed();

    double energy = 0;
    for (float f : out) energy += static_cast<double>(f) * f;
    EXPECT_GT(energy, 1.0) << "scenario " << seed << " is silent and would pin nothing";
    return hash_floats(out);
}

TEST(RenderIdentity, OutputBitsArePinned) {
    const struct {
        std::uint64_t seed;
        std::uint64_t hash;
    } cases[] = {
        {0x1234567ULL, 0xB8E38FC2AC55480BULL},
        {0xC0FFEEULL, 0x414191FFBDDF8977ULL},
        {0xBADC0DEULL, 0x3AB68B2BC5BE9296ULL},
        {0x5EED5EEDULL, 0x80F394D47F138952ULL},
    };
    for (const auto &c : cases) {
        const std::uint64_t h = render_scenario(c.seed, 3);
        EXPECT_EQ(h, c.hash) << "seed 0x" << std::hex << c.seed << " hash 0x" << h;
    }
}

// A dense stress: one patch, every voice held, the packed voice paths all in use.
TEST(RenderIdentity, AllVoicesHeldArePinned) {
    const struct {
        std::uint64_t seed;
        std::uint64_t hash;
    } cases[] = {
        {0xABCDEFULL, 0x8AAF2C805F251B69ULL},
        {0x13579BDFULL, 0xFB6DC8774C7F1E7EULL},
    };
    for (const auto &c : cases) {
        Random r{c.seed};
        TestPatch p = random_patch(r);
        p.polyphony = 64;
        const std::vector<std::uint8_t> map = build_patch_map({p});
        clock_fix(99);
        auto s = std::make_unique<SynthState>();
        synth_init(s.get(), map.data(), static_cast<std::uint32_t>(map.size()), SAMPLE_RATE);
        synth_set_globals(s.get(), SONG_GLOBALS);
        std::vector<std::uint8_t> midi;
        for (int v = 0; v < 64; ++v)
            midi.insert(midi.end(), {0x90, static_cast<std::uint8_t>(30 + v), r.between(1, 127)});
        midi.push_back(0xFD);
        synth_process_midi(s.get(), midi.data());
        std::vector<float> out(2 * 2 * SAMPLE_RATE);
        synth_render(s.get(), out.data(), 2 * SAMPLE_RATE, nullptr, 0);
        clock_release_fixed();
        double energy = 0;
        for (float f : out) energy += static_cast<double>(f) * f;
        EXPECT_GT(energy, 0.01) << "seed " << c.seed << " is silent and would pin nothing";
        const std::uint64_t h = hash_floats(out);
        EXPECT_EQ(h, c.hash) << "seed 0x" << std::hex << c.seed << " hash 0x" << h;
    }
}

} // namespace
