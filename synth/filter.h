// Resonant filter: a two-pole state-variable filter (five outputs) and a four-pole ladder low-pass /
// high-pass, both run twice per input sample (2x oversampling with the input held). Voices own two;
// each distortion unit owns two more for its filter modes.
#pragma once
#include <cstdint>

// Filter mode; filter_render uses the low three bits, filter_set the whole value (below 6 sets the
// state-variable coefficients, 6 and above the ladder's).
enum FilterMode : std::int32_t {
    FILTER_OFF = 0,         // input copied to the output
    FILTER_LOW = 1,         // state-variable low-pass
    FILTER_BAND = 2,        // state-variable band-pass
    FILTER_HIGH = 3,        // state-variable high-pass
    FILTER_NOTCH = 4,       // state-variable high + low
    FILTER_ALL = 5,         // state-variable high + band + low
    FILTER_LADDER_LOW = 6,  // four-pole ladder low-pass
    FILTER_LADDER_HIGH = 7, // input minus the ladder low-pass
};

constexpr int FILTER_PARAM_COUNT = 3;

// The ladder output beyond which its cubic stage has folded over and divergence is certain; the ladder
// states are then cleared (see filter_render).
constexpr float FILTER_LADDER_LIMIT = 8.0f;

struct FilterState {
    std::int32_t mode; // FilterMode (low three bits render)
    float svfFreq;     // state-variable frequency coefficient, 2^-10..1 at 44100 Hz
    float svfDamp;     // state-variable damping, 1 - resonance / 128, 0..1
    float ladderK;     // ladder feedback of each stage's own state, 1 - 2P
    float ladderP;     // ladder stage coefficient P
    float ladderRes;   // ladder resonance feedback, 0..15.2 (4 x resonance / 128 x 2.3..3.8 by cutoff)
    float svfLow;      // state-variable low-pass state
    float svfBand;     // state-variable band-pass state
    float ladderIn;    // ladder: previous raw input sample
    float ladderY1;    // ladder stage outputs
    float ladderY2;
    float ladderY3;
    float ladderY4;
    std::int32_t stride; // distance between successive samples in the buffers: 1 mono, 2 one stereo side
};

// p: mode, cutoff, resonance; floats 0..128 after modulation. Cutoff maps exponentially to a
// coefficient 2^-10..1 (at 44100 Hz); resonance 128 gives a state-variable damping of 0 (self-ringing).
// Called once per frame; only the coefficient set of the selected kind changes.
void filter_set(FilterState *f, const float *p);

// Filters n samples, read from input[k * stride] and written to output[k * stride]; input and output
// may be the same buffer. Mode Off in place touches nothing.
void filter_render(FilterState *f, const float *input, float *output, int n);

// Two filters over a mono buffer (stride 1) in one pass, with exactly the samples and states of
// filter_render(first, buffer, buffer, n) followed by filter_render(second, buffer, buffer, n).
void filter_render_serial(FilterState *first, FilterState *second, float *buffer, int n);

// Both filters on the same mono input: exactly filter_render(second, buffer, second_out, n) followed by
// filter_render(first, buffer, buffer, n). second_out must not overlap buffer.
void filter_render_parallel(FilterState *first, FilterState *second, float *buffer, float *second_out, int n);

// Four filters (or pairs) side by side, one per lane, for voices rendered together. Every lane gives
// exactly the samples and states of the one-filter functions above. All four lanes must be real
// filters and buffers (fill unused lanes with copies); every lane's filters must have the same mode in
// the low three bits as lane 0's and stride 1 (see filter_quad_compatible). Buffers must not overlap.
constexpr int FILTER_LANES = 4;

// True when filters a and b may share a four-lane call: same rendered mode, both stride 1.
bool filter_quad_compatible(const FilterState *a, const FilterState *b);

// In place, per lane exactly filter_render(filters[l], buffers[l], buffers[l], n).
void filter_render_quad(FilterState *const filters[FILTER_LANES], float *const buffers[FILTER_LANES], int n);

// Per lane exactly filter_render_serial(first[l], second[l], buffers[l], n).
void filter_render_serial_quad(FilterState *const first[FILTER_LANES],
                               FilterState *const second[FILTER_LANES], float *const buffers[FILTER_LANES],
                               int n);

// Per lane exactly filter_render_parallel(first[l], second[l], buffers[l], second_out[l], n).
void filter_render_parallel_quad(FilterState *const first[FILTER_LANES],
                                 FilterState *const second[FILTER_LANES], float *const buffers[FILTER_LANES],
                                 float *const second_out[FILTER_LANES], int n);

// Clears all states and sets stride to 1; coefficients are kept.
void filter_reset(FilterState *f);
