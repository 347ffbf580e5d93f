#include "synth/render.h"

#include "synth/channel.h"
#include "synth/global_effects.h"
#include "synth/numeric.h"
#include "synth/rate.h"
#include "synth/synth_state.h"

namespace {

void copy_interleaved(float *out, const float *src, int n, bool add) {
    if (add) {
        for (int i = 0; i < 2 * n; ++i) out[i] += src[i];
    } else {
        for (int i = 0; i < 2 * n; ++i) out[i] = src[i];
    }
}

void copy_split(float *left, float *right, const float *src, int n, bool add) {
    if (add) {
        for (int k = 0; k < n; ++k) {
            left[k] += src[2 * k];
            right[k] += src[2 * k + 1];
        }
    } else {
        for (int k = 0; k < n; ++k) {
            left[k] = src[2 * k];
            right[k] = src[2 * k + 1];
        }
    }
}

} // namespace

void synth_render_frame(SynthState *s) {
    for (int v = 0; v < VOICE_COUNT; ++v) {
        if (s->voice_channel[v] == -1) continue;
        synth_refresh_voice(s, v);
        voice_tick(&s->voices[v]);
        if (s->voices[v].env1.state == 0) s->voice_channel[v] = -1; // finished: not rendered
    }
    for (int ch = 0; ch < CHANNEL_COUNT; ++ch) channel_prepare(s, ch);
    speech_tick(&s->speech); // the text walks on whether or not channel 15 sounds
    s->frame_remaining = frame_length;
    mix_frame(s);
}

void synth_render(SynthState *s, float *out, std::int32_t count, float *out_right, int add) {
    NumericEnvGuard env;
    const bool adding = add != 0;
    while (count > 0) {
        if (s->frame_remaining == 0) synth_render_frame(s);
        const std::int32_t n = count < s->frame_remaining ? count : s->frame_remaining;
        const float *src = s->main_bus + 2 * (frame_length - s->frame_remaining);
        count -= n;
        s->frame_remaining -= n;
        if (out_right == nullptr) {
            copy_interleaved(out, src, n, adding);
            out += 2 * n;
        } else {
            copy_split(out, out_right, src, n, adding);
            out += n;
            out_right += n;
        }
    }
}
