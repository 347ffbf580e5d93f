// Sequencer: the MIDI buffers it hands on, tick by tick, for fixture songs built with the writer.
#include "player/sequencer.h"
#include "player/song_image.h"
#include "player/song_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A song sequenced without a synthesizer: each call's buffers are recorded.
struct Sequenced {
    Bytes image;
    SongLayout layout{};
    Sequencer seq{};
    MidiBuffer midi{};
    std::vector<Bytes> buffers; // every buffer handed on, 0xFD included

    explicit Sequenced(const SongDescription &song) {
        std::string error;
        EXPECT_TRUE(song_write_image(song, &image, &error)) << error;
        EXPECT_TRUE(parse_song_image(&layout, image.data(), image.size()));
        sequencer_rewind(&seq, &layout, 44100);
        seq.state = PlaybackState::Playing;
    }
    // The whole buffer as written (a data byte may be 0xFD too).
    static void record(void *self, const std::uint8_t *buffer) {
        auto *q = static_cast<Sequenced *>(self);
        EXPECT_EQ(buffer, q->midi.bytes);
        q->buffers.emplace_back(buffer, buffer + q->midi.length);
    }
    // One tick; returns its bytes (all buffers of the call joined).
    Bytes tick() {
        const std::size_t before = buffers.size();
        sequencer_tick(&seq, &layout, 44100, &midi, record, this);
        Bytes all;
        for (std::size_t i = before; i < buffers.size(); ++i)
            all.insert(all.end(), buffers[i].begin(), buffers[i].end());
        return all;
    }
    bool playing() const { return seq.state.load() == PlaybackState::Playing; }
};

SongChannel channel_with(std::vector<SongNoteEvent> notes, std::vector<SongValueEvent> programs = {}) {
    SongChannel c;
    c.notes = std::move(notes);
    c.programs = std::move(programs);
    return c;
}

TEST(Sequencer, ProgramChangesAtTickZeroComeFirstWithTheirOwnStatusBytes) {
    SongDescription s;
    s.end_tick = 1000;
    s.channels[0] = channel_with({{0, 60, 100}, {10, 60, 0}}, {{0, 5}});
    s.channels[2] = channel_with({{20, 62, 90}}, {{0, 7}});
    Sequenced q(s);
    EXPECT_EQ(q.seq.next_tick, 0);
    // Program change then note on channel 0: two kinds, two status bytes; channel 2 only its program.
    EXPECT_EQ(q.tick(), (Bytes{0xC0, 5, 0x90, 60, 100, 0xC2, 7, 0xFD}));
    EXPECT_EQ(q.seq.current_tick, 0);
    EXPECT_EQ(q.seq.next_tick, 10);
    EXPECT_EQ(q.tick(), (Bytes{0x90, 60, 0, 0xFD})); // velocity 0 is sent as it is
    EXPECT_EQ(q.tick(), (Bytes{0x92, 62, 90, 0xFD}));
    EXPECT_FALSE(q.playing());
}

TEST(Sequencer, ControllerEventsAtOneTickGoOutInConsecutiveCalls) {
    SongDescription s;
    s.end_tick = 1000;
    s.channels[1] = channel_with({{0, 60, 100}});
    s.channels[1].controllers[0] = {{10, 5}, {10, 9}};
    s.channels[1].controllers[1] = {{10, 3}};
    Sequenced q(s);
    EXPECT_EQ(q.tick(), (Bytes{0x91, 60, 100, 0xFD}));
    // Adjacent controller messages of one channel share the status byte.
    EXPECT_EQ(q.tick(), (Bytes{0xB1, 1, 5, 2, 3, 0xFD}));
    EXPECT_EQ(q.seq.current_tick, 10);
    EXPECT_EQ(q.seq.next_tick, 10);
    std::uint32_t remainder = 0;
    EXPECT_EQ(samples_to_next_event(q.seq.next_tick, q.seq.current_tick, q.seq.tempo_factor,
                                    q.layout.tick_divisor, &remainder),
              0);
    EXPECT_EQ(q.tick(), (Bytes{0xB1, 1, 9, 0xFD})); // the value difference is applied: 5 + 4
    EXPECT_FALSE(q.playing());
}

TEST(Sequencer, ChordGoesOutInOneCallWithRunningStatus) {
    SongDescription s;
    s.end_tick = 1000;
    s.channels[3] = channel_with({{4, 60, 100}, {4, 64, 100}, {4, 67, 80}, {8, 60, 0}});
    s.channels[4] = channel_with({{4, 50, 70}});
    Sequenced q(s);
    EXPECT_EQ(q.seq.next_tick, 4);
    EXPECT_EQ(q.tick(), (Bytes{0x93, 60, 100, 64, 100, 67, 80, 0x94, 50, 70, 0xFD}));
    EXPECT_EQ(q.tick(), (Bytes{0x93, 60, 0, 0xFD}));
}

