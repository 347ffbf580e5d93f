// Low-frequency oscillator: a control-rate modulation source stepped once per frame on a 32-bit
// phase (2^32 per cycle), with five wave shapes, optional key sync and one-shot (envelope) mode.
// Its output is on the 0..128 parameter scale.
#pragma once
#include <cstdint>

// Wave selected by the low three bits of LfoState::mode (5..7 act as Saw).
enum LfoWave : std::int32_t {
    LFO_WAVE_SAW = 0,
    LFO_WAVE_TRIANGLE = 1,
    LFO_WAVE_PULSE = 2,
    LFO_WAVE_SINE = 3,
    LFO_WAVE_SAMPLE_HOLD = 4,
};

// Polarity parameter (any other value acts as Positive).
enum LfoPolarity : std::int32_t {
    LFO_POSITIVE = 0,
    LFO_NEGATIVE = 1,
    LFO_BIPOLAR = 2,
};

constexpr int LFO_PARAM_COUNT = 7;

struct LfoState {
    float output;              // value after the last tick: 0..a, -a..0 or -a/2..a/2
    std::int32_t mode;         // LfoWave in the low three bits
    std::int32_t keySync;      // nonzero: restart the phase at note start
    std::int32_t envMode;      // nonzero: run one cycle, then hold at phase 0xFFFFFFFF
    std::uint32_t increment;   // phase advance per frame, 2^20..2^30
    std::uint32_t phase;       // current phase
    std::uint32_t startPhase;  // phase loaded at a key-synced note start
    float amplitude;           // output scale with the polarity's sign
    float offset;              // -a/2 for Bipolar, else 0
    std::uint32_t randomState; // sample-and-hold generator state
    std::uint32_t lastPhase;   // phase at the previous tick (sample-and-hold wrap detection)
};

// p: mode, key sync, envelope mode, rate, phase, polarity, amplify; floats 0..128 after modulation.
// Rate 0..128 gives 2^20..2^30 phase per frame (0.084..86.1 Hz at 44100 Hz); phase 0..128 gives a
// start phase of 0..1 cycle (128 wraps to 0); amplify is the raw output range a.
void lfo_set(LfoState *l, const float *p);

// One control-frame step: output from the current phase, then the phase advances.
void lfo_tick(LfoState *l);

// Note start: with key sync, restart at startPhase and make a sample-and-hold draw at the next tick.
void lfo_note_start(LfoState *l);

// phase = 0, lastPhase = 0, randomState = low 32 bits of the processor clock (platform/clock.h).
void lfo_reset(LfoState *l);
