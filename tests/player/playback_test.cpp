// Playback control: opening, positioning, the render path in each state, stopping and fading.
#include "player/playback.h"
#include "player/song_writer.h"
#include "tests/player/fixture_songs.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

namespace {

class Playback : public ::testing::Test {
  protected:
    void SetUp() override {
        song_skip_pauses(1);
        clock_fix(12345);
    }
    void TearDown() override {
        song_close();
        song_skip_pauses(0);
        clock_release_fixed();
    }
    // Loads `song` into the player; the image stays alive with the fixture.
    void load(const SongDescription &song) {
        image = write_fixture(song);
        ASSERT_TRUE(song_load(image.data(), image.size()));
    }
    static PlaybackState state() { return song_player.sequencer.state.load(); }
    static std::vector<float> render(std::int32_t frames, float fill = NAN, int add = 0) {
        std::vector<float> out(2 * static_cast<std::size_t>(frames), fill);
        song_render(out.data(), frames, add);
        return out;
    }
    std::vector<std::uint8_t> image;
};

// Default tempo (500000 us per beat) at 128 ticks per beat: 128 ticks are exactly 22050 samples.
SongDescription beat_song() {
    SongDescription s = sounding_song();
    s.end_tick = 384;
    s.channels[0].notes = {{0, 60, 100}, {128, 64, 100}, {256, 60, 0}, {384, 64, 0}};
    s.channels[0].programs = {{0, 0}};
    return s;
}

TEST_F(Playback, LoadingLeavesThePlayerOpenAndIdleWithoutATick) {
    load(beat_song());
    EXPECT_EQ(song_player.open.load(), 1);
    EXPECT_EQ(state(), PlaybackState::Idle);
    EXPECT_EQ(song_player.sample_rate, 44100);
    EXPECT_EQ(song_player.sequencer.current_tick, 0);
    EXPECT_EQ(song_player.sequencer.next_tick, 0);
    EXPECT_EQ(song_player.sequencer.channels[0].streams[STREAM_NOTE].index, 0);
}

TEST_F(Playback, RejectedImageLeavesThePlayerClosedAndPlayDoesNothing) {
    load(beat_song());
    std::vector<std::uint8_t> bad(image.begin(), image.end() - 1);
    const char *reason = nullptr;
    EXPECT_FALSE(song_load(bad.data(), bad.size(), &reason));
    EXPECT_NE(reason, nullptr);
    EXPECT_FALSE(song_open(bad.data(), bad.size(), nullptr));
    EXPECT_EQ(song_player.open.load(), 0);
    song_play(0);
    EXPECT_EQ(song_player.open.load(), 0);
    EXPECT_NE(state(), PlaybackState::Playing);
    const auto out = render(64, 0.5f);
    for (float v : out) EXPECT_EQ(v, 0.0f);
}

TEST_F(Playback, PlayFromZeroRunsNoTickBeforeTheFirstRender) {
    load(beat_song());
    song_play(0);
    EXPECT_EQ(state(), PlaybackState::Playing);
    EXPECT_EQ(song_player.sequencer.channels[0].streams[STREAM_NOTE].index, 0);
    EXPECT_EQ(song_player.sequencer.samples_to_event, 0);
    render(1);
    // The tick-0 events went out before the first frame; the next event is 22050 samples on.
    EXPECT_EQ(song_player.sequencer.channels[0].streams[STREAM_NOTE].index, 1);
    EXPECT_EQ(song_player.sequencer.samples_to_event, 22049);
}

TEST_F(Playback, PositioningRunsTheEventsBeforeTheStartOnly) {
    load(beat_song());
    struct Case {
        std::int32_t ms;
        std::int32_t current_tick, next_tick, samples_to_event, notes_sent;
    } cases[] = {
        {1000, 128, 256, 0, 2},     // the event at exactly 44100 samples is left to the render path
        {999, 128, 256, 44, 2},     // 44055.9 samples: 44100 - 44055.9 = 44.1 rounds to 44
        {5, 0, 128, 21830, 1},      // 220.5 samples: 21829.5 rounds to the even 21830
        {15, 0, 128, 21388, 1},     // 661.5 samples: 21388.5 rounds to the even 21388
        {1001, 256, 384, 22006, 3}, // 44144.1 samples: 66150 - 44144.1 = 22005.9 rounds to 22006
    };
    for (const Case &c : cases) {
        song_play(c.ms);
        const Sequencer &s = song_player.sequencer;
        EXPECT_EQ(s.current_tick, c.current_tick) << c.ms;
        EXPECT_EQ(s.next_tick, c.next_tick) << c.ms;
        EXPECT_EQ(s.samples_to_event, c.samples_to_event) << c.ms;
        EXPECT_EQ(s.channels[0].streams[STREAM_NOTE].index, c.notes_sent) << c.ms;
        EXPECT_EQ(song_player.open.load(), 1);
        EXPECT_EQ(state(), PlaybackState::Playing);
    }
}

TEST_F(Playback, PositionAfterTheEndFinishesAndRendersTails) {
    load(beat_song());
    song_play(60000);
    EXPECT_EQ(state(), PlaybackState::Finished);
    EXPECT_EQ(song_player.open.load(), 1);
    EXPECT_EQ(song_player.sequencer.channels[0].streams[STREAM_NOTE].index, 4);
    const auto out = render(300);
    for (float v : out) ASSERT_TRUE(std::isfinite(v)); // every frame written by the synthesizer
    EXPECT_EQ(state(), PlaybackState::Finished);
}

TEST_F(Playback, IdleGivesZerosWithAddZeroAndLeavesTheBlockWithAddOne) {
    load(beat_song());
    ASSERT_EQ(state(), PlaybackState::Idle);
    for (float v : render(100, 0.25f, 0)) EXPECT_EQ(v, 0.0f);
    for (float v : render(100, 0.25f, 1)) EXPECT_EQ(v, 0.25f);
    EXPECT_EQ(song_player.sequencer.channels[0].streams[STREAM_NOTE].index, 0);
}

TEST_F(Playback, SongEndingInsideABlockStillFillsTheWholeBlock) {
    SongDescription s = beat_song();
    s.end_tick = 128;
    s.channels[0].notes = {{0, 60, 100}, {128, 60, 0}};
    load(s);
    song_play(0);
    render(22050 - 100);
    ASSERT_EQ(song_player.sequencer.samples_to_event, 100);
    const auto block = render(512);
    EXPECT_EQ(state(), PlaybackState::Finished);
    EXPECT_EQ(song_player.sequencer.samples_to_event, -1);
    for (float v : block) ASSERT_TRUE(std::isfinite(v));

    // The same stretch rendered in other pieces gives the same samples: the last 412 frames were
    // rendered by the synthesizer, not left behind.
    song_play(0);
    render(22050);
    const auto rest = render(412);
    for (int i = 0; i < 2 * 412; ++i) ASSERT_EQ(block[200 + i], rest[i]) << i;
}

TEST_F(Playback, BlockSizeDoesNotChangeTheSound) {
    load(beat_song());
    song_play(0);
    const auto whole = render(70000);
    song_play(0);
    std::vector<float> pieces;
    for (int done = 0; done < 70000;) {
        const int n = std::min(37, 70000 - done);
        const auto part = render(n);
        pieces.insert(pieces.end(), part.begin(), part.end());
        done += n;
    }
    ASSERT_EQ(pieces.size(), whole.size());
    for (std::size_t i = 0; i < whole.size(); ++i) ASSERT_EQ(pieces[i], whole[i]) << "sample " << i;
}

// A one-second fade at 44100 Hz: the gain falls by 1/44100 per frame from 1.0 and the song stops when
// it reaches 0. Measured on a block that the Idle state leaves unchanged (add 1).
TEST_F(Playback, FadeFallsLinearlyOverOneSecond) {
    load(beat_song());
    song_play(0);
    song_stop(1000);
    EXPECT_EQ(song_player.fade_step.load(), 1.0f / 44100.0f);
    EXPECT_EQ(state(), PlaybackState::Playing); // a fade does not stop the song by itself
    song_stop(0);
    std::vector<float> ones(2 * 50000, 1.0f);
    song_render(ones.data(), 50000, 1);
    float expected = 1.0f;
    int first_zero = -1;
    for (int i = 0; i < 50000; ++i) {
        ASSERT_EQ(ones[2 * i], expected) << i;
        ASSERT_EQ(ones[2 * i + 1], expected) << i;
        EXPECT_NEAR(ones[2 * i], std::max(0.0, 1.0 - i / 44100.0), 1e-3) << i;
        if (first_zero < 0 && expected == 0.0f) first_zero = i;
        expected = std::max(0.0f, expected - 1.0f / 44100.0f);
    }
    // Single-precision steps of 1/44100 reach 0 a little late: at frame 44123.
    EXPECT_EQ(first_zero, 44123);
}

TEST_F(Playback, FadeEndsThePlayingSongInTheBlockWhereTheGainReachesZero) {
    load(beat_song());
    song_play(0);
    const auto plain = render(44100 + 128);
    song_play(0);
    song_stop(1000);
    std::vector<float> faded;
    while (state() == PlaybackState::Playing && faded.size() < plain.size()) {
        const auto part = render(128);
        faded.insert(faded.end(), part.begin(), part.end());
    }
    EXPECT_EQ(state(), PlaybackState::Idle);
    EXPECT_NEAR(static_cast<double>(faded.size() / 2), 44100.0, 128.0);
    float gain = 1.0f;
    for (std::size_t i = 0; i < faded.size() / 2; ++i) {
        ASSERT_EQ(faded[2 * i], plain[2 * i] * gain) << i;
        gain = std::max(0.0f, gain - 1.0f / 44100.0f);
    }
    for (float v : render(256)) EXPECT_EQ(v, 0.0f); // stopped: silence from then on
}

TEST_F(Playback, StopWithZeroOrNegativeFadeStopsAtOnce) {
    for (std::int32_t ms : {0, -5}) {
        load(beat_song());
        song_play(0);
        render(1000);
        song_stop(ms);
        EXPECT_EQ(state(), PlaybackState::Idle) << ms;
        EXPECT_EQ(song_player.fade_step.load(), 0.0f) << ms;
        for (float v : render(64, 0.5f)) EXPECT_EQ(v, 0.0f);
    }
}

TEST_F(Playback, NoBufferDoesNothing) {
    load(beat_song());
    song_play(0);
    song_render(nullptr, 512, 0);
    EXPECT_EQ(song_player.sequencer.channels[0].streams[STREAM_NOTE].index, 0);
    EXPECT_EQ(song_player.sequencer.samples_to_event, 0);
    EXPECT_EQ(render_callback(nullptr, nullptr, 512), 0);
    EXPECT_EQ(song_player.sequencer.samples_to_event, 0);
}

TEST_F(Playback, RenderCallbackRendersLikeSongRender) {
    load(beat_song());
    song_play(0);
    const auto direct = render(2048);
    song_play(0);
    std::vector<float> via(2 * 2048, NAN);
    EXPECT_EQ(render_callback(&song_player, via.data(), 2048), 0);
    EXPECT_EQ(via, direct);
}

// The output seam: song_open starts it with the player's callback, song_close stops it.
struct OutputLog {
    static inline int opened = 0, closed = 0;
    static inline RenderCallback callback = nullptr;
    static inline void *user = nullptr;
    static bool open(RenderCallback cb, void *u) {
        ++opened, callback = cb, user = u;
        return true;
    }
    static void close() { ++closed; }
};

TEST_F(Playback, OpenStartsTheOutputAndCloseStopsIt) {
    image = write_fixture(beat_song());
    const SongOutput output{OutputLog::open, OutputLog::close};
    ASSERT_TRUE(song_open(image.data(), image.size(), &output));
    EXPECT_EQ(OutputLog::opened, 1);
    EXPECT_EQ(OutputLog::callback, &render_callback);
    EXPECT_EQ(OutputLog::user, &song_player);
    song_play(0);
    song_close();
    EXPECT_EQ(OutputLog::closed, 1);
    EXPECT_EQ(song_player.open.load(), 0);
    EXPECT_EQ(state(), PlaybackState::Idle);
}

TEST_F(Playback, PlayAndStopPauseUnlessSkipped) {
    load(beat_song());
    song_skip_pauses(0);
    const auto start = std::chrono::steady_clock::now();
    song_play(0); // a 3 ms pause in its stop and 10 ms at its end
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(13));
}

