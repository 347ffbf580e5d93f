#include "patch_builder.h"
#include "platform/clock.h"
#include "synth/channel.h"
#include "synth/global_effects.h"
#include "synth/midi.h"
#include "synth/rate.h"
#include "synth/render.h"
#include "synth/synth_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Globals that pass the channels through: no reverb, no delay, no compressor, high cut off.
constexpr std::uint8_t PLAIN_GLOBALS[GLOBALS_BLOCK_SIZE] = {114, 0,   70, 0, 64, 64, 0,  0,  0,  0,  64,
                                                            0,   127, 0,  0, 0,  0,  64, 32, 20, 64, 64};
// The embedded song's globals: reverb and delay on.
constexpr std::uint8_t SONG_GLOBALS[GLOBALS_BLOCK_SIZE] = {114, 99,  70, 48, 100, 80, 62, 66, 0,  0,  64,
                                                           0,   121, 0,  0,  1,   2,  90, 32, 20, 64, 64};

struct Synth {
    std::vector<std::uint8_t> map;
    std::unique_ptr<SynthState> s{new SynthState};
    explicit Synth(const std::vector<TestPatch> &patches, const std::uint8_t *globals = SONG_GLOBALS) {
        clock_fix(12345);
        map = build_patch_map(patches);
        synth_init(s.get(), map.data(), static_cast<std::uint32_t>(map.size()), 44100);
        if (globals != nullptr) synth_set_globals(s.get(), globals);
    }
    ~Synth() { clock_release_fixed(); }
    void midi(std::vector<std::uint8_t> bytes) {
        bytes.push_back(0xFD);
        synth_process_midi(s.get(), bytes.data());
    }
    std::vector<float> render(int count) {
        std::vector<float> out(2 * count, 0.0f);
        synth_render(s.get(), out.data(), count, nullptr, 0);
        return out;
    }
};

TestPatch chorus_patch() {
    TestPatch p = audible_patch();
    p.channel[0] = 100; // volume
    p.channel[5] = 40;  // reverb send
    p.channel[6] = 40;  // delay send
    p.channel[13] = 90; // chorus
    p.channel[14] = 70;
    p.channel[15] = 3;
    p.channel[16] = 4;
    p.channel[17] = 60;
    p.channel[18] = 50;
    p.channel[19] = 80;
    p.channel[20] = 2; // RMS compressor
    p.channel[23] = 1;
    p.channel[24] = 100;
    p.channel[25] = 64;
    p.channel[26] = 30;
    p.channel[27] = 40;
    p.channel[28] = 64;
    return p;
}

// First index at which two renders differ, or -1.
int first_difference(const std::vector<float> &a, const std::vector<float> &b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return static_cast<int>(i);
    return a.size() == b.size() ? -1 : static_cast<int>(std::min(a.size(), b.size()));
}

double energy(const std::vector<float> &v, std::size_t from = 0) {
    double e = 0;
    for (std::size_t i = from; i < v.size(); ++i) e += static_cast<double>(v[i]) * v[i];
    return e;
}

TEST(Render, FramesAreHandedOutAcrossCalls) {
    Synth a({chorus_patch()});
    a.midi({0x90, 60, 100});
    std::vector<float> out = a.render(200);
    EXPECT_EQ(a.s->frame_remaining, 56);
    EXPECT_GT(energy(out), 0.0);

    Synth b({chorus_patch()});
    b.midi({0x90, 60, 100});
    std::vector<float> whole = b.render(256);
    out.resize(2 * 256);
    synth_render(a.s.get(), out.data() + 400, 56, nullptr, 0);
    EXPECT_EQ(a.s->frame_remaining, 0);
    EXPECT_EQ(first_difference(out, whole), -1);
}

