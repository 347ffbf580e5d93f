// Playback control: the one song player. Opens a song image, positions it at any millisecond by
// running the sequencer silently, renders stereo blocks by interleaving synthesizer rendering with
// sequencer ticks at exact sample positions, and stops at once or with a linear fade.
//
// Threads: the main thread opens, plays and stops; the sound output's thread pulls blocks through
// render_callback. They share only the open flag and the playback state, each read and written
// whole, and short pauses (3 ms, 10 ms) that let a block in progress finish: the synthesizer is never
// used by both threads at once. Offline renders skip the pauses.
#pragma once

#include "player/sequencer.h"
#include "player/song_image.h"
#include "synth/synth_state.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr std::int32_t SONG_SAMPLE_RATE = 44100; // the only rate the player uses

// Writes `frames` interleaved stereo float frames (full scale 1.0) into `buffer`; result ignored.
using RenderCallback = int (*)(void *user, float *buffer, std::int32_t frames);

// The streaming sound output, as the player drives it: `open` starts pulling blocks through the
// callback (its result is not examined), `close` stops it. Offline use passes no output.
struct SongOutput {
    bool (*open)(RenderCallback callback, void *user);
    void (*close)();
};

struct SongPlayer {
    std::atomic<std::int32_t> open; // 1 when a song is open and not being positioned
    SongLayout layout;
    Sequencer sequencer;
    std::int32_t sample_rate;     // 44100 once a song has been opened
    std::atomic<float> fade_gain; // gain applied while fading; 1.0 after song_play
    std::atomic<float> fade_step; // subtracted from fade_gain per frame; 0 = no fade
    SynthState synth;
    MidiBuffer midi;
    const SongOutput *output;              // the output started by song_open, or null
    std::atomic<std::int32_t> skip_pauses; // nonzero: song_play / song_stop do not pause (offline)
};

// The one player, for the life of the process; all fields start at zero.
extern SongPlayer song_player;

// Loading steps of song_open: parse the `size` bytes at `image` (kept in place, never copied) and
// reset the sequencer and synthesizer. Afterwards the state is Idle and the player open, no tick has
// run. Returns false (player closed, `reason` set when not null) for a rejected image.
bool song_load(const std::uint8_t *image, std::size_t size, const char **reason = nullptr);

// song_load, then starts `output` (when not null) with render_callback. True when the song was
// accepted; a rejected image starts no output.
bool song_open(const std::uint8_t *image, std::size_t size, const SongOutput *output);

// Positions the song at `start_ms` (milliseconds from its beginning) by running the sequencer without
// rendering, then lets the render path play from there. Does nothing while no song is open.
void song_play(std::int32_t start_ms);

// Fades out over `fade_ms` milliseconds (linearly, from the current gain), or stops at once when
// `fade_ms` is 0 or less. Does nothing while no song is open.
void song_stop(std::int32_t fade_ms);

// Stops the song and its output; the player is closed afterwards.
void song_close();

// Renders `frames` interleaved stereo frames into `buffer` (overwriting when `add` is 0, adding
// otherwise). Outside playing it gives silence (add 0: zeros; otherwise the buffer is left as it is)
// or, after the last event, the synthesizer's tails. A null buffer does nothing.
void song_render(float *buffer, std::int32_t frames, int add);

// The player's RenderCallback: song_render(buffer, frames, 0); ignores `user`; returns 0.
int render_callback(void *user, float *buffer, std::int32_t frames);

// Makes song_play and song_stop skip their pauses (nonzero) or take them (0, the default).
void song_skip_pauses(int skip);
