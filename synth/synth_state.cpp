#include "synth/synth_state.h"

#include "synth/numeric.h"
#include "synth/rate.h"

#include <cstring>

namespace {

std::uint32_t read_u32_le(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A patch byte as a parameter. Patches hold 0..127; a byte above 128 in a foreign song is held at 128,
// the top of the parameter scale, because beyond it some settings have no sound meaning (the pan gain
// takes the square root of a negative number; filters and the noise filter run unstable), and the
// resulting NaN would poison the channel effects and the reverb for the rest of the song.
float patch_value(std::uint8_t byte) {
    return byte > 128 ? PARAM_MAX : static_cast<float>(byte);
}

// Value of modulation source `source` for voice `voice` on channel `ch`.
float mod_source(const SynthState *s, int ch, const VoiceState *voice, std::uint8_t source) {
    if (source == 0) return voice->velocity;
    if (source <= 7) return static_cast<float>(s->channel_controls[ch][source]);
    switch (source) {
    case 8:
        return voice->env1.output;
    case 9:
        return voice->env2.output;
    case 10:
        return voice->lfo1.output;
    case 11:
        return voice->lfo2.output;
    default:
        return static_cast<float>((voice->note - 48) * 2);
    }
}

// Adds every entry whose destination lies in [first, first + count) into params[destination - first],
// clamping each sum to 0..128. Later entries see the results of earlier ones.
void apply_mod_entries(const SynthState *s, const std::uint8_t *patch, int ch, const VoiceState *voice,
                       int first, int count, float *params) {
    const int entries = patch[PATCH_MOD_COUNT];
    const std::uint8_t *entry = patch + PATCH_HEADER_SIZE;
    for (int i = 0; i < entries; ++i, entry += 3) {
        const ModEntry m{entry[0], entry[1], entry[2]};
        if (m.destination < first || m.destination >= first + count) continue;
        const float factor = static_cast<float>(m.amount - 64) * 0.0078125f * 2.0f;
        float sum = params[m.destination - first] + mod_source(s, ch, voice, m.source) * factor;
        if (!(sum > 0.0f)) sum = 0.0f; // negative results and -0.0 become +0.0
        if (sum > PARAM_MAX) sum = PARAM_MAX;
        params[m.destination - first] = sum;
    }
}

} // namespace

const std::uint8_t *synth_find_patch(const SynthState *s, std::uint32_t program) {
    if (s->patch_map == nullptr) return nullptr;
    const std::uint64_t size = s->patch_map_size;
    const std::uint64_t entry = 4ull * program;
    if (entry + 4 > size) return nullptr;
    const std::uint64_t offset = read_u32_le(s->patch_map + entry);
    if (offset + PATCH_HEADER_SIZE > size) return nullptr;
    const std::uint8_t *patch = s->patch_map + offset;
    if (offset + PATCH_HEADER_SIZE + 3ull * patch[PATCH_MOD_COUNT] > size) return nullptr;
    return patch;
}

void synth_refresh_voice(SynthState *s, int v) {
    const int ch = s->voice_channel[v];
    if (ch == -1) return;
    float *params = s->voice_params[v];
    VoiceState *voice = &s->voices[v];
    const std::uint8_t *patch = synth_find_patch(s, s->channel_controls[ch][0]);
    if (patch == nullptr) {
        // Unreachable through MIDI (a channel without a patch never starts a voice); kept silent.
        std::memset(params, 0, sizeof(float) * VOICE_PARAM_COUNT);
    } else {
        for (int i = 0; i < VOICE_PARAM_COUNT; ++i) params[i] = patch_value(patch[i]);
        apply_mod_entries(s, patch, ch, voice, 0, VOICE_PARAM_COUNT, params);
    }
    voice_set(voice, params);
}

void synth_refresh_channel_params(SynthState *s, int ch, float out[CHANNEL_PARAM_COUNT]) {
    const std::uint8_t *patch = synth_find_patch(s, s->channel_controls[ch][0]);
    if (patch == nullptr) {
        for (int k = 0; k < CHANNEL_PARAM_COUNT; ++k) out[k] = 0.0f;
        return;
    }
    for (int k = 0; k < CHANNEL_PARAM_COUNT; ++k) out[k] = patch_value(patch[PATCH_CHANNEL_PARAMS + k]);
    const VoiceState *voice = &s->voices[s->channel_last_voice[ch]];
    apply_mod_entries(s, patch, ch, voice, PATCH_CHANNEL_PARAMS, CHANNEL_PARAM_COUNT, out);
}

void synth_render_voice(SynthState *s, int v, std::int32_t n) {
    voice_render(&s->voices[v], n, s->voice_buffer, s->voice_second_buffer, s->channel_buffer, s->aux_bus_a,
                 s->aux_bus_b);
}

void synth_render_channel_voices(SynthState *s, int ch, std::int32_t n) {
    float *buffers[VOICE_GROUP];
    float *second[VOICE_GROUP];
    for (int l = 0; l < VOICE_GROUP; ++l) {
        buffers[l] = s->voice_group_buffers[l];
        second[l] = s->voice_group_second[l];
    }
    VoiceState *group[VOICE_GROUP];
    int count = 0;
    for (int v = 0; v < VOICE_COUNT; ++v) {
        if (s->voice_channel[v] != ch) continue;
        group[count++] = &s->voices[v];
        if (count == VOICE_GROUP) {
            voice_render_group(group, count, n, buffers, second, s->channel_buffer, s->aux_bus_a,
                               s->aux_bus_b);
            count = 0;
        }
    }
    if (count > 0)
        voice_render_group(group, count, n, buffers, second, s->channel_buffer, s->aux_bus_a, s->aux_bus_b);
}

void synth_init(SynthState *s, const std::uint8_t *patch_map, std::uint32_t patch_map_size,
                std::int32_t sample_rate) {
    std::memset(s, 0, sizeof(SynthState));
    s->sample_rate = sample_rate;
    rate_set(sample_rate);
    speech_set_rate(sample_rate);
    s->patch_map = patch_map;
    s->patch_map_size = patch_map != nullptr ? patch_map_size : 0;
    for (int v = 0; v < VOICE_COUNT; ++v) {
        s->voice_channel[v] = -1;
        voice_reset(&s->voices[v]);
    }
    for (int ch = 0; ch < CHANNEL_COUNT; ++ch) {
        s->channel_controls[ch][7] = 127;
        moddelay_attach(&s->channels[ch].chorus, s->channel_delay_lines[ch][0], s->channel_delay_lines[ch][1],
                        CHORUS_MASK);
        channel_init(s, ch);
    }
    global_effects_init(s);
    speech_init(&s->speech);
}
