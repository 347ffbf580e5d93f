// Distortion (selectable waveshaper) and the DC filter. Each voice runs a mono distortion and DC
// filter after its filters; each channel runs a stereo distortion and DC filters; the global chain
// runs one more DC filter.
#pragma once
#include "synth/filter.h"

#include <cstdint>

// Distortion mode, 0..15. 5..15 are filter modes: the filter receives mode - 4 (12..15 give filter
// modes 8..11, which render as the filter's low three bits with the coefficients last set).
enum DistMode : std::int32_t {
    DIST_OFF = 0,
    DIST_OVERDRIVE = 1,   // atan shaper: parameter 1 output level, parameter 2 bias
    DIST_CLIP = 2,        // hard clip to -1..1: parameter 1 output level, parameter 2 bias
    DIST_BIT_CRUSHER = 3, // parameter 1 step size, parameter 2 bit-flip mask
    DIST_DECIMATOR = 4,   // sample-and-hold: parameter 1 rate
    DIST_FILTER_LOW = 5,  // 5..9 state-variable Low, Band, High, Notch, All
    DIST_FILTER_LADDER_LOW = 10,
    DIST_FILTER_LADDER_HIGH = 11,
};

constexpr int DIST_PARAM_COUNT = 4;

struct DistortionState {
    std::int32_t mode;            // DistMode; values of 16 or more pass the signal through unchanged
    float gain;                   // input gain 2^((p1 - 32) / 16): 0.25..64
    float outScale;               // overdrive and clip output scale
    float bias;                   // overdrive and clip offset added after the gain
    float crushPreScale;          // bit crusher input scale, (32768 / step) * gain
    std::int32_t crushMul;        // bit crusher step multiplier, 1..32769
    std::int32_t crushMask;       // bit crusher XOR mask (bits 9..16)
    std::uint32_t decimPhase;     // decimator phase, 2^32 is one hold period
    std::uint32_t decimIncrement; // decimator phase advance per sample (per frame in stereo)
    float heldLeft;               // decimator held sample (mono, or left side)
    float heldRight;              // decimator held right-side sample
    FilterState filter1, filter2; // the filters of the filter modes
};

// p: mode, input gain, parameter 1, parameter 2; floats 0..128 after modulation. Sets the fields of
// the selected mode (mode & 15); the others keep their values. Called once per frame.
void dist_set(DistortionState *d, const float *p);

// n consecutive samples (at most 280); input and output may be the same buffer.
void dist_render_mono(DistortionState *d, const float *input, float *output, int n);

// n interleaved stereo frames (2n floats); input and output may be the same buffer.
void dist_render_stereo(DistortionState *d, const float *input, float *output, int n);

// Clears the decimator phase and held values and resets both filters (stride back to 1).
void dist_reset(DistortionState *d);

// One-pole one-zero high-pass, y[k] = x[k] - x[k-1] + dc_coefficient * y[k-1], per side.
struct DcFilterState {
    float lastInLeft;
    float lastOutLeft;
    float lastInRight;
    float lastOutRight;
};

// n samples; a mono filter uses the left fields. Input and output may be the same buffer.
void dc_filter_mono(DcFilterState *dc, const float *input, float *output, int n);
// Four mono filters side by side, in place: per lane exactly dc_filter_mono(dc[l], buffers[l],
// buffers[l], n). All four lanes must be real filters and buffers; buffers must not overlap.
void dc_filter_mono_quad(DcFilterState *const dc[4], float *const buffers[4], int n);
// n interleaved stereo frames.
void dc_filter_stereo(DcFilterState *dc, const float *input, float *output, int n);
// All four fields = 0.
void dc_reset(DcFilterState *dc);
