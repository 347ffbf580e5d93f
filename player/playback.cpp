// Playback control.
#include "player/playback.h"

#include "platform/sleep.h"
#include "synth/midi.h"
#include "synth/render.h"

#include <cmath>

SongPlayer song_player;

namespace {

constexpr int STOP_PAUSE_MS = 3;
constexpr int PLAY_PAUSE_MS = 10;

void pause(int ms) {
    if (!song_player.skip_pauses.load()) platform_sleep_ms(ms);
}

PlaybackState state() {
    return song_player.sequencer.state.load();
}
void set_state(PlaybackState s) {
    song_player.sequencer.state.store(s);
}

void deliver_midi(void *synth, const std::uint8_t *buffer) {
    synth_process_midi(static_cast<SynthState *>(synth), buffer);
}

void tick() {
    SongPlayer &p = song_player;
    sequencer_tick(&p.sequencer, &p.layout, p.sample_rate, &p.midi, deliver_midi, &p.synth);
}

std::int32_t samples_to_next() {
    Sequencer &s = song_player.sequencer;
    return samples_to_next_event(s.next_tick, s.current_tick, s.tempo_factor, song_player.layout.tick_divisor,
                                 &s.sample_remainder);
}

// Round to nearest, ties to even, whatever the caller's rounding mode; held inside the int32 range.
std::int32_t round_to_int32(double x) {
    if (!(x > -2147483648.5)) return INT32_MIN;
    if (!(x < 2147483647.5)) return INT32_MAX;
    const double f = std::floor(x);
    const double frac = x - f;
    double r = f;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(f, 2.0) != 0.0)) r = f + 1.0;
    return static_cast<std::int32_t>(r);
}

} // namespace

bool song_load(const std::uint8_t *image, std::size_t size, const char **reason) {
    SongPlayer &p = song_player;
    p.open.store(0);
    p.sample_rate = SONG_SAMPLE_RATE;
    if (!parse_song_image(&p.layout, image, size, reason)) return false;
    sequencer_reset(&p.sequencer, &p.layout, &p.synth, p.sample_rate);
    set_state(PlaybackState::Idle);
    p.sequencer.samples_to_event = 0;
    p.sequencer.sample_remainder = 0;
    p.open.store(1);
    return true;
}

bool song_open(const std::uint8_t *image, std::size_t size, const SongOutput *output) {
    if (!song_load(image, size)) return false;
    song_player.output = output;
    if (output && output->open) output->open(render_callback, &song_player);
    return true;
}

void song_play(std::int32_t start_ms) {
    SongPlayer &p = song_player;
    if (p.open.load() == 0 || p.sample_rate == 0) return;
    song_stop(0);
    sequencer_reset(&p.sequencer, &p.layout, &p.synth, p.sample_rate);
    p.open.store(0); // from here the render path stays silent and leaves the synthesizer alone
    const double target = static_cast<double>(start_ms) * p.sample_rate / 1000.0;
    double position = 0.0;
    Sequencer &s = p.sequencer;
    set_state(PlaybackState::Playing);
    s.samples_to_event = 0;
    s.sample_remainder = 0;
    while (position + s.samples_to_event < target && state() == PlaybackState::Playing) {
        position += s.samples_to_event;
        tick();
        s.samples_to_event = state() == PlaybackState::Playing ? samples_to_next() : 0;
    }
    s.samples_to_event = round_to_int32(position + s.samples_to_event - target);
    p.fade_gain.store(1.0f);
    p.fade_step.store(0.0f);
    p.open.store(1);
    pause(PLAY_PAUSE_MS);
}

void song_stop(std::int32_t fade_ms) {
    SongPlayer &p = song_player;
    if (p.open.load() == 0) return;
    if (fade_ms > 0) {
        const auto frames = static_cast<float>(static_cast<double>(fade_ms) * p.sample_rate * 1.0 / 1000.0);
        p.fade_step.store(p.fade_gain.load() / frames);
    } else {
        set_state(PlaybackState::Idle);
    }
    pause(STOP_PAUSE_MS);
}

void song_close() {
    SongPlayer &p = song_player;
    if (p.open.load() == 0) return;
    if (state() != PlaybackState::Idle) song_stop(0);
    p.open.store(0);
    if (p.output && p.output->close) p.output->close();
    p.output = nullptr;
}

void song_render(float *buffer, std::int32_t frames, int add) {
    if (buffer == nullptr) return;
    SongPlayer &p = song_player;
    Sequencer &s = p.sequencer;
    if (p.open.load() == 1 && state() == PlaybackState::Playing) {
        float *out = buffer;
        std::int32_t remaining = frames;
        while (remaining > 0 && s.samples_to_event >= 0) {
            const std::int32_t n = remaining < s.samples_to_event ? remaining : s.samples_to_event;
            if (n > 0) {
                synth_render(&p.synth, out, n, nullptr, add);
                out += 2 * static_cast<std::ptrdiff_t>(n);
                remaining -= n;
                s.samples_to_event -= n;
            }
            if (s.samples_to_event <= 0) {
                tick();
                s.samples_to_event = state() == PlaybackState::Playing ? samples_to_next() : -1;
            }
        }
        // The song finished inside the block: its tails fill the rest.
        if (remaining > 0) synth_render(&p.synth, out, remaining, nullptr, add);
    } else if (state() == PlaybackState::Idle || p.open.load() == 0) {
        if (add == 0)
            for (std::int32_t i = 0; i < 2 * frames; ++i) buffer[i] = 0.0f;
    } else {
        synth_render(&p.synth, buffer, frames, nullptr, add);
    }

    const float step = p.fade_step.load();
    if (step > 0.0f) {
        float gain = p.fade_gain.load();
        for (std::int32_t i = 0; i < frames; ++i) {
            buffer[2 * i] *= gain;
            buffer[2 * i + 1] *= gain;
            gain -= step;
            if (gain < 0.0f) gain = 0.0f;
        }
        p.fade_gain.store(gain);
        if (gain <= 0.0f) song_stop(0);
    }
}

int render_callback(void *, float *buffer, std::int32_t frames) {
    song_render(buffer, frames, 0);
    return 0;
}

void song_skip_pauses(int skip) {
    song_player.skip_pauses.store(skip);
}
