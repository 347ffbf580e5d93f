#include "synth/compressor.h"
#include "synth/numeric.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct CompFixture {
    std::unique_ptr<Compressor> c{new Compressor{}};
    float level[2 * 280];
    // k: mode, stereo, auto gain, lookahead ms, threshold, ratio, attack, release, output gain
    void set(float k0, float k1, float k2, float k3, float k4, float k5, float k6, float k7, float k8) {
        const float k[9] = {k0, k1, k2, k3, k4, k5, k6, k7, k8};
        comp_set(c.get(), k);
    }
    // Runs a long block in frame-sized pieces, as the synthesizer does.
    void process(std::vector<float> &block) {
        const int frames = static_cast<int>(block.size() / 2);
        for (int k = 0; k < frames; k += 128) {
            int n = frames - k < 128 ? frames - k : 128;
            comp_process(c.get(), block.data() + 2 * k, n, level);
        }
    }
};

TEST(CompressorSet, ModeFromModeAndStereoParameters) {
    struct Case {
        float k0, k1;
        std::int32_t mode;
    };
    const Case cases[] = {
        {0, 0, 5}, // off
        {1, 0, 0}, // peak linked
        {2, 0, 1}, // RMS linked
        {1, 1, 2}, // peak stereo
        {2, 1, 3}, // RMS stereo
        {0, 1, 7}, // off
        {1, 2, 2}, // stereo values other than 0 and 1 mean separate sides
        {2, 127, 3}, {0.4f, 0.6f, 7},
    };
    for (const Case &t : cases) {
        CompFixture f;
        f.set(t.k0, t.k1, 0, 0, 64, 64, 64, 64, 64);
        EXPECT_EQ(f.c->mode, t.mode) << "k0 " << t.k0 << " k1 " << t.k1;
    }
}

TEST(CompressorSet, GainsAndTimes) {
    CompFixture f;
    f.set(1, 0, 0, 2, 128, 32, 0, 128, 80);
    EXPECT_EQ(f.c->input_gain, 0.125f);       // threshold 8 at k4 = 128
    EXPECT_EQ(f.c->output_gain, 8.0f * 2.0f); // no auto gain: threshold x 2^((80 - 64)/16)
    EXPECT_EQ(f.c->ratio, 0.25f);
    EXPECT_EQ(f.c->attack, 1.0f);
    EXPECT_EQ(f.c->release, 0x1p-16f);
    EXPECT_EQ(f.c->lookahead, 88); // 2 ms x 44.1, not rate-scaled
    f.set(1, 0, 1, 128, 0, 32, 128, 0, 64);
    EXPECT_FLOAT_EQ(f.c->input_gain, 128.0f); // threshold 8 x 2^-10
    EXPECT_EQ(f.c->output_gain, 1.0f);        // auto gain
    EXPECT_EQ(f.c->attack, 0x1p-12f);
    EXPECT_EQ(f.c->lookahead, 5645);
}

// Bytes above 127 in the globals block can ask for more lookahead than the line holds.
TEST(CompressorSet, LookaheadIsClampedToTheLine) {
    for (float k3 : {129.0f, 130.0f, 200.0f, 255.0f}) {
        CompFixture f;
        f.set(1, 0, 0, k3, 64, 64, 64, 64, 64);
        EXPECT_LE(f.c->lookahead, COMP_LOOKAHEAD_FRAMES - 1) << "k3 " << k3;
        std::vector<float> block(2 * 12000, 0.5f);
        f.process(block);
        EXPECT_LE(f.c->lookahead_position, f.c->lookahead);
        for (float v : f.c->rms_ring) ASSERT_EQ(v, 0.0f); // the line did not spill into the ring
    }
}

TEST(CompressorProcess, OffPassesTheBlockUnchanged) {
    CompFixture f;
    f.set(0, 0, 0, 0, 0, 128, 0, 0, 100);
    std::vector<float> block(2 * 128), copy;
    for (int i = 0; i < 256; ++i) block[i] = std::sin(0.1f * static_cast<float>(i)) * 50.0f;
    copy = block;
    f.process(block);
    EXPECT_EQ(block, copy);
}

