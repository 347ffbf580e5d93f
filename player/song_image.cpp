// Song image parser: one pass front to back, every read checked against the image length.
#include "player/song_image.h"

#include <cstring>

namespace {

// Read position inside the image. Every advance is checked first, in 64-bit arithmetic, so no
// count can wrap a pointer.
struct Reader {
    const std::uint8_t *begin;
    std::size_t size;
    std::size_t pos;

    bool has(std::uint64_t bytes) const { return bytes <= size - pos; }
    const std::uint8_t *here() const { return begin + pos; }
    bool read_i32(std::int32_t *out) {
        if (!has(4)) return false;
        *out = read_i32le(here());
        pos += 4;
        return true;
    }
    bool skip(std::uint64_t bytes) {
        if (!has(bytes)) return false;
        pos += static_cast<std::size_t>(bytes);
        return true;
    }
};

bool fail(const char **reason, const char *text) {
    if (reason) *reason = text;
    return false;
}

// Reads a count and records a planar stream of that many records of `width` bytes.
bool read_stream(Reader *r, int width, EventStream *out, const char **reason) {
    std::int32_t count;
    if (!r->read_i32(&count)) return fail(reason, "image ends inside a stream count");
    if (count < 0) return fail(reason, "negative event count");
    out->count = count;
    out->start = r->here();
    if (!r->skip(static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(width)))
        return fail(reason, "event stream reaches past the end of the image");
    return true;
}

// Checks the speech section at the reader's position and fills the speech table.
bool read_speech(Reader *r, std::int32_t speech_size, SongLayout *layout, const char **reason) {
    const std::uint8_t *section = r->here();
    if (!r->has(static_cast<std::uint64_t>(speech_size)))
        return fail(reason, "speech section reaches past the end of the image");
    if (!r->has(4)) return fail(reason, "image ends inside the speech text count");
    std::int32_t count = read_i32le(section);
    if (count > SONG_SPEECH_TABLE_SIZE) return fail(reason, "more than 256 speech texts");
    if (count < 0) count = 0;
    if (!r->has(4 + 4 * static_cast<std::uint64_t>(count)))
        return fail(reason, "speech offset table reaches past the end of the image");
    // Offsets count from the section start; a text must start and end (with its zero) inside the image.
    const std::size_t available = r->size - r->pos;
    for (std::int32_t j = 0; j < count; ++j) {
        const std::uint64_t offset = read_u32le(section + 4 + 4 * j);
        if (offset >= available) return fail(reason, "speech text lies outside the image");
        const std::uint8_t *text = section + offset;
        const std::size_t left = available - static_cast<std::size_t>(offset);
        if (std::memchr(text, 0, left) == nullptr)
            return fail(reason, "speech text has no terminating zero inside the image");
        layout->speech_table[j] = text;
    }
    layout->speech = section;
    layout->speech_count = count;
    r->pos += static_cast<std::size_t>(speech_size);
    return true;
}

} // namespace

bool parse_song_image(SongLayout *layout, const std::uint8_t *image, std::size_t size, const char **reason) {
    std::memset(layout, 0, sizeof *layout);
    layout->image = image;
    layout->image_end = image + size;
    if (image == nullptr) return fail(reason, "no image");
    Reader r{image, size, 0};

    if (!r.read_i32(&layout->ticks_per_beat) || !r.read_i32(&layout->end_tick) ||
        !r.read_i32(&layout->global_count))
        return fail(reason, "image ends inside its header");
    // The divisor of the sample-time formula is ticks_per_beat x 10000 in 32 bits: it must be
    // positive and must not wrap (a wrapped divisor of 0 would divide by zero).
    if (layout->ticks_per_beat < 1 || layout->ticks_per_beat > 429496)
        return fail(reason, "ticks per beat outside 1 to 429496");
    layout->tick_divisor = static_cast<std::uint32_t>(layout->ticks_per_beat) * 10000u;
    if (layout->global_count < 0) return fail(reason, "negative global event count");
    layout->global_track = r.here();
    if (!r.skip(static_cast<std::uint64_t>(layout->global_count) * GLOBAL_RECORD_WIDTH))
        return fail(reason, "global track reaches past the end of the image");

    for (ChannelStreams &ch : layout->channels) {
        if (!r.read_i32(&ch.note_count)) return fail(reason, "image ends inside a channel block");
        if (ch.note_count < 0) return fail(reason, "negative note count");
        if (ch.note_count == 0) continue;
        ch.streams[STREAM_NOTE].count = ch.note_count;
        ch.streams[STREAM_NOTE].start = r.here();
        if (!r.skip(static_cast<std::uint64_t>(ch.note_count) * song_stream_width(STREAM_NOTE)))
            return fail(reason, "note stream reaches past the end of the image");
        for (int s = STREAM_PROGRAM; s < SONG_STREAMS_PER_CHANNEL; ++s)
            if (!read_stream(&r, song_stream_width(s), &ch.streams[s], reason)) return false;
    }

    if (!r.read_i32(&layout->globals_size)) return fail(reason, "image ends before the globals size");
    if (layout->globals_size < 0 || layout->globals_size > GLOBALS_SIZE_MAX)
        return fail(reason, "globals size outside 0 to 16384");
    layout->globals = r.here();
    if (!r.skip(static_cast<std::uint64_t>(layout->globals_size)))
        return fail(reason, "globals block reaches past the end of the image");
    if (layout->globals_size < GLOBALS_BLOCK_READ) {
        std::memcpy(layout->globals_padded, layout->globals, static_cast<std::size_t>(layout->globals_size));
        layout->globals = layout->globals_padded;
    }

    if (!r.read_i32(&layout->patch_map_size)) return fail(reason, "image ends before the patch map size");
    if (layout->patch_map_size < 0 || layout->patch_map_size > PATCH_MAP_SIZE_MAX)
        return fail(reason, "patch map size outside 0 to 1048576");
    layout->patch_map = r.here();
    if (!r.skip(static_cast<std::uint64_t>(layout->patch_map_size)))
        return fail(reason, "patch map reaches past the end of the image");

    if (!r.read_i32(&layout->speech_size)) return fail(reason, "image ends before the speech size");
    if (layout->speech_size >= 1 && layout->speech_size < SPEECH_SIZE_LIMIT) {
        if (!read_speech(&r, layout->speech_size, layout, reason)) return false;
    }
    layout->parsed_end = r.here();
    return true;
}
