// qmsong: inspect a song image and render it offline through the same player and synthesizer the
// patcher plays it with.
//
// Exit status: 0 success, 1 input/output failure, 2 bad arguments or a rejected image.
#include "platform/clock.h"
#include "player/playback.h"
#include "player/sequencer.h"
#include "player/song_image.h"
#include "tools/sample_s16.h"

#include <CLI/CLI.hpp>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_IO = 1;
constexpr int EXIT_USAGE = 2;
constexpr std::int64_t TAIL_FRAMES = 4 * SONG_SAMPLE_RATE; // rendered after the song has finished

// Reads the whole file; false with errno set when it cannot be opened or read (a folder, for one,
// opens but fails to read).
bool read_file(const std::string &path, std::vector<std::uint8_t> *out) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    unsigned char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + n);
    const bool ok = std::ferror(f) == 0;
    const int error = errno;
    std::fclose(f);
    errno = error;
    return ok;
}

// Reads and parses IMAGE into the player; prints the reason and returns the exit status on failure.
int load(const std::string &path, std::vector<std::uint8_t> *image) {
    if (!read_file(path, image)) {
        std::fprintf(stderr, "qmsong: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
        return EXIT_IO;
    }
    const char *reason = "";
    if (!song_load(image->data(), image->size(), &reason)) {
        std::fprintf(stderr, "qmsong: %s: rejected song image: %s\n", path.c_str(), reason);
        return EXIT_USAGE;
    }
    return 0;
}

// Runs the song's sequencer alone, as playback would from the start.
struct SongSpan {
    std::int64_t calls;   // sequencer calls until the song has finished
    std::int64_t samples; // sample position of the last call
};

SongSpan measure(const SongLayout &layout) {
    static Sequencer seq;
    static MidiBuffer midi;
    sequencer_rewind(&seq, &layout, SONG_SAMPLE_RATE);
    seq.state.store(PlaybackState::Playing);
    SongSpan span{0, 0};
    while (seq.state.load() == PlaybackState::Playing) {
        sequencer_tick(&seq, &layout, SONG_SAMPLE_RATE, &midi, nullptr, nullptr);
        ++span.calls;
        if (seq.state.load() == PlaybackState::Playing)
            span.samples += samples_to_next_event(seq.next_tick, seq.current_tick, seq.tempo_factor,
                                                  layout.tick_divisor, &seq.sample_remainder);
    }
    return span;
}

std::string printable(const std::uint8_t *text) {
    std::string s;
    for (; *text; ++text) {
        if (*text >= 0x20 && *text < 0x7F && *text != '"' && *text != '\\') {
            s += static_cast<char>(*text);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", *text);
            s += hex;
        }
    }
    return s;
}

int run_info(const std::string &path) {
    std::vector<std::uint8_t> image;
    if (int status = load(path, &image)) return status;
    const SongLayout &l = song_player.layout;
    const auto offset = [&](const std::uint8_t *p) { return static_cast<long long>(p - l.image); };
    std::printf("image: %s, %zu bytes\n", path.c_str(), image.size());
    std::printf("ticks per beat: %d\nend tick: %d\ntick divisor: %u\n", l.ticks_per_beat, l.end_tick,
                l.tick_divisor);
    std::printf("global events: %d\n", l.global_count);
    if (l.global_count == 0) std::printf("  tempo 500000 us per beat (120.000 bpm), time signature 4/4, 8\n");
    std::int64_t tick = 0;
    const std::int32_t g = l.global_count;
    for (std::int32_t i = 0; i < g; ++i) {
        const std::uint8_t *t = l.global_track;
        tick += t[i] | t[g + i] << 8 | t[2 * g + i] << 16;
        const std::uint32_t tempo = read_u32le(t + 3 * g + 4 * i);
        std::printf("  tick %lld: tempo %u us per beat (%.3f bpm), time signature %u/%u, %u\n",
                    static_cast<long long>(tick), tempo, tempo ? 60e6 / tempo : 0.0, t[7 * g + i],
                    t[8 * g + i], t[9 * g + i]);
    }
    std::printf("channels (notes, programs, pitch bends, controllers 1-7):\n");
    for (int ch = 0; ch < SONG_CHANNEL_COUNT; ++ch) {
        const ChannelStreams &c = l.channels[ch];
        if (c.note_count == 0) {
            std::printf("  %2d: no notes\n", ch);
            continue;
        }
        std::printf("  %2d: %d notes, %d programs, %d pitch bends, controllers", ch, c.note_count,
                    c.streams[STREAM_PROGRAM].count, c.streams[STREAM_PITCH_BEND].count);
        for (int k = 0; k < SONG_CONTROLLER_COUNT; ++k)
            std::printf(" %d", c.streams[STREAM_CONTROLLER_1 + k].count);
        std::printf("\n");
    }
    const long long globals_at = offset(l.patch_map) - 4 - l.globals_size;
    std::printf("globals: offset %lld, %d bytes\n", globals_at, l.globals_size);
    std::printf("patch map: offset %lld, %d bytes", offset(l.patch_map), l.patch_map_size);
    if (l.patch_map_size >= 4) std::printf(", %u programs by its first offset", read_u32le(l.patch_map) / 4);
    std::printf("\n");
    if (l.speech) {
        std::printf("speech: offset %lld, %d bytes, %d texts\n", offset(l.speech), l.speech_size,
                    l.speech_count);
        for (int j = 0; j < l.speech_count; ++j)
            std::printf("  text %d at section offset %lld, %zu bytes: \"%s\"\n", j,
                        static_cast<long long>(l.speech_table[j] - l.speech),
                        std::strlen(reinterpret_cast<const char *>(l.speech_table[j])),
                        printable(l.speech_table[j]).c_str());
    } else {
        std::printf("speech: none (size %d)\n", l.speech_size);
    }
    std::printf("end of image: offset %lld\n", offset(l.parsed_end));
    const SongSpan span = measure(l);
    std::printf("sequencer calls: %lld\n", static_cast<long long>(span.calls));
    std::printf("length: %lld samples, %.3f seconds\n", static_cast<long long>(span.samples),
                static_cast<double>(span.samples) / SONG_SAMPLE_RATE);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "qmsong: cannot write standard output: %s\n", std::strerror(errno));
        return EXIT_IO;
    }
    return 0;
}