// Threshold 8 (input gain 1/8), auto gain, attack and release immediate: the gain is the target
// gain of each sample, applied to the signal delayed by one sample (lookahead 0).
TEST(CompressorProcess, TargetGain) {
    struct Case {
        float input, ratio_param; // constant input on both sides; level = input / 8
        float gain;
    };
    const Case cases[] = {
        {4.0f, 64, 1.0f},          // level 0.5, below the threshold
        {24.0f, 64, 0.5f},         // level 3, ratio 0.5: 1 / (1 + 2 x 0.5)
        {40.0f, 128, 0.2f},        // level 5, ratio 1
        {40.0f, 0, 1.0f},          // ratio 0
        {16.0f, 32, 1.0f / 1.25f}, // level 2, ratio 0.25
    };
    for (const Case &t : cases) {
        for (float stereo : {0.0f, 1.0f}) {
            CompFixture f;
            f.set(1, stereo, 1, 0, 128, t.ratio_param, 0, 0, 64);
            std::vector<float> block(2 * 64, t.input);
            f.process(block);
            const float expected = t.input * 0.125f * t.gain; // input gain x output gain 1 x gain
            EXPECT_FLOAT_EQ(block[2 * 63], expected) << "input " << t.input << " stereo " << stereo;
            EXPECT_FLOAT_EQ(block[2 * 63 + 1], expected) << "input " << t.input << " stereo " << stereo;
        }
    }
}

TEST(CompressorProcess, LookaheadDelaysTheAudioPath) {
    struct Case {
        float k3;
        int delay;
    };
    for (const Case &t : {Case{0, 1}, Case{1, 45}, Case{2, 89}}) {
        CompFixture f;
        f.set(2, 0, 0, t.k3, 128, 64, 0, 0, 64); // threshold 8, no auto gain: path gain exactly 1
        const int n = 300;
        std::vector<float> block(2 * n), input;
        for (int k = 0; k < n; ++k) {
            block[2 * k] = 0.001f * static_cast<float>(k + 1);
            block[2 * k + 1] = -0.002f * static_cast<float>(k + 1);
        }
        input = block;
        f.process(block);
        for (int k = 0; k < n; ++k) {
            const float l = k < t.delay ? 0.0f : input[2 * (k - t.delay)];
            const float r = k < t.delay ? 0.0f : input[2 * (k - t.delay) + 1];
            ASSERT_EQ(block[2 * k], l) << "k3 " << t.k3 << " frame " << k;
            ASSERT_EQ(block[2 * k + 1], r) << "k3 " << t.k3 << " frame " << k;
        }
    }
}

// Previous mode starts at 0: a first mode of 0 (peak linked) is not a change, so the gains start at
// 0.0 and rise at the release rate; any other first mode resets them to 1.
TEST(CompressorProcess, FirstPeakLinkedModeStartsAtGainZero) {
    CompFixture peak;
    peak.set(1, 0, 0, 0, 128, 64, 0, 64, 64); // release 2^-8
    EXPECT_EQ(peak.c->gain_left, 0.0f);
    std::vector<float> block(2 * 4, 1.0f);
    peak.process(block);
    const float r = 0x1p-8f;
    EXPECT_EQ(block[0], 0.0f); // line still empty
    EXPECT_FLOAT_EQ(block[2], 1.0f * (r + (1.0f - r) * r));
    EXPECT_FLOAT_EQ(peak.c->gain_right, peak.c->gain_left);

    CompFixture rms;
    rms.set(2, 0, 0, 0, 128, 64, 0, 64, 64);
    EXPECT_EQ(rms.c->gain_left, 1.0f);
    EXPECT_EQ(rms.c->gain_right, 1.0f);
}

