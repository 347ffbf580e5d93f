#include "synth/global_effects.h"
#include "synth/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<Reverb> make_reverb() {
    return std::unique_ptr<Reverb>(new Reverb{});
}

bool all_zero(const float *v, int count) {
    for (int i = 0; i < count; ++i)
        if (v[i] != 0.0f) return false;
    return true;
}

TEST(ReverbSet, GainsFromDecayByte) {
    struct Case {
        float p0;
        float gains[6];
    };
    const Case cases[] = {
        {114, {0.989466f, 0.986858f, 0.985452f, 0.984538f, 0.998219f, 0.999394f}}, // the embedded song
        {127, {0.991488f, 0.989379f, 0.988240f, 0.987501f, 0.998562f, 0.999511f}}, // x = 0.25
    };
    for (const Case &c : cases) {
        auto r = make_reverb();
        reverb_set(r.get(), c.p0, 99, 70, 48);
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR(r->gain[i], c.gains[i], 6e-6f) << "p0 " << c.p0 << " gain " << i;
    }
    auto r = make_reverb();
    reverb_set(r.get(), 0, 99, 70, 48); // x = 4096: the comb gains vanish in single precision
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r->gain[i], 0.0f) << "comb " << i;
    EXPECT_GT(r->gain[4], 0.0f);
    EXPECT_EQ(r->input_gain, 48.0f / 128.0f);
    EXPECT_EQ(r->damping, 99.0f / 128.0f);
    EXPECT_FLOAT_EQ(r->low_cut, std::pow(70.0f / 128.0f, 4.0f));
}

// Runs the reverb on an impulse followed by silence; returns the stereo output.
std::vector<float> impulse_response(Reverb *r, int frames) {
    std::vector<float> send(frames, 0.0f), out(2 * frames, 0.0f);
    send[0] = 1.0f;
    for (int k = 0; k < frames; k += 128) reverb_process(r, send.data() + k, out.data() + 2 * k, 128);
    return out;
}

TEST(ReverbProcess, ImpulseGivesADecayingTailOnBothSides) {
    auto r = make_reverb();
    reverb_set(r.get(), 114, 99, 70, 48);
    std::vector<float> out = impulse_response(r.get(), 128 * 200);
    double early_l = 0, late_l = 0, early_r = 0;
    for (int k = 0; k < 4000; ++k) early_l += std::fabs(out[2 * k]), early_r += std::fabs(out[2 * k + 1]);
    for (int k = 20000; k < 24000; ++k) late_l += std::fabs(out[2 * k]);
    EXPECT_GT(early_l, 1.0);
    EXPECT_GT(early_r, 1.0);
    EXPECT_LT(late_l, early_l);
    EXPECT_NE(out[2 * 2000], out[2 * 2000 + 1]); // the two sides have different lines
}

// The reverb sample by sample, both sides in turn: four damped combs (the input added to combs 1 and
// 3, subtracted from combs 2 and 4) summed into two all-passes in series and a one-pole low cut.
struct ReverbModel {
    const int lengths[12] = {1309, 1635, 1811, 1926, 220, 74, 1327, 1631, 1833, 1901, 205, 77};
    std::vector<float> line[12];
    int pos[12] = {};
    float comb[8] = {}, low[2] = {};
    ReverbModel() {
        for (int i = 0; i < 12; ++i) line[i].assign(lengths[i], 0.0f);
    }
    float step(const Reverb &r, int side, float in) {
        float sum = 0.0f;
        for (int j = 0; j < 4; ++j) {
            std::vector<float> &l = line[6 * side + j];
            int &p = pos[6 * side + j];
            float &s = comb[4 * side + j];
            const float v = j % 2 == 0 ? r.gain[j] * l[p] + in : r.gain[j] * l[p] - in;
            s = s + (v - s) * r.damping;
            l[p] = s;
            p = (p + 1) % lengths[6 * side + j];
            sum = j == 0 ? s : sum + s;
        }
        float x = sum;
        for (int j = 4; j < 6; ++j) {
            std::vector<float> &l = line[6 * side + j];
            int &p = pos[6 * side + j];
            const float d = l[p];
            const float w = x + r.gain[j] * d;
            l[p] = w;
            x = d - r.gain[j] * w;
            p = (p + 1) % lengths[6 * side + j];
        }
        low[side] = low[side] + (x - low[side]) * r.low_cut;
        return x - low[side];
    }
};

