#include "synth/global_effects.h"

#include "synth/numeric.h"
#include "synth/rate.h"
#include "synth/synth_state.h"

#include <cfenv>
#include <cstring>

namespace {

// Base gains of the four combs and two all-passes, raised to the decay exponent by reverb_set.
constexpr float REVERB_BASE_GAIN[6] = {
    0x1.eec9f6p-1f, // 0.96638459, bits 0x3F7764FB
    0x1.ea9768p-1f, // 0.95818639, bits 0x3F754BB4
    0x1.e8565ep-1f, // 0.95378393, bits 0x3F742B2F
    0x1.e6e0b6p-1f, // 0.95093316, bits 0x3F73705B
    0x1.fd0fa8p-1f, // 0.99426007, bits 0x3F7E87D4
    0x1.feffb8p-1f, // 0.99804473, bits 0x3F7F7FDC
};

constexpr int line_offset(int line) {
    int offset = 0;
    for (int i = 0; i < line; ++i) offset += REVERB_LINE_LENGTHS[i];
    return offset;
}
static_assert(line_offset(12) == REVERB_LINE_TOTAL);

// One side of the reverb: four parallel damped combs into two series all-passes and a one-pole low
// cut; adds into out[2k + side].
template <int Side>
void reverb_side(Reverb *r, const float *send, float *out, int n) {
    constexpr int L = 6 * Side; // first line of this side
    float *const c1 = r->lines + line_offset(L + 0);
    float *const c2 = r->lines + line_offset(L + 1);
    float *const c3 = r->lines + line_offset(L + 2);
    float *const c4 = r->lines + line_offset(L + 3);
    float *const a1 = r->lines + line_offset(L + 4);
    float *const a2 = r->lines + line_offset(L + 5);
    constexpr int n1 = REVERB_LINE_LENGTHS[L + 0], n2 = REVERB_LINE_LENGTHS[L + 1];
    constexpr int n3 = REVERB_LINE_LENGTHS[L + 2], n4 = REVERB_LINE_LENGTHS[L + 3];
    constexpr int n5 = REVERB_LINE_LENGTHS[L + 4], n6 = REVERB_LINE_LENGTHS[L + 5];
    std::int32_t p1 = r->position[L + 0], p2 = r->position[L + 1], p3 = r->position[L + 2];
    std::int32_t p4 = r->position[L + 3], p5 = r->position[L + 4], p6 = r->position[L + 5];
    float s1 = r->comb_state[4 * Side + 0], s2 = r->comb_state[4 * Side + 1];
    float s3 = r->comb_state[4 * Side + 2], s4 = r->comb_state[4 * Side + 3];
    float low = r->low_cut_state[Side];
    const float g0 = r->gain[0], g1 = r->gain[1], g2 = r->gain[2], g3 = r->gain[3];
    const float g4 = r->gain[4], g5 = r->gain[5];
    const float input_gain = r->input_gain, damping = r->damping, low_cut = r->low_cut;
    for (int k = 0; k < n; ++k) {
        const float in = send[k] * input_gain + ANTI_DENORMAL;
        float v = g0 * c1[p1] + in;
        s1 = s1 + (v - s1) * damping;
        c1[p1] = s1;
        if (++p1 == n1) p1 = 0;
        v = g1 * c2[p2] - in;
        s2 = s2 + (v - s2) * damping;
        c2[p2] = s2;
        if (++p2 == n2) p2 = 0;
        v = g2 * c3[p3] + in;
        s3 = s3 + (v - s3) * damping;
        c3[p3] = s3;
        if (++p3 == n3) p3 = 0;
        v = g3 * c4[p4] - in;
        s4 = s4 + (v - s4) * damping;
        c4[p4] = s4;
        if (++p4 == n4) p4 = 0;
        const float sum = s1 + s2 + s3 + s4;

        float d = a1[p5];
        float w = sum + g4 * d;
        a1[p5] = w;
        const float y1 = d - g4 * w;
        if (++p5 == n5) p5 = 0;
        d = a2[p6];
        w = y1 + g5 * d;
        a2[p6] = w;
        const float y = d - g5 * w;
        if (++p6 == n6) p6 = 0;

        low = low + (y - low) * low_cut;
        out[2 * k + Side] += y - low;
    }
    r->position[L + 0] = p1;
    r->position[L + 1] = p2;
    r->position[L + 2] = p3;
    r->position[L + 3] = p4;
    r->position[L + 4] = p5;
    r->position[L + 5] = p6;
    r->comb_state[4 * Side + 0] = s1;
    r->comb_state[4 * Side + 1] = s2;
    r->comb_state[4 * Side + 2] = s3;
    r->comb_state[4 * Side + 3] = s4;
    r->low_cut_state[Side] = low;
}

template <bool HighCut>
void cut_side(CutFilter *f, float *block, int n, int side) {
    const float lc = f->low_cut, hc = f->high_cut;
    float low = f->low_state[side], high = f->high_state[side];
    for (int k = 0; k < n; ++k) {
        const float h = block[2 * k + side] - low;
        low = low + lc * h;
        if constexpr (HighCut) {
            high = high + hc * (h - high);
            block[2 * k + side] = high;
        } else {
            block[2 * k + side] = h;
        }
    }
    f->low_state[side] = low;
    f->high_state[side] = high;
}

} // namespace

