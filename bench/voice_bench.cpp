// Cost of the voice path: refresh, tick and render of busy voices for one second of sound.
// The counter per_voice_sample is the time per voice per output sample.
#include "synth/midi.h"
#include "synth/numeric.h"
#include "synth/rate.h"
#include "synth/synth_state.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::int32_t SAMPLE_RATE = 44100;

// One program: three oscillators (TriSaw, Pulse, Sine), filter 1 Low, filter 2 LadderLow, serial,
// a held envelope 1, and LFO 1 modulating the cutoff of filter 1 so the refresh does real work.
std::vector<std::uint8_t> busy_patch_map() {
    std::uint8_t voice[59] = {};
    voice[0] = 64;
    voice[1] = 64;
    const std::uint8_t modes[3] = {1, 2, 3};
    for (int k = 0; k < 3; ++k) {
        std::uint8_t *o = voice + 2 + 6 * k;
        o[0] = modes[k];
        o[2] = 64;
        o[3] = static_cast<std::uint8_t>(60 + 4 * k); // slight detune between oscillators
        o[4] = 40;
        o[5] = 80;
    }
    voice[20] = 1; // filter 1 Low
    voice[21] = 70;
    voice[22] = 60;
    voice[23] = 6; // filter 2 LadderLow
    voice[24] = 90;
    voice[25] = 40;
    voice[26] = 1; // serial
    voice[27] = 64;
    voice[29] = 32;  // distortion off
    voice[34] = 127; // envelope 1: instant attack, full sustain, held
    voice[35] = 64;
    voice[36] = 60;
    voice[37] = 127;
    voice[40] = 100;
    voice[41] = 64;
    voice[43] = 127;
    voice[47] = 70;  // LFO 1 rate
    voice[50] = 127; // LFO 1 amplify
    std::vector<std::uint8_t> map = {4, 0, 0, 0};
    map.insert(map.end(), voice, voice + 59);
    map.insert(map.end(), 29, 0);
    map.push_back(64); // polyphony
    map.push_back(1);  // one modulation entry: LFO 1 -> filter 1 cutoff
    map.insert(map.end(), {10, 80, 21});
    return map;
}

void voice_frames(benchmark::State &state) {
    const int voices = static_cast<int>(state.range(0));
    const std::vector<std::uint8_t> map = busy_patch_map();
    auto s = std::make_unique<SynthState>();
    synth_init(s.get(), map.data(), static_cast<std::uint32_t>(map.size()), SAMPLE_RATE);
    std::vector<std::uint8_t> midi;
    for (int v = 0; v < voices; ++v) {
        midi.push_back(static_cast<std::uint8_t>(0x90 | (v % 16)));
        midi.push_back(static_cast<std::uint8_t>(36 + v));
        midi.push_back(100);
    }
    midi.push_back(0xFD);
    synth_process_midi(s.get(), midi.data());

    const std::int32_t n = frame_length;
    const int frames = (SAMPLE_RATE + n - 1) / n; // one second, rounded up to whole frames
    NumericEnvGuard env;
    for (auto _ : state) {
        for (int f = 0; f < frames; ++f) {
            std::memset(s->channel_buffer, 0, sizeof(float) * 2 * n);
            for (int v = 0; v < VOICE_COUNT; ++v) {
                if (s->voice_channel[v] == -1) continue;
                synth_refresh_voice(s.get(), v);
                voice_tick(&s->voices[v]);
                synth_render_voice(s.get(), v, n);
            }
            benchmark::DoNotOptimize(s->channel_buffer[0]);
        }
    }
    const double voice_samples = static_cast<double>(voices) * frames * n;
    state.counters["per_voice_sample"] = benchmark::Counter(
        voice_samples, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(voice_frames)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond);
