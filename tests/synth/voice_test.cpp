#include "synth/voice.h"

#include "synth/numeric.h"
#include "synth/rate.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr int N = 128;
constexpr int CAPACITY = 280;

class VoiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rate_set(44100);
        voice_reset(&v);
        p[0] = 64;  // centre
        p[1] = 64;  // no transpose
        p[2] = 1;   // osc 1 TriSaw
        p[4] = 64;  // transpose 0
        p[5] = 64;  // detune 0
        p[6] = 40;  // colour
        p[7] = 128; // full volume
        for (int k : {8, 14}) p[k + 2] = p[k + 3] = 64;
        p[20] = 1; // filter 1 Low
        p[21] = 64;
        p[23] = 3; // filter 2 High
        p[24] = 40;
        p[26] = 1;   // serial
        p[27] = 64;  // balance centre
        p[29] = 32;  // distortion off, gain 1
        p[34] = 128; // env 1: attack 0, decay 0, sustain 128, hold, release 0, amplify 128
        p[35] = 64;
        p[37] = 128;
        p[40] = 128;
        p[41] = 64;
        p[43] = 128;
    }
    void set() { voice_set(&v, p); }
    void start(int note) {
        set();
        voice_note_start(&v, note, 100);
    }
    // One control frame: set, tick, render into a cleared channel buffer.
    void frame() {
        set();
        voice_tick(&v);
        std::memset(channel, 0, sizeof channel);
        voice_render(&v, N, mono, second, channel, nullptr, nullptr);
    }

    VoiceState v{};
    float p[VOICE_PARAM_COUNT] = {};
    float mono[CAPACITY] = {};
    float second[CAPACITY] = {};
    float channel[2 * CAPACITY] = {};
};

TEST_F(VoiceTest, PanAndBalanceGains) {
    struct Case {
        float pan, balance;
        float left, right, f1, f2;
    };
    const Case cases[] = {
        {64, 64, 0.70710677f, 0.70710677f, 1.0f, 1.0f},
        {0, 0, 1.0f, 0.0f, 1.0f, 0.0f},
        {128, 127, 0.0f, 1.0f, 0.015625f, 1.0f},
        {96, 32, 0.5f, 0.8660254f, 1.0f, 0.5f},
    };
    for (const Case &c : cases) {
        p[0] = c.pan;
        p[27] = c.balance;
        set();
        EXPECT_EQ(v.gainLeft, c.left) << c.pan;
        EXPECT_EQ(v.gainRight, c.right) << c.pan;
        EXPECT_EQ(v.filter1Gain, c.f1) << c.balance;
        EXPECT_EQ(v.filter2Gain, c.f2) << c.balance;
    }
}

TEST_F(VoiceTest, SetWritesTransposeAndOscillatorNotes) {
    p[1] = 52;
    p[26] = 2.4f;
    p[58] = 1.6f;
    start(60);
    EXPECT_EQ(v.transpose, -12.0f);
    EXPECT_EQ(v.osc1.note, 48.0f);
    EXPECT_EQ(v.osc3.note, 48.0f);
    EXPECT_EQ(v.routing, 2);
    EXPECT_EQ(v.keySync, 2);
}

TEST_F(VoiceTest, SilentVoiceAddsAntiDenormalToEverySample) {
    p[2] = 0;  // all oscillators off
    p[20] = 0; // filters off (they inject ANTI_DENORMAL of their own)
    p[23] = 0;
    start(60);
    frame();
    frame();
    for (int i = 0; i < 2 * N; ++i) ASSERT_EQ(channel[i], ANTI_DENORMAL) << i;
}

TEST_F(VoiceTest, AmplitudeRampsOverTheFirstFrame) {
    p[20] = 0; // filters off: the raw oscillator reaches the output stage
    p[23] = 0;
    start(60);
    frame();
    EXPECT_EQ(v.ampStep, 1.0f / 128.0f);
    EXPECT_EQ(v.amp, 1.0f);               // reached at the end of the first frame
    EXPECT_EQ(channel[0], ANTI_DENORMAL); // first sample uses the old amp 0
    EXPECT_EQ(channel[1], ANTI_DENORMAL);
    const float s = mono[5] * (5.0f / 128.0f);
    EXPECT_EQ(channel[10], s * v.gainLeft + ANTI_DENORMAL);
    EXPECT_EQ(channel[11], s * v.gainRight + ANTI_DENORMAL);
    frame();
    EXPECT_EQ(v.ampStep, 0.0f);
    EXPECT_EQ(channel[0], mono[0] * v.gainLeft + ANTI_DENORMAL);
}

TEST_F(VoiceTest, RenderAddsIntoTheChannelBuffer) {
    start(60);
    frame();
    float first[2 * N];
    std::memcpy(first, channel, sizeof first);
    const VoiceState copy = v;
    frame();
    float alone[2 * N];
    std::memcpy(alone, channel, sizeof alone);

    v = copy;
    set();
    voice_tick(&v);
    std::memcpy(channel, first, sizeof first);
    voice_render(&v, N, mono, second, channel, nullptr, nullptr);
    for (int i = 0; i < 2 * N; ++i) ASSERT_EQ(channel[i], alone[i] + first[i]) << i;
}