TEST(CompressorProcess, ModeChangeClearsDetectorsButNotTheLine) {
    CompFixture f;
    f.set(2, 1, 0, 1, 40, 128, 20, 20, 64); // RMS stereo, low threshold: the gains fall
    std::vector<float> block(2 * 1000, 0.7f);
    f.process(block);
    ASSERT_GT(f.c->rms_sum_left, 0.0f);
    ASSERT_LT(f.c->gain_left, 0.9f);
    const std::int32_t lookahead_position = f.c->lookahead_position;
    const std::int32_t rms_position = f.c->rms_position;
    const float line0 = f.c->line[0];

    f.set(1, 1, 0, 1, 40, 128, 20, 20, 64); // peak stereo
    EXPECT_EQ(f.c->previous_mode, 2);
    EXPECT_EQ(f.c->gain_left, 1.0f);
    EXPECT_EQ(f.c->gain_right, 1.0f);
    EXPECT_EQ(f.c->rms_sum_left, 0.0f);
    EXPECT_EQ(f.c->rms_sum_right, 0.0f);
    for (float v : f.c->rms_ring) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(f.c->lookahead_position, lookahead_position);
    EXPECT_EQ(f.c->rms_position, rms_position);
    EXPECT_EQ(f.c->line[0], line0);

    f.process(block);
    const float gain = f.c->gain_left;
    f.set(1, 1, 0, 1, 40, 128, 20, 20, 64); // same mode: nothing is cleared
    EXPECT_EQ(f.c->gain_left, gain);
    EXPECT_GT(f.c->peak_left, 0.0f);
}

// On silence the stereo RMS sums take in 2^-18 per sample and never give it back.
TEST(CompressorProcess, StereoRmsLevelCreepsUpOnSilence) {
    CompFixture f;
    f.set(2, 1, 0, 0, 128, 64, 64, 64, 64);
    std::vector<float> block(2 * 44100, 0.0f);
    f.process(block);
    EXPECT_NEAR(f.c->rms_sum_left, 44100.0f * 0x1p-18f, 1e-3f); // about 0.168
    EXPECT_EQ(f.c->rms_sum_left, f.c->rms_sum_right);
    std::vector<float> more(2 * 44100, 0.0f);
    f.process(more);
    EXPECT_NEAR(f.c->rms_sum_left, 2.0f * 44100.0f * 0x1p-18f, 2e-3f);
}

// The compressor sample by sample: detector levels per the mode, then the gain pass of each side
// through the lookahead line. Takes its settings from the unit record (comp_set is tested above).
struct CompModel {
    float peak[2] = {}, sum[2] = {}, gain[2] = {1.0f, 1.0f};
    std::vector<float> ring = std::vector<float>(2 * 8192, 0.0f), line = std::vector<float>(2 * 5700, 0.0f);
    int rms_pos = 0, line_pos = 0;

    void process(const Compressor &c, float *block, int n) {
        const float decay = 0.9998000264167786f, scale = 0.011048543266952038f;
        std::vector<float> level(2 * n);
        for (int k = 0; k < n; ++k) {
            const float x[2] = {block[2 * k], block[2 * k + 1]};
            const float mid = (x[0] + x[1]) * 0.5f;
            switch (c.mode & 3) {
            case 0:
                peak[0] = peak[0] * decay + ANTI_DENORMAL;
                if (std::fabs(mid) > peak[0]) peak[0] = std::fabs(mid);
                level[2 * k] = level[2 * k + 1] = peak[0] * c.input_gain;
                break;
            case 1: {
                const float m = mid + ANTI_DENORMAL;
                sum[0] = sum[0] - ring[rms_pos] + m * m;
                ring[rms_pos] = m * m;
                level[2 * k] = level[2 * k + 1] = std::sqrt(std::max(sum[0], 0.0f)) * scale * c.input_gain;
                rms_pos = (rms_pos + 1) % 8192;
                break;
            }
            case 2:
                for (int s = 0; s < 2; ++s) {
                    peak[s] = peak[s] * decay + ANTI_DENORMAL;
                    if (std::fabs(x[s]) > peak[s]) peak[s] = std::fabs(x[s]);
                    level[2 * k + s] = peak[s] * c.input_gain;
                }
                break;
            default:
                for (int s = 0; s < 2; ++s) {
                    sum[s] = sum[s] - ring[2 * rms_pos + s] + ANTI_DENORMAL;
                    sum[s] = sum[s] + x[s] * x[s];
                    ring[2 * rms_pos + s] = x[s] * x[s];
                    level[2 * k + s] = std::sqrt(std::max(sum[s], 0.0f)) * scale * c.input_gain;
                }
                rms_pos = (rms_pos + 1) % 8192;
            }
        }
        int end = line_pos;
        for (int s = 0; s < 2; ++s) {
            int pos = line_pos;
            for (int k = 0; k < n; ++k) {
                const float d = line[2 * pos + s];
                line[2 * pos + s] = block[2 * k + s] * c.input_gain;
                pos = pos + 1 > c.lookahead ? 0 : pos + 1;
                const float l = level[2 * k + s];
                const float target = l < 1.0f ? 1.0f : 1.0f / (1.0f + (l - 1.0f) * c.ratio);
                const float r = target < gain[s] ? c.attack : c.release;
                gain[s] = gain[s] + (target - gain[s]) * r;
                block[2 * k + s] = d * c.output_gain * gain[s];
            }
            end = pos;
        }
        line_pos = end;
    }
};

