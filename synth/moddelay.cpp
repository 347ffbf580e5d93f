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

// One delayed sample, linearly interpolated between the samples at (base - D) and (base - D + 1), where
// base = write position - length - back and D is the integer part of t x depth; the fraction weights
// the older sample. Indices are taken modulo the line length (mask + 1 divides 2^32).
inline float tap(const float *line, std::uint32_t mask, std::uint32_t base, std::uint32_t t,
                 std::uint32_t depth) {
    const std::uint64_t product = static_cast<std::uint64_t>(t) * depth;
    const std::uint32_t i = (base - static_cast<std::uint32_t>(product >> 32)) & mask;
    const float b0 = line[i];
    const float b1 = line[(i + 1) & mask];
    const float a = 1.0f - phase_to_unit(static_cast<std::uint32_t>(product));
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
    const std::uint32_t mask = static_cast<std::uint32_t>(d->mask);
    const std::uint32_t depth = static_cast<std::uint32_t>(d->depth);
    const std::uint32_t increment = d->phase_increment, offset = d->right_phase_offset;
    const float feedback = d->feedback, dry = d->dry, wet = d->wet;
    std::uint32_t wp = static_cast<std::uint32_t>(d->write_position);
    std::uint32_t phase = d->phase;
    // The right line reads one sample further back than the left one.
    std::uint32_t base_l = wp - static_cast<std::uint32_t>(d->left_length);
    std::uint32_t base_r = wp - static_cast<std::uint32_t>(d->right_length) - 1u;
    for (int k = 0; k < n; ++k) {
        const float in_l = block[2 * k] + ANTI_DENORMAL;
        const float in_r = block[2 * k + 1] + ANTI_DENORMAL;
        const float y_r = tap(right, mask, base_r, triangle(phase + offset), depth);
        const float out_r = in_r * dry + y_r * wet;
        right[wp] = in_r + y_r * feedback;
        const float y_l = tap(left, mask, base_l, triangle(phase), depth);
        const float out_l = in_l * dry + y_l * wet;
        left[wp] = in_l + y_l * feedback;
        phase += increment;
        wp = (wp + 1u) & mask;
        ++base_l;
        ++base_r;
        block[2 * k] = out_l;
        block[2 * k + 1] = out_r;
    }
    d->write_position = static_cast<std::int32_t>(wp);
    d->phase = phase;
}

void moddelay_process_send(ModDelay *d, const float *send, float *out, int n) {
    if (is_positive_zero(d->wet)) return;
    float *const left = d->left;
    float *const right = d->right;
    const std::uint32_t mask = static_cast<std::uint32_t>(d->mask);
    const std::uint32_t depth = static_cast<std::uint32_t>(d->depth);
    const std::uint32_t increment = d->phase_increment, offset = d->right_phase_offset;
    const float feedback = d->feedback, wet = d->wet;
    std::uint32_t wp = static_cast<std::uint32_t>(d->write_position);
    std::uint32_t phase = d->phase;
    std::uint32_t base_l = wp - static_cast<std::uint32_t>(d->left_length);
    std::uint32_t base_r = wp - static_cast<std::uint32_t>(d->right_length) - 1u;
    for (int k = 0; k < n; ++k) {
        const float in = send[k] + ANTI_DENORMAL;
        const float y_r = tap(right, mask, base_r, triangle(phase + offset), depth);
        right[wp] = in + y_r * feedback;
        const float y_l = tap(left, mask, base_l, triangle(phase), depth);
        left[wp] = in + y_l * feedback;
        phase += increment;
        wp = (wp + 1u) & mask;
        ++base_l;
        ++base_r;
        out[2 * k] += y_l * wet;
        out[2 * k + 1] += y_r * wet;
    }
    d->write_position = static_cast<std::int32_t>(wp);
    d->phase = phase;
}
