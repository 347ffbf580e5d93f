#include "synth/channel.h"

#include "synth/numeric.h"
#include "synth/rate.h"
#include "synth/synth_state.h"

#include <cmath>
#include <cstring>

namespace {

constexpr float SEND_SCALE = 0x1.333334p-1f; // 0.6000000238418579, bits 0x3F19999A

// A gain of exactly +0.0 skips the step it controls.
inline bool is_nonzero(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits != 0;
}

void boost_side(BassBoost *b, float *block, int n, int side) {
    const float a1 = b->a1, a2 = b->a2, b0 = b->b0, b1 = b->b1, b2 = b->b2;
    float x1 = b->x1[side], x2 = b->x2[side], y1 = b->y1[side], y2 = b->y2[side];
    for (int k = 0; k < n; ++k) {
        float x = block[2 * k + side] + ANTI_DENORMAL;
        float y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        block[2 * k + side] = y;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
    b->x1[side] = x1;
    b->x2[side] = x2;
    b->y1[side] = y1;
    b->y2[side] = y2;
}

// dst += src x gain over `count` floats. Written four at a time so the compiler can use packed
// arithmetic; every element gets the same single multiply and add as in a plain loop.
void add_scaled(float *__restrict dst, const float *__restrict src, float gain, int count) {
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        dst[i] += src[i] * gain;
        dst[i + 1] += src[i + 1] * gain;
        dst[i + 2] += src[i + 2] * gain;
        dst[i + 3] += src[i + 3] * gain;
    }
    for (; i < count; ++i) dst[i] += src[i] * gain;
}

// mono bus += (L + R) x gain; the sides are summed, not averaged.
void add_mono_send(float *__restrict bus, const float *__restrict block, float gain, int n) {
    for (int k = 0; k < n; ++k) bus[k] += (block[2 * k] + block[2 * k + 1]) * gain;
}

} // namespace

void boost_set(BassBoost *b, float c8) {
    b->enabled = float_to_int32(c8);
    if (b->enabled == 0) return;
    const float A = exp2(c8 / 128.0f);
    const float s = boost_sin, c = boost_cos;
    const float beta = std::sqrt((A * A + 1.0f) - (A - 1.0f) * (A - 1.0f)) * s;
    const float a0 = (A + 1.0f) + (A - 1.0f) * c + beta;
    b->a1 = -2.0f * ((A - 1.0f) + (A + 1.0f) * c) / a0;
    b->a2 = ((A + 1.0f) + (A - 1.0f) * c - beta) / a0;
    b->b0 = A * ((A + 1.0f) - (A - 1.0f) * c + beta) / a0;
    b->b1 = 2.0f * A * ((A - 1.0f) - (A + 1.0f) * c) / a0;
    b->b2 = A * ((A + 1.0f) - (A - 1.0f) * c - beta) / a0;
}

void boost_process(BassBoost *b, float *block, int n) {
    if (b->enabled == 0) return;
    boost_side(b, block, n, 0);
    boost_side(b, block, n, 1);
}

void channel_fx_init(ChannelFx *c) {
    dist_reset(&c->distortion);
    moddelay_init(&c->chorus);
    c->compressor.mode = 2;
    dc_reset(&c->input_dc);
    dc_reset(&c->output_dc);
}

void channel_fx_set(ChannelFx *c, const float p[CHANNEL_PARAM_COUNT]) {
    c->volume = p[0] / 128.0f * SEND_SCALE;
    c->aux_a_receive = p[1] / 128.0f;
    c->aux_b_receive = p[2] / 128.0f;
    c->aux_a_send = p[3] / 128.0f * SEND_SCALE;
    c->aux_b_send = p[4] / 128.0f * SEND_SCALE;
    c->reverb_send = p[5] / 128.0f * SEND_SCALE * c->volume;
    c->delay_send = p[6] / 128.0f * SEND_SCALE * c->volume;
    c->fx_order = float_to_int32(p[7]);
    dist_set(&c->distortion, p + 9);
    moddelay_set(&c->chorus, p + 13);
    comp_set(&c->compressor, p + 20);
    boost_set(&c->bass_boost, p[8]);
}

void channel_fx_process(ChannelFx *c, float *block, const ChannelBuses *buses, int n) {
    const int count = 2 * n;
    if (is_nonzero(c->aux_a_receive)) add_scaled(block, buses->aux_bus_a, c->aux_a_receive, count);
    if (is_nonzero(c->aux_b_receive)) add_scaled(block, buses->aux_bus_b, c->aux_b_receive, count);
    dc_filter_stereo(&c->input_dc, block, block, n);
    comp_process(&c->compressor, block, n, buses->level_buffer);
    boost_process(&c->bass_boost, block, n);
    if (c->fx_order == 0) {
        dist_render_stereo(&c->distortion, block, block, n);
        dc_filter_stereo(&c->output_dc, block, block, n);
        moddelay_process(&c->chorus, block, n);
    } else {
        moddelay_process(&c->chorus, block, n);
        dist_render_stereo(&c->distortion, block, block, n);
        dc_filter_stereo(&c->output_dc, block, block, n);
    }
    if (is_nonzero(c->reverb_send)) add_mono_send(buses->reverb_bus, block, c->reverb_send, n);
    if (is_nonzero(c->delay_send)) add_mono_send(buses->delay_bus, block, c->delay_send, n);
    if (is_nonzero(c->aux_a_send)) add_scaled(buses->aux_bus_a, block, c->aux_a_send, count);
    if (is_nonzero(c->aux_b_send)) add_scaled(buses->aux_bus_b, block, c->aux_b_send, count);
    add_scaled(buses->main_bus, block, c->volume, count);
}

void channel_init(SynthState *s, int ch) {
    channel_fx_init(&s->channels[ch]);
}

void channel_prepare(SynthState *s, int ch) {
    synth_refresh_channel_params(s, ch, s->channel_params[ch]);
    channel_set(s, ch);
}

void channel_set(SynthState *s, int ch) {
    channel_fx_set(&s->channels[ch], s->channel_params[ch]);
}

void channel_process(SynthState *s, int ch, int n) {
    const ChannelBuses buses{s->main_bus,  s->reverb_bus, s->delay_bus,
                             s->aux_bus_a, s->aux_bus_b,  s->level_buffer};
    channel_fx_process(&s->channels[ch], s->channel_buffer, &buses, n);
}
