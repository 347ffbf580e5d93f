#include "synth/voice.h"

#include "synth/numeric.h"
#include "synth/rate.h"

namespace {

void set_oscillator_notes(VoiceState *v) {
    const float note = static_cast<float>(v->note) + v->transpose;
    v->osc1.note = note;
    v->osc2.note = note;
    v->osc3.note = note;
}

} // namespace

void voice_reset(VoiceState *v) {
    osc_reset(&v->osc1, 0);
    osc_reset(&v->osc2, 1);
    osc_reset(&v->osc3, 2);
    env_reset(&v->env1);
    env_reset(&v->env2);
    filter_reset(&v->filter1);
    filter_reset(&v->filter2);
    lfo_reset(&v->lfo1);
    lfo_reset(&v->lfo2);
    dist_reset(&v->distortion);
    dc_reset(&v->dcFilter);
}

void voice_set(VoiceState *v, const float *p) {
    v->transpose = p[1] - 64.0f;
    set_oscillator_notes(v);
    v->routing = float_to_int32(p[26]);
    v->keySync = float_to_int32(p[58]);

    const float x = p[0] * INV_128;
    v->gainLeft = exact_sqrt(1.0f - x);
    v->gainRight = exact_sqrt(x);

    const float b = (p[27] - 64.0f) * 0.015625f;
    if (float_to_int32(p[27] - 64.0f) >= 0) {
        v->filter1Gain = 1.0f - b;
        v->filter2Gain = 1.0f;
    } else {
        v->filter1Gain = 1.0f;
        v->filter2Gain = 1.0f + b;
    }

    osc_set(&v->osc1, p + 2);
    osc_set(&v->osc2, p + 8);
    osc_set(&v->osc3, p + 14);
    env_set(&v->env1, p + 32);
    env_set(&v->env2, p + 38);
    filter_set(&v->filter1, p + 20);
    filter_set(&v->filter2, p + 23);
    lfo_set(&v->lfo1, p + 44);
    lfo_set(&v->lfo2, p + 51);
    dist_set(&v->distortion, p + 28);
}

void voice_tick(VoiceState *v) {
    env_tick(&v->env1, v->gate);
    env_tick(&v->env2, v->gate);
    lfo_tick(&v->lfo1);
    lfo_tick(&v->lfo2);
    v->ampStep = (v->env1.output * INV_128 - v->amp) * inverse_frame_length;
}

void voice_render(VoiceState *v, std::int32_t n, float *voice_buffer, float *second_buffer,
                  float *channel_buffer, const float *aux_a, const float *aux_b) {
    for (std::int32_t i = 0; i < n; ++i) voice_buffer[i] = 0.0f;
    osc_render(&v->osc1, voice_buffer, n, aux_a, aux_b);
    osc_render(&v->osc2, voice_buffer, n, aux_a, aux_b);
    osc_render(&v->osc3, voice_buffer, n, aux_a, aux_b);

    switch (v->routing) {
    case ROUTING_PARALLEL: {
        filter_render_parallel(&v->filter1, &v->filter2, voice_buffer, second_buffer, n);
        const float g1 = v->filter1Gain;
        const float g2 = v->filter2Gain;
        for (std::int32_t i = 0; i < n; ++i) voice_buffer[i] = voice_buffer[i] * g1 + second_buffer[i] * g2;
        break;
    }
    case ROUTING_SINGLE:
        filter_render(&v->filter1, voice_buffer, voice_buffer, n);
        break;
    default: // serial: every other value
        filter_render_serial(&v->filter1, &v->filter2, voice_buffer, n);
        break;
    }

    dist_render_mono(&v->distortion, voice_buffer, voice_buffer, n);
    dc_filter_mono(&v->dcFilter, voice_buffer, voice_buffer, n);

    float amp = v->amp;
    const float step = v->ampStep;
    const float gl = v->gainLeft;
    const float gr = v->gainRight;
    for (std::int32_t i = 0; i < n; ++i) {
        const float s = voice_buffer[i] * amp;
        amp = amp + step;
        channel_buffer[2 * i] = (s * gl + ANTI_DENORMAL) + channel_buffer[2 * i];
        channel_buffer[2 * i + 1] = (s * gr + ANTI_DENORMAL) + channel_buffer[2 * i + 1];
    }
    v->amp = amp;
}

void voice_note_start(VoiceState *v, std::int32_t note, std::int32_t velocity) {
    v->note = note;
    set_oscillator_notes(v);
    v->velocity = static_cast<float>(velocity);
    v->gate = 1;
    v->env1.state = ENV_STAGE_ATTACK;
    v->env2.state = ENV_STAGE_ATTACK;
    if (v->keySync != KEY_SYNC_FREE) {
        v->osc1.phase = 0;
        v->osc2.phase = 0;
        v->osc3.phase = 0;
    }
    if (v->keySync == KEY_SYNC_RESTART) {
        v->env1.level = 0.0f;
        v->env2.level = 0.0f;
        v->amp = 0.0f;
        osc_reset(&v->osc1, 0);
        osc_reset(&v->osc2, 1);
        osc_reset(&v->osc3, 2);
        filter_reset(&v->filter1);
        filter_reset(&v->filter2);
        dist_reset(&v->distortion);
    }
    osc_update_pitch(&v->osc1);
    osc_update_pitch(&v->osc2);
    osc_update_pitch(&v->osc3);
    lfo_note_start(&v->lfo1);
    lfo_note_start(&v->lfo2);
    dc_reset(&v->dcFilter);
}

void voice_release(VoiceState *v) {
    v->gate = 0;
}