TEST(Render, BlockSizeDoesNotChangeTheSound) {
    const int total = 128 * 40;
    Synth reference({chorus_patch()});
    reference.midi({0x90, 60, 100, 0x90, 67, 90});
    const std::vector<float> whole = reference.render(total);
    ASSERT_GT(energy(whole), 1.0);
    for (int block : {64, 1, 7, 200, 279}) {
        Synth pieces({chorus_patch()});
        pieces.midi({0x90, 60, 100, 0x90, 67, 90});
        std::vector<float> out(2 * total, 0.0f);
        for (int done = 0; done < total; done += block) {
            const int n = std::min(block, total - done);
            synth_render(pieces.s.get(), out.data() + 2 * done, n, nullptr, 0);
        }
        EXPECT_EQ(first_difference(out, whole), -1) << "block " << block;
    }
}

TEST(Render, AddOverwriteAndTwoOutputs) {
    const int n = 300;
    Synth reference({chorus_patch()});
    reference.midi({0x90, 60, 100});
    const std::vector<float> expected = reference.render(n);

    Synth over({chorus_patch()});
    over.midi({0x90, 60, 100});
    std::vector<float> out(2 * n, 0.75f);
    synth_render(over.s.get(), out.data(), n, nullptr, 0);
    EXPECT_EQ(first_difference(out, expected), -1);

    Synth add({chorus_patch()});
    add.midi({0x90, 60, 100});
    std::vector<float> sum(2 * n, 0.75f);
    synth_render(add.s.get(), sum.data(), n, nullptr, 1);
    for (int i = 0; i < 2 * n; ++i) ASSERT_EQ(sum[i], 0.75f + expected[i]) << i;

    for (int adding : {0, 5}) {
        Synth split({chorus_patch()});
        split.midi({0x90, 60, 100});
        std::vector<float> left(n, 0.5f), right(n, -0.5f);
        synth_render(split.s.get(), left.data(), n, right.data(), adding);
        for (int k = 0; k < n; ++k) {
            ASSERT_EQ(left[k], adding ? 0.5f + expected[2 * k] : expected[2 * k]) << k;
            ASSERT_EQ(right[k], adding ? -0.5f + expected[2 * k + 1] : expected[2 * k + 1]) << k;
        }
    }
}

TEST(Render, CountZeroChangesNothing) {
    Synth a({chorus_patch()});
    a.midi({0x90, 60, 100});
    a.render(50);
    std::unique_ptr<SynthState> before(new SynthState);
    std::memcpy(before.get(), a.s.get(), sizeof(SynthState));
    float out[2] = {3.0f, 4.0f};
    synth_render(a.s.get(), out, 0, nullptr, 0);
    EXPECT_EQ(std::memcmp(before.get(), a.s.get(), sizeof(SynthState)), 0);
    EXPECT_EQ(out[0], 3.0f);
    EXPECT_EQ(out[1], 4.0f);
}

// A note started between calls sounds from the next frame boundary: the 28 samples left of the
// frame already computed are handed out unchanged.
TEST(Render, NoteBetweenCallsStartsAtTheNextFrame) {
    TestPatch p = chorus_patch();
    p.channel[20] = 0; // no compressor lookahead in the way
    Synth with({p}), without({p});
    with.render(100);
    without.render(100);
    with.midi({0x90, 60, 100});
    const std::vector<float> a = with.render(300), b = without.render(300);
    const int first = first_difference(a, b);
    EXPECT_GE(first, 2 * 28);
    EXPECT_LT(first, 2 * (28 + 128));
}

// The frame in which envelope 1 finishes frees the voice before rendering: its amplitude ramp does
// not move in that frame and the voice is not heard.
TEST(Render, FinishedVoiceIsFreedAndNotRendered) {
    TestPatch p = chorus_patch();
    p.voice[36] = 10; // short release
    Synth a({p});
    a.midi({0x90, 60, 100});
    a.render(128 * 10);
    a.midi({0x80, 60, 0});
    int frames = 0, moving = 0;
    for (; frames < 2000 && a.s->voice_channel[0] != -1; ++frames) {
        const float amp = a.s->voices[0].amp;
        synth_render_frame(a.s.get());
        a.s->frame_remaining = 0;
        if (a.s->voice_channel[0] == -1)
            EXPECT_EQ(a.s->voices[0].amp, amp);
        else
            moving += a.s->voices[0].amp != amp;
    }
    EXPECT_EQ(a.s->voice_channel[0], -1);
    EXPECT_GT(moving, 0);
}

