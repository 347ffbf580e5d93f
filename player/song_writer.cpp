// Song image writer.
#include "player/song_writer.h"

#include "player/song_image.h"

namespace {

constexpr std::int64_t DELTA_MAX = 16777215;

void put_i32(std::vector<std::uint8_t> *out, std::uint32_t v) {
    out->push_back(static_cast<std::uint8_t>(v));
    out->push_back(static_cast<std::uint8_t>(v >> 8));
    out->push_back(static_cast<std::uint8_t>(v >> 16));
    out->push_back(static_cast<std::uint8_t>(v >> 24));
}

void put_i32_at(std::vector<std::uint8_t> *out, std::size_t at, std::uint32_t v) {
    for (int b = 0; b < 4; ++b) (*out)[at + b] = static_cast<std::uint8_t>(v >> (8 * b));
}

// One stream in record form: the absolute tick and up to two value bytes per event.
struct PlainEvent {
    std::int32_t tick;
    std::uint8_t values[2];
};

// In a stream that emits one event per sequencer call, a zero delta means "same tick, next call". At
// tick 0 there is no next call (a pending tick of 0 never becomes the next tick once the song runs),
// so a second event at tick 0 would silently end the stream. Note streams take a whole tick at once.
bool second_event_at_tick_zero(std::int64_t previous_tick, std::int64_t tick, std::size_t index) {
    return index > 0 && previous_tick == 0 && tick == 0;
}

// Appends the count and the planar stream: three delta planes, then `value_planes` planes of
// modulo-256 differences from the previous event's values. `one_per_call` marks the streams that
// emit at most one event per sequencer call (all but notes).
bool put_stream(std::vector<std::uint8_t> *out, const std::vector<PlainEvent> &events, int value_planes,
                bool one_per_call, const char *what, std::string *error) {
    const std::size_t n = events.size();
    put_i32(out, static_cast<std::uint32_t>(n));
    const std::size_t base = out->size();
    out->resize(base + n * static_cast<std::size_t>(3 + value_planes));
    std::int64_t previous_tick = 0;
    std::uint8_t previous[2] = {0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t delta = static_cast<std::int64_t>(events[i].tick) - previous_tick;
        if (events[i].tick < 0 || delta < 0) {
            *error = std::string(what) + " events out of time order";
            return false;
        }
        if (delta > DELTA_MAX) {
            *error = std::string(what) + " event more than 16777215 ticks after the previous one";
            return false;
        }
        if (one_per_call && second_event_at_tick_zero(previous_tick, events[i].tick, i)) {
            *error = std::string(what) + " has a second event at tick 0, which would never be played";
            return false;
        }
        previous_tick = events[i].tick;
        for (int k = 0; k < 3; ++k) (*out)[base + k * n + i] = static_cast<std::uint8_t>(delta >> (8 * k));
        for (int k = 0; k < value_planes; ++k) {
            (*out)[base + (3 + k) * n + i] = static_cast<std::uint8_t>(events[i].values[k] - previous[k]);
            previous[k] = events[i].values[k];
        }
    }
    return true;
}

bool put_global_track(std::vector<std::uint8_t> *out, const std::vector<SongGlobalEvent> &events,
                      std::string *error) {
    const std::size_t g = events.size();
    put_i32(out, static_cast<std::uint32_t>(g));
    const std::size_t base = out->size();
    out->resize(base + g * GLOBAL_RECORD_WIDTH);
    std::int64_t previous_tick = 0;
    for (std::size_t i = 0; i < g; ++i) {
        const SongGlobalEvent &e = events[i];
        const std::int64_t delta = static_cast<std::int64_t>(e.tick) - previous_tick;
        if (e.tick < 0 || delta < 0 || delta > DELTA_MAX) {
            *error = "global events out of time order or more than 16777215 ticks apart";
            return false;
        }
        if (second_event_at_tick_zero(previous_tick, e.tick, i)) {
            *error = "global track has a second event at tick 0, which would never be played";
            return false;
        }
        previous_tick = e.tick;
        for (int k = 0; k < 3; ++k) (*out)[base + k * g + i] = static_cast<std::uint8_t>(delta >> (8 * k));
        put_i32_at(out, base + 3 * g + 4 * i, e.tempo);
        (*out)[base + 7 * g + i] = e.numerator;
        (*out)[base + 8 * g + i] = e.denominator;
        (*out)[base + 9 * g + i] = e.third;
    }
    return true;
}

template <typename E, typename F>
std::vector<PlainEvent> plain(const std::vector<E> &events, F values) {
    std::vector<PlainEvent> out;
    out.reserve(events.size());
    for (const E &e : events) {
        PlainEvent p{e.tick, {0, 0}};
        values(e, p.values);
        out.push_back(p);
    }
    return out;
}

bool put_channel(std::vector<std::uint8_t> *out, const SongChannel &ch, int index, std::string *error) {
    const std::string name = "channel " + std::to_string(index);
    if (ch.notes.empty()) {
        bool others = !ch.programs.empty() || !ch.pitch_bends.empty();
        for (const auto &c : ch.controllers) others = others || !c.empty();
        if (others) {
            *error = name + " has events but no notes";
            return false;
        }
        put_i32(out, 0);
        return true;
    }
    auto note_values = [](const SongNoteEvent &e, std::uint8_t *v) { v[0] = e.note, v[1] = e.velocity; };
    auto one_value = [](const SongValueEvent &e, std::uint8_t *v) { v[0] = e.value; };
    auto bend_values = [](const SongPitchBendEvent &e, std::uint8_t *v) { v[0] = e.low, v[1] = e.high; };
    if (!put_stream(out, plain(ch.notes, note_values), 2, false, (name + " note").c_str(), error))
        return false;
    if (!put_stream(out, plain(ch.programs, one_value), 1, true, (name + " program").c_str(), error))
        return false;
    if (!put_stream(out, plain(ch.pitch_bends, bend_values), 2, true, (name + " pitch-bend").c_str(), error))
        return false;
    for (int k = 0; k < 7; ++k) {
        const std::string what = name + " controller " + std::to_string(k + 1);
        if (!put_stream(out, plain(ch.controllers[k], one_value), 1, true, what.c_str(), error)) return false;
    }
    return true;
}

bool put_patch_map(std::vector<std::uint8_t> *out, const std::vector<SongPatch> &patches,
                   std::string *error) {
    std::vector<std::uint8_t> map(4 * patches.size());
    for (std::size_t p = 0; p < patches.size(); ++p) {
        const SongPatch &patch = patches[p];
        if (patch.mods.size() > 255) {
            *error = "patch " + std::to_string(p) + " has more than 255 modulation entries";
            return false;
        }
        put_i32_at(&map, 4 * p, static_cast<std::uint32_t>(map.size()));
        map.insert(map.end(), patch.voice, patch.voice + 59);
        map.insert(map.end(), patch.channel, patch.channel + 29);
        map.push_back(patch.polyphony);
        map.push_back(static_cast<std::uint8_t>(patch.mods.size()));
        for (const SongModEntry &m : patch.mods) {
            map.push_back(m.source);
            map.push_back(m.amount);
            map.push_back(m.destination);
        }
    }
    if (map.size() > static_cast<std::size_t>(PATCH_MAP_SIZE_MAX)) {
        *error = "patch map larger than 1048576 bytes";
        return false;
    }
    put_i32(out, static_cast<std::uint32_t>(map.size()));
    out->insert(out->end(), map.begin(), map.end());
    return true;
}

bool put_speech(std::vector<std::uint8_t> *out, const std::vector<std::string> &texts, std::string *error) {
    if (texts.empty()) {
        put_i32(out, 0);
        return true;
    }
    if (texts.size() > SONG_SPEECH_TABLE_SIZE) {
        *error = "more than 256 speech texts";
        return false;
    }
    std::vector<std::uint8_t> section;
    put_i32(&section, static_cast<std::uint32_t>(texts.size()));
    section.resize(4 + 4 * texts.size());
    for (std::size_t j = 0; j < texts.size(); ++j) {
        if (texts[j].find('\0') != std::string::npos) {
            *error = "speech text " + std::to_string(j) + " contains a zero byte";
            return false;
        }
        put_i32_at(&section, 4 + 4 * j, static_cast<std::uint32_t>(section.size()));
        section.insert(section.end(), texts[j].begin(), texts[j].end());
        section.push_back(0);
    }
    if (section.size() >= static_cast<std::size_t>(SPEECH_SIZE_LIMIT)) {
        *error = "speech section larger than 8191 bytes";
        return false;
    }
    put_i32(out, static_cast<std::uint32_t>(section.size()));
    out->insert(out->end(), section.begin(), section.end());
    return true;
}

} // namespace

bool song_write_image(const SongDescription &song, std::vector<std::uint8_t> *out, std::string *error) {
    out->clear();
    if (song.ticks_per_beat < 1 || song.ticks_per_beat > 429496) {
        *error = "ticks per beat outside 1 to 429496";
        return false;
    }
    put_i32(out, static_cast<std::uint32_t>(song.ticks_per_beat));
    put_i32(out, static_cast<std::uint32_t>(song.end_tick));
    if (!put_global_track(out, song.globals, error)) return false;
    for (int ch = 0; ch < 16; ++ch)
        if (!put_channel(out, song.channels[ch], ch, error)) return false;
    if (song.globals_block.size() > static_cast<std::size_t>(GLOBALS_SIZE_MAX)) {
        *error = "globals block larger than 16384 bytes";
        return false;
    }
    put_i32(out, static_cast<std::uint32_t>(song.globals_block.size()));
    out->insert(out->end(), song.globals_block.begin(), song.globals_block.end());
    if (!put_patch_map(out, song.patches, error)) return false;
    return put_speech(out, song.speech_texts, error);
}