void reverb_set(Reverb *r, float p0, float p1, float p2, float p3) {
    const float t = 64.0f / (p0 + 1.0f);
    const float x = t * t * rate_correction;
    for (int i = 0; i < 6; ++i) r->gain[i] = power(REVERB_BASE_GAIN[i], x);
    r->damping = p1 / 128.0f * rate_correction;
    const float q = p2 / 128.0f;
    r->low_cut = q * q * q * q * rate_correction;
    r->input_gain = p3 / 128.0f;
}

void reverb_clear(Reverb *r) {
    std::memset(r->position, 0, sizeof r->position);
    std::memset(r->comb_state, 0, sizeof r->comb_state);
    std::memset(r->low_cut_state, 0, sizeof r->low_cut_state);
    std::memset(r->lines, 0, sizeof r->lines);
}

void reverb_process(Reverb *r, const float *send, float *out, int n) {
    // A tail that has decayed to the edge of the float range is traded for zeros: the underflow flag
    // is cleared here and read right after the block, with nothing else in between. The two sides
    // share only their input, so running them one after the other gives the same values as
    // interleaving them.
    std::feclearexcept(FE_UNDERFLOW);
    reverb_side<0>(r, send, out, n);
    reverb_side<1>(r, send, out, n);
    if (std::fetestexcept(FE_UNDERFLOW)) reverb_clear(r);
}

void cut_process(CutFilter *f, float *block, int n) {
    std::uint32_t bits;
    std::memcpy(&bits, &f->high_cut, sizeof bits);
    if (bits == 0x3F800000u) {
        cut_side<false>(f, block, n, 0);
        cut_side<false>(f, block, n, 1);
    } else {
        cut_side<true>(f, block, n, 0);
        cut_side<true>(f, block, n, 1);
    }
}

void global_effects_init(SynthState *s) {
    std::memset(&s->reverb, 0, sizeof s->reverb);
    moddelay_attach(&s->global_delay, s->global_delay_lines[0], s->global_delay_lines[1], GLOBAL_DELAY_MASK);
    moddelay_init(&s->global_delay);
    s->main_compressor.mode = 2;
    dc_reset(&s->main_dc);
}

void synth_set_globals(SynthState *s, const std::uint8_t *globals_block) {
    // Bytes above 127 are outside the song format. Taken as they are, they drive the cut filters, the
    // reverb's damping and low cut and the delay feedback past 1, the chain grows without bound and
    // the first infinity leaves NaN in main_bus for the rest of the song; they are held at 127.
    float *p = s->global_settings;
    for (int i = 0; i < GLOBALS_BLOCK_SIZE; ++i)
        p[i] = static_cast<float>(globals_block[i] > GLOBALS_BYTE_MAX ? GLOBALS_BYTE_MAX : globals_block[i]);
    reverb_set(&s->reverb, p[0], p[1], p[2], p[3]);
    moddelay_set(&s->global_delay, p + 4);
    comp_set(&s->main_compressor, p + 13);
    const float low = (p[11] + 1.0f) * 0.0078125f;
    const float high = (p[12] + 1.0f) * 0.0078125f;
    s->cut_filter.low_cut = low * low;
    s->cut_filter.high_cut = high * high;
}

void mix_frame(SynthState *s) {
    const int n = frame_length;
    std::memset(s->main_bus, 0, sizeof(float) * 2 * n);
    std::memset(s->reverb_bus, 0, sizeof(float) * n);
    std::memset(s->delay_bus, 0, sizeof(float) * n);
    std::memset(s->aux_bus_a, 0, sizeof(float) * 2 * n);
    std::memset(s->aux_bus_b, 0, sizeof(float) * 2 * n);
    for (int ch = 0; ch < CHANNEL_COUNT; ++ch) {
        bool owned = false;
        for (int v = 0; v < VOICE_COUNT && !owned; ++v) owned = s->voice_channel[v] == ch;
        if (!owned) continue;
        std::memset(s->channel_buffer, 0, sizeof(float) * 2 * n);
        synth_render_channel_voices(s, ch, n);
        if (ch == 15) speech_process(&s->speech, s->channel_buffer, n); // the voices become speech
        channel_process(s, ch, n);
    }
    reverb_process(&s->reverb, s->reverb_bus, s->main_bus, n);
    moddelay_process_send(&s->global_delay, s->delay_bus, s->main_bus, n);
    dc_filter_stereo(&s->main_dc, s->main_bus, s->main_bus, n);
    cut_process(&s->cut_filter, s->main_bus, n);
    comp_process(&s->main_compressor, s->main_bus, n, s->level_buffer);
}
