// Process-wide constants that depend on the sample rate. rate_set computes them (synth_init calls it);
// every synthesizer instance of the process shares them. Until the first rate_set they hold the
// values for 44100 Hz.
#pragma once
#include <cstdint>

// Supported sample rates, Hz. Outside this range rate_set clamps: above it a frame would no longer
// fit the 280-frame buffers, below it the filters and pitches are far outside their design range.
constexpr std::int32_t RATE_MIN = 8000;
constexpr std::int32_t RATE_MAX = 96000;
// The largest frame_length any supported rate gives (279 at 96000 Hz); the frame buffers hold 280.
constexpr std::int32_t RATE_MAX_FRAME_LENGTH = 280;

extern float middle_c_increment;   // phase advance per sample of note 60: 261.6255798 * 2^31 / sr
extern float rate_correction;      // 44100 / sr
extern float boost_sin;            // sin(2pi * 150 / sr)
extern float boost_cos;            // cos(2pi * 150 / sr)
extern float dc_coefficient;       // 1 - 126 / sr, the DC filter's pole
extern std::int32_t frame_length;  // samples per control frame: round-half-even(sr * 128 / 44100 + 0.5)
extern float inverse_frame_length; // 1 / frame_length

// Computes every constant above from the sample rate in Hz (clamped to RATE_MIN..RATE_MAX). Leaves
// the caller's floating-point environment in force; the results are stored as single precision.
void rate_set(std::int32_t sample_rate);

// The sample rate rate_set last used (after clamping); 44100 before the first call.
std::int32_t rate_sample_rate();
