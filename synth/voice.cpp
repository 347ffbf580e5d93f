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

namespace {

void render_oscillators(VoiceState *v, std::int32_t n, float *voice_buffer, const float *aux_a,
                        const float *aux_b) {
    for (std::int32_t i = 0; i < n; ++i) voice_buffer[i] = 0.0f;
    osc_render(&v->osc1, voice_buffer, n, aux_a, aux_b);
    osc_render(&v->osc2, voice_buffer, n, aux_a, aux_b);
    osc_render(&v->osc3, voice_buffer, n, aux_a, aux_b);
}

// The parallel routing's balance: filter 1's output (in place) plus filter 2's.
void balance(const VoiceState *v, float *voice_buffer, const float *second_buffer, std::int32_t n) {
    const float g1 = v->filter1Gain;
    const float g2 = v->filter2Gain;
    for (std::int32_t i = 0; i < n; ++i) voice_buffer[i] = voice_buffer[i] * g1 + second_buffer[i] * g2;
}

void render_filters(VoiceState *v, std::int32_t n, float *voice_buffer, float *second_buffer) {
    switch (v->routing) {
    case ROUTING_PARALLEL:
        filter_render_parallel(&v->filter1, &v->filter2, voice_buffer, second_buffer, n);
        balance(v, voice_buffer, second_buffer, n);
        break;
    case ROUTING_SINGLE:
        filter_render(&v->filter1, voice_buffer, voice_buffer, n);
        break;
    default: // serial: every other value
        filter_render_serial(&v->filter1, &v->filter2, voice_buffer, n);
        break;
    }
}

// Amplitude ramp and pan into the channel buffer.
void mix_into_channel(VoiceState *v, std::int32_t n, const float *voice_buffer, float *channel_buffer) {
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

int routing_kind(std::int32_t routing) {
    return routing == ROUTING_PARALLEL || routing == ROUTING_SINGLE ? routing : ROUTING_SERIAL;
}

// True when the voices' filter stages can run as one four-lane pass.
bool filters_packable(VoiceState *const voices[], int count) {
    const VoiceState *a = voices[0];
    for (int l = 0; l < count; ++l) {
        const VoiceState *b = voices[l];
        if (routing_kind(b->routing) != routing_kind(a->routing)) return false;
        if (!filter_quad_compatible(&a->filter1, &b->filter1)) return false;
        if (!filter_quad_compatible(&a->filter2, &b->filter2)) return false;
    }
    return true;
}

} // namespace

void voice_render(VoiceState *v, std::int32_t n, float *voice_buffer, float *second_buffer,
                  float *channel_buffer, const float *aux_a, const float *aux_b) {
    render_oscillators(v, n, voice_buffer, aux_a, aux_b);
    render_filters(v, n, voice_buffer, second_buffer);
    dist_render_mono(&v->distortion, voice_buffer, voice_buffer, n);
    dc_filter_mono(&v->dcFilter, voice_buffer, voice_buffer, n);
    mix_into_channel(v, n, voice_buffer, channel_buffer);
}

void voice_render_group(VoiceState *const voices[], int count, std::int32_t n,
                        float *const buffers[VOICE_GROUP], float *const second_buffers[VOICE_GROUP],
                        float *channel_buffer, const float *aux_a, const float *aux_b) {
    if (count == 1) {
        voice_render(voices[0], n, buffers[0], second_buffers[0], channel_buffer, aux_a, aux_b);
        return;
    }
    for (int l = 0; l < count; ++l) render_oscillators(voices[l], n, buffers[l], aux_a, aux_b);

    // Unused lanes repeat lane 0 on copies of its states, so they carry ordinary values.
    if (filters_packable(voices, count)) {
        FilterState spare1[VOICE_GROUP], spare2[VOICE_GROUP];
        FilterState *first[VOICE_GROUP], *second[VOICE_GROUP];
        for (int l = 0; l < VOICE_GROUP; ++l) {
            if (l < count) {
                first[l] = &voices[l]->filter1;
                second[l] = &voices[l]->filter2;
            } else {
                spare1[l] = voices[0]->filter1;
                spare2[l] = voices[0]->filter2;
                first[l] = &spare1[l];
                second[l] = &spare2[l];
                for (std::int32_t i = 0; i < n; ++i) buffers[l][i] = buffers[0][i];
            }
        }
        switch (routing_kind(voices[0]->routing)) {
        case ROUTING_PARALLEL:
            filter_render_parallel_quad(first, second, buffers, second_buffers, n);
            for (int l = 0; l < count; ++l) balance(voices[l], buffers[l], second_buffers[l], n);
            break;
        case ROUTING_SINGLE:
            filter_render_quad(first, buffers, n);
            break;
        default:
            filter_render_serial_quad(first, second, buffers, n);
            break;
        }
    } else {
        for (int l = 0; l < count; ++l) render_filters(voices[l], n, buffers[l], second_buffers[l]);
    }

    for (int l = 0; l < count; ++l) dist_render_mono(&voices[l]->distortion, buffers[l], buffers[l], n);

    DcFilterState spare_dc[VOICE_GROUP];
    DcFilterState *dc[VOICE_GROUP];
    for (int l = 0; l < VOICE_GROUP; ++l) {
        if (l < count) {
            dc[l] = &voices[l]->dcFilter;
        } else {
            spare_dc[l] = voices[0]->dcFilter;
            dc[l] = &spare_dc[l];
            for (std::int32_t i = 0; i < n; ++i) buffers[l][i] = buffers[0][i];
        }
    }
    dc_filter_mono_quad(dc, buffers, n);

    // Into the channel in voice order: the additions are not associative.
    for (int l = 0; l < count; ++l) mix_into_channel(voices[l], n, buffers[l], channel_buffer);
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
