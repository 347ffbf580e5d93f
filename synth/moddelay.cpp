#include "synth/moddelay.h"

#include "synth/numeric.h"
#include "synth/rate.h"

#include <cmath>
#include <cstring>

namespace {

// 20.268 Hz at the top of the rate curve, in phase units per sample at 44100 Hz.
constexpr float RATE_SCALE = 0x1.e1e9b8p+20f; // 1973915.5, bits 0x49F0F4DC

// Rises from 0 to 2^32 - 1 over the first half of the cycle and falls back over the second.
inline std::uint32_t triangle(std::uint32_t p) {
    std::uint32_t r = p << 1;
    return (p & 0x80000000u) ? ~r : r;
}

// One delayed sample, linearly interpolated between delays D + back and D + back + 1, where D is the
// line length plus the integer part of t x depth; the fraction weights the older sample.
inline float tap(const float *line, std::int32_t mask, std::int32_t write_position, std::int32_t length,
                 std::uint32_t t, std::int32_t depth, std::int32_t back) {
    std::uint64_t product = static_cast<std::uint64_t>(t) * static_cast<std::uint32_t>(depth);
    std::int32_t delay = length + static_cast<std::int32_t>(static_cast<std::uint32_t>(product >> 32));
    std::uint32_t fraction = static_cast<std::uint32_t>(product);
    std::int32_t i = (write_position - delay - back) & mask;
    float b0 = line[i];
    float b1 = line[(i + 1) & mask];
    float a = 1.0f - phase_to_unit(fraction);
    return b0 + a * (b1 - b0);
}

inline bool is_positive_zero(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits == 0;
}

} // namespace

void moddelay_attach(ModDelay *d, float *left, float *right, std::int32_t mask) {
    d->left = left;
    d->right = right;
    d->mask = mask;
}

void moddelay_init(ModDelay *d) {
    std::memset(d->left, 0, sizeof(float) * (static_cast<std::size_t>(d->mask) + 1));
    std::memset(d->right, 0, sizeof(float) * (static_cast<std::size_t>(d->mask) + 1));
    d->write_position = 0;
    d->phase = 0;
}

void moddelay_set(ModDelay *d, const float m[7]) {
    d->wet = (m[0] - 64.0f) / 64.0f;
    d->dry = 1.0f - std::fabs(d->wet);
    d->feedback = (m[1] - 64.0f) / 64.0f;
    float scale = static_cast<float>(d->mask - 1023) / 128.0f;
    d->left_length = float_to_int32(m[2] * scale);
    d->right_length = float_to_int32(m[3] * scale);
    d->phase_increment =
        static_cast<std::uint32_t>(float_to_int32(exp_curve10(m[4] / 128.0f) * RATE_SCALE * rate_correction));
    d->depth = float_to_int32(m[5] / 128.0f * 1023.0f);
    std::uint32_t offset =
        static_cast<std::uint32_t>(float_to_int32((m[6] - 64.0f) / 128.0f * 2147483648.0f));
    d->right_phase_offset = offset * 2u;
}

void moddelay_process(ModDelay *d, float *block, int n) {
    if (is_positive_zero(d->wet)) return;
    float *const left = d->left;
    float *const right = d->right;
    const std::int32_t mask = d->mask;
    const std::int32_t left_length = d->left_length, right_length = d->right_length, depth = d->depth;
    const std::uint32_t increment = d->phase_increment, offset = d->right_phase_offset;
    const float feedback = d->feedback, dry = d->dry, wet = d->wet;
    std::int32_t wp = d->write_position;
    std::uint32_t phase = d->phase;
    for (int k = 0; k < n; ++k) {
        float in_l = block[2 * k] + ANTI_DENORMAL;
        float in_r = block[2 * k + 1] + ANTI_DENORMAL;
        float y_r = tap(right, mask, wp, right_length, triangle(phase + offset), depth, 1);
        float out_r = in_r * dry + y_r * wet;
        right[wp] = in_r + y_r * feedback;
        float y_l = tap(left, mask, wp, left_length, triangle(phase), depth, 0);
        float out_l = in_l * dry + y_l * wet;
        left[wp] = in_l + y_l * feedback;
        phase += increment;
        wp = (wp + 1) & mask;
        block[2 * k] = out_l;
        block[2 * k + 1] = out_r;
    }
    d->write_position = wp;
    d->phase = phase;
}

void moddelay_process_send(ModDelay *d, const float *send, float *out, int n) {
    if (is_positive_zero(d->wet)) return;
    float *const left = d->left;
    float *const right = d->right;
    const std::int32_t mask = d->mask;
    const std::int32_t left_length = d->left_length, right_length = d->right_length, depth = d->depth;
    const std::uint32_t increment = d->phase_increment, offset = d->right_phase_offset;
    const float feedback = d->feedback, wet = d->wet;
    std::int32_t wp = d->write_position;
    std::uint32_t phase = d->phase;
    for (int k = 0; k < n; ++k) {
        float in = send[k] + ANTI_DENORMAL;
        float y_r = tap(right, mask, wp, right_length, triangle(phase + offset), depth, 1);
        right[wp] = in + y_r * feedback;
        float y_l = tap(left, mask, wp, left_length, triangle(phase), depth, 0);
        left[wp] = in + y_l * feedback;
        phase += increment;
        wp = (wp + 1) & mask;
        out[2 * k] += y_l * wet;
        out[2 * k + 1] += y_r * wet;
    }
    d->write_position = wp;
    d->phase = phase;
}
