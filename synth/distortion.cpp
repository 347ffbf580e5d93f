#include "synth/distortion.h"

#include "synth/numeric.h"
#include "synth/rate.h"

namespace {

constexpr float CRUSH_OUT_SCALE = 3.0517578125e-05f; // 2^-15

void copy_samples(const float *in, float *out, int count) {
    if (in == out) return;
    for (int i = 0; i < count; i++) out[i] = in[i];
}

void overdrive(const DistortionState *d, const float *in, float *out, int count) {
    const float gain = d->gain, bias = d->bias, scale = d->outScale;
    for (int i = 0; i < count; i++) out[i] = fast_atan(in[i] * gain + bias) * scale;
}

void clip(const DistortionState *d, const float *in, float *out, int count) {
    const float gain = d->gain, bias = d->bias, scale = d->outScale;
    for (int i = 0; i < count; i++) {
        float v = in[i] * gain + bias;
        if (v > 1.0f) v = 1.0f;
        if (v < -1.0f) v = -1.0f;
        out[i] = v * scale;
    }
}

void bit_crush(const DistortionState *d, const float *in, float *out, int count) {
    const float pre = d->crushPreScale;
    const std::uint32_t mul = static_cast<std::uint32_t>(d->crushMul);
    const std::int32_t mask = d->crushMask;
    for (int i = 0; i < count; i++) {
        std::uint32_t q = static_cast<std::uint32_t>(float_to_int32(in[i] * pre));
        auto j = static_cast<std::int32_t>(q * mul); // two's-complement product, wraps
        if (j >= 32767) j = 32767;
        if (j <= -32767) j = -32767;
        j ^= mask;
        out[i] = static_cast<float>(j) * CRUSH_OUT_SCALE;
    }
}

} // namespace

void dist_set(DistortionState *d, const float *p) {
    d->mode = float_to_int32(p[0]);
    d->gain = exp2((p[1] - 32.0f) * 0.0625f);
    const std::int32_t m = d->mode & 15;
    switch (m) {
    case DIST_OVERDRIVE:
    case DIST_CLIP:
        d->outScale = m == DIST_OVERDRIVE ? (p[2] * INV_128) / exact_atan(d->gain) : p[2] * INV_128;
        d->bias = (p[3] - 64.0f) * 0.015625f * d->gain;
        break;
    case DIST_BIT_CRUSHER: {
        const float t = 256.0f * p[2] + 1.0f;
        d->crushMul = float_to_int32(t);
        d->crushPreScale = (32768.0f / t) * d->gain;
        d->crushMask = static_cast<std::int32_t>(static_cast<std::uint32_t>(float_to_int32(p[3])) << 9);
        break;
    }
    case DIST_DECIMATOR:
        // 128 (modulation only) gives 2^31 -> 0x80000000, doubled to 0: the output holds.
        d->decimIncrement =
            2u * static_cast<std::uint32_t>(float_to_int32(exp_curve10(p[2] * INV_128) * 2147483648.0f));
        break;
    case DIST_OFF:
        break;
    default: { // filter modes
        const float fp[FILTER_PARAM_COUNT] = {static_cast<float>(m - 4), p[2], p[3]};
        filter_set(&d->filter1, fp);
        filter_set(&d->filter2, fp);
        break;
    }
    }
}

void dist_render_mono(DistortionState *d, const float *input, float *output, int n) {
    // Mode values outside 0..15 arise only through modulation; they pass the signal through.
    switch (d->mode) {
    case DIST_OVERDRIVE:
        overdrive(d, input, output, n);
        break;
    case DIST_CLIP:
        clip(d, input, output, n);
        break;
    case DIST_BIT_CRUSHER:
        bit_crush(d, input, output, n);
        break;
    case DIST_DECIMATOR: {
        std::uint32_t phase = d->decimPhase;
        const std::uint32_t inc = d->decimIncrement;
        float held = d->heldLeft;
        for (int i = 0; i < n; i++) {
            phase += inc;
            if (phase < inc) held = input[i]; // carry out of the phase addition
            output[i] = held;
        }
        d->decimPhase = phase;
        d->heldLeft = held;
        break;
    }
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
        d->filter1.stride = 1;
        filter_render(&d->filter1, input, output, n);
        break;
    default:
        copy_samples(input, output, n);
        break;
    }
}