TEST(MixFrame, SilentBeforeTheGlobalsAreApplied) {
    Synth a({chorus_patch()}, nullptr);
    a.midi({0x90, 60, 127, 0x90, 64, 127});
    const std::vector<float> out = a.render(128 * 20);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << i;
}

TEST(MixFrame, GlobalsConfigureTheChain) {
    struct Case {
        int byte;
        std::uint8_t value;
    };
    Synth a({chorus_patch()}, nullptr);
    std::uint8_t globals[GLOBALS_BLOCK_SIZE];
    std::memcpy(globals, SONG_GLOBALS, sizeof globals);
    synth_set_globals(a.s.get(), globals);
    EXPECT_NEAR(a.s->reverb.gain[0], 0.989466f, 6e-6f);
    EXPECT_EQ(a.s->global_delay.wet, 0.5625f);
    EXPECT_EQ(a.s->global_delay.left_length, 15376);
    EXPECT_EQ(a.s->global_delay.right_length, 16368);
    EXPECT_NE(a.s->main_compressor.mode & COMP_OFF_BIT, 0); // byte 13 = 0: off
    EXPECT_NEAR(a.s->cut_filter.low_cut, 6.1035e-05f, 1e-9f);
    EXPECT_NEAR(a.s->cut_filter.high_cut, 0.908447f, 1e-6f); // (122/128)^2
    for (int i = 0; i < GLOBALS_BLOCK_SIZE; ++i) EXPECT_EQ(a.s->global_settings[i], globals[i]);

    globals[11] = 127;
    globals[12] = 127;
    globals[4] = 64;
    globals[16] = 255; // outside the format: the lookahead stays inside its line
    globals[13] = 1;
    synth_set_globals(a.s.get(), globals);
    EXPECT_EQ(a.s->cut_filter.low_cut, 1.0f);
    EXPECT_EQ(a.s->cut_filter.high_cut, 1.0f);
    EXPECT_EQ(a.s->global_delay.wet, 0.0f);
    EXPECT_LE(a.s->main_compressor.lookahead, COMP_LOOKAHEAD_FRAMES - 1);
    globals[12] = 126;
    synth_set_globals(a.s.get(), globals);
    EXPECT_NEAR(a.s->cut_filter.high_cut, 0.984436f, 1e-6f);
}

// A foreign song's globals block may hold bytes above 127. Taken as they are, they make the cut
// filters, the reverb damping and low cut and the delay feedback grow without bound, and the first
// infinity turns the output into NaN for the rest of the song. They are held at 127.
TEST(MixFrame, GlobalsAboveTheFormatAreHeldAt127) {
    std::uint8_t high[GLOBALS_BLOCK_SIZE], top[GLOBALS_BLOCK_SIZE];
    std::memset(high, 255, sizeof high);
    std::memset(top, 127, sizeof top);
    Synth a({chorus_patch()}, high), b({chorus_patch()}, top);
    for (int i = 0; i < GLOBALS_BLOCK_SIZE; ++i) EXPECT_EQ(a.s->global_settings[i], 127.0f) << "byte " << i;
    for (Synth *s : {&a, &b}) s->midi({0x90, 60, 127, 0x90, 67, 127});
    const std::vector<float> out = a.render(44100), expected = b.render(44100);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(std::isfinite(out[i])) << "sample " << i;
    EXPECT_EQ(first_difference(out, expected), -1);
}

