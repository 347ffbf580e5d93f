// Real-time factors of the whole synthesizer render: seconds of audio per second of CPU on one
// thread (the "rt_factor" counter). Goals: dense fixture >= 50, 64-voice stress >= 8.
#include "platform/clock.h"
#include "synth/global_effects.h"
#include "synth/midi.h"
#include "synth/render.h"
#include "synth/synth_state.h"
#include "tests/synth/patch_builder.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr int SAMPLE_RATE = 44100;
constexpr int BLOCK = 1024; // samples per synth_render call, about what the audio thread asks for

// Reverb and delay on, as the embedded song has them; main compressor off.
constexpr std::uint8_t SONG_GLOBALS[GLOBALS_BLOCK_SIZE] = {114, 99,  70, 48, 100, 80, 62, 66, 0,  0,  64,
                                                           0,   121, 0,  0,  1,   2,  90, 32, 20, 64, 64};

// A held saw through an open low-pass, with chorus and sends on the channel.
TestPatch dense_patch(bool compressor) {
    TestPatch p = audible_patch();
    p.voice[20] = 1; // filter 1 low-pass
    p.voice[21] = 90;
    p.voice[22] = 40;
    p.channel[0] = 100; // volume
    p.channel[5] = 40;  // reverb send
    p.channel[6] = 30;  // delay send
    p.channel[13] = 90; // chorus amount
    p.channel[14] = 70;
    p.channel[15] = 3;
    p.channel[16] = 4;
    p.channel[17] = 60;
    p.channel[18] = 50;
    p.channel[19] = 80;
    if (compressor) {
        p.channel[20] = 2; // RMS
        p.channel[23] = 1;
        p.channel[24] = 100;
        p.channel[25] = 64;
        p.channel[26] = 30;
        p.channel[27] = 40;
        p.channel[28] = 64;
    }
    return p;
}

// Three oscillators, both filters in series, overdrive.
TestPatch stress_patch() {
    TestPatch p = audible_patch();
    p.polyphony = 64;
    p.voice[8] = 2; // osc 2 pulse
    p.voice[13] = 100;
    p.voice[14] = 3; // osc 3 sine
    p.voice[19] = 100;
    p.voice[20] = 1; // filter 1 low-pass
    p.voice[21] = 80;
    p.voice[22] = 60;
    p.voice[23] = 6; // filter 2 ladder low-pass
    p.voice[24] = 100;
    p.voice[25] = 30;
    p.voice[26] = 1; // serial
    p.voice[28] = 1; // overdrive
    p.voice[29] = 40;
    p.voice[30] = 100;
    p.voice[31] = 64;
    p.channel[0] = 60;
    return p;
}

struct BenchSynth {
    std::vector<std::uint8_t> map;
    std::unique_ptr<SynthState> s{new SynthState};
    explicit BenchSynth(const std::vector<TestPatch> &patches) {
        clock_fix(1);
        map = build_patch_map(patches);
        synth_init(s.get(), map.data(), static_cast<std::uint32_t>(map.size()), SAMPLE_RATE);
        synth_set_globals(s.get(), SONG_GLOBALS);
    }
    ~BenchSynth() { clock_release_fixed(); }
    void midi(std::vector<std::uint8_t> bytes) {
        bytes.push_back(0xFD);
        synth_process_midi(s.get(), bytes.data());
    }
};

void run(benchmark::State &state, BenchSynth &synth) {
    std::vector<float> out(2 * BLOCK);
    for (int done = 0; done < SAMPLE_RATE; done += BLOCK) // about one second to settle
        synth_render(synth.s.get(), out.data(), BLOCK, nullptr, 0);
    std::int64_t samples = 0;
    for (auto _ : state) {
        synth_render(synth.s.get(), out.data(), BLOCK, nullptr, 0);
        benchmark::DoNotOptimize(out.data());
        samples += BLOCK;
    }
    state.counters["rt_factor"] =
        benchmark::Counter(static_cast<double>(samples) / SAMPLE_RATE, benchmark::Counter::kIsRate);
}

// 16 voices on 8 channels, chorus on every channel, compressors on two, reverb and delay on.
void BM_RenderDense(benchmark::State &state) {
    std::vector<TestPatch> patches;
    for (int ch = 0; ch < 8; ++ch) patches.push_back(dense_patch(ch < 2));
    BenchSynth synth(patches);
    for (int ch = 0; ch < 8; ++ch) {
        const std::uint8_t c = static_cast<std::uint8_t>(ch);
        synth.midi({static_cast<std::uint8_t>(0xC0 | c), c, static_cast<std::uint8_t>(0x90 | c),
                    static_cast<std::uint8_t>(48 + 3 * ch), 100, static_cast<std::uint8_t>(55 + 3 * ch), 90});
    }
    run(state, synth);
}
BENCHMARK(BM_RenderDense);

// Every one of the 64 voices held.
void BM_RenderStress64(benchmark::State &state) {
    BenchSynth synth({stress_patch()});
    for (int v = 0; v < 64; ++v) synth.midi({0x90, static_cast<std::uint8_t>(30 + v), 100});
    int held = 0;
    for (int v = 0; v < 64; ++v) held += synth.s->voice_channel[v] == 0;
    if (held != 64) state.SkipWithError("not every voice is held");
    run(state, synth);
}
BENCHMARK(BM_RenderStress64);

} // namespace
