// Sequencer: cursors over the planar streams, one tick of MIDI messages at a time.
#include "player/sequencer.h"

#include "synth/global_effects.h"
#include "synth/midi.h"
#include "synth/speech.h"
#include "synth/synth_state.h"

static_assert(SONG_SPEECH_TABLE_SIZE == SPEECH_TABLE_SIZE);

namespace {

// The 24-bit delta of the event at `q` in a planar stream of `count` records.
std::int32_t delta_at(const std::uint8_t *q, std::int32_t count) {
    return static_cast<std::int32_t>(q[0] | q[count] << 8 | q[2 * count] << 16);
}

// Tick arithmetic wraps instead of overflowing: a wrapped tick is negative and never becomes a
// candidate, so a stream pushed beyond INT32_MAX simply ends.
std::int32_t add_ticks(std::int32_t tick, std::int32_t delta) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(tick) + static_cast<std::uint32_t>(delta));
}

// The candidate rule: a pending tick becomes the next tick when it lies ahead (during reset: any
// tick), the stream is not exhausted, and it is earlier than the next tick found so far.
void candidate(Sequencer *seq, std::int32_t tick, bool exhausted, bool during_reset) {
    if (exhausted) return;
    if (!during_reset && tick <= 0) return;
    if (tick < seq->next_tick || seq->next_tick < 0) seq->next_tick = tick;
}

// After an event has been taken: the cursor moves on and, when the following delta is above 0, the
// pending tick moves to current tick + delta. A delta of 0 keeps it, so the event is taken by the next
// call at this tick (or, for notes, by the same call).
void advance(StreamCursor *c, std::int32_t count, std::int32_t current_tick) {
    c->index += 1;
    c->position += 1;
    if (c->index < count) {
        const std::int32_t d = delta_at(c->position, count);
        if (d > 0) c->pending_tick = add_ticks(current_tick, d);
    }
}

struct Emitter {
    MidiBuffer *midi;
    MidiSink sink;
    void *context;

    void end() {
        midi->bytes[midi->length++] = 0xFD;
        if (sink) sink(context, midi->bytes);
    }
    void start() {
        midi->length = 0;
        midi->last_status = 0;
    }
    // Appends one message; running status within the buffer. Values are sums modulo 256, so a first
    // data byte may have its top bit set; without its status byte in front the receiver would take it
    // for a status (or for the end marker), lose step with the messages and read past the buffer's end.
    // Such a message therefore always carries its status byte.
    void message(std::uint8_t status, std::uint8_t d1, std::uint8_t d2, int data_bytes) {
        if (midi->length + 1 + data_bytes + 1 > MIDI_BUFFER_CAPACITY) {
            end();
            start();
        }
        if (status != midi->last_status || (d1 & 0x80) != 0) {
            midi->bytes[midi->length++] = status;
            midi->last_status = status;
        }
        midi->bytes[midi->length++] = d1;
        if (data_bytes == 2) midi->bytes[midi->length++] = d2;
    }
};

// Program, controller and pitch-bend streams: at most one event per call.
void single_event(Sequencer *seq, Emitter *out, const EventStream &stream, StreamCursor *c,
                  std::uint8_t status, int controller) {
    const std::int32_t n = stream.count;
    if (c->index < n && c->pending_tick == seq->current_tick) {
        const std::uint8_t *q = c->position;
        c->last_values[0] = static_cast<std::uint8_t>(c->last_values[0] + q[3 * n]);
        if (controller > 0) {
            out->message(status, static_cast<std::uint8_t>(controller), c->last_values[0], 2);
        } else if ((status & 0xF0) == 0xE0) {
            c->last_values[1] = static_cast<std::uint8_t>(c->last_values[1] + q[4 * n]);
            out->message(status, c->last_values[0], c->last_values[1], 2);
        } else {
            out->message(status, c->last_values[0], 0, 1);
        }
        advance(c, n, seq->current_tick);
    }
    candidate(seq, c->pending_tick, c->index >= n, false);
}

// Note stream: every note due at the current tick, so a chord goes out in one call.
void note_events(Sequencer *seq, Emitter *out, const EventStream &stream, StreamCursor *c,
                 std::uint8_t status) {
    const std::int32_t n = stream.count;
    while (c->index < n && c->pending_tick == seq->current_tick) {
        const std::uint8_t *q = c->position;
        c->last_values[0] = static_cast<std::uint8_t>(c->last_values[0] + q[3 * n]);
        c->last_values[1] = static_cast<std::uint8_t>(c->last_values[1] + q[4 * n]);
        out->message(status, c->last_values[0], c->last_values[1], 2);
        advance(c, n, seq->current_tick);
    }
    candidate(seq, c->pending_tick, c->index >= n, false);
}