void dist_render_stereo(DistortionState *d, const float *input, float *output, int n) {
    switch (d->mode) {
    case DIST_OVERDRIVE:
        overdrive(d, input, output, 2 * n);
        break;
    case DIST_CLIP:
        clip(d, input, output, 2 * n);
        break;
    case DIST_BIT_CRUSHER:
        bit_crush(d, input, output, 2 * n);
        break;
    case DIST_DECIMATOR: {
        std::uint32_t phase = d->decimPhase;
        const std::uint32_t inc = d->decimIncrement;
        float left = d->heldLeft, right = d->heldRight;
        for (int i = 0; i < n; i++) {
            phase += inc;
            if (phase < inc) {
                left = input[2 * i];
                right = input[2 * i + 1];
            }
            output[2 * i] = left;
            output[2 * i + 1] = right;
        }
        d->decimPhase = phase;
        d->heldLeft = left;
        d->heldRight = right;
        break;
    }
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
        // Independent filters per side.
        d->filter1.stride = 2;
        d->filter2.stride = 2;
        filter_render(&d->filter1, input, output, n);
        filter_render(&d->filter2, input + 1, output + 1, n);
        break;
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
        // One filter sees left and right samples alternately, as a single stream.
        d->filter1.stride = 1;
        filter_render(&d->filter1, input, output, 2 * n);
        break;
    default:
        copy_samples(input, output, 2 * n);
        break;
    }
}

void dist_reset(DistortionState *d) {
    d->decimPhase = 0;
    d->heldLeft = 0.0f;
    d->heldRight = 0.0f;
    filter_reset(&d->filter1);
    filter_reset(&d->filter2);
}

namespace {

// y = ((lastOut * R - lastIn + x) + g) - g: adding and removing g rounds a small y to a multiple of
// 2^-41 (2^-42 just below zero), so a decaying output stops on that grid at a tiny normal constant
// (about -3.96e-11 after a step of 1.0) and never becomes denormal.
inline float dc_step(float x, float &last_in, float &last_out, float R) {
    const float g = ANTI_DENORMAL;
    const float t = last_out * R - last_in;
    const float y = ((t + x) + g) - g;
    last_in = x;
    last_out = y;
    return y;
}

// The same step on four lanes: element-wise IEEE single operations in the same order.
typedef float Quad __attribute__((vector_size(16)));

inline Quad dc_step(Quad x, Quad &last_in, Quad &last_out, float R) {
    const float g = ANTI_DENORMAL;
    const Quad t = last_out * R - last_in;
    const Quad y = ((t + x) + g) - g;
    last_in = x;
    last_out = y;
    return y;
}

} // namespace

void dc_filter_mono_quad(DcFilterState *const dc[4], float *const buffers[4], int n) {
    const float R = dc_coefficient;
    Quad in{dc[0]->lastInLeft, dc[1]->lastInLeft, dc[2]->lastInLeft, dc[3]->lastInLeft};
    Quad out{dc[0]->lastOutLeft, dc[1]->lastOutLeft, dc[2]->lastOutLeft, dc[3]->lastOutLeft};
    float *const b0 = buffers[0], *const b1 = buffers[1], *const b2 = buffers[2], *const b3 = buffers[3];
    for (int i = 0; i < n; i++) {
        const Quad y = dc_step(Quad{b0[i], b1[i], b2[i], b3[i]}, in, out, R);
        b0[i] = y[0];
        b1[i] = y[1];
        b2[i] = y[2];
        b3[i] = y[3];
    }
    for (int l = 0; l < 4; l++) {
        dc[l]->lastInLeft = in[l];
        dc[l]->lastOutLeft = out[l];
    }
}

void dc_filter_mono(DcFilterState *dc, const float *input, float *output, int n) {
    const float R = dc_coefficient;
    float in = dc->lastInLeft, out = dc->lastOutLeft;
    for (int i = 0; i < n; i++) output[i] = dc_step(input[i], in, out, R);
    dc->lastInLeft = in;
    dc->lastOutLeft = out;
}

void dc_filter_stereo(DcFilterState *dc, const float *input, float *output, int n) {
    const float R = dc_coefficient;
    float inL = dc->lastInLeft, outL = dc->lastOutLeft;
    float inR = dc->lastInRight, outR = dc->lastOutRight;
    for (int i = 0; i < n; i++) {
        output[2 * i] = dc_step(input[2 * i], inL, outL, R);
        output[2 * i + 1] = dc_step(input[2 * i + 1], inR, outR, R);
    }
    dc->lastInLeft = inL;
    dc->lastOutLeft = outL;
    dc->lastInRight = inR;
    dc->lastOutRight = outR;
}

void dc_reset(DcFilterState *dc) {
    dc->lastInLeft = 0.0f;
    dc->lastOutLeft = 0.0f;
    dc->lastInRight = 0.0f;
    dc->lastOutRight = 0.0f;
}