// Output file through libsndfile: a path, or standard output through a memory image of the file
// (the formats need seeking to finish their headers).
struct MemoryFile {
    std::vector<unsigned char> bytes;
    sf_count_t pos = 0;
};

sf_count_t mem_length(void *user) {
    return static_cast<sf_count_t>(static_cast<MemoryFile *>(user)->bytes.size());
}
sf_count_t mem_seek(sf_count_t offset, int whence, void *user) {
    auto *m = static_cast<MemoryFile *>(user);
    const sf_count_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? mem_length(user) : 0;
    if (base + offset < 0) return -1;
    m->pos = base + offset;
    return m->pos;
}
sf_count_t mem_read(void *ptr, sf_count_t count, void *user) {
    auto *m = static_cast<MemoryFile *>(user);
    const sf_count_t size = mem_length(user);
    const sf_count_t n = m->pos >= size ? 0 : std::min(count, size - m->pos);
    if (n > 0) std::memcpy(ptr, m->bytes.data() + m->pos, static_cast<std::size_t>(n));
    m->pos += n;
    return n;
}
sf_count_t mem_write(const void *ptr, sf_count_t count, void *user) {
    auto *m = static_cast<MemoryFile *>(user);
    const auto end = static_cast<std::size_t>(m->pos + count);
    if (end > m->bytes.size()) m->bytes.resize(end);
    std::memcpy(m->bytes.data() + m->pos, ptr, static_cast<std::size_t>(count));
    m->pos += count;
    return count;
}
sf_count_t mem_tell(void *user) {
    return static_cast<MemoryFile *>(user)->pos;
}