TEST_F(Playback, ResetHandsTheSynthesizerItsGlobalsAndSpeechTexts) {
    SongDescription s = beat_song();
    s.globals_block = {90, 80, 70};
    s.speech_texts = {"first", "second"};
    load(s);
    const SongLayout &l = song_player.layout;
    EXPECT_EQ(song_player.synth.patch_map, l.patch_map);
    EXPECT_EQ(song_player.synth.global_settings[0], 90.0f);
    EXPECT_EQ(song_player.synth.global_settings[2], 70.0f);
    EXPECT_EQ(song_player.synth.global_settings[3], 0.0f); // a short block reads as zero-padded
    EXPECT_EQ(song_player.synth.speech.texts[0], l.speech_table[0]);
    EXPECT_EQ(song_player.synth.speech.texts[1], l.speech_table[1]);
    EXPECT_EQ(song_player.synth.speech.text_start, l.speech_table[0]);
}

// A program without a valid patch inside the patch map leaves its channel silent: the render equals
// that of a song without notes.
TEST_F(Playback, ProgramWithoutAValidPatchIsSilent) {
    SongDescription quiet = beat_song();
    quiet.channels[0] = SongChannel{};
    load(quiet);
    song_play(0);
    const auto silence = render(30000);

    SongDescription missing = beat_song();
    missing.channels[0].programs = {{0, 5}}; // the map holds program 0 only
    load(missing);
    song_play(0);
    EXPECT_EQ(render(30000), silence);

    // Program 0's offset points 10 bytes before the end of the section: its patch would reach past it.
    image = write_fixture(beat_song());
    SongLayout l;
    ASSERT_TRUE(parse_song_image(&l, image.data(), image.size()));
    const std::size_t table = static_cast<std::size_t>(l.patch_map - image.data());
    image[table] = static_cast<std::uint8_t>(l.patch_map_size - 10);
    ASSERT_TRUE(song_load(image.data(), image.size()));
    song_play(0);
    EXPECT_EQ(render(30000), silence);
}

} // namespace
