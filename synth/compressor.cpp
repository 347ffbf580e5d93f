#include "synth/compressor.h"

#include "synth/numeric.h"

#include <cmath>
#include <cstring>

namespace {

constexpr float PEAK_DECAY = 0x1.ffe5cap-1f;    // 0.9998000264167786, bits 0x3F7FF2E5
constexpr float RMS_SCALE = 0x1.6a09e6p-7f;     // 0.011048543266952038 ~ 1/sqrt(8192), bits 0x3C3504F3
constexpr float MS_TO_SAMPLES = 0x1.60ccccp+5f; // 44.099998474121094, bits 0x42306666; not rate-scaled

// The running RMS sums can drift below zero by float cancellation after a loud passage; the square
// root of a negative sum would be NaN and the gain would stay NaN for good. The stored sum is kept.
inline float rms_root(float sum) {
    return std::sqrt(sum > 0.0f ? sum : 0.0f);
}

void detect_peak_linked(Compressor *c, const float *block, int n, float *level) {
    float peak = c->peak_left;
    const float input_gain = c->input_gain;
    for (int k = 0; k < n; ++k) {
        float m = (block[2 * k] + block[2 * k + 1]) * 0.5f;
        peak = peak * PEAK_DECAY + ANTI_DENORMAL;
        float a = std::fabs(m);
        if (a > peak) peak = a;
        float l = peak * input_gain;
        level[2 * k] = l;
        level[2 * k + 1] = l;
    }
    c->peak_left = peak;
}

void detect_rms_linked(Compressor *c, const float *block, int n, float *level) {
    float sum = c->rms_sum_left;
    std::int32_t pos = c->rms_position;
    float *ring = c->rms_ring;
    const float input_gain = c->input_gain;
    for (int k = 0; k < n; ++k) {
        float m = (block[2 * k] + block[2 * k + 1]) * 0.5f + ANTI_DENORMAL;
        float sq = m * m;
        sum = sum - ring[pos] + sq;
        ring[pos] = sq;
        float l = rms_root(sum) * RMS_SCALE * input_gain;
        level[2 * k] = l;
        level[2 * k + 1] = l;
        pos = (pos + 1) & (COMP_RMS_WINDOW - 1);
    }
    c->rms_sum_left = sum;
    c->rms_position = pos;
}

void detect_peak_stereo(Compressor *c, const float *block, int n, float *level) {
    float peak_l = c->peak_left, peak_r = c->peak_right;
    const float input_gain = c->input_gain;
    for (int k = 0; k < n; ++k) {
        peak_l = peak_l * PEAK_DECAY + ANTI_DENORMAL;
        float a = std::fabs(block[2 * k]);
        if (a > peak_l) peak_l = a;
        level[2 * k] = peak_l * input_gain;
        peak_r = peak_r * PEAK_DECAY + ANTI_DENORMAL;
        a = std::fabs(block[2 * k + 1]);
        if (a > peak_r) peak_r = a;
        level[2 * k + 1] = peak_r * input_gain;
    }
    c->peak_left = peak_l;
    c->peak_right = peak_r;
}

// The bias goes into the running sums and is never taken out: on silence they creep up by 2^-18 per
// sample.
void detect_rms_stereo(Compressor *c, const float *block, int n, float *level) {
    float sum_l = c->rms_sum_left, sum_r = c->rms_sum_right;
    std::int32_t pos = c->rms_position;
    float *ring = c->rms_ring;
    const float input_gain = c->input_gain;
    for (int k = 0; k < n; ++k) {
        float x = block[2 * k];
        sum_l = sum_l - ring[2 * pos] + ANTI_DENORMAL;
        float sq = x * x;
        sum_l = sum_l + sq;
        ring[2 * pos] = sq;
        level[2 * k] = rms_root(sum_l) * RMS_SCALE * input_gain;
        x = block[2 * k + 1];
        sum_r = sum_r - ring[2 * pos + 1] + ANTI_DENORMAL;
        sq = x * x;
        sum_r = sum_r + sq;
        ring[2 * pos + 1] = sq;
        level[2 * k + 1] = rms_root(sum_r) * RMS_SCALE * input_gain;
        pos = (pos + 1) & (COMP_RMS_WINDOW - 1);
    }
    c->rms_sum_left = sum_l;
    c->rms_sum_right = sum_r;
    c->rms_position = pos;
}

// One side of the gain pass; returns the lookahead position reached.
std::int32_t apply_gain(Compressor *c, float *block, int n, const float *level, int side, float *gain_io) {
    float *line = c->line;
    std::int32_t pos = c->lookahead_position;
    const std::int32_t lookahead = c->lookahead;
    const float input_gain = c->input_gain, output_gain = c->output_gain;
    const float ratio = c->ratio, attack = c->attack, release = c->release;
    float gain = *gain_io;
    for (int k = 0; k < n; ++k) {
        float x = block[2 * k + side];
        float d = line[2 * pos + side];
        line[2 * pos + side] = x * input_gain;
        pos = pos + 1;
        if (pos > lookahead) pos = 0;
        float l = level[2 * k + side];
        float target = l < 1.0f ? 1.0f : 1.0f / (1.0f + (l - 1.0f) * ratio);
        float r = target < gain ? attack : release;
        gain = gain + (target - gain) * r;
        block[2 * k + side] = d * output_gain * gain;
    }
    *gain_io = gain;
    return pos;
}

} // namespace

