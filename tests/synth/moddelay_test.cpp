#include "synth/moddelay.h"
#include "synth/numeric.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// A unit with its own lines; mask 2047 (channel chorus) unless given.
struct DelayFixture {
    std::vector<float> left, right;
    ModDelay d{};
    explicit DelayFixture(std::int32_t mask = 2047) : left(mask + 1), right(mask + 1) {
        moddelay_attach(&d, left.data(), right.data(), mask);
        moddelay_init(&d);
    }
    void set(float m0, float m1, float m2, float m3, float m4, float m5, float m6) {
        const float m[7] = {m0, m1, m2, m3, m4, m5, m6};
        moddelay_set(&d, m);
    }
};

std::uint32_t bits_of(float x) {
    std::uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

TEST(ModDelaySet, GainsLengthsRateDepthAndOffsetFromParameters) {
    struct Case {
        float m0, m1, m2, m5, m6;
        float wet, dry, feedback;
        std::int32_t length, depth;
        std::uint32_t offset;
    };
    const Case cases[] = {
        {64, 64, 0, 0, 64, 0.0f, 1.0f, 0.0f, 0, 0, 0},
        {0, 0, 10, 128, 96, -1.0f, 0.0f, -1.0f, 80, 1023, 0x40000000u},
        {127, 127, 128, 64, 32, 0.984375f, 0.015625f, 0.984375f, 1024, 512, 0xC0000000u},
        {96, 32, 1.7f, 1, 0, 0.5f, 0.5f, -0.5f, 14, 8, 0x80000000u},
    };
    for (const Case &c : cases) {
        DelayFixture f;
        f.set(c.m0, c.m1, c.m2, c.m2, 0, c.m5, c.m6);
        EXPECT_EQ(f.d.wet, c.wet) << "m0 " << c.m0;
        EXPECT_EQ(f.d.dry, c.dry) << "m0 " << c.m0;
        EXPECT_EQ(f.d.feedback, c.feedback) << "m1 " << c.m1;
        EXPECT_EQ(f.d.left_length, c.length) << "m2 " << c.m2;
        EXPECT_EQ(f.d.right_length, c.length) << "m3 " << c.m2;
        EXPECT_EQ(f.d.depth, c.depth) << "m5 " << c.m5;
        EXPECT_EQ(f.d.right_phase_offset, c.offset) << "m6 " << c.m6;
    }
    DelayFixture global(32767);
    global.set(100, 80, 62, 66, 0, 0, 64);
    EXPECT_EQ(global.d.left_length, 15376);
    EXPECT_EQ(global.d.right_length, 16368);
    EXPECT_EQ(global.d.wet, 0.5625f);
    EXPECT_EQ(global.d.feedback, 0.25f);
}

TEST(ModDelaySet, ModulationRateSpansTenOctaves) {
    DelayFixture f;
    f.set(64, 64, 0, 0, 128, 0, 64);
    EXPECT_EQ(f.d.phase_increment, 1973916u); // 1973915.5, ties to even
    f.set(64, 64, 0, 0, 0, 0, 64);
    EXPECT_EQ(f.d.phase_increment, 1928u); // 1973915.5 / 1024 = 1927.65
}

TEST(ModDelayProcess, ZeroWetSkipsAndKeepsState) {
    DelayFixture f;
    f.set(100, 80, 10, 10, 64, 64, 64);
    float block[2 * 64];
    for (int i = 0; i < 128; ++i) block[i] = 0.01f * static_cast<float>(i);
    moddelay_process(&f.d, block, 64);
    const std::vector<float> left = f.left, right = f.right;
    const std::uint32_t phase = f.d.phase;
    const std::int32_t wp = f.d.write_position;

    f.set(64, 80, 10, 10, 64, 64, 64);
    ASSERT_EQ(bits_of(f.d.wet), 0u);
    float again[2 * 64], copy[2 * 64];
    for (int i = 0; i < 128; ++i) again[i] = copy[i] = 0.5f - 0.003f * static_cast<float>(i);
    moddelay_process(&f.d, again, 64);
    EXPECT_EQ(std::memcmp(again, copy, sizeof again), 0);
    EXPECT_EQ(f.left, left);
    EXPECT_EQ(f.right, right);
    EXPECT_EQ(f.d.phase, phase);
    EXPECT_EQ(f.d.write_position, wp);
}

// Equal lengths, no depth, no offset: the left line reads one sample later than the right one, so the
// left output is the right output one sample earlier.
TEST(ModDelayProcess, LeftOutputIsRightOutputOneSampleEarlier) {
    DelayFixture f;
    f.set(128, 64, 2, 2, 50, 0, 64); // wet 1, dry 0, no feedback, both lengths 16
    const int n = 40;
    std::vector<float> block(2 * n, 0.0f);
    block[0] = block[1] = 1.0f;
    moddelay_process(&f.d, block.data(), n);
    for (int k = 0; k + 1 < n; ++k) {
        ASSERT_EQ(block[2 * k], block[2 * (k + 1) + 1]) << "frame " << k;
    }
    EXPECT_NEAR(block[2 * 15], 1.0f, 1e-4f);     // left: delay length - 1
    EXPECT_NEAR(block[2 * 16 + 1], 1.0f, 1e-4f); // right: delay length
    EXPECT_NEAR(block[2 * 10], 0.0f, 1e-4f);
}

TEST(ModDelayProcess, FeedbackBelowMiddleInvertsEachEcho) {
    DelayFixture f;
    f.set(128, 0, 2, 2, 0, 0, 64); // wet 1, feedback -1, lengths 16
    const int n = 50;
    std::vector<float> block(2 * n, 0.0f);
    block[0] = block[1] = 1.0f;
    moddelay_process(&f.d, block.data(), n);
    EXPECT_NEAR(block[2 * 15], 1.0f, 1e-4f);
    EXPECT_NEAR(block[2 * 30], -1.0f, 1e-4f);
    EXPECT_NEAR(block[2 * 45], 1.0f, 1e-4f);
    EXPECT_NEAR(block[2 * 16 + 1], 1.0f, 1e-4f);
    EXPECT_NEAR(block[2 * 32 + 1], -1.0f, 1e-4f);
}

// Half of the modulation range of depth 2 gives a delay of half a sample more: the mean of two
// neighbours of a ramp.
TEST(ModDelayProcess, FractionalReadPositionInterpolates) {
    DelayFixture f;
    f.set(128, 64, 4, 4, 0, 0, 64); // wet 1, no feedback, length 32
    f.d.depth = 2;
    f.d.phase = 0x20000000u; // triangle 2^30: t x depth = 2^31, i.e. 0 whole samples and one half
    f.d.phase_increment = 0;
    const int n = 100;
    std::vector<float> block(2 * n);
    for (int k = 0; k < n; ++k) block[2 * k] = block[2 * k + 1] = static_cast<float>(k);
    moddelay_process(&f.d, block.data(), n);
    for (int k = 40; k < n; ++k) {
        // right: between delays 32 and 33; left: between 31 and 32
        ASSERT_NEAR(block[2 * k + 1], static_cast<float>(k) - 32.5f, 1e-3f) << "frame " << k;
        ASSERT_NEAR(block[2 * k], static_cast<float>(k) - 31.5f, 1e-3f) << "frame " << k;
    }
}

// On a ramp the output shows the delay of each sample. The triangle of the phase moves it between
// the length and the length + depth: right delay = length + depth x tri(phase + offset), left delay
// = length + depth x tri(phase) - 1, tri rising from 0 to 1 over the first half cycle.
TEST(ModDelayProcess, TriangleModulatesTheDelay) {
    DelayFixture f;
    f.set(128, 64, 16, 16, 128, 64, 96); // wet 1, no feedback, lengths 128, depth 512, offset 1/4
    ASSERT_EQ(f.d.depth, 512);
    ASSERT_EQ(f.d.right_phase_offset, 0x40000000u);
    const double increment = f.d.phase_increment; // about 2176 samples per cycle
    const auto tri = [](double cycles) {
        const double x = cycles - std::floor(cycles);
        return x < 0.5 ? 2.0 * x : 2.0 - 2.0 * x;
    };
    const float slope = 0.125f;
    const int n = 6000;
    std::vector<float> block(2 * n);
    for (int k = 0; k < n; ++k) block[2 * k] = block[2 * k + 1] = slope * static_cast<float>(k);
    for (int k = 0; k < n; k += 128) moddelay_process(&f.d, block.data() + 2 * k, std::min(128, n - k));
    for (int k = 700; k < n; ++k) {
        const double phase = increment * k / 4294967296.0;
        const double right = 128.0 + 512.0 * tri(phase + 0.25);
        const double left = 128.0 + 512.0 * tri(phase) - 1.0;
        ASSERT_NEAR(k - block[2 * k + 1] / slope, right, 0.01) << "frame " << k;
        ASSERT_NEAR(k - block[2 * k] / slope, left, 0.01) << "frame " << k;
    }
}

TEST(ModDelayProcessSend, AddsOnlyTheWetSignal) {
    DelayFixture f(32767);
    f.set(32, 64, 0.5f, 1, 0, 0, 64); // wet -0.5, lengths 124 and 248
    const int n = 300;
    std::vector<float> send(n, 0.0f), out(2 * n, 0.25f);
    send[0] = 1.0f;
    moddelay_process_send(&f.d, send.data(), out.data(), n);
    EXPECT_NEAR(out[2 * 123], 0.25f - 0.5f, 1e-5f);
    EXPECT_NEAR(out[2 * 248 + 1], 0.25f - 0.5f, 1e-5f);
    EXPECT_NEAR(out[0], 0.25f, 1e-5f); // no dry path
    EXPECT_NEAR(out[1], 0.25f, 1e-5f);

    f.set(64, 64, 0.5f, 1, 0, 0, 64);
    const std::int32_t wp = f.d.write_position;
    std::vector<float> before = out;
    moddelay_process_send(&f.d, send.data(), out.data(), n);
    EXPECT_EQ(out, before);
    EXPECT_EQ(f.d.write_position, wp);
}

} // namespace