// Renders a few frames with the given routing and balance from a fresh voice; returns the left samples.
std::vector<float> render_routing(float routing, float balance) {
    VoiceState v{};
    voice_reset(&v);
    float p[VOICE_PARAM_COUNT] = {};
    p[0] = 0; // all left
    p[1] = 64;
    p[2] = 2; // pulse
    p[4] = p[5] = p[6] = 64;
    p[7] = 100;
    p[20] = 1;
    p[21] = 50;
    p[22] = 90;
    p[23] = 3;
    p[24] = 70;
    p[25] = 20;
    p[26] = routing;
    p[27] = balance;
    p[29] = 32;
    p[34] = 128;
    p[35] = 64;
    p[37] = 128;
    voice_set(&v, p);
    voice_note_start(&v, 45, 100);
    std::vector<float> out;
    float mono[N], second[N], channel[2 * N];
    for (int f = 0; f < 4; ++f) {
        voice_set(&v, p);
        voice_tick(&v);
        std::memset(channel, 0, sizeof channel);
        voice_render(&v, N, mono, second, channel, nullptr, nullptr);
        for (int i = 0; i < N; ++i) out.push_back(channel[2 * i]);
    }
    return out;
}

TEST_F(VoiceTest, FilterRoutings) {
    const std::vector<float> serial = render_routing(1, 64);
    EXPECT_EQ(render_routing(5, 64), serial); // any value but 0 and 2 is serial
    EXPECT_EQ(render_routing(1, 0), serial);  // balance only matters in parallel
    const std::vector<float> single = render_routing(0, 64);
    EXPECT_NE(single, serial);
    EXPECT_EQ(render_routing(0, 10), single);
    // Parallel with balance 0 weighs filter 2 by 0: filter 1 alone, as in the single routing.
    EXPECT_EQ(render_routing(2, 0), single);
    const std::vector<float> parallel = render_routing(2, 64);
    EXPECT_NE(parallel, single);
    EXPECT_NE(parallel, serial);
}

TEST_F(VoiceTest, KeySyncModesAtNoteStartOnAReleasingVoice) {
    p[8] = 4; // osc 2 noise
    p[13] = 64;
    p[28] = 4; // decimator, so the distortion has state
    p[30] = 127;
    p[36] = 100; // slow release
    p[44] = 0;   // LFO 1 saw, no key sync
    p[47] = 100;
    p[50] = 128;
    for (int mode = 0; mode <= 2; ++mode) {
        SCOPED_TRACE(mode);
        voice_reset(&v);
        v.amp = 0.0f;
        v.env1.level = v.env2.level = 0.0f;
        p[58] = static_cast<float>(mode);
        start(60);
        for (int f = 0; f < 3; ++f) frame();
        voice_release(&v);
        frame();
        const VoiceState before = v;
        ASSERT_EQ(before.env1.state, ENV_STAGE_RELEASE);
        ASSERT_GT(before.env1.level, 0.0f);
        ASSERT_NE(before.filter1.svfLow, 0.0f);
        ASSERT_NE(before.osc2.noiseSeed, OSC_NOISE_SEEDS[1]);
        ASSERT_NE(before.distortion.decimPhase, 0u);
        ASSERT_NE(before.dcFilter.lastOutLeft, 0.0f);

        start(64);
        EXPECT_EQ(v.gate, 1);
        EXPECT_EQ(v.env1.state, ENV_STAGE_ATTACK);
        EXPECT_EQ(v.env2.state, ENV_STAGE_ATTACK);
        EXPECT_EQ(v.dcFilter.lastOutLeft, 0.0f); // cleared at every note start
        EXPECT_EQ(v.dcFilter.lastInLeft, 0.0f);
        EXPECT_EQ(v.lfo1.phase, before.lfo1.phase); // the LFO follows its own key sync
        EXPECT_EQ(v.osc1.phase, mode == 0 ? before.osc1.phase : 0u);
        const bool restart = mode == 2;
        EXPECT_EQ(v.env1.level, restart ? 0.0f : before.env1.level);
        EXPECT_EQ(v.amp, restart ? 0.0f : before.amp);
        EXPECT_EQ(v.filter1.svfLow, restart ? 0.0f : before.filter1.svfLow);
        EXPECT_EQ(v.osc2.noiseSeed, restart ? OSC_NOISE_SEEDS[1] : before.osc2.noiseSeed);
        EXPECT_EQ(v.distortion.decimPhase, restart ? 0u : before.distortion.decimPhase);
        if (restart) {
            frame();
            EXPECT_EQ(channel[0], ANTI_DENORMAL); // fades in from amp 0
        }
    }
}

TEST_F(VoiceTest, NoteStartUpdatesPitchAndRestartsSyncedLfo) {
    p[44] = 0;
    p[45] = 1; // LFO 1 key sync
    p[47] = 100;
    p[48] = 64; // start half a cycle in
    p[50] = 128;
    start(48);
    const std::int32_t low = v.osc1.increment;
    frame();
    frame();
    start(60);
    EXPECT_EQ(v.lfo1.phase, 0x80000000u);
    EXPECT_EQ(static_cast<std::uint32_t>(v.osc1.increment), 2u * static_cast<std::uint32_t>(low));
    EXPECT_EQ(v.velocity, 100.0f);
    EXPECT_EQ(v.note, 60);
}

TEST_F(VoiceTest, TickOrderAndRampTarget) {
    p[37] = 64; // amplify 0.5
    start(60);
    voice_tick(&v);
    EXPECT_EQ(v.env1.output, 64.0f);
    EXPECT_EQ(v.ampStep, 0.5f * 0.0078125f);
    voice_release(&v);
    EXPECT_EQ(v.gate, 0);
    voice_tick(&v);
    EXPECT_EQ(v.env1.state, ENV_STAGE_OFF); // release 0 ends at once
}

} // namespace
