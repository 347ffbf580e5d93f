#include "synth/oscillator.h"

#include "synth/numeric.h"
#include "synth/rate.h"

namespace {

constexpr float PI = 3.1415927410125732f;          // single pi
constexpr float THREE_HALF_PI = 4.71238899230957f; // single 3pi/2
constexpr float TWO_PI = 6.2831854820251465f;      // single 2pi
constexpr float AUX_LEVEL = 0.6000000238418579f;   // single 0.6

// Add (or multiply, with ring) a sample into the buffer: triangle/saw, pulse, sine and noise.
inline void mix_in(float *b, float sample, bool ring) {
    *b = ring ? *b * sample : *b + sample;
}
// Replace (or multiply, with ring): FM sine and aux.
inline void replace(float *b, float sample, bool ring) {
    *b = ring ? *b * sample : sample;
}

// Segment index of a band-limited sample: bit 2 previous phase below the threshold, bit 1 a wrap
// since the previous sample, bit 0 current phase below the threshold.
inline int segment(std::uint32_t phase, std::uint32_t inc, std::uint32_t threshold) {
    std::uint32_t prev = phase - inc;
    return (prev < threshold ? 4 : 0) | (phase < inc ? 2 : 0) | (phase < threshold ? 1 : 0);
}

void render_tri_saw(OscillatorState *o, float *buf, int n, bool ring) {
    const std::uint32_t inc = static_cast<std::uint32_t>(o->increment);
    std::uint32_t threshold = o->colourThreshold;
    std::uint32_t phase = o->phase;
    const float volume = o->volume;
    const float df = phase_to_unit(inc);
    const float c = phase_to_unit(threshold);
    // A threshold below one fraction step (c == 0) is a falling saw: never enter the rising part,
    // whose slope volume / c would be infinite.
    if (c == 0.0f) threshold = 0;
    const float A = volume / c;
    const float B = -volume / (1.0f - c);
    if (df == 0.0f) {
        // Increment below one fraction step: the mean over the sample would divide by zero; use the
        // ideal waveform's value at the phase instead.
        for (int i = 0; i < n; i++) {
            float u = phase_to_unit(phase) - c;
            float s = phase < threshold ? volume + 2.0f * A * u : volume + 2.0f * B * u;
            mix_in(&buf[i], s, ring);
            phase += inc;
        }
        o->phase = phase;
        return;
    }
    const float inv_df = 1.0f / df;
    for (int i = 0; i < n; i++) {
        const float u = phase_to_unit(phase) - c;
        float s;
        switch (segment(phase, inc, threshold)) {
        case 0:
        case 6: // falling part only
            s = volume + B * (2.0f * u - df);
            break;
        case 1:
        case 5: // rising part only
            s = volume + A * (2.0f * u - df);
            break;
        case 4: { // the peak at c
            float w = u - df;
            s = volume + (B * (u * u) - A * (w * w)) * inv_df;
            break;
        }
        case 3: { // the cycle end, falling into rising
            float w = 1.0f + u - df;
            s = volume - (volume + B * (w * w) - A * (u * u)) * inv_df;
            break;
        }
        case 2: // a wrap: the whole rising part and the peak
            s = volume - (volume + B * (1.0f - df) * (2.0f * u + 1.0f - df)) * inv_df;
            break;
        default: // 7: the peak, the falling part and a wrap
            s = volume - (volume + A * (1.0f - df) * (2.0f * u + 1.0f - df)) * inv_df;
            break;
        }
        mix_in(&buf[i], s, ring);
        phase += inc;
    }
    o->phase = phase;
}

void render_pulse(OscillatorState *o, float *buf, int n, bool ring) {
    const std::uint32_t inc = static_cast<std::uint32_t>(o->increment);
    const std::uint32_t threshold = o->colourThreshold;
    std::uint32_t phase = o->phase;
    const float volume = o->volume;
    const float df = phase_to_unit(inc);
    const float c = phase_to_unit(threshold);
    if (df == 0.0f) {
        // Increment below one fraction step: the ideal waveform's value at the phase.
        for (int i = 0; i < n; i++) {
            mix_in(&buf[i], phase < threshold ? volume : -volume, ring);
            phase += inc;
        }
        o->phase = phase;
        return;
    }
    const float V = volume / df;
    for (int i = 0; i < n; i++) {
        const float x = phase_to_unit(phase);
        float s;
        switch (segment(phase, inc, threshold)) {
        case 0:
        case 6: // low part only
            s = -volume;
            break;
        case 1:
        case 5: // high part only
            s = volume;
            break;
        case 4: // falling edge at c
            s = volume - 2.0f * (x - c) * V;
            break;
        case 3: // rising edge at the cycle end
            s = 2.0f * x * V - volume;
            break;
        case 2: // a wrap and the whole high part
            s = 2.0f * c * V - volume;
            break;
        default: // 7: falling edge, the whole low part and a wrap
            s = volume - 2.0f * (1.0f - c) * V;
            break;
        }
        mix_in(&buf[i], s, ring);
        phase += inc;
    }
    o->phase = phase;
}

void render_sine(OscillatorState *o, float *buf, int n, bool ring) {
    const std::uint32_t inc = static_cast<std::uint32_t>(o->increment);
    std::uint32_t phase = o->phase;
    const float volume = o->volume;
    for (int i = 0; i < n; i++) {
        std::uint32_t q = phase + 0x40000000u; // a quarter cycle ahead
        if (q >= 0x80000000u) q = ~q;
        // 1 + floor(q / 256) / 2^23, in [1, 2)
        float y = phase_to_one_two(q << 1);
        float t = PI * y - THREE_HALF_PI;
        mix_in(&buf[i], volume * sine_poly(t), ring);
        phase += inc;
    }
    o->phase = phase;
}

void render_noise(OscillatorState *o, float *buf, int n, bool ring) {
    std::uint32_t seed = o->noiseSeed;
    float low = o->noiseLow;
    float band = o->noiseBand;
    const float freq = o->noiseFreq;
    const float damp = o->noiseDamp;
    const float volume = o->volume;
    for (int i = 0; i < n; i++) {
        seed = next_random(seed);
        float r = random_to_bipolar(seed);
        low = low + freq * band;
        float high = r - damp * band - low;
        band = band + freq * high;
        mix_in(&buf[i], volume * ((high + low) * damp + band), ring);
    }
    o->noiseSeed = seed;
    o->noiseLow = low;
    o->noiseBand = band;
}

void render_fm_sine(OscillatorState *o, float *buf, int n, bool ring) {
    const std::uint32_t inc = static_cast<std::uint32_t>(o->increment);
    std::uint32_t phase = o->phase;
    const float volume = o->volume;
    for (int i = 0; i < n; i++) {
        float m = buf[i];
        float s = volume * fast_sin(TWO_PI * (2.0f * m + phase_to_one_two(phase)));
        replace(&buf[i], s, ring);
        phase += inc;
    }
    o->phase = phase;
}

void render_aux(const OscillatorState *o, float *buf, int n, bool ring, const float *bus) {
    const float volume = o->volume;
    for (int i = 0; i < n; i++) {
        float sum = bus ? bus[2 * i] + bus[2 * i + 1] : 0.0f;
        replace(&buf[i], sum * volume * AUX_LEVEL, ring);
    }
}

} // namespace