// Aux buses carry signal only to higher-numbered channels within a frame.
TEST(MixFrame, AuxBusesFeedOnlyLaterChannels) {
    TestPatch sender = audible_patch();
    sender.channel[13] = 64; // chorus dry only
    sender.channel[0] = 0;   // silent in the main mix
    sender.channel[3] = 127; // aux A send
    TestPatch receiver = audible_patch();
    receiver.channel[13] = 64;
    receiver.voice[7] = 0;     // its own voice is silent
    receiver.channel[0] = 127; // full volume
    receiver.channel[1] = 127; // aux A receive
    for (int receiving : {0, 2}) {
        Synth a({sender, receiver}, PLAIN_GLOBALS);
        const std::uint8_t rch = static_cast<std::uint8_t>(receiving);
        a.midi({static_cast<std::uint8_t>(0xC0 | rch), 1, 0x91, 60, 100,
                static_cast<std::uint8_t>(0x90 | rch), 40, 100});
        const std::vector<float> out = a.render(128 * 30);
        if (receiving == 2)
            EXPECT_GT(energy(out), 1.0) << "channel 2 hears channel 1";
        else
            EXPECT_LT(energy(out), 1e-6) << "channel 0 hears nothing from channel 1";
    }
}

// After the channels, the chain runs reverb, global delay, DC filter, cut filters and main compressor
// over main_bus, in that order. With no voice left only the tails of the reverb and delay sound.
TEST(MixFrame, GlobalChainOrder) {
    std::uint8_t globals[GLOBALS_BLOCK_SIZE];
    std::memcpy(globals, SONG_GLOBALS, sizeof globals);
    globals[11] = 20; // low cut that moves
    globals[13] = 1;  // main compressor on: peak
    globals[17] = 30; // low threshold, so that it compresses
    Synth a({chorus_patch()}, globals);
    a.midi({0x90, 60, 127, 0x90, 64, 127});
    a.render(128 * 30);
    a.midi({0xB0, 120, 0}); // all sound off: only the tails are left
    std::unique_ptr<SynthState> b(new SynthState);
    for (int frame = 0; frame < 4; ++frame) {
        std::memcpy(b.get(), a.s.get(), sizeof(SynthState));
        moddelay_attach(&b->global_delay, b->global_delay_lines[0], b->global_delay_lines[1],
                        GLOBAL_DELAY_MASK);
        mix_frame(a.s.get());

        const int n = frame_length;
        std::memset(b->main_bus, 0, sizeof b->main_bus);
        std::memset(b->reverb_bus, 0, sizeof b->reverb_bus);
        std::memset(b->delay_bus, 0, sizeof b->delay_bus);
        reverb_process(&b->reverb, b->reverb_bus, b->main_bus, n);
        moddelay_process_send(&b->global_delay, b->delay_bus, b->main_bus, n);
        dc_filter_stereo(&b->main_dc, b->main_bus, b->main_bus, n);
        cut_process(&b->cut_filter, b->main_bus, n);
        comp_process(&b->main_compressor, b->main_bus, n, b->level_buffer);

        const std::vector<float> got(a.s->main_bus, a.s->main_bus + 2 * n),
            want(b->main_bus, b->main_bus + 2 * n);
        ASSERT_EQ(first_difference(got, want), -1) << "frame " << frame;
        ASSERT_GT(energy(got), 1e-6) << "frame " << frame;
    }
    EXPECT_LT(a.s->main_compressor.gain_left, 0.99f); // the compressor was working
}

TEST(MixFrame, ChannelWithoutVoicesIsSkippedWhole) {
    Synth a({chorus_patch()});
    a.midi({0x90, 60, 100});
    a.render(128 * 5);
    a.midi({0xB0, 120, 0}); // all sound off: channel 0 holds no voice
    a.render(128);
    const std::int32_t wp = a.s->channels[0].chorus.write_position;
    const float gain = a.s->channels[0].compressor.gain_left;
    a.render(128 * 3);
    EXPECT_EQ(a.s->channels[0].chorus.write_position, wp);
    EXPECT_EQ(a.s->channels[0].compressor.gain_left, gain);
}

} // namespace