TEST(ReverbProcess, CombsAllPassesAndLowCutSampleBySample) {
    auto r = make_reverb();
    reverb_set(r.get(), 114, 99, 70, 48);
    ReverbModel model;
    std::uint32_t seed = 1;
    for (int frame = 0; frame < 60; ++frame) {
        std::vector<float> send(128, 0.0f), out(256), expected(256);
        for (int k = 0; k < 128 && frame < 20; ++k) {
            seed = next_random(seed);
            send[k] = random_to_bipolar(seed);
        }
        for (int i = 0; i < 256; ++i) out[i] = expected[i] = 0.01f * static_cast<float>(i % 5);
        reverb_process(r.get(), send.data(), out.data(), 128);
        for (int k = 0; k < 128; ++k) {
            const float in = send[k] * r->input_gain + ANTI_DENORMAL;
            expected[2 * k] += model.step(*r, 0, in);
            expected[2 * k + 1] += model.step(*r, 1, in);
        }
        for (int i = 0; i < 256; ++i) ASSERT_EQ(out[i], expected[i]) << "frame " << frame << " float " << i;
    }
    for (int i = 0; i < 12; ++i) EXPECT_EQ(r->position[i], model.pos[i]) << "line " << i;
}

TEST(ReverbProcess, ZeroDampingAddsSilence) {
    auto r = make_reverb();
    reverb_set(r.get(), 114, 0, 70, 48);
    std::vector<float> out = impulse_response(r.get(), 128 * 20);
    EXPECT_TRUE(all_zero(out.data(), static_cast<int>(out.size())));
}

TEST(ReverbProcess, ZeroLowCutLeavesItsStateAtZero) {
    auto r = make_reverb();
    reverb_set(r.get(), 114, 99, 0, 48);
    impulse_response(r.get(), 128 * 20);
    EXPECT_EQ(r->low_cut_state[0], 0.0f);
    EXPECT_EQ(r->low_cut_state[1], 0.0f);
    reverb_set(r.get(), 114, 99, 70, 48);
    impulse_response(r.get(), 128);
    EXPECT_NE(r->low_cut_state[0], 0.0f);
}

// A block in which an operation gives an inexact subnormal result ends with lines, positions and
// states cleared; the gains stay.
TEST(ReverbProcess, UnderflowingBlockClearsTheReverb) {
    auto r = make_reverb();
    reverb_set(r.get(), 114, 99, 70, 48);
    for (float &v : r->lines) v = 1.0e-39f; // products with the comb gains fall below the normal range
    std::vector<float> send(128, 0.0f), out(256, 0.0f);
    reverb_process(r.get(), send.data(), out.data(), 128);
    EXPECT_TRUE(all_zero(r->lines, REVERB_LINE_TOTAL));
    for (int i = 0; i < 12; ++i) EXPECT_EQ(r->position[i], 0) << "line " << i;
    EXPECT_TRUE(all_zero(r->comb_state, 8));
    EXPECT_TRUE(all_zero(r->low_cut_state, 2));
    EXPECT_NEAR(r->gain[0], 0.989466f, 6e-6f);
    EXPECT_EQ(r->input_gain, 48.0f / 128.0f);

    // An ordinary block keeps its state: the lines hold the input and the positions have moved.
    std::vector<float> loud(128, 0.5f);
    reverb_process(r.get(), loud.data(), out.data(), 128);
    EXPECT_EQ(r->position[0], 128);
    EXPECT_EQ(r->position[5], 128 % 74);
    EXPECT_FALSE(all_zero(r->lines, REVERB_LINE_TOTAL));
}

TEST(CutFilter, LowCutOneGivesTheFirstDifference) {
    CutFilter f{};
    f.low_cut = 1.0f;  // byte 11 = 127
    f.high_cut = 1.0f; // byte 12 = 127: high cut off
    const float in[] = {0.5f, 0.75f, -0.25f, 1.0f, 1.0f, 0.0f};
    float block[12];
    for (int k = 0; k < 6; ++k) block[2 * k] = block[2 * k + 1] = in[k];
    cut_process(&f, block, 6);
    for (int k = 0; k < 6; ++k) {
        const float expected = in[k] - (k > 0 ? in[k - 1] : 0.0f);
        EXPECT_EQ(block[2 * k], expected) << k;
        EXPECT_EQ(block[2 * k + 1], expected) << k;
    }
    EXPECT_EQ(f.high_state[0], 0.0f); // skipped, its state does not move
    EXPECT_EQ(f.high_state[1], 0.0f);
}

TEST(CutFilter, HighCutBelowOneFiltersAndZeroSilences) {
    CutFilter f{};
    f.low_cut = 0.0f;
    f.high_cut = (127.0f / 128.0f) * (127.0f / 128.0f); // byte 12 = 126
    EXPECT_NEAR(f.high_cut, 0.984436f, 1e-6f);
    float block[4] = {1.0f, -1.0f, 1.0f, -1.0f};
    cut_process(&f, block, 2);
    EXPECT_EQ(block[0], f.high_cut);
    EXPECT_EQ(block[1], -f.high_cut);
    EXPECT_NE(block[2], 1.0f);

    CutFilter silent{}; // all zero, as before the globals are applied
    float loud[4] = {0.9f, -0.3f, 0.2f, 0.7f};
    cut_process(&silent, loud, 2);
    EXPECT_TRUE(all_zero(loud, 4));
}

} // namespace