void comp_set(Compressor *c, const float k[9]) {
    // Only 0 and 1 are meaningful for the stereo switch; any other value would mix its bits into the
    // detector selection, so every nonzero value means separate sides.
    std::int32_t stereo = float_to_int32(k[1]) != 0 ? 1 : 0;
    std::int32_t mode = ((float_to_int32(k[0]) - 1) & 5) + 2 * stereo;
    if (mode != c->previous_mode) {
        c->previous_mode = mode;
        c->peak_left = c->peak_right = 0.0f;
        c->rms_sum_left = c->rms_sum_right = 0.0f;
        std::memset(c->rms_ring, 0, sizeof c->rms_ring);
        c->gain_left = c->gain_right = 1.0f;
    }
    c->mode = mode;

    // Parameters of at most 128 ask for at most 5645 frames; larger ones (a globals byte above 127 is
    // outside the song format) are clamped so that the line, which needs lookahead + 1 frames, is
    // never overrun.
    std::int32_t lookahead = float_to_int32(k[3] * MS_TO_SAMPLES);
    if (lookahead < 0 || lookahead > COMP_LOOKAHEAD_FRAMES - 1) lookahead = COMP_LOOKAHEAD_FRAMES - 1;
    c->lookahead = lookahead;

    float threshold = 8.0f * exp_curve10(k[4] / 128.0f);
    c->input_gain = 1.0f / threshold;
    float makeup = float_to_int32(k[2]) != 0 ? 1.0f : threshold;
    c->output_gain = makeup * exp2((k[8] - 64.0f) / 16.0f);
    c->ratio = k[5] / 128.0f;
    c->attack = exp2(-12.0f * k[6] / 128.0f);
    c->release = exp2(-16.0f * k[7] / 128.0f);
}

void comp_process(Compressor *c, float *block, int n, float *level_buffer) {
    if (c->mode & COMP_OFF_BIT) return;
    switch (c->mode & 3) {
    case COMP_PEAK_LINKED:
        detect_peak_linked(c, block, n, level_buffer);
        break;
    case COMP_RMS_LINKED:
        detect_rms_linked(c, block, n, level_buffer);
        break;
    case COMP_PEAK_STEREO:
        detect_peak_stereo(c, block, n, level_buffer);
        break;
    default:
        detect_rms_stereo(c, block, n, level_buffer);
        break;
    }
    apply_gain(c, block, n, level_buffer, 0, &c->gain_left);
    c->lookahead_position = apply_gain(c, block, n, level_buffer, 1, &c->gain_right);
}
