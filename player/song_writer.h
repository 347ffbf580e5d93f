// Song image writer: builds a valid song image from a description in memory (absolute event ticks,
// plain values). Used to build test fixtures and by the song compiler; not used while playing.
//
// The writer turns absolute ticks into 24-bit deltas, values into modulo-256 differences, streams into
// planar order, patches into a patch map with its offset table, and texts into a speech section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SongGlobalEvent {
    std::int32_t tick;   // absolute, >= the previous global event's tick
    std::uint32_t tempo; // microseconds per quarter note
    std::uint8_t numerator = 4;
    std::uint8_t denominator = 4; // the plain number: 4 means quarter notes
    std::uint8_t third = 8;
};

struct SongNoteEvent {
    std::int32_t tick;
    std::uint8_t note;
    std::uint8_t velocity; // 0 releases the note
};

// Program change (value = program) or controller event (value = controller value).
struct SongValueEvent {
    std::int32_t tick;
    std::uint8_t value;
};

struct SongPitchBendEvent {
    std::int32_t tick;
    std::uint8_t low;  // low 7 bits of the bend
    std::uint8_t high; // high 7 bits
};

// Events of each stream in time order (equal ticks allowed). A channel without notes cannot carry
// any other event.
struct SongChannel {
    std::vector<SongNoteEvent> notes;
    std::vector<SongValueEvent> programs;
    std::vector<SongPitchBendEvent> pitch_bends;
    std::vector<SongValueEvent> controllers[7]; // controllers 1..7
};

struct SongModEntry {
    std::uint8_t source;
    std::uint8_t amount;      // factor (amount - 64) / 64
    std::uint8_t destination; // 0..58 voice parameter, 59..87 channel parameter
};

struct SongPatch {
    std::uint8_t voice[59] = {};   // voice parameters, 0..127
    std::uint8_t channel[29] = {}; // channel parameters, 0..127
    std::uint8_t polyphony = 1;
    std::vector<SongModEntry> mods; // at most 255
};

struct SongDescription {
    std::int32_t ticks_per_beat = 128;
    std::int32_t end_tick = 0;
    std::vector<SongGlobalEvent> globals;
    SongChannel channels[16];
    std::vector<std::uint8_t> globals_block; // 0..16384 bytes; the synthesizer reads the first 22
    std::vector<SongPatch> patches;          // program p is patches[p]
    std::vector<std::string> speech_texts;   // at most 256, without zero bytes; section <= 8191 bytes
};

// Writes `song` as an image into `out` (replacing its contents). Returns false with a one-line
// `error` when the description cannot be represented: ticks out of order or negative, a delta above
// 16777215, events on a channel without notes, sizes beyond the format's limits, or a program,
// pitch-bend, controller or global stream with two events at tick 0 (the sequencer takes such a
// stream's events one per call, and never comes back to tick 0: the rest of the stream would be lost).
bool song_write_image(const SongDescription &song, std::vector<std::uint8_t> *out, std::string *error);
