#include "synth/midi.h"

#include "synth/numeric.h"

namespace {

constexpr std::uint8_t END_MARKER = 0xFD;

bool is_status(std::uint8_t b) {
    return (b & 0x80) != 0;
}

// Voice whose age is the smallest among those owned by `ch` (ch == -1: any voice) with gate clear
// (gate_clear_only) or any gate; -1 when there is none. The comparison starts from age_counter.
int oldest_voice(const SynthState *s, int ch, bool gate_clear_only) {
    int best = -1;
    std::uint32_t best_age = s->age_counter;
    for (int v = 0; v < VOICE_COUNT; ++v) {
        if (ch != -1 && s->voice_channel[v] != ch) continue;
        if (gate_clear_only && s->voices[v].gate != 0) continue;
        if (s->voice_age[v] < best_age) {
            best_age = s->voice_age[v];
            best = v;
        }
    }
    return best;
}

int choose_voice(const SynthState *s, int ch, std::uint8_t polyphony) {
    std::uint32_t owned = 0;
    for (int v = 0; v < VOICE_COUNT; ++v)
        if (s->voice_channel[v] == ch) ++owned;
    if (owned >= polyphony) {
        // The channel is full: it takes one of its own voices, a releasing one first.
        const int v = oldest_voice(s, ch, true);
        return v != -1 ? v : oldest_voice(s, ch, false);
    }
    for (int v = 0; v < VOICE_COUNT; ++v)
        if (s->voice_channel[v] == -1) return v;
    const int v = oldest_voice(s, -1, true);
    return v != -1 ? v : oldest_voice(s, -1, false);
}

void note_release(SynthState *s, int ch, int note) {
    if (ch == 15) {
        speech_note_off(&s->speech);
    }
    for (int v = 0; v < VOICE_COUNT; ++v) {
        VoiceState *voice = &s->voices[v];
        if (s->voice_channel[v] == ch && voice->note == note && voice->gate != 0) {
            voice_release(voice);
            return;
        }
    }
}

void note_start(SynthState *s, int ch, int note, int velocity) {
    if (ch == 15) {
        speech_note_on(&s->speech);
    }
    const std::uint8_t *patch = synth_find_patch(s, s->channel_controls[ch][0]);
    if (patch == nullptr) return; // the program has no patch in this song: nothing to play
    const std::uint8_t polyphony = patch[PATCH_POLYPHONY];
    // Polyphony 0 leaves the channel no voice to take: the note is ignored.
    if (polyphony == 0) return;
    const int v = choose_voice(s, ch, polyphony);
    if (v == -1) return; // only after 2^32 note starts wrapped the ages
    s->voice_channel[v] = ch;
    s->channel_last_voice[ch] = v;
    s->voice_age[v] = s->age_counter;
    s->age_counter += 1;
    // The refresh comes first: its voice sources still see the voice's previous note.
    synth_refresh_voice(s, v);
    voice_note_start(&s->voices[v], note, velocity);
}

void controller(SynthState *s, int ch, int k, int x) {
    if (k >= 1 && k <= 7) {
        s->channel_controls[ch][k] = static_cast<std::uint8_t>(x);
        if (ch == 15) {
            speech_control(&s->speech, k, x);
        }
    } else if (k == 120) {
        // All sound off.
        for (int v = 0; v < VOICE_COUNT; ++v) {
            if (s->voice_channel[v] != ch) continue;
            voice_reset(&s->voices[v]);
            s->voice_channel[v] = -1;
        }
    } else if (k >= 123) {
        // All notes off.
        if (ch == 15) {
            speech_note_off(&s->speech);
        }
        for (int v = 0; v < VOICE_COUNT; ++v)
            if (s->voice_channel[v] == ch) voice_release(&s->voices[v]);
    }
}

void program_change(SynthState *s, int ch, int p) {
    p &= 0x7F;
    if (p != s->channel_controls[ch][0]) {
        s->channel_controls[ch][0] = static_cast<std::uint8_t>(p);
        // Freed without release or reset: the sound stops with the next frame.
        for (int v = 0; v < VOICE_COUNT; ++v)
            if (s->voice_channel[v] == ch) s->voice_channel[v] = -1;
    }
    for (int k = 1; k <= 6; ++k) s->channel_controls[ch][k] = 0;
}

int data_bytes(int status) {
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
        return 1;
    default:
        return 2;
    }
}

} // namespace

void synth_process_midi(SynthState *s, const std::uint8_t *buffer) {
    NumericEnvGuard env;
    const std::uint8_t *p = buffer;
    for (;;) {
        if (is_status(*p)) {
            if (*p == END_MARKER) return;
            s->running_status = *p++;
        }
        const int status = s->running_status;
        if (!is_status(static_cast<std::uint8_t>(status))) return; // no status since init
        const int ch = status & 0x0F;

        if (status == 0xFF) {
            // System reset; it clears running_status, so data bytes after it end the buffer. The global
            // settings and speech texts are not re-applied.
            synth_init(s, s->patch_map, s->patch_map_size, s->sample_rate);
            continue;
        }
        if ((status & 0xF0) == 0xF0) {
            // 0xF0..0xFE carry no data here; data bytes after them would be dispatched again without
            // end, so they are skipped up to the next status byte (or the end marker).
            while (!is_status(*p)) ++p;
            continue;
        }

        // Data bytes are taken whole, whatever their top bit: the sequencer forms them modulo 256, so
        // a note, velocity, controller value or program may be 128..255, 0xFD included. Only the first
        // byte of a message can be a status byte or the end marker.
        const int count = data_bytes(status);
        const int d1 = p[0];
        const int d2 = count == 2 ? p[1] : 0;
        p += count;

        switch (status & 0xF0) {
        case 0x80:
            note_release(s, ch, d1);
            break;
        case 0x90:
            if (d2 == 0)
                note_release(s, ch, d1);
            else
                note_start(s, ch, d1, d2);
            break;
        case 0xB0:
            controller(s, ch, d1, d2);
            break;
        case 0xC0:
            program_change(s, ch, d1);
            break;
        default:
            break; // 0xA0 polyphonic pressure, 0xD0 channel pressure, 0xE0 pitch bend: no effect
        }
    }
}