struct Progress {
    bool shown = isatty(STDERR_FILENO) == 1;
    int last = -1;
    void update(std::int64_t done, std::int64_t total) {
        if (!shown) return;
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        if (percent == last) return;
        last = percent;
        const int width = 40, filled = percent * width / 100;
        std::fprintf(stderr, "\rrendering [%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(width - filled, ' ').c_str(), percent);
        if (done >= total) std::fprintf(stderr, "\n");
    }
};

struct RenderOptions {
    std::string image, output, format = "s16";
    std::int32_t from_ms = 0;
    std::optional<double> seconds;
    std::optional<std::int64_t> frames;
    std::optional<std::uint64_t> seed;
    std::int32_t block = 1024;
};

int run_render(const RenderOptions &o) {
    if (o.seed) clock_fix(*o.seed); // before the synthesizer is initialised: its LFOs seed from the clock
    std::vector<std::uint8_t> image;
    if (int status = load(o.image, &image)) return status;

    const double start = static_cast<double>(o.from_ms) * SONG_SAMPLE_RATE / 1000.0;
    std::int64_t total;
    if (o.frames) {
        total = *o.frames;
    } else if (o.seconds) {
        total = std::llround(*o.seconds * SONG_SAMPLE_RATE);
    } else {
        const SongSpan span = measure(song_player.layout);
        const double left = std::ceil(static_cast<double>(span.samples) - start);
        total = (left > 0 ? static_cast<std::int64_t>(left) : 0) + TAIL_FRAMES;
    }

    song_skip_pauses(1);
    song_play(o.from_ms);

    SF_INFO info{};
    info.samplerate = SONG_SAMPLE_RATE;
    info.channels = 2;
    info.format = o.format == "flac"  ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                  : o.format == "f32" ? SF_FORMAT_WAV | SF_FORMAT_FLOAT
                                      : SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const bool to_stdout = o.output == "-";
    MemoryFile memory;
    SF_VIRTUAL_IO io{mem_length, mem_seek, mem_read, mem_write, mem_tell};
    SNDFILE *file = to_stdout ? sf_open_virtual(&io, SFM_WRITE, &info, &memory)
                              : sf_open(o.output.c_str(), SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "qmsong: cannot write %s: %s\n", o.output.c_str(), sf_strerror(nullptr));
        return EXIT_IO;
    }

    // No PEAK chunk: it carries a time stamp, and renders of one song must give identical files.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const bool as_float = o.format == "f32";
    std::vector<float> block(2 * static_cast<std::size_t>(o.block));
    std::vector<short> pcm(as_float ? 0 : block.size());
    Progress progress;
    bool ok = true;
    for (std::int64_t done = 0; done < total && ok;) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(o.block, total - done));
        song_render(block.data(), n, 0);
        if (as_float) {
            ok = sf_writef_float(file, block.data(), n) == n;
        } else {
            for (std::int32_t i = 0; i < 2 * n; ++i) pcm[i] = sample_to_s16(block[i]);
            ok = sf_writef_short(file, pcm.data(), n) == n;
        }
        done += n;
        progress.update(done, total);
    }
    if (total == 0) progress.update(0, 0);
    const std::string error = ok ? "" : sf_strerror(file);
    if (sf_close(file) != 0) ok = false;
    if (ok && to_stdout) {
        ok = std::fwrite(memory.bytes.data(), 1, memory.bytes.size(), stdout) == memory.bytes.size() &&
             std::fflush(stdout) == 0;
    }
    if (!ok) {
        std::fprintf(stderr, "qmsong: cannot write %s: %s\n", o.output.c_str(),
                     error.empty() ? std::strerror(errno) : error.c_str());
        return EXIT_IO;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Inspect and render qmfix song images."};
    app.require_subcommand(1);

    std::string info_image;
    CLI::App *info =
        app.add_subcommand("info", "Print the header, streams, sections and length of a song image.");
    info->add_option("IMAGE", info_image, "Song image file")->required();

    RenderOptions r;
    CLI::App *render = app.add_subcommand("render", "Render a song image to an audio file.");
    render->add_option("IMAGE", r.image, "Song image file")->required();
    render->add_option("-o,--output", r.output, "Output file, or - for standard output")->required();
    render->add_option("--from", r.from_ms, "Start position in milliseconds (default 0)")
        ->check(CLI::NonNegativeNumber);
    auto *seconds =
        render->add_option("--seconds", r.seconds, "Length in seconds")->check(CLI::NonNegativeNumber);
    auto *frames =
        render->add_option("--frames", r.frames, "Length in frames")->check(CLI::NonNegativeNumber);
    seconds->excludes(frames);
    render->add_option("--format", r.format, "s16 (16-bit WAV, default), f32 (float WAV) or flac")
        ->check(CLI::IsMember({"s16", "f32", "flac"}));
    render->add_option("--seed", r.seed, "Fixed processor-clock reading, for reproducible renders");
    render->add_option("--block", r.block, "Frames per render call (default 1024)")
        ->check(CLI::Range(1, 1 << 20));
    render->footer(
        "Without --seconds or --frames the render runs until the song has finished, plus 4 seconds.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::fprintf(stderr, "qmsong: %s (try --help)\n", e.what());
        return EXIT_USAGE;
    }
    if (*info) return run_info(info_image);
    if (r.seconds && !(*r.seconds * SONG_SAMPLE_RATE < 9.0e18)) {
        std::fprintf(stderr, "qmsong: --seconds too large\n");
        return EXIT_USAGE;
    }
    return run_render(r);
}