void global_event(Sequencer *seq, const SongLayout *layout, std::int32_t sample_rate) {
    GlobalCursor *g = &seq->global;
    const std::int32_t count = layout->global_count;
    if (g->index < count && g->pending_tick == seq->current_tick) {
        const std::uint8_t *track = layout->global_track;
        const std::int32_t i = g->index;
        const std::uint32_t tempo = read_u32le(track + 3 * count + 4 * i);
        seq->tempo_factor = tempo * static_cast<std::uint32_t>(sample_rate / 100);
        seq->time_signature[0] = track[7 * count + i];
        seq->time_signature[1] = track[8 * count + i];
        seq->time_signature[2] = track[9 * count + i];
        g->index += 1;
        g->position += 1;
        if (g->index < count) {
            const std::int32_t d = delta_at(g->position, count);
            if (d > 0) g->pending_tick = add_ticks(seq->current_tick, d);
        }
    }
    candidate(seq, g->pending_tick, g->index >= count, false);
}

} // namespace

void sequencer_rewind(Sequencer *seq, const SongLayout *layout, std::int32_t sample_rate) {
    seq->current_tick = 0;
    seq->next_tick = -1;
    seq->global.position = layout->global_track;
    seq->global.index = 0;
    seq->global.pending_tick = 0;
    if (layout->global_count > 0) {
        seq->global.pending_tick = delta_at(layout->global_track, layout->global_count);
        candidate(seq, seq->global.pending_tick, false, true);
    }
    for (int ch = 0; ch < SONG_CHANNEL_COUNT; ++ch) {
        const ChannelStreams &streams = layout->channels[ch];
        ChannelCursor &cursor = seq->channels[ch];
        if (streams.note_count == 0) continue;
        for (int s = 0; s < SONG_STREAMS_PER_CHANNEL; ++s) {
            const EventStream &stream = streams.streams[s];
            StreamCursor &c = cursor.streams[s];
            c.position = stream.start;
            c.index = 0;
            c.pending_tick = 0;
            c.last_values[0] = 0;
            c.last_values[1] = 0;
            if (stream.count > 0) {
                c.pending_tick = delta_at(stream.start, stream.count);
                candidate(seq, c.pending_tick, false, true);
            }
        }
    }
    seq->tempo_factor = 5000u * static_cast<std::uint32_t>(sample_rate);
    seq->time_signature[0] = 4;
    seq->time_signature[1] = 4;
    seq->time_signature[2] = 8;
    seq->sample_remainder = 0;
}

void sequencer_reset(Sequencer *seq, const SongLayout *layout, SynthState *synth, std::int32_t sample_rate) {
    sequencer_rewind(seq, layout, sample_rate);
    if (sample_rate == 0) return;
    synth_init(synth, layout->patch_map, static_cast<std::uint32_t>(layout->patch_map_size), sample_rate);
    synth_set_globals(synth, layout->globals);
    speech_set_texts(&synth->speech, layout->speech_table, layout->image_end);
}

void sequencer_tick(Sequencer *seq, const SongLayout *layout, std::int32_t sample_rate, MidiBuffer *midi,
                    MidiSink sink, void *sink_context) {
    if (seq->state.load() != PlaybackState::Playing) return;
    seq->current_tick = seq->next_tick < 0 ? 0 : seq->next_tick;
    seq->next_tick = -1;
    Emitter out{midi, sink, sink_context};
    out.start();
    global_event(seq, layout, sample_rate);
    for (int ch = 0; ch < SONG_CHANNEL_COUNT; ++ch) {
        const ChannelStreams &streams = layout->channels[ch];
        if (streams.note_count == 0) continue;
        ChannelCursor &cursor = seq->channels[ch];
        const auto channel = static_cast<std::uint8_t>(ch);
        single_event(seq, &out, streams.streams[STREAM_PROGRAM], &cursor.streams[STREAM_PROGRAM],
                     static_cast<std::uint8_t>(0xC0 | channel), 0);
        for (int k = 1; k <= SONG_CONTROLLER_COUNT; ++k) {
            const int s = STREAM_CONTROLLER_1 + k - 1;
            single_event(seq, &out, streams.streams[s], &cursor.streams[s],
                         static_cast<std::uint8_t>(0xB0 | channel), k);
        }
        single_event(seq, &out, streams.streams[STREAM_PITCH_BEND], &cursor.streams[STREAM_PITCH_BEND],
                     static_cast<std::uint8_t>(0xE0 | channel), 0);
        note_events(seq, &out, streams.streams[STREAM_NOTE], &cursor.streams[STREAM_NOTE],
                    static_cast<std::uint8_t>(0x90 | channel));
    }
    out.end();
    if (seq->next_tick < 1 || seq->next_tick > layout->end_tick) seq->state.store(PlaybackState::Finished);
}

std::int32_t samples_to_next_event(std::int32_t next_tick, std::int32_t current_tick,
                                   std::uint32_t tempo_factor, std::uint32_t tick_divisor,
                                   std::uint32_t *remainder) {
    const std::uint32_t d = static_cast<std::uint32_t>(next_tick) - static_cast<std::uint32_t>(current_tick);
    const std::uint64_t p = static_cast<std::uint64_t>(d) * tempo_factor;
    std::uint64_t q = p / tick_divisor;
    const auto r = static_cast<std::uint32_t>(p % tick_divisor);
    const std::uint32_t sum = *remainder + r;
    if (sum < r) q += 1; // carried out of 32 bits
    *remainder = sum;
    return q > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(q);
}
