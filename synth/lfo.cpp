#include "synth/lfo.h"

#include "platform/clock.h"
#include "synth/numeric.h"

namespace {

constexpr std::uint32_t HALF_CYCLE = 0x80000000u;
constexpr float TWO_PI = 6.2831854820251465f;

float wave_value(LfoState *l) {
    const std::uint32_t phase = l->phase;
    switch (l->mode & 7) {
    case LFO_WAVE_TRIANGLE: {
        std::uint32_t d = phase * 2u;
        if (phase >= HALF_CYCLE) d = ~d;
        return phase_to_unit(d);
    }
    case LFO_WAVE_PULSE:
        return phase < HALF_CYCLE ? 0.0f : phase_to_unit(0xFFFFFFFFu);
    case LFO_WAVE_SINE:
        return 0.5f + 0.5f * fast_sin(TWO_PI * phase_to_unit(phase));
    case LFO_WAVE_SAMPLE_HOLD:
        // A new value once per cycle: phase below the last one means it wrapped (or was re-synced).
        if (phase < l->lastPhase) l->randomState = next_random(l->randomState);
        l->lastPhase = phase;
        return phase_to_unit(l->randomState);
    default: // Saw, and the unused values 5..7
        return phase_to_unit(phase);
    }
}

} // namespace

void lfo_set(LfoState *l, const float *p) {
    l->mode = float_to_int32(p[0]);
    l->keySync = float_to_int32(p[1]);
    l->envMode = float_to_int32(p[2]);
    l->increment =
        static_cast<std::uint32_t>(float_to_int32(exp_curve10(p[3] * INV_128) * 2147483648.0f * 0.5f));
    l->startPhase = static_cast<std::uint32_t>(float_to_int32(p[4] * INV_128 * 2147483648.0f)) * 2u;
    const float a = p[6];
    const std::int32_t polarity = float_to_int32(p[5]) & 0xFF;
    l->offset = polarity == LFO_BIPOLAR ? -a * 0.5f : 0.0f;
    l->amplitude = polarity == LFO_NEGATIVE ? -a : a;
}

void lfo_tick(LfoState *l) {
    const float w = wave_value(l);
    l->output = w * l->amplitude + l->offset;
    const std::uint32_t next = l->phase + l->increment;
    // Envelope mode: after the first wrap the phase sticks at the end of the cycle.
    l->phase = (next < l->phase && l->envMode != 0) ? 0xFFFFFFFFu : next;
}

void lfo_note_start(LfoState *l) {
    if (l->keySync == 0) return;
    l->phase = l->startPhase;
    l->lastPhase = 0xFFFFFFFFu;
}

void lfo_reset(LfoState *l) {
    l->phase = 0;
    l->lastPhase = 0;
    l->randomState = static_cast<std::uint32_t>(clock_read_cycles());
}