TEST(Sequencer, RunningStatusOnlyForAdjacentMessagesOfOneKind) {
    SongDescription s;
    s.end_tick = 1000;
    SongChannel &c = s.channels[0];
    c.notes = {{0, 60, 100}};
    c.programs = {{0, 1}};
    c.controllers[0] = {{0, 10}};
    c.controllers[6] = {{0, 100}};
    c.pitch_bends = {{0, 0, 64}};
    Sequenced q(s);
    EXPECT_EQ(q.tick(), (Bytes{0xC0, 1, 0xB0, 1, 10, 7, 100, 0xE0, 0, 64, 0x90, 60, 100, 0xFD}));
}

// Values are sums modulo 256: a message whose first data byte has its top bit set keeps its status
// byte, so the receiver cannot take the data byte for a status or for the end marker.
TEST(Sequencer, DataByteWithTheTopBitSetKeepsItsStatusByte) {
    SongDescription s;
    s.end_tick = 1000;
    s.channels[2] = channel_with({{0, 60, 100}, {0, 0xC8, 0xF0}, {0, 0xFD, 5}, {0, 61, 200}});
    s.channels[2].controllers[0] = {{0, 0x90}};
    s.channels[2].controllers[1] = {{0, 7}};
    Sequenced q(s);
    EXPECT_EQ(q.tick(),
              (Bytes{0xB2, 1, 0x90, 2, 7, 0x92, 60, 100, 0x92, 0xC8, 0xF0, 0x92, 0xFD, 5, 61, 200, 0xFD}));
}

TEST(Sequencer, TempoAndTimeSignatureFromTheGlobalTrack) {
    SongDescription s;
    s.end_tick = 100;
    s.globals = {{0, 371519, 3, 4, 8}, {50, 600000, 6, 8, 12}};
    s.channels[0] = channel_with({{0, 60, 1}, {100, 60, 0}});
    Sequenced q(s);
    EXPECT_EQ(q.seq.tempo_factor, 5000u * 44100u);
    q.tick();
    EXPECT_EQ(q.seq.tempo_factor, 163839879u);
    EXPECT_EQ(q.seq.time_signature[0], 3);
    EXPECT_EQ(q.seq.next_tick, 50);
    EXPECT_EQ(q.tick(), (Bytes{0xFD})); // a global event alone sends no message
    EXPECT_EQ(q.seq.tempo_factor, 600000u * 441u);
    EXPECT_EQ((std::vector<int>{q.seq.time_signature[0], q.seq.time_signature[1], q.seq.time_signature[2]}),
              (std::vector<int>{6, 8, 12}));
}

TEST(Sequencer, WithoutGlobalEventsTheTempoStaysAt500000Microseconds) {
    SongDescription s;
    s.end_tick = 300;
    s.channels[0] = channel_with({{0, 60, 1}, {128, 60, 0}, {300, 61, 1}});
    Sequenced q(s);
    while (q.playing()) {
        q.tick();
        EXPECT_EQ(q.seq.tempo_factor, 220500000u);
    }
    // 500000 us per beat of 128 ticks at 44100 Hz: 22050 samples for 128 ticks.
    std::uint32_t remainder = 0;
    EXPECT_EQ(samples_to_next_event(128, 0, 220500000u, 1280000u, &remainder), 22050);
}

TEST(Sequencer, SamplesToNextEventWorkedExample) {
    struct Case {
        std::int32_t ticks, samples;
        std::uint32_t remainder;
    } cases[] = {{1, 127, 1279879}, {1751, 224127, 1068129}, {0, 0, 0}};
    for (const Case &c : cases) {
        std::uint32_t remainder = 0;
        EXPECT_EQ(samples_to_next_event(5000 + c.ticks, 5000, 163839879u, 1280000u, &remainder), c.samples)
            << c.ticks;
        EXPECT_EQ(remainder, c.remainder) << c.ticks;
    }
}

TEST(Sequencer, RemainderCarriesOnlyWhenItPassesTwoToThe32) {
    std::uint32_t remainder = 0;
    for (int step = 1; step <= 3356; ++step) {
        const std::int32_t samples = samples_to_next_event(step, step - 1, 163839879u, 1280000u, &remainder);
        ASSERT_EQ(samples, step == 3356 ? 128 : 127) << step;
    }
    EXPECT_EQ(remainder, static_cast<std::uint32_t>(3356ull * 1279879ull));
}

TEST(Sequencer, HugeDistanceIsHeldAtTheLargestSampleCount) {
    std::uint32_t remainder = 0;
    EXPECT_EQ(samples_to_next_event(INT32_MAX, 0, 0xFFFFFFFFu, 10000u, &remainder), INT32_MAX);
}

TEST(Sequencer, SongWithoutEventsFinishesOnItsFirstTick) {
    SongDescription s;
    s.end_tick = 100;
    Sequenced q(s);
    EXPECT_EQ(q.seq.next_tick, -1);
    EXPECT_EQ(q.tick(), (Bytes{0xFD}));
    EXPECT_FALSE(q.playing());
    EXPECT_EQ(q.seq.state.load(), PlaybackState::Finished);
    q.tick(); // finished: nothing more
    EXPECT_EQ(q.buffers.size(), 1u);
}