TEST(CompressorProcess, DetectorsAndGainPassSampleBySample) {
    for (int mode = 1; mode <= 2; ++mode) {
        for (float stereo : {0.0f, 1.0f}) {
            SCOPED_TRACE(testing::Message() << "k0 " << mode << " k1 " << stereo);
            CompFixture f;
            CompModel model;
            std::uint32_t seed = 7;
            for (int frame = 0; frame < 100; ++frame) {
                // Threshold, ratio and times move every frame, the lookahead every 25 frames.
                const float k3 = static_cast<float>(frame / 25);
                const float k4 = 40.0f + static_cast<float>(frame % 9),
                            k6 = static_cast<float>(10 + frame % 7);
                f.set(static_cast<float>(mode), stereo, 0, k3, k4, 70, k6, 40, 64);
                if (frame == 0) { // the starting gains follow the first-mode rule, tested above
                    model.gain[0] = f.c->gain_left;
                    model.gain[1] = f.c->gain_right;
                }
                const float amplitude = frame % 20 < 10 ? 0.8f : 0.003f; // loud and quiet passages
                std::vector<float> block(2 * 128), expected;
                for (float &v : block) {
                    seed = next_random(seed);
                    v = random_to_bipolar(seed) * amplitude;
                }
                expected = block;
                comp_process(f.c.get(), block.data(), 128, f.level);
                model.process(*f.c, expected.data(), 128);
                for (int i = 0; i < 256; ++i)
                    ASSERT_EQ(block[i], expected[i]) << "frame " << frame << " float " << i;
            }
            EXPECT_LT(model.gain[0], 0.9f); // the gain did move
        }
    }
}

// After a loud passage the running sum loses its cancellation error and can end below zero; the
// level must then be 0, not NaN, and the compressor must go on working.
TEST(CompressorProcess, NegativeRmsSumGivesLevelZeroNotNaN) {
    for (float stereo : {0.0f, 1.0f}) {
        CompFixture f;
        f.set(2, stereo, 0, 0, 64, 64, 0, 0, 64);
        const int loud = 20000, quiet = 9000;
        std::vector<float> block(2 * (loud + quiet), 0.0f);
        for (int k = 0; k < loud; ++k) {
            // A deterministic loud waveform with many distinct squares.
            float v = static_cast<float>((k * 37) % 201 - 100) * 0.0617f;
            block[2 * k] = v;
            block[2 * k + 1] = stereo != 0.0f ? -v * 1.3f : v;
        }
        f.process(block);
        const bool negative = f.c->rms_sum_left < 0.0f || f.c->rms_sum_right < 0.0f;
        if (!negative) {
            ADD_FAILURE() << "the waveform did not drive a running sum below zero, stereo " << stereo;
            continue;
        }
        EXPECT_TRUE(std::isfinite(f.c->gain_left));
        EXPECT_TRUE(std::isfinite(f.c->gain_right));
        std::vector<float> after(2 * 256, 0.25f);
        f.process(after);
        for (float v : after) ASSERT_TRUE(std::isfinite(v));
    }
}

} // namespace
