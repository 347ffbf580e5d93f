// Song image: the read-only byte image of one song (timing header, global track, 16 channels of
// planar event streams, globals block, patch map, speech texts) and its parser.
//
// Layout (little-endian, packed, no alignment):
//   0   ticks_per_beat (i32)     4  end_tick (i32)     8  global_count G (i32)
//   12  global track, planar, 10 x G bytes
//   16 channel blocks: note count N (i32); when N > 0: notes 5N, program count P + 4P,
//       pitch-bend count B + 5B, then for controllers 1..7 a count Ci + 4Ci
//   globals size (i32, 0..16384) + block;  patch map size (i32, 0..1048576) + map;
//   speech size (i32) + section when 1..8191: text count T, T offsets from the section start, texts.
// Planar streams store field k of event i at stream offset k x n + i; planes 0..2 hold a 24-bit
// delta time in ticks from the previous event of the stream.
//
// Images from outside are untrusted: parse_song_image is given the image length and rejects any image
// whose header, counts, streams, sections, speech offsets or texts reach past it. A parsed layout holds
// positions inside the image only, so the sequencer may read the streams without further checks.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int SONG_CHANNEL_COUNT = 16;
constexpr int SONG_CONTROLLER_COUNT = 7;     // controllers 1..7
constexpr int SONG_STREAMS_PER_CHANNEL = 10; // note, program, pitch bend, controllers 1..7
constexpr int SONG_SPEECH_TABLE_SIZE = 256;
constexpr int GLOBALS_BLOCK_READ = 22;               // bytes of the globals block the synthesizer reads
constexpr std::int32_t GLOBALS_SIZE_MAX = 16384;     // inclusive
constexpr std::int32_t PATCH_MAP_SIZE_MAX = 1048576; // inclusive
constexpr std::int32_t SPEECH_SIZE_LIMIT = 8192;     // speech sections are 1..8191 bytes; others mean none

// Index of a stream in ChannelStreams::streams, in the sequencer's reset order.
enum SongStream : int {
    STREAM_NOTE = 0,
    STREAM_PROGRAM = 1,
    STREAM_PITCH_BEND = 2,
    STREAM_CONTROLLER_1 = 3, // controller k (1..7) is STREAM_CONTROLLER_1 + k - 1
};

// Record widths in bytes, by stream index.
constexpr int song_stream_width(int stream) {
    return stream == STREAM_NOTE || stream == STREAM_PITCH_BEND ? 5 : 4;
}
constexpr int GLOBAL_RECORD_WIDTH = 10;

struct EventStream {
    std::int32_t count;        // events, >= 0
    const std::uint8_t *start; // plane-0 byte of event 0
};

struct ChannelStreams {
    std::int32_t note_count;                       // > 0 when the other streams are filled
    EventStream streams[SONG_STREAMS_PER_CHANNEL]; // valid only when note_count > 0
};

struct SongLayout {
    const std::uint8_t *image;
    const std::uint8_t *image_end; // one past the last byte given to the parser
    std::int32_t ticks_per_beat;   // 1..429496 (the divisor must fit 32 bits)
    std::int32_t end_tick;
    std::int32_t global_count;
    std::uint32_t tick_divisor; // ticks_per_beat x 10000
    const std::uint8_t *global_track;
    ChannelStreams channels[SONG_CHANNEL_COUNT];
    const std::uint8_t *globals; // GLOBALS_BLOCK_READ readable bytes (see globals_padded)
    std::int32_t globals_size;
    const std::uint8_t *patch_map;
    std::int32_t patch_map_size;
    const std::uint8_t *speech; // speech section, or null when the song has none
    std::int32_t speech_size;   // as stored; the section exists only for 1..8191
    std::int32_t speech_count;  // texts in the table, 0..256
    const std::uint8_t *speech_table[SONG_SPEECH_TABLE_SIZE]; // each a zero-terminated text inside the image
    const std::uint8_t *parsed_end; // one past the last byte that belongs to the image's sections
    // A globals block shorter than the 22 bytes the synthesizer reads is zero-padded here, so the
    // synthesizer never reads past the block's end into the following sections or past the image.
    std::uint8_t globals_padded[GLOBALS_BLOCK_READ];
};

// Parses the `size` bytes at `image` into `layout`. Returns true when the image is accepted.
// Rejects: ticks_per_beat outside 1..429496, negative counts, any stream, count, section, speech
// offset or text (up to its terminating zero) reaching past image + size, a globals size outside
// 0..16384, a patch map size outside 0..1048576, and more than 256 speech texts.
// A speech size of 0, a negative one or one of 8192 and more means no speech texts.
// On rejection `reason` (when not null) points at a one-line static description.
bool parse_song_image(SongLayout *layout, const std::uint8_t *image, std::size_t size,
                      const char **reason = nullptr);

// Little-endian reads at any alignment.
inline std::uint32_t read_u32le(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::int32_t read_i32le(const std::uint8_t *p) {
    return static_cast<std::int32_t>(read_u32le(p));
}
