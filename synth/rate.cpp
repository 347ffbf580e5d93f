#include "synth/rate.h"

#include <cmath>

// Values for 44100 Hz, so units work before the first rate_set (the tests check them against it).
float middle_c_increment = 12740060.0f;
float rate_correction = 1.0f;
float boost_sin = 0.0213697515f;
float boost_cos = 0.9997716546f;
float dc_coefficient = 0.9971428514f;
std::int32_t frame_length = 128;
float inverse_frame_length = 0.0078125f;

namespace {

std::int32_t current_rate = 44100;

constexpr double MIDDLE_C_HZ = 261.6255798339844; // the single-precision 261.6255798
constexpr double TWO_PI = 6.283185307179586;

// Round to nearest, ties to even, whatever the caller's rounding mode.
std::int32_t round_half_even(double v) {
    double f = std::floor(v);
    double d = v - f;
    auto i = static_cast<std::int32_t>(f);
    if (d > 0.5) return i + 1;
    if (d == 0.5) return i + (i & 1);
    return i;
}

} // namespace

void rate_set(std::int32_t sample_rate) {
    if (sample_rate < RATE_MIN) sample_rate = RATE_MIN;
    if (sample_rate > RATE_MAX) sample_rate = RATE_MAX;
    current_rate = sample_rate;
    const double sr = sample_rate;
    middle_c_increment = static_cast<float>(MIDDLE_C_HZ * 2147483648.0 / sr);
    rate_correction = static_cast<float>(44100.0 / sr);
    boost_sin = static_cast<float>(std::sin(TWO_PI * 150.0 / sr));
    boost_cos = static_cast<float>(std::cos(TWO_PI * 150.0 / sr));
    dc_coefficient = static_cast<float>(1.0 - 126.0 / sr);
    frame_length = round_half_even(sr * 128.0 / 44100.0 + 0.5);
    inverse_frame_length = static_cast<float>(1.0 / frame_length);
}

std::int32_t rate_sample_rate() {
    return current_rate;
}
