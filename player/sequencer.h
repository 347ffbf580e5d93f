// Sequencer: turns the planar event streams of a parsed song image into MIDI messages in time order
// and measures the distance to the next event in samples at the current tempo.
#pragma once

#include "player/song_image.h"

#include <atomic>
#include <cstdint>

struct SynthState;

// Shared by the sequencer and the playback control; read and written whole by two threads.
enum class PlaybackState : std::int32_t {
    Idle = 0,
    Finished = 1, // the song has run past its last event
    Playing = 2,
};

// MIDI messages with running status, ended by 0xFD. A message whose first data byte has its top bit
// set (values are sums modulo 256) always carries its status byte, so no data byte is ever read as a
// status or as the end. One tick normally fills one buffer; a tick with
// more messages than fit (a chord is not bounded by the format) hands full buffers on as it goes, so
// the receiver sees the same messages in the same order.
constexpr int MIDI_BUFFER_CAPACITY = 512;
struct MidiBuffer {
    std::uint8_t bytes[MIDI_BUFFER_CAPACITY];
    std::int32_t length;      // bytes written, 0xFD included once ended
    std::uint8_t last_status; // last status byte written into this buffer; 0 = none
};

// Receives each ended buffer of a tick (`buffer` ends at its 0xFD).
using MidiSink = void (*)(void *context, const std::uint8_t *buffer);

struct StreamCursor {
    std::int32_t index;           // events already emitted; exhausted at the stream's count
    const std::uint8_t *position; // plane-0 byte of the next event (stream start + index)
    std::int32_t pending_tick;    // absolute tick of the next event
    std::uint8_t last_values[2];  // last value(s) emitted; 0 after reset
};

struct ChannelCursor {
    StreamCursor streams[SONG_STREAMS_PER_CHANNEL]; // indexed by SongStream
};

struct GlobalCursor {
    const std::uint8_t *position;
    std::int32_t index;
    std::int32_t pending_tick;
};

struct Sequencer {
    std::int32_t current_tick; // tick of the events being emitted; 0 after reset
    std::int32_t next_tick;    // earliest pending tick of all streams; -1 = none
    GlobalCursor global;
    std::uint32_t tempo_factor;     // microseconds per quarter note x (sample rate / 100)
    std::int32_t time_signature[3]; // numerator, denominator, third value; 4, 4, 8 after reset
    ChannelCursor channels[SONG_CHANNEL_COUNT];
    std::atomic<PlaybackState> state;
    std::int32_t samples_to_event;  // samples to render before the next tick; -1 once finished
    std::uint32_t sample_remainder; // running sum of division remainders, modulo 2^32
};

// Rewinds every cursor and restores the default tempo (500000 us per quarter note) and time
// signature; leaves the playback state and samples_to_event alone. Needs no synthesizer.
void sequencer_rewind(Sequencer *seq, const SongLayout *layout, std::int32_t sample_rate);

// sequencer_rewind, then, when sample_rate is not 0, initialises the synthesizer for the song: its
// patch map, globals block and speech texts.
void sequencer_reset(Sequencer *seq, const SongLayout *layout, SynthState *synth, std::int32_t sample_rate);

// In state Playing: advances to the next tick, emits the messages due there into `midi` and hands
// the ended buffer to `sink` (nothing is handed on when `sink` is null), and sets Finished when no
// event lies ahead within the song (next tick below 1 or above end_tick). Otherwise does nothing.
void sequencer_tick(Sequencer *seq, const SongLayout *layout, std::int32_t sample_rate, MidiBuffer *midi,
                    MidiSink sink, void *sink_context);

// Samples from `current_tick` to `next_tick` at `tempo_factor`, rounded down; the division remainder
// is added to `*remainder` (modulo 2^32) and a carry out of 32 bits adds one sample. A result beyond
// INT32_MAX samples (about 13.5 hours at 44100 Hz) is held at INT32_MAX.
std::int32_t samples_to_next_event(std::int32_t next_tick, std::int32_t current_tick,
                                   std::uint32_t tempo_factor, std::uint32_t tick_divisor,
                                   std::uint32_t *remainder);