TEST(Sequencer, SecondEventAtTickZeroStopsItsStream) {
    SongDescription s;
    s.end_tick = 1000;
    s.channels[0] = channel_with({{0, 60, 100}, {50, 60, 0}}, {{0, 1}, {1, 2}, {40, 3}});
    Sequenced q(s);
    // The writer refuses a second program change at tick 0: make the second delta 0 by hand.
    const EventStream &programs = q.layout.channels[0].streams[STREAM_PROGRAM];
    ASSERT_EQ(programs.start[1], 1);
    q.image[static_cast<std::size_t>(programs.start + 1 - q.image.data())] = 0;
    sequencer_rewind(&q.seq, &q.layout, 44100);
    EXPECT_EQ(q.tick(), (Bytes{0xC0, 1, 0x90, 60, 100, 0xFD}));
    EXPECT_EQ(q.seq.channels[0].streams[STREAM_PROGRAM].pending_tick, 0);
    EXPECT_EQ(q.seq.next_tick, 50); // tick 0 never passes the candidate rule
    EXPECT_EQ(q.tick(), (Bytes{0x90, 60, 0, 0xFD}));
    EXPECT_FALSE(q.playing());
}

TEST(Sequencer, EventsBeyondTheEndTickAreNeverSent) {
    SongDescription s;
    s.end_tick = 30;
    s.channels[0] = channel_with({{0, 60, 100}, {30, 60, 0}, {31, 62, 100}});
    Sequenced q(s);
    q.tick();
    EXPECT_TRUE(q.playing());
    EXPECT_EQ(q.tick(), (Bytes{0x90, 60, 0, 0xFD}));
    EXPECT_FALSE(q.playing());
    EXPECT_EQ(q.buffers.size(), 2u);
}

TEST(Sequencer, ChordLargerThanOneBufferGoesOutInSeveralBuffers) {
    SongDescription s;
    s.end_tick = 10;
    for (int i = 0; i < 400; ++i) s.channels[5].notes.push_back({5, static_cast<std::uint8_t>(i % 128), 1});
    Sequenced q(s);
    q.tick();
    ASSERT_GT(q.buffers.size(), 1u);
    std::vector<std::uint8_t> notes;
    for (const Bytes &b : q.buffers) {
        EXPECT_LE(b.size(), static_cast<std::size_t>(MIDI_BUFFER_CAPACITY));
        EXPECT_EQ(b.front(), 0x95); // each buffer starts with its status byte
        EXPECT_EQ(b.back(), 0xFD);
        for (std::size_t i = 1; i + 1 < b.size(); i += 2) {
            notes.push_back(b[i]);
            EXPECT_EQ(b[i + 1], 1);
        }
    }
    ASSERT_EQ(notes.size(), 400u);
    for (int i = 0; i < 400; ++i) EXPECT_EQ(notes[i], i % 128);
}

// Decodes the recorded buffers back into (tick, status, data1, data2) messages.
using Message = std::tuple<std::int32_t, int, int, int>;

TEST(Sequencer, WrittenSongRoundTripsThroughParserAndSequencer) {
    SongDescription s;
    s.end_tick = 20000000;
    std::vector<Message> expected;
    for (int ch = 0; ch < 16; ch += 3) {
        SongChannel &c = s.channels[ch];
        for (int i = 0; i < 20; ++i) {
            const std::int32_t tick = i * 97 + ch;
            const auto note = static_cast<std::uint8_t>((i * 37 + ch) % 128);
            const auto vel = static_cast<std::uint8_t>(i % 3 == 0 ? 0 : 100 + i);
            c.notes.push_back({tick, note, vel});
            expected.emplace_back(tick, 0x90 | ch, note, vel);
        }
        for (int i = 0; i < 5; ++i) {
            c.programs.push_back({i * 300 + 1, static_cast<std::uint8_t>(100 - i * 20)});
            expected.emplace_back(i * 300 + 1, 0xC0 | ch, 100 - i * 20, -1);
            c.pitch_bends.push_back(
                {i * 211 + 3, static_cast<std::uint8_t>(i * 60), static_cast<std::uint8_t>(127 - i)});
            expected.emplace_back(i * 211 + 3, 0xE0 | ch, i * 60, 127 - i);
        }
        for (int k = 0; k < 7; ++k) {
            c.controllers[k].push_back({k * 13 + 2, static_cast<std::uint8_t>(k * 30)});
            expected.emplace_back(k * 13 + 2, 0xB0 | ch, k + 1, k * 30);
        }
    }
    // A long gap: the largest delta the format holds.
    s.channels[1].notes = {{16777215, 70, 80}};
    expected.emplace_back(16777215, 0x91, 70, 80);

    Sequenced q(s);
    std::vector<Message> got;
    while (q.playing()) {
        const Bytes b = q.tick();
        int status = 0;
        for (std::size_t i = 0; b[i] != 0xFD;) {
            if (b[i] & 0x80) status = b[i++];
            const bool one = (status & 0xF0) == 0xC0;
            got.emplace_back(q.seq.current_tick, status, b[i], one ? -1 : b[i + 1]);
            i += one ? 1 : 2;
        }
    }
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
}

} // namespace