void osc_set(OscillatorState *o, const float *p) {
    o->mode = float_to_int32(p[0]);
    o->ring = float_to_int32(p[1]);
    o->pitchOffset = (p[2] - 64.0f) + (p[3] - 64.0f) * INV_128;
    osc_update_pitch(o);
    o->volume = p[5] * INV_128;
    const float c = p[4] * INV_128;
    // Colour 128 gives c * 2^31 = 2^31, which converts to 0x80000000 and doubles to 0: same as colour 0.
    o->colourThreshold = 2u * static_cast<std::uint32_t>(float_to_int32(c * 2147483648.0f));
    o->noiseDamp = 1.0f - exact_sqrt(c);
}

void osc_update_pitch(OscillatorState *o) {
    o->noiseFreq = exp_curve10((o->pitchOffset + 64.0f) * INV_128) * rate_correction;
    o->increment = float_to_int32(exp2((o->pitchOffset + o->note - 60.0f) * INV_12) * middle_c_increment);
}

void osc_reset(OscillatorState *o, int index) {
    o->phase = 0;
    o->noiseLow = 0.0f;
    o->noiseBand = 0.0f;
    o->noiseSeed = OSC_NOISE_SEEDS[index];
}

void osc_render(OscillatorState *o, float *buffer, int n, const float *aux_a, const float *aux_b) {
    const bool ring = (o->ring & 1) != 0;
    switch (o->mode & 7) {
    case OSC_TRI_SAW:
        render_tri_saw(o, buffer, n, ring);
        break;
    case OSC_PULSE:
        render_pulse(o, buffer, n, ring);
        break;
    case OSC_SINE:
        render_sine(o, buffer, n, ring);
        break;
    case OSC_NOISE:
        render_noise(o, buffer, n, ring);
        break;
    case OSC_FM_SINE:
        render_fm_sine(o, buffer, n, ring);
        break;
    case OSC_AUX_A:
        render_aux(o, buffer, n, ring, aux_a);
        break;
    case OSC_AUX_B:
        render_aux(o, buffer, n, ring, aux_b);
        break;
    default: // OSC_OFF
        break;
    }
}
