// Stereo modulated delay: two delay lines read at positions moved by a triangle modulator, with
// feedback and a dry/wet mix. Short lines (2048 samples) make a channel's chorus or flanger, long
// lines (32768 samples) the global stereo delay.
#pragma once
#include <cstdint>

struct ModDelay {
    float *left;                   // left line, mask + 1 samples, owned by SynthState
    float *right;                  // right line, mask + 1 samples, owned by SynthState
    std::int32_t mask;             // line length - 1: 2047 (channel) or 32767 (global delay)
    std::int32_t write_position;   // 0..mask, shared by both lines
    std::int32_t left_length;      // samples
    std::int32_t right_length;     // samples
    std::uint32_t phase;           // modulator phase, 2^32 = one cycle
    std::uint32_t phase_increment; // per sample
    std::uint32_t right_phase_offset;
    std::int32_t depth; // modulation depth in samples, 0..1023 for parameters 0..128
    float feedback;     // -1..1
    float dry;          // 0..1
    float wet;          // -1..1; exactly +0.0 switches the unit off
};

// Gives the unit its two lines (mask + 1 floats each; mask + 1 a power of two, at least 2048).
void moddelay_attach(ModDelay *d, float *left, float *right, std::int32_t mask);

// Clears both lines; write position and phase back to 0.
void moddelay_init(ModDelay *d);

// m[0..6], each 0..128: amount (64 = dry only), feedback (64 = none), left length, right length,
// modulation rate, modulation depth, phase offset of the right line (64 = none).
void moddelay_set(ModDelay *d, const float m[7]);

// In place over n interleaved stereo frames. Does nothing at all while wet is +0.0.
void moddelay_process(ModDelay *d, float *block, int n);

// Global delay: fed from the mono bus `send` (n samples), dry gain 0; the wet output is added to the
// interleaved stereo block `out`. Does nothing at all while wet is +0.0.
void moddelay_process_send(ModDelay *d, const float *send, float *out, int n);
